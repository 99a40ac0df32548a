// Typed comparisons and the evaluators of one comparison rule.
#include "pelmora/attribute_validation/ModAttributeValidationService.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <unordered_map>

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "pelmora/common/FeatureComponents.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

enum class Relation { Equal, NotEqual, Greater, GreaterOrEqual, Less, LessOrEqual };

int Sign(double d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

// Whether a text is a plain yyyy-mm-dd date, which reads the same whenever it is read.
bool IsIsoDateText(const std::string& text) {
    size_t i = 0;
    auto digits = [&](size_t least, size_t most) {
        const size_t start = i;
        while (i < text.size() && i - start < most && text[i] >= '0' && text[i] <= '9') ++i;
        return i - start >= least;
    };
    if (!digits(4, 4) || i >= text.size() || text[i++] != '-') return false;
    if (!digits(1, 2) || i >= text.size() || text[i++] != '-') return false;
    return digits(1, 2) && i == text.size();
}

// What the comparisons work out once per apartment: answers that do not
// change while the same texts and rows come back.
struct ComparisonMemos {
    std::unordered_map<std::string, double> dates;
    std::string setPattern;
    std::unordered_map<std::string, bool> setOperators;
    const void* infoRows = nullptr;
    int32_t dataTypePosition = -1;
};

ComparisonMemos& Memos() { return rt::Apartment::Current().Get<ComparisonMemos>(); }

// CDate, with the rules' fixed date texts converted once per apartment.
double DateOf(const rt::Variant& v) {
    if (!v.IsString() || !IsIsoDateText(v.Str())) return rt::CDate(v);
    auto& converted = Memos().dates;
    if (auto known = converted.find(v.Str()); known != converted.end()) return known->second;
    const double date = rt::CDate(v);
    constexpr size_t kMaxTexts = 256;
    if (converted.size() >= kMaxTexts) converted.clear();
    converted.emplace(v.Str(), date);
    return date;
}

// -1, 0 or 1 for two non-Null values by the data type's conversion.
int CompareByDataType(int32_t DataType, const rt::Variant& A, const rt::Variant& B) {
    switch (DataType) {
        case 1: {
            // Booleans as VB stores them: True is -1, so it sorts below False.
            const int a = rt::CBool(A) ? -1 : 0;
            const int b = rt::CBool(B) ? -1 : 0;
            return Sign(a - b);
        }
        case 3:
        case 4: {
            const int64_t a = rt::CLng(A);
            const int64_t b = rt::CLng(B);
            return a < b ? -1 : (a > b ? 1 : 0);
        }
        case 5:
        case 6:
        case 7:
            return Sign(rt::Val(rt::CStr(A)) - rt::Val(rt::CStr(B)));
        case 8: {
            const double a = DateOf(A);
            const double b = DateOf(B);
            return a < b ? -1 : (a > b ? 1 : 0);
        }
        default:
            return *rt::VbCompare(A, B);
    }
}

bool Holds(Relation relation, int c) {
    switch (relation) {
        case Relation::Equal: return c == 0;
        case Relation::NotEqual: return c != 0;
        case Relation::Greater: return c > 0;
        case Relation::GreaterOrEqual: return c >= 0;
        case Relation::Less: return c < 0;
        case Relation::LessOrEqual: return c <= 0;
    }
    return false;
}

// Runs step; an error it raises is shown, as CaptureError describes it, and
// gives false. The error object is made only when one was raised.
template <class F>
bool RunShowingError(F&& step) {
    try {
        step();
        return true;
    } catch (...) {
        rt::ComError failure(0, "", "");
        rt::CaptureError([] { std::rethrow_exception(std::current_exception()); }, failure);
        ShowMessage(rt::Variant(failure.Description()));
        return false;
    }
}

bool CompareTyped(Relation relation, int32_t DataType, const rt::Variant& A, const rt::Variant& B) {
    if (A.IsNull() || B.IsNull()) {
        if (A.IsNull() && B.IsNull())
            return relation == Relation::Equal || relation == Relation::GreaterOrEqual ||
                   relation == Relation::LessOrEqual;
        return relation == Relation::NotEqual;
    }
    int c = 0;
    if (!RunShowingError([&] { c = CompareByDataType(DataType, A, B); })) return false;
    return Holds(relation, c);
}

bool IsBlank(const rt::Variant& v) { return IsBlankValue(v); }

// Whether an operator text is a set operator: the same few operators meet the
// same pattern in every walk, so each answer is worked out once per apartment.
bool IsSetOperator(const std::string& op, const std::string& pattern) {
    ComparisonMemos& memos = Memos();
    std::string& keptPattern = memos.setPattern;
    auto& answers = memos.setOperators;
    if (pattern != keptPattern) {
        answers.clear();
        keptPattern = pattern;
    }
    if (auto known = answers.find(op); known != answers.end()) return known->second;
    const bool matches = rt::Like(op, pattern);
    constexpr size_t kMaxAnswers = 256;
    if (answers.size() >= kMaxAnswers) answers.clear();
    answers.emplace(op, matches);
    return matches;
}


int32_t DataTypeOf(const std::shared_ptr<IMetadataService>& MetadataService, int32_t ANO) {
    if (!MetadataService) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    static const rt::Variant kInfoTable("QTX_ATTRIBUTEINFO_OPTABLE");
    auto info = MetadataService->get_Recordsets()
                    ->get_Item(kInfoTable)
                    ->get_Recordset("QTX_ANO = " + std::to_string(ANO), "");
    if (!info) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    // Every request clones the same rows: the column stays where it was found.
    static const std::string kDataType = "QTX_DATATYPE";
    ComparisonMemos& memos = Memos();
    const void*& rows = memos.infoRows;
    int32_t& position = memos.dataTypePosition;
    if (rows != info->RowsIdentity() || position < 0 || position >= info->FieldCount() ||
        !rt::NamesEqual(info->DescAt(position).name, kDataType)) {
        rows = info->RowsIdentity();
        position = info->FieldIndex(kDataType);
        if (position < 0) return rt::CLng(FieldValueByName(*info, kDataType));
    }
    return rt::CLng(info->FieldValueRef(position));
}

bool SetTest(const RuleWalk& Walk, int32_t DataType, int32_t ANO, const rt::Variant& Value) {
    if (!Walk.ValueSets) return false;
    for (const auto& entry : *Walk.ValueSets) {
        if (entry.ANO != ANO) continue;
        for (const auto& v : entry.Values)
            if (IsEqualTyped(DataType, Value, v)) return true;
    }
    return false;
}

// An inclusive range "Low-High" split at its first "-".
bool RangeTest(int32_t DataType, const rt::Variant& Range, const rt::Variant& Value) {
    const std::string text = rt::CStr(Range);
    const int32_t p = rt::InStr(text, "-");
    if (p == 0) rt::RaiseVbError(rt::vberr::InvalidProcedureCall);
    const rt::Variant low(rt::Trim(rt::Left(text, p - 1)));
    const rt::Variant high(rt::Trim(rt::Mid(text, p + 1)));
    // Both ends are judged (and a bad one shown) before the answer, as an And of the two.
    const bool aboveLow = IsLessOrEqualTyped(DataType, low, Value);
    const bool belowHigh = IsLessOrEqualTyped(DataType, Value, high);
    return aboveLow && belowHigh;
}

// The comparison operators shared by both evaluators; nullopt for another text.
std::optional<bool> ComparisonOperator(const std::string& Op, int32_t DataType, const rt::Variant& A,
                                       const rt::Variant& B) {
    if (Op == "=") return IsEqualTyped(DataType, A, B);
    if (Op == "<>") return IsNotEqualTyped(DataType, A, B);
    if (Op == "<") return IsLessTyped(DataType, A, B);
    if (Op == ">") return IsGreaterTyped(DataType, A, B);
    if (Op == "<=") return IsLessOrEqualTyped(DataType, A, B);
    if (Op == ">=") return IsGreaterOrEqualTyped(DataType, A, B);
    return std::nullopt;
}

template <class F>
bool EvaluateRule(F&& body) {
    bool result = false;
    if (!RunShowingError([&] { result = body(); })) return false;
    return result;
}

}  // namespace

