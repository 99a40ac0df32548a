#include "pelmora/persistence/WorkOperationsStrings.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "pelmora/common/modYvCommonUtilities.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr int16_t kMsgListSource = 25042;
constexpr int16_t kMsgListFull = 25041;
constexpr const char* kSource = "WorkOperationsStrings";

std::string ListSourceText() {
    try {
        return MessageObject()->GetMessageText(kMsgListSource, 0);
    } catch (...) {
        return "";
    }
}

// Whether the database's list decoder can read the text: every byte of a
// sequence where its lead byte says, each continuation 10xxxxxx. A lone
// surrogate a cut left as its own three bytes passes, as it reads back.
bool ReadableText(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    // ASCII, the usual case, eight bytes at a time.
    for (uint64_t word; end - p >= 8; p += 8) {
        std::memcpy(&word, p, 8);
        if (word & 0x8080808080808080ull) break;
    }
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        const size_t len = (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || static_cast<size_t>(end - p) < len) return false;
        for (size_t k = 1; k < len; ++k)
            if ((p[k] & 0xC0) != 0x80) return false;
        p += len;
    }
    return true;
}

const char* ClassName(int32_t cls) {
    switch (cls) {
        case WorkOperationsStrings::kNumeric: return "numeric";
        case WorkOperationsStrings::kString: return "string";
        case WorkOperationsStrings::kDate: return "date";
        default: return "no";
    }
}

// Runs a room test; a failure inside it counts as no room, so that the
// caller cuts its batch and offers the entry again to empty lists.
template <class F>
bool NoFailure(F&& test) {
    try {
        return test();
    } catch (const rt::ComError&) {
        return false;
    }
}

// A text up to this long is copied without a library call.
constexpr size_t kShortText = 48;

// Copies a short text in words, the last one overlapping the one before.
inline char* CopyShort(char* out, const char* in, size_t n) {
    if (n >= 8) {
        for (size_t k = 0; k + 8 <= n; k += 8) std::memcpy(out + k, in + k, 8);
        std::memcpy(out + n - 8, in + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(out, in, 4);
        std::memcpy(out + n - 4, in + n - 4, 4);
    } else {
        for (size_t k = 0; k < n; ++k) out[k] = in[k];
    }
    return out + n;
}

}  // namespace

WorkOperationsStrings::ValueClass WorkOperationsStrings::ClassOfType(int32_t adoType) {
    switch (adoType) {
        case 7: case 133: case 134: case 135:
            return kDate;
        case 8: case 129: case 130: case 200: case 201: case 202: case 203:
            return kString;
        default:
            return kNumeric;
    }
}

FastString& WorkOperationsStrings::Create(Slot slot) {
    lists_[slot] = std::make_shared<FastString>();
    return *lists_[slot];
}

FastString& WorkOperationsStrings::List(Slot slot) {
    FastString& list = Created(slot);
    const std::string& text = Text(slot);
    if (synced_[slot] < text.size()) {
        list.Append(text.substr(synced_[slot]));
        synced_[slot] = text.size();
    }
    return list;
}

char* WorkOperationsStrings::Grow(Slot slot, size_t size) {
    std::string& text = texts_[slot];
    const size_t end = used_[slot] + size;
    // A list grows to its capacity: room for it is made once. It is taken
    // (and cleared) a little at a time, so that items are written in place.
    const size_t room = std::min<size_t>(static_cast<size_t>(std::max(0, Created(slot).get_MaxLength())), 1 << 20) + 64;
    if (text.capacity() < room) text.reserve(room);
    text.resize(std::max(end, std::min(text.capacity(), end + 2000)));
    return text.data() + used_[slot];
}

void WorkOperationsStrings::Clear() {
    recordedType_.reset();
    valueClass_ = kNoClass;
    kind_ = kNone;
    count_ = 0;
    for (int s = 0; s < kSlots; ++s) {
        Created(static_cast<Slot>(s)).Initialize(-1);
        texts_[s].clear();
        used_[s] = 0;
        units_[s] = 0;
        synced_[s] = 0;
    }
}

