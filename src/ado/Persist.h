#pragma once
// Persisted recordsets: the project's own versioned binary file format
// (docs/PERSISTED_RECORDSET.md). A damaged, truncated or foreign file is
// refused with a ComError naming the file, never a crash.
//
// Errors (Source "ADODB.Recordset"):
//   persist::FileError  (0x80004005) the file cannot be opened, read, written
//                       or renamed into place;
//   persist::BadFormat  (0x800A0BB9, ADO's invalid-argument number) the bytes
//                       are not a persisted recordset this program reads:
//                       foreign, truncated, damaged, or of a newer version;
//   persist::Unsupported (0x800A0D5D) SaveImage/SerializeImage met a value the
//                       format cannot hold (an object, an error value, an
//                       array other than a one-dimensional Byte array).
#include <cstdint>
#include <string>
#include <vector>

#include "ado/Enums.h"
#include "ado/FieldDesc.h"
#include "runtime/Variant.h"

namespace ado {

namespace persist {
inline constexpr int32_t FileError = static_cast<int32_t>(0x80004005);
inline constexpr int32_t BadFormat = err::InvalidArgument;
inline constexpr int32_t Unsupported = err::DataConversion;
// The format version this program writes; it reads versions 1 to this one.
inline constexpr uint16_t FormatVersion = 1;
// The largest file LoadImage reads (2 GiB): its rows would take many times
// that much memory. Larger files are refused before they are read.
inline constexpr uint64_t MaxFileBytes = uint64_t{1} << 31;
// The CRC-32 (IEEE) that closes every file, over all bytes before it.
uint32_t Checksum(const char* data, size_t size);
}  // namespace persist

struct RecordsetImage {
    std::string source;
    std::vector<FieldDesc> fields;
    // Row-major: row r, field f is values[r * fields.size() + f].
    std::vector<rt::Variant> values;
    size_t RowCount() const { return fields.empty() ? 0 : values.size() / fields.size(); }
};

// Writes a temporary file beside path and renames it into place, so that a
// reader sees either the old file or the whole new one.
void SaveImage(const std::string& path, const RecordsetImage& image);
RecordsetImage LoadImage(const std::string& path);
// The same from and to memory (used by the file functions and the fuzzer).
std::string SerializeImage(const RecordsetImage& image);
RecordsetImage DeserializeImage(const std::string& bytes, const std::string& nameForErrors = "<memory>");
RecordsetImage DeserializeImage(const char* data, size_t size, const std::string& nameForErrors = "<memory>");

}  // namespace ado
