#include "product/DatabasePackages.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "product/ContainmentTracePackage.h"
#include "product/OracleDialect.h"
#include "product/SqliteConnection.h"
#include "product/ValidateSetPackage.h"
#include "product/WorkOperationsPackage.h"

namespace product {

// ------------------------------------------------------------------ registry

PackageRegistry& PackageRegistry::Global() {
    static PackageRegistry* registry = [] {
        auto* r = new PackageRegistry();
        RegisterBuiltinPackages(*r);
        return r;
    }();
    return *registry;
}

void PackageRegistry::Register(const std::string& name, Routine routine) {
    std::lock_guard lock(mutex_);
    routines_[UpperAscii(name)] = std::move(routine);
}

void PackageRegistry::RegisterType(const std::string& name, std::vector<std::string> attributes) {
    std::lock_guard lock(mutex_);
    types_[UpperAscii(name)] = std::move(attributes);
}

std::optional<std::vector<std::string>> PackageRegistry::FindType(const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto it = types_.find(UpperAscii(name));
    if (it == types_.end()) return std::nullopt;
    return it->second;
}

void PackageRegistry::Unregister(const std::string& name) {
    std::lock_guard lock(mutex_);
    routines_.erase(UpperAscii(name));
}

std::optional<Routine> PackageRegistry::Find(const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto it = routines_.find(UpperAscii(name));
    if (it == routines_.end()) return std::nullopt;
    return it->second;
}

Routine Procedure(int args, std::function<rt::Variant(RoutineCall&)> body) {
    Routine r;
    r.kind = Routine::Procedure;
    r.minArgs = r.maxArgs = args;
    r.outArgs.assign(static_cast<size_t>(args), false);
    r.body = std::move(body);
    return r;
}

size_t FeatureKeyList::Slot(const FeatureKey& key) const {
    uint64_t h = static_cast<uint64_t>(key.fid) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(key.fno) * 0xC2B2AE3D27D4EB4Full;
    h ^= h >> 29;
    const size_t mask = slots_.size() - 1;
    for (size_t i = static_cast<size_t>(h) & mask;; i = (i + 1) & mask)
        if (slots_[i] == 0 || keys_[slots_[i] - 1] == key) return i;
}

void FeatureKeyList::Grow() {
    slots_.assign(std::max<size_t>(64, slots_.size() * 2), 0);
    for (size_t k = 0; k < keys_.size(); ++k) slots_[Slot(keys_[k])] = static_cast<uint32_t>(k + 1);
}

bool FeatureKeyList::Add(const FeatureKey& key) {
    // At most half full, so a probe always ends at a free slot.
    if ((keys_.size() + 1) * 2 > slots_.size()) Grow();
    const size_t slot = Slot(key);
    if (slots_[slot] != 0) return false;
    keys_.push_back(key);
    slots_[slot] = static_cast<uint32_t>(keys_.size());
    return true;
}

void FeatureKeyList::Append(const FeatureKeyList& other) {
    for (const auto& key : other.keys_) Add(key);
}

void FeatureKeyList::Append(FeatureKeyList&& other) {
    if (keys_.empty()) {
        std::swap(keys_, other.keys_);
        std::swap(slots_, other.slots_);
    } else {
        Append(other);
    }
    other.Clear();
}

void FeatureKeyList::Clear() {
    keys_.clear();
    slots_.clear();
}

void FeatureKeyList::Truncate(size_t count) {
    if (count >= keys_.size()) return;
    keys_.resize(count);
    slots_.assign(slots_.size(), 0);
    for (size_t k = 0; k < keys_.size(); ++k) slots_[Slot(keys_[k])] = static_cast<uint32_t>(k + 1);
}

std::optional<int64_t> WholeNumberOf(const rt::Variant& v) {
    double d = 0;
    if (v.Type() == rt::vbDouble || v.Type() == rt::vbSingle)
        d = v.R8();
    else if (v.Type() == rt::vbLong || v.Type() == rt::vbInteger)
        d = v.I4();
    else
        return std::nullopt;
    if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) > 9.0e15) return std::nullopt;
    return static_cast<int64_t>(d);
}

void RaiseWrongArguments(const std::string& routine, const std::string& detail) {
    RaiseOra(6550, "PLS-00306: wrong number or types of arguments in call to '" + routine + "'" +
                       (detail.empty() ? std::string() : ": " + detail));
}

