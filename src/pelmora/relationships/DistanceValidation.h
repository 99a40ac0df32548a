#pragma once
// The distance check that four relationship helpers (ownership, many-to-many
// ownership, node-edge and node-ordered connectivity) make between an active
// feature and the features related to it: the offset rules of the pair read
// from the helper's rule table, the triggering geometries of both sides, and
// ValidateEndpointConnectivity, which records a finding when they lie farther
// apart than the rule allows.
//
// The helpers differ only in what an OffsetProfile holds: which rule-table
// columns are the active and the related side, the filter that selects the
// pair's rows, the default priority, the kind stored and where the
// allow-interior switch comes from. A helper makes its profile with
// OffsetProfile::For and lends what it owns through DistanceValidationContext.
//
// Free routines without state; the rule table is the helper's own clone.
// GetOffsetRules leaves it without filter (also when it fails); after
// DistanceValidation it stays narrowed as the last geometry fetch left it.
// Failures reach the caller unchanged; rows already added stay.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "pelmora/validation_set/modFeatureValidationServiceSet.h"

namespace ado {
class Field;
class Recordset;
}

namespace pelmora {

class IKeyObject;
class IKeyObjects;
class IMetadataService;
class IMetadataRecordsetFilterService;

// One offset rule of a pair of feature numbers (one rule-table row).
struct OffsetRule {
    int16_t SourceFNO = 0;           // the value compared with the source-side column of the filter
    int16_t OtherFNO = 0;            // the value compared with the other column
    int16_t TriggeringCNO = 0;       // active side
    int16_t OtherTriggeringCNO = 0;  // related side
    int16_t Kind = 0;                // as the profile stores it; DistanceValidation does not read it
    double MaxOffset = 0;            // 0: no distance test
    std::string Priority;
    bool AllowInterior = false;      // the check-touch switch of ValidateEndpointConnectivity
};

// Which helper's columns and defaults.
enum class OffsetHelper { Ownership, NEConnectivity, NodeOrdConnADO, M2MOwnership };

struct OffsetProfile {
    // Default priority text: message 15737 for kind 0 and 15734 for any
    // other, except that WarningEmptyOrError gives "" for kind 5.
    enum class Priority { WarningEmptyOrError, WarningOrError, Warning };
    enum class StoredKind { Unchanged, ZeroOrOne, Zero };
    enum class Interior { FromColumn, Never, Always };

    // Active side first; the filter is "<ActiveFNOColumn> = a AND
    // <RelatedFNOColumn> = b" with a the active and b the related FNO.
    std::string ActiveFNOColumn, ActiveTriggeringColumn;
    std::string RelatedFNOColumn, RelatedTriggeringColumn;
    // Of the two FNO columns, the one OffsetRule::SourceFNO answers to.
    std::string SourceFNOColumn;
    Priority DefaultPriority = Priority::WarningEmptyOrError;
    StoredKind Kind = StoredKind::Unchanged;
    Interior AllowInterior = Interior::FromColumn;
    std::string DebugTag;

    // The profile of a helper. For the two ownership helpers `subordinate`
    // (QTX_SUBORDINATE = 1) makes the owned side the active one; the
    // connectivity helpers ignore it. The many-to-many helper reads its
    // flag afresh for each call and makes a new profile then.
    static OffsetProfile For(OffsetHelper helper, bool subordinate = false);
};

// What a helper's Validate keeps from feature to feature: the geometries read
// and the offset rules of each pair of feature numbers (by filter text and
// kind), as long as the call lasts.
struct DistanceRun {
    ComponentGeometryMemo geometries;
    std::map<std::string, std::pair<std::vector<OffsetRule>, bool>> offsetRules;
    // The geometric component names a side's rule rows give for an FNO (by
    // FNO and triggering column, FNO and CNO asked for): the names, the CNO
    // the walk ended on, and whether the rows were walked to their end.
    struct ComponentNames {
        std::vector<std::string> names;
        int16_t cno = 0;
        bool walked = false;
    };
    std::map<std::tuple<std::string, std::string, int16_t, int16_t>, ComponentNames> componentNames;
    // The rule table's fields by column name, found once for that table.
    // Another table drops them, the offset rules and the component names.
    struct RuleFields {
        std::shared_ptr<ado::Recordset> table;
        std::map<std::string, std::shared_ptr<ado::Field>> byName;
    } ruleFields;
};

// What the helper lends for one call.
struct DistanceValidationContext {
    std::shared_ptr<ado::Recordset> RuleTable;  // the helper's clone of its rule table
    std::shared_ptr<IMetadataService> MetadataService;
    std::shared_ptr<IMetadataRecordsetFilterService> FilterService;
    std::string Location;    // the relationship's user name
    std::string Connection;  // the metadata service's configuration
    // What the helper's Validate has read so far; nullptr reads all afresh.
    DistanceRun* Run = nullptr;
};

// The rules of the pair (activeFNO, relatedFNO), in rule-table order; empty
// when the pair has no rows. found is True when some rule has a MaxOffset
// above 0 (Null and negative offsets read 0). A Null priority takes the
// profile's default text for the kind; a Null triggering CNO keeps the
// previous row's (0 on the first row). The rule table ends without filter.
std::vector<OffsetRule> GetOffsetRules(const DistanceValidationContext& context, const OffsetProfile& profile,
                                       int16_t activeFNO, int16_t relatedFNO, int32_t kind, bool& found);

// For each related feature in collection order: its pair's rules; when all
// have one MaxOffset a single check over every triggering component of both
// sides, otherwise one check per rule with that rule's components, rules
// with offset 0 skipped. The active feature's geometries are fetched again
// only when the requested triggering component changes. A side without
// geometry makes no check.
void DistanceValidation(const DistanceValidationContext& context, const OffsetProfile& profile,
                        const std::shared_ptr<IKeyObject>& feature, const std::shared_ptr<IKeyObjects>& relatedFeatures,
                        int32_t kind, const std::shared_ptr<ado::Recordset>& errors);

}  // namespace pelmora
