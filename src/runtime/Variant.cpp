#include "runtime/Variant.h"

#include <cmath>

#include "runtime/Vb.h"

namespace rt {

namespace {
[[noreturn]] void Mismatch() { RaiseVbError(vberr::TypeMismatch); }

// The one dimension lbound To ubound (9 when ubound < lbound - 1).
ArrayBound Bound(int32_t lbound, int32_t ubound) {
    int64_t count = int64_t{ubound} - lbound + 1;
    if (count < 0 || count > INT32_MAX) RaiseVbError(vberr::SubscriptOutOfRange);
    return ArrayBound{lbound, static_cast<int32_t>(count)};
}

// Element count of the dimensions; more than a 32-bit count is out of memory, as VB.
size_t ElementCount(const std::vector<ArrayBound>& dims) {
    if (dims.empty()) return 0;
    uint64_t n = 1;
    for (auto& d : dims) {
        if (d.count < 0) RaiseVbError(vberr::SubscriptOutOfRange);
        n *= static_cast<uint64_t>(d.count);
        if (n > INT32_MAX) RaiseVbError(vberr::OutOfMemory);
    }
    return static_cast<size_t>(n);
}
}  // namespace

void Variant::ReleaseBlock() noexcept {
    if (u_.block->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    if (vt_ == vbString)
        delete static_cast<StringBlock*>(u_.block);
    else
        delete static_cast<DecimalBlock*>(u_.block);
}

bool Variant::IsNumericType() const {
    switch (vt_) {
        case vbInteger: case vbLong: case vbSingle: case vbDouble: case vbCurrency:
        case vbDecimal: case vbByte: case vbBoolean:
            return true;
        default:
            return false;
    }
}

int16_t Variant::I2() const {
    if (vt_ != vbInteger) Mismatch();
    return static_cast<int16_t>(u_.i);
}
int32_t Variant::I4() const {
    if (vt_ != vbLong) Mismatch();
    return static_cast<int32_t>(u_.i);
}
double Variant::R8() const {
    if (vt_ != vbDouble && vt_ != vbSingle) Mismatch();
    return u_.d;
}
double Variant::DateValue() const {
    if (vt_ != vbDate) Mismatch();
    return u_.d;
}
bool Variant::Bool() const {
    if (vt_ != vbBoolean) Mismatch();
    return u_.i != 0;
}
uint8_t Variant::Byte() const {
    if (vt_ != vbByte) Mismatch();
    return static_cast<uint8_t>(u_.i);
}
Currency Variant::Cy() const {
    if (vt_ != vbCurrency) Mismatch();
    return Currency{u_.i};
}
const Decimal& Variant::Dec() const {
    if (vt_ != vbDecimal) Mismatch();
    return static_cast<const DecimalBlock*>(u_.block)->value;
}
int32_t Variant::ErrorCode() const {
    if (vt_ != vbError) Mismatch();
    return static_cast<int32_t>(u_.i);
}
const std::string& Variant::Str() const {
    if (vt_ != vbString) Mismatch();
    return static_cast<const StringBlock*>(u_.block)->text;
}
const ObjectPtr& Variant::Obj() const {
    if (vt_ != vbObject) Mismatch();
    return u_.obj;
}
const SafeArray* Variant::Array() const {
    if (!IsArray()) Mismatch();
    return u_.arr.get();
}
SafeArray* Variant::ArrayMut() {
    if (!IsArray()) Mismatch();
    auto& p = u_.arr;
    if (p && p.use_count() > 1) p = std::make_shared<SafeArray>(*p);  // copy on write
    return p.get();
}
ArrayPtr Variant::SharedArray() const {
    if (!IsArray()) Mismatch();
    return u_.arr;
}

Variant Variant::MakeArray(VarType elementType, std::vector<ArrayBound> dims) {
    Variant v;
    auto array = std::make_shared<SafeArray>(elementType, std::move(dims));
    v.vt_ = static_cast<uint16_t>(vbArray | elementType);
    new (&v.u_.arr) ArrayPtr(std::move(array));
    return v;
}
Variant Variant::MakeArray(VarType elementType, int32_t lbound, int32_t ubound) {
    return MakeArray(elementType, {Bound(lbound, ubound)});
}
Variant Variant::UnallocatedArray(VarType elementType) {
    Variant v;
    v.vt_ = static_cast<uint16_t>(vbArray | elementType);
    new (&v.u_.arr) ArrayPtr();
    return v;
}
Variant Variant::FromArray(ArrayPtr array) {
    if (!array) Mismatch();
    Variant v;
    v.vt_ = static_cast<uint16_t>(vbArray | array->ElementType());
    new (&v.u_.arr) ArrayPtr(std::move(array));
    return v;
}
Variant Variant::ArrayOf(std::initializer_list<Variant> values, int32_t lbound) {
    return ArrayOf(std::vector<Variant>(values), lbound);
}
Variant Variant::ArrayOf(const std::vector<Variant>& values, int32_t lbound, VarType elementType) {
    Variant v = MakeArray(elementType, {ArrayBound{lbound, static_cast<int32_t>(values.size())}});
    auto* a = v.ArrayMut();
    for (size_t i = 0; i < values.size(); ++i) a->Set(lbound + static_cast<int32_t>(i), values[i]);
    return v;
}

// ---------------------------------------------------------------- SafeArray

SafeArray::SafeArray(VarType elementType, std::vector<ArrayBound> dims)
    : elementType_(elementType), dims_(std::move(dims)) {
    data_.assign(ElementCount(dims_), ZeroOf(elementType_));
}

int32_t SafeArray::LBound(int dim) const {
    if (dim < 1 || dim > Dims()) RaiseVbError(vberr::SubscriptOutOfRange);
    return dims_[dim - 1].lbound;
}
int32_t SafeArray::UBound(int dim) const {
    if (dim < 1 || dim > Dims()) RaiseVbError(vberr::SubscriptOutOfRange);
    // In 64 bits: a list ending at the largest Long must not overflow on the way.
    return static_cast<int32_t>(int64_t{dims_[dim - 1].lbound} + dims_[dim - 1].count - 1);
}

size_t SafeArray::Offset(std::initializer_list<int32_t> idx) const {
    if (static_cast<int>(idx.size()) != Dims()) RaiseVbError(vberr::SubscriptOutOfRange);
    size_t off = 0, stride = 1;
    size_t k = 0;
    for (int32_t i : idx) {
        const auto& d = dims_[k++];
        int64_t rel = int64_t{i} - d.lbound;
        if (rel < 0 || rel >= d.count) RaiseVbError(vberr::SubscriptOutOfRange);
        off += static_cast<size_t>(rel) * stride;
        stride *= static_cast<size_t>(d.count);
    }
    return off;
}

const Variant& SafeArray::Get(std::initializer_list<int32_t> idx) const { return data_[Offset(idx)]; }

namespace {
Variant ConvertTo(VarType t, const Variant& v) {
    switch (t) {
        case vbVariant: return v;
        case vbInteger: return Variant(CInt(v));
        case vbLong: return Variant(CLng(v));
        case vbSingle: return Variant(static_cast<float>(CSng(v)));
        case vbDouble: return Variant(CDbl(v));
        case vbCurrency: return Variant(CCur(v));
        case vbDecimal: return Variant(CDec(v));
        case vbDate: return Variant::Date(CDate(v));
        case vbString: return Variant(CStr(v));
        case vbBoolean: return Variant(CBool(v));
        case vbByte: return Variant(CByte(v));
        case vbObject:
            if (!v.IsObject()) RaiseVbError(vberr::TypeMismatch);
            return v;
        default: return v;
    }
}
}  // namespace

void SafeArray::Set(std::initializer_list<int32_t> idx, const Variant& v) {
    data_[Offset(idx)] = ConvertTo(elementType_, v);
}

void SafeArray::ReDim(std::vector<ArrayBound> dims, bool preserve) {
    size_t newCount = ElementCount(dims);
    if (!preserve || dims_.empty()) {
        *this = SafeArray(elementType_, std::move(dims));
        return;
    }
    if (dims.size() != dims_.size()) RaiseVbError(vberr::SubscriptOutOfRange);
    for (size_t i = 0; i + 1 < dims.size(); ++i)
        if (dims[i].lbound != dims_[i].lbound || dims[i].count != dims_[i].count)
            RaiseVbError(vberr::SubscriptOutOfRange);
    // Preserve moves only the upper bound, as VB.
    if (dims.back().lbound != dims_.back().lbound) RaiseVbError(vberr::SubscriptOutOfRange);
    // Only the last dimension changes: the flat prefix is the surviving part.
    data_.resize(newCount, ZeroOf(elementType_));
    dims_ = std::move(dims);
}

// ---------------------------------------------------------------- helpers

Variant ZeroOf(VarType t) {
    switch (t) {
        case vbInteger: return Variant(int16_t{0});
        case vbLong: return Variant(int32_t{0});
        case vbSingle: return Variant(0.0f);
        case vbDouble: return Variant(0.0);
        case vbCurrency: return Variant(Currency{0});
        case vbDecimal: return Variant(Decimal{});
        case vbDate: return Variant::Date(0.0);
        case vbString: return Variant(std::string());
        case vbBoolean: return Variant(false);
        case vbByte: return Variant(uint8_t{0});
        case vbObject: return Variant::Nothing();
        default: return Variant();
    }
}

int VarTypeOf(const Variant& v) { return v.Type(); }

std::string TypeName(const Variant& v) {
    auto base = [](VarType t) -> std::string {
        switch (t) {
            case vbEmpty: return "Empty";
            case vbNull: return "Null";
            case vbInteger: return "Integer";
            case vbLong: return "Long";
            case vbSingle: return "Single";
            case vbDouble: return "Double";
            case vbCurrency: return "Currency";
            case vbDate: return "Date";
            case vbString: return "String";
            case vbObject: return "Object";
            case vbError: return "Error";
            case vbBoolean: return "Boolean";
            case vbVariant: return "Variant";
            case vbDecimal: return "Decimal";
            case vbByte: return "Byte";
            default: return "Unknown";
        }
    };
    if (v.IsArray()) return base(v.BaseType()) + "()";
    if (v.IsObject()) {
        const auto& o = v.Obj();
        return o ? o->TypeName() : "Nothing";
    }
    return base(v.BaseType());
}

int32_t LBound(const Variant& v, int dim) {
    if (!v.IsArray()) RaiseVbError(vberr::TypeMismatch);
    const SafeArray* a = v.Array();
    if (!a) RaiseVbError(vberr::SubscriptOutOfRange);
    return a->LBound(dim);
}
int32_t UBound(const Variant& v, int dim) {
    if (!v.IsArray()) RaiseVbError(vberr::TypeMismatch);
    const SafeArray* a = v.Array();
    if (!a) RaiseVbError(vberr::SubscriptOutOfRange);
    return a->UBound(dim);
}

void ReDimPreserve(Variant& arrayVar, int32_t lbound, int32_t ubound) {
    ArrayBound bound = Bound(lbound, ubound);
    if (!arrayVar.IsArray()) {
        arrayVar = Variant::MakeArray(vbVariant, lbound, ubound);
        return;
    }
    SafeArray* a = arrayVar.ArrayMut();
    if (!a) {
        arrayVar = Variant::MakeArray(arrayVar.BaseType(), lbound, ubound);
        return;
    }
    a->ReDim({bound}, true);
}

void Erase(Variant& arrayVar) {
    if (!arrayVar.IsArray()) RaiseVbError(vberr::TypeMismatch);
    arrayVar = Variant::UnallocatedArray(arrayVar.BaseType());
}

bool VariantEquals(const Variant& a, const Variant& b) {
    if (a.IsNull() || b.IsNull()) return false;
    if (a.IsEmpty() || b.IsEmpty()) return a.IsEmpty() && b.IsEmpty();
    bool an = a.IsNumericType() || a.Type() == vbDate;
    bool bn = b.IsNumericType() || b.Type() == vbDate;
    if (an && bn) {
        auto exact = [](const Variant& v) { return v.IsNumericType() && v.Type() != vbSingle && v.Type() != vbDouble; };
        // Integers, Currency and Decimal compare exactly; a double on either side compares as doubles.
        if (exact(a) && exact(b)) return DecimalCompare(CDec(a), CDec(b)) == 0;
        return CDbl(a) == CDbl(b);
    }
    if (a.IsString() && b.IsString()) return a.Str() == b.Str();
    if (a.IsObject() && b.IsObject()) return a.Obj() == b.Obj();
    if (a.Type() == vbError && b.Type() == vbError) return a.ErrorCode() == b.ErrorCode();
    return false;
}

}  // namespace rt
