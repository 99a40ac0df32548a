// Node-ordered connectivity (relationship 5 of the sample: the service line's
// SERVICE_N names the main feeding it at its output end) through the
// relationship service: loading and its errors, candidates, establishing and
// reviewing (the reverse search included), and validation of the support rows.
#include "ConnectivityTestSupport.h"

#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/Components.h"
#include "pelmora/relationships/NodeOrdConnADO.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"

using connectivitytest::ConnectivityFixture;
using connectivitytest::kNodeOrdered;
using connectivitytest::Lines;
using pelmora_test::ErrorOf;
using pelmora_test::Raised;

namespace {

class NodeOrdered : public ConnectivityFixture {
protected:
    std::shared_ptr<ado::Recordset> Support(const std::shared_ptr<pelmora::IKeyObject>& feature) {
        return feature->get_Components()->get_Item(rt::Variant("SERVICE_ATTR"))->get_Recordset();
    }
};

const std::string kLocation = "Service Line Feed Order";

std::string Text(int16_t id, const std::string& p1 = "") {
    return p1.empty() ? pelmora::GetValidationMessage(id) : pelmora::GetValidationMessage(id, rt::Variant(p1));
}

}  // namespace

TEST_F(NodeOrdered, LoadingNeedsTheSubordinateFlagAndOneRowPerEndColumn) {
    auto helper = std::dynamic_pointer_cast<pelmora::NodeOrdConnADO>(service_->GetRelationshipHelper(kNodeOrdered));
    ASSERT_NE(helper, nullptr);
    EXPECT_EQ(helper->get_RelationshipType(), pelmora::qzrelNodeOrderedConnectivity);
    EXPECT_EQ(helper->get_RelationshipName(), kLocation);
    EXPECT_EQ(helper->get_OptimizedTable(), "QTX_NODEORDEREDRULES_OPTABLE");
    EXPECT_FALSE(helper->IsSubordinate());

    struct Case {
        const char* what;
        const char* table;
        const char* filter;
        const char* field;
        rt::Variant value;
        int32_t number;
        int16_t description;  // message id; 0: not compared
    };
    const Case cases[] = {
        {"Null subordinate", "QTX_RELATIONSHIPS_OPTABLE", "QTX_RNO = 5", "QTX_SUBORDINATE", rt::Variant::Null(),
         pelmora::kErrorBase + 6, 15754},
        {"a parameter without row", "QTX_ADD_REL_PARAMS_OPTABLE", "QTX_PARAMNAME = '5-OutputIdentifier'",
         "QTX_PARAMNAME", rt::Variant("5-Gone"), pelmora::kErrorBase + 5, 21468},
        {"a parameter twice", "QTX_ADD_REL_PARAMS_OPTABLE", "QTX_PARAMNAME = '5-OutputIdentifier'", "QTX_PARAMNAME",
         rt::Variant("5-InputIdentifier"), pelmora::kErrorBase + 5, 21468},
        {"SQL in a column name", "QTX_ADD_REL_PARAMS_OPTABLE", "QTX_PARAMNAME = '5-OutputIdentifier'", "QTX_PARAMVALUE",
         rt::Variant("OUT_FID = 0 OR 1"), rt::vberr::InvalidProcedureCall, 0},
    };
    for (const Case& c : cases) {
        editing_.reset();
        EditMetadata(c.table, c.filter, c.field, c.value);
        auto error = Raised([&] { service_->GetRelationshipHelper(kNodeOrdered); });
        EXPECT_EQ(error.Number(), c.number) << c.what;
        if (c.description) {
            EXPECT_EQ(error.Source(), "NodeOrdConnADO") << c.what;
            EXPECT_EQ(error.Description(), c.description == 15754 ? Text(15754, kLocation) : Text(c.description))
                << c.what;
        }
    }
}

TEST_F(NodeOrdered, CandidatesAndPairsFollowTheRuleRows) {
    EXPECT_EQ(relationshiptest::Numbers(service_->GetCandidateFeatures(Open(104, 5731), kNodeOrdered)),
              (std::vector<int32_t>{101}));
    EXPECT_TRUE(service_->GetCandidateFeatures(Open(102, 5711), kNodeOrdered).IsNull());
    auto helper = service_->GetRelationshipHelper(kNodeOrdered);
    struct Case {
        int16_t fno;
        int16_t other;
        bool relates;
    };
    for (const Case& c : {Case{104, 101, true}, Case{101, 104, true}, Case{102, 101, false}, Case{104, 102, false}}) {
        auto feature = pelmora::KeyObject::New();
        feature->put_FNO(c.fno);
        EXPECT_EQ(helper->CanRelate(feature, c.other), c.relates) << c.fno << "->" << c.other;
    }
}

