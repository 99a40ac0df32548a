#pragma once
// The collection of ADO recordsets the product's components exchange.
#include <cstdint>
#include <memory>
#include <vector>

namespace ado {
class Recordset;
}

namespace pelmora {

class IRecordsets {
public:
    virtual ~IRecordsets() = default;
    // Raises 6 above 32,767 recordsets.
    virtual int16_t get_Count() = 0;
    // Index counted from 1; raises 9 outside 1..Count.
    virtual std::shared_ptr<ado::Recordset> get_Item(int16_t Index) = 0;
    // The recordsets in order; the copy keeps running over those it started with.
    virtual std::vector<std::shared_ptr<ado::Recordset>> get_NewEnum() = 0;
    virtual void Add(const std::shared_ptr<ado::Recordset>& Recordset) = 0;
    // Index counted from 1; the ones after it move up. Raises 9 outside 1..Count.
    virtual void Remove(int16_t Index) = 0;
    virtual void Clear() = 0;
};

}  // namespace pelmora
