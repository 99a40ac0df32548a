#include "pelmora/common/RowWalk.h"

#include "ado/Recordset.h"
#include "runtime/Error.h"

namespace pelmora {

std::vector<rt::Variant> RowBookmarks(ado::Recordset& rows) {
    std::vector<rt::Variant> bookmarks;
    if (rows.get_BOF() && rows.get_EOF()) return bookmarks;
    for (rows.MoveFirst(); !rows.get_EOF(); rows.MoveNext()) bookmarks.push_back(rows.get_Bookmark());
    return bookmarks;
}

bool StandOnRow(ado::Recordset& rows, const rt::Variant& bookmark) {
    try {
        rows.put_Bookmark(bookmark);
        return true;
    } catch (const rt::ComError& e) {
        if (e.Number() == ado::err::InvalidBookmark) return false;
        throw;
    }
}

void LeaveAtEnd(ado::Recordset& rows) {
    if (rows.get_EOF()) return;
    rows.MoveLast();
    rows.MoveNext();
}

}  // namespace pelmora
