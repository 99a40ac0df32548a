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
    ++valuesVersion;
}

int32_t RowStore::AddRow() {
    values.resize(values.size() + width, newRowValue);
    meta.push_back(Meta{adRecNew, -1, false});
    ++version;
    ++valuesVersion;
    return RowCount() - 1;
}

const std::vector<int32_t>* RowStore::RowsHoldingNumber(int32_t field, double number) {
    if (field < 0 || static_cast<size_t>(field) >= width) return nullptr;
    NumberIndex& ix = numberIndexes[field];
    if (ix.valuesVersion != valuesVersion) {
        ix.rows.clear();
        ix.usable = true;
        ix.valuesVersion = valuesVersion;
        for (int32_t r = 0; r < RowCount() && ix.usable; ++r) {
            const rt::Variant& v = Row(r)[field];
            double x = 0;
            switch (v.Type()) {
                case rt::vbNull:
                case rt::vbEmpty: continue;
                case rt::vbInteger: x = v.I2(); break;
                case rt::vbLong: x = v.I4(); break;
                case rt::vbSingle:
                case rt::vbDouble: x = v.R8(); break;
                case rt::vbDecimal: x = v.Dec().ToDouble(); break;
                case rt::vbByte: x = v.Byte(); break;
                default: ix.usable = false; continue;
            }
            if (x != x) continue;  // NaN equals nothing
            ix.rows[x].push_back(r);
        }
        if (!ix.usable) ix.rows.clear();
    }
    if (!ix.usable) return nullptr;
    static const std::vector<int32_t> none;
    auto it = ix.rows.find(number);
    return it == ix.rows.end() ? &none : &it->second;
}

int32_t RowStore::FieldIndex(const std::string& name) const {
    auto it = index.find(Lower(name));
    return it == index.end() ? -1 : it->second;
}

}  // namespace ado