bool IsBlankValue(const rt::Variant& Value) {
    return IsNullOrEmpty(Value) || (Value.IsString() && Value.Str().empty());
}

const rt::Variant& RuleWalk::Column(const char* Name) const {
    int32_t position = -1;
    // Callers pass literals: the same pointer nearly always, the text as a fallback.
    for (const auto& [name, at] : positions_) {
        if (name == Name) {
            position = at;
            break;
        }
    }
    if (position < 0) {
        for (const auto& [name, at] : positions_) {
            if (std::strcmp(name, Name) == 0) {
                position = at;
                break;
            }
        }
    }
    if (position < 0) {
        position = Rules->FieldIndex(Name);
        if (position < 0) {
            // Raises as Fields.Item does for a name the rules lack.
            byName_ = FieldValueByName(*Rules, Name);
            return byName_;
        }
        positions_.emplace_back(Name, position);
    }
    return Rules->FieldValueRef(position);
}

rt::Variant FieldValueByName(ado::Recordset& Rows, const std::string& Name) {
    const int32_t position = Rows.FieldIndex(Name);
    if (position < 0) return Rows.GetValue(rt::Variant(Name));
    return Rows.FieldValue(position);
}

int32_t RuleWalk::FieldOf(ado::Recordset& Rows, const std::string& Name) const {
    const void* rows = Rows.RowsIdentity();
    for (const auto& known : fields_) {
        // Rows made since in the place of others must still show the name there.
        if (known.rows == rows && known.name == Name && known.position < Rows.FieldCount() &&
            rt::NamesEqual(Rows.DescAt(known.position).name, Name))
            return known.position;
    }
    const int32_t position = Rows.FieldIndex(Name);
    if (position >= 0 && rows) {
        constexpr size_t kMaxFields = 64;
        if (fields_.size() >= kMaxFields) fields_.clear();
        fields_.push_back(KnownField{rows, Name, position});
    }
    return position;
}

