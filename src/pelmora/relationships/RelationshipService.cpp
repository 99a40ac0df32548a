#include "pelmora/relationships/RelationshipService.h"

#include <algorithm>

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "interfaces/DataContext.h"
#include "interfaces/FeatureAssemblyService.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "interfaces/ValidationInterface.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/relationships/RelationshipHelperBase.h"
#include "pelmora/relationships/RelationshipHelperFactory.h"
#include "pelmora/attribute_validation/AttributeValidationService.h"
#include "pelmora/relationships/FilterRemover.h"
#include "runtime/Dispatch.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kRelationshipsTable = "QTX_RELATIONSHIPS_OPTABLE";
constexpr const char* kFeatureRelationshipsTable = "QTX_FEATRELATIONSHIPS_OPTABLE";

bool HasRows(const std::shared_ptr<ado::Recordset>& rs) { return !(rs->get_BOF() && rs->get_EOF()); }

}  // namespace

RelationshipService::RelationshipService() { InitResources(kResourceModule); }

RelationshipService::~RelationshipService() { ReleaseAll(); }

const std::shared_ptr<ado::Recordset>& RelationshipService::RelationshipTable() const {
    if (!relationships_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return relationships_;
}

const std::shared_ptr<ado::Recordset>& RelationshipService::FeatureRelationshipTable() const {
    if (!featureRelationships_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return featureRelationships_;
}

IAttributeValidationService& RelationshipService::AttributeValidation() const {
    if (!attributeValidation_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return *attributeValidation_;
}

MetadataRecordsetFilterService& RelationshipService::FilterService() {
    if (!filterService_) filterService_ = std::make_shared<MetadataRecordsetFilterService>();
    return *filterService_;
}

// ---- data context ----

void RelationshipService::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    if (!DataContext) {
        ReleaseAll();
        return;
    }
    dataContext_ = DataContext;
    // What was loaded for the previous context reads its database: it goes
    // before anything of the new one is read, so that a failure below leaves
    // nothing of it behind.
    helpers_.clear();
    relationships_.reset();
    featureRelationships_.reset();
    if (!attributeValidation_) {
        // Made by ProgID, so that a process (or a test) may put its own in place.
        if (!rt::IsClassRegistered(kAttributeValidationServiceProgId)) RegisterAttributeValidationService();
        attributeValidation_ =
            rt::QueryInterface<IAttributeValidationService>(rt::CreateObject(kAttributeValidationServiceProgId));
    }
    attributeValidation_->putref_DataContext(DataContext);

    auto metadata = DataContext->GetMetadataService();
    if (!metadata) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto recordsets = metadata->get_Recordsets();
    auto featureRelationships = recordsets->get_Item(rt::Variant(kFeatureRelationshipsTable))->get_Recordset("", "");
    auto relationships = recordsets->get_Item(rt::Variant(kRelationshipsTable))->get_Recordset("", "");

    int16_t largest = 0;
    const bool anyRow = HasRows(relationships);
    if (anyRow) {
        const rt::Variant field("QTX_RNO");
        for (relationships->MoveFirst(); !relationships->get_EOF(); relationships->MoveNext())
            largest = std::max(largest, rt::CInt(relationships->GetValue(field)));
    }
    featureRelationships_ = featureRelationships;
    relationships_ = relationships;
    if (anyRow) helpers_.resize(static_cast<size_t>(largest) + 1);
}

// ---- the helper cache ----

std::shared_ptr<IRelationshipHelper> RelationshipService::GetRelationshipHelper(int16_t iRelNumber) {
    if (iRelNumber < 0 || static_cast<size_t>(iRelNumber) >= helpers_.size())
        rt::RaiseVbError(rt::vberr::SubscriptOutOfRange);
    if (auto cached = helpers_[static_cast<size_t>(iRelNumber)]) return cached;

    auto helper = NewRelationshipHelper(RelationshipRowValue(iRelNumber, "QTX_TYPE"));
    helper->putref_DataContext(dataContext_);
    FilterService();  // made when missing
    helper->putref_MDRSFilterService(filterService_);
    helper->put_RelationshipNumber(iRelNumber);
    // Kept only now: a helper whose loading failed is never handed out, and
    // the next request for the number loads it again.
    helpers_[static_cast<size_t>(iRelNumber)] = helper;
    return helper;
}

rt::Variant RelationshipService::RelationshipRowValue(int16_t iRelNumber, const std::string& field) {
    const auto& table = RelationshipTable();
    FilterRemover unfilter(table);
    FilterService().FilterRecordset(table, table->get_Fields()->Item("QTX_RNO"), rt::Variant(iRelNumber), "");
    return table->GetValue(rt::Variant(field));
}

// ---- by relationship number ----

std::string RelationshipService::get_RelationshipName(int16_t iRelNumber) {
    return AskHelper(GetRelationshipHelper(iRelNumber),
                     [](IRelationshipHelper& h) { return h.get_RelationshipName(); });
}

RelationshipTypeConstants RelationshipService::get_RelationshipType(int16_t iRelNumber) {
    return AskHelper(GetRelationshipHelper(iRelNumber),
                     [](IRelationshipHelper& h) { return h.get_RelationshipType(); });
}

bool RelationshipService::get_SubordinateRelationship(int16_t iRelNumber) {
    rt::Variant subordinate = RelationshipRowValue(iRelNumber, "QTX_SUBORDINATE");
    return rt::VariantEquals(subordinate, rt::Variant(int16_t{1}));
}

int16_t RelationshipService::get_ReciprocalRelationship(int16_t iRelNumber) {
    const rt::Variant target(static_cast<int16_t>(get_SubordinateRelationship(iRelNumber) ? 1 : 0));
    auto helper = GetRelationshipHelper(iRelNumber);
    const int32_t type = AskHelper(helper, [](IRelationshipHelper& h) { return h.get_RelationshipType(); });
    const std::string table = AskHelper(helper, [](IRelationshipHelper& h) { return h.get_OptimizedTable(); });

    const auto& relationships = RelationshipTable();
    FilterRemover unfilter(relationships);
    relationships->put_Filter(
        rt::Variant("QTX_TYPE = " + std::to_string(type) + " and QTX_OPTIMIZEDTABLE = " + QuotedLiteral(table)));
    if (!HasRows(relationships)) return -1;
    for (relationships->MoveFirst(); !relationships->get_EOF(); relationships->MoveNext()) {
        rt::Variant subordinate = relationships->GetValue(rt::Variant("QTX_SUBORDINATE"));
        // A Null is never counted as differing.
        if (!subordinate.IsNull() && !rt::VariantEquals(subordinate, target))
            return rt::CInt(relationships->GetValue(rt::Variant("QTX_RNO")));
    }
    return -1;
}

// ---- handed to the helper ----

rt::Variant RelationshipService::GetCandidateFeatures(const std::shared_ptr<IKeyObject>& objSourceFeature,
                                                      int16_t iRelNumber) {
    return AskHelper(GetRelationshipHelper(iRelNumber),
                     [&](IRelationshipHelper& h) { return h.CandidateFeatures(objSourceFeature); });
}

rt::ObjectPtr RelationshipService::GetRelatedFeatures(const std::shared_ptr<IKeyObject>& objSourceFeature,
                                                      int16_t iRelNumber) {
    rt::Variant related = AskHelper(GetRelationshipHelper(iRelNumber),
                                    [&](IRelationshipHelper& h) { return h.ReviewRelationship(objSourceFeature); });
    // Set result = helper.ReviewRelationship(...): an object or Nothing.
    if (!related.IsObject()) rt::RaiseVbError(rt::vberr::TypeMismatch);
    return related.Obj();
}

rt::Variant RelationshipService::GetRelatedFeaturesHierarchy(const std::shared_ptr<IKeyObject>& objSourceFeature,
                                                             int16_t iRelNumber) {
    return AskHelper(GetRelationshipHelper(iRelNumber),
                     [&](IRelationshipHelper& h) { return h.ReviewRelationshipHierarchy(objSourceFeature); });
}

// ---- releasing ----

void RelationshipService::ReleaseAll() {
    dataContext_.reset();
    relationships_.reset();
    featureRelationships_.reset();
    attributeValidation_.reset();
    features_.reset();
    components_.reset();
    filterService_.reset();
    // The vector is emptied before the helpers go, so that nothing a
    // helper's release sets off finds them half gone.
    auto helpers = std::move(helpers_);
    helpers_.clear();
    helpers.clear();
}

// ---- late binding ----

namespace {

using rt::ObjectArgument;

const rt::DispatchTable<RelationshipService>& Dispatch() {
    using S = RelationshipService;
    static const auto table =
        rt::DispatchTable<S>().ClassModuleOf(kProjectName)
            .Set("DataContext", 1,
                 [](S& s, const rt::Variant& v) { s.putref_DataContext(ObjectArgument<IDataContext>(v)); })
            .Get("ReciprocalRelationship", 2, 1, 1,
                 [](S& s, rt::Args& a) { return rt::Variant(s.get_ReciprocalRelationship(rt::CInt(a[0]))); })
            .Get("RelationshipName", 3, 1, 1,
                 [](S& s, rt::Args& a) { return rt::Variant(s.get_RelationshipName(rt::CInt(a[0]))); })
            .Get("RelationshipType", 4, 1, 1,
                 [](S& s, rt::Args& a) { return rt::Variant(int32_t{s.get_RelationshipType(rt::CInt(a[0]))}); })
            .Get("SubordinateRelationship", 5, 1, 1,
                 [](S& s, rt::Args& a) { return rt::Variant(s.get_SubordinateRelationship(rt::CInt(a[0]))); })
            .Method("AllApplicableRelationships", 6, 1, 1,
                    [](S& s, rt::Args& a) { return s.AllApplicableRelationships(a[0]); })
            .Method("DeleteRelationship", 7, 2, 3,
                    [](S& s, rt::Args& a) {
                        s.DeleteRelationship(ObjectArgument<IKeyObject>(a[0]), ObjectArgument<IKeyObject>(a[1]), a[2]);
                        return rt::Variant();
                    })
            .Method("GetCandidateFeatures", 8, 2, 2,
                    [](S& s, rt::Args& a) {
                        return s.GetCandidateFeatures(ObjectArgument<IKeyObject>(a[0]), rt::CInt(a[1]));
                    })
            .Method("GetRelatedFeatures", 9, 2, 2,
                    [](S& s, rt::Args& a) {
                        return rt::Variant(s.GetRelatedFeatures(ObjectArgument<IKeyObject>(a[0]), rt::CInt(a[1])));
                    })
            .Method("GetRelatedFeaturesHierarchy", 10, 2, 2,
                    [](S& s, rt::Args& a) {
                        return s.GetRelatedFeaturesHierarchy(ObjectArgument<IKeyObject>(a[0]), rt::CInt(a[1]));
                    })
            .Method("SilentEstablishByFeature", 11, 2, 3,
                    [](S& s, rt::Args& a) {
                        s.SilentEstablishByFeature(ObjectArgument<IKeyObject>(a[0]), ObjectArgument<IKeyObject>(a[1]),
                                                   a[2]);
                        return rt::Variant();
                    })
            .Method("SilentEstablish", 12, 2, 3,
                    [](S& s, rt::Args& a) {
                        s.SilentEstablish(ObjectArgument<IKeyObject>(a[0]), ObjectArgument<IKeyObject>(a[1]), a[2]);
                        return rt::Variant();
                    })
            .Method("ValidateCandidate", 13, 2, 2, [](S& s, rt::Args& a) {
                return rt::Variant(
                    s.ValidateCandidate(ObjectArgument<IKeyObject>(a[0]), ObjectArgument<IKeyObject>(a[1])));
            });
    return table;
}

}  // namespace

rt::Variant RelationshipService::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    return Dispatch().Invoke(*this, name, kind, args);
}

rt::Variant RelationshipService::InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) {
    return Dispatch().InvokeDispId(*this, dispId, kind, args);
}

void RegisterRelationshipService() {
    rt::RegisterClass(kRelationshipServiceProgId, kRelationshipServiceClsid,
                      [] { return std::make_shared<RelationshipService>(); });
    // Clients of the type libraries may ask for these by identifier.
    rt::RegisterInterfaceId<RelationshipService>(kRelationshipServiceIID);
    rt::RegisterInterfaceId<IRelationship>(kIRelationshipIID);
    rt::RegisterInterfaceId<IRelationshipHelper>(kIRelationshipHelperIID);
    rt::RegisterInterfaceId<IRecordsetEvaluator>(kIRecordsetEvaluatorIID);
    RegisterRelationshipHelperClasses();
}

namespace {
[[maybe_unused]] const bool kRegistered = [] {
    RegisterRelationshipService();
    return true;
}();
}  // namespace

}  // namespace pelmora
