#pragma once
// One work-operation list: the entries of one kind of edit (added, changed or
// deleted attribute rows, added, changed or deleted geometry rows), held as up
// to eight parallel value lists (FNO, FID, Comp, CID, Field, Value, ESeq, Seq).
// Entry i is made of the i-th value of every list its kind uses, so the
// lists of one object always hold the same number of entries.
//
// The first entry fixes the kind and, for attribute entries, the value class
// (numeric, string or date) of the Value list, so that the database decodes
// each list with one decoder. CanAdd... tells whether an entry still fits
// under the list capacity; the caller cuts its batch when it does not.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "pelmora/common/FastString.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {

class WorkOperationsStrings : public rt::Object {
public:
    enum Kind : int32_t {
        kNone = 0,
        kNewAttribute = 1,
        kSetAttribute = 2,
        kDeleteComponent = 3,
        kNewGeometryAttribute = 4,
        kSetGeometryAttribute = 5,
        kDeleteGeometryComponent = 6,
    };
    enum ValueClass : int32_t { kNoClass = 0, kNumeric = 1, kString = 2, kDate = 3 };

    // The value class of an ADO data type.
    static ValueClass ClassOfType(int32_t adoType);

    void Clear();

    std::string get_FNOList() { return List(kFNO).get_Value(); }
    std::string get_FIDList() { return List(kFID).get_Value(); }
    std::string get_CompList() { return List(kComp).get_Value(); }
    std::string get_CIDList() { return List(kCID).get_Value(); }
    std::string get_FieldList() { return List(kField).get_Value(); }
    std::string get_ValueList() { return List(kValue).get_Value(); }
    std::string get_ESeqList() { return List(kESeq).get_Value(); }
    std::string get_SeqList() { return List(kSeq).get_Value(); }

    // Every CanAdd... fixes the kind of an empty list, even when it answers
    // false. Add... appends the whole entry or nothing: an entry of another
    // kind or value class, a value its list cannot hold, or an entry too long
    // for the room left raises and leaves the lists as they were.
    bool CanAddNewAttribute(int32_t FNO, int32_t FID, const std::string& Comp, const std::string& Field, int32_t CID,
                            const rt::Variant& Value, int32_t AdoType);
    void AddNewAttribute(int32_t FNO, int32_t FID, const std::string& Comp, const std::string& Field, int32_t CID,
                         const rt::Variant& Value, int32_t AdoType);
    bool CanAddSetAttribute(int32_t FNO, int32_t FID, const std::string& Comp, const std::string& Field, int32_t CID,
                            const rt::Variant& Value, int32_t AdoType);
    void AddSetAttribute(int32_t FNO, int32_t FID, const std::string& Comp, const std::string& Field, int32_t CID,
                         const rt::Variant& Value, int32_t AdoType);
    bool CanAddDeleteComponent(int32_t FNO, int32_t FID, const std::string& Comp, int32_t CID);
    void AddDeleteComponent(int32_t FNO, int32_t FID, const std::string& Comp, int32_t CID);
    bool CanAddNewGeometryAttribute(int32_t FNO, int32_t FID, const std::string& Comp, const std::string& Field,
                                    int32_t CID, int32_t ESeq, int32_t Seq, const rt::Variant& Value);
    void AddNewGeometryAttribute(int32_t FNO, int32_t FID, const std::string& Comp, const std::string& Field,
                                 int32_t CID, int32_t ESeq, int32_t Seq, const rt::Variant& Value);
    bool CanAddSetGeometryAttribute(int32_t FNO, int32_t FID, const std::string& Comp, const std::string& Field,
                                    int32_t CID, int32_t ESeq, int32_t Seq, const rt::Variant& Value);
    void AddSetGeometryAttribute(int32_t FNO, int32_t FID, const std::string& Comp, const std::string& Field,
                                 int32_t CID, int32_t ESeq, int32_t Seq, const rt::Variant& Value);
    bool CanAddDeleteGeometryComponent(int32_t FNO, int32_t FID, const std::string& Comp, int32_t CID);
    void AddDeleteGeometryComponent(int32_t FNO, int32_t FID, const std::string& Comp, int32_t CID);

    // ---- inside the system ----
    // CanAdd... and Add... in one step: appends the entry when it is of the
    // list's kind and class and fits, else appends nothing and answers false.
    // A value its list cannot hold raises.
    bool TryAddNewAttribute(int32_t FNO, int32_t FID, const std::string& Comp, const std::string& Field, int32_t CID,
                            const rt::Variant& Value, int32_t AdoType);
    bool TryAddSetAttribute(int32_t FNO, int32_t FID, const std::string& Comp, const std::string& Field, int32_t CID,
                            const rt::Variant& Value, int32_t AdoType);
    bool TryAddDeleteComponent(int32_t FNO, int32_t FID, const std::string& Comp, int32_t CID);
    bool TryAddNewGeometryAttribute(int32_t FNO, int32_t FID, const std::string& Comp, const std::string& Field,
                                    int32_t CID, int32_t ESeq, int32_t Seq, const rt::Variant& Value);
    bool TryAddSetGeometryAttribute(int32_t FNO, int32_t FID, const std::string& Comp, const std::string& Field,
                                    int32_t CID, int32_t ESeq, int32_t Seq, const rt::Variant& Value);
    bool TryAddDeleteGeometryComponent(int32_t FNO, int32_t FID, const std::string& Comp, int32_t CID);

