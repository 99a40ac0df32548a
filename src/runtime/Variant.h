#pragma once
// Variant and SAFEARRAY-style arrays, with the VB rules the system relies on.
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace rt {

enum VarType : uint16_t {
    vbEmpty = 0,
    vbNull = 1,
    vbInteger = 2,
    vbLong = 3,
    vbSingle = 4,
    vbDouble = 5,
    vbCurrency = 6,
    vbDate = 7,
    vbString = 8,
    vbObject = 9,
    vbError = 10,
    vbBoolean = 11,
    vbVariant = 12,
    vbDecimal = 14,
    vbByte = 17,
    vbArray = 0x2000,
};

// The scode VB puts in a Variant of type Error for an omitted optional argument.
inline constexpr int32_t DISP_E_PARAMNOTFOUND = static_cast<int32_t>(0x80020004u);

class Object;
class SafeArray;
class Variant;
using ObjectPtr = std::shared_ptr<Object>;
using ArrayPtr = std::shared_ptr<SafeArray>;

// Currency: a 64-bit integer scaled by 10,000.
struct Currency {
    int64_t scaled = 0;
    static Currency FromDouble(double v);  // rounds half to even; raises 6 on overflow
    double ToDouble() const { return static_cast<double>(scaled) / 10000.0; }
    bool operator==(const Currency&) const = default;
};

// Decimal: a 96-bit unsigned magnitude, a sign and a power-of-ten scale (0..28).
struct Decimal {
    unsigned __int128 magnitude = 0;  // below 2^96
    uint8_t scale = 0;
    bool negative = false;
    static Decimal FromDouble(double v);      // raises 6 when out of range
    static Decimal FromInt64(int64_t v);
    static Decimal Parse(const std::string& text);  // raises 13 on bad text, 6 on overflow
    double ToDouble() const;
    std::string ToString() const;  // exact, '.' as separator, no trailing zeros
    bool operator==(const Decimal& o) const;  // by value
};

// Exact conversions between the scaled types (half to even; 6 when out of range).
int DecimalCompare(const Decimal& a, const Decimal& b);  // -1, 0 or 1
int64_t DecimalRoundToInt64(const Decimal& d);
Decimal DecimalFromCurrency(Currency c);
Currency CurrencyFromDecimal(const Decimal& d);

struct ArrayBound {
    int32_t lbound = 0;
    int32_t count = 0;
};

class Variant {
public:
    Variant() = default;  // Empty
    Variant(int16_t v) : vt_(vbInteger) { u_.i = v; }
    Variant(int32_t v) : vt_(vbLong) { u_.i = v; }
    Variant(float v) : vt_(vbSingle) { u_.d = v; }
    Variant(double v) : vt_(vbDouble) { u_.d = v; }
    Variant(bool v) : vt_(vbBoolean) { u_.i = v ? -1 : 0; }
    Variant(uint8_t v) : vt_(vbByte) { u_.i = v; }
    Variant(Currency v) : vt_(vbCurrency) { u_.i = v.scaled; }
    Variant(const Decimal& v);
    Variant(const char* s) : Variant(std::string(s)) {}
    Variant(std::string s);
    Variant(std::string_view s) : Variant(std::string(s)) {}
    Variant(ObjectPtr o) : vt_(vbObject) { new (&u_.obj) ObjectPtr(std::move(o)); }
    template <class T, class = std::enable_if_t<std::is_base_of_v<Object, T>>>
    Variant(std::shared_ptr<T> o) : Variant(ObjectPtr(std::move(o))) {}
    // Any other shared_ptr (an interface) is stored as the object behind it.
    template <class T, class = std::enable_if_t<!std::is_base_of_v<Object, T>>, class = void>
    Variant(const std::shared_ptr<T>& o);
    Variant(long v) = delete;  // say I2, I4 or a double explicitly
    Variant(long long v) = delete;

    Variant(const Variant& o) : vt_(o.vt_) { CopyFrom(o); }
    Variant(Variant&& o) noexcept : vt_(o.vt_) { MoveFrom(o); }
    Variant& operator=(const Variant& o) {
        if (IsPlain(vt_) && IsPlain(o.vt_)) {
            vt_ = o.vt_;
            u_.i = o.u_.i;
        } else if (this != &o) {
            Variant copy(o);  // first: o may live inside what this value releases
            Release();
            vt_ = copy.vt_;
            MoveFrom(copy);
        }
        return *this;
    }
    Variant& operator=(Variant&& o) noexcept {
        if (IsPlain(vt_) && IsPlain(o.vt_)) {
            vt_ = o.vt_;
            u_.i = o.u_.i;
        } else if (this != &o) {
            Variant taken(std::move(o));
            Release();
            vt_ = taken.vt_;
            MoveFrom(taken);
        }
        return *this;
    }
    ~Variant() { Release(); }

    static Variant Null() { Variant v; v.vt_ = vbNull; return v; }
    static Variant Missing() { return Error(DISP_E_PARAMNOTFOUND); }
    static Variant Error(int32_t scode) { Variant v; v.vt_ = vbError; v.u_.i = scode; return v; }
    static Variant Date(double oleDate) { Variant v; v.vt_ = vbDate; v.u_.d = oleDate; return v; }
    static Variant Nothing() { return Variant(ObjectPtr()); }
    // An allocated array of the element type with the given dimensions, elements
    // at the element type's zero value (Empty for Variant arrays).
    static Variant MakeArray(VarType elementType, std::vector<ArrayBound> dims);
    static Variant MakeArray(VarType elementType, int32_t lbound, int32_t ubound);
    // An array variable never dimensioned (Dim a() As T).
    static Variant UnallocatedArray(VarType elementType);
    static Variant FromArray(ArrayPtr array);
    // A 1-D Variant array holding the values, lower bound lbound.
    static Variant ArrayOf(std::initializer_list<Variant> values, int32_t lbound = 0);
    static Variant ArrayOf(const std::vector<Variant>& values, int32_t lbound = 0, VarType elementType = vbVariant);

    // VarType as VB reports it: arrays carry vbArray | element type.
    uint16_t Type() const { return vt_; }
    VarType BaseType() const { return static_cast<VarType>(vt_ & ~vbArray); }
    bool IsEmpty() const { return vt_ == vbEmpty; }
    bool IsNull() const { return vt_ == vbNull; }
    bool IsMissing() const { return vt_ == vbError && u_.i == DISP_E_PARAMNOTFOUND; }
    bool IsObject() const { return vt_ == vbObject; }
    bool IsNothing() const { return vt_ == vbObject && !u_.obj; }
    bool IsArray() const { return (vt_ & vbArray) != 0; }
    bool IsString() const { return vt_ == vbString; }
    // A numeric variant type (Integer, Long, Single, Double, Currency, Decimal, Byte, Boolean).
    bool IsNumericType() const;

    // Raw accessors: the variant must hold that type (checked; raises 13 otherwise).
    int16_t I2() const;
    int32_t I4() const;
    double R8() const;  // Single or Double
    double DateValue() const;
    bool Bool() const;
    uint8_t Byte() const;
    Currency Cy() const;
    const Decimal& Dec() const;
    int32_t ErrorCode() const;
    const std::string& Str() const;
    const ObjectPtr& Obj() const;
    // The array (nullptr for an unallocated array). ArrayMut copies a shared array first.
    const SafeArray* Array() const;
    SafeArray* ArrayMut();
    ArrayPtr SharedArray() const;

    bool operator==(const Variant&) const = delete;  // use VariantEquals or VbCompare

private:
    // Texts and decimals live in one immutable block shared by the copies of a
    // value, so a copy is a count and a Variant stays three words.
    struct SharedBlock;
    struct StringBlock;
    struct DecimalBlock;
    // What the payload holds, by type: nothing, a number (i or d), a block, or
    // a shared pointer (objects and arrays).
    static bool HoldsBlock(uint16_t vt) { return vt == vbString || vt == vbDecimal; }
    static bool HoldsShared(uint16_t vt) { return vt == vbObject || (vt & vbArray) != 0; }
    static bool IsPlain(uint16_t vt) { return !HoldsBlock(vt) && !HoldsShared(vt); }
    void CopyFrom(const Variant& o);
    void MoveFrom(Variant& o) noexcept;
    void Release() noexcept;
    void ReleaseBlock() noexcept;

    uint16_t vt_ = vbEmpty;
    union Payload {
        int64_t i = 0;  // Integer, Long, Boolean, Byte, Currency (scaled), Error
        double d;       // Single, Double, Date
        SharedBlock* block;  // String, Decimal
        ObjectPtr obj;
        ArrayPtr arr;
        Payload() {}
        ~Payload() {}
    } u_;
};
static_assert(sizeof(Variant) <= 24, "a Variant stays as small as an Automation VARIANT on 64-bit");

// Arrays as SAFEARRAY keeps them: element type, dimensions with lower bounds,
// elements in row-major order of the last index varying slowest (as VB).
class SafeArray {
public:
    SafeArray(VarType elementType, std::vector<ArrayBound> dims);
    VarType ElementType() const { return elementType_; }
    int Dims() const { return static_cast<int>(dims_.size()); }
    int32_t LBound(int dim = 1) const;  // raises 9 on a bad dimension
    int32_t UBound(int dim = 1) const;
    size_t Count() const { return data_.size(); }
    // Element access with VB indices (raises 9 when out of bounds).
    const Variant& Get(std::initializer_list<int32_t> idx) const;
    const Variant& Get(int32_t i) const { return Get({i}); }
    // Stores a value converted to the element type (Variant arrays keep it as is).
    void Set(std::initializer_list<int32_t> idx, const Variant& v);
    void Set(int32_t i, const Variant& v) { Set({i}, v); }
    // ReDim [Preserve]: preserve keeps the elements whose indices survive; only
    // the upper bound of the last dimension may change when preserving (raises 9 otherwise).
    void ReDim(std::vector<ArrayBound> dims, bool preserve);
    // Flat storage, first dimension varying fastest.
    std::vector<Variant>& Data() { return data_; }
    const std::vector<Variant>& Data() const { return data_; }
    const std::vector<ArrayBound>& Bounds() const { return dims_; }

private:
    size_t Offset(std::initializer_list<int32_t> idx) const;
    VarType elementType_;
    std::vector<ArrayBound> dims_;
    std::vector<Variant> data_;
};

// The zero value of an element type (0 of the type, "" for String, Nothing for Object).
Variant ZeroOf(VarType t);

// VB's VarType() and TypeName().
int VarTypeOf(const Variant& v);
std::string TypeName(const Variant& v);

// LBound/UBound of a variant (raises 13 when not an array, 9 when unallocated).
int32_t LBound(const Variant& v, int dim = 1);
int32_t UBound(const Variant& v, int dim = 1);
// ReDim Preserve on a 1-D array variable (an unallocated one gets allocated).
void ReDimPreserve(Variant& arrayVar, int32_t lbound, int32_t ubound);
// Erase: a dynamic array becomes unallocated.
void Erase(Variant& arrayVar);

// The system's value equality: numbers by value across numeric types (dates
// count as numbers), texts exactly with letter case, a number never equals a
// text, Null equals nothing, Empty equals only Empty, objects by identity.
bool VariantEquals(const Variant& a, const Variant& b);

struct Variant::SharedBlock {
    std::atomic<uint32_t> refs{1};
};
struct Variant::StringBlock : SharedBlock {
    explicit StringBlock(std::string t) : text(std::move(t)) {}
    std::string text;
};
struct Variant::DecimalBlock : SharedBlock {
    explicit DecimalBlock(const Decimal& d) : value(d) {}
    Decimal value;
};

inline Variant::Variant(const Decimal& v) : vt_(vbDecimal) { u_.block = new DecimalBlock(v); }
inline Variant::Variant(std::string s) : vt_(vbString) { u_.block = new StringBlock(std::move(s)); }

inline void Variant::CopyFrom(const Variant& o) {
    if (HoldsBlock(vt_)) {
        u_.block = o.u_.block;
        u_.block->refs.fetch_add(1, std::memory_order_relaxed);
    } else if (vt_ == vbObject) {
        new (&u_.obj) ObjectPtr(o.u_.obj);
    } else if (HoldsShared(vt_)) {
        new (&u_.arr) ArrayPtr(o.u_.arr);
    } else {
        u_.i = o.u_.i;
    }
}

inline void Variant::MoveFrom(Variant& o) noexcept {
    if (vt_ == vbObject) {
        new (&u_.obj) ObjectPtr(std::move(o.u_.obj));
        o.u_.obj.~ObjectPtr();
    } else if (HoldsShared(vt_)) {
        new (&u_.arr) ArrayPtr(std::move(o.u_.arr));
        o.u_.arr.~ArrayPtr();
    } else {
        u_.i = o.u_.i;  // a number or a block, which changes owner
    }
    o.vt_ = vbEmpty;
    o.u_.i = 0;
}

inline void Variant::Release() noexcept {
    if (HoldsBlock(vt_)) {
        ReleaseBlock();
    } else if (vt_ == vbObject) {
        u_.obj.~ObjectPtr();
    } else if (HoldsShared(vt_)) {
        u_.arr.~ArrayPtr();
    }
}

}  // namespace rt

#include "runtime/Object.h"

template <class T, class, class>
rt::Variant::Variant(const std::shared_ptr<T>& o)
    : Variant(std::dynamic_pointer_cast<rt::Object>(o)) {}
