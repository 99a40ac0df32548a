#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "ado/Persist.h"
#include "runtime/Error.h"
#include "runtime/FileReplace.h"
#include "support/TestFolders.h"

using ado::RecordsetImage;
using rt::Variant;
namespace fs = std::filesystem;

namespace {

// Same type and same stored value, bit for bit where it matters.
::testing::AssertionResult SameValue(const Variant& a, const Variant& b) {
    if (a.Type() != b.Type())
        return ::testing::AssertionFailure() << "type " << a.Type() << " vs " << b.Type();
    bool same = true;
    switch (a.Type()) {
        case rt::vbEmpty: case rt::vbNull: break;
        case rt::vbInteger: same = a.I2() == b.I2(); break;
        case rt::vbLong: same = a.I4() == b.I4(); break;
        case rt::vbSingle: case rt::vbDouble: same = a.R8() == b.R8(); break;
        case rt::vbCurrency: same = a.Cy().scaled == b.Cy().scaled; break;
        case rt::vbDate: same = a.DateValue() == b.DateValue(); break;
        case rt::vbString: same = a.Str() == b.Str(); break;
        case rt::vbBoolean: same = a.Bool() == b.Bool(); break;
        case rt::vbByte: same = a.Byte() == b.Byte(); break;
        case rt::vbDecimal:
            same = a.Dec().magnitude == b.Dec().magnitude && a.Dec().scale == b.Dec().scale &&
                   a.Dec().negative == b.Dec().negative;
            break;
        case rt::vbArray | rt::vbByte: {
            const auto* x = a.Array();
            const auto* y = b.Array();
            same = x->LBound() == y->LBound() && x->Count() == y->Count();
            for (size_t i = 0; same && i < x->Count(); ++i) same = x->Data()[i].Byte() == y->Data()[i].Byte();
            break;
        }
        default: return ::testing::AssertionFailure() << "unexpected type " << a.Type();
    }
    if (!same) return ::testing::AssertionFailure() << "values differ for type " << a.Type();
    return ::testing::AssertionSuccess();
}

Variant Bytes(std::initializer_list<uint8_t> bytes, int32_t lbound) {
    Variant v = Variant::MakeArray(rt::vbByte, lbound, lbound + static_cast<int32_t>(bytes.size()) - 1);
    size_t i = 0;
    for (uint8_t b : bytes) v.ArrayMut()->Data()[i++] = Variant(b);
    return v;
}

ado::FieldDesc Field(const char* name, ado::DataTypeEnum type, int32_t size = 0) {
    ado::FieldDesc f;
    f.name = name;
    f.type = type;
    f.definedSize = size;
    return f;
}

// A small image with every value type the format holds.
RecordsetImage Sample() {
    RecordsetImage img;
    img.source = "SELECT * FROM QTX_ATTRIBUTE_OPTABLE WHERE QTX_CNO = 1";
    ado::FieldDesc id = Field("QTX_ID", ado::adNumeric, 19);
    id.precision = 10;
    id.numericScale = 2;
    id.attributes = ado::adFldUpdatable | ado::adFldIsNullable | ado::adFldKeyColumn;
    id.baseTable = "QTX_ATTRIBUTE_OPTABLE";
    id.baseColumn = "QTX_ID";
    img.fields = {id, Field("Name", ado::adVarWChar, 255), Field("Value", ado::adVariant)};
    rt::Decimal big;
    big.magnitude = (static_cast<unsigned __int128>(0xFFFFFFFFu) << 64) | 0xFFFFFFFFFFFFFFFFull;  // 2^96 - 1
    big.scale = 28;
    big.negative = true;
    std::vector<Variant> values = {
        Variant(),
        Variant::Null(),
        Variant(int16_t{-32768}),
        Variant(int32_t{2147483647}),
        Variant(1.5f),
        Variant(-1.0e300),
        Variant(rt::Currency{-922337203685477580}),
        Variant(big),
        Variant::Date(43861.5729166667),
        Variant("Grüße, 東京, \xF0\x9F\x9A\xB0"),
        Variant(std::string("nul\0inside", 10)),
        Variant(""),
        Variant(true),
        Variant(false),
        Variant(uint8_t{255}),
        Bytes({0, 1, 2, 254, 255}, 0),
        Bytes({9}, -3),
        Bytes({}, 0),
    };
    // Three values a row: pad with Null to whole rows.
    while (values.size() % 3) values.push_back(Variant::Null());
    img.values = std::move(values);
    return img;
}

void ExpectSameImage(const RecordsetImage& a, const RecordsetImage& b) {
    EXPECT_EQ(a.source, b.source);
    ASSERT_EQ(a.fields.size(), b.fields.size());
    for (size_t i = 0; i < a.fields.size(); ++i) {
        const auto& x = a.fields[i];
        const auto& y = b.fields[i];
        EXPECT_EQ(x.name, y.name);
        EXPECT_EQ(x.type, y.type);
        EXPECT_EQ(x.definedSize, y.definedSize);
        EXPECT_EQ(x.precision, y.precision);
        EXPECT_EQ(x.numericScale, y.numericScale);
        EXPECT_EQ(x.attributes, y.attributes);
        EXPECT_EQ(x.baseTable, y.baseTable);
        EXPECT_EQ(x.baseColumn, y.baseColumn);
    }
    ASSERT_EQ(a.values.size(), b.values.size());
    for (size_t i = 0; i < a.values.size(); ++i) EXPECT_TRUE(SameValue(a.values[i], b.values[i])) << "value " << i;
}

int32_t LoadError(const std::string& bytes, std::string* description = nullptr) {
    try {
        ado::DeserializeImage(bytes, "cache/QTX_TEST.RAW");
    } catch (const rt::ComError& e) {
        if (description) *description = e.Description();
        EXPECT_NE(e.Description().find("cache/QTX_TEST.RAW"), std::string::npos) << e.Description();
        return e.Number();
    }
    return 0;
}

// Replaces the closing checksum so that only the structure is judged.
std::string Reseal(std::string bytes) {
    uint32_t crc = ado::persist::Checksum(bytes.data(), bytes.size() - 4);
    std::memcpy(bytes.data() + bytes.size() - 4, &crc, 4);
    return bytes;
}

class PersistFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = pelmora_test::FreshTestFolder("pelmora_persist");
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

}  // namespace

