// The findings recordset: its layout, the rows each routine adds (keys,
// priorities, message parameters), and what a failure leaves behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ado/Recordset.h"
#include "metadata/CommonFakes.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "runtime/Variant.h"
#include "runtime/Vb.h"
#include "ValidationSetTestSupport.h"

using namespace pelmora;
using rt::Variant;
using Row = validationtest::FindingRow;
using validationtest::FindingRows;

namespace {

const Variant M = Variant::Missing();

Variant Texts(const std::vector<std::string>& values, int32_t lbound = 0) {
    std::vector<Variant> v(values.begin(), values.end());
    return Variant::ArrayOf(v, lbound, rt::vbString);
}

// A component recordset positioned on one row with the four keys.
std::shared_ptr<ado::Recordset> ComponentRow(const std::vector<Variant>& keys, ado::DataTypeEnum type = ado::adInteger) {
    auto rs = ado::Recordset::Create();
    for (const char* name : {"QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID"})
        rs->get_Fields()->Append(name, type, type == ado::adInteger ? 0 : 20);
    rs->Open();
    rs->AddNew();
    for (int32_t i = 0; i < 4; ++i) rs->SetValue(Variant(i), keys[static_cast<size_t>(i)]);
    rs->Update();
    rs->MoveFirst();
    return rs;
}

class ValidationRecordsTest : public commontest::CommonTest {
protected:
    void SetUp() override {
        CommonTest::SetUp();
        messages->texts[kErrorPriorityMessage] = "Error";
        messages->texts[kWarningPriorityMessage] = "Warning";
        messages->texts[kFourNames] = "[%1|%2|%3|%4]";
        messages->texts[kOtherMessage] = "other %1";
        errors = CreateValidationRecordset();
    }
    void TearDown() override {
        errors.reset();
        CommonTest::TearDown();
    }

    static constexpr int16_t kFourNames = 24001;
    static constexpr int16_t kOtherMessage = 24002;
    std::shared_ptr<ado::Recordset> errors;
};

TEST_F(ValidationRecordsTest, NewRecordsetHasTheEightFieldsInOrderAndNoRows) {
    struct Expected {
        const char* name;
        ado::DataTypeEnum type;
        int32_t size;
    } expected[] = {
        {"ErrorPriority", ado::adVarWChar, 500}, {"ErrorDescription", ado::adVarWChar, 500},
        {"ErrorLocation", ado::adVarWChar, 500}, {"Connection", ado::adVarWChar, 500},
        {"QTX_FNO", ado::adInteger, 4},          {"QTX_FID", ado::adInteger, 4},
        {"QTX_CNO", ado::adInteger, 4},          {"QTX_CID", ado::adInteger, 4},
    };
    auto fields = errors->get_Fields();
    ASSERT_EQ(fields->get_Count(), 8);
    for (int32_t i = 0; i < 8; ++i) {
        auto f = fields->Item(i);
        EXPECT_EQ(f->get_Name(), expected[i].name) << i;
        EXPECT_EQ(f->get_Type(), expected[i].type) << i;
        EXPECT_EQ(f->get_DefinedSize(), expected[i].size) << i;
    }
    EXPECT_EQ(errors->get_State(), ado::adStateOpen);
    EXPECT_TRUE(errors->get_BOF() && errors->get_EOF());
    // Each call makes a recordset of its own.
    EXPECT_NE(CreateValidationRecordset(), errors);
}

TEST_F(ValidationRecordsTest, EmptyKeyTextsStayNullAndTheTextsAreStoredAsGiven) {
    struct Case {
        std::vector<std::string> given;  // priority, description, location, connection, FNO, FID, CNO, CID
        Row stored;
    } cases[] = {
        {{"Error", "bad", "", "", "12", "345", "", ""}, {"Error", "bad", "", "", "12", "345", "Null", "Null"}},
        {{"", "", "loc", "conn", "101", "1001", "14", "3"}, {"", "", "loc", "conn", "101", "1001", "14", "3"}},
        {{"p", "d", "l", "c", "", "", "", ""}, {"p", "d", "l", "c", "Null", "Null", "Null", "Null"}},
    };
    std::vector<Row> expected;
    for (const Case& c : cases) {
        const auto& g = c.given;
        AddValidationError(errors, g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7]);
        expected.push_back(c.stored);
    }
    EXPECT_EQ(FindingRows(errors), expected);
}

TEST_F(ValidationRecordsTest, AFailedRowIsCancelledAndNeverReachesTheFindings) {
    AddValidationError(errors, "Error", "first", "", "", "1", "2", "", "");
    int32_t raised = pelmora_test::ErrorOf([&] { AddValidationError(errors, "Error", "half", "", "", "x", "2", "", ""); });
    EXPECT_NE(raised, 0);
    AddValidationError(errors, "Warning", "next", "", "", "3", "4", "", "");
    EXPECT_EQ(FindingRows(errors), (std::vector<Row>{{"Error", "first", "", "", "1", "2", "Null", "Null"},
                                              {"Warning", "next", "", "", "3", "4", "Null", "Null"}}));
}

