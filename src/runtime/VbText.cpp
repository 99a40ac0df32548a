// VB's string functions. Text is UTF-8; lengths and positions count UTF-16
// code units, as VB does, so every cut goes through the UTF-16 form.
#include <algorithm>
#include <string>
#include <vector>

#include "runtime/Error.h"
#include "runtime/Vb.h"
#include "runtime/VbText.h"

namespace rt {


// ---------------------------------------------------------------- UTF-8 / UTF-16

std::u16string ToUtf16(const std::string& s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0, n = s.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        }
        int len;
        uint32_t cp;
        uint32_t min;
        if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; min = 0x80; }
        else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; min = 0x800; }
        else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; min = 0x10000; }
        else { out.push_back(0xFFFD); ++i; continue; }
        bool ok = i + static_cast<size_t>(len) <= n;
        for (int k = 1; ok && k < len; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) ok = false;
            else cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok || cp < min || cp > 0x10FFFF) {
            // A byte that starts no valid sequence stands for itself as U+FFFD.
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            // Includes a lone surrogate written by ToUtf8 (a Mid that cut a
            // pair), so the round trip keeps it.
            out.push_back(static_cast<char16_t>(cp));
        }
        i += static_cast<size_t>(len);
    }
    return out;
}

std::string ToUtf8(const std::u16string& s) {
    std::string out;
    out.reserve(s.size());
    auto put = [&](uint32_t cp) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    };
    for (size_t i = 0; i < s.size(); ++i) {
        char16_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            put(0x10000 + ((static_cast<uint32_t>(c) - 0xD800) << 10) + (static_cast<uint32_t>(s[i + 1]) - 0xDC00));
            ++i;
        } else {
            put(c);
        }
    }
    return out;
}

// ---------------------------------------------------------------- letter case

char16_t UpperUnit(char16_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? static_cast<char16_t>(c - 32) : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
            return (c % 2 == 1) ? static_cast<char16_t>(c - 1) : c;
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
            return (c % 2 == 0) ? static_cast<char16_t>(c - 1) : c;
        return c;
    }
    if (c >= 0x3B1 && c <= 0x3C9) return c == 0x3C2 ? char16_t{0x3A3} : static_cast<char16_t>(c - 0x20);
    if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
    return c;
}

char16_t LowerUnit(char16_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? static_cast<char16_t>(c + 32) : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 0x20);
    if (c == 0x178) return 0xFF;
    if (c >= 0x100 && c <= 0x17F) {
        if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
            return (c % 2 == 0) ? static_cast<char16_t>(c + 1) : c;
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
            return (c % 2 == 1) ? static_cast<char16_t>(c + 1) : c;
        return c;
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<char16_t>(c + 0x20);
    if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
    return c;
}

char16_t FoldUnit(char16_t c) { return LowerUnit(UpperUnit(c)); }

int CompareUnits(const std::u16string& a, const std::u16string& b, CompareMode mode) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t x = a[i], y = b[i];
        if (mode == CompareMode::Text) {
            x = FoldUnit(x);
            y = FoldUnit(y);
        }
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

int CompareText(const std::string& a, const std::string& b, CompareMode mode) {
    if (mode == CompareMode::Binary && IsAscii(a) && IsAscii(b)) {
        int c = a.compare(b);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    return CompareUnits(ToUtf16(a), ToUtf16(b), mode);
}

std::string UCase(const std::string& s) {
    if (IsAscii(s)) {
        std::string r = s;
        for (char& c : r)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        return r;
    }
    std::u16string u = ToUtf16(s);
    for (char16_t& c : u) c = UpperUnit(c);
    return ToUtf8(u);
}

std::string LCase(const std::string& s) {
    if (IsAscii(s)) return FoldAsciiText(s);
    std::u16string u = ToUtf16(s);
    for (char16_t& c : u) c = LowerUnit(c);
    return ToUtf8(u);
}

bool NamesEqual(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

// ---------------------------------------------------------------- lengths and cuts

int32_t Len(const std::string& s) {
    int32_t n = 0;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) { ++n; ++i; continue; }
        // Count through the UTF-16 form for anything else; rare enough.
        return static_cast<int32_t>(ToUtf16(s).size());
    }
    return n;
}

std::string Left(const std::string& s, int32_t length) {
    if (length < 0) RaiseVbError(vberr::InvalidProcedureCall);
    if (IsAscii(s)) return s.substr(0, static_cast<size_t>(length));
    std::u16string u = ToUtf16(s);
    return ToUtf8(u.substr(0, static_cast<size_t>(length)));
}

