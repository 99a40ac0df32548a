// The offset rules of a pair as each helper's profile reads them, and the
// distance checks on the sample's valves, hydrants and mains against a rule
// table made up for each case.
#include <gtest/gtest.h>

#include <optional>

#include "features/FeatureAssemblyTestSupport.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/relationships/DistanceValidation.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "validation/ValidationSetTestSupport.h"

using namespace pelmora;

namespace {

// One rule-table row; nullopt is Null.
struct Row {
    int32_t source, other;  // QTX_SOURCEFNO and the other side's FNO column
    std::optional<int32_t> trig, otherTrig;
    std::optional<double> offset;
    std::optional<std::string> priority;
    std::optional<int32_t> interior;
};

// A rule table with the columns of every profile; `other` goes into
// QTX_OWNERFNO and QTX_CONNECTINGFNO, `otherTrig` into both triggering columns.
std::shared_ptr<ado::Recordset> RuleTable(const std::vector<Row>& rows) {
    auto rs = ado::Recordset::Create();
    auto fields = rs->get_Fields();
    for (const char* name : {"QTX_SOURCEFNO", "QTX_OWNERFNO", "QTX_CONNECTINGFNO", "QTX_TRIGGERINGCNO",
                             "QTX_OWNERTRIGGERINGCNO", "QTX_CONNECTINGTRIGGERINGCNO", "QTX_ALLOWINTERIORRELATION"})
        fields->Append(name, ado::adInteger);
    fields->Append("QTX_MAXOFFSET", ado::adDouble);
    fields->Append("QTX_OFFSETVALIDATIONPRIORITY", ado::adVarWChar, 30);
    rs->Open();
    auto opt = [](const auto& v) { return v ? rt::Variant(*v) : rt::Variant::Null(); };
    for (const Row& r : rows) {
        rs->AddNew();
        rs->SetValue(rt::Variant("QTX_SOURCEFNO"), rt::Variant(r.source));
        rs->SetValue(rt::Variant("QTX_OWNERFNO"), rt::Variant(r.other));
        rs->SetValue(rt::Variant("QTX_CONNECTINGFNO"), rt::Variant(r.other));
        rs->SetValue(rt::Variant("QTX_TRIGGERINGCNO"), opt(r.trig));
        rs->SetValue(rt::Variant("QTX_OWNERTRIGGERINGCNO"), opt(r.otherTrig));
        rs->SetValue(rt::Variant("QTX_CONNECTINGTRIGGERINGCNO"), opt(r.otherTrig));
        rs->SetValue(rt::Variant("QTX_ALLOWINTERIORRELATION"), opt(r.interior));
        rs->SetValue(rt::Variant("QTX_MAXOFFSET"), opt(r.offset));
        rs->SetValue(rt::Variant("QTX_OFFSETVALIDATIONPRIORITY"), opt(r.priority));
        rs->Update();
    }
    return rs;
}

std::string Describe(const OffsetRule& r) {
    return std::to_string(r.SourceFNO) + "/" + std::to_string(r.OtherFNO) + " cno " + std::to_string(r.TriggeringCNO) +
           "/" + std::to_string(r.OtherTriggeringCNO) + " kind " + std::to_string(r.Kind) + " max " +
           rt::CStr(rt::Variant(r.MaxOffset)) + " [" + r.Priority + "] " + (r.AllowInterior ? "interior" : "ends");
}

class DistanceValidationTest : public featuretest::FeatureAssemblyFixture {
protected:
    DistanceValidationContext ContextFor(std::shared_ptr<ado::Recordset> rules) {
        DistanceValidationContext c;
        c.RuleTable = std::move(rules);
        c.MetadataService = Context()->GetMetadataService();
        c.FilterService = std::make_shared<MetadataRecordsetFilterService>();
        c.Location = "Here";
        c.Connection = "Conn";
        return c;
    }
    std::shared_ptr<IKeyObject> Open(int16_t fno, int32_t fid) {
        service_->put_FeatureNumber(fno);
        service_->put_FeatureID(fid);
        return service_->OpenFeature();
    }
    // "priority|description|FNO|FID" of every finding.
    static std::vector<std::string> Findings(const std::shared_ptr<ado::Recordset>& errors) {
        std::vector<std::string> out;
        for (const auto& row : validationtest::FindingRows(errors))
            out.push_back(row[0] + "|" + row[1] + "|" + row[4] + "|" + row[5]);
        return out;
    }
};

}  // namespace

