// The batch of the component database service: states, the blocks it sends
// and their parameters, cuts, and how failures are reported and undone.
#include "PersistenceFixture.h"

#include "pelmora/persistence/WorkOperationsStrings.h"
#include "support/CallersComponent.h"
#include "support/Raises.h"

using pelmora::ComponentDatabaseService;
using persistencetest::PersistenceFixture;

namespace {

using S = ComponentDatabaseService;
using pelmora_test::ErrorOf;
using pelmora_test::Raised;

std::string Call() { return S().GetUpdateFeaturesCallText(); }

// "<message>\r\n<number> - " as one level of wrapping writes it.
std::string Level(int32_t messageId, int32_t number) {
    return pelmora::LoadResStringWithParams(static_cast<int16_t>(messageId)) + "\r\n" + std::to_string(number) + " - ";
}

}  // namespace

TEST_F(PersistenceFixture, TheCallTextWrapsEachOfTheSixtyPlaceholdersInItsDecoder) {
    const std::string call = Call();
    EXPECT_EQ(call.rfind("QTX_WORKOPERATIONS.UPDATEFEATURES(QTXUTILITY.DECODENUMERICLIST(?),"
                         "QTXUTILITY.DECODENUMERICLIST(?),QTXUTILITY.DECODESTRINGLIST(?),",
                         0),
              0u);
    const std::string end = "QTXUTILITY.DECODENUMERICLIST(?));";
    EXPECT_EQ(call.substr(call.size() - end.size()), end);
    size_t marks = 0, dates = 0;
    for (size_t p = call.find('?'); p != std::string::npos; p = call.find('?', p + 1)) ++marks;
    for (size_t p = call.find("DECODEDATELIST"); p != std::string::npos; p = call.find("DECODEDATELIST", p + 1)) ++dates;
    EXPECT_EQ(marks, 60u);
    EXPECT_EQ(dates, 2u);  // the values of new and of set date attributes
    EXPECT_EQ(call.find(' '), std::string::npos);

    EXPECT_EQ(S::ParameterLabel(1), "NewAttributeNumericFNO");
    EXPECT_EQ(S::ParameterLabel(17), "NewAttributeDateField");
    EXPECT_EQ(S::ParameterLabel(22), "NewGeomAttributeCId");
    EXPECT_EQ(S::ParameterLabel(26), "NewGeomAttributeValue");
    EXPECT_EQ(S::ParameterLabel(48), "SetGeometryAttributeCID");
    EXPECT_EQ(S::ParameterLabel(53), "DeleteComponentFNO");
    EXPECT_EQ(S::ParameterLabel(60), "DeleteGeometryComponentCID");
}

TEST_F(PersistenceFixture, NothingIsSentWithoutABatchOrWithoutPendingRows) {
    auto common = NewComponent(1, {1001});
    common->get_Recordset();
    auto s = NewService();
    s->EndComponentOperations();        // never begun
    s->UpdateComponent(common);         // not begun: nothing queued
    s->BeginComponentOperations();
    s->UpdateComponent(nullptr);
    s->UpdateComponent(common);         // loaded, nothing pending
    s->UpdateComponent(NewComponent(11, {1001}));  // never loaded
    EXPECT_FALSE(s->Queued());
    s->EndComponentOperations();
    EXPECT_TRUE(dc_->commands.empty());
    EXPECT_TRUE(dc_->executes.empty());
    EXPECT_FALSE(s->Begun());

    // An idle service queues nothing.
    auto rs = common->get_Recordset();
    rs->SetValue(rt::Variant("LOCATION"), rt::Variant("moved"));
    rs->Update();
    s->UpdateComponent(common);  // the service is idle again
    s->EndComponentOperations();
    EXPECT_TRUE(dc_->commands.empty());
}

