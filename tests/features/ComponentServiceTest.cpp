// The component service as a cursor over the occurrences of a component of
// an opened feature: selecting components, positioning by CID, the CID list,
// values and geometry of the current occurrence, adding and deleting
// occurrences, and the messages of its failures.
#include "FeatureAssemblyTestSupport.h"

#include "ado/Enums.h"
#include "pelmora/features/ComponentService.h"
#include "support/Raises.h"

using componenttest::Message;
using componenttest::Values;
using featuretest::FeatureAssemblyFixture;
using pelmora::ComponentService;
using pelmora::LoadResStringWithParam;
using pelmora::LoadResStringWithParams;
using pelmora_test::Raised;

namespace {

constexpr int32_t kErrorBase = static_cast<int32_t>(0x80040000);

class ComponentServiceFixture : public FeatureAssemblyFixture {
protected:
    void SetUp() override {
        FeatureAssemblyFixture::SetUp();
        hydrant_ = service_->OpenFeature(103, 3001);
        svc_ = std::make_shared<ComponentService>();
        svc_->putref_Components(hydrant_->get_Components());
    }

    std::shared_ptr<ado::Recordset> Rows(const std::string& name) {
        return hydrant_->get_Components()->get_Item(rt::Variant(name))->get_Recordset();
    }

    // The error of a member: 0x80040000 from "ComponentService", the
    // member's message, a line break and the inner description.
    static void ExpectWrapped(const rt::ComError& e, const std::string& outer, const std::string& inner) {
        EXPECT_EQ(e.Number(), kErrorBase);
        EXPECT_EQ(e.Source(), "ComponentService");
        EXPECT_EQ(e.Description(), outer + "\r\n" + inner);
    }

    std::shared_ptr<pelmora::IKeyObject> hydrant_;
    std::shared_ptr<ComponentService> svc_;
};

std::vector<int32_t> Integers(const rt::Variant& list) {
    std::vector<int32_t> out;
    EXPECT_EQ(list.Type(), rt::vbArray | rt::vbInteger);
    EXPECT_EQ(rt::LBound(list), 0);
    for (const auto& v : list.Array()->Data()) out.push_back(v.I2());
    return out;
}

}  // namespace

TEST_F(ComponentServiceFixture, EveryMemberNeedsAComponentName) {
    auto fresh = std::make_shared<ComponentService>();
    EXPECT_EQ(fresh->get_ComponentName(), "");
    EXPECT_EQ(fresh->get_Components(), nullptr);
    struct Case {
        std::function<void()> call;
        int32_t outer, inner;
    };
    const Case cases[] = {
        {[&] { fresh->get_ComponentID(); }, 23556, 23555},
        {[&] { fresh->put_ComponentID(1); }, 23554, 23551},
        {[&] { fresh->get_CIDList(); }, 23550, 23549},
        {[&] { fresh->get_Geometry(); }, 23563, 23561},
        {[&] { fresh->putref_Geometry(nullptr); }, 23560, 23558},
        {[&] { fresh->NewOccurrence(); }, 23565, 23564},
        {[&] { fresh->DeleteOccurrence(); }, 23574, 23572},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.outer);
        ExpectWrapped(Raised(c.call), LoadResStringWithParam(static_cast<int16_t>(c.outer), ""), Message(c.inner));
    }
    ExpectWrapped(Raised([&] { fresh->get_Value("RESULT"); }), LoadResStringWithParams(23571, "RESULT", ""),
                  Message(23569));
    ExpectWrapped(Raised([&] { fresh->put_Value("RESULT", rt::Variant("x")); }),
                  LoadResStringWithParams(23568, "RESULT", ""), Message(23566));

    // A name, but no collection to serve: the name is kept, the CID is not moved.
    auto e = Raised([&] { fresh->put_ComponentName("HYDRANT_ATTR"); });
    EXPECT_EQ(e.Number(), kErrorBase);
    EXPECT_EQ(e.Description().rfind(LoadResStringWithParam(23557, "HYDRANT_ATTR") + "\r\n", 0), 0u);
    EXPECT_EQ(fresh->get_ComponentName(), "HYDRANT_ATTR");
    EXPECT_EQ(fresh->get_ComponentID(), 0);
}