TEST_F(NodeOrdered, EstablishWritesTheHoldersEndAndReviewReadsItBack) {
    EXPECT_EQ(KeysOf(service_->GetRelatedFeatures(Open(104, 5731), kNodeOrdered)), Lines{"101/5701"});
    EXPECT_EQ(KeysOf(service_->GetRelatedFeatures(Open(104, 5732), kNodeOrdered)), Lines{});

    // 5734 has no support row: establishing adds one, a second time finds it.
    auto line = Open(104, 5734);
    auto main = Open(101, 5703);
    auto rows = Support(line);
    rows->put_Filter(rt::Variant("QTX_CID = 1"));
    for (int i = 0; i < 2; ++i) service_->SilentEstablishByFeature(line, main, rt::Variant(kNodeOrdered));
    EXPECT_EQ(rt::CStr(rows->get_Filter()), "QTX_CID = 1");  // put back as found
    rows->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
    ASSERT_EQ(rows->get_RecordCount(), 1);
    EXPECT_EQ(rt::CLng(rows->GetValue(rt::Variant("OUT_FID"))), 5703);
    EXPECT_EQ(rt::CLng(rows->GetValue(rt::Variant("QTX_CID"))), 1);
    rows->put_Filter(rt::Variant("QTX_CID = 2"));
    EXPECT_EQ(KeysOf(service_->GetRelatedFeatures(line, kNodeOrdered)), Lines{"101/5703"});
    EXPECT_EQ(rt::CStr(rows->get_Filter()), "QTX_CID = 2");

    // From the main's side the service line holds the row and takes the main
    // at its input end; once saved, the main finds it by the reverse search.
    auto other = Open(104, 5732);
    auto fed = Open(101, 5701);
    service_->SilentEstablishByFeature(fed, other, rt::Variant(kNodeOrdered));
    EXPECT_EQ(rt::CLng(Support(other)->GetValue(rt::Variant("IN_FID"))), 5701);
    auto saving = std::make_shared<pelmora::FeatureAssemblyService>();
    saving->putref_DataContext(sqlite_);
    auto both = pelmora::KeyObjects::New();
    both->Add(other);
    saving->UpdateFeatures(both);
    EXPECT_EQ(KeysOf(service_->GetRelatedFeatures(fed, kNodeOrdered)), Lines{"104/5732"});
}

TEST_F(NodeOrdered, ValidationChecksTheSupportRowsOfPendingLinearFeatures) {
    const std::string error = "Error|";
    EXPECT_EQ(Validate({{104, 5731}, {104, 5732}, {104, 5733}, {104, 5734}}, kLocation),
              (Lines{error + Text(21269, kLocation) + "|5732",
                     error + pelmora::GetValidationMessage(21305, rt::Variant("5711"), rt::Variant("5733"),
                                                           rt::Variant("102")) +
                         "|5733",
                     error + Text(21266) + "|5734"}));
    Execute("INSERT INTO SERVICE_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, OUT_FNO, OUT_FID) "
            "VALUES (6, 104, 5731, 41, 2, 101, 5701)");
    EXPECT_EQ(Validate({{104, 5731}}, kLocation), (Lines{error + Text(21268) + "|5731"}));
}

TEST_F(NodeOrdered, TheDistanceRuleOfThePairApplies) {
    // The service line's end moves 2 away from the main's end it is fed from.
    Execute("UPDATE SERVICE_LN_SDOGEOM SET SDO_Y2 = 6002.5 WHERE QTX_FID = 5731");
    EXPECT_EQ(Validate({{104, 5731}}, kLocation),
              (Lines{"Warning|Service Line 5731 and Water Main 5701 are not connected within 1.|5731"}));
}

TEST_F(NodeOrdered, WithoutTheSupportComponentValidationRaises91) {
    auto relationship = rt::QueryInterface<pelmora::IRelationship>(std::static_pointer_cast<rt::Object>(service_));
    auto features = pelmora::KeyObjects::New();
    auto line = pelmora::KeyObject::New();
    line->put_FNO(104);
    line->put_FID(5732);
    features->Add(line);
    std::shared_ptr<pelmora::IKeyObjects> given = features;
    auto set = relationship->GetFeatureValidationInformation(given);
    std::shared_ptr<pelmora::IKeyObjects> opened;
    std::shared_ptr<pelmora::IComponents> components;
    int32_t count = 0;
    pelmora::GetValidationKOCollection(set, opened, components, sqlite_, count);
    auto none = rt::QueryInterface<pelmora::IComponents>(rt::CreateObject("QzPelmora.Components"));
    auto pending = rt::Collection::New();
    pending->Add(rt::Variant(int16_t{104}));
    auto errors = pelmora::CreateValidationRecordset();
    auto helper = service_->GetRelationshipHelper(kNodeOrdered);
    EXPECT_EQ(ErrorOf([&] { helper->Validate(opened, none, set, pending, errors); }), rt::vberr::ObjectVariableNotSet);
}