TEST_F(PersistenceFixture, ASecondBeginDropsTheBatchAndFailsAndAThirdBegins) {
    auto common = NewComponent(1, {1001});
    auto rs = common->get_Recordset();
    rs->SetValue(rt::Variant("LOCATION"), rt::Variant("moved"));
    rs->Update();
    auto s = NewService();
    s->BeginComponentOperations();
    s->UpdateComponent(common);
    EXPECT_TRUE(s->Queued());
    EXPECT_EQ(s->List(S::SetAttributeString).get_Count(), 1);
    rt::ComError e = Raised([&] { s->BeginComponentOperations(); });
    EXPECT_EQ(e.Number(), Err(23285));
    EXPECT_EQ(e.Source(), Message(23283));
    EXPECT_EQ(e.Description(), Message(23285));
    EXPECT_FALSE(s->Begun());
    EXPECT_EQ(s->List(S::SetAttributeString).get_Count(), 0);
    EXPECT_EQ(s->BlockText(), S::GetBlockBeginText());
    s->BeginComponentOperations();
    EXPECT_EQ(s->BlockText(), S::GetBlockBeginText() + S::GetOperationStartText());
    s->EndComponentOperations();  // nothing queued in this batch
    EXPECT_TRUE(dc_->commands.empty());
    EXPECT_EQ(Rows("SELECT LOCATION FROM QTX_COMMON_N WHERE QTX_FID = 1001"), std::vector<std::string>{"Harbour Road"});
}

TEST_F(PersistenceFixture, ASingleBlockCarriesTheListsAsSixtyTextParameters) {
    auto common = NewComponent(1, {1001, 1002});
    auto rs = common->get_Recordset();
    rs->MoveFirst();
    rs->SetValue(rt::Variant("LOCATION"), rt::Variant("Quay; \"Nord\": 'x'"));
    rs->Update();
    rs->MoveNext();
    rs->SetValue(rt::Variant("INSTALL_DATE"), persistencetest::DateOf(2021, 12, 24, 8, 0, 5));
    rs->Update();
    Save({common});

    ASSERT_EQ(dc_->commands.size(), 1u);
    const auto& b = dc_->commands[0];
    EXPECT_EQ(b.text, S::GetBlockBeginText() + S::GetOperationStartText() + Call() + S::GetBlockFinalEndText());
    EXPECT_EQ(b.text.rfind("BEGIN savepoint ComponentDatabaseServiceUpdate; QTX_WORKOPERATIONS.SetCurrentOperation( "
                           "'QTX.UpdateFeature' ); QTX_WORKOPERATIONS.BeginOperations;QTX_WORKOPERATIONS.UPDATEFEATURES(",
                           0),
              0u);
    const std::string tail =
        "); QTX_WORKOPERATIONS.EndOperations; QTX_WORKOPERATIONS.SetCurrentOperation( '' ); EXCEPTION WHEN OTHERS THEN "
        "QTX_WORKOPERATIONS.SetCurrentOperation( '' ); rollback to ComponentDatabaseServiceUpdate; "
        "QTX_WORKOPERATIONS.CancelOperations; RAISE; END;";
    EXPECT_EQ(b.text.substr(b.text.size() - tail.size()), tail);
    ASSERT_EQ(b.values.size(), 60u);
    for (size_t k = 0; k < 60; ++k) {
        EXPECT_EQ(b.types[k], ado::adVarChar);
        EXPECT_EQ(b.directions[k], ado::adParamInput);
        EXPECT_EQ(b.names[k], "");
        EXPECT_EQ(b.sizes[k], b.values[k].empty() ? 1 : rt::Len(b.values[k])) << k;
        bool setString = k >= 32 && k < 38, setDate = k >= 38 && k < 44;
        EXPECT_EQ(b.values[k].empty(), !(setString || setDate)) << S::ParameterLabel(static_cast<int>(k + 1));
    }
    EXPECT_EQ(b.values[32], "101;");
    EXPECT_EQ(b.values[33], "1001;");
    EXPECT_EQ(b.values[34], "11:COMMON_ATTR");
    EXPECT_EQ(b.values[35], "1;");
    EXPECT_EQ(b.values[36], "8:LOCATION");
    EXPECT_EQ(b.values[37], "17:Quay; \"Nord\": 'x'");
    EXPECT_EQ(b.values[39], "1002;");
    EXPECT_EQ(b.values[43], "19:12/24/2021 08:00:05");
    EXPECT_TRUE(dc_->executes.empty());

    EXPECT_EQ(Rows("SELECT LOCATION, INSTALL_DATE FROM QTX_COMMON_N WHERE QTX_FID IN (1001, 1002) ORDER BY QTX_FID"),
              (std::vector<std::string>{"Quay; \"Nord\": 'x'|4/17/1998", "Straße am Wald|12/24/2021 8:00:05 AM"}));
    // The rows stay pending in the component: accepting them is the caller's business.
    rs->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
    EXPECT_EQ(rs->get_RecordCount(), 2);
}

