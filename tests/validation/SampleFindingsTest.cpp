// Every feature of the sample validated in one run, with the sample's own
// extension objects registered as a client has them: the findings are those
// of the table below (data/sample/README.md tells each in words), every
// extension object loads and runs, and the only message box is the one the
// sample's rule without operator asks for.
#include "ValidationSetTestSupport.h"

#include <map>
#include <set>

#include "SampleExtensions.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "pelmora/validation/FeatureValidationService.h"
#include "product/SqliteConnection.h"

namespace {

// Findings of one kind: the features (FNO, FIDs; 0 for a finding of no
// feature), where they are located, the text, and how many each feature gets.
struct Findings {
    int16_t fno;
    std::vector<int32_t> fids;
    const char* location;
    const char* description;
    int count;
};

// "FNO/FID|location|description", Null keys as 0.
using Row = std::string;

std::string KeyText(const std::string& value) { return value == "Null" ? "0" : value; }

class SampleFindingsTest : public validationtest::ValidationSetFixture {
protected:
    void TearDown() override {
        pelmora_sample::UnregisterSampleExtensions();
        ValidationSetFixture::TearDown();
    }

    // Every feature with a row in a component table, and 5954, which has
    // none and is left out of the run.
    std::shared_ptr<pelmora::IKeyObjects> EveryFeature() {
        std::set<std::pair<int32_t, int32_t>> keys{{101, 5954}};
        auto& db = sqlite_->Connection();
        auto tables = db.Query("SELECT DISTINCT QTX_TABLE FROM QTX_COMPONENTINFO_OPTABLE", {}, "");
        for (const auto& table : tables.values) {
            auto rows = db.Query("SELECT DISTINCT QTX_FNO, QTX_FID FROM " + table.Str(), {}, "");
            for (size_t r = 0; r < rows.RowCount(); ++r)
                keys.insert({rt::CLng(rows.values[r * 2]), rt::CLng(rows.values[r * 2 + 1])});
        }
        auto all = pelmora::KeyObjects::New();
        for (const auto& [fno, fid] : keys) {
            auto key = pelmora::KeyObject::New();
            key->put_FNO(static_cast<int16_t>(fno));
            key->put_FID(fid);
            all->Add(key);
        }
        return all;
    }
};

TEST_F(SampleFindingsTest, EveryFeatureGivesTheFindingsOfTheTable) {
    const Findings table[] = {
        {0, {0}, "", "The 4 relationship cannot be validated.", 1},
        {101, {5957, 5958}, "",
         "The Material value of Water Main Attributes is not in the domain MATERIAL_CODE of MAIN_MATERIALS.", 1},
        {101, {5955}, "",
         "The Pressure Zone value of Water Main Attributes is not in the ZONE_ID column of PRESSURE_ZONES.", 1},
        {101, {5952}, "",
         "The component 'Water Main Attributes' (CNO 11) of feature number 101 may hold only one record.", 1},
        {101, {5701, 5702, 5703, 5704}, "",
         "The required component 'Water Main Attributes' (CNO 11) of feature number 101 is missing.", 1},
        {101, {5953}, "", "The required component 'Water Main Line' (CNO 12) of feature number 101 is missing.", 1},
        {101, {5953}, "",
         "The required component Water Main Label (CNO 13) and its alternate Water Main Line (CNO 12) of "
         "feature number 101 are both missing.", 1},
        {101, {1003, 5203, 5960}, "", "The required value Pressure Zone of Water Main Attributes is missing.", 1},
        {101, {1001}, "Main Owns Devices",
         "MainAudit: Water Main 1001 and Service Line 4001 are not connected within 1.5.", 1},
        {101, {1001}, "Main Owns Devices",
         "Pelmora.MainGeometry: Water Main 1001 and Valve 5602 are not connected within 0.5.", 1},
        {101, {1001}, "Main Owns Devices", "Water Main 1001 and Valve 5602 are not connected within 0.5.", 1},
        {101, {5702}, "Service Connection",
         "Node 57011 of Water Main 5702 does not meet Valve 5712 at an endpoint.", 1},
        {101, {5702}, "Service Connection",
         "Node 57012 of Water Main 5702 does not meet Hydrant 5722 at an endpoint.", 1},
        {101, {5703}, "Service Connection", "The feature has no node-edge connectivity rule.", 1},
        {101, {5702}, "Service Connection",
         "The phases of Water Main 5702 (ABN) are not matched by the features connected to it.", 1},
        {101,
         {1001, 1002, 1003, 5201, 5202, 5203, 5701, 5702, 5703, 5704, 5952, 5953, 5955, 5957, 5958, 5960},
         "Service Line Feed Order",
         "The linear feature has no support record.", 1},
        {102, {5971, 5972, 5973, 5974}, "",
         "The Valve Type value of Valve Attributes is not in the domain TYPE_CODE of VALVE_TYPES.", 1},
        {102, {5971, 5972, 5973, 5974}, "",
         "The required component 'Common Attributes' (CNO 1) of feature number 102 is missing.", 1},
        {102, {5711, 5712, 5713, 5714}, "",
         "The required component 'Valve Attributes' (CNO 21) of feature number 102 is missing.", 1},
        {102, {5971, 5972, 5973, 5974}, "",
         "The required component 'Valve Symbol' (CNO 22) of feature number 102 is missing.", 1},
        {102, {5603, 5711, 5712, 5713, 5971, 5972, 5973, 5974}, "Device Fed By Main",
         "The feature has no owner reference.", 1},
        {102, {5601, 5602}, "Device Fed By Main",
         "The value of INSTALL_DATE in COMMON_ATTR does not satisfy its validation rule against "
         "INSTALL_DATE in COMMON_ATTR.", 1},
        {102, {2002}, "Device Fed By Main",
         "The value of SYMBOL_ROTATION in VALVE_SYMBOL does not satisfy its validation rule.", 1},
        {102, {5602}, "Device Owned By Main",
         "Pelmora:ValveClearance: Valve 5602 and Water Main 1001 are not connected within 1.5.", 1},
        {102, {5603, 5711, 5712, 5713, 5971, 5972, 5973, 5974}, "Device Owned By Main",
         "The owner reference of the feature is missing.", 1},
        {102, {5601, 5602}, "Device Owned By Main",
         "The value of INSTALL_DATE in COMMON_ATTR does not satisfy its validation rule against "
         "INSTALL_DATE in COMMON_ATTR.", 1},
        {102, {2002}, "Device Owned By Main",
         "The value of SYMBOL_ROTATION in VALVE_SYMBOL does not satisfy its validation rule.", 1},
        {102, {5602}, "Device Owned By Main", "Valve 5602 and Water Main 1001 are not connected within 0.5.", 1},
        {102, {5711, 5712, 5713}, "Service Connection",
         "The value of INSTALL_DATE in COMMON_ATTR does not satisfy its validation rule against "
         "INSTALL_DATE in COMMON_ATTR.", 1},
        {102, {5711, 5712}, "Service Connection",
         "The value of INSTALL_DATE in COMMON_ATTR does not satisfy its validation rule.", 4},
        {102, {5713}, "Service Connection",
         "The value of INSTALL_DATE in COMMON_ATTR does not satisfy its validation rule.", 12},
        {102, {5711, 5712}, "Service Connection",
         "The value of NORMAL_POSITION in VALVE_ATTR does not satisfy its validation rule.", 2},
        {102, {5713}, "Service Connection",
         "The value of NORMAL_POSITION in VALVE_ATTR does not satisfy its validation rule.", 6},
        {102, {5711, 5712}, "Service Connection",
         "The value of SIZE_MM in VALVE_ATTR does not satisfy its validation rule.", 3},
        {102, {5713}, "Service Connection",
         "The value of SIZE_MM in VALVE_ATTR does not satisfy its validation rule.", 7},
        {102, {5711, 5712}, "Service Connection",
         "The value of VALVE_TYPE in VALVE_ATTR does not satisfy its validation rule.", 5},
        {102, {5713}, "Service Connection",
         "The value of VALVE_TYPE in VALVE_ATTR does not satisfy its validation rule.", 15},
        {102, {5973}, "Valve In Detail", "No related feature carries the detail id of the contained feature.", 1},
        {102, {5972}, "Valve In Detail", "The detail id of the contained feature is 0.", 1},
        {102, {5601, 5602, 5603, 5711, 5712, 5713, 5971}, "Valve In Detail",
         "The detail id of the contained feature is missing.", 1},
        {103, {5721, 5722, 5723, 5724}, "",
         "The required component 'Hydrant Attributes' (CNO 31) of feature number 103 is missing.", 1},
        {103, {5951}, "", "The required component 'Hydrant Symbol' (CNO 32) of feature number 103 is missing.", 1},
        {103, {5612}, "Device Owned By Main", "The owner 999 is not among the related owners of the feature.", 1},
        {103, {5613}, "Device Owned By Main", "The owner reference of the feature is 0.", 1},
        {103, {5951, 5961}, "Device Owned By Main", "The owner reference of the feature is missing.", 1},
        {103, {5611, 5612, 5613, 5721, 5722, 5723, 5724}, "Station Served By Mains", "The feature has no owner.", 1},
        {104, {5731}, "",
         "The component 'Common Attributes' (CNO 1) of feature number 104 may hold only one record.", 1},
        {104, {5734}, "",
         "The required component 'Service Line Attributes' (CNO 41) of feature number 104 is missing.", 1},
        {104, {5301, 5731, 5732, 5733}, "Device Owned By Main", "The feature has no owner reference.", 1},
        {104, {4001}, "Device Owned By Main", "The owner 1 is not among the related owners of the feature.", 1},
        {104, {5731}, "Service Connection", "No related feature is connected at node 57052.", 1},
        {104, {5731}, "Service Connection", "Node 57031 is shared by more than two related features.", 1},
        {104, {4001, 5301, 5732, 5733, 5734}, "Service Connection", "The node values of the feature are not set.", 1},
        {104, {5733}, "Service Line Feed Order",
         "The connected feature 5711 of feature 5733 (feature number 102) is not being validated or has "
         "no triggering component.", 1},
        {104, {5734}, "Service Line Feed Order", "The linear feature has no support record.", 1},
        {104, {4001, 5301, 5732}, "Service Line Feed Order",
         "The support record of the Service Line Feed Order relationship has no connected feature.", 1},
        {107, {5404}, "Dimension References",
         "The base reference of the dimension was not found among the related features.", 1},
        {107, {5402}, "Dimension References", "The dimension does not meet its base reference.", 1},
        {107, {5403}, "Dimension References",
         "The dimension has neither a base reference nor a second base reference.", 1},
        {107, {5408}, "Dimension References",
         "The dimensioned reference of the dimension was not found among the related features.", 1},
        {107, {5402}, "Dimensioned By", "The dimension does not meet its base reference.", 1},
        {109, {5407}, "Dimension References", "The dimension does not meet its base reference.", 1},
        {109, {5407}, "Dimensioned By", "The end point of the dimension does not meet its base reference.", 1},
        {110, {5409}, "", "The number of components of the feature does not match its placement.", 1},
        {123, {5503}, "Pipeline Stationing", "Begin Station does not lie on a Station Point station.", 1},
        {123, {5903}, "Pipeline Stationing", "The feature has a begin measure but no end measure.", 1},
        {123, {5904}, "Pipeline Stationing", "The feature has an end measure but no begin measure.", 1},
        {123, {5505}, "Pipeline Stationing", "The feature overlaps another feature at End Station.", 1},
        {123, {5503, 5505}, "Pipeline Stationing",
         "The station series Station Series does not continue at Begin Station.", 1},
        {123, {5505}, "Pipeline Stationing", "The station series Station Series does not continue at End Station.", 1},
        {124, {5601, 5608}, "Pipeline Stationing", "Another feature begins at Begin Station of the feature.", 1},
        {124, {5602, 5607}, "Pipeline Stationing", "Another feature ends at End Station of the feature.", 1},
        {124, {5610}, "Pipeline Stationing", "End Series comes before Begin Series.", 1},
        {124, {5610, 5611}, "Pipeline Stationing", "End Station is less than Begin Station.", 1},
        {124, {5901, 5902}, "Pipeline Stationing", "The begin and end station series of the feature differ.", 1},
        {124, {5604}, "Pipeline Stationing",
         "The begin and end stations of the feature lie on different lines of Station Series.", 1},
        {124, {5609}, "Pipeline Stationing",
         "The begin station of the feature lies on no feature of its station series.", 1},
        {124, {5609}, "Pipeline Stationing",
         "The end station of the feature lies on no feature of its station series.", 1},
        {124, {5605}, "Pipeline Stationing", "The feature has no length between its begin and end stations.", 1},
        {124, {5609}, "Pipeline Stationing", "The station series of the feature is not a known Station Series.", 1},
        {125, {5702}, "Pipeline Stationing", "The begin and end stations of the feature must be equal.", 1},
        {126, {5801}, "Pipeline Stationing", "The feature is not an arc of Bend.", 1},
        {127, {5504, 5506}, "Pipeline Stationing", "No feature ends at Begin Station of the feature.", 1},
        {127, {5506}, "Pipeline Stationing", "The feature overlaps another feature at Begin Station.", 1},
        {158, {5982}, "Detail Holds Valves", "The detail owner has no lower Y bound for its detail.", 1},
        {158, {5982}, "Detail Holds Valves", "The detail owner has no user name for its detail.", 1},
    };
    std::map<Row, int> expected;
    for (const Findings& f : table)
        for (int32_t fid : f.fids)
            expected[std::to_string(f.fno) + "/" + std::to_string(fid) + "|" + f.location + "|" + f.description] +=
                f.count;

    pelmora_sample::RegisterSampleExtensions();
    metadata_->SetActiveUser(Context(), "QTXADMIN");
    auto service = std::make_shared<pelmora::FeatureValidationService>();
    service->putref_DataContext(Context());
    auto features = EveryFeature();
    auto result = service->ValidateFeatures(features);
    ASSERT_NE(result, nullptr);
    std::map<Row, int> found;
    for (const auto& row : validationtest::FindingRows(result))
        ++found[KeyText(row[4]) + "/" + KeyText(row[5]) + "|" + row[2] + "|" + row[1]];

    for (const auto& [row, n] : found)
        if (expected[row] != n) ADD_FAILURE() << "found " << n << " times, expected " << expected[row] << ": " << row;
    for (const auto& [row, n] : expected)
        if (n != 0 && !found.count(row)) ADD_FAILURE() << "missing (" << n << "): " << row;

    // The rule without operator among the valves' rules is shown each time
    // the rules of a valve are walked; nothing else.
    const std::string noOperator = pelmora::LoadResStringWithParams(18266);
    EXPECT_FALSE(recorder_->records.empty());
    for (const auto& box : recorder_->records) EXPECT_EQ(box.text, noOperator);
}

}  // namespace
