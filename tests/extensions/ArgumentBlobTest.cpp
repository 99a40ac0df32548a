// Interface argument blobs: every value kind survives writing and reading
// with its type and bounds; damaged, cut or foreign blobs are refused with
// a clear error; the sample's stored arguments read back as documented.
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>

#include "ExtensionTestObjects.h"
#include "ado/Recordset.h"
#include "interfaces/MetadataService.h"
#include "interfaces/Varsk1.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataService.h"
#include "product/Notification.h"
#include "product/SqliteDataContext.h"
#include "product/Varsk1Blob.h"
#include "runtime/Vb.h"
#include "support/SampleEnvironment.h"

namespace exttest {
namespace {

using product::ConvertArrayToBlob;

rt::Variant Decode(const rt::Variant& blob) {
    rt::Variant out;
    varsk1::ConvertBlobToArray(blob, out);
    return out;
}

std::vector<uint8_t> Bytes(const rt::Variant& blob) {
    std::vector<uint8_t> out;
    for (const auto& b : blob.Array()->Data()) out.push_back(b.Byte());
    return out;
}

rt::Variant BlobOf(const std::vector<uint8_t>& bytes) {
    std::vector<rt::Variant> values(bytes.begin(), bytes.end());
    return rt::Variant::ArrayOf(values, 0, rt::vbByte);
}

// Decoding raises the damaged-blob error and leaves the result alone.
void ExpectDamaged(const std::vector<uint8_t>& bytes, const std::string& why) {
    rt::Variant out("untouched");
    try {
        varsk1::ConvertBlobToArray(BlobOf(bytes), out);
        ADD_FAILURE() << why << ": no error";
    } catch (const rt::ComError& e) {
        EXPECT_EQ(e.Number(), rt::vberr::InvalidProcedureCall) << why;
        EXPECT_EQ(e.Source(), "Varsk1.ConvertBlobToArray") << why;
        EXPECT_NE(e.Description().find("damaged"), std::string::npos) << e.Description();
    }
    EXPECT_EQ(rt::CStr(out), "untouched") << why;
}

rt::Variant EveryKind(int32_t lbound) {
    return rt::Variant::ArrayOf({rt::Variant(), rt::Variant::Null(), rt::Variant(int16_t{-5}),
                                 rt::Variant(int32_t{-70000}), rt::Variant(1.5f), rt::Variant(-2.25e10),
                                 rt::Variant(rt::Currency{123456789}), rt::Variant::Date(45123.75),
                                 rt::Variant("Ø; \"quoted\" a:b\n"), rt::Variant(std::string("nul\0inside", 10)),
                                 rt::Variant(""), rt::Variant(true), rt::Variant(false),
                                 rt::Variant(rt::Decimal::Parse("-12345678901234567890.125")),
                                 rt::Variant(uint8_t{200})},
                                lbound);
}

class ArgumentBlobTest : public ::testing::Test {
protected:
    void SetUp() override { product::RegisterProductStandIns(); }
};

TEST_F(ArgumentBlobTest, EveryValueKindSurvivesWithTypeAndBounds) {
    for (int32_t lbound : {1, 0, -3, 1000}) {
        rt::Variant list = EveryKind(lbound);
        rt::Variant blob = ConvertArrayToBlob(list);
        EXPECT_EQ(blob.Type(), rt::vbArray | rt::vbByte);
        rt::Variant back = Decode(blob);
        ASSERT_TRUE(back.IsArray());
        EXPECT_EQ(back.Type(), rt::vbArray | rt::vbVariant);
        EXPECT_EQ(rt::LBound(back), lbound);
        EXPECT_EQ(rt::UBound(back), rt::UBound(list));
        for (int32_t i = lbound; i <= rt::UBound(list); ++i) {
            const rt::Variant& a = list.Array()->Get(i);
            const rt::Variant& b = back.Array()->Get(i);
            EXPECT_EQ(a.Type(), b.Type()) << "element " << i;
            if (!a.IsNull()) {
                EXPECT_TRUE(rt::VariantEquals(a, b)) << "element " << i << ": " << rt::CStr(a);
            }
        }
        // Writing what was read gives the same bytes.
        EXPECT_EQ(Bytes(ConvertArrayToBlob(back)), Bytes(blob));
    }
    // Extremes of each width.
    rt::Variant extremes = rt::Variant::ArrayOf(
        {rt::Variant(std::numeric_limits<int16_t>::min()), rt::Variant(std::numeric_limits<int32_t>::max()),
         rt::Variant(std::numeric_limits<double>::denorm_min()), rt::Variant(rt::Currency{INT64_MIN})});
    rt::Variant back = Decode(ConvertArrayToBlob(extremes));
    for (int32_t i = 0; i < 4; ++i)
        EXPECT_TRUE(rt::VariantEquals(extremes.Array()->Get(i), back.Array()->Get(i))) << i;
}

TEST_F(ArgumentBlobTest, NothingStoredMeansNoArguments) {
    EXPECT_TRUE(Decode(rt::Variant::Null()).IsEmpty());
    EXPECT_TRUE(Decode(rt::Variant()).IsEmpty());
    EXPECT_TRUE(Decode(BlobOf({})).IsEmpty());
    EXPECT_TRUE(Decode(rt::Variant::UnallocatedArray(rt::vbByte)).IsEmpty());
    // A list without elements is written and read as none.
    EXPECT_TRUE(Decode(ConvertArrayToBlob(rt::Variant::MakeArray(rt::vbVariant, 1, 0))).IsEmpty());
    EXPECT_TRUE(ConvertArrayToBlob(rt::Variant()).IsNull());
    EXPECT_TRUE(ConvertArrayToBlob(rt::Variant::Null()).IsNull());
}

TEST_F(ArgumentBlobTest, DamagedBlobsAreRefusedNeverOverRead) {
    const std::vector<uint8_t> good = Bytes(ConvertArrayToBlob(EveryKind(1)));
    // Cut anywhere: the reader notices.
    for (size_t n = 1; n < good.size(); ++n)
        ExpectDamaged(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)),
                      "cut at " + std::to_string(n));

