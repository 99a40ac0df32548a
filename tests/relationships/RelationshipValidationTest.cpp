// Validating relationships through IRelationship on the sample: the calls
// that fetch a validation set, the run of every applicable helper with one
// row per failing relationship, the features the helpers receive for the
// set in hand, and the pending edits of a saved valve.
#include "RelationshipTestSupport.h"

#include <functional>
#include <set>

#include "ado/Recordset.h"
#include "pelmora/common/modADOUtils.h"
#include "pelmora/common/AppUtils.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "interfaces/Components.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "product/DesktopApplication.h"
#include "product/ValidateSetPackage.h"
#include "runtime/Collection.h"
#include "support/RecordingContext.h"

using pelmora_test::Raised;
using relationshiptest::RelationshipServiceFixture;
using relationshiptest::TypedHelper;
using Lines = std::vector<std::string>;

namespace {

using pelmora_test::RecordingContext;

// The texts, options and parameters the service sent: "SQL options [p]...".
Lines Calls(const RecordingContext& context) {
    Lines lines;
    for (const auto& execute : context.executes) {
        std::string line = execute.sql + " " + std::to_string(execute.options);
        for (const auto& v : execute.values) line += " [" + rt::CStr(v) + "]";
        lines.push_back(line);
    }
    return lines;
}

// Logs what each Validate received: the pending FNOs, then each pending
// feature (found among the features, or "?") with the features the set
// relates to it through the helper's number; fails for the numbers asked.
class ValidatingHelper : public TypedHelper {
public:
    using TypedHelper::TypedHelper;
    static Lines& Log() {
        static Lines log;
        return log;
    }
    static std::set<int16_t>& Failing() {
        static std::set<int16_t> failing;
        return failing;
    }

    void Validate(const std::shared_ptr<pelmora::IKeyObjects>& features, const std::shared_ptr<pelmora::IComponents>&,
                  const std::shared_ptr<ado::Recordset>& set, const std::shared_ptr<rt::Collection>& pending,
                  const std::shared_ptr<ado::Recordset>&) override {
        std::string line = std::to_string(relationshipNumber_) + ":";
        for (int32_t i = 1; i <= pending->Count(); ++i) line += " " + rt::CStr(pending->Item(rt::Variant(i)));
        line += " |";
        for (set->MoveFirst(); !set->get_EOF() && rt::CLng(set->GetValue(rt::Variant("PENDING"))) != 0;
             set->MoveNext()) {
            const int16_t fno = rt::CInt(set->GetValue(rt::Variant("QTX_FNO")));
            const int32_t fid = rt::CLng(set->GetValue(rt::Variant("QTX_FID")));
            line += " " + std::to_string(fno) + "/" + std::to_string(fid) +
                    (pelmora::FindKeyObject(features, fno, fid) ? "" : "?") + "->";
            std::string related;
            for (const auto& r : pelmora::GetRelatedFeatures(set, features, relationshipNumber_)->get_NewEnum())
                related += (related.empty() ? "" : ",") + std::to_string(r->get_FNO()) + "/" + std::to_string(r->get_FID());
            line += related;
        }
        Log().push_back(line);
        if (Failing().count(relationshipNumber_)) throw rt::ComError(pelmora::kErrorBase + 7, "test", "broken");
    }
};

std::shared_ptr<pelmora::KeyObject> Feature(int16_t fno, int32_t fid) {
    auto k = pelmora::KeyObject::New();
    k->put_FNO(fno);
    k->put_FID(fid);
    return k;
}

std::shared_ptr<pelmora::IKeyObjects> Features(std::initializer_list<std::pair<int16_t, int32_t>> keys) {
    auto all = pelmora::KeyObjects::New();
    for (auto [fno, fid] : keys) all->Add(Feature(fno, fid));
    return all;
}

// "FNO/FID pending related-FNO/FID rno" per row.
Lines SetRows(const std::shared_ptr<ado::Recordset>& set) {
    Lines rows;
    auto text = [&](const char* f) {
        rt::Variant v = set->GetValue(rt::Variant(f));
        return v.IsNull() ? std::string("-") : rt::CStr(v);
    };
    if (set->get_BOF() && set->get_EOF()) return rows;
    for (set->MoveFirst(); !set->get_EOF(); set->MoveNext())
        rows.push_back(text("QTX_FNO") + "/" + text("QTX_FID") + " " + text("PENDING") + " " + text("QTX_RELATED_FNO") +
                       "/" + text("QTX_RELATED_FID") + " " + text("QTX_RNO"));
    return rows;
}

Lines ErrorRows(const std::shared_ptr<ado::Recordset>& errors) {
    Lines rows;
    if (errors->get_BOF() && errors->get_EOF()) return rows;
    for (errors->MoveFirst(); !errors->get_EOF(); errors->MoveNext()) {
        std::string row;
        for (const char* f : {"ErrorPriority", "ErrorDescription", "ErrorLocation", "Connection", "QTX_FNO"}) {
            rt::Variant v = errors->GetValue(rt::Variant(f));
            row += (row.empty() ? "" : "|") + (v.IsNull() ? std::string("Null") : rt::CStr(v));
        }
        rows.push_back(row);
    }
    return rows;
}

class ValidationFixture : public RelationshipServiceFixture {
protected:
    void SetUp() override {
        RelationshipServiceFixture::SetUp();
        ValidatingHelper::Log().clear();
        ValidatingHelper::Failing().clear();
        helperLog_ = std::make_shared<TypedHelper::Log>();
        for (int32_t type : {2, 3})
            pelmora::RegisterRelationshipHelperClass(type, [log = helperLog_] {
                return std::make_shared<ValidatingHelper>(pelmora::qzrelOwnership, log, 0);
            });
        // Ownership: a main owns the two valves, a valve is owned by main 1001.
        product::RegisterRelatedFeatureRule(3, [](const product::RelatedFeatureQuery& q) {
            if (q.feature.fno == 101) return std::vector<product::FeatureKey>{{102, 2001}, {102, 2002}};
            if (q.feature.fno == 102) return std::vector<product::FeatureKey>{{101, 1001}};
            return std::vector<product::FeatureKey>{};
        });
        Use(std::make_shared<RecordingContext>(sqlite_));
    }
    void TearDown() override {
        product::RegisterRelatedFeatureRule(3, nullptr);
        relationship_.reset();
        context_.reset();
        RelationshipServiceFixture::TearDown();
    }

