#include "pelmora/relationships/RelationshipHelperBase.h"

#include "ado/Recordset.h"
#include "pelmora/features/KeyObject.h"
#include "interfaces/DataContext.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kRelationshipsTable = "QTX_RELATIONSHIPS_OPTABLE";

// A field's value as a String variable takes it: Null raises 94.
std::string TextOf(const rt::Variant& value) {
    if (value.IsNull()) rt::RaiseVbError(rt::vberr::InvalidUseOfNull);
    return rt::CStr(value);
}

}  // namespace

void RelationshipHelperBase::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    dataContext_ = DataContext;
}

std::shared_ptr<IDataContext> RelationshipHelperBase::get_DataContext() { return dataContext_; }

void RelationshipHelperBase::putref_MDRSFilterService(const rt::ObjectPtr& FilterService) {
    filterService_ = FilterService ? rt::QueryInterface<MetadataRecordsetFilterService>(FilterService) : nullptr;
}

std::shared_ptr<IMetadataRecordsetFilterService> RelationshipHelperBase::get_MDRSFilterService() {
    return filterService_;
}

std::string RelationshipHelperBase::get_OptimizedTable() { return RowText("QTX_OPTIMIZEDTABLE"); }

std::string RelationshipHelperBase::get_RelationshipName() { return RowText("QTX_USERNAME"); }

void RelationshipHelperBase::put_RelationshipNumber(int16_t RelationshipNumber) {
    LoadRelationshipTables(RelationshipNumber, RowPositioning::FilterService);
    name_ = RowText("QTX_USERNAME");
    relationshipNumber_ = RelationshipNumber;
}

int16_t RelationshipHelperBase::get_RelationshipNumber() { return relationshipNumber_; }

std::string RelationshipHelperBase::get_Name() { return name_; }

std::shared_ptr<IKeyObject> RelationshipHelperBase::get_Feature() { return feature_; }

void RelationshipHelperBase::putref_Feature(const std::shared_ptr<IKeyObject>& Feature) {
    if (Feature) rt::QueryInterface<KeyObject>(Feature);
    feature_ = Feature;
}

bool RelationshipHelperBase::TakeFeature(const std::shared_ptr<IKeyObject>& Feature) {
    if (!Feature) return false;  // absent from the features: the last one checked stays active
    // A rejected feature leaves none: the row before's is not this one.
    feature_.reset();
    rt::ResumeNext take;
    std::shared_ptr<IComponents> components;
    // The checks read the feature's components: without them it is skipped,
    // as a feature whose support rows cannot be read is.
    if (take([&] { putref_Feature(Feature); }) && take([&] { components = Feature->get_Components(); }) &&
        components)
        return true;
    feature_.reset();
    return false;
}

rt::Variant RelationshipHelperBase::CandidateFeatures(const std::shared_ptr<IKeyObject>&) { return rt::Variant::Null(); }

bool RelationshipHelperBase::CanRelate(const std::shared_ptr<IKeyObject>&, int16_t) { return false; }

void RelationshipHelperBase::DeleteRelationship(const std::shared_ptr<IKeyObject>&, const std::shared_ptr<IKeyObject>&,
                                                int32_t, int32_t) {}

rt::Variant RelationshipHelperBase::ReviewRelationship(const std::shared_ptr<IKeyObject>&) {
    return rt::Variant::Nothing();
}

rt::Variant RelationshipHelperBase::ReviewRelationshipHierarchy(const std::shared_ptr<IKeyObject>&) {
    return rt::Variant();
}

void RelationshipHelperBase::SilentEstablishRelationship(const std::shared_ptr<IKeyObject>&,
                                                         const std::shared_ptr<IKeyObject>&, int32_t, int32_t) {}

void RelationshipHelperBase::LoadRelationshipTables(int16_t RelationshipNumber, RowPositioning positioning) {
    auto row = TakeMetadataRecordset(kRelationshipsTable);
    if (positioning == RowPositioning::FilterService)
        FilterService().FilterRecordset(row, row->get_Fields()->Item("QTX_RNO"), rt::Variant(RelationshipNumber), "");
    else
        row->put_Filter(rt::Variant("QTX_RNO = " + std::to_string(RelationshipNumber)));
    auto rules = TakeMetadataRecordset(TextOf(row->GetValue(rt::Variant("QTX_OPTIMIZEDTABLE"))));
    relationshipRow_ = row;
    ruleTable_ = rules;
}

std::shared_ptr<IMetadataService> RelationshipHelperBase::MetadataService() const {
    if (!dataContext_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto metadata = dataContext_->GetMetadataService();
    if (!metadata) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return metadata;
}

std::shared_ptr<ado::Recordset> RelationshipHelperBase::TakeMetadataRecordset(const std::string& key) const {
    return MetadataService()->get_Recordsets()->get_Item(rt::Variant(key))->get_Recordset("", "");
}

MetadataRecordsetFilterService& RelationshipHelperBase::FilterService() const {
    if (!filterService_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return *filterService_;
}

rt::Variant RelationshipHelperBase::RowValue(const std::string& field) const {
    if (!relationshipRow_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return relationshipRow_->GetValue(rt::Variant(field));
}

std::string RelationshipHelperBase::RowText(const std::string& field) const { return TextOf(RowValue(field)); }

}  // namespace pelmora
