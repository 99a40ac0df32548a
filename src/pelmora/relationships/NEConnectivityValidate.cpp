// Node-edge connectivity: the walk over the pending features of a validation
// set and the node, pipeline and endpoint checks. Each check after the
// support recordset is found runs under its own guard, as the walk goes on
// past a failing step; a check that fails counts as passed, so the checks
// that depend on it still run.
#include <algorithm>

#include "ado/Recordset.h"
#include "pelmora/common/ScopeExit.h"
#include "pelmora/common/modADOUtils.h"
#include "pelmora/extensions/RGIHelper.h"
#include "pelmora/features/ComponentClone.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "pelmora/relationships/ConnectivityValues.h"
#include "pelmora/relationships/DistanceValidation.h"
#include "pelmora/relationships/NEConnectivity.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceGeometry.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "runtime/Collection.h"
#include "runtime/Error.h"
#include "runtime/ScopedValue.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

using connectivity::IsEmptySet;
using connectivity::NodeValue;

constexpr int16_t kNoRuleMessage = 15730;
constexpr int16_t kNodesNotSetMessage = 15731;
constexpr int16_t kUnconnectedNodeMessage = 15733;
constexpr int16_t kPipelineMessage = 20951;
constexpr int16_t kEndpointMessage = 24755;
constexpr int16_t kSingleNodeMessage = 24830;

std::string Text(const std::shared_ptr<ado::Recordset>& rs, const char* column) {
    const rt::Variant v = ValueOf(rs, column);
    return IsNullOrEmpty(v) ? std::string() : rt::CStr(v);
}

}  // namespace

void NEConnectivity::Validate(const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<IComponents>& Components,
                              const std::shared_ptr<ado::Recordset>& ValidationSet, const std::shared_ptr<rt::Collection>&,
                              const std::shared_ptr<ado::Recordset>& Errors) {
    ValidateScope validating(*this);
    RequireObjects(featureComponents_, ruleTable_);
    FilterService().FilterRecordset(featureComponents_, featureComponents_->get_Fields()->Item("QTX_CNO"),
                                    RowValue("QTX_SUPPORTCNO"));
    supportComponentName_ = rt::CStr(ValueOf(featureComponents_, "QTX_NAME"));

    // A feature at the node of many is read once, a pair's rules once, the
    // geometry interfaces' rule rows once per FNO.
    DistanceRun run;
    ValidateRun reads;
    RGIHelper::RunRecordsScope rgiRecords;
    // A call made back from an extension during this one keeps its own
    // reads; this call finds its own again when that one returns.
    const rt::ScopedValue<DistanceRun*> keptRun(run_, &run);
    const rt::ScopedValue<ValidateRun*> keptReads(validateRun_, &reads);

    rt::ResumeNext step;
    // Without the support component among the set's components nothing is
    // checked.
    if (!step([&] {
            // A caller's own collection may answer Nothing for a name it lacks.
            ComponentNamed(Components, supportComponentName_)->get_Recordset();
        }))
        return;
    std::shared_ptr<ado::Field> fno, fid, pending;
    // A caller's own collection may say it holds more than it does: no more
    // room than the set has rows.
    if (Features && ValidationSet)
        step([&] {
            const int32_t rows = std::max(ValidationSet->get_RecordCount(), 0);
            run.geometries.Reserve(static_cast<size_t>(std::clamp(Features->get_Count(), 0, rows)));
        });
    if (!step([&] {
            RequireObjects(ValidationSet);
            fno = ValidationSet->get_Fields()->Item("QTX_FNO");
            fid = ValidationSet->get_Fields()->Item("QTX_FID");
            pending = ValidationSet->get_Fields()->Item("PENDING");
            if (!IsEmptySet(ValidationSet)) ValidationSet->MoveFirst();
        }))
        return;

    int32_t kind = 0;
    int16_t triggeringType = 0;
    NodeList nodes;
    const int16_t relationshipType = rt::CInt(RowValue("QTX_TYPE"));
    for (;;) {
        // A walk that cannot read or move ends: resuming would loop forever.
        bool more = false;
        int16_t rowFno = 0;
        int32_t rowFid = 0;
        if (!step([&] {
                if (ValidationSet->get_EOF()) return;
                const rt::Variant flag = pending->get_Value();
                auto order = rt::VbCompare(flag, rt::Variant(int32_t{0}));
                if (order && *order == 0) return;
                rowFno = rt::CInt(fno->get_Value());
                rowFid = rt::CLng(fid->get_Value());
                more = true;
            }) ||
            !more)
            break;
        bool source = false;
        step([&] { source = IsSourceFno(rowFno); });
        std::shared_ptr<IKeyObject> feature = source ? FindKeyObject(Features, rowFno, rowFid) : nullptr;
        // A feature the helper cannot take is skipped: every check below
        // reads the helper's feature.
        if (feature && TakeFeature(feature)) {
            std::shared_ptr<ado::Recordset> support;
            step([&] {
                support = SupportRows(feature);
                feature->put_CNO(rt::CInt(ValueOf(support, "QTX_CNO")));
                feature->put_CID(rt::CInt(ValueOf(support, "QTX_CID")));
            });
            step([&] { kind = GetEnforcement(feature); });
            nodes.clear();
            step([&] { ValidateNodeCount(feature, support, nodes, kind, Errors); });
            step([&] { triggeringType = GetTriggeringComponentType(feature); });
            step([&] {
                RequireObjects(support);  // the feature's own support rows may have failed above
                support->MoveFirst();
            });
            bool valuesSet = true;
            step([&] { valuesSet = ValidateNodeValues(nodes, kind, triggeringType, support, Errors); });
            if (valuesSet) {
                std::shared_ptr<IKeyObjects> related;
                step([&] { related = GetRelatedFeatures(ValidationSet, Features, relationshipNumber_); });
                bool connected = true;
                step([&] { connected = ValidatePipelineConnectivity(nodes, kind, Errors, related); });
                if (connected) {
                    step([&] { CheckDistances(related, kind, Errors); });
                    step([&] {
                        ValidateRelationshipAttributes(feature, related, relationshipType, dataContext_, name_,
                                                       configuration_, Errors);
                    });
                    step([&] { ValidateEndpoints(nodes, related, Errors); });
                    if (!step([&] { ValidatePhases(nodes, related, Errors); }) &&
                        step.LastError().Source() == kPhaseNameSource)
                        throw step.LastError();
                }
            }
            RunRelationshipGeometryInterfaces(Errors);
            step([&] {
                auto component = FeatureComponent(feature, supportComponentName_);
                rt::QueryInterface<ComponentClone>(component)->ReleaseRecordset();
            });
        }
        if (!step([&] { ValidationSet->MoveNext(); })) break;
    }
}

