#pragma once
// The Oracle forms the system sends, taken apart so that SQLite and the
// native packages can run them:
//   - "{call PKG.PROC(?,?)}" and "{ call ... }" escapes;
//   - anonymous blocks "BEGIN ... END;" and "DECLARE ... BEGIN ... EXCEPTION
//     WHEN ... END;" with savepoint, rollback to, RAISE, NULL, procedure
//     calls and PRAGMA EXCEPTION_INIT;
//   - statements: "<seq>.NEXTVAL" (from DUAL, or in INSERT ... VALUES),
//     "START WITH ... CONNECT BY PRIOR", CREATE/DROP SEQUENCE, SAVEPOINT,
//     ROLLBACK TO, and plain SQL that SQLite runs as it stands.
// Anything else is refused with an error naming the text.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace product {

struct Token {
    enum Kind { Ident, QuotedIdent, String, Number, Marker, Punct, End } kind = End;
    std::string text;  // identifiers upper-cased; strings without quotes, '' undoubled
    size_t begin = 0;  // byte range in the source text
    size_t end = 0;
    bool Is(const char* upperWord) const { return kind == Ident && text == upperWord; }
    bool IsPunct(const char* p) const { return kind == Punct && text == p; }
};

// Splits a text into tokens (comments dropped); an unterminated string or
// quoted name raises ORA-01756 / ORA-01740 naming the text.
std::vector<Token> Tokenize(const std::string& text);

// The number of "?" markers outside literals and comments.
int CountMarkers(const std::vector<Token>& tokens);

// ---- expressions and calls (arguments of procedures) ----
struct Expr {
    enum Kind { Marker, Null, String, Number, Call } kind = Null;
    int marker = -1;         // 0-based position of the "?" in the text
    std::string text;        // string or number text
    std::string name;        // Call: upper-cased "PKG.NAME"
    std::vector<Expr> args;  // Call
};

struct ProcCall {
    std::string name;  // upper-cased, "PKG.PROC" or "PROC"
    std::vector<Expr> args;
};

// ---- anonymous blocks ----
struct Block;
struct BlockStatement {
    enum Kind { Savepoint, RollbackTo, Raise, Null, Call, Nested } kind = Null;
    std::string name;  // savepoint or exception name (upper-cased); "" for a bare RAISE
    ProcCall call;
    std::shared_ptr<Block> nested;
};

struct ExceptionHandler {
    std::vector<std::string> names;  // upper-cased; empty means OTHERS
    std::vector<BlockStatement> body;
};

struct Block {
    struct Declared {
        std::string name;
        int sqlCode = 0;  // from PRAGMA EXCEPTION_INIT, negative as Oracle writes it; 0: user exception
    };
    std::vector<Declared> exceptions;
    std::vector<BlockStatement> body;
    std::vector<ExceptionHandler> handlers;
};

// ---- statements for SQLite ----
// What the runner fills into a statement before SQLite sees it:
//   NextValue:  "<seq>.NEXTVAL" -> the sequence's next value;
//   Function:   "PKG.FN(args)" (a registered package function in the
//               statement, a WHERE clause say) -> its value as a literal,
//               evaluated once, before the statement runs;
//   Collection: "the (select cast(PKG.FN[(args)] as TYPE) from dual)" -> a
//               subquery over the rows of the collection the function
//               returns, with the attributes of TYPE as columns.
// Arguments of a cut call are literals, NULL or nested calls; "?" markers
// there are refused.
struct StatementSlot {
    enum Kind { NextValue, Function, Collection } kind = NextValue;
    std::string name;      // upper-cased sequence name, or "PKG.FN"
    std::vector<Expr> args;
    std::string typeName;  // Collection: the type cast to (upper-cased)
};

// The statement is pieces[0] + slot 0 filled + pieces[1] + ...
struct TranslatedStatement {
    std::vector<std::string> pieces;
    std::vector<StatementSlot> slots;
};

struct ParsedText {
    enum Kind {
        CallEscape,      // call
        AnonymousBlock,  // block
        Statement,       // statement
        CreateSequence,  // name, startWith, incrementBy, maxValue
        DropSequence,    // name
        Savepoint,       // name
        RollbackTo,      // name
    } kind = Statement;
    ProcCall call;
    std::shared_ptr<Block> block;
    TranslatedStatement statement;
    std::string name;
    int64_t startWith = 1;
    int64_t incrementBy = 1;
    int64_t maxValue = INT64_MAX;
    int markers = 0;
    bool returnsRows = false;  // a statement that starts with SELECT or WITH
};

// Parses one text the system sends. Raises a DatabaseError naming the text
// when the form is not one the layer covers (nothing is guessed).
ParsedText ParseText(const std::string& text);

// Splits a script into its statements at ";" outside literals and comments
// (lines holding only "/" are dropped). Blocks are not split.
std::vector<std::string> SplitScript(const std::string& script);

}  // namespace product