std::string Right(const std::string& s, int32_t length) {
    if (length < 0) RaiseVbError(vberr::InvalidProcedureCall);
    if (IsAscii(s)) {
        size_t n = std::min(s.size(), static_cast<size_t>(length));
        return s.substr(s.size() - n);
    }
    std::u16string u = ToUtf16(s);
    size_t n = std::min(u.size(), static_cast<size_t>(length));
    return ToUtf8(u.substr(u.size() - n));
}

std::string Mid(const std::string& s, int32_t start, int32_t length) {
    if (start < 1 || length < -1) RaiseVbError(vberr::InvalidProcedureCall);
    size_t from = static_cast<size_t>(start - 1);
    size_t count = length < 0 ? std::u16string::npos : static_cast<size_t>(length);
    if (IsAscii(s)) return from >= s.size() ? std::string() : s.substr(from, count);
    std::u16string u = ToUtf16(s);
    if (from >= u.size()) return std::string();
    return ToUtf8(u.substr(from, count));
}

namespace {
// Position (0-based) of find in s at or after from; npos when none.
size_t FindUnits(const std::u16string& s, const std::u16string& find, size_t from, CompareMode mode) {
    if (mode == CompareMode::Binary) return s.find(find, from);
    if (find.size() > s.size()) return std::u16string::npos;
    for (size_t i = from; i + find.size() <= s.size(); ++i) {
        size_t k = 0;
        while (k < find.size() && FoldUnit(s[i + k]) == FoldUnit(find[k])) ++k;
        if (k == find.size()) return i;
    }
    return std::u16string::npos;
}
}  // namespace

int32_t InStr(const std::string& s, const std::string& find, int32_t start, CompareMode mode) {
    if (start < 1) RaiseVbError(vberr::InvalidProcedureCall);
    std::u16string us = ToUtf16(s), uf = ToUtf16(find);
    if (static_cast<size_t>(start) > us.size()) return 0;
    if (uf.empty()) return start;
    size_t p = FindUnits(us, uf, static_cast<size_t>(start - 1), mode);
    return p == std::u16string::npos ? 0 : static_cast<int32_t>(p + 1);
}

int32_t InStrRev(const std::string& s, const std::string& find, CompareMode mode) {
    std::u16string us = ToUtf16(s), uf = ToUtf16(find);
    if (us.empty()) return 0;
    if (uf.empty()) return static_cast<int32_t>(us.size());
    if (uf.size() > us.size()) return 0;
    for (size_t i = us.size() - uf.size() + 1; i-- > 0;) {
        size_t k = 0;
        while (k < uf.size() &&
               (mode == CompareMode::Binary ? us[i + k] == uf[k] : FoldUnit(us[i + k]) == FoldUnit(uf[k])))
            ++k;
        if (k == uf.size()) return static_cast<int32_t>(i + 1);
    }
    return 0;
}

std::vector<std::string> Split(const std::string& s, const std::string& delimiter, int32_t limit) {
    if (limit < -1) RaiseVbError(vberr::InvalidProcedureCall);
    std::vector<std::string> out;
    if (s.empty() || limit == 0) return out;
    if (delimiter.empty() || limit == 1) {
        out.push_back(s);
        return out;
    }
    // Whole UTF-8 sequences never contain a delimiter's bytes mid-character,
    // so a byte search finds exactly the character matches.
    size_t from = 0;
    while (true) {
        if (limit > 0 && static_cast<int32_t>(out.size()) == limit - 1) break;
        size_t p = s.find(delimiter, from);
        if (p == std::string::npos) break;
        out.push_back(s.substr(from, p - from));
        from = p + delimiter.size();
    }
    out.push_back(s.substr(from));
    return out;
}

std::string Join(const std::vector<std::string>& parts, const std::string& delimiter) {
    std::string r;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) r += delimiter;
        r += parts[i];
    }
    return r;
}

std::string LTrim(const std::string& s) {
    size_t b = s.find_first_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b);
}

std::string RTrim(const std::string& s) {
    size_t e = s.find_last_not_of(' ');
    return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}

std::string Trim(const std::string& s) { return LTrim(RTrim(s)); }

