// Editing in batch-optimistic and immediate modes: statuses, edit modes,
// original values, the pending filter, batches and clones.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "AdoTestUtil.h"

using namespace ado;
using adotest::AllIds;
using adotest::ErrorOf;
using adotest::MakeRecordset;

namespace {

RecordsetPtr ThreeRows(LockTypeEnum lock = adLockBatchOptimistic) {
    return MakeRecordset({{1, "one", 1.5}, {2, "two", 2.5}, {3, "three", -1}}, lock);
}

void GoTo(const RecordsetPtr& rs, int32_t id) {
    rs->Find("ID = " + std::to_string(id), 0, adSearchForward, rt::Variant(int32_t{adBookmarkFirst}));
    ASSERT_FALSE(rs->get_EOF()) << "no row " << id;
}

class Writer : public rt::Object, public PendingRowWriter {
public:
    void WritePendingRows(Recordset&, const std::vector<PendingRow>& rows) override {
        ++calls;
        seen = rows;
        if (fail) throw rt::ComError(-2147467259, "db", "write failed");
    }
    int calls = 0;
    bool fail = false;
    std::vector<PendingRow> seen;
};

}  // namespace

TEST(RecordsetBatchEdit, ChangedRowKeepsOriginalUntilTheBatchIsWritten) {
    auto rs = ThreeRows();
    GoTo(rs, 2);
    EXPECT_EQ(rs->get_Status(), adRecUnmodified);
    EXPECT_EQ(rs->get_EditMode(), adEditNone);
    auto name = rs->get_Fields()->Item("name");  // names ignore case
    name->put_Value(rt::Variant("TWO"));
    EXPECT_EQ(rs->get_EditMode(), adEditInProgress);
    EXPECT_EQ(rt::CStr(name->get_OriginalValue()), "two");
    rs->Update();
    EXPECT_EQ(rs->get_Status(), adRecModified);
    // A row with a pending change keeps reporting it as in edit.
    EXPECT_EQ(rs->get_EditMode(), adEditInProgress);
    EXPECT_EQ(rt::CStr(name->get_Value()), "TWO");
    EXPECT_EQ(rt::CStr(name->get_OriginalValue()), "two");
    EXPECT_EQ(rt::CStr(name->get_UnderlyingValue()), "two");

    rs->put_Filter(rt::Variant(int32_t{adFilterPendingRecords}));
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{2}));
    rs->put_Filter(rt::Variant(int32_t{adFilterNone}));

    rs->UpdateBatch();
    GoTo(rs, 2);
    EXPECT_EQ(rs->get_Status(), adRecUnmodified);
    EXPECT_EQ(rs->get_EditMode(), adEditNone);
    EXPECT_EQ(rt::CStr(name->get_OriginalValue()), "TWO");
    EXPECT_TRUE(rs->PendingRows().empty());
}

TEST(RecordsetBatchEdit, DeletedRowIsHiddenButReadableUnderThePendingFilter) {
    auto rs = ThreeRows();
    GoTo(rs, 2);
    rs->SetValue("VAL", rt::Variant(9.0));
    rs->Update();
    rs->Delete(adAffectCurrent);
    // The deleted row stays current until the cursor moves.
    EXPECT_EQ(rs->get_EditMode(), adEditDelete);
    EXPECT_EQ(ErrorOf([&] { rs->GetValue("ID"); }), err::RowDeleted);
    rs->MoveNext();
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 3);  // the next row, none skipped
    EXPECT_EQ(rs->get_RecordCount(), 2);
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{1, 3}));

    rs->put_Filter(rt::Variant(int32_t{adFilterPendingRecords}));
    ASSERT_EQ(rs->get_RecordCount(), 1);
    EXPECT_EQ(rs->get_Status(), adRecDeleted);
    EXPECT_EQ(rs->get_EditMode(), adEditDelete);
    auto fields = rs->get_Fields();
    EXPECT_EQ(rt::CLng(fields->Item("ID")->get_OriginalValue()), 2);
    // The value as fetched, not the change made before the delete.
    EXPECT_DOUBLE_EQ(rt::CDbl(fields->Item("VAL")->get_OriginalValue()), 2.5);
    EXPECT_EQ(ErrorOf([&] { fields->Item("VAL")->get_Value(); }), err::RowDeleted);

    auto pending = rs->PendingRows();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].status, adRecDeleted);
    EXPECT_DOUBLE_EQ(rt::CDbl(pending[0].current[2]), 2.5);

    rs->CancelBatch();
    rs->put_Filter(rt::Variant(int32_t{adFilterNone}));
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{1, 2, 3}));
    GoTo(rs, 2);
    EXPECT_DOUBLE_EQ(rt::CDbl(rs->GetValue("VAL")), 2.5);
    EXPECT_EQ(rs->get_Status(), adRecUnmodified);
}

TEST(RecordsetBatchEdit, RowAddedThenDeletedVanishesEntirely) {
    auto rs = ThreeRows();
    rs->AddNew();
    EXPECT_EQ(rs->get_EditMode(), adEditAdd);
    EXPECT_EQ(rs->get_Status(), adRecNew);
    rs->SetValue("ID", rt::Variant(int32_t{4}));
    rs->Update();
    EXPECT_EQ(rs->get_EditMode(), adEditAdd);
    EXPECT_EQ(rs->get_RecordCount(), 4);
    EXPECT_TRUE(rs->get_Fields()->Item("ID")->get_OriginalValue().IsNull());
    rs->Delete();
    rs->put_Filter(rt::Variant(int32_t{adFilterPendingRecords}));
    EXPECT_TRUE(rs->get_BOF() && rs->get_EOF());
    EXPECT_TRUE(rs->PendingRows().empty());
    rs->put_Filter(rt::Variant(int32_t{adFilterNone}));
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{1, 2, 3}));
}

TEST(RecordsetBatchEdit, StatusTransitionsOfEveryKindOfRowThroughUpdateBatch) {
    auto rs = ThreeRows();
    GoTo(rs, 1);
    rs->SetValue("NAME", rt::Variant("uno"));
    rs->MoveNext();  // implicit Update on the move
    GoTo(rs, 1);
    EXPECT_EQ(rs->get_Status(), adRecModified);
    GoTo(rs, 3);
    rs->Delete();
    rs->AddNew();
    rs->SetValue("ID", rt::Variant(int32_t{7}));
    rs->AddNew();  // implicit Update of the first new row
    rs->SetValue("ID", rt::Variant(int32_t{8}));
    rs->Update();

    auto pending = rs->PendingRows();
    ASSERT_EQ(pending.size(), 4u);
    EXPECT_EQ(pending[0].status, adRecModified);
    EXPECT_EQ(pending[1].status, adRecDeleted);
    EXPECT_EQ(pending[2].status, adRecNew);
    EXPECT_EQ(rt::CLng(pending[2].current[0]), 7);
    EXPECT_EQ(pending[3].status, adRecNew);
    EXPECT_TRUE(pending[3].original[0].IsNull());

    auto writer = std::make_shared<Writer>();
    rs->putref_ActiveConnection(writer);
    writer->fail = true;
    EXPECT_EQ(ErrorOf([&] { rs->UpdateBatch(); }), -2147467259);
    EXPECT_EQ(rs->PendingRows().size(), 4u);  // nothing accepted on failure
    writer->fail = false;
    rs->UpdateBatch();
    EXPECT_EQ(writer->calls, 2);
    EXPECT_EQ(writer->seen.size(), 4u);
    EXPECT_TRUE(rs->PendingRows().empty());
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{1, 2, 7, 8}));
    // The rows written by the last batch are the affected ones.
    rs->put_Filter(rt::Variant(int32_t{adFilterAffectedRecords}));
    EXPECT_EQ(rs->get_RecordCount(), 3);
}

