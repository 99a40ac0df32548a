// libFuzzer target: any text to the dialect's tokenizer and parser. The
// parser must refuse or accept without crashing; where the tokenizer accepts
// a text, it must cut it where SQLite's own tokenizer does: the text ends
// with a ";" token for us exactly when sqlite3_complete says it holds a
// complete statement (trigger bodies, which SQLite counts apart, left out).
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "product/OracleDialect.h"
#include "runtime/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        product::ParsedText parsed = product::ParseText(text);
        (void)parsed;
    } catch (const rt::ComError&) {
    }
    if (text.find('\0') != std::string::npos) return 0;
    std::vector<product::Token> tokens;
    try {
        tokens = product::Tokenize(text);
    } catch (const rt::ComError&) {
        return 0;  // refused: nothing of it reaches SQLite
    }
    for (const auto& t : tokens)
        if (t.Is("TRIGGER")) return 0;
    const bool endsWithSemicolon = tokens.size() >= 2 && tokens[tokens.size() - 2].IsPunct(";");
    if (endsWithSemicolon != (sqlite3_complete(text.c_str()) != 0)) std::abort();
    return 0;
}
