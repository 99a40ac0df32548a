#pragma once
// Validation interfaces of the three kinds, written for the tests: each
// keeps the journal of what it was told (member and value, in order), adds
// one failure of its own when asked to validate, and can be told to fail
// (or, the project kind, to raise Abort first) or to run something inside
// its Validate.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "interfaces/ComponentService.h"
#include "interfaces/InterfaceSupport.h"
#include "interfaces/ValidationInterface.h"
#include "interfaces/VbaProjectHost.h"
#include "pelmora/attribute_validation/ModAttributeValidationService.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Vb.h"

namespace attrvaltest {

class Journal {
public:
    std::vector<std::string> told;  // "Member=value" in call order
    std::optional<rt::ComError> failValidate;
    bool abortFirst = false;
    bool abortOnly = false;  // raise Abort and return normally
    std::function<void()> during;

protected:
    void Tell(const std::string& member, const std::string& value = "") {
        told.push_back(value.empty() ? member : member + "=" + value);
    }
    void Run(pelmora::AbortEventSource* events) {
        if (during) during();
        if ((abortFirst || abortOnly) && events) events->RaiseAbort();
        if (failValidate) throw *failValidate;
    }
    static std::string Show(const rt::Variant& v) {
        if (v.IsNull()) return "Null";
        if (v.IsEmpty()) return "Empty";
        if (v.IsArray()) {
            if (!v.Array()) return "()";
            std::string s = "(" + std::to_string(rt::LBound(v)) + ":";
            for (int32_t i = rt::LBound(v); i <= rt::UBound(v); ++i) s += " " + Show(v.Array()->Get(i));
            return s + ")";
        }
        if (v.IsObject()) return v.IsNothing() ? "Nothing" : "object";
        return rt::CStr(v);
    }
    // What a converted object stands for.
    static std::string Unwrap(const rt::ObjectPtr& converted) {
        auto c = rt::TryQueryInterface<pelmora::IConvertedValue>(converted);
        return c ? c->get_Kind() + " " + Show(c->get_Value()) : "not converted";
    }
};

class ProgIdCheck : public rt::Object, public pelmora::IValidationInterface, public Journal {
public:
    std::shared_ptr<pelmora::IDataContext> dataContext;
    std::shared_ptr<pelmora::IComponentService> active, related;

    void put_ActiveANO(int32_t v) override { Tell("ActiveANO", std::to_string(v)); }
    void put_ActiveComponentName(const std::string& v) override { Tell("ActiveComponentName", v); }
    void putref_ActiveComponentService(const std::shared_ptr<pelmora::IComponentService>& s) override {
        active = s;
        Tell("ActiveComponentService", s->get_ComponentName());
    }
    void put_ArgumentArray(const rt::Variant& v) override { Tell("ArgumentArray", Show(v)); }
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& dc) override {
        dataContext = dc;
        Tell("DataContext");
    }
    void put_RelatedANO(int32_t v) override { Tell("RelatedANO", std::to_string(v)); }
    void put_RelatedComponentName(const std::string& v) override { Tell("RelatedComponentName", v); }
    void putref_RelatedComponentService(const std::shared_ptr<pelmora::IComponentService>& s) override {
        related = s;
        Tell("RelatedComponentService", s->get_ComponentName());
    }
    void put_OperationType(int32_t v) override { Tell("OperationType", std::to_string(v)); }
    void put_Operator(const std::string& v) override { Tell("Operator", v); }
    void put_Priority(const std::string& v) override { Tell("Priority", v); }
    void put_ValidationValue(const rt::Variant& v) override { Tell("ValidationValue", Show(v)); }
    void Execute(rt::Variant& p, rt::Variant& e) override { Report("Execute", p, e); }
    void Validate(rt::Variant& p, rt::Variant& e) override { Report("Validate", p, e); }

private:
    void Report(const char* member, rt::Variant& p, rt::Variant& e) {
        Tell(member);
        Run(nullptr);
        pelmora::AppendValidationFailure(p, e, rt::Variant("P29"), rt::Variant("by ProgID"));
    }
};

