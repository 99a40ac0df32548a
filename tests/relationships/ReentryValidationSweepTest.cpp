// Extension code that calls back into the validation run hosting it: a
// functional validation interface, an attribute validation interface and a
// relationship geometry interface, each calling back with one of the calls
// an extension can make (the same validation again, a refresh, an update, a
// save, occurrences added or deleted, its rows closed, a context or feature
// dropped). A row passes when the outer validation answers or raises a
// run-time error; no row may take the process down or hang. A crash names
// the row it happened in.
#include "RelationshipTestSupport.h"
#include "SweepSupport.h"

#include <functional>

#include "features/FeatureAssemblyTestSupport.h"
#include "features/FunctionalInterfaceTestObjects.h"
#include "pelmora/features/ComponentService.h"
#include "pelmora/attribute_validation/AttributeValidationService.h"
#include "pelmora/validation/FeatureValidationService.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "support/EditableMetadata.h"
#include "support/RGITestObjects.h"
#include "validation/AttributeValidationInterfaceObjects.h"
#include "validation/ValidationSetTestSupport.h"

using relationshiptest::RelationshipServiceFixture;
using validationtest::FindingRow;

namespace {

// What an extension was handed and can call back through.
struct Handed {
    std::shared_ptr<pelmora::IComponentService> service;  // a functional or attribute validation interface's
    std::shared_ptr<pelmora::IRelationshipHelper> helper;  // a relationship geometry interface's
};
using CallBack = std::function<void(const Handed&)>;

// Calls back from inside Validate, at most kMost times a run.
class CallsBack : public sweeptest::CallBackGuard {
public:
    static constexpr int kMost = 40;
    CallsBack() : CallBackGuard(kMost, false) {}
    CallBack callBack;

    void Fire(const Handed& handed) {
        if (callBack) Guarded([&] { callBack(handed); });
    }
};

// The component service's collection: the components of the feature whose
// component the interface was run on.
std::shared_ptr<pelmora::IComponents> ServedComponents(const std::shared_ptr<pelmora::IComponentService>& service) {
    auto own = std::dynamic_pointer_cast<pelmora::ComponentService>(service);
    if (!own) rt::RaiseVbError(rt::vberr::TypeMismatch);
    return own->get_Components();
}

class CallingBackFI : public fitest::RecordingFI, public CallsBack {
public:
    std::vector<std::string> visited;  // "component CID" of each row it was run on

    void Validate(rt::Variant&, rt::Variant&) override {
        const std::string component = service->get_ComponentName();
        visited.push_back(component + " " + std::to_string(service->get_ComponentID()));
        // A walk that does not end is ended here: its rows closed, it raises.
        if (visited.size() > 4 * kMost) {
            ServedComponents(service)->get_Item(rt::Variant(component))->get_Recordset()->Close();
            return;
        }
        Fire({service, nullptr});
    }
};

class CallingBackRGI : public pelmora_test::ProgIdRGI, public CallsBack {
public:
    CallingBackRGI() { script = pelmora_test::RGIScript::WriteNothing; }
    void Validate(const std::shared_ptr<pelmora::IRelationshipHelper>& helper, rt::Variant& priorities,
                  rt::Variant& messages) override {
        Fire({nullptr, helper});
        ProgIdRGI::Validate(helper, priorities, messages);
    }
};

// The sample's interfaces the doubles stand in for: on the hydrants'
// outlets, between a valve and its main, and of both sides of ownership.
constexpr const char* kFunctionalProgId = "Pelmora.OutletCheck";
constexpr const char* kAttributeProgId = "Pelmora.ValveMainCheck";
constexpr const char* kOwnerGeometryProgId = "Pelmora.MainGeometry";
constexpr const char* kOwnedGeometryProgId = "Pelmora.HydrantGeometry";
// Given to the mains' node-edge rules by the test.
constexpr const char* kConnectionGeometryProgId = "Pelmora.ConnectionGeometry";

class ReentryValidationSweep : public RelationshipServiceFixture {
protected:
    void SetUp() override {
        RelationshipServiceFixture::SetUp();
        fi_ = std::make_shared<CallingBackFI>();
        vi_ = std::make_shared<attrvaltest::ProgIdCheck>();
        ownerRgi_ = std::make_shared<CallingBackRGI>();
        ownedRgi_ = std::make_shared<CallingBackRGI>();
        connectionRgi_ = std::make_shared<CallingBackRGI>();
        auto rules = pelmora_test::EditableMetadataTable(*metadata_, "QTX_NODEEDGERULES_OPTABLE");
        for (rules->MoveFirst(); !rules->get_EOF(); rules->MoveNext())
            if (rt::CLng(rules->GetValue(rt::Variant("QTX_SOURCEFNO"))) == 101) {
                rules->SetValue(rt::Variant("QTX_INTERFACE"), rt::Variant(kConnectionGeometryProgId));
                rules->Update();
            }
        Register(kConnectionGeometryProgId, connectionRgi_);
        Register(kFunctionalProgId, fi_);
        Register(kAttributeProgId, vi_);
        Register(kOwnerGeometryProgId, ownerRgi_);
        Register(kOwnedGeometryProgId, ownedRgi_);
        // Also on the mains' pressure zone, whose key is looked up after it.
        PutFunctionalCheckOn(1105);
        validation_ = std::make_shared<pelmora::FeatureValidationService>();
        validation_->putref_DataContext(sqlite_);
        doubles_ = {fi_.get(), &viBack_, ownerRgi_.get(), ownedRgi_.get(), connectionRgi_.get()};
    }
    void TearDown() override {
        validation_.reset();
        for (const char* progId : registered_) rt::UnregisterClass(progId);
        pelmora::ReleaseValidationSetIndex();
        RelationshipServiceFixture::TearDown();
    }