TEST_F(DistanceValidationTest, EachProfileReadsItsColumnsFilterAndDefaults) {
    const std::string warning = GetValidationMessage(kWarningPriorityMessage);
    const std::string error = GetValidationMessage(kErrorPriorityMessage);
    // Rows of the pair 102/101, one of the reverse pair and one of another pair.
    auto rules = RuleTable({
        {102, 101, 22, 12, 1.5, std::nullopt, 1},
        {102, 101, std::nullopt, std::nullopt, -2.0, "P9", 0},  // Null CNOs keep the row before's
        {101, 102, 12, 22, 3.0, std::nullopt, std::nullopt},
        {102, 103, 22, 32, 4.0, std::nullopt, std::nullopt},
    });
    auto context = ContextFor(rules);
    struct Case {
        const char* what;
        OffsetHelper helper;
        bool subordinate;
        int16_t active, related;
        int32_t kind;
        bool found;
        std::vector<std::string> rules;
    } cases[] = {
        {"ownership from the owned side", OffsetHelper::Ownership, true, 102, 101, 1, true,
         {"102/101 cno 22/12 kind 1 max 1.5 [" + error + "] interior", "102/101 cno 22/12 kind 1 max 0 [P9] ends"}},
        {"ownership from the owner: the owner's columns are active", OffsetHelper::Ownership, false, 101, 102, 0, true,
         {"102/101 cno 12/22 kind 0 max 1.5 [" + warning + "] interior", "102/101 cno 12/22 kind 0 max 0 [P9] ends"}},
        {"ownership, kind 5: no default priority", OffsetHelper::Ownership, true, 102, 101, 5, true,
         {"102/101 cno 22/12 kind 5 max 1.5 [] interior", "102/101 cno 22/12 kind 5 max 0 [P9] ends"}},
        {"node-edge, kind 5", OffsetHelper::NEConnectivity, false, 102, 101, 5, true,
         {"102/101 cno 22/12 kind 5 max 1.5 [] interior", "102/101 cno 22/12 kind 5 max 0 [P9] ends"}},
        {"node-ordered: kind 0 or 1, 5 is an error, never interior", OffsetHelper::NodeOrdConnADO, false, 102, 101, 5,
         true, {"102/101 cno 22/12 kind 1 max 1.5 [" + error + "] ends", "102/101 cno 22/12 kind 1 max 0 [P9] ends"}},
        {"many-to-many: always warning, kind 0, interior", OffsetHelper::M2MOwnership, true, 102, 101, 1, true,
         {"102/101 cno 22/12 kind 0 max 1.5 [" + warning + "] interior",
          "102/101 cno 22/12 kind 0 max 0 [P9] interior"}},
        {"many-to-many from the owner", OffsetHelper::M2MOwnership, false, 102, 101, 1, true,
         {"101/102 cno 22/12 kind 0 max 3 [" + warning + "] interior"}},
        {"a pair without rows", OffsetHelper::Ownership, true, 103, 101, 1, false, {}},
    };
    for (const Case& c : cases) {
        bool found = !c.found;
        std::vector<std::string> got;
        for (const OffsetRule& r :
             GetOffsetRules(context, OffsetProfile::For(c.helper, c.subordinate), c.active, c.related, c.kind, found))
            got.push_back(Describe(r));
        EXPECT_EQ(got, c.rules) << c.what;
        EXPECT_EQ(found, c.found) << c.what;
        EXPECT_EQ(rules->get_RecordCount(), 4) << c.what << ": the filter is removed";
    }

    // A run reads a pair's rules once: kept while the table changes under
    // it, which still ends without filter.
    DistanceRun run;
    auto kept = ContextFor(rules);
    kept.Run = &run;
    const OffsetProfile owned = OffsetProfile::For(OffsetHelper::Ownership, true);
    auto offsets = [&](const DistanceValidationContext& from) {
        bool any = false;
        std::vector<double> out;
        for (const OffsetRule& r : GetOffsetRules(from, owned, 102, 101, 1, any)) out.push_back(r.MaxOffset);
        EXPECT_TRUE(any);
        return out;
    };
    const std::vector<double> first = offsets(kept);
    rules->MoveFirst();
    rules->SetValue(rt::Variant("QTX_MAXOFFSET"), rt::Variant(9.0));
    rules->Update();
    rules->put_Filter(rt::Variant("QTX_SOURCEFNO = 103"));
    EXPECT_EQ(offsets(kept), first);
    EXPECT_EQ(rules->get_RecordCount(), 4) << "the filter is removed";
    EXPECT_EQ(offsets(context), (std::vector<double>{9.0, 0.0})) << "outside the run the table is read";

    // Offsets that are all Null, zero or negative find nothing.
    bool found = true;
    auto none = RuleTable({{102, 101, 22, 12, std::nullopt, {}, {}}, {102, 101, 22, 12, 0.0, {}, {}},
                           {102, 101, 22, 12, -1.0, {}, {}}});
    EXPECT_EQ(GetOffsetRules(ContextFor(none), OffsetProfile::For(OffsetHelper::Ownership, true), 102, 101, 1, found)
                  .size(),
              3u);
    EXPECT_FALSE(found);
}