TEST(PersistImage, RoundTripKeepsEveryTypeFieldAndRowOrder) {
    RecordsetImage img = Sample();
    RecordsetImage back = ado::DeserializeImage(ado::SerializeImage(img));
    ExpectSameImage(img, back);
    EXPECT_EQ(back.RowCount(), img.RowCount());
}

TEST(PersistImage, SpecialDoublesSurviveBitForBit) {
    RecordsetImage img;
    img.fields = {Field("D", ado::adDouble)};
    double specials[] = {0.0, -0.0, 5e-324, 1.7976931348623157e308, 0.1};
    for (double d : specials) img.values.push_back(Variant(d));
    RecordsetImage back = ado::DeserializeImage(ado::SerializeImage(img));
    ASSERT_EQ(back.values.size(), std::size(specials));
    for (size_t i = 0; i < std::size(specials); ++i) {
        double got = back.values[i].R8();
        EXPECT_EQ(std::memcmp(&got, &specials[i], sizeof got), 0) << i;
    }
}

TEST(PersistImage, EmptyShapes) {
    RecordsetImage noRows;
    noRows.fields = {Field("A", ado::adInteger), Field("B", ado::adVarChar, 10)};
    RecordsetImage back = ado::DeserializeImage(ado::SerializeImage(noRows));
    ExpectSameImage(noRows, back);
    EXPECT_EQ(back.RowCount(), 0u);

    RecordsetImage nothing;
    back = ado::DeserializeImage(ado::SerializeImage(nothing));
    EXPECT_TRUE(back.fields.empty());
    EXPECT_TRUE(back.values.empty());
    EXPECT_TRUE(back.source.empty());
}

