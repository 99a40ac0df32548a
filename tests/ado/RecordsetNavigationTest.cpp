// Navigation, bookmarks, filters, sort and Find on client-side recordsets.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "AdoTestUtil.h"

using namespace ado;
using adotest::AllIds;
using adotest::ErrorOf;
using adotest::MakeRecordset;

namespace {

RecordsetPtr FiveRows() {
    return MakeRecordset({{1, "b", 10}, {2, "A", 20}, {3, "a", 10}, {4, "c", -1}, {5, "B", 20}});
}

}  // namespace

TEST(RecordsetNavigation, EmptyFabricatedRecordsetIsAtBofAndEof) {
    auto rs = MakeRecordset({});
    EXPECT_TRUE(rs->get_BOF());
    EXPECT_TRUE(rs->get_EOF());
    EXPECT_EQ(rs->get_RecordCount(), 0);
    EXPECT_EQ(ErrorOf([&] { rs->MoveFirst(); }), err::NoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { rs->MoveLast(); }), err::NoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { rs->MoveNext(); }), err::NoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { rs->get_Bookmark(); }), err::NoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { rs->GetValue("ID"); }), err::NoCurrentRecord);
}

TEST(RecordsetNavigation, MovesWalkEveryRowOnceInBothDirections) {
    auto rs = FiveRows();
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(rs->get_EOF());
    EXPECT_FALSE(rs->get_BOF());
    EXPECT_EQ(ErrorOf([&] { rs->MoveNext(); }), err::NoCurrentRecord);
    std::vector<int32_t> back;
    rs->MoveLast();
    while (!rs->get_BOF()) {
        back.push_back(rt::CLng(rs->GetValue("ID")));
        rs->MovePrevious();
    }
    EXPECT_EQ(back, (std::vector<int32_t>{5, 4, 3, 2, 1}));
    EXPECT_EQ(ErrorOf([&] { rs->MovePrevious(); }), err::NoCurrentRecord);
    // From BOF, MoveNext lands on the first row.
    rs->MoveNext();
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 1);
}

TEST(RecordsetNavigation, MoveAndAbsolutePosition) {
    auto rs = FiveRows();
    rs->Move(2);
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 3);
    EXPECT_EQ(rs->get_AbsolutePosition(), 3);
    rs->Move(-1);
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 2);
    rs->Move(10);
    EXPECT_TRUE(rs->get_EOF());
    EXPECT_EQ(rs->get_AbsolutePosition(), adPosEOF);
    rs->Move(-1, rt::Variant(int32_t{adBookmarkLast}));
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 4);
    rs->Move(1, rt::Variant(int32_t{adBookmarkFirst}));
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 2);
    rs->put_AbsolutePosition(5);
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 5);
    EXPECT_EQ(ErrorOf([&] { rs->put_AbsolutePosition(6); }), err::InvalidArgument);
    rs->Move(-10);
    EXPECT_TRUE(rs->get_BOF());
    EXPECT_EQ(rs->get_AbsolutePosition(), adPosBOF);
}

TEST(RecordsetBookmarks, BookmarksAreDoublesAndReturnToTheirRow) {
    auto rs = FiveRows();
    rs->Move(3);
    rt::Variant bm = rs->get_Bookmark();
    EXPECT_EQ(bm.Type(), rt::vbDouble);
    rs->MoveFirst();
    rs->put_Bookmark(bm);
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 4);
    EXPECT_EQ(ErrorOf([&] { rs->put_Bookmark(rt::Variant(99.0)); }), err::InvalidBookmark);
    EXPECT_EQ(ErrorOf([&] { rs->put_Bookmark(rt::Variant("x")); }), err::InvalidBookmark);
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 4);  // a refused bookmark does not move
}

