// Members that behave as ADO documents them where a lenient stand-in would
// let a caller's mistake pass: one table of cases per member.
#include <gtest/gtest.h>

#include <functional>

#include "AdoTestUtil.h"

using namespace ado;
using adotest::AllIds;
using adotest::ErrorOf;
using adotest::MakeRecordset;

namespace {

RecordsetPtr ThreeRows(LockTypeEnum lock = adLockBatchOptimistic) {
    return MakeRecordset({{1, "a", 10}, {2, "b", 20}, {3, "c", 30}}, lock);
}

// A fabricated recordset with one Long field and one text field, open.
RecordsetPtr Fabricated() {
    auto rs = Recordset::Create();
    rs->get_Fields()->Append("QTX_ID", adInteger);
    rs->get_Fields()->Append("QTX_NAME", adVarWChar, 20);
    rs->Open();
    return rs;
}

}  // namespace

TEST(RecordsetAdoMembers, CancelUpdateTakesBackAPendingChangeUnderBatchUpdating) {
    // Row 2 changed and a row added, both through Update; CancelUpdate on each.
    auto rs = ThreeRows();
    rs->Move(1);
    rs->SetValue("NAME", rt::Variant("changed"));
    rs->Update();
    rs->CancelUpdate();
    EXPECT_EQ(rs->GetValue("NAME").Str(), "b");
    EXPECT_EQ(rs->get_Status(), adRecUnmodified);
    EXPECT_EQ(rs->get_EditMode(), adEditNone);

    rs->AddNew();
    rs->SetValue("ID", rt::Variant(int32_t{4}));
    rs->Update();
    EXPECT_EQ(rs->get_RecordCount(), 4);
    rs->CancelUpdate();
    EXPECT_EQ(rs->get_RecordCount(), 3);
    EXPECT_TRUE(rs->get_EOF());
    // Nothing the caller discarded is left to be written.
    EXPECT_TRUE(rs->PendingRows().empty());
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{1, 2, 3}));

    // Without a current record there is nothing to cancel; on an unchanged row
    // or after an immediate Update there is nothing left to take back.
    EXPECT_EQ(ErrorOf([&] { rs->CancelUpdate(); }), err::NoCurrentRecord);
    rs->MoveFirst();
    EXPECT_EQ(ErrorOf([&] { rs->CancelUpdate(); }), 0);
    auto immediate = ThreeRows(adLockOptimistic);
    immediate->SetValue("NAME", rt::Variant("kept"));
    immediate->Update();
    immediate->CancelUpdate();
    EXPECT_EQ(immediate->GetValue("NAME").Str(), "kept");
}

TEST(RecordsetAdoMembers, EditModeAndMovesToTheEndsNeedRows) {
    struct Case {
        const char* what;
        std::function<RecordsetPtr()> make;
        std::function<void(Recordset&)> call;
        int32_t error;
    };
    auto filteredEmpty = [] {
        auto rs = ThreeRows();
        rs->put_Filter(rt::Variant("ID > 5"));
        return rs;
    };
    auto atEof = [] {
        auto rs = ThreeRows();
        rs->MoveLast();
        rs->MoveNext();
        return rs;
    };
    auto lastRowDeleted = [] {
        auto rs = MakeRecordset({{1, "a", 10}});
        rs->Delete();
        return rs;
    };
    const Case cases[] = {
        {"EditMode at EOF", atEof, [](Recordset& r) { r.get_EditMode(); }, err::NoCurrentRecord},
        {"EditMode at BOF", [] { auto rs = ThreeRows(); rs->MovePrevious(); return rs; },
         [](Recordset& r) { r.get_EditMode(); }, err::NoCurrentRecord},
        {"EditMode on a row", [] { return ThreeRows(); }, [](Recordset& r) { r.get_EditMode(); }, 0},
        {"MoveFirst, no rows", [] { return MakeRecordset({}); }, [](Recordset& r) { r.MoveFirst(); },
         err::NoCurrentRecord},
        {"MoveLast, no rows", [] { return MakeRecordset({}); }, [](Recordset& r) { r.MoveLast(); },
         err::NoCurrentRecord},
        {"MoveFirst, nothing passes the filter", filteredEmpty, [](Recordset& r) { r.MoveFirst(); },
         err::NoCurrentRecord},
        {"MoveLast, nothing passes the filter", filteredEmpty, [](Recordset& r) { r.MoveLast(); },
         err::NoCurrentRecord},
        {"MoveFirst from EOF", atEof, [](Recordset& r) { r.MoveFirst(); }, 0},
        // BOF and EOF stay False on a deleted last row until the cursor moves off it.
        {"MoveFirst off a deleted last row", lastRowDeleted, [](Recordset& r) { r.MoveFirst(); }, 0},
    };
    for (const auto& c : cases) {
        auto rs = c.make();
        EXPECT_EQ(ErrorOf([&] { c.call(*rs); }), c.error) << c.what;
    }
}

