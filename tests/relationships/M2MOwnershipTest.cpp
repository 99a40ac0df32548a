// The many-to-many ownership helper on the sample: mains (101) own sampling
// stations (105), which own hydrants (103), through the owner links (581) of
// the owned features; relationship 6 sees them from the owner, 7 from the
// owned feature (many-to-one).
#include "M2MDetailTestSupport.h"

#include <algorithm>

#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/modFASCache.h"
#include "product/DataShape.h"
#include "validation/ValidationSetTestSupport.h"

using pelmora_test::Raised;
using relationshiptest::Lines;
using relationshiptest::M2MDetailFixture;

namespace {

std::string Message(int16_t id) { return pelmora::MessageObject()->GetMessageText(id, 0); }

// "CID:owner FNO/owner FID" per support row ("-" for Null).
Lines Links(const std::shared_ptr<pelmora::IKeyObject>& feature) {
    auto rs = feature->get_Components()->get_Item(rt::Variant("OWNER_LINKS"))->get_Recordset();
    Lines out;
    auto text = [&](const char* f) {
        rt::Variant v = rs->GetValue(rt::Variant(f));
        return v.IsNull() ? std::string("-") : rt::CStr(v);
    };
    if (rs->get_BOF() && rs->get_EOF()) return out;
    for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext())
        out.push_back(text("QTX_CID") + ":" + text("QTX_OWNERFNO") + "/" + text("QTX_OWNERFID"));
    return out;
}

void AddLink(const std::shared_ptr<pelmora::IKeyObject>& feature, int cid, const rt::Variant& fno, const rt::Variant& fid) {
    auto rs = feature->get_Components()->get_Item(rt::Variant("OWNER_LINKS"))->get_Recordset();
    rs->AddNew();
    for (auto [f, v] : {std::pair<const char*, rt::Variant>{"QTX_FNO", rt::Variant(feature->get_FNO())},
                        {"QTX_FID", rt::Variant(feature->get_FID())}, {"QTX_CNO", rt::Variant(int16_t{581})},
                        {"QTX_CID", rt::Variant(int16_t(cid))}, {"QTX_OWNERFNO", fno}, {"QTX_OWNERFID", fid}})
        rs->SetValue(rt::Variant(f), v);
    rs->Update();
}

// The RELATED chapters of a shaped tree, one line per row: the path of
// aliases, the row's feature and the number of its component tables.
void Tree(const product::ShapedRows& rows, const std::string& path, Lines& out) {
    for (size_t r = 0; r < rows.rows.size(); ++r) {
        const auto* fcrs = rows.Chapter(r, "FCRS");
        std::string line = path + " " + rt::CStr(rows.Value(r, "QTX_FNO")) + "/" + rt::CStr(rows.Value(r, "QTX_FID"));
        if (fcrs) line += " fcrs " + std::to_string(fcrs->rows.size()) + "x" +
                          std::to_string(fcrs->rows.empty() ? 0 : fcrs->rows[0].chapters.size());
        out.push_back(line);
        for (const auto& chapter : rows.rows[r].chapters)
            if (chapter.alias.rfind("RELATED", 0) == 0) Tree(*chapter.rows, path + "/" + chapter.alias, out);
    }
}

class M2MFixture : public M2MDetailFixture {
protected:
    // Only the water quality role sees the station class: KLEE holds it.
    void SetUp() override {
        M2MDetailFixture::SetUp();
        metadata_->SetActiveUser(sqlite_, "KLEE");
        service_ = NewService();
    }
    Lines Sorted(Lines l) {
        std::sort(l.begin(), l.end());
        return l;
    }
};

}  // namespace

TEST_F(M2MFixture, LoadingNeedsASupportComponent) {
    EXPECT_EQ(service_->GetRelationshipHelper(6)->get_RelationshipType(), pelmora::qzrelManyToManyOwnership);
    EditTable("QTX_RELATIONSHIPS_OPTABLE", [](ado::RecordsetImage& image) {
        SetWhere(image, "QTX_SUPPORTCNO", rt::Variant::Null(),
                 [&](const std::vector<rt::Variant>& row) { return rt::CLng(row[FieldOf(image, "QTX_RNO")]) == 6; });
    });
    auto e = Raised([&] { service_->GetRelationshipHelper(6); });
    EXPECT_EQ(e.Number(), pelmora::kErrorBase + 1);
    EXPECT_EQ(e.Source(), Message(21826));
    EXPECT_EQ(e.Description(), Message(23712));
}

