#pragma once
// Persisted recordsets: the project's own versioned binary file format
// (docs/PERSISTED_RECORDSET.md). A damaged, truncated or foreign file is
// refused with a ComError naming the file, never a crash.
#include <string>
#include <vector>

#include "ado/FieldDesc.h"
#include "runtime/Variant.h"

namespace ado {

struct RecordsetImage {
    std::string source;
    std::vector<FieldDesc> fields;
    // Row-major: row r, field f is values[r * fields.size() + f].
    std::vector<rt::Variant> values;
    size_t RowCount() const { return fields.empty() ? 0 : values.size() / fields.size(); }
};

void SaveImage(const std::string& path, const RecordsetImage& image);
RecordsetImage LoadImage(const std::string& path);
// The same from and to memory (used by the file functions and the fuzzer).
std::string SerializeImage(const RecordsetImage& image);
RecordsetImage DeserializeImage(const std::string& bytes, const std::string& nameForErrors = "<memory>");

}  // namespace ado