TEST(RecordsetBookmarks, ClonesShareBookmarksAndRowsButNotPosition) {
    auto rs = FiveRows();
    rs->Move(2);
    auto clone = rs->Clone();
    // A clone starts on the first row, without the source's filter.
    EXPECT_EQ(rt::CLng(clone->GetValue("ID")), 1);
    clone->put_Bookmark(rs->get_Bookmark());
    EXPECT_EQ(rt::CLng(clone->GetValue("ID")), 3);
    clone->SetValue("NAME", rt::Variant("changed"));
    clone->Update();
    EXPECT_EQ(rt::CStr(rs->GetValue("NAME")), "changed");
    clone->MoveNext();
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 3);  // the source did not move
    // Rows added through one clone are seen by the other.
    clone->AddNew();
    clone->SetValue("ID", rt::Variant(int32_t{6}));
    clone->Update();
    EXPECT_EQ(rs->get_RecordCount(), 6);
    rt::Variant added = clone->get_Bookmark();
    rs->put_Bookmark(added);
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 6);
}

// A clone moved to a bookmark before it has listed its rows behaves as one
// that listed them first: the same row, the same moves, filters and refusals.
TEST(RecordsetBookmarks, AFreshCloneMovedToABookmarkActsAsAListedOne) {
    using Step = std::function<void(const RecordsetPtr& source, const RecordsetPtr& clone)>;
    auto id = [](const RecordsetPtr& rs) {
        const int code = ErrorOf([&] { rs->GetValue("ID"); });
        return code ? "error " + std::to_string(code) : std::to_string(rt::CLng(rs->GetValue("ID")));
    };
    const std::vector<std::pair<const char*, Step>> cases = {
        {"read", [](auto&, auto&) {}},
        {"next", [](auto&, auto& c) { c->MoveNext(); }},
        {"filter", [](auto&, auto& c) { c->put_Filter(rt::Variant("VAL = 20")); }},
        {"deleted by the source", [](auto& s, auto&) { s->Delete(); }},
        {"row added by the source", [](auto& s, auto&) {
             s->AddNew();
             s->SetValue("ID", rt::Variant(int32_t{6}));
             s->Update();
         }},
    };
    for (const auto& [name, step] : cases) {
        std::string seen[2];
        for (int listed = 0; listed < 2; ++listed) {
            auto rs = FiveRows();
            rs->Move(2);
            auto clone = rs->Clone();
            if (listed) clone->get_EOF();
            clone->put_Bookmark(rs->get_Bookmark());
            step(rs, clone);
            seen[listed] = id(clone) + " of " + std::to_string(clone->get_RecordCount()) + " at " +
                           std::to_string(clone->get_AbsolutePosition());
        }
        EXPECT_EQ(seen[0], seen[1]) << name;
    }
    // A deleted row's bookmark is refused either way.
    for (int listed = 0; listed < 2; ++listed) {
        auto rs = FiveRows();
        rs->Move(1);
        rt::Variant bm = rs->get_Bookmark();
        rs->Delete();
        auto clone = rs->Clone();
        if (listed) clone->get_EOF();
        EXPECT_EQ(ErrorOf([&] { clone->put_Bookmark(bm); }), err::InvalidBookmark) << listed;
    }
}

TEST(RecordsetBookmarks, FilteredOutRowRefusesItsBookmark) {
    auto rs = FiveRows();
    rs->Move(1);
    rt::Variant bmOf2 = rs->get_Bookmark();
    auto clone = rs->Clone();
    clone->put_Filter(rt::Variant("ID > 3"));
    EXPECT_EQ(ErrorOf([&] { clone->put_Bookmark(bmOf2); }), err::InvalidBookmark);
}

