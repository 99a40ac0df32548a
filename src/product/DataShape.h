#pragma once
// The data-shaping provider the product's applications run hierarchy texts
// on, as far as the texts of many-to-many ownership need it:
//
//   SHAPE table-exp [[AS] alias] [APPEND field, field ...]
//   table-exp := {provider command} | (shape)
//   field     := (table-exp [[AS] alias] RELATE parent TO child [, ...]) [[AS] alias]
//
// Keywords in any case. Each provider command (a SELECT) is run through the
// data context's OpenRecordset, the parent before its children; each child
// row goes to the parent rows whose RELATE columns equal its own (a Null
// relates nothing). The result is plain values: the parent rows, each with
// its related child rows per chapter alias, nested as the text nests (no
// chapter fields in recordsets). A text outside the grammar, or a RELATE
// column a row set lacks, raises 0x80040E14 naming the place.
//
// Free function; the context's thread.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "runtime/Variant.h"

namespace pelmora {
class IDataContext;
}

namespace product {

struct ShapedRows;

struct ShapeChapter {
    std::string alias;
    std::shared_ptr<ShapedRows> rows;  // the related child rows of one parent row
};

struct ShapedRows {
    struct Row {
        std::vector<rt::Variant> values;    // one per field
        std::vector<ShapeChapter> chapters; // one per APPEND field, in text order
    };
    std::vector<std::string> fields;  // upper-cased names
    std::vector<Row> rows;

    // A value by field name (any case); raises 0x80040E14 for an unknown name.
    const rt::Variant& Value(size_t row, const std::string& field) const;
    // A row's chapter by alias (any case); nullptr when it has none.
    const ShapedRows* Chapter(size_t row, const std::string& alias) const;
};

inline constexpr int32_t kShapeCommandError = static_cast<int32_t>(0x80040E14u);

ShapedRows RunShapeCommand(pelmora::IDataContext& context, const std::string& text);

}  // namespace product