class NamedCheck : public rt::Object, public pelmora::INamedValidationInterface, public Journal {
public:
    // What Validate hands back: priorities only, its messages left undimensioned.
    std::vector<std::string> priorities{"N30"};

    void Execute() override {
        Tell("Execute");
        Run(nullptr);
    }
    void Validate(rt::Variant& p, rt::Variant& m) override {
        Tell("Validate", Show(p) + " " + Show(m));
        Run(nullptr);
        std::vector<rt::Variant> values(priorities.begin(), priorities.end());
        p = rt::Variant::ArrayOf(values, 0, rt::vbString);
    }
    void put_ActiveANO(int32_t v) override { Tell("ActiveANO", std::to_string(v)); }
    void put_ActiveComponentName(const std::string& v) override { Tell("ActiveComponentName", v); }
    void putref_ActiveComponents(const rt::ObjectPtr& c) override { Tell("ActiveComponents", Kind(c)); }
    void put_ActiveFieldName(const std::string& v) override { Tell("ActiveFieldName", v); }
    void putref_ActiveValue(const rt::ObjectPtr& v) override { Tell("ActiveValue", Unwrap(v)); }
    void putref_ArgumentArray(const rt::ObjectPtr& v) override { Tell("ArgumentArray", Unwrap(v)); }
    void putref_DataContext(const rt::ObjectPtr& c) override { Tell("DataContext", Kind(c)); }
    void put_Priority(const std::string& v) override { Tell("Priority", v); }
    void put_RelatedANO(int32_t v) override { Tell("RelatedANO", std::to_string(v)); }
    void put_RelatedComponentName(const std::string& v) override { Tell("RelatedComponentName", v); }
    void putref_RelatedComponents(const rt::ObjectPtr& c) override { Tell("RelatedComponents", Kind(c)); }
    void put_RelatedFieldName(const std::string& v) override { Tell("RelatedFieldName", v); }
    void putref_RelatedValue(const rt::ObjectPtr& v) override { Tell("RelatedValue", Unwrap(v)); }

private:
    static std::string Kind(const rt::ObjectPtr& converted) {
        auto c = rt::TryQueryInterface<pelmora::IConvertedValue>(converted);
        return c ? c->get_Kind() : "not converted";
    }
};

class ProjectCheck : public rt::Object,
                     public pelmora::AbortEventSource,
                     public pelmora::IProjectValidationInterface,
                     public Journal {
public:
    void put_ArgumentArray(const rt::Variant& v) override { Tell("ArgumentArray", Show(v)); }
    void put_ActiveComponentName(const std::string& v) override { Tell("ActiveComponentName", v); }
    void put_RelatedComponentName(const std::string& v) override { Tell("RelatedComponentName", v); }
    void put_ActiveANO(int32_t v) override { Tell("ActiveANO", std::to_string(v)); }
    void put_RelatedANO(int32_t v) override { Tell("RelatedANO", std::to_string(v)); }
    void putref_ActiveComponents(const std::shared_ptr<pelmora::QzComponents>& c) override {
        Tell("ActiveComponents", c ? "set" : "Nothing");
    }
    void putref_RelatedComponents(const std::shared_ptr<pelmora::QzComponents>& c) override {
        Tell("RelatedComponents", c ? "set" : "Nothing");
    }
    void put_Priority(const std::string& v) override { Tell("Priority", v); }
    void put_ActiveFieldName(const std::string& v) override { Tell("ActiveFieldName", v); }
    void put_RelatedFieldName(const std::string& v) override { Tell("RelatedFieldName", v); }
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>&) override { Tell("DataContext"); }
    void put_RelatedValue(const rt::Variant& v) override { Tell("RelatedValue", Show(v)); }
    void put_ActiveValue(const rt::Variant& v) override { Tell("ActiveValue", Show(v)); }
    void Execute() override {
        Tell("Execute");
        Run(this);
    }
    void Validate(rt::Variant& p, rt::Variant& e) override {
        Tell("Validate");
        Run(this);
        pelmora::AppendValidationFailure(p, e, rt::Variant("V31"), rt::Variant("by project"));
    }
};

}  // namespace attrvaltest