TEST_F(PersistenceFixture, ABatchOfDeletionsSendsOnlyTheDeletionLists) {
    auto lining = NewComponent(14, {1001});
    auto rs = lining->get_Recordset();
    rs->MoveFirst();
    rs->Delete();
    Save({lining});
    ASSERT_EQ(dc_->commands.size(), 1u);
    const auto& b = dc_->commands[0];
    for (size_t k = 0; k < 52; ++k) {
        EXPECT_EQ(b.values[k], "") << k;
        EXPECT_EQ(b.sizes[k], 1) << k;
    }
    EXPECT_EQ(b.values[52], "101;");
    EXPECT_EQ(b.values[53], "1001;");
    EXPECT_EQ(b.values[54], "17:WATER_MAIN_LINING");
    EXPECT_EQ(b.values[55], "1;");
    EXPECT_EQ(b.values[56], "");
    EXPECT_EQ(Rows("SELECT QTX_CID FROM WATER_LINING_N ORDER BY QTX_CID"), std::vector<std::string>{"3"});
}

TEST_F(PersistenceFixture, FullListsCutTheBatchIntoBlocksSentInOrderEachWithItsOwnLists) {
    pelmora::SetMaxListLength(30);  // two component names per list
    auto common = NewComponent(1, {1001, 1002, 1003, 2001, 2002});
    auto rs = common->get_Recordset();
    int n = 0;
    for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) {
        rs->SetValue(rt::Variant("LOCATION"), rt::Variant("L" + std::to_string(++n)));
        rs->Update();
    }
    auto s = NewService();
    s->BeginComponentOperations();
    s->UpdateComponent(common);
    EXPECT_EQ(s->SavedBlocks().size(), 2u);
    EXPECT_EQ(s->BlockText(), S::GetBlockContinuationText());
    s->EndComponentOperations();
    EXPECT_FALSE(s->Begun());
    EXPECT_TRUE(s->SavedBlocks().empty());

    ASSERT_EQ(dc_->commands.size(), 3u);
    EXPECT_EQ(dc_->commands[0].text,
              S::GetBlockBeginText() + S::GetOperationStartText() + Call() + S::GetBlockCutEndText());
    EXPECT_EQ(dc_->commands[1].text, "BEGIN " + Call() + S::GetBlockCutEndText());
    EXPECT_EQ(dc_->commands[2].text, "BEGIN " + Call() + S::GetBlockFinalEndText());
    EXPECT_EQ(dc_->commands[0].values[33], "1001;1002;");
    EXPECT_EQ(dc_->commands[1].values[33], "1003;2001;");
    EXPECT_EQ(dc_->commands[2].values[33], "2002;");
    EXPECT_EQ(dc_->commands[2].values[37], "2:L5");
    EXPECT_EQ(Rows("SELECT LOCATION FROM QTX_COMMON_N WHERE QTX_FID IN (1001, 1002, 1003, 2001, 2002) ORDER BY QTX_FID"),
              (std::vector<std::string>{"L1", "L2", "L3", "L4", "L5"}));
}

TEST_F(PersistenceFixture, AFailureInTheSecondOfThreeBlocksUndoesTheFirstAndReports23288) {
    pelmora::SetMaxListLength(30);
    auto common = NewComponent(1, {1001, 1002, 1003, 2001, 2002});
    auto rs = common->get_Recordset();
    for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) {
        rs->SetValue(rt::Variant("LOCATION"), rt::Variant("changed"));
        rs->Update();
    }
    auto lining = NewComponent(14, {1001});
    lining->get_Recordset()->Delete();
    const auto before = Everything();

    dc_->spoilCommand = 2;
    auto s = NewService();
    s->BeginComponentOperations();
    s->UpdateComponent(common);
    s->UpdateComponent(lining);
    rt::ComError e = Raised([&] { s->EndComponentOperations(); });
    EXPECT_EQ(e.Number(), Err(23288));
    EXPECT_EQ(e.Source(), Message(23283));
    const std::string nested = Level(23288, Err(23288)) + Level(23288, Err(23288)) +
                               Level(23288, product::kProviderErrorNumber) + "ORA-06502";
    EXPECT_EQ(e.Description().substr(0, nested.size()), nested) << e.Description();

    EXPECT_EQ(dc_->commands.size(), 2u);  // the third block was never sent
    ASSERT_EQ(dc_->executes.size(), 1u);
    EXPECT_EQ(dc_->executes[0].sql, S::GetRecoveryBlockText());
    EXPECT_EQ(Everything(), before);
    // Nothing of the service is reset after a failure.
    EXPECT_TRUE(s->Begun());
    EXPECT_EQ(ErrorOf([&] { s->BeginComponentOperations(); }), Err(23285));
}

