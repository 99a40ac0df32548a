#pragma once
// Extension objects of the kinds metadata names, written for the tests:
// each records the calls it gets and the values it was given, and can be
// told to fail a member or to raise Abort while a member runs. A fixture
// with the product's stand-ins on a fresh apartment.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/extensions/ExtensionBinding.h"
#include "pelmora/features/Components.h"
#include "interfaces/ComponentService.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/FunctionalInterface.h"
#include "interfaces/InterfaceSupport.h"
#include "interfaces/VbaProjectHost.h"
#include "product/InterfaceSupport.h"
#include "product/StandIns.h"
#include "product/VbaProjectHost.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"
#include "support/Raises.h"

namespace exttest {

// What every test object shares: the journal of calls and the scripted
// failures. An abort raises the object's Abort event (when it has one) and
// then fails the member, as a project that goes away mid-call does.
class Scripted {
public:
    std::vector<std::string> calls;
    std::map<std::string, rt::ComError> failures;
    std::map<std::string, bool> aborts;

    void FailOn(const std::string& member, int32_t number, const std::string& source, const std::string& text) {
        failures.insert_or_assign(member, rt::ComError(number, source, text));
    }
    void AbortOn(const std::string& member) { aborts[member] = true; }
    bool Called(const std::string& member) const {
        for (auto& c : calls)
            if (c == member) return true;
        return false;
    }

protected:
    void Enter(const std::string& member, pelmora::AbortEventSource* events) {
        calls.push_back(member);
        if (aborts.count(member)) {
            if (events) events->RaiseAbort();
            throw rt::ComError(rt::vberr::ObjectVariableNotSet, "Project", "The project was unloaded.");
        }
        auto it = failures.find(member);
        if (it != failures.end()) throw it->second;
    }
};

// A functional interface held in a VBA project.
class ProjectFI : public rt::Object,
                  public pelmora::AbortEventSource,
                  public pelmora::IProjectFunctionalInterface,
                  public Scripted {
public:
    rt::Variant arguments, valueBeforeChange;
    std::string componentName, fieldName;
    std::shared_ptr<pelmora::QzComponents> components;
    bool componentsSet = false;
    std::shared_ptr<pelmora::IDataContext> dataContext;
    int32_t functionalType = 0;
    // What Validate writes into its arguments.
    rt::Variant validatePriorities, validateMessages;

    rt::Variant get_ArgumentArray() override { return Go("get ArgumentArray"), arguments; }
    void put_ArgumentArray(const rt::Variant& v) override { Go("ArgumentArray"), arguments = v; }
    std::string get_ComponentName() override { return Go("get ComponentName"), componentName; }
    void put_ComponentName(const std::string& v) override { Go("ComponentName"), componentName = v; }
    void putref_Components(const std::shared_ptr<pelmora::QzComponents>& v) override {
        Go("Components");
        components = v;
        componentsSet = true;
    }
    std::shared_ptr<pelmora::IDataContext> get_DataContext() override { return Go("get DataContext"), dataContext; }
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& v) override {
        Go("DataContext"), dataContext = v;
    }
    std::string get_FieldName() override { return Go("get FieldName"), fieldName; }
    void put_FieldName(const std::string& v) override { Go("FieldName"), fieldName = v; }
    rt::Variant get_FieldValueBeforeChange() override { return Go("get FieldValueBeforeChange"), valueBeforeChange; }
    void put_FieldValueBeforeChange(const rt::Variant& v) override {
        Go("FieldValueBeforeChange"), valueBeforeChange = v;
    }
    int32_t get_FunctionalType() override { return Go("get FunctionalType"), functionalType; }
    void put_FunctionalType(int32_t v) override { Go("FunctionalType"), functionalType = v; }
    void Execute() override { Go("Execute"); }
    void Delete() override { Go("Delete"); }
    void Validate(rt::Variant& priorities, rt::Variant& messages) override {
        Go("Validate");
        priorities = validatePriorities;
        messages = validateMessages;
    }
    // Members a bridge must never forward.
    void CancelUpdate() { Go("CancelUpdate"); }
    void Update() { Go("Update"); }

private:
    int Go(const std::string& member) {
        Enter(member, this);
        return 0;
    }
};