void NEConnectivity::RunRelationshipGeometryInterfaces(const std::shared_ptr<ado::Recordset>& Errors) {
    rt::ResumeNext step;
    // Fresh arrays per feature: a host that fails before it fills them must
    // not hand the findings of the feature before to this one.
    rt::Variant priorities = rt::Variant::ArrayOf({rt::Variant("")});
    rt::Variant messages = rt::Variant::ArrayOf({rt::Variant("")});
    auto self = std::dynamic_pointer_cast<IRelationshipHelper>(shared_from_this());
    step([&] { rgiHelper_->Initialize(self); });
    step([&] { rgiHelper_->Validate(self, priorities, messages); });
    step([&] {
        if (ArrayElementText(priorities, rt::LBound(priorities)).empty()) return;
        RequireObjects(feature_);  // the interface may have set the helper's feature to Nothing
        const std::string fno = std::to_string(feature_->get_FNO());
        const std::string fid = std::to_string(feature_->get_FID());
        for (int32_t i = rt::LBound(priorities); i <= rt::UBound(priorities); ++i)
            AddValidationError(Errors, ArrayElementText(priorities, i), ArrayElementText(messages, i), name_,
                               configuration_, fno, fid, "", "");
    });
}

void NEConnectivity::CheckDistances(const std::shared_ptr<IKeyObjects>& Related, int32_t Kind,
                                    const std::shared_ptr<ado::Recordset>& Errors) {
    const DistanceValidationContext context{ruleTable_, MetadataService(), filterService_, name_, configuration_, run_};
    DistanceValidation(context, OffsetProfile::For(OffsetHelper::NEConnectivity), feature_, Related, Kind, Errors);
}

bool NEConnectivity::IsSourceFno(int16_t FNO) {
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item("QTX_SOURCEFNO"), rt::Variant(FNO));
    const bool any = ruleTable_->get_RecordCount() > 0;
    ruleTable_->put_Filter(rt::Variant(int32_t{0}));
    return any;
}

int32_t NEConnectivity::GetEnforcement(const std::shared_ptr<IKeyObject>& Feature) {
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item("QTX_SOURCEFNO"),
                                    rt::Variant(Feature->get_FNO()));
    if (IsEmptySet(ruleTable_)) return 1;
    ruleTable_->MoveFirst();
    const rt::Variant enforcement = ValueOf(ruleTable_, "QTX_ENFORCEMENT");
    return IsNullOrEmpty(enforcement) ? 1 : rt::CLng(enforcement);
}

