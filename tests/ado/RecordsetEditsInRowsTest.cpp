// A recordset that edits in the rows: the family reads an edit as it is
// made; how the edit ends decides whether the change is pending or the
// values it replaced come back.
#include <gtest/gtest.h>

#include <functional>

#include "AdoTestUtil.h"

using namespace ado;
using adotest::MakeRecordset;

namespace {

std::string NameOf(const RecordsetPtr& rs) { return rt::CStr(rs->GetValue("NAME")); }

}  // namespace

TEST(RecordsetEditsInRows, HowTheEditEndsDecidesWhatTheRowsKeep) {
    struct Case {
        const char* what;
        std::function<void(RecordsetPtr&)> end;  // ends (or drops) the edit of row 2
        const char* name;                        // what row 2 then holds
        int32_t status;                          // and its status
    };
    const Case cases[] = {
        {"Update", [](RecordsetPtr& rs) { rs->Update(); }, "edited", adRecModified},
        {"CancelUpdate", [](RecordsetPtr& rs) { rs->CancelUpdate(); }, "two", adRecUnmodified},
        {"a move", [](RecordsetPtr& rs) { rs->MoveFirst(); }, "edited", adRecModified},
        {"Close", [](RecordsetPtr& rs) { rs->Close(); }, "two", adRecUnmodified},
        {"let go", [](RecordsetPtr& rs) { rs.reset(); }, "edited", adRecModified},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto rows = MakeRecordset({{1, "one", 1.5}, {2, "two", 2.5}});
        auto view = rows->Clone();
        view->put_EditsInRows(true);
        auto plain = rows->Clone();
        EXPECT_FALSE(view->Clone()->get_EditsInRows());  // a clone starts without it
        view->put_Filter(rt::Variant("ID = 2"));
        view->SetValue(rt::Variant("NAME"), rt::Variant("edited"));
        // The family reads the edit at once; the editor's original is the row as fetched.
        plain->put_Filter(rt::Variant("ID = 2"));
        EXPECT_EQ(NameOf(plain), "edited");
        EXPECT_EQ(rt::CStr(view->get_Fields()->Item("NAME")->get_OriginalValue()), "two");
        EXPECT_EQ(view->get_EditMode(), adEditInProgress);
        c.end(view);
        plain->put_Filter(rt::Variant("ID = 2"));
        EXPECT_EQ(NameOf(plain), c.name);
        EXPECT_EQ(plain->get_Status(), c.status);
        // A pending change keeps the row as fetched for the save.
        EXPECT_EQ(rt::CStr(plain->get_Fields()->Item("NAME")->get_OriginalValue()), "two");
    }
}
