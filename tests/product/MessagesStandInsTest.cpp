#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "interfaces/Corvane.h"
#include "interfaces/Dialog.h"
#include "interfaces/Messages.h"
#include "interfaces/Trace.h"
#include "interfaces/Varsk1.h"
#include "interfaces/Windows.h"
#include "product/EmbeddedData.h"
#include "product/StandIns.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "support/Raises.h"
#include "support/ScopedEnv.h"

namespace {

using pelmora_test::ScopedEnv;

class StandInsTest : public ::testing::Test {
protected:
    void SetUp() override { product::RegisterProductStandIns(); }
    void TearDown() override {
        product::InstallDialogRecorder(nullptr);
        product::SetApplication(nullptr);
    }
    std::shared_ptr<pelmora::IMessageObject> Messages() {
        return rt::QueryInterface<pelmora::IMessageObject>(rt::CreateObject(pelmora::kMessageObjectProgId));
    }
    std::shared_ptr<pelmora::ITraceObject> Trace() {
        return rt::QueryInterface<pelmora::ITraceObject>(rt::CreateObject(pelmora::kTraceObjectProgId));
    }
    std::shared_ptr<pelmora::IDialogObject> Dialog() {
        return rt::QueryInterface<pelmora::IDialogObject>(rt::CreateObject(pelmora::kDialogObjectProgId));
    }
};

TEST_F(StandInsTest, MessageObjectServesTheCatalogueOfTheSelectedModule) {
    auto m = Messages();
    // Texts are served before any module is selected.
    EXPECT_EQ(m->GetMessageText(25041, 0), product::ReadMessageCatalogue(product::MessageCatalogueDirectory() +
                                                                         "/PELMORA.txt")[25041]);
    m->SelectResourceModule("pelmora", 0);
    EXPECT_EQ(m->GetMessageText(23180, 0), "No data context has been set.");
    EXPECT_EQ(m->GetMessageText(4, 0), "");  // no such message
    EXPECT_THROW(m->SelectResourceModule("NOSUCHMODULE", 0), rt::ComError);
    EXPECT_THROW(m->SelectResourceModule("../PELMORA", 0), rt::ComError);
    EXPECT_EQ(m->GetMessageText(23180, 0), "No data context has been set.");  // the module stays selected
}

TEST_F(StandInsTest, MessageObjectReadsTheDirectoryFromTheEnvironment) {
    auto dir = std::filesystem::temp_directory_path() / ("pelmora_msgs_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "OTHER.txt") << "7\tseven %1\n";
    {
        ScopedEnv env("PELMORA_MESSAGES_DIR", dir.c_str());
        auto m = Messages();
        m->SelectResourceModule("Other", 0);
        EXPECT_EQ(m->GetMessageText(7, 0), "seven %1");
        EXPECT_THROW(m->SelectResourceModule("PELMORA", 0), rt::ComError);
    }
    std::filesystem::remove_all(dir);
}

TEST_F(StandInsTest, LocaleCodeDefaultsToEnu) {
    {
        ScopedEnv env("PELMORA_LOCALE", nullptr);
        EXPECT_EQ(Messages()->GetLocaleCode(), "ENU");
    }
    ScopedEnv env("PELMORA_LOCALE", "deu");
    EXPECT_EQ(Messages()->GetLocaleCode(), "deu");
}

// The sibling library's functions and the window calls as the system calls
// them: through what RegisterProductStandIns binds.
class Varsk1StandIn : public StandInsTest {};
class WindowStandIn : public StandInsTest {};

TEST_F(StandInsTest, LibraryFunctionsRaise453UntilBound) {
    std::string buffer(8, ' ');
    rt::Variant result;
    double factor = 0;
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"Varsk1.LoadResStringWith5Parameters",
         [&] { varsk1::LoadResStringWith5Parameters("x", buffer, 8, "", "", "", "", ""); }},
        {"Varsk1.GetYvApplicationDispatch", [] { varsk1::GetYvApplicationDispatch(); }},
        {"Varsk1.ConvertBlobToArray", [&] { varsk1::ConvertBlobToArray(rt::Variant::Null(), result); }},
        {"GetFocus", [] { win::GetFocus(); }},
        {"SetFocus", [] { win::SetFocus(1); }},
        {"MsgBox", [] { win::MsgBox("x", 0, ""); }},
        {"Corvane.KTA_RadiansToDegrees", [&] { pelmora::KTA_RadiansToDegrees(factor); }},
    };
    varsk1::BindExports({});
    win::BindExports({});
    pelmora::BindCorvaneExports({});
    for (const auto& [name, call] : calls) {
        auto e = pelmora_test::Raised(call);
        EXPECT_EQ(e.Number(), 453) << name;
        EXPECT_EQ(e.Source(), name);
    }
    product::RegisterProductStandIns();
    for (const auto& [name, call] : calls) EXPECT_NO_THROW(call()) << name;
}

