// The sample's relationship geometry interfaces. Each checks that the
// features of an ownership meet: mains and the valves and hydrants they own
// ("Pelmora.MainGeometry", "Pelmora.HydrantGeometry", "Pelmora:ValveClearance")
// and mains and their service lines ("MainAudit" in VBA project 1), through
// the system's end-point and touch checks on the features' geometry.
#include <optional>

#include "SampleExtensionsInternal.h"
#include "ado/Recordset.h"
#include "pelmora/extensions/RGIUnsupportedMembers.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/InterfaceSupport.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "interfaces/Relationship.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceGeometry.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "product/InterfaceSupport.h"
#include "runtime/Collection.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora_sample {

namespace {

// How far a device may stand from the line of the main that owns it, for
// the interfaces that get no argument list: valves stand on their main,
// hydrants beside it.
constexpr double kValveTolerance = 0.5;
constexpr double kHydrantTolerance = 3.5;

std::shared_ptr<pelmora::IKeyObject> Opened(const std::shared_ptr<pelmora::IDataContext>& dataContext,
                                            const std::shared_ptr<pelmora::IKeyObject>& feature) {
    if (feature->get_Components()) return feature;
    auto assembly = std::make_shared<pelmora::FeatureAssemblyService>();
    assembly->putref_DataContext(dataContext);
    auto opened = assembly->OpenFeature(feature->get_FNO(), feature->get_FID());
    opened->put_CNO(feature->get_CNO());
    return opened;
}

// The geometry of the component's current row; nullptr where there is none
// and for attribute components, which raise when asked for one.
rt::ObjectPtr FirstGeometry(pelmora::IComponent& component) {
    try {
        return component.get_Geometry();
    } catch (const rt::ComError&) {
        return nullptr;
    }
}

// False when the metadata gives the component number no geometry, so that
// its rows need not be read to learn it; true when it does or cannot tell.
bool MayHaveGeometry(const std::shared_ptr<pelmora::IMetadataService>& metadata, int16_t cno) {
    try {
        return pelmora::IsGeometryComponent(metadata, cno);
    } catch (const rt::ComError&) {
        return true;
    }
}

// The geometries of the feature's component cno, or of every component
// whose rows carry one when cno is 0. Each row's geometry is read once: the
// first row's answers both whether the component has geometry and what it
// is.
std::shared_ptr<rt::Collection> Geometries(const std::shared_ptr<pelmora::IKeyObject>& feature, int16_t cno,
                                           const std::shared_ptr<pelmora::IMetadataService>& metadata) {
    auto geometries = rt::Collection::New();
    auto components = feature->get_Components();
    if (!components) return geometries;
    for (const auto& component : components->get_NewEnum()) {
        if (cno != 0 && component->get_CNO() != cno) continue;
        if (cno == 0 && !MayHaveGeometry(metadata, component->get_CNO())) continue;
        auto rows = component->get_Recordset();
        if (!rows || (rows->get_BOF() && rows->get_EOF())) continue;
        rows->MoveFirst();
        if (cno != 0) {
            pelmora::RecordsetToCollection(feature, component->get_Name(), geometries);
            continue;
        }
        rt::ObjectPtr first = FirstGeometry(*component);
        if (!first) continue;
        geometries->Add(rt::Variant(first));
        for (rows->MoveNext(); !rows->get_EOF(); rows->MoveNext())
            geometries->Add(rt::Variant(component->get_Geometry()));
    }
    return geometries;
}

// The key objects of a Variant holding a collection of them (what a
// helper's review returns), of QzKeyObjects, or of a converted KeyObjects.
std::vector<std::shared_ptr<pelmora::IKeyObject>> KeyList(const rt::Variant& held) {
    std::vector<std::shared_ptr<pelmora::IKeyObject>> out;
    if (!held.IsObject() || held.IsNothing()) return out;
    if (auto keys = rt::TryQueryInterface<pelmora::QzKeyObjects>(held.Obj())) {
        for (const auto& k : keys->get_NewEnum()) out.push_back(rt::QueryInterface<pelmora::IKeyObject>(k));
    } else if (auto collection = std::dynamic_pointer_cast<rt::Collection>(held.Obj())) {
        for (int32_t i = 1; i <= collection->Count(); ++i)
            out.push_back(rt::QueryInterface<pelmora::IKeyObject>(collection->Item(rt::Variant(i)).Obj()));
    } else {
        rt::RaiseVbError(rt::vberr::TypeMismatch);
    }
    return out;
}

double Tolerance(const std::vector<std::string>& arguments, double otherwise) {
    if (arguments.empty() || !rt::IsNumeric(rt::Variant(arguments[0]))) return otherwise;
    return rt::CDbl(rt::Variant(arguments[0]));
}

// What a host last handed the sample's project interface: the active
// feature, the relationship's number and the features the helper's review
// gave. A host hands them over while it loads the interfaces of a feature,
// before it runs any, so an interface of the same feature and relationship
// run next takes them instead of reviewing the relationship again. Taken
// once; a new hand-over starts from nothing.
struct HandedOver {
    std::weak_ptr<pelmora::IKeyObject> feature;
    std::weak_ptr<pelmora::IDataContext> dataContext;
    std::weak_ptr<pelmora::QzKeyObjects> related;
    std::optional<int16_t> relationshipNumber;
};
thread_local HandedOver handedOver;

// The related features handed over for the helper's feature, or nullopt.
std::optional<std::vector<std::shared_ptr<pelmora::IKeyObject>>> TakeHandedOver(
    pelmora::IRelationshipHelper& helper, const std::shared_ptr<pelmora::IKeyObject>& feature) {
    HandedOver kept;
    std::swap(kept, handedOver);
    auto related = kept.related.lock();
    if (!related || kept.feature.lock() != feature || !kept.relationshipNumber ||
        *kept.relationshipNumber != helper.get_RelationshipNumber() ||
        kept.dataContext.lock() != helper.get_DataContext())
        return std::nullopt;
    return KeyList(rt::Variant(rt::ObjectPtrOf(related)));
}

// ---- by ProgID ----

class ProgIdGeometryInterface : public rt::Object, public pelmora::RGIUnsupportedMembers {
public:
    ProgIdGeometryInterface(std::string name, double tolerance) : name_(std::move(name)), tolerance_(tolerance) {}