std::string RuleNumber(const RuleWalk& Walk) {
    std::string rule;
    rt::ResumeNext read;
    read([&] {
        const rt::Variant number = Walk.Column("QTX_RULENO");
        if (!number.IsNull() && !number.IsEmpty()) rule = rt::CStr(number);
    });
    return rule;
}

MetadataName RuleName(const RuleWalk& Walk, const char* Column, const std::string& Name) {
    const std::string number = RuleNumber(Walk);
    return {kAttributeRulesTable, number.empty() ? "without QTX_RULENO" : "QTX_RULENO " + number,
            std::string(Column) + " \"" + Name + "\""};
}

rt::Variant RuleFieldValue(ado::Recordset& Rows, const std::string& Name, const RuleWalk& Walk, const char* Column,
                           const std::string& Component) {
    const int32_t position = Walk.FieldOf(Rows, Name);
    if (position >= 0) return Rows.FieldValue(position);
    // Rules without a number (fabricated ones) are named by the column alone.
    std::string rule = RuleNumber(Walk);
    if (!rule.empty()) rule = " " + rule;
    throw rt::ComError(ado::err::ItemNotFound, "ADODB.Fields",
                       "Item cannot be found in the collection corresponding to the requested name or ordinal. "
                       "The field \"" +
                           Name + "\" that " + Column + " of attribute rule" + rule +
                           " names is not a field of component " + Component + ".");
}

struct RuleFacts {
    std::optional<int32_t> activeANO, relatedFNO;
    std::optional<std::string> op, activeField, activeName;
};

struct RuleFactsTable {
    std::shared_ptr<ado::Recordset> rules;  // keeps the rows, so no other rows take their place
    uint64_t rowsVersion = 0, valuesVersion = 0;
    std::vector<RuleFacts> byRow;

