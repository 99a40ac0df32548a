// Node-edge connectivity (relationship 3 of the sample) through the
// relationship service: loading the node columns, candidates, the review of
// the features at each node, and validation through IRelationship with its
// node, pipeline, endpoint and phase findings.
#include "ConnectivityTestSupport.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "pelmora/common/DistinctItemColl.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/relationships/NEConnectivity.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "product/ValidateSetPackage.h"
#include "support/RecordingContext.h"
#include "support/ScopedEnv.h"
#include "support/TestFolders.h"

using connectivitytest::ConnectivityFixture;
using connectivitytest::kNodeEdge;
using connectivitytest::Lines;
using pelmora_test::ErrorOf;

namespace {

class NodeEdge : public ConnectivityFixture {};

using pelmora_test::RecordingContext;

// The parameterised opens of node queries: text, cursor, lock, options, values.
Lines NodeQueries(const RecordingContext& context) {
    Lines lines;
    for (const auto& open : context.opens) {
        if (open.sql.find("NODE_1") == std::string::npos) continue;
        std::string line = open.sql + " " + std::to_string(open.cursor) + " " + std::to_string(open.lock) + " " +
                           std::to_string(open.options);
        for (const auto& v : open.values) line += " [" + rt::CStr(v) + "]";
        lines.push_back(line);
    }
    return lines;
}

const std::string kLocation = "Service Connection";

}  // namespace

TEST_F(NodeEdge, LoadingSplitsTheAdditionalParametersAndTakesPlainNamesOnly) {
    auto helper = std::dynamic_pointer_cast<pelmora::NEConnectivity>(service_->GetRelationshipHelper(kNodeEdge));
    ASSERT_NE(helper, nullptr);
    EXPECT_EQ(helper->get_RelationshipType(), pelmora::qzrelNodeEdgeConnectivity);
    EXPECT_EQ(helper->get_Name(), kLocation);
    EXPECT_EQ(helper->NodeColumn1(), "NODE_1");
    EXPECT_EQ(helper->NodeColumn2(), "NODE_2");

    struct Case {
        const char* what;
        rt::Variant parameters;
        int32_t error;  // 0: loads
    };
    const Case cases[] = {
        {"an empty third part", rt::Variant("NODE_1,NODE_2,"), 0},
        {"commas in the third part", rt::Variant("NODE_1,NODE_2,x,y"), 0},
        {"one comma", rt::Variant("NODE_1,NODE_2"), rt::vberr::InvalidProcedureCall},
        {"no comma", rt::Variant("NODE_1"), rt::vberr::InvalidProcedureCall},
        {"Null", rt::Variant::Null(), rt::vberr::InvalidUseOfNull},
        {"SQL in a column name", rt::Variant("NODE_1,NODE_2 OR 1 = 1,"), rt::vberr::InvalidProcedureCall},
        {"an empty column name", rt::Variant(",NODE_2,"), rt::vberr::InvalidProcedureCall},
    };
    for (const Case& c : cases) {
        EditMetadata("QTX_RELATIONSHIPS_OPTABLE", "QTX_RNO = 3", "QTX_ADDITIONALPARAMETERS", c.parameters);
        EXPECT_EQ(ErrorOf([&] { service_->GetRelationshipHelper(kNodeEdge); }), c.error) << c.what;
    }
}

TEST_F(NodeEdge, CandidatesAreTheConnectingClassesAndNothingRelatesOrChanges) {
    auto main = Open(101, 5701);
    EXPECT_EQ(relationshiptest::Numbers(service_->GetCandidateFeatures(main, kNodeEdge)),
              (std::vector<int32_t>{102, 103}));
    const rt::Variant none = service_->GetCandidateFeatures(Open(105, 5001), kNodeEdge);
    EXPECT_TRUE(none.IsArray());
    EXPECT_EQ(none.Array(), nullptr);  // an Integer array without elements

    auto helper = service_->GetRelationshipHelper(kNodeEdge);
    auto valve = Open(102, 5711);
    EXPECT_FALSE(helper->CanRelate(main, 102));
    helper->SilentEstablishRelationship(main, valve, 0, 0);
    helper->DeleteRelationship(main, valve, 0, 0);
    auto rows = valve->get_Components()->get_Item(rt::Variant("COMMON_ATTR"))->get_Recordset();
    rows->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
    EXPECT_EQ(rows->get_RecordCount(), 0);
    EXPECT_TRUE(helper->ReviewRelationshipHierarchy(main).IsEmpty());
}

