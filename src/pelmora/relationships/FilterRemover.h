#pragma once
// Removes a recordset's filter when the scope ends, also when the scope ends
// by an error: the relationship service's tables carry no filter between
// calls, and a filter left behind by a failed call would hide rows from the
// next one.
#include <memory>

#include "ado/Enums.h"
#include "ado/Recordset.h"

namespace pelmora {

class FilterRemover {
public:
    explicit FilterRemover(std::shared_ptr<ado::Recordset> recordset) : recordset_(std::move(recordset)) {}
    ~FilterRemover() {
        try {
            recordset_->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
        } catch (...) {
        }
    }
    FilterRemover(const FilterRemover&) = delete;
    FilterRemover& operator=(const FilterRemover&) = delete;

private:
    std::shared_ptr<ado::Recordset> recordset_;
};

}  // namespace pelmora