    bool Stands(const ado::Recordset& r) const {
        return r.RowsIdentity() == rules->RowsIdentity() && r.RowsVersion() == rowsVersion &&
               r.ValuesVersion() == valuesVersion;
    }
};

void RuleWalk::UseKeptFacts() {
    factsRow_ = -1;
    facts_.reset();
    if (!Rules || !Rules->RowsIdentity()) return;
    auto& kept = AttributeValidationState().KeptFacts;
    if (!kept || !kept->Stands(*Rules)) {
        kept = std::make_shared<RuleFactsTable>();
        kept->rules = Rules;
        kept->rowsVersion = Rules->RowsVersion();
        kept->valuesVersion = Rules->ValuesVersion();
    }
    facts_ = kept;
}

void RuleWalk::AtCurrentRule() {
    factsRow_ = -1;
    if (!facts_) return;
    if (!facts_->Stands(*Rules)) {
        facts_.reset();
        return;
    }
    const rt::Variant bookmark = Rules->get_Bookmark();
    const int32_t row = static_cast<int32_t>(bookmark.R8()) - 1;
    if (row < 0) return;
    if (static_cast<size_t>(row) >= facts_->byRow.size()) facts_->byRow.resize(static_cast<size_t>(row) + 1);
    factsRow_ = row;
}

RuleFacts* RuleWalk::CurrentFacts() const {
    if (!facts_ || factsRow_ < 0 || static_cast<size_t>(factsRow_) >= facts_->byRow.size()) return nullptr;
    return &facts_->byRow[static_cast<size_t>(factsRow_)];
}

namespace {
// A kept conversion, or the conversion made (and kept when the walk keeps them).
template <class T, class Convert>
T Kept(RuleFacts* facts, std::optional<T> RuleFacts::*slot, Convert&& convert) {
    if (!facts) return convert();
    auto& kept = facts->*slot;
    if (!kept) kept = convert();
    return *kept;
}
}  // namespace

int32_t RuleWalk::RelatedFNO() const {
    return Kept(CurrentFacts(), &RuleFacts::relatedFNO, [&] {
        const rt::Variant& fno = Column("QTX_RELATEDFNO");
        return IsBlankValue(fno) ? 0 : rt::CLng(fno);
    });
}

int32_t RuleWalk::ActiveANO() const {
    return Kept(CurrentFacts(), &RuleFacts::activeANO, [&] { return rt::CLng(Column("QTX_ACTIVEANO")); });
}

std::string RuleWalk::Operator() const {
    return Kept(CurrentFacts(), &RuleFacts::op, [&] { return rt::CStr(Column("QTX_OPERATOR")); });
}

std::string RuleWalk::ActiveFieldName() const {
    return Kept(CurrentFacts(), &RuleFacts::activeField, [&] { return rt::CStr(Column("QTX_ACTIVEFIELDNAME")); });
}

std::string RuleWalk::ActiveName() const {
    return Kept(CurrentFacts(), &RuleFacts::activeName, [&] { return rt::CStr(Column("QTX_ACTIVENAME")); });
}

AttributeValidationApartment& AttributeValidationState() {
    return rt::Apartment::Current().Get<AttributeValidationApartment>();
}

bool IsEqualTyped(int32_t DataType, const rt::Variant& A, const rt::Variant& B) {
    return CompareTyped(Relation::Equal, DataType, A, B);
}
bool IsNotEqualTyped(int32_t DataType, const rt::Variant& A, const rt::Variant& B) {
    return CompareTyped(Relation::NotEqual, DataType, A, B);
}
bool IsGreaterTyped(int32_t DataType, const rt::Variant& A, const rt::Variant& B) {
    return CompareTyped(Relation::Greater, DataType, A, B);
}
bool IsGreaterOrEqualTyped(int32_t DataType, const rt::Variant& A, const rt::Variant& B) {
    return CompareTyped(Relation::GreaterOrEqual, DataType, A, B);
}
bool IsLessTyped(int32_t DataType, const rt::Variant& A, const rt::Variant& B) {
    return CompareTyped(Relation::Less, DataType, A, B);
}
bool IsLessOrEqualTyped(int32_t DataType, const rt::Variant& A, const rt::Variant& B) {
    return CompareTyped(Relation::LessOrEqual, DataType, A, B);
}

