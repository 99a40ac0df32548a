#pragma once
// ADO's filter criteria: "Field op Value [AND|OR ...]" with ADO's grouping
// rule, parsed once and evaluated per row.
//
// Grammar (keywords in any letter case):
//   criteria := term { (AND | OR) term }      evaluated left to right
//   term     := "(" criteria ")" | clause
//   clause   := field op value
//   field    := name | "[" name with blanks "]"
//   op       := = | <> | < | > | <= | >= | LIKE
//   value    := 'text' ('' for a quote) | #date# | #other text# | number | Null
// AND and OR have no precedence: a group or run that holds an OR cannot be
// joined with AND ("(a OR b) AND c" and "a OR b AND c" are refused), so every
// accepted criteria is an OR of AND-runs. LIKE takes a text with '*' or '%'
// at the end or at both ends only. Null works with = and <> only.
//
// Texts compare without regard to letter case. A literal is converted to the
// type of the value it meets: a number against a text field compares as text,
// a text that reads as a number against a numeric field compares as a number.
// A literal that cannot be converted to a field's type is refused by the
// typed Bind (ComError(err::DataConversion)); Matches never raises for it and
// treats such a value as not matching.
#include <functional>
#include <memory>
#include <string>

#include <vector>

#include "ado/CriteriaIndex.h"
#include "ado/Enums.h"
#include "runtime/Variant.h"

namespace ado {

struct RowStore;

class FilterCriteria {
public:
    // Raises ComError(err::InvalidArgument) for text ADO would refuse.
    static FilterCriteria Parse(const std::string& text);
    // The criteria of Recordset.Find: one clause, no AND, OR or groups. Its
    // value may also stand unquoted: the rest of the text, blanks at its end
    // dropped, is a number when it reads whole as one, Null, or else a text
    // (apostrophes included); after LIKE always a text. A blank inside it is
    // refused, as by Filter.
    static FilterCriteria ParseFind(const std::string& text);

    // Resolves field names to indices; fieldIndexOf returns -1 for an unknown
    // name, which raises ComError(err::ItemNotFound).
    void Bind(const std::function<int(const std::string&)>& fieldIndexOf);
    // The same, and checks each literal against the ADO type of its field
    // (fieldTypeOf takes a field index): a literal that cannot be converted,
    // such as 'abc' for a numeric field, raises ComError(err::DataConversion)
    // here, when the filter is set, instead of silently matching nothing.
    void Bind(const std::function<int(const std::string&)>& fieldIndexOf,
              const std::function<DataTypeEnum(int)>& fieldTypeOf);

    // True when the row (its values by field index) satisfies the criteria.
    // Does not allocate. Raises ComError(err::IllegalOperation) before Bind,
    // nothing after it.
    bool Matches(const rt::Variant* rowValues) const;

    // The rows of the store that may match, in row order, from the store's
    // criteria indexes (built here on first use); false when the criteria
    // needs a scan: a clause that is not an equality or range (LIKE, <>),
    // an OR with such a clause, or a store too small to index. Rows that
    // are no longer visible are included; test each row with Matches.
    bool CandidateRows(RowStore& store, std::vector<int32_t>& rows) const;
    // How a field value orders for the indexes; the same classes and
    // conversions as Matches.
    static CriteriaKey KeyOf(const rt::Variant& value);

    FilterCriteria(FilterCriteria&&) noexcept;
    FilterCriteria& operator=(FilterCriteria&&) noexcept;
    ~FilterCriteria();

    struct Node;  // the parsed expression (implementation detail)

private:
    FilterCriteria();
    std::unique_ptr<Node> root_;
    bool bound_ = false;
};

}  // namespace ado