TEST_F(ValidationRecordsTest, RelationshipFindingsTakeKindPriorityAndNamesUpToTheLastGiven) {
    struct Case {
        int32_t kind;
        Variant priority;
        std::vector<std::string> names;
        std::string expectedPriority, expectedDescription;
    } cases[] = {
        {0, M, {"", "", "", ""}, "Warning", "other %1"},
        {1, M, {"", "", "", ""}, "Error", "[%1|%2|%3|%4]"},
        {-1, M, {"a", "", "", ""}, "Error", "[a|||]"},
        {7, Variant("High"), {"", "", "", "d"}, "High", "[|||d]"},
        {0, Variant(""), {"a", "", "c", ""}, "", "other a"},
        {3, Variant(int16_t{2}), {"a", "b", "c", "d"}, "2", "[a|b|c|d]"},
    };
    std::vector<Row> expected;
    for (const Case& c : cases) {
        const auto& n = c.names;
        AddRelationshipValidationError(kFourNames, kOtherMessage, c.kind, "loc", "conn", "101", "1001", "", "", errors,
                                       c.priority, n[0], n[1], n[2], n[3]);
        expected.push_back({c.expectedPriority, c.expectedDescription, "loc", "conn", "101", "1001", "Null", "Null"});
    }
    EXPECT_EQ(FindingRows(errors), expected);

    // Kind 5 records nothing and asks the message object for nothing.
    messages->failGet = true;
    AddRelationshipValidationError(kFourNames, kOtherMessage, 5, "", "", "x", "", "", "", errors, M, "a", "", "", "");
    EXPECT_EQ(FindingRows(errors).size(), expected.size());
}

TEST_F(ValidationRecordsTest, ErrorArraysAddOneRowPerFailureOverTheIndicesBothArraysHave) {
    struct Case {
        const char* name;
        Variant priorities, descriptions;
        std::vector<Row> rows;  // priority and description of each row
    } cases[] = {
        {"empty description is no failure", Texts({"1", "2"}), Texts({"first", ""}), {{"1", "first"}}},
        {"longer priorities", Texts({"1", "2", "3"}), Texts({"a", "b"}), {{"1", "a"}, {"2", "b"}}},
        {"longer descriptions", Texts({"1"}), Texts({"a", "b"}), {{"1", "a"}}},
        {"different lower bounds", Texts({"1", "2"}, 1), Texts({"a", "b", "c"}), {{"1", "b"}, {"2", "c"}}},
        {"Empty", Variant(), Variant(), {}},
        {"Null", Variant::Null(), Variant::Null(), {}},
        {"descriptions no array", Texts({"1"}), Variant(), {}},
        {"Null priority kept as empty", Variant::ArrayOf({Variant::Null()}), Texts({"a"}), {{"", "a"}}},
    };
    auto component = ComponentRow({Variant(int32_t{101}), Variant(int32_t{1001}), Variant(int32_t{14}), Variant::Null()});
    for (const Case& c : cases) {
        auto rs = CreateValidationRecordset();
        AddErrorArraysToRecordset(component, rs, c.priorities, c.descriptions, "loc", "conn");
        std::vector<Row> expected;
        for (const Row& r : c.rows) expected.push_back({r[0], r[1], "loc", "conn", "101", "1001", "14", "Null"});
        EXPECT_EQ(FindingRows(rs), expected) << c.name;
    }
}

TEST_F(ValidationRecordsTest, ErrorArraysOfNoArrayRaiseAndRowsThatCannotBeWrittenAreLeftOut) {
    auto component = ComponentRow({Variant(int32_t{101}), Variant(int32_t{1001}), Variant(), Variant()});
    EXPECT_EQ(pelmora_test::ErrorOf([&] {
                  AddErrorArraysToRecordset(component, errors, Variant("1"), Texts({"a"}), "", "");
              }),
              rt::vberr::SubscriptOutOfRange);
    EXPECT_TRUE(FindingRows(errors).empty());

    // A key that is no number fails every row; none is left half written.
    auto textKeys = ComponentRow({Variant("x"), Variant("1001"), Variant(), Variant()}, ado::adVarWChar);
    AddErrorArraysToRecordset(textKeys, errors, Texts({"1", "2"}), Texts({"a", "b"}), "", "");
    EXPECT_TRUE(FindingRows(errors).empty());
}

TEST_F(ValidationRecordsTest, MessagesWithoutArgumentsKeepTheirPlaceholders) {
    EXPECT_EQ(GetValidationMessage(kOtherMessage), "other %1");
    EXPECT_EQ(GetValidationMessage(kOtherMessage, Variant(int32_t{42})), "other 42");
    EXPECT_EQ(GetValidationMessage(kFourNames, Variant("a"), M, Variant("c")), "[a||c|]");
    EXPECT_EQ(GetValidationMessage(kFourNames, M, Variant("b")), "[%1|%2|%3|%4]");
}

}  // namespace
