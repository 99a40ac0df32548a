#include "ado/FilterCriteria.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "ado/Enums.h"
#include "ado/RowStore.h"
#include "runtime/Calendar.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"
#include "runtime/VbText.h"

namespace ado {

namespace {

constexpr const char* kSource = "ADODB.Recordset";
constexpr const char* kWrongArguments =
    "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.";
// Deep enough for any hand-written criteria, shallow enough for the stack.
constexpr int kMaxGroupDepth = 64;

// ---------------------------------------------------------------- text

// The letter case of VB's text comparison, so a filter and a text compare agree; code points
// beyond one UTF-16 unit and undecodable bytes have no case.
uint32_t Fold(uint32_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    return c < 0x10000 ? rt::FoldUnit(static_cast<char16_t>(c)) : c;
}

// Decodes one code point; a byte that is not valid UTF-8 stands for itself
// above the Unicode range so that it still compares consistently.
uint32_t NextCodePoint(const unsigned char*& p, const unsigned char* end) {
    unsigned char b = *p;
    if (b < 0x80) {
        ++p;
        return b;
    }
    int extra = (b >= 0xF0 && b <= 0xF4) ? 3 : (b >= 0xE0) ? 2 : (b >= 0xC2 && b <= 0xDF) ? 1 : -1;
    if (b >= 0xF5) extra = -1;
    if (extra < 0 || end - p <= extra) {
        ++p;
        return 0x110000u + b;
    }
    uint32_t c = b & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            ++p;
            return 0x110000u + b;
        }
        c = (c << 6) | (p[i] & 0x3F);
    }
    p += extra + 1;
    return c;
}

std::u32string FoldText(const std::string& s) {
    std::u32string out;
    out.reserve(s.size());
    auto p = reinterpret_cast<const unsigned char*>(s.data());
    auto end = p + s.size();
    while (p < end) out.push_back(Fold(NextCodePoint(p, end)));
    return out;
}

// Compares a UTF-8 text with a folded literal, ignoring letter case.
int CompareFolded(const char* data, size_t size, const std::u32string& lit) {
    auto p = reinterpret_cast<const unsigned char*>(data);
    auto end = p + size;
    size_t i = 0;
    while (p < end && i < lit.size()) {
        uint32_t c = Fold(NextCodePoint(p, end));
        if (c != lit[i]) return c < lit[i] ? -1 : 1;
        ++i;
    }
    if (p < end) return 1;
    if (i < lit.size()) return -1;
    return 0;
}

// True when the folded literal occurs in the text starting at p.
bool PrefixAt(const unsigned char* p, const unsigned char* end, const std::u32string& lit) {
    for (uint32_t want : lit) {
        if (p >= end) return false;
        if (Fold(NextCodePoint(p, end)) != want) return false;
    }
    return true;
}

