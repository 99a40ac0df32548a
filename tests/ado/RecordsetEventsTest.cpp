// Recordset events: order, arguments, cancelling, re-entrant handlers and
// several sinks.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "AdoTestUtil.h"

using namespace ado;
using adotest::ErrorOf;
using adotest::MakeRecordset;

namespace {

std::string Text(const rt::Variant& v) { return v.IsNull() ? "Null" : rt::CStr(v); }

std::string FieldNames(const FieldList& fields) {
    std::string s;
    for (const auto& f : fields) s += (s.empty() ? "" : ",") + f->get_Name();
    return s;
}

// Records every event as text; hooks let a test act inside a handler.
class Recorder : public RecordsetEvents {
public:
    std::vector<std::string> log;
    std::string tag;
    // Statuses to answer, by event name ("WillChangeRecord:11", "WillMove", ...).
    std::map<std::string, EventStatusEnum> answer;
    std::map<std::string, std::function<void(const RecordsetPtr&)>> hook;
    std::vector<std::string> valuesSeen;

    void Note(const std::string& text, const std::string& key, EventStatusEnum& status, const RecordsetPtr& rs) {
        log.push_back(tag + text);
        if (auto it = hook.find(key); it != hook.end()) it->second(rs);
        if (auto it = answer.find(key); it != answer.end()) status = it->second;
    }
    static std::string St(EventStatusEnum s) { return std::to_string(static_cast<int>(s)); }

    void WillChangeField(int32_t n, const FieldList& f, EventStatusEnum& st, const RecordsetPtr& rs) override {
        for (const auto& field : f) valuesSeen.push_back("will:" + Text(field->get_Value()));
        Note("WillChangeField(" + std::to_string(n) + "," + FieldNames(f) + ")", "WillChangeField", st, rs);
    }
    void FieldChangeComplete(int32_t n, const FieldList& f, const rt::ComError* e, EventStatusEnum& st,
                             const RecordsetPtr& rs) override {
        if (!e)
            for (const auto& field : f) valuesSeen.push_back("done:" + Text(field->get_Value()));
        Note("FieldChangeComplete(" + std::to_string(n) + "," + FieldNames(f) + "," + St(st) +
                 (e ? ",err" + std::to_string(e->Number()) : "") + ")",
             "FieldChangeComplete", st, rs);
    }
    void WillChangeRecord(EventReasonEnum r, int32_t n, EventStatusEnum& st, const RecordsetPtr& rs) override {
        Note("WillChangeRecord(" + std::to_string(r) + "," + std::to_string(n) + ")",
             "WillChangeRecord:" + std::to_string(r), st, rs);
    }
    void RecordChangeComplete(EventReasonEnum r, int32_t n, const rt::ComError* e, EventStatusEnum& st,
                              const RecordsetPtr& rs) override {
        Note("RecordChangeComplete(" + std::to_string(r) + "," + std::to_string(n) + "," + St(st) +
                 (e ? ",err" : "") + ")",
             "RecordChangeComplete:" + std::to_string(r), st, rs);
    }
    void WillChangeRecordset(EventReasonEnum r, EventStatusEnum& st, const RecordsetPtr& rs) override {
        Note("WillChangeRecordset(" + std::to_string(r) + ")", "WillChangeRecordset", st, rs);
    }
    void RecordsetChangeComplete(EventReasonEnum r, const rt::ComError*, EventStatusEnum& st,
                                 const RecordsetPtr& rs) override {
        Note("RecordsetChangeComplete(" + std::to_string(r) + "," + St(st) + ")", "RecordsetChangeComplete", st, rs);
    }
    void WillMove(EventReasonEnum r, EventStatusEnum& st, const RecordsetPtr& rs) override {
        Note("WillMove(" + std::to_string(r) + ")", "WillMove", st, rs);
    }
    void MoveComplete(EventReasonEnum r, const rt::ComError*, EventStatusEnum& st, const RecordsetPtr& rs) override {
        Note("MoveComplete(" + std::to_string(r) + "," + St(st) + ")", "MoveComplete", st, rs);
    }
    void EndOfRecordset(bool& more, EventStatusEnum& st, const RecordsetPtr& rs) override {
        Note(std::string("EndOfRecordset(") + (more ? "more" : "nomore") + ")", "EndOfRecordset", st, rs);
    }
};

using Log = std::vector<std::string>;

struct Fixture {
    RecordsetPtr rs = MakeRecordset({{1, "one", 1}, {2, "two", 2}, {3, "three", 3}});
    std::shared_ptr<Recorder> rec = std::make_shared<Recorder>();
    Fixture() { rs->Advise(rec); }
};

}  // namespace

