// Node-edge connectivity: loading, candidates and the review of the features
// connected at each node. Validation stands in NEConnectivityValidate.cpp,
// the phase check in NEConnectivityPhases.cpp.
#include "pelmora/relationships/NEConnectivity.h"

#include "ado/Recordset.h"
#include "pelmora/relationships/ConnectivityValues.h"
#include "pelmora/extensions/RGIHelper.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/KeyObject.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "pelmora/relationships/ConnectivityNames.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "runtime/Collection.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

using connectivity::IsEmptySet;

}  // namespace

rt::Variant NEConnectivity::CandidateFeatures(const std::shared_ptr<IKeyObject>& Feature) {
    RequireObjects(Feature, ruleTable_);
    ruleTable_->put_Filter(rt::Variant("QTX_SOURCEFNO = " + std::to_string(Feature->get_FNO())));
    const int32_t count = ruleTable_->get_RecordCount();
    if (count <= 0) return rt::Variant::UnallocatedArray(rt::vbInteger);
    rt::Variant numbers = rt::Variant::MakeArray(rt::vbInteger, 1, count);
    auto connecting = ruleTable_->get_Fields()->Item("QTX_CONNECTINGFNO");
    int32_t i = 1;
    for (ruleTable_->MoveFirst(); !ruleTable_->get_EOF() && i <= count; ruleTable_->MoveNext())
        numbers.ArrayMut()->Set(i++, rt::Variant(rt::CInt(connecting->get_Value())));
    return numbers;
}

void NEConnectivity::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    RelationshipHelperBase::putref_DataContext(DataContext);
    featureComponents_ = TakeMetadataRecordset("QTX_FEATURECOMPS_OPTABLE");
    additionalParameters_ = TakeMetadataRecordset("QTX_ADD_REL_PARAMS_OPTABLE");
    configuration_ = MetadataService()->get_Configuration();
}

void NEConnectivity::put_RelationshipNumber(int16_t RelationshipNumber) {
    RelationshipHelperBase::put_RelationshipNumber(RelationshipNumber);
    // "first,second,rest": Left and Mid fail with 5 where a comma is missing,
    // as the split by InStr does.
    const std::string parameters = RowText("QTX_ADDITIONALPARAMETERS");
    const int32_t p1 = rt::InStr(parameters, ",");
    const int32_t p2 = rt::InStr(parameters, ",", p1 + 1);
    std::string first = rt::Left(parameters, p1 - 1);
    std::string second = rt::Mid(parameters, p1 + 1, p2 - p1 - 1);
    std::string third = rt::Mid(parameters, p2 + 1);
    const std::string source = "NEConnectivity.RelationshipNumber";
    first = PlainColumnName(first, source, "node column 1");
    second = PlainColumnName(second, source, "node column 2");
    nodeColumn1_ = std::move(first);
    nodeColumn2_ = std::move(second);
    thirdParameter_ = std::move(third);
    ruleTable_->put_Filter(rt::Variant(int32_t{0}));
    rgiHelper_ = std::make_shared<RGIHelper>();
}

