#pragma once
// A creatable collection of ADO recordsets, in the order of adding.
#include <memory>
#include <vector>

#include "interfaces/IRecordsets.h"
#include "runtime/Object.h"

namespace pelmora {

class Recordsets : public rt::Object, public IRecordsets {
public:
    void Add(const std::shared_ptr<ado::Recordset>& Recordset) override;
    std::shared_ptr<ado::Recordset> get_Item(int16_t Index) override;
    void Remove(int16_t Index) override;
    void Clear() override { items_.clear(); }
    std::vector<std::shared_ptr<ado::Recordset>> get_NewEnum() override { return items_; }
    int16_t get_Count() override;

    std::string TypeName() const override { return "Recordsets"; }

private:
    size_t Position(int16_t index) const;
    std::vector<std::shared_ptr<ado::Recordset>> items_;
};

}  // namespace pelmora
