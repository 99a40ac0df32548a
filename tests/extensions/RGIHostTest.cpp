// The relationship geometry host on the sample's ownership rules: the
// records Initialize reads for either side, RGIs of the three kinds loaded
// once and run, their findings and failures in the two arrays, aborts, the
// feature's CNO, and the members the host does not serve.
#include <gtest/gtest.h>

#include <map>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/extensions/RGIHelper.h"
#include "pelmora/metadata/MetadataRecordset.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "ado/Persist.h"
#include "ado/Recordset.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "support/RGIHostFixture.h"
#include "support/Raises.h"

namespace pelmora_test {
namespace {

using Strings = std::vector<std::string>;

std::string Priority() { return pelmora::GetValidationMessage(15734); }
std::string Failed(const std::string& name) { return pelmora::GetValidationMessage(25267, rt::Variant(name)); }
std::string NotLoaded(const std::string& name) { return pelmora::GetValidationMessage(25268, rt::Variant(name)); }

class RGIHostTest : public RGIHostFixture {
protected:
    // Runs the host of a helper on relationship rno for the feature, the
    // way a hosting helper does on validation.
    void Run(const std::shared_ptr<RGIHostingHelper>& helper, const std::shared_ptr<pelmora::IKeyObject>& feature) {
        helper->ValidateGeometry(feature, priorities_, messages_);
    }
    void RunAgain(const std::shared_ptr<RGIHostingHelper>& helper) {
        auto self = std::static_pointer_cast<pelmora::IRelationshipHelper>(helper);
        helper->Host().Validate(self, priorities_, messages_);
    }
    // The interface and related FNO of each record the host holds after
    // initializing for a feature of class fno.
    static Strings Initialized(const std::shared_ptr<RGIHostingHelper>& helper, int16_t fno) {
        helper->putref_Feature(SampleFeature(fno, 1));
        helper->Host().Initialize(std::static_pointer_cast<pelmora::IRelationshipHelper>(helper));
        Strings out;
        for (const auto& r : helper->Host().get_RGIInfo())
            out.push_back(r.InterfaceName + "/" + std::to_string(r.RelatedFNO));
        return out;
    }

