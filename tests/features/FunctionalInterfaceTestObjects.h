#pragma once
// Functional interfaces created by ProgID for the component tests: each
// writes what it is called with into a journal shared by the test, keeps
// what it was given, and can be told to fail or abort a call or to act on
// the component while it runs. A fixture over the sample's water main 1001
// (attributes and lining in one collection) with the lining's interfaces
// registered.
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ComponentTestSupport.h"
#include "ado/Enums.h"
#include "extensions/ExtensionTestObjects.h"
#include "pelmora/features/Components.h"
#include "interfaces/ComponentService.h"
#include "interfaces/FunctionalInterface.h"
#include "product/VbaProjectHost.h"

namespace fitest {

using Journal = std::vector<std::string>;

class RecordingFI : public rt::Object, public pelmora::IFunctionalInterface {
public:
    std::string name;
    std::shared_ptr<Journal> journal;
    rt::Variant arguments, before;
    std::string componentName, fieldName, type;
    // Held strongly only while the component sets it (as a real one would).
    std::shared_ptr<pelmora::IComponentService> service;
    // The collection the service served at the last call.
    std::weak_ptr<pelmora::IComponents> served;
    bool servedWasSet = false;
    std::shared_ptr<pelmora::IDataContext> dataContext;
    int dataContextSets = 0;
    std::map<std::string, rt::ComError> failures;
    std::function<void(RecordingFI&)> onCall;
    // Run when the object is given the data context, before it keeps it.
    std::function<void(RecordingFI&)> onDataContext;

    void Fail(const std::string& call, int32_t number, const std::string& text = "it failed") {
        failures.insert_or_assign(call, rt::ComError(number, name, text));
    }

    rt::Variant get_ArgumentArray() override { return arguments; }
    void put_ArgumentArray(const rt::Variant& v) override { arguments = v; }
    std::string get_ComponentName() override { return componentName; }
    void put_ComponentName(const std::string& v) override { componentName = v; }
    std::string get_FieldName() override { return fieldName; }
    void put_FieldName(const std::string& v) override { fieldName = v; }
    std::shared_ptr<pelmora::IComponentService> get_ComponentService() override { return service; }
    void putref_ComponentService(const std::shared_ptr<pelmora::IComponentService>& v) override { service = v; }
    std::shared_ptr<pelmora::IDataContext> get_DataContext() override { return dataContext; }
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& v) override {
        Check("DataContext");
        if (onDataContext) onDataContext(*this);
        dataContext = v;
        ++dataContextSets;
    }
    rt::Variant get_FieldValueBeforeChange() override { return before; }
    void put_FieldValueBeforeChange(const rt::Variant& v) override { before = v; }
    std::string get_FunctionalType() override { return type; }
    void put_FunctionalType(const std::string& v) override { type = v; }
    void Execute() override { Call("Execute"); }
    void CancelUpdate() override { Call("CancelUpdate"); }
    void Update() override { Call("Update"); }
    void Delete() override { Call("Delete"); }
    void Validate(rt::Variant&, rt::Variant&) override { Call("Validate"); }

private:
    void Check(const std::string& call) {
        auto it = failures.find(call);
        if (it != failures.end()) throw it->second;
    }
    void Call(const std::string& call) {
        if (journal) journal->push_back(name + " " + call + " " + type + " " + fieldName);
        auto internal = rt::TryQueryInterface<pelmora::IComponentServiceInternal>(service);
        servedWasSet = internal != nullptr;
        served = internal ? internal->get_Components() : nullptr;
        if (onCall) onCall(*this);
        Check(call);
    }
};

// A fixture over water main 1001: its attributes (11) and lining (14) in one
// collection, the lining's interfaces registered by ProgID, its Edit
// interface in VBA project 1.
class FiringFixture : public componenttest::ComponentFixture {
protected:
    void SetUp() override {
        ComponentFixture::SetUp();
        journal_ = std::make_shared<Journal>();
        for (const char* progId : {"Pelmora.LiningTypeCheck", "Pelmora.LiningTypeNotice", "Pelmora.LiningThickness",
                                   "Pelmora.LiningYear", "Pelmora.SymbolRotation", "Pelmora.SymbolMoved"})
            Register(progId);
        project_ = std::make_shared<exttest::ProjectFI>();
        product::VbaProjectHost::Current()->LoadProject(1, project_);
    }
    void TearDown() override {
        product::VbaProjectHost::Current()->UnloadAll();
        for (const auto& [progId, objects] : made_) rt::UnregisterClass(progId);
        made_.clear();
        project_.reset();
        ComponentFixture::TearDown();
    }

    // Every new object of the ProgID is recorded and configured.
    void Register(const std::string& progId, std::function<void(RecordingFI&)> configure = nullptr) {
        made_[progId];
        configure_[progId] = std::move(configure);
        rt::RegisterClass(progId, "", [this, progId] {
            auto fi = std::make_shared<RecordingFI>();
            fi->name = progId;
            fi->journal = journal_;
            if (configure_[progId]) configure_[progId](*fi);
            made_[progId].push_back(fi);
            return std::static_pointer_cast<rt::Object>(fi);
        });
    }
    // The last object made for the ProgID (nullptr when none).
    std::shared_ptr<RecordingFI> Made(const std::string& progId) {
        auto& list = made_[progId];
        return list.empty() ? nullptr : list.back();
    }
    size_t MadeCount(const std::string& progId) { return made_[progId].size(); }

    // Component 11 and 14 of the FIDs, in one collection.
    std::shared_ptr<pelmora::Components> Main(const rt::Variant& fids) {
        auto components = std::make_shared<pelmora::Components>();
        components->putref_DataContext(Context());
        components->AddComponentByCNO(11, fids);
        components->AddComponentByCNO(14, fids);
        return components;
    }
    static std::shared_ptr<pelmora::Component> Get(const std::shared_ptr<pelmora::Components>& components,
                                                   int16_t cno) {
        return std::dynamic_pointer_cast<pelmora::Component>(components->GetComponent(cno));
    }

    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        std::ifstream in(pelmora::FunctionalInterfaceLogPath());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // The message boxes of the component's event handlers (others, such as
    // the metadata's role checks, are not counted).
    std::vector<product::DialogRecord> HandlerErrors() const {
        std::vector<product::DialogRecord> out;
        for (const auto& r : recorder_->records)
            if (r.title == componenttest::Message(21983)) out.push_back(r);
        return out;
    }
    std::string Shown() const {
        std::string out;
        for (const auto& r : HandlerErrors()) out += "[" + r.text + "] ";
        return out;
    }

    std::shared_ptr<Journal> journal_;
    std::shared_ptr<exttest::ProjectFI> project_;
    std::map<std::string, std::vector<std::shared_ptr<RecordingFI>>> made_;
    std::map<std::string, std::function<void(RecordingFI&)>> configure_;
};

inline std::string Str(const rt::Variant& v) { return v.IsNull() ? "Null" : v.IsEmpty() ? "Empty" : rt::CStr(v); }

}  // namespace fitest