TEST(RecordsetBatchEdit, MarkWrittenAcceptsOnlyTheNamedRows) {
    auto rs = ThreeRows();
    GoTo(rs, 1);
    rs->SetValue("VAL", rt::Variant(5.0));
    rs->Update();
    rt::Variant first = rs->get_Bookmark();
    GoTo(rs, 2);
    rs->SetValue("VAL", rt::Variant(6.0));
    rs->Update();
    rs->MarkWritten({first});
    auto pending = rs->PendingRows();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(rt::CLng(pending[0].current[0]), 2);
}

TEST(RecordsetBatchEdit, CancelUpdateRestoresValuesAndPosition) {
    auto rs = ThreeRows();
    GoTo(rs, 2);
    rs->SetValue("NAME", rt::Variant("x"));
    rs->CancelUpdate();
    EXPECT_EQ(rt::CStr(rs->GetValue("NAME")), "two");
    EXPECT_EQ(rs->get_Status(), adRecUnmodified);
    EXPECT_EQ(rs->get_EditMode(), adEditNone);
    EXPECT_TRUE(rs->PendingRows().empty());

    rs->AddNew();
    rs->SetValue("ID", rt::Variant(int32_t{9}));
    rs->CancelUpdate();
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 2);  // back on the row current before AddNew
    EXPECT_EQ(rs->get_RecordCount(), 3);
    EXPECT_TRUE(rs->PendingRows().empty());
}

TEST(RecordsetBatchEdit, AddNewWithFieldListsAddsAFinishedRow) {
    auto rs = ThreeRows();
    rs->AddNew(rt::Variant("ID"), rt::Variant("10"));
    EXPECT_EQ(rs->GetValue("ID").Type(), rt::vbLong);  // converted to the field's type
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 10);
    rs->AddNew(rt::Variant::ArrayOf({rt::Variant("ID"), rt::Variant("NAME")}),
               rt::Variant::ArrayOf({rt::Variant(int32_t{11}), rt::Variant("eleven")}));
    EXPECT_EQ(rt::CStr(rs->GetValue("NAME")), "eleven");
    EXPECT_EQ(rs->get_Status(), adRecNew);
    EXPECT_EQ(rs->PendingRows().size(), 2u);
    EXPECT_EQ(ErrorOf([&] { rs->AddNew(rt::Variant("NOPE"), rt::Variant(int32_t{1})); }), err::ItemNotFound);
    EXPECT_EQ(rs->PendingRows().size(), 2u);
}

TEST(RecordsetBatchEdit, ValueOfTheWrongTypeIsRefusedAndNothingChanges) {
    auto rs = ThreeRows();
    EXPECT_EQ(ErrorOf([&] { rs->SetValue("ID", rt::Variant("abc")); }), err::DataConversion);
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 1);
    EXPECT_EQ(rs->get_EditMode(), adEditNone);
    rs->SetValue("VAL", rt::Variant("2.25"));
    EXPECT_EQ(rs->GetValue("VAL").Type(), rt::vbDouble);
    rs->SetValue("VAL", rt::Variant::Null());
    EXPECT_TRUE(rs->GetValue("VAL").IsNull());
}

TEST(RecordsetBatchEdit, DeletingTheOnlyVisibleRowThenMovingBackReachesBof) {
    auto rs = ThreeRows();
    rs->put_Filter(rt::Variant("ID = 2"));
    rs->Delete();
    EXPECT_FALSE(rs->get_BOF());
    rs->MovePrevious();
    EXPECT_TRUE(rs->get_BOF());
    EXPECT_TRUE(rs->get_EOF());
}

TEST(RecordsetBatchEdit, DeleteGroupDeletesEveryVisibleRow) {
    auto rs = ThreeRows();
    rs->put_Filter(rt::Variant("VAL <> Null"));
    rs->Delete(adAffectGroup);
    rs->put_Filter(rt::Variant(int32_t{adFilterNone}));
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{3}));
}

TEST(RecordsetImmediateEdit, OptimisticLockCommitsAtUpdateAndDeletesAtOnce) {
    auto rs = ThreeRows(adLockOptimistic);
    GoTo(rs, 1);
    rs->SetValue("NAME", rt::Variant("uno"));
    EXPECT_EQ(rs->get_EditMode(), adEditInProgress);
    rs->Update();
    EXPECT_EQ(rs->get_Status(), adRecUnmodified);
    EXPECT_EQ(rs->get_EditMode(), adEditNone);
    EXPECT_EQ(rt::CStr(rs->get_Fields()->Item("NAME")->get_OriginalValue()), "uno");
    rs->Delete();
    rs->put_Filter(rt::Variant(int32_t{adFilterPendingRecords}));
    EXPECT_EQ(rs->get_RecordCount(), 0);
    rs->put_Filter(rt::Variant(int32_t{adFilterNone}));
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{2, 3}));
}

TEST(RecordsetClone, ReadOnlyCloneRefusesEveryWrite) {
    auto rs = ThreeRows();
    auto ro = rs->Clone(adLockReadOnly);
    EXPECT_EQ(ro->get_LockType(), adLockReadOnly);
    EXPECT_EQ(ErrorOf([&] { ro->SetValue("NAME", rt::Variant("x")); }), err::NotSupported);
    EXPECT_EQ(ErrorOf([&] { ro->AddNew(); }), err::NotSupported);
    EXPECT_EQ(ErrorOf([&] { ro->Delete(); }), err::NotSupported);
    EXPECT_EQ(rs->get_RecordCount(), 3);
    EXPECT_TRUE(rs->PendingRows().empty());
    // -1 keeps the source's locking; the source stays writable.
    auto same = rs->Clone(adLockUnspecified);
    EXPECT_EQ(same->get_LockType(), adLockBatchOptimistic);
    same->Delete();
    EXPECT_EQ(rs->get_RecordCount(), 2);
    EXPECT_EQ(ErrorOf([&] { rs->Clone(adLockOptimistic); }), err::InvalidArgument);
}