TEST(RecordsetEvents, FirstChangeOfARowRaisesFieldAndRecordEventsInOrder) {
    Fixture f;
    f.rs->SetValue("NAME", rt::Variant("uno"));
    f.rs->SetValue("VAL", rt::Variant(5.0));
    f.rs->Update();
    EXPECT_EQ(f.rec->log, (Log{"WillChangeField(1,NAME)", "WillChangeRecord(11,1)", "FieldChangeComplete(1,NAME,1)",
                               "RecordChangeComplete(11,1,1)", "WillChangeField(1,VAL)", "FieldChangeComplete(1,VAL,1)",
                               "WillChangeRecord(3,1)", "RecordChangeComplete(3,1,1)"}));
    // Will events see the value before the change, Complete events after it.
    EXPECT_EQ(f.rec->valuesSeen, (Log{"will:one", "done:uno", "will:1", "done:5"}));
}

TEST(RecordsetEvents, AddNewRaisesMoveAndRecordEventsThenTheNewRowIsCurrent) {
    Fixture f;
    int32_t idInHandler = -1;
    f.rec->hook["RecordChangeComplete:1"] = [&](const RecordsetPtr& rs) {
        idInHandler = rs->get_EditMode();
    };
    f.rs->AddNew();
    EXPECT_EQ(f.rec->log, (Log{"WillMove(10)", "WillChangeRecord(1,1)", "RecordChangeComplete(1,1,1)",
                               "MoveComplete(10,1)"}));
    EXPECT_EQ(idInHandler, adEditAdd);
    f.rec->log.clear();
    f.rs->SetValue("ID", rt::Variant(int32_t{4}));  // no first-change event while adding
    f.rs->CancelUpdate();
    EXPECT_EQ(f.rec->log, (Log{"WillChangeField(1,ID)", "FieldChangeComplete(1,ID,1)", "WillChangeRecord(5,1)",
                               "RecordChangeComplete(5,1,1)"}));
    EXPECT_EQ(f.rs->get_RecordCount(), 3);
}

TEST(RecordsetEvents, MovesCarryTheirReasonsAndTheEndIsAnnounced) {
    Fixture f;
    f.rs->MoveLast();
    f.rs->MovePrevious();
    f.rs->MoveNext();
    f.rs->MoveNext();
    f.rs->MoveFirst();
    f.rs->put_Filter(rt::Variant("ID > 1"));
    EXPECT_EQ(f.rec->log, (Log{"WillMove(15)", "MoveComplete(15,1)", "WillMove(14)", "MoveComplete(14,1)",
                               "WillMove(13)", "MoveComplete(13,1)", "WillMove(13)", "EndOfRecordset(nomore)",
                               "MoveComplete(13,1)", "WillMove(12)", "MoveComplete(12,1)", "WillMove(10)",
                               "MoveComplete(10,1)"}));
}

TEST(RecordsetEvents, MovingOffAnEditedRowUpdatesItFirst) {
    Fixture f;
    f.rs->SetValue("NAME", rt::Variant("x"));
    f.rec->log.clear();
    f.rs->MoveNext();
    EXPECT_EQ(f.rec->log, (Log{"WillChangeRecord(3,1)", "RecordChangeComplete(3,1,1)", "WillMove(13)",
                               "MoveComplete(13,1)"}));
}

