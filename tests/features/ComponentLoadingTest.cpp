// A component on the sample network: identity from metadata, FIDs, loading
// its rows in the three data modes, the geometry rows, adopting rows and
// dropping them.
#include "ComponentTestSupport.h"
#include "support/Raises.h"

using componenttest::ComponentFixture;
using componenttest::FIDsOf;
using componenttest::Message;
using componenttest::Values;
using pelmora::Component;
using pelmora_test::ErrorOf;
using pelmora_test::Raised;

namespace {
constexpr int32_t kError1 = static_cast<int32_t>(0x80040001);
constexpr int32_t kErrorBase = static_cast<int32_t>(0x80040000);
}  // namespace

TEST_F(ComponentFixture, IdentityComesFromTheComponentMetadata) {
    auto c = NewComponent(12, {});
    EXPECT_EQ(c->get_CNO(), 12);
    EXPECT_EQ(c->get_Name(), "WATER_MAIN_LINE");
    EXPECT_EQ(c->get_TableName(), "WATER_MAIN_LN");
    EXPECT_TRUE(c->HasGeometry());
    EXPECT_FALSE(NewComponent(11, {})->HasGeometry());

    // No data context: refused, and the number stays unset.
    auto bare = std::make_shared<Component>();
    auto e = Raised([&] { bare->put_CNO(11); });
    EXPECT_EQ(e.Number(), kError1);
    EXPECT_EQ(e.Source(), Message(23701));
    EXPECT_EQ(e.Description(), Message(23703));
    EXPECT_EQ(bare->get_CNO(), 0);

    // An unknown number is kept, so a second attempt is refused as a second set.
    auto unknown = std::make_shared<Component>();
    unknown->putref_DataContext(Context());
    e = Raised([&] { unknown->put_CNO(999); });
    EXPECT_EQ(e.Description(), pelmora::LoadResStringWithParam(23705, "999"));
    EXPECT_EQ(Raised([&] { unknown->put_CNO(11); }).Description(), Message(23704));
    EXPECT_EQ(Raised([&] { c->put_CNO(11); }).Description(), Message(23704));
}

TEST_F(ComponentFixture, AddFIDTakesLongsAndLongArraysOnly) {
    auto c = NewComponent(11, {6});
    auto longs = componenttest::LongArray;
    c->AddFID(longs({5, 6}));  // holds 6 already: nothing is added
    EXPECT_EQ(FIDsOf(*c), (std::vector<int32_t>{6}));
    c->AddFID(longs({7, 8}));
    c->AddFID(rt::Variant(int32_t{7}));
    EXPECT_EQ(FIDsOf(*c), (std::vector<int32_t>{6, 7, 8}));
    c->AddFID(longs({9, 9}));  // repeats inside one array are taken as given
    EXPECT_EQ(c->get_FIDCount(), 5);

    for (const rt::Variant& wrong : {rt::Variant(int16_t{3}), rt::Variant("3"), rt::Variant::ArrayOf({rt::Variant(int32_t{3})})}) {
        auto e = Raised([&] { c->AddFID(wrong); });
        EXPECT_EQ(e.Number(), kError1);
        EXPECT_EQ(e.Description(), Message(23702));
    }
    EXPECT_EQ(c->get_FIDCount(), 5);

    // The FIDs handed out are a copy.
    rt::Variant copy = c->get_FIDs();
    copy.ArrayMut()->Set(0, rt::Variant(int32_t{42}));
    EXPECT_EQ(FIDsOf(*c)[0], 6);
}

