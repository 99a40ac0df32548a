#include "pelmora/relationships/Ownership.h"

#include "ado/Recordset.h"
#include "pelmora/common/modRelationshipService.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/extensions/RGIHelper.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/relationships/FilterRemover.h"
#include "pelmora/relationships/OwnershipSupport.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

Ownership::Ownership() = default;
Ownership::~Ownership() = default;

void Ownership::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    RelationshipHelperBase::putref_DataContext(DataContext);
    metadata_ = MetadataService();
    featuresTable_ = TakeMetadataRecordset("QTX_FEATURES_OPTABLE");
    featureComponents_ = TakeMetadataRecordset("QTX_FEATURECOMPS_OPTABLE");
    configuration_ = MetadataService()->get_Configuration();
}

void Ownership::put_RelationshipNumber(int16_t RelationshipNumber) {
    RelationshipHelperBase::put_RelationshipNumber(RelationshipNumber);
    if (!RowValue("QTX_SUPPORTCNO").IsNull()) support_ = true;
    const rt::Variant subordinate = RowValue("QTX_SUBORDINATE");
    subordinate_ = ownership::Holds(subordinate, 1);
    ruleTable_->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
    rgi_ = std::make_shared<RGIHelper>();
}

rt::Variant Ownership::CandidateFeatures(const std::shared_ptr<IKeyObject>& Feature) {
    RequireObjects(Feature, ruleTable_);
    const char* side = subordinate_ ? "QTX_SOURCEFNO" : "QTX_OWNERFNO";
    const char* other = subordinate_ ? "QTX_OWNERFNO" : "QTX_SOURCEFNO";
    FilterRemover unfilter(ruleTable_);
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item(side), rt::Variant(Feature->get_FNO()),
                                    other);
    return GetDistinctIntegerValues(ruleTable_, other);
}

bool Ownership::CanRelate(const std::shared_ptr<IKeyObject>& Feature, int16_t FNO) {
    RequireObjects(Feature, ruleTable_);
    FilterRemover unfilter(ruleTable_);
    if (subordinate_)
        SelectPairRules(FNO, Feature->get_FNO());
    else
        SelectPairRules(Feature->get_FNO(), FNO);
    return ruleTable_->get_RecordCount() >= 1;
}

void Ownership::SelectPairRules(int16_t ownerFNO, int16_t ownedFNO) {
    const std::string owner = "QTX_OWNERFNO = " + std::to_string(ownerFNO);
    const std::string owned = "QTX_SOURCEFNO = " + std::to_string(ownedFNO);
    ruleTable_->put_Filter(rt::Variant(subordinate_ ? owned + " AND " + owner : owner + " AND " + owned));
}

std::shared_ptr<ado::Recordset> Ownership::GetOwnerComponentRecordset(const std::shared_ptr<IKeyObject>& Feature,
                                                                      int16_t* CNO) {
    if (!Feature) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    int16_t ownerCNO = 0;
    const int16_t featureNumber = Feature->get_FNO();
    const int16_t* kept = nullptr;
    if (memo_)
        if (auto known = memo_->ownerCNOs.find(featureNumber); known != memo_->ownerCNOs.end()) kept = &known->second;
    if (kept) {
        ownerCNO = *kept;
    } else {
        FilterRemover unfilter(featuresTable_);
        FilterService().FilterRecordset(featuresTable_, featuresTable_->get_Fields()->Item("QTX_FNO"),
                                        rt::Variant(featureNumber));
        const rt::Variant support = RowValue("QTX_SUPPORTCNO");
        ownerCNO = rt::CInt(support.IsNull() ? featuresTable_->GetValue(rt::Variant("QTX_PRIMARYATTRIBUTECNO"))
                                             : support);
        if (memo_) memo_->ownerCNOs.emplace(featureNumber, ownerCNO);
    }
    if (CNO) *CNO = ownerCNO;
    return ComponentRecordset(Feature, ComponentName(ownerCNO));
}

std::shared_ptr<ado::Recordset> Ownership::GetSourceComponentRecordset(const std::shared_ptr<IKeyObject>& Feature,
                                                                       int16_t* CNO) {
    if (!Feature) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    const int16_t sourceCNO = rt::CInt(ruleTable_->GetValue(rt::Variant("QTX_SOURCECNO")));
    if (CNO) *CNO = sourceCNO;
    return ComponentRecordset(Feature, ComponentName(sourceCNO));
}

std::shared_ptr<ado::Recordset> Ownership::ComponentRecordset(const std::shared_ptr<IKeyObject>& Feature,
                                                              const std::string& name) {
    std::shared_ptr<ado::Recordset> rows;
    rt::ResumeNext guard;
    guard([&] { rows = FeatureComponentRows(Feature, name); });
    if (guard.Failed() || !rows)
        RaiseError(1, LoadResStringWithParams(ownership::kSourceMessage),
                   rt::Variant(LoadResStringWithParams(ownership::kMissingComponentMessage,
                                                       std::to_string(Feature->get_FNO()), name)));
    return rows;
}

std::string Ownership::ComponentName(int16_t CNO) {
    if (memo_)
        if (auto known = memo_->componentNames.find(CNO); known != memo_->componentNames.end()) return known->second;
    FilterRemover unfilter(featureComponents_);
    FilterService().FilterRecordset(featureComponents_, featureComponents_->get_Fields()->Item("QTX_CNO"),
                                    rt::Variant(CNO));
    std::string name = rt::CStr(featureComponents_->GetValue(rt::Variant("QTX_NAME")));
    if (memo_) memo_->componentNames.emplace(CNO, name);
    return name;
}

std::string Ownership::ComponentTable(int16_t CNO) {
    FilterRemover unfilter(featureComponents_);
    FilterService().FilterRecordset(featureComponents_, featureComponents_->get_Fields()->Item("QTX_CNO"),
                                    rt::Variant(CNO));
    return ownership::PlainName(featureComponents_->GetValue(rt::Variant("QTX_TABLE")), "QTX_TABLE");
}

}  // namespace pelmora
