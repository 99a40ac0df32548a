// The database packages: the value-list decoders of QTXUTILITY and
// QTX_GETSEQVAL.GETSEQVAL, run against real SQLite.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>

#include "DatabaseTestSupport.h"
#include "product/DatabasePackages.h"
#include "product/OracleSession.h"
#include "product/SqliteConnection.h"

using namespace product;
using dbtest::ExpectOra;

namespace {

std::vector<std::string> Texts(const std::vector<rt::Variant>& values) {
    std::vector<std::string> out;
    for (const auto& v : values) out.push_back(v.IsNull() ? "<null>" : v.Str());
    return out;
}

// The value-list item of a text, its length counted in UTF-16 code units.
std::string Item(const std::string& text) {
    int units = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
    return std::to_string(units) + ":" + text;
}

}  // namespace

TEST(ValueListDecoders, NumbersEndWithSemicolonAndAnEmptyItemIsNull) {
    auto v = DecodeNumericList(rt::Variant("12;3.5;;-7;1E+20;-1.5E-07;.5;"));
    ASSERT_EQ(v.size(), 7u);
    EXPECT_DOUBLE_EQ(v[0].R8(), 12);
    EXPECT_DOUBLE_EQ(v[1].R8(), 3.5);
    EXPECT_TRUE(v[2].IsNull());
    EXPECT_DOUBLE_EQ(v[3].R8(), -7);
    EXPECT_DOUBLE_EQ(v[4].R8(), 1e20);
    EXPECT_DOUBLE_EQ(v[5].R8(), -1.5e-7);
    EXPECT_DOUBLE_EQ(v[6].R8(), 0.5);
    EXPECT_TRUE(DecodeNumericList(rt::Variant("")).empty());
    EXPECT_TRUE(DecodeNumericList(rt::Variant::Null()).empty());
    ASSERT_EQ(DecodeNumericList(rt::Variant(";")).size(), 1u);
}

TEST(ValueListDecoders, EveryNumberReadsAsTheGeneralConversionReadsIt) {
    // Short whole numbers, long ones, signs, leading zeros and decimals.
    for (const char* text : {"0", "-0", "7", "007", "-12", "999999999999999", "-999999999999999",
                             "1234567890123456", "99999999999999999999", "5.", ".5", "-0.25", "1E+20", "123.456"}) {
        auto v = DecodeNumericList(rt::Variant(std::string(text) + ";1;"));
        ASSERT_EQ(v.size(), 2u) << text;
        EXPECT_EQ(v[0].R8(), std::strtod(text, nullptr)) << text;
        EXPECT_EQ(std::signbit(v[0].R8()), std::signbit(std::strtod(text, nullptr))) << text;
        EXPECT_EQ(v[1].R8(), 1) << text;
    }
}

TEST(ValueListDecoders, LongTextsAndLengthsPastTheEndAreReadByTheirLength) {
    const std::string longText(1200000, 'a');
    auto v = DecodeStringList(rt::Variant("999999:" + longText.substr(0, 999999) + "1200000:" + longText + "1:b"));
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].Str().size(), 999999u);
    EXPECT_EQ(v[1].Str(), longText);
    EXPECT_EQ(v[2].Str(), "b");
    ExpectOra([] { DecodeStringList(rt::Variant("1:a5:abc")); }, 6502, {"item 2", "shorter"});
}

TEST(ValueListDecoders, MalformedNumberListsAreRefusedWithTheItem) {
    ExpectOra([] { DecodeNumericList(rt::Variant("12;3")); }, 6502, {"item 2", "';'"});
    ExpectOra([] { DecodeNumericList(rt::Variant("abc;")); }, 6502, {"item 1", "abc"});
    ExpectOra([] { DecodeNumericList(rt::Variant("1;2,5;")); }, 6502, {"item 2", "2,5"});
    ExpectOra([] { DecodeNumericList(rt::Variant("1e;")); }, 6502);
    ExpectOra([] { DecodeNumericList(rt::Variant(" 1;")); }, 6502);
    ExpectOra([] { DecodeNumericList(rt::Variant(int32_t{5})); }, 6502, {"must be a text"});
}

