// Filter and Find answered through the criteria indexes against a plain scan
// with FilterCriteria::Matches, over random rows of mixed types and random
// edits through every path that writes values.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "ado/CriteriaIndex.h"
#include "ado/FilterCriteria.h"
#include "ado/Recordset.h"
#include "runtime/Vb.h"

using rt::Variant;

namespace {

// Values that meet every class a criteria literal converts to: texts in
// several letter cases, numbers written as text, dates, Booleans, Null.
std::vector<Variant> Domain() {
    return {Variant::Null(), Variant(),  Variant("alpha"), Variant("ALPHA"), Variant("Alpha "), Variant("b"),
            Variant(""),     Variant("12"), Variant("1E+20"), Variant("Ärger"), Variant("ärger"), Variant("True"),
            Variant(int32_t{12}), Variant(12.0), Variant(int16_t{-1}), Variant(0.5), Variant(1e20),
            Variant(true), Variant(false), Variant::Date(12.0), Variant::Date(-1.25), Variant::Date(-1.75), Variant::Date(40000.5)};
}

const char* const kCriteria[] = {
    "MIX = 'alpha'", "MIX = 12", "MIX = '12'", "MIX > 'b'", "MIX <= 12", "MIX >= #1/11/1900#", "MIX < 0",
    "MIX > #12/29/1899 12:00:00 PM#", "MIX = Null", "MIX <> Null", "MIX = 'True'", "MIX = -1", "MIX > '1'", "MIX <> 'alpha'", "MIX LIKE 'al*'",
    "NAME = 'ALPHA'", "NAME >= 'alpha'", "NAME < 'Ärger'", "VAL = 12", "VAL > 0.5", "VAL <= 12 AND NAME = 'b'",
    "MIX = 12 OR NAME = 'b'", "MIX = 12 OR NAME LIKE 'b*'", "(VAL = 12 AND MIX = 'alpha') OR MIX = Null",
    "ID > 250 AND MIX > 0", "VAL = Null OR NAME = 'b'",
};

bool Compound(const std::string& criteria) {
    return criteria.find(" AND ") != std::string::npos || criteria.find(" OR ") != std::string::npos;
}

ado::RecordsetPtr RandomRecordset(std::mt19937& rng, int rows) {
    const auto domain = Domain();
    std::uniform_int_distribution<size_t> pick(0, domain.size() - 1);
    ado::RecordsetImage image;
    image.fields = {{"ID", ado::adInteger, 4, 10, 0, ado::adFldFixed, "T", "ID"},
                    {"NAME", ado::adVarWChar, 50, 0, 0, ado::adFldIsNullable, "T", "NAME"},
                    {"VAL", ado::adDouble, 8, 15, 0, ado::adFldIsNullable, "T", "VAL"},
                    {"MIX", ado::adVariant, 16, 0, 0, ado::adFldIsNullable, "T", "MIX"}};
    for (int i = 0; i < rows; ++i) {
        Variant name = domain[pick(rng)], val = domain[pick(rng)];
        image.values.push_back(Variant(int32_t{i}));
        image.values.push_back(name.IsString() || name.IsNull() ? name : Variant(rt::CStr(name)));
        image.values.push_back(val.IsNumericType() ? Variant(rt::CDbl(val)) : Variant::Null());
        image.values.push_back(domain[pick(rng)]);
    }
    return ado::Recordset::FromImage(std::move(image), ado::adLockBatchOptimistic, ado::adOpenKeyset);
}

std::vector<double> Bookmarks(const ado::RecordsetPtr& rs) {
    std::vector<double> out;
    if (rs->get_BOF() && rs->get_EOF()) return out;
    for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) out.push_back(rt::CDbl(rs->get_Bookmark()));
    return out;
}

// The rows a scan of every visible row finds.
std::vector<double> Scanned(const ado::RecordsetPtr& family, const std::string& criteria) {
    auto all = family->Clone();
    auto f = ado::FilterCriteria::Parse(criteria);
    f.Bind([&](const std::string& name) { return all->FieldIndex(name); });
    std::vector<double> out;
    if (all->get_BOF() && all->get_EOF()) return out;
    for (all->MoveFirst(); !all->get_EOF(); all->MoveNext())
        if (f.Matches(all->CurrentRowValues())) out.push_back(rt::CDbl(all->get_Bookmark()));
    return out;
}

// One random write through the family: the recordset or a clone of it.
void RandomEdit(std::mt19937& rng, const ado::RecordsetPtr& rs, const ado::RecordsetPtr& clone) {
    const auto domain = Domain();
    std::uniform_int_distribution<size_t> pick(0, domain.size() - 1);
    auto target = rng() % 3 == 0 ? clone : rs;
    auto toRandomRow = [&] {
        int32_t count = target->get_RecordCount();
        if (count == 0) return false;
        target->MoveFirst();
        target->Move(static_cast<int32_t>(rng() % static_cast<uint32_t>(count)));
        return true;
    };
    switch (rng() % 9) {
        case 0:
        case 1:  // change, kept pending
            if (!toRandomRow()) break;
            target->SetValue(Variant("MIX"), domain[pick(rng)]);
            if (rng() % 2) target->SetValue(Variant("VAL"), Variant(static_cast<double>(rng() % 20)));
            target->Update();
            break;
        case 2:  // add
            target->AddNew();
            target->SetValue(Variant("ID"), Variant(static_cast<int32_t>(1000 + rng() % 1000)));
            target->SetValue(Variant("MIX"), domain[pick(rng)]);
            if (rng() % 2) target->SetValue(Variant("NAME"), Variant("b"));
            target->Update();
            break;
        case 3:  // an edit taken back before Update, an added row too
            if (rng() % 2) {
                target->AddNew();
                target->SetValue(Variant("MIX"), domain[pick(rng)]);
            } else {
                if (!toRandomRow()) break;
                target->SetValue(Variant("MIX"), domain[pick(rng)]);
            }
            target->CancelUpdate();
            break;
        case 4:  // a pending change taken back
            if (!toRandomRow()) break;
            target->SetValue(Variant("NAME"), Variant("alpha"));
            target->Update();
            target->CancelUpdate();
            break;
        case 5:
            if (toRandomRow()) target->Delete();
            break;
        case 6:
            if (rng() % 4 == 0) target->UpdateBatch();
            break;
        case 7:
            if (rng() % 4 == 0) target->CancelBatch();
            break;
        case 8:  // an edit left open while the family is queried
            if (!toRandomRow()) break;
            target->SetValue(Variant("MIX"), domain[pick(rng)]);
            break;
    }
}

}  // namespace