// A handler that stamps the row again as a move ends its edit, a number of
// times: the move ends those edits too, on the row it leaves, up to the
// bound; past it the move is refused and the edit stays open where it stands.
// A WillMove handler's edit of the row being left is ended as well.
TEST(RecordsetEvents, MovingOffARowEndsTheEditsItsHandlersOpen) {
    constexpr int kBound = kEditsHandlersMayOpen;
    const struct {
        const char* hook;
        int stamps;  // -1: never stops
    } cases[] = {{"RecordChangeComplete:3", 3},      {"RecordChangeComplete:3", kBound - 1},
                 {"RecordChangeComplete:3", kBound}, {"RecordChangeComplete:3", kBound + 1},
                 {"RecordChangeComplete:3", -1},     {"WillMove", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.hook) + " " + std::to_string(c.stamps));
        Fixture f;
        f.rs->NameEditsForErrors([](const std::vector<FieldDesc>& fields, const rt::Variant* row) {
            return "row ID " + rt::CStr(row[0]) + " of " + fields[1].name;
        });
        int stamps = 0;
        f.rec->hook[c.hook] = [&](const RecordsetPtr& rs) {
            if (c.stamps < 0 || stamps < c.stamps) rs->SetValue("VAL", rt::Variant(double(++stamps)));
        };
        f.rs->SetValue("NAME", rt::Variant("x"));
        const bool refused = c.stamps < 0 || c.stamps > kBound;
        rt::ComError error(0, "", "");
        try {
            f.rs->MoveNext();
        } catch (const rt::ComError& e) {
            error = e;
        }
        EXPECT_EQ(error.Number(), refused ? err::OperationCancelled : 0) << error.Description();
        f.rec->hook.clear();
        if (refused) {
            EXPECT_NE(error.Description().find("The edit of row ID 1 of NAME could not be ended"), std::string::npos);
            // On the row it edits, the last stamp open: the bound's, plus the one past it.
            EXPECT_EQ(rt::CLng(f.rs->GetValue("ID")), 1);
            EXPECT_EQ(f.rs->get_EditMode(), adEditInProgress);
            EXPECT_EQ(rt::CLng(f.rs->GetValue("VAL")), kBound + 1);
            f.rs->MoveNext();
        }
        EXPECT_EQ(rt::CLng(f.rs->GetValue("ID")), 2);
        EXPECT_EQ(f.rs->get_EditMode(), adEditNone);
        EXPECT_EQ(rt::CLng(f.rs->GetValue("VAL")), 2);
        f.rs->MoveFirst();
        EXPECT_EQ(Text(f.rs->GetValue("NAME")), "x");
        EXPECT_EQ(rt::CLng(f.rs->GetValue("VAL")), refused ? kBound + 1 : c.stamps);
    }
}

TEST(RecordsetEvents, DeleteRaisesRecordEventsWhileTheRowCanStillBeRead) {
    Fixture f;
    f.rs->MoveNext();
    f.rec->log.clear();
    std::string seenInWill;
    f.rec->hook["WillChangeRecord:2"] = [&](const RecordsetPtr& rs) {
        // A clone moved to the row being deleted, as a handler may do.
        auto clone = rs->Clone();
        clone->put_Bookmark(rs->get_Bookmark());
        seenInWill = rt::CStr(clone->GetValue("NAME")) + "/" + std::to_string(clone->get_RecordCount());
    };
    f.rs->Delete();
    EXPECT_EQ(f.rec->log, (Log{"WillChangeRecord(2,1)", "RecordChangeComplete(2,1,1)"}));
    EXPECT_EQ(seenInWill, "two/3");
    EXPECT_EQ(f.rs->get_RecordCount(), 2);
}

TEST(RecordsetEvents, CancelledFieldChangeFailsInTheCallerAndKeepsTheValue) {
    Fixture f;
    f.rec->answer["WillChangeField"] = adStatusCancel;
    EXPECT_EQ(ErrorOf([&] { f.rs->SetValue("NAME", rt::Variant("x")); }), err::OperationCancelled);
    EXPECT_EQ(rt::CStr(f.rs->GetValue("NAME")), "one");
    EXPECT_EQ(f.rs->get_EditMode(), adEditNone);
    EXPECT_EQ(f.rec->log, (Log{"WillChangeField(1,NAME)",
                               "FieldChangeComplete(1,NAME,2,err" + std::to_string(err::OperationCancelled) + ")"}));
}

