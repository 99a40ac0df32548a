// The attribute rules between a feature of the validation set and its
// related features, recorded as findings of the active feature.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AttributeValidationTestSupport.h"
#include "ValidationSetTestSupport.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"

using namespace pelmora;
using rt::Variant;
using validationtest::FindingRow;

namespace {

class ValidationSetAttributes : public attrvaltest::AttributeValidationFixture {
protected:
    void TearDown() override {
        ReleaseValidationSetIndex();
        AttributeValidationFixture::TearDown();
    }

    // What the service itself reports for each related feature, as findings
    // of the active feature with the given component keys.
    std::vector<FindingRow> Reported(const std::shared_ptr<IKeyObject>& active,
                                     const std::shared_ptr<IKeyObjects>& related, const std::string& type,
                                     const std::string& cno, const std::string& cid) {
        std::vector<FindingRow> out;
        for (const auto& r : related->get_NewEnum()) {
            Variant priorities, messages;
            Service(active, r, type)->Validate(priorities, messages);
            auto p = attrvaltest::Texts(priorities);
            auto m = attrvaltest::Texts(messages);
            for (size_t i = 0; i < p.size(); ++i) out.push_back({p[i], m[i], "loc", "conn", "102", "2002", cno, cid});
        }
        return out;
    }
};

TEST_F(ValidationSetAttributes, EveryFailureAgainstEachRelatedFeatureIsAFindingOfTheActiveFeature) {
    // Valve 2002 pending; mains 1001 and 1002 related to it through relationship 7.
    auto set = validationtest::MakeValidationSet({{102, 2002, 1, 0, 0, 0},
                                                  {101, 1001, 0, 2002, 102, 7},
                                                  {101, 1002, 0, 2002, 102, 7}});
    auto opened = validationtest::OpenValidationSet(set, dc_);
    set->MoveFirst();
    auto related = GetRelatedFeatures(set, opened.features, 7);
    ASSERT_EQ(related->get_Count(), 2);
    auto valve = FindKeyObject(opened.features, 102, 2002);
    ASSERT_NE(valve, nullptr);

    // The same valve named down to one of its component rows.
    auto symbolRow = KeyObject::New();
    symbolRow->put_FNO(102);
    symbolRow->put_FID(2002);
    symbolRow->put_CNO(22);
    symbolRow->put_CID(1);
    symbolRow->putref_Components(valve->get_Components());

    struct Case {
        std::shared_ptr<IKeyObject> active;
        std::string cno, cid;
    } cases[] = {{valve, "Null", "Null"}, {symbolRow, "22", "1"}};
    for (const Case& c : cases) {
        auto errors = CreateValidationRecordset();
        ValidateRelationshipAttributes(c.active, related, 3, dc_, "loc", "conn", errors);
        auto expected = Reported(c.active, related, "3", c.cno, c.cid);
        EXPECT_EQ(validationtest::FindingRows(errors), expected) << c.cno;
        // The rules of relationship type 3 are among them.
        EXPECT_GT(expected.size(), Reported(c.active, related, "", c.cno, c.cid).size()) << c.cno;
    }

    // Nothing related, nothing recorded.
    auto errors = CreateValidationRecordset();
    ValidateRelationshipAttributes(valve, KeyObjects::New(), 3, dc_, "loc", "conn", errors);
    EXPECT_TRUE(errors->get_BOF() && errors->get_EOF());
}

}  // namespace
