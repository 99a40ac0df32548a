#include "product/framework/InMemoryRecordset.h"

#include "product/framework/FrameworkRecordset.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace product {

namespace {

constexpr const char* kSource = "InMemoryRecordset";

[[noreturn]] void Refuse(const std::string& description) { RaiseFrameworkError(kSource, description); }

}  // namespace

InMemoryDefinitionState::Field& InMemoryRecordsetDefinition::Last() {
    if (!state_->open) Refuse("The recordset is not being defined");
    if (state_->fields.empty()) Refuse("No field has been added");
    return state_->fields.back();
}

void InMemoryRecordsetDefinition::AddField(const std::string& Name) {
    if (!state_->open) Refuse("The recordset is not being defined");
    if (Name.empty()) Refuse("A field needs a name");
    for (auto& f : state_->fields)
        if (rt::NamesEqual(f.name, Name)) Refuse("The field " + Name + " is already defined");
    state_->fields.push_back({Name, std::nullopt, std::nullopt});
}

void InMemoryRecordsetDefinition::put_FieldType(int32_t TypeCode) {
    auto& f = Last();
    if (TypeCode != pelmora::framework_field::GeometryType)
        Refuse("The field type " + std::to_string(TypeCode) + " of " + f.name + " is not supported");
    f.type = TypeCode;
}

void InMemoryRecordsetDefinition::put_FieldSubType(int32_t SubTypeCode) {
    auto& f = Last();
    if (SubTypeCode != pelmora::framework_field::AnyGeometrySubType)
        Refuse("The field sub-type " + std::to_string(SubTypeCode) + " of " + f.name + " is not supported");
    f.subType = SubTypeCode;
}

void InMemoryRecordset::put_DefinitionMode(bool DefinitionMode) {
    if (DefinitionMode == state_->open) return;
    if (DefinitionMode) {
        if (recordset_) Refuse("The recordset is already defined");
        state_->open = true;
        return;
    }
    if (state_->fields.empty()) Refuse("The recordset has no fields");
    auto made = std::make_shared<FrameworkRecordset>();
    for (auto& f : state_->fields) {
        if (!f.type || !f.subType) Refuse("The field " + f.name + " has no type");
        made->AppendField(f.name, true);
    }
    recordset_ = std::move(made);
    state_->open = false;
}

std::shared_ptr<pelmora::IInMemoryRecordsetDefinition> InMemoryRecordset::get_Definition() {
    if (!state_->open) Refuse("The recordset is not being defined");
    if (!definition_) definition_ = std::make_shared<InMemoryRecordsetDefinition>(state_);
    return definition_;
}

std::shared_ptr<pelmora::IFrameworkRecordset> InMemoryRecordset::get_Recordset() {
    if (!recordset_) Refuse(state_->open ? "The recordset is being defined" : "The recordset has not been defined");
    return recordset_;
}

}  // namespace product