    // The functional double validates attribute ano too.
    void PutFunctionalCheckOn(int32_t ano) {
        for (auto [field, value] : {std::pair<const char*, rt::Variant>{"QTX_INTERFACE", rt::Variant(kFunctionalProgId)},
                                    {"QTX_FUNCTIONALVALIDATION", rt::Variant(int32_t{1})},
                                    {"QTX_FUNCTIONALTYPE", rt::Variant("Validate")}})
            ASSERT_TRUE(pelmora_test::SetMetadataAttribute(*metadata_, ano, field, value));
    }

    template <class T>
    void Register(const char* progId, std::shared_ptr<T> object) {
        rt::RegisterClass(progId, "", [object] { return std::static_pointer_cast<rt::Object>(object); });
        registered_.push_back(progId);
    }

    // A main, a valve and a hydrant it owns: every double of the sample runs.
    static std::shared_ptr<pelmora::IKeyObjects> Keys() {
        using featuretest::Key;
        return featuretest::Keys({Key(101, 1001), Key(102, 2001), Key(103, 3001)});
    }

    std::shared_ptr<ado::Recordset> Validate() {
        auto keys = Keys();
        return validation_->ValidateFeatures(keys);
    }
    static std::vector<FindingRow> Findings(const std::shared_ptr<ado::Recordset>& rs) {
        return rs ? validationtest::FindingRows(rs) : std::vector<FindingRow>{{"Nothing"}};
    }

