#include <algorithm>
#include <cmath>

#include "ado/LateBinding.h"
#include "ado/Recordset.h"
#include "ado/RowStore.h"
#include "runtime/Vb.h"

namespace ado {

namespace {

constexpr const char* kFieldSource = "ADODB.Field";
constexpr const char* kFieldsSource = "ADODB.Fields";

[[noreturn]] void NotFound() {
    throw rt::ComError(err::ItemNotFound, kFieldsSource,
                       "Item cannot be found in the collection corresponding to the requested name or ordinal.");
}

bool IsTextType(DataTypeEnum t) {
    switch (t) {
        case adBSTR: case adChar: case adWChar: case adVarChar: case adVarWChar: case adLongVarChar:
        case adLongVarWChar: case adGUID:
            return true;
        default:
            return false;
    }
}

// The storage size ADO reports for fixed-size types.
int32_t FixedSize(DataTypeEnum t) {
    switch (t) {
        case adTinyInt: case adUnsignedTinyInt: return 1;
        case adSmallInt: case adUnsignedSmallInt: case adBoolean: return 2;
        case adInteger: case adUnsignedInt: case adSingle: case adError: return 4;
        case adBigInt: case adUnsignedBigInt: case adDouble: case adCurrency: case adDate: case adFileTime: return 8;
        case adDBDate: return 6;
        case adDBTime: return 6;
        case adDBTimeStamp: return 16;
        case adDecimal: case adVariant: return 16;
        case adNumeric: return 19;
        case adGUID: return 16;
        default: return 0;
    }
}

rt::Variant Whole(double d) {
    if (d >= -2147483648.0 && d <= 2147483647.0) return rt::Variant(static_cast<int32_t>(d));
    return rt::Variant(rt::Decimal::FromDouble(d));
}

}  // namespace

// Taken by value: a value that fits already is handed on without a copy.
rt::Variant CoerceToFieldType(rt::Variant value, DataTypeEnum type) {
    if (value.IsNull() || value.IsEmpty() || value.IsMissing()) return value.IsMissing() ? rt::Variant() : std::move(value);
    try {
        switch (type) {
            case adEmpty: case adVariant: case adPropVariant: case adUserDefined: case adChapter:
                return value;
            case adIDispatch: case adIUnknown:
                if (!value.IsObject()) break;
                return value;
            case adBinary: case adVarBinary: case adLongVarBinary:
                if (value.IsObject()) break;
                return value;
            default:
                break;
        }
        if (value.IsObject() || value.IsArray()) {
            throw rt::ComError(err::DataConversion, kFieldSource,
                               "Application uses a value of the wrong type for the current operation.");
        }
        switch (type) {
            case adSmallInt: case adTinyInt: case adUnsignedTinyInt:
                return value.Type() == rt::vbInteger ? std::move(value) : rt::Variant(rt::CInt(value));
            case adInteger: case adUnsignedSmallInt:
                return value.Type() == rt::vbLong ? std::move(value) : rt::Variant(rt::CLng(value));
            case adBigInt: case adUnsignedInt: case adUnsignedBigInt: {
                if (value.Type() == rt::vbLong || value.Type() == rt::vbInteger) return rt::Variant(rt::CLng(value));
                rt::Decimal d = rt::CDec(value);
                double x = d.ToDouble();
                if (std::floor(x) != x) x = std::nearbyint(x);
                return Whole(x);
            }
            case adSingle:
                return value.Type() == rt::vbSingle ? std::move(value) : rt::Variant(static_cast<float>(rt::CSng(value)));
            case adDouble:
                return value.Type() == rt::vbDouble ? std::move(value) : rt::Variant(rt::CDbl(value));
            case adCurrency:
                return value.Type() == rt::vbCurrency ? std::move(value) : rt::Variant(rt::CCur(value));
            case adDecimal: case adNumeric: case adVarNumeric:
                if (value.IsNumericType() && value.Type() != rt::vbBoolean) return value;
                return rt::Variant(rt::CDec(value));
            case adBoolean:
                return value.Type() == rt::vbBoolean ? std::move(value) : rt::Variant(rt::CBool(value));
            case adDate: case adDBDate: case adDBTime: case adDBTimeStamp: case adFileTime:
                return value.Type() == rt::vbDate ? std::move(value) : rt::Variant::Date(rt::CDate(value));
            case adError:
                return value;
            default:
                if (IsTextType(type)) return value.IsString() ? std::move(value) : rt::Variant(rt::CStr(value));
                return value;
        }
    } catch (const rt::ComError& e) {
        if (e.Number() == err::DataConversion) throw;
        throw rt::ComError(err::DataConversion, kFieldSource,
                           "Application uses a value of the wrong type for the current operation.");
    }
    throw rt::ComError(err::DataConversion, kFieldSource,
                       "Application uses a value of the wrong type for the current operation.");
}

// ------------------------------------------------------------------ Field

Field::Field(RecordsetPtr recordset, int32_t index)
    : recordset_(std::move(recordset)), index_(index), closings_(recordset_->Closings()) {}

void Field::Check() const {
    if (closings_ != recordset_->Closings() || index_ >= recordset_->FieldCount())
        throw rt::ComError(err::ObjectNotSet, kFieldSource, "Object is no longer valid.");
}

const FieldDesc& Field::Desc() const {
    Check();
    return recordset_->DescAt(index_);
}

FieldDesc& Field::MutableDesc() {
    Check();
    if (recordset_->get_State() == adStateOpen)
        throw rt::ComError(err::IllegalOperation, kFieldSource, "Operation is not allowed in this context.");
    return recordset_->PendingFieldDescs()[static_cast<size_t>(index_)];
}

std::string Field::get_Name() const { return Desc().name; }
DataTypeEnum Field::get_Type() const { return Desc().type; }
int32_t Field::get_DefinedSize() const { return Desc().definedSize; }
uint8_t Field::get_Precision() const { return Desc().precision; }
void Field::put_Precision(uint8_t precision) { MutableDesc().precision = precision; }
uint8_t Field::get_NumericScale() const { return Desc().numericScale; }
void Field::put_NumericScale(uint8_t scale) { MutableDesc().numericScale = scale; }
int32_t Field::get_Attributes() const { return Desc().attributes; }

int32_t Field::get_ActualSize() const {
    rt::Variant v = get_Value();
    if (v.IsNull() || v.IsEmpty()) return 0;
    if (v.IsString()) {
        int32_t units = rt::Len(v.Str());
        DataTypeEnum t = Desc().type;
        bool wide = t == adBSTR || t == adWChar || t == adVarWChar || t == adLongVarWChar;
        return wide ? units * 2 : units;
    }
    if (v.IsArray() && v.Array()) return static_cast<int32_t>(v.Array()->Count());
    int32_t fixed = FixedSize(Desc().type);
    return fixed > 0 ? fixed : Desc().definedSize;
}

rt::Variant Field::get_Value() const {
    Check();
    return recordset_->FieldValue(index_);
}

void Field::put_Value(const rt::Variant& value) {
    Check();
    recordset_->SetFieldValues({index_}, {value});
}

rt::Variant Field::get_OriginalValue() const {
    Check();
    return recordset_->FieldOriginalValue(index_);
}

rt::Variant Field::get_UnderlyingValue() const {
    Check();
    return recordset_->FieldUnderlyingValue(index_);
}

rt::Variant Field::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    using K = rt::InvokeKind;
    auto is = [&](const char* n) { return rt::NamesEqual(name, n); };
    bool put = kind == K::PropertyLet || kind == K::PropertySet;
    if (name.empty() || is("Value")) {
        if (put) {
            if (args.empty()) throw rt::ComError(err::InvalidArgument, kFieldSource, "Value expected.");
            put_Value(args.back());
            return {};
        }
        return get_Value();
    }
    if (put) return rt::Object::Invoke(name, kind, args);
    if (is("Name")) return rt::Variant(get_Name());
    if (is("Type")) return rt::Variant(static_cast<int32_t>(get_Type()));
    if (is("DefinedSize")) return rt::Variant(get_DefinedSize());
    if (is("ActualSize")) return rt::Variant(get_ActualSize());
    if (is("Precision")) return rt::Variant(get_Precision());
    if (is("NumericScale")) return rt::Variant(get_NumericScale());
    if (is("Attributes")) return rt::Variant(get_Attributes());
    if (is("OriginalValue")) return get_OriginalValue();
    if (is("UnderlyingValue")) return get_UnderlyingValue();
    return rt::Object::Invoke(name, kind, args);
}