    auto changed = [&](size_t at, uint8_t value) {
        auto bytes = good;
        bytes[at] = value;
        return bytes;
    };
    ExpectDamaged(changed(0, 'X'), "foreign magic");
    ExpectDamaged(changed(4, 2), "unknown version");
    ExpectDamaged(changed(13, 9), "an object tag");
    ExpectDamaged(changed(13, 0x80), "an unknown tag");
    // The count claims more than the bytes hold.
    auto bytes = good;
    bytes[9] = bytes[10] = bytes[11] = bytes[12] = 0xFF;
    ExpectDamaged(bytes, "huge count");
    // Bytes after the last argument.
    bytes = good;
    bytes.push_back(0);
    ExpectDamaged(bytes, "trailing byte");
    // A text whose length runs past the end.
    auto text = Bytes(ConvertArrayToBlob(rt::Variant::ArrayOf({rt::Variant("abc")})));
    text[14] = 0xFF;
    ExpectDamaged(text, "text length");
    // A Boolean that is neither 0 nor 1, a Decimal that reads as no number.
    auto flag = Bytes(ConvertArrayToBlob(rt::Variant::ArrayOf({rt::Variant(true)})));
    flag.back() = 2;
    ExpectDamaged(flag, "Boolean 2");
    auto dec = Bytes(ConvertArrayToBlob(rt::Variant::ArrayOf({rt::Variant(rt::Decimal::Parse("1.5"))})));
    dec.back() = 'x';
    ExpectDamaged(dec, "Decimal text");
    // Bounds beyond a Long.
    auto high = Bytes(ConvertArrayToBlob(rt::Variant::ArrayOf({rt::Variant(), rt::Variant()}, INT32_MAX - 1)));
    EXPECT_EQ(rt::UBound(Decode(BlobOf(high))), INT32_MAX);
    high[5] = 0xFF;  // lower bound INT32_MAX
    ExpectDamaged(high, "bounds overflow");
    // The plain text the sample used to hold.
    ExpectDamaged({'m', ';', '1', '0'}, "plain text");
}