TEST_F(M2MFixture, CandidatesAndPairsFollowThePointOfView) {
    struct Case {
        int16_t rno, fno;
        std::vector<int32_t> candidates;  // empty: Null
    };
    const Case cases[] = {{6, 101, {105}}, {6, 105, {103}}, {6, 103, {}}, {7, 105, {101}}, {7, 103, {105}}};
    for (const Case& c : cases) {
        auto feature = pelmora::KeyObject::New();
        feature->put_FNO(c.fno);
        rt::Variant result = service_->GetCandidateFeatures(feature, c.rno);
        if (c.candidates.empty())
            EXPECT_TRUE(result.IsNull()) << c.rno << " " << c.fno;
        else
            EXPECT_EQ(relationshiptest::Numbers(result), c.candidates) << c.rno << " " << c.fno;
    }
    auto station = Open(105, 5001);
    EXPECT_TRUE(service_->GetRelationshipHelper(7)->CanRelate(station, 101));
    EXPECT_FALSE(service_->GetRelationshipHelper(6)->CanRelate(station, 101));  // the other direction
    EXPECT_TRUE(service_->GetRelationshipHelper(6)->CanRelate(station, 103));
}

TEST_F(M2MFixture, EstablishingAndDeletingWriteTheOwnedFeaturesLinks) {
    auto owned = service_->GetRelationshipHelper(7);  // source: the owned feature
    auto owner = Open(101, 1002);
    struct Case {
        const char* what;
        std::function<std::shared_ptr<pelmora::IKeyObject>()> feature;
        Lines after;
    };
    const Case cases[] = {
        {"no rows: CID 1", [&] { return Open(105, 5991); }, {"1:101/1002"}},
        {"the last free row is taken, its CID kept",
         [&] {
             auto f = Open(105, 5991);
             AddLink(f, 3, rt::Variant(int16_t{0}), rt::Variant(int32_t{0}));
             AddLink(f, 1, rt::Variant(int16_t{0}), rt::Variant(int32_t{0}));
             return f;
         },
         {"3:0/0", "1:101/1002"}},
        {"no free row: the highest CID and 1",
         [&] {
             auto f = Open(105, 5991);
             for (int cid : {1, 4, 2}) AddLink(f, cid, rt::Variant(int16_t{101}), rt::Variant(int32_t{1000 + cid}));
             return f;
         },
         {"1:101/1001", "4:101/1004", "2:101/1002"}},  // 1002 holds it already: nothing written
        {"a Null owner is free too", [&] { return Open(103, 3002); }, {"1:105/5001", "2:101/1002"}},
    };
    for (const Case& c : cases) {
        pelmora::SetCaching(false);
        auto feature = c.feature();
        owned->SilentEstablishRelationship(feature, owner, 0, 0);
        EXPECT_EQ(Links(feature), c.after) << c.what;
    }
    auto f = Open(105, 5991);
    for (int cid : {1, 4}) AddLink(f, cid, rt::Variant(int16_t{101}), rt::Variant(int32_t{1002}));
    AddLink(f, 2, rt::Variant::Null(), rt::Variant::Null());
    owned->SilentEstablishRelationship(f, owner, 0, 0);
    EXPECT_EQ(Links(f), (Lines{"1:101/1002", "4:101/1002", "2:-/-"}));
    // Every row naming the owner goes; a free row stays. From the owner's
    // point of view the related feature is the owned one.
    service_->GetRelationshipHelper(6)->DeleteRelationship(owner, f, 0, 0);
    EXPECT_EQ(Links(f), (Lines{"2:-/-"}));
}