bool ContainsFolded(const char* data, size_t size, const std::u32string& lit) {
    auto p = reinterpret_cast<const unsigned char*>(data);
    auto end = p + size;
    if (lit.empty()) return true;
    const uint32_t first = lit[0];
    while (p < end) {
        if (*p < 0x80) {
            // Most texts are ASCII: try a full match only where the first letter fits.
            if (Fold(*p) == first && PrefixAt(p, end, lit)) return true;
            ++p;
        } else {
            if (first >= 0x80 && PrefixAt(p, end, lit)) return true;
            NextCodePoint(p, end);
        }
    }
    return false;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

using rt::TrimBlanks;

// ---------------------------------------------------------------- numbers

// [+-] [$] digits [. digits] [e [+-] digits], or [+-] [$] . digits ...
// Returns the length read (0 when no number starts at p).
// Not rt's CDbl or Val: those also take "&H" and "&O" numbers, thousands
// separators and "D" exponents, which the criteria do not (a text literal
// holding them would turn into a number), and no "$".
size_t ScanNumber(const char* p, const char* end, double& value) {
    const char* q = p;
    std::string clean;
    if (q < end && (*q == '+' || *q == '-')) {
        if (*q == '-') clean.push_back('-');
        ++q;
    }
    if (q < end && *q == '$') ++q;
    size_t digits = 0;
    while (q < end && *q >= '0' && *q <= '9') {
        clean.push_back(*q++);
        ++digits;
    }
    if (q < end && *q == '.') {
        clean.push_back(*q++);
        while (q < end && *q >= '0' && *q <= '9') {
            clean.push_back(*q++);
            ++digits;
        }
    }
    if (digits == 0) return 0;
    if (q < end && (*q == 'e' || *q == 'E')) {
        const char* e = q + 1;
        std::string exp = "e";
        if (e < end && (*e == '+' || *e == '-')) exp.push_back(*e++);
        size_t expDigits = 0;
        while (e < end && *e >= '0' && *e <= '9') {
            exp.push_back(*e++);
            ++expDigits;
        }
        if (expDigits > 0) {
            clean += exp;
            q = e;
        }
    }
    if (clean.size() >= 1 && clean[0] == '.') clean.insert(clean.begin(), '0');
    if (clean.size() >= 2 && clean[0] == '-' && clean[1] == '.') clean.insert(clean.begin() + 1, '0');
    auto res = std::from_chars(clean.data(), clean.data() + clean.size(), value);
    if (res.ec != std::errc() || !std::isfinite(value)) return 0;
    return static_cast<size_t>(q - p);
}

// A whole text that reads as a number (blanks around allowed).
bool TextAsNumber(const std::string& s, double& value) {
    std::string t = TrimBlanks(s);
    if (t.empty()) return false;
    return ScanNumber(t.data(), t.data() + t.size(), value) == t.size();
}

// Numbers as text the way VB prints a Double: 15 significant digits, "1E+20".
int FormatNumber(double d, char* buf, size_t size) {
    if (size < rt::kDoubleTextRoom) return 0;
    return static_cast<int>(rt::WriteDoubleText(buf, d) - buf);
}

// ---------------------------------------------------------------- dates

using rt::calendar::CivilFromDays;
using rt::calendar::DaysFromCivil;
using rt::calendar::DaysInMonth;
using rt::calendar::kOleEpoch;

// Dates before 1899-12-30 carry their time as a positive fraction after a
// negative day; this gives a value that orders like time itself.
double OleToLinear(double v) {
    if (v >= 0) return v;
    double day = std::trunc(v);
    return day + (day - v);
}

struct DateScanner {
    const std::string& s;
    size_t i = 0;
    void Blanks() {
        while (i < s.size() && IsBlank(s[i])) ++i;
    }
    bool Int(int& out, int maxDigits, int* count = nullptr) {
        size_t start = i;
        int v = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9' && static_cast<int>(i - start) < maxDigits)
            v = v * 10 + (s[i++] - '0');
        if (count) *count = static_cast<int>(i - start);
        out = v;
        return i > start && !(i < s.size() && s[i] >= '0' && s[i] <= '9');
    }
    bool Char(char c) {
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    bool Word(const char* w) {
        size_t n = std::char_traits<char>::length(w);
        if (i + n > s.size()) return false;
        for (size_t k = 0; k < n; ++k) {
            char c = s[i + k];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            if (c != w[k]) return false;
        }
        i += n;
        return true;
    }
};

// h:mm[:ss] [AM|PM] from the scanner position; seconds of the day.
bool ScanTime(DateScanner& sc, int& seconds) {
    int h, mi, sec = 0;
    if (!sc.Int(h, 2) || !sc.Char(':') || !sc.Int(mi, 2)) return false;
    if (sc.Char(':') && !sc.Int(sec, 2)) return false;
    size_t before = sc.i;
    sc.Blanks();
    if (sc.Word("AM") || sc.Word("PM")) {
        bool pm = sc.s[sc.i - 2] == 'P' || sc.s[sc.i - 2] == 'p';
        if (h < 1 || h > 12) return false;
        if (h == 12) h = 0;
        if (pm) h += 12;
    } else {
        sc.i = before;
    }
    if (h > 23 || mi > 59 || sec > 59) return false;
    seconds = h * 3600 + mi * 60 + sec;
    return true;
}

// Dates as the criteria write them: m/d/y or yyyy-mm-dd, each with an optional
// time, or a time alone. Two-digit years: 00-29 are 2000s, 30-99 1900s.
// Not rt's CDate reader: that one also takes month names and day-first forms,
// which would turn such text literals into dates.
bool ParseDate(const std::string& text, double& ole) {
    std::string t = TrimBlanks(text);
    DateScanner sc{t};
    int a, b, c, countA = 0, countC = 0;
    bool hasDate = false;
    int y = 1899, m = 12, d = 30;
    size_t start = sc.i;
    if (sc.Int(a, 4, &countA)) {
        if (sc.Char('/')) {
            if (!sc.Int(b, 2) || !sc.Char('/') || !sc.Int(c, 4, &countC)) return false;
            m = a, d = b, y = c;
            if (countC <= 2) y += (c < 30) ? 2000 : 1900;
            hasDate = true;
        } else if (countA == 4 && sc.Char('-')) {
            if (!sc.Int(b, 2) || !sc.Char('-') || !sc.Int(c, 2)) return false;
            y = a, m = b, d = c;
            hasDate = true;
        } else {
            sc.i = start;
        }
    }
    if (hasDate) {
        if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return false;
        sc.Blanks();
    }
    int seconds = 0;
    bool hasTime = false;
    if (sc.i < t.size()) {
        if (!ScanTime(sc, seconds)) return false;
        hasTime = true;
    }
    if (sc.i != t.size() || (!hasDate && !hasTime)) return false;
    double days = static_cast<double>(DaysFromCivil(y, m, d) - kOleEpoch);
    double frac = seconds / 86400.0;
    ole = days < 0 ? days - frac : days + frac;
    return true;
}

// VB's general date text: "m/d/yyyy", "h:mm:ss AM" or both. Values outside
// the years 100 to 9999 are no dates: they print as numbers.
// Not rt::FormatDate: midnight of 1899-12-30 prints as that date here, not as
// a time, and this writes into the caller's buffer for every row compared.
int FormatDate(double ole, char* buf, size_t size) {
    if (!(ole >= -657434.0 && ole < 2958466.0)) return FormatNumber(ole, buf, size);
    double day = std::trunc(ole);
    double frac = std::fabs(ole - day);
    int64_t seconds = std::llround(frac * 86400.0);
    if (seconds >= 86400) {  // rounds up into the next day, before 1899-12-30 too
        seconds -= 86400;
        day += 1;
    }
    int y, m, d;
    CivilFromDays(static_cast<int64_t>(day) + kOleEpoch, y, m, d);
    int h = static_cast<int>(seconds / 3600), mi = static_cast<int>(seconds / 60 % 60),
        s = static_cast<int>(seconds % 60);
    const char* ampm = h >= 12 ? "PM" : "AM";
    int h12 = h % 12 == 0 ? 12 : h % 12;
    int n;
    if (day == 0 && seconds != 0)
        n = std::snprintf(buf, size, "%d:%02d:%02d %s", h12, mi, s, ampm);
    else if (seconds == 0)
        n = std::snprintf(buf, size, "%d/%d/%d", m, d, y);
    else
        n = std::snprintf(buf, size, "%d/%d/%d %d:%02d:%02d %s", m, d, y, h12, mi, s, ampm);
    if (n < 0 || static_cast<size_t>(n) >= size) return 0;
    return n;
}

}  // namespace

// ---------------------------------------------------------------- the tree

enum class Op { Eq, Ne, Lt, Gt, Le, Ge, Like };
enum class LitKind { Null, Text, Number, Date };
enum class LikeMode { Exact, Prefix, Contains };

struct FilterCriteria::Node {
    enum Kind { Clause, And, Or } kind = Clause;
    std::vector<std::unique_ptr<Node>> children;  // And / Or

    // Clause
    std::string field;
    int fieldIndex = -1;
    Op op = Op::Eq;
    LitKind lit = LitKind::Null;
    std::u32string folded;  // the literal as text, case folded (LIKE: the pattern without wildcards)
    LikeMode like = LikeMode::Exact;
    bool hasNumber = false;  // the literal read as a number
    double number = 0;
    bool hasDate = false;    // the literal read as a date (linear day value)
    double date = 0;
    bool hasBool = false;    // a text literal "True" / "False"
    double boolNumber = 0;
};

namespace {

using Node = FilterCriteria::Node;

[[noreturn]] void Refuse(const std::string& why, size_t pos) {
    throw rt::ComError(err::InvalidArgument, kSource,
                       std::string(kWrongArguments) + " Filter criteria: " + why + " (at character " +
                           std::to_string(pos + 1) + ").");
}

[[noreturn]] void CannotConvert(const Node& n, const char* typeName) {
    throw rt::ComError(err::DataConversion, kSource,
                       std::string("Application uses a value of the wrong type for the current operation. The "
                                   "filter value for field '") + n.field + "' cannot be converted to " + typeName +
                           ".");
}

// What a literal must convert to for a field of this ADO type.
enum class Needs { Nothing, Number, Bool, Date };

Needs NeedsFor(DataTypeEnum t) {
    switch (t) {
        case adSmallInt: case adInteger: case adSingle: case adDouble: case adCurrency: case adDecimal:
        case adTinyInt: case adUnsignedTinyInt: case adUnsignedSmallInt: case adUnsignedInt: case adBigInt:
        case adUnsignedBigInt: case adNumeric: case adVarNumeric:
            return Needs::Number;
        case adBoolean: return Needs::Bool;
        case adDate: case adDBDate: case adDBTime: case adDBTimeStamp: case adFileTime: return Needs::Date;
        default: return Needs::Nothing;
    }
}

// Fills the conversions of a literal once, so that rows only compare.
void PrepareLiteral(Node& n, const std::string& text, double number) {
    char buf[64];
    switch (n.lit) {
        case LitKind::Null:
            break;
        case LitKind::Number: {
            n.hasNumber = true;
            n.number = number;
            n.hasDate = true;
            n.date = OleToLinear(number);
            n.hasBool = true;
            n.boolNumber = number != 0 ? -1 : 0;
            int len = FormatNumber(number, buf, sizeof buf);
            n.folded = FoldText(std::string(buf, static_cast<size_t>(len)));
            break;
        }
        case LitKind::Date: {
            n.hasNumber = true;
            n.number = number;
            n.hasDate = true;
            n.date = OleToLinear(number);
            int len = FormatDate(number, buf, sizeof buf);
            n.folded = FoldText(std::string(buf, static_cast<size_t>(len)));
            break;
        }
        case LitKind::Text: {
            n.folded = FoldText(text);
            double v;
            if (TextAsNumber(text, v)) {
                n.hasNumber = true;
                n.number = v;
                n.hasBool = true;
                n.boolNumber = v != 0 ? -1 : 0;
            }
            if (ParseDate(text, v)) {
                n.hasDate = true;
                n.date = OleToLinear(v);
            } else if (n.hasNumber) {
                n.hasDate = true;
                n.date = OleToLinear(n.number);
            }
            std::string t = TrimBlanks(text);
            if (rt::NamesEqual(t, "TRUE")) n.hasBool = true, n.boolNumber = -1;
            if (rt::NamesEqual(t, "FALSE")) n.hasBool = true, n.boolNumber = 0;
            break;
        }
    }
}

class Parser {
public:
    // forFind: one clause on one column, whose value may stand unquoted.
    Parser(const std::string& s, bool forFind) : s_(s), find_(forFind) {}

    std::unique_ptr<Node> Run() {
        Blanks();
        if (pos_ == s_.size()) Refuse("the criteria is empty", pos_);
        auto e = find_ ? Clause() : Expr();
        Blanks();
        if (pos_ != s_.size()) {
            const size_t at = pos_;
            if (find_ && (Keyword("AND") || Keyword("OR")))
                Refuse("Find takes a single clause on a single column", at);
            if (s_[pos_] == ')') Refuse("')' without a matching '('", pos_);
            Refuse(find_ ? "unexpected text after the value" : "expected AND or OR", pos_);
        }
        return e;
    }

private:
    const std::string& s_;
    const bool find_;
    size_t pos_ = 0;
    int depth_ = 0;

    // Where an unquoted value of Find ends: at a blank followed by the word
    // AND or OR (a second clause, refused by Run), else at the end.
    size_t UnquotedEnd() {
        const size_t start = pos_;
        size_t end = s_.size();
        for (size_t i = start + 1; i < s_.size(); ++i) {
            if (!IsBlank(s_[i - 1]) || IsBlank(s_[i])) continue;
            pos_ = i;
            if (Keyword("AND") || Keyword("OR")) {
                end = i - 1;
                break;
            }
        }
        pos_ = start;
        return end;
    }

    void Blanks() {
        while (pos_ < s_.size() && IsBlank(s_[pos_])) ++pos_;
    }
    static bool NameChar(char c) {
        return !IsBlank(c) && c != '=' && c != '<' && c != '>' && c != '(' && c != ')' && c != '[' && c != ']' &&
               c != '\'' && c != '#';
    }
    // A keyword as a whole word.
    bool Keyword(const char* w) {
        size_t n = std::char_traits<char>::length(w);
        if (pos_ + n > s_.size()) return false;
        for (size_t k = 0; k < n; ++k) {
            char c = s_[pos_ + k];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            if (c != w[k]) return false;
        }
        size_t after = pos_ + n;
        if (after < s_.size() && NameChar(s_[after])) return false;
        pos_ = after;
        return true;
    }

    static std::unique_ptr<Node> Combine(Node::Kind kind, std::unique_ptr<Node> a, std::unique_ptr<Node> b) {
        if (a->kind != kind) {
            auto n = std::make_unique<Node>();
            n->kind = kind;
            n->children.push_back(std::move(a));
            a = std::move(n);
        }
        if (b->kind == kind) {
            for (auto& c : b->children) a->children.push_back(std::move(c));
        } else {
            a->children.push_back(std::move(b));
        }
        return a;
    }

    std::unique_ptr<Node> Expr() {
        auto left = Term();
        for (;;) {
            Blanks();
            size_t at = pos_;
            if (Keyword("AND")) {
                auto right = Term();
                // Without precedence, an OR on either side would be joined by AND.
                if (left->kind == Node::Or || right->kind == Node::Or)
                    Refuse("clauses joined by OR cannot be joined to another clause with AND", at);
                left = Combine(Node::And, std::move(left), std::move(right));
            } else if (Keyword("OR")) {
                left = Combine(Node::Or, std::move(left), Term());
            } else {
                return left;
            }
        }
    }

    std::unique_ptr<Node> Term() {
        Blanks();
        if (pos_ < s_.size() && s_[pos_] == '(') {
            if (++depth_ > kMaxGroupDepth) Refuse("parentheses nested too deeply", pos_);
            size_t open = pos_++;
            auto e = Expr();
            Blanks();
            if (pos_ >= s_.size() || s_[pos_] != ')') Refuse("'(' without a matching ')'", open);
            ++pos_;
            --depth_;
            return e;
        }
        return Clause();
    }

    std::unique_ptr<Node> Clause() {
        auto n = std::make_unique<Node>();
        Blanks();
        size_t at = pos_;
        if (pos_ >= s_.size()) Refuse("expected a field name", pos_);
        if (s_[pos_] == '[') {
            size_t close = s_.find(']', pos_ + 1);
            if (close == std::string::npos) Refuse("'[' without a matching ']'", pos_);
            n->field = s_.substr(pos_ + 1, close - pos_ - 1);
            pos_ = close + 1;
            if (TrimBlanks(n->field).empty()) Refuse("empty field name", at);
        } else {
            while (pos_ < s_.size() && NameChar(s_[pos_])) ++pos_;
            n->field = s_.substr(at, pos_ - at);
            if (n->field.empty()) Refuse("expected a field name", at);
        }

        Blanks();
        at = pos_;
        auto starts = [&](const char* t) { return s_.compare(pos_, std::char_traits<char>::length(t), t) == 0; };
        if (starts("<=")) n->op = Op::Le, pos_ += 2;
        else if (starts(">=")) n->op = Op::Ge, pos_ += 2;
        else if (starts("<>")) n->op = Op::Ne, pos_ += 2;
        else if (starts("=")) n->op = Op::Eq, pos_ += 1;
        else if (starts("<")) n->op = Op::Lt, pos_ += 1;
        else if (starts(">")) n->op = Op::Gt, pos_ += 1;
        else if (Keyword("LIKE")) n->op = Op::Like;
        else Refuse("expected an operator (=, <>, <, >, <=, >= or LIKE) after field '" + n->field + "'", at);

        Blanks();
        at = pos_;
        std::string text;
        double number = 0;
        if (pos_ >= s_.size()) Refuse("expected a value", pos_);
        char c = s_[pos_];
        if (c == '\'') {
            ++pos_;
            for (;;) {
                if (pos_ >= s_.size()) Refuse("text without its closing quote", at);
                if (s_[pos_] == '\'') {
                    if (pos_ + 1 < s_.size() && s_[pos_ + 1] == '\'') {
                        text.push_back('\'');
                        pos_ += 2;
                        continue;
                    }
                    ++pos_;
                    break;
                }
                text.push_back(s_[pos_++]);
            }
            n->lit = LitKind::Text;
        } else if (c == '#') {
            size_t close = s_.find('#', pos_ + 1);
            if (close == std::string::npos) Refuse("'#' without its closing '#'", at);
            text = s_.substr(pos_ + 1, close - pos_ - 1);
            pos_ = close + 1;
            if (TrimBlanks(text).empty()) Refuse("empty date", at);
            // #'1'# is how a text with quotes at both ends is written.
            n->lit = ParseDate(text, number) ? LitKind::Date : LitKind::Text;
        } else if (find_) {
            // ADO's Find reads an unquoted value as it stands: a text may
            // hold apostrophes; blanks after it are dropped, a blank inside
            // ("1 1") is refused as ADO refuses it.
            const size_t end = UnquotedEnd();
            text = s_.substr(pos_, end - pos_);
            while (!text.empty() && IsBlank(text.back())) text.pop_back();
            const size_t blank = std::find_if(text.begin(), text.end(), IsBlank) - text.begin();
            if (blank < text.size()) Refuse("an unquoted value cannot hold a blank; quote it", pos_ + blank);
            pos_ = end;
            if (rt::NamesEqual(text, "NULL")) {
                n->lit = LitKind::Null;
                if (n->op != Op::Eq && n->op != Op::Ne) Refuse("Null can only be compared with = or <>", at);
            } else {
                const bool isNumber = n->op != Op::Like &&
                                      ScanNumber(text.data(), text.data() + text.size(), number) == text.size();
                n->lit = isNumber ? LitKind::Number : LitKind::Text;
            }
        } else if (Keyword("NULL")) {
            n->lit = LitKind::Null;
            if (n->op != Op::Eq && n->op != Op::Ne) Refuse("Null can only be compared with = or <>", at);
        } else {
            size_t len = ScanNumber(s_.data() + pos_, s_.data() + s_.size(), number);
            if (len == 0) Refuse("expected a value ('text', #date#, a number or Null)", at);
            pos_ += len;
            n->lit = LitKind::Number;
        }
        if (pos_ < s_.size() && !IsBlank(s_[pos_]) && s_[pos_] != ')')
            Refuse("unexpected character after the value", pos_);

        if (n->op == Op::Like) {
            if (n->lit != LitKind::Text) Refuse("LIKE needs a quoted text pattern", at);
            auto wild = [](char ch) { return ch == '*' || ch == '%'; };
            bool lead = !text.empty() && wild(text.front());
            bool trail = text.size() >= 2 && wild(text.back());
            if (lead && text.size() == 1) lead = false, trail = true;  // '*' alone
            if (lead && !trail) Refuse("a LIKE pattern may start with a wildcard only when it also ends with one", at);
            std::string core = text.substr(lead ? 1 : 0, text.size() - (lead ? 1 : 0) - (trail ? 1 : 0));
            for (char ch : core)
                if (wild(ch)) Refuse("LIKE allows wildcards only at the end or at both ends of the pattern", at);
            n->like = lead ? LikeMode::Contains : trail ? LikeMode::Prefix : LikeMode::Exact;
            n->folded = FoldText(core);
        } else {
            PrepareLiteral(*n, text, number);
        }
        return n;
    }
};

constexpr int kUnordered = 2;  // a NaN on either side: no operator holds

int Cmp(double a, double b) {
    if (a < b) return -1;
    if (a > b) return 1;
    return a == b ? 0 : kUnordered;
}

bool Apply(Op op, int cmp) {
    if (cmp == kUnordered) return false;
    switch (op) {
        case Op::Eq: return cmp == 0;
        case Op::Ne: return cmp != 0;
        case Op::Lt: return cmp < 0;
        case Op::Gt: return cmp > 0;
        case Op::Le: return cmp <= 0;
        case Op::Ge: return cmp >= 0;
        case Op::Like: return cmp == 0;
    }
    return false;
}

bool LikeText(const Node& n, const char* data, size_t size) {
    switch (n.like) {
        case LikeMode::Exact: return CompareFolded(data, size, n.folded) == 0;
        case LikeMode::Prefix: {
            auto p = reinterpret_cast<const unsigned char*>(data);
            return PrefixAt(p, p + size, n.folded);
        }
        case LikeMode::Contains: return ContainsFolded(data, size, n.folded);
    }
    return false;
}

// The number a numeric or date field value stands for; false for other types.
bool NumberOf(const rt::Variant& v, double& out) {
    switch (v.Type()) {
        case rt::vbInteger: out = v.I2(); return true;
        case rt::vbLong: out = v.I4(); return true;
        case rt::vbSingle:
        case rt::vbDouble: out = v.R8(); return true;
        case rt::vbCurrency: out = v.Cy().ToDouble(); return true;
        case rt::vbDecimal: out = v.Dec().ToDouble(); return true;
        case rt::vbByte: out = v.Byte(); return true;
        case rt::vbBoolean: out = v.Bool() ? -1 : 0; return true;
        case rt::vbDate: out = v.DateValue(); return true;
        default: return false;
    }
}

bool MatchClause(const Node& n, const rt::Variant& v) {
    uint16_t t = v.Type();
    bool missing = t == rt::vbNull || t == rt::vbEmpty;
    if (n.lit == LitKind::Null) return (n.op == Op::Eq) == missing;
    if (missing) return false;

    if (t == rt::vbString) {
        const std::string& s = v.Str();
        if (n.op == Op::Like) return LikeText(n, s.data(), s.size());
        return Apply(n.op, CompareFolded(s.data(), s.size(), n.folded));
    }

    double x;
    if (!NumberOf(v, x)) return false;  // objects, arrays, errors never match
    if (n.op == Op::Like) {
        char buf[64];
        int len = 0;
        if (t == rt::vbBoolean) {
            len = std::snprintf(buf, sizeof buf, "%s", v.Bool() ? "True" : "False");
        } else if (t == rt::vbDate) {
            len = FormatDate(x, buf, sizeof buf);
        } else {
            len = FormatNumber(x, buf, sizeof buf);
        }
        return LikeText(n, buf, static_cast<size_t>(len));
    }
    // A literal that does not convert matches nothing (the typed Bind refuses
    // it up front for fields of a fixed type).
    if (t == rt::vbDate) return n.hasDate && Apply(n.op, Cmp(OleToLinear(x), n.date));
    if (t == rt::vbBoolean) return n.hasBool && Apply(n.op, Cmp(x, n.boolNumber));
    return n.hasNumber && Apply(n.op, Cmp(x, n.number));
}

bool Eval(const Node& n, const rt::Variant* row) {
    switch (n.kind) {
        case Node::Clause: return MatchClause(n, row[n.fieldIndex]);
        case Node::And:
            for (const auto& c : n.children)
                if (!Eval(*c, row)) return false;
            return true;
        case Node::Or:
            for (const auto& c : n.children)
                if (Eval(*c, row)) return true;
            return false;
    }
    return false;
}

void BindNode(Node& n, const std::function<int(const std::string&)>& fieldIndexOf,
              const std::function<DataTypeEnum(int)>* fieldTypeOf) {
    if (n.kind != Node::Clause) {
        for (auto& c : n.children) BindNode(*c, fieldIndexOf, fieldTypeOf);
        return;
    }
    int idx = fieldIndexOf(n.field);
    if (idx < 0)
        throw rt::ComError(err::ItemNotFound, kSource,
                           "Item cannot be found in the collection corresponding to the requested name or ordinal. "
                           "Filter field: '" + n.field + "'.");
    n.fieldIndex = idx;
    if (!fieldTypeOf || n.lit == LitKind::Null || n.op == Op::Like) return;
    switch (NeedsFor((*fieldTypeOf)(idx))) {
        case Needs::Number: if (!n.hasNumber) CannotConvert(n, "a number"); break;
        case Needs::Bool: if (!n.hasBool) CannotConvert(n, "a Boolean"); break;
        case Needs::Date: if (!n.hasDate) CannotConvert(n, "a date"); break;
        case Needs::Nothing: break;
    }
}

// A clause an index can answer: an equality or a range.
bool Indexable(const Node& n) {
    return n.kind == Node::Clause && n.op != Op::Like && n.op != Op::Ne;
}

// The rows that may satisfy the node, unordered, or false when it needs a
// scan. An AND-run takes the rows of one indexed clause (an equality when
// there is one: it is usually the narrowest), an OR the rows of all.
bool Gather(const Node& n, RowStore& store, std::vector<int32_t>& rows) {
    switch (n.kind) {
        case Node::Clause: {
            if (!Indexable(n)) return false;
            const FieldIndex* index = store.criteriaIndex.For(n.fieldIndex, store);
            if (!index) return false;
            CriteriaProbe probe;
            probe.op = n.op == Op::Eq ? CriteriaProbe::Op::Eq
                       : n.op == Op::Lt ? CriteriaProbe::Op::Lt
                       : n.op == Op::Le ? CriteriaProbe::Op::Le
                       : n.op == Op::Gt ? CriteriaProbe::Op::Gt
                                        : CriteriaProbe::Op::Ge;
            probe.null = n.lit == LitKind::Null;
            probe.text = &n.folded;
            probe.hasNumber = n.hasNumber, probe.number = n.number;
            probe.hasDate = n.hasDate, probe.date = n.date;
            probe.hasBool = n.hasBool, probe.boolNumber = n.boolNumber;
            index->Collect(probe, rows);
            return true;
        }
        case Node::And: {
            const Node* best = nullptr;
            for (const auto& c : n.children)
                if (Indexable(*c) && (!best || (c->op == Op::Eq && best->op != Op::Eq))) best = c.get();
            // The parser flattens AND-runs: their children are clauses.
            return best && Gather(*best, store, rows);
        }
        case Node::Or: {
            size_t before = rows.size();
            for (const auto& c : n.children)
                if (!Gather(*c, store, rows)) {
                    rows.resize(before);
                    return false;
                }
            return true;
        }
    }
    return false;
}

}  // namespace

bool FilterCriteria::CandidateRows(RowStore& store, std::vector<int32_t>& rows) const {
    rows.clear();
    if (!bound_ || !Gather(*root_, store, rows)) return false;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return true;
}

CriteriaKey FilterCriteria::KeyOf(const rt::Variant& value) {
    CriteriaKey key;
    uint16_t t = value.Type();
    if (t == rt::vbNull || t == rt::vbEmpty) {
        key.kind = CriteriaKey::Missing;
    } else if (t == rt::vbString) {
        key.kind = CriteriaKey::Text;
        key.text = FoldText(value.Str());
    } else if (double x; NumberOf(value, x) && !std::isnan(x)) {
        key.kind = t == rt::vbDate ? CriteriaKey::Date : t == rt::vbBoolean ? CriteriaKey::Bool : CriteriaKey::Number;
        key.number = t == rt::vbDate ? OleToLinear(x) : x;
    }
    return key;
}

FilterCriteria::FilterCriteria() = default;
FilterCriteria::FilterCriteria(FilterCriteria&&) noexcept = default;
FilterCriteria& FilterCriteria::operator=(FilterCriteria&&) noexcept = default;
FilterCriteria::~FilterCriteria() = default;

FilterCriteria FilterCriteria::Parse(const std::string& text) {
    FilterCriteria f;
    f.root_ = Parser(text, false).Run();
    return f;
}

FilterCriteria FilterCriteria::ParseFind(const std::string& text) {
    FilterCriteria f;
    f.root_ = Parser(text, true).Run();
    return f;
}

void FilterCriteria::Bind(const std::function<int(const std::string&)>& fieldIndexOf) {
    bound_ = false;
    if (root_) BindNode(*root_, fieldIndexOf, nullptr);
    bound_ = root_ != nullptr;
}

void FilterCriteria::Bind(const std::function<int(const std::string&)>& fieldIndexOf,
                          const std::function<DataTypeEnum(int)>& fieldTypeOf) {
    bound_ = false;
    if (root_) BindNode(*root_, fieldIndexOf, &fieldTypeOf);
    bound_ = root_ != nullptr;
}

bool FilterCriteria::Matches(const rt::Variant* rowValues) const {
    if (!bound_)
        throw rt::ComError(err::IllegalOperation, kSource, "Filter criteria used before its fields were bound.");
    return Eval(*root_, rowValues);
}

}  // namespace ado
