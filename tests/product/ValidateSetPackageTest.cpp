// The QTX_VALIDATESET packages on their own: definitions by flag, the rows
// of GetValidateSetV by relationship list and related-feature rule, and the
// pending edits of QTX_WORKOPERATIONS.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "DatabaseTestSupport.h"
#include "product/OracleSession.h"
#include "product/SqliteConnection.h"
#include "product/ValidateSetConnectivity.h"
#include "product/ValidateSetDetail.h"
#include "product/ValidateSetDimensioning.h"
#include "product/ValidateSetM2MOwnership.h"
#include "product/ValidateSetOwnership.h"
#include "product/ValidateSetPackage.h"
#include "runtime/Vb.h"
#include "support/SampleEnvironment.h"

using namespace product;
using dbtest::ExpectOra;

namespace {

const std::string kDefine =
    "begin QTX_VALIDATESET.DefineFeatures(QTXUtility.DecodeNumericList(?), QTXUtility.DecodeNumericList(?), ?); end;";

struct ValidateSet : ::testing::Test {
    SqliteConnection db{":memory:", {}};
    OracleSession session{db};

    void SetUp() override {
        db.EnsureTransaction();
        // 1 and 2 of type 3, 5 of type 9 (no rule); 4 has no row.
        db.ExecuteRaw(
            "CREATE TABLE QTX_RELATIONSHIPS_OPTABLE (QTX_RNO NUMBER(5), QTX_TYPE NUMBER(5), QTX_OPTIMIZEDTABLE "
            "  VARCHAR2(30));"
            "INSERT INTO QTX_RELATIONSHIPS_OPTABLE VALUES (1, 3, 'OWN'), (2, 3, 'OWN'), (5, 9, 'NODE');"
            "CREATE TABLE QTX_FEATRELATIONSHIPS_OPTABLE (QTX_FNO NUMBER(5), QTX_RNO NUMBER(5));"
            "INSERT INTO QTX_FEATRELATIONSHIPS_OPTABLE VALUES (101, 1), (101, 5), (102, 2), (102, 4), (103, 5);");
        // Type 3 relates feature n to 900/(n*10+1) and, through 2, also to 900/(n*10+2).
        RegisterRelatedFeatureRule(3, [](const RelatedFeatureQuery& q) {
            EXPECT_EQ(rt::CStr(q.relationship.at("QTX_OPTIMIZEDTABLE")), "OWN");
            std::vector<FeatureKey> out{{900, q.feature.fid * 10 + 1}};
            if (q.rno == 2) out.push_back({900, q.feature.fid * 10 + 2});
            return out;
        });
    }
    void TearDown() override { RegisterRelatedFeatureRule(3, nullptr); }

    void Define(const std::string& fnos, const std::string& fids, const rt::Variant& flag) {
        std::vector<BoundValue> p{{rt::Variant(fnos)}, {rt::Variant(fids)}, {flag}};
        session.Execute(kDefine, p);
    }
    // The rows as "FNO/FID pending related FNO/FID rno".
    std::vector<std::string> Set(const rt::Variant& list) { return SetOf(session, list); }
    static std::vector<std::string> SetOf(OracleSession& session, const rt::Variant& list) {
        std::vector<BoundValue> p{{list}};
        auto out = session.Execute("{ call QTX_VALIDATESET.GetValidateSetV(?) }", p);
        EXPECT_TRUE(out.rows);
        std::vector<std::string> rows;
        const auto& v = out.rows->values;
        auto text = [](const rt::Variant& x) { return x.IsNull() ? std::string("-") : rt::CStr(x); };
        for (size_t r = 0; r + 6 <= v.size(); r += 6)
            rows.push_back(text(v[r]) + "/" + text(v[r + 1]) + " " + text(v[r + 2]) + " " + text(v[r + 4]) + "/" +
                           text(v[r + 3]) + " " + text(v[r + 5]));
        return rows;
    }
};

}  // namespace

