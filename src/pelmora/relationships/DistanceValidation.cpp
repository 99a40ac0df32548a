#include "pelmora/relationships/DistanceValidation.h"

#include "ado/Recordset.h"
#include "pelmora/common/modRelationshipService.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataRecordsetFilterService.h"
#include "pelmora/relationships/FilterRemover.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceGeometry.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
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

// The run of the context, its reads dropped when they were another table's:
// what was read from another table's rows stands for none of this one's.
DistanceRun* RunOf(const DistanceValidationContext& context) {
    DistanceRun* run = context.Run;
    if (run && run->ruleFields.table != context.RuleTable) {
        run->offsetRules.clear();
        run->componentNames.clear();
        run->ruleFields.byName.clear();
        run->ruleFields.table = context.RuleTable;
    }
    return run;
}

// A column of the rule table; in a run, each found once for the table.
std::shared_ptr<ado::Field> RuleField(const DistanceValidationContext& context, const std::string& name) {
    if (!RunOf(context)) return FieldOf(context.RuleTable, name);
    auto& kept = context.Run->ruleFields;
    if (auto hit = kept.byName.find(name); hit != kept.byName.end()) return hit->second;
    auto field = FieldOf(context.RuleTable, name);
    kept.byName.emplace(name, field);
    return field;
}

std::string RunKey(const OffsetProfile& profile, const std::string& filter, int32_t kind) {
    return profile.DebugTag + '\x1f' + filter + '\x1f' + std::to_string(kind);
}

std::string PairFilter(const OffsetProfile& profile, int16_t activeFNO, int16_t relatedFNO) {
    return profile.ActiveFNOColumn + " = " + std::to_string(activeFNO) + " AND " + profile.RelatedFNOColumn + " = " +
           std::to_string(relatedFNO);
}

// Where a run's call leaves the rule table. A read from what the run kept
// only notes the filter a read would have left, and the last one noted is put
// on the table when the call ends (also when it ends by an error), so the
// table stands as after the reads, filtered once per call instead of per read.
class TableEnd {
public:
    explicit TableEnd(const DistanceValidationContext& context) : context_(context) {}
    ~TableEnd() {
        try {
            Finish();
        } catch (...) {
        }
    }
    TableEnd(const TableEnd&) = delete;
    TableEnd& operator=(const TableEnd&) = delete;

    // A read put its own filter: nothing noted stands.
    void Read() { pending_ = Pending::None; }
    void Unfiltered() { pending_ = Pending::Unfiltered; }
    void Filtered(const std::shared_ptr<ado::Field>& field, int16_t fno, bool walked) {
        pending_ = Pending::Filtered;
        field_ = field;
        fno_ = fno;
        walked_ = walked;
    }
    void Finish() {
        const Pending pending = std::exchange(pending_, Pending::None);
        if (pending == Pending::Unfiltered) {
            FilterRemover unfilter(context_.RuleTable);
        } else if (pending == Pending::Filtered) {
            const auto& rules = context_.RuleTable;
            context_.FilterService->FilterRecordset(rules, field_, rt::Variant(fno_));
            if (walked_ && !(rules->get_BOF() && rules->get_EOF())) {
                rules->MoveLast();
                rules->MoveNext();
            }
        }
    }

private:
    enum class Pending { None, Unfiltered, Filtered };
    const DistanceValidationContext& context_;
    Pending pending_ = Pending::None;
    std::shared_ptr<ado::Field> field_;
    int16_t fno_ = 0;
    bool walked_ = false;
};

// GetOffsetRules; in a run, the rules kept for the pair are handed out in
// place, the table to be left unfiltered as a read leaves it.
const std::vector<OffsetRule>& PairRules(const DistanceValidationContext& context, const OffsetProfile& profile,
                                         int16_t activeFNO, int16_t relatedFNO, int32_t kind, bool& found,
                                         std::vector<OffsetRule>& read, TableEnd& end) {
    if (context.Run) {
        auto& kept = context.Run->offsetRules;
        auto hit = kept.find(RunKey(profile, PairFilter(profile, activeFNO, relatedFNO), kind));
        if (hit != kept.end()) {
            end.Unfiltered();
            found = hit->second.second;
            return hit->second.first;
        }
    }
    end.Read();
    read = GetOffsetRules(context, profile, activeFNO, relatedFNO, kind, found);
    return read;
}