TEST(RecordsetClone, CloneFiltersAndSortsIndependently) {
    auto rs = ThreeRows();
    auto a = rs->Clone();
    auto b = rs->Clone();
    a->put_Filter(rt::Variant("ID <= 2"));
    b->put_Sort("ID DESC");
    EXPECT_EQ(AllIds(a), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(AllIds(b), (std::vector<int32_t>{3, 2, 1}));
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(a->get_Source(), "TEST_TABLE");
    // The text itself is shared until a clone is given its own.
    EXPECT_EQ(&a->get_Source(), &rs->get_Source());
    b->put_Source("OTHER");
    EXPECT_EQ(rs->get_Source(), "TEST_TABLE");
    // A row deleted through one clone disappears from the others.
    GoTo(b, 2);
    b->Delete();
    EXPECT_EQ(AllIds(a), (std::vector<int32_t>{1}));
    EXPECT_EQ(rs->get_RecordCount(), 2);
}

TEST(FabricatedRecordset, AppendedFieldsDescribeThemselves) {
    auto rs = Recordset::Create();
    auto fields = rs->get_Fields();
    fields->Append("ErrorDescription", adVarWChar, 500, adFldUnspecified);
    fields->Append("QTX_FNO", adInteger, 0, adFldUnspecified);
    EXPECT_EQ(ErrorOf([&] { fields->Append("qtx_fno", adInteger); }), err::ObjectInCollection);
    EXPECT_EQ(fields->get_Count(), 2);
    auto desc = fields->Item("ERRORDESCRIPTION");
    EXPECT_EQ(desc->get_Type(), adVarWChar);
    EXPECT_EQ(desc->get_DefinedSize(), 500);
    EXPECT_EQ(fields->Item(int32_t{1})->get_DefinedSize(), 4);
    EXPECT_EQ(ErrorOf([&] { fields->get_Item(rt::Variant("nope")); }), err::ItemNotFound);
    EXPECT_EQ(ErrorOf([&] { fields->get_Item(rt::Variant(int32_t{2})); }), err::ItemNotFound);
    rs->Open();
    EXPECT_EQ(rs->get_State(), adStateOpen);
    EXPECT_EQ(rs->get_LockType(), adLockBatchOptimistic);
    EXPECT_TRUE(rs->get_BOF() && rs->get_EOF());
    EXPECT_EQ(ErrorOf([&] { fields->Append("more", adInteger); }), err::IllegalOperation);
    rs->AddNew();
    desc->put_Value(rt::Variant("text"));
    rs->get_Fields()->Item("QTX_FNO")->put_Value(rt::Variant("12"));
    rs->Update();
    EXPECT_EQ(rs->GetValue(rt::Variant(int32_t{1})).I4(), 12);
    EXPECT_EQ(rs->get_RecordCount(), 1);
    rs->Close();
    EXPECT_EQ(rs->get_State(), adStateClosed);
    EXPECT_EQ(ErrorOf([&] { rs->get_RecordCount(); }), err::ObjectClosed);
    EXPECT_EQ(ErrorOf([&] { desc->get_Value(); }), err::ObjectNotSet);
}

TEST(FabricatedRecordset, OpenWithoutFieldsIsRefused) {
    auto rs = Recordset::Create();
    EXPECT_EQ(ErrorOf([&] { rs->Open(); }), err::InvalidConnection);
    EXPECT_EQ(rs->get_State(), adStateClosed);
}

TEST(FabricatedRecordset, CopyOfAnotherRecordsetHasOnlyPendingAdditions) {
    auto source = ThreeRows();
    auto copy = Recordset::Create();
    auto srcFields = source->get_Fields();
    for (int32_t i = 0; i < srcFields->get_Count(); ++i) {
        auto f = srcFields->Item(i);
        copy->get_Fields()->Append(f->get_Name(), f->get_Type(), f->get_DefinedSize(), f->get_Attributes());
        copy->get_Fields()->Item(i)->put_Precision(f->get_Precision());
    }
    copy->Open();
    source->MoveFirst();
    while (!source->get_EOF()) {
        copy->AddNew();
        for (int32_t i = 0; i < srcFields->get_Count(); ++i)
            copy->get_Fields()->Item(i)->put_Value(srcFields->Item(i)->get_Value());
        source->MoveNext();
    }
    copy->Update();
    EXPECT_EQ(copy->get_Fields()->Item("ID")->get_Precision(), 10);
    copy->put_Filter(rt::Variant(int32_t{adFilterPendingRecords}));
    EXPECT_EQ(AllIds(copy), (std::vector<int32_t>{1, 2, 3}));
    copy->MoveFirst();
    EXPECT_EQ(copy->get_Status(), adRecNew);
}

TEST(RecordsetBatchEdit, UpdateWithFieldListsAndCancelBatchOfAddedRows) {
    auto rs = ThreeRows();
    GoTo(rs, 3);
    rs->Update(rt::Variant::ArrayOf({rt::Variant("NAME"), rt::Variant("VAL")}),
               rt::Variant::ArrayOf({rt::Variant("drei"), rt::Variant(int32_t{3})}));
    EXPECT_EQ(rs->get_Status(), adRecModified);
    EXPECT_DOUBLE_EQ(rt::CDbl(rs->GetValue("VAL")), 3.0);
    rs->AddNew(rt::Variant("ID"), rt::Variant(int32_t{4}));
    rs->AddNew(rt::Variant("ID"), rt::Variant(int32_t{5}));
    EXPECT_EQ(rs->get_RecordCount(), 5);
    rs->CancelBatch();
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{1, 2, 3}));
    GoTo(rs, 3);
    EXPECT_TRUE(rs->GetValue("VAL").IsNull());
    EXPECT_EQ(rt::CStr(rs->GetValue("NAME")), "three");
    EXPECT_TRUE(rs->PendingRows().empty());
}

TEST(RecordsetBatchEdit, PendingFilterListsRowsInStoreOrderWhateverTheirKind) {
    auto rs = ThreeRows();
    rs->AddNew(rt::Variant("ID"), rt::Variant(int32_t{4}));
    GoTo(rs, 3);
    rs->SetValue("NAME", rt::Variant("x"));
    GoTo(rs, 1);  // the move updates row 3
    rs->Delete();
    auto pending = rs->Clone();
    pending->put_Filter(rt::Variant(int32_t{adFilterPendingRecords}));
    std::vector<int32_t> statuses;
    pending->MoveFirst();
    while (!pending->get_EOF()) {
        statuses.push_back(pending->get_Status());
        pending->MoveNext();
    }
    EXPECT_EQ(statuses, (std::vector<int32_t>{adRecDeleted, adRecModified, adRecNew}));
    // Changes made after the filter was set show up as well.
    GoTo(rs, 2);
    rs->SetValue("VAL", rt::Variant(0.0));
    rs->Update();
    EXPECT_EQ(pending->get_RecordCount(), 4);
}

TEST(RecordsetBatchEdit, RowsAddedThroughAnotherCloneJoinAMatchingFilter) {
    auto rs = ThreeRows();
    auto view = rs->Clone();
    view->put_Filter(rt::Variant("ID >= 3"));
    rs->AddNew(rt::Variant::ArrayOf({rt::Variant("ID")}), rt::Variant::ArrayOf({rt::Variant(int32_t{8})}));
    rs->AddNew(rt::Variant::ArrayOf({rt::Variant("ID")}), rt::Variant::ArrayOf({rt::Variant(int32_t{0})}));
    EXPECT_EQ(AllIds(view), (std::vector<int32_t>{3, 8}));
}

TEST(RecordsetImmediateEdit, AddNewCommitsAtUpdateInOptimisticMode) {
    auto rs = ThreeRows(adLockOptimistic);
    rs->AddNew();
    EXPECT_EQ(rs->get_Status(), adRecNew);
    rs->SetValue("ID", rt::Variant(int32_t{4}));
    rs->Update();
    EXPECT_EQ(rs->get_Status(), adRecUnmodified);
    EXPECT_EQ(rs->get_EditMode(), adEditNone);
    EXPECT_TRUE(rs->PendingRows().empty());
    EXPECT_EQ(rs->get_RecordCount(), 4);
}

TEST(FabricatedRecordset, FieldsCanBeDeletedBeforeOpen) {
    auto rs = Recordset::Create();
    auto fields = rs->get_Fields();
    fields->Append("A", adInteger);
    fields->Append("B", adVarWChar, 10);
    fields->Append("C", adDate);
    fields->Delete(rt::Variant("b"));
    ASSERT_EQ(fields->get_Count(), 2);
    EXPECT_EQ(fields->Item(int32_t{1})->get_Name(), "C");
    EXPECT_EQ(ErrorOf([&] { fields->Delete(rt::Variant("B")); }), err::ItemNotFound);
    rs->Open();
    EXPECT_EQ(ErrorOf([&] { fields->Delete(rt::Variant("A")); }), err::IllegalOperation);
    rs->AddNew();
    rs->SetValue("C", rt::Variant("2024-05-06"));
    EXPECT_EQ(rs->GetValue("C").Type(), rt::vbDate);
    EXPECT_EQ(ErrorOf([&] { rs->SetValue("C", rt::Variant("not a date")); }), err::DataConversion);
}

