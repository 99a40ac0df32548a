#include "pelmora/common/Recordsets.h"

#include "ado/Recordset.h"
#include "runtime/Error.h"

namespace pelmora {

void Recordsets::Add(const std::shared_ptr<ado::Recordset>& Recordset) { items_.push_back(Recordset); }

size_t Recordsets::Position(int16_t index) const {
    if (index < 1 || static_cast<size_t>(index) > items_.size()) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange);
    return static_cast<size_t>(index - 1);
}

std::shared_ptr<ado::Recordset> Recordsets::get_Item(int16_t Index) { return items_[Position(Index)]; }

void Recordsets::Remove(int16_t Index) { items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(Position(Index))); }

int16_t Recordsets::get_Count() {
    if (items_.size() > 32767) rt::RaiseVbError(rt::vberr::Overflow);
    return static_cast<int16_t>(items_.size());
}

}  // namespace pelmora
