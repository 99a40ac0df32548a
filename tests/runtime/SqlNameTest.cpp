#include <gtest/gtest.h>

#include <string>

#include "runtime/SqlName.h"

using namespace rt;

namespace {

struct NameCase {
    std::string name;
    bool identifier;  // IsSqlIdentifier
    bool qualified;   // IsQualifiedSqlName
};

const std::string kLongest(kMaxSqlIdentifierLength, 'A');

}  // namespace

TEST(SqlName, OracleUnquotedIdentifier) {
    const NameCase cases[] = {
        {"QTX_PIPE_N", true, true},
        {"qtx_pipe_n", true, true},
        {"A", true, true},
        {"A1$B#_", true, true},
        {kLongest, true, true},
        {kLongest + "A", false, false},
        {kLongest + "." + kLongest, false, true},
        {"QTX.QTX_PIPE_N", false, true},
        {"QTX_WORKOPERATIONS.UPDATEFEATURES", false, true},
        {"OWNER.PKG.PROC", false, true},
        {"", false, false},
        {"_PIPE", false, false},
        {"1PIPE", false, false},
        {"$PIPE", false, false},
        {"#PIPE", false, false},
        {"PIPE N", false, false},
        {" PIPE", false, false},
        {"PIPE-N", false, false},
        {"PIPE\"", false, false},
        {"PIPE'", false, false},
        {"PIPE;", false, false},
        {"PIPE--", false, false},
        {"PIPE/*", false, false},
        {"PIPE\n", false, false},
        {std::string("PI\0PE", 5), false, false},
        {"PIPE@LINK", false, false},
        {"PIPE\xC3\xBC", false, false},  // a letter outside ASCII
        {".PIPE", false, false},
        {"PIPE.", false, false},
        {"QTX..PIPE", false, false},
        {"QTX._PIPE", false, false},
        {"QTX.1PIPE", false, false},
        {"QTX." + kLongest + "A", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsSqlIdentifier(c.name), c.identifier) << '"' << c.name << '"';
        EXPECT_EQ(IsQualifiedSqlName(c.name), c.qualified) << '"' << c.name << '"';
    }
}

TEST(SqlName, QuotedLiteralDoublesEveryQuoteInside) {
    EXPECT_EQ(QuotedLiteral("ABC"), "'ABC'");
    EXPECT_EQ(QuotedLiteral(""), "''");
    EXPECT_EQ(QuotedLiteral("O'NEIL"), "'O''NEIL'");
    EXPECT_EQ(QuotedLiteral("''"), "''''''");
    EXPECT_EQ(QuotedLiteral("a'b'c"), "'a''b''c'");
}