// ------------------------------------------------------------------ value lists

namespace {

[[noreturn]] void Malformed(const char* kind, size_t item, const std::string& why) {
    RaiseOra(6502, std::string("PL/SQL: numeric or value error: malformed ") + kind + " list at item " +
                       std::to_string(item) + ": " + why);
}

// The list's text, or nullptr for the empty list (Null, Empty or "").
const std::string* ListText(const rt::Variant& list, const char* kind) {
    if (list.IsNull() || list.IsEmpty()) return nullptr;
    if (!list.IsString())
        RaiseOra(6502, std::string("PL/SQL: numeric or value error: a ") + kind + " list must be a text, not a " +
                           rt::TypeName(list));
    if (list.Str().empty()) return nullptr;
    return &list.Str();
}

bool ParseNumber(std::string_view s, double& out) {
    size_t i = 0, n = s.size();
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < n && (s[i] == 'E' || s[i] == 'e')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        size_t e = 0;
        while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++e;
        if (e == 0) return false;
    }
    if (i != n) return false;
    // from_chars takes no leading "+".
    size_t from = s[0] == '+' ? 1 : 0;
    auto r = std::from_chars(s.data() + from, s.data() + n, out);
    if (r.ec == std::errc::result_out_of_range) out = std::strtod(std::string(s).c_str(), nullptr);
    // "1e999" is no number a column can hold: it would decode as infinity.
    if (!std::isfinite(out)) return false;
    return r.ptr == s.data() + n || r.ec == std::errc::result_out_of_range;
}

// Reads the "<length>:" header of a text or date item at pos; returns the
// length (-1 for Null) and moves pos past the ":".
long ReadLength(const std::string& s, size_t& pos, const char* kind, size_t item) {
    size_t start = pos;
    bool negative = false;
    if (pos < s.size() && s[pos] == '-') {
        negative = true;
        ++pos;
    }
    long value = 0;
    size_t digits = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        if (value > 100000000) Malformed(kind, item, "length too large");
        value = value * 10 + (s[pos] - '0');
        ++pos;
        ++digits;
    }
    if (digits == 0 || pos >= s.size() || s[pos] != ':')
        Malformed(kind, item, "expected a length and ':' at \"" + s.substr(start, 12) + "\"");
    ++pos;
    if (negative) {
        if (value != 1) Malformed(kind, item, "negative length " + std::to_string(-value));
        return -1;
    }
    return value;
}

// Moves pos over `units` UTF-16 code units of UTF-8 text.
void SkipUtf16Units(const std::string& s, size_t& pos, long units, const char* kind, size_t item) {
    // Plain ASCII, the usual case: one unit per byte.
    if (units >= 0 && static_cast<size_t>(units) <= s.size() - pos) {
        const char* p = s.data() + pos;
        const char* end = p + units;
        while (p < end && static_cast<unsigned char>(*p) < 0x80) ++p;
        if (p == end) {
            pos += static_cast<size_t>(units);
            return;
        }
    }
    long seen = 0;
    while (seen < units) {
        if (pos >= s.size())
            Malformed(kind, item, "the text is shorter than its length " + std::to_string(units));
        unsigned char c = static_cast<unsigned char>(s[pos]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || pos + len > s.size()) Malformed(kind, item, "the text is not valid UTF-8");
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[pos + k]) & 0xC0) != 0x80)
                Malformed(kind, item, "the text is not valid UTF-8");
        long width = len == 4 ? 2 : 1;
        if (seen + width > units) Malformed(kind, item, "the length ends inside a character");
        seen += width;
        pos += len;
    }
}

int TwoDigits(const std::string& s, size_t at) {
    if (s[at] < '0' || s[at] > '9' || s[at + 1] < '0' || s[at + 1] > '9') return -1;
    return (s[at] - '0') * 10 + (s[at + 1] - '0');
}

bool ParseListDate(const std::string& s, double& out) {
    // MM/DD/YYYY HH:MM:SS
    if (s.size() != 19 || s[2] != '/' || s[5] != '/' || s[10] != ' ' || s[13] != ':' || s[16] != ':') return false;
    int mo = TwoDigits(s, 0), d = TwoDigits(s, 3), y1 = TwoDigits(s, 6), y2 = TwoDigits(s, 8);
    int h = TwoDigits(s, 11), mi = TwoDigits(s, 14), se = TwoDigits(s, 17);
    if (mo < 1 || d < 1 || y1 < 0 || y2 < 0 || h < 0 || mi < 0 || se < 0) return false;
    int y = y1 * 100 + y2;
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (mo > 12 || d > kDays[mo - 1] || h > 23 || mi > 59 || se > 59) return false;
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (mo == 2 && d == 29 && !leap) return false;
    out = OleDateFromParts(y, mo, d, h, mi, se);
    return true;
}

}  // namespace

