// Establishing a relationship and testing a candidate pair: the helper's
// part, then the attribute rules of the pair through the service's
// attribute validation service (a recording stand-in here).
#include "RelationshipTestSupport.h"

#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/KeyObject.h"
#include "interfaces/Components.h"
#include "interfaces/Relationship.h"
#include "interfaces/ValidationInterface.h"

using pelmora_test::ErrorOf;
using pelmora_test::Raised;
using relationshiptest::RelationshipServiceFixture;
using relationshiptest::TypedHelper;

namespace {

using Calls = std::vector<std::string>;

std::string KeyText(const std::shared_ptr<pelmora::IKeyObject>& k) {
    return k ? std::to_string(k->get_FNO()) + "/" + std::to_string(k->get_FID()) : "Nothing";
}

// Records what the relationship service sets and calls, in order.
class RecordingAttributeValidation : public rt::Object, public pelmora::IAttributeValidationService {
public:
    static std::shared_ptr<Calls>& Log() {
        static auto log = std::make_shared<Calls>();
        return log;
    }
    static bool& Answer() {
        static bool answer = true;
        return answer;
    }

    void putref_ActiveFeature(const std::shared_ptr<pelmora::IKeyObject>& f) override {
        Log()->push_back("ActiveFeature " + KeyText(f));
        active_ = f;
    }
    std::shared_ptr<pelmora::IKeyObject> get_ActiveFeature() override { return active_; }
    std::shared_ptr<ado::Recordset> get_RelatedComponent() override { return nullptr; }
    void putref_RelatedComponent(const std::shared_ptr<ado::Recordset>&) override {}
    void putref_RelatedFeature(const std::shared_ptr<pelmora::IKeyObject>& f) override {
        Log()->push_back("RelatedFeature " + KeyText(f));
        related_ = f;
    }
    std::shared_ptr<pelmora::IKeyObject> get_RelatedFeature() override { return related_; }
    void put_RelationshipType(const std::string& t) override { Log()->push_back("RelationshipType " + t); }
    std::string get_RelationshipType() override { return ""; }
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& dc) override {
        Log()->push_back(dc ? "DataContext" : "DataContext Nothing");
    }
    std::shared_ptr<pelmora::IDataContext> get_DataContext() override { return nullptr; }
    void Execute(rt::Variant& p, rt::Variant& e) override {
        Log()->push_back(std::string("Execute") + (p.IsEmpty() && e.IsEmpty() ? " (empty arrays)" : ""));
        p = rt::Variant::ArrayOf({rt::Variant("P1")});
        e = rt::Variant::ArrayOf({rt::Variant("a finding")});
    }
    void Validate(rt::Variant&, rt::Variant&) override { Log()->push_back("Validate"); }
    using IAttributeValidationService::ValidateAttributes;
    bool ValidateAttributes(bool canBeNull, rt::Variant& p, rt::Variant& e) override {
        Log()->push_back(std::string("ValidateAttributes ") + (canBeNull ? "True" : "False") +
                         (p.IsMissing() && e.IsMissing() ? " (arrays omitted)" : ""));
        return Answer();
    }

private:
    std::shared_ptr<pelmora::IKeyObject> active_, related_;
};

std::shared_ptr<pelmora::KeyObject> Feature(int16_t fno, int32_t fid,
                                            const std::shared_ptr<pelmora::IComponents>& components = nullptr) {
    auto k = pelmora::KeyObject::New();
    k->put_FNO(fno);
    k->put_FID(fid);
    k->putref_Components(components);
    return k;
}

class EstablishFixture : public RelationshipServiceFixture {
protected:
    void SetUp() override {
        RelationshipServiceFixture::SetUp();
        rt::RegisterClass(pelmora::kAttributeValidationServiceProgId, "{00000000-0000-0000-0000-0000000000A7}",
                          [] { return std::make_shared<RecordingAttributeValidation>(); });
        RecordingAttributeValidation::Log()->clear();
        RecordingAttributeValidation::Answer() = true;
        helperLog_ = std::make_shared<TypedHelper::Log>();
        // Node-edge relates mains to service lines; many-to-many (8) reports
        // 4, as the dimensioning helper does.
        TypedHelper::Install(2, pelmora::qzrelNodeEdgeConnectivity, helperLog_, 104);
        TypedHelper::Install(8, pelmora::qzrelDetail, helperLog_, 105);
        // Ownership (1) relates mains to service lines too; here it relates nothing.
        TypedHelper::Install(3, pelmora::qzrelOwnership, helperLog_);
        service_ = NewService();
        components_ = rt::QueryInterface<pelmora::IComponents>(rt::CreateObject("QzPelmora.Components"));
    }

    Calls& Rules() { return *RecordingAttributeValidation::Log(); }

    std::shared_ptr<TypedHelper::Log> helperLog_;
    std::shared_ptr<pelmora::IComponents> components_;
};

}  // namespace

