// Scanning cached components and the synced recordset: a query over a
// component table answered as if the cache were saved, cached new, changed
// and deleted rows laid over the query's rows as a test evaluator decides.
#include "FeatureAssemblyTestSupport.h"

#include <functional>

#include "ado/Enums.h"
#include "pelmora/features/modFASCache.h"
#include "support/Raises.h"

using featuretest::FeatureAssemblyFixture;
using featuretest::Key;
using featuretest::Keys;
using pelmora::IKeyObject;
using pelmora::IRecordsetEvaluator;
using pelmora::IScanComponent;
using pelmora_test::Raised;

namespace {

// Accepts the rows whose column holds the value, as the query
// "WHERE column = ?" would.
class ColumnEquals : public rt::Object, public IRecordsetEvaluator {
public:
    ColumnEquals(std::string column, rt::Variant value) : column_(std::move(column)), value_(std::move(value)) {}
    void putref_Fields(const std::shared_ptr<ado::Fields>& Fields) override {
        fields_ = Fields;
        lastFields = Fields;
        field_ = Fields ? Fields->Item(column_) : nullptr;
        ++fieldsGiven;
    }
    bool Evaluate() override {
        ++evaluations;
        return rt::VariantEquals(field_->get_Value(), value_);
    }
    int fieldsGiven = 0;
    int evaluations = 0;
    std::weak_ptr<ado::Fields> lastFields;

private:
    std::string column_;
    rt::Variant value_;
    std::shared_ptr<ado::Fields> fields_;
    std::shared_ptr<ado::Field> field_;
};

// Notes the kind of every row a scan hands over.
class KindRecorder : public rt::Object, public IScanComponent {
public:
    void putref_Fields(const std::shared_ptr<ado::Fields>& Fields) override {
        fields_ = Fields;
        kinds.push_back({});
    }
    void ProcessRecord(int32_t kind) override {
        kinds.back().push_back(kind);
        rt::Variant fid = fields_->Item("QTX_FID")->get_OriginalValue();
        fids.push_back(fid.IsNull() ? -1 : rt::CLng(fid));
    }
    std::vector<std::vector<int32_t>> kinds;
    std::vector<int32_t> fids;

private:
    std::shared_ptr<ado::Fields> fields_;
};

constexpr const char* kGateValves = "SELECT * FROM VALVE_N WHERE VALVE_TYPE = ? ORDER BY QTX_FID";

class ScanFixture : public FeatureAssemblyFixture {
protected:
    void SetUp() override {
        FeatureAssemblyFixture::SetUp();
        service_->put_Caching(true);
    }

    std::shared_ptr<ado::Recordset> Synced(const std::shared_ptr<ColumnEquals>& evaluator) {
        return service_->OpenSyncedRecordsetArray(21, evaluator, kGateValves,
                                                  rt::Variant::ArrayOf({rt::Variant("GATE")}));
    }
    static std::shared_ptr<ColumnEquals> Gates() { return std::make_shared<ColumnEquals>("VALVE_TYPE", rt::Variant("GATE")); }
    static std::shared_ptr<ado::Recordset> Rows(const std::shared_ptr<IKeyObject>& feature, const std::string& name) {
        return feature->get_Components()->get_Item(rt::Variant(name))->get_Recordset();
    }
    static void Set(const std::shared_ptr<ado::Recordset>& rs, const std::string& field, const rt::Variant& value) {
        rs->MoveFirst();
        rs->SetValue(rt::Variant(field), value);
        rs->Update();
    }
};

std::vector<std::string> ValuesOf(const std::shared_ptr<ado::Recordset>& rs, const std::string& field) {
    return componenttest::Values(rs, field);
}

}  // namespace

