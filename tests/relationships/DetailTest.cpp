// The detail helper on the sample: valves (102) lie in valve details (158)
// through VALVE_N.DETAIL_ID; relationship 8 sees them from the valve, 9 from
// the detail.
#include "M2MDetailTestSupport.h"

#include <optional>

#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/relationships/Detail.h"

using pelmora_test::Raised;
using relationshiptest::Lines;
using relationshiptest::M2MDetailFixture;

namespace {

std::string Message(int16_t id) { return pelmora::MessageObject()->GetMessageText(id, 0); }

using DetailFixture = M2MDetailFixture;

}  // namespace

TEST_F(DetailFixture, TheValidationListLeavesOutDetailRowsSeenFromTheOwnerNullsIncluded) {
    // A Null counts as equal when the other field equals its value or is Null.
    struct Case {
        int16_t rno;
        std::optional<int16_t> type, subordinate;  // nullopt: Null
        bool listed;
    };
    const Case cases[] = {{1, 4, 0, false},          {2, 4, std::nullopt, false}, {3, std::nullopt, 0, false},
                          {4, std::nullopt, std::nullopt, false}, {5, std::nullopt, 1, true},
                          {6, 3, std::nullopt, true}, {7, 4, 1, true}};
    EditTable("QTX_RELATIONSHIPS_OPTABLE", [&](ado::RecordsetImage& image) {
        const std::vector<rt::Variant> first(image.values.begin(), image.values.begin() + image.fields.size());
        auto value = [](const std::optional<int16_t>& v) { return v ? rt::Variant(*v) : rt::Variant::Null(); };
        image.values.clear();
        for (const Case& c : cases) {
            auto row = first;
            row[FieldOf(image, "QTX_RNO")] = rt::Variant(c.rno);
            row[FieldOf(image, "QTX_TYPE")] = value(c.type);
            row[FieldOf(image, "QTX_SUBORDINATE")] = value(c.subordinate);
            image.values.insert(image.values.end(), row.begin(), row.end());
        }
    });
    std::string listed;
    for (const Case& c : cases)
        if (c.listed) listed += std::to_string(c.rno) + ";";
    EXPECT_EQ(service_->GetValidationRelationshipList(), listed);
}

TEST_F(DetailFixture, ReviewListsTheFeaturesSharingTheDetailIds) {
    struct Case {
        int16_t rno, fno;
        int32_t fid;
        Lines related;
    };
    const Case cases[] = {
        {8, 102, 2001, {"158/5981"}},
        {8, 102, 5974, {"158/5982"}},
        {8, 102, 5973, {}},            // an id no detail holds
        {8, 102, 5972, {}},            // the id 0
        {8, 101, 1001, {"Nothing"}},   // no rule row for mains
        {9, 158, 5981, {"Nothing"}},   // seen from the detail (subordinate 0)
    };
    for (const Case& c : cases)
        EXPECT_EQ(KeysOf(service_->GetRelationshipHelper(c.rno)->ReviewRelationship(Open(c.fno, c.fid))), c.related)
            << c.rno << " " << c.fid;

    // A Null detail id, a feature without components: error 1 of the helper.
    for (auto feature : {Open(102, 5971), std::shared_ptr<pelmora::IKeyObject>(pelmora::KeyObject::New())}) {
        if (!feature->get_Components()) feature->put_FNO(102);
        auto e = Raised([&] { service_->GetRelationshipHelper(8)->ReviewRelationship(feature); });
        EXPECT_EQ(e.Number(), pelmora::kErrorBase + 1);
        EXPECT_EQ(e.Source(), pelmora::kDetailRelationshipSource);
    }
}

