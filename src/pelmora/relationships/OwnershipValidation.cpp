// Validate of the ownership helper: owner references, the relationship's
// attribute rules, distance rules and relationship-geometry interfaces of
// every pending feature of the validation set on this relationship's side.
#include <string>

#include "ado/Recordset.h"
#include "pelmora/common/ScopeExit.h"
#include "pelmora/features/ComponentClone.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "interfaces/RelationshipGeometry.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "pelmora/relationships/DistanceValidation.h"
#include "pelmora/relationships/FilterRemover.h"
#include "pelmora/relationships/Ownership.h"
#include "pelmora/relationships/OwnershipSupport.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "runtime/Error.h"
#include "runtime/ScopedValue.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

// The owner-reference findings: (kind other than 0, kind 0).
constexpr int16_t kMissingOwner = 15793, kMissingOwnerWarning = 15795;
constexpr int16_t kZeroOwner = 15794, kZeroOwnerWarning = 15796;
constexpr int16_t kUnknownOwner = 15797;

bool HasRows(const std::shared_ptr<ado::Recordset>& rs) { return !(rs->get_BOF() && rs->get_EOF()); }

std::string KeyText(const std::shared_ptr<ado::Recordset>& rows, const char* column) {
    const int32_t at = rows->FieldIndex(column);
    return ownership::TextOrEmpty(at >= 0 ? rows->FieldValue(at) : rows->GetValue(rt::Variant(column)));
}

// One link column of the owned row.
struct Reference {
    bool missing = false;  // Null or Empty
    bool zero = false;     // 0, or missing
    int32_t id = 0;
};

Reference ReadReference(const std::shared_ptr<ado::Recordset>& rows, const std::string& column) {
    Reference r;
    if (column.empty()) return r;
    // Read in place; a name the rows lack raises as Fields.Item does.
    const rt::Variant& value = rows->FieldValueRef(ado::Fields::IndexIn(*rows, column));
    r.missing = value.IsNull() || value.IsEmpty();
    if (!r.missing) r.id = rt::CLng(value);
    r.zero = r.id == 0;
    return r;
}

// Element i of a one-dimensional array as text, "" for Empty and Null; 9
// outside its bounds.
std::string ElementText(const rt::Variant& array, int32_t i) {
    if (i < rt::LBound(array) || i > rt::UBound(array)) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange);
    const rt::Variant& v = array.Array()->Data()[static_cast<size_t>(i - rt::LBound(array))];
    return v.IsNull() || v.IsEmpty() ? std::string() : rt::CStr(v);
}

}  // namespace

void Ownership::Validate(const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<IComponents>&,
                         const std::shared_ptr<ado::Recordset>& ValidationSet, const std::shared_ptr<rt::Collection>&,
                         const std::shared_ptr<ado::Recordset>& Errors) {
    ValidateScope validating(*this);
    RequireObjects(ValidationSet, ruleTable_, featureComponents_);
    auto setFields = ValidationSet->get_Fields();
    auto fno = setFields->Item("QTX_FNO");
    auto fid = setFields->Item("QTX_FID");
    auto pending = setFields->Item("PENDING");
    if (!HasRows(ValidationSet)) return;

    FilterRemover unfilter(ruleTable_);
    // An owner related to many owned features is read once, a pair's rules once.
    DistanceRun run;
    ValidationMemo memo;
    // A call made back from an extension during this one keeps its own memo.
    const rt::ScopedValue<ValidationMemo*> kept(memo_, &memo);
    auto sideField = ruleTable_->get_Fields()->Item(subordinate_ ? "QTX_SOURCEFNO" : "QTX_OWNERFNO");
    const DistanceValidationContext distance{ruleTable_, metadata_, filterService_, name_, configuration_, &run};
    const OffsetProfile profile = OffsetProfile::For(OffsetHelper::Ownership, subordinate_);
    const int16_t relationshipType = rt::CInt(RowValue("QTX_TYPE"));

    // The pending rows stand first; Null counts as pending.
    for (ValidationSet->MoveFirst(); !ValidationSet->get_EOF() && !ownership::Holds(pending->get_Value(), 0);
         ValidationSet->MoveNext()) {
        const int16_t featureNumber = rt::CInt(fno->get_Value());
        FilterService().FilterRecordset(ruleTable_, sideField, rt::Variant(featureNumber));
        if (!HasRows(ruleTable_)) continue;
        auto feature = FindKeyObject(Features, featureNumber, rt::CLng(fid->get_Value()));
        if (!TakeFeature(feature)) continue;

        const rt::Variant enforcementValue = ruleTable_->GetValue(rt::Variant("QTX_ENFORCEMENT"));
        const int32_t enforcement =
            enforcementValue.IsNull() || enforcementValue.IsEmpty() ? 1 : rt::CLng(enforcementValue);
        auto related = GetRelatedFeatures(ValidationSet, Features, relationshipNumber_);
        if (subordinate_) ValidateOwnerReference(related, enforcement, Errors);
        ValidateRelationshipAttributes(feature, related, relationshipType, dataContext_, name_, configuration_, Errors);
        DistanceValidation(distance, profile, feature, related, enforcement, Errors);
        ValidateGeometryInterfaces(Errors);
    }
}

