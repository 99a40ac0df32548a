#pragma once
// What a field is, independent of any row: enough to write pending rows back
// to their base table and to persist a recordset.
#include <cstdint>
#include <string>

#include "ado/Enums.h"

namespace ado {

struct FieldDesc {
    std::string name;
    DataTypeEnum type = adVariant;
    int32_t definedSize = 0;
    uint8_t precision = 0;
    uint8_t numericScale = 0;
    int32_t attributes = 0;  // FieldAttributeEnum bits
    std::string baseTable;   // "" for computed or fabricated fields
    std::string baseColumn;
};

}  // namespace ado