// A number of at most 15 digits and no exponent, as keys and most values
// are: read exactly without the general conversion. The digits make a whole
// number below 2^53 and a power of ten up to 10^15 is exact, so the one
// division rounds as the general conversion does.
static bool ParseShortNumber(std::string_view s, double& out) {
    static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    size_t i = !s.empty() && s[0] == '-' ? 1 : 0;
    int64_t n = 0;
    int digits = 0, decimals = -1;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            if (++digits > 15) return false;
            n = n * 10 + (c - '0');
            if (decimals >= 0) ++decimals;
        } else if (c == '.' && decimals < 0) {
            decimals = 0;
        } else {
            return false;
        }
    }
    if (digits == 0) return false;
    out = decimals > 0 ? static_cast<double>(n) / kPow10[decimals] : static_cast<double>(n);
    if (s[0] == '-') out = -out;
    return true;
}

static const char* KindName(ListReader::Kind kind) {
    switch (kind) {
        case ListReader::Numeric: return "numeric";
        case ListReader::String: return "string";
        default: return "date";
    }
}

ListReader::ListReader(const rt::Variant& list, Kind kind) : list_(ListText(list, KindName(kind))), kind_(kind) {}

// The items the fast steps in Next leave: anything but a short number or a
// short ASCII text, and every malformed item.
bool ListReader::NextSlow() {
    const std::string& s = *list_;
    const size_t item = item_;
    const char* kind = KindName(kind_);
    switch (kind_) {
        case Numeric: {
            const void* found = std::memchr(s.data() + pos_, ';', s.size() - pos_);
            const size_t semi = found ? static_cast<size_t>(static_cast<const char*>(found) - s.data()) : std::string::npos;
            if (semi == std::string::npos)
                Malformed(kind, item, "\"" + s.substr(pos_, 30) + "\" is not ended by ';'");
            std::string_view text(s.data() + pos_, semi - pos_);
            if (text.empty()) {
                null_ = true;
            } else if (!ParseShortNumber(text, number_) && !ParseNumber(text, number_)) {
                Malformed(kind, item, "\"" + std::string(text) + "\" is not a number");
            }
            pos_ = semi + 1;
            return true;
        }
        case String: {
            long length = ReadLength(s, pos_, kind, item);
            if (length < 0) {
                null_ = true;
                return true;
            }
            size_t start = pos_;
            SkipUtf16Units(s, pos_, length, kind, item);
            text_ = std::string_view(s.data() + start, pos_ - start);
            return true;
        }
        case Date: {
            long length = ReadLength(s, pos_, kind, item);
            if (length < 0) {
                null_ = true;
                return true;
            }
            if (length != 19) Malformed(kind, item, "a date is 19 characters, not " + std::to_string(length));
            if (pos_ + 19 > s.size()) Malformed(kind, item, "the text is shorter than 19 characters");
            std::string when = s.substr(pos_, 19);
            if (!ParseListDate(when, number_)) Malformed(kind, item, "\"" + when + "\" is not MM/DD/YYYY HH:MM:SS");
            pos_ += 19;
            return true;
        }
    }
    return false;
}

rt::Variant ListReader::Value() const {
    if (null_) return rt::Variant::Null();
    switch (kind_) {
        case Numeric: return rt::Variant(number_);
        case String: return rt::Variant(text_);
        default: return rt::Variant::Date(number_);
    }
}

int ListDecoderKind(const std::string& routineName) {
    const std::string name = UpperAscii(routineName);
    if (name == "QTXUTILITY.DECODENUMERICLIST") return ListReader::Numeric;
    if (name == "QTXUTILITY.DECODESTRINGLIST") return ListReader::String;
    if (name == "QTXUTILITY.DECODEDATELIST") return ListReader::Date;
    return -1;
}

namespace {

std::vector<rt::Variant> DecodeList(const rt::Variant& list, ListReader::Kind kind, size_t expected) {
    std::vector<rt::Variant> out;
    ListReader reader(list, kind);
    out.reserve(expected);
    while (reader.Next()) out.push_back(reader.Value());
    return out;
}

}  // namespace