// ------------------------------------------------------------------ Fields

Fields::Fields(RecordsetPtr recordset) : recordset_(std::move(recordset)) {}

int32_t Fields::get_Count() const { return recordset_->FieldCount(); }

int32_t Fields::ResolveIn(const Recordset& recordset, const rt::Variant& index) {
    if (index.IsString()) return IndexIn(recordset, index.Str());
    if (index.IsNumericType() && !index.IsArray() && index.Type() != rt::vbBoolean) {
        // A fractional ordinal rounds as VB's CLng does (half to even).
        const int32_t count = recordset.FieldCount();
        double d = rt::CDbl(index);
        if (!(d > -1 && d < count)) NotFound();
        int32_t i = rt::CLng(index);
        if (i < 0 || i >= count) NotFound();
        return i;
    }
    NotFound();
}

FieldPtr Fields::Item(int32_t index) {
    int32_t count = get_Count();
    if (index < 0 || index >= count) NotFound();
    if (cacheVersion_ != recordset_->SchemaVersion()) {
        cache_.clear();
        cacheVersion_ = recordset_->SchemaVersion();
    }
    if (cache_.size() < static_cast<size_t>(count)) cache_.resize(static_cast<size_t>(count));
    auto& slot = cache_[static_cast<size_t>(index)];
    if (auto f = slot.lock()) return f;
    auto f = std::make_shared<Field>(recordset_, index);
    slot = f;
    return f;
}