TEST_F(ArgumentBlobTest, OnlyBlobsAndStorableValuesAreAccepted) {
    rt::Variant out;
    EXPECT_EQ(Raised([&] { varsk1::ConvertBlobToArray(rt::Variant("m;10"), out); }).Number(),
              rt::vberr::TypeMismatch);
    EXPECT_EQ(Raised([&] { varsk1::ConvertBlobToArray(rt::Variant(int32_t{3}), out); }).Number(),
              rt::vberr::TypeMismatch);
    EXPECT_EQ(Raised([&] { varsk1::ConvertBlobToArray(rt::Variant::ArrayOf({rt::Variant(int32_t{1})}), out); })
                  .Number(),
              rt::vberr::TypeMismatch);
    EXPECT_EQ(Raised([&] { varsk1::ConvertBlobToArray(rt::Variant::MakeArray(rt::vbByte, {{0, 13}, {0, 1}}), out); })
                  .Number(),
              rt::vberr::InvalidProcedureCall);

    auto object = std::make_shared<NamedFI>();
    EXPECT_EQ(Raised([&] { ConvertArrayToBlob(rt::Variant::ArrayOf({rt::Variant(object)})); }).Number(),
              rt::vberr::TypeMismatch);
    EXPECT_EQ(Raised([&] { ConvertArrayToBlob(rt::Variant::ArrayOf({rt::Variant::ArrayOf({rt::Variant()})})); })
                  .Number(),
              rt::vberr::TypeMismatch);
    EXPECT_EQ(Raised([&] { ConvertArrayToBlob(rt::Variant("a")); }).Number(), rt::vberr::TypeMismatch);
    EXPECT_EQ(Raised([&] { ConvertArrayToBlob(rt::Variant::MakeArray(rt::vbVariant, {{0, 2}, {0, 2}})); }).Number(),
              rt::vberr::SubscriptOutOfRange);
}

class SampleBlobTest : public ExtensionFixture {};

TEST_F(SampleBlobTest, SampleArgumentsReadBackFromTheDatabaseAndTheCache) {
    const auto& env = pelmora_test::SampleEnvironment::Get();
    auto dc = env.OpenDataContext();
    auto rows = dc->OpenRecordset(
        "SELECT QTX_ANO, QTX_INTERFACEARGUMENT FROM QTX_ATTRIBUTEINFOFI_OPTABLE ORDER BY QTX_ANO");
    int stored = 0;
    for (; !rows->get_EOF(); rows->MoveNext()) {
        rt::Variant blob = rows->GetValue(rt::Variant("QTX_INTERFACEARGUMENT"));
        rt::Variant list = Decode(blob);  // every stored blob must read
        if (blob.IsNull()) continue;
        ++stored;
        EXPECT_EQ(Bytes(ConvertArrayToBlob(list)), Bytes(blob)) << "written as the writer writes";
        const int32_t ano = rt::CLng(rows->GetValue(rt::Variant("QTX_ANO")));
        if (ano == 1104) {
            EXPECT_EQ(rt::LBound(list), 1);
            EXPECT_EQ(rt::CStr(list.Array()->Get(1)), "m");
            EXPECT_EQ(list.Array()->Get(2).Type(), rt::vbLong);
            EXPECT_EQ(rt::CLng(list.Array()->Get(2)), 10);
        } else if (ano == 2101) {
            EXPECT_EQ(rt::UBound(list), 3);
            EXPECT_EQ(rt::CStr(list.Array()->Get(2)), "BUTTERFLY");
            EXPECT_TRUE(list.Array()->Get(3).IsNull());
        }
    }
    EXPECT_EQ(stored, 2);

    // The same through the metadata cache.
    ::setenv("PELMORA_CONFIGURATION_MAP", env.ConfigurationMapPath().c_str(), 1);
    product::RegisterApplicationClasses();
    pelmora::RegisterMetadataRecordsetFilterService();
    auto service = std::make_shared<pelmora::MetadataService>();
    service->put_Configuration(env.ConfigurationName());
    auto cached = rt::QueryInterface<pelmora::IMetadataService>(service)
                      ->get_Recordsets()
                      ->get_Item(rt::Variant("QTX_ATTRIBUTEINFOFI_OPTABLE"))
                      ->get_Recordset("QTX_ANO = 1104");
    ASSERT_FALSE(cached->get_EOF());
    rt::Variant list = Decode(cached->GetValue(rt::Variant("QTX_INTERFACEARGUMENT")));
    EXPECT_EQ(rt::UBound(list), 2);
    EXPECT_EQ(rt::CStr(list.Array()->Get(1)), "m");
}

}  // namespace
}  // namespace exttest