bool WorkOperationsStrings::CanAddToBatch(int32_t kind) {
    if (kind_ == kind) return true;
    if (kind_ != kNone) return false;
    kind_ = kind;
    return true;
}

bool WorkOperationsStrings::CanAddValueType(int32_t adoType) {
    if (recordedType_ && *recordedType_ == adoType) return true;
    ValueClass cls = ClassOfType(adoType);
    if (valueClass_ == kNoClass || valueClass_ == cls) {
        valueClass_ = cls;
        recordedType_ = adoType;
        return true;
    }
    return false;
}

inline WorkOperationsStrings::Written WorkOperationsStrings::WriteText(Slot slot, const std::string& text) {
    // A length with its ":", then the text.
    const int32_t units = FastString::Units(text);
    char* const begin = Room(slot, 16 + text.size());
    char* end = FastString::WriteWhole(begin, units);
    *end++ = ':';
    const int64_t length = (end - begin) + int64_t{units};
    if (text.size() <= kShortText) {
        end = CopyShort(end, text.data(), text.size());
    } else {
        std::memcpy(end, text.data(), text.size());
        end += text.size();
    }
    return {static_cast<size_t>(end - begin), length};
}

inline WorkOperationsStrings::Written WorkOperationsStrings::Write(const KeyItem& item) {
    LastKey& last = lastKeys_[item.slot];
    char* const begin = Room(item.slot, sizeof last.text);
    if (last.size == 0 || last.number != item.number) {
        char* end = FastString::WriteWhole(begin, item.number);
        *end++ = ';';
        last.number = item.number;
        last.size = static_cast<uint32_t>(end - begin);
        std::memcpy(last.text, begin, sizeof last.text);
    } else {
        std::memcpy(begin, last.text, sizeof last.text);
    }
    return {last.size, int64_t{last.size}};
}

WorkOperationsStrings::Written WorkOperationsStrings::Write(const ValueItem& item) {
    const rt::Variant& value = item.value;
    if (item.cls == kString && value.IsString() && !value.Str().empty()) {
        // Refused here, where the caller can still name its field, rather
        // than by the database when the whole batch is sent.
        if (!ReadableText(value.Str()))
            throw rt::ComError(rt::vberr::InvalidProcedureCall, kSource, "The text is not valid UTF-8.");
        return WriteText(kValue, value.Str());  // a text is written as it is held
    }
    if (item.cls == kString || item.cls == kDate) {
        const std::string text = item.cls == kString ? FastString::StringItem(value) : FastString::DateItem(value);
        std::memcpy(Room(kValue, text.size()), text.data(), text.size());
        return {text.size(), item.cls == kString ? FastString::Units(text) : static_cast<int64_t>(text.size())};
    }
    char* const begin = Room(kValue, FastString::kNumberRoom + 1);
    char* end = FastString::WriteNumberText(begin, value);
    *end++ = ';';
    const auto size = static_cast<size_t>(end - begin);
    return {size, static_cast<int64_t>(size)};
}

bool WorkOperationsStrings::NoRoom(bool mustFit) {
    if (!mustFit) return false;
    RaiseError(-1, ListSourceText(), rt::Variant(kMsgListFull));
}

// Every item is written after its list's entries (a value its list cannot
// hold raises there) and its room checked, in order; the entry is counted
// only when all of it fits, so an entry is never half appended.
template <class... Items>
bool WorkOperationsStrings::Put(int32_t kind, bool mustFit, const Items&... items) {
    if (!CanAddToBatch(kind)) {
        if (!mustFit) return false;
        throw rt::ComError(rt::vberr::TypeMismatch, kSource,
                           "An entry of kind " + std::to_string(kind) + " cannot join a list of kind " +
                               std::to_string(kind_) + ".");
    }
    std::array<Written, sizeof...(Items)> written;
    size_t k = 0;
    if (!((written[k] = Write(items), Fits(items.slot, written[k++], mustFit)) && ...)) return false;
    k = 0;
    ((used_[items.slot] += written[k].size, units_[items.slot] += static_cast<int32_t>(written[k].length), ++k),
     ...);
    ++count_;
    return true;
}