TEST_F(ComponentFixture, OneFeatureLoadsThroughTwoParameters) {
    auto c = NewComponent(11, {1001});
    EXPECT_FALSE(c->get_RecordsetLocal());
    auto rs = c->get_Recordset();
    ASSERT_EQ(dc_->opens.size(), 1u);
    EXPECT_EQ(dc_->opens[0].sql, "SELECT * FROM WATER_MAIN_N WHERE QTX_FID = ? and QTX_CNO = ?");
    ASSERT_EQ(dc_->opens[0].values.size(), 2u);
    EXPECT_EQ(dc_->opens[0].values[0].Type(), rt::vbLong);
    EXPECT_EQ(dc_->opens[0].values[1].Type(), rt::vbInteger);
    EXPECT_EQ(Values(rs, "MATERIAL"), (std::vector<std::string>{"DI"}));
    EXPECT_FALSE(rs->get_ActiveConnection());  // disconnected
    EXPECT_TRUE(c->get_RecordsetLocal());
    EXPECT_EQ(c->get_Recordset(), rs);  // loaded once
    EXPECT_EQ(dc_->opens.size(), 1u);
    EXPECT_EQ(c->EventRecordset(), rs);
}

TEST_F(ComponentFixture, SeveralFeaturesLoadThroughTheInForm) {
    auto c = NewComponent(11, {1003, 1001, 1002});
    auto rs = c->get_Recordset();
    ASSERT_EQ(dc_->opens.size(), 1u);
    EXPECT_EQ(dc_->opens[0].sql, "SELECT * FROM WATER_MAIN_N WHERE QTX_FID IN (?, ?, ?) AND QTX_CNO = ?");
    ASSERT_EQ(dc_->opens[0].values.size(), 4u);
    EXPECT_EQ(rt::CLng(dc_->opens[0].values[0]), 1003);
    EXPECT_EQ(rt::CLng(dc_->opens[0].values[2]), 1002);
    EXPECT_EQ(rt::CInt(dc_->opens[0].values[3]), 11);
    EXPECT_EQ(rs->get_RecordCount(), 3);
}

TEST_F(ComponentFixture, RowsComeThroughTheRowsFaceInDataModeOne) {
    dc_->dataMode = 1;
    auto c = NewComponent(14, {1001, 1002});
    auto rs = c->get_Recordset();
    EXPECT_TRUE(dc_->opens.empty());
    EXPECT_EQ(dc_->componentRowFetches, 1);
    EXPECT_EQ(rt::TypeName(dc_->lastRowsFIDs), "Long()");
    EXPECT_EQ(Values(rs, "QTX_CID"), (std::vector<std::string>{"1", "3"}));

    // Geometry rows of a component without FIDs are asked for with "-999".
    auto line = NewComponent(12, {});
    auto geometry = line->OpenGeometryRecordset(1);
    EXPECT_EQ(dc_->geometryRowFetches, 1);
    EXPECT_EQ(rt::TypeName(dc_->lastRowsFIDs), "String");
    EXPECT_TRUE(geometry->get_BOF() && geometry->get_EOF());
}

TEST_F(ComponentFixture, LoadingFailsClearlyAndCanBeRetried) {
    auto noCno = std::make_shared<Component>();
    noCno->putref_DataContext(Context());
    noCno->AddFID(rt::Variant(int32_t{1001}));
    auto e = Raised([&] { noCno->get_Recordset(); });
    // Raised again on the way out: the number becomes the base number.
    EXPECT_EQ(e.Number(), kErrorBase);
    EXPECT_EQ(e.Source(), Message(23701));
    EXPECT_EQ(e.Description(), Message(23709));

    auto noContext = NewComponent(11, {1001});
    noContext->putref_DataContext(nullptr);
    EXPECT_EQ(Raised([&] { noContext->get_Recordset(); }).Description(), Message(23710));

    auto noFids = NewComponent(11, {});
    EXPECT_EQ(Raised([&] { noFids->get_Recordset(); }).Description(), Message(23711));
    EXPECT_FALSE(noFids->get_RecordsetLocal());
    noFids->AddFID(rt::Variant(int32_t{1002}));
    EXPECT_EQ(Values(noFids->get_Recordset(), "MATERIAL"), (std::vector<std::string>{"PVC"}));

    // A database failure keeps its description.
    sqlite_->ExecuteScript("DROP TABLE WATER_LINING_N");
    auto gone = NewComponent(14, {1001});
    e = Raised([&] { gone->get_Recordset(); });
    EXPECT_NE(e.Number(), 0);
    EXPECT_EQ(e.Source(), Message(23701));
    EXPECT_NE(e.Description().find("WATER_LINING_N"), std::string::npos) << e.Description();
    EXPECT_FALSE(gone->get_RecordsetLocal());
}