bool ValidateAttributeRule(const RuleWalk& Walk, const rt::Variant& Value,
                           const std::shared_ptr<IMetadataService>& MetadataService) {
    return EvaluateRule([&] {
        const int32_t ano = Walk.ActiveANO();
        const int32_t dataType = DataTypeOf(MetadataService, ano);
        const rt::Variant vv = Walk.Column("QTX_VALIDATIONVALUE");
        const std::string op = Walk.Operator();
        if (vv.IsNull()) {
            if (op == "=") return Value.IsNull();
            if (op == "<>") return !Value.IsNull();
            if (op == "EitherOr") return Value.IsNull() || SetTest(Walk, dataType, ano, Value);
            return true;
        }
        if (auto r = ComparisonOperator(op, dataType, Value, vv)) return *r;
        if (op == "EitherOr") return IsEqualTyped(dataType, Value, vv) || SetTest(Walk, dataType, ano, Value);
        if (op == "InSetEitherOr") return RangeTest(dataType, vv, Value);
        return true;
    });
}

bool ValidateAttributeRuleValue(const RuleWalk& Walk, const rt::Variant& Value, const rt::Variant& RelatedValue,
                                const std::shared_ptr<IMetadataService>& MetadataService) {
    return EvaluateRule([&] {
        const int32_t ano = Walk.ActiveANO();
        const int32_t dataType = DataTypeOf(MetadataService, ano);
        if (RelatedValue.IsNull()) return false;
        const std::string op = Walk.Operator();
        if (auto r = ComparisonOperator(op, dataType, Value, RelatedValue)) return *r;
        if (op == "EitherOr") {
            const rt::Variant vv = Walk.Column("QTX_VALIDATIONVALUE");
            return IsEqualTyped(dataType, Value, vv) || SetTest(Walk, dataType, ano, Value);
        }
        // The range is the rule's own; the related value plays no part.
        if (op == "InSetEitherOr") return RangeTest(dataType, Walk.Column("QTX_VALIDATIONVALUE"), Value);
        return true;
    });
}

bool RelationshipTypeFits(const rt::Variant& RuleType, const std::string& RelationshipType) {
    return RuleType.IsNull() || rt::CStr(RuleType) == RelationshipType;
}

rt::Variant GetRelatedValue(const RuleWalk& Walk, const std::shared_ptr<IKeyObject>& RelatedFeature) {
    rt::Variant result = rt::Variant::Null();
    rt::ComError failure(0, "", "");
    const bool ok = rt::CaptureError(
        [&] {
            const int32_t ruleFNO = Walk.RelatedFNO();
            if (!RelatedFeature || RelatedFeature->get_FNO() != ruleFNO) return;
            const rt::Variant field = Walk.Column("QTX_RELATEDFIELDNAME");
            const rt::Variant name = Walk.Column("QTX_RELATEDNAME");
            if (IsBlank(field) || IsBlank(name)) return;
            auto rows = FeatureComponentRows(RelatedFeature, rt::CStr(name));
            if (rows->get_BOF() && rows->get_EOF()) return;
            rt::Variant v = FieldValueByName(*rows, rt::CStr(field));
            if (!v.IsEmpty() && !v.IsNull()) result = std::move(v);
        },
        failure);
    if (!ok) {
        ShowValidationMessage(rt::Variant(failure.Description()));
        return rt::Variant::Null();
    }
    return result;
}

