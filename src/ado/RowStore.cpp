#include "ado/RowStore.h"

namespace ado {

namespace {
std::string Lower(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}
}  // namespace

void RowStore::SetFields(std::vector<FieldDesc> descs) {
    fields = std::move(descs);
    width = fields.size();
    index.clear();
    // The first of two fields with one name wins, as a lookup by name finds it.
    for (size_t i = 0; i < fields.size(); ++i) index.emplace(Lower(fields[i].name), static_cast<int32_t>(i));
}

int32_t RowStore::AddRow() {
    values.resize(values.size() + width, newRowValue);
    meta.push_back(Meta{adRecNew, -1, false});
    ++version;
    return RowCount() - 1;
}

int32_t RowStore::FieldIndex(const std::string& name) const {
    auto it = index.find(Lower(name));
    return it == index.end() ? -1 : it->second;
}

}  // namespace ado