TEST_F(ValidateSet, DefinitionsByFlagAndTheRowsOfTheSet) {
    using Rows = std::vector<std::string>;
    struct Case {
        const char* what;
        std::vector<std::array<const char*, 3>> defines;  // fnos, fids, flag
        rt::Variant list;
        Rows rows;
    };
    const Case cases[] = {
        {"one definition, related rows per applicable number in list order",
         {{"101;102;", "1;2;", "Y"}},
         rt::Variant("5;2;1;4;"),
         {"101/1 1 -/- -", "102/2 1 -/- -", "900/11 0 101/1 1", "900/21 0 102/2 2", "900/22 0 102/2 2"}},
        {"definitions with N add up, each feature once",
         {{"101;", "1;", "N"}, {"103;101;", "3;1;", "N"}},
         rt::Variant("1;"),
         {"101/1 1 -/- -", "103/3 1 -/- -", "900/11 0 101/1 1"}},
        {"Y replaces what was defined", {{"101;", "1;", "N"}, {"102;", "2;", "Y"}}, rt::Variant("1;"), {"102/2 1 -/- -"}},
        {"an empty list gives the pending rows only", {{"101;", "1;", "Y"}}, rt::Variant(""), {"101/1 1 -/- -"}},
        {"so does Null", {{"101;", "1;", "Y"}}, rt::Variant::Null(), {"101/1 1 -/- -"}},
        {"empty lists define nothing", {{"", "", "Y"}}, rt::Variant("1;"), {}},
    };
    for (const Case& c : cases) {
        for (const auto& d : c.defines) Define(d[0], d[1], rt::Variant(d[2]));
        EXPECT_EQ(Set(c.list), c.rows) << c.what;
        // Reading consumes the definition.
        EXPECT_EQ(Set(c.list), Rows{}) << c.what;
    }
}

TEST_F(ValidateSet, BadDefinitionsAreRefusedAndChangeNothing) {
    Define("101;", "1;", rt::Variant("Y"));
    ExpectOra([&] { Define("101;102;", "1;", rt::Variant("N")); }, 6502, {"2 FNOs and 1 FIDs"});
    ExpectOra([&] { Define("101;", "1.5;", rt::Variant("N")); }, 6502, {"entry 1 has no whole FID"});
    ExpectOra([&] { Define("101;", ";", rt::Variant("N")); }, 6502, {"entry 1 has no whole FID"});
    ExpectOra([&] { Define("102;", "2;", rt::Variant("y")); }, 6550, {"'Y'", "'N'"});
    ExpectOra([&] { Define("102;", "2;", rt::Variant::Null()); }, 6550);
    EXPECT_EQ(DefinedFeatures(session.State()).Keys(), (std::vector<FeatureKey>{{101, 1}}));
    // A list item that is no number fails the read, which consumed the definition all the same.
    ExpectOra([&] { Set(rt::Variant("1;x;")); }, 6502);
    EXPECT_TRUE(DefinedFeatures(session.State()).Empty());
}

TEST_F(ValidateSet, TheSetBasedFormServesAndAFailureOfItFallsBackFeatureByFeature) {
    const RelatedFeatureRule single = [](const RelatedFeatureQuery& q) {
        return std::vector<FeatureKey>{{900, q.feature.fid * 10 + 1}};
    };
    struct Case {
        const char* what;
        bool setFails, singleFails;
        std::vector<std::string> rows;  // empty: the call fails with the single feature's error
    };
    const Case cases[] = {
        {"the set-based form answers for the FNO's features at once", false, false,
         {"101/1 1 -/- -", "101/2 1 -/- -", "900/7 0 101/1 1", "900/7 0 101/2 1"}},
        {"its failure gives the rows of the single-feature rule", true, false,
         {"101/1 1 -/- -", "101/2 1 -/- -", "900/11 0 101/1 1", "900/21 0 101/2 1"}},
        {"and the single feature's error when that fails too", true, true, {}},
    };
    for (const Case& c : cases) {
        RegisterRelatedFeatureRule(
            3,
            [&](const RelatedFeatureQuery& q) {
                if (c.singleFails) RaiseOra(942, "ORA-00942: table or view does not exist: feature " + std::to_string(q.feature.fid));
                return single(q);
            },
            [&](const RelatedFeatureSetQuery& q) {
                if (c.setFails) RaiseOra(904, "ORA-00904: the set's statement");
                EXPECT_EQ(q.fids, (std::vector<int64_t>{1, 2})) << c.what;
                return std::vector<std::vector<FeatureKey>>(q.fids.size(), {{900, 7}});
            });
        Define("101;101;", "1;2;", rt::Variant("Y"));
        if (c.rows.empty())
            ExpectOra([&] { Set(rt::Variant("1;")); }, 942, {"feature 1"});
        else
            EXPECT_EQ(Set(rt::Variant("1;")), c.rows) << c.what;
    }
}

// A set-based rule that fails other than through the database has a fault:
// it reaches the caller, and no rule is asked again feature by feature.
TEST_F(ValidateSet, AFaultOfTheSetBasedFormReachesTheCaller) {
    const std::function<void()> faults[] = {[] { throw rt::ComError(13, "rule", "Type mismatch"); },
                                            [] { throw std::length_error("vector"); }};
    for (const auto& fault : faults) {
        int singles = 0;
        RegisterRelatedFeatureRule(
            3,
            [&](const RelatedFeatureQuery&) {
                ++singles;
                return std::vector<FeatureKey>{};
            },
            [&](const RelatedFeatureSetQuery&) {
                fault();
                return std::vector<std::vector<FeatureKey>>{};
            });
        Define("101;101;", "1;2;", rt::Variant("Y"));
        bool raised = false;
        try {
            Set(rt::Variant("1;"));
        } catch (const DatabaseError&) {
        } catch (...) {
            raised = true;
        }
        EXPECT_TRUE(raised);
        EXPECT_EQ(singles, 0);
    }
}