TEST(PersistImage, ValuesTheFormatCannotHoldAreRefused) {
    for (const Variant& v : {Variant::Nothing(), Variant::Error(5), Variant::ArrayOf({Variant(int32_t{1})}),
                             Variant::UnallocatedArray(rt::vbByte),
                             Variant::MakeArray(rt::vbByte, {rt::ArrayBound{0, 2}, rt::ArrayBound{0, 2}})}) {
        RecordsetImage img;
        img.fields = {Field("X", ado::adVariant)};
        img.values = {v};
        try {
            ado::SerializeImage(img);
            ADD_FAILURE() << "serialized " << rt::TypeName(v);
        } catch (const rt::ComError& e) {
            EXPECT_EQ(e.Number(), ado::persist::Unsupported) << rt::TypeName(v);
        }
    }
    RecordsetImage ragged;
    ragged.fields = {Field("A", ado::adInteger), Field("B", ado::adInteger)};
    ragged.values = {Variant(int32_t{1}), Variant(int32_t{2}), Variant(int32_t{3})};
    EXPECT_THROW(ado::SerializeImage(ragged), rt::ComError);
}

TEST(PersistImage, EveryTruncationIsRefusedWithTheFileName) {
    const std::string bytes = ado::SerializeImage(Sample());
    for (size_t len = 0; len < bytes.size(); ++len)
        EXPECT_EQ(LoadError(bytes.substr(0, len)), ado::persist::BadFormat) << "length " << len;
}

TEST(PersistImage, EveryFlippedBitIsRefused) {
    const std::string bytes = ado::SerializeImage(Sample());
    for (size_t i = 0; i < bytes.size(); ++i)
        for (int bit = 0; bit < 8; ++bit) {
            std::string damaged = bytes;
            damaged[i] = static_cast<char>(damaged[i] ^ (1 << bit));
            EXPECT_EQ(LoadError(damaged), ado::persist::BadFormat) << "byte " << i << " bit " << bit;
        }
}

TEST(PersistImage, ForeignAndNewerFilesAreNamedAsSuch) {
    std::string why;
    EXPECT_EQ(LoadError("<?xml version=\"1.0\"?><xml xmlns:s='uuid:BDC6E3F0'/>", &why), ado::persist::BadFormat);
    EXPECT_NE(why.find("not a persisted recordset"), std::string::npos) << why;
    EXPECT_EQ(LoadError("", &why), ado::persist::BadFormat);

    std::string newer = ado::SerializeImage(Sample());
    newer[8] = 2;  // version
    EXPECT_EQ(LoadError(Reseal(newer), &why), ado::persist::BadFormat);
    EXPECT_NE(why.find("version 2"), std::string::npos) << why;
}

TEST(PersistImage, ImpossibleCountsAreRefusedBeforeAllocating) {
    RecordsetImage img;
    img.fields = {Field("A", ado::adInteger)};
    img.values = {Variant(int32_t{1}), Variant(int32_t{2})};
    const std::string good = ado::SerializeImage(img);
    // Layout: magic 8, version 2, flags 2, source 4+0, field count 4 at offset 16.
    const size_t fieldCountAt = 16;
    const size_t rowCountAt = good.size() - 4 - 2 * 5 - 8;
    std::string why;

    std::string manyFields = good;
    uint32_t fields = 0xFFFFFFFFu;
    std::memcpy(manyFields.data() + fieldCountAt, &fields, 4);
    EXPECT_EQ(LoadError(Reseal(manyFields), &why), ado::persist::BadFormat);
    EXPECT_NE(why.find("field count"), std::string::npos) << why;

    for (uint64_t rows : {uint64_t{3}, uint64_t{1} << 40, ~uint64_t{0}}) {
        std::string manyRows = good;
        std::memcpy(manyRows.data() + rowCountAt, &rows, 8);
        EXPECT_EQ(LoadError(Reseal(manyRows), &why), ado::persist::BadFormat) << rows;
    }
    std::string fewerRows = good;
    uint64_t one = 1;
    std::memcpy(fewerRows.data() + rowCountAt, &one, 8);
    EXPECT_EQ(LoadError(Reseal(fewerRows), &why), ado::persist::BadFormat);
    EXPECT_NE(why.find("after the last row"), std::string::npos) << why;

    // A huge text length inside a resealed file.
    std::string longName = good;
    uint32_t huge = 0x7FFFFFFF;
    std::memcpy(longName.data() + fieldCountAt + 4, &huge, 4);
    EXPECT_EQ(LoadError(Reseal(longName), &why), ado::persist::BadFormat);
}

