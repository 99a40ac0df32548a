// The sample's functional interfaces (by ProgID, by a name with ":", and
// the face of VBA project 1 that hosts "LiningAudit" and "HydrantTypeCheck")
// and its attribute edit controls. Edit events are noted in the journal;
// the validating ones check the current row's value of their field.
#include <algorithm>
#include <functional>
#include <map>

#include "SampleExtensionsInternal.h"
#include "ado/Recordset.h"
#include "interfaces/ComponentService.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/FunctionalInterface.h"
#include "interfaces/InterfaceSupport.h"
#include "product/InterfaceSupport.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora_sample {

namespace {

std::string Text(const rt::Variant& v) { return v.IsNull() || v.IsEmpty() ? std::string() : rt::CStr(v); }

bool OneOf(const std::string& value, std::initializer_list<const char*> allowed) {
    return std::any_of(allowed.begin(), allowed.end(), [&](const char* a) { return value == a; });
}

// What a validating interface says of a value, given its argument list; ""
// when the value passes.
using ValueCheck = std::function<std::string(const rt::Variant& value, const std::vector<std::string>& arguments)>;

// Outlets within the two numbers of the argument list.
std::string CheckOutlets(const rt::Variant& value, const std::vector<std::string>& arguments) {
    if (value.IsNull() || value.IsEmpty()) return "";
    const double low = arguments.size() > 0 && rt::IsNumeric(rt::Variant(arguments[0])) ? rt::CDbl(rt::Variant(arguments[0])) : 1;
    const double high = arguments.size() > 1 && rt::IsNumeric(rt::Variant(arguments[1])) ? rt::CDbl(rt::Variant(arguments[1])) : low;
    const double n = rt::CDbl(value);
    if (n >= low && n <= high) return "";
    return "A hydrant has " + rt::CStr(value) + " outlets; " + rt::CStr(rt::Variant(low)) + " to " +
           rt::CStr(rt::Variant(high)) + " are fitted.";
}

std::string CheckColour(const rt::Variant& value, const std::vector<std::string>&) {
    const std::string colour = Text(value);
    if (colour.empty() || OneOf(colour, {"RED", "YELLOW", "BLUE", "GREEN", "WHITE"})) return "";
    return "The colour code " + colour + " is not a hydrant marking colour.";
}

std::string CheckHydrantType(const rt::Variant& value, const std::vector<std::string>&) {
    const std::string type = Text(value);
    if (OneOf(type, {"PILLAR", "UNDERGROUND", "WALL"})) return "";
    return "The hydrant type " + (type.empty() ? std::string("(none)") : type) + " is not one the network uses.";
}

// The priority the sample's own checks report with.
constexpr const char* kPriority = "Warning";

void Report(const std::string& message, rt::Variant& priorities, rt::Variant& messages) {
    if (message.empty()) PutFindings({}, priorities, messages);
    else PutFindings({{kPriority, message}}, priorities, messages);
}

// What an interface notes about a change, given the value its field holds
// now (a SetValue interface's own field is the changed one).
using ChangeNote = std::function<std::string(const std::shared_ptr<pelmora::IDataContext>& dataContext,
                                             const rt::Variant& valueNow)>;

// A main material must be one of the database's MAIN_MATERIALS.
std::string NoteMaterial(const std::shared_ptr<pelmora::IDataContext>& dataContext, const rt::Variant& valueNow) {
    if (!dataContext || valueNow.IsNull() || valueNow.IsEmpty()) return "";
    rt::Variant parameters = rt::Variant::ArrayOf({valueNow});
    auto rs = dataContext->OpenParameterizedRecordset("SELECT * FROM MAIN_MATERIALS WHERE MATERIAL_CODE = ?",
                                                      ado::adOpenStatic, ado::adLockReadOnly, ado::adCmdText,
                                                      parameters);
    if (rs && !(rs->get_BOF() && rs->get_EOF())) return Text(valueNow) + " is a main material";
    return Text(valueNow) + " is not among MAIN_MATERIALS";
}

// ---- by ProgID ----

class ProgIdFunctionalInterface : public rt::Object, public pelmora::IFunctionalInterface {
public:
    ProgIdFunctionalInterface(std::string name, ValueCheck check, ChangeNote note)
        : name_(std::move(name)), check_(std::move(check)), note_(std::move(note)) {}

