#include "product/DataShape.h"

#include <cctype>
#include <cstdio>
#include <map>

#include "ado/Recordset.h"
#include "interfaces/DataContext.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace product {

namespace {

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

[[noreturn]] void Fail(const std::string& why) { throw rt::ComError(kShapeCommandError, "DataShape", why); }

struct Token {
    enum Kind { Word, Command, Punct, End } kind = End;
    std::string text;  // words upper-cased; a command as written
    size_t at = 0;
};

std::vector<Token> Tokenize(const std::string& s) {
    std::vector<Token> out;
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        Token t;
        t.at = i;
        if (c == '{') {
            // The provider command, up to its closing brace outside quotes.
            size_t k = i + 1;
            char quote = 0;
            for (; k < s.size(); ++k) {
                if (quote) {
                    if (s[k] == quote) quote = 0;
                } else if (s[k] == '\'' || s[k] == '"') {
                    quote = s[k];
                } else if (s[k] == '}') {
                    break;
                }
            }
            if (k >= s.size()) Fail("a provider command opened at " + std::to_string(i + 1) + " is not closed");
            t.kind = Token::Command;
            t.text = s.substr(i + 1, k - i - 1);
            i = k + 1;
        } else if (c == '(' || c == ')' || c == ',') {
            t.kind = Token::Punct;
            t.text = std::string(1, c);
            ++i;
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t k = i;
            while (k < s.size() && (std::isalnum(static_cast<unsigned char>(s[k])) || s[k] == '_' || s[k] == '$' || s[k] == '#'))
                ++k;
            t.kind = Token::Word;
            t.text = Upper(s.substr(i, k - i));
            i = k;
        } else {
            Fail(std::string("unexpected \"") + c + "\" at " + std::to_string(i + 1));
        }
        out.push_back(std::move(t));
    }
    Token end;
    end.at = s.size();
    out.push_back(end);
    return out;
}

struct Shape;
struct TableExp {
    std::string command;           // a provider command, or
    std::shared_ptr<Shape> shape;  // a nested shape
};
struct Relation {
    TableExp table;
    std::string alias;
    std::vector<std::pair<std::string, std::string>> columns;  // parent TO child
};
struct Shape {
    TableExp table;
    std::vector<Relation> fields;
};

class Parser {
public:
    explicit Parser(const std::string& text) : toks_(Tokenize(text)) {}

    std::shared_ptr<Shape> Whole() {
        auto shape = ParseShape();
        if (Peek().kind != Token::End) Unexpected("the end of the text");
        return shape;
    }

private:
    const Token& Peek() const { return toks_[pos_]; }
    const Token& Next() { return toks_[pos_ < toks_.size() - 1 ? pos_++ : pos_]; }
    bool IsWord(const char* w) const { return Peek().kind == Token::Word && Peek().text == w; }
    bool IsPunct(const char* p) const { return Peek().kind == Token::Punct && Peek().text == p; }
    [[noreturn]] void Unexpected(const std::string& expected) const {
        const Token& t = Peek();
        Fail("expected " + expected + " at " + std::to_string(t.at + 1) + ", found " +
             (t.kind == Token::End ? std::string("the end of the text") : "\"" + t.text + "\""));
    }
    void Expect(const char* punct) {
        if (!IsPunct(punct)) Unexpected(std::string("\"") + punct + "\"");
        Next();
    }
    std::string Name() {
        if (Peek().kind != Token::Word) Unexpected("a name");
        return Next().text;
    }
    // [[AS] alias], the alias not being one of the words that may follow.
    std::string OptionalAlias() {
        if (IsWord("AS")) {
            Next();
            return Name();
        }
        if (Peek().kind == Token::Word && !IsWord("APPEND") && !IsWord("RELATE")) return Next().text;
        return "";
    }

    std::shared_ptr<Shape> ParseShape() {
        if (++depth_ > 64) Fail("shapes nested deeper than 64");
        if (!IsWord("SHAPE")) Unexpected("SHAPE");
        Next();
        auto shape = std::make_shared<Shape>();
        shape->table = ParseTable();
        OptionalAlias();
        if (IsWord("APPEND")) {
            Next();
            for (;;) {
                shape->fields.push_back(ParseField());
                if (!IsPunct(",")) break;
                Next();
            }
        }
        --depth_;
        return shape;
    }