TEST_F(ScanFixture, WithoutACacheTheQueryRowsComeAsAnEditableCopy) {
    service_->put_Caching(false);
    auto evaluator = Gates();
    auto synced = Synced(evaluator);
    EXPECT_EQ(ValuesOf(synced, "QTX_FID"), (std::vector<std::string>{"2001"}));
    EXPECT_EQ(ValuesOf(synced, "SIZE_MM"), (std::vector<std::string>{"200"}));
    synced->MoveFirst();
    EXPECT_EQ(synced->get_Status(), ado::adRecNew);
    EXPECT_EQ(evaluator->fieldsGiven, 0);
    // The copy keeps the query's field descriptions.
    auto size = synced->get_Fields()->Item("SIZE_MM");
    EXPECT_EQ(size->get_Type(), ado::adNumeric);
    EXPECT_EQ(size->get_Precision(), 5);

    // A single parameter given as it is.
    auto single = service_->OpenSyncedRecordset(21, evaluator, kGateValves, rt::Variant("BUTTERFLY"));
    EXPECT_EQ(ValuesOf(single, "QTX_FID"), (std::vector<std::string>{"2002"}));
}

TEST_F(ScanFixture, CachedNewRowsJoinWhenTheEvaluatorAcceptsThem) {
    auto gate = service_->NewFeature(102, 0);      // a gate valve by default
    auto ball = service_->NewFeature(102, 0);
    Set(Rows(ball, "VALVE_ATTR"), "VALVE_TYPE", rt::Variant("BALL"));

    auto evaluator = Gates();
    auto synced = Synced(evaluator);
    EXPECT_EQ(ValuesOf(synced, "QTX_FID"), (std::vector<std::string>{"2001", std::to_string(gate->get_FID())}));
    EXPECT_EQ(evaluator->fieldsGiven, 2);
    EXPECT_EQ(evaluator->evaluations, 2);
    // Every field is copied, keys included.
    synced->MoveLast();
    EXPECT_EQ(rt::CStr(synced->GetValue(rt::Variant("QTX_ID"))),
              rt::CStr(Rows(gate, "VALVE_ATTR")->GetValue(rt::Variant("QTX_ID"))));
}

TEST_F(ScanFixture, CachedChangesAndDeletionsReplaceTheQueryRows) {
    auto first = service_->OpenFeature(102, 2001);
    auto second = service_->OpenFeature(102, 2002);

    // Still a gate: the cached values show.
    Set(Rows(first, "VALVE_ATTR"), "SIZE_MM", rt::Variant(int32_t{300}));
    // Now a gate: it joins although the database says otherwise.
    Set(Rows(second, "VALVE_ATTR"), "VALVE_TYPE", rt::Variant("GATE"));
    auto synced = Synced(Gates());
    EXPECT_EQ(ValuesOf(synced, "QTX_FID"), (std::vector<std::string>{"2001", "2002"}));
    EXPECT_EQ(ValuesOf(synced, "SIZE_MM"), (std::vector<std::string>{"300", "150"}));

    // No longer a gate: it leaves.
    Set(Rows(first, "VALVE_ATTR"), "VALVE_TYPE", rt::Variant("BALL"));
    EXPECT_EQ(ValuesOf(Synced(Gates()), "QTX_FID"), (std::vector<std::string>{"2002"}));

    // Deleted: it leaves as well, whatever it held.
    auto rows = Rows(second, "VALVE_ATTR");
    rows->MoveFirst();
    rows->Delete(ado::adAffectCurrent);
    EXPECT_TRUE(ValuesOf(Synced(Gates()), "QTX_FID").empty());
    // The database is untouched.
    EXPECT_EQ(Column("SELECT VALVE_TYPE FROM VALVE_N WHERE QTX_FID IN (2001, 2002) ORDER BY QTX_FID", "VALVE_TYPE"),
              (std::vector<std::string>{"GATE", "BUTTERFLY"}));
}