FieldPtr Fields::Item(const std::string& name) { return Item(IndexIn(*recordset_, name)); }

int32_t Fields::IndexIn(const Recordset& recordset, const std::string& name) {
    int32_t i = recordset.FieldIndex(name);
    if (i < 0) recordset.NoSuchField(name, kFieldsSource);
    return i;
}

FieldPtr Fields::get_Item(const rt::Variant& index) { return Item(Resolve(index)); }

void Fields::Append(const std::string& Name, DataTypeEnum Type, int32_t DefinedSize, int32_t Attrib,
                    const rt::Variant& /*FieldValue*/) {
    if (recordset_->get_State() == adStateOpen)
        throw rt::ComError(err::IllegalOperation, kFieldsSource, "Operation is not allowed in this context.");
    if (Name.empty() || DefinedSize < 0)
        throw rt::ComError(err::InvalidArgument, kFieldsSource,
                           "Arguments are of the wrong type, are out of acceptable range, or are in conflict with "
                           "one another.");
    if (recordset_->FieldIndex(Name) >= 0)
        throw rt::ComError(err::ObjectInCollection, kFieldsSource, "Object is already in collection. Cannot append.");
    FieldDesc d;
    d.name = Name;
    d.type = Type;
    int32_t fixed = FixedSize(Type);
    d.definedSize = DefinedSize == 0 && fixed > 0 ? fixed : DefinedSize;
    d.attributes = Attrib == adFldUnspecified ? 0 : Attrib;
    if (Type == adDecimal || Type == adNumeric || Type == adVarNumeric) d.precision = 18;
    recordset_->PendingFieldDescs().push_back(std::move(d));
    ++recordset_->schemaVersion_;
}

void Fields::Delete(const rt::Variant& index) {
    if (recordset_->get_State() == adStateOpen)
        throw rt::ComError(err::IllegalOperation, kFieldsSource, "Operation is not allowed in this context.");
    int32_t i = Resolve(index);
    auto& list = recordset_->PendingFieldDescs();
    list.erase(list.begin() + i);
    ++recordset_->schemaVersion_;
}

rt::Variant Fields::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    if (auto result = latebound::InvokeCollectionMember(*this, name, kind, args)) return *result;
    if (rt::NamesEqual(name, "Append")) {
        using latebound::Arg;
        Append(rt::CStr(Arg(args, 0)), static_cast<DataTypeEnum>(rt::CLng(Arg(args, 1))),
               Arg(args, 2).IsMissing() ? 0 : rt::CLng(Arg(args, 2)),
               Arg(args, 3).IsMissing() ? adFldUnspecified : rt::CLng(Arg(args, 3)));
        return {};
    }
    return rt::Object::Invoke(name, kind, args);
}

}  // namespace ado