    int32_t get_Kind() const { return kind_; }
    int32_t get_ValueClass() const { return valueClass_; }
    // The number of entries held.
    int32_t get_Count() const { return count_; }

    std::string TypeName() const override { return "WorkOperationsStrings"; }

    // The eight value lists.
    enum Slot { kFNO, kFID, kComp, kCID, kField, kValue, kESeq, kSeq, kSlots };
    // One value list (created on first use); its Length is that of its text.
    const FastString& ValueList(Slot slot) { return List(slot); }
    // The text of one value list and its length in characters, without
    // going through the list object. The text read stands until the next
    // entry is offered: entries are written past its end before they count.
    const std::string& ListText(Slot slot) const { return Text(slot); }
    int32_t ListLength(Slot slot) const { return units_[slot]; }

private:
    // The values of an entry, each of its own type so that an entry's
    // layout is known when it is compiled. Keys and names are read where
    // the caller holds them; nothing is copied.
    struct KeyItem {
        Slot slot;
        int32_t number;
    };
    struct NameItem {
        Slot slot;
        const std::string& text;
    };
    struct ValueItem {
        static constexpr Slot slot = kValue;
        ValueClass cls;
        const rt::Variant& value;
    };
    static KeyItem Key(Slot slot, int32_t n) { return {slot, n}; }
    static NameItem Name(Slot slot, const std::string& s) { return {slot, s}; }
    static ValueItem Val(ValueClass cls, const rt::Variant& v) { return {cls, v}; }
    // What one item adds to its list: bytes, and length in UTF-16 code units.
    struct Written {
        size_t size;
        int64_t length;
    };
    // Each writes its item after the entries of its list, without counting it.
    Written Write(const KeyItem& item);
    Written Write(const NameItem& item) { return WriteText(item.slot, item.text); }
    Written Write(const ValueItem& item);
    Written WriteText(Slot slot, const std::string& text);
    // Whether an item written fits the room left; when it does not, mustFit raises.
    bool Fits(Slot slot, const Written& item, bool mustFit) {
        return int64_t{units_[slot]} + item.length <= Created(slot).get_MaxLength() || NoRoom(mustFit);
    }
    bool NoRoom(bool mustFit);

    // The list object of a slot, brought up to date with the slot's text.
    FastString& List(Slot slot);
    // The list object as it stands (created on first use: it fixes the capacity).
    FastString& Created(Slot slot) { return lists_[slot] ? *lists_[slot] : Create(slot); }
    FastString& Create(Slot slot);
    // A slot's text cut to the entries it holds.
    const std::string& Text(Slot slot) const {
        if (texts_[slot].size() != used_[slot]) texts_[slot].resize(used_[slot]);
        return texts_[slot];
    }
    // The place of a slot's next item, with room for size bytes.
    char* Room(Slot slot, size_t size) {
        std::string& text = texts_[slot];
        return text.size() >= used_[slot] + size ? text.data() + used_[slot] : Grow(slot, size);
    }
    char* Grow(Slot slot, size_t size);
    bool CanAddToBatch(int32_t kind);
    bool CanAddValueType(int32_t adoType);
    // Appends the entry whole. When it is of another kind or does not fit,
    // mustFit raises; otherwise the answer is false.
    template <class... Items>
    bool Put(int32_t kind, bool mustFit, const Items&... items);
    bool CanAddAttribute(int32_t kind, int32_t FNO, int32_t FID, const std::string& Comp, const std::string& Field,
                         int32_t CID, const rt::Variant& Value, int32_t AdoType);
    bool AddAttribute(int32_t kind, int32_t FNO, int32_t FID, const std::string& Comp, const std::string& Field,
                      int32_t CID, const rt::Variant& Value, int32_t AdoType, bool mustFit);
    bool PutDeletion(int32_t kind, bool mustFit, int32_t FNO, int32_t FID, const std::string& Comp, int32_t CID);
    bool CanAddGeometryAttribute(int32_t kind, int32_t FNO, int32_t FID, const std::string& Comp,
                                 const std::string& Field, int32_t CID, int32_t ESeq, int32_t Seq,
                                 const rt::Variant& Value);
    bool PutGeometryAttribute(int32_t kind, int32_t FNO, int32_t FID, const std::string& Comp,
                              const std::string& Field, int32_t CID, int32_t ESeq, int32_t Seq,
                              const rt::Variant& Value, bool mustFit);

    std::optional<int32_t> recordedType_;
    int32_t valueClass_ = kNoClass;
    int32_t kind_ = kNone;
    int32_t count_ = 0;
    std::array<std::shared_ptr<FastString>, kSlots> lists_;
    // Entries are written here; a list object takes what it lacks of its
    // text when it is asked for. An entry is written past the first used_
    // bytes and counted only once all of it fits, so a text is longer than
    // its entries until it is asked for.
    mutable std::array<std::string, kSlots> texts_;
    std::array<size_t, kSlots> used_{};
    // The last key written to each list and its item: keys come again
    // entry after entry (the same feature, the same row).
    struct LastKey {
        int32_t number = 0;
        uint32_t size = 0;  // 0: none yet
        char text[16];
    };
    std::array<LastKey, kSlots> lastKeys_{};
    std::array<int32_t, kSlots> units_{};
    std::array<size_t, kSlots> synced_{};
};

}  // namespace pelmora