TEST_F(ScanFixture, CachedRowsAreCopiedByFieldNameAndAFieldTheyLackIsNamed) {
    auto gate = service_->NewFeature(102, 0);
    const std::string fid = std::to_string(gate->get_FID());
    // Fewer columns than the table, in another order: each by its name.
    auto synced = service_->OpenSyncedRecordsetArray(
        21, Gates(), "SELECT VALVE_TYPE, QTX_FID, QTX_ID FROM VALVE_N WHERE VALVE_TYPE = ? ORDER BY QTX_FID",
        rt::Variant::ArrayOf({rt::Variant("GATE")}));
    EXPECT_EQ(ValuesOf(synced, "QTX_FID"), (std::vector<std::string>{"2001", fid}));
    EXPECT_EQ(ValuesOf(synced, "VALVE_TYPE"), (std::vector<std::string>{"GATE", "GATE"}));
    EXPECT_EQ(synced->get_Fields()->get_Count(), 3);

    // A column the cached rows do not have cannot be copied.
    auto failure = Raised([&] {
        service_->OpenSyncedRecordsetArray(21, Gates(), "SELECT QTX_ID, VALVE_TYPE AS KIND FROM VALVE_N WHERE VALVE_TYPE = ?",
                                           rt::Variant::ArrayOf({rt::Variant("GATE")}));
    });
    EXPECT_EQ(failure.Number(), ado::err::ItemNotFound);
}

TEST_F(ScanFixture, ComponentsWhoseRowsWereNeverReadContributeNothing) {
    auto valve = service_->OpenFeature(102, 2001);
    auto component = valve->get_Components()->get_Item(rt::Variant("VALVE_ATTR"));
    auto evaluator = Gates();
    auto synced = Synced(evaluator);
    EXPECT_EQ(ValuesOf(synced, "QTX_FID"), (std::vector<std::string>{"2001"}));
    EXPECT_EQ(evaluator->fieldsGiven, 0);
    EXPECT_FALSE(component->get_RecordsetLocal());
}

TEST_F(ScanFixture, ScanHandsOverEveryRowWithItsKindAndKeepsTheComponentsFilter) {
    auto features = Keys({Key(102, 2001), Key(102, 2002)});
    service_->OpenFeatures(features, false);
    auto hydrant = service_->OpenFeature(103, 3001);
    auto inspections = hydrant->get_Components()->get_Item(rt::Variant("HYDRANT_INSPECTION"));
    inspections->get_Recordset();
    inspections->put_Filter("QTX_CID = 3");

    // One valve changed, the other deleted, one row added.
    auto first = Rows(features->get_Item(rt::Variant(1)), "VALVE_ATTR");
    Set(first, "TURNS_TO_CLOSE", rt::Variant(int32_t{7}));
    auto second = Rows(features->get_Item(rt::Variant(2)), "VALVE_ATTR");
    second->MoveFirst();
    second->Delete(ado::adAffectCurrent);
    first->AddNew();
    first->SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{2001}));
    first->Update();

    auto valves = std::make_shared<KindRecorder>();
    service_->ScanComponent(21, valves);
    ASSERT_EQ(valves->kinds.size(), 1u) << "one cached component of number 21";
    EXPECT_EQ(valves->kinds[0], (std::vector<int32_t>{ado::adEditInProgress, ado::adEditAdd, ado::adEditDelete}));
    EXPECT_EQ(valves->fids, (std::vector<int32_t>{2001, -1, 2002}));

    auto hydrants = std::make_shared<KindRecorder>();
    service_->ScanComponent(33, hydrants);
    ASSERT_EQ(hydrants->kinds.size(), 1u);
    EXPECT_EQ(hydrants->kinds[0], (std::vector<int32_t>{ado::adEditNone, ado::adEditNone}));
    EXPECT_EQ(inspections->get_Filter(), "QTX_CID = 3");
    EXPECT_EQ(inspections->get_Recordset()->get_RecordCount(), 1);

    // Nothing cached of the number, or no cache: no call.
    auto none = std::make_shared<KindRecorder>();
    service_->ScanComponent(51, none);
    service_->put_Caching(false);
    service_->ScanComponent(21, none);
    EXPECT_TRUE(none->kinds.empty());
}

