// Node-ordered connectivity: validation. First the support rows of the
// pending linear features (one row, naming a connected feature that is being
// validated and has a triggering component), then per pending feature with
// rules the distance, attribute and relationship-geometry checks.
#include "ado/Recordset.h"
#include "pelmora/extensions/RGIHelper.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "pelmora/relationships/ConnectivityValues.h"
#include "pelmora/relationships/DistanceValidation.h"
#include "pelmora/relationships/NodeOrdConnADO.h"
#include "pelmora/attribute_validation/AttributeValidationService.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "runtime/Collection.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

using connectivity::IsEmptySet;

constexpr int16_t kNoSupportRowMessage = 21266;
constexpr int16_t kSeveralSupportRowsMessage = 21268;
constexpr int16_t kNoConnectedFeatureMessage = 21269;
constexpr int16_t kConnectedNotValidatedMessage = 21305;

// Null names no feature either.
bool IsZero(const rt::Variant& v) { return IsNullOrEmpty(v) || connectivity::Holds(v, 0); }

bool IsNotPending(const std::shared_ptr<ado::Recordset>& set) {
    auto order = rt::VbCompare(set->GetValue(rt::Variant("PENDING")), rt::Variant(int32_t{0}));
    return order && *order == 0;
}

rt::Variant OneEmptyElement() { return rt::Variant::ArrayOf({rt::Variant("")}, 0, rt::vbString); }

}  // namespace

void NodeOrdConnADO::Validate(const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<IComponents>& Components,
                              const std::shared_ptr<ado::Recordset>& ValidationSet,
                              const std::shared_ptr<rt::Collection>& PendingFNOs,
                              const std::shared_ptr<ado::Recordset>& Errors) {
    ValidateScope validating(*this);
    RequireObjects(ValidationSet, ruleTable_);
    auto withRules = GetFeaturesWithRules(PendingFNOs);
    std::shared_ptr<ado::Recordset> support;
    rt::ResumeNext lookup;
    lookup([&] {
        // A caller's own collection may answer Nothing.
        support = ComponentNamed(Components, supportComponentName_)->get_Recordset();
    });
    ValidateLinearConnectivityComponents(withRules, ValidationSet, Features, support, Errors);
    ValidateAttributes(ValidationSet, Features, Errors);
}

std::shared_ptr<rt::Collection> NodeOrdConnADO::GetFeaturesWithRules(const std::shared_ptr<rt::Collection>& FNOs) {
    auto result = rt::Collection::New();
    if (!FNOs) return result;
    for (int32_t i = 1; i <= FNOs->Count(); ++i) {
        const rt::Variant fno = FNOs->Item(rt::Variant(i));
        if (FilterRulesByFNO(rt::CInt(fno))) result->Add(fno);
    }
    return result;
}

bool NodeOrdConnADO::FilterRulesByFNO(int16_t FNO) {
    FilterService().FilterRecordset(
        ruleTable_, ruleTable_->get_Fields()->Item(subordinate_ ? "QTX_SOURCEFNO" : "QTX_CONNECTINGFNO"),
        rt::Variant(FNO));
    const bool any = !IsEmptySet(ruleTable_);
    ruleTable_->put_Filter(rt::Variant(int32_t{0}));
    return any;
}

bool NodeOrdConnADO::IsLinear(int16_t FNO) {
    auto features = TakeMetadataRecordset("QTX_FEATURES_OPTABLE");
    FilterService().FilterRecordset(features, features->get_Fields()->Item("QTX_FNO"), rt::Variant(FNO));
    if (IsEmptySet(features)) return false;
    const rt::Variant type = features->GetValue(rt::Variant("QTX_TYPE"));
    if (type.IsNull() || type.IsEmpty()) return false;
    const int32_t kind = rt::CLng(type);
    return kind == 4 || kind == 5;
}