TEST(RecordsetEvents, CancelledFirstChangeStartsNoEdit) {
    Fixture f;
    f.rec->answer["WillChangeRecord:11"] = adStatusCancel;
    EXPECT_EQ(ErrorOf([&] { f.rs->SetValue("NAME", rt::Variant("x")); }), err::OperationCancelled);
    EXPECT_EQ(rt::CStr(f.rs->GetValue("NAME")), "one");
    EXPECT_EQ(f.rs->get_EditMode(), adEditNone);
    EXPECT_TRUE(f.rs->PendingRows().empty());
    EXPECT_EQ(f.rec->log, (Log{"WillChangeField(1,NAME)", "WillChangeRecord(11,1)",
                               "FieldChangeComplete(1,NAME,2,err" + std::to_string(err::OperationCancelled) + ")",
                               "RecordChangeComplete(11,1,2,err)"}));
}

TEST(RecordsetEvents, CancelledDeleteAddNewUpdateAndMoveChangeNothing) {
    Fixture f;
    f.rec->answer["WillChangeRecord:2"] = adStatusCancel;
    EXPECT_EQ(ErrorOf([&] { f.rs->Delete(); }), err::OperationCancelled);
    EXPECT_EQ(f.rs->get_RecordCount(), 3);
    EXPECT_EQ(f.rec->log.back(), "RecordChangeComplete(2,1,2,err)");

    f.rec->answer["WillChangeRecord:1"] = adStatusCancel;
    EXPECT_EQ(ErrorOf([&] { f.rs->AddNew(); }), err::OperationCancelled);
    EXPECT_EQ(f.rs->get_RecordCount(), 3);
    EXPECT_EQ(f.rs->get_EditMode(), adEditNone);

    f.rec->answer["WillChangeRecord:3"] = adStatusCancel;
    f.rs->SetValue("NAME", rt::Variant("x"));
    EXPECT_EQ(ErrorOf([&] { f.rs->Update(); }), err::OperationCancelled);
    EXPECT_EQ(f.rs->get_EditMode(), adEditInProgress);  // the edit stays open
    // The implicit Update of a move is refused too, so the cursor stays.
    EXPECT_EQ(ErrorOf([&] { f.rs->MoveNext(); }), err::OperationCancelled);
    EXPECT_EQ(rt::CLng(f.rs->GetValue("ID")), 1);
    f.rs->CancelUpdate();
    EXPECT_EQ(rt::CStr(f.rs->GetValue("NAME")), "one");

    f.rec->answer["WillMove"] = adStatusCancel;
    EXPECT_EQ(ErrorOf([&] { f.rs->MoveLast(); }), err::OperationCancelled);
    EXPECT_EQ(rt::CLng(f.rs->GetValue("ID")), 1);
    EXPECT_EQ(f.rec->log.back(), "MoveComplete(15,2)");
    EXPECT_TRUE(f.rs->PendingRows().empty());
}

TEST(RecordsetEvents, EventsFireOnlyOnTheRecordsetThatWasCalled) {
    Fixture f;
    auto clone = f.rs->Clone();
    clone->MoveNext();
    clone->SetValue("NAME", rt::Variant("x"));
    clone->Update();
    clone->Delete();
    EXPECT_TRUE(f.rec->log.empty());
    auto other = std::make_shared<Recorder>();
    clone->Advise(other);
    clone->MoveFirst();
    EXPECT_EQ(other->log, (Log{"WillMove(12)", "MoveComplete(12,1)"}));
    EXPECT_TRUE(f.rec->log.empty());
}

TEST(RecordsetEvents, HandlersMayWriteIntoTheRowBeingAdded) {
    Fixture f;
    f.rec->hook["RecordChangeComplete:1"] = [&](const RecordsetPtr& rs) {
        rs->SetValue("NAME", rt::Variant("default"));
        rs->SetValue("VAL", rt::Variant(int32_t{0}));
    };
    f.rs->AddNew();
    EXPECT_EQ(rt::CStr(f.rs->GetValue("NAME")), "default");
    EXPECT_EQ(f.rec->log, (Log{"WillMove(10)", "WillChangeRecord(1,1)", "RecordChangeComplete(1,1,1)",
                               "WillChangeField(1,NAME)", "FieldChangeComplete(1,NAME,1)", "WillChangeField(1,VAL)",
                               "FieldChangeComplete(1,VAL,1)", "MoveComplete(10,1)"}));
    f.rs->Update();
    EXPECT_EQ(f.rs->PendingRows().size(), 1u);
}

