#include "pelmora/relationships/M2MOwnership.h"

#include "ado/Recordset.h"
#include "pelmora/common/modADOUtils.h"
#include "pelmora/common/modRelationshipService.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/extensions/RGIHelper.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "interfaces/Messages.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr int16_t kSourceMessage = 21826;
constexpr int16_t kNoSupportComponentMessage = 23712;

bool IsEmptySet(const std::shared_ptr<ado::Recordset>& rs) { return rs->get_BOF() && rs->get_EOF(); }

bool Equal(const rt::Variant& a, int64_t b) {
    if (a.IsNull() || a.IsEmpty()) return false;
    auto c = rt::VbCompare(a, rt::Variant(static_cast<double>(b)));
    return c && *c == 0;
}

// Null or 0: the row names no owner.
bool IsFree(const rt::Variant& ownerFNO) { return ownerFNO.IsNull() || Equal(ownerFNO, 0); }

}  // namespace

void M2MOwnership::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    RelationshipHelperBase::putref_DataContext(DataContext);
    metadataService_ = MetadataService();
    configuration_ = metadataService_->get_Configuration();
    features_ = TakeMetadataRecordset("QTX_FEATURES_OPTABLE");
    featureComponents_ = TakeMetadataRecordset("QTX_FEATURECOMPS_OPTABLE");
    attributeInfo_ = TakeMetadataRecordset("QTX_ATTRIBUTEINFO_OPTABLE");
}

void M2MOwnership::put_RelationshipNumber(int16_t RelationshipNumber) {
    auto row = TakeMetadataRecordset("QTX_RELATIONSHIPS_OPTABLE");
    FilterService().FilterRecordset(row, row->get_Fields()->Item("QTX_RNO"), rt::Variant(RelationshipNumber));
    const rt::Variant support = ValueOf(row, "QTX_SUPPORTCNO");
    if (support.IsNull()) {
        auto messages = MessageObject();
        RaiseError(1, messages->GetMessageText(kSourceMessage, 0),
                   rt::Variant(messages->GetMessageText(kNoSupportComponentMessage, 0)));
    }
    RelationshipHelperBase::put_RelationshipNumber(RelationshipNumber);
    relationshipType_ = rt::CInt(RowValue("QTX_TYPE"));
    supportCno_ = rt::CInt(support);
    if (!featureComponents_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    FilterService().FilterRecordset(featureComponents_, featureComponents_->get_Fields()->Item("QTX_CNO"),
                                    rt::Variant(supportCno_));
    supportTable_ = rt::CStr(ValueOf(featureComponents_, "QTX_TABLE"));
    supportName_ = rt::CStr(ValueOf(featureComponents_, "QTX_NAME"));
    ruleTable_->put_Filter(rt::Variant(int32_t{0}));
    featureComponents_->put_Filter(rt::Variant(int32_t{0}));
    geometryInterface_ = std::make_shared<RGIHelper>();
}

bool M2MOwnership::IsSubordinate() const {
    const rt::Variant v = RowValue("QTX_SUBORDINATE");
    return Equal(v, 1);
}

rt::Variant M2MOwnership::CandidateFeatures(const std::shared_ptr<IKeyObject>& Feature) {
    RequireObjects(Feature, ruleTable_);
    const bool owned = IsSubordinate();
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item(owned ? "QTX_SOURCEFNO" : "QTX_OWNERFNO"),
                                    rt::Variant(Feature->get_FNO()));
    rt::Variant result = GetDistinctIntegerValues(ruleTable_, owned ? "QTX_OWNERFNO" : "QTX_SOURCEFNO");
    ruleTable_->put_Filter(rt::Variant(int32_t{0}));
    return result;
}

bool M2MOwnership::CanRelate(const std::shared_ptr<IKeyObject>& Feature, int16_t FNO) {
    RequireObjects(Feature, ruleTable_);
    const std::string a = std::to_string(Feature->get_FNO()), b = std::to_string(FNO);
    const std::string condition = IsSubordinate() ? "QTX_SOURCEFNO=" + a + " AND QTX_OWNERFNO=" + b
                                                  : "QTX_OWNERFNO=" + a + " AND QTX_SOURCEFNO=" + b;
    ruleTable_->put_Filter(rt::Variant(condition));
    const bool any = ruleTable_->get_RecordCount() > 0;
    ruleTable_->put_Filter(rt::Variant(int32_t{0}));
    return any;
}

