// What components, their collection and the backward pointer report to the
// trace object under each bit of the mask.
#include "ComponentTestSupport.h"

#include <algorithm>

#include "pelmora/features/BackwardPointer.h"
#include "pelmora/features/Components.h"
#include "interfaces/Trace.h"

using componenttest::ComponentFixture;

namespace {

struct RecordingTrace : rt::Object, pelmora::ITraceObject {
    int32_t mask = 0;
    std::vector<std::string> lines;

    void TraceEnter(const std::string&, const std::string& file, const std::string& procedure,
                    const std::string&) override {
        lines.push_back("Enter " + file + " " + procedure);
    }
    void TraceExit(const std::string&, const std::string& file, const std::string& procedure,
                   const std::string&) override {
        lines.push_back("Exit " + file + " " + procedure);
    }
    void TraceValue(const std::string&, const std::string&, const std::string&, const std::string& label,
                    const std::string& name, rt::Variant value, const std::string&) override {
        lines.push_back(label + ": " + name + " = " + rt::CStr(value));
    }
    void TraceMessage(const std::string&, const std::string&, const std::string&, const std::string& label,
                      const std::string& text, const std::string&) override {
        lines.push_back(label + ": " + text);
    }
    void TraceTexts(const std::string&, const std::string&, const std::string&, const std::string& text1,
                    const std::string&, const std::string&, const std::string&) override {
        lines.push_back("Error: " + text1);
    }
    int32_t GetTraceMask(int32_t) override { return mask; }
};

class TracingFixture : public ComponentFixture {
protected:
    void SetUp() override {
        ComponentFixture::SetUp();
        trace_ = std::make_shared<RecordingTrace>();
        auto t = trace_;
        rt::RegisterClass(pelmora::kTraceObjectProgId, "", [t] { return t; });
        rt::Apartment::Reset();  // the apartment's trace object is made afresh
    }
    void TearDown() override {
        ComponentFixture::TearDown();
        product::RegisterProductStandIns();
    }
    bool Has(const std::string& line) const {
        return std::find(trace_->lines.begin(), trace_->lines.end(), line) != trace_->lines.end();
    }
    std::shared_ptr<RecordingTrace> trace_;
};

}  // namespace

TEST_F(TracingFixture, MembersReportTheComponentsKeysUnderTheSecondPathwayBit) {
    auto c = NewComponent(11, {1001, 1002});
    trace_->mask = 0x400082;
    c->get_CNO();
    EXPECT_EQ(trace_->lines, (std::vector<std::string>{"Enter Component Get IComponent_CNO",
                                                       "Logic pathway 2:   CNO = 11",
                                                       "Logic pathway 2:   Number of FIDs = 2",
                                                       "Logic pathway 2:   FID 0 = 1001",
                                                       "Logic pathway 2:   FID 1 = 1002",
                                                       "Exit Component Get IComponent_CNO"}));

    trace_->lines.clear();
    trace_->mask = 0x400002;
    c->AddFID(rt::Variant(int32_t{1003}));
    EXPECT_EQ(trace_->lines, (std::vector<std::string>{"Enter Component IComponent_AddFID",
                                                       "Exit Component IComponent_AddFID"}));
    // A member leaving through an error reports no exit.
    trace_->lines.clear();
    EXPECT_THROW(c->AddFID(rt::Variant("x")), rt::ComError);
    EXPECT_EQ(trace_->lines, (std::vector<std::string>{"Enter Component IComponent_AddFID"}));
}

TEST_F(TracingFixture, CollectionAndPointerReportWhatTheyDo) {
    auto components = std::make_shared<pelmora::Components>();
    components->putref_DataContext(Context());
    trace_->mask = 0x400048;
    components->AddComponentByCNO(11, rt::Variant(int32_t{1001}));
    components->Update();
    EXPECT_TRUE(Has("Arguments: CNO = 11"));
    EXPECT_TRUE(Has("Logic pathway 1: Because the update is being done by the cache, this method becomes a no-op."));

    auto pointer = rt::QueryInterface<pelmora::Component>(components->GetComponent(11))->get_BackwardPointer();
    trace_->mask = 0x400200;
    trace_->lines.clear();
    pointer->GetParent();
    EXPECT_EQ(trace_->lines, (std::vector<std::string>{"Intermediate value 2: oParent = Object"}));
    components.reset();
    trace_->lines.clear();
    pointer->GetParent();
    EXPECT_EQ(trace_->lines, (std::vector<std::string>{"Intermediate value 2: oParent = Nothing!!!"}));
}
