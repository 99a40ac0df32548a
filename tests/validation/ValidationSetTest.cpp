// The validation set on sample features: the features it opens and counts,
// the bookmark index of its relationship rows, the related-feature lookup
// (and what it leaves the set as), and the geometries of a feature.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/features/ComponentClone.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "interfaces/Components.h"
#include "interfaces/Geometry.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "ValidationSetTestSupport.h"
#include "product/GeometryTestSupport.h"

using namespace pelmora;
using rt::Variant;
using validationtest::MakeValidationSet;
using validationtest::SetRow;
using validationtest::ValidationSetFixture;

namespace {

std::vector<std::string> KeysOf(const std::shared_ptr<IKeyObjects>& features) {
    std::vector<std::string> out;
    for (const auto& k : features->get_NewEnum()) out.push_back(BuildKey(k));
    return out;
}

std::string Key(int16_t fno, int32_t fid) { return BuildKey(fno, fid, 0, 0); }

// Mains 1001-1003 pending; valves and hydrants related to them through
// relationships 3 and 4.
const std::vector<SetRow> kSet = {
    {101, 1001, 1, 0, 0, 0},       {101, 1002, 1, 0, 0, 0},       {101, 1001, 1, 0, 0, 0},
    {0, 1003, 1, 0, 0, 0},         {102, 2001, 0, 1001, 101, 3},  {103, 3001, 0, 1002, 101, 3},
    {102, 2002, 0, 1001, 101, 3},  {103, 3002, 0, 1001, 101, 4},  {102, 2001, 0, 1001, 101, 3},
    {103, 3001, std::nullopt, 1001, 101, 3},
};

class ValidationSetTest : public ValidationSetFixture {};

TEST_F(ValidationSetTest, OpensTheDistinctFeaturesCountsThePendingOnesAndIndexesTheRelationshipRows) {
    auto set = MakeValidationSet(kSet);
    std::vector<Variant> bookmarks;
    for (set->MoveFirst(); !set->get_EOF(); set->MoveNext()) bookmarks.push_back(set->get_Bookmark());

    auto [features, components, count] = Open(set);
    EXPECT_EQ(KeysOf(features), (std::vector<std::string>{Key(101, 1001), Key(101, 1002), Key(102, 2001),
                                                          Key(103, 3001), Key(102, 2002), Key(103, 3002)}));
    // The repeated main and the one without feature number are no pending features.
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(set->get_EOF());
    EXPECT_EQ(rt::CLng(set->get_Filter()), 0);

    // Opened through one collection, each feature with its own components.
    ASSERT_NE(components, nullptr);
    auto main = FindKeyObject(features, 101, 1001);
    ASSERT_NE(main, nullptr);
    ASSERT_NE(main->get_Components(), nullptr);
    auto attributes = main->get_Components()->get_Item(Variant("WATER_MAIN_ATTR"))->get_Recordset();
    ASSERT_EQ(attributes->get_RecordCount(), 1);
    attributes->MoveFirst();
    EXPECT_EQ(rt::CLng(attributes->GetValue(Variant("QTX_FID"))), 1001);

    // Rows with PENDING 0 only, under their related feature id, in set order.
    auto index = ValidationSetIndex();
    ASSERT_NE(index, nullptr);
    ASSERT_EQ(index->Count(), 2);
    auto positions = [&](const char* key) {
        std::vector<size_t> out;
        Variant array = index->Item(Variant(key));
        for (int32_t i = rt::LBound(array); i <= rt::UBound(array); ++i)
            for (size_t row = 0; row < bookmarks.size(); ++row)
                if (rt::VariantEquals(array.Array()->Get(i), bookmarks[row])) out.push_back(row);
        return out;
    };
    EXPECT_EQ(positions("1001"), (std::vector<size_t>{4, 6, 7, 8}));
    EXPECT_EQ(positions("1002"), (std::vector<size_t>{5}));

    ReleaseValidationSetIndex();
    EXPECT_EQ(ValidationSetIndex(), nullptr);
}

TEST_F(ValidationSetTest, AnEmptySetReturnsAtOnceWithAnEmptyIndex) {
    auto set = MakeValidationSet({});
    auto untouched = std::shared_ptr<IComponents>();
    std::shared_ptr<IKeyObjects> features;
    int32_t count = 99;
    auto sentinel = FindKeyObject(nullptr, 1, 1);  // nullptr, and no error
    EXPECT_EQ(sentinel, nullptr);
    GetValidationKOCollection(set, features, untouched, Context(), count);
    EXPECT_EQ(count, 0);
    ASSERT_NE(features, nullptr);
    EXPECT_EQ(features->get_Count(), 0);
    EXPECT_EQ(untouched, nullptr);
    ASSERT_NE(ValidationSetIndex(), nullptr);
    EXPECT_EQ(ValidationSetIndex()->Count(), 0);
}

TEST_F(ValidationSetTest, MoreThan32767FeaturesStopBeforeOpeningAny) {
    std::vector<SetRow> rows;
    for (int32_t fid = 1; fid <= 32768; ++fid) rows.push_back({102, fid, 1, 0, 0, 0});
    auto set = MakeValidationSet(rows);
    std::shared_ptr<IKeyObjects> features;
    std::shared_ptr<IComponents> components;
    int32_t count = 0;
    rt::ComError e = pelmora_test::Raised([&] { GetValidationKOCollection(set, features, components, Context(), count); });
    EXPECT_EQ(e.Number(), kErrorBase + 1);
    EXPECT_EQ(e.Source(), kValidationSetSource);
    EXPECT_EQ(e.Description(), LoadResStringWithParam(27784, "32768") + "\r\n" +
                                   MessageObject()->GetMessageText(27785, 0) + "\r\n" +
                                   MessageObject()->GetMessageText(27786, 0));
    EXPECT_EQ(components, nullptr);

    // One fewer is opened.
    set->MoveLast();
    set->Delete();
    EXPECT_NO_THROW(GetValidationKOCollection(set, features, components, Context(), count));
    EXPECT_EQ(count, 32767);
    EXPECT_NE(components, nullptr);
}

TEST_F(ValidationSetTest, RelatedFeaturesAreThoseOfTheRelationshipRowsPointingAtTheCurrentRow) {
    auto set = MakeValidationSet(kSet);
    auto [features, components, count] = Open(set);
    // A relationship row whose feature is not in the collection is skipped.
    features->Remove(FindKeyObject(features, 102, 2002));

    struct Case {
        int row;  // 0-based position of the active row
        int16_t rno;
        std::vector<std::string> related;
    } cases[] = {
        {0, 3, {Key(102, 2001)}},  // 2002 left out; 2001 once; Null PENDING not indexed
        {0, 4, {Key(103, 3002)}},
        {1, 3, {Key(103, 3001)}},
        {1, 4, {}},
        {4, 3, {}},  // a valve: nothing points at it
    };
    for (const Case& c : cases) {
        set->MoveFirst();
        set->Move(c.row);
        Variant before = set->get_Bookmark();
        auto related = GetRelatedFeatures(set, features, c.rno);
        ASSERT_NE(related, nullptr);
        EXPECT_EQ(KeysOf(related), c.related) << c.row << "/" << c.rno;
        EXPECT_TRUE(rt::VariantEquals(set->get_Bookmark(), before)) << c.row;
    }
}

TEST_F(ValidationSetTest, ARelationshipRowWithoutARelatedFeatureRelatesNothing) {
    auto set = MakeValidationSet({{101, 1001, 1, 0, 0, 0}, {102, 2001, 0, 1001, 101, 3}, {102, 2002, 0, 0, 101, 3}});
    set->MoveLast();
    set->SetValue(Variant("QTX_RELATED_FID"), Variant::Null());  // a set built by hand
    set->Update();
    auto [features, components, count] = Open(set);
    ASSERT_NE(ValidationSetIndex(), nullptr);
    EXPECT_EQ(ValidationSetIndex()->Count(), 1);
    set->MoveFirst();
    EXPECT_EQ(KeysOf(GetRelatedFeatures(set, features, 3)), std::vector<std::string>{Key(102, 2001)});
}

TEST_F(ValidationSetTest, ALookupLeavesTheSetsFilterAndRowAsTheyWere) {
    for (bool withRNO : {true, false}) {  // without relationship numbers the lookup fails inside
        auto set = MakeValidationSet(kSet, withRNO);
        auto [features, components, count] = Open(set);
        set->put_Filter(Variant("PENDING = 1"));
        set->MoveNext();
        Variant before = set->get_Bookmark();
        int32_t error = pelmora_test::ErrorOf([&] { GetRelatedFeatures(set, features, 3); });
        EXPECT_EQ(error != 0, !withRNO);
        EXPECT_EQ(rt::CStr(set->get_Filter()), "PENDING = 1") << withRNO;
        EXPECT_TRUE(rt::VariantEquals(set->get_Bookmark(), before)) << withRNO;
    }
}

TEST_F(ValidationSetTest, TheIndexServesOnlyTheSetItWasBuiltFrom) {
    auto set = MakeValidationSet(kSet);
    auto [features, components, count] = Open(set);
    auto other = MakeValidationSet(kSet);
    other->MoveFirst();
    EXPECT_EQ(GetRelatedFeatures(other, features, 3)->get_Count(), 0);
    EXPECT_EQ(other->get_RecordCount(), static_cast<int32_t>(kSet.size()));

    set->MoveFirst();
    EXPECT_EQ(GetRelatedFeatures(set, features, 3)->get_Count(), 2);
    ReleaseValidationSetIndex();
    set->MoveFirst();
    EXPECT_EQ(GetRelatedFeatures(set, features, 3)->get_Count(), 0);
}

TEST_F(ValidationSetTest, ANewSetsLookupsReadItsOwnColumns) {
    auto first = MakeValidationSet(kSet);
    auto [features, components, count] = Open(first);
    first->MoveFirst();
    EXPECT_EQ(KeysOf(GetRelatedFeatures(first, features, 3)), (std::vector<std::string>{Key(102, 2001), Key(102, 2002)}));

    // The same rows with the columns the other way round.
    const char* names[] = {"QTX_RNO", "QTX_RELATED_FNO", "QTX_RELATED_FID", "PENDING", "QTX_FID", "QTX_FNO"};
    auto second = ado::Recordset::Create();
    for (const char* name : names) second->get_Fields()->Append(name, ado::adInteger);
    second->Open();
    first->MoveFirst();
    for (; !first->get_EOF(); first->MoveNext()) {
        second->AddNew();
        for (const char* name : names) second->SetValue(Variant(name), first->GetValue(Variant(name)));
        second->Update();
    }
    auto [secondFeatures, secondComponents, secondCount] = Open(second);
    for (auto [row, rno, related] : {std::tuple{0, 3, std::vector<std::string>{Key(102, 2001), Key(102, 2002)}},
                                     std::tuple{0, 4, std::vector<std::string>{Key(103, 3002)}},
                                     std::tuple{1, 3, std::vector<std::string>{Key(103, 3001)}}}) {
        second->MoveFirst();
        second->Move(row);
        EXPECT_EQ(KeysOf(GetRelatedFeatures(second, secondFeatures, static_cast<int16_t>(rno))), related)
            << row << "/" << rno;
    }
}

TEST_F(ValidationSetTest, FeatureGeometriesCollectEachGeometricComponentOnceInOrderOfFirstSight) {
    auto set = MakeValidationSet(kSet);
    auto [features, components, count] = Open(set);
    auto main = FindKeyObject(features, 101, 1001);
    auto metadata = Context()->GetMetadataService();
    auto filter = std::make_shared<MetadataRecordsetFilterService>();

    // Component numbers per feature number, as a rule table holds them.
    auto rules = ado::Recordset::Create();
    rules->get_Fields()->Append("QTX_FNO", ado::adInteger);
    rules->get_Fields()->Append("QTX_CNO", ado::adInteger);
    rules->Open();
    for (auto [fno, cno] : std::vector<std::pair<int32_t, int32_t>>{{101, 13}, {102, 22}, {101, 1}, {101, 12}, {101, 13}}) {
        rules->AddNew();
        rules->SetValue(Variant("QTX_FNO"), Variant(fno));
        rules->SetValue(Variant("QTX_CNO"), Variant(cno));
        rules->Update();
    }
    auto fnoField = rules->get_Fields()->Item(std::string("QTX_FNO"));
    auto cnoField = rules->get_Fields()->Item(std::string("QTX_CNO"));
    auto types = [](const std::shared_ptr<rt::Collection>& geometries) {
        std::vector<std::string> out;
        for (const auto& g : geometries->Enumerate()) out.push_back(rt::QueryInterface<IGeometry>(g.Obj())->get_Type());
        return out;
    };

    struct Case {
        int16_t cno;
        std::vector<int16_t> components;  // whose geometries, in order
        int16_t cnoAfter;
    } cases[] = {
        {0, {13, 12}, 13},
        {12, {12}, 12},
        {1, {}, 1},
    };
    for (const Case& c : cases) {
        int16_t cno = c.cno;
        auto geometries = GetFeatureGeometries(main, rules, metadata, filter, fnoField, cnoField, cno);
        std::vector<std::string> expected;
        for (int16_t k : c.components) {
            auto component = main->get_Components()->GetComponent(k);
            component->get_Recordset()->MoveFirst();
            expected.push_back(rt::QueryInterface<IGeometry>(component->get_Geometry())->get_Type());
        }
        EXPECT_EQ(types(geometries), expected) << c.cno;
        EXPECT_EQ(cno, c.cnoAfter) << c.cno;
        EXPECT_EQ(rules->get_RecordCount(), 4) << "left filtered to the feature number";
    }

    // A feature number without rows gives an empty collection; a component
    // number without metadata raises the lookup's error.
    int16_t cno = 0;
    auto hydrant = FindKeyObject(features, 103, 3001);
    EXPECT_EQ(GetFeatureGeometries(hydrant, rules, metadata, filter, fnoField, cnoField, cno)->Count(), 0);
    cno = 99;
    EXPECT_EQ(pelmora_test::ErrorOf([&] { GetFeatureGeometries(main, rules, metadata, filter, fnoField, cnoField, cno); }),
              kErrorBase + 3);
    auto geometries = rt::Collection::New();
    EXPECT_NE(pelmora_test::ErrorOf([&] { RecordsetToCollection(main, "VALVE_SYMBOL", geometries); }), 0);
}

TEST_F(ValidationSetTest, AMemoGivesAComponentsGeometriesAgainOnlyWhileItsRowsStand) {
    auto set = MakeValidationSet(kSet);
    auto [features, components, count] = Open(set);
    auto main = FindKeyObject(features, 101, 1001);
    auto component = main->get_Components()->GetComponent(12);
    const std::string name = component->get_Name();
    auto rows = component->get_Recordset();
    ComponentGeometryMemo memo;
    auto read = [&] {
        auto geometries = rt::Collection::New();
        RecordsetToCollection(main, name, geometries, &memo);
        EXPECT_TRUE(rows->get_EOF()) << "the rows end at EOF, kept or read";
        std::vector<rt::ObjectPtr> out;
        for (const auto& g : geometries->Enumerate()) out.push_back(g.Obj());
        return out;
    };
    const auto first = read();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(read(), first) << "kept: the same geometry objects";
    rows->AddNew();
    const auto grown = read();
    EXPECT_EQ(grown.size(), first.size() + 1) << "a row more: read again";
    EXPECT_EQ(grown.back(), nullptr);
}

TEST_F(ValidationSetTest, AMemoFindsEachComponentsGeometriesInTheSetsRowsAsTheyStandWhenFirstRead) {
    auto set = MakeValidationSet(kSet);
    auto [features, components, count] = Open(set);
    auto describe = [](const std::shared_ptr<IKeyObject>& feature, const std::string& name,
                       ComponentGeometryMemo* memo) {
        auto geometries = rt::Collection::New();
        RecordsetToCollection(feature, name, geometries, memo);
        std::vector<std::string> out;
        for (const auto& g : geometries->Enumerate()) out.push_back(geomtest::Describe(g.Obj()));
        return out;
    };
    ComponentGeometryMemo memo;
    auto main1001 = FindKeyObject(features, 101, 1001), main1002 = FindKeyObject(features, 101, 1002);
    const std::string name = main1001->get_Components()->GetComponent(12)->get_Name();
    const auto plain1001 = describe(main1001, name, nullptr);
    ASSERT_FALSE(plain1001.empty());
    EXPECT_EQ(describe(main1001, name, &memo), plain1001);

    // A value of main 1002's geometry rows changes after the memo indexed the set's rows.
    auto clone = std::dynamic_pointer_cast<ComponentClone>(main1002->get_Components()->GetComponent(12));
    ASSERT_NE(clone, nullptr);
    auto before = describe(main1002, name, nullptr);
    ASSERT_FALSE(before.empty());
    auto componentRows = clone->get_Recordset();
    componentRows->MoveFirst();
    const int32_t id = rt::CLng(componentRows->GetValue(Variant("QTX_ID")));
    auto geometryRows = clone->PrivateComponent()->get_GeometryRecordset();
    geometryRows->put_Filter(Variant("SDO_GID = " + std::to_string(id)));
    geometryRows->MoveFirst();
    geometryRows->SetValue(Variant("SDO_X1"), Variant(rt::CDbl(geometryRows->GetValue(Variant("SDO_X1"))) + 7.5));
    geometryRows->Update();
    const auto after = describe(main1002, name, nullptr);
    ASSERT_NE(after, before);
    EXPECT_EQ(describe(main1002, name, &memo), after) << "the set's rows indexed again";
    EXPECT_EQ(describe(main1001, name, &memo), plain1001);
}

TEST_F(ValidationSetTest, AMemosGeometryIndexStandsWhileItsRowsAndValuesDo) {
    ComponentGeometryMemo memo;
    auto rows = geomtest::GeometryTable({{1, 0, 1, 0, {geomtest::D(1), geomtest::D(1)}},
                                         {2, 0, 1, 0, {geomtest::D(2), geomtest::D(2)}}});
    auto clone = rows->Clone(ado::adLockUnspecified);
    auto first = memo.GeometryIndex(rows);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(memo.GeometryIndex(clone), first) << "one index for the family";
    struct Change {
        const char* what;
        std::function<void()> change;
    } changes[] = {
        {"a value assigned", [&] { clone->MoveFirst(); clone->SetValue(Variant("SDO_X1"), Variant(5.0)); clone->Update(); }},
        {"a row deleted", [&] { clone->MoveLast(); clone->Delete(); }},
        {"a row added", [&] { clone->AddNew(); clone->SetValue(Variant("SDO_GID"), Variant(int32_t{3})); clone->Update(); }},
    };
    auto last = first;
    for (const Change& c : changes) {
        c.change();
        auto next = memo.GeometryIndex(rows);
        EXPECT_NE(next, last) << c.what;
        EXPECT_EQ(memo.GeometryIndex(rows), next) << c.what;
        last = next;
    }
    EXPECT_NE(geomtest::Describe(last->Find(1)).find("(5 1 0)"), std::string::npos) << "the value assigned";
    EXPECT_EQ(last->Find(2), nullptr) << "deleted";
    EXPECT_EQ(memo.GeometryIndex(nullptr), nullptr);
}

TEST_F(ValidationSetTest, TheIndexHoldsEachIdsRowsInSetOrderAndTheIdsInTheOrderOfTheirLastRow) {
    // The related ids of the relationship rows, after one pending main; the
    // index's arrays in its order, as the rows' positions among those rows.
    struct Case {
        const char* what;
        std::vector<int32_t> related;
        std::vector<std::vector<size_t>> arrays;
    };
    const Case cases[] = {
        {"ids recurring apart", {1001, 1002, 1001, 1003, 1002}, {{0, 2}, {3}, {1, 4}}},
        {"one id", {1001, 1001, 1001}, {{0, 1, 2}}},
        {"every id once", {1003, 1001, 1002}, {{0}, {1}, {2}}},
    };
    for (const Case& c : cases) {
        std::vector<SetRow> rows = {{101, 1001, 1, 0, 0, 0}};
        for (size_t i = 0; i < c.related.size(); ++i)
            rows.push_back({102, 2001 + static_cast<int32_t>(i), 0, c.related[i], 101, 3});
        auto set = MakeValidationSet(rows);
        std::vector<Variant> bookmarks;
        for (set->MoveFirst(); !set->get_EOF(); set->MoveNext()) bookmarks.push_back(set->get_Bookmark());
        Open(set);
        auto index = ValidationSetIndex();
        ASSERT_NE(index, nullptr) << c.what;
        std::vector<std::vector<size_t>> arrays;
        for (int32_t i = 1; i <= index->Count(); ++i) {
            Variant array = index->Item(Variant(i));
            std::vector<size_t> positions;
            for (int32_t k = rt::LBound(array); k <= rt::UBound(array); ++k)
                for (size_t row = 1; row < bookmarks.size(); ++row)
                    if (rt::VariantEquals(array.Array()->Get(k), bookmarks[row])) positions.push_back(row - 1);
            arrays.push_back(positions);
        }
        EXPECT_EQ(arrays, c.arrays) << c.what;
        // Each array is found again by its id.
        for (int32_t id : c.related) EXPECT_TRUE(index->TryItem(Variant(std::to_string(id))).has_value()) << c.what;
        ReleaseValidationSetIndex();
    }
}

}  // namespace
