#include "ado/Persist.h"


#include <array>
#include <bit>
#include <cstring>

#include "runtime/Error.h"
#include "runtime/FileReplace.h"
#include "runtime/RegularFile.h"

namespace ado {

namespace {

constexpr const char* kSource = "ADODB.Recordset";
constexpr char kMagic[8] = {'P', 'L', 'M', 'R', 'S', 'E', 'T', '\x1A'};
// magic, version, flags, source length, field count, row count, checksum.
constexpr size_t kMinimumSize = 8 + 2 + 2 + 4 + 4 + 8 + 4;
// name, base table and base column lengths, type, size, precision, scale, attributes.
constexpr size_t kMinimumFieldSize = 4 + 4 + 4 + 4 + 4 + 1 + 1 + 4;

// Value tags: the Variant type for scalars, 0x91 for a Byte array.
enum Tag : uint8_t {
    TagEmpty = 0, TagNull = 1, TagI2 = 2, TagI4 = 3, TagR4 = 4, TagR8 = 5, TagCurrency = 6, TagDate = 7,
    TagString = 8, TagBool = 11, TagDecimal = 14, TagByte = 17, TagByteArray = 0x91
};

// CRC-32 (IEEE 802.3), sixteen bytes a step.
struct CrcTables {
    uint32_t t[16][256];
    CrcTables() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (int s = 1; s < 16; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    }
};

const CrcTables& Tables() {
    static const CrcTables tables;
    return tables;
}

// ---------------------------------------------------------------- writing

class Writer {
public:
    explicit Writer(std::string& out) : out_(out) {}
    void Bytes(const void* p, size_t n) { out_.append(static_cast<const char*>(p), n); }
    template <class T>
    void Le(T v) {
        // The format is little-endian; so is every machine we build for.
        static_assert(std::endian::native == std::endian::little);
        Bytes(&v, sizeof v);
    }
    void Text(const std::string& s) {
        if (s.size() > UINT32_MAX) Unsupported("a text longer than 4 GB");
        Le<uint32_t>(static_cast<uint32_t>(s.size()));
        Bytes(s.data(), s.size());
    }
    [[noreturn]] static void Unsupported(const std::string& what) {
        throw rt::ComError(persist::Unsupported, kSource, "A persisted recordset cannot hold " + what + ".");
    }

private:
    std::string& out_;
};

void WriteValue(Writer& w, const rt::Variant& v) {
    switch (v.Type()) {
        case rt::vbEmpty: w.Le<uint8_t>(TagEmpty); return;
        case rt::vbNull: w.Le<uint8_t>(TagNull); return;
        case rt::vbInteger: w.Le<uint8_t>(TagI2); w.Le<int16_t>(v.I2()); return;
        case rt::vbLong: w.Le<uint8_t>(TagI4); w.Le<int32_t>(v.I4()); return;
        case rt::vbSingle: w.Le<uint8_t>(TagR4); w.Le<float>(static_cast<float>(v.R8())); return;
        case rt::vbDouble: w.Le<uint8_t>(TagR8); w.Le<double>(v.R8()); return;
        case rt::vbCurrency: w.Le<uint8_t>(TagCurrency); w.Le<int64_t>(v.Cy().scaled); return;
        case rt::vbDate: w.Le<uint8_t>(TagDate); w.Le<double>(v.DateValue()); return;
        case rt::vbString: w.Le<uint8_t>(TagString); w.Text(v.Str()); return;
        case rt::vbBoolean: w.Le<uint8_t>(TagBool); w.Le<uint8_t>(v.Bool() ? 1 : 0); return;
        case rt::vbByte: w.Le<uint8_t>(TagByte); w.Le<uint8_t>(v.Byte()); return;
        case rt::vbDecimal: {
            const rt::Decimal& d = v.Dec();
            if (d.scale > 28 || (d.magnitude >> 96) != 0) Writer::Unsupported("a Decimal out of range");
            w.Le<uint8_t>(TagDecimal);
            w.Le<uint8_t>(d.scale);
            w.Le<uint8_t>(d.negative ? 1 : 0);
            w.Le<uint64_t>(static_cast<uint64_t>(d.magnitude));
            w.Le<uint32_t>(static_cast<uint32_t>(d.magnitude >> 64));
            return;
        }
        case rt::vbArray | rt::vbByte: {
            const rt::SafeArray* a = v.Array();
            if (!a) Writer::Unsupported("an unallocated Byte array");
            if (a->Dims() != 1) Writer::Unsupported("a Byte array of more than one dimension");
            w.Le<uint8_t>(TagByteArray);
            w.Le<int32_t>(a->LBound(1));
            w.Le<uint32_t>(static_cast<uint32_t>(a->Count()));
            for (const rt::Variant& b : a->Data()) w.Le<uint8_t>(b.Byte());
            return;
        }
        default:
            Writer::Unsupported("a value of type " + rt::TypeName(v));
    }
}

// ---------------------------------------------------------------- reading

class Reader {
public:
    Reader(const char* data, size_t size, const std::string& name) : p_(data), end_(data + size), begin_(data), name_(name) {}

