// Node-ordered connectivity: loading, candidates, establishing and the review
// of connected features with its row predicate. Validation stands in
// NodeOrdConnADOValidate.cpp.
#include "pelmora/relationships/NodeOrdConnADO.h"

#include <vector>

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/extensions/RGIHelper.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "interfaces/Messages.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/relationships/ConnectivityNames.h"
#include "pelmora/relationships/ConnectivityValues.h"
#include "runtime/Collection.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

using connectivity::IsEmptySet;

constexpr int16_t kSourceMessage = 23713;
constexpr int16_t kNoSubordinateMessage = 15754;
constexpr int16_t kParameterMessage = 21468;

std::string SourceText() { return MessageObject()->GetMessageText(kSourceMessage, 0); }

std::string KeyFilter(const std::shared_ptr<IKeyObject>& feature) {
    return "QTX_FID = " + std::to_string(feature->get_FID()) + " and QTX_FNO = " + std::to_string(feature->get_FNO());
}

// Puts a recordset's filter back as it was found when the scope ends, also
// by an error: the support recordset may serve several features, and a
// narrowing left behind would hide the others' rows from later readers.
class FilterRestorer {
public:
    explicit FilterRestorer(std::shared_ptr<ado::Recordset> rs) : rs_(std::move(rs)), filter_(rs_->get_Filter()) {}
    ~FilterRestorer() {
        try {
            rs_->put_Filter(filter_);
        } catch (...) {
        }
    }
    FilterRestorer(const FilterRestorer&) = delete;
    FilterRestorer& operator=(const FilterRestorer&) = delete;

private:
    std::shared_ptr<ado::Recordset> rs_;
    rt::Variant filter_;
};

}  // namespace

rt::Variant NodeOrdConnADO::CandidateFeatures(const std::shared_ptr<IKeyObject>& Feature) {
    RequireObjects(Feature, ruleTable_);
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item("QTX_SOURCEFNO"),
                                    rt::Variant(Feature->get_FNO()));
    std::vector<int16_t> numbers;
    if (!IsEmptySet(ruleTable_)) {
        auto connecting = ruleTable_->get_Fields()->Item("QTX_CONNECTINGFNO");
        for (ruleTable_->MoveFirst(); !ruleTable_->get_EOF(); ruleTable_->MoveNext()) {
            const int16_t fno = rt::CInt(connecting->get_Value());
            bool seen = false;
            for (int16_t n : numbers) seen = seen || n == fno;
            if (!seen) numbers.push_back(fno);
        }
    }
    if (numbers.empty()) return rt::Variant::Null();
    rt::Variant result = rt::Variant::MakeArray(rt::vbInteger, 1, static_cast<int32_t>(numbers.size()));
    for (size_t i = 0; i < numbers.size(); ++i) result.ArrayMut()->Set(static_cast<int32_t>(i + 1), rt::Variant(numbers[i]));
    return result;
}

bool NodeOrdConnADO::CanRelate(const std::shared_ptr<IKeyObject>& Feature, int16_t FNO) {
    RequireObjects(Feature, ruleTable_);
    ruleTable_->put_Filter(rt::Variant("QTX_SOURCEFNO = " + std::to_string(Feature->get_FNO()) +
                                       " and QTX_CONNECTINGFNO = " + std::to_string(FNO)));
    const bool found = !IsEmptySet(ruleTable_);
    ruleTable_->put_Filter(rt::Variant(int32_t{0}));
    return found;
}

void NodeOrdConnADO::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    RelationshipHelperBase::putref_DataContext(DataContext);
    configuration_ = MetadataService()->get_Configuration();
}

void NodeOrdConnADO::put_RelationshipNumber(int16_t RelationshipNumber) {
    const std::string source = "NodeOrdConnADO.RelationshipNumber";
    relationshipNumber_ = RelationshipNumber;
    LoadRelationshipTables(RelationshipNumber, RowPositioning::FilterService);
    relationshipType_ = rt::CInt(RowValue("QTX_TYPE"));
    name_ = RowText("QTX_USERNAME");
    ruleTableName_ = RowText("QTX_OPTIMIZEDTABLE");

    auto components = TakeMetadataRecordset("QTX_FEATURECOMPS_OPTABLE");
    supportCno_ = rt::CInt(RowValue("QTX_SUPPORTCNO"));
    FilterService().FilterRecordset(components, components->get_Fields()->Item("QTX_CNO"), rt::Variant(supportCno_));
    supportComponentName_ = rt::CStr(components->GetValue(rt::Variant("QTX_NAME")));
    supportTable_ = PlainTableName(rt::CStr(components->GetValue(rt::Variant("QTX_TABLE"))), source);

    const rt::Variant subordinate = RowValue("QTX_SUBORDINATE");
    if (subordinate.IsNull())
        RaiseError(6, SourceText(), rt::Variant(int32_t{kNoSubordinateMessage}), rt::Variant(name_));
    subordinate_ = rt::CBool(subordinate);

    auto parameters = TakeMetadataRecordset("QTX_ADD_REL_PARAMS_OPTABLE");
    auto parameterName = parameters->get_Fields()->Item("QTX_PARAMNAME");
    std::string* columns[] = {&input_.id, &input_.fno, &output_.id, &output_.fno};
    const char* names[] = {"InputIdentifier", "InputFeatureNumber", "OutputIdentifier", "OutputFeatureNumber"};
    for (size_t i = 0; i < 4; ++i) {
        FilterService().FilterRecordset(parameters, parameterName,
                                        rt::Variant(std::to_string(RelationshipNumber) + "-" + names[i]));
        if (parameters->get_RecordCount() != 1) RaiseError(5, SourceText(), rt::Variant(int32_t{kParameterMessage}));
        *columns[i] = PlainColumnName(rt::CStr(parameters->GetValue(rt::Variant("QTX_PARAMVALUE"))), source,
                                      std::string("column of parameter ") + names[i]);
    }
    rgiHelper_ = std::make_shared<RGIHelper>();
}