TEST_F(ComponentServiceFixture, ComponentNameSelectsTheCurrentOccurrence) {
    svc_->put_ComponentName("HYDRANT_INSPECTION");
    EXPECT_EQ(svc_->get_ComponentID(), 1);
    EXPECT_EQ(svc_->get_Value("INSPECTOR").Str(), "A. Novak");

    // The component's current row decides, not its first.
    auto rs = Rows("HYDRANT_INSPECTION");
    rs->MoveLast();
    svc_->put_ComponentName("hydrant_inspection");
    EXPECT_EQ(svc_->get_ComponentID(), 3);
    // At EOF it falls back to the first row.
    rs->MoveLast();
    rs->MoveNext();
    svc_->put_ComponentName("HYDRANT_INSPECTION");
    EXPECT_EQ(svc_->get_ComponentID(), 1);

    // A name the collection does not hold: refused, the name kept, the CID not moved.
    auto e = Raised([&] { svc_->put_ComponentName("VALVE_ATTR"); });
    EXPECT_EQ(e.Number(), kErrorBase);
    EXPECT_EQ(svc_->get_ComponentName(), "VALVE_ATTR");
    EXPECT_EQ(svc_->get_ComponentID(), 1);
}

TEST_F(ComponentServiceFixture, ComponentIDPositionsOnTheOccurrence) {
    svc_->put_ComponentName("HYDRANT_INSPECTION");
    svc_->put_ComponentID(3);
    EXPECT_EQ(svc_->get_ComponentID(), 3);
    EXPECT_EQ(svc_->get_Value("INSPECTOR").Str(), "Zoë Brandt");
    EXPECT_EQ(Rows("HYDRANT_INSPECTION")->GetValue(rt::Variant("RESULT")).Str(), "FAIL");

    auto e = Raised([&] { svc_->put_ComponentID(2); });
    ExpectWrapped(e, LoadResStringWithParam(23554, "HYDRANT_INSPECTION"),
                  LoadResStringWithParams(23552, "2", "HYDRANT_INSPECTION"));
    EXPECT_EQ(svc_->get_ComponentID(), 0);
    ExpectWrapped(Raised([&] { svc_->get_Value("RESULT"); }),
                  LoadResStringWithParams(23571, "RESULT", "HYDRANT_INSPECTION"), Message(23570));
    ExpectWrapped(Raised([&] { svc_->get_Geometry(); }), LoadResStringWithParam(23563, "HYDRANT_INSPECTION"),
                  Message(23562));

    // No rows at all: its own message, and again no occurrence.
    auto empty = std::make_shared<ComponentService>();
    empty->putref_Components(service_->OpenFeature(103, 3002)->get_Components());
    empty->put_ComponentName("HYDRANT_INSPECTION");
    EXPECT_EQ(empty->get_ComponentID(), 0);
    EXPECT_TRUE(empty->get_CIDList().IsNull());
    ExpectWrapped(Raised([&] { empty->put_ComponentID(1); }), LoadResStringWithParam(23554, "HYDRANT_INSPECTION"),
                  LoadResStringWithParams(23553, "1", "HYDRANT_INSPECTION"));
}