TEST_F(DetailFixture, TheHelperRelatesNothingItself) {
    auto helper = service_->GetRelationshipHelper(8);
    auto valve = Open(102, 2001), detail = Open(158, 5981);
    EXPECT_EQ(helper->get_RelationshipType(), pelmora::qzrelDetail);
    EXPECT_TRUE(helper->CandidateFeatures(valve).IsNull());
    EXPECT_FALSE(helper->CanRelate(valve, 158));
    EXPECT_TRUE(helper->ReviewRelationshipHierarchy(valve).IsEmpty());
    const std::pair<std::function<void()>, const char*> refused[] = {
        {[&] { helper->DeleteRelationship(valve, detail, 0, 0); }, "Delete operation not supported at this time."},
        {[&] { helper->SilentEstablishRelationship(valve, detail, 0, 0); },
         "SilentEstablish operation not supported at this time."},
    };
    for (const auto& [call, text] : refused) {
        auto e = Raised(call);
        EXPECT_EQ(e.Number(), pelmora::kErrorBase + 1);
        EXPECT_EQ(e.Source(), "Detail Relationship");
        EXPECT_EQ(e.Description(), text);
    }
    EXPECT_EQ(helper->get_Name(), "Valve In Detail");
}

TEST_F(DetailFixture, ValidationChecksTheIdsOfValvesAndTheColumnsOfDetails) {
    const std::string valve = "|E", missingId = Message(17077), zeroId = Message(17078), noOwner = Message(17081);
    EXPECT_EQ(Findings(ValidateFeatures({{102, 2001}, {102, 5971}, {102, 5972}, {102, 5973}, {102, 5974}}),
                       "Valve In Detail"),
              (Lines{"102/5971/21/1|" + missingId + "|E", "102/5972/21/1|" + zeroId + "|E",
                     "102/5973/21/1|" + noOwner + "|E"}));
    // Detail 5982 lacks its name and its lower Y bound.
    EXPECT_EQ(Findings(ValidateFeatures({{158, 5981}, {158, 5982}}), "Detail Holds Valves"),
              (Lines{"158/5982/582/1|" + Message(17136) + "|E", "158/5982/582/1|" + Message(17139) + "|E"}));
}

TEST_F(DetailFixture, AContainedClassReadsItsOwnIdColumnOfASharedComponent) {
    // Another contained class keeps its id in another column of the valve
    // attributes, and its rule row comes first: valve 2001 still reads
    // DETAIL_ID (7, detail 5981), not SIZE_MM (200, no detail).
    EditTable("QTX_DETAILRULES_OPTABLE", [](ado::RecordsetImage& image) {
        std::vector<rt::Variant> row(image.values.begin(), image.values.begin() + image.fields.size());
        row[FieldOf(image, "QTX_FNO")] = rt::Variant(int16_t{159});
        row[FieldOf(image, "QTX_CONTAINEDFNO")] = rt::Variant(int16_t{103});
        row[FieldOf(image, "QTX_IDENTIFIERFIELD")] = rt::Variant("SIZE_MM");
        image.values.insert(image.values.begin(), row.begin(), row.end());
    });
    auto errors = ValidateFeatures({{102, 2001}});
    EXPECT_EQ(Findings(errors, "Valve In Detail"), Lines{});
    EXPECT_EQ(Findings(errors, ""), Lines{});  // no relationship failed
}

TEST_F(DetailFixture, ATableNameThatIsNoPlainNameIsRefusedBeforeAnySql) {
    EditTable("QTX_COMPONENTINFO_OPTABLE", [](ado::RecordsetImage& image) {
        SetWhere(image, "QTX_TABLE", rt::Variant("VALVE_DETAIL_N WHERE 1=1 --"),
                 [&](const std::vector<rt::Variant>& row) { return rt::CLng(row[FieldOf(image, "QTX_CNO")]) == 582; });
    });
    auto e = Raised([&] { service_->GetRelationshipHelper(8)->ReviewRelationship(Open(102, 2001)); });
    EXPECT_EQ(e.Number(), pelmora::kErrorBase + 1);
    EXPECT_NE(e.Description().find("is not a plain name"), std::string::npos) << e.Description();
}