    void put_ProcessingMode(int32_t v) override { mode_ = v; }
    int32_t get_ProcessingMode() override { return mode_; }
    void Initialize(const std::shared_ptr<pelmora::IRelationshipHelper>&) override {}
    void Validate(const std::shared_ptr<pelmora::IRelationshipHelper>& helper, rt::Variant& priorities,
                  rt::Variant& messages) override {
        if (!helper) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        auto feature = helper->get_Feature();
        if (!feature) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        auto handed = TakeHandedOver(*helper, feature);
        auto related = handed ? std::move(*handed) : KeyList(helper->ReviewRelationship(feature));
        PutFindings(UnconnectedFeatures(helper->get_DataContext(), feature, feature->get_CNO(), related, relatedFNO_,
                                        relatedCNO_, tolerance_, name_),
                    priorities, messages);
    }
    int16_t get_RelatedFNO() override { return relatedFNO_; }
    void put_RelatedFNO(int16_t v) override { relatedFNO_ = v; }
    int16_t get_RelatedCNO() override { return relatedCNO_; }
    void put_RelatedCNO(int16_t v) override { relatedCNO_ = v; }
    std::string TypeName() const override { return "SampleGeometryInterface"; }

protected:
    // Nothing to tell: the members the sample does not serve do nothing.
    void NotSupported() override {}

private:
    std::string name_;
    double tolerance_;
    int32_t mode_ = 0;
    int16_t relatedFNO_ = 0, relatedCNO_ = 0;
};

// ---- by a name with ":" ----

// Gets no related numbers: checks every related feature's geometry.
class NamedGeometryInterface : public rt::Object, public pelmora::INamedRelationshipGeometry {
public:
    void Initialize() override {}
    void Validate(rt::Variant& priorities, rt::Variant& messages) override {
        rt::Variant feature = Unconverted(feature_);
        rt::Variant context = Unconverted(dataContext_);
        if (!feature.IsObject() || feature.IsNothing() || !context.IsObject() || context.IsNothing())
            rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        auto active = rt::QueryInterface<pelmora::IKeyObject>(feature.Obj());
        auto related = KeyList(Unconverted(related_));
        auto dataContext = rt::QueryInterface<pelmora::IDataContext>(context.Obj());
        const double tolerance = Tolerance(ArgumentTexts(arguments_ ? rt::Variant(arguments_) : rt::Variant()),
                                           kValveTolerance);
        PutFindings(UnconnectedFeatures(dataContext, active, active->get_CNO(), related, 0, 0, tolerance,
                                        "Pelmora:ValveClearance"),
                    priorities, messages);
    }
    void putref_Feature(const rt::ObjectPtr& v) override { feature_ = v; }
    void putref_ArgumentArray(const rt::ObjectPtr& v) override { arguments_ = v; }
    void putref_DataContext(const rt::ObjectPtr& v) override { dataContext_ = v; }
    void putref_RelatedFeatures(const rt::ObjectPtr& v) override { related_ = v; }
    void put_RelationshipNumber(int16_t) override {}
    std::string TypeName() const override { return "SampleNamedGeometryInterface"; }

private:
    rt::ObjectPtr feature_, arguments_, dataContext_, related_;
};

// ---- in VBA project 1 ----

class ProjectGeometryInterface : public rt::Object, public pelmora::IProjectRelationshipGeometry {
public:
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& v) override { dataContext_ = v; }
    void put_ArgumentArray(const rt::Variant& v) override { arguments_ = v; }
    // A host hands over the feature first: what it handed for another is gone.
    void putref_Feature(const std::shared_ptr<pelmora::QzKeyObject>& v) override {
        feature_ = v;
        handedOver = HandedOver();
        handedOver.dataContext = dataContext_;
        if (v) handedOver.feature = rt::QueryInterface<pelmora::IKeyObject>(v);
    }
    void putref_RelatedFeatures(const std::shared_ptr<pelmora::QzKeyObjects>& v) override {
        related_ = v;
        handedOver.related = v;
    }
    void put_RelationshipNumber(int16_t v) override { handedOver.relationshipNumber = v; }
    int32_t get_ProcessingMode() override { return mode_; }
    void put_ProcessingMode(int32_t v) override { mode_ = v; }
    int16_t get_RelatedFNO() override { return relatedFNO_; }
    void put_RelatedFNO(int16_t v) override { relatedFNO_ = v; }
    int16_t get_RelatedCNO() override { return relatedCNO_; }
    void put_RelatedCNO(int16_t v) override { relatedCNO_ = v; }
    void Initialize() override {}
    void Validate(rt::Variant& priorities, rt::Variant& messages) override {
        if (!feature_ || !dataContext_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        auto active = rt::QueryInterface<pelmora::IKeyObject>(feature_);
        std::vector<std::shared_ptr<pelmora::IKeyObject>> related;
        if (related_) related = KeyList(rt::Variant(rt::ObjectPtrOf(related_)));
        PutFindings(UnconnectedFeatures(dataContext_, active, active->get_CNO(), related, relatedFNO_, relatedCNO_,
                                        Tolerance(ArgumentTexts(arguments_), kValveTolerance), "MainAudit"),
                    priorities, messages);
    }
    std::string TypeName() const override { return "SampleProjectGeometryInterface"; }

private:
    std::shared_ptr<pelmora::IDataContext> dataContext_;
    rt::Variant arguments_;
    std::shared_ptr<pelmora::QzKeyObject> feature_;
    std::shared_ptr<pelmora::QzKeyObjects> related_;
    int32_t mode_ = 0;
    int16_t relatedFNO_ = 0, relatedCNO_ = 0;
};

}  // namespace