TEST_F(ComponentServiceFixture, CIDListKeepsTheRowItStoodOn) {
    svc_->put_ComponentName("HYDRANT_INSPECTION");
    svc_->put_ComponentID(3);
    auto rs = Rows("HYDRANT_INSPECTION");
    EXPECT_EQ(Integers(svc_->get_CIDList()), (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(rt::CLng(rs->GetValue(rt::Variant("QTX_CID"))), 3);

    // In recordset order, under the component's filter.
    rs->MoveFirst();
    rs->get_Fields()->Item("QTX_CID")->put_Value(rt::Variant(int16_t{7}));
    EXPECT_EQ(Integers(svc_->get_CIDList()), (std::vector<int32_t>{7, 3}));
    hydrant_->get_Components()->get_Item(rt::Variant("HYDRANT_INSPECTION"))->put_Filter("QTX_CID = 3");
    EXPECT_EQ(Integers(svc_->get_CIDList()), (std::vector<int32_t>{3}));

    // A Null CID cannot be listed; the row stays current.
    hydrant_->get_Components()->get_Item(rt::Variant("HYDRANT_INSPECTION"))->put_Filter("");
    rs->MoveFirst();
    rs->get_Fields()->Item("QTX_CID")->put_Value(rt::Variant::Null());
    rs->MoveLast();
    auto e = Raised([&] { svc_->get_CIDList(); });
    EXPECT_EQ(e.Number(), kErrorBase);
    EXPECT_EQ(e.Description().rfind(LoadResStringWithParam(23550, "HYDRANT_INSPECTION") + "\r\n", 0), 0u);
    EXPECT_EQ(rt::CLng(rs->GetValue(rt::Variant("QTX_CID"))), 3);
}

TEST_F(ComponentServiceFixture, ValuesAreReadAndWrittenOnTheCurrentRow) {
    svc_->put_ComponentName("HYDRANT_ATTR");
    EXPECT_EQ(svc_->get_Value("COLOR_CODE").Str(), "RED");
    svc_->put_Value("COLOR_CODE", rt::Variant("GREEN"));
    auto rs = Rows("HYDRANT_ATTR");
    EXPECT_EQ(rs->GetValue(rt::Variant("COLOR_CODE")).Str(), "GREEN");
    EXPECT_EQ(rs->get_EditMode(), ado::adEditInProgress);
    rs->Update();
    EXPECT_EQ(rs->get_Status() & ado::adRecModified, ado::adRecModified);

    // The caller moving the recordset moves the service with it.
    svc_->put_ComponentName("HYDRANT_INSPECTION");
    Rows("HYDRANT_INSPECTION")->MoveLast();
    EXPECT_EQ(svc_->get_Value("RESULT").Str(), "FAIL");

    ExpectWrapped(Raised([&] { svc_->get_Value("NO_SUCH_FIELD"); }),
                  LoadResStringWithParams(23571, "NO_SUCH_FIELD", "HYDRANT_INSPECTION"),
                  Raised([&] { Rows("HYDRANT_INSPECTION")->get_Fields()->Item("NO_SUCH_FIELD"); }).Description());
    auto e = Raised([&] { svc_->put_Value("STATIC_PRESSURE", rt::Variant("not a number")); });
    EXPECT_EQ(e.Number(), kErrorBase);
    EXPECT_EQ(e.Description().rfind(LoadResStringWithParams(23568, "STATIC_PRESSURE", "HYDRANT_INSPECTION"), 0), 0u);
    EXPECT_DOUBLE_EQ(rt::CDbl(svc_->get_Value("STATIC_PRESSURE")), 2.15);
}

TEST_F(ComponentServiceFixture, GeometryOfTheCurrentOccurrence) {
    svc_->put_ComponentName("HYDRANT_SYMBOL");
    auto g = svc_->get_Geometry();
    ASSERT_TRUE(g);
    EXPECT_EQ(rt::CStr(rt::CallByName(g, "Type", rt::InvokeKind::PropertyGet)), "PointGeometry");
    // Written back through the component for its current row.
    svc_->putref_Geometry(g);
    auto component = rt::QueryInterface<pelmora::Component>(
        hydrant_->get_Components()->get_Item(rt::Variant("HYDRANT_SYMBOL")));
    auto geometry = component->get_GeometryRecordset();
    ASSERT_TRUE(geometry);
    geometry->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
    EXPECT_GT(geometry->get_RecordCount(), 0);

    // An attribute component has no geometry: the component's error, wrapped.
    svc_->put_ComponentName("HYDRANT_ATTR");
    auto e = Raised([&] { svc_->get_Geometry(); });
    EXPECT_EQ(e.Number(), kErrorBase);
    EXPECT_EQ(e.Description().rfind(LoadResStringWithParam(23563, "HYDRANT_ATTR") + "\r\n", 0), 0u);
}

TEST_F(ComponentServiceFixture, NewOccurrenceTakesTheNextCID) {
    svc_->put_ComponentName("HYDRANT_INSPECTION");
    auto rs = Rows("HYDRANT_INSPECTION");
    // CIDs 5 and 2, in that order: the next is 6.
    rs->MoveFirst();
    rs->get_Fields()->Item("QTX_CID")->put_Value(rt::Variant(int16_t{5}));
    rs->MoveNext();
    rs->get_Fields()->Item("QTX_CID")->put_Value(rt::Variant(int16_t{2}));
    svc_->NewOccurrence();
    EXPECT_EQ(svc_->get_ComponentID(), 6);
    EXPECT_EQ(rs->get_RecordCount(), 3);
    EXPECT_EQ(rs->get_EditMode(), ado::adEditAdd);

    // An empty component starts at 1.
    auto empty = std::make_shared<ComponentService>();
    auto other = service_->OpenFeature(103, 3002);
    empty->putref_Components(other->get_Components());
    empty->put_ComponentName("HYDRANT_INSPECTION");
    empty->NewOccurrence();
    EXPECT_EQ(empty->get_ComponentID(), 1);
    EXPECT_EQ(other->get_Components()->get_Item(rt::Variant("HYDRANT_INSPECTION"))->get_Recordset()->get_RecordCount(),
              1);
}

TEST_F(ComponentServiceFixture, NewOccurrenceKeepsASimpleFeatureFilter) {
    auto other = service_->OpenFeature(103, 3002);
    auto component = other->get_Components()->get_Item(rt::Variant("HYDRANT_INSPECTION"));
    auto svc = std::make_shared<ComponentService>();
    svc->putref_Components(other->get_Components());

    struct Case {
        std::string filter;
        std::string fid;
    };
    const Case cases[] = {
        {"QTX_FID = 3002", "3002"},
        {"QTX_FID=3002", "3002"},
        {"QTX_FID = 3002 AND QTX_CNO = 33", "Null"},  // compound: nothing preset
        {"", "Null"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter);
        component->put_Filter(c.filter);
        svc->put_ComponentName("HYDRANT_INSPECTION");
        svc->NewOccurrence();
        EXPECT_EQ(svc->get_ComponentID(), 1);
        auto rs = component->get_Recordset();
        rt::Variant fid = rs->GetValue(rt::Variant("QTX_FID"));
        EXPECT_EQ(fid.IsNull() ? "Null" : rt::CStr(fid), c.fid);
        if (rs->get_EditMode() != ado::adEditNone) rs->Update();
        component->put_Filter("");
        EXPECT_EQ(rs->get_RecordCount(), 1);
        rs->CancelBatch();
        EXPECT_EQ(rs->get_RecordCount(), 0);
    }
}

TEST_F(ComponentServiceFixture, DeleteOccurrenceLeavesNoCurrentOccurrence) {
    svc_->put_ComponentName("HYDRANT_INSPECTION");
    svc_->put_ComponentID(1);
    svc_->DeleteOccurrence();
    EXPECT_EQ(svc_->get_ComponentID(), 0);
    auto rs = Rows("HYDRANT_INSPECTION");
    rs->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
    ASSERT_EQ(rs->get_RecordCount(), 1);
    rs->MoveFirst();
    EXPECT_EQ(rs->get_Status() & ado::adRecDeleted, ado::adRecDeleted);
    EXPECT_EQ(rt::CLng(rs->get_Fields()->Item("QTX_CID")->get_OriginalValue()), 1);
    rs->put_Filter(rt::Variant(int32_t{0}));

    ExpectWrapped(Raised([&] { svc_->DeleteOccurrence(); }), LoadResStringWithParam(23574, "HYDRANT_INSPECTION"),
                  Message(23573));
    EXPECT_EQ(Integers(svc_->get_CIDList()), (std::vector<int32_t>{3}));
}

TEST_F(ComponentServiceFixture, CreatableAndLateBound) {
    auto late = rt::CreateObject(pelmora::kComponentServiceProgId);
    rt::QueryInterface<pelmora::IComponentServiceInternal>(late)->putref_Components(hydrant_->get_Components());
    rt::CallByName(late, "ComponentName", rt::InvokeKind::PropertyLet, {rt::Variant("HYDRANT_INSPECTION")});
    rt::CallByName(late, "ComponentID", rt::InvokeKind::PropertyLet, {rt::Variant(int16_t{3})});
    EXPECT_EQ(rt::CStr(rt::CallByName(late, "Value", rt::InvokeKind::PropertyGet, {rt::Variant("RESULT")})), "FAIL");
    rt::CallByName(late, "Value", rt::InvokeKind::PropertyLet, {rt::Variant("RESULT"), rt::Variant("PASS")});
    EXPECT_EQ(Values(Rows("HYDRANT_INSPECTION"), "RESULT"), (std::vector<std::string>{"PASS", "PASS"}));
}