TEST_F(ComponentFixture, FilterWaitsForTheRowsAndComesBackAfterAReset) {
    auto c = NewComponent(11, {1001, 1002, 1003});
    c->put_Filter("MATERIAL = 'PVC'");
    EXPECT_EQ(c->get_Filter(), "MATERIAL = 'PVC'");
    EXPECT_FALSE(c->get_RecordsetLocal());
    auto rs = c->get_Recordset();
    EXPECT_EQ(Values(rs, "QTX_FID"), (std::vector<std::string>{"1002"}));
    EXPECT_EQ(c->get_Filter(), "MATERIAL = 'PVC'");

    // After loading the filter goes straight to the rows.
    c->put_Filter("MATERIAL = 'PE'");
    EXPECT_EQ(Values(rs, "QTX_FID"), (std::vector<std::string>{"1003"}));

    // An unsaved edit is gone after a reset; the first pending filter applies again.
    c->put_Filter("");
    rs->MoveFirst();
    rs->SetValue(rt::Variant("MATERIAL"), rt::Variant("STEEL"));
    c->ResetRecordsets();
    EXPECT_FALSE(c->get_RecordsetLocal());
    EXPECT_FALSE(c->EventRecordset());
    auto again = c->get_Recordset();
    EXPECT_NE(again, rs);
    EXPECT_EQ(dc_->opens.size(), 2u);
    EXPECT_EQ(Values(again, "QTX_FID"), (std::vector<std::string>{"1002"}));
    again->put_Filter(rt::Variant(int32_t{0}));
    EXPECT_EQ(Values(again, "MATERIAL"), (std::vector<std::string>{"DI", "PVC", "PE"}));
}

TEST_F(ComponentFixture, GeometryRowsAreReadOnceAndFilteredPerGeometry) {
    auto c = NewComponent(12, {1001, 1002});
    auto first = c->OpenGeometryRecordset(1);
    ASSERT_EQ(dc_->opens.size(), 1u);
    EXPECT_EQ(dc_->opens[0].sql,
              "SELECT * FROM WATER_MAIN_LN_SDOGEOM WHERE QTX_FID IN (?, ?) ORDER BY SDO_GID, SDO_ESEQ, SDO_SEQ");
    EXPECT_EQ(Values(first, "SDO_SEQ"), (std::vector<std::string>{"0", "1"}));
    auto second = c->OpenGeometryRecordset(2);
    EXPECT_EQ(second, first);
    EXPECT_EQ(dc_->opens.size(), 1u);
    EXPECT_EQ(Values(second, "SDO_GID"), (std::vector<std::string>{"2"}));
    // Handed out for saving with the filter cleared.
    EXPECT_EQ(c->get_GeometryRecordset()->get_RecordCount(), 3);

    auto one = NewComponent(12, {1003});
    one->OpenGeometryRecordset(3);
    EXPECT_EQ(dc_->opens.back().sql,
              "SELECT * FROM WATER_MAIN_LN_SDOGEOM WHERE QTX_FID = ? ORDER BY SDO_GID, SDO_ESEQ, SDO_SEQ");

    auto none = NewComponent(12, {});
    auto empty = none->OpenGeometryRecordset(1);
    EXPECT_EQ(dc_->opens.back().values[0].Type(), rt::vbInteger);
    EXPECT_EQ(rt::CLng(dc_->opens.back().values[0]), -999);
    EXPECT_TRUE(empty->get_BOF() && empty->get_EOF());

    auto attributes = NewComponent(11, {1001});
    EXPECT_EQ(Raised([&] { attributes->OpenGeometryRecordset(1); }).Description(), Message(23708));
}