TEST_F(EstablishFixture, EstablishingRunsTheRulesOfThePairWithTheReportedType) {
    struct Case {
        const char* what;
        std::function<void()> call;
        Calls helper;
        Calls rules;
    };
    auto main = Feature(101, 1001, components_);
    auto line = Feature(104, 4001, components_);
    auto station = Feature(105, 5001, components_);
    const Calls mainAndLine = {"RelatedFeature 101/1001", "ActiveFeature 104/4001", "RelationshipType 2",
                               "Execute (empty arrays)"};
    const Case cases[] = {
        {"by feature, the number chosen",
         [&] { Call("SilentEstablishByFeature", {rt::Variant(main), rt::Variant(line)}); },
         {"CanRelate 1 104", "CanRelate 3 104", "Establish 3"}, mainAndLine},
        {"with the components updated", [&] { service_->SilentEstablish(main, line); },
         {"CanRelate 1 104", "CanRelate 3 104", "Establish 3"}, mainAndLine},
        // A class that reports 4 for rows of type 8, as the dimensioning
        // helper does for 6: the rules run with "4".
        {"a number given",
         [&] { Call("SilentEstablish", {rt::Variant(main), rt::Variant(station), rt::Variant(int16_t{6})}); },
         {"Establish 6"},
         {"RelatedFeature 101/1001", "ActiveFeature 105/5001", "RelationshipType 4", "Execute (empty arrays)"}},
        {"the null helper", [&] { service_->SilentEstablishByFeature(station, main, rt::Variant(int32_t{10})); }, {},
         {"RelatedFeature 105/5001", "ActiveFeature 101/1001", "RelationshipType -1", "Execute (empty arrays)"}},
    };
    for (const Case& c : cases) {
        helperLog_->calls.clear();
        Rules().clear();
        c.call();
        EXPECT_EQ(helperLog_->calls, c.helper) << c.what;
        EXPECT_EQ(Rules(), c.rules) << c.what;
    }
}

TEST_F(EstablishFixture, NoRelationshipForThePairAndNoContext) {
    // Error 1 comes before the related feature's components are looked at:
    // the related main here has none.
    auto main = Feature(101, 1001, components_);
    using Request = std::function<void(const std::shared_ptr<pelmora::IKeyObject>&,
                                       const std::shared_ptr<pelmora::IKeyObject>&)>;
    const std::pair<Request, int16_t> requests[] = {
        {[&](const auto& s, const auto& r) { service_->SilentEstablish(s, r); }, 21832},
        {[&](const auto& s, const auto& r) { service_->DeleteRelationship(s, r); }, 25183},
    };
    for (const auto& [request, description] : requests) {
        for (const auto& source : {main, Feature(999, 1, components_)}) {
            Rules().clear();
            auto error = Raised([&] { request(source, Feature(101, 1001)); });
            EXPECT_EQ(error.Number(), 1) << description;
            EXPECT_EQ(error.Source(), pelmora::MessageObject()->GetMessageText(21826, 0));
            EXPECT_EQ(error.Description(), pelmora::MessageObject()->GetMessageText(description, 0));
            EXPECT_TRUE(Rules().empty());
        }
    }

    // Without a context (never set, or released) there is no helper to take
    // (9) and no rule service (91); nothing is asked of a helper or the rules.
    for (bool released : {false, true}) {
        service_ = NewService(released);
        if (released) service_->putref_DataContext(nullptr);
        helperLog_->calls.clear();
        const rt::Variant three(int16_t{3});
        for (const auto& [request, expected] : std::vector<std::pair<std::function<void()>, int32_t>>{
                 {[&] { service_->SilentEstablishByFeature(main, main, three); }, rt::vberr::SubscriptOutOfRange},
                 {[&] { service_->SilentEstablish(main, main, three); }, rt::vberr::SubscriptOutOfRange},
                 {[&] { service_->ValidateCandidate(main, main); }, rt::vberr::ObjectVariableNotSet}})
            EXPECT_EQ(ErrorOf(request), expected) << released;
        EXPECT_TRUE(helperLog_->calls.empty()) << released;
    }
}

TEST_F(EstablishFixture, AnErrorTheHelperRaisesWithoutASourceNamesTheHelperClass) {
    // Raised after establishing, by the type the rules run with.
    struct TypeFailing : TypedHelper {
        using TypedHelper::TypedHelper;
        pelmora::RelationshipTypeConstants get_RelationshipType() override { rt::RaiseVbError(5); }
        std::string TypeName() const override { return "TypeFailing"; }
    };
    pelmora::RegisterRelationshipHelperClass(
        3, [log = helperLog_] { return std::make_shared<TypeFailing>(pelmora::qzrelOwnership, log, 104); });
    service_ = NewService();
    auto error = Raised([&] { Call("SilentEstablish", {rt::Variant(Feature(101, 1001, components_)),
                                                       rt::Variant(Feature(104, 4001, components_))}); });
    EXPECT_EQ(error.Number(), 5);
    EXPECT_EQ(error.Source(), "QzPelmora.TypeFailing");
    EXPECT_EQ(helperLog_->calls.back(), "Establish 1");
}

TEST_F(EstablishFixture, CandidatePairsAreTestedWithTheRelatedFeatureActive) {
    auto main = Feature(101, 1001);
    auto valve = Feature(102, 2001);
    for (bool answer : {true, false}) {
        RecordingAttributeValidation::Answer() = answer;
        Rules().clear();
        std::shared_ptr<pelmora::IKeyObject> source = main;
        std::shared_ptr<pelmora::IKeyObject> related = valve;
        rt::Args args{rt::Variant(source), rt::Variant(related)};
        EXPECT_EQ(rt::CBool(Call("ValidateCandidate", args)), answer);
        EXPECT_EQ(Rules(), (Calls{"ActiveFeature 102/2001", "RelatedFeature 101/1001",
                                  "ValidateAttributes True (arrays omitted)"}));
    }
}

TEST_F(EstablishFixture, EveryContextReachesTheOneAttributeValidationService) {
    auto first = service_->get_AttributeValidationService();
    ASSERT_NE(first, nullptr);
    service_->putref_DataContext(StandInContext());
    EXPECT_EQ(service_->get_AttributeValidationService(), first);
    EXPECT_EQ(Rules(), (Calls{"DataContext", "DataContext"}));
    service_->putref_DataContext(nullptr);
    EXPECT_EQ(service_->get_AttributeValidationService(), nullptr);
    service_->putref_DataContext(sqlite_);
    EXPECT_NE(service_->get_AttributeValidationService(), first);
}