namespace {

// The rules' filter as a text ("" for none); false for a group or bookmarks.
bool FilterText(const rt::Variant& filter, std::string& text) {
    if (filter.IsString()) {
        text = filter.Str();
        return true;
    }
    text.clear();
    return filter.Type() == rt::vbLong && filter.I4() == 0;
}

// The kept sets when they were built from this view of these rows, else null.
std::shared_ptr<const AttributeValueSets> KeptSetsFor(const KeptValueSets& kept, ado::Recordset& rules,
                                                      const std::string& filter, const std::string& RelationshipType,
                                                      const std::string& pattern) {
    if (!kept.Sets || !kept.Rules || kept.Rules->RowsIdentity() != rules.RowsIdentity()) return nullptr;
    if (kept.RowsVersion != rules.RowsVersion() || kept.ValuesVersion != rules.ValuesVersion()) return nullptr;
    if (kept.Filter != filter || kept.Sort != rules.get_Sort()) return nullptr;
    if (kept.RelationshipType != RelationshipType || kept.Pattern != pattern) return nullptr;
    if (rules.get_RecordCount() != kept.Count) return nullptr;
    return kept.Sets;
}

}  // namespace

std::shared_ptr<const AttributeValueSets> LoadSetValues(const RuleWalk& Walk, const std::string& RelationshipType,
                                                        const std::shared_ptr<IKeyObject>& RelatedFeature) {
    auto sets = std::make_shared<AttributeValueSets>();
    bool fromRulesAlone = true;
    rt::ComError failure(0, "", "");
    const bool ok = rt::CaptureError(
        [&] {
            auto& rules = *Walk.Rules;
            const std::string pattern = MessageObject()->GetMessageText(attrmsg::SetOperatorPattern, 0);
            auto& kept = AttributeValidationState().KeptSets;
            std::string filter;
            const bool keepable = FilterText(rules.get_Filter(), filter);
            if (auto known = keepable ? KeptSetsFor(kept, rules, filter, RelationshipType, pattern) : nullptr) {
                if (!(rules.get_BOF() && rules.get_EOF())) {
                    rules.MoveLast();
                    rules.MoveNext();
                }
                sets.reset();
                AttributeValidationState().ValueSets = known;
                return;
            }
            if (!(rules.get_BOF() && rules.get_EOF())) rules.MoveFirst();
            for (; !rules.get_EOF(); rules.MoveNext()) {
                const rt::Variant ruleType = Walk.Column("QTX_RELATIONSHIPTYPE");
                if (!RelationshipType.empty() && !RelationshipTypeFits(ruleType, RelationshipType)) continue;
                const rt::Variant op = Walk.Column("QTX_OPERATOR");
                if (op.IsEmpty() || op.IsNull()) continue;
                if (!(op.IsString() ? IsSetOperator(op.Str(), pattern) : rt::Like(rt::CStr(op), pattern))) continue;
                rt::Variant value = Walk.Column("QTX_VALIDATIONVALUE");
                if (value.IsEmpty() || value.IsNull()) {
                    fromRulesAlone = false;
                    value = GetRelatedValue(Walk, RelatedFeature);
                }
                if (value.IsNull()) continue;
                const int32_t ano = rt::CLng(Walk.Column("QTX_ACTIVEANO"));
                AttributeValueSet* entry = nullptr;
                for (auto& e : *sets)
                    if (e.ANO == ano) entry = &e;
                // The counters are Integers: one more than 32767 overflows.
                if (!entry) {
                    if (sets->size() >= 32767) rt::RaiseVbError(rt::vberr::Overflow);
                    sets->push_back(AttributeValueSet{ano, {}});
                    entry = &sets->back();
                }
                if (entry->Values.size() >= 32767) rt::RaiseVbError(rt::vberr::Overflow);
                entry->Values.push_back(std::move(value));
            }
            if (fromRulesAlone && keepable)
                kept = KeptValueSets{Walk.Rules, rules.RowsVersion(), rules.ValuesVersion(), rules.get_RecordCount(),
                                     filter,     rules.get_Sort(),    RelationshipType,      pattern,
                                     sets};
        },
        failure);
    if (!sets) return AttributeValidationState().ValueSets;
    if (!ok) ShowValidationMessage(rt::Variant(failure.Description()));
    AttributeValidationState().ValueSets = sets;
    return sets;
}