// A set-based form that answers for more or fewer features than it was asked
// for is not trusted: the rows are those of the rule feature by feature.
TEST_F(ValidateSet, ASetBasedAnswerOfTheWrongLengthFallsBackFeatureByFeature) {
    for (size_t answered : {size_t{0}, size_t{1}, size_t{3}}) {
        RegisterRelatedFeatureRule(
            3, [](const RelatedFeatureQuery& q) { return std::vector<FeatureKey>{{900, q.feature.fid * 10 + 1}}; },
            [answered](const RelatedFeatureSetQuery&) {
                return std::vector<std::vector<FeatureKey>>(answered, {{900, 7}});
            });
        Define("101;101;", "1;2;", rt::Variant("Y"));
        EXPECT_EQ(Set(rt::Variant("1;")),
                  (std::vector<std::string>{"101/1 1 -/- -", "101/2 1 -/- -", "900/11 0 101/1 1", "900/21 0 101/2 1"}))
            << answered << " lists for 2 features";
    }
}

// Every feature of the sample network over every relationship: the rows of
// the set-based rules are those of the rules feature by feature, and every
// rule relates something there.
TEST(ValidateSetSample, TheSetBasedRulesRelateWhatTheSingleFeatureRulesRelate) {
    SqliteConnection db{pelmora_test::SampleEnvironment::Get().CopyDatabase(), {}};
    OracleSession session{db};
    std::string fnos, fids, rnos;
    std::string union_;
    for (const char* table : {"QTX_COMMON_N", "DIM_SIMPLE_LN", "DIM_ORTHO_LN", "DIM_POLAR_LN", "DIM_RADIUS_LN", "VALVE_DETAIL_N"})
        union_ += std::string(union_.empty() ? "" : " UNION ") + "SELECT QTX_FNO, QTX_FID FROM " + table;
    auto features = db.Query(union_ + " ORDER BY QTX_FID DESC", {}, "");
    for (size_t r = 0; r < features.RowCount(); ++r) {
        fnos += rt::CStr(features.values[r * 2]) + ";";
        fids += rt::CStr(features.values[r * 2 + 1]) + ";";
    }
    auto numbers = db.Query("SELECT QTX_RNO FROM QTX_RELATIONSHIPS_OPTABLE ORDER BY QTX_RNO DESC", {}, "");
    for (const auto& v : numbers.values) rnos += rt::CStr(v) + ";";
    auto run = [&] {
        std::vector<BoundValue> p{{rt::Variant(fnos)}, {rt::Variant(fids)}, {rt::Variant("Y")}};
        session.Execute(kDefine, p);
        return ValidateSet::SetOf(session, rt::Variant(rnos));
    };
    struct Rule {
        int32_t type;
        RelatedFeatureRule single;
        RelatedFeatureSetRule set;
    };
    const Rule rules[] = {{2, &NodeEdgeRelatedFeatures, &NodeEdgeRelatedFeatureSets},
                          {3, &OwnershipRelatedFeatures, &OwnershipRelatedFeatureSets},
                          {4, &DetailRelatedFeatures, &DetailRelatedFeatureSets},
                          {6, &DimensioningRelatedFeatures, &DimensioningRelatedFeatureSets},
                          {8, &M2MOwnershipRelatedFeatures, &M2MOwnershipRelatedFeatureSets},
                          {9, &NodeOrderedRelatedFeatures, &NodeOrderedRelatedFeatureSets}};
    for (const Rule& rule : rules) RegisterRelatedFeatureRule(rule.type, rule.single, rule.set);
    const auto bySet = run();
    for (const Rule& rule : rules) RegisterRelatedFeatureRule(rule.type, rule.single);
    const auto byFeature = run();
    for (const Rule& rule : rules) RegisterRelatedFeatureRule(rule.type, rule.single, rule.set);
    EXPECT_EQ(bySet, byFeature);
    // Each relationship type relates at least one feature.
    std::map<std::string, int> relatedByRno;
    for (const auto& row : bySet)
        if (row.find(" 0 ") != std::string::npos) ++relatedByRno[row.substr(row.rfind(' ') + 1)];
    for (const char* rno : {"1", "2", "3", "5", "6", "7", "8", "9", "11", "12", "56", "57"})
        EXPECT_GT(relatedByRno[rno], 0) << "relationship " << rno;
}