bool NodeOrdConnADO::GetTriggeringCNOs(const std::shared_ptr<IKeyObject>& Feature) {
    FilterService().FilterRecordset(
        ruleTable_, ruleTable_->get_Fields()->Item(subordinate_ ? "QTX_SOURCEFNO" : "QTX_CONNECTINGFNO"),
        rt::Variant(Feature->get_FNO()));
    if (IsEmptySet(ruleTable_)) return false;
    auto triggering = ruleTable_->get_Fields()->Item(subordinate_ ? "QTX_TRIGGERINGCNO" : "QTX_CONNECTINGTRIGGERINGCNO");
    auto metadata = MetadataService();
    for (ruleTable_->MoveFirst(); !ruleTable_->get_EOF(); ruleTable_->MoveNext()) {
        const std::string name = GetComponentName(metadata, rt::CInt(triggering->get_Value()));
        auto rows = FeatureComponentRows(Feature, name);
        if (!IsEmptySet(rows)) return true;
    }
    return false;
}

void NodeOrdConnADO::ValidateLinearConnectivityComponents(const std::shared_ptr<rt::Collection>& FNOs,
                                                          const std::shared_ptr<ado::Recordset>& ValidationSet,
                                                          const std::shared_ptr<IKeyObjects>& Features,
                                                          const std::shared_ptr<ado::Recordset>& Support,
                                                          const std::shared_ptr<ado::Recordset>& Errors) {
    for (int32_t n = 1; n <= FNOs->Count(); ++n) {
        const int16_t linearFno = rt::CInt(FNOs->Item(rt::Variant(n)));
        if (!IsLinear(linearFno) || IsEmptySet(ValidationSet)) continue;
        for (ValidationSet->MoveFirst(); !ValidationSet->get_EOF(); ValidationSet->MoveNext()) {
            const int16_t rowFno = rt::CInt(ValidationSet->GetValue(rt::Variant("QTX_FNO")));
            const int32_t rowFid = rt::CLng(ValidationSet->GetValue(rt::Variant("QTX_FID")));
            auto feature = FindKeyObject(Features, rowFno, rowFid);
            if (!TakeFeature(feature)) continue;
            if (IsNotPending(ValidationSet)) break;
            if (rowFno != linearFno) continue;
            // No support component among the set's components: nothing to
            // filter, which is the caller's error to see.
            if (!Support) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
            Support->put_Filter(rt::Variant("QTX_FID = " + std::to_string(rowFid)));
            if (IsEmptySet(Support)) {
                Record(kNoSupportRowMessage, rowFno, rowFid, Errors);
                continue;
            }
            Support->MoveLast();
            if (Support->get_RecordCount() >= 2) {
                Record(kSeveralSupportRowsMessage, rowFno, rowFid, Errors);
                continue;
            }
            const rt::Variant connectedFno = Support->GetValue(rt::Variant(NamedEnd().fno));
            const rt::Variant connectedFid = Support->GetValue(rt::Variant(NamedEnd().id));
            if (IsZero(connectedFno) || IsZero(connectedFid)) {
                Record(kNoConnectedFeatureMessage, rowFno, rowFid, Errors, name_);
                continue;
            }
            const std::string fnoText = rt::CStr(connectedFno);
            const std::string fidText = rt::CStr(connectedFid);
            std::shared_ptr<IKeyObject> connected;
            rt::ResumeNext find;
            find([&] { connected = Features->get_Item(rt::Variant(fnoText + "\t" + fidText + "\t0\t0")); });
            if (!connected || !GetTriggeringCNOs(connected))
                Record(kConnectedNotValidatedMessage, rowFno, rowFid, Errors, fidText, std::to_string(rowFid), fnoText);
        }
    }
    if (Support) Support->put_Filter(rt::Variant(int32_t{0}));
}

