#include "pelmora/persistence/WorkOperationsStrings.h"

#include <algorithm>
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

// Writes a whole number at out; returns the end.
inline char* WriteInt(char* out, int32_t value) {
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    if (value < 0) *out++ = '-';
    int digits = 1;
    for (uint32_t bound = 10; digits < 10 && magnitude >= bound; bound *= 10) ++digits;
    char* const end = out + digits;
    char* p = end;
    while (magnitude >= 100) {
        const uint32_t pair = (magnitude % 100) * 2;
        magnitude /= 100;
        *--p = kPairs[pair + 1];
        *--p = kPairs[pair];
    }
    if (magnitude >= 10) {
        *--p = kPairs[magnitude * 2 + 1];
        *--p = kPairs[magnitude * 2];
    } else {
        *--p = static_cast<char>('0' + magnitude);
    }
    return end;
}

// Length in UTF-16 code units; plain ASCII needs no counting.
int32_t Units(const std::string& s) {
    const char* p = s.data();
    const size_t n = s.size();
    size_t k = 0;
    uint64_t high = 0;
    for (; k + 8 <= n; k += 8) {
        uint64_t word;
        std::memcpy(&word, p + k, 8);
        high |= word;
    }
    for (; k < n; ++k) high |= static_cast<unsigned char>(p[k]);
    if (high & 0x8080808080808080ull) return rt::Len(s);
    return static_cast<int32_t>(n);
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
    const std::string& text = texts_[slot];
    if (synced_[slot] < text.size()) {
        list.Append(text.substr(synced_[slot]));
        synced_[slot] = text.size();
    }
    return list;
}

void WorkOperationsStrings::Clear() {
    recordedType_.reset();
    valueClass_ = kNoClass;
    kind_ = kNone;
    count_ = 0;
    for (int s = 0; s < kSlots; ++s) {
        Created(static_cast<Slot>(s)).Initialize(-1);
        texts_[s].clear();
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

// Every value's item is made first (a value its list cannot hold raises
// here) and the room of every list checked; only then is anything written,
// so an entry is never half appended.
template <size_t N>
bool WorkOperationsStrings::Put(int32_t kind, const std::array<Item, N>& items, bool mustFit) {
    if (!CanAddToBatch(kind)) {
        if (!mustFit) return false;
        throw rt::ComError(rt::vberr::TypeMismatch, kSource,
                           "An entry of kind " + std::to_string(kind) + " cannot join a list of kind " +
                               std::to_string(kind_) + ".");
    }
    // Each item is a head written here (a key with its ";", or a length
    // with its ":") and a text held elsewhere (a name, or the value's item).
    struct Piece {
        char head[24];
        size_t headSize = 0;
        const std::string* tail = nullptr;
        int64_t length = 0;
    };
    std::array<Piece, N> pieces;
    std::string valueText;
    for (size_t k = 0; k < N; ++k) {
        const Item& item = items[k];
        Piece& piece = pieces[k];
        if (item.text) {
            const std::string& name = *item.text;
            if (name.empty()) {
                piece.head[0] = '0';
                piece.head[1] = ':';
                piece.headSize = 2;
                piece.length = 2;
            } else {
                const int32_t units = Units(name);
                char* end = WriteInt(piece.head, units);
                *end++ = ':';
                piece.headSize = static_cast<size_t>(end - piece.head);
                piece.tail = &name;
                piece.length = static_cast<int64_t>(piece.headSize) + units;
            }
        } else if (!item.value) {
            char* end = WriteInt(piece.head, item.number);
            *end++ = ';';
            piece.headSize = static_cast<size_t>(end - piece.head);
            piece.length = static_cast<int64_t>(piece.headSize);
        } else {
            switch (item.cls) {
                case kString:
                    // A text is written as it is held, after its length.
                    if (item.value->IsString() && !item.value->Str().empty()) {
                        const std::string& text = item.value->Str();
                        const int32_t units = Units(text);
                        char* end = WriteInt(piece.head, units);
                        *end++ = ':';
                        piece.headSize = static_cast<size_t>(end - piece.head);
                        piece.tail = &text;
                        piece.length = static_cast<int64_t>(piece.headSize) + units;
                        break;
                    }
                    valueText = FastString::StringItem(*item.value);
                    piece.length = Units(valueText);
                    break;
                case kDate:
                    valueText = FastString::DateItem(*item.value);
                    piece.length = static_cast<int64_t>(valueText.size());
                    break;
                default:
                    valueText = FastString::NumberText(*item.value);
                    valueText += ';';
                    piece.length = static_cast<int64_t>(valueText.size());
                    break;
            }
            if (!piece.tail) piece.tail = &valueText;
        }
        const FastString& list = Created(item.slot);
        if (int64_t{units_[item.slot]} + piece.length > list.get_MaxLength()) {
            if (!mustFit) return false;
            RaiseError(-1, ListSourceText(), rt::Variant(kMsgListFull));
        }
    }
    for (size_t k = 0; k < N; ++k) {
        const Piece& piece = pieces[k];
        const Slot slot = items[k].slot;
        std::string& text = texts_[slot];
        // A list grows to its capacity: room for it is made once.
        if (text.capacity() < 1024)
            text.reserve(std::min<size_t>(static_cast<size_t>(std::max(0, Created(slot).get_MaxLength())), 1 << 20) + 64);
        // A short item is put together first and appended in one step.
        const size_t tail = piece.tail ? piece.tail->size() : 0;
        if (tail <= 64) {
            char item[sizeof piece.head + 64];
            std::copy_n(piece.head, piece.headSize, item);
            if (tail) std::copy_n(piece.tail->data(), tail, item + piece.headSize);
            text.append(item, piece.headSize + tail);
        } else {
            text.append(piece.head, piece.headSize);
            text += *piece.tail;
        }
        units_[slot] += static_cast<int32_t>(piece.length);
    }
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
    return Put(kind,
               std::array<Item, 6>{{Key(kFNO, FNO),
                                    Key(kFID, FID),
                                    Name(kComp, Comp),
                                    Name(kField, Field),
                                    Key(kCID, CID),
                                    Val(cls, Value)}},
               mustFit);
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
    Put(kDeleteComponent, std::array<Item, 4>{{Key(kFNO, FNO),
                                                  Key(kFID, FID),
                                                  Name(kComp, Comp),
                                                  Key(kCID, CID)}}, true);
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
    Put(kDeleteGeometryComponent, std::array<Item, 4>{{Key(kFNO, FNO),
                                                          Key(kFID, FID),
                                                          Name(kComp, Comp),
                                                          Key(kCID, CID)}}, true);
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
    return Put(kind, std::array<Item, 8>{{Key(kFNO, FNO),
                                   Key(kFID, FID),
                                   Name(kComp, Comp),
                                   Name(kField, Field),
                                   Key(kCID, CID),
                                   Key(kESeq, ESeq),
                                   Key(kSeq, Seq),
                                   Val(kNumeric, Value)}}, mustFit);
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
    return Put(kDeleteComponent, std::array<Item, 4>{{Key(kFNO, FNO),
                                    Key(kFID, FID),
                                    Name(kComp, Comp),
                                    Key(kCID, CID)}}, false);
}

bool WorkOperationsStrings::TryAddDeleteGeometryComponent(int32_t FNO, int32_t FID, const std::string& Comp,
                                                          int32_t CID) {
    return Put(kDeleteGeometryComponent,
               std::array<Item, 4>{{Key(kFNO, FNO),
                                    Key(kFID, FID),
                                    Name(kComp, Comp),
                                    Key(kCID, CID)}}, false);
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