TEST_F(M2MFixture, DeletingTheOnlyLinkEndsTheWalk) {
    // The component steps off its last row once it is deleted.
    auto owner = Open(101, 1002);
    using Call = std::function<void(const std::shared_ptr<pelmora::IKeyObject>&)>;
    const std::pair<const char*, Call> cases[] = {
        {"the helper", [&](const auto& f) { service_->GetRelationshipHelper(6)->DeleteRelationship(owner, f, 0, 0); }},
        {"the service", [&](const auto& f) { service_->DeleteRelationship(owner, f, rt::Variant(int16_t{6})); }},
    };
    for (const auto& [what, call] : cases) {
        pelmora::SetCaching(false);
        auto f = Open(105, 5991);
        AddLink(f, 1, rt::Variant(int16_t{101}), rt::Variant(int32_t{1002}));
        EXPECT_EQ(pelmora_test::ErrorOf([&] { call(f); }), 0) << what;
        EXPECT_EQ(Links(f), Lines{}) << what;
    }
}

TEST_F(M2MFixture, ReviewsListOwnersOrOwnedFeaturesWithTheLinksOnlyInTheCache) {
    EXPECT_EQ(KeysOf(service_->GetRelationshipHelper(7)->ReviewRelationship(Open(103, 3002))), (Lines{"105/5001"}));
    EXPECT_EQ(KeysOf(service_->GetRelationshipHelper(7)->ReviewRelationship(Open(105, 5991))), Lines{});
    EXPECT_EQ(Sorted(KeysOf(service_->GetRelationshipHelper(6)->ReviewRelationship(Open(105, 5001)))),
              (Lines{"103/3001", "103/3002", "103/5951", "103/5961"}));

    // A station linked to main 1001 in the feature cache only.
    pelmora::SetCaching(true);
    auto station = Open(105, 5991);
    auto main = Open(101, 1001);
    service_->GetRelationshipHelper(6)->SilentEstablishRelationship(main, station, 0, 0);
    EXPECT_EQ(KeysOf(service_->GetRelationshipHelper(6)->ReviewRelationship(main)), (Lines{"105/5001", "105/5991"}));
    pelmora::SetCaching(false);
}

TEST_F(M2MFixture, ACachedReviewSeesALinkMadeOnStationsOpenedTogether) {
    // The stations' rows are clones of one shared collection, which the
    // review reads from the cache.
    pelmora::SetCaching(true);
    auto main = Open(101, 1001);
    auto stations = pelmora::KeyObjects::New();
    for (int32_t fid : {5991, 5001}) {
        auto key = pelmora::KeyObject::New();
        key->put_FNO(105);
        key->put_FID(fid);
        stations->Add(key);
    }
    assembly_->OpenFeatures(stations, false);
    service_->GetRelationshipHelper(6)->SilentEstablishRelationship(main, stations->get_Item(rt::Variant(int32_t{1})), 0, 0);
    EXPECT_EQ(KeysOf(service_->GetRelationshipHelper(6)->ReviewRelationship(main)), (Lines{"105/5001", "105/5991"}));
    pelmora::SetCaching(false);
}

TEST_F(M2MFixture, ValidationFindsMissingOwnersAndTooManyOwners) {
    using validationtest::SetRow;
    // Station 5001 with three owners (relationship 7 is many-to-one), station
    // 5991 and hydrant 3001 without any, main 1001 owning nothing: only the
    // owned side misses owners.
    auto set = validationtest::MakeValidationSet({{105, 5001, 1, 0, 0, 0},
                                                  {105, 5991, 1, 0, 0, 0},
                                                  {103, 3001, 1, 0, 0, 0},
                                                  {101, 1001, 1, 0, 0, 0},
                                                  {101, 1001, 0, 5001, 105, 7},
                                                  {101, 1002, 0, 5001, 105, 7},
                                                  {101, 1003, 0, 5001, 105, 7}});
    auto relationship = rt::QueryInterface<pelmora::IRelationship>(std::static_pointer_cast<rt::Object>(service_));
    std::shared_ptr<ado::Recordset> errors;
    relationship->Validate(set, errors);
    EXPECT_EQ(Findings(errors, "Station Served By Mains"),
              (Lines{"105/5001/-/-|" + pelmora::LoadResStringWithParams(20872, "3") + "|E",
                     "105/5991/-/-|" + Message(20870) + "|E", "103/3001/-/-|" + Message(25195) + "|W"}));
    EXPECT_EQ(Findings(errors, "Main Serves Stations"), Lines{});
    // Only the station's relationship 4, which has no row, failed.
    EXPECT_EQ(Findings(errors, ""), (Lines{"-/-/-/-|" + pelmora::LoadResStringWithParams(25066, "4") + "|E"}));
}