TEST(RecordsetEvents, HandlerMayMoveTheRecordsetAfterADelete) {
    Fixture f;
    f.rs->put_Filter(rt::Variant("ID = 3"));
    f.rec->log.clear();
    f.rec->hook["RecordChangeComplete:2"] = [&](const RecordsetPtr& rs) {
        if (!rs->get_BOF()) rs->MovePrevious();
    };
    f.rs->Delete();
    EXPECT_TRUE(f.rs->get_BOF());
    // The handler's move is nested inside the delete's Complete event.
    EXPECT_EQ(f.rec->log, (Log{"WillChangeRecord(2,1)", "RecordChangeComplete(2,1,1)", "WillMove(14)",
                               "MoveComplete(14,1)"}));
}

TEST(RecordsetEvents, SeveralSinksHearEveryEventInAdviseOrder) {
    Fixture f;
    auto second = std::make_shared<Recorder>();
    second->tag = "2:";
    f.rec->tag = "1:";
    Log shared;
    f.rec->hook["WillMove"] = [&](const RecordsetPtr&) { shared.push_back("first"); };
    second->hook["WillMove"] = [&](const RecordsetPtr&) { shared.push_back("second"); };
    int32_t cookie = f.rs->Advise(second);
    f.rs->MoveNext();
    EXPECT_EQ(shared, (Log{"first", "second"}));
    EXPECT_EQ(second->log, (Log{"2:WillMove(13)", "2:MoveComplete(13,1)"}));
    // A cancel by the first stops the operation; both hear that it failed.
    f.rec->answer["WillMove"] = adStatusCancel;
    EXPECT_EQ(ErrorOf([&] { f.rs->MoveNext(); }), err::OperationCancelled);
    EXPECT_EQ(second->log.back(), "2:MoveComplete(13,2)");
    f.rec->answer.clear();
    f.rs->Unadvise(cookie);
    second->log.clear();
    f.rs->MoveNext();
    EXPECT_TRUE(second->log.empty());
}

TEST(RecordsetEvents, SinksAreHeldWeaklyAndUnwantedEventsStop) {
    auto rs = MakeRecordset({{1, "a", 1}, {2, "b", 2}, {3, "c", 3}});
    auto rec = std::make_shared<Recorder>();
    rs->Advise(rec);
    rec->answer["MoveComplete"] = adStatusUnwantedEvent;
    rs->MoveNext();
    rs->MoveNext();
    EXPECT_EQ(rec->log, (Log{"WillMove(13)", "MoveComplete(13,1)", "WillMove(13)"}));
    std::weak_ptr<Recorder> weak = rec;
    rec.reset();
    EXPECT_TRUE(weak.expired());  // the recordset did not keep the sink alive
    rs->MoveFirst();
}

// A sink without a handler for an event declines it by default: the
// recordset asks it once per reason, while a sink with a handler beside it
// still hears every one, in order.
TEST(RecordsetEvents, AnEventWithoutHandlerIsDeclinedAfterItsFirstFiring) {
    struct MovesOnly : RecordsetEvents {
        int willMoves = 0;
        std::vector<std::string> log;
        void WillMove(EventReasonEnum r, EventStatusEnum& st, const RecordsetPtr& rs) override {
            ++willMoves;
            RecordsetEvents::WillMove(r, st, rs);  // as if there were no handler
        }
        void MoveComplete(EventReasonEnum r, const rt::ComError*, EventStatusEnum&, const RecordsetPtr&) override {
            log.push_back("MoveComplete(" + std::to_string(r) + ")");
        }
    };
    auto rs = MakeRecordset({{1, "a", 1}, {2, "b", 2}, {3, "c", 3}});
    auto sink = std::make_shared<MovesOnly>();
    auto rec = std::make_shared<Recorder>();
    rs->Advise(sink);
    rs->Advise(rec);
    rs->MoveNext();
    rs->MoveNext();
    rs->MoveFirst();
    EXPECT_EQ(sink->willMoves, 2);  // once for MoveNext, once for MoveFirst
    EXPECT_EQ(sink->log, (Log{"MoveComplete(13)", "MoveComplete(13)", "MoveComplete(12)"}));
    EXPECT_EQ(rec->log, (Log{"WillMove(13)", "MoveComplete(13,1)", "WillMove(13)", "MoveComplete(13,1)",
                             "WillMove(12)", "MoveComplete(12,1)"}));
}