TEST(RecordsetState, StatusAndBookmarkNeedACurrentRow) {
    auto rs = ThreeRows();
    rs->MoveLast();
    rs->MoveNext();
    EXPECT_EQ(ErrorOf([&] { rs->get_Status(); }), err::NoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { rs->Delete(); }), err::NoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { rs->SetValue("ID", rt::Variant(int32_t{1})); }), err::NoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { rs->get_EditMode(); }), err::NoCurrentRecord);
}

TEST(RecordsetAppendRow, AddsWhatAddNewAndAssignmentsWouldAdd) {
    // A text that is a number, an Empty and a double, taken in another order.
    const std::vector<rt::Variant> values{rt::Variant(2.25), rt::Variant("7"), rt::Variant()};
    const std::vector<int32_t> from{1, 2, 0};
    for (LockTypeEnum lock : {adLockBatchOptimistic, adLockOptimistic}) {
        SCOPED_TRACE(lock);
        auto edited = ThreeRows(lock);
        auto appended = ThreeRows(lock);
        edited->AddNew();
        for (int32_t i = 0; i < 3; ++i) edited->SetValue(rt::Variant(i), values[static_cast<size_t>(from[i])]);
        edited->Update();
        appended->AppendRow(values.data(), from);

        for (const auto& rs : {edited, appended}) {
            EXPECT_EQ(rs->get_Status(), edited->get_Status());
            EXPECT_EQ(rs->get_EditMode(), edited->get_EditMode());
            EXPECT_EQ(rs->get_RecordCount(), 4);
            EXPECT_EQ(rs->PendingRows().size(), edited->PendingRows().size());
        }
        for (int32_t i = 0; i < 3; ++i) {
            const rt::Variant a = appended->GetValue(rt::Variant(i)), e = edited->GetValue(rt::Variant(i));
            EXPECT_EQ(a.Type(), e.Type()) << i;
            EXPECT_TRUE(a.IsNull() ? e.IsNull() : rt::VariantEquals(a, e)) << i;
        }
        EXPECT_EQ(AllIds(appended), (std::vector<int32_t>{1, 2, 3, 7}));
    }
}

TEST(RecordsetAppendRow, IsRefusedWhereEventsWouldBeSkippedAndEndsAnEditFirst) {
    const std::vector<rt::Variant> values{rt::Variant(int32_t{9}), rt::Variant("nine"), rt::Variant(9.0)};
    const std::vector<int32_t> all{0, 1, 2};
    auto watched = ThreeRows();
    auto sink = std::make_shared<RecordsetEvents>();
    watched->Advise(sink);
    EXPECT_EQ(ErrorOf([&] { watched->AppendRow(values.data(), all); }), err::IllegalOperation);

    // As AddNew does, the edit in progress is ended first.
    auto editing = ThreeRows();
    editing->MoveFirst();
    editing->SetValue("NAME", rt::Variant("ONE"));
    editing->AppendRow(values.data(), all);
    EXPECT_EQ(editing->get_RecordCount(), 4);
    editing->MoveFirst();
    EXPECT_EQ(editing->get_Status(), adRecModified);
    EXPECT_EQ(rt::CStr(editing->GetValue("NAME")), "ONE");

    auto plain = ThreeRows();
    EXPECT_EQ(ErrorOf([&] { plain->AppendRow(values.data(), {0, 1}); }), err::InvalidArgument);
    // A value the field cannot hold adds no row.
    const std::vector<rt::Variant> bad{rt::Variant("not a number"), rt::Variant("x"), rt::Variant(1.0)};
    EXPECT_EQ(ErrorOf([&] { plain->AppendRow(bad.data(), all); }), err::DataConversion);
    for (const auto& rs : {watched, plain}) EXPECT_EQ(rs->get_RecordCount(), 3);
}

TEST(RecordsetAppendRows, AddsWhatAppendRowAddsRowByRow) {
    const std::vector<std::vector<rt::Variant>> rows{{rt::Variant(2.25), rt::Variant("7"), rt::Variant()},
                                                     {rt::Variant(-1.0), rt::Variant("8"), rt::Variant("eight")}};
    const std::vector<int32_t> from{1, 2, 0};
    for (LockTypeEnum lock : {adLockBatchOptimistic, adLockOptimistic}) {
        SCOPED_TRACE(lock);
        auto one = ThreeRows(lock), all = ThreeRows(lock);
        // A filter on a field keeps an index that the added rows enter.
        for (const auto& rs : {one, all}) rs->put_Filter(rt::Variant("ID > 1"));
        for (const auto& row : rows) one->AppendRow(row.data(), from);
        all->AppendRows({rows[0].data(), rows[1].data()}, from);

        EXPECT_EQ(all->get_Status(), one->get_Status());
        EXPECT_EQ(all->PendingRows().size(), one->PendingRows().size());
        EXPECT_EQ(rt::CStr(all->GetValue(rt::Variant(int32_t{0}))), rt::CStr(one->GetValue(rt::Variant(int32_t{0}))));
        for (const auto& rs : {one, all}) rs->put_Filter(rt::Variant("ID = 8"));
        EXPECT_EQ(all->get_RecordCount(), one->get_RecordCount());
        for (const auto& rs : {one, all}) rs->put_Filter(rt::Variant(int32_t{adFilterNone}));
        EXPECT_EQ(AllIds(all), AllIds(one));
        for (const auto& rs : {one, all}) rs->MoveLast();
        for (int32_t i = 0; i < 3; ++i) {
            const rt::Variant a = all->GetValue(rt::Variant(i)), o = one->GetValue(rt::Variant(i));
            EXPECT_EQ(a.Type(), o.Type()) << i;
            EXPECT_TRUE(a.IsNull() ? o.IsNull() : rt::VariantEquals(a, o)) << i;
        }
    }
}

TEST(RecordsetAppendRows, AValueThatDoesNotFitRaisesAfterTheRowsBeforeIt) {
    const std::vector<int32_t> all{0, 1, 2};
    const std::vector<rt::Variant> good{rt::Variant(int32_t{9}), rt::Variant("nine"), rt::Variant(9.0)};
    const std::vector<rt::Variant> bad{rt::Variant("not a number"), rt::Variant("x"), rt::Variant(1.0)};
    struct Case {
        std::vector<const rt::Variant*> rows;
        int32_t count;
    };
    for (const Case& c : {Case{{bad.data(), good.data()}, 3}, Case{{good.data(), bad.data(), good.data()}, 4}}) {
        auto rs = ThreeRows();
        EXPECT_EQ(ErrorOf([&] { rs->AppendRows(c.rows, all); }), err::DataConversion);
        EXPECT_EQ(rs->get_RecordCount(), c.count);
    }
    auto watched = ThreeRows();
    watched->Advise(std::make_shared<RecordsetEvents>());
    EXPECT_EQ(ErrorOf([&] { watched->AppendRows({good.data()}, all); }), err::IllegalOperation);
}