std::string TrimBlanks(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

std::string Replace(const std::string& s, const std::string& find, const std::string& with) {
    if (find.empty()) return s;
    std::string r;
    size_t from = 0;
    while (true) {
        size_t p = s.find(find, from);
        if (p == std::string::npos) break;
        r.append(s, from, p - from);
        r += with;
        from = p + find.size();
    }
    r.append(s, from, std::string::npos);
    return r;
}

std::string Space(int32_t n) {
    if (n < 0) RaiseVbError(vberr::InvalidProcedureCall);
    return std::string(static_cast<size_t>(n), ' ');
}

std::string String(int32_t n, char c) {
    if (n < 0) RaiseVbError(vberr::InvalidProcedureCall);
    return std::string(static_cast<size_t>(n), c);
}

// ---------------------------------------------------------------- Like

namespace {

struct LikeToken {
    enum Kind { Literal, AnyOne, AnyRun, Digit, Set } kind;
    explicit LikeToken(Kind k) : kind(k) {}
    char16_t ch = 0;
    bool negate = false;
    std::vector<std::pair<char16_t, char16_t>> ranges;
};

std::vector<LikeToken> ParseLike(const std::u16string& p) {
    std::vector<LikeToken> out;
    for (size_t i = 0; i < p.size(); ++i) {
        char16_t c = p[i];
        if (c == '*') {
            if (out.empty() || out.back().kind != LikeToken::AnyRun) out.push_back(LikeToken(LikeToken::AnyRun));
        } else if (c == '?') {
            out.push_back(LikeToken(LikeToken::AnyOne));
        } else if (c == '#') {
            out.push_back(LikeToken(LikeToken::Digit));
        } else if (c == '[') {
            size_t close = p.find(u']', i + 1);
            if (close == std::u16string::npos) RaiseVbError(vberr::InvalidPatternString);
            LikeToken t(LikeToken::Set);
            size_t k = i + 1;
            if (k < close && p[k] == '!') {
                t.negate = true;
                ++k;
            }
            if (k == close && !t.negate) {  // "[]" stands for the empty string
                i = close;
                continue;
            }
            for (; k < close; ++k) {
                char16_t a = p[k];
                if (k + 2 < close && p[k + 1] == '-') {
                    char16_t b = p[k + 2];
                    if (b < a) RaiseVbError(vberr::InvalidPatternString);
                    t.ranges.push_back({a, b});
                    k += 2;
                } else {
                    t.ranges.push_back({a, a});
                }
            }
            out.push_back(std::move(t));
            i = close;
        } else {
            LikeToken t(LikeToken::Literal);
            t.ch = c;
            out.push_back(t);
        }
    }
    return out;
}

bool InRanges(const LikeToken& t, char16_t c) {
    for (auto& r : t.ranges)
        if (c >= r.first && c <= r.second) return true;
    return false;
}

bool MatchOne(const LikeToken& t, char16_t c, CompareMode mode) {
    switch (t.kind) {
        case LikeToken::AnyOne: return true;
        case LikeToken::Digit: return c >= '0' && c <= '9';
        case LikeToken::Literal:
            return mode == CompareMode::Text ? FoldUnit(c) == FoldUnit(t.ch) : c == t.ch;
        case LikeToken::Set: {
            bool in = InRanges(t, c);
            if (!in && mode == CompareMode::Text) in = InRanges(t, UpperUnit(c)) || InRanges(t, LowerUnit(c));
            return in != t.negate;
        }
        case LikeToken::AnyRun: return false;
    }
    return false;
}

}  // namespace

bool Like(const std::string& text, const std::string& pattern, CompareMode mode) {
    std::vector<LikeToken> p = ParseLike(ToUtf16(pattern));
    std::u16string t = ToUtf16(text);
    // Every token but '*' takes exactly one unit, so the classic backtrack to
    // the last '*' is enough and runs in O(len(text) * len(pattern)).
    size_t ti = 0, pi = 0, starP = std::string::npos, starT = 0;
    while (ti < t.size()) {
        if (pi < p.size() && p[pi].kind != LikeToken::AnyRun && MatchOne(p[pi], t[ti], mode)) {
            ++ti;
            ++pi;
        } else if (pi < p.size() && p[pi].kind == LikeToken::AnyRun) {
            starP = pi++;
            starT = ti;
        } else if (starP != std::string::npos) {
            pi = starP + 1;
            ti = ++starT;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi].kind == LikeToken::AnyRun) ++pi;
    return pi == p.size();
}

}  // namespace rt