TEST_F(NodeEdge, TheValidationSetRelatesFeaturesThroughNodesAndEnds) {
    auto relationship = rt::QueryInterface<pelmora::IRelationship>(std::static_pointer_cast<rt::Object>(service_));
    auto setOf = [&](int16_t fno, int32_t fid) {
        std::shared_ptr<pelmora::IKeyObjects> features = pelmora::KeyObjects::New();
        auto key = pelmora::KeyObject::New();
        key->put_FNO(fno);
        key->put_FID(fid);
        features->Add(key);
        auto set = relationship->GetFeatureValidationInformation(features);
        Lines rows;
        for (set->MoveFirst(); !set->get_EOF(); set->MoveNext()) {
            const int32_t rno = rt::CLng(set->GetValue(rt::Variant("PENDING"))) ? 0
                                                                                : rt::CLng(set->GetValue(rt::Variant("QTX_RNO")));
            if (rno == kNodeEdge || rno == connectivitytest::kNodeOrdered)
                rows.push_back(rt::CStr(set->GetValue(rt::Variant("QTX_FNO"))) + "/" +
                               rt::CStr(set->GetValue(rt::Variant("QTX_FID"))) + " " + std::to_string(rno));
        }
        return rows;
    };
    EXPECT_EQ(setOf(101, 5701), (Lines{"102/5711 3", "103/5721 3"}));
    EXPECT_EQ(setOf(104, 5731), (Lines{"101/5704 3", "102/5713 3", "103/5723 3", "101/5701 5"}));
    EXPECT_EQ(setOf(101, 5703), Lines{});

    // Names from the metadata that are no plain identifiers never reach SQL.
    Execute("UPDATE QTX_RELATIONSHIPS_OPTABLE SET QTX_ADDITIONALPARAMETERS = 'NODE_1,NODE_2 OR 1 = 1,' "
            "WHERE QTX_RNO = 3");
    auto error = pelmora_test::Raised([&] { setOf(101, 5701); });
    EXPECT_NE(error.Description().find("node column 2 is no identifier"), std::string::npos) << error.Description();
}

TEST_F(NodeEdge, ReviewListsAMarkerPerNodeThenTheFeaturesHoldingIt) {
    struct Case {
        int16_t fno;
        int32_t fid;
        Lines keys;
    };
    const Case cases[] = {
        {101, 5701, {"-1/1", "102/5711", "-1/2", "103/5721"}},
        {101, 5704, {"-1/1", "102/5713", "103/5723", "104/5731", "-1/2"}},
        {101, 5703, {"-1/1", "-1/2"}},                // a node no one holds, a gap
        {102, 5714, {"-1/1"}},                        // no nodes: no query
        {104, 5731, {"-1/1", "101/5704", "102/5713", "103/5723", "-1/2", "-1/3"}},  // three nodes, two rows
        {102, 5711, {"-1/1", "101/5701"}},            // the main holds it in its first column
        {105, 5001, {}},                              // a class without rules
    };
    for (const Case& c : cases)
        EXPECT_EQ(KeysOf(service_->GetRelatedFeatures(Open(c.fno, c.fid), kNodeEdge)), c.keys) << c.fid;

    // Without support rows: nothing, not even markers.
    Execute("DELETE FROM QTX_COMMON_N WHERE QTX_FID = 5703");
    EXPECT_EQ(KeysOf(service_->GetRelatedFeatures(Open(101, 5703), kNodeEdge)), Lines{});

    // One query for the nodes that are set, the values bound.
    auto recording = std::make_shared<RecordingContext>(sqlite_);
    context_ = recording;
    service_ = NewService(false);
    service_->putref_DataContext(context_);
    for (int32_t fid : {5704, 5701}) service_->GetRelatedFeatures(Open(101, fid), kNodeEdge);
    EXPECT_EQ(NodeQueries(*recording),
              (Lines{"SELECT * FROM QTX_COMMON_N WHERE (NODE_1 = ? OR NODE_2 = ? OR NODE_1 = ? OR NODE_2 = ?) AND "
                     "QTX_FID <> ? 3 4 8 [57031] [57031] [57032] [57032] [5704]",
                     "SELECT * FROM QTX_COMMON_N WHERE (NODE_1 = ? OR NODE_2 = ? OR NODE_1 = ? OR NODE_2 = ?) AND "
                     "QTX_FID <> ? 3 4 8 [57001] [57001] [57002] [57002] [5701]"}));
}