M2MOwnership::Roles M2MOwnership::RolesOf(const std::shared_ptr<IKeyObject>& Source,
                                          const std::shared_ptr<IKeyObject>& Related) const {
    if (!Source || !Related) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return IsSubordinate() ? Roles{Source, Related} : Roles{Related, Source};
}

std::shared_ptr<ado::Recordset> M2MOwnership::SupportRows(const std::shared_ptr<IKeyObject>& Owned) const {
    return FeatureComponentRows(Owned, supportName_);
}

void M2MOwnership::SilentEstablishRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                                               const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t, int32_t) {
    const Roles roles = RolesOf(SourceFeature, RelatedFeature);
    const int16_t ownerFNO = roles.owner->get_FNO();
    const int32_t ownerFID = roles.owner->get_FID();
    auto rs = SupportRows(roles.owned);
    int16_t nextCid = 1;
    rt::Variant freeRow;
    bool haveFree = false;
    if (!IsEmptySet(rs)) {
        int16_t highest = 0;
        for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) {
            const int16_t cid = rt::CInt(ValueOf(rs, "QTX_CID"));
            if (cid > highest) highest = cid;
            const rt::Variant fno = ValueOf(rs, "QTX_OWNERFNO");
            if (IsFree(fno)) {
                freeRow = rs->get_Bookmark();
                haveFree = true;
            } else if (Equal(fno, ownerFNO) && Equal(ValueOf(rs, "QTX_OWNERFID"), ownerFID)) {
                return;
            }
        }
        nextCid = static_cast<int16_t>(highest + 1);
    }
    if (haveFree) rs->put_Bookmark(freeRow);
    // The row is written whole or not at all.
    bool editing = false;
    try {
        if (!haveFree) {
            rs->AddNew();
            editing = true;
            rs->SetValue(rt::Variant("QTX_FNO"), rt::Variant(roles.owned->get_FNO()));
            rs->SetValue(rt::Variant("QTX_FID"), rt::Variant(roles.owned->get_FID()));
            rs->SetValue(rt::Variant("QTX_CNO"), rt::Variant(supportCno_));
            rs->SetValue(rt::Variant("QTX_CID"), rt::Variant(nextCid));
        }
        rs->SetValue(rt::Variant("QTX_OWNERFNO"), rt::Variant(ownerFNO));
        editing = true;
        rs->SetValue(rt::Variant("QTX_OWNERFID"), rt::Variant(ownerFID));
        // The edit stays open, as the caller's own would: the save ends it.
    } catch (...) {
        rt::ResumeNext undo;
        if (editing) undo([&] { rs->CancelUpdate(); });
        throw;
    }
}

void M2MOwnership::DeleteRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                                      const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t, int32_t) {
    const Roles roles = RolesOf(SourceFeature, RelatedFeature);
    const int16_t ownerFNO = roles.owner->get_FNO();
    const int32_t ownerFID = roles.owner->get_FID();
    auto rs = SupportRows(roles.owned);
    if (IsEmptySet(rs)) return;
    rs->MoveFirst();
    while (!rs->get_EOF()) {
        if (Equal(ValueOf(rs, "QTX_OWNERFNO"), ownerFNO) && Equal(ValueOf(rs, "QTX_OWNERFID"), ownerFID)) {
            rs->Delete(ado::adAffectCurrent);
            // A component steps off its last row once it is deleted, which
            // leaves the rows at BOF and EOF at once: ADO refuses MoveNext there.
            if (rs->get_EOF()) break;
        }
        rs->MoveNext();
    }
}

void M2MOwnership::putref_Fields(const std::shared_ptr<ado::Fields>& Fields) {
    if (!Fields) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    ownerFNOField_ = Fields->Item("QTX_OWNERFNO");
    ownerFIDField_ = Fields->Item("QTX_OWNERFID");
}

bool M2MOwnership::Evaluate() {
    if (!ownerFNOField_ || !ownerFIDField_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return Equal(ownerFNOField_->get_Value(), keyFNO_) && Equal(ownerFIDField_->get_Value(), keyFID_);
}

}  // namespace pelmora
