// The relationship service on the sample relationships, created by its
// ProgID: applicable relationships, questions by number, the helper cache
// across contexts, and the choice of a relationship for a pair of features.
#include "RelationshipTestSupport.h"

#include "ado/Enums.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/KeyObject.h"
#include "interfaces/Components.h"
#include "interfaces/FeatureAssemblyService.h"
#include "interfaces/Relationship.h"

using pelmora_test::ErrorOf;
using pelmora_test::Raised;
using relationshiptest::Numbers;
using relationshiptest::RelationshipServiceFixture;
using relationshiptest::TypedHelper;

namespace {

using Ints = std::vector<int32_t>;

rt::Variant IntegerArray(const Ints& values) {
    auto a = rt::Variant::MakeArray(rt::vbInteger, 0, static_cast<int32_t>(values.size()) - 1);
    for (size_t i = 0; i < values.size(); ++i)
        a.ArrayMut()->Set(static_cast<int32_t>(i), rt::Variant(static_cast<int16_t>(values[i])));
    return a;
}

std::shared_ptr<pelmora::KeyObject> Feature(int16_t fno, int32_t fid) {
    auto k = pelmora::KeyObject::New();
    k->put_FNO(fno);
    k->put_FID(fid);
    return k;
}

std::string Message(int16_t id) { return pelmora::MessageObject()->GetMessageText(id, 0); }

}  // namespace

TEST_F(RelationshipServiceFixture, ApplicableRelationshipsByFeatureNumberAndArray) {
    struct Case {
        const char* what;
        rt::Variant fno;
        bool isNull;
        Ints numbers;  // the elements, from index 1
    };
    const Case cases[] = {
        {"an Integer: ascending, though the rows are not", rt::Variant(int16_t{101}), false, {1, 3, 6, 12, 56}},
        {"a Long: Null", rt::Variant(int32_t{101}), true, {}},
        {"an Integer without rows: Null", rt::Variant(int16_t{999}), true, {}},
        {"an array: first occurrence, each once", IntegerArray({104, 101}), false, {5, 3, 6, 1, 56, 12}},
        {"an array sharing numbers", IntegerArray({103, 999, 102}), false, {2, 57, 3, 7, 8}},
        {"an array without rows: no elements", IntegerArray({999}), false, {}},
        {"a Variant array: Null", rt::Variant::ArrayOf({rt::Variant(int16_t{101})}), true, {}},
    };
    for (const Case& c : cases) {
        // A fresh service each time: the sort one call asks for stays on the
        // table and orders the rows of the next.
        service_ = NewService();
        rt::Variant result = Call("AllApplicableRelationships", {c.fno});
        if (c.isNull) {
            EXPECT_TRUE(result.IsNull()) << c.what;
            continue;
        }
        ASSERT_EQ(result.Type(), rt::vbArray | rt::vbInteger) << c.what;
        EXPECT_EQ(rt::LBound(result), 1) << c.what;
        EXPECT_EQ(Numbers(result), c.numbers) << c.what;
    }
    EXPECT_EQ(ErrorOf([&] { Call("AllApplicableRelationships", {rt::Variant::MakeArray(rt::vbInteger, 1, 0)}); }),
              rt::vberr::SubscriptOutOfRange);
    EXPECT_EQ(ErrorOf([&] { Call("AllApplicableRelationships", {rt::Variant::UnallocatedArray(rt::vbInteger)}); }),
              rt::vberr::SubscriptOutOfRange);
}