void Ownership::ValidateOwnerReference(const std::shared_ptr<IKeyObjects>& RelatedFeatures, int32_t Enforcement,
                                       const std::shared_ptr<ado::Recordset>& Errors) {
    // The owned row's links live in the source component, where establishing
    // writes them and reviewing reads them.
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item("QTX_SOURCEFNO"),
                                    rt::Variant(feature_->get_FNO()));
    const int16_t sourceCNO = rt::CInt(ruleTable_->GetValue(rt::Variant("QTX_SOURCECNO")));
    const std::string ownerColumn =
        ownership::PlainName(ruleTable_->GetValue(rt::Variant("QTX_OWNERFIELD")), "QTX_OWNERFIELD");
    const std::string secondColumn =
        ownership::OptionalPlainName(ruleTable_->GetValue(rt::Variant("QTX_SECONDOWNERFIELD")), "QTX_SECONDOWNERFIELD");

    auto component = FeatureComponent(feature_, ComponentName(sourceCNO));
    ScopeExit release([&component] {
        if (auto clone = std::dynamic_pointer_cast<ComponentClone>(component)) clone->ReleaseRecordset();
    });
    auto rows = component->get_Recordset();
    if (!HasRows(rows)) return;
    rows->MoveFirst();

    const Reference first = ReadReference(rows, ownerColumn);
    const Reference second = ReadReference(rows, secondColumn);
    // The row's keys as texts are needed only for a finding; rows that lack
    // a key column raise here as before.
    static constexpr const char* kKeys[] = {"QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID"};
    std::string keys[4];
    bool keysRead = false;
    auto readKeys = [&] {
        for (size_t i = 0; i < 4; ++i) keys[i] = KeyText(rows, kKeys[i]);
        keysRead = true;
    };
    for (const char* key : kKeys)
        if (rows->FieldIndex(key) < 0) {
            readKeys();
            break;
        }
    auto record = [&](int16_t idA, int16_t idB) {
        if (!keysRead) readKeys();
        AddRelationshipValidationError(idA, idB, Enforcement, name_, configuration_, keys[0], keys[1], keys[2], keys[3],
                                       Errors, rt::Variant::Missing(), "", "", "", "");
    };
    // 0 and 1: every owner column must hold an owner; other kinds but 5: one of them.
    if (Enforcement == 0 || Enforcement == 1) {
        if (first.missing || second.missing)
            record(kMissingOwner, kMissingOwnerWarning);
        else if (first.zero || second.zero)
            record(kZeroOwner, kZeroOwnerWarning);
    } else if (Enforcement != 5) {
        if (first.missing && second.missing)
            record(kMissingOwner, kMissingOwnerWarning);
        else if (first.zero && second.zero)
            record(kZeroOwner, kZeroOwnerWarning);
    }

    if (first.zero && second.zero) return;
    bool firstFound = first.zero;
    bool secondFound = secondColumn.empty() || second.zero;
    for (const auto& owner : RelatedFeatures->get_NewEnum()) {
        auto ownerRows = GetOwnerComponentRecordset(owner);
        if (!HasRows(ownerRows)) continue;
        ownerRows->MoveFirst();
        const rt::Variant id = ownerRows->GetValue(rt::Variant("QTX_ID"));
        if (ownership::Holds(id, first.id)) firstFound = true;
        if (!secondColumn.empty() && ownership::Holds(id, second.id)) secondFound = true;
    }
    const std::string featureFNO = std::to_string(feature_->get_FNO()), featureFID = std::to_string(feature_->get_FID());
    if (!firstFound)
        AddRelationshipValidationError(kUnknownOwner, kUnknownOwner, Enforcement, name_, configuration_, featureFNO,
                                       featureFID, "", "", Errors, rt::Variant::Missing(), std::to_string(first.id), "",
                                       "", "");
    if (!secondFound)
        AddRelationshipValidationError(kUnknownOwner, kUnknownOwner, Enforcement, name_, configuration_, featureFNO,
                                       featureFID, "", "", Errors, rt::Variant::Missing(), std::to_string(second.id),
                                       "", "", "");
}

void Ownership::ValidateGeometryInterfaces(const std::shared_ptr<ado::Recordset>& Errors) {
    auto self = std::dynamic_pointer_cast<IRelationshipHelper>(shared_from_this());
    rt::Variant priorities = rt::Variant::ArrayOf({rt::Variant("")}, 0, rt::vbString);
    rt::Variant messages = rt::Variant::ArrayOf({rt::Variant("")}, 0, rt::vbString);
    rgi_->Initialize(self);
    rgi_->Validate(self, priorities, messages);
    if (!priorities.IsArray() || ElementText(priorities, rt::LBound(priorities)).empty()) return;
    const std::string featureFNO = std::to_string(feature_->get_FNO()), featureFID = std::to_string(feature_->get_FID());
    for (int32_t i = rt::LBound(priorities); i <= rt::UBound(priorities); ++i)
        AddValidationError(Errors, ElementText(priorities, i), ElementText(messages, i), name_, configuration_,
                           featureFNO, featureFID, "", "");
}

}  // namespace pelmora