// ---- attribute entries (kinds 1 and 2) ----

bool WorkOperationsStrings::CanAddAttribute(int32_t kind, int32_t FNO, int32_t FID, const std::string& Comp,
                                            const std::string& Field, int32_t CID, const rt::Variant& Value,
                                            int32_t AdoType) {
    return NoFailure([&] {
        if (!CanAddToBatch(kind) || !CanAddValueType(AdoType)) return false;
        if (!List(kFNO).CanAppendNumericValue(rt::Variant(FNO))) return false;
        if (!List(kFID).CanAppendNumericValue(rt::Variant(FID))) return false;
        if (!List(kComp).CanAppendStringValue(rt::Variant(Comp))) return false;
        if (!List(kField).CanAppendStringValue(rt::Variant(Field))) return false;
        if (!List(kCID).CanAppendNumericValue(rt::Variant(CID))) return false;
        switch (valueClass_) {
            case kString: return List(kValue).CanAppendStringValue(Value);
            case kDate: return List(kValue).CanAppendDateValue(Value);
            default: return List(kValue).CanAppendNumericValue(Value);
        }
    });
}

bool WorkOperationsStrings::AddAttribute(int32_t kind, int32_t FNO, int32_t FID, const std::string& Comp,
                                         const std::string& Field, int32_t CID, const rt::Variant& Value,
                                         int32_t AdoType, bool mustFit) {
    if (kind_ == kNone || kind_ == kind) {
        if (!CanAddValueType(AdoType)) {
            if (!mustFit) return false;
            throw rt::ComError(rt::vberr::TypeMismatch, kSource,
                               "A value of ADO type " + std::to_string(AdoType) + " (" +
                                   ClassName(ClassOfType(AdoType)) + ") cannot join a list of " +
                                   ClassName(valueClass_) + " values.");
        }
    }
    auto cls = static_cast<ValueClass>(valueClass_ == kNoClass ? ClassOfType(AdoType) : valueClass_);
    return Put(kind, mustFit, Key(kFNO, FNO), Key(kFID, FID), Name(kComp, Comp), Name(kField, Field),
               Key(kCID, CID), Val(cls, Value));
}

bool WorkOperationsStrings::CanAddNewAttribute(int32_t FNO, int32_t FID, const std::string& Comp,
                                               const std::string& Field, int32_t CID, const rt::Variant& Value,
                                               int32_t AdoType) {
    return CanAddAttribute(kNewAttribute, FNO, FID, Comp, Field, CID, Value, AdoType);
}

void WorkOperationsStrings::AddNewAttribute(int32_t FNO, int32_t FID, const std::string& Comp,
                                            const std::string& Field, int32_t CID, const rt::Variant& Value,
                                            int32_t AdoType) {
    AddAttribute(kNewAttribute, FNO, FID, Comp, Field, CID, Value, AdoType, true);
}

bool WorkOperationsStrings::CanAddSetAttribute(int32_t FNO, int32_t FID, const std::string& Comp,
                                               const std::string& Field, int32_t CID, const rt::Variant& Value,
                                               int32_t AdoType) {
    return CanAddAttribute(kSetAttribute, FNO, FID, Comp, Field, CID, Value, AdoType);
}

void WorkOperationsStrings::AddSetAttribute(int32_t FNO, int32_t FID, const std::string& Comp,
                                            const std::string& Field, int32_t CID, const rt::Variant& Value,
                                            int32_t AdoType) {
    AddAttribute(kSetAttribute, FNO, FID, Comp, Field, CID, Value, AdoType, true);
}

// ---- deletions (kinds 3 and 6) ----