TEST(RecordsetAdoMembers, FilterOnAClosedRecordsetWaitsForOpen) {
    struct Case {
        rt::Variant filter;
        int32_t setError;   // setting it while closed
        int32_t openError;  // opening afterwards
        std::vector<int32_t> ids;
    };
    const Case cases[] = {
        {rt::Variant("QTX_ID > 1"), 0, 0, {2, 3}},
        {rt::Variant("NOT_A_FIELD = 1"), 0, err::ItemNotFound, {}},
        {rt::Variant("QTX_ID = "), 0, err::InvalidArgument, {}},
        {rt::Variant(int16_t{adFilterNone}), 0, 0, {1, 2, 3}},
        {rt::Variant(int32_t{adFilterNone}), 0, 0, {1, 2, 3}},
        {rt::Variant(), err::InvalidArgument, 0, {1, 2, 3}},
        {rt::Variant(int32_t{4}), err::InvalidArgument, 0, {1, 2, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(rt::TypeName(c.filter) + " " + (c.filter.IsString() ? c.filter.Str() : ""));
        auto rs = Recordset::Create();
        rs->get_Fields()->Append("QTX_ID", adInteger);
        EXPECT_EQ(ErrorOf([&] { rs->put_Filter(c.filter); }), c.setError);
        if (c.setError == 0) {
            EXPECT_EQ(rt::TypeName(rs->get_Filter()), rt::TypeName(c.filter));
        }
        EXPECT_EQ(ErrorOf([&] { rs->Open(); }), c.openError);
        EXPECT_EQ(rs->get_State(), c.openError == 0 ? adStateOpen : adStateClosed);
        if (c.openError != 0) continue;
        for (int32_t id = 1; id <= 3; ++id) rs->AddNew(rt::Variant("QTX_ID"), rt::Variant(id));
        rs->put_Filter(rs->get_Filter());  // added rows join by the filter's rule when it is set again
        std::vector<int32_t> ids;
        for (; !rs->get_EOF(); rs->MoveNext()) ids.push_back(rt::CLng(rs->GetValue("QTX_ID")));
        EXPECT_EQ(ids, c.ids);
    }
}

TEST(RecordsetAdoMembers, CloseEmptiesTheFieldsOfAFabricatedRecordset) {
    auto rs = Fabricated();
    auto name = rs->get_Fields()->Item("QTX_NAME");
    EXPECT_EQ(name->get_Name(), "QTX_NAME");
    rs->Close();
    EXPECT_EQ(rs->get_Fields()->get_Count(), 0);
    EXPECT_EQ(ErrorOf([&] { name->get_Name(); }), err::ObjectNotSet);
    // Appended again, the fields make a new recordset; the old Field stays dead.
    rs->get_Fields()->Append("QTX_CNO", adSmallInt);
    rs->Open();
    EXPECT_EQ(rs->get_Fields()->Item(int32_t{0})->get_Name(), "QTX_CNO");
    EXPECT_EQ(ErrorOf([&] { name->get_Name(); }), err::ObjectNotSet);
}

TEST(RecordsetAdoMembers, FieldsOfAnAddedRowBeforeTheyAreSet) {
    // Empty in a fabricated recordset until Update; Null in rows from a data context.
    auto fabricated = Fabricated();
    fabricated->AddNew();
    fabricated->SetValue("QTX_ID", rt::Variant(int32_t{1}));
    EXPECT_TRUE(fabricated->GetValue("QTX_NAME").IsEmpty());
    fabricated->Update();
    EXPECT_TRUE(fabricated->GetValue("QTX_NAME").IsNull());
    EXPECT_EQ(fabricated->GetValue("QTX_ID").I4(), 1);
    auto fetched = ThreeRows();
    fetched->AddNew();
    EXPECT_TRUE(fetched->GetValue("NAME").IsNull());
}

TEST(RecordsetAdoMembers, OpenLockTypeAndFieldArguments) {
    auto rs = Recordset::Create();
    EXPECT_EQ(ErrorOf([&] { rs->Open(); }), err::InvalidConnection);
    EXPECT_NE(ErrorOf([&] { rs->Open(rt::Variant("/nonexistent/rows.adtg"), rt::Variant::Missing(), adOpenStatic,
                                     adLockOptimistic); }),
              0);
    EXPECT_EQ(rs->get_LockType(), adLockOptimistic);  // a failed Open keeps the type it was given
    EXPECT_EQ(ErrorOf([&] { rs->put_LockType(adLockUnspecified); }), err::InvalidArgument);
    EXPECT_EQ(rs->get_LockType(), adLockOptimistic);

    // Appended without attributes: none reported.
    rs->get_Fields()->Append("QTX_ID", adInteger);
    rs->get_Fields()->Append("QTX_FNO", adSmallInt, 0, adFldIsNullable);
    EXPECT_EQ(rs->get_Fields()->Item(int32_t{0})->get_Attributes(), 0);
    EXPECT_EQ(rs->get_Fields()->Item(int32_t{1})->get_Attributes(), adFldIsNullable);

    // Fractional ordinals convert as CLng does: half to even.
    auto fields = ThreeRows()->get_Fields();
    struct Ordinal {
        double index;
        const char* name;  // nullptr: not found
    };
    for (const Ordinal& o : {Ordinal{0.4, "ID"}, Ordinal{0.5, "ID"}, Ordinal{1.5, "VAL"}, Ordinal{2.5, "VAL"},
                             Ordinal{-0.4, "ID"}, Ordinal{2.6, nullptr}, Ordinal{-1, nullptr}, Ordinal{1e12, nullptr}}) {
        if (o.name)
            EXPECT_EQ(fields->get_Item(rt::Variant(o.index))->get_Name(), o.name) << o.index;
        else
            EXPECT_EQ(ErrorOf([&] { fields->get_Item(rt::Variant(o.index)); }), err::ItemNotFound) << o.index;
    }

    // A missing argument is no value: refused, and the value stays.
    auto rows = ThreeRows();
    EXPECT_EQ(ErrorOf([&] { rows->get_Fields()->Item("NAME")->put_Value(rt::Variant::Missing()); }),
              err::ErrorsOccurred);
    EXPECT_EQ(rows->GetValue("NAME").Str(), "a");
    EXPECT_EQ(rows->get_EditMode(), adEditNone);
}

TEST(RecordsetAdoMembers, MembersAsAdoHasThem) {
    struct Case {
        const char* what;
        std::function<RecordsetPtr()> make;
        std::function<int32_t(Recordset&)> call;  // what the call answers, 0 for nothing
        int32_t error;
        int32_t result;  // when there is no error
    };
    auto withApostrophe = [] { return MakeRecordset({{1, "a", 10}, {2, "1'1", 20}, {3, "c", 30}}); };
    auto foundId = [](const char* criteria) {
        return [criteria](Recordset& r) {
            r.Find(criteria, 0, adSearchForward, rt::Variant(int32_t{adBookmarkFirst}));
            return r.get_EOF() ? -1 : rt::CLng(r.GetValue("ID"));
        };
    };
    auto addedAndTakenBack = [] {
        auto rs = ThreeRows();
        rs->AddNew(rt::Variant("ID"), rt::Variant(int32_t{4}));
        rs->CancelUpdate();
        return rs;
    };
    const Case cases[] = {
        {"CursorLocation of a new recordset", [] { return Recordset::Create(); },
         [](Recordset& r) { return static_cast<int32_t>(r.get_CursorLocation()); }, 0, adUseServer},
        {"Update after CancelUpdate took back a pending new row", addedAndTakenBack,
         [](Recordset& r) { r.Update(); return 0; }, err::NoCurrentRecord, 0},
        {"Bookmark set to Empty", [] { return ThreeRows(); },
         [](Recordset& r) { r.put_Bookmark(rt::Variant()); return 0; }, err::InvalidArgument, 0},
        {"Find, an unquoted value after a bracketed name", withApostrophe, foundId("[NAME] = 1'1\t"), 0, 2},
        {"Find, LIKE without a wildcard", withApostrophe, foundId("NAME LIKE 1'1"), 0, 2},
        {"Find, two clauses", [] { return ThreeRows(); }, foundId("VAL = 20 AND NAME = 'b'"), err::InvalidArgument,
         0},
        // Only quotes let a value hold a blank, in Find as in Filter.
        {"Find, an unquoted number with a blank inside", [] { return ThreeRows(); }, foundId("ID = 1 1"),
         err::InvalidArgument, 0},
        {"Find, an unquoted text with a blank inside", withApostrophe, foundId("NAME = 1'1 c"), err::InvalidArgument,
         0},
        {"Filter, an unquoted number with a blank inside", [] { return ThreeRows(); },
         [](Recordset& r) { r.put_Filter(rt::Variant("ID = 1 1")); return 0; }, err::InvalidArgument, 0},
        {"CancelBatch of all records in immediate update mode", [] { return ThreeRows(adLockOptimistic); },
         [](Recordset& r) { r.CancelBatch(adAffectAll); return 0; }, err::NotSupported, 0},
    };
    for (const auto& c : cases) {
        auto rs = c.make();
        int32_t result = 0;
        EXPECT_EQ(ErrorOf([&] { result = c.call(*rs); }), c.error) << c.what;
        if (c.error == 0) {
            EXPECT_EQ(result, c.result) << c.what;
        }
    }
}