    pelmora_test::FatalSignalNamer namer_;  // a crash names the row under way
    std::shared_ptr<CallingBackFI> fi_;
    std::shared_ptr<attrvaltest::ProgIdCheck> vi_;
    CallsBack viBack_;  // what the attribute validation interface does inside Validate
    std::shared_ptr<CallingBackRGI> ownerRgi_, ownedRgi_, connectionRgi_;
    std::vector<CallsBack*> doubles_;  // every one of the above
    std::vector<const char*> registered_;
    std::shared_ptr<pelmora::FeatureValidationService> validation_;
};

// The components a callback reaches: the served collection of its component
// service, or the components of the geometry interface's active feature.
std::shared_ptr<pelmora::IComponents> ComponentsOf(const Handed& h) {
    if (h.service) return ServedComponents(h.service);
    auto feature = h.helper ? h.helper->get_Feature() : nullptr;
    auto components = feature ? feature->get_Components() : nullptr;
    if (!components) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return components;
}

// A component service on the callback's component: its own, or one on the
// active feature's first component with rows.
std::shared_ptr<pelmora::IComponentService> ServiceOf(const Handed& h) {
    if (h.service) return h.service;
    auto service = std::make_shared<pelmora::ComponentService>();
    auto components = ComponentsOf(h);
    service->putref_Components(components);
    for (const auto& component : components->get_NewEnum())
        if (component->get_Recordset()->get_RecordCount() > 0) {
            service->put_ComponentName(component->get_Name());
            break;
        }
    return service;
}

TEST_F(ReentryValidationSweep, EveryCallbackSurvivesEveryCallBack) {
    const auto unmoved = Findings(Validate());
    ASSERT_FALSE(unmoved.empty());
    std::vector<FindingRow> nested;
    struct Call {
        const char* name;
        CallBack back;
        bool helperOnly;  // through the geometry interface's helper
        bool readsOnly;   // changes nothing: the outer run finds what it finds alone
    };
    const std::vector<Call> calls = {
        {"ValidateFeatures again on the same service",
         [&](const Handed&) { nested = Findings(Validate()); }, false, true},
        {"ValidatePendingEdits on the same service", [this](const Handed&) { validation_->ValidatePendingEdits(); },
         false, true},
        {"the relationship service validates the features",
         [this](const Handed&) {
             service_->putref_Features(Keys());
             std::shared_ptr<ado::Recordset> set, errors;
             service_->Validate(set, errors);
         },
         false, true},
        {"the helper validates the features again",
         [this](const Handed& h) {
             auto keys = Keys();
             auto set = service_->GetFeatureValidationInformation(keys);
             auto opened = validationtest::OpenValidationSet(set, sqlite_);
             auto fnos = rt::Collection::New();
             for (int16_t fno : {101, 102, 103}) fnos->Add(rt::Variant(fno));
             h.helper->Validate(opened.features, opened.components, set, fnos, pelmora::CreateValidationRecordset());
         },
         true, true},
        {"the helper reviews its feature", [](const Handed& h) { h.helper->ReviewRelationship(h.helper->get_Feature()); },
         true, true},
        {"the service's data context dropped", [this](const Handed&) { validation_->putref_DataContext(nullptr); },
         false, false},
        {"the helper's data context dropped", [](const Handed& h) { h.helper->putref_DataContext(nullptr); }, true,
         false},
        {"the helper's feature dropped", [](const Handed& h) { h.helper->putref_Feature(nullptr); }, true, true},
        {"Components.Refresh", [](const Handed& h) { ComponentsOf(h)->Refresh(); }, false, true},
        {"Components.Update", [](const Handed& h) { ComponentsOf(h)->Update(); }, false, true},
        {"the feature saved through UpdateFeatures",
         [this](const Handed& h) {
             // The run's components are its own clones: the feature is opened
             // afresh, an occurrence of its first component added, and saved.
             auto service = ServiceOf(h);
             auto assembly = featuretest::NewAssemblyService(sqlite_);
             auto feature = assembly->OpenFeature(rt::CInt(service->get_Value("QTX_FNO")),
                                                  rt::CLng(service->get_Value("QTX_FID")));
             auto fresh = std::make_shared<pelmora::ComponentService>();
             fresh->putref_Components(feature->get_Components());
             fresh->put_ComponentName(service->get_ComponentName());
             fresh->NewOccurrence();
             assembly->UpdateFeatures(featuretest::Keys({std::dynamic_pointer_cast<pelmora::KeyObject>(feature)}));
         },
         false, false},
        {"an occurrence added", [](const Handed& h) { ServiceOf(h)->NewOccurrence(); }, false, false},
        {"the occurrence deleted", [](const Handed& h) { ServiceOf(h)->DeleteOccurrence(); }, false, false},
        {"the component's rows closed",
         [](const Handed& h) {
             auto service = ServiceOf(h);
             ComponentsOf(h)->get_Item(rt::Variant(service->get_ComponentName()))->get_Recordset()->Close();
         },
         false, false},
    };
    struct Kind {
        const char* name;
        CallsBack* double_;
        bool helper;
    };
    const std::vector<Kind> kinds = {{"functional validation interface", fi_.get(), false},
                                     {"attribute validation interface", &viBack_, false},
                                     {"geometry interface of the owner", ownerRgi_.get(), true},
                                     {"geometry interface of the owned", ownedRgi_.get(), true},
                                     {"geometry interface of a node-edge connection", connectionRgi_.get(), true}};
    vi_->during = [this] { viBack_.Fire({vi_->active, nullptr}); };
    for (const Kind& kind : kinds) {
        for (const Call& call : calls) {
            if (call.helperOnly && !kind.helper) continue;
            const std::string row = std::string(kind.name) + " x " + call.name;
            SCOPED_TRACE(row);
            for (CallsBack* double_ : doubles_) {
                double_->callBack = double_ == kind.double_ ? call.back : nullptr;
                double_->Reset();
            }
            fi_->visited.clear();
            nested.clear();
            // A service of its own, with helpers of their own, for every row.
            validation_ = std::make_shared<pelmora::FeatureValidationService>();
            validation_->putref_DataContext(sqlite_);
            std::vector<FindingRow> found;
            const auto error = sweeptest::RunRow(row, [&] { found = Findings(Validate()); });
            // A run-time error is an answer, unless nothing changed; what an
            // extension's failing call back adds is its finding.
            if (call.readsOnly) {
                EXPECT_FALSE(error) << error->Description();
                if (!error && kind.double_->raised == 0) {
                    EXPECT_EQ(found, unmoved);
                }
            }
            EXPECT_GT(kind.double_->calledBack, 0) << "the callback never ran";
            EXPECT_LE(fi_->visited.size(), 2u * CallsBack::kMost) << "the walk did not end";
            if (!nested.empty()) {
                EXPECT_EQ(nested, unmoved) << "the nested run";
            }
        }
    }
}

// A functional interface that adds an occurrence to the component it
// validates: the walk visits the rows the component had, once per
// attribute, and ends; the rows added are left to the next validation.
TEST_F(ReentryValidationSweep, AWalkVisitsTheRowsItBeganWithOnce) {
    PutFunctionalCheckOn(3302);
    fi_->callBack = [](const Handed& h) {
        if (h.service->get_ComponentName() == "HYDRANT_INSPECTION") h.service->NewOccurrence();
    };
    std::shared_ptr<pelmora::IKeyObjects> keys = featuretest::Keys({featuretest::Key(103, 3001)});
    EXPECT_NO_THROW(validation_->ValidateFeatures(keys));
    std::vector<std::string> inspections;
    for (const auto& v : fi_->visited)
        if (v.rfind("HYDRANT_INSPECTION", 0) == 0) inspections.push_back(v);
    EXPECT_EQ(inspections, (std::vector<std::string>{"HYDRANT_INSPECTION 1", "HYDRANT_INSPECTION 3"}));
}

// The attribute validation service driven by a client, its interface calling
// back into that same service: the outer walk answers, and a call back that
// changes nothing leaves it the failures it finds alone.
TEST_F(ReentryValidationSweep, AnAttributeServiceSurvivesItsInterfaceCallingBack) {
    auto assembly = featuretest::NewAssemblyService(sqlite_);
    auto service = std::make_shared<pelmora::AttributeValidationService>();
    auto prepare = [&] {
        service->putref_DataContext(sqlite_);
        service->putref_ActiveFeature(assembly->OpenFeature(102, 2002));
        service->putref_RelatedFeature(assembly->OpenFeature(101, 1001));
        service->put_RelationshipType("3");
    };
    auto failures = [&] {
        rt::Variant p, e;
        service->Validate(p, e);
        std::vector<std::string> texts;
        if (p.IsArray() && p.Array())
            for (int32_t i = rt::LBound(p); i <= rt::UBound(p); ++i) texts.push_back(rt::CStr(p.Array()->Get(i)));
        return texts;
    };
    prepare();
    const auto alone = failures();
    ASSERT_FALSE(alone.empty());
    struct Call {
        const char* name;
        std::function<void()> back;
        bool readsOnly;
    };
    const std::vector<Call> calls = {
        {"Validate again", [&] { failures(); }, true},
        {"Execute", [&] {
             rt::Variant p, e;
             service->Execute(p, e);
         }, true},
        {"ValidateAttributes", [&] {
             rt::Variant p, e;
             service->ValidateAttributes(true, p, e);
         }, true},
        {"its features dropped", [&] {
             service->putref_ActiveFeature(nullptr);
             service->putref_RelatedFeature(nullptr);
         }, false},
        {"its context dropped", [&] { service->putref_DataContext(nullptr); }, false},
    };
    vi_->during = [this] { viBack_.Fire({}); };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.name);
        prepare();
        viBack_.callBack = [&call](const Handed&) { call.back(); };
        viBack_.Reset();
        std::vector<std::string> found;
        const auto error =
            sweeptest::RunRow(std::string("attribute validation service x ") + call.name, [&] { found = failures(); });
        if (call.readsOnly) {
            EXPECT_FALSE(error) << error->Description();
            if (!error) {
                EXPECT_EQ(found, alone);
            }
        }
        EXPECT_GT(viBack_.calledBack, 0) << "the callback never ran";
    }
}

}  // namespace
