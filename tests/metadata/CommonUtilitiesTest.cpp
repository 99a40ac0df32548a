#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "CommonFakes.h"
#include "pelmora/common/MiscEnvironment.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "runtime/Variant.h"

using namespace pelmora;
using namespace commontest;
using pelmora_test::Raised;
using rt::Variant;

namespace {

const Variant M = Variant::Missing();

class RaiseErrorTest : public CommonTest {};

TEST_F(RaiseErrorTest, NumbersInsideTheRangeAreOffsetOthersGiveTheBase) {
    struct Case {
        int32_t given;
        uint32_t raised;
    } cases[] = {
        {0, 0x80040000u},      {1, 0x80040001u},     {65535, 0x8004FFFFu}, {65536, 0x80040000u},
        {-1, 0x80040000u},     {static_cast<int32_t>(0x80040005u), 0x80040000u},
        {23285, 0x80040000u + 23285},
    };
    for (const Case& c : cases) {
        rt::ComError e = Raised([&] { RaiseError(c.given, "MetadataService.Fetch", Variant("text")); });
        EXPECT_EQ(e.Number(), Hr(c.raised)) << c.given;
        EXPECT_EQ(e.Source(), "MetadataService.Fetch") << c.given;
        EXPECT_EQ(e.Description(), "text") << c.given;
    }
}

TEST_F(RaiseErrorTest, DescriptionIsTheFirstTextOrBothJoinedByALineBreak) {
    EXPECT_EQ(Raised([] { RaiseError(1, "S", Variant("first")); }).Description(), "first");
    EXPECT_EQ(Raised([] { RaiseError(1, "S", Variant("first"), M, Variant("")); }).Description(), "first");
    EXPECT_EQ(Raised([] { RaiseError(1, "S", Variant("first"), M, Variant("second")); }).Description(),
              "first\r\nsecond");
    EXPECT_EQ(Raised([] { RaiseError(1, "S"); }).Description(), "");
    // An empty first text still joins: the line break separates the two texts.
    EXPECT_EQ(Raised([] { RaiseError(1, "S", Variant(""), M, Variant("second")); }).Description(), "\r\nsecond");
}

TEST_F(RaiseErrorTest, MessageIdsGiveTheTemplateOrTheFilledText) {
    messages->texts[22142] = "Item %1 is not in the collection.";
    messages->texts[23283] = "ComponentDatabaseService";
    EXPECT_EQ(Raised([] { RaiseError(1, "S", Variant(int16_t{22142})); }).Description(),
              "Item %1 is not in the collection.");
    EXPECT_EQ(Raised([] { RaiseError(1, "S", Variant(int32_t{22142}), Variant("QTX_X")); }).Description(),
              "Item QTX_X is not in the collection.");
    // A numeric parameter is converted to text.
    EXPECT_EQ(Raised([] { RaiseError(1, "S", Variant(int16_t{22142}), Variant(int32_t{7})); }).Description(),
              "Item 7 is not in the collection.");
    EXPECT_EQ(Raised([] {
                  RaiseError(1, "S", Variant(int16_t{23283}), M, Variant(int16_t{22142}), Variant("K"));
              }).Description(),
              "ComponentDatabaseService\r\nItem K is not in the collection.");
}

TEST_F(RaiseErrorTest, TextsThatCannotBeResolvedAreLeftEmpty) {
    messages->texts[5] = "five";
    // A Null id, an id beyond 16 bits with a parameter, a failing message object.
    EXPECT_EQ(Raised([] { RaiseError(3, "S", Variant::Null(), M, Variant("b")); }).Description(), "\r\nb");
    EXPECT_EQ(Raised([] { RaiseError(3, "S", Variant(int32_t{70000}), Variant("p")); }).Description(), "");
    messages->failGet = true;
    rt::ComError e = Raised([] { RaiseError(3, "S", Variant(int16_t{5}), M, Variant("b")); });
    EXPECT_EQ(e.Number(), Hr(0x80040003u));
    EXPECT_EQ(e.Description(), "\r\nb");
}

TEST_F(RaiseErrorTest, MissingMessageObjectStillRaisesTheError) {
    rt::UnregisterClass(kMessageObjectProgId);
    rt::ComError e = Raised([] { RaiseError(7, "Src", Variant(int16_t{25041})); });
    EXPECT_EQ(e.Number(), Hr(0x80040007u));
    EXPECT_EQ(e.Source(), "Src");
    EXPECT_EQ(e.Description(), "");
}

class LoadResStringTest : public CommonTest {};

TEST_F(LoadResStringTest, FillsUpToFiveParameters) {
    messages->texts[100] = "%1-%2-%3-%4-%5";
    EXPECT_EQ(LoadResStringWithParams(100, "a", "b", "c", "d", "e"), "a-b-c-d-e");
    EXPECT_EQ(LoadResStringWithParams(100, "a", "", "", "", ""), "a----");
    EXPECT_EQ(LoadResStringWithParam(100, "x"), "x----");
}

TEST_F(LoadResStringTest, AnEmptyResultGivesTheLoadFailureText) {
    EXPECT_EQ(LoadResStringWithParams(101, "a"), kResourceLoadFailedText);  // unknown id
    messages->texts[102] = "%1";
    EXPECT_EQ(LoadResStringWithParam(102, ""), kResourceLoadFailedText);    // fills to nothing
}

TEST_F(LoadResStringTest, FailuresOfTheMessageObjectReachTheCaller) {
    messages->failGet = true;
    EXPECT_THROW(LoadResStringWithParams(100, "a"), rt::ComError);
    rt::Apartment::Reset();
    rt::UnregisterClass(kMessageObjectProgId);
    EXPECT_EQ(Raised([] { LoadResStringWithParam(100, "a"); }).Number(), rt::vberr::CannotCreateObject);
}

TEST_F(LoadResStringTest, TheMessageObjectIsCreatedOncePerApartment) {
    int created = 0;
    auto m = messages;
    rt::RegisterClass(kMessageObjectProgId, "", [m, &created] {
        ++created;
        return m;
    });
    messages->texts[1] = "one";
    LoadResStringWithParams(1);
    LoadResStringWithParams(1);
    EXPECT_EQ(created, 1);
    rt::Apartment::Reset();
    LoadResStringWithParams(1);
    EXPECT_EQ(created, 2);
}

class ShowMessageTest : public CommonTest {
protected:
    const product::DialogRecord& Last() {
        EXPECT_FALSE(recorder->records.empty());
        static product::DialogRecord none;
        return recorder->records.empty() ? none : recorder->records.back();
    }
};

struct FakeApplication : rt::Object {
    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override {
        if (rt::NamesEqual(name, "Name") && kind == rt::InvokeKind::PropertyGet) return Variant("Network Editor");
        return rt::Object::Invoke(name, kind, args);
    }
};

struct Details : rt::Object, IDialogDetails {
    std::string get_DetailsText() override { return "stack of details"; }
};

TEST_F(ShowMessageTest, ButtonsDefaultToExclamationAndOk) {
    ShowMessage(Variant("hello"));
    EXPECT_EQ(Last().buttons, 48);
    EXPECT_EQ(Last().text, "hello");
    ShowMessage(Variant("hello"), M, M, M, Variant("4"));
    EXPECT_EQ(Last().buttons, 48);
    ShowMessage(Variant("hello"), M, M, M, Variant(2.0));
    EXPECT_EQ(Last().buttons, 48);
    ShowMessage(Variant("hello"), M, M, M, Variant(int16_t{0}));
    EXPECT_EQ(Last().buttons, 0);
    ShowMessage(Variant("hello"), M, M, M, Variant(int32_t{36}));
    EXPECT_EQ(Last().buttons, 36);
}

TEST_F(ShowMessageTest, ReturnsTheChosenButton) {
    EXPECT_EQ(ShowMessage(Variant("q"), M, M, M, Variant(int32_t{mb::vbYesNo})), mb::vbYes);
    recorder->answer = mb::vbNo;
    EXPECT_EQ(ShowMessage(Variant("q"), M, M, M, Variant(int32_t{mb::vbYesNo})), mb::vbNo);
}

TEST_F(ShowMessageTest, TextsAreResolvedAndJoined) {
    messages->texts[27080] = "Pending edits in %1.";
    messages->texts[18266] = "No operator.";
    ShowMessage(Variant(int16_t{27080}), Variant("QTX_A"), Variant(int16_t{18266}));
    EXPECT_EQ(Last().text, "Pending edits in QTX_A.\r\nNo operator.");
    ShowMessage(Variant(int16_t{27080}));
    EXPECT_EQ(Last().text, "Pending edits in %1.");
    // A message id whose filled text is empty shows the load failure text.
    ShowMessage(Variant(int16_t{999}), Variant("x"));
    EXPECT_EQ(Last().text, kResourceLoadFailedText);
}

TEST_F(ShowMessageTest, TitleComesFromTheApplicationTextOrMessageId) {
    ShowMessage(Variant("t"));
    EXPECT_EQ(Last().title, "");  // no application
    product::SetApplication(std::make_shared<FakeApplication>());
    ShowMessage(Variant("t"));
    EXPECT_EQ(Last().title, "Network Editor");
    ShowMessage(Variant("t"), M, M, M, M, Variant("Own title"));
    EXPECT_EQ(Last().title, "Own title");
    messages->texts[18273] = "Attribute Validation";
    ShowMessage(Variant("t"), M, M, M, M, Variant(int16_t{18273}));
    EXPECT_EQ(Last().title, "Attribute Validation");
}

TEST_F(ShowMessageTest, DetailsTextPrecedesTheMessage) {
    Variant two = Variant::ArrayOf({Variant("first"), Variant("second")});
    // A String array, as the details of a caught error list are.
    Variant strings = Variant::MakeArray(rt::vbString, 0, 1);
    strings.ArrayMut()->Set(0, Variant("first"));
    strings.ArrayMut()->Set(1, Variant("second"));
    ShowMessage(Variant("msg"), M, M, M, M, M, strings);
    EXPECT_EQ(Last().text, "first second\r\nmsg");
    // A Variant array, an empty String array and a numeric array add nothing.
    ShowMessage(Variant("msg"), M, M, M, M, M, two);
    EXPECT_EQ(Last().text, "msg");
    ShowMessage(Variant("msg"), M, M, M, M, M, Variant::MakeArray(rt::vbString, 0, -1));
    EXPECT_EQ(Last().text, "msg");
    ShowMessage(Variant("msg"), M, M, M, M, M, Variant::ArrayOf({Variant(int16_t{1})}, 0));
    EXPECT_EQ(Last().text, "msg");
    Variant blanks = Variant::MakeArray(rt::vbString, 0, 1);
    ShowMessage(Variant("msg"), M, M, M, M, M, blanks);
    EXPECT_EQ(Last().text, "msg");
}

TEST_F(ShowMessageTest, DetailsObjectIsHandedToTheDialogOtherObjectsIgnored) {
    ShowMessage(Variant("msg"), M, M, M, M, M, Variant(std::make_shared<Details>()));
    EXPECT_EQ(Last().details, "stack of details");
    EXPECT_EQ(Last().text, "msg");
    ShowMessage(Variant("msg"), M, M, M, M, M, Variant(std::make_shared<FakeApplication>()));
    EXPECT_EQ(Last().details, "");
    EXPECT_EQ(Last().text, "msg");
}

TEST_F(ShowMessageTest, FocusReturnsToTheNotedWindow) {
    win::SetFocus(42);
    ShowMessage(Variant("msg"));
    EXPECT_EQ(win::GetFocus(), 42);
}

TEST_F(ShowMessageTest, FocusReturnsEvenWhenTheDialogFails) {
    rt::RegisterClass(kDialogObjectProgId, "", [] { return std::make_shared<FailingDialog>(); });
    win::SetFocus(42);
    EXPECT_EQ(ShowMessage(Variant("msg")), 0);
    EXPECT_EQ(win::GetFocus(), 42);
    EXPECT_TRUE(recorder->records.empty());
}

TEST_F(ShowMessageTest, NeverFailsWhenNothingCanBeShown) {
    rt::UnregisterClass(kDialogObjectProgId);
    rt::UnregisterClass(kMessageObjectProgId);
    EXPECT_EQ(ShowMessage(Variant(int16_t{1}), Variant("x"), Variant::Null(), M, Variant("x"), Variant::Null(),
                          Variant(std::make_shared<Details>())),
              0);
}

class InitResourcesTest : public CommonTest {};

TEST_F(InitResourcesTest, SelectsTheModuleOnTheApartmentsMessageObject) {
    InitResources("PELMORA");
    ASSERT_EQ(messages->selected.size(), 1u);
    EXPECT_EQ(messages->selected[0], "PELMORA");
    EXPECT_TRUE(recorder->records.empty());
}

TEST_F(InitResourcesTest, FailureIsShownInAPlainBoxAndDoesNotReachTheCaller) {
    messages->failSelect = true;
    EXPECT_NO_THROW(InitResources("NOSUCH"));
    ASSERT_EQ(recorder->records.size(), 1u);
    EXPECT_EQ(recorder->records[0].kind, "system");
    EXPECT_EQ(recorder->records[0].text, "no module NOSUCH");
    EXPECT_EQ(recorder->records[0].buttons, 0);

    rt::Apartment::Reset();
    rt::UnregisterClass(kMessageObjectProgId);
    EXPECT_NO_THROW(InitResources("PELMORA"));
    EXPECT_EQ(recorder->records.size(), 2u);
}

TEST(CommonArrays, IsArrayDimensioned) {
    EXPECT_TRUE(IsArrayDimensioned(Variant::MakeArray(rt::vbString, 1, 3)));
    EXPECT_TRUE(IsArrayDimensioned(Variant::MakeArray(rt::vbLong, {{0, 2}, {1, 3}})));
    EXPECT_FALSE(IsArrayDimensioned(Variant(int32_t{3})));
    EXPECT_FALSE(IsArrayDimensioned(Variant()));
    EXPECT_FALSE(IsArrayDimensioned(Variant::Null()));
    EXPECT_FALSE(IsArrayDimensioned(Variant::UnallocatedArray(rt::vbVariant)));
    Variant erased = Variant::MakeArray(rt::vbVariant, 0, 1);
    rt::Erase(erased);
    EXPECT_FALSE(IsArrayDimensioned(erased));
}

TEST(CommonArrays, JoinStringArrayJoinsOnlyStringArrays) {
    Variant strings = Variant::MakeArray(rt::vbString, 1, 3);
    strings.ArrayMut()->Set(1, Variant(" a"));
    strings.ArrayMut()->Set(2, Variant("b"));
    strings.ArrayMut()->Set(3, Variant("c "));
    EXPECT_EQ(JoinStringArray(strings), "a b c");
    EXPECT_EQ(JoinStringArray(Variant::MakeArray(rt::vbInteger, 0, 2)), "");
    EXPECT_EQ(JoinStringArray(Variant::ArrayOf({Variant("a"), Variant("b")})), "");
    EXPECT_EQ(JoinStringArray(Variant::Null()), "");
    EXPECT_EQ(JoinStringArray(Variant()), "");
    EXPECT_EQ(JoinStringArray(Variant("single")), "");
    EXPECT_EQ(JoinStringArray(Variant::UnallocatedArray(rt::vbString)), "");
}

}  // namespace

namespace {

std::string ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelmora-log-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "no scratch folder from " << pattern;
    return pattern;
}

TEST(AppendToLog, AddsToWhatTheFileHoldsCreatingItFirst) {
    const std::string folder = ScratchFolder();
    const std::string path = folder + "/run.log";
    EXPECT_EQ(AppendToLog(path, "first\r\n"), LogAppend::Written);
    EXPECT_EQ(AppendToLog(path, "second\n"), LogAppend::Written);
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "first\r\nsecond\n");
    std::filesystem::remove_all(folder);
}

TEST(AppendToLog, TellsAFileItCannotOpenFromTextItCannotWrite) {
    const std::string folder = ScratchFolder();
    struct Case {
        std::string path;
        LogAppend expected;
    } cases[] = {
        {folder + "/missing/run.log", LogAppend::NotOpened},
        {folder, LogAppend::NotOpened},
        {"/dev/full", LogAppend::NotWritten},
    };
    for (const Case& c : cases) {
        if (!std::filesystem::exists(c.path) && c.expected == LogAppend::NotWritten) continue;
        EXPECT_EQ(AppendToLog(c.path, "line\n"), c.expected) << c.path;
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