int16_t NEConnectivity::GetTriggeringComponentType(const std::shared_ptr<IKeyObject>& Feature) {
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item("QTX_SOURCEFNO"),
                                    rt::Variant(Feature->get_FNO()));
    if (IsEmptySet(ruleTable_)) return 0;
    ruleTable_->MoveFirst();
    FilterService().FilterRecordset(featureComponents_, featureComponents_->get_Fields()->Item("QTX_CNO"),
                                    ValueOf(ruleTable_, "QTX_TRIGGERINGCNO"));
    if (IsEmptySet(featureComponents_)) return 0;
    return rt::CInt(ValueOf(featureComponents_, "QTX_TYPE"));
}

void NEConnectivity::ValidateNodeCount(const std::shared_ptr<IKeyObject>& Feature,
                                       const std::shared_ptr<ado::Recordset>& Support, NodeList& Nodes, int32_t Kind,
                                       const std::shared_ptr<ado::Recordset>& Errors) {
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item("QTX_SOURCEFNO"),
                                    rt::Variant(Feature->get_FNO()));
    if (IsEmptySet(ruleTable_)) {
        if (Errors)
            Record(kNoRuleMessage, kNoRuleMessage, Kind, std::to_string(Feature->get_FNO()),
                   std::to_string(Feature->get_FID()), "", "", Errors, rt::Variant::Missing());
        else
            Nodes.clear();  // a related feature's list: no rule, no nodes
        return;
    }
    if (!Support) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    const bool noRows = IsEmptySet(Support);
    if (!noRows) Support->MoveFirst();
    ruleTable_->MoveFirst();
    const int16_t count = rt::CInt(ValueOf(ruleTable_, "QTX_NUMBEROFNODES"));
    Nodes.assign(count > 0 ? count : 0, 0);
    if (noRows || count < 1) return;

    if (count == 1) {
        Nodes[0] = NodeValue(ValueOf(Support, nodeColumn1_));
        const rt::Variant second = ValueOf(Support, nodeColumn2_);
        bool inconsistent;
        if (IsNullOrEmpty(second)) {
            inconsistent = Nodes[0] != 0;
        } else {
            const int32_t value = rt::CLng(second);
            inconsistent = Nodes[0] != value;
            if (Nodes[0] == 0) Nodes[0] = value;
        }
        if (inconsistent && Errors)
            Record(kSingleNodeMessage, kSingleNodeMessage, Kind, Text(Support, "QTX_FNO"), Text(Support, "QTX_FID"),
                   Text(Support, "QTX_CNO"), Text(Support, "QTX_CID"), Errors, rt::Variant::Missing(),
                   GetFeatureUserName(MetadataService(), Feature->get_FNO()), std::to_string(Feature->get_FID()));
    } else if (count == 2) {
        Nodes[0] = NodeValue(ValueOf(Support, nodeColumn1_));
        Nodes[1] = NodeValue(ValueOf(Support, nodeColumn2_));
    } else {
        // Rows by instance: CID 1 holds nodes 1 and 2, CID j the node j + 1.
        size_t k = 0;
        const int32_t rows = GetRecordCount(Support);
        for (int32_t j = 1; j <= rows && j < count; ++j) {
            Support->MoveFirst();
            while (!Support->get_EOF() && rt::CLng(ValueOf(Support, "QTX_CID")) != j) Support->MoveNext();
            if (j == 1) Nodes[k++] = NodeValue(ValueOf(Support, nodeColumn1_));
            Nodes[k++] = NodeValue(ValueOf(Support, nodeColumn2_));
        }
    }
}

bool NEConnectivity::ValidateNodeValues(const NodeList& Nodes, int32_t Kind, int16_t TriggeringType,
                                        const std::shared_ptr<ado::Recordset>& Support,
                                        const std::shared_ptr<ado::Recordset>& Errors) {
    const auto zeros = std::count(Nodes.begin(), Nodes.end(), 0);
    if (zeros == 0) return true;
    const bool allZero = static_cast<size_t>(zeros) == Nodes.size();
    // A gap in the nodes is only a warning, unless the triggering component
    // is of type 4 or 128.
    const int32_t kind = allZero || TriggeringType == 4 || TriggeringType == 128 ? Kind : 0;
    Record(kNodesNotSetMessage, kNoRuleMessage, kind, Text(Support, "QTX_FNO"), Text(Support, "QTX_FID"),
           Text(Support, "QTX_CNO"), Text(Support, "QTX_CID"), Errors, rt::Variant::Missing());
    return !allZero;
}

