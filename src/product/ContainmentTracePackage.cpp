#include "product/ContainmentTracePackage.h"

#include <set>
#include <utility>

#include "product/SqliteConnection.h"
#include "product/ValidateSetRules.h"
#include "runtime/Object.h"

namespace product {

namespace {

constexpr const char* kStateKey = "QTX_CONTAINMENT_TRACE";

class TracedSet : public rt::Object {
public:
    std::vector<std::pair<rt::Variant, rt::Variant>> members;  // (QTX_FNO, QTX_FID)
    std::string TypeName() const override { return "ContainmentTraceState"; }
};

TracedSet& StateOf(PackageState& state) {
    rt::Variant& slot = state[kStateKey];
    if (!slot.IsObject() || !std::dynamic_pointer_cast<TracedSet>(slot.Obj()))
        slot = rt::Variant(std::make_shared<TracedSet>());
    return *std::static_pointer_cast<TracedSet>(slot.Obj());
}

rt::Variant Initialize(RoutineCall& call) {
    const char* rule = "QTX_CONTAINMENT_TRACE.Initialize";
    const std::string table = rules::Name(call.args[0], rule, "the table");
    const std::string fnoColumn = rules::Name(call.args[1], rule, "the FNO column");
    const std::string fidColumn = rules::Name(call.args[2], rule, "the FID column");
    std::optional<int64_t> start;
    if (call.args[3].IsString()) {
        try {
            start = WholeNumberOf(rt::Variant(std::stod(call.args[3].Str())));
        } catch (const std::exception&) {
        }
    } else {
        start = rules::NumberOf(call.args[3]);
    }
    if (!start) RaiseOra(6502, "PL/SQL: numeric or value error: " + std::string(rule) + ": the FID is no number");

    // UNION, not UNION ALL: a feature met again is not followed again.
    auto below = rules::Query(call.db,
                           "WITH RECURSIVE TRACED(FNO, FID) AS (SELECT QTX_FNO, QTX_FID FROM " + table + " WHERE " +
                               fidColumn + " = ? AND " + fnoColumn + " <> 0 UNION SELECT S.QTX_FNO, S.QTX_FID FROM " +
                               table + " S JOIN TRACED T ON S." + fnoColumn + " = T.FNO AND S." + fidColumn +
                               " = T.FID) SELECT FNO, FID FROM TRACED ORDER BY FID, FNO",
                           {rules::Bound(*start)});
    auto startFno = rules::Query(call.db,
                              "SELECT " + fnoColumn + " FROM " + table + " WHERE " + fidColumn + " = ? AND " + fnoColumn +
                                  " <> 0 LIMIT 1",
                              {rules::Bound(*start)});
    TracedSet& set = StateOf(call.state);
    set.members.clear();
    bool startMet = false;
    for (size_t r = 0; r < below.Count(); ++r) {
        startMet = startMet || rules::NumberOf(below.At(r, "FID")) == start;
        set.members.emplace_back(below.At(r, "FNO"), below.At(r, "FID"));
    }
    if (!startMet)
        set.members.insert(set.members.begin(),
                           {startFno.Count() ? startFno.image.values[0] : rt::Variant::Null(), rules::Bound(*start)});
    return rt::Variant(static_cast<double>(set.members.size()));
}

ado::FieldDesc NumberField(const char* name) {
    ado::FieldDesc f;
    f.name = name;
    f.type = ado::adNumeric;
    f.definedSize = 19;
    f.precision = 10;
    f.attributes = ado::adFldFixed | ado::adFldIsNullable | ado::adFldMayBeNull;
    return f;
}

rt::Variant RestrictSet(RoutineCall& call) {
    const TracedSet& set = StateOf(call.state);
    ado::RecordsetImage image;
    image.fields = {NumberField("QTX_FNO"), NumberField("QTX_FID")};
    for (const auto& [fno, fid] : set.members) {
        image.values.push_back(fno);
        image.values.push_back(fid);
    }
    call.rows = std::move(image);
    return rt::Variant();
}

Routine Function(int args, rt::Variant (*body)(RoutineCall&)) {
    Routine r;
    r.kind = Routine::Function;
    r.minArgs = r.maxArgs = args;
    r.outArgs.assign(static_cast<size_t>(args), false);
    r.body = body;
    return r;
}

}  // namespace

void RegisterContainmentTracePackage(PackageRegistry& registry) {
    registry.Register("QTX_CONTAINMENT_TRACE.Initialize", Function(4, &Initialize));
    registry.Register("QTX_CONTAINMENT_TRACE.RestrictSet", Function(0, &RestrictSet));
    registry.RegisterType("QTX_CONTAINMENT_TYPE", {"QTX_FNO", "QTX_FID"});
}

}  // namespace product