TEST_F(NodeEdge, ValidationFindsNodesEndpointsPipelinesAndPhases) {
    // 5701 passes every check; 5702 breaks its endpoints and phases, 5703 has
    // a gap; enforcement 5 silences the node findings of mains (5704).
    EXPECT_EQ(Validate({{101, 5701}, {101, 5702}, {101, 5703}, {101, 5704}}, kLocation),
              (Lines{"Endpoint|Node 57011 of Water Main 5702 does not meet Valve 5712 at an endpoint.|5702",
                     "Endpoint|Node 57012 of Water Main 5702 does not meet Hydrant 5722 at an endpoint.|5702",
                     "Warning|The phases of Water Main 5702 (ABN) are not matched by the features connected to it.|5702",
                     "Warning|The feature has no node-edge connectivity rule.|5703"}));
    // Enforcement 5 silences the valve without nodes and the hydrant whose
    // columns differ; the service line's three nodes come from two rows.
    EXPECT_EQ(Validate({{102, 5714}, {103, 5724}, {104, 5731}}, kLocation),
              (Lines{"Error|Node 57031 is shared by more than two related features.|5731",
                     "Error|No related feature is connected at node 57052.|5731"}));
}

TEST_F(NodeEdge, DistanceRulesOfTheRuleTableApply) {
    // The hydrant moves 0.8 past the main's end: beyond the 0.5 of the rule,
    // with the empty default priority of enforcement 5. Its nearer end is
    // still the main's end, so the endpoint check holds.
    Execute("UPDATE HYDRANT_PT_SDOGEOM SET SDO_X1 = 2100.8 WHERE QTX_FID = 5721");
    EXPECT_EQ(Validate({{101, 5701}}, kLocation),
              (Lines{"|Water Main 5701 and Hydrant 5721 are not connected within 0.5.|5701"}));
}

TEST_F(NodeEdge, EnforcementChoosesThePriorityOrSilence) {
    struct Case {
        int32_t enforcement;
        Lines findings;
    };
    const Case cases[] = {
        {0,
         {"Warning|The nodes of the single-node feature Hydrant 5724 differ.|5724",
          "Warning|No related feature is connected at node 57041.|5724"}},
        {1,
         {"Error|The nodes of the single-node feature Hydrant 5724 differ.|5724",
          "Error|No related feature is connected at node 57041.|5724"}},
        {5, {}},
    };
    for (const Case& c : cases) {
        EditMetadata("QTX_NODEEDGERULES_OPTABLE", "QTX_SOURCEFNO = 103", "QTX_ENFORCEMENT", rt::Variant(c.enforcement));
        EXPECT_EQ(Validate({{103, 5724}}, kLocation), c.findings) << c.enforcement;
    }
}

TEST_F(NodeEdge, WithoutParameterRowsPipelinesAreOffAndEndpointsAreWarnings) {
    context_ = StandInContext();
    standIn_->EmptyTable("QTX_ADD_REL_PARAMS_OPTABLE");
    service_ = NewService(false);
    EXPECT_EQ(Validate({{101, 5702}, {104, 5731}}, kLocation),
              (Lines{"Warning|Node 57011 of Water Main 5702 does not meet Valve 5712 at an endpoint.|5702",
                     "Warning|Node 57012 of Water Main 5702 does not meet Hydrant 5722 at an endpoint.|5702",
                     "Warning|The phases of Water Main 5702 (ABN) are not matched by the features connected to it.|5702",
                     "Error|No related feature is connected at node 57052.|5731"}));
}