bool NEConnectivity::ValidatePipelineConnectivity(const NodeList& Nodes, int32_t Kind,
                                                  const std::shared_ptr<ado::Recordset>& Errors,
                                                  const std::shared_ptr<IKeyObjects>& Related) {
    // No parameter row: the switch is off, not a failure of the check.
    bool pipeline = false;
    std::string switchText;
    rt::ResumeNext lookup;
    if (lookup([&] { switchText = AdditionalParameter("-PipelineConnectivity"); }))
        pipeline = rt::CInt(rt::Variant(switchText)) > 0;
    RequireObjects(feature_);
    const std::string fno = std::to_string(feature_->get_FNO());
    const std::string fid = std::to_string(feature_->get_FID());
    bool result = true;
    for (int32_t node : Nodes) {
        if (node == 0) continue;
        const int32_t count = CountNodeMatches(node, Related, pipeline);
        if (count == 0) {
            Record(kUnconnectedNodeMessage, kUnconnectedNodeMessage, Kind, fno, fid, "", "", Errors,
                   rt::Variant::Missing(), std::to_string(node));
            return false;
        }
        if (pipeline && Nodes.size() >= 2 && count >= 2) {
            Record(kPipelineMessage, kPipelineMessage, Kind, fno, fid, "", "", Errors, rt::Variant::Missing(),
                   std::to_string(node));
            result = false;
        }
    }
    return result;
}

int32_t NEConnectivity::CountNodeMatches(int32_t Node, const std::shared_ptr<IKeyObjects>& Related, bool Pipeline) {
    if (!Related) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    int32_t count = 0;
    for (const auto& feature : Related->get_NewEnum()) {
        auto rows = SupportRows(feature);
        if (rows->get_RecordCount() <= 0) continue;
        rows->MoveFirst();
        if (connectivity::Holds(ValueOf(rows, nodeColumn2_), Node) || connectivity::Holds(ValueOf(rows, nodeColumn1_), Node)) {
            ++count;
            if (!Pipeline) break;
        }
    }
    return count;
}

void NEConnectivity::ValidateEndpoints(const NodeList& Nodes, const std::shared_ptr<IKeyObjects>& Related,
                                       const std::shared_ptr<ado::Recordset>& Errors) {
    if (Nodes.size() < 2) return;
    if (!Related || !feature_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    std::string priority;
    rt::ResumeNext lookup;
    if (!lookup([&] { priority = AdditionalParameter("-EndpointValidationPriority"); }))
        priority = GetValidationMessage(kWarningPriorityMessage);
    auto metadata = MetadataService();
    auto fields = ruleTable_->get_Fields();
    int16_t activeCno = 0;
    auto active = GetFeatureGeometries(feature_, ruleTable_, metadata, filterService_, fields->Item("QTX_SOURCEFNO"),
                                       fields->Item("QTX_TRIGGERINGCNO"), activeCno,
                                       run_ ? &run_->geometries : nullptr);
    if (active->Count() != 1) return;
    const rt::ObjectPtr geometryA = active->Item(rt::Variant(int32_t{1})).Obj();
    for (const auto& relatedFeature : Related->get_NewEnum()) {
        int16_t relatedCno = 0;
        auto other = GetFeatureGeometries(relatedFeature, ruleTable_, metadata, filterService_,
                                          fields->Item("QTX_CONNECTINGFNO"), fields->Item("QTX_CONNECTINGTRIGGERINGCNO"),
                                          relatedCno, run_ ? &run_->geometries : nullptr);
        if (other->Count() != 1) continue;
        NodeList relatedNodes;
        ValidateNodeCount(relatedFeature, SupportRows(relatedFeature), relatedNodes, 0, nullptr);
        // This pair's node, 0 when the two share none.
        const SharedNode shared =
            FindSharedNode(geometryA, Nodes, other->Item(rt::Variant(int32_t{1})).Obj(), relatedNodes);
        if (shared.atEndpoint) continue;
        Record(kEndpointMessage, kEndpointMessage, 0, std::to_string(feature_->get_FNO()),
               std::to_string(feature_->get_FID()), "", "", Errors, rt::Variant(priority),
               std::to_string(shared.node), FeatureText(feature_), FeatureText(relatedFeature));
    }
}

NEConnectivity::SharedNode NEConnectivity::FindSharedNode(const rt::ObjectPtr& GeometryA, const NodeList& A,
                                                          const rt::ObjectPtr& GeometryB, const NodeList& B) {
    SharedNode found;
    for (size_t i = 0; i < A.size(); ++i) {
        if (A[i] == 0) continue;
        auto j = std::find(B.begin(), B.end(), A[i]);
        if (j == B.end()) continue;
        found.node = A[i];
        found.atEndpoint = IsConnectedAtEndpoint(GeometryA, static_cast<int16_t>(i + 1), GeometryB,
                                                 static_cast<int16_t>(j - B.begin() + 1));
        break;
    }
    return found;
}

bool NEConnectivity::ArrayContainsValue(int32_t Value, const NodeList& Nodes) {
    return std::find(Nodes.begin(), Nodes.end(), Value) != Nodes.end();
}

}  // namespace pelmora