TEST(RecordsetBookmarks, EveryBookmarkFindsItsRowInNarrowAndWideViews) {
    std::vector<adotest::Row> rows;
    for (int32_t id = 1; id <= 40; ++id) rows.push_back({id, "t", static_cast<double>(id % 7)});
    auto rs = MakeRecordset(rows);
    std::vector<rt::Variant> bookmarks;
    for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) bookmarks.push_back(rs->get_Bookmark());
    // View sizes on both sides of the point where a view is indexed rather than searched.
    for (int32_t shown : {1, 3, 16, 17, 40}) {
        for (const char* sort : {"", "ID DESC"}) {
            auto clone = rs->Clone();
            clone->put_Filter(rt::Variant("ID <= " + std::to_string(shown)));
            clone->put_Sort(sort);
            for (int32_t id = 1; id <= 40; ++id) {
                const rt::Variant& bm = bookmarks[static_cast<size_t>(id - 1)];
                if (id <= shown) {
                    clone->put_Bookmark(bm);
                    EXPECT_EQ(rt::CLng(clone->GetValue("ID")), id) << shown << " shown, sort '" << sort << "'";
                } else {
                    EXPECT_EQ(ErrorOf([&] { clone->put_Bookmark(bm); }), err::InvalidBookmark) << shown << ", " << id;
                }
            }
        }
    }
}

TEST(RecordsetFilter, CriteriaFilterShowsMatchingRowsAndCountsThem) {
    auto rs = FiveRows();
    rs->put_Filter(rt::Variant("VAL = 10"));
    EXPECT_EQ(rs->get_RecordCount(), 2);
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{1, 3}));
    rs->put_Filter(rt::Variant("VAL = Null"));
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{4}));
    rs->put_Filter(rt::Variant("NAME = 'zzz'"));
    EXPECT_TRUE(rs->get_BOF());
    EXPECT_TRUE(rs->get_EOF());
    EXPECT_EQ(rs->get_RecordCount(), 0);
    EXPECT_EQ(ErrorOf([&] { rs->put_Filter(rt::Variant("NOPE = 1")); }), err::ItemNotFound);
    EXPECT_EQ(ErrorOf([&] { rs->put_Filter(rt::Variant("ID = = 1")); }), err::InvalidArgument);
    // A refused filter leaves the previous one in place.
    EXPECT_EQ(rt::CStr(rs->get_Filter()), "NAME = 'zzz'");
    rs->put_Filter(rt::Variant(int32_t{adFilterNone}));
    EXPECT_EQ(rs->get_RecordCount(), 5);
}

TEST(RecordsetFilter, FilterGetReturnsWhatWasSetWithItsType) {
    auto rs = FiveRows();
    rt::Variant initial = rs->get_Filter();
    EXPECT_EQ(initial.Type(), rt::vbLong);
    EXPECT_EQ(initial.I4(), 0);
    rs->put_Filter(rt::Variant(int16_t{1}));
    EXPECT_EQ(rs->get_Filter().Type(), rt::vbInteger);
    rs->put_Filter(rt::Variant("ID=1"));
    EXPECT_EQ(rs->get_Filter().Str(), "ID=1");
    rs->MoveFirst();
    auto arr = rt::Variant::ArrayOf({rs->get_Bookmark()});
    rs->put_Filter(arr);
    EXPECT_TRUE(rs->get_Filter().IsArray());
    EXPECT_EQ(ErrorOf([&] { rs->put_Filter(rt::Variant(int32_t{4})); }), err::InvalidArgument);
}

TEST(RecordsetFilter, BookmarkArrayShowsRowsInArrayOrderUntilSorted) {
    auto rs = FiveRows();
    std::vector<rt::Variant> bms(6);
    for (int i = 0; i < 5; ++i) {
        rs->put_AbsolutePosition(i + 1);
        bms[static_cast<size_t>(i)] = rs->get_Bookmark();
    }
    // Rows 5, 2, 4 in that order.
    rs->put_Filter(rt::Variant::ArrayOf({bms[4], bms[1], bms[3]}));
    EXPECT_EQ(rs->get_RecordCount(), 3);
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{5, 2, 4}));
    rs->put_Sort("ID");
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{2, 4, 5}));
    rs->put_Sort("");
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{5, 2, 4}));
    // The same array filters a clone, since clones share bookmarks.
    auto clone = rs->Clone(adLockReadOnly);
    clone->put_Filter(rs->get_Filter());
    EXPECT_EQ(AllIds(clone), (std::vector<int32_t>{5, 2, 4}));
    EXPECT_EQ(ErrorOf([&] { rs->put_Filter(rt::Variant::ArrayOf({rt::Variant(42.0)})); }), err::InvalidBookmark);
}

