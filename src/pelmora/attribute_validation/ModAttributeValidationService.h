#pragma once
// The comparison side of attribute validation: the typed comparisons, the
// evaluators of one comparison rule, the value sets the set operators test
// against, the next free QTX_CID of a component, and the one routine that
// appends a failure to a pair of ValidationErrorArrays.
//
// A rule is one row of QTX_ATTRVAL_OPTABLE. The rule walks of
// AttributeValidationService load the rules into the apartment's slot (so
// the last walk's rules stay there, as other callers expect), but each walk
// keeps its own references in a RuleWalk and hands that to the evaluators:
// a validation interface that starts another walk, or another instance that
// terminates, replaces the slot without disturbing the walk in progress.
// The evaluators read the rule the walk's recordset stands on.
//
// The comparisons and evaluators never raise: a value their data type
// cannot take, a rule whose attribute has no data type or a range without
// "-" is shown in a message box and the rule fails. GetNextCID raises.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pelmora/common/NullOrEmpty.h"
#include "pelmora/common/TraceScope.h"
#include "runtime/Variant.h"

namespace ado {
class Recordset;
}

namespace pelmora {

class IKeyObject;
class IMetadataService;

inline constexpr const char* kAttributeRulesTable = "QTX_ATTRVAL_OPTABLE";

// Message ids of attribute validation.
namespace attrmsg {
inline constexpr int16_t NoActiveFeature = 15749;
inline constexpr int16_t RuleWithoutOperator = 18266;
inline constexpr int16_t SetOperatorPattern = 18272;
inline constexpr int16_t Title = 18273;
inline constexpr int16_t RuleFailed = 18275;
inline constexpr int16_t RuleFailedAgainst = 18276;
inline constexpr int16_t Interrupted = 25754;
}  // namespace attrmsg

// The values the set operators accept for one attribute, in rule order.
struct AttributeValueSet {
    int32_t ANO = 0;
    std::vector<rt::Variant> Values;
};
using AttributeValueSets = std::vector<AttributeValueSet>;

struct RuleFacts;
struct RuleFactsTable;

// What one walk evaluates against: its rules (standing on the current rule)
// and the value sets built from them.
struct RuleWalk {
    RuleWalk() = default;
    explicit RuleWalk(std::shared_ptr<ado::Recordset> rules, std::shared_ptr<const AttributeValueSets> valueSets = nullptr)
        : Rules(std::move(rules)), ValueSets(std::move(valueSets)) {}

    std::shared_ptr<ado::Recordset> Rules;
    std::shared_ptr<const AttributeValueSets> ValueSets;