TEST_F(NodeEdge, ARelatedFeatureWithAFindingOfItsOwnDoesNotStopTheEndpointCheck) {
    // The valve's two columns now differ: reading its node list has a finding
    // that no errors recordset takes. The hydrant after it is still checked.
    Execute("UPDATE QTX_COMMON_N SET NODE_2 = 57099 WHERE QTX_FID = 5712");
    EXPECT_EQ(Validate({{101, 5702}}, kLocation),
              (Lines{"Endpoint|Node 57011 of Water Main 5702 does not meet Valve 5712 at an endpoint.|5702",
                     "Endpoint|Node 57012 of Water Main 5702 does not meet Hydrant 5722 at an endpoint.|5702",
                     "Warning|The phases of Water Main 5702 (ABN) are not matched by the features connected to it.|5702"}));
}

TEST_F(NodeEdge, AnEndpointFindingNamesThisPairsNodeOrNone) {
    // The hydrant holds the main's node only in its second column, so its own
    // node (the first column) is none of the main's.
    Execute("UPDATE QTX_COMMON_N SET NODE_1 = 57077 WHERE QTX_FID = 5722");
    const Lines found = Validate({{101, 5702}}, kLocation);
    ASSERT_GE(found.size(), 2u);
    EXPECT_EQ(found[0], "Endpoint|Node 57011 of Water Main 5702 does not meet Valve 5712 at an endpoint.|5702");
    EXPECT_EQ(found[1], "Endpoint|Node 0 of Water Main 5702 does not meet Hydrant 5722 at an endpoint.|5702");
}

TEST_F(NodeEdge, EachMainsPhaseTextIsItsOwnWhicheverIsValidatedFirst) {
    // One call reads the phase rules once; the texts stay those of each
    // main's own code (ABC passes, ABN does not).
    const connectivitytest::Keys orders[] = {{{101, 5701}, {101, 5702}}, {{101, 5702}, {101, 5701}}};
    for (const auto& order : orders) {
        Lines phases;
        for (const std::string& line : Validate(order, kLocation))
            if (line.find("phases") != std::string::npos) phases.push_back(line);
        EXPECT_EQ(phases, (Lines{"Warning|The phases of Water Main 5702 (ABN) are not matched by the features "
                                 "connected to it.|5702"}))
            << order.front().second;
    }
}

TEST_F(NodeEdge, PhasesMatchPoolsLettersAndSparesN) {
    struct Case {
        const char* text;
        const char* letters;
        bool match;
    };
    const Case cases[] = {
        {"ABC", "AB", false}, {"ABC", "ABC", true}, {"AN", "A", true}, {"a", "A", false},
        {"", "", true},       {"CA", "AC", true},   {"n", "", true},   {"AB", "", false},
    };
    for (const Case& c : cases) {
        pelmora::DistinctItemColl letters;
        for (const char* p = c.letters; *p; ++p) letters.Add(rt::Variant(std::string(1, *p)));
        EXPECT_EQ(pelmora::NEConnectivity::PhasesMatch(c.text, letters), c.match) << c.text << " / " << c.letters;
    }
}

TEST_F(NodeEdge, APhaseAttributeNameThatIsNoPlainNameOrNoFieldIsRefusedNamingTheAttribute) {
    struct Case {
        const char* column;
        const char* name;
        int32_t error;
    };
    const Case cases[] = {
        {"QTX_PICKLISTTABLE", "QTX_PHASE_PICKLIST_OPTABLE; DROP TABLE VALVE_N", rt::vberr::InvalidProcedureCall},
        {"QTX_KEYFIELD", "PHASE_KEY\"--", rt::vberr::InvalidProcedureCall},
        {"QTX_VALUEFIELD", "PHASE_TEXT OR 1=1", rt::vberr::InvalidProcedureCall},
        {"QTX_FIELD", "PHASE_CODE' OR '1'='1", ado::err::ItemNotFound},
        {"QTX_FIELD", "[PHASE_CODE]", ado::err::ItemNotFound},
    };
    for (const Case& c : cases) {
        editing_.reset();
        EditMetadata("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_ANO = 106", c.column, rt::Variant(c.name));
        // Through the helper itself: the relationship service turns any
        // failure of a helper into its "cannot validate" finding.
        auto relationship = rt::QueryInterface<pelmora::IRelationship>(std::static_pointer_cast<rt::Object>(service_));
        auto features = pelmora::KeyObjects::New();
        auto main = pelmora::KeyObject::New();
        main->put_FNO(101);
        main->put_FID(5702);
        features->Add(main);
        std::shared_ptr<pelmora::IKeyObjects> given = features;
        auto set = relationship->GetFeatureValidationInformation(given);
        std::shared_ptr<pelmora::IKeyObjects> opened;
        std::shared_ptr<pelmora::IComponents> components;
        int32_t count = 0;
        pelmora::GetValidationKOCollection(set, opened, components, context_, count);
        auto pending = rt::Collection::New();
        pending->Add(rt::Variant(int16_t{101}));
        auto errors = pelmora::CreateValidationRecordset();
        auto helper = service_->GetRelationshipHelper(kNodeEdge);
        const rt::ComError e = pelmora_test::Raised([&] { helper->Validate(opened, components, set, pending, errors); });
        EXPECT_EQ(e.Number(), c.error) << c.name;
        EXPECT_EQ(e.Source(), pelmora::NEConnectivity::kPhaseNameSource) << c.name;
        for (const std::string& named : {std::string("Phase (ANO 106)"), "\"" + std::string(c.name) + "\""})
            EXPECT_NE(e.Description().find(named), std::string::npos) << e.Description();
    }
}

