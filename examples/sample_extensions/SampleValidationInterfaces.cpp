// The sample's attribute validation interfaces, all judging a valve against
// the main it is related to: its size against the main's diameter
// ("Pelmora.ValveMainCheck"), its type against the main's material
// ("Pelmora:ValveMainNamed"), and its installation date against the main's
// ("ValveProject" in VBA project 7).
#include "SampleExtensionsInternal.h"
#include "ado/Recordset.h"
#include "interfaces/ComponentService.h"
#include "interfaces/DataContext.h"
#include "interfaces/MetadataService.h"
#include "interfaces/ValidationInterface.h"
#include "pelmora/attribute_validation/ModAttributeValidationService.h"
#include "product/InterfaceSupport.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora_sample {

namespace {

bool Missing(const rt::Variant& v) { return v.IsNull() || v.IsEmpty(); }

// A valve no wider than its main.
std::string CheckSize(const rt::Variant& size, const rt::Variant& diameter) {
    if (Missing(size) || Missing(diameter) || rt::CDbl(size) <= rt::CDbl(diameter)) return "";
    return "The valve (" + rt::CStr(size) + " mm) is wider than its main (" + rt::CStr(diameter) + " mm).";
}

// A valve's type is known wherever its main's material is.
std::string CheckType(const rt::Variant& type, const rt::Variant& material) {
    if (!Missing(type) || Missing(material)) return "";
    return "The valve on a main of " + rt::CStr(material) + " has no type.";
}

// A valve is not installed before its main.
std::string CheckInstalled(const rt::Variant& valve, const rt::Variant& main) {
    if (Missing(valve) || Missing(main) || rt::CDbl(rt::CDate(valve)) >= rt::CDbl(rt::CDate(main))) return "";
    return "The valve was installed before its main.";
}

class ProgIdValidationInterface : public rt::Object, public pelmora::IValidationInterface {
public:
    void put_ActiveANO(int32_t v) override { activeANO_ = v; }
    void put_ActiveComponentName(const std::string&) override {}
    void putref_ActiveComponentService(const std::shared_ptr<pelmora::IComponentService>& s) override { active_ = s; }
    void put_ArgumentArray(const rt::Variant&) override {}
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& d) override { dataContext_ = d; }
    void put_RelatedANO(int32_t v) override { relatedANO_ = v; }
    void put_RelatedComponentName(const std::string&) override {}
    void putref_RelatedComponentService(const std::shared_ptr<pelmora::IComponentService>& s) override { related_ = s; }
    void put_OperationType(int32_t) override {}
    void put_Operator(const std::string&) override {}
    void put_Priority(const std::string& p) override { priority_ = p; }
    void put_ValidationValue(const rt::Variant&) override {}
    void Execute(rt::Variant& p, rt::Variant& m) override { Run(p, m); }
    void Validate(rt::Variant& p, rt::Variant& m) override { Run(p, m); }
    std::string TypeName() const override { return "SampleValidationInterface"; }

private:
    void Run(rt::Variant& p, rt::Variant& m) {
        // Without a related feature there is no main to compare with.
        if (!active_ || !related_) return;
        const std::string size = AttributeField(dataContext_, activeANO_);
        const std::string diameter = AttributeField(dataContext_, relatedANO_);
        if (size.empty() || diameter.empty()) rt::RaiseVbError(rt::vberr::InvalidProcedureCall);
        const std::string failure = CheckSize(active_->get_Value(size), related_->get_Value(diameter));
        if (!failure.empty()) pelmora::AppendValidationFailure(p, m, rt::Variant(priority_), rt::Variant(failure));
    }

    int32_t activeANO_ = 0, relatedANO_ = 0;
    std::shared_ptr<pelmora::IComponentService> active_, related_;
    std::shared_ptr<pelmora::IDataContext> dataContext_;
    std::string priority_;
};

class NamedValidationInterface : public rt::Object, public pelmora::INamedValidationInterface {
public:
    void Execute() override {}
    void Validate(rt::Variant& priorities, rt::Variant& messages) override {
        const std::string failure = CheckType(Unconverted(active_), Unconverted(related_));
        if (failure.empty()) return;
        PutFindings({{priority_, failure}}, priorities, messages);
    }
    void put_ActiveANO(int32_t) override {}
    void put_ActiveComponentName(const std::string&) override {}
    void putref_ActiveComponents(const rt::ObjectPtr&) override {}
    void put_ActiveFieldName(const std::string&) override {}
    void putref_ActiveValue(const rt::ObjectPtr& v) override { active_ = v; }
    void putref_ArgumentArray(const rt::ObjectPtr&) override {}
    void putref_DataContext(const rt::ObjectPtr&) override {}
    void put_Priority(const std::string& p) override { priority_ = p; }
    void put_RelatedANO(int32_t) override {}
    void put_RelatedComponentName(const std::string&) override {}
    void putref_RelatedComponents(const rt::ObjectPtr&) override {}
    void put_RelatedFieldName(const std::string&) override {}
    void putref_RelatedValue(const rt::ObjectPtr& v) override { related_ = v; }
    std::string TypeName() const override { return "SampleNamedValidationInterface"; }

private:
    rt::ObjectPtr active_, related_;
    std::string priority_;
};

class ProjectValidationInterface : public rt::Object, public pelmora::IProjectValidationInterface {
public:
    void put_ArgumentArray(const rt::Variant&) override {}
    void put_ActiveComponentName(const std::string&) override {}
    void put_RelatedComponentName(const std::string&) override {}
    void put_ActiveANO(int32_t) override {}
    void put_RelatedANO(int32_t) override {}
    void putref_ActiveComponents(const std::shared_ptr<pelmora::QzComponents>&) override {}
    void putref_RelatedComponents(const std::shared_ptr<pelmora::QzComponents>&) override {}
    void put_Priority(const std::string& p) override { priority_ = p; }
    void put_ActiveFieldName(const std::string&) override {}
    void put_RelatedFieldName(const std::string&) override {}
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>&) override {}
    void put_RelatedValue(const rt::Variant& v) override { related_ = v; }
    void put_ActiveValue(const rt::Variant& v) override { active_ = v; }
    void Execute() override {}
    void Validate(rt::Variant& p, rt::Variant& m) override {
        const std::string failure = CheckInstalled(active_, related_);
        if (!failure.empty()) pelmora::AppendValidationFailure(p, m, rt::Variant(priority_), rt::Variant(failure));
    }
    std::string TypeName() const override { return "SampleProjectValidationInterface"; }

private:
    rt::Variant active_, related_;
    std::string priority_;
};

}  // namespace

std::string AttributeField(const std::shared_ptr<pelmora::IDataContext>& dataContext, int32_t ano) {
    if (!dataContext) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto metadata = dataContext->GetMetadataService();
    if (!metadata) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto table = metadata->get_Recordsets()->get_Item(rt::Variant("QTX_ATTRIBUTEINFO_OPTABLE"));
    if (!table) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto rows = table->get_Recordset("QTX_ANO = " + std::to_string(ano), "");
    if (!rows || rows->get_EOF()) return "";
    return rt::CStr(rows->GetValue(rt::Variant("QTX_FIELD")));
}

rt::ObjectPtr NewProjectValidationInterface() { return std::make_shared<ProjectValidationInterface>(); }

void RegisterValidationInterfaces() {
    RegisterProgId("Pelmora.ValveMainCheck", [] { return std::make_shared<ProgIdValidationInterface>(); });
    RegisterName("Pelmora:ValveMainNamed", [] { return std::make_shared<NamedValidationInterface>(); });
}

}  // namespace pelmora_sample
