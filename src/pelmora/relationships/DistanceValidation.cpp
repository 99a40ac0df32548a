#include "pelmora/relationships/DistanceValidation.h"

#include "ado/Recordset.h"
#include "pelmora/common/modRelationshipService.h"
#include "interfaces/KeyObject.h"
#include "pelmora/relationships/FilterRemover.h"
#include "pelmora/validation/modFeatureValidationService.h"
#include "pelmora/validation/modFeatureValidationServiceGeometry.h"
#include "pelmora/validation/modFeatureValidationServiceSet.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kProcedure = "DistanceValidation";

std::string DefaultPriority(OffsetProfile::Priority rule, int32_t kind) {
    switch (rule) {
        case OffsetProfile::Priority::Warning:
            return GetValidationMessage(kWarningPriorityMessage);
        case OffsetProfile::Priority::WarningEmptyOrError:
            if (kind == 5) return "";
            [[fallthrough]];
        case OffsetProfile::Priority::WarningOrError:
            break;
    }
    return GetValidationMessage(kind == 0 ? kWarningPriorityMessage : kErrorPriorityMessage);
}

int16_t StoredKind(OffsetProfile::StoredKind rule, int32_t kind) {
    switch (rule) {
        case OffsetProfile::StoredKind::Zero:
            return 0;
        case OffsetProfile::StoredKind::ZeroOrOne:
            return kind != 0 ? 1 : 0;
        case OffsetProfile::StoredKind::Unchanged:
            break;
    }
    return rt::CInt(rt::Variant(kind));
}

std::shared_ptr<ado::Field> FieldOf(const std::shared_ptr<ado::Recordset>& rs, const std::string& name) {
    return rs->get_Fields()->Item(name);
}

}  // namespace

OffsetProfile OffsetProfile::For(OffsetHelper helper, bool subordinate) {
    OffsetProfile p;
    switch (helper) {
        case OffsetHelper::NEConnectivity:
        case OffsetHelper::NodeOrdConnADO:
            p.ActiveFNOColumn = "QTX_SOURCEFNO";
            p.ActiveTriggeringColumn = "QTX_TRIGGERINGCNO";
            p.RelatedFNOColumn = "QTX_CONNECTINGFNO";
            p.RelatedTriggeringColumn = "QTX_CONNECTINGTRIGGERINGCNO";
            break;
        case OffsetHelper::Ownership:
        case OffsetHelper::M2MOwnership: {
            std::pair<std::string, std::string> owned{"QTX_SOURCEFNO", "QTX_TRIGGERINGCNO"};
            std::pair<std::string, std::string> owner{"QTX_OWNERFNO", "QTX_OWNERTRIGGERINGCNO"};
            if (!subordinate) std::swap(owned, owner);
            p.ActiveFNOColumn = owned.first;
            p.ActiveTriggeringColumn = owned.second;
            p.RelatedFNOColumn = owner.first;
            p.RelatedTriggeringColumn = owner.second;
            break;
        }
    }
    p.SourceFNOColumn = "QTX_SOURCEFNO";
    switch (helper) {
        case OffsetHelper::NEConnectivity:
            p.DebugTag = "NEC";
            break;
        case OffsetHelper::Ownership:
            p.DebugTag = "OWN";
            break;
        case OffsetHelper::NodeOrdConnADO:
            p.DefaultPriority = Priority::WarningOrError;
            p.Kind = StoredKind::ZeroOrOne;
            p.AllowInterior = Interior::Never;
            p.DebugTag = "NOC";
            break;
        case OffsetHelper::M2MOwnership:
            p.DefaultPriority = Priority::Warning;
            p.Kind = StoredKind::Zero;
            p.AllowInterior = Interior::Always;
            p.DebugTag = "MMO";
            break;
    }
    return p;
}

