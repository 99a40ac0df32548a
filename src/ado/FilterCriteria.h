#pragma once
// ADO's filter criteria: "Field op Value [AND|OR ...]" with ADO's grouping
// rule, parsed once and evaluated per row.
#include <functional>
#include <memory>
#include <string>

#include "runtime/Variant.h"

namespace ado {

class FilterCriteria {
public:
    // Raises ComError(err::InvalidArgument) for text ADO would refuse.
    static FilterCriteria Parse(const std::string& text);

    // Resolves field names to indices; fieldIndexOf returns -1 for an unknown
    // name, which raises ComError(err::ItemNotFound).
    void Bind(const std::function<int(const std::string&)>& fieldIndexOf);

    // True when the row (its values by field index) satisfies the criteria.
    bool Matches(const rt::Variant* rowValues) const;

    FilterCriteria(FilterCriteria&&) noexcept;
    FilterCriteria& operator=(FilterCriteria&&) noexcept;
    ~FilterCriteria();

    struct Node;  // the parsed expression (implementation detail)

private:
    FilterCriteria();
    std::unique_ptr<Node> root_;
};

}  // namespace ado