bool WorkOperationsStrings::PutDeletion(int32_t kind, bool mustFit, int32_t FNO, int32_t FID, const std::string& Comp,
                                        int32_t CID) {
    return Put(kind, mustFit, Key(kFNO, FNO), Key(kFID, FID), Name(kComp, Comp), Key(kCID, CID));
}

namespace {
bool CanAddKeys(FastString& fno, FastString& fid, FastString& comp, FastString& cid, int32_t FNO,
                int32_t FID, const std::string& Comp, int32_t CID) {
    return fno.CanAppendNumericValue(rt::Variant(FNO)) && fid.CanAppendNumericValue(rt::Variant(FID)) &&
           comp.CanAppendStringValue(rt::Variant(Comp)) && cid.CanAppendNumericValue(rt::Variant(CID));
}
}  // namespace

bool WorkOperationsStrings::CanAddDeleteComponent(int32_t FNO, int32_t FID, const std::string& Comp, int32_t CID) {
    return NoFailure([&] {
        return CanAddToBatch(kDeleteComponent) &&
               CanAddKeys(List(kFNO), List(kFID), List(kComp), List(kCID), FNO, FID, Comp, CID);
    });
}

void WorkOperationsStrings::AddDeleteComponent(int32_t FNO, int32_t FID, const std::string& Comp, int32_t CID) {
    PutDeletion(kDeleteComponent, true, FNO, FID, Comp, CID);
}

bool WorkOperationsStrings::CanAddDeleteGeometryComponent(int32_t FNO, int32_t FID, const std::string& Comp,
                                                          int32_t CID) {
    return NoFailure([&] {
        return CanAddToBatch(kDeleteGeometryComponent) &&
               CanAddKeys(List(kFNO), List(kFID), List(kComp), List(kCID), FNO, FID, Comp, CID);
    });
}

void WorkOperationsStrings::AddDeleteGeometryComponent(int32_t FNO, int32_t FID, const std::string& Comp,
                                                       int32_t CID) {
    PutDeletion(kDeleteGeometryComponent, true, FNO, FID, Comp, CID);
}

// ---- geometry values (kinds 4 and 5): every value is written as a number ----

namespace {
bool CanAddGeometry(FastString& fno, FastString& fid, FastString& comp, FastString& field, FastString& cid,
                    FastString& eseq, FastString& seq, FastString& value, int32_t FNO, int32_t FID,
                    const std::string& Comp, const std::string& Field, int32_t CID, int32_t ESeq, int32_t Seq,
                    const rt::Variant& Value) {
    return fno.CanAppendNumericValue(rt::Variant(FNO)) && fid.CanAppendNumericValue(rt::Variant(FID)) &&
           comp.CanAppendStringValue(rt::Variant(Comp)) && field.CanAppendStringValue(rt::Variant(Field)) &&
           cid.CanAppendNumericValue(rt::Variant(CID)) && eseq.CanAppendNumericValue(rt::Variant(ESeq)) &&
           seq.CanAppendNumericValue(rt::Variant(Seq)) && value.CanAppendNumericValue(Value);
}
}  // namespace

// New and changed geometry values share one layout; only the kind differs.
bool WorkOperationsStrings::CanAddGeometryAttribute(int32_t kind, int32_t FNO, int32_t FID, const std::string& Comp,
                                                    const std::string& Field, int32_t CID, int32_t ESeq, int32_t Seq,
                                                    const rt::Variant& Value) {
    return NoFailure([&] {
        return CanAddToBatch(kind) &&
               CanAddGeometry(List(kFNO), List(kFID), List(kComp), List(kField), List(kCID), List(kESeq),
                              List(kSeq), List(kValue), FNO, FID, Comp, Field, CID, ESeq, Seq, Value);
    });
}

bool WorkOperationsStrings::PutGeometryAttribute(int32_t kind, int32_t FNO, int32_t FID, const std::string& Comp,
                                                 const std::string& Field, int32_t CID, int32_t ESeq, int32_t Seq,
                                                 const rt::Variant& Value, bool mustFit) {
    return Put(kind, mustFit, Key(kFNO, FNO), Key(kFID, FID), Name(kComp, Comp), Name(kField, Field),
               Key(kCID, CID), Key(kESeq, ESeq), Key(kSeq, Seq), Val(kNumeric, Value));
}