TEST_F(Varsk1StandIn, FillsTheFivePlaceholdersIntoTheBuffer) {
    std::string buffer(64, ' ');
    int32_t n = varsk1::LoadResStringWith5Parameters("%5 %4 %3 %2 %1 %6 %%1 100%", buffer, 64, "a", "b", "c", "d", "e");
    EXPECT_EQ(buffer.substr(0, static_cast<size_t>(n)), "e d c b a %6 %a 100%");
    // A parameter's own placeholders are not filled again.
    n = varsk1::LoadResStringWith5Parameters("%1 and %2", buffer, 64, "%2", "x", "", "", "");
    EXPECT_EQ(buffer.substr(0, static_cast<size_t>(n)), "%2 and x");
}

TEST_F(Varsk1StandIn, ResultIsCutToTheBufferAndZeroWhenNothingIsProduced) {
    std::string buffer(8, ' ');
    int32_t n = varsk1::LoadResStringWith5Parameters("abcdefghijk", buffer, 8, "", "", "", "", "");
    EXPECT_EQ(n, 8);
    EXPECT_EQ(buffer, "abcdefgh");
    // Never cuts a character in two.
    n = varsk1::LoadResStringWith5Parameters("abcdefg\xC3\xA9", buffer, 8, "", "", "", "", "");
    EXPECT_EQ(n, 7);
    EXPECT_EQ(varsk1::LoadResStringWith5Parameters("", buffer, 8, "a", "", "", "", ""), 0);
    EXPECT_EQ(varsk1::LoadResStringWith5Parameters("%1", buffer, 8, "", "", "", "", ""), 0);
    EXPECT_EQ(varsk1::LoadResStringWith5Parameters("text", buffer, 0, "", "", "", "", ""), 0);
    std::string small;
    EXPECT_EQ(varsk1::LoadResStringWith5Parameters("text", small, 16, "", "", "", "", ""), 4);
    EXPECT_EQ(small.substr(0, 4), "text");
}

TEST_F(Varsk1StandIn, ApplicationIsNothingUntilInstalled) {
    EXPECT_EQ(varsk1::GetYvApplicationDispatch(), nullptr);
    auto app = std::make_shared<rt::Object>();
    product::SetApplication(app);
    EXPECT_EQ(varsk1::GetYvApplicationDispatch(), app);
    product::SetApplication(nullptr);
    EXPECT_EQ(varsk1::GetYvApplicationDispatch(), nullptr);
}

TEST_F(StandInsTest, TraceMaskComesFromTheEnvironment) {
    struct Case {
        const char* text;
        int32_t mask;
    } cases[] = {{nullptr, 0},        {"", 0},     {"4194306", 0x400002}, {"0x400102", 0x400102},
                 {"0xFFFFFFFF", -1},  {"junk", 0}, {"12junk", 0},         {"0x1FFFFFFFF", 0}};
    for (const Case& c : cases) {
        ScopedEnv env("PELMORA_TRACE_MASK", c.text);
        EXPECT_EQ(Trace()->GetTraceMask(0), c.mask) << (c.text ? c.text : "(unset)");
    }
}

TEST_F(StandInsTest, TraceLinesGoToTheNamedFile) {
    auto path = std::filesystem::temp_directory_path() / ("pelmora_trace_" + std::to_string(::getpid()) + ".txt");
    std::filesystem::remove(path);
    {
        ScopedEnv env("PELMORA_TRACE_FILE", path.c_str());
        auto t = Trace();
        t->TraceEnter("Sub", "KeyObjects", "Add", "");
        t->TraceValue("Sub", "KeyObjects", "Add", "Arguments", "FNO", rt::Variant(int16_t{12}), "");
        t->TraceMessage("Sub", "KeyObjects", "Add", "Logic pathway 1", "cached", "");
        t->TraceTexts("Sub", "KeyObjects", "Add", "Overflow", "6", "Src", "");
        t->TraceExit("Sub", "KeyObjects", "Add", "");
    }
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    EXPECT_EQ(all.str(),
              "Sub | KeyObjects | Add | Enter\n"
              "Sub | KeyObjects | Add | Arguments: FNO = 12\n"
              "Sub | KeyObjects | Add | Logic pathway 1: cached\n"
              "Sub | KeyObjects | Add | Overflow | 6 | Src\n"
              "Sub | KeyObjects | Add | Exit\n");
    std::filesystem::remove(path);
}

TEST(DialogStandIn, DefaultAnswerIsTheDefaultButton) {
    using namespace pelmora::mb;
    EXPECT_EQ(product::DefaultAnswer(vbOKOnly | vbExclamation), vbOK);
    EXPECT_EQ(product::DefaultAnswer(vbOKCancel | vbDefaultButton2), vbCancel);
    EXPECT_EQ(product::DefaultAnswer(vbYesNo), vbYes);
    EXPECT_EQ(product::DefaultAnswer(vbYesNo | vbDefaultButton2), vbNo);
    EXPECT_EQ(product::DefaultAnswer(vbYesNoCancel | vbDefaultButton3), vbCancel);
    EXPECT_EQ(product::DefaultAnswer(vbAbortRetryIgnore), vbAbort);
    EXPECT_EQ(product::DefaultAnswer(vbRetryCancel), vbRetry);
    EXPECT_EQ(product::DefaultAnswer(vbOKOnly | vbDefaultButton3), vbOK);  // no third button
}

