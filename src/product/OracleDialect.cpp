#include "product/OracleDialect.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "product/SqliteConnection.h"

namespace product {

namespace {

std::string Shown(const std::string& text) {
    return " in \"" + (text.size() > 2000 ? text.substr(0, 2000) + "..." : text) + "\"";
}

// The tokenizer reads names as SQLite does, which is wider than the rule for
// names the system writes (runtime/SqlName.h): bytes from 0x80 on are letters
// to SQLite, and "#" is no part of a name (it starts a named variable).
bool IdentStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}
bool IdentPart(char c) { return IdentStart(c) || (c >= '0' && c <= '9') || c == '$'; }
bool Digit(char c) { return c >= '0' && c <= '9'; }

// A name quoted as SQLite quotes them: "..." and `...` with the quote
// doubled inside, [...] without escapes. Returns the index after the close.
size_t QuotedNameEnd(const std::string& text, size_t i, std::string& name) {
    const char close = text[i] == '[' ? ']' : text[i];
    const bool doubling = close != ']';
    for (size_t k = i + 1; k < text.size(); ++k) {
        if (text[k] != close) {
            name.push_back(text[k]);
        } else if (doubling && k + 1 < text.size() && text[k + 1] == close) {
            name.push_back(close);
            ++k;
        } else {
            return k + 1;
        }
    }
    return std::string::npos;
}

}  // namespace

