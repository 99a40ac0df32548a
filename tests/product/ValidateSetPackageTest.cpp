// The QTX_VALIDATESET packages on their own: definitions by flag, the rows
// of GetValidateSetV by relationship list and related-feature rule, and the
// pending edits of QTX_WORKOPERATIONS.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "DatabaseTestSupport.h"
#include "product/OracleSession.h"
#include "product/SqliteConnection.h"
#include "product/ValidateSetPackage.h"
#include "runtime/Vb.h"

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
    std::vector<std::string> Set(const rt::Variant& list) {
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