TEST_F(DistanceValidationTest, ChecksEachPairByItsRulesOnTheSample) {
    const std::string error = GetValidationMessage(kErrorPriorityMessage);
    const auto owned = OffsetProfile::For(OffsetHelper::Ownership, true);
    // Hydrant 3002 stands 3 east of main 1003; valve 2001 on an inner vertex
    // of main 1001, which is none of its ends.
    const std::string hydrantBeyond = "|Hydrant 3002 and Water Main 1003 are not connected within ";
    struct Case {
        const char* what;
        std::vector<Row> rules;
        int16_t fno;
        int32_t fid;
        std::vector<std::pair<int16_t, int32_t>> owners;
        std::vector<std::string> findings;
    } cases[] = {
        {"within the offset by touch", {{103, 101, 32, 12, 3.5, "P1", 1}}, 103, 3002, {{101, 1003}}, {}},
        {"beyond it", {{103, 101, 32, 12, 2.0, "P1", 1}}, 103, 3002, {{101, 1003}},
         {"P1" + hydrantBeyond + "2.|103|3002"}},
        {"on a vertex, interior allowed", {{102, 101, 22, 12, 0.5, {}, 1}}, 102, 2001, {{101, 1001}}, {}},
        {"on a vertex, only ends count", {{102, 101, 22, 12, 0.5, {}, 0}}, 102, 2001, {{101, 1001}},
         {error + "|Valve 2001 and Water Main 1001 are not connected within 0.5.|102|2001"}},
        {"equal offsets: one check", {{103, 101, 32, 12, 2.0, "P1", 1}, {103, 101, 32, 12, 2.0, "P2", 1}}, 103,
         3002, {{101, 1003}}, {"P1" + hydrantBeyond + "2.|103|3002"}},
        {"different offsets: one check per row, 0 skipped",
         {{103, 101, 32, 12, 2.0, "P1", 1}, {103, 101, 32, 12, 0.0, "P0", 1}, {103, 101, 32, 12, 1.0, "P2", 1}}, 103,
         3002, {{101, 1003}}, {"P1" + hydrantBeyond + "2.|103|3002", "P2" + hydrantBeyond + "1.|103|3002"}},
        {"a related side without geometry of its component", {{103, 101, 32, 11, 2.0, "P1", 1}, {103, 101, 32, 11, 1.0, "P2", 1}},
         103, 3002, {{101, 1003}}, {}},
        {"each related feature in turn, the active geometries kept",
         {{103, 101, 32, 12, 1.0, "P1", 1}}, 103, 3002, {{101, 1003}, {101, 1001}},
         {"P1" + hydrantBeyond + "1.|103|3002", "P1|Hydrant 3002 and Water Main 1001 are not connected within 1.|103|3002"}},
        {"no rule for the pair", {{102, 101, 22, 12, 2.0, "P1", 1}}, 103, 3002, {{101, 1003}}, {}},
        {"equal offsets, a row without components names none",
         {{103, 101, 32, 12, 2.0, "P1", 1}, {103, 101, std::nullopt, std::nullopt, 2.0, "P2", 1}}, 103, 3002,
         {{101, 1003}}, {"P1" + hydrantBeyond + "2.|103|3002"}},
    };
    for (const Case& c : cases) {
        auto rules = RuleTable(c.rules);
        auto errors = CreateValidationRecordset();
        auto related = KeyObjects::New();
        for (auto [fno, fid] : c.owners) related->Add(Open(fno, fid));
        DistanceValidation(ContextFor(rules), owned, Open(c.fno, c.fid), related, 1, errors);
        EXPECT_EQ(Findings(errors), c.findings) << c.what;
    }
}