    rt::Variant get_ArgumentArray() override { return arguments_; }
    void put_ArgumentArray(const rt::Variant& a) override { arguments_ = a; }
    std::string get_ComponentName() override { return componentName_; }
    void put_ComponentName(const std::string& n) override { componentName_ = n; }
    std::string get_FieldName() override { return fieldName_; }
    void put_FieldName(const std::string& n) override { fieldName_ = n; }
    std::shared_ptr<pelmora::IComponentService> get_ComponentService() override { return service_; }
    void putref_ComponentService(const std::shared_ptr<pelmora::IComponentService>& s) override { service_ = s; }
    std::shared_ptr<pelmora::IDataContext> get_DataContext() override { return dataContext_; }
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& d) override { dataContext_ = d; }
    rt::Variant get_FieldValueBeforeChange() override { return before_; }
    void put_FieldValueBeforeChange(const rt::Variant& v) override { before_ = v; }
    std::string get_FunctionalType() override { return type_; }
    void put_FunctionalType(const std::string& t) override { type_ = t; }

    void Execute() override {
        std::string note;
        if (note_ && KeepsInterfaceCalls() && service_ && !fieldName_.empty() && fieldName_ != "QTX_GEOMETRY") {
            service_->put_ComponentName(componentName_);
            note = note_(dataContext_, service_->get_Value(fieldName_));
        }
        Record({name_, "Execute", type_, componentName_, fieldName_, before_, note});
    }
    void CancelUpdate() override {}
    void Update() override { Record({name_, "Update", type_, componentName_, fieldName_, rt::Variant(), ""}); }
    void Delete() override { Record({name_, "Delete", type_, componentName_, fieldName_, rt::Variant(), ""}); }
    void Validate(rt::Variant& priorities, rt::Variant& messages) override {
        if (!check_) return;
        if (!service_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        if (service_->get_ComponentName() != componentName_) service_->put_ComponentName(componentName_);
        Report(check_(service_->get_Value(fieldName_), ArgumentTexts(arguments_)), priorities, messages);
    }

    std::string TypeName() const override { return "SampleFunctionalInterface"; }

private:
    std::string name_;
    ValueCheck check_;
    ChangeNote note_;
    rt::Variant arguments_, before_;
    std::string componentName_, fieldName_, type_;
    std::shared_ptr<pelmora::IComponentService> service_;
    std::shared_ptr<pelmora::IDataContext> dataContext_;
};

// The value of a field on the current row of a component.
rt::Variant CurrentValue(const std::shared_ptr<pelmora::QzComponents>& components, const std::string& componentName,
                         const std::string& fieldName) {
    if (!components) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto component = components->get_Item(rt::Variant(componentName));
    if (!component) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto rows = component->get_Recordset();
    if (!rows || rows->get_BOF() || rows->get_EOF()) return rt::Variant::Null();
    return rows->GetValue(rt::Variant(fieldName));
}

std::shared_ptr<pelmora::QzComponents> ComponentsOf(const rt::ObjectPtr& converted) {
    rt::Variant v = Unconverted(converted);
    return v.IsObject() && !v.IsNothing() ? rt::QueryInterface<pelmora::QzComponents>(v.Obj()) : nullptr;
}

// ---- by a name with ":" ----

class NamedFunctionalInterface : public rt::Object, public pelmora::INamedFunctionalInterface {
public:
    NamedFunctionalInterface(std::string name, ValueCheck check) : name_(std::move(name)), check_(std::move(check)) {}

