#include "product/MetadataValue.h"

#include "ado/Recordset.h"

namespace product {

rt::Variant MetadataValue(pelmora::IMetadataService& metadata, const std::string& table, const std::string& keyColumn,
                          int32_t key, const std::string& valueColumn) {
    auto rows = metadata.get_Recordsets()->get_Item(rt::Variant(table))->get_Recordset(
        keyColumn + " = " + std::to_string(key), "");
    if (rows->get_BOF() && rows->get_EOF()) return rt::Variant::Null();
    rows->MoveFirst();
    return rows->GetValue(rt::Variant(valueColumn));
}

}  // namespace product