TEST_F(DistanceValidationTest, ARunReadsEachSidesComponentsOnceAndLeavesTheTableAsAReadDoes) {
    const auto owned = OffsetProfile::For(OffsetHelper::Ownership, true);
    // The second table's main rows name only component 11, which has no
    // geometry: what the first table's rows gave for mains must not stand
    // for it.
    auto first = RuleTable({{103, 101, 32, 12, 2.0, "P1", 1}, {103, 101, 32, 12, 2.0, "P2", 1}});
    auto second = RuleTable({{102, 101, 22, 11, 0.5, {}, 0}, {104, 101, 42, 11, 0.5, {}, 0}});
    struct Step {
        std::shared_ptr<ado::Recordset> rules;
        int16_t fno;
        int32_t fid;
        std::vector<std::pair<int16_t, int32_t>> related;
    } steps[] = {
        {first, 103, 3002, {{101, 1003}}},
        {first, 103, 3002, {{101, 1003}, {101, 1001}}},
        {first, 102, 2001, {{101, 1001}}},
        {first, 102, 2001, {{101, 1001}}},  // a pair without rules, kept: the table ends unfiltered
        {first, 103, 3002, {{101, 1001}}},
        {second, 102, 2001, {{101, 1001}}},
        {second, 102, 2001, {{101, 1001}}},
    };
    // Where the table stands: its rows in view, and the row it is on.
    auto where = [](const std::shared_ptr<ado::Recordset>& rs) {
        std::string at = std::to_string(rs->get_RecordCount()) + (rs->get_BOF() ? " bof" : "") +
                         (rs->get_EOF() ? " eof" : "");
        if (!rs->get_BOF() && !rs->get_EOF()) at += " on " + rt::CStr(rs->GetValue(rt::Variant("QTX_SOURCEFNO")));
        return at;
    };
    DistanceRun run;
    int findings = 0;
    for (const Step& s : steps) {
        auto related = KeyObjects::New();
        for (auto [fno, fid] : s.related) related->Add(Open(fno, fid));
        auto fresh = CreateValidationRecordset();
        DistanceValidation(ContextFor(s.rules), owned, Open(s.fno, s.fid), related, 1, fresh);
        const std::string freshAt = where(s.rules);
        s.rules->put_Filter(rt::Variant("QTX_SOURCEFNO = 0"));
        auto kept = CreateValidationRecordset();
        auto context = ContextFor(s.rules);
        context.Run = &run;
        DistanceValidation(context, owned, Open(s.fno, s.fid), related, 1, kept);
        EXPECT_EQ(Findings(kept), Findings(fresh)) << s.fno << " " << s.fid;
        EXPECT_EQ(where(s.rules), freshAt) << s.fno << " " << s.fid;
        findings += static_cast<int>(Findings(fresh).size());
    }
    EXPECT_GT(findings, 0);
}