TEST_F(M2MFixture, TheHierarchyTextGivesTheOwnedTree) {
    auto helper = service_->GetRelationshipHelper(6);
    const std::string text = rt::CStr(helper->ReviewRelationshipHierarchy(Open(101, 1001)));
    Lines tree;
    Tree(product::RunShapeCommand(*sqlite_, text), "", tree);
    // Main 1001 (five component tables), station 5001 (four) and its four
    // hydrants (five each); hydrant 3002's free row names no owner.
    EXPECT_EQ(tree, (Lines{" 101/1001 fcrs 1x5", "/RELATED105 105/5001 fcrs 1x4",
                           "/RELATED105/RELATED103 103/3001 fcrs 1x5", "/RELATED105/RELATED103 103/3002 fcrs 1x5",
                           "/RELATED105/RELATED103 103/5951 fcrs 1x5", "/RELATED105/RELATED103 103/5961 fcrs 1x5"}));

    // From the owned side: no text. A class owning nothing: its own part.
    EXPECT_EQ(rt::CStr(service_->GetRelationshipHelper(7)->ReviewRelationshipHierarchy(Open(105, 5001))), "");
    Lines leaf;
    Tree(product::RunShapeCommand(*sqlite_, rt::CStr(helper->ReviewRelationshipHierarchy(Open(103, 3001)))), "", leaf);
    EXPECT_EQ(leaf, (Lines{" 103/3001"}));
}

TEST_F(M2MFixture, ACycleOfRulesEndsTheHierarchy) {
    // Hydrants own mains: 101 -> 105 -> 103 -> 101.
    EditTable("QTX_M2MOWNERSHIPRULES_OPTABLE", [](ado::RecordsetImage& image) {
        std::vector<rt::Variant> row(image.values.begin(), image.values.begin() + image.fields.size());
        row[FieldOf(image, "QTX_SOURCEFNO")] = rt::Variant(int16_t{101});
        row[FieldOf(image, "QTX_OWNERFNO")] = rt::Variant(int16_t{103});
        image.values.insert(image.values.end(), row.begin(), row.end());
    });
    const std::string text = rt::CStr(service_->GetRelationshipHelper(6)->ReviewRelationshipHierarchy(Open(101, 1001)));
    for (const char* alias : {"RELATED105", "RELATED103"}) {
        const size_t first = text.find(alias);
        EXPECT_NE(first, std::string::npos) << alias;
        EXPECT_EQ(text.find(alias, first + 1), std::string::npos) << alias;
    }
    EXPECT_EQ(text.find("RELATED101"), std::string::npos);
    Lines tree;
    Tree(product::RunShapeCommand(*sqlite_, text), "", tree);
    EXPECT_EQ(tree.size(), 6u);
}

TEST_F(M2MFixture, ATableNameThatIsNoPlainNameIsRefusedBeforeAnyText) {
    EditTable("QTX_FEATURECOMPS_OPTABLE", [](ado::RecordsetImage& image) {
        SetWhere(image, "QTX_TABLE", rt::Variant("OWNER_LINK_N WHERE 1=1 --"),
                 [&](const std::vector<rt::Variant>& row) { return rt::CLng(row[FieldOf(image, "QTX_CNO")]) == 581; });
    });
    auto helper = service_->GetRelationshipHelper(6);
    auto main = Open(101, 1001);
    for (const auto& call : std::vector<std::function<void()>>{[&] { helper->ReviewRelationship(main); },
                                                               [&] { helper->ReviewRelationshipHierarchy(main); }}) {
        auto e = Raised(call);
        EXPECT_EQ(e.Number(), pelmora::kErrorBase + 1);
        EXPECT_NE(e.Description().find("is not a plain name"), std::string::npos) << e.Description();
    }
}
