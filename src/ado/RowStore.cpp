#include "ado/RowStore.h"

#include <algorithm>
#include <iterator>

#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace ado {

namespace {
constexpr size_t kWalkedFields = 16;
}  // namespace

void RowStore::SetFields(std::vector<FieldDesc> descs) {
    fields = std::move(descs);
    width = fields.size();
    ++assignments;
    index.clear();
    // The first of two fields with one name wins, as a lookup by name finds it.
    for (size_t i = 0; i < fields.size(); ++i) index.emplace(rt::FoldAsciiText(fields[i].name), static_cast<int32_t>(i));
    criteriaIndex.Clear();
}

int32_t RowStore::AddRow() {
    values.resize(values.size() + width, newRowValue);
    meta.push_back(Meta{adRecNew, -1, false});
    ++version;
    int32_t row = RowCount() - 1;
    if (!criteriaIndex.Empty())
        for (size_t f = 0; f < width; ++f) criteriaIndex.Insert(row, f, newRowValue);
    return row;
}

void RowStore::Reserve(size_t rows) {
    // Doubled as often as adding the rows one by one would double it, so
    // that rows added after them find room as they would have.
    auto grow = [](auto& v, size_t need, size_t step) {
        size_t room = std::max(v.capacity(), step);
        while (room < need) room *= 2;
        v.reserve(room);
    };
    grow(values, values.size() + rows * width, std::max<size_t>(width, 1));
    grow(meta, meta.size() + rows, 1);
}

int32_t RowStore::AddRow(rt::Variant* from) {
    values.insert(values.end(), std::make_move_iterator(from), std::make_move_iterator(from + width));
    meta.push_back(Meta{adRecNew, -1, false});
    ++version;
    assignments += width;
    const int32_t row = RowCount() - 1;
    if (!criteriaIndex.Empty())
        for (size_t f = 0; f < width; ++f) criteriaIndex.Insert(row, f, values[static_cast<size_t>(row) * width + f]);
    return row;
}

void RowStore::Assign(int32_t row, size_t field, rt::Variant value) {
    rt::Variant& slot = values[static_cast<size_t>(row) * width + field];
    ++assignments;
    if (!adding.empty()) ++addingChanges;
    if (criteriaIndex.Empty()) {
        slot = std::move(value);
        return;
    }
    criteriaIndex.Erase(row, field, slot);
    slot = std::move(value);
    criteriaIndex.Insert(row, field, slot);
}

void RowStore::AssignRow(int32_t row, const rt::Variant* from) {
    for (size_t f = 0; f < width; ++f) Assign(row, f, from[f]);
}

int32_t RowStore::FieldIndex(const std::string& name) const {
    // A few fields are walked where they lie, one block, rather than through
    // the table's nodes, which lie apart: the rows of many small components
    // (a cache scan) are seldom in the processor's cache.
    if (fields.size() <= kWalkedFields) {
        for (size_t i = 0; i < fields.size(); ++i)
            if (rt::NamesEqual(fields[i].name, name)) return static_cast<int32_t>(i);
        return -1;
    }
    auto it = index.find(rt::FoldAsciiText(name));
    return it == index.end() ? -1 : it->second;
}

void RaiseNoSuchField(const std::string& rowsName, const std::string& name, const char* source) {
    std::string text = "Item cannot be found in the collection corresponding to the requested name or ordinal.";
    if (!rowsName.empty()) text += " The " + rowsName + " has no column " + name + ".";
    throw rt::ComError(err::ItemNotFound, source, text);
}

}  // namespace ado