    rt::Variant priorities_, messages_;
};

TEST_F(RGIHostTest, InitializeRecordsTheRGIsOfTheActiveFeaturesSide) {
    struct Record {
        std::string name;
        int32_t project;
        int16_t triggering;
        int32_t relatedFNO;
        int16_t relatedCNO;
        std::string group;  // "" for Null
    };
    struct Case {
        const char* what;
        int16_t rno;
        int16_t fno;  // 0: no feature
        std::vector<Record> records;
    };
    const Case cases[] = {
        {"the owner's side: owner columns, a Null interface skipped", 1, 101,
         {{"Pelmora.MainGeometry", -1, 12, 102, 22, ""},
          {"Pelmora.MainGeometry", -1, 12, 103, 32, "3"},
          {"MainAudit", 1, 12, 104, 42, "3"}}},
        {"the owned side: source columns", 2, 102, {{"Pelmora:ValveClearance", -1, 22, 101, 12, "3"}}},
        {"the owned side, a ProgID", 2, 103, {{"Pelmora.HydrantGeometry", -1, 32, 101, 12, ""}}},
        {"a Null interface with a project number", 2, 104, {}},
        {"a class without rule rows", 1, 105, {}},
        {"no feature", 1, 0, {}},
        {"a detail relationship", 8, 102, {}},
        {"a type without helper class", 10, 105, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto helper = Helper(c.rno);
        if (c.fno) helper->putref_Feature(SampleFeature(c.fno, 1));
        helper->Host().Initialize(std::static_pointer_cast<pelmora::IRelationshipHelper>(helper));
        const auto& records = helper->Host().get_RGIInfo();
        ASSERT_EQ(records.size(), c.records.size());
        for (size_t i = 0; i < records.size(); ++i) {
            const auto& r = records[i];
            const auto& e = c.records[i];
            EXPECT_EQ(r.InterfaceName, e.name) << i;
            EXPECT_EQ(r.ProjectNumber, e.project) << i;
            EXPECT_EQ(r.TriggeringCNO, e.triggering) << i;
            EXPECT_EQ(r.RelatedFNO, e.relatedFNO) << i;
            EXPECT_EQ(r.RelatedCNO, e.relatedCNO) << i;
            EXPECT_EQ(r.ArgGroupNo.IsNull() ? "" : rt::CStr(r.ArgGroupNo), e.group) << i;
            EXPECT_FALSE(r.m_objRGI) << i;  // Initialize loads nothing
        }
        // Nothing recorded: one Empty element each.
        if (c.records.empty()) {
            helper->Host().Validate(std::static_pointer_cast<pelmora::IRelationshipHelper>(helper), priorities_,
                                    messages_);
            EXPECT_EQ(rt::UBound(priorities_), 0);
            EXPECT_TRUE(priorities_.Array()->Get(0).IsEmpty());
            EXPECT_TRUE(messages_.Array()->Get(0).IsEmpty());
        }
    }
}

TEST_F(RGIHostTest, DuringARunHostsKeepTheirRecordsReadOncePerRelationshipAndFNOUntilItEnds) {
    const int16_t fnos[] = {102, 103, 102, 105, 103};
    auto first = Helper(2), second = Helper(2);
    std::map<int16_t, Strings> fresh;
    for (int16_t fno : fnos) fresh[fno] = Initialized(first, fno);
    {
        pelmora::RGIHelper::RunRecordsScope run;
        for (int16_t fno : fnos) {
            EXPECT_EQ(Initialized(first, fno), fresh[fno]) << fno;
            EXPECT_EQ(Initialized(second, fno), fresh[fno]) << fno;
        }
        EXPECT_EQ(run.Records().size(), 3u);
        // A kept entry stands for its key for every host of the run.
        run.Records()[{2, 102}] = {pelmora::RGIInfo{0, 7, 0, "Kept", -1, rt::Variant(), nullptr, false}};
        EXPECT_EQ(Initialized(second, 102), (Strings{"Kept/7"}));
    }
    EXPECT_EQ(Initialized(second, 102), fresh[102]);
}

TEST_F(RGIHostTest, ANullSubordinateIsTheOwnersSide) {
    // Relationship 2 with QTX_SUBORDINATE Null in place of the cached table.
    const char* key = "QTX_RELATIONSHIPS_OPTABLE";
    auto tables = metadata_->get_Recordsets();
    ado::RecordsetImage image = tables->get_Item(rt::Variant(key))->get_Recordset("", "")->ToImage();
    size_t rno = image.fields.size(), subordinate = rno;
    for (size_t f = 0; f < image.fields.size(); ++f) {
        if (image.fields[f].name == "QTX_RNO") rno = f;
        if (image.fields[f].name == "QTX_SUBORDINATE") subordinate = f;
    }
    ASSERT_LT(std::max(rno, subordinate), image.fields.size());
    for (size_t r = 0; r < image.RowCount(); ++r)
        if (rt::CLng(image.values[r * image.fields.size() + rno]) == 2)
            image.values[r * image.fields.size() + subordinate] = rt::Variant::Null();
    tables->Remove(rt::Variant(key));
    tables->AppendRecordset(key, key, ado::Recordset::FromImage(std::move(image)));
    pelmora::ClearFilterServiceCaches();

    auto helper = Helper(2);
    helper->putref_Feature(SampleFeature(101, 1001));
    helper->Host().Initialize(std::static_pointer_cast<pelmora::IRelationshipHelper>(helper));
    EXPECT_EQ(helper->Host().get_RGIInfo().size(), 3u);
    EXPECT_EQ(helper->Host().get_RGIInfo().front().InterfaceName, "Pelmora.MainGeometry");
}

TEST_F(RGIHostTest, RGIsOfTheThreeKindsLoadOnceRunAndReport) {
    auto geometry = RegisterProgId("Pelmora.MainGeometry");
    geometry->findings = {{"Error", "main too far from valve"}};
    auto audit = LoadProject(1);
    audit->findings = {{"Warning", "audit 1"}, {"Error", "audit 2"}};
    auto main = SampleFeature(101, 1001, 7);
    auto helper = Helper(1);
    helper->Host().put_ProcessingMode(7);

    Run(helper, main);
    EXPECT_EQ(Texts(priorities_), (Strings{"Error", "Warning", "Error"}));
    EXPECT_EQ(Texts(messages_), (Strings{"main too far from valve", "audit 1", "audit 2"}));
    // One object for the two rows of one ProgID, run with the first row's numbers.
    EXPECT_EQ(Created("Pelmora.MainGeometry"), 1);
    EXPECT_EQ(geometry->validated, 1);
    EXPECT_EQ(geometry->relatedFNO, 102);
    EXPECT_EQ(geometry->relatedCNO, 22);
    EXPECT_EQ(audit->relatedFNO, 104);
    EXPECT_EQ(audit->relatedCNO, 42);
    // Mode 5 whatever the host's own, the triggering CNO while it runs, and
    // the feature's own CNO back afterwards.
    EXPECT_EQ(helper->Host().get_ProcessingMode(), 7);
    EXPECT_EQ(geometry->processingMode, 5);
    EXPECT_EQ(audit->processingMode, 5);
    EXPECT_EQ(geometry->cnoDuringValidate, (std::vector<int16_t>{12}));
    EXPECT_EQ(audit->cnoDuringValidate, (std::vector<int16_t>{12}));
    EXPECT_EQ(main->get_CNO(), 7);

    // Without a new Initialize the same objects run again; Initialize drops them.
    RunAgain(helper);
    EXPECT_EQ(Created("Pelmora.MainGeometry"), 1);
    EXPECT_EQ(geometry->validated, 2);
    EXPECT_EQ(audit->initialized, 2);
    Run(helper, main);
    EXPECT_EQ(Created("Pelmora.MainGeometry"), 2);

    // The owned side: a name with ":" (no numbers reach it, and their
    // failures do not count) and a ProgID.
    auto clearance = RegisterNamed("Pelmora:ValveClearance");
    clearance->findings = {{"Error", "valve clearance"}};
    auto hydrant = RegisterProgId("Pelmora.HydrantGeometry");
    hydrant->findings = {{"Warning", "hydrant"}};
    auto owned = Helper(2);
    Run(owned, SampleFeature(102, 2001));
    EXPECT_EQ(Texts(priorities_), (Strings{"Error"}));
    EXPECT_EQ(Texts(messages_), (Strings{"valve clearance"}));
    EXPECT_EQ(clearance->relationshipNumber, 2);
    Run(owned, SampleFeature(103, 3001));
    EXPECT_EQ(Texts(messages_), (Strings{"hydrant"}));
    EXPECT_EQ(hydrant->relatedFNO, 101);
}

TEST_F(RGIHostTest, EachRGIsOutputIsItsOwnAndAFailureStopsOnlyThatRGI) {
    struct Case {
        const char* what;
        RGIScript script;
        rt::Variant priorities, messages;  // for Raw
        Strings expected;                   // the audit's entries
    };
    const std::string name = "MainAudit";
    const Case cases[] = {
        {"a report", RGIScript::Report, {}, {}, {"audit"}},
        {"nothing written: not the findings of the RGI before", RGIScript::WriteNothing, {}, {}, {}},
        {"a failure", RGIScript::Raise, {}, {}, {Failed(name)}},
        {"an abort while it runs: dropped", RGIScript::Abort, {}, {}, {}},
        {"fewer messages than priorities", RGIScript::Raw, rt::Variant::ArrayOf({rt::Variant("E"), rt::Variant("W")}),
         rt::Variant::ArrayOf({rt::Variant("one")}), {Failed(name)}},
        {"priorities that are no array", RGIScript::Raw, rt::Variant("Error"), rt::Variant("m"), {Failed(name)}},
        {"a last priority that is empty", RGIScript::Raw, rt::Variant::ArrayOf({rt::Variant("E"), rt::Variant("")}),
         rt::Variant::ArrayOf({rt::Variant("a"), rt::Variant("b")}), {}},
        {"arrays without elements", RGIScript::Raw, rt::Variant::UnallocatedArray(rt::vbString),
         rt::Variant::UnallocatedArray(rt::vbString), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // The geometry RGI runs first and reports; the audit after it.
        auto geometry = RegisterProgId("Pelmora.MainGeometry");
        geometry->findings = {{"Warning", "geometry"}};
        auto audit = LoadProject(1);
        audit->findings = {{"Error", "audit"}};
        audit->script = c.script;
        audit->rawPriorities = c.priorities;
        audit->rawMessages = c.messages;
        Run(Helper(1), SampleFeature(101, 1001));
        Strings expected{"geometry"};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(Texts(messages_), expected);
        const Strings priorities = Texts(priorities_);
        ASSERT_EQ(priorities.size(), expected.size());
        if (expected.back() == Failed(name)) {
            EXPECT_EQ(priorities.back(), Priority());
        }
    }
    EXPECT_TRUE(recorder_->records.empty());
}

TEST_F(RGIHostTest, LoadFailuresAreReportedOnceAndRetriedByTheNextValidate) {
    auto helper = Helper(1);
    auto main = SampleFeature(101, 1001);
    // Neither the ProgID nor project 1 can be had: an entry per record (the
    // ProgID's second row finds nothing loaded either), no run failure.
    Run(helper, main);
    const std::string geometry = NotLoaded("Pelmora.MainGeometry");
    EXPECT_EQ(Texts(messages_), (Strings{geometry, geometry, NotLoaded("MainAudit")}));
    EXPECT_EQ(Texts(priorities_), (Strings{Priority(), Priority(), Priority()}));
    for (const auto& r : helper->Host().get_RGIInfo()) EXPECT_FALSE(r.m_objRGI) << r.InterfaceName;

    // An object without the interface does not load either; the project now does.
    RegisterProgId("Pelmora.MainGeometry");
    rt::RegisterClass("Pelmora.MainGeometry", "", [] { return std::make_shared<rt::Object>(); });
    auto audit = LoadProject(1);
    audit->findings = {{"Error", "audit"}};
    RunAgain(helper);
    EXPECT_EQ(Texts(messages_), (Strings{geometry, geometry, "audit"}));
}

// An RGI that validates its helper again, or initializes and validates it
// anew, every time it is given the data context (while the host makes it)
// or initialized (each time it runs): the RGI is not run inside itself and
// a load whose records were replaced stops, so the outer run ends.
TEST_F(RGIHostTest, AnRGICallingBackWhileItIsMadeOrRunEndsTheRun) {
    struct CallingRGI : ProjectRGI {
        std::string at;
        std::function<void()> back;
        int depth = 0, deepest = 0;
        void CallBack(const char* call) {
            // Far beyond what a guarded host reaches: stop rather than overflow.
            if (!back || at != call || depth > 3) return;
            deepest = std::max(deepest, ++depth);
            try {
                back();
            } catch (const rt::ComError&) {
            }
            --depth;
        }
        void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& v) override {
            ProjectRGI::putref_DataContext(v);
            CallBack("DataContext");
        }
        void Initialize() override {
            ProjectRGI::Initialize();
            CallBack("Initialize");
        }
    };
    auto helper = Helper(1);
    auto main = SampleFeature(101, 1001);
    rt::Variant innerPriorities, innerMessages;
    const std::function<void()> validate = [&] { helper->Host().Validate(helper, innerPriorities, innerMessages); };
    const std::function<void()> anew = [&] { helper->ValidateGeometry(main, innerPriorities, innerMessages); };
    const std::tuple<const char*, const char*, std::function<void()>> cases[] = {
        {"Initialize", "Validate", validate},
        {"Initialize", "Initialize and Validate", anew},
        {"DataContext", "Initialize and Validate", anew},
    };
    for (const auto& [at, name, back] : cases) {
        SCOPED_TRACE(std::string(at) + " x " + name);
        auto rgi = std::make_shared<CallingRGI>();
        rgi->findings = {{"Error", "audit"}};
        rgi->at = at;
        rgi->back = back;
        product::VbaProjectHost::Current()->LoadProject(1, rgi);
        EXPECT_NO_THROW(Run(helper, main));
        EXPECT_EQ(rgi->deepest, 1);
        rgi->back = nullptr;
        // The host still works afterwards.
        Run(helper, main);
        EXPECT_EQ(Texts(messages_).back(), "audit");
    }
}

TEST_F(RGIHostTest, AnAbortBetweenBindingAndValidationIsDroppedSilently) {
    auto geometry = RegisterProgId("Pelmora.MainGeometry");
    geometry->findings = {{"Error", "geometry"}};
    auto audit = LoadProject(1);
    auto helper = Helper(1);
    Run(helper, SampleFeature(101, 1001));
    ASSERT_EQ(audit->validated, 1);

    product::VbaProjectHost::Current()->UnloadProject(1);
    RunAgain(helper);
    EXPECT_EQ(Texts(messages_), (Strings{"geometry"}));
    EXPECT_EQ(audit->validated, 1);

    // A ProgID RGI that raises the interruption itself.
    geometry->script = RGIScript::Abort;
    RunAgain(helper);
    EXPECT_EQ(Texts(messages_), Strings{""});

    // The same when the project goes away as the RGI initialises.
    geometry->script = RGIScript::Report;
    auto leaving = LoadProject(1);
    leaving->abortOnInitialize = true;
    Run(helper, SampleFeature(101, 1001));
    EXPECT_EQ(Texts(messages_), (Strings{"geometry"}));
    EXPECT_EQ(leaving->initialized, 1);
    EXPECT_TRUE(recorder_->records.empty());
}

TEST_F(RGIHostTest, FailuresOutsideTheRGIsAreRaisedWithTheHostsSource) {
    auto helper = Helper(1);
    helper->putref_Feature(SampleFeature(101, 1001));
    helper->putref_DataContext(nullptr);
    auto e = Raised([&] { helper->Host().Initialize(std::static_pointer_cast<pelmora::IRelationshipHelper>(helper)); });
    EXPECT_EQ(e.Number(), pelmora::kErrorBase + rt::vberr::ObjectVariableNotSet);
    EXPECT_EQ(e.Source(), "RelationshipGeometry");
}

TEST_F(RGIHostTest, MembersItDoesNotServeTellTheUserAndAnswerNothing) {
    pelmora::RGIHelper host;
    rt::Variant a, b, c;
    EXPECT_FALSE(host.AllowDeleteRelationship(nullptr, a, b, c, nullptr));
    EXPECT_FALSE(host.ApproveMerge(nullptr, a));
    EXPECT_EQ(host.get_RelatedFNO(), 0);
    host.put_RelatedCNO(3);
    EXPECT_EQ(host.get_RelatedCNO(), 0);
    ASSERT_EQ(recorder_->records.size(), 5u);
    for (const auto& r : recorder_->records) {
        EXPECT_EQ(r.kind, "dialog");
        EXPECT_EQ(r.text, "Call not supported. Look it up in PELMORA");
    }
}

TEST_F(RGIHostTest, TheLogTakesOneEntryPerFailureAndRaisesWhenItCannotWrite) {
    const char* previous = std::getenv("TMPDIR");
    const std::string saved = previous ? previous : "";
    ::setenv("TMPDIR", workDirectory_.c_str(), 1);
    pelmora::RGIHelper host;
    ::setenv("TMPDIR", "/nonexistent-rgi-folder", 1);
    pelmora::RGIHelper lost;
    if (previous) ::setenv("TMPDIR", saved.c_str(), 1);
    else ::unsetenv("TMPDIR");

    EXPECT_EQ(host.get_LogPath(), workDirectory_ + "/RGIErrorLog.txt");
    host.LogRGIError("CleanupRGIInfo", "first");
    host.LogRGIError("CleanupRGIInfo", "second");
    std::ifstream in(host.get_LogPath(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string log = text.str();
    EXPECT_NE(log.find(" Error raised by RGI method CleanupRGIInfo\r\nfirst\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nsecond\r\n"), std::string::npos) << log;
    EXPECT_EQ(ErrorOf([&] { lost.LogRGIError("CleanupRGIInfo", "x"); }), rt::vberr::PathFileAccessError);
}

}  // namespace
}  // namespace pelmora_test