TEST_F(StandInsTest, DialogRecordsWhatItShowsAndAnswersAtOnce) {
    auto recorder = std::make_shared<product::DialogRecorder>();
    product::InstallDialogRecorder(recorder);
    auto d = Dialog();
    d->put_MessageText("Saved.");
    EXPECT_EQ(d->Show(rt::Variant("Title"), 64), pelmora::mb::vbOK);
    recorder->answer = pelmora::mb::vbNo;
    EXPECT_EQ(d->Show(rt::Variant(), pelmora::mb::vbYesNo), pelmora::mb::vbNo);
    EXPECT_EQ(win::MsgBox("plain", 0, ""), pelmora::mb::vbNo);
    ASSERT_EQ(recorder->records.size(), 3u);
    EXPECT_EQ(recorder->records[0].kind, "dialog");
    EXPECT_EQ(recorder->records[0].title, "Title");
    EXPECT_EQ(recorder->records[0].buttons, 64);
    EXPECT_EQ(recorder->records[0].text, "Saved.");
    EXPECT_EQ(recorder->records[0].answer, pelmora::mb::vbOK);
    EXPECT_EQ(recorder->records[1].title, "");
    EXPECT_EQ(recorder->records[2].kind, "system");
    EXPECT_EQ(recorder->records[2].text, "plain");
}

TEST_F(StandInsTest, WithoutARecorderTheMessageGoesToStandardError) {
    auto d = Dialog();
    d->put_MessageText("Nothing to do.");
    testing::internal::CaptureStderr();
    int32_t answer = d->Show(rt::Variant("Editor"), pelmora::mb::vbYesNo);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, pelmora::mb::vbYes);
    EXPECT_NE(err.find("Editor"), std::string::npos);
    EXPECT_NE(err.find("Nothing to do."), std::string::npos);
}

TEST_F(WindowStandIn, FocusIsKeptPerThread) {
    win::SetFocus(5);
    EXPECT_EQ(win::SetFocus(9), 5);
    EXPECT_EQ(win::GetFocus(), 9);
    win::SetFocus(0);
}

}  // namespace

TEST(StandIns, DataDirectoryPrefersItsVariableThenTheSourceDirectory) {
    {
        ScopedEnv own("PELMORA_TEST_DATA_DIR", "/own/dir");
        ScopedEnv source("PELMORA_SOURCE_DIR", "/src/tree");
        EXPECT_EQ(product::SourceDataDirectory("PELMORA_TEST_DATA_DIR", "things"), "/own/dir");
    }
    {
        ScopedEnv own("PELMORA_TEST_DATA_DIR", "");
        ScopedEnv source("PELMORA_SOURCE_DIR", "/src/tree");
        EXPECT_EQ(product::SourceDataDirectory("PELMORA_TEST_DATA_DIR", "things"), "/src/tree/data/things");
    }
    ScopedEnv own("PELMORA_TEST_DATA_DIR", nullptr);
    ScopedEnv source("PELMORA_SOURCE_DIR", nullptr);
    EXPECT_EQ(product::SourceDataDirectory("PELMORA_TEST_DATA_DIR", "messages"), "") << "the built-in copy";
}

// A program moved away from the source tree reads the copies built into the
// library: every file of each data folder, byte for byte.
TEST(StandIns, BuiltInDataFilesAreThoseOfTheDataFolders) {
    for (const std::string folder : {"messages", "sample"}) {
        const std::string dir = std::string(PELMORA_SOURCE_DIR) + "/data/" + folder;
        auto names = product::DataFileNames(dir, folder);
        names.erase(std::remove_if(names.begin(), names.end(),
                                   [](const std::string& n) { return n.ends_with(".md"); }),
                    names.end());
        ASSERT_FALSE(names.empty());
        EXPECT_EQ(product::DataFileNames("", folder), names) << folder;
        for (const auto& name : names) EXPECT_EQ(product::ReadDataFile("", folder, name), product::ReadDataFile(dir, folder, name)) << name;
    }
    const auto texts = product::ReadMessageCatalogue(std::string(PELMORA_SOURCE_DIR) + "/data/messages/PELMORA.txt");
    ScopedEnv messages("PELMORA_MESSAGES_DIR", nullptr);
    ScopedEnv source("PELMORA_SOURCE_DIR", nullptr);
    product::RegisterProductStandIns();
    auto object = rt::QueryInterface<pelmora::IMessageObject>(rt::CreateObject(pelmora::kMessageObjectProgId));
    EXPECT_EQ(object->GetMessageText(25627, 0), texts.at(25627));
}
