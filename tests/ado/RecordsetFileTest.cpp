// Save and Open of persisted recordsets through the Recordset object.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "AdoTestUtil.h"
#include "support/TestFolders.h"

using namespace ado;
using adotest::AllIds;
using adotest::ErrorOf;
using adotest::MakeRecordset;

namespace {

class TempDir {
public:
    TempDir() : path_(pelmora_test::FreshTestFolder("pelmora_rsfile")) {}
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace

TEST(RecordsetFile, SaveThenOpenKeepsSourceFieldsNullsAndRowOrder) {
    TempDir dir;
    auto rs = MakeRecordset({{3, "c", -1}, {1, "a", 1.25}, {2, "", 2}});
    rs->put_Source("SELECT * FROM QTX_TEST_OPTABLE");
    std::string path = dir.File("QTX_TEST_OPTABLE.RAW");
    rs->MoveLast();
    rs->Save(path);
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 3);  // Save leaves the cursor on the first row

    auto back = Recordset::Create();
    back->Open(rt::Variant(path), rt::Variant::Missing(), adOpenUnspecified, adLockUnspecified, -1);
    EXPECT_EQ(back->get_Source(), "SELECT * FROM QTX_TEST_OPTABLE");
    ASSERT_EQ(back->FieldCount(), 3);
    const FieldDesc& id = back->DescAt(0);
    EXPECT_EQ(id.name, "ID");
    EXPECT_EQ(id.type, adInteger);
    EXPECT_EQ(id.precision, 10);
    EXPECT_EQ(id.baseTable, "TEST_TABLE");
    EXPECT_EQ(back->DescAt(1).definedSize, 50);
    EXPECT_EQ(AllIds(back), (std::vector<int32_t>{3, 1, 2}));
    back->MoveFirst();
    EXPECT_TRUE(back->GetValue("VAL").IsNull());
    back->MoveLast();
    EXPECT_EQ(back->GetValue("NAME").Str(), "");
    // An opened file is an editable client-side recordset with nothing pending.
    EXPECT_EQ(back->get_LockType(), adLockBatchOptimistic);
    EXPECT_TRUE(back->PendingRows().empty());
    back->Delete();
    EXPECT_EQ(back->get_RecordCount(), 2);
}

TEST(RecordsetFile, SaveWritesOnlyTheVisibleRowsInViewOrder) {
    TempDir dir;
    auto rs = MakeRecordset({{1, "a", 1}, {2, "b", 2}, {3, "c", 3}, {4, "d", 4}});
    rs->Find("ID = 2");
    rs->Delete();
    rs->put_Filter(rt::Variant("ID <> 4"));
    rs->put_Sort("ID DESC");
    std::string path = dir.File("part.RAW");
    rs->Save(path);
    auto back = Recordset::Create();
    back->put_LockType(adLockOptimistic);
    back->Open(rt::Variant(path));
    EXPECT_EQ(back->get_LockType(), adLockOptimistic);
    EXPECT_EQ(AllIds(back), (std::vector<int32_t>{3, 1}));
}

TEST(RecordsetFile, MissingOrDamagedFileFailsAndLeavesTheRecordsetClosed) {
    TempDir dir;
    auto rs = Recordset::Create();
    EXPECT_NE(ErrorOf([&] { rs->Open(rt::Variant(dir.File("none.RAW"))); }), 0);
    EXPECT_EQ(rs->get_State(), adStateClosed);
    std::string bad = dir.File("bad.RAW");
    {
        std::ofstream out(bad, std::ios::binary);
        out << "this is not a recordset";
    }
    EXPECT_NE(ErrorOf([&] { rs->Open(rt::Variant(bad)); }), 0);
    EXPECT_EQ(rs->get_State(), adStateClosed);
}

TEST(RecordsetFile, OpenOnAnOpenRecordsetIsRefused) {
    auto rs = MakeRecordset({{1, "a", 1}});
    EXPECT_EQ(ErrorOf([&] { rs->Open(rt::Variant("x.RAW")); }), err::ObjectOpen);
    EXPECT_EQ(ErrorOf([&] { rs->put_LockType(adLockReadOnly); }), err::ObjectOpen);
}

TEST(RecordsetImageApi, ToImageAndFromImageRoundTripThroughMemory) {
    auto rs = MakeRecordset({{1, "a", 1}, {2, "b", -1}});
    rs->MoveLast();
    rs->SetValue("NAME", rt::Variant("B"));
    rs->Update();
    RecordsetImage image = rs->ToImage();
    EXPECT_EQ(image.RowCount(), 2u);
    auto copy = Recordset::FromImage(DeserializeImage(SerializeImage(image)), adLockReadOnly);
    EXPECT_EQ(copy->get_LockType(), adLockReadOnly);
    copy->MoveLast();
    EXPECT_EQ(copy->GetValue("NAME").Str(), "B");
    EXPECT_TRUE(copy->GetValue("VAL").IsNull());
    EXPECT_EQ(copy->get_Source(), "TEST_TABLE");
}
