#pragma once
// The metadata cache hands out read-only tables. Tests and benches that change
// a metadata row swap in an editable copy under the same key and source, so the
// services reading the table afterwards see the change. Header only: benches
// use it without the test libraries.

#include <memory>
#include <string>

#include "ado/Recordset.h"
#include "pelmora/metadata/MetadataRecordset.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "pelmora/metadata/MetadataService.h"
#include "runtime/Vb.h"

namespace pelmora_test {

inline std::shared_ptr<ado::Recordset> EditableMetadataTable(pelmora::MetadataService& metadata,
                                                             const std::string& key) {
    auto recordsets = metadata.get_Recordsets();
    auto item = recordsets->get_Item(rt::Variant(key));
    auto rs = item->get_Recordset();
    if (rs->get_LockType() != ado::adLockReadOnly) return rs;
    const std::string source = item->get_Source();
    rs = ado::Recordset::FromImage(rs->ToImage(), ado::adLockOptimistic, ado::adOpenKeyset);
    recordsets->Remove(rt::Variant(key));
    recordsets->AppendRecordset(key, source, rs);
    return rs;
}

// Sets a field of the rows of attribute ano; false when there is none.
inline bool SetMetadataAttribute(pelmora::MetadataService& metadata, int32_t ano, const std::string& field,
                                 const rt::Variant& value) {
    auto rs = EditableMetadataTable(metadata, "QTX_ATTRIBUTEINFO_OPTABLE");
    bool found = false;
    for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext())
        if (rt::CLng(rs->GetValue(rt::Variant("QTX_ANO"))) == ano) {
            rs->SetValue(rt::Variant(field), value);
            rs->Update();
            found = true;
        }
    return found;
}

}  // namespace pelmora_test