// A functional interface created from a name with ":": it takes converted
// objects and keeps them.
class NamedFI : public rt::Object, public pelmora::INamedFunctionalInterface, public Scripted {
public:
    rt::ObjectPtr arguments, components, dataContext, valueBeforeChange;
    bool componentsSet = false;
    std::string componentName, fieldName;
    int32_t functionalType = 0;
    rt::Variant validatePriorities = rt::Variant::UnallocatedArray(rt::vbString);
    rt::Variant validateMessages = rt::Variant::UnallocatedArray(rt::vbString);
    // What Validate was handed.
    rt::Variant prioritiesIn, messagesIn;

    void Execute() override { Go("Execute"); }
    void Delete() override { Go("Delete"); }
    void Validate(rt::Variant& priorities, rt::Variant& messages) override {
        Go("Validate");
        prioritiesIn = priorities;
        messagesIn = messages;
        if (!validatePriorities.IsEmpty()) priorities = validatePriorities;
        if (!validateMessages.IsEmpty()) messages = validateMessages;
    }
    rt::ObjectPtr get_ArgumentArray() override { return Go("get ArgumentArray"), arguments; }
    void putref_ArgumentArray(const rt::ObjectPtr& v) override { Go("ArgumentArray"), arguments = v; }
    std::string get_ComponentName() override { return Go("get ComponentName"), componentName; }
    void put_ComponentName(const std::string& v) override { Go("ComponentName"), componentName = v; }
    void putref_Components(const rt::ObjectPtr& v) override {
        Go("Components");
        components = v;
        componentsSet = true;
    }
    rt::ObjectPtr get_DataContext() override { return Go("get DataContext"), dataContext; }
    void putref_DataContext(const rt::ObjectPtr& v) override { Go("DataContext"), dataContext = v; }
    std::string get_FieldName() override { return Go("get FieldName"), fieldName; }
    void put_FieldName(const std::string& v) override { Go("FieldName"), fieldName = v; }
    rt::ObjectPtr get_FieldValueBeforeChange() override { return Go("get FieldValueBeforeChange"), valueBeforeChange; }
    void putref_FieldValueBeforeChange(const rt::ObjectPtr& v) override {
        Go("FieldValueBeforeChange"), valueBeforeChange = v;
    }
    int32_t get_FunctionalType() override { return Go("get FunctionalType"), functionalType; }
    void put_FunctionalType(int32_t v) override { Go("FunctionalType"), functionalType = v; }

private:
    int Go(const std::string& member) {
        Enter(member, nullptr);
        return 0;
    }
};

// An attribute edit control, created by ProgID (events off) or held in a
// VBA project (events on).
class EditControl : public rt::Object,
                    public pelmora::AbortEventSource,
                    public pelmora::IAttributeEditControl,
                    public Scripted {
public:
    std::shared_ptr<pelmora::IDataContext> dataContext;
    rt::Variant arguments, fieldValue;
    std::shared_ptr<pelmora::QzComponents> components;
    std::string componentName, fieldName;
    bool answer = true;
    int32_t askedAno = 0;

    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& v) override {
        Go("DataContext"), dataContext = v;
    }
    void put_ArgumentArray(const rt::Variant& v) override { Go("ArgumentArray"), arguments = v; }
    void putref_Components(const std::shared_ptr<pelmora::QzComponents>& v) override {
        Go("Components"), components = v;
    }
    void put_ComponentName(const std::string& v) override { Go("ComponentName"), componentName = v; }
    void put_FieldName(const std::string& v) override { Go("FieldName"), fieldName = v; }
    void put_FieldValue(const rt::Variant& v) override { Go("FieldValue"), fieldValue = v; }
    bool IsAttributeEditable(int32_t ano) override {
        Go("IsAttributeEditable");
        askedAno = ano;
        return answer;
    }

private:
    int Go(const std::string& member) {
        Enter(member, this);
        return 0;
    }
};

// A control created from a name with ":".
class NamedEditControl : public rt::Object, public pelmora::INamedAttributeEditControl, public Scripted {
public:
    rt::ObjectPtr arguments, components, dataContext, fieldValue;
    std::string componentName, fieldName;
    bool answer = false;
    int32_t askedAno = 0;