TEST(RecordsetFilter, AffectedAndConflictingGroupsOfAFreshRecordsetAreEmpty) {
    auto rs = FiveRows();
    rs->Find("ID = 3");
    rs->Delete();  // affects rs, not the clones made afterwards
    auto clone = rs->Clone(adLockReadOnly);
    clone->put_Filter(rt::Variant(int32_t{adFilterAffectedRecords}));
    EXPECT_TRUE(clone->get_BOF() && clone->get_EOF());
    clone->put_Filter(rt::Variant(int32_t{adFilterConflictingRecords}));
    EXPECT_EQ(clone->get_RecordCount(), 0);
    clone->put_Filter(rt::Variant(int32_t{adFilterFetchedRecords}));
    EXPECT_EQ(clone->get_RecordCount(), 4);
    rs->put_Filter(rt::Variant(int32_t{adFilterAffectedRecords}));
    ASSERT_EQ(rs->get_RecordCount(), 1);
    EXPECT_EQ(rs->get_Status(), adRecDeleted);
    EXPECT_EQ(rt::CLng(rs->get_Fields()->Item("ID")->get_OriginalValue()), 3);
}

TEST(RecordsetSort, SortsOnSeveralKeysAndKeepsEqualRowsInOrder) {
    auto rs = FiveRows();
    rs->put_Sort("VAL DESC, [NAME] ASC");
    // VAL 20: A(2), B(5); VAL 10: a(3), b(1); Null last when descending.
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{2, 5, 3, 1, 4}));
    rs->put_Sort("VAL");
    // Nulls first; equal values keep their row order (stable).
    EXPECT_EQ(AllIds(rs), (std::vector<int32_t>{4, 1, 3, 2, 5}));
    EXPECT_EQ(rs->get_Sort(), "VAL");
    EXPECT_EQ(ErrorOf([&] { rs->put_Sort("MISSING"); }), err::ItemNotFound);
}

TEST(RecordsetSort, SortPutsACursorOnARowOnTheFirstSortedRowAndLeavesEofAlone) {
    auto rs = FiveRows();
    rs->Move(2);
    rs->put_Sort("ID DESC");
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 5);
    rs->MoveLast();
    rs->MoveNext();
    rs->put_Sort("");
    EXPECT_TRUE(rs->get_EOF());
    EXPECT_FALSE(rs->get_BOF());
}

TEST(RecordsetSort, SortSetBeforeOpenIsAppliedWhenTheRowsArrive) {
    auto rs = Recordset::Create();
    rs->put_Sort("NAME DESC");
    rs->get_Fields()->Append("NAME", adVarWChar, 10);
    rs->Open();
    for (const char* name : {"b", "c", "a"}) rs->AddNew(rt::Variant("NAME"), rt::Variant(name));
    EXPECT_EQ(rs->get_Sort(), "NAME DESC");
    rs->put_Sort(rs->get_Sort());  // rows added after a sort join its end until it is set again
    std::string order;
    rs->MoveFirst();
    while (!rs->get_EOF()) {
        order += rt::CStr(rs->GetValue("NAME"));
        rs->MoveNext();
    }
    EXPECT_EQ(order, "cba");
    auto bad = Recordset::Create();
    bad->put_Sort("MISSING");
    bad->get_Fields()->Append("NAME", adVarWChar, 10);
    EXPECT_EQ(ErrorOf([&] { bad->Open(); }), err::ItemNotFound);
    EXPECT_EQ(bad->get_State(), adStateClosed);
}

