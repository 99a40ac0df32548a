#include <gtest/gtest.h>

#include <stdexcept>

#include "CommonFakes.h"
#include "pelmora/common/TraceScope.h"

using namespace pelmora;
using namespace commontest;
using rt::Variant;

namespace {

class TraceScopeTest : public CommonTest {
protected:
    std::vector<std::string> Kinds() const {
        std::vector<std::string> kinds;
        for (auto& c : trace->calls) kinds.push_back(c.kind + (c.label.empty() ? "" : ":" + c.label));
        return kinds;
    }
    // Runs a traced member that reports one of each kind.
    void Member() {
        TraceScope t("KeyObjects", "Let FNO");
        t.Argument("FNO", Variant(int16_t{12}));
        t.Pathway("taken from cache");
        t.Pathway2("second");
        t.Value("count", Variant(int32_t{3}));
        t.Value2("object", Variant::Nothing());
        t.Message2("objects");
        t.ReturnValue("result", Variant(true));
    }
};

TEST_F(TraceScopeTest, NothingIsTracedWithoutTheSwitchBit) {
    for (int32_t mask : {0, 0x2, 0x3FF, 0x400000}) {
        trace->calls.clear();
        trace->mask = mask;
        Member();
        EXPECT_TRUE(trace->calls.empty()) << std::hex << mask;
    }
}

TEST_F(TraceScopeTest, EachCallNeedsEveryBitOfItsValue) {
    trace->mask = 0x400002;
    Member();
    EXPECT_EQ(Kinds(), (std::vector<std::string>{"Enter", "Exit"}));

    trace->calls.clear();
    trace->mask = 0x400008 | 0x400100;
    Member();
    EXPECT_EQ(Kinds(), (std::vector<std::string>{"Value:Arguments", "Value:Intermediate value 1"}));

    trace->calls.clear();
    trace->mask = 0x400040 | 0x400080 | 0x400200 | 0x400004;
    Member();
    EXPECT_EQ(Kinds(), (std::vector<std::string>{"Message:Logic pathway 1", "Message:Logic pathway 2",
                                                 "Value:Intermediate value 2", "Message:Logic pathway 2",
                                                 "Value:Return value"}));
}

TEST_F(TraceScopeTest, CallsCarryTheSubsystemFileAndProcedure) {
    trace->mask = -1;
    Member();
    ASSERT_FALSE(trace->calls.empty());
    for (const TraceCall& c : trace->calls) {
        EXPECT_EQ(c.subsystem, "Tessaly Components Subsystem");
        EXPECT_EQ(c.file, "KeyObjects");
        EXPECT_EQ(c.procedure, "Let FNO");
    }
    EXPECT_EQ(trace->calls[1].name, "FNO");
    EXPECT_EQ(rt::CInt(trace->calls[1].value), 12);
}

TEST_F(TraceScopeTest, MaskIsReadOnceOnEntry) {
    trace->mask = 0x400002;
    {
        TraceScope t("F", "P");
        trace->mask = 0x400008;
        t.Argument("a", Variant(int32_t{1}));
    }
    EXPECT_EQ(trace->maskReads, 1);
    EXPECT_EQ(Kinds(), (std::vector<std::string>{"Enter", "Exit"}));
}

TEST_F(TraceScopeTest, ObjectsAreTracedAsText) {
    trace->mask = 0x400100;
    {
        TraceScope t("F", "P");
        t.Value("o", Variant(std::make_shared<FakeTrace>()));
        t.Value("n", Variant::Nothing());
    }
    ASSERT_EQ(trace->calls.size(), 2u);
    EXPECT_EQ(trace->calls[0].value.Str(), "Object");
    EXPECT_EQ(trace->calls[1].value.Str(), "Nothing!!!");
}

TEST_F(TraceScopeTest, ExitIsNotTracedWhenTheMemberFails) {
    trace->mask = 0x400002;
    EXPECT_THROW(
        {
            TraceScope t("F", "P");
            rt::RaiseVbError(5);
        },
        rt::ComError);
    EXPECT_EQ(Kinds(), (std::vector<std::string>{"Enter"}));
}

TEST_F(TraceScopeTest, AHandlerCanTraceTheErrorAndItsExit) {
    trace->mask = 0x400003;
    try {
        TraceScope t("F", "P");
        try {
            rt::RaiseVbError(9, "Src");
        } catch (const rt::ComError& e) {
            t.Error(e);
            t.Exit();
            throw;
        }
    } catch (const rt::ComError&) {
    }
    EXPECT_EQ(Kinds(), (std::vector<std::string>{"Enter", "Texts:Subscript out of range", "Exit"}));
    EXPECT_EQ(trace->calls[1].name, "9");
    EXPECT_EQ(trace->calls[1].text, "Src");
}

TEST_F(TraceScopeTest, TracingNeverMakesAMemberFail) {
    rt::UnregisterClass(kTraceObjectProgId);
    EXPECT_NO_THROW({
        TraceScope t("F", "P");
        t.Argument("a", Variant(int32_t{1}));
        EXPECT_EQ(t.Mask(), 0);
    });
}

TEST_F(TraceScopeTest, ARaisedErrorOfTheTraceObjectIsIgnoredAndAnyOtherFaultReachesTheCaller) {
    trace->mask = -1;
    trace->fault = [] { rt::RaiseVbError(5, "Trace"); };
    EXPECT_NO_THROW(Member());

    // A fault that is no raised error is not hidden, but leaving the scope
    // (a destructor) still never throws.
    int faults = 0;
    trace->fault = [&] {
        ++faults;
        throw std::logic_error("trace fault");
    };
    EXPECT_THROW({ TraceScope t("F", "P"); }, std::logic_error);
    EXPECT_EQ(faults, 1);
    trace->fault = [&] {
        if (++faults > 2) throw std::logic_error("trace fault at exit");
    };
    EXPECT_NO_THROW({ TraceScope t("F", "P"); });
    EXPECT_EQ(faults, 3);
}

}  // namespace
