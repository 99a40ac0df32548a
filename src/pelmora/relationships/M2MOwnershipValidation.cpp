#include "ado/Recordset.h"
#include "interfaces/KeyObject.h"
#include "interfaces/RelationshipGeometry.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/relationships/DistanceValidation.h"
#include "pelmora/relationships/M2MOwnership.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

namespace m2m_messages {
constexpr int16_t NoOwnerError = 20870, NoOwnerWarning = 25195, TooManyOwners = 20872;
}

bool IsEmptySet(const std::shared_ptr<ado::Recordset>& rs) { return rs->get_BOF() && rs->get_EOF(); }

}  // namespace

bool M2MOwnership::IsSourceOrOwnerFno(int16_t FNO) {
    const char* side = IsSubordinate() ? "QTX_SOURCEFNO" : "QTX_OWNERFNO";
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item(side), rt::Variant(FNO));
    const bool any = ruleTable_->get_RecordCount() > 0;
    ruleTable_->put_Filter(rt::Variant(int32_t{0}));
    return any;
}

int32_t M2MOwnership::GetEnforcement(int16_t FNO) {
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item("QTX_SOURCEFNO"), rt::Variant(FNO));
    if (IsEmptySet(ruleTable_)) return 0;
    // A Null enforcement fails the conversion, as the relationship's rule
    // is incomplete.
    return rt::CLng(ruleTable_->GetValue(rt::Variant("QTX_ENFORCEMENT")));
}

bool M2MOwnership::IsManyToOneMode() {
    const rt::Variant parameters = RowValue("QTX_ADDITIONALPARAMETERS");
    if (parameters.IsNull() || parameters.IsEmpty()) return false;
    try {
        for (const std::string& part : rt::Split(rt::CStr(parameters), ","))
            if (rt::LCase(rt::Trim(part)) == "manytoone") return true;
    } catch (const rt::ComError&) {
    }
    return false;
}

void M2MOwnership::Validate(const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<IComponents>&,
                            const std::shared_ptr<ado::Recordset>& ValidationSet, const std::shared_ptr<rt::Collection>&,
                            const std::shared_ptr<ado::Recordset>& Errors) {
    namespace m = m2m_messages;
    ValidateScope validating(*this);
    RequireObjects(ValidationSet, ruleTable_);
    rt::Variant priorities = rt::Variant::MakeArray(rt::vbString, 0, 0);
    rt::Variant messages = rt::Variant::MakeArray(rt::vbString, 0, 0);
    priorities.ArrayMut()->Set(0, rt::Variant(std::string()));
    messages.ArrayMut()->Set(0, rt::Variant(std::string()));
    auto fno = ValidationSet->get_Fields()->Item("QTX_FNO");
    auto fid = ValidationSet->get_Fields()->Item("QTX_FID");
    if (IsEmptySet(ValidationSet)) return;
    auto self = std::dynamic_pointer_cast<IRelationshipHelper>(shared_from_this());
    for (ValidationSet->MoveFirst(); !ValidationSet->get_EOF(); ValidationSet->MoveNext()) {
        const rt::Variant pending = ValidationSet->GetValue(rt::Variant("PENDING"));
        if (!pending.IsNull() && rt::CLng(pending) == 0) break;
        const int16_t featureNumber = rt::CInt(fno->get_Value());
        if (!IsSourceOrOwnerFno(featureNumber)) continue;
        auto feature = FindKeyObject(Features, featureNumber, rt::CLng(fid->get_Value()));
        if (!TakeFeature(feature)) continue;
        const int32_t kind = GetEnforcement(feature->get_FNO());
        auto related = GetRelatedFeatures(ValidationSet, Features, relationshipNumber_);
        ValidateRelationshipAttributes(feature, related, relationshipType_, dataContext_, name_, configuration_, Errors);
        ValidateDistance(feature, related, Errors);
        const std::string fnoText = std::to_string(feature->get_FNO()), fidText = std::to_string(feature->get_FID());
        if (IsSubordinate() && related->get_Count() == 0)
            AddRelationshipValidationError(m::NoOwnerError, m::NoOwnerWarning, kind, name_, configuration_, fnoText,
                                           fidText, "", "", Errors, rt::Variant::Missing(), "", "", "", "");
        if (related->get_Count() >= 2 && IsManyToOneMode())
            AddRelationshipValidationError(m::TooManyOwners, m::TooManyOwners, 1, name_, configuration_, fnoText,
                                           fidText, "", "", Errors, rt::Variant::Missing(),
                                           std::to_string(related->get_Count()), "", "", "");
        geometryInterface_->Initialize(self);
        geometryInterface_->Validate(self, priorities, messages);
        if (ArrayElementText(priorities, rt::LBound(priorities)) != "") {
            for (int32_t i = rt::LBound(priorities); i <= rt::UBound(priorities); ++i)
                AddValidationError(Errors, ArrayElementText(priorities, i), ArrayElementText(messages, i), name_,
                                   configuration_, fnoText, fidText, "", "");
        }
    }
}

void M2MOwnership::ValidateDistance(const std::shared_ptr<IKeyObject>& Feature,
                                    const std::shared_ptr<IKeyObjects>& Related,
                                    const std::shared_ptr<ado::Recordset>& Errors) {
    // The point of view is read afresh: the profile swaps its sides with it.
    const DistanceValidationContext context{ruleTable_, metadataService_, filterService_, name_, configuration_, nullptr};
    DistanceValidation(context, OffsetProfile::For(OffsetHelper::M2MOwnership, IsSubordinate()), Feature, Related, 0,
                       Errors);
}

}  // namespace pelmora
