// A long random run of batch edits checked step by step against a plain
// model of what every row should be: no row lost, none resurrected, every
// status and original value where it belongs.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>

#include "AdoTestUtil.h"

using namespace ado;

namespace {

struct ModelRow {
    double val;
    double original;
    int status;  // adRecUnmodified, adRecModified, adRecNew, adRecDeleted
};

std::vector<int32_t> VisibleIds(const std::map<int32_t, ModelRow>& model) {
    std::vector<int32_t> ids;
    for (const auto& [id, row] : model)
        if (row.status != adRecDeleted) ids.push_back(id);
    return ids;
}

}  // namespace

TEST(RecordsetModel, RandomBatchEditsMatchTheModel) {
    std::vector<adotest::Row> initial;
    std::map<int32_t, ModelRow> model;
    for (int32_t id = 1; id <= 20; ++id) {
        initial.push_back({id, "r" + std::to_string(id), static_cast<double>(id)});
        model[id] = {static_cast<double>(id), static_cast<double>(id), adRecUnmodified};
    }
    auto rs = adotest::MakeRecordset(initial);
    auto clone = rs->Clone();
    std::mt19937 rng(12345);
    int32_t nextId = 100;

    for (int step = 0; step < 600; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        auto visible = VisibleIds(model);
        int op = static_cast<int>(rng() % 20);
        if (op < 5 || visible.empty()) {
            int32_t id = nextId++;
            double val = static_cast<double>(rng() % 1000);
            rs->AddNew(rt::Variant::ArrayOf({rt::Variant("ID"), rt::Variant("VAL")}),
                       rt::Variant::ArrayOf({rt::Variant(id), rt::Variant(val)}));
            model[id] = {val, 0, adRecNew};
        } else if (op < 12) {
            int32_t id = visible[rng() % visible.size()];
            double val = static_cast<double>(rng() % 1000);
            rs->Find("ID = " + std::to_string(id), 0, adSearchForward, rt::Variant(int32_t{adBookmarkFirst}));
            ASSERT_FALSE(rs->get_EOF());
            rs->SetValue("VAL", rt::Variant(val));
            if (rng() % 2) rs->Update();  // otherwise the next move or AddNew updates it
            auto& row = model[id];
            if (row.status == adRecUnmodified) row.status = adRecModified;
            row.val = val;
        } else if (op < 17) {
            int32_t id = visible[rng() % visible.size()];
            // Delete through the clone as often as through the recordset.
            auto target = (rng() % 2) ? rs : clone;
            target->Find("ID = " + std::to_string(id), 0, adSearchForward, rt::Variant(int32_t{adBookmarkFirst}));
            ASSERT_FALSE(target->get_EOF());
            target->Delete();
            auto& row = model[id];
            if (row.status == adRecNew) model.erase(id);
            else row.status = adRecDeleted;
        } else if (op < 19) {
            rs->UpdateBatch();
            for (auto it = model.begin(); it != model.end();) {
                if (it->second.status == adRecDeleted) {
                    it = model.erase(it);
                    continue;
                }
                it->second.status = adRecUnmodified;
                it->second.original = it->second.val;
                ++it;
            }
        } else {
            rs->CancelBatch();
            for (auto it = model.begin(); it != model.end();) {
                if (it->second.status == adRecNew) {
                    it = model.erase(it);
                    continue;
                }
                if (it->second.status != adRecUnmodified) it->second.val = it->second.original;
                it->second.status = adRecUnmodified;
                ++it;
            }
        }

        // Both members of the family show exactly the model's visible rows.
        auto expected = VisibleIds(model);
        for (const auto& member : {rs, clone}) {
            auto ids = adotest::AllIds(member);
            std::sort(ids.begin(), ids.end());
            ASSERT_EQ(ids, expected);
            ASSERT_EQ(member->get_RecordCount(), static_cast<int32_t>(expected.size()));
        }
        // The pending rows carry the model's statuses and original values.
        size_t pendingInModel = 0;
        for (const auto& [id, row] : model) pendingInModel += row.status != adRecUnmodified;
        auto pending = clone->PendingRows();
        ASSERT_EQ(pending.size(), pendingInModel);
        for (const auto& p : pending) {
            int32_t id = rt::CLng(p.status == adRecDeleted ? p.original[0] : p.current[0]);
            const ModelRow& row = model.at(id);
            ASSERT_EQ(p.status, row.status) << "row " << id;
            if (row.status != adRecNew) {
                ASSERT_DOUBLE_EQ(rt::CDbl(p.original[2]), row.original) << "row " << id;
            }
            if (row.status != adRecDeleted) {
                ASSERT_DOUBLE_EQ(rt::CDbl(p.current[2]), row.val) << "row " << id;
            }
        }
    }
}

// A filter of one "field = number" clause finds its rows through an index of
// the shared rows; every way a value changes must reach it.
TEST(RecordsetModel, AnEqualityFilterSeesEveryChangeOfTheValues) {
    auto rs = adotest::MakeRecordset({{1, "a", 1}, {2, "b", 3}, {3, "c", 5}, {4, "d", 3}});
    auto clone = rs->Clone();
    auto threes = [&] {
        clone->put_Filter(rt::Variant("VAL = 3"));
        clone->MoveFirst();
        auto ids = adotest::IdsFromHere(clone);
        clone->put_Filter(rt::Variant(int32_t{adFilterNone}));
        return ids;
    };
    auto at = [&](int32_t id) { rs->Find("ID = " + std::to_string(id), 0, adSearchForward, rt::Variant(int32_t{adBookmarkFirst})); };
    struct Step {
        const char* what;
        std::function<void()> change;
        std::vector<int32_t> ids;
    } steps[] = {
        {"as loaded", [] {}, {2, 4}},
        {"a value set to 3", [&] { at(1); rs->SetValue("VAL", rt::Variant(3.0)); rs->Update(); }, {1, 2, 4}},
        {"a value set away from 3", [&] { at(4); rs->SetValue("VAL", rt::Variant(4.0)); rs->Update(); }, {1, 2}},
        {"a new row", [&] { rs->AddNew(rt::Variant::ArrayOf({rt::Variant("ID"), rt::Variant("VAL")}),
                                       rt::Variant::ArrayOf({rt::Variant(int32_t{9}), rt::Variant(3.0)})); }, {1, 2, 9}},
        {"an edit cancelled", [&] { at(3); rs->SetValue("VAL", rt::Variant(3.0)); rs->CancelUpdate(); }, {1, 2, 9}},
        {"a deleted row", [&] { at(2); rs->Delete(adAffectCurrent); }, {1, 9}},
        {"the batch cancelled", [&] { rs->CancelBatch(adAffectAll); }, {2, 4}},
    };
    for (const Step& s : steps) {
        s.change();
        EXPECT_EQ(threes(), s.ids) << s.what;
    }
}