namespace {
// Each row's status and values, in the order the recordset shows them.
void ExpectSameRows(const RecordsetPtr& a, const RecordsetPtr& b) {
    ASSERT_EQ(AllIds(a), AllIds(b));
    for (a->MoveFirst(), b->MoveFirst(); !a->get_EOF(); a->MoveNext(), b->MoveNext()) {
        EXPECT_EQ(a->get_Status(), b->get_Status());
        for (int32_t i = 0; i < a->FieldCount(); ++i) {
            const rt::Variant x = a->GetValue(rt::Variant(i)), y = b->GetValue(rt::Variant(i));
            EXPECT_EQ(x.Type(), y.Type()) << i;
            EXPECT_TRUE(x.IsNull() ? y.IsNull() : rt::VariantEquals(x, y)) << i;
        }
    }
}

std::vector<const rt::Variant*> ShownRows(const RecordsetPtr& rs) {
    std::vector<const rt::Variant*> rows;
    for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) rows.push_back(rs->CurrentRowValues());
    return rows;
}
}  // namespace

TEST(RecordsetAppendRowsOf, AddsWhatAppendRowsAddsAndLeavesTheSourceToWhoeverStillReadsIt) {
    const std::vector<int32_t> all{0, 1, 2};
    struct Case {
        const char* what;
        bool callerKeepsIt, cloned;
        const char* sort;
    };
    for (const Case& c : {Case{"the call alone holds it", false, false, ""}, Case{"the caller too", true, false, ""},
                          Case{"a clone shares its rows", false, true, ""},
                          Case{"its rows shown in another order", false, false, "ID DESC"}}) {
        SCOPED_TRACE(c.what);
        auto source = ThreeRows(), reference = ThreeRows();
        source->put_Sort(c.sort);
        reference->put_Sort(c.sort);
        auto expected = MakeRecordset({}), taken = MakeRecordset({});
        expected->AppendRows(ShownRows(reference), all);
        const RecordsetPtr kept = c.callerKeepsIt ? source : nullptr;
        const RecordsetPtr clone = c.cloned ? source->Clone() : nullptr;
        const auto rows = ShownRows(source);
        taken->AppendRowsOf(std::move(source), rows, all);
        ExpectSameRows(taken, expected);
        EXPECT_EQ(taken->PendingRows().size(), expected->PendingRows().size());
        for (const auto& other : {kept, clone})
            if (other) ExpectSameRows(other, reference);
    }
}

TEST(RecordsetAppendRowsOf, AValueThatDoesNotFitRaisesAfterTheRowsBeforeIt) {
    const std::vector<int32_t> all{0, 1, 2};
    for (size_t bad : {0, 1, 2}) {
        SCOPED_TRACE(bad);
        ado::RecordsetImage image = adotest::MakeImage({{1, "one", 1.5}, {2, "two", 2.5}, {3, "three", 3.5}});
        image.values[bad * 3 + 2] = rt::Variant("not a number");
        auto source = Recordset::FromImage(image);
        auto taken = MakeRecordset({});
        const auto rows = ShownRows(source);
        EXPECT_EQ(ErrorOf([&] { taken->AppendRowsOf(std::move(source), rows, all); }), err::DataConversion);
        EXPECT_EQ(taken->get_RecordCount(), static_cast<int32_t>(bad));
    }
}

TEST(RecordsetPendingChanges, SaysWhetherAnythingIsLeftToWriteOrFinish) {
    struct Case {
        const char* what;
        std::function<void(const RecordsetPtr&)> act;
        bool pending;
    };
    const Case cases[] = {
        {"as fetched", [](const RecordsetPtr&) {}, false},
        {"a value changed", [](const RecordsetPtr& rs) {
             rs->SetValue("NAME", rt::Variant("ONE"));
             rs->Update();
         }, true},
        {"an addition not yet ended", [](const RecordsetPtr& rs) { rs->AddNew(); }, true},
        {"a row deleted", [](const RecordsetPtr& rs) { rs->Delete(adAffectCurrent); }, true},
        {"a row added and written", [](const RecordsetPtr& rs) {
             rs->AddNew();
             rs->SetValue("ID", rt::Variant(int32_t{4}));
             rs->Update();
             rs->MarkAllWritten();
         }, false},
        {"closed", [](const RecordsetPtr& rs) { rs->Close(); }, true},
    };
    for (const Case& c : cases) {
        auto rs = ThreeRows();
        auto clone = rs->Clone();
        rs->MoveFirst();
        c.act(rs);
        EXPECT_EQ(rs->HasPendingChanges(), c.pending) << c.what;
        // A clone shares the rows, not the edit in progress.
        if (rs->get_State() == adStateOpen && rs->get_EditMode() == adEditNone) {
            EXPECT_EQ(clone->HasPendingChanges(), c.pending) << c.what;
        }
    }
}

TEST(RecordsetFields, ANameFindsTheFirstFieldOfItWhateverItsCase) {
    // Few fields and many: both ways of finding a name.
    for (int width : {3, 40}) {
        ado::RecordsetImage image;
        for (int i = 0; i < width; ++i)
            image.fields.push_back(ado::FieldDesc{"Field" + std::to_string(i), adInteger, 4, 10, 0, adFldFixed, "T", ""});
        image.fields.push_back(ado::FieldDesc{"FIELD1", adInteger, 4, 10, 0, adFldFixed, "T", ""});
        auto rs = Recordset::FromImage(image, adLockBatchOptimistic, adOpenKeyset);
        for (const auto& [name, index] : std::vector<std::pair<std::string, int32_t>>{
                 {"field1", 1}, {"FIELD1", 1}, {"Field0", 0}, {"FIELD" + std::to_string(width - 1), width - 1},
                 {"Field1 ", -1}, {"Field", -1}, {"", -1}}) {
            EXPECT_EQ(rs->FieldIndex(name), index) << width << " " << name;
        }
    }
}

TEST(RecordsetValues, ByIndexAsThroughTheFieldsCollection) {
    // What GetValue and SetValue take for a field, against the collection's Item.
    const std::vector<rt::Variant> indices{rt::Variant("name"), rt::Variant("NAME"), rt::Variant(int32_t{2}),
                                           rt::Variant(1.5),    rt::Variant(2.5),    rt::Variant("MISSING"),
                                           rt::Variant(int32_t{3}), rt::Variant(-0.6), rt::Variant(true)};
    for (const auto& index : indices) {
        SCOPED_TRACE(rt::CStr(index));
        auto direct = ThreeRows(), through = ThreeRows();
        for (const auto& rs : {direct, through}) rs->MoveFirst();
        const int32_t expected = ErrorOf([&] { through->get_Fields()->get_Item(index)->get_Value(); });
        EXPECT_EQ(ErrorOf([&] { direct->GetValue(index); }), expected);
        if (expected != 0) {
            EXPECT_EQ(ErrorOf([&] { direct->SetValue(index, rt::Variant("7")); }), expected);
            continue;
        }
        EXPECT_TRUE(rt::VariantEquals(direct->GetValue(index), through->get_Fields()->get_Item(index)->get_Value()));
        direct->SetValue(index, rt::Variant("7"));
        through->get_Fields()->get_Item(index)->put_Value(rt::Variant("7"));
        EXPECT_EQ(rt::CStr(direct->GetValue(index)), rt::CStr(through->GetValue(index)));
        EXPECT_EQ(direct->get_EditMode(), through->get_EditMode());
    }
    // Fields need the recordset held by a shared pointer; so do the values.
    Recordset unshared;
    EXPECT_EQ(ErrorOf([&] { unshared.GetValue(rt::Variant(int32_t{0})); }), err::IllegalOperation);
    EXPECT_EQ(ErrorOf([&] { unshared.get_Fields(); }), err::IllegalOperation);
}

