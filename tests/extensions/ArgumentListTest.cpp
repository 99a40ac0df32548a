// Argument lists: built from the argument groups of the metadata (on the
// sample and on tables made for the purpose) and copied into the zero-based
// form extension objects take.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ExtensionTestObjects.h"
#include "ado/Recordset.h"
#include "pelmora/extensions/ExtensionBinding.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataService.h"
#include "product/Notification.h"
#include "product/SqliteDataContext.h"
#include "runtime/Vb.h"
#include "support/SampleEnvironment.h"
#include "support/SampleServices.h"

namespace exttest {
namespace {

using pelmora::CopyArgumentArray;
using pelmora::GetRelationIfaceArguments;

// A metadata service serving one argument table (or none) of the test's own.
class OneTableService : public rt::Object,
                        public pelmora::IMetadataService,
                        public pelmora::IMetadataRecordsets,
                        public pelmora::IMetadataRecordset {
public:
    std::shared_ptr<ado::Recordset> table;  // nullptr: the item serves no recordset
    bool noItem = false;

    std::string get_CacheDirectory() override { return ""; }
    std::string get_CacheFormat() override { return ""; }
    std::string get_CacheMode() override { return ""; }
    void put_Configuration(const std::string&) override {}
    std::string get_Configuration() override { return "Test"; }
    std::shared_ptr<pelmora::IMetadataRecordsets> get_Recordsets() override {
        return std::dynamic_pointer_cast<pelmora::IMetadataRecordsets>(shared_from_this());
    }
    void DeleteRecords(const rt::Variant&) override {}
    void Fetch(const std::string&) override {}
    void SaveConfiguration(const std::string&, const std::string&, const std::string&, bool) override {}
    bool IsRoleGranted(const std::string&) override { return true; }
    void Refresh() override {}
    void RefreshDynamicEdits(const std::shared_ptr<pelmora::IDataContext>&, const rt::Variant&) override {}
    void RefreshRecordsDelete() override {}
    void SetActiveUser(const std::shared_ptr<pelmora::IDataContext>&, const std::string&) override {}

    std::shared_ptr<pelmora::IMetadataRecordset> get_Item(const rt::Variant& key) override {
        lastKey = rt::CStr(key);
        if (noItem) return nullptr;
        return std::dynamic_pointer_cast<pelmora::IMetadataRecordset>(shared_from_this());
    }
    int32_t get_Count() override { return 1; }
    std::vector<std::shared_ptr<pelmora::IMetadataRecordset>> get_NewEnum() override { return {}; }
    std::shared_ptr<pelmora::IMetadataRecordset> AppendRecordset(const std::string&, const std::string&,
                                                                 const std::shared_ptr<ado::Recordset>&) override {
        return nullptr;
    }

    std::string get_Source() override { return ""; }
    std::string get_Key() override { return lastKey; }
    std::shared_ptr<ado::Recordset> get_Recordset(const std::string&, const std::string&) override { return table; }

    std::string lastKey;
};

// A fabricated argument table with the rows (group, value) in this order.
std::shared_ptr<ado::Recordset> ArgumentTable(const std::vector<std::pair<int32_t, rt::Variant>>& rows) {
    auto rs = ado::Recordset::Create();
    rs->get_Fields()->Append("QTX_RIARGGROUPNO", ado::adInteger);
    rs->get_Fields()->Append("QTX_VALUE", ado::adVarWChar, 255, ado::adFldIsNullable);
    rs->Open();
    for (const auto& [group, value] : rows) {
        rs->AddNew();
        rs->SetValue(rt::Variant("QTX_RIARGGROUPNO"), rt::Variant(group));
        rs->SetValue(rt::Variant("QTX_VALUE"), value);
        rs->Update();
    }
    return rs;
}

std::vector<std::string> Texts(const rt::Variant& list) {
    std::vector<std::string> out;
    for (int32_t i = rt::LBound(list); i <= rt::UBound(list); ++i) {
        const rt::Variant& v = list.Array()->Get(i);
        out.push_back(v.IsNull() ? "<Null>" : v.IsEmpty() ? "<Empty>" : rt::CStr(v));
    }
    return out;
}

class ArgumentListTest : public ExtensionFixture {
protected:
    void SetUp() override {
        ExtensionFixture::SetUp();
        env_ = &pelmora_test::SampleEnvironment::Get();
        product::RegisterApplicationClasses();
        pelmora::RegisterMetadataClasses();
        pelmora::RegisterMetadataRecordsetFilterService();
        ::setenv("PELMORA_CONFIGURATION_MAP", env_->ConfigurationMapPath().c_str(), 1);
    }
    std::shared_ptr<product::SqliteDataContext> SampleContext() {
        return pelmora_test::OpenSampleContext(pelmora_test::OpenSampleMetadata());
    }
    std::shared_ptr<product::SqliteDataContext> ContextWith(const std::shared_ptr<OneTableService>& service) {
        auto dc = env_->OpenDataContext();
        dc->putref_MetadataService(service);
        return dc;
    }
    const pelmora_test::SampleEnvironment* env_ = nullptr;
};

TEST_F(ArgumentListTest, SampleGroupsComeBackFromOneInTableOrder) {
    auto dc = SampleContext();
    rt::Variant group1 = GetRelationIfaceArguments(dc, rt::Variant(int32_t{1}));
    ASSERT_TRUE(group1.IsArray());
    EXPECT_EQ(rt::LBound(group1), 1);
    EXPECT_EQ(Texts(group1), (std::vector<std::string>{"OPEN", "CLOSED", "PARTIAL"}));

    // A Null value is kept; the group may be given as any number or text.
    rt::Variant group2 = GetRelationIfaceArguments(dc, rt::Variant("2"));
    EXPECT_EQ(Texts(group2), (std::vector<std::string>{"M-", "<Null>"}));
    EXPECT_EQ(rt::UBound(GetRelationIfaceArguments(dc, rt::Variant(1.0))), 3);

    // What the table says for comparison, read directly.
    auto direct = dc->OpenRecordset("SELECT COUNT(*) AS N FROM QTX_RELATIONIFACEARGS_OPTABLE WHERE QTX_RIARGGROUPNO = 1");
    EXPECT_EQ(rt::CLng(direct->GetValue(rt::Variant("N"))), rt::UBound(group1));
}

TEST_F(ArgumentListTest, NoGroupNoRowsOrNoTableGiveNull) {
    auto dc = SampleContext();
    EXPECT_TRUE(GetRelationIfaceArguments(dc, rt::Variant::Null()).IsNull());
    EXPECT_TRUE(GetRelationIfaceArguments(dc, rt::Variant()).IsNull());
    EXPECT_TRUE(GetRelationIfaceArguments(dc, rt::Variant(int32_t{99})).IsNull());
    // Null and Empty groups are answered without any data context.
    EXPECT_TRUE(GetRelationIfaceArguments(nullptr, rt::Variant::Null()).IsNull());

    auto service = std::make_shared<OneTableService>();
    EXPECT_TRUE(GetRelationIfaceArguments(ContextWith(service), rt::Variant(int32_t{1})).IsNull());
    EXPECT_EQ(service->lastKey, "QTX_RELATIONIFACEARGS_OPTABLE");
    service->noItem = true;
    EXPECT_TRUE(GetRelationIfaceArguments(ContextWith(service), rt::Variant(int32_t{1})).IsNull());
}

TEST_F(ArgumentListTest, RowsKeepTheRecordsetsOrderAndOnlyTheirGroup) {
    auto service = std::make_shared<OneTableService>();
    service->table = ArgumentTable({{3, rt::Variant("c")},
                                    {7, rt::Variant("other")},
                                    {3, rt::Variant("a")},
                                    {30, rt::Variant("not 3")},
                                    {3, rt::Variant::Null()},
                                    {3, rt::Variant("b")}});
    auto list = GetRelationIfaceArguments(ContextWith(service), rt::Variant(int16_t{3}));
    EXPECT_EQ(rt::LBound(list), 1);
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"c", "a", "<Null>", "b"}));
}