TEST(RecordsetEvents, AFailingHandlerDoesNotFailTheOperation) {
    Fixture f;
    f.rec->hook["WillChangeField"] = [](const RecordsetPtr&) { throw rt::ComError(5, "sink", "boom"); };
    f.rs->SetValue("NAME", rt::Variant("x"));
    EXPECT_EQ(rt::CStr(f.rs->GetValue("NAME")), "x");
}

TEST(RecordsetEvents, CloseRaisesRecordsetEvents) {
    Fixture f;
    f.rs->Close();
    EXPECT_EQ(f.rec->log, (Log{"WillChangeRecordset(9)", "RecordsetChangeComplete(9,1)"}));
}

namespace {

// A sink that keys new rows the way an editing component does: the next
// instance number comes from a filtered clone of the recordset raising the
// event, and is written back from inside the events.
class KeyingSink : public RecordsetEvents {
public:
    int32_t nextCid = -1;
    bool writing = false;
    static int32_t MaxCid(const RecordsetPtr& clone) {
        int32_t max = 0;
        if (clone->get_BOF() && clone->get_EOF()) return 0;
        clone->MoveFirst();
        while (!clone->get_EOF()) {
            rt::Variant v = clone->GetValue("CID");
            if (!v.IsNull()) max = std::max(max, rt::CLng(v));
            clone->MoveNext();
        }
        return max;
    }
    void WillChangeRecord(EventReasonEnum r, int32_t, EventStatusEnum&, const RecordsetPtr& rs) override {
        if (r != adRsnAddNew) return;
        auto clone = rs->Clone(adLockUnspecified);
        clone->put_Filter(rt::Variant("FID = 10"));
        nextCid = MaxCid(clone) + 1;
    }
    void RecordChangeComplete(EventReasonEnum r, int32_t, const rt::ComError*, EventStatusEnum&,
                              const RecordsetPtr& rs) override {
        if (r != adRsnAddNew) return;
        writing = true;
        rs->SetValue("FID", rt::Variant(int32_t{10}));
        rs->SetValue("CID", rt::Variant(nextCid));
        writing = false;
    }
    void FieldChangeComplete(int32_t n, const FieldList& fields, const rt::ComError* e, EventStatusEnum&,
                             const RecordsetPtr& rs) override {
        if (e || writing) return;
        for (int32_t i = 0; i < n; ++i) {
            if (fields[static_cast<size_t>(i)]->get_Name() != "FID") continue;
            auto clone = rs->Clone(adLockUnspecified);
            clone->put_Filter(rt::Variant("FID = " + rt::CStr(fields[static_cast<size_t>(i)]->get_Value())));
            writing = true;
            rs->SetValue("CID", rt::Variant(MaxCid(clone) + 1));
            writing = false;
        }
    }
};

}  // namespace

TEST(RecordsetEvents, HandlersKeyNewRowsThroughClonesOfTheRecordset) {
    RecordsetImage image;
    image.fields = {FieldDesc{"FID", adInteger, 4, 10, 0, 0, "T", "FID"},
                    FieldDesc{"CID", adInteger, 4, 10, 0, adFldIsNullable, "T", "CID"}};
    for (auto [fid, cid] : {std::pair{10, 1}, {10, 3}, {11, 7}}) {
        image.values.push_back(rt::Variant(int32_t{fid}));
        image.values.push_back(rt::Variant(int32_t{cid}));
    }
    auto rs = Recordset::FromImage(image);
    auto sink = std::make_shared<KeyingSink>();
    rs->Advise(sink);
    rs->AddNew();
    EXPECT_EQ(rs->GetValue("CID").I4(), 4);
    rs->AddNew();  // the first new row is updated and counts for the next key
    EXPECT_EQ(rs->GetValue("CID").I4(), 5);
    rs->SetValue("FID", rt::Variant(int32_t{11}));
    EXPECT_EQ(rs->GetValue("CID").I4(), 8);
    rs->Update();
    auto pending = rs->PendingRows();
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_EQ(pending[0].current[1].I4(), 4);
    EXPECT_EQ(pending[1].current[0].I4(), 11);
    EXPECT_EQ(pending[1].current[1].I4(), 8);
}