    void Use(std::shared_ptr<RecordingContext> context) {
        context_ = std::move(context);
        service_ = NewService(false);
        relationship_ = rt::QueryInterface<pelmora::IRelationship>(std::static_pointer_cast<rt::Object>(service_));
        relationship_->putref_DataContext(context_);
    }

    std::shared_ptr<RecordingContext> context_;
    std::shared_ptr<pelmora::IRelationship> relationship_;
    std::shared_ptr<TypedHelper::Log> helperLog_;
};

const std::string kDefine =
    "begin QTX_VALIDATESET.DefineFeatures(QTXUtility.DecodeNumericList(?), QTXUtility.DecodeNumericList(?), ?); end; 1";
const std::string kGet = "{ call QTX_VALIDATESET.GetValidateSetV(?) } 1";
// Every relationship but 9 (detail, seen from the owner).
const std::string kList = " [1;2;3;5;6;7;8;10;11;12;14;56;57;]";
// Main 1001 is dimensioned (relationship 12) by dimension 5402, whose base
// point lies between two of its vertices.
const std::string kDimensionFinding = "Warning|The dimension does not meet its base reference.|Dimensioned By|";

}  // namespace

TEST_F(ValidationFixture, TheCallsThatFetchAValidationSet) {
    struct Case {
        const char* what;
        int32_t listLength;  // 0: the database's
        bool pendingEdits;
        std::vector<std::pair<int16_t, int32_t>> features;
        bool noRelationships;
        Lines calls;
    };
    const Case cases[] = {
        {"three features fit", 0, false, {{101, 1001}, {102, 2001}, {103, 3001}}, false,
         {kDefine + " [101;102;103;] [1001;2001;3001;] [Y]", kGet + kList}},
        {"the seventh FID does not fit: two calls, both N", 32, false,
         {{101, 1001}, {101, 1002}, {101, 1003}, {102, 2001}, {102, 2002}, {103, 3001}, {103, 3002}}, false,
         {kDefine + " [101;101;101;102;102;103;] [1001;1002;1003;2001;2002;3001;] [N]",
          kDefine + " [103;] [3002;] [N]", kGet + kList}},
        {"no features", 0, false, {}, false, {kDefine + " [] [] [Y]", kGet + kList}},
        {"no relationships: the empty list", 0, false, {{101, 1001}}, true,
         {kDefine + " [101;] [1001;] [Y]", kGet + " []"}},
        {"pending edits", 0, true, {}, false,
         {"{call QTX_VALIDATESET_PROD.DefineFeaturesFromPendingEdits} 8", kGet + kList}},
        {"pending edits without relationships: NULL in the text", 0, true, {}, true,
         {"{call QTX_VALIDATESET_PROD.DefineFeaturesFromPendingEdits} 8",
          "{ call QTX_VALIDATESET.GetValidateSetV(NULL) } 1"}},
    };
    for (const Case& c : cases) {
        auto standIn = std::make_shared<relationshiptest::StandInMetadata>(rt::QueryInterface<pelmora::IMetadataService>(metadata_));
        if (c.noRelationships) standIn->EmptyTable("QTX_RELATIONSHIPS_OPTABLE");
        Use(std::make_shared<RecordingContext>(sqlite_, standIn));
        pelmora::SetMaxListLength(c.listLength ? c.listLength : 30000);
        auto features = Features({});
        for (auto [fno, fid] : c.features) features->Add(Feature(fno, fid));
        auto set = c.pendingEdits ? relationship_->GetPendingEditsValidationInformation()
                                  : relationship_->GetFeatureValidationInformation(features);
        ASSERT_NE(set, nullptr) << c.what;
        EXPECT_EQ(Calls(*context_), c.calls) << c.what;
    }

    // Relationship numbers that do not fit into one list are refused, not left out.
    Use(std::make_shared<RecordingContext>(sqlite_));
    pelmora::SetMaxListLength(10);
    auto features = Features({{101, 1001}});
    auto error = Raised([&] { relationship_->GetFeatureValidationInformation(features); });
    EXPECT_EQ(error.Number(), pelmora::kErrorBase);  // raised again through RaiseError
    EXPECT_EQ(error.Source(), "RelationshipService.GetValidationRelationshipList");
    EXPECT_NE(error.Description().find("relationship 7 and those after it"), std::string::npos) << error.Description();
}