TEST_F(ArgumentListTest, BadGroupsAndMissingServicesFail) {
    auto dc = SampleContext();
    EXPECT_EQ(Raised([&] { GetRelationIfaceArguments(dc, rt::Variant("two")); }).Number(), rt::vberr::TypeMismatch);
    // A group that is no 32-bit number cannot be filtered on.
    EXPECT_EQ(Raised([&] { GetRelationIfaceArguments(dc, rt::Variant(1e12)); }).Number(), rt::vberr::Overflow);
    EXPECT_EQ(Raised([&] { GetRelationIfaceArguments(nullptr, rt::Variant(int32_t{1})); }).Number(),
              rt::vberr::ObjectVariableNotSet);
    // A context without metadata service passes on its error.
    auto bare = env_->OpenDataContext();
    EXPECT_EQ(Raised([&] { GetRelationIfaceArguments(bare, rt::Variant(int32_t{1})); }).Number(),
              rt::vberr::ObjectVariableNotSet);
}

TEST_F(ArgumentListTest, CopyReBasesListsThatStartAtOneOrLater) {
    rt::Variant fromOne = rt::Variant::ArrayOf({rt::Variant("a"), rt::Variant::Null(), rt::Variant(int32_t{3})}, 1);
    rt::Variant copy = CopyArgumentArray(fromOne);
    EXPECT_EQ(rt::LBound(copy), 0);
    EXPECT_EQ(rt::UBound(copy), 2);
    EXPECT_EQ(Texts(copy), (std::vector<std::string>{"a", "<Null>", "3"}));
    EXPECT_EQ(rt::LBound(fromOne), 1) << "the source is left alone";

    // Bounds 2 to 4: three elements in 0 to 3, the last one Empty.
    rt::Variant fromTwo = rt::Variant::ArrayOf({rt::Variant("x"), rt::Variant("y"), rt::Variant("z")}, 2);
    copy = CopyArgumentArray(fromTwo);
    EXPECT_EQ(rt::LBound(copy), 0);
    EXPECT_EQ(rt::UBound(copy), 3);
    EXPECT_EQ(Texts(copy), (std::vector<std::string>{"x", "y", "z", "<Empty>"}));

    // A typed list becomes a Variant list.
    rt::Variant texts = rt::Variant::MakeArray(rt::vbString, 1, 2);
    texts.ArrayMut()->Set(2, rt::Variant("second"));
    copy = CopyArgumentArray(texts);
    EXPECT_EQ(copy.Type(), rt::vbArray | rt::vbVariant);
    EXPECT_EQ(rt::CStr(copy.Array()->Get(1)), "second");

    // A list of the sample re-based.
    auto list = GetRelationIfaceArguments(SampleContext(), rt::Variant(int32_t{1}));
    EXPECT_EQ(Texts(CopyArgumentArray(list)), Texts(list));
    EXPECT_EQ(rt::UBound(CopyArgumentArray(list)), 2);
}

