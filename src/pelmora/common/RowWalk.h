#pragma once
// A walk over the rows a recordset has when it begins. Extension code called
// at each row may add rows or delete them: walked to EOF, rows added at every
// row would never end. A walk takes the bookmarks first and stands on each in
// turn; a row deleted meanwhile is skipped, a row added meanwhile is left to
// the next walk.
#include <memory>
#include <vector>

#include "runtime/Variant.h"

namespace ado {
class Recordset;
}

namespace pelmora {

// The bookmarks of the rows in view, in order; the rows are left at EOF.
std::vector<rt::Variant> RowBookmarks(ado::Recordset& rows);
// Makes the bookmark's row current; false when the row is no longer there.
bool StandOnRow(ado::Recordset& rows, const rt::Variant& bookmark);
// Puts the rows past their last row, where a walk to EOF leaves them.
void LeaveAtEnd(ado::Recordset& rows);

// Calls visit() standing on each row in view now, in order; the rows are
// left past their last row.
template <class Visit>
void ForEachRowBegunWith(ado::Recordset& rows, Visit&& visit) {
    for (const rt::Variant& bookmark : RowBookmarks(rows))
        if (StandOnRow(rows, bookmark)) visit();
    LeaveAtEnd(rows);
}

}  // namespace pelmora
