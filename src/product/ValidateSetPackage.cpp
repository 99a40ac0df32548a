#include "product/ValidateSetPackage.h"

#include <climits>
#include <mutex>
#include <optional>
#include <set>
#include <unordered_map>
#include <utility>

#include "product/SqliteConnection.h"
#include "product/ValidateSetConnectivity.h"
#include "product/ValidateSetDetail.h"
#include "product/ValidateSetDimensioning.h"
#include "product/ValidateSetM2MOwnership.h"
#include "product/ValidateSetOwnership.h"
#include "product/ValidateSetRules.h"
#include "product/WorkOperationsPackage.h"
#include "runtime/Object.h"

namespace product {

namespace {

constexpr const char* kPackage = "QTX_VALIDATESET";
constexpr const char* kStateKey = "QTX_VALIDATESET";

class State : public rt::Object {
public:
    FeatureKeyList defined;
    std::string TypeName() const override { return "ValidateSetState"; }
};

State& StateOf(PackageState& state) {
    rt::Variant& slot = state[kStateKey];
    if (!slot.IsObject() || !std::dynamic_pointer_cast<State>(slot.Obj())) slot = rt::Variant(std::make_shared<State>());
    return *std::static_pointer_cast<State>(slot.Obj());
}

struct TypeRules {
    RelatedFeatureRule rule;
    RelatedFeatureSetRule setRule;  // empty: feature by feature
};

struct Rules {
    std::mutex mutex;
    std::map<int32_t, TypeRules> byType;
};

Rules& RuleRegistry() {
    static Rules* rules = new Rules();
    return *rules;
}

[[noreturn]] void ValueError(const std::string& routine, const std::string& why) {
    RaiseOra(6502, "PL/SQL: numeric or value error: " + std::string(kPackage) + "." + routine + ": " + why);
}

// The entries of a decoded list argument; Null or Empty is the empty list.
const std::vector<rt::Variant>& Entries(const RoutineCall& call, size_t argument) {
    static const std::vector<rt::Variant> none;
    const rt::Variant& list = call.args[argument];
    if (list.IsEmpty() || list.IsNull()) return none;
    if (!list.IsArray())
        RaiseWrongArguments(call.name, "argument " + std::to_string(argument + 1) +
                                           " must be a decoded list (QTXUTILITY.DECODENUMERICLIST), not a " +
                                           rt::TypeName(list));
    const rt::SafeArray* a = list.Array();
    return a ? a->Data() : none;
}

// A number the database hands back (Decimal for NUMBER(p) columns).
std::optional<int64_t> StoredNumber(const rt::Variant& v) {
    if (v.Type() == rt::vbDecimal) return rt::DecimalRoundToInt64(v.Dec());
    return WholeNumberOf(v);
}

rt::Variant DefineFeatures(RoutineCall& call) {
    const auto& fnos = Entries(call, 0);
    const auto& fids = Entries(call, 1);
    const rt::Variant& flag = call.args[2];
    const bool replace = flag.IsString() && flag.Str() == "Y";
    if (!replace && !(flag.IsString() && flag.Str() == "N"))
        RaiseWrongArguments(call.name, "the flag must be 'Y' (replace the definition) or 'N' (add to it), not " +
                                           (flag.IsString() ? "'" + flag.Str() + "'" : rt::TypeName(flag)));
    if (fnos.size() != fids.size())
        ValueError("DefineFeatures", "the lists hold " + std::to_string(fnos.size()) + " FNOs and " +
                                         std::to_string(fids.size()) + " FIDs");
    // Checked whole before the definition changes.
    FeatureKeyList given;
    for (size_t i = 0; i < fnos.size(); ++i) {
        auto fno = WholeNumberOf(fnos[i]);
        auto fid = WholeNumberOf(fids[i]);
        if (!fno || !fid)
            ValueError("DefineFeatures", "entry " + std::to_string(i + 1) + " has no whole " + (fno ? "FID" : "FNO"));
        given.Add({*fno, *fid});
    }
    State& st = StateOf(call.state);
    if (replace) st.defined.Clear();
    st.defined.Append(given);
    return rt::Variant();
}

// The list's numbers in order, each once.
std::vector<int64_t> RelationshipNumbers(const rt::Variant& list) {
    std::vector<int64_t> numbers;
    std::set<int64_t> seen;
    const auto values = DecodeNumericList(list);
    for (size_t i = 0; i < values.size(); ++i) {
        auto number = WholeNumberOf(values[i]);
        if (!number) ValueError("GetValidateSetV", "item " + std::to_string(i + 1) + " of the list is no relationship number");
        if (seen.insert(*number).second) numbers.push_back(*number);
    }
    return numbers;
}

// One relationship of the list as the rules need it.
struct Relationship {
    int64_t rno = 0;
    std::map<std::string, rt::Variant> row;
    RelatedFeatureRule rule;  // empty: relates nothing
    RelatedFeatureSetRule setRule;
};

std::vector<Relationship> LoadRelationships(SqliteConnection& db, const std::vector<int64_t>& numbers) {
    std::map<int32_t, TypeRules> rules;
    {
        auto& registry = RuleRegistry();
        std::lock_guard lock(registry.mutex);
        rules = registry.byType;
    }
    std::vector<Relationship> out;
    for (int64_t rno : numbers) {
        Relationship r;
        r.rno = rno;
        auto image = db.Query("SELECT * FROM QTX_RELATIONSHIPS_OPTABLE WHERE QTX_RNO = ?",
                              {rt::Variant(static_cast<double>(rno))}, "QTX_RELATIONSHIPS_OPTABLE");
        if (image.RowCount() > 0) {
            for (size_t f = 0; f < image.fields.size(); ++f) r.row[UpperAscii(image.fields[f].name)] = image.values[f];
            auto type = StoredNumber(r.row["QTX_TYPE"]);
            if (type && *type >= INT32_MIN && *type <= INT32_MAX) {
                auto it = rules.find(static_cast<int32_t>(*type));
                if (it != rules.end()) {
                    r.rule = it->second.rule;
                    r.setRule = it->second.setRule;
                }
            }
        }
        out.push_back(std::move(r));
    }
    return out;
}

ado::FieldDesc NumberField(const char* name, uint8_t precision) {
    ado::FieldDesc f;
    f.name = name;
    f.type = ado::adNumeric;
    f.definedSize = 19;
    f.precision = precision;
    f.attributes = ado::adFldFixed | ado::adFldIsNullable | ado::adFldMayBeNull;
    return f;
}

rt::Variant Number(int64_t n) { return rt::Variant(rt::Decimal::FromInt64(n)); }

// The related features of every defined feature, computed per FNO and
// relationship for all the FNO's features at once (through the set-based
// form of a rule where it has one). Raises when a statement fails.
class RelatedBySet {
public:
    RelatedBySet(SqliteConnection& db, const std::vector<FeatureKey>& features,
                 const std::unordered_map<int64_t, std::vector<const Relationship*>>& applicable)
        : where_(features.size()) {
        std::unordered_map<int64_t, size_t> groupOf;
        std::vector<std::vector<int64_t>> fids;
        std::vector<int64_t> fnos;
        for (size_t i = 0; i < features.size(); ++i) {
            auto [it, added] = groupOf.try_emplace(features[i].fno, fids.size());
            if (added) {
                fids.emplace_back();
                fnos.push_back(features[i].fno);
            }
            where_[i] = {it->second, fids[it->second].size()};
            fids[it->second].push_back(features[i].fid);
        }
        groups_.resize(fids.size());
        for (size_t g = 0; g < fids.size(); ++g) {
            for (const Relationship* r : applicable.at(fnos[g])) {
                rules::RelatedSets lists;
                if (r->setRule) lists = r->setRule(RelatedFeatureSetQuery{db, r->rno, r->row, fnos[g], fids[g]});
                // An answer for more or fewer features than asked is not
                // trusted: the rule is asked feature by feature.
                if (!r->setRule || lists.size() != fids[g].size()) {
                    lists.clear();
                    for (int64_t fid : fids[g]) lists.push_back(r->rule(RelatedFeatureQuery{db, r->rno, r->row, {fnos[g], fid}}));
                }
                groups_[g].push_back(std::move(lists));
            }
        }
    }
    // What the k-th applicable relationship relates to the i-th feature.
    const std::vector<FeatureKey>& Related(size_t i, size_t k) const {
        return groups_[where_[i].first][k][where_[i].second];
    }

private:
    std::vector<std::pair<size_t, size_t>> where_;   // feature -> (group, position in it)
    std::vector<std::vector<rules::RelatedSets>> groups_;  // group -> relationship -> position
};

rt::Variant GetValidateSetV(RoutineCall& call) {
    // Taken out first: a failure below must not leave it for the next run.
    FeatureKeyList defined = std::move(StateOf(call.state).defined);
    StateOf(call.state).defined.Clear();
    const std::vector<int64_t> numbers = RelationshipNumbers(call.args[0]);

    ado::RecordsetImage image;
    image.fields = {NumberField("QTX_FNO", 5),         NumberField("QTX_FID", 10), NumberField("PENDING", 1),
                    NumberField("QTX_RELATED_FID", 10), NumberField("QTX_RELATED_FNO", 5),
                    NumberField("QTX_RNO", 5)};
    image.values.reserve(defined.Keys().size() * image.fields.size());
    auto addRow = [&](const FeatureKey& feature, int pending, const rt::Variant& relatedFid,
                      const rt::Variant& relatedFno, const rt::Variant& rno) {
        image.values.push_back(Number(feature.fno));
        image.values.push_back(Number(feature.fid));
        image.values.push_back(Number(pending));
        image.values.push_back(relatedFid);
        image.values.push_back(relatedFno);
        image.values.push_back(rno);
    };
    const rt::Variant null = rt::Variant::Null();
    for (const auto& feature : defined.Keys()) addRow(feature, 1, null, null, null);

    if (!numbers.empty()) {
        const std::vector<Relationship> relationships = LoadRelationships(call.db, numbers);
        // The relationships of the list that apply to an FNO, in list order.
        std::unordered_map<int64_t, std::vector<const Relationship*>> applicable;
        for (const auto& feature : defined.Keys()) {
            if (applicable.count(feature.fno)) continue;
            auto rows = call.db.Query("SELECT QTX_RNO FROM QTX_FEATRELATIONSHIPS_OPTABLE WHERE QTX_FNO = ?",
                                      {rt::Variant(static_cast<double>(feature.fno))},
                                      "QTX_FEATRELATIONSHIPS_OPTABLE");
            std::set<int64_t> numbersOfFno;
            for (const auto& v : rows.values)
                if (auto n = StoredNumber(v)) numbersOfFno.insert(*n);
            std::vector<const Relationship*> list;
            for (const auto& r : relationships)
                if (r.rule && numbersOfFno.count(r.rno)) list.push_back(&r);
            applicable.emplace(feature.fno, std::move(list));
        }
        auto emit = [&](const FeatureKey& feature, const Relationship& r, const std::vector<FeatureKey>& related) {
            for (const auto& key : related) addRow(key, 0, Number(feature.fid), Number(feature.fno), Number(r.rno));
        };
        std::optional<RelatedBySet> bySet;
        try {
            bySet.emplace(call.db, defined.Keys(), applicable);
        } catch (const DatabaseError&) {
            // Left empty: each feature is asked alone, which raises, if at
            // all, what the first failing feature raises. Any other failure
            // is a fault of the set-based rule and reaches the caller.
        }
        for (size_t i = 0; i < defined.Keys().size(); ++i) {
            const FeatureKey& feature = defined.Keys()[i];
            const auto& list = applicable.at(feature.fno);
            for (size_t k = 0; k < list.size(); ++k) {
                const Relationship& r = *list[k];
                if (bySet)
                    emit(feature, r, bySet->Related(i, k));
                else
                    emit(feature, r, r.rule(RelatedFeatureQuery{call.db, r.rno, r.row, feature}));
            }
        }
    }
    call.rows = std::move(image);
    return rt::Variant();
}

rt::Variant DefineFeaturesFromPendingEdits(RoutineCall& call) {
    State& st = StateOf(call.state);
    st.defined.Clear();
    st.defined.Append(WrittenFeatures(call.state));
    return rt::Variant();
}

}  // namespace

void RegisterRelatedFeatureRule(int32_t type, RelatedFeatureRule rule, RelatedFeatureSetRule setRule) {
    auto& registry = RuleRegistry();
    std::lock_guard lock(registry.mutex);
    if (rule)
        registry.byType[type] = TypeRules{std::move(rule), std::move(setRule)};
    else
        registry.byType.erase(type);
}

void RegisterValidateSetPackages(PackageRegistry& registry) {
    const std::string p = std::string(kPackage) + ".";
    registry.Register(p + "DefineFeatures", Procedure(3, &DefineFeatures));
    registry.Register(p + "GetValidateSetV", Procedure(1, &GetValidateSetV));
    registry.Register("QTX_VALIDATESET_PROD.DefineFeaturesFromPendingEdits",
                      Procedure(0, &DefineFeaturesFromPendingEdits));
    RegisterRelatedFeatureRule(2, &NodeEdgeRelatedFeatures, &NodeEdgeRelatedFeatureSets);
    RegisterRelatedFeatureRule(3, &OwnershipRelatedFeatures, &OwnershipRelatedFeatureSets);
    RegisterRelatedFeatureRule(4, &DetailRelatedFeatures, &DetailRelatedFeatureSets);
    RegisterRelatedFeatureRule(6, &DimensioningRelatedFeatures, &DimensioningRelatedFeatureSets);
    RegisterRelatedFeatureRule(8, &M2MOwnershipRelatedFeatures, &M2MOwnershipRelatedFeatureSets);
    RegisterRelatedFeatureRule(9, &NodeOrderedRelatedFeatures, &NodeOrderedRelatedFeatureSets);
}

const FeatureKeyList& DefinedFeatures(PackageState& state) { return StateOf(state).defined; }

}  // namespace product