int16_t GetNextCID(const std::shared_ptr<ado::Recordset>& Recordset) {
    if (Recordset->get_BOF() && Recordset->get_EOF()) return 1;
    // From the first row: rows before the current one hold CIDs in use too.
    Recordset->MoveFirst();
    int16_t highest = 1;
    for (; !Recordset->get_EOF(); Recordset->MoveNext()) {
        const rt::Variant cid = Recordset->GetValue(rt::Variant("QTX_CID"));
        if (cid.IsNull()) continue;
        if (*rt::VbCompare(cid, rt::Variant(highest)) > 0) highest = rt::CInt(cid);
    }
    Recordset->MoveFirst();
    if (highest == 32767) rt::RaiseVbError(rt::vberr::Overflow);
    return static_cast<int16_t>(highest + 1);
}

void AppendValidationFailure(rt::Variant& PriorityArray, rt::Variant& ErrArray, const rt::Variant& Priority,
                             const rt::Variant& Message) {
    // An array never dimensioned holds no failure yet, as Empty does.
    const bool unallocated = PriorityArray.IsArray() && !IsArrayDimensioned(PriorityArray);
    if (PriorityArray.IsNull() || PriorityArray.IsEmpty() || unallocated) {
        PriorityArray = rt::Variant::MakeArray(rt::vbVariant, 0, 0);
        ErrArray = rt::Variant::MakeArray(rt::vbVariant, 0, 0);
    } else {
        const int32_t lastPriority = rt::UBound(PriorityArray);
        const int32_t lastMessage = rt::UBound(ErrArray);
        // A slot holding only a message (its priority Null) is a finding too.
        const bool used = !IsBlank(PriorityArray.Array()->Get(lastPriority)) ||
                          !IsBlank(ErrArray.Array()->Get(lastMessage));
        if (used) {
            rt::ReDimPreserve(PriorityArray, rt::LBound(PriorityArray), lastPriority + 1);
            rt::ReDimPreserve(ErrArray, rt::LBound(ErrArray), lastMessage + 1);
        }
    }
    PriorityArray.ArrayMut()->Set(rt::UBound(PriorityArray), Priority);
    ErrArray.ArrayMut()->Set(rt::UBound(ErrArray), Message);
}

void AppendValidationFailures(rt::Variant& PriorityArray, rt::Variant& ErrArray, const rt::Variant& Priorities,
                              const rt::Variant& Messages) {
    auto elements = [](const rt::Variant& a) {
        std::vector<rt::Variant> out;
        if (!IsArrayDimensioned(a)) return out;
        for (int32_t i = rt::LBound(a); i <= rt::UBound(a); ++i) out.push_back(a.Array()->Get(i));
        return out;
    };
    const auto priorities = elements(Priorities);
    const auto messages = elements(Messages);
    const size_t n = std::max(priorities.size(), messages.size());
    for (size_t i = 0; i < n; ++i) {
        const rt::Variant p = i < priorities.size() ? priorities[i] : rt::Variant("");
        const rt::Variant m = i < messages.size() ? messages[i] : rt::Variant("");
        if (IsBlank(p) && IsBlank(m)) continue;
        AppendValidationFailure(PriorityArray, ErrArray, p, m);
    }
}

std::string RuleFailureText(bool HasRelatedValue, const std::string& ActiveField, const std::string& ActiveComponent,
                            const std::string& RelatedField, const std::string& RelatedComponent) {
    if (!HasRelatedValue) return LoadResStringWithParams(attrmsg::RuleFailed, ActiveField, ActiveComponent, "", "", "");
    return LoadResStringWithParams(attrmsg::RuleFailedAgainst, ActiveField, ActiveComponent, RelatedField,
                                   RelatedComponent, "");
}

void ShowValidationMessage(const rt::Variant& Text) {
    ShowMessage(Text, rt::Variant::Missing(), rt::Variant::Missing(), rt::Variant::Missing(), rt::Variant(int32_t{0}),
                rt::Variant(MessageObject()->GetMessageText(attrmsg::Title, 0)));
}

}  // namespace pelmora