TEST_F(ValidationFixture, EveryApplicableRelationshipIsValidatedAndAFailureCostsOneRow) {
    // Relationship 2 fails in its helper; 4, listed for the station, has no row.
    ValidatingHelper::Failing() = {2};
    auto application = std::make_shared<product::DesktopApplication>();
    product::ScopedApplication installed(application);
    auto features = Features({{101, 1001}, {102, 2001}, {105, 5001}});
    relationship_->putref_Features(features);
    std::shared_ptr<ado::Recordset> set;
    std::shared_ptr<ado::Recordset> errors;
    auto result = relationship_->Validate(set, errors);

    ASSERT_NE(set, nullptr);
    EXPECT_EQ(result, errors);
    EXPECT_EQ(SetRows(set), (Lines{"101/1001 1 -/- -", "102/2001 1 -/- -", "105/5001 1 -/- -",
                                   "102/2001 0 101/1001 1", "102/2002 0 101/1001 1", "105/5001 0 101/1001 6",
                                   "107/5401 0 101/1001 12", "107/5402 0 101/1001 12", "107/5408 0 101/1001 12",
                                   "108/5405 0 101/1001 12", "110/5409 0 101/1001 12", "102/2001 0 101/1001 56",
                                   "102/2002 0 101/1001 56", "101/1001 0 102/2001 2", "158/5981 0 102/2001 8",
                                   "101/1001 0 102/2001 57", "101/1001 0 105/5001 7"}));
    const std::string pending = ": 101 102 105 |";
    EXPECT_EQ(ValidatingHelper::Log(),
              (Lines{"1" + pending + " 101/1001->102/2001,102/2002 102/2001-> 105/5001->",
                     "3" + pending + " 101/1001-> 102/2001-> 105/5001->",
                     "56" + pending + " 101/1001->102/2001,102/2002 102/2001-> 105/5001->",
                     "2" + pending + " 101/1001-> 102/2001->101/1001 105/5001->",
                     "57" + pending + " 101/1001-> 102/2001->101/1001 105/5001->"}));
    const std::string tail = "||" + env_->ConfigurationName() + "|Null";
    EXPECT_EQ(ErrorRows(errors), (Lines{kDimensionFinding + env_->ConfigurationName() + "|107",
                                        "Error|The Device Owned By Main relationship cannot be validated." + tail,
                                        "Error|The 4 relationship cannot be validated." + tail}));
    // The last relationship that could be named.
    EXPECT_EQ(pelmora::GetStatusBarText(1), "Validating the Station Label Leader relationship...");
    // The features were built from the set the service fetched.
    EXPECT_NE(relationship_->get_Features(), features);
    EXPECT_EQ(relationship_->get_Features()->get_Count(), 10);
    ASSERT_NE(relationship_->get_Components(), nullptr);
    // A null context releases them with everything else.
    relationship_->putref_DataContext(nullptr);
    EXPECT_EQ(relationship_->get_Features(), nullptr);
    EXPECT_EQ(relationship_->get_Components(), nullptr);
}

