#include "product/framework/FrameworkRecordset.h"

#include "ado/Enums.h"
#include "product/framework/GeometryStorageForm.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace product {

namespace {

class FrameworkFields : public rt::Object, public pelmora::IFrameworkFields {
public:
    explicit FrameworkFields(std::shared_ptr<FrameworkRecordset> owner) : owner_(std::move(owner)) {}
    int32_t get_Count() override { return owner_->FieldCount(); }
    std::shared_ptr<pelmora::IFrameworkField> get_Item(const std::string& Name) override {
        const int32_t index = owner_->FieldIndex(Name);
        if (index < 0) throw rt::ComError(ado::err::ItemNotFound, "Fields", "Item cannot be found: " + Name + ".");
        return std::make_shared<FrameworkField>(owner_, index);
    }
    std::string TypeName() const override { return "Fields"; }

private:
    std::shared_ptr<FrameworkRecordset> owner_;
};

}  // namespace

bool FrameworkRecordset::AppendField(const std::string& Name, bool Geometry) {
    if (!rows_.empty()) rt::RaiseVbError(rt::vberr::InvalidProcedureCall);
    if (FieldIndex(Name) >= 0) return false;
    names_.push_back(Name);
    geometry_.push_back(Geometry);
    return true;
}

int32_t FrameworkRecordset::FieldIndex(const std::string& Name) const {
    for (size_t i = 0; i < names_.size(); ++i)
        if (rt::NamesEqual(names_[i], Name)) return static_cast<int32_t>(i);
    return -1;
}

rt::Variant FrameworkRecordset::Value(int32_t Index) const {
    if (pos_ < 0 || pos_ >= RowCount())
        throw rt::ComError(ado::err::NoCurrentRecord, "Field", "There is no current record.");
    return rows_[static_cast<size_t>(pos_)].at(static_cast<size_t>(Index));
}

void FrameworkRecordset::CheckValue(int32_t Index, const rt::Variant& Value) const {
    if (IsGeometryField(Index)) StoredGeometryOf(Value);
}

void FrameworkRecordset::SetValue(int32_t Index, const rt::Variant& Value) {
    if (pos_ < 0 || pos_ >= RowCount())
        throw rt::ComError(ado::err::NoCurrentRecord, "Field", "There is no current record.");
    CheckValue(Index, Value);
    rows_[static_cast<size_t>(pos_)].at(static_cast<size_t>(Index)) = Value;
}

void FrameworkRecordset::AppendRow(std::vector<rt::Variant> Values) {
    if (Values.size() != names_.size()) rt::RaiseVbError(rt::vberr::InvalidProcedureCall);
    for (size_t i = 0; i < Values.size(); ++i) CheckValue(static_cast<int32_t>(i), Values[i]);
    rows_.push_back(std::move(Values));
}

std::shared_ptr<pelmora::IFrameworkFields> FrameworkRecordset::get_Fields() {
    return std::make_shared<FrameworkFields>(std::static_pointer_cast<FrameworkRecordset>(shared_from_this()));
}

void FrameworkRecordset::AddNew() {
    rows_.emplace_back(names_.size());
    pos_ = RowCount() - 1;
}

void FrameworkRecordset::MoveNext() {
    if (pos_ >= RowCount()) throw rt::ComError(ado::err::NoCurrentRecord, "Recordset", "There is no current record.");
    ++pos_;
}

void RaiseFrameworkError(const char* source, const std::string& description) {
    throw rt::ComError(rt::vberr::InvalidProcedureCall, source, description);
}

std::shared_ptr<FrameworkRecordset> FrameworkRecordsetOf(const std::shared_ptr<pelmora::IFrameworkRecordset>& rs) {
    if (!rs) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, "FrameworkRecordset");
    auto own = std::dynamic_pointer_cast<FrameworkRecordset>(rs);
    if (!own)
        throw rt::ComError(rt::vberr::TypeMismatch, "FrameworkRecordset", "The recordset is not one of the framework's");
    return own;
}

}  // namespace product