    void Execute() override {
        // The valve rules: a type set must be one of the listed types.
        std::string note;
        if (KeepsInterfaceCalls() && fieldName_ != "QTX_GEOMETRY" && components_) {
            const std::string now = Text(CurrentValue(ComponentsOf(components_), componentName_, fieldName_));
            const auto listed = ArgumentTexts(arguments_ ? rt::Variant(arguments_) : rt::Variant());
            if (!listed.empty() && !now.empty())
                note = std::find(listed.begin(), listed.end(), now) != listed.end() ? now + " is a listed type"
                                                                                   : now + " is not a listed type";
        }
        Record({name_, "Execute", TypeText(), componentName_, fieldName_, Unconverted(before_), note});
    }
    void Delete() override { Record({name_, "Delete", TypeText(), componentName_, fieldName_, rt::Variant(), ""}); }
    void Validate(rt::Variant& priorities, rt::Variant& messages) override {
        if (!check_) return;
        auto value = CurrentValue(ComponentsOf(components_), componentName_, fieldName_);
        Report(check_(value, ArgumentTexts(arguments_ ? rt::Variant(arguments_) : rt::Variant())), priorities,
               messages);
    }
    rt::ObjectPtr get_ArgumentArray() override { return arguments_; }
    void putref_ArgumentArray(const rt::ObjectPtr& a) override { arguments_ = a; }
    std::string get_ComponentName() override { return componentName_; }
    void put_ComponentName(const std::string& n) override { componentName_ = n; }
    void putref_Components(const rt::ObjectPtr& c) override { components_ = c; }
    rt::ObjectPtr get_DataContext() override { return dataContext_; }
    void putref_DataContext(const rt::ObjectPtr& d) override { dataContext_ = d; }
    std::string get_FieldName() override { return fieldName_; }
    void put_FieldName(const std::string& n) override { fieldName_ = n; }
    rt::ObjectPtr get_FieldValueBeforeChange() override { return before_; }
    void putref_FieldValueBeforeChange(const rt::ObjectPtr& v) override { before_ = v; }
    int32_t get_FunctionalType() override { return type_; }
    void put_FunctionalType(int32_t t) override { type_ = t; }

    std::string TypeName() const override { return "SampleNamedFunctionalInterface"; }

private:
    std::string TypeText() const { return FunctionalTypeText(type_); }

    std::string name_;
    ValueCheck check_;
    rt::ObjectPtr arguments_, components_, dataContext_, before_;
    std::string componentName_, fieldName_;
    int32_t type_ = 0;
};

// ---- in VBA project 1 ----

// One entry object hosts every functional interface of the project; the
// field it is set on tells which one is asked.
class ProjectFunctionalInterface : public rt::Object, public pelmora::IProjectFunctionalInterface {
public:
    rt::Variant get_ArgumentArray() override { return arguments_; }
    void put_ArgumentArray(const rt::Variant& a) override { arguments_ = a; }
    std::string get_ComponentName() override { return componentName_; }
    void put_ComponentName(const std::string& n) override { componentName_ = n; }
    void putref_Components(const std::shared_ptr<pelmora::QzComponents>& c) override { components_ = c; }
    std::shared_ptr<pelmora::IDataContext> get_DataContext() override { return dataContext_; }
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& d) override { dataContext_ = d; }
    std::string get_FieldName() override { return fieldName_; }
    void put_FieldName(const std::string& n) override { fieldName_ = n; }
    rt::Variant get_FieldValueBeforeChange() override { return before_; }
    void put_FieldValueBeforeChange(const rt::Variant& v) override { before_ = v; }
    int32_t get_FunctionalType() override { return type_; }
    void put_FunctionalType(int32_t t) override { type_ = t; }
    void Execute() override {
        Record({"VBA project 1", "Execute", FunctionalTypeText(type_), componentName_, fieldName_, before_, ""});
    }
    void Delete() override {
        Record({"VBA project 1", "Delete", FunctionalTypeText(type_), componentName_, fieldName_, {}, ""});
    }
    void Validate(rt::Variant& priorities, rt::Variant& messages) override {
        if (fieldName_ != "HYDRANT_TYPE") return;
        Report(CheckHydrantType(CurrentValue(components_, componentName_, fieldName_), {}), priorities, messages);
    }
    std::string TypeName() const override { return "SampleProjectFunctionalInterface"; }

private:
    rt::Variant arguments_, before_;
    std::string componentName_, fieldName_;
    std::shared_ptr<pelmora::QzComponents> components_;
    std::shared_ptr<pelmora::IDataContext> dataContext_;
    int32_t type_ = 0;
};

// ---- attribute edit controls ----

// Decides from the field's value before the change and the argument list.
using EditRule = std::function<bool(const rt::Variant& valueBefore, const std::vector<std::string>& arguments)>;