    bool IsAttributeEditable(int32_t ano) override {
        Go("IsAttributeEditable");
        askedAno = ano;
        return answer;
    }
    void putref_ArgumentArray(const rt::ObjectPtr& v) override { Go("ArgumentArray"), arguments = v; }
    void put_ComponentName(const std::string& v) override { Go("ComponentName"), componentName = v; }
    void putref_Components(const rt::ObjectPtr& v) override { Go("Components"), components = v; }
    void putref_DataContext(const rt::ObjectPtr& v) override { Go("DataContext"), dataContext = v; }
    void put_FieldName(const std::string& v) override { Go("FieldName"), fieldName = v; }
    void putref_FieldValue(const rt::ObjectPtr& v) override { Go("FieldValue"), fieldValue = v; }

private:
    int Go(const std::string& member) {
        Enter(member, nullptr);
        return 0;
    }
};

// A component service of some other make: no internal face, so not the
// system's own.
class ForeignComponentService : public rt::Object, public pelmora::IComponentService {
public:
    std::string get_ComponentName() override { return ""; }
    void put_ComponentName(const std::string&) override {}
    int16_t get_ComponentID() override { return 0; }
    void put_ComponentID(int16_t) override {}
    rt::Variant get_CIDList() override { return rt::Variant::Null(); }
    rt::ObjectPtr get_Geometry() override { return nullptr; }
    void putref_Geometry(const rt::ObjectPtr&) override {}
    rt::Variant get_Value(const std::string&) override { return rt::Variant(); }
    void put_Value(const std::string&, const rt::Variant&) override {}
    void NewOccurrence() override {}
    void DeleteOccurrence() override {}
};

using pelmora_test::Raised;

inline constexpr int32_t kUserInterrupted = static_cast<int32_t>(0x80040000u) + 14119;

// The product's stand-ins on a fresh apartment.
class ExtensionFixture : public ::testing::Test {
protected:
    void SetUp() override {
        rt::Apartment::Reset();
        product::RegisterProductStandIns();
        recorder_ = std::make_shared<product::DialogRecorder>();
        product::InstallDialogRecorder(recorder_);
    }
    void TearDown() override {
        for (const auto& name : namedObjects_) product::UnregisterInterfaceObject(name);
        for (const auto& progId : progIds_) rt::UnregisterClass(progId);
        product::InstallDialogRecorder(nullptr);
        rt::Apartment::Reset();
    }

    std::shared_ptr<product::VbaProjectHost> Host() { return product::VbaProjectHost::Current(); }

    // Puts an object into the project host under a number.
    template <class T>
    std::shared_ptr<T> LoadProject(int32_t number) {
        auto object = std::make_shared<T>();
        Host()->LoadProject(number, object);
        return object;
    }
    // Makes a name with ":" create the object (the same one every time).
    template <class T>
    std::shared_ptr<T> RegisterNamed(const std::string& name) {
        auto object = std::make_shared<T>();
        product::RegisterInterfaceObject(name, [object] { return std::static_pointer_cast<rt::Object>(object); });
        namedObjects_.push_back(name);
        return object;
    }
    // Makes a ProgID create the object (the same one every time).
    template <class T>
    std::shared_ptr<T> RegisterProgId(const std::string& progId) {
        auto object = std::make_shared<T>();
        rt::RegisterClass(progId, "", [object] { return std::static_pointer_cast<rt::Object>(object); });
        progIds_.push_back(progId);
        return object;
    }

    static std::string UserInterruptedText() { return pelmora::LoadResStringWithParams(25754); }

    // The value a converted object stands for, and its kind.
    static rt::Variant ValueOf(const rt::ObjectPtr& converted) {
        return rt::QueryInterface<pelmora::IConvertedValue>(converted)->get_Value();
    }
    static std::string KindOf(const rt::ObjectPtr& converted) {
        return rt::QueryInterface<pelmora::IConvertedValue>(converted)->get_Kind();
    }

    std::shared_ptr<product::DialogRecorder> recorder_;
    std::vector<std::string> namedObjects_, progIds_;
};

}  // namespace exttest