    size_t Offset() const { return static_cast<size_t>(p_ - begin_); }
    size_t Remaining() const { return static_cast<size_t>(end_ - p_); }

    [[noreturn]] void Fail(const std::string& why) const {
        throw rt::ComError(persist::BadFormat, kSource, "The persisted recordset file '" + name_ + "' " + why + ".");
    }
    [[noreturn]] void Damaged(const std::string& why) const {
        Fail("is damaged: " + why + " at offset " + std::to_string(Offset()));
    }

    void Need(size_t n) const {
        if (Remaining() < n) Fail("is truncated: " + std::to_string(n) + " bytes needed at offset " +
                                  std::to_string(Offset()) + ", " + std::to_string(Remaining()) + " left");
    }
    template <class T>
    T Le() {
        Need(sizeof(T));
        T v;
        std::memcpy(&v, p_, sizeof v);
        p_ += sizeof v;
        return v;
    }
    void Text(std::string& out) {
        uint32_t n = Le<uint32_t>();
        Need(n);
        out.assign(p_, n);
        p_ += n;
    }
    const char* Skip(size_t n) {
        Need(n);
        const char* at = p_;
        p_ += n;
        return at;
    }
    void Shrink(size_t n) { end_ -= n; }

private:
    const char* p_;
    const char* end_;
    const char* begin_;
    const std::string& name_;
};

rt::Variant ReadValue(Reader& r) {
    uint8_t tag = r.Le<uint8_t>();
    switch (tag) {
        case TagEmpty: return rt::Variant();
        case TagNull: return rt::Variant::Null();
        case TagI2: return rt::Variant(r.Le<int16_t>());
        case TagI4: return rt::Variant(r.Le<int32_t>());
        case TagR4: return rt::Variant(r.Le<float>());
        case TagR8: return rt::Variant(r.Le<double>());
        case TagCurrency: return rt::Variant(rt::Currency{r.Le<int64_t>()});
        case TagDate: return rt::Variant::Date(r.Le<double>());
        case TagString: {
            uint32_t n = r.Le<uint32_t>();
            const char* at = r.Skip(n);
            return rt::Variant(std::string_view(at, n));
        }
        case TagBool: {
            uint8_t b = r.Le<uint8_t>();
            if (b > 1) r.Damaged("a Boolean value of " + std::to_string(b));
            return rt::Variant(b != 0);
        }
        case TagByte: return rt::Variant(r.Le<uint8_t>());
        case TagDecimal: {
            rt::Decimal d;
            d.scale = r.Le<uint8_t>();
            uint8_t sign = r.Le<uint8_t>();
            uint64_t lo = r.Le<uint64_t>();
            uint32_t hi = r.Le<uint32_t>();
            if (d.scale > 28 || sign > 1) r.Damaged("a Decimal with scale " + std::to_string(d.scale));
            d.negative = sign != 0;
            d.magnitude = (static_cast<unsigned __int128>(hi) << 64) | lo;
            return rt::Variant(d);
        }
        case TagByteArray: {
            int32_t lbound = r.Le<int32_t>();
            uint32_t count = r.Le<uint32_t>();
            if (count > static_cast<uint32_t>(INT32_MAX) ||
                static_cast<int64_t>(lbound) + count - 1 > INT32_MAX)
                r.Damaged("a Byte array of " + std::to_string(count) + " elements from " + std::to_string(lbound));
            const char* at = r.Skip(count);  // checked before the array is made
            rt::Variant v = rt::Variant::MakeArray(rt::vbByte, lbound, static_cast<int32_t>(lbound + (int64_t{count} - 1)));
            auto& data = v.ArrayMut()->Data();
            data.clear();  // same size again below; built in place rather than assigned
            for (uint32_t i = 0; i < count; ++i) data.emplace_back(static_cast<uint8_t>(at[i]));
            return v;
        }
        default:
            r.Damaged("unknown value tag " + std::to_string(tag));
    }
}

constexpr size_t kHeadSize = sizeof kMagic + 2;

// The signature and the version, from as much of the head as there is.
void CheckHead(const Reader& r, const char* head, size_t size) {
    if (size == 0) r.Fail("is empty");
    if (size < sizeof kMagic || std::memcmp(head, kMagic, sizeof kMagic) != 0)
        r.Fail("is not a persisted recordset (unknown signature)");
    if (size < kHeadSize) r.Fail("is truncated: " + std::to_string(size) + " bytes");
    uint16_t version;
    std::memcpy(&version, head + sizeof kMagic, sizeof version);
    if (version == 0 || version > persist::FormatVersion)
        r.Fail("has format version " + std::to_string(version) + "; this program reads versions 1 to " +
               std::to_string(persist::FormatVersion));
}

[[noreturn]] void FileFailure(const std::string& what, const std::string& path, const std::string& cause) {
    throw rt::ComError(persist::FileError, kSource, "File could not be " + what + ": '" + path + "' (" + cause + ").");
}
[[noreturn]] void FileFailure(const std::string& what, const std::string& path, int errnum) {
    FileFailure(what, path, std::string(std::strerror(errnum)));
}

}  // namespace

namespace persist {
uint32_t Checksum(const char* data, size_t size) {
    const auto& t = Tables().t;
    uint32_t c = 0xFFFFFFFFu;
    auto p = reinterpret_cast<const unsigned char*>(data);
    while (size >= 16) {
        uint32_t a, b, d, e;
        std::memcpy(&a, p, 4);
        std::memcpy(&b, p + 4, 4);
        std::memcpy(&d, p + 8, 4);
        std::memcpy(&e, p + 12, 4);
        a ^= c;
        c = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
            t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
            t[7][d & 0xFF] ^ t[6][(d >> 8) & 0xFF] ^ t[5][(d >> 16) & 0xFF] ^ t[4][d >> 24] ^
            t[3][e & 0xFF] ^ t[2][(e >> 8) & 0xFF] ^ t[1][(e >> 16) & 0xFF] ^ t[0][e >> 24];
        p += 16;
        size -= 16;
    }
    if (size >= 8) {
        uint32_t a, b;
        std::memcpy(&a, p, 4);
        std::memcpy(&b, p + 4, 4);
        a ^= c;
        c = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^
            t[3][b & 0xFF] ^ t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
        p += 8;
        size -= 8;
    }
    while (size--) c = t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}
}  // namespace persist

std::string SerializeImage(const RecordsetImage& image) {
    const size_t fieldCount = image.fields.size();
    if (fieldCount == 0 ? !image.values.empty() : image.values.size() % fieldCount != 0)
        throw rt::ComError(persist::Unsupported, kSource,
                           "A recordset image needs whole rows: " + std::to_string(image.values.size()) +
                               " values for " + std::to_string(fieldCount) + " fields.");
    if (fieldCount > UINT32_MAX) Writer::Unsupported("more than 4294967295 fields");
    std::string out;
    out.reserve(kMinimumSize + image.source.size() + fieldCount * 64 + image.values.size() * 9);
    Writer w(out);
    w.Bytes(kMagic, sizeof kMagic);
    w.Le<uint16_t>(persist::FormatVersion);
    w.Le<uint16_t>(0);  // flags, none defined yet
    w.Text(image.source);
    w.Le<uint32_t>(static_cast<uint32_t>(fieldCount));
    for (const FieldDesc& f : image.fields) {
        w.Text(f.name);
        w.Le<int32_t>(f.type);
        w.Le<int32_t>(f.definedSize);
        w.Le<uint8_t>(f.precision);
        w.Le<uint8_t>(f.numericScale);
        w.Le<int32_t>(f.attributes);
        w.Text(f.baseTable);
        w.Text(f.baseColumn);
    }
    w.Le<uint64_t>(image.RowCount());
    for (const rt::Variant& v : image.values) WriteValue(w, v);
    w.Le<uint32_t>(persist::Checksum(out.data(), out.size()));
    return out;
}

RecordsetImage DeserializeImage(const std::string& bytes, const std::string& nameForErrors) {
    return DeserializeImage(bytes.data(), bytes.size(), nameForErrors);
}

RecordsetImage DeserializeImage(const char* data, size_t size, const std::string& nameForErrors) {
    Reader r(data, size, nameForErrors);
    CheckHead(r, data, size);
    r.Skip(kHeadSize);
    if (size < kMinimumSize) r.Fail("is truncated: " + std::to_string(size) + " bytes");
    uint32_t stored;
    std::memcpy(&stored, data + size - 4, 4);
    if (persist::Checksum(data, size - 4) != stored) r.Fail("is damaged or truncated (checksum mismatch)");
    r.Shrink(4);

    uint16_t flags = r.Le<uint16_t>();
    if (flags != 0) r.Damaged("unknown flags " + std::to_string(flags));

    RecordsetImage image;
    r.Text(image.source);
    uint32_t fieldCount = r.Le<uint32_t>();
    // Counts are believed only as far as the bytes left can hold them.
    if (fieldCount > r.Remaining() / kMinimumFieldSize)
        r.Damaged("a field count of " + std::to_string(fieldCount) + " in " + std::to_string(r.Remaining()) +
                  " bytes");
    image.fields.resize(fieldCount);
    for (FieldDesc& f : image.fields) {
        r.Text(f.name);
        f.type = static_cast<DataTypeEnum>(r.Le<int32_t>());
        f.definedSize = r.Le<int32_t>();
        f.precision = r.Le<uint8_t>();
        f.numericScale = r.Le<uint8_t>();
        f.attributes = r.Le<int32_t>();
        r.Text(f.baseTable);
        r.Text(f.baseColumn);
    }
    uint64_t rowCount = r.Le<uint64_t>();
    if (fieldCount == 0 ? rowCount != 0 : rowCount > r.Remaining() / fieldCount)
        r.Damaged("a row count of " + std::to_string(rowCount) + " in " + std::to_string(r.Remaining()) + " bytes");
    const size_t valueCount = static_cast<size_t>(rowCount) * fieldCount;
    image.values.reserve(valueCount);
    for (size_t i = 0; i < valueCount; ++i) image.values.push_back(ReadValue(r));
    if (r.Remaining() != 0) r.Damaged(std::to_string(r.Remaining()) + " bytes after the last row");
    return image;
}

RecordsetImage LoadImage(const std::string& path) {
    // Judged by its head and size before the rest is read: a foreign or
    // oversized file costs no memory.
    auto judge = [&](const char* head, size_t headSize, uint64_t fileSize) {
        const Reader r(head, headSize, path);
        CheckHead(r, head, headSize);
        if (fileSize > persist::MaxFileBytes)
            r.Fail("is too large: " + std::to_string(fileSize) + " bytes, more than the " +
                   std::to_string(persist::MaxFileBytes) + " this program reads");
    };
    try {
        const rt::RegularFileRead file = rt::ReadRegularFile(path, UINT64_MAX, kHeadSize, judge);
        if (file.Refused())
            FileFailure(file.failedStep, path, file.cause);
        return DeserializeImage(file.bytes.get(), file.size, path);
    } catch (const std::bad_alloc&) {
        FileFailure("read", path, "not enough memory for its rows");
    }
}

void SaveImage(const std::string& path, const RecordsetImage& image) {
    const std::string bytes = SerializeImage(image);
    if (const rt::FileReplaceFailure failed = rt::ReplaceFile(path, bytes))
        FileFailure(failed.step, failed.path, failed.errnum);
}

}  // namespace ado