void NodeOrdConnADO::ValidateAttributes(const std::shared_ptr<ado::Recordset>& ValidationSet,
                                        const std::shared_ptr<IKeyObjects>& Features,
                                        const std::shared_ptr<ado::Recordset>& Errors) {
    if (IsEmptySet(ValidationSet)) return;
    auto self = std::dynamic_pointer_cast<IRelationshipHelper>(shared_from_this());
    std::shared_ptr<AttributeValidationService> attributes;
    for (ValidationSet->MoveFirst(); !ValidationSet->get_EOF(); ValidationSet->MoveNext()) {
        if (IsNotPending(ValidationSet)) break;
        const int16_t rowFno = rt::CInt(ValidationSet->GetValue(rt::Variant("QTX_FNO")));
        if (!FilterRulesByFNO(rowFno)) continue;
        const int32_t rowFid = rt::CLng(ValidationSet->GetValue(rt::Variant("QTX_FID")));
        auto feature = FindKeyObject(Features, rowFno, rowFid);
        if (!TakeFeature(feature)) continue;
        auto related = GetRelatedFeatures(ValidationSet, Features, relationshipNumber_);
        CheckDistances(related, Errors);

        // One attribute validation service for the whole call.
        for (int32_t i = 1; i <= related->get_Count(); ++i) {
            auto relatedFeature = related->get_Item(rt::Variant(i));
            auto item = Features->get_Item(rt::Variant(std::to_string(relatedFeature->get_FNO()) + "\t" +
                                                       std::to_string(relatedFeature->get_FID()) + "\t0\t0"));
            if (!attributes) attributes = std::make_shared<AttributeValidationService>();
            attributes->put_RelationshipType(std::to_string(relationshipType_));
            attributes->putref_DataContext(dataContext_);
            attributes->putref_ActiveFeature(feature);
            attributes->putref_RelatedFeature(item);
            rt::Variant priorities = OneEmptyElement();
            rt::Variant messages = OneEmptyElement();
            attributes->Validate(priorities, messages);
            if (!ArrayElementText(messages, rt::UBound(messages)).empty()) AddFindings(priorities, messages, Errors);
        }

        rt::Variant priorities = OneEmptyElement();
        rt::Variant messages = OneEmptyElement();
        rgiHelper_->Initialize(self);
        rgiHelper_->Validate(self, priorities, messages);
        if (!ArrayElementText(messages, rt::LBound(messages)).empty()) AddFindings(priorities, messages, Errors);
    }
}

void NodeOrdConnADO::CheckDistances(const std::shared_ptr<IKeyObjects>& Related,
                                    const std::shared_ptr<ado::Recordset>& Errors) {
    const DistanceValidationContext context{ruleTable_, MetadataService(), filterService_, name_, configuration_, nullptr};
    DistanceValidation(context, OffsetProfile::For(OffsetHelper::NodeOrdConnADO), feature_, Related, 0, Errors);
}

void NodeOrdConnADO::AddFindings(const rt::Variant& Priorities, const rt::Variant& Messages,
                                 const std::shared_ptr<ado::Recordset>& Errors) const {
    // Only the indices both arrays have.
    const SharedBounds bounds = SharedArrayBounds(Priorities, Messages);
    RequireObjects(feature_);  // an interface may have set the helper's feature to Nothing
    const std::string fno = std::to_string(feature_->get_FNO());
    const std::string fid = std::to_string(feature_->get_FID());
    for (int32_t i = bounds.first; i <= bounds.last; ++i)
        AddValidationError(Errors, ArrayElementText(Priorities, i), ArrayElementText(Messages, i), name_,
                           configuration_, fno, fid, "", "");
}

void NodeOrdConnADO::Record(int16_t MsgId, int16_t FNO, int32_t FID, const std::shared_ptr<ado::Recordset>& Errors,
                            const std::string& Name1, const std::string& Name2, const std::string& Name3) const {
    AddRelationshipValidationError(MsgId, MsgId, 1, name_, configuration_, std::to_string(FNO), std::to_string(FID), "",
                                   "", Errors, rt::Variant::Missing(), Name1, Name2, Name3, "");
}

}  // namespace pelmora
