#pragma once
// Fakes of the product's message, trace and dialog objects for the tests of
// the shared conventions, registered under the product's ProgIDs.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "interfaces/Dialog.h"
#include "interfaces/Messages.h"
#include "interfaces/Trace.h"
#include "interfaces/Windows.h"
#include "product/StandIns.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Vb.h"
#include "support/Raises.h"

namespace commontest {

struct FakeMessages : rt::Object, pelmora::IMessageObject {
    std::map<int32_t, std::string> texts;
    std::vector<std::string> selected;
    bool failSelect = false;
    bool failGet = false;
    std::string GetLocaleCode() override { return "ENU"; }
    void SelectResourceModule(const std::string& name, int32_t) override {
        if (failSelect) throw rt::ComError(53, "FakeMessages", "no module " + name);
        selected.push_back(name);
    }
    std::string GetMessageText(int32_t id, int32_t) override {
        if (failGet) throw rt::ComError(5, "FakeMessages", "broken");
        auto it = texts.find(id);
        return it == texts.end() ? "" : it->second;
    }
};

struct TraceCall {
    std::string kind, subsystem, file, procedure, label, name, text;
    rt::Variant value;
};

struct FakeTrace : rt::Object, pelmora::ITraceObject {
    int32_t mask = 0;
    int maskReads = 0;
    std::vector<TraceCall> calls;
    // Run before each trace call (not the mask read): a failing trace object.
    std::function<void()> fault;
    void Record(TraceCall call) {
        if (fault) fault();
        calls.push_back(std::move(call));
    }
    void TraceEnter(const std::string& s, const std::string& f, const std::string& p, const std::string&) override {
        Record({"Enter", s, f, p, "", "", "", {}});
    }
    void TraceExit(const std::string& s, const std::string& f, const std::string& p, const std::string&) override {
        Record({"Exit", s, f, p, "", "", "", {}});
    }
    void TraceValue(const std::string& s, const std::string& f, const std::string& p, const std::string& label,
                    const std::string& name, rt::Variant value, const std::string&) override {
        Record({"Value", s, f, p, label, name, "", value});
    }
    void TraceMessage(const std::string& s, const std::string& f, const std::string& p, const std::string& label,
                      const std::string& text, const std::string&) override {
        Record({"Message", s, f, p, label, "", text, {}});
    }
    void TraceTexts(const std::string& s, const std::string& f, const std::string& p, const std::string& t1,
                    const std::string& t2, const std::string& t3, const std::string&) override {
        Record({"Texts", s, f, p, t1, t2, t3, {}});
    }
    int32_t GetTraceMask(int32_t) override {
        ++maskReads;
        return mask;
    }
};

// A dialog that takes the focus and then fails, as a box that cannot be shown.
struct FailingDialog : rt::Object, pelmora::IDialogObject {
    void put_MessageText(const std::string&) override {}
    void putref_Details(const std::shared_ptr<pelmora::IDialogDetails>&) override {}
    int32_t Show(const rt::Variant&, int32_t) override {
        win::SetFocus(0x7777);
        throw rt::ComError(5, "Dialog", "cannot show");
    }
};

// Each test starts in a fresh apartment with the fakes in place and leaves
// the product's stand-ins registered.
class CommonTest : public ::testing::Test {
protected:
    void SetUp() override {
        rt::Apartment::Reset();
        product::RegisterProductStandIns();
        messages = std::make_shared<FakeMessages>();
        trace = std::make_shared<FakeTrace>();
        auto m = messages;
        auto t = trace;
        rt::RegisterClass(pelmora::kMessageObjectProgId, "", [m] { return m; });
        rt::RegisterClass(pelmora::kTraceObjectProgId, "", [t] { return t; });
        recorder = std::make_shared<product::DialogRecorder>();
        product::InstallDialogRecorder(recorder);
    }
    void TearDown() override {
        product::InstallDialogRecorder(nullptr);
        product::SetApplication(nullptr);
        product::RegisterProductStandIns();
        rt::Apartment::Reset();
    }

    std::shared_ptr<FakeMessages> messages;
    std::shared_ptr<FakeTrace> trace;
    std::shared_ptr<product::DialogRecorder> recorder;
};

inline int32_t Hr(uint32_t v) { return static_cast<int32_t>(v); }

}  // namespace commontest