TEST(RecordsetCloneEdit, EachMemberOfTheFamilyKeepsItsOwnEditUntilItsUpdate) {
    // What a recordset reads of row 1 (not shown: gone from its view).
    struct Seen {
        bool shown;
        std::string name;
        double val;
    };
    const auto seen = [](const RecordsetPtr& rs) -> Seen {
        rt::Variant at;
        if (ErrorOf([&] { at = rs->get_Bookmark(); }) != 0 || rt::CDbl(at) != 1.0) {
            rs->Find("ID = 1", 0, adSearchForward, rt::Variant(int32_t{adBookmarkFirst}));
            if (rs->get_EOF()) return {false, "", 0};
        }
        rt::Variant name, val;
        if (ErrorOf([&] { name = rs->GetValue("NAME"); val = rs->GetValue("VAL"); }) != 0) return {false, "", 0};
        return {true, rt::CStr(name), rt::CDbl(val)};
    };
    using Act = std::function<void(const RecordsetPtr&, const RecordsetPtr&)>;
    const auto val99 = [](const RecordsetPtr& rs) { rs->SetValue("VAL", rt::Variant(99.0)); };
    const auto nameONE = [](const RecordsetPtr& rs) { rs->SetValue("NAME", rt::Variant("ONE")); };
    struct Case {
        const char* what;
        Act act;  // on the source a and its clone b, both standing on row 1 ("one", 1.5)
        Seen a, b, later;  // what a, b (unless closed) and a clone made afterwards read
        EditModeEnum aMode;
    };
    const Case cases[] = {
        {"b assigns, a reads", [&](auto&, auto& b) { val99(b); },
         {true, "one", 1.5}, {true, "one", 99}, {true, "one", 1.5}, adEditNone},
        {"b assigns and updates", [&](auto&, auto& b) { val99(b); b->Update(); },
         {true, "one", 99}, {true, "one", 99}, {true, "one", 99}, adEditInProgress},
        {"b cancels after a updated", [&](auto& a, auto& b) { val99(b); nameONE(a); a->Update(); b->CancelUpdate(); },
         {true, "ONE", 1.5}, {true, "ONE", 1.5}, {true, "ONE", 1.5}, adEditInProgress},
        {"both update their own fields", [&](auto& a, auto& b) { val99(b); nameONE(a); a->Update(); b->Update(); },
         {true, "ONE", 99}, {true, "ONE", 99}, {true, "ONE", 99}, adEditInProgress},
        {"a cancels after b updated", [&](auto& a, auto& b) { nameONE(a); val99(b); b->Update(); a->CancelUpdate(); },
         {true, "one", 99}, {true, "one", 99}, {true, "one", 99}, adEditInProgress},
        {"b moves off the row", [&](auto&, auto& b) { val99(b); b->MoveNext(); },
         {true, "one", 99}, {true, "one", 99}, {true, "one", 99}, adEditInProgress},
        {"b closes", [&](auto&, auto& b) { val99(b); b->Close(); },
         {true, "one", 1.5}, {false, "", 0}, {true, "one", 1.5}, adEditNone},
        {"a deletes the row b edits, b moves off", [&](auto& a, auto& b) { val99(b); a->Delete(); b->MoveNext(); },
         {false, "", 0}, {false, "", 0}, {false, "", 0}, adEditDelete},
    };
    for (const Case& c : cases) {
        auto a = ThreeRows();
        auto b = a->Clone();
        a->MoveFirst();
        c.act(a, b);
        EXPECT_EQ(a->get_EditMode(), c.aMode) << c.what;
        auto later = a->Clone();
        for (const auto& [rs, want, who] :
             {std::tuple{a, c.a, "a"}, std::tuple{b, c.b, "b"}, std::tuple{later, c.later, "later"}}) {
            if (rs->get_State() != adStateOpen) continue;
            const Seen got = seen(rs);
            EXPECT_EQ(got.shown, want.shown) << c.what << ": " << who;
            EXPECT_EQ(got.name, want.name) << c.what << ": " << who;
            EXPECT_EQ(got.val, want.val) << c.what << ": " << who;
        }
        // What a batch would write of row 1 is what every member reads.
        for (const PendingRow& p : a->PendingRows()) {
            if (rt::CDbl(p.bookmark) == 1.0 && p.status != adRecDeleted) {
                EXPECT_EQ(rt::CDbl(p.current[2]), c.later.val) << c.what;
            }
        }
    }

}

TEST(RecordsetCloneEdit, ARowBeingAddedIsThereForTheWholeFamilyWithItsValues) {
    // b adds row 4 and assigns ID, then NAME 'four'; then does `then`, and
    // ValuesVersion is read around `last`. The others look at row 4 afterwards.
    using Act = std::function<void(const RecordsetPtr&)>;
    const Act none = [](const RecordsetPtr&) {};
    const std::string matching = "ID = 2 OR NAME = 'four'";
    struct Case {
        const char* what;
        Act then, last;
        const char* name;  // what a, a clone made during the add and a's batch read of row 4; "" absent
        std::vector<int32_t> filtered;  // the ids of a filter set before the add and of one set after NAME
        bool valuesMoved;
    };
    const Case cases[] = {
        {"b still adding", none, none, "four", {2, 4}, false},
        {"b updated", none, [](auto& b) { b->Update(); }, "four", {2, 4}, false},
        {"b cancelled the add", none, [](auto& b) { b->CancelUpdate(); }, "", {2}, true},
        {"b renamed it while adding", none, [](auto& b) { b->SetValue("NAME", rt::Variant("five")); }, "five", {2}, true},
        {"b cancelled an edit of row 1 after the add",
         [](auto& b) { b->Update(); b->MoveFirst(); b->SetValue("VAL", rt::Variant(9.0)); },
         [](auto& b) { b->CancelUpdate(); }, "four", {2, 4}, true},
    };
    const auto nameOf4 = [](const RecordsetPtr& rs) -> std::string {
        rs->Find("ID = 4", 0, adSearchForward, rt::Variant(int32_t{adBookmarkFirst}));
        return rs->get_EOF() ? "" : rt::CStr(rs->GetValue("NAME"));
    };
    for (const Case& c : cases) {
        auto a = ThreeRows();
        auto b = a->Clone();
        auto before = a->Clone();
        before->put_Filter(rt::Variant(matching));
        b->AddNew();
        b->SetValue("ID", rt::Variant(int32_t{4}));
        EXPECT_EQ(before->get_RecordCount(), 1) << c.what;  // judged while NAME is unset
        b->SetValue("NAME", rt::Variant("four"));
        auto after = a->Clone();
        after->put_Filter(rt::Variant(matching));
        EXPECT_EQ(after->get_RecordCount(), 2) << c.what;
        auto meanwhile = a->Clone();
        c.then(b);
        const uint64_t version = a->ValuesVersion();
        c.last(b);
        EXPECT_EQ(a->ValuesVersion() != version, c.valuesMoved) << c.what;

        EXPECT_EQ(nameOf4(a), c.name) << c.what << ": a";
        EXPECT_EQ(nameOf4(meanwhile), c.name) << c.what << ": clone made during the add";
        EXPECT_EQ(AllIds(before), c.filtered) << c.what << ": filter set before the add";
        EXPECT_EQ(AllIds(after), c.filtered) << c.what << ": filter set after NAME";
        auto writer = std::make_shared<Writer>();
        a->putref_ActiveConnection(writer);
        a->UpdateBatch();
        std::string written;
        for (const PendingRow& p : writer->seen)
            if (rt::CDbl(p.bookmark) == 4.0) written = p.current[1].IsNull() ? "(Null)" : rt::CStr(p.current[1]);
        EXPECT_EQ(written, c.name) << c.what << ": a's batch";
    }
}

