#pragma once
// The station service stand-in ("Strandel.StationService", late bound): what
// the stationing helper asks of the outside stationing product, answered from
// the database behind the data context it is given.
//
// At DataContext it reads, once:
//   - QTX_ADD_REL_PARAMS_OPTABLE: "StationingPIFNO" and "StationingSSFNO" (the
//     feature numbers of PI features and of station-series features), and the
//     field parameters the helper reads ("StationingBSSIDField" ...), each an
//     attribute number of the station component;
//   - the first QTX_TYPE 7 row of QTX_RELATIONSHIPS_OPTABLE: its QTX_SUPPORTCNO
//     names the station table, its QTX_OPTIMIZEDTABLE the rule table whose
//     (QTX_FNO, QTX_CHARACTERISTIC) rows classify the feature numbers.
// Station series are read from the station table on each question (rows of
// the series number whose begin and end series are the id), so edits of the
// data context are seen. Series ids are compared trimmed and upper-cased.
//
// Members (late bound, by name): DataContext [set], GetPIFNO, GetSSFNO,
// IsFNOCharacteristic(fno, code), GetListOfFNOsByStationCharacteristic(code)
// (ascending, comma-joined, "" for none), GetLineIDFromSS(id) (raises for a
// series it does not hold), CompareStations(id1, m1, id2, m2): 1 when the
// second station lies before the first on one line, 0 when not, 2 when they
// cannot be compared (another line, an unknown series, a Null measure, two
// series beginning at the same place). Series of one line are ordered by the
// begin measure of their series row.
//
// Every member but DataContext raises 91 before a context is set.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {
class IDataContext;
}

namespace product {

inline constexpr const char* kStationServiceProgId = "Strandel.StationService";

class StationService : public rt::Object {
public:
    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "StationService"; }

    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& DataContext);
    int32_t GetPIFNO() const;
    int32_t GetSSFNO() const;
    bool IsFNOCharacteristic(int32_t FNO, int32_t Code) const;
    std::string GetListOfFNOsByStationCharacteristic(int32_t Code) const;
    std::string GetLineIDFromSS(const std::string& SeriesId) const;
    int16_t CompareStations(const std::string& SeriesId1, const rt::Variant& Measure1, const std::string& SeriesId2,
                            const rt::Variant& Measure2) const;

private:
    struct Series {
        std::string line;
        double begin = 0;
    };
    void NeedContext() const;
    std::optional<Series> FindSeries(const std::string& id) const;

    std::shared_ptr<pelmora::IDataContext> dataContext_;
    int32_t piFno_ = 0;
    int32_t ssFno_ = 0;
    std::string table_;
    std::string seriesField_;  // begin series id
    std::string endSeriesField_;
    std::string beginField_;  // begin measure
    std::string lineField_;
    std::map<int32_t, std::set<int32_t>> fnosByCharacteristic_;
};

// Registers the service under kStationServiceProgId.
void RegisterStationService();

}  // namespace product