TEST(PersistImage, DamagedValuesBehindAValidChecksumAreRefused) {
    RecordsetImage img;
    img.fields = {Field("A", ado::adVariant)};
    img.values = {Variant(true)};
    const std::string good = ado::SerializeImage(img);
    const size_t tagAt = good.size() - 4 - 2;  // tag, then the Boolean byte
    std::string badBool = good;
    badBool[tagAt + 1] = 7;
    EXPECT_EQ(LoadError(Reseal(badBool)), ado::persist::BadFormat);
    for (uint8_t tag : {uint8_t{9}, uint8_t{10}, uint8_t{12}, uint8_t{0x20}, uint8_t{0xFF}}) {
        std::string badTag = good;
        badTag[tagAt] = static_cast<char>(tag);
        EXPECT_EQ(LoadError(Reseal(badTag)), ado::persist::BadFormat) << int{tag};
    }
    std::string flags = good;
    flags[10] = 1;
    EXPECT_EQ(LoadError(Reseal(flags)), ado::persist::BadFormat);
}

TEST_F(PersistFile, SaveAndLoadThroughAFile) {
    const std::string path = (dir_ / "QTX_TEST.RAW").string();
    RecordsetImage img = Sample();
    ado::SaveImage(path, img);
    ExpectSameImage(img, ado::LoadImage(path));

    // Saving again replaces the file whole and leaves no temporary behind.
    RecordsetImage smaller;
    smaller.source = "second";
    smaller.fields = {Field("Only", ado::adInteger)};
    smaller.values = {Variant(int32_t{42})};
    ado::SaveImage(path, smaller);
    ExpectSameImage(smaller, ado::LoadImage(path));
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(dir_)) {
        ++files;
        EXPECT_EQ(entry.path().filename(), "QTX_TEST.RAW");
    }
    EXPECT_EQ(files, 1u);

    // A killed writer that had this process's id left the private name the
    // next save takes: the save takes another.
    const std::string left = (dir_ / "left.RAW").string();
    const std::string taken = rt::PrivateSiblingPath(left);
    const std::string next = taken.substr(0, taken.rfind('.') + 1) +
                             std::to_string(std::stoul(taken.substr(taken.rfind('.') + 1)) + 1);
    std::ofstream(next) << "left by a killed writer";
    ado::SaveImage(left, Sample());
    ExpectSameImage(Sample(), ado::LoadImage(left));
    fs::remove(next);
}

