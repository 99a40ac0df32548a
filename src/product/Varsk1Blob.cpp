// Interface argument blobs: a small versioned, little-endian format so that
// an argument keeps its type (a number stays a number, Null stays Null) and
// a text may hold any character. Reading checks every length against the
// bytes present, so a cut or foreign blob is refused, never over-read.
#include "product/Varsk1Blob.h"

#include <bit>
#include <cstring>

#include "interfaces/Varsk1.h"
#include "runtime/Error.h"

namespace product {

namespace {

constexpr const char* kSource = "Varsk1.ConvertBlobToArray";
constexpr size_t kHeaderSize = 13;  // magic 4, version 1, lower bound 4, count 4

[[noreturn]] void Damaged(const std::string& why) {
    throw rt::ComError(rt::vberr::InvalidProcedureCall, kSource, "The interface argument blob is damaged: " + why + ".");
}

class Writer {
public:
    void Byte(uint8_t b) { out_.push_back(b); }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void U64(uint64_t v) {
        for (int i = 0; i < 8; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void Text(const std::string& s) {
        U32(static_cast<uint32_t>(s.size()));
        out_.insert(out_.end(), s.begin(), s.end());
    }
    std::vector<uint8_t>& Bytes() { return out_; }

private:
    std::vector<uint8_t> out_;
};

class Reader {
public:
    explicit Reader(std::vector<uint8_t> bytes) : in_(std::move(bytes)) {}
    size_t Remaining() const { return in_.size() - pos_; }
    void Need(size_t n, const char* what) {
        if (Remaining() < n) Damaged(std::string("it ends inside ") + what);
    }
    uint8_t Byte(const char* what) {
        Need(1, what);
        return in_[pos_++];
    }
    uint32_t U32(const char* what) {
        Need(4, what);
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t{in_[pos_++]} << (8 * i);
        return v;
    }
    uint64_t U64(const char* what) {
        Need(8, what);
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v |= uint64_t{in_[pos_++]} << (8 * i);
        return v;
    }
    std::string Text(const char* what) {
        uint32_t n = U32(what);
        Need(n, what);
        std::string s(reinterpret_cast<const char*>(in_.data() + pos_), n);
        pos_ += n;
        return s;
    }

private:
    std::vector<uint8_t> in_;
    size_t pos_ = 0;
};

void WriteElement(Writer& w, const rt::Variant& v) {
    switch (v.Type()) {
        case rt::vbEmpty:
        case rt::vbNull:
            w.Byte(static_cast<uint8_t>(v.Type()));
            return;
        case rt::vbInteger:
            w.Byte(rt::vbInteger);
            w.Byte(static_cast<uint8_t>(static_cast<uint16_t>(v.I2())));
            w.Byte(static_cast<uint8_t>(static_cast<uint16_t>(v.I2()) >> 8));
            return;
        case rt::vbLong:
            w.Byte(rt::vbLong);
            w.U32(static_cast<uint32_t>(v.I4()));
            return;
        case rt::vbSingle:
            w.Byte(rt::vbSingle);
            w.U32(std::bit_cast<uint32_t>(static_cast<float>(v.R8())));
            return;
        case rt::vbDouble:
            w.Byte(rt::vbDouble);
            w.U64(std::bit_cast<uint64_t>(v.R8()));
            return;
        case rt::vbCurrency:
            w.Byte(rt::vbCurrency);
            w.U64(static_cast<uint64_t>(v.Cy().scaled));
            return;
        case rt::vbDate:
            w.Byte(rt::vbDate);
            w.U64(std::bit_cast<uint64_t>(v.DateValue()));
            return;
        case rt::vbString:
            w.Byte(rt::vbString);
            w.Text(v.Str());
            return;
        case rt::vbBoolean:
            w.Byte(rt::vbBoolean);
            w.Byte(v.Bool() ? 1 : 0);
            return;
        case rt::vbDecimal:
            w.Byte(rt::vbDecimal);
            w.Text(v.Dec().ToString());
            return;
        case rt::vbByte:
            w.Byte(rt::vbByte);
            w.Byte(v.Byte());
            return;
        default:
            // Objects, arrays and error values have no stored form.
            throw rt::ComError(rt::vberr::TypeMismatch, "ConvertArrayToBlob",
                               "An argument of type " + rt::TypeName(v) + " cannot be stored.");
    }
}

rt::Variant ReadElement(Reader& r) {
    const uint8_t tag = r.Byte("an element's type");
    switch (tag) {
        case rt::vbEmpty:
            return rt::Variant();
        case rt::vbNull:
            return rt::Variant::Null();
        case rt::vbInteger: {
            uint16_t lo = r.Byte("an Integer"), hi = r.Byte("an Integer");
            return rt::Variant(static_cast<int16_t>(lo | (hi << 8)));
        }
        case rt::vbLong:
            return rt::Variant(static_cast<int32_t>(r.U32("a Long")));
        case rt::vbSingle:
            return rt::Variant(std::bit_cast<float>(r.U32("a Single")));
        case rt::vbDouble:
            return rt::Variant(std::bit_cast<double>(r.U64("a Double")));
        case rt::vbCurrency:
            return rt::Variant(rt::Currency{static_cast<int64_t>(r.U64("a Currency"))});
        case rt::vbDate:
            return rt::Variant::Date(std::bit_cast<double>(r.U64("a Date")));
        case rt::vbString:
            return rt::Variant(r.Text("a text"));
        case rt::vbBoolean: {
            uint8_t b = r.Byte("a Boolean");
            if (b > 1) Damaged("a Boolean holds " + std::to_string(b));
            return rt::Variant(b == 1);
        }
        case rt::vbDecimal: {
            std::string text = r.Text("a Decimal");
            try {
                return rt::Variant(rt::Decimal::Parse(text));
            } catch (const rt::ComError&) {
                Damaged("a Decimal reads \"" + text + "\"");
            }
        }
        case rt::vbByte:
            return rt::Variant(r.Byte("a Byte"));
        default:
            Damaged("unknown element type " + std::to_string(tag));
    }
}

std::vector<uint8_t> BytesOf(const rt::Variant& blob) {
    if (blob.Type() != (rt::vbArray | rt::vbByte))
        throw rt::ComError(rt::vberr::TypeMismatch, kSource,
                           "The interface argument is a " + rt::TypeName(blob) + ", not a blob.");
    const rt::SafeArray* a = blob.Array();
    std::vector<uint8_t> bytes;
    if (!a) return bytes;
    if (a->Dims() != 1) Damaged("it is not a one-dimensional byte array");
    bytes.reserve(a->Count());
    for (const auto& b : a->Data()) bytes.push_back(b.Byte());
    return bytes;
}

}  // namespace

rt::Variant ConvertArrayToBlob(const rt::Variant& Arguments) {
    if (Arguments.IsEmpty() || Arguments.IsNull()) return rt::Variant::Null();
    if (!Arguments.IsArray())
        throw rt::ComError(rt::vberr::TypeMismatch, "ConvertArrayToBlob", "The arguments are not an array.");
    const rt::SafeArray* a = Arguments.Array();
    if (a && a->Dims() != 1)
        throw rt::ComError(rt::vberr::SubscriptOutOfRange, "ConvertArrayToBlob",
                           "The arguments are not a one-dimensional array.");
    Writer w;
    for (char c : kArgumentBlobMagic) w.Byte(static_cast<uint8_t>(c));
    w.Byte(kArgumentBlobVersion);
    w.U32(static_cast<uint32_t>(a ? a->LBound() : 0));
    w.U32(static_cast<uint32_t>(a ? a->Count() : 0));
    if (a)
        for (const auto& element : a->Data()) WriteElement(w, element);
    std::vector<rt::Variant> bytes;
    bytes.reserve(w.Bytes().size());
    for (uint8_t b : w.Bytes()) bytes.emplace_back(b);
    return rt::Variant::ArrayOf(bytes, 0, rt::vbByte);
}

std::string BlobToHex(const rt::Variant& Blob) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : BytesOf(Blob)) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

void ConvertBlobToArray(const rt::Variant& Blob, rt::Variant& Result) {
    if (Blob.IsEmpty() || Blob.IsNull()) {
        Result = rt::Variant();
        return;
    }
    std::vector<uint8_t> bytes = BytesOf(Blob);
    // Oracle keeps no empty blob; an empty one means no arguments as well.
    if (bytes.empty()) {
        Result = rt::Variant();
        return;
    }
    Reader r(std::move(bytes));
    if (r.Remaining() < kHeaderSize) Damaged("it is shorter than its header");
    for (char c : kArgumentBlobMagic)
        if (r.Byte("the header") != static_cast<uint8_t>(c)) Damaged("it does not start with \"QXIA\"");
    const uint8_t version = r.Byte("the header");
    if (version != kArgumentBlobVersion)
        Damaged("its version " + std::to_string(version) + " is not known");
    const int32_t lower = static_cast<int32_t>(r.U32("the header"));
    const uint32_t count = r.U32("the header");
    // Every element takes at least its type byte.
    if (count > r.Remaining()) Damaged("it claims more arguments than it holds");
    if (count > 0 && int64_t{lower} + count - 1 > INT32_MAX) Damaged("its bounds overflow");

    std::vector<rt::Variant> values;
    values.reserve(count);
    for (uint32_t i = 0; i < count; ++i) values.push_back(ReadElement(r));
    if (r.Remaining() != 0) Damaged("bytes follow its last argument");
    Result = count == 0 ? rt::Variant() : rt::Variant::ArrayOf(values, lower);
}

}  // namespace product