TEST_F(ScanFixture, TheServiceKeepsNothingOfTheCallersEvaluator) {
    auto valve = service_->OpenFeature(102, 2001);
    Set(Rows(valve, "VALVE_ATTR"), "SIZE_MM", rt::Variant(int32_t{300}));
    auto evaluator = Gates();
    std::weak_ptr<ColumnEquals> weakEvaluator = evaluator;
    Synced(evaluator);
    std::weak_ptr<ado::Fields> fields = evaluator->lastFields;
    ASSERT_FALSE(fields.expired());
    evaluator.reset();
    EXPECT_TRUE(weakEvaluator.expired());
    EXPECT_TRUE(fields.expired());

    // So also when the evaluator fails.
    class Failing : public ColumnEquals {
    public:
        Failing() : ColumnEquals("VALVE_TYPE", rt::Variant("GATE")) {}
        bool Evaluate() override { throw rt::ComError(rt::vberr::InvalidProcedureCall, "test", "refused"); }
    };
    auto failing = std::make_shared<Failing>();
    std::weak_ptr<Failing> weakFailing = failing;
    auto e = Raised([&] {
        service_->OpenSyncedRecordsetArray(21, failing, kGateValves, rt::Variant::ArrayOf({rt::Variant("GATE")}));
    });
    EXPECT_EQ(e.Number(), rt::vberr::InvalidProcedureCall);
    failing.reset();
    EXPECT_TRUE(weakFailing.expired());
    // The component's view is as before.
    EXPECT_EQ(rt::CStr(Rows(valve, "VALVE_ATTR")->get_Filter()), "0");
}

TEST_F(ScanFixture, ComponentsWithNothingPendingAreNotHandedToTheEvaluator) {
    // Opened one by one: a component each.
    auto first = Rows(service_->OpenFeature(102, 2001), "VALVE_ATTR");
    auto second = Rows(service_->OpenFeature(102, 2002), "VALVE_ATTR");
    struct Case {
        const char* what;
        std::function<void()> act;
        int fieldsGiven;
    };
    const Case cases[] = {
        {"both as read", [] {}, 0},
        {"one changed", [&] { Set(first, "SIZE_MM", rt::Variant(int32_t{300})); }, 1},
        {"both changed", [&] { Set(second, "SIZE_MM", rt::Variant(int32_t{250})); }, 2},
    };
    for (const Case& c : cases) {
        c.act();
        auto evaluator = Gates();
        auto synced = Synced(evaluator);
        EXPECT_EQ(evaluator->fieldsGiven, c.fieldsGiven) << c.what;
        EXPECT_EQ(ValuesOf(synced, "QTX_FID"), (std::vector<std::string>{"2001"})) << c.what;
    }
}

TEST_F(ScanFixture, TheEditableCopyDescribesEveryFieldAsTheQueryDoes) {
    service_->put_Caching(false);
    rt::Variant parameters = rt::Variant::ArrayOf({rt::Variant("GATE")});
    auto query = Context()->OpenParameterizedRecordset(kGateValves, ado::adOpenKeyset, ado::adLockBatchOptimistic,
                                                       ado::adCmdText, parameters);
    auto copy = Synced(Gates());
    ASSERT_EQ(copy->FieldCount(), query->FieldCount());
    for (int32_t i = 0; i < query->FieldCount(); ++i) {
        const ado::FieldDesc& from = query->DescAt(i);
        const ado::FieldDesc& to = copy->DescAt(i);
        SCOPED_TRACE(from.name);
        EXPECT_EQ(to.name, from.name);
        EXPECT_EQ(to.type, from.type);
        EXPECT_EQ(to.definedSize, from.definedSize);
        EXPECT_EQ(to.attributes, from.attributes);
        EXPECT_EQ(to.precision, from.precision);
        EXPECT_EQ(to.numericScale, from.numericScale);
    }
}
