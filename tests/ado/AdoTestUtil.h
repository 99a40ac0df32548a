#pragma once
// Small builders shared by the recordset tests.
#include <string>
#include <vector>

#include "ado/Recordset.h"
#include "runtime/Vb.h"
#include "support/Raises.h"

namespace adotest {

using pelmora_test::ErrorOf;

// A fabricated recordset (ID Long, NAME text, VAL Double) holding the rows
// given as (id, name, val); a val of -1 is stored as Null.
struct Row {
    int32_t id;
    std::string name;
    double val;
};

inline ado::RecordsetImage MakeImage(const std::vector<Row>& rows) {
    ado::RecordsetImage image;
    image.source = "TEST_TABLE";
    ado::FieldDesc id{"ID", ado::adInteger, 4, 10, 0, ado::adFldFixed, "TEST_TABLE", "ID"};
    ado::FieldDesc name{"NAME", ado::adVarWChar, 50, 0, 0, ado::adFldIsNullable, "TEST_TABLE", "NAME"};
    ado::FieldDesc val{"VAL", ado::adDouble, 8, 15, 0, ado::adFldIsNullable, "TEST_TABLE", "VAL"};
    image.fields = {id, name, val};
    for (const auto& r : rows) {
        image.values.push_back(rt::Variant(r.id));
        image.values.push_back(rt::Variant(r.name));
        image.values.push_back(r.val == -1 ? rt::Variant::Null() : rt::Variant(r.val));
    }
    return image;
}

// Rows as the data context hands them out: fetched, nothing pending.
inline ado::RecordsetPtr MakeRecordset(const std::vector<Row>& rows,
                                       ado::LockTypeEnum lock = ado::adLockBatchOptimistic) {
    return ado::Recordset::FromImage(MakeImage(rows), lock, ado::adOpenKeyset);
}

// The IDs of the visible rows from the current position to EOF.
inline std::vector<int32_t> IdsFromHere(const ado::RecordsetPtr& rs) {
    std::vector<int32_t> ids;
    while (!rs->get_EOF()) {
        ids.push_back(rt::CLng(rs->GetValue("ID")));
        rs->MoveNext();
    }
    return ids;
}

inline std::vector<int32_t> AllIds(const ado::RecordsetPtr& rs) {
    if (rs->get_BOF() && rs->get_EOF()) return {};
    rs->MoveFirst();
    return IdsFromHere(rs);
}

}  // namespace adotest