class EditControl : public rt::Object, public pelmora::IAttributeEditControl {
public:
    explicit EditControl(EditRule rule) : rule_(std::move(rule)) {}
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>&) override {}
    void put_ArgumentArray(const rt::Variant& a) override { arguments_ = a; }
    void putref_Components(const std::shared_ptr<pelmora::QzComponents>&) override {}
    void put_ComponentName(const std::string&) override {}
    void put_FieldName(const std::string&) override {}
    void put_FieldValue(const rt::Variant& v) override { before_ = v; }
    bool IsAttributeEditable(int32_t) override { return rule_(before_, ArgumentTexts(arguments_)); }
    std::string TypeName() const override { return "SampleEditControl"; }

private:
    EditRule rule_;
    rt::Variant arguments_, before_;
};

// A valve's normal position may be changed while it holds one of the
// listed positions; one outside the list is left to the office to sort out.
bool PositionEditable(const rt::Variant& before, const std::vector<std::string>& positions) {
    const std::string now = Text(before);
    return now.empty() || positions.empty() || std::find(positions.begin(), positions.end(), now) != positions.end();
}

// A meter id of the listed prefix (or none yet) may be changed in the field.
bool MeterEditable(const rt::Variant& before, const std::vector<std::string>& arguments) {
    const std::string now = Text(before);
    const std::string prefix = arguments.empty() ? std::string() : arguments[0];
    return now.empty() || now.rfind(prefix, 0) == 0;
}

bool AlwaysEditable(const rt::Variant&, const std::vector<std::string>&) { return true; }

}  // namespace

std::string FunctionalTypeText(int32_t type) {
    switch (type) {
        case pelmora::kFunctionalTypeAddNew: return "AddNew";
        case pelmora::kFunctionalTypeSetValue: return "SetValue";
        case pelmora::kFunctionalTypeEdit: return "Edit";
        case pelmora::kFunctionalTypeUpdate: return "Update";
        default: return std::to_string(type);
    }
}

rt::ObjectPtr NewProjectFunctionalInterface() { return std::make_shared<ProjectFunctionalInterface>(); }
rt::ObjectPtr NewProjectEditControl() { return std::make_shared<EditControl>(MeterEditable); }

void RegisterFunctionalInterfaces() {
    struct ByProgId {
        const char* progId;
        ValueCheck check;
        ChangeNote note;
    };
    const ByProgId interfaces[] = {
        {"Pelmora.MaterialCheck", nullptr, NoteMaterial},
        {"Pelmora.PressureDefaults", nullptr, nullptr},
        {"Pelmora.MainLength", nullptr, nullptr},
        {"Pelmora.ZoneAudit", nullptr, nullptr},
        {"Pelmora.ServiceCheck", nullptr, nullptr},
        {"Pelmora.LiningTypeCheck", nullptr, nullptr},
        {"Pelmora.LiningTypeNotice", nullptr, nullptr},
        {"Pelmora.LiningThickness", nullptr, nullptr},
        {"Pelmora.LiningYear", nullptr, nullptr},
        {"Pelmora.SymbolRotation", nullptr, nullptr},
        {"Pelmora.SymbolMoved", nullptr, nullptr},
        {"Pelmora.OutletCheck", CheckOutlets, nullptr},
    };
    for (const auto& i : interfaces) {
        std::string name = i.progId;
        ValueCheck check = i.check;
        ChangeNote note = i.note;
        RegisterProgId(name, [name, check, note] {
            return std::make_shared<ProgIdFunctionalInterface>(name, check, note);
        });
    }
    RegisterName("Pelmora:ValveRules",
                                     [] { return std::make_shared<NamedFunctionalInterface>("Pelmora:ValveRules", nullptr); });
    RegisterName("Pelmora:ColourCheck", [] {
        return std::make_shared<NamedFunctionalInterface>("Pelmora:ColourCheck", CheckColour);
    });

    const std::pair<const char*, EditRule> controls[] = {
        {"Pelmora.ValvePositionControl", PositionEditable},
        {"Pelmora.OutletControl", AlwaysEditable},
        {"Pelmora.ColorPicker", AlwaysEditable},
    };
    for (const auto& [progId, rule] : controls) {
        EditRule r = rule;
        RegisterProgId(progId, [r] { return std::make_shared<EditControl>(r); });
    }
}

}  // namespace pelmora_sample
