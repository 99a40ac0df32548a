#pragma once
// The station values of one stationed feature, as Stationing reads them from
// the feature's station component row, rates them and hands them to the
// station checks. A plain record: its holder reads and writes the members.
#include <cstdint>
#include <string>

namespace pelmora {

class StationingValues {
public:
    // Selects the message module "PELMORA", as the record's creation does.
    StationingValues();

    std::string BSSID = "-1";  // begin station-series id; "-1": none
    std::string ESSID = "-1";  // end station-series id; "-1": none
    double BMS = -1;           // begin measure; not above -1: none
    double EMS = -1;           // end measure; likewise
    double Length = 0;         // 0 when the field is Null
    std::string LineID = "-1"; // "-1": none
    // 1 incomplete or inconsistent, 2 complete, 3 begin measure only, 4 end
    // measure only.
    int16_t Status = 0;
};

}  // namespace pelmora
