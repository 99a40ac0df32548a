// Reading values in place: the same values and the same errors as the
// copying readers, for changed, new, deleted and untouched rows.
#include <gtest/gtest.h>

#include "AdoTestUtil.h"

using namespace ado;
using adotest::ErrorOf;
using adotest::MakeRecordset;

namespace {

RecordsetPtr ThreeRows() { return MakeRecordset({{1, "one", 1.5}, {2, "two", 2.5}, {3, "three", -1}}); }

// Every field read both ways agrees, current and original.
void ExpectSameAsCopies(const RecordsetPtr& rs) {
    const rt::Variant* current = rs->CurrentRowValues();
    const rt::Variant* original = rs->OriginalRowValues();
    for (int32_t k = 0; k < rs->FieldCount(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_TRUE(rt::VariantEquals(rs->FieldValueRef(k), rs->FieldValue(k)) ||
                    (rs->FieldValueRef(k).IsNull() && rs->FieldValue(k).IsNull()));
        EXPECT_EQ(&current[k], &rs->FieldValueRef(k));
        const rt::Variant& before = rs->FieldOriginalValueRef(k);
        rt::Variant copy = rs->FieldOriginalValue(k);
        EXPECT_EQ(before.Type(), copy.Type());
        EXPECT_TRUE(before.IsNull() || rt::VariantEquals(before, copy));
        if (original) EXPECT_EQ(&original[k], &before);
        else EXPECT_TRUE(before.IsNull());
    }
}

}  // namespace

TEST(RecordsetValuesInPlace, AgreeWithTheCopyingReadersOnEveryKindOfRow) {
    auto rs = ThreeRows();
    rs->MoveFirst();
    ExpectSameAsCopies(rs);  // untouched: originals are the current values
    EXPECT_EQ(rs->OriginalRowValues(), rs->CurrentRowValues());

    rs->MoveNext();
    rs->SetValue("NAME", rt::Variant("TWO"));
    rs->Update();
    ExpectSameAsCopies(rs);
    EXPECT_EQ(rs->FieldValueRef(1).Str(), "TWO");
    EXPECT_EQ(rs->FieldOriginalValueRef(1).Str(), "two");
    EXPECT_NE(rs->OriginalRowValues(), rs->CurrentRowValues());

    rs->AddNew();
    rs->SetValue("ID", rt::Variant(int32_t{4}));
    rs->Update();
    ExpectSameAsCopies(rs);
    EXPECT_EQ(rs->OriginalRowValues(), nullptr);  // a new row has no originals
    EXPECT_TRUE(rs->FieldOriginalValueRef(0).IsNull());
    EXPECT_EQ(rs->FieldValueRef(0).I4(), 4);
}

TEST(RecordsetValuesInPlace, RaiseAsTheCopyingReadersDo) {
    auto rs = ThreeRows();
    rs->MoveFirst();
    EXPECT_EQ(ErrorOf([&] { rs->FieldValueRef(3); }), ErrorOf([&] { rs->FieldValue(3); }));
    EXPECT_EQ(ErrorOf([&] { rs->FieldValueRef(-1); }), err::ItemNotFound);
    EXPECT_EQ(ErrorOf([&] { rs->FieldOriginalValueRef(3); }), err::ItemNotFound);

    // A deleted row: current values are refused, originals still read.
    rs->Delete(adAffectCurrent);
    EXPECT_EQ(ErrorOf([&] { rs->FieldValueRef(0); }), err::RowDeleted);
    EXPECT_EQ(ErrorOf([&] { rs->CurrentRowValues(); }), err::RowDeleted);
    EXPECT_EQ(rs->FieldOriginalValueRef(0).I4(), 1);
    ASSERT_NE(rs->OriginalRowValues(), nullptr);
    EXPECT_EQ(rs->OriginalRowValues()[1].Str(), "one");

    rs->MoveLast();
    rs->MoveNext();  // EOF: no current row
    EXPECT_EQ(ErrorOf([&] { rs->FieldValueRef(0); }), err::NoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { rs->FieldOriginalValueRef(0); }), err::NoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { rs->CurrentRowValues(); }), err::NoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { rs->OriginalRowValues(); }), err::NoCurrentRecord);

    rs->Close();
    EXPECT_EQ(ErrorOf([&] { rs->CurrentRowValues(); }), err::ObjectClosed);
    EXPECT_EQ(ErrorOf([&] { rs->FieldValueRef(0); }), err::ObjectClosed);
}