TEST_F(ArgumentListTest, CopyKeepsOtherListsAndRefusesNonArrays) {
    rt::Variant fromZero = rt::Variant::ArrayOf({rt::Variant("p"), rt::Variant("q"), rt::Variant("r"),
                                                 rt::Variant("s"), rt::Variant("t")});
    rt::Variant copy = CopyArgumentArray(fromZero);
    EXPECT_EQ(rt::LBound(copy), 0);
    EXPECT_EQ(Texts(copy), Texts(fromZero));
    rt::Variant negative = rt::Variant::ArrayOf({rt::Variant("n")}, -3);
    EXPECT_EQ(rt::LBound(CopyArgumentArray(negative)), -3);

    for (const rt::Variant& none : {rt::Variant(), rt::Variant::Null()}) {
        rt::Variant empty = CopyArgumentArray(none);
        EXPECT_TRUE(empty.IsArray());
        EXPECT_FALSE(pelmora::IsArrayDimensioned(empty));
    }
    EXPECT_EQ(Raised([] { CopyArgumentArray(rt::Variant("a;b")); }).Number(), rt::vberr::TypeMismatch);
    EXPECT_EQ(Raised([] { CopyArgumentArray(rt::Variant(int32_t{1})); }).Number(), rt::vberr::TypeMismatch);
    EXPECT_EQ(Raised([] { CopyArgumentArray(rt::Variant::UnallocatedArray(rt::vbVariant)); }).Number(),
              rt::vberr::SubscriptOutOfRange);
    rt::Variant grid = rt::Variant::MakeArray(rt::vbVariant, {{1, 2}, {1, 2}});
    EXPECT_EQ(Raised([&] { CopyArgumentArray(grid); }).Number(), rt::vberr::SubscriptOutOfRange);
}

}  // namespace
}  // namespace exttest