TEST_F(RelationshipServiceFixture, QuestionsByRelationshipNumber) {
    struct Case {
        int16_t number;
        const char* name;
        bool subordinate;
        int32_t type, reciprocal;
    };
    // Ownership (3) and detail (4) have their classes; the types without one
    // get the null helper, which reports -1 whatever QTX_TYPE says and has no
    // reciprocal.
    const Case cases[] = {{1, "Main Owns Devices", false, pelmora::qzrelOwnership, 2},
                          {2, "Device Owned By Main", true, pelmora::qzrelOwnership, 1},
                          {8, "Valve In Detail", true, pelmora::qzrelDetail, 9},
                          {10, "Station Label Leader", false, pelmora::qzrelUnknown, -1}};
    for (const Case& c : cases) {
        const rt::Variant n(c.number);
        EXPECT_EQ(rt::CStr(Call("RelationshipName", {n}, rt::InvokeKind::PropertyGet)), c.name) << c.number;
        EXPECT_EQ(rt::CLng(Call("RelationshipType", {n}, rt::InvokeKind::PropertyGet)), c.type) << c.number;
        EXPECT_EQ(rt::CBool(Call("SubordinateRelationship", {n}, rt::InvokeKind::PropertyGet)), c.subordinate)
            << c.number;
        EXPECT_EQ(rt::CLng(Call("ReciprocalRelationship", {n}, rt::InvokeKind::PropertyGet)), c.reciprocal)
            << c.number;
    }
    // The null helper answers with nothing.
    auto station = Feature(105, 5001);
    EXPECT_TRUE(service_->GetCandidateFeatures(station, 10).IsNull());
    EXPECT_EQ(service_->GetRelatedFeatures(station, 10), nullptr);
    EXPECT_TRUE(service_->GetRelatedFeaturesHierarchy(station, 10).IsEmpty());

    // 4 lies below the largest number and has no row; 99 is above it.
    EXPECT_EQ(ErrorOf([&] { service_->get_RelationshipName(4); }), ado::err::NoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { service_->get_SubordinateRelationship(4); }), ado::err::NoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { service_->get_RelationshipName(99); }), rt::vberr::SubscriptOutOfRange);
    EXPECT_EQ(ErrorOf([&] { service_->get_RelationshipName(-1); }), rt::vberr::SubscriptOutOfRange);
}

TEST_F(RelationshipServiceFixture, ReciprocalIsSoughtByTheReportedTypeOnTheSameRuleTable) {
    auto log = std::make_shared<TypedHelper::Log>();
    TypedHelper::Install(3, pelmora::qzrelOwnership, log);
    TypedHelper::Install(4, pelmora::qzrelDetail, log);
    // As the dimensioning helper does: a class that reports 4 for rows of
    // another type finds no partner on its own rule table.
    TypedHelper::Install(8, pelmora::qzrelDetail, log);
    service_ = NewService();
    const std::pair<int16_t, int16_t> cases[] = {{1, 2}, {2, 1}, {8, 9}, {9, 8}, {6, -1}, {3, -1}, {10, -1}};
    for (const auto& [number, reciprocal] : cases)
        EXPECT_EQ(service_->get_ReciprocalRelationship(number), reciprocal) << number;

    // A rule-table name with a quote goes into the filter as a literal.
    auto helper = std::dynamic_pointer_cast<TypedHelper>(service_->GetRelationshipHelper(1));
    helper->tableOverride = "O'BRIEN_OPTABLE";
    EXPECT_EQ(service_->get_ReciprocalRelationship(1), -1);
    helper->tableOverride.clear();
    EXPECT_EQ(service_->get_ReciprocalRelationship(1), 2);
}

TEST_F(RelationshipServiceFixture, OneHelperPerNumberLoadedWithTheServicesContext) {
    auto log = std::make_shared<TypedHelper::Log>();
    TypedHelper::Install(3, pelmora::qzrelOwnership, log);
    service_ = NewService();
    auto first = service_->GetRelationshipHelper(2);
    EXPECT_EQ(service_->GetRelationshipHelper(2), first);
    EXPECT_EQ(service_->GetRelationshipHelper(1)->get_RelationshipNumber(), 1);
    EXPECT_EQ(log->created, 2);
    EXPECT_EQ(first->get_RelationshipNumber(), 2);
    EXPECT_EQ(first->get_Name(), "Device Owned By Main");
    EXPECT_EQ(first->get_OptimizedTable(), "QTX_OWNERSHIPRULES_OPTABLE");
    EXPECT_EQ(first->get_DataContext(), std::static_pointer_cast<pelmora::IDataContext>(sqlite_));
    EXPECT_NE(first->get_MDRSFilterService(), nullptr);
}

TEST_F(RelationshipServiceFixture, AHelperWhoseLoadingFailedIsNotKept) {
    auto context = StandInContext();
    standIn_->FailTable("QTX_OWNERSHIPRULES_OPTABLE", 1);
    service_->putref_DataContext(context);
    EXPECT_EQ(ErrorOf([&] { service_->get_RelationshipName(1); }), pelmora::kErrorBase + 1);
    // The next request loads it again.
    EXPECT_EQ(service_->get_RelationshipName(1), "Main Owns Devices");
    EXPECT_EQ(service_->get_RelationshipName(2), "Device Owned By Main");
}