TEST(RecordsetSort, EqualTextsStayTogetherWhateverTheirCase) {
    auto rs = MakeRecordset({{1, "a", 0}, {2, "A", 0}, {3, "a", 0}, {4, "b", 0}});
    rs->put_Sort("NAME");
    std::vector<std::string> names;
    rs->MoveFirst();
    while (!rs->get_EOF()) {
        names.push_back(rt::CStr(rs->GetValue("NAME")));
        rs->MoveNext();
    }
    EXPECT_EQ(names, (std::vector<std::string>{"A", "a", "a", "b"}));
}

TEST(RecordsetFind, FindsForwardBackwardWithSkipAndStart) {
    auto rs = FiveRows();
    rs->Find("VAL = 20");
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 2);
    rs->Find("VAL = 20", 1);
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 5);
    rs->Find("VAL = 10", 0, adSearchBackward);
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 3);
    rs->Find("VAL = 20", 0, adSearchForward, rt::Variant(int32_t{adBookmarkFirst}));
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 2);
    rs->Find("NAME = 'nothing'");
    EXPECT_TRUE(rs->get_EOF());
    rs->Find("ID = 1", 0, adSearchBackward, rt::Variant(int32_t{adBookmarkLast}));
    EXPECT_EQ(rt::CLng(rs->GetValue("ID")), 1);
    rs->Find("ID = 9", 0, adSearchBackward);
    EXPECT_TRUE(rs->get_BOF());
}

TEST(RecordsetKeptView, AFreshCloneTakesTheViewOnlyWhileTheRowsAreUnchanged) {
    struct Case {
        const char* what;
        std::function<RecordsetPtr(const RecordsetPtr& source)> taker;
        bool taken;
    };
    const Case cases[] = {
        {"unchanged rows", [](const RecordsetPtr& s) { return s->Clone(); }, true},
        {"a value of the changed row assigned again",
         [](const RecordsetPtr& s) {
             s->MoveFirst();
             s->SetValue(rt::Variant("NAME"), rt::Variant("z"));
             s->Update();
             return s->Clone();
         },
         false},
        {"a row added since",
         [](const RecordsetPtr& s) {
             s->AddNew(rt::Variant("ID"), rt::Variant(int32_t{6}));
             return s->Clone();
         },
         false},
        {"the same rows in another store", [](const RecordsetPtr&) { return FiveRows(); }, false},
    };
    for (const auto& c : cases) {
        // The first row already changed: changing it again keeps its status.
        auto source = FiveRows();
        source->MoveFirst();
        source->SetValue(rt::Variant("NAME"), rt::Variant("y"));
        source->Update();
        auto view = source->Clone();
        view->put_Filter(rt::Variant("VAL = 10"));
        view->put_Sort("ID DESC");
        auto kept = view->KeepView();
        ASSERT_NE(kept, nullptr) << c.what;
        auto taker = c.taker(source);
        const std::vector<int32_t> before = AllIds(taker);
        EXPECT_EQ(taker->TakeView(*kept), c.taken) << c.what;
        const std::vector<int32_t> keptOrder{3, 1};
        EXPECT_EQ(AllIds(taker), c.taken ? keptOrder : before) << c.what;
    }
}

TEST(RecordsetKeptView, NoneIsKeptOfAGroupFilterOrDuringAnEdit) {
    auto grouped = FiveRows();
    EXPECT_NE(grouped->KeepView(), nullptr);
    grouped->put_Filter(rt::Variant(int32_t{adFilterPendingRecords}));
    EXPECT_EQ(grouped->KeepView(), nullptr);
    auto editing = FiveRows();
    editing->MoveFirst();
    editing->SetValue(rt::Variant("NAME"), rt::Variant("z"));
    EXPECT_EQ(editing->KeepView(), nullptr);
}