    TableExp ParseTable() {
        TableExp t;
        if (Peek().kind == Token::Command) {
            t.command = Next().text;
        } else if (IsPunct("(")) {
            Next();
            t.shape = ParseShape();
            Expect(")");
        } else {
            Unexpected("a provider command in braces or a shape in parentheses");
        }
        return t;
    }

    Relation ParseField() {
        Expect("(");
        Relation r;
        r.table = ParseTable();
        r.alias = OptionalAlias();
        if (!IsWord("RELATE")) Unexpected("RELATE");
        Next();
        for (;;) {
            std::string parent = Name();
            if (!IsWord("TO")) Unexpected("TO");
            Next();
            r.columns.emplace_back(parent, Name());
            if (!IsPunct(",")) break;
            Next();
        }
        Expect(")");
        std::string outer = OptionalAlias();
        if (!outer.empty()) r.alias = outer;
        if (r.alias.empty()) Fail("a relation without alias");
        return r;
    }

    std::vector<Token> toks_;
    size_t pos_ = 0;
    int depth_ = 0;
};

size_t FieldIndex(const ShapedRows& rows, const std::string& name) {
    const std::string upper = Upper(name);
    for (size_t f = 0; f < rows.fields.size(); ++f)
        if (rows.fields[f] == upper) return f;
    Fail("the rows have no column " + name);
}

// The values of the columns as one key; none when a value is Null.
bool KeyOf(const ShapedRows::Row& row, const std::vector<size_t>& columns, std::string& key) {
    key.clear();
    for (size_t c : columns) {
        const rt::Variant& v = row.values[c];
        if (v.IsNull() || v.IsEmpty()) return false;
        if (rt::IsNumeric(v) && !v.IsString()) {
            char buf[40];
            std::snprintf(buf, sizeof buf, "n%.17g", rt::CDbl(v));
            key += buf;
        } else {
            key += "s" + rt::CStr(v);
        }
        key += '\x1f';
    }
    return true;
}

ShapedRows Run(pelmora::IDataContext& context, const Shape& shape);

ShapedRows RunTable(pelmora::IDataContext& context, const TableExp& table) {
    if (table.shape) return Run(context, *table.shape);
    auto rs = context.OpenRecordset(table.command);
    if (!rs) Fail("the provider command returned no rows: " + table.command);
    ShapedRows out;
    auto fields = rs->get_Fields();
    const int32_t n = fields->get_Count();
    for (int32_t f = 0; f < n; ++f) out.fields.push_back(Upper(fields->Item(f)->get_Name()));
    if (!(rs->get_BOF() && rs->get_EOF())) {
        for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) {
            ShapedRows::Row row;
            for (int32_t f = 0; f < n; ++f) row.values.push_back(fields->Item(f)->get_Value());
            out.rows.push_back(std::move(row));
        }
    }
    return out;
}

ShapedRows Run(pelmora::IDataContext& context, const Shape& shape) {
    ShapedRows parent = RunTable(context, shape.table);
    for (const Relation& relation : shape.fields) {
        const ShapedRows child = RunTable(context, relation.table);
        std::vector<size_t> parentColumns, childColumns;
        for (const auto& [p, c] : relation.columns) {
            parentColumns.push_back(FieldIndex(parent, p));
            childColumns.push_back(FieldIndex(child, c));
        }
        std::map<std::string, std::vector<size_t>> byKey;
        std::string key;
        for (size_t r = 0; r < child.rows.size(); ++r)
            if (KeyOf(child.rows[r], childColumns, key)) byKey[key].push_back(r);
        for (auto& row : parent.rows) {
            auto chapter = std::make_shared<ShapedRows>();
            chapter->fields = child.fields;
            if (KeyOf(row, parentColumns, key)) {
                auto it = byKey.find(key);
                if (it != byKey.end())
                    for (size_t r : it->second) chapter->rows.push_back(child.rows[r]);
            }
            row.chapters.push_back({relation.alias, chapter});
        }
    }
    return parent;
}

}  // namespace

const rt::Variant& ShapedRows::Value(size_t row, const std::string& field) const {
    return rows.at(row).values[FieldIndex(*this, field)];
}

const ShapedRows* ShapedRows::Chapter(size_t row, const std::string& alias) const {
    const std::string upper = Upper(alias);
    for (const auto& chapter : rows.at(row).chapters)
        if (chapter.alias == upper) return chapter.rows.get();
    return nullptr;
}

ShapedRows RunShapeCommand(pelmora::IDataContext& context, const std::string& text) {
    return Run(context, *Parser(text).Whole());
}

}  // namespace product