TEST_F(RelationshipServiceFixture, EveryContextDropsTheHelpersOfTheOneBefore) {
    auto before = service_->GetRelationshipHelper(1);

    // A context whose relationship table has no rows: no helper for any number.
    auto context = StandInContext();
    standIn_->EmptyTable("QTX_RELATIONSHIPS_OPTABLE");
    service_->putref_DataContext(context);
    for (int16_t number : {0, 1, 10})
        EXPECT_EQ(ErrorOf([&] { service_->GetRelationshipHelper(number); }), rt::vberr::SubscriptOutOfRange) << number;
    EXPECT_EQ(Numbers(service_->AllApplicableRelationships(rt::Variant(int16_t{101}))), (Ints{1, 3, 6, 12, 56}));

    // Back on the sample: a new helper, on the new context.
    service_->putref_DataContext(sqlite_);
    auto after = service_->GetRelationshipHelper(1);
    EXPECT_NE(after, before);
    EXPECT_EQ(after->get_DataContext(), std::static_pointer_cast<pelmora::IDataContext>(sqlite_));

    // A null context releases everything.
    Call("DataContext", {rt::Variant::Nothing()}, rt::InvokeKind::PropertySet);
    EXPECT_EQ(ErrorOf([&] { service_->GetRelationshipHelper(1); }), rt::vberr::SubscriptOutOfRange);
    EXPECT_EQ(ErrorOf([&] { service_->AllApplicableRelationships(rt::Variant(int16_t{101})); }),
              rt::vberr::ObjectVariableNotSet);
}

TEST_F(RelationshipServiceFixture, MembersBeforeAnyContext) {
    service_ = NewService(false);
    auto main = Feature(101, 1001);
    struct Case {
        const char* what;
        std::function<void()> call;
        int32_t error;
    };
    const Case cases[] = {
        {"RelationshipName", [&] { service_->get_RelationshipName(1); }, rt::vberr::SubscriptOutOfRange},
        {"RelationshipType", [&] { service_->get_RelationshipType(1); }, rt::vberr::SubscriptOutOfRange},
        {"ReciprocalRelationship", [&] { service_->get_ReciprocalRelationship(1); }, rt::vberr::ObjectVariableNotSet},
        {"SubordinateRelationship", [&] { service_->get_SubordinateRelationship(1); }, rt::vberr::ObjectVariableNotSet},
        {"AllApplicableRelationships (a Long)", [&] { service_->AllApplicableRelationships(rt::Variant(int32_t{1})); },
         rt::vberr::ObjectVariableNotSet},
        {"DeleteRelationship", [&] { service_->DeleteRelationship(main, main); }, rt::vberr::ObjectVariableNotSet},
    };
    for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.call), c.error) << c.what;
}

TEST_F(RelationshipServiceFixture, DeleteTakesTheFirstApplicableRelationshipThatCanRelateThePair) {
    auto log = std::make_shared<TypedHelper::Log>();
    TypedHelper::Install(2, pelmora::qzrelNodeEdgeConnectivity, log, 104);
    // Ownership (1) relates mains to service lines too; here it relates nothing.
    TypedHelper::Install(3, pelmora::qzrelOwnership, log);
    service_ = NewService();
    auto components = rt::QueryInterface<pelmora::IComponents>(rt::CreateObject("QzPelmora.Components"));
    auto main = Feature(101, 1001);
    auto service = Feature(104, 4001);
    service->putref_Components(components);
    main->putref_Components(components);

    // 101 has 1, 3 and 6; only 3 (node-edge) relates it to a service line.
    Call("DeleteRelationship", {rt::Variant(main), rt::Variant(service)});
    EXPECT_EQ(log->calls, (std::vector<std::string>{"CanRelate 1 104", "CanRelate 3 104", "Delete 3 0 0"}));

    // Nothing relates a main to a main, and nothing applies to FNO 999.
    for (const auto& source : {main, Feature(999, 1)}) {
        auto error = Raised([&] { service_->DeleteRelationship(source, main); });
        EXPECT_EQ(error.Number(), 1);
        EXPECT_EQ(error.Source(), Message(21826));
        EXPECT_EQ(error.Description(), Message(25183));
    }

    // A number given is taken as it is; a related feature without
    // components fails before the helper is asked.
    log->calls.clear();
    service_->DeleteRelationship(main, service, rt::Variant(int32_t{3}));
    EXPECT_EQ(log->calls, (std::vector<std::string>{"Delete 3 0 0"}));
    EXPECT_EQ(ErrorOf([&] { service_->DeleteRelationship(service, Feature(101, 1002), rt::Variant(int16_t{3})); }),
              rt::vberr::ObjectVariableNotSet);
    EXPECT_EQ(log->calls.size(), 1u);
}