TEST(RecordsetCriteriaIndex, IndexedAnswersEqualScannedOnesThroughRandomEdits) {
    for (unsigned seed : {1u, 2u, 3u}) {
        std::mt19937 rng(seed);
        auto rs = RandomRecordset(rng, 2 * ado::CriteriaIndex::kMinRows + 50);
        auto clone = rs->Clone();
        for (int step = 0; step < 300; ++step) {
            RandomEdit(rng, rs, clone);
            const std::string criteria = kCriteria[rng() % std::size(kCriteria)];
            const auto expected = Scanned(rs, criteria);
            auto filtered = rs->Clone();
            filtered->put_Filter(Variant(criteria));
            ASSERT_EQ(Bookmarks(filtered), expected) << "seed " << seed << ", step " << step << ": " << criteria;

            // Find from both ends. Find takes one clause: a compound
            // criterion becomes the finder's Filter instead, and Find looks
            // for a clause within that view, which the index did not make.
            auto finder = rs->Clone();
            std::string clause = criteria;
            std::vector<double> found = expected, visible = expected;
            if (Compound(criteria)) {
                finder->put_Filter(Variant(criteria));
                do clause = kCriteria[rng() % std::size(kCriteria)];
                while (Compound(clause));
                const auto matching = Scanned(rs, clause);
                std::erase_if(found, [&](double b) { return !std::binary_search(matching.begin(), matching.end(), b); });
            } else {
                visible = Bookmarks(rs->Clone());
            }
            if (finder->get_BOF() && finder->get_EOF()) continue;
            finder->MoveFirst();
            finder->Find(clause);
            Variant first = finder->get_EOF() ? Variant() : finder->get_Bookmark();
            EXPECT_EQ(first.IsEmpty() ? -1.0 : rt::CDbl(first), found.empty() ? -1.0 : found.front())
                << "seed " << seed << ", step " << step << ": " << criteria << ", Find " << clause;
            finder->MoveLast();
            finder->Find(clause, 1, ado::adSearchBackward);
            std::vector<double> before(found.begin(), found.end());
            while (!before.empty() && before.back() >= visible.back()) before.pop_back();
            EXPECT_EQ(finder->get_BOF() ? -1.0 : rt::CDbl(finder->get_Bookmark()), before.empty() ? -1.0 : before.back())
                << "seed " << seed << ", step " << step << ": " << criteria << ", Find backward " << clause;
        }
    }
}

TEST(RecordsetCriteriaIndex, AFieldIndexFindsEveryRowThroughManyAdditionsAndRemovalsAndSweepsTheRemoved) {
    // Rows come and go far past the unsorted run and the sweep; every live
    // row in the relation is found, and rows taken out do not pile up.
    std::mt19937 rng(7);
    ado::FieldIndex index;
    std::vector<std::pair<int32_t, int32_t>> live;  // row, value
    for (int32_t row = 0; row < 200; ++row) {
        live.emplace_back(row, static_cast<int32_t>(rng() % 50));
        index.Fill(row, Variant(live.back().second));
    }
    index.Seal();
    using Op = ado::CriteriaProbe::Op;
    const std::pair<Op, bool (*)(int32_t, int32_t)> relations[] = {
        {Op::Eq, [](int32_t v, int32_t l) { return v == l; }}, {Op::Lt, [](int32_t v, int32_t l) { return v < l; }},
        {Op::Le, [](int32_t v, int32_t l) { return v <= l; }}, {Op::Gt, [](int32_t v, int32_t l) { return v > l; }},
        {Op::Ge, [](int32_t v, int32_t l) { return v >= l; }},
    };
    int32_t next = 200;
    for (int step = 0; step < 3000; ++step) {
        if (rng() % 2 && !live.empty()) {
            const size_t at = rng() % live.size();
            index.Erase(live[at].first, Variant(live[at].second));
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(at));
        } else {
            live.emplace_back(next++, static_cast<int32_t>(rng() % 50));
            index.Insert(live.back().first, Variant(live.back().second));
        }
        if (step % 100 != 0) continue;
        for (auto [op, holds] : relations)
            for (int32_t literal : {0, 17, 49}) {
                ado::CriteriaProbe probe;
                probe.op = op;
                probe.hasNumber = true;
                probe.number = literal;
                std::vector<int32_t> rows;
                index.Collect(probe, rows);
                std::sort(rows.begin(), rows.end());
                for (auto [row, value] : live) {
                    if (holds(value, literal)) {
                        ASSERT_TRUE(std::binary_search(rows.begin(), rows.end(), row)) << step << " " << row;
                    }
                }
                EXPECT_LE(rows.size(), 2 * live.size() + 65) << step;
            }
    }
}