std::vector<rt::Variant> DecodeNumericList(const rt::Variant& list) {
    const std::string* text = list.IsString() ? &list.Str() : nullptr;
    return DecodeList(list, ListReader::Numeric, text ? static_cast<size_t>(std::count(text->begin(), text->end(), ';')) : 0);
}

std::vector<rt::Variant> DecodeStringList(const rt::Variant& list) {
    // Names and short texts, mostly: room enough to grow seldom.
    return DecodeList(list, ListReader::String, list.IsString() ? list.Str().size() / 8 + 1 : 0);
}

std::vector<rt::Variant> DecodeDateList(const rt::Variant& list) {
    return DecodeList(list, ListReader::Date, 0);
}

rt::Variant ListValue(const std::vector<rt::Variant>& values) {
    return rt::Variant::ArrayOf(values, 1);
}

rt::Variant ListValue(std::vector<rt::Variant>&& values) {
    if (values.empty()) return rt::Variant::ArrayOf(values, 1);
    // The decoded values are moved in, not copied: lists run to thousands.
    rt::Variant list = rt::Variant::MakeArray(rt::vbVariant, 1, static_cast<int32_t>(values.size()));
    list.ArrayMut()->Data() = std::move(values);
    return list;
}

// ------------------------------------------------------------------ built-in packages

namespace {

Routine Decoder(std::vector<rt::Variant> (*decode)(const rt::Variant&)) {
    Routine r;
    r.kind = Routine::Function;
    r.minArgs = r.maxArgs = 1;
    r.outArgs = {false};
    r.body = [decode](RoutineCall& call) { return ListValue(decode(call.args[0])); };
    return r;
}

// "A_SEQ.NextVal, B_SEQ.NextVal" -> one NEXTVAL per item, in order, joined by ",".
rt::Variant GetSeqVal(RoutineCall& call) {
    const rt::Variant& list = call.args[0];
    if (!list.IsString() || list.Str().empty())
        RaiseWrongArguments(call.name, "the first argument must be a list of sequences such as "
                                       "\"QTX_FID_SEQ.NextVal, X_SEQ.NextVal\"");
    std::vector<Token> toks;
    try {
        toks = Tokenize(list.Str());
    } catch (const rt::ComError&) {
        RaiseWrongArguments(call.name, "the list \"" + list.Str() + "\" is not a list of sequences");
    }
    std::vector<std::string> names;
    size_t k = 0;
    for (;;) {
        // [schema.]name.NEXTVAL
        std::vector<std::string> parts;
        while (toks[k].kind == Token::Ident) {
            parts.push_back(toks[k].text);
            if (!toks[k + 1].IsPunct(".")) break;
            k += 2;
        }
        if (parts.size() < 2 || parts.back() != "NEXTVAL" || toks[k].kind != Token::Ident)
            RaiseWrongArguments(call.name, "the list \"" + list.Str() + "\" is not a list of sequences");
        names.push_back(parts[parts.size() - 2]);
        ++k;
        if (toks[k].kind == Token::End) break;
        if (!toks[k].IsPunct(","))
            RaiseWrongArguments(call.name, "the list \"" + list.Str() + "\" is not a list of sequences");
        ++k;
    }
    std::string out;
    for (const auto& name : names) {
        if (!out.empty()) out += ",";
        out += std::to_string(call.db.NextValue(name));
    }
    call.args[1] = rt::Variant(out);
    return rt::Variant();
}

}  // namespace

void RegisterBuiltinPackages(PackageRegistry& registry) {
    registry.Register("QTXUTILITY.DECODENUMERICLIST", Decoder(&DecodeNumericList));
    registry.Register("QTXUTILITY.DECODESTRINGLIST", Decoder(&DecodeStringList));
    registry.Register("QTXUTILITY.DECODEDATELIST", Decoder(&DecodeDateList));

    Routine seq;
    seq.kind = Routine::Procedure;
    seq.minArgs = seq.maxArgs = 2;
    seq.outArgs = {false, true};
    seq.body = &GetSeqVal;
    registry.Register("QTX_GETSEQVAL.GETSEQVAL", std::move(seq));

    RegisterWorkOperationsPackage(registry);
    RegisterValidateSetPackages(registry);
    RegisterContainmentTracePackage(registry);
}

}  // namespace product