TEST_F(RelationshipServiceFixture, NullHelperKeepsNeitherNumberNorNameAndRefusesForeignObjects) {
    auto helper = service_->GetRelationshipHelper(10);
    EXPECT_EQ(helper->get_RelationshipNumber(), 0);
    EXPECT_EQ(helper->get_Name(), "");
    EXPECT_EQ(helper->get_RelationshipName(), "Station Label Leader");
    EXPECT_EQ(helper->get_OptimizedTable(), "QTX_LEADERLINERULES_OPTABLE");
    EXPECT_EQ(helper->get_RelationshipType(), pelmora::qzrelUnknown);
    EXPECT_FALSE(helper->CanRelate(Feature(105, 5001), 101));

    auto filterService = helper->get_MDRSFilterService();
    EXPECT_EQ(ErrorOf([&] { helper->putref_MDRSFilterService(Feature(101, 1001)); }), rt::vberr::TypeMismatch);
    EXPECT_EQ(helper->get_MDRSFilterService(), filterService);
    auto feature = Feature(105, 5001);
    helper->putref_Feature(feature);
    EXPECT_EQ(helper->get_Feature(), std::static_pointer_cast<pelmora::IKeyObject>(feature));
}

TEST_F(RelationshipServiceFixture, FactoryChoosesTheClassByTheValueOfTheType) {
    auto log = std::make_shared<TypedHelper::Log>();
    TypedHelper::Install(3, pelmora::qzrelOwnership, log);
    struct Case {
        const char* what;
        rt::Variant type;
        bool registered;
    };
    const Case cases[] = {{"3", rt::Variant(int16_t{3}), true},        {"3.0", rt::Variant(3.0), true},
                          {"\"3\"", rt::Variant("3"), true},          {"5", rt::Variant(int16_t{5}), false},
                          {"2.5", rt::Variant(2.5), false},            {"Null", rt::Variant::Null(), false},
                          {"\"three\"", rt::Variant("three"), false}, {"65539", rt::Variant(int32_t{65539}), false}};
    for (const Case& c : cases) {
        auto helper = pelmora::NewRelationshipHelper(c.type);
        EXPECT_EQ(std::dynamic_pointer_cast<TypedHelper>(helper) != nullptr, c.registered) << c.what;
        EXPECT_EQ(helper->get_RelationshipType(), c.registered ? pelmora::qzrelOwnership : pelmora::qzrelUnknown)
            << c.what;
    }
    // The system's classes come back with the next registration.
    pelmora::RegisterRelationshipHelperClasses();
    auto ownership = std::dynamic_pointer_cast<rt::Object>(pelmora::NewRelationshipHelper(rt::Variant(int16_t{3})));
    EXPECT_EQ(ownership->TypeName(), "Ownership");
}

TEST_F(RelationshipServiceFixture, TheServiceAndItsHelpersAnswerForTheirInterfacesByIdentifier) {
    const char* iids[] = {pelmora::kRelationshipServiceIID, pelmora::kIRelationshipIID, pelmora::kIRelationshipHelperIID,
                          pelmora::kIRecordsetEvaluatorIID};
    auto helper = [](int16_t type) { return rt::ObjectPtrOf(pelmora::NewRelationshipHelper(rt::Variant(type))); };
    struct Case {
        const char* what;
        rt::ObjectPtr object;
        std::vector<bool> answers;  // per identifier above
    };
    const Case cases[] = {
        {"the service", rt::CreateObject(pelmora::kRelationshipServiceProgId), {true, true, false, false}},
        {"ownership", helper(3), {false, false, true, true}},
        {"many-to-many ownership", helper(8), {false, false, true, true}},
        {"node-ordered connectivity", helper(9), {false, false, true, true}},
        {"detail", helper(4), {false, false, true, false}},
        {"node-edge connectivity", helper(2), {false, false, true, false}},
    };
    for (const Case& c : cases)
        for (size_t i = 0; i < std::size(iids); ++i) {
            const int32_t error = ErrorOf([&] { EXPECT_EQ(rt::QueryInterfaceById(c.object, iids[i]), c.object); });
            EXPECT_EQ(error, c.answers[i] ? 0 : rt::vberr::TypeMismatch) << c.what << " " << iids[i];
        }
}