TEST_F(PersistFile, FileErrorsNameTheFile) {
    const std::string missing = (dir_ / "missing.RAW").string();
    try {
        ado::LoadImage(missing);
        FAIL() << "loaded a missing file";
    } catch (const rt::ComError& e) {
        EXPECT_EQ(e.Number(), ado::persist::FileError);
        EXPECT_NE(e.Description().find(missing), std::string::npos) << e.Description();
    }
    // A directory or a named pipe is refused without waiting for a writer.
    const std::string pipe = (dir_ / "pipe.RAW").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& odd : {dir_.string(), pipe}) {
        try {
            ado::LoadImage(odd);
            FAIL() << "loaded " << odd;
        } catch (const rt::ComError& e) {
            EXPECT_EQ(e.Number(), ado::persist::FileError);
            EXPECT_NE(e.Description().find("not a regular file"), std::string::npos) << e.Description();
        }
    }
    fs::remove(pipe);

    const std::string nowhere = (dir_ / "no" / "such" / "dir" / "x.RAW").string();
    try {
        ado::SaveImage(nowhere, Sample());
        FAIL() << "saved into a missing directory";
    } catch (const rt::ComError& e) {
        EXPECT_EQ(e.Number(), ado::persist::FileError);
    }

    // A target that cannot be replaced (a directory) fails after the write and
    // leaves no temporary file behind.
    const fs::path sub = dir_ / "taken.RAW";
    fs::create_directory(sub);
    fs::create_directory(sub / "inside");  // not empty, so rename cannot replace it
    try {
        ado::SaveImage(sub.string(), Sample());
        FAIL() << "saved over a directory";
    } catch (const rt::ComError& e) {
        EXPECT_EQ(e.Number(), ado::persist::FileError);
        EXPECT_NE(e.Description().find(sub.string()), std::string::npos) << e.Description();
    }
    for (const auto& entry : fs::directory_iterator(dir_))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();

    // A value that cannot be saved leaves the old file as it was.
    const std::string path = (dir_ / "keep.RAW").string();
    ado::SaveImage(path, Sample());
    RecordsetImage bad;
    bad.fields = {Field("X", ado::adVariant)};
    bad.values = {Variant::Nothing()};
    EXPECT_THROW(ado::SaveImage(path, bad), rt::ComError);
    ExpectSameImage(Sample(), ado::LoadImage(path));

    const std::string text = (dir_ / "text.RAW").string();
    std::ofstream(text) << "QTX_FNO,QTX_NAME\n1,Pole\n";
    try {
        ado::LoadImage(text);
        FAIL() << "loaded a text file";
    } catch (const rt::ComError& e) {
        EXPECT_EQ(e.Number(), ado::persist::BadFormat);
        EXPECT_NE(e.Description().find(text), std::string::npos) << e.Description();
    }
}

// Sparse files of 3 GiB: read whole, any of them would show in the peak
// memory of the process.
TEST_F(PersistFile, AFileIsJudgedByItsHeadAndSizeBeforeItIsRead) {
    const std::string signature("PLMRSET\x1A", 8);
    const struct Case {
        const char* name;
        std::string head;
        const char* cause;
    } cases[] = {
        {"junk", std::string(64, 'j'), "unknown signature"},
        {"newer", signature + std::string("\x09\x00", 2), "format version 9"},
        {"huge", signature + std::string("\x01\x00\x00\x00", 4), "is too large: 3221225472 bytes"},
        {"cut head", signature + std::string("\x01", 1), "is truncated"},
    };
    struct rusage before {};
    ::getrusage(RUSAGE_SELF, &before);
    for (const Case& c : cases) {
        const std::string path = (dir_ / c.name).string();
        std::ofstream(path, std::ios::binary) << c.head;
        if (c.head.size() > 9) fs::resize_file(path, uint64_t{3} << 30);
        try {
            ado::LoadImage(path);
            ADD_FAILURE() << "loaded " << c.name;
        } catch (const rt::ComError& e) {
            EXPECT_EQ(e.Number(), ado::persist::BadFormat) << c.name;
            EXPECT_NE(e.Description().find(c.cause), std::string::npos) << e.Description();
            EXPECT_NE(e.Description().find(path), std::string::npos) << e.Description();
        }
    }
    struct rusage after {};
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024) << "kB more at the peak";
}

// The closing checksum is CRC-32 (IEEE) at every length and alignment, as
// computed bit by bit; files written before stay readable.
TEST(PersistImage, ChecksumIsTheIeeeCrc32) {
    auto bitwise = [](const char* p, size_t n) {
        uint32_t c = 0xFFFFFFFFu;
        while (n--) {
            c ^= static_cast<unsigned char>(*p++);
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        return c ^ 0xFFFFFFFFu;
    };
    EXPECT_EQ(ado::persist::Checksum("123456789", 9), 0xCBF43926u);
    std::string data;
    for (int i = 0; i < 200; ++i) data.push_back(static_cast<char>(i * 37 + 11));
    for (size_t start : {0, 1, 3})
        for (size_t n : {0, 1, 7, 8, 15, 16, 17, 31, 33, 100, 197})
            EXPECT_EQ(ado::persist::Checksum(data.data() + start, n), bitwise(data.data() + start, n)) << start << "+" << n;
}