    // A column of the current rule (raises for a column the rules lack, or
    // no current rule). Positions are looked up once per walk. The value
    // stands until the rules move or change.
    const rt::Variant& Column(const char* Name) const;
    // QTX_RELATEDFNO; 0 (any related FNO) for Null, Empty or "".
    int32_t RelatedFNO() const;
    // QTX_ACTIVEANO by CLng, and QTX_OPERATOR, QTX_ACTIVEFIELDNAME and
    // QTX_ACTIVENAME by CStr, raising as those do.
    int32_t ActiveANO() const;
    std::string Operator() const;
    std::string ActiveFieldName() const;
    std::string ActiveName() const;
    // A walk over many features' rules: the conversions above are kept per
    // rule for as long as the rules' rows and values stay as they are, shared
    // by every walk over the same rows. UseKeptFacts before the walk's loop,
    // AtCurrentRule after each move to the rule the loop stands on.
    void UseKeptFacts();
    void AtCurrentRule();
    // The position of a named field in a component's rows (-1 when they
    // lack it), found once per walk for each rows and name.
    int32_t FieldOf(ado::Recordset& Rows, const std::string& Name) const;

private:
    struct KnownField {
        const void* rows;
        std::string name;
        int32_t position;
    };
    RuleFacts* CurrentFacts() const;
    mutable std::vector<std::pair<const char*, int32_t>> positions_;
    mutable std::vector<KnownField> fields_;
    // A column read by name alone, as Column hands it out.
    mutable rt::Variant byName_;
    std::shared_ptr<RuleFactsTable> facts_;
    int32_t factsRow_ = -1;
};

// The value sets last built from rules alone (no set rule took a related
// value): the same view of the same rows, unchanged, gives the same sets.
struct KeptValueSets {
    std::shared_ptr<ado::Recordset> Rules;  // keeps the rows, so no other rows take their place
    uint64_t RowsVersion = 0, ValuesVersion = 0;
    int32_t Count = 0;
    std::string Filter, Sort, RelationshipType, Pattern;
    std::shared_ptr<const AttributeValueSets> Sets;
};

// The apartment's attribute validation state: the last walk's rules and
// value sets, and the path of the interfaces' log ("" until the first
// service of the apartment is made).
struct AttributeValidationApartment {
    std::shared_ptr<ado::Recordset> Rules;
    std::shared_ptr<const AttributeValueSets> ValueSets;
    std::string LogPath;
    KeptValueSets KeptSets;
    std::shared_ptr<RuleFactsTable> KeptFacts;
};
AttributeValidationApartment& AttributeValidationState();

// ---- reading rules ----
// Null, Empty or "".
bool IsBlankValue(const rt::Variant& Value);

// QTX_RULENO of the current rule as text; "" for a rule without one.
std::string RuleNumber(const RuleWalk& Walk);
// The current rule and a name in its column, for TraceMetadataFault.
MetadataName RuleName(const RuleWalk& Walk, const char* Column, const std::string& Name);

// The value of a named field on the recordset's current row, without making
// a Field object; raises as Fields.Item does for a name it lacks.
rt::Variant FieldValueByName(ado::Recordset& Rows, const std::string& Name);
// The same for a field a rule names: the error's description also names the
// field and the rule column and component that name it.
rt::Variant RuleFieldValue(ado::Recordset& Rows, const std::string& Name, const RuleWalk& Walk, const char* Column,
                           const std::string& Component);

// ---- typed comparisons ----
// DataType is QTX_DATATYPE: 1 Boolean (True = -1 below False = 0), 3 and 4
// Long, 5 to 7 the number a value's text starts with, 8 dates, anything
// else the Variant comparison. Nulls: both Null is equal, one Null is
// unequal and neither greater nor less.
bool IsEqualTyped(int32_t DataType, const rt::Variant& A, const rt::Variant& B);
bool IsNotEqualTyped(int32_t DataType, const rt::Variant& A, const rt::Variant& B);
bool IsGreaterTyped(int32_t DataType, const rt::Variant& A, const rt::Variant& B);
bool IsGreaterOrEqualTyped(int32_t DataType, const rt::Variant& A, const rt::Variant& B);
bool IsLessTyped(int32_t DataType, const rt::Variant& A, const rt::Variant& B);
bool IsLessOrEqualTyped(int32_t DataType, const rt::Variant& A, const rt::Variant& B);

// ---- one comparison rule ----
// The rule met by the active value against the rule's own validation value.
bool ValidateAttributeRule(const RuleWalk& Walk, const rt::Variant& Value,
                           const std::shared_ptr<IMetadataService>& MetadataService);
// The rule met between the active value and a related value (a Null
// related value never meets it).
bool ValidateAttributeRuleValue(const RuleWalk& Walk, const rt::Variant& Value, const rt::Variant& RelatedValue,
                                const std::shared_ptr<IMetadataService>& MetadataService);

// ---- value sets ----
// The related feature's value of the current rule's related field, on the
// current row of its related component; Null when the rule names none, the
// related feature is not of the rule's related FNO, or the component has no
// rows. A failure is shown (title message 18273) and gives Null.
rt::Variant GetRelatedValue(const RuleWalk& Walk, const std::shared_ptr<IKeyObject>& RelatedFeature);
// Builds the value sets of the rules whose operator matches message 18272
// as a pattern and whose relationship type fits, stores them in the
// apartment's slot and returns them; the rules are left at EOF. A failure
// is shown and leaves the sets built so far. Sets built from the rules alone
// are kept and given again for another clone of the same rows with the same
// filter, sort and relationship type while the rows stay as they were.
std::shared_ptr<const AttributeValueSets> LoadSetValues(const RuleWalk& Walk, const std::string& RelationshipType,
                                                        const std::shared_ptr<IKeyObject>& RelatedFeature);
// True when a rule's QTX_RELATIONSHIPTYPE (Null fits every type) fits the
// service's relationship type, compared as text.
bool RelationshipTypeFits(const rt::Variant& RuleType, const std::string& RelationshipType);

// One above the highest QTX_CID of the recordset (at least 2), 1 for a
// recordset without rows; the recordset is left on its first row. Raises 6
// beyond 32767.
int16_t GetNextCID(const std::shared_ptr<ado::Recordset>& Recordset);

// ---- ValidationErrorArrays ----
// Appends one failure: Null or Empty arrays become arrays of the single
// index 0; a last slot whose priority or message is set is kept and both
// arrays grow by one (each keeping its lower bound); a free last slot is
// reused.
void AppendValidationFailure(rt::Variant& PriorityArray, rt::Variant& ErrArray, const rt::Variant& Priority,
                             const rt::Variant& Message);
// Appends the failures a named interface returned in its own two arrays,
// pair by pair; either array may be undimensioned or shorter.
void AppendValidationFailures(rt::Variant& PriorityArray, rt::Variant& ErrArray, const rt::Variant& Priorities,
                              const rt::Variant& Messages);

// The failure text of a rule: message 18275 (active field, active
// component) without a related value, 18276 (with the related field and
// component) with one.
std::string RuleFailureText(bool HasRelatedValue, const std::string& ActiveField, const std::string& ActiveComponent,
                            const std::string& RelatedField, const std::string& RelatedComponent);

// A message box of attribute validation: OK only, titled with message 18273.
// Text is shown as it stands, or a message id.
void ShowValidationMessage(const rt::Variant& Text);

}  // namespace pelmora