namespace {

// One member of a family: the source (index 0) or a clone of it.
struct Member {
    const char* filter = "";
    const char* sort = "";
};

std::vector<RecordsetPtr> MakeFamily(const RecordsetPtr& source, const std::vector<Member>& members) {
    std::vector<RecordsetPtr> family;
    for (size_t i = 0; i < members.size(); ++i) {
        RecordsetPtr rs = i == 0 ? source : source->Clone();
        if (*members[i].filter) rs->put_Filter(rt::Variant(std::string(members[i].filter)));
        if (*members[i].sort) rs->put_Sort(members[i].sort);
        family.push_back(rs);
    }
    return family;
}

}  // namespace

TEST(RecordsetCloneEdit, ARowBeingAddedThatStopsMatchingLeavesNoOtherRowListedTwice) {
    struct Step {
        enum Op { Add, Name, Update, First, Last, Count, Resort, View } op;
        int who;
        int id = 0;  // Add: the ID assigned; Count: the RecordCount expected
        // Add, Name: the NAME assigned (none: Add leaves it unset, Name assigns
        // Null); Resort: the sort set again.
        const char* name = nullptr;
        std::vector<int32_t> ids = {};  // View: the IDs a walk visits (RecordCount must agree)
    };
    using S = Step;
    struct Case {
        const char* what;
        std::vector<adotest::Row> rows;
        std::vector<Member> members;
        std::vector<Step> steps;
    };
    const std::vector<adotest::Row> xyz = {{1, "x", 0}, {2, "y", 0}, {3, "z", 0}};
    const Member byX{"NAME = 'x'", ""};
    const Case cases[] = {
        // members: a, c, b1, b2
        {"two adders, c stands on row 1", xyz, {{}, byX, {}, {}},
         {{S::Add, 2, 4, "x"}, {S::Count, 1, 2}, {S::First, 1}, {S::Name, 2, 0, "q"}, {S::Add, 3, 5, "x"},
          {S::View, 1, 0, nullptr, {1, 5}}, {S::Update, 2}, {S::Update, 3}, {S::View, 1, 0, nullptr, {1, 5}},
          {S::View, 0, 0, nullptr, {1, 2, 3, 4, 5}}}},
        {"two adders, c stands on the row that stops matching, which stays until the add ends", xyz,
         {{}, byX, {}, {}},
         {{S::Add, 2, 4, "x"}, {S::Count, 1, 2}, {S::Last, 1}, {S::Name, 2, 0, "q"}, {S::Add, 3, 5, "x"},
          {S::View, 1, 0, nullptr, {1, 4, 5}}, {S::Update, 2}, {S::View, 1, 0, nullptr, {1, 5}}}},
        {"the row that stopped matching matches again", xyz, {{}, byX, {}, {}},
         {{S::Add, 2, 4, "x"}, {S::Count, 1, 2}, {S::Name, 2, 0, "q"}, {S::Add, 3, 5, "x"}, {S::Count, 1, 2},
          {S::Name, 2, 0, "x"}, {S::View, 1, 0, nullptr, {1, 5, 4}}, {S::Update, 2}, {S::Update, 3},
          {S::View, 1, 0, nullptr, {1, 5, 4}}}},
        {"the adders filter too: their own rows stay", xyz, {{}, byX, byX, byX},
         {{S::Add, 2, 4, "x"}, {S::Count, 1, 2}, {S::Count, 3, 2}, {S::Name, 2, 0, "q"}, {S::Add, 3, 5, "x"},
          {S::Count, 1, 2}, {S::Count, 2, 3}, {S::Update, 2}, {S::Update, 3}, {S::View, 1, 0, nullptr, {1, 5}},
          {S::View, 2, 0, nullptr, {1, 4, 5}}, {S::View, 3, 0, nullptr, {1, 5}}}},
        {"sorted view, sorted again after", {{1, "x", 0}, {2, "y", 0}, {3, "z", 0}, {6, "x", 0}},
         {{}, {"NAME = 'x'", "ID DESC"}, {}, {}},
         {{S::Add, 2, 4, "x"}, {S::Count, 1, 3}, {S::First, 1}, {S::Name, 2, 0, "q"}, {S::Add, 3, 5, "x"},
          {S::View, 1, 0, nullptr, {6, 1, 5}}, {S::Resort, 1, 0, "ID DESC"}, {S::View, 1, 0, nullptr, {6, 5, 1}},
          {S::Update, 2}, {S::Update, 3}, {S::View, 1, 0, nullptr, {6, 5, 1}}}},
        {"sorted while the add was under way", xyz, {{}, byX, {}, {}},
         {{S::Add, 2, 4, "x"}, {S::Resort, 1, 0, "ID DESC"}, {S::View, 1, 0, nullptr, {4, 1}}, {S::Name, 2, 0, "q"},
          {S::Add, 3, 5, "x"}, {S::View, 1, 0, nullptr, {1, 5}}, {S::Resort, 1, 0, "ID DESC"},
          {S::View, 1, 0, nullptr, {5, 1}}}},
        // members: m0, m1
        {"one adder, its next row takes the place of the last", {{6, "x", 0}}, {{}, {"NAME = Null", ""}},
         {{S::Add, 0, 9}, {S::Add, 0, 10}, {S::View, 1, 0, nullptr, {9, 10}}, {S::Name, 0, 0, "q"}, {S::Add, 0, 11},
          {S::View, 1, 0, nullptr, {9, 11}}, {S::Update, 0}, {S::View, 1, 0, nullptr, {9, 11}},
          {S::View, 0, 0, nullptr, {6, 9, 10, 11}}}},
        {"one adder, sorted view", {{6, "x", 0}}, {{}, {"NAME = Null", "ID DESC"}},
         {{S::Add, 0, 9}, {S::Add, 0, 10}, {S::Resort, 1, 0, "ID DESC"}, {S::View, 1, 0, nullptr, {10, 9}},
          {S::Name, 0, 0, "q"}, {S::Add, 0, 11}, {S::View, 1, 0, nullptr, {9, 11}}, {S::Resort, 1, 0, "ID DESC"},
          {S::View, 1, 0, nullptr, {11, 9}}}},
    };
    for (const Case& c : cases) {
        const auto family = MakeFamily(MakeRecordset(c.rows), c.members);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& s = c.steps[i];
            SCOPED_TRACE(std::string(c.what) + ", step " + std::to_string(i));
            const RecordsetPtr& rs = family[static_cast<size_t>(s.who)];
            switch (s.op) {
                case Step::Add:
                    rs->AddNew();
                    rs->SetValue("ID", rt::Variant(int32_t{s.id}));
                    if (s.name) rs->SetValue("NAME", rt::Variant(std::string(s.name)));
                    break;
                case Step::Name:
                    rs->SetValue("NAME", s.name ? rt::Variant(std::string(s.name)) : rt::Variant::Null());
                    break;
                case Step::Update: rs->Update(); break;
                case Step::First: rs->MoveFirst(); break;
                case Step::Last: rs->MoveLast(); break;
                case Step::Count: EXPECT_EQ(rs->get_RecordCount(), s.id); break;
                case Step::Resort: rs->put_Sort(s.name); break;
                case Step::View: {
                    const int32_t count = rs->get_RecordCount();
                    const std::vector<int32_t> ids = AllIds(rs);
                    EXPECT_EQ(ids, s.ids);
                    EXPECT_EQ(count, static_cast<int32_t>(ids.size()));
                    break;
                }
            }
        }
    }
}