rt::Variant NEConnectivity::ReviewRelationship(const std::shared_ptr<IKeyObject>& Feature) {
    RequireObjects(Feature, featureComponents_, ruleTable_);
    auto assembly = std::make_shared<FeatureAssemblyService>();
    assembly->putref_DataContext(dataContext_);
    auto result = rt::Collection::New();
    const int32_t fid = Feature->get_FID();

    FilterService().FilterRecordset(featureComponents_, featureComponents_->get_Fields()->Item("QTX_CNO"),
                                    RowValue("QTX_SUPPORTCNO"));
    const std::string supportName = rt::CStr(featureComponents_->GetValue(rt::Variant("QTX_NAME")));
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item("QTX_SOURCEFNO"),
                                    rt::Variant(Feature->get_FNO()));
    if (!IsEmptySet(ruleTable_)) {
        ruleTable_->MoveFirst();
        const int16_t count = rt::CInt(ruleTable_->GetValue(rt::Variant("QTX_NUMBEROFNODES")));
        NodeList nodes(count > 0 ? count : 0, 0);
        auto rows = FeatureComponentRows(Feature, supportName);
        // A feature without support rows has no nodes, not even markers.
        if (IsEmptySet(rows)) nodes.clear();
        if (!nodes.empty()) {
            rows->MoveFirst();
            const std::string table =
                PlainTableName(rt::CStr(featureComponents_->GetValue(rt::Variant("QTX_TABLE"))),
                               "NEConnectivity.ReviewRelationship");
            std::string sql = "SELECT * FROM " + table + " WHERE (";
            std::vector<rt::Variant> parameters;
            // Node 0 and node 1 come from the first row, node k (k of 2 or
            // more) from the second column of row k.
            const std::string* column = &nodeColumn1_;
            for (size_t i = 0; i < nodes.size(); ++i) {
                const rt::Variant value = rows->GetValue(rt::Variant(*column));
                if (i == 0)
                    column = &nodeColumn2_;
                else
                    rows->MoveNext();
                if (!value.IsNull()) nodes[i] = rt::CLng(value);
                if (nodes[i] == 0) continue;
                if (sql.back() != '(') sql += " OR ";
                sql += nodeColumn1_ + " = ? OR " + nodeColumn2_ + " = ?";
                parameters.emplace_back(nodes[i]);
                parameters.emplace_back(nodes[i]);
            }
            if (sql.back() != '(') {
                sql += ") AND QTX_FID <> ?";
                parameters.emplace_back(fid);
                rt::Variant values = rt::Variant::ArrayOf(parameters, 0);
                rows = dataContext_->OpenParameterizedRecordset(sql, 3, 4, 8, values);
            }
        }
        for (size_t i = 0; i < nodes.size(); ++i) {
            auto marker = KeyObject::New();
            marker->put_FNO(-1);
            marker->put_FID(static_cast<int32_t>(i + 1));
            result->Add(rt::Variant(marker));
            if (nodes[i] == 0 || IsEmptySet(rows)) continue;
            for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
                if (!connectivity::Holds(rows->GetValue(rt::Variant(nodeColumn2_)), nodes[i]) &&
                    !connectivity::Holds(rows->GetValue(rt::Variant(nodeColumn1_)), nodes[i]))
                    continue;
                assembly->put_FeatureNumber(rt::CInt(rows->GetValue(rt::Variant("QTX_FNO"))));
                assembly->put_FeatureID(rt::CLng(rows->GetValue(rt::Variant("QTX_FID"))));
                result->Add(rt::Variant(assembly->OpenFeature()));
            }
        }
    }
    featureComponents_->put_Filter(rt::Variant(int32_t{0}));
    ruleTable_->put_Filter(rt::Variant(int32_t{0}));
    return rt::Variant(result);
}

// ---- shared ----

std::shared_ptr<ado::Recordset> NEConnectivity::SupportRows(const std::shared_ptr<IKeyObject>& Feature) const {
    return FeatureComponentRows(Feature, supportComponentName_);
}

std::string NEConnectivity::AdditionalParameter(const std::string& Suffix) const {
    const std::string name = std::to_string(relationshipNumber_) + Suffix;
    if (!validateRun_) return GetAddRelParamValue(MetadataService(), name);
    auto kept = validateRun_->parameters.find(name);
    if (kept == validateRun_->parameters.end()) {
        auto cell = ValidateRun::Cell::Of([&] { return rt::Variant(GetAddRelParamValue(MetadataService(), name)); });
        kept = validateRun_->parameters.emplace(name, std::move(cell)).first;
    }
    return kept->second.Get().Str();
}

std::string NEConnectivity::FeatureText(const std::shared_ptr<IKeyObject>& Feature) const {
    return GetFeatureUserName(MetadataService(), Feature->get_FNO()) + " " + std::to_string(Feature->get_FID());
}

void NEConnectivity::Record(int16_t MsgIdA, int16_t MsgIdB, int32_t Kind, const std::string& FNO,
                            const std::string& FID, const std::string& CNO, const std::string& CID,
                            const std::shared_ptr<ado::Recordset>& Errors, const rt::Variant& Priority,
                            const std::string& Name1, const std::string& Name2, const std::string& Name3) const {
    AddRelationshipValidationError(MsgIdA, MsgIdB, Kind, name_, configuration_, FNO, FID, CNO, CID, Errors, Priority,
                                   Name1, Name2, Name3, "");
}

}  // namespace pelmora