std::vector<Finding> UnconnectedFeatures(const std::shared_ptr<pelmora::IDataContext>& dataContext,
                                         const std::shared_ptr<pelmora::IKeyObject>& active, int16_t activeCNO,
                                         const std::vector<std::shared_ptr<pelmora::IKeyObject>>& related,
                                         int16_t relatedFNO, int16_t relatedCNO, double tolerance,
                                         const std::string& reporter) {
    if (!dataContext || !active) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto metadata = dataContext->GetMetadataService();
    if (!metadata) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto feature = Opened(dataContext, active);
    // The active feature's geometries are read when a related feature needs
    // them: most features relate nothing of the interface's number.
    std::shared_ptr<rt::Collection> own;
    std::shared_ptr<ado::Recordset> findings;
    std::string priority;
    for (const auto& key : related) {
        if (!key || (relatedFNO != 0 && key->get_FNO() != relatedFNO)) continue;
        if (!own) {
            own = Geometries(feature, activeCNO, metadata);
            findings = pelmora::CreateValidationRecordset();
            priority = pelmora::GetValidationMessage(pelmora::kErrorPriorityMessage);
        }
        auto other = Opened(dataContext, key);
        auto theirs = Geometries(other, relatedCNO, metadata);
        pelmora::ValidateEndpointConnectivity(feature, own, activeCNO, other, theirs, relatedCNO, tolerance, reporter,
                                              "", priority, rt::Variant(true), metadata, findings);
    }
    std::vector<Finding> out;
    if (!findings || (findings->get_BOF() && findings->get_EOF())) return out;
    for (findings->MoveFirst(); !findings->get_EOF(); findings->MoveNext())
        out.push_back({rt::CStr(findings->GetValue(rt::Variant(0))),
                       reporter + ": " + rt::CStr(findings->GetValue(rt::Variant(1)))});
    return out;
}

rt::ObjectPtr NewProjectGeometryInterface() { return std::make_shared<ProjectGeometryInterface>(); }

void RegisterGeometryInterfaces() {
    for (const auto& [progId, tolerance] :
         {std::pair<const char*, double>{"Pelmora.MainGeometry", kValveTolerance}, {"Pelmora.HydrantGeometry", kHydrantTolerance}}) {
        const std::string name = progId;
        const double t = tolerance;
        RegisterProgId(name, [name, t] { return std::make_shared<ProgIdGeometryInterface>(name, t); });
    }
    RegisterName("Pelmora:ValveClearance", [] { return std::make_shared<NamedGeometryInterface>(); });
}

}  // namespace pelmora_sample