TEST(ValueListDecoders, TextsAreReadByTheirLengthSoSeparatorsInsideSurvive) {
    auto v = DecodeStringList(rt::Variant("3:abc0:-1:"));
    EXPECT_EQ(Texts(v), (std::vector<std::string>{"abc", "", "<null>"}));

    // Texts holding the separators of all three encodings.
    std::vector<std::string> tricky = {"a;b", "c:d", "3:x", "-1:", ";;", "12;", "0:", " "};
    std::string list;
    for (const auto& t : tricky) list += Item(t);
    EXPECT_EQ(Texts(DecodeStringList(rt::Variant(list))), tricky);
}

TEST(ValueListDecoders, TextLengthsCountUtf16CodeUnitsNotBytes) {
    // "Straße" is 6 units (7 bytes); "Zoë Brandt" 10; the emoji is a
    // surrogate pair: 2 units, 4 bytes; CJK characters are 1 unit, 3 bytes.
    std::vector<std::string> texts = {"Straße", "Zoë Brandt", "\xF0\x9F\x98\x80", "水道;本管", "a\xF0\x9F\x98\x80:b"};
    std::string list;
    for (const auto& t : texts) list += Item(t);
    EXPECT_EQ(list.substr(0, 9), "6:Straße");
    EXPECT_EQ(Texts(DecodeStringList(rt::Variant(list))), texts);

    // A length that ends inside a surrogate pair, or one counted in bytes,
    // does not decode.
    ExpectOra([] { DecodeStringList(rt::Variant("1:\xF0\x9F\x98\x80")); }, 6502, {"inside a character"});
    ExpectOra([] { DecodeStringList(rt::Variant("7:Straße")); }, 6502, {"shorter"});
}

TEST(ValueListDecoders, MalformedTextListsAreRefused) {
    ExpectOra([] { DecodeStringList(rt::Variant("abc")); }, 6502, {"item 1"});
    ExpectOra([] { DecodeStringList(rt::Variant("3:abc4:de")); }, 6502, {"item 2"});
    ExpectOra([] { DecodeStringList(rt::Variant("-2:")); }, 6502, {"negative"});
    ExpectOra([] { DecodeStringList(rt::Variant("3abc")); }, 6502);
    ExpectOra([] { DecodeStringList(rt::Variant("2:\xC3")); }, 6502, {"UTF-8"});
}

TEST(ValueListDecoders, DatesAreNineteenCharactersOrNull) {
    auto v = DecodeDateList(rt::Variant("19:01/31/2020 13:45:07-1:19:02/29/2024 00:00:00"));
    ASSERT_EQ(v.size(), 3u);
    ASSERT_EQ(v[0].Type(), rt::vbDate);
    EXPECT_EQ(OleDateToDbText(v[0].DateValue()), "2020-01-31 13:45:07");
    EXPECT_TRUE(v[1].IsNull());
    EXPECT_EQ(OleDateToDbText(v[2].DateValue()), "2024-02-29 00:00:00");
    // 1899-12-30 is day 0 of the dates the system uses.
    EXPECT_DOUBLE_EQ(DecodeDateList(rt::Variant("19:12/31/1899 12:00:00"))[0].DateValue(), 1.5);

    ExpectOra([] { DecodeDateList(rt::Variant("19:13/01/2020 00:00:00")); }, 6502, {"13/01/2020"});
    ExpectOra([] { DecodeDateList(rt::Variant("19:02/29/2023 00:00:00")); }, 6502);
    ExpectOra([] { DecodeDateList(rt::Variant("19:01/31/2020 24:00:00")); }, 6502);
    ExpectOra([] { DecodeDateList(rt::Variant("10:01/31/2020")); }, 6502, {"19 characters"});
    ExpectOra([] { DecodeDateList(rt::Variant("19:01/31/2020 13:45")); }, 6502, {"shorter"});
    ExpectOra([] { DecodeDateList(rt::Variant("19:2020-01-31 13:45:07")); }, 6502);
}

// ---------------------------------------------------------------- GETSEQVAL

namespace {
struct SeqDb {
    SqliteConnection db{":memory:", {}};
    OracleSession session{db};
    SeqDb() {
        db.EnsureTransaction();
        session.Execute("CREATE SEQUENCE QTX_FID_SEQ START WITH 6000");
        session.Execute("CREATE SEQUENCE WATER_MAIN_N_SEQ START WITH 10");
    }
    std::string Call(const rt::Variant& list, int32_t room = 1000) {
        std::vector<BoundValue> params{{list, false, 0}, {rt::Variant::Null(), true, room}};
        session.Execute("{call QTX_GETSEQVAL.GETSEQVAL(?,?)}", params);
        return params[1].value.Str();
    }
};
}  // namespace