TEST_F(PersistenceFixture, ADatabaseErrorInASingleBlockLeavesEveryTableAsItWas) {
    auto common = NewComponent(1, {1001});
    auto rs = common->get_Recordset();
    rs->SetValue(rt::Variant("LOCATION"), rt::Variant("changed"));
    rs->Update();
    auto lining = NewComponent(14, {1001});
    auto lrs = lining->get_Recordset();
    lrs->MoveFirst();
    lrs->SetValue(rt::Variant("THICKNESS_MM"), rt::Variant(9.5));
    lrs->Update();
    // Someone else removed the lining row meanwhile: its change finds no row.
    rt::Variant affected;
    sqlite_->ExecuteSQL("DELETE FROM WATER_LINING_N WHERE QTX_FID = 1001 AND QTX_CID = 1", affected, 1);
    const auto before = Everything();
    rt::ComError e = Raised([&] { Save({common, lining}); });
    EXPECT_EQ(e.Number(), Err(23288));
    EXPECT_NE(e.Description().find("ORA-01403"), std::string::npos) << e.Description();
    EXPECT_TRUE(dc_->executes.empty());  // one block: no recovery block
    EXPECT_EQ(Everything(), before);
}

TEST_F(PersistenceFixture, WithoutDataContextTheEndFailsBeforeAnythingIsSent) {
    auto common = NewComponent(1, {1001});
    auto rs = common->get_Recordset();
    rs->SetValue(rt::Variant("OWNER"), rt::Variant("PORT"));
    rs->Update();
    auto s = std::make_shared<ComponentDatabaseService>();
    s->BeginComponentOperations();
    s->UpdateComponent(common);
    rt::ComError e = Raised([&] { s->EndComponentOperations(); });
    EXPECT_EQ(e.Number(), Err(23288));
    EXPECT_EQ(e.Description(), Level(23288, Err(23288)) + Level(23288, Err(23288)) + Message(27010));
    EXPECT_TRUE(dc_->commands.empty());
}

TEST_F(PersistenceFixture, RowsWithoutKeysAndForeignComponentsFailWithNestedNumbers) {
    auto lining = NewComponent(14, {1001});
    auto rs = lining->get_Recordset();
    rs->AddNew();
    rs->SetValue(rt::Variant("QTX_FNO"), rt::Variant(int32_t{101}));
    rs->SetValue(rt::Variant("QTX_CID"), rt::Variant(int32_t{7}));
    rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("EPOXY"));
    rs->Update();
    auto s = NewService();
    s->BeginComponentOperations();
    rt::ComError e = Raised([&] { s->UpdateComponent(lining); });
    EXPECT_EQ(e.Number(), Err(23287));
    EXPECT_EQ(e.Description(), Level(23287, Err(23289)) + Level(23289, Err(23284)) + Message(23284));
    EXPECT_TRUE(s->Begun());

    // A component that is not the system's own cannot show its descriptors
    // or geometry rows.
    auto common = NewComponent(1, {1001});
    auto crs = common->get_Recordset();
    crs->SetValue(rt::Variant("OWNER"), rt::Variant("PORT"));
    crs->Update();
    auto t = NewService();
    t->BeginComponentOperations();
    e = Raised([&] {
        t->UpdateComponent(std::make_shared<pelmora_test::CallersComponent>(
            [common] { return common->get_Recordset(); }, common->get_CNO(), common->get_Name(),
            common->get_TableName(), true));
    });
    EXPECT_EQ(e.Number(), Err(23287));
    EXPECT_EQ(e.Description(), Level(23287, rt::vberr::TypeMismatch) + rt::VbErrorDescription(rt::vberr::TypeMismatch));
    // Its changed row was queued before the geometry pass failed.
    EXPECT_EQ(t->List(S::SetAttributeString).get_Count(), 1);
}