TEST_F(ComponentFixture, AttachRecordsetAdoptsRowsAndTheirFeatures) {
    auto source = NewComponent(14, {1001});
    auto rs = source->get_Recordset()->Clone();
    // Rows of FIDs 7, 7 and 8, and a new row without a feature yet.
    rs->MoveFirst();
    rs->SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{7}));
    rs->MoveNext();
    rs->SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{7}));
    rs->AddNew();
    rs->SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{8}));
    rs->AddNew();
    rs->Update();

    auto c = std::make_shared<Component>();
    c->putref_DataContext(Context());
    c->put_CNO(14);
    c->AttachRecordset(rs);
    EXPECT_EQ(FIDsOf(*c), (std::vector<int32_t>{7, 8}));
    EXPECT_TRUE(rs->get_EOF());
    EXPECT_EQ(c->get_Recordset(), rs);
    EXPECT_EQ(c->EventRecordset(), rs);
    EXPECT_TRUE(dc_->opens.size() == 1u);  // only the source loaded

    auto e = Raised([&] { c->AttachRecordset(rs); });
    EXPECT_EQ(e.Number(), kError1);
    EXPECT_EQ(e.Description(), Message(23707));

    // Without events the rows are not hooked.
    auto quiet = std::make_shared<Component>();
    quiet->put_EventsEnabled(false);
    quiet->putref_DataContext(Context());
    quiet->put_CNO(14);
    quiet->AttachRecordset(source->get_Recordset()->Clone());
    EXPECT_FALSE(quiet->EventRecordset());
    EXPECT_TRUE(quiet->get_RecordsetLocal());
}

TEST_F(ComponentFixture, MaxCIDSkipsMissingValues) {
    auto lining = NewComponent(14, {1001});
    EXPECT_EQ(Component::GetMaxCID(lining->get_Recordset()->Clone()), 3);

    auto rs = lining->get_Recordset()->Clone();
    for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) rs->SetValue(rt::Variant("QTX_CID"), rt::Variant::Null());
    EXPECT_EQ(Component::GetMaxCID(rs), 0);
    rs->put_Filter(rt::Variant("QTX_FID = 5"));
    EXPECT_EQ(Component::GetMaxCID(rs), 0);
}

TEST_F(ComponentFixture, AComponentIsReleasedWithItsHookAndLeavesSharedDescriptorsAlone) {
    auto fieldInfos = rt::Collection::New();
    auto info = pelmora::FieldInfo::New();
    info->put_Name("MATERIAL");
    fieldInfos->Add(rt::Variant(std::static_pointer_cast<rt::Object>(info)), rt::Variant("MATERIAL"));

    std::shared_ptr<ado::Recordset> rows;
    std::weak_ptr<Component> gone;
    auto other = NewComponent(11, {1001});
    other->putref_FieldInfoCollection(fieldInfos);
    {
        auto c = NewComponent(11, {1001});
        c->putref_FieldInfoCollection(fieldInfos);
        rows = c->get_Recordset();
        gone = c;
    }
    EXPECT_TRUE(gone.expired());
    EXPECT_EQ(other->get_FieldInfoCollection()->Count(), 1);
    // The rows outlive the component; their events reach nobody.
    rows->MoveFirst();
    rows->SetValue(rt::Variant("MATERIAL"), rt::Variant("CI"));
    EXPECT_EQ(rt::CStr(rows->GetValue(rt::Variant("MATERIAL"))), "CI");
}

TEST_F(ComponentFixture, LateBoundCallersSeeTheComponentFace) {
    auto c = NewComponent(11, {1001});
    rt::ObjectPtr obj = c;
    EXPECT_EQ(rt::CStr(rt::CallByName(obj, "Name", rt::InvokeKind::PropertyGet)), "WATER_MAIN_ATTR");
    rt::CallByName(obj, "Filter", rt::InvokeKind::PropertyLet, {rt::Variant("ZONE_ID = 3")});
    EXPECT_EQ(c->get_Filter(), "ZONE_ID = 3");
    // The members kept inside the system are not reachable by name.
    EXPECT_EQ(ErrorOf([&] { rt::CallByName(obj, "ResetRecordsets", rt::InvokeKind::Method); }), 438);
    EXPECT_TRUE(rt::TryQueryInterface<pelmora::QzComponent>(obj));
}