bool WorkOperationsStrings::CanAddNewGeometryAttribute(int32_t FNO, int32_t FID, const std::string& Comp,
                                                       const std::string& Field, int32_t CID, int32_t ESeq,
                                                       int32_t Seq, const rt::Variant& Value) {
    return CanAddGeometryAttribute(kNewGeometryAttribute, FNO, FID, Comp, Field, CID, ESeq, Seq, Value);
}

void WorkOperationsStrings::AddNewGeometryAttribute(int32_t FNO, int32_t FID, const std::string& Comp,
                                                    const std::string& Field, int32_t CID, int32_t ESeq,
                                                    int32_t Seq, const rt::Variant& Value) {
    PutGeometryAttribute(kNewGeometryAttribute, FNO, FID, Comp, Field, CID, ESeq, Seq, Value, true);
}

bool WorkOperationsStrings::CanAddSetGeometryAttribute(int32_t FNO, int32_t FID, const std::string& Comp,
                                                       const std::string& Field, int32_t CID, int32_t ESeq,
                                                       int32_t Seq, const rt::Variant& Value) {
    return CanAddGeometryAttribute(kSetGeometryAttribute, FNO, FID, Comp, Field, CID, ESeq, Seq, Value);
}

void WorkOperationsStrings::AddSetGeometryAttribute(int32_t FNO, int32_t FID, const std::string& Comp,
                                                    const std::string& Field, int32_t CID, int32_t ESeq,
                                                    int32_t Seq, const rt::Variant& Value) {
    PutGeometryAttribute(kSetGeometryAttribute, FNO, FID, Comp, Field, CID, ESeq, Seq, Value, true);
}

// ---- one-step adds ----

bool WorkOperationsStrings::TryAddNewAttribute(int32_t FNO, int32_t FID, const std::string& Comp,
                                               const std::string& Field, int32_t CID, const rt::Variant& Value,
                                               int32_t AdoType) {
    return AddAttribute(kNewAttribute, FNO, FID, Comp, Field, CID, Value, AdoType, false);
}

bool WorkOperationsStrings::TryAddSetAttribute(int32_t FNO, int32_t FID, const std::string& Comp,
                                               const std::string& Field, int32_t CID, const rt::Variant& Value,
                                               int32_t AdoType) {
    return AddAttribute(kSetAttribute, FNO, FID, Comp, Field, CID, Value, AdoType, false);
}

bool WorkOperationsStrings::TryAddDeleteComponent(int32_t FNO, int32_t FID, const std::string& Comp, int32_t CID) {
    return PutDeletion(kDeleteComponent, false, FNO, FID, Comp, CID);
}

bool WorkOperationsStrings::TryAddDeleteGeometryComponent(int32_t FNO, int32_t FID, const std::string& Comp,
                                                          int32_t CID) {
    return PutDeletion(kDeleteGeometryComponent, false, FNO, FID, Comp, CID);
}

bool WorkOperationsStrings::TryAddNewGeometryAttribute(int32_t FNO, int32_t FID, const std::string& Comp,
                                                       const std::string& Field, int32_t CID, int32_t ESeq,
                                                       int32_t Seq, const rt::Variant& Value) {
    return PutGeometryAttribute(kNewGeometryAttribute, FNO, FID, Comp, Field, CID, ESeq, Seq, Value, false);
}

bool WorkOperationsStrings::TryAddSetGeometryAttribute(int32_t FNO, int32_t FID, const std::string& Comp,
                                                       const std::string& Field, int32_t CID, int32_t ESeq,
                                                       int32_t Seq, const rt::Variant& Value) {
    return PutGeometryAttribute(kSetGeometryAttribute, FNO, FID, Comp, Field, CID, ESeq, Seq, Value, false);
}

}  // namespace pelmora