TEST_F(ValidationFixture, TheHelpersReceiveTheFeaturesOfTheSetInHand) {
    auto main = Features({{101, 1001}});
    auto fabricated = [](std::initializer_list<int> pendings) {
        auto rs = ado::Recordset::Create();
        for (const char* f : {"QTX_FNO", "QTX_FID", "PENDING", "QTX_RELATED_FID", "QTX_RELATED_FNO", "QTX_RNO"})
            rs->get_Fields()->Append(f, ado::adInteger, 4, ado::adFldIsNullable);
        rs->Open(rt::Variant::Missing(), rt::Variant::Missing(), ado::adOpenStatic, ado::adLockBatchOptimistic, -1);
        for (int pending : pendings) {
            rs->AddNew();
            rs->SetValue(rt::Variant("QTX_FNO"), rt::Variant(int32_t{101}));
            rs->SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{1001}));
            rs->SetValue(rt::Variant("PENDING"), rt::Variant(int32_t{pending}));
            for (const char* f : {"QTX_RELATED_FID", "QTX_RELATED_FNO", "QTX_RNO"})
                rs->SetValue(rt::Variant(f), rt::Variant(int32_t{pending ? 0 : 1}));
            rs->Update();
        }
        return rs;
    };
    const Lines related = {"1: 101 | 101/1001->102/2001,102/2002", "3: 101 | 101/1001->",
                           "56: 101 | 101/1001->102/2001,102/2002"};
    std::shared_ptr<ado::Recordset> other;  // alive while its index stands
    struct Case {
        const char* what;
        std::function<std::shared_ptr<ado::Recordset>()> prepare;  // sets what the client sets, returns the set
        Lines log;
        bool dimensioned = true;  // main 1001's dimensions are in the set
    };
    const Case cases[] = {
        {"a set without features", [&] { return relationship_->GetFeatureValidationInformation(main); }, related},
        {"features built from another set",
         [&] {
             other = relationship_->GetFeatureValidationInformation(main);
             std::shared_ptr<pelmora::IKeyObjects> features;
             std::shared_ptr<pelmora::IComponents> components;
             int32_t count = 0;
             pelmora::GetValidationKOCollection(other, features, components, context_, count);
             relationship_->putref_Features(features);
             relationship_->putref_Components(components);
             return relationship_->GetFeatureValidationInformation(main);
         },
         related},
        {"a first row that is not pending", [&] { return fabricated({0, 1}); }, {}, false},
        {"no rows", [&] { return fabricated({}); }, {}, false},
    };
    for (const Case& c : cases) {
        Use(std::make_shared<RecordingContext>(sqlite_));
        ValidatingHelper::Log().clear();
        pelmora::ReleaseValidationSetIndex();
        auto set = c.prepare();
        std::shared_ptr<ado::Recordset> errors;
        auto result = relationship_->Validate(set, errors);
        ASSERT_NE(errors, nullptr) << c.what;
        EXPECT_EQ(result, errors) << c.what;
        EXPECT_EQ(ValidatingHelper::Log(), c.log) << c.what;
        EXPECT_EQ(ErrorRows(errors), c.dimensioned ? Lines{kDimensionFinding + env_->ConfigurationName() + "|107"} : Lines{})
            << c.what;
    }
}

TEST_F(ValidationFixture, PendingEditsAreWhatTheTransactionSavedUntilItCommits) {
    auto assembly = std::make_shared<pelmora::FeatureAssemblyService>();
    assembly->putref_DataContext(context_);
    auto valve = assembly->OpenFeature(102, 2001);
    auto attributes = valve->get_Components()->get_Item(rt::Variant("VALVE_ATTR"));
    attributes->put_FunctionalInterfacesEnabled(false);
    auto rs = attributes->get_Recordset();
    rs->SetValue(rt::Variant("VALVE_TYPE"), rt::Variant("BUTTERFLY"));
    rs->Update();
    auto saved = Features({});
    saved->Add(valve);
    assembly->UpdateFeatures(saved);

    for (bool committed : {false, true}) {
        if (committed) sqlite_->Commit();
        ValidatingHelper::Log().clear();
        auto set = relationship_->GetPendingEditsValidationInformation();
        ASSERT_NE(set, nullptr);
        EXPECT_EQ(SetRows(set), committed ? Lines{}
                                          : (Lines{"102/2001 1 -/- -", "101/1001 0 102/2001 2", "158/5981 0 102/2001 8",
                                                   "101/1001 0 102/2001 57"}));
        std::shared_ptr<ado::Recordset> errors;
        relationship_->Validate(set, errors);
        // Valves also take part in node-edge connectivity (3), which relates
        // nothing to the sample's earlier valve.
        EXPECT_EQ(ValidatingHelper::Log(),
                  committed ? Lines{}
                            : (Lines{"2: 102 | 102/2001->101/1001", "57: 102 | 102/2001->101/1001", "3: 102 | 102/2001->"}));
        EXPECT_EQ(ErrorRows(errors), Lines{});
    }
}