std::vector<Token> Tokenize(const std::string& text) {
    std::vector<Token> out;
    size_t i = 0, n = text.size();
    while (i < n) {
        char c = text[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f') {
            ++i;
            continue;
        }
        if (c == '-' && i + 1 < n && text[i + 1] == '-') {
            while (i < n && text[i] != '\n') ++i;
            continue;
        }
        if (c == '/' && i + 1 < n && text[i + 1] == '*') {
            size_t close = text.find("*/", i + 2);
            if (close == std::string::npos) RaiseOra(1742, "comment not terminated properly" + Shown(text));
            i = close + 2;
            continue;
        }
        Token t;
        t.begin = i;
        if (c == '\'') {
            t.kind = Token::String;
            ++i;
            for (;;) {
                if (i >= n) RaiseOra(1756, "quoted string not properly terminated" + Shown(text));
                if (text[i] == '\'') {
                    if (i + 1 < n && text[i + 1] == '\'') {
                        t.text.push_back('\'');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                t.text.push_back(text[i++]);
            }
        } else if (c == '"' || c == '`' || c == '[') {
            t.kind = Token::QuotedIdent;
            i = QuotedNameEnd(text, i, t.text);
            if (i == std::string::npos)
                RaiseOra(1740, std::string("missing closing ") + (c == '[' ? "bracket" : c == '`' ? "backquote" : "double quote") +
                                   " in identifier" + Shown(text));
        } else if (c == ':' || c == '@' || c == '$' || c == '#') {
            // SQLite reads these, followed by a name, as named variables; the
            // system binds by "?" only.
            if (i + 1 < n && IdentPart(text[i + 1]))
                RaiseOra(1036, "illegal variable name/number: only \"?\" markers are bound" + Shown(text));
            t.kind = Token::Punct;
            t.text = (c == ':' && i + 1 < n && text[i + 1] == '=') ? ":=" : std::string(1, c);
            i += t.text.size();
        } else if (IdentStart(c)) {
            t.kind = Token::Ident;
            while (i < n && IdentPart(text[i])) ++i;
            t.text = UpperAscii(text.substr(t.begin, i - t.begin));
        } else if (Digit(c) || (c == '.' && i + 1 < n && Digit(text[i + 1]))) {
            t.kind = Token::Number;
            while (i < n && Digit(text[i])) ++i;
            if (i < n && text[i] == '.' && !(i + 1 < n && text[i + 1] == '.')) {
                ++i;
                while (i < n && Digit(text[i])) ++i;
            }
            if (i < n && (text[i] == 'e' || text[i] == 'E')) {
                size_t j = i + 1;
                if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
                if (j < n && Digit(text[j])) {
                    i = j;
                    while (i < n && Digit(text[i])) ++i;
                }
            }
            t.text = text.substr(t.begin, i - t.begin);
        } else if (c == '?') {
            if (i + 1 < n && Digit(text[i + 1]))
                RaiseOra(1036, "illegal variable name/number: numbered markers are not bound" + Shown(text));
            t.kind = Token::Marker;
            t.text = "?";
            ++i;
        } else {
            t.kind = Token::Punct;
            static const char* kTwo[] = {"||", "<>", "!=", "<=", ">=", ":=", "=>"};
            std::string two = text.substr(i, 2);
            bool found = false;
            for (const char* p : kTwo)
                if (two == p) found = true;
            t.text = found ? two : std::string(1, c);
            i += t.text.size();
        }
        t.end = i;
        out.push_back(std::move(t));
    }
    Token end;
    end.kind = Token::End;
    end.begin = end.end = n;
    out.push_back(end);
    return out;
}

int CountMarkers(const std::vector<Token>& tokens) {
    int n = 0;
    for (const auto& t : tokens) n += t.kind == Token::Marker ? 1 : 0;
    return n;
}

namespace {

// Recursive descent over the tokens of one text.
class Parser {
public:
    Parser(const std::string& text, const std::vector<Token>& tokens) : text_(text), toks_(tokens) {
        int m = 0;
        markerIndex_.resize(tokens.size(), -1);
        for (size_t k = 0; k < tokens.size(); ++k)
            if (tokens[k].kind == Token::Marker) markerIndex_[k] = m++;
    }

    const Token& Peek(size_t ahead = 0) const {
        size_t k = std::min(pos_ + ahead, toks_.size() - 1);
        return toks_[k];
    }
    const Token& Next() {
        const Token& t = Peek();
        if (pos_ < toks_.size() - 1) ++pos_;
        return t;
    }
    bool AtEnd() const { return Peek().kind == Token::End; }
    void Seek(size_t k) { pos_ = k; }
    size_t Pos() const { return pos_; }

    [[noreturn]] void Unexpected(int oraCode, const std::string& expecting) const {
        const Token& t = Peek();
        std::string symbol = t.kind == Token::End ? "end-of-file" : text_.substr(t.begin, t.end - t.begin);
        std::string where = "line 1, column " + std::to_string(t.begin + 1) + ": ";
        if (oraCode == 6550)
            RaiseOra(6550, where + "PLS-00103: Encountered the symbol \"" + symbol + "\" when expecting " +
                               expecting + Shown(text_));
        RaiseOra(oraCode, "invalid SQL statement: found \"" + symbol + "\" where " + expecting + " was expected" +
                              Shown(text_));
    }

    void ExpectWord(const char* word, int oraCode) {
        if (!Peek().Is(word)) Unexpected(oraCode, word);
        Next();
    }
    void ExpectPunct(const char* p, int oraCode) {
        if (!Peek().IsPunct(p)) Unexpected(oraCode, std::string("\"") + p + "\"");
        Next();
    }
    std::string Identifier(int oraCode) {
        if (Peek().kind != Token::Ident) Unexpected(oraCode, "an identifier");
        return Next().text;
    }
    std::string QualifiedName(int oraCode) {
        std::string name = Identifier(oraCode);
        while (Peek().IsPunct(".")) {
            Next();
            name += "." + Identifier(oraCode);
        }
        return name;
    }

    Expr ParseExpr(int oraCode) {
        Expr e;
        const Token& t = Peek();
        if (t.kind == Token::Marker) {
            e.kind = Expr::Marker;
            e.marker = markerIndex_[pos_];
            Next();
        } else if (t.Is("NULL")) {
            e.kind = Expr::Null;
            Next();
        } else if (t.kind == Token::String) {
            e.kind = Expr::String;
            e.text = Next().text;
        } else if (t.kind == Token::Number) {
            e.kind = Expr::Number;
            e.text = Next().text;
        } else if (t.IsPunct("-") && Peek(1).kind == Token::Number) {
            Next();
            e.kind = Expr::Number;
            e.text = "-" + Next().text;
        } else if (t.kind == Token::Ident) {
            e.kind = Expr::Call;
            e.name = QualifiedName(oraCode);
            if (Peek().IsPunct("(")) e.args = ParseArgs(oraCode);
        } else {
            Unexpected(oraCode, "an argument");
        }
        return e;
    }

    std::vector<Expr> ParseArgs(int oraCode) {
        Nesting nest(*this, oraCode, "function calls");
        std::vector<Expr> args;
        ExpectPunct("(", oraCode);
        if (Peek().IsPunct(")")) {
            Next();
            return args;
        }
        for (;;) {
            args.push_back(ParseExpr(oraCode));
            if (Peek().IsPunct(",")) {
                Next();
                continue;
            }
            ExpectPunct(")", oraCode);
            return args;
        }
    }

    ProcCall ParseCall(int oraCode) {
        ProcCall c;
        c.name = QualifiedName(oraCode);
        if (Peek().IsPunct("(")) c.args = ParseArgs(oraCode);
        return c;
    }

    void Semicolon() { ExpectPunct(";", 6550); }

    BlockStatement ParseStatement() {
        BlockStatement s;
        const Token& t = Peek();
        if (t.Is("SAVEPOINT")) {
            Next();
            s.kind = BlockStatement::Savepoint;
            s.name = Identifier(6550);
            Semicolon();
        } else if (t.Is("ROLLBACK")) {
            Next();
            ExpectWord("TO", 6550);
            if (Peek().Is("SAVEPOINT")) Next();
            s.kind = BlockStatement::RollbackTo;
            s.name = Identifier(6550);
            Semicolon();
        } else if (t.Is("RAISE")) {
            Next();
            s.kind = BlockStatement::Raise;
            if (Peek().kind == Token::Ident) s.name = Identifier(6550);
            Semicolon();
        } else if (t.Is("NULL")) {
            Next();
            s.kind = BlockStatement::Null;
            Semicolon();
        } else if (t.Is("BEGIN") || t.Is("DECLARE")) {
            s.kind = BlockStatement::Nested;
            s.nested = ParseBlock();
        } else if (t.kind == Token::Ident && !IsReserved(t.text)) {
            s.kind = BlockStatement::Call;
            s.call = ParseCall(6550);
            Semicolon();
        } else {
            Unexpected(6550, "a statement the data context runs in a block (savepoint, rollback to, RAISE, NULL, "
                             "a procedure call or a nested block)");
        }
        return s;
    }

    static bool IsReserved(const std::string& w) {
        static const char* kWords[] = {"BEGIN", "END", "EXCEPTION", "WHEN", "THEN", "DECLARE", "SELECT",
                                       "INSERT", "UPDATE", "DELETE", "COMMIT", "IF", "LOOP", "FOR", "WHILE",
                                       "OTHERS", "EXECUTE", "OPEN", "CLOSE", "FETCH", "RETURN", "GOTO"};
        for (const char* k : kWords)
            if (w == k) return true;
        return false;
    }

    std::vector<BlockStatement> ParseStatements() {
        std::vector<BlockStatement> body;
        while (!Peek().Is("END") && !Peek().Is("EXCEPTION") && !Peek().Is("WHEN") && !AtEnd())
            body.push_back(ParseStatement());
        if (body.empty()) Unexpected(6550, "a statement");
        return body;
    }

    std::shared_ptr<Block> ParseBlock() {
        Nesting nest(*this, 6550, "blocks");
        auto b = std::make_shared<Block>();
        if (Peek().Is("DECLARE")) {
            Next();
            while (!Peek().Is("BEGIN")) {
                if (AtEnd()) Unexpected(6550, "BEGIN");
                if (Peek().Is("PRAGMA")) {
                    Next();
                    ExpectWord("EXCEPTION_INIT", 6550);
                    ExpectPunct("(", 6550);
                    std::string name = Identifier(6550);
                    ExpectPunct(",", 6550);
                    bool negative = false;
                    if (Peek().IsPunct("-")) {
                        Next();
                        negative = true;
                    }
                    if (Peek().kind != Token::Number) Unexpected(6550, "an error number");
                    int code = std::atoi(Next().text.c_str());
                    ExpectPunct(")", 6550);
                    Semicolon();
                    Block::Declared* found = nullptr;
                    for (auto& d : b->exceptions)
                        if (d.name == name) found = &d;
                    if (!found)
                        RaiseOra(6550, "PLS-00109: unknown exception name '" + name + "' in PRAGMA EXCEPTION_INIT" +
                                           Shown(text_));
                    found->sqlCode = negative ? -code : code;
                } else {
                    Block::Declared d;
                    d.name = Identifier(6550);
                    ExpectWord("EXCEPTION", 6550);
                    Semicolon();
                    b->exceptions.push_back(d);
                }
            }
        }
        ExpectWord("BEGIN", 6550);
        b->body = ParseStatements();
        if (Peek().Is("EXCEPTION")) {
            Next();
            if (!Peek().Is("WHEN")) Unexpected(6550, "WHEN");
            while (Peek().Is("WHEN")) {
                Next();
                ExceptionHandler h;
                if (Peek().Is("OTHERS")) {
                    Next();
                } else {
                    h.names.push_back(Identifier(6550));
                    while (Peek().Is("OR")) {
                        Next();
                        h.names.push_back(Identifier(6550));
                    }
                }
                ExpectWord("THEN", 6550);
                h.body = ParseStatements();
                b->handlers.push_back(std::move(h));
            }
        }
        ExpectWord("END", 6550);
        Semicolon();
        return b;
    }

private:
    // Parsing recurses once per nested block or call: a cap keeps a hostile
    // text from exhausting the stack.
    static constexpr int kMaxNesting = 64;
    struct Nesting {
        Parser& p;
        Nesting(Parser& parser, int oraCode, const char* what) : p(parser) {
            if (++p.depth_ > kMaxNesting) {
                --p.depth_;
                RaiseOra(oraCode, (oraCode == 6550 ? "PLS-00123: program too large: " : "invalid SQL statement: ") +
                                      std::string(what) + " nested deeper than " + std::to_string(kMaxNesting) +
                                      Shown(p.text_));
            }
        }
        ~Nesting() { --p.depth_; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;
    };

    const std::string& text_;
    const std::vector<Token>& toks_;
    std::vector<int> markerIndex_;
    size_t pos_ = 0;
    int depth_ = 0;
};

// Copies text[from, to) with every "?" written as its numbered form "?N",
// so that markers keep their positions when a statement is rearranged.
std::string NumberedSegment(const std::string& text, const std::vector<Token>& toks, size_t fromTok, size_t toTok) {
    if (fromTok >= toTok) return "";
    std::string out;
    size_t cursor = toks[fromTok].begin;
    int index = 0;
    for (size_t k = 0; k < fromTok; ++k) index += toks[k].kind == Token::Marker ? 1 : 0;
    for (size_t k = fromTok; k < toTok; ++k) {
        if (toks[k].kind != Token::Marker) continue;
        out += text.substr(cursor, toks[k].begin - cursor);
        out += "?" + std::to_string(++index);
        cursor = toks[k].end;
    }
    size_t stop = toks[toTok - 1].end;
    out += text.substr(cursor, stop - cursor);
    return out;
}

// Index of the first token at parenthesis depth 0 (from start) that is the word.
size_t FindTopLevel(const std::vector<Token>& toks, size_t start, const char* word) {
    int depth = 0;
    for (size_t k = start; k < toks.size(); ++k) {
        if (toks[k].IsPunct("(")) ++depth;
        else if (toks[k].IsPunct(")")) --depth;
        else if (depth == 0 && toks[k].Is(word)) return k;
    }
    return std::string::npos;
}

// SELECT <list> FROM <table> [alias] START WITH <cond> CONNECT BY [NOCYCLE]
//   <col> = PRIOR <col> | PRIOR <col> = <col>   [ORDER BY ...]
// becomes a recursive common table expression. UNION (not UNION ALL) keeps
// a cycle in the data from recursing for ever.
std::string RewriteConnectBy(const std::string& text, const std::vector<Token>& toks) {
    auto refuse = [&](const std::string& why) -> std::string {
        RaiseOra(900, "invalid SQL statement: CONNECT BY form not supported (" + why + ")" + Shown(text));
    };
    size_t last = toks.size() - 1;  // the End token
    if (last > 0 && toks[last - 1].IsPunct(";")) --last;
    if (!toks[0].Is("SELECT")) return refuse("the statement must start with SELECT");
    size_t from = FindTopLevel(toks, 1, "FROM");
    size_t start = FindTopLevel(toks, 1, "START");
    size_t connect = FindTopLevel(toks, 1, "CONNECT");
    if (from == std::string::npos || start == std::string::npos || connect == std::string::npos || start < from ||
        connect < start)
        return refuse("expected SELECT ... FROM table START WITH ... CONNECT BY ...");
    if (!toks[start + 1].Is("WITH") || !toks[connect + 1].Is("BY")) return refuse("expected START WITH and CONNECT BY");
    size_t k = from + 1;
    if (toks[k].kind != Token::Ident) return refuse("expected a table name after FROM");
    std::string table = toks[k].text;
    ++k;
    std::string alias;
    if (toks[k].kind == Token::Ident && k < start) alias = toks[k++].text;
    if (k != start) return refuse("only one table may stand before START WITH");

    size_t c = connect + 2;
    if (toks[c].Is("NOCYCLE")) ++c;
    auto column = [&](size_t& p) -> std::string {
        if (toks[p].kind != Token::Ident) return refuse("expected a column in CONNECT BY");
        std::string name = toks[p++].text;
        if (toks[p].IsPunct(".") && toks[p + 1].kind == Token::Ident) {
            name = toks[p + 1].text;  // qualified by the table or alias
            p += 2;
        }
        return name;
    };
    std::string childCol, parentCol;
    if (toks[c].Is("PRIOR")) {
        ++c;
        parentCol = column(c);
        if (!toks[c].IsPunct("=")) return refuse("expected =");
        ++c;
        childCol = column(c);
    } else {
        childCol = column(c);
        if (!toks[c].IsPunct("=")) return refuse("expected =");
        ++c;
        if (!toks[c].Is("PRIOR")) return refuse("expected PRIOR");
        ++c;
        parentCol = column(c);
    }
    std::string orderBy;
    const size_t orderAt = c;
    if (toks[c].Is("ORDER")) {
        orderBy = " " + NumberedSegment(text, toks, c, last);
        c = last;
    }
    if (c != last) return refuse("unexpected text after CONNECT BY");

    // Each piece is pasted into a larger statement: it must close every
    // parenthesis it opens and end no statement.
    auto balanced = [&](size_t b, size_t e) {
        int depth = 0;
        for (size_t p = b; p < e; ++p) {
            if (toks[p].IsPunct("(")) ++depth;
            else if (toks[p].IsPunct(")") && --depth < 0) return false;
            else if (toks[p].IsPunct(";")) return false;
        }
        return depth == 0;
    };
    if (!balanced(1, from) || !balanced(start + 2, connect) || (!orderBy.empty() && !balanced(orderAt, last)))
        return refuse("unbalanced parentheses or a \";\" in a clause");
    std::string distinctAndList = NumberedSegment(text, toks, 1, from);
    std::string condition = NumberedSegment(text, toks, start + 2, connect);
    std::string name = alias.empty() ? table : alias;
    return "WITH RECURSIVE PELMORA_CONNECT_BY AS (SELECT * FROM " + table + (alias.empty() ? "" : " " + alias) +
           " WHERE " + condition + " UNION SELECT PELMORA_CHILD.* FROM " + table +
           " PELMORA_CHILD JOIN PELMORA_CONNECT_BY ON PELMORA_CHILD." + childCol + " = PELMORA_CONNECT_BY." +
           parentCol + ") SELECT " + distinctAndList + " FROM PELMORA_CONNECT_BY " + name + orderBy;
}

int64_t SignedNumber(Parser& p, const std::string& text) {
    bool negative = false;
    if (p.Peek().IsPunct("-")) {
        p.Next();
        negative = true;
    }
    if (p.Peek().kind != Token::Number) p.Unexpected(900, "a number");
    std::string digits = p.Next().text;
    if (digits.find_first_not_of("0123456789") != std::string::npos)
        RaiseOra(1722, "invalid number: " + digits + Shown(text));
    errno = 0;
    int64_t v = std::strtoll(digits.c_str(), nullptr, 10);
    if (errno == ERANGE)
        RaiseOra(4003, "sequence parameter exceeds maximum size allowed: " + digits + Shown(text));
    return negative ? -v : v;
}

ParsedText ParseCreateSequence(const std::string& text, const std::vector<Token>& toks) {
    Parser p(text, toks);
    p.Next();
    p.Next();  // CREATE SEQUENCE
    ParsedText r;
    r.kind = ParsedText::CreateSequence;
    std::string name = p.QualifiedName(900);
    r.name = name.substr(name.rfind('.') == std::string::npos ? 0 : name.rfind('.') + 1);
    bool haveStart = false;
    int64_t minValue = 1;
    bool haveMin = false;
    while (!p.AtEnd() && !p.Peek().IsPunct(";")) {
        const Token& t = p.Peek();
        if (t.Is("START")) {
            p.Next();
            p.ExpectWord("WITH", 900);
            r.startWith = SignedNumber(p, text);
            haveStart = true;
        } else if (t.Is("INCREMENT")) {
            p.Next();
            p.ExpectWord("BY", 900);
            r.incrementBy = SignedNumber(p, text);
        } else if (t.Is("MAXVALUE")) {
            p.Next();
            r.maxValue = SignedNumber(p, text);
        } else if (t.Is("MINVALUE")) {
            p.Next();
            minValue = SignedNumber(p, text);
            haveMin = true;
        } else if (t.Is("CACHE")) {
            p.Next();
            SignedNumber(p, text);
        } else if (t.Is("NOMAXVALUE") || t.Is("NOMINVALUE") || t.Is("NOCACHE") || t.Is("ORDER") ||
                   t.Is("NOORDER") || t.Is("NOCYCLE")) {
            p.Next();
        } else {
            p.Unexpected(900, "a sequence option this database supports (START WITH, INCREMENT BY, MINVALUE, "
                              "MAXVALUE, CACHE, NOCACHE, ORDER, NOCYCLE)");
        }
    }
    if (p.Peek().IsPunct(";")) p.Next();
    if (!p.AtEnd()) p.Unexpected(933, "the end of the statement");
    if (!haveStart && haveMin) r.startWith = minValue;
    return r;
}

}  // namespace

ParsedText ParseText(const std::string& text) {
    // SQLite stops reading at a NUL and passes over a byte-order mark and
    // empty statements: what it would run could then differ from what was
    // read here.
    if (size_t nul = text.find('\0'); nul != std::string::npos)
        RaiseOra(911, "invalid character: the text holds a NUL character at byte " + std::to_string(nul + 1) +
                          Shown(text.substr(0, nul)));
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        RaiseOra(911, "invalid character: the text starts with a byte-order mark" + Shown(text));
    std::vector<Token> toks = Tokenize(text);
    ParsedText r;
    r.markers = CountMarkers(toks);
    const Token& first = toks[0];
    if (first.kind == Token::End) RaiseOra(900, "invalid SQL statement: the text is empty");
    if (first.kind != Token::Ident && !first.IsPunct("{"))
        RaiseOra(900, "invalid SQL statement: the text must start with a statement, not \"" +
                          text.substr(first.begin, first.end - first.begin) + "\"" + Shown(text));

    // An empty IN list is a syntax error in Oracle, whatever the statement.
    for (size_t k = 0; k + 2 < toks.size(); ++k) {
        if (toks[k].Is("IN") && toks[k + 1].IsPunct("(") && toks[k + 2].IsPunct(")"))
            RaiseOra(936, "missing expression: IN () holds no value" + Shown(text));
    }

    if (first.IsPunct("{")) {
        Parser p(text, toks);
        p.Next();
        p.ExpectWord("CALL", 900);
        r.kind = ParsedText::CallEscape;
        r.call = p.ParseCall(900);
        p.ExpectPunct("}", 900);
        if (!p.AtEnd()) p.Unexpected(933, "the end of the call escape");
        return r;
    }
    if (first.Is("BEGIN") || first.Is("DECLARE")) {
        Parser p(text, toks);
        r.kind = ParsedText::AnonymousBlock;
        r.block = p.ParseBlock();
        if (p.Peek().IsPunct("/")) p.Next();
        if (!p.AtEnd()) p.Unexpected(6550, "the end of the block");
        return r;
    }
    if (first.Is("CREATE") && toks[1].Is("SEQUENCE")) return ParseCreateSequence(text, toks);
    if (first.Is("DROP") && toks[1].Is("SEQUENCE")) {
        Parser p(text, toks);
        p.Next();
        p.Next();
        std::string name = p.QualifiedName(900);
        if (p.Peek().IsPunct(";")) p.Next();
        if (!p.AtEnd()) p.Unexpected(933, "the end of the statement");
        r.kind = ParsedText::DropSequence;
        r.name = name.substr(name.rfind('.') == std::string::npos ? 0 : name.rfind('.') + 1);
        return r;
    }
    if (first.Is("SAVEPOINT") || first.Is("ROLLBACK")) {
        Parser p(text, toks);
        p.Next();
        if (first.Is("ROLLBACK")) {
            if (!p.Peek().Is("TO"))
                RaiseOra(900, "invalid SQL statement: the transaction is ended by the data context's owner "
                              "(Commit or Rollback), not by SQL" + Shown(text));
            p.Next();
            if (p.Peek().Is("SAVEPOINT")) p.Next();
            r.kind = ParsedText::RollbackTo;
        } else {
            r.kind = ParsedText::Savepoint;
        }
        r.name = p.Identifier(900);
        if (p.Peek().IsPunct(";")) p.Next();
        if (!p.AtEnd()) p.Unexpected(933, "the end of the statement");
        return r;
    }
    static const char* kRefused[] = {"COMMIT", "END", "RELEASE", "ATTACH", "DETACH", "VACUUM", "PRAGMA"};
    for (const char* w : kRefused) {
        if (first.Is(w))
            RaiseOra(900, "invalid SQL statement: " + std::string(w) +
                              " is not run through the data context; the transaction belongs to its owner" +
                              Shown(text));
    }

    // Conflict clauses that end the transaction (ROLLBACK) or keep half a
    // statement (FAIL), in DML or in a table's constraints.
    for (size_t k = 0; k + 1 < toks.size(); ++k) {
        if ((toks[k].Is("OR") || toks[k].Is("CONFLICT")) && (toks[k + 1].Is("ROLLBACK") || toks[k + 1].Is("FAIL")))
            RaiseOra(900, "invalid SQL statement: the conflict clause " + toks[k].text + " " + toks[k + 1].text +
                              " is refused; a failed statement is undone alone and the transaction belongs to the "
                              "data context's owner" + Shown(text));
    }

    r.kind = ParsedText::Statement;
    r.returnsRows = first.Is("SELECT") || first.Is("WITH");

    bool connectBy = false;
    for (size_t k = 0; k + 1 < toks.size(); ++k)
        if (toks[k].Is("CONNECT") && toks[k + 1].Is("BY")) connectBy = true;
    if (connectBy) {
        r.statement.pieces.push_back(RewriteConnectBy(text, toks));
        return r;
    }

    // <name>.NEXTVAL, package functions and collections read as tables: cut
    // out, filled in by the runner.
    std::vector<std::pair<size_t, size_t>> cuts;  // byte ranges
    bool nextValues = false;
    Parser p(text, toks);
    auto refuseMarkers = [&](size_t from, size_t to) {
        for (size_t m = from; m < to; ++m)
            if (toks[m].kind == Token::Marker)
                RaiseOra(1036, "illegal variable name/number: a \"?\" inside a package function call of a statement "
                               "is not bound" + Shown(text));
    };
    for (size_t k = 0; k + 2 < toks.size(); ++k) {
        if (toks[k].kind == Token::Ident && toks[k + 1].IsPunct(".") && toks[k + 2].Is("NEXTVAL")) {
            size_t beginTok = k;
            if (k >= 2 && toks[k - 1].IsPunct(".") && toks[k - 2].kind == Token::Ident) beginTok = k - 2;
            cuts.push_back({toks[beginTok].begin, toks[k + 2].end});
            StatementSlot slot;
            slot.name = toks[k].text;
            r.statement.slots.push_back(std::move(slot));
            nextValues = true;
            k += 2;
            continue;
        }
        // the (select cast(PKG.FN[(args)] as TYPE) from dual)
        if (toks[k].Is("THE") && toks[k + 1].IsPunct("(") && toks[k + 2].Is("SELECT") && k + 4 < toks.size() &&
            toks[k + 3].Is("CAST") && toks[k + 4].IsPunct("(")) {
            p.Seek(k + 5);
            StatementSlot slot;
            slot.kind = StatementSlot::Collection;
            ProcCall call = p.ParseCall(900);
            slot.name = call.name;
            slot.args = std::move(call.args);
            p.ExpectWord("AS", 900);
            slot.typeName = p.Identifier(900);
            p.ExpectPunct(")", 900);
            p.ExpectWord("FROM", 900);
            p.ExpectWord("DUAL", 900);
            p.ExpectPunct(")", 900);
            refuseMarkers(k, p.Pos());
            cuts.push_back({toks[k].begin, toks[p.Pos() - 1].end});
            r.statement.slots.push_back(std::move(slot));
            k = p.Pos() - 1;
            continue;
        }
        // PKG.FN( ... ): SQLite has no qualified functions, so this is a call.
        if (k + 3 < toks.size() && toks[k].kind == Token::Ident && toks[k + 1].IsPunct(".") &&
            toks[k + 2].kind == Token::Ident && toks[k + 3].IsPunct("(") && !(k > 0 && toks[k - 1].IsPunct("."))) {
            p.Seek(k);
            StatementSlot slot;
            slot.kind = StatementSlot::Function;
            ProcCall call = p.ParseCall(900);
            slot.name = call.name;
            slot.args = std::move(call.args);
            refuseMarkers(k, p.Pos());
            cuts.push_back({toks[k].begin, toks[p.Pos() - 1].end});
            r.statement.slots.push_back(std::move(slot));
            k = p.Pos() - 1;
            continue;
        }
    }
    if (nextValues) {
        bool allowed = false;
        if (first.Is("SELECT")) {
            size_t from = FindTopLevel(toks, 1, "FROM");
            size_t end = toks.size() - 1;
            if (end > 0 && toks[end - 1].IsPunct(";")) --end;
            allowed = from != std::string::npos && toks[from + 1].Is("DUAL") && from + 2 == end;
        } else if (first.Is("INSERT")) {
            allowed = FindTopLevel(toks, 1, "VALUES") != std::string::npos;
        }
        if (!allowed)
            RaiseOra(2287, "sequence number not allowed here (NEXTVAL is taken from DUAL or in INSERT ... VALUES)" +
                               Shown(text));
    }
    if (!cuts.empty()) {
        size_t cursor = 0;
        for (auto& [b, e] : cuts) {
            r.statement.pieces.push_back(text.substr(cursor, b - cursor));
            cursor = e;
        }
        r.statement.pieces.push_back(text.substr(cursor));
        return r;
    }
    r.statement.pieces.push_back(text);
    return r;
}

std::vector<std::string> SplitScript(const std::string& script) {
    std::vector<std::string> out;
    std::string current;
    size_t i = 0, n = script.size();
    // Within a block, how much of current is tokenized already: the text up
    // to a ";" outside literals and comments tokenizes on its own, so only
    // what follows the last ";" is read again (a long block stays linear).
    bool inBlock = false;
    size_t tokenized = 0;
    auto flush = [&]() {
        size_t b = current.find_first_not_of(" \t\r\n");
        if (b != std::string::npos) {
            size_t e = current.find_last_not_of(" \t\r\n");
            out.push_back(current.substr(b, e - b + 1));
        }
        current.clear();
        inBlock = false;
        tokenized = 0;
    };
    // Whether the ";" at hand stays inside a block: the statement starts with
    // BEGIN or DECLARE and its text so far tokenizes.
    auto startsBlock = [&]() {
        try {
            const std::vector<Token> t = Tokenize(current.substr(tokenized));
            if (!inBlock) inBlock = t[0].Is("BEGIN") || t[0].Is("DECLARE");
        } catch (const rt::ComError&) {
            return false;
        }
        tokenized = current.size();
        return inBlock;
    };
    auto atLineStart = [&](size_t k) {
        size_t j = k;
        while (j > 0 && (script[j - 1] == ' ' || script[j - 1] == '\t')) --j;
        return j == 0 || script[j - 1] == '\n';
    };
    while (i < n) {
        char c = script[i];
        if (c == '-' && i + 1 < n && script[i + 1] == '-') {
            while (i < n && script[i] != '\n') current.push_back(script[i++]);
            continue;
        }
        if (c == '/' && i + 1 < n && script[i + 1] == '*') {
            size_t close = script.find("*/", i + 2);
            size_t stop = close == std::string::npos ? n : close + 2;
            current.append(script, i, stop - i);
            i = stop;
            continue;
        }
        if (c == '\'' || c == '"') {
            size_t j = i + 1;
            while (j < n && script[j] != c) ++j;
            size_t stop = j < n ? j + 1 : n;
            current.append(script, i, stop - i);
            i = stop;
            continue;
        }
        if (c == '/' && atLineStart(i)) {
            size_t j = i + 1;
            while (j < n && (script[j] == ' ' || script[j] == '\t' || script[j] == '\r')) ++j;
            if (j >= n || script[j] == '\n') {
                flush();  // a lone "/" ends a block
                i = j;
                continue;
            }
        }
        if (c == ';' && !startsBlock()) {
            current.push_back(c);
            flush();
            ++i;
            continue;
        }
        current.push_back(c);
        ++i;
    }
    flush();
    // Drop pieces that hold only comments.
    std::vector<std::string> kept;
    for (auto& s : out) {
        try {
            if (Tokenize(s)[0].kind != Token::End) kept.push_back(s);
        } catch (const rt::ComError&) {
            kept.push_back(s);  // let the runner report it
        }
    }
    return kept;
}

}  // namespace product