TEST(GetSeqVal, OneValuePerExpressionInOrderJoinedByCommas) {
    SeqDb s;
    EXPECT_EQ(s.Call(rt::Variant("QTX_FID_SEQ.NextVal")), "6000");
    // A table shared by two components appears twice and gets two values.
    EXPECT_EQ(s.Call(rt::Variant("QTX_FID_SEQ.NextVal, WATER_MAIN_N_SEQ.NextVal, water_main_n_seq.NEXTVAL")),
              "6001,10,11");
    EXPECT_EQ(s.Call(rt::Variant("QTX_FID_SEQ.NextVal,WATER_MAIN_N_SEQ.NextVal")), "6002,12");
}

TEST(GetSeqVal, AFailingListTakesNoValueAtAll) {
    SeqDb s;
    ExpectOra([&] { s.Call(rt::Variant("QTX_FID_SEQ.NextVal, MISSING_SEQ.NextVal")); }, 2289, {"MISSING_SEQ"});
    // The call is undone as a whole: the first sequence did not move.
    EXPECT_EQ(s.Call(rt::Variant("QTX_FID_SEQ.NextVal")), "6000");
}

TEST(GetSeqVal, WrongArgumentsAreRefused) {
    SeqDb s;
    ExpectOra([&] { s.Call(rt::Variant("QTX_FID_SEQ")); }, 6550, {"PLS-00306", "QTX_FID_SEQ"});
    ExpectOra([&] { s.Call(rt::Variant("QTX_FID_SEQ.NextVal;")); }, 6550, {"PLS-00306"});
    ExpectOra([&] { s.Call(rt::Variant("QTX_FID_SEQ.NextVal,")); }, 6550, {"PLS-00306"});
    ExpectOra([&] { s.Call(rt::Variant("")); }, 6550, {"PLS-00306"});
    ExpectOra([&] { s.Call(rt::Variant(int32_t{3})); }, 6550, {"PLS-00306"});
    std::vector<BoundValue> one{{rt::Variant("QTX_FID_SEQ.NextVal"), false, 0}};
    ExpectOra([&] { s.session.Execute("{call QTX_GETSEQVAL.GETSEQVAL(?)}", one); }, 6550,
              {"PLS-00306", "1 arguments given, 2 expected"});
    // The output must be a bind variable the caller can read.
    std::vector<BoundValue> inputs{{rt::Variant("QTX_FID_SEQ.NextVal"), false, 0}, {rt::Variant(""), false, 0}};
    ExpectOra([&] { s.session.Execute("{call QTX_GETSEQVAL.GETSEQVAL(?,?)}", inputs); }, 6577);
    ExpectOra([&] { s.session.Execute("{call QTX_GETSEQVAL.GETSEQVAL('QTX_FID_SEQ.NextVal', 'x')}"); }, 6550,
              {"PLS-00363"});
    // Room too small for the joined values.
    ExpectOra([&] { s.Call(rt::Variant("QTX_FID_SEQ.NextVal, QTX_FID_SEQ.NextVal"), 5); }, 6502,
              {"buffer too small"});
    EXPECT_EQ(s.Call(rt::Variant("QTX_FID_SEQ.NextVal")), "6000");
}

TEST(PackageRegistry, RoutinesAreFoundByNameInAnyCaseAndCanBeAdded) {
    PackageRegistry& global = PackageRegistry::Global();
    for (const char* name : {"QTXUTILITY.DECODENUMERICLIST", "QTXUtility.DecodeStringList",
                             "qtxutility.decodedatelist", "QTX_GETSEQVAL.GETSEQVAL"})
        EXPECT_TRUE(global.Find(name).has_value()) << name;
    EXPECT_TRUE(global.Find("QTX_WORKOPERATIONS.UPDATEFEATURES").has_value());
    EXPECT_FALSE(global.Find("QTX_WORKOPERATIONS.NO_SUCH_ROUTINE").has_value());

    PackageRegistry local;
    Routine r;
    r.kind = Routine::Function;
    r.minArgs = r.maxArgs = 1;
    r.body = [](RoutineCall& c) { return rt::Variant(static_cast<int32_t>(c.args[0].Array()->Count())); };
    local.Register("Test_Pkg.Count", r);
    ASSERT_TRUE(local.Find("TEST_PKG.COUNT"));
    local.Unregister("test_pkg.count");
    EXPECT_FALSE(local.Find("TEST_PKG.COUNT"));
}