// GetFeatureGeometries; in a run, the component names a side's rows give for
// the FNO are read once, and later reads note the filter (and the move to the
// rows' end where the walk ended there) a read leaves.
std::shared_ptr<rt::Collection> FeatureGeometries(const DistanceValidationContext& context,
                                                  const std::shared_ptr<IKeyObject>& feature,
                                                  const std::shared_ptr<ado::Field>& fnoField,
                                                  const std::string& cnoColumn,
                                                  const std::shared_ptr<ado::Field>& cnoField, int16_t& cno,
                                                  TableEnd& end) {
    const auto& rules = context.RuleTable;
    ComponentGeometryMemo* const memo = context.Run ? &context.Run->geometries : nullptr;
    if (!context.Run)
        return GetFeatureGeometries(feature, rules, context.MetadataService, context.FilterService, fnoField, cnoField,
                                    cno, memo);
    if (!feature || !context.FilterService) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    const int16_t fno = feature->get_FNO();
    auto key = std::make_tuple(fnoField->get_Name(), cnoColumn, fno, cno);
    auto& kept = context.Run->componentNames;
    if (auto hit = kept.find(key); hit != kept.end()) {
        end.Filtered(fnoField, fno, hit->second.walked);
        cno = hit->second.cno;
        return ComponentGeometries(feature, hit->second.names, memo);
    }
    end.Read();
    const bool walks = cno == 0;
    DistanceRun::ComponentNames read;
    read.names = GeometryComponentNames(fno, rules, context.MetadataService, context.FilterService, fnoField, cnoField,
                                        cno, memo);
    read.cno = cno;
    read.walked = walks && !(rules->get_BOF() && rules->get_EOF());
    const auto& names = kept.emplace(std::move(key), std::move(read)).first->second.names;
    return ComponentGeometries(feature, names, memo);
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
    const std::string filter = PairFilter(profile, activeFNO, relatedFNO);
    const std::string key = RunKey(profile, filter, kind);
    if (RunOf(context)) {
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
    const auto activeFNOField = RuleField(context, profile.ActiveFNOColumn);
    const auto activeTriggeringField = RuleField(context, profile.ActiveTriggeringColumn);
    const auto relatedFNOField = RuleField(context, profile.RelatedFNOColumn);
    const auto relatedTriggeringField = RuleField(context, profile.RelatedTriggeringColumn);

    ComponentGeometryMemo* const memo = context.Run ? &context.Run->geometries : nullptr;
    std::shared_ptr<rt::Collection> activeGeometries;
    int16_t lastTriggeringCNO = 0;
    std::vector<OffsetRule> read;
    TableEnd end(context);
    for (const auto& related : relatedFeatures->get_NewEnum()) {
        if (!related) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        int16_t activeCNO = 0, relatedCNO = 0;
        bool found = false;
        const std::vector<OffsetRule>& pairRules =
            PairRules(context, profile, feature->get_FNO(), related->get_FNO(), kind, found, read, end);
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
                activeGeometries = FeatureGeometries(context, feature, activeFNOField, profile.ActiveTriggeringColumn,
                                                     activeTriggeringField, activeCNO, end);
            auto relatedGeometries = FeatureGeometries(context, related, relatedFNOField,
                                                       profile.RelatedTriggeringColumn, relatedTriggeringField,
                                                       relatedCNO, end);
            if (relatedGeometries->Count() > 0 && activeGeometries->Count() > 0)
                ValidateEndpointConnectivity(feature, activeGeometries, rule.TriggeringCNO, related, relatedGeometries,
                                             rule.OtherTriggeringCNO, rule.MaxOffset, context.Location,
                                             context.Connection, rule.Priority, rt::Variant(rule.AllowInterior),
                                             context.MetadataService, errors,
                                             memo);
        }
    }
    end.Finish();
}

}  // namespace pelmora