// A check that ends on a metadata row naming what does not exist goes on
// without its finding; under the error bit the trace names the row and the
// name (the product's trace object, writing to a file).
TEST_F(NodeEdge, AMetadataNameThatNamesNothingIsTracedWithItsRow) {
    // Each column of the row given a name that names nothing, one at a time.
    struct Row {
        const char* table;
        const char* keyField;
        int32_t key;
        connectivitytest::Keys features;
        std::vector<std::pair<const char*, const char*>> names;  // column, name
    };
    const Row rows[] = {
        {"QTX_ATTRIBUTEINFO_OPTABLE", "QTX_ANO", 106, {{101, 5702}},
         {{"QTX_PICKLISTTABLE", "QTX_NO_PICKLIST_OPTABLE"}, {"QTX_KEYFIELD", "NO_KEY"}, {"QTX_VALUEFIELD", "NO_TEXT"}}},
        {"QTX_ATTRVAL_OPTABLE", "QTX_RULENO", 1, {{102, 5711}},
         {{"QTX_ACTIVENAME", "NO_COMPONENT"}, {"QTX_ACTIVEFIELDNAME", "NO_FIELD"}, {"QTX_RELATEDNAME", "NO_COMPONENT"}}},
        {"QTX_ATTRVAL_OPTABLE", "QTX_RULENO", 13, {{102, 5711}}, {{"QTX_RELATEDFIELDNAME", "NO_FIELD"}}},
    };
    const auto path = pelmora_test::FreshTestFolder("pelmora_metadata_trace") / "trace.txt";
    auto traced = [&](const char* mask, const connectivitytest::Keys& features) {
        std::filesystem::remove(path);
        {
            const pelmora_test::ScopedEnv file("PELMORA_TRACE_FILE", path.c_str()), bits("PELMORA_TRACE_MASK", mask);
            rt::Apartment::Reset();  // the trace object reads both when made
            Validate(features, kLocation);
        }
        rt::Apartment::Reset();
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    auto expectTraced = [&](const connectivitytest::Keys& features, const std::string& named) {
        const std::string trace = traced("0x400001", features);
        EXPECT_NE(trace.find("| Failed: " + named), std::string::npos) << named << "\n" << trace;
    };
    // The sample as it is names a relationship with no rules of its kind.
    expectTraced({{105, 5001}}, "QTX_RELATIONSHIPS_OPTABLE QTX_RNO 4, relationship \"4\": ");
    for (const Row& row : rows)
        for (const auto& [column, name] : row.names) {
            editing_.reset();
            EditMetadata(row.table, std::string(row.keyField) + " = " + std::to_string(row.key), column,
                         rt::Variant(name));
            expectTraced(row.features, std::string(row.table) + " " + row.keyField + " " + std::to_string(row.key) +
                                           ", " + column + " \"" + name + "\": ");
        }
    // Without the error bit nothing of it is written.
    EXPECT_EQ(traced("0x400002", rows[2].features).find("Failed"), std::string::npos);
}