// Random interleavings of adds by several members of a family, some of them
// filtered or sorted. The IDs each view lists are held against the rows as a
// model of them says they stand: a watcher (never edits, always walked to
// EOF, so it stands on no row when it judges one) lists what a freshly
// filtered clone would; a worker (adds and stands on rows) lists at least
// that, plus at most its own rows and rows it stood on.
TEST(RecordsetCloneEdit, RandomInterleavingsOfAddsListEveryRowOnceAndAsItStands) {
    using Name = std::optional<std::string>;
    struct Filter {
        const char* text;
        std::function<bool(const Name&)> passes;
    };
    const Filter filters[] = {
        {"", [](const Name&) { return true; }},
        {"NAME = 'x'", [](const Name& n) { return n == "x"; }},
        {"NAME = Null", [](const Name& n) { return !n; }},
        {"NAME = 'x' OR NAME = 'y'", [](const Name& n) { return n == "x" || n == "y"; }},
    };
    const char* const sorts[] = {"", "ID DESC", "NAME, ID DESC"};
    const Name names[] = {"x", "y", "q", std::nullopt};
    constexpr int kWorkers = 3, kMembers = 5, kSteps = 40;

    for (uint32_t seed = 1; seed <= 60; ++seed) {
        std::mt19937 rng(seed);
        const auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
        struct ModelRow {
            Name name;
            bool alive = true;
        };
        std::map<int32_t, ModelRow> rows;  // by ID
        std::vector<adotest::Row> initial;
        for (int32_t id = 1; id <= 4; ++id) {
            const Name name = names[pick(3)];
            rows[id] = {name};
            initial.push_back({id, *name, 0});
        }
        std::vector<Member> setup;
        std::vector<const Filter*> filterOf;
        for (int m = 0; m < kMembers; ++m) {
            const Filter& f = filters[m < kWorkers ? pick(4) : 1 + pick(3)];
            filterOf.push_back(&f);
            setup.push_back({f.text, sorts[pick(3)]});
        }
        const auto family = MakeFamily(MakeRecordset(initial), setup);
        struct Worker {
            int32_t adding = 0;  // the ID of the row being added, 0 none
            std::set<int32_t> mayShow;  // its own rows and rows it stood on
        };
        std::vector<Worker> workers(kWorkers);
        int32_t nextId = 100;

        const auto currentId = [](const RecordsetPtr& rs) -> int32_t {
            if (rs->get_EOF() || rs->get_BOF()) return -1;
            rt::Variant id;
            return ErrorOf([&] { id = rs->GetValue("ID"); }) == 0 ? rt::CLng(id) : -1;
        };
        const auto check = [&](int m) {
            SCOPED_TRACE("member " + std::to_string(m) + " (" + setup[static_cast<size_t>(m)].filter + " / " +
                         setup[static_cast<size_t>(m)].sort + ")");
            const RecordsetPtr& rs = family[static_cast<size_t>(m)];
            Worker* w = m < kWorkers ? &workers[static_cast<size_t>(m)] : nullptr;
            if (w && w->adding) {
                // A walk would end its add; it still judges the others' rows.
                rs->get_RecordCount();
                return;
            }
            rt::Variant at;
            if (w) {
                if (int32_t id = currentId(rs); id >= 0) w->mayShow.insert(id);
                if (ErrorOf([&] { at = rs->get_Bookmark(); }) != 0) at = rt::Variant();
            }
            const int32_t count = rs->get_RecordCount();
            std::vector<int32_t> ids = AllIds(rs);
            EXPECT_EQ(count, static_cast<int32_t>(ids.size()));
            std::sort(ids.begin(), ids.end());
            EXPECT_TRUE(std::adjacent_find(ids.begin(), ids.end()) == ids.end())
                << "a row listed twice: " << testing::PrintToString(ids);
            std::vector<int32_t> fresh;
            for (const auto& [id, row] : rows)
                if (row.alive && filterOf[static_cast<size_t>(m)]->passes(row.name)) fresh.push_back(id);
            if (!w) {
                EXPECT_EQ(ids, fresh);
                return;
            }
            EXPECT_TRUE(std::includes(ids.begin(), ids.end(), fresh.begin(), fresh.end())) << "a matching row missing";
            for (int32_t id : ids)
                EXPECT_TRUE(std::binary_search(fresh.begin(), fresh.end(), id) || w->mayShow.count(id))
                    << "row " << id << " listed";
            if (!at.IsEmpty()) ErrorOf([&] { rs->put_Bookmark(at); });
        };
        const auto checkAll = [&] {
            for (int m = 0; m < kMembers; ++m) check(m);
        };

        // One step by member m; what it did, for the trace.
        const auto act = [&](int m) -> std::string {
            const RecordsetPtr& rs = family[static_cast<size_t>(m)];
            const std::string who = "member " + std::to_string(m);
            if (m >= kWorkers) {
                // From EOF, where a watcher judges the rows: a cursor on a
                // row would go to the first.
                AllIds(rs);
                rs->put_Sort(setup[static_cast<size_t>(m)].sort);
                EXPECT_TRUE(rs->get_EOF());
                return who + " sorted again";
            }
            Worker& w = workers[static_cast<size_t>(m)];
            if (int32_t id = currentId(rs); id >= 0) w.mayShow.insert(id);  // where the step first judges
            const size_t what = pick(6);
            const Name name = names[pick(4)];
            const rt::Variant value = name ? rt::Variant(*name) : rt::Variant::Null();
            const std::string named = name ? "'" + *name + "'" : "Null";
            if (!w.adding && what < 2) {
                if (rs->get_RecordCount() > 0) {
                    rs->MoveFirst();
                    for (size_t k = pick(4); k > 0 && !rs->get_EOF(); --k) rs->MoveNext();
                }
                if (int32_t id = currentId(rs); id >= 0) w.mayShow.insert(id);
                return who + " moves";
            }
            if (!w.adding || what == 2) {
                const int32_t id = nextId++;
                rs->AddNew();
                rs->SetValue("ID", rt::Variant(id));
                rows[id] = {};
                if (what % 2) {
                    rs->SetValue("NAME", value);
                    rows[id].name = name;
                }
                w.adding = id;
                w.mayShow.insert(id);
                return who + " adds " + std::to_string(id) + (what % 2 ? " named " + named : "");
            }
            const std::string row = std::to_string(w.adding);
            if (what == 3) {
                rs->SetValue("NAME", value);
                rows[w.adding].name = name;
                return who + " names " + row + " " + named;
            }
            if (what == 4) {
                rs->Update();
                w.adding = 0;
                return who + " updates " + row;
            }
            rs->CancelUpdate();
            rows[w.adding].alive = false;
            w.adding = 0;
            return who + " cancels " + row;
        };

        checkAll();  // every view built, the watchers at EOF
        for (int i = 0; i < kSteps && !HasFailure(); ++i) {
            const std::string at = "seed " + std::to_string(seed) + ", step " + std::to_string(i);
            std::string step;
            try {
                step = act(static_cast<int>(pick(kMembers)));
            } catch (const rt::ComError& e) {
                ADD_FAILURE() << at << " raised " << e.what();
                return;
            }
            SCOPED_TRACE(at + ": " + step);
            // Members looked at now and then: a view judges what changed
            // since it last looked, several changes at once.
            for (int k = 0; k < kMembers; ++k)
                if (pick(3) == 0) check(k);
        }
        // The adds ended, every view is walked once more.
        for (int m = 0; m < kWorkers && !HasFailure(); ++m) {
            if (workers[static_cast<size_t>(m)].adding) family[static_cast<size_t>(m)]->Update();
            workers[static_cast<size_t>(m)].adding = 0;
        }
        SCOPED_TRACE("seed " + std::to_string(seed) + ", after the last updates");
        if (!HasFailure()) checkAll();
        if (HasFailure()) return;
    }
}