void NodeOrdConnADO::SilentEstablishRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                                                 const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t, int32_t) {
    RequireObjects(SourceFeature, RelatedFeature);
    std::shared_ptr<ado::Recordset> support;
    bool holderIsSource = true;
    rt::ResumeNext lookup;
    if (!lookup([&] { support = FeatureComponentRows(SourceFeature, supportComponentName_); })) {
        holderIsSource = false;
        support = FeatureComponentRows(RelatedFeature, supportComponentName_);
    }
    const auto& holder = holderIsSource ? SourceFeature : RelatedFeature;
    const auto& other = holderIsSource ? RelatedFeature : SourceFeature;

    FilterRestorer restore(support);
    // Without a current row (no rows, or a cursor left at the end) there is
    // no edit in progress, and ADO refuses to say so: reading EditMode there
    // raises 3021, which would stop the very case that adds the row.
    const bool onRow = !support->get_BOF() && !support->get_EOF();
    if (!onRow || support->get_EditMode() == ado::adEditNone) {
        support->put_Filter(rt::Variant(KeyFilter(holder)));
        if (IsEmptySet(support)) {
            support->AddNew();
            support->SetValue(rt::Variant("QTX_FNO"), rt::Variant(holder->get_FNO()));
            support->SetValue(rt::Variant("QTX_CNO"), rt::Variant(supportCno_));
            support->SetValue(rt::Variant("QTX_FID"), rt::Variant(holder->get_FID()));
            support->SetValue(rt::Variant("QTX_CID"), rt::Variant(int16_t{1}));
        }
    }
    const End& end = subordinate_ != holderIsSource ? output_ : input_;
    support->SetValue(rt::Variant(end.fno), rt::Variant(other->get_FNO()));
    support->SetValue(rt::Variant(end.id), rt::Variant(other->get_FID()));
    support->Update();
}

rt::Variant NodeOrdConnADO::ReviewRelationship(const std::shared_ptr<IKeyObject>& Feature) {
    RequireObjects(Feature);
    auto assembly = std::make_shared<FeatureAssemblyService>();
    assembly->putref_DataContext(dataContext_);
    auto result = rt::Collection::New();
    const int32_t fid = Feature->get_FID();
    const int16_t fno = Feature->get_FNO();

    std::shared_ptr<ado::Recordset> support;
    rt::ResumeNext lookup;
    if (lookup([&] { support = FeatureComponentRows(Feature, supportComponentName_); })) {
        FilterRestorer restore(support);
        support->put_Filter(rt::Variant(KeyFilter(Feature)));
        if (!IsEmptySet(support)) {
            const rt::Variant connectedFno = support->GetValue(rt::Variant(NamedEnd().fno));
            const rt::Variant connectedFid = support->GetValue(rt::Variant(NamedEnd().id));
            auto order = rt::VbCompare(connectedFno, rt::Variant(int16_t{0}));
            if (order && *order != 0) {
                assembly->put_FeatureNumber(rt::CInt(connectedFno));
                assembly->put_FeatureID(rt::CLng(connectedFid));
                result->Add(rt::Variant(assembly->OpenFeature()));
            }
        }
        return rt::Variant(result);
    }

    const std::string sql = "SELECT * FROM " + supportTable_ + " WHERE " + SearchedEnd().fno + " = ? AND " +
                            SearchedEnd().id + " = ?";
    targetFno_ = fno;
    targetFid_ = fid;
    auto self = std::dynamic_pointer_cast<IRecordsetEvaluator>(shared_from_this());
    auto rows = assembly->OpenSyncedRecordsetArray(supportCno_, self, sql,
                                                   rt::Variant::ArrayOf({rt::Variant(fno), rt::Variant(fid)}));
    if (rows && !IsEmptySet(rows)) {
        for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
            assembly->put_FeatureID(rt::CLng(rows->GetValue(rt::Variant("QTX_FID"))));
            assembly->put_FeatureNumber(rt::CInt(rows->GetValue(rt::Variant("QTX_FNO"))));
            result->Add(rt::Variant(assembly->OpenFeature()));
        }
    }
    return rt::Variant(result);
}

void NodeOrdConnADO::putref_Fields(const std::shared_ptr<ado::Fields>& Fields) {
    RequireObjects(Fields);
    evaluatedFno_ = Fields->Item(SearchedEnd().fno);
    evaluatedId_ = Fields->Item(SearchedEnd().id);
}

bool NodeOrdConnADO::Evaluate() {
    if (!evaluatedFno_ || !evaluatedId_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return connectivity::Holds(evaluatedFno_->get_Value(), targetFno_) &&
           connectivity::Holds(evaluatedId_->get_Value(), targetFid_);
}

}  // namespace pelmora