std::vector<OffsetRule> GetOffsetRules(const DistanceValidationContext& context, const OffsetProfile& profile,
                                       int16_t activeFNO, int16_t relatedFNO, int32_t kind, bool& found) {
    if (!context.RuleTable) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    ado::Recordset& rules = *context.RuleTable;

    OffsetRule rule;
    rule.Kind = StoredKind(profile.Kind, kind);
    const bool sourceIsActive = profile.SourceFNOColumn == profile.ActiveFNOColumn;
    rule.SourceFNO = sourceIsActive ? activeFNO : relatedFNO;
    rule.OtherFNO = sourceIsActive ? relatedFNO : activeFNO;
    rule.AllowInterior = profile.AllowInterior == OffsetProfile::Interior::Always;
    found = false;

    std::vector<OffsetRule> list;
    FilterRemover unfilter(context.RuleTable);
    const std::string filter = profile.ActiveFNOColumn + " = " + std::to_string(activeFNO) + " AND " +
                               profile.RelatedFNOColumn + " = " + std::to_string(relatedFNO);
    const std::string key = profile.DebugTag + '\x1f' + filter + '\x1f' + std::to_string(kind);
    if (context.Run) {
        if (auto kept = context.Run->offsetRules.find(key); kept != context.Run->offsetRules.end()) {
            found = kept->second.second;
            return kept->second.first;
        }
    }
    auto keep = [&] {
        if (context.Run) context.Run->offsetRules.emplace(key, std::make_pair(list, found));
        return list;
    };
    const std::string defaultPriority = DefaultPriority(profile.DefaultPriority, kind);
    rules.put_Filter(rt::Variant(filter));
    if (rules.get_RecordCount() < 1) return keep();
    list.reserve(static_cast<size_t>(rules.get_RecordCount()));
    for (rules.MoveFirst(); !rules.get_EOF(); rules.MoveNext()) {
        const rt::Variant offset = rules.GetValue(rt::Variant("QTX_MAXOFFSET"));
        rule.MaxOffset = offset.IsNull() ? 0.0 : rt::CDbl(offset);
        if (rule.MaxOffset < 0) rule.MaxOffset = 0;
        if (rule.MaxOffset > 0) found = true;

        const rt::Variant priority = rules.GetValue(rt::Variant("QTX_OFFSETVALIDATIONPRIORITY"));
        rule.Priority = priority.IsNull() ? defaultPriority : rt::CStr(priority);

        // A Null triggering component keeps the one of the row before.
        const rt::Variant active = rules.GetValue(rt::Variant(profile.ActiveTriggeringColumn));
        if (!active.IsNull()) rule.TriggeringCNO = rt::CInt(active);
        const rt::Variant related = rules.GetValue(rt::Variant(profile.RelatedTriggeringColumn));
        if (!related.IsNull()) rule.OtherTriggeringCNO = rt::CInt(related);

        if (profile.AllowInterior == OffsetProfile::Interior::FromColumn) {
            const rt::Variant interior = rules.GetValue(rt::Variant("QTX_ALLOWINTERIORRELATION"));
            rule.AllowInterior = !interior.IsNull() && rt::CDbl(interior) != 0;
        }
        list.push_back(rule);
    }
    return keep();
}

void DistanceValidation(const DistanceValidationContext& context, const OffsetProfile& profile,
                        const std::shared_ptr<IKeyObject>& feature, const std::shared_ptr<IKeyObjects>& relatedFeatures,
                        int32_t kind, const std::shared_ptr<ado::Recordset>& errors) {
    if (!feature || !relatedFeatures || !context.RuleTable) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    const auto& rules = context.RuleTable;
    const auto activeFNOField = FieldOf(rules, profile.ActiveFNOColumn);
    const auto activeTriggeringField = FieldOf(rules, profile.ActiveTriggeringColumn);
    const auto relatedFNOField = FieldOf(rules, profile.RelatedFNOColumn);
    const auto relatedTriggeringField = FieldOf(rules, profile.RelatedTriggeringColumn);

    ComponentGeometryMemo* const memo = context.Run ? &context.Run->geometries : nullptr;
    std::shared_ptr<rt::Collection> activeGeometries;
    int16_t lastTriggeringCNO = 0;
    for (const auto& related : relatedFeatures->get_NewEnum()) {
        if (!related) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        int16_t activeCNO = 0, relatedCNO = 0;
        bool found = false;
        const std::vector<OffsetRule> pairRules =
            GetOffsetRules(context, profile, feature->get_FNO(), related->get_FNO(), kind, found);
        if (!found || pairRules.empty()) continue;

        // One offset for every rule: one check over all triggering components.
        bool sameOffset = true;
        for (const OffsetRule& r : pairRules) sameOffset = sameOffset && r.MaxOffset == pairRules.front().MaxOffset;
        const size_t processed = sameOffset ? 1 : pairRules.size();

        for (size_t i = 0; i < processed; ++i) {
            const OffsetRule& rule = pairRules[i];
            if (rule.MaxOffset == 0) continue;
            if (!sameOffset) {
                activeCNO = rule.TriggeringCNO;
                relatedCNO = rule.OtherTriggeringCNO;
            }
            if (activeGeometries) {
                if (activeCNO == lastTriggeringCNO) {
                    DebugTrace(profile.DebugTag, kProcedure,
                               "Already retrieved active triggering components. No need to requery since triggering "
                               "CNO value is the same.");
                } else {
                    DebugTrace(profile.DebugTag, kProcedure,
                               "Already retrieved active triggering components. Need to requery since triggering CNO "
                               "value differs from last time.");
                    activeGeometries.reset();
                }
            }
            lastTriggeringCNO = activeCNO;
            if (!activeGeometries)
                activeGeometries = GetFeatureGeometries(feature, rules, context.MetadataService, context.FilterService,
                                                        activeFNOField, activeTriggeringField, activeCNO,
                                                        memo);
            auto relatedGeometries = GetFeatureGeometries(related, rules, context.MetadataService,
                                                          context.FilterService, relatedFNOField,
                                                          relatedTriggeringField, relatedCNO,
                                                          memo);
            if (relatedGeometries->Count() > 0 && activeGeometries->Count() > 0)
                ValidateEndpointConnectivity(feature, activeGeometries, rule.TriggeringCNO, related, relatedGeometries,
                                             rule.OtherTriggeringCNO, rule.MaxOffset, context.Location,
                                             context.Connection, rule.Priority, rt::Variant(rule.AllowInterior),
                                             context.MetadataService, errors,
                                             memo);
        }
    }
}

}  // namespace pelmora
