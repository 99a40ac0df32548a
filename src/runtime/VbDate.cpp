// Dates (OLE Automation dates) and VB's Format.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "runtime/Calendar.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"
#include "runtime/VbInternal.h"

namespace rt {

namespace {

using calendar::CivilFromDays;
using calendar::DaysFromCivil;
using calendar::DaysInMonth;
using calendar::kOleEpoch;

int PivotYear(int y, int digits) {
    if (digits <= 2 && y < 100) return y < 30 ? 2000 + y : 1900 + y;
    return y;
}

// An OLE date's day and time joined into one linear count of seconds. A
// value no date holds (NaN, infinities, beyond year 9999) overflows, as VB's
// date functions do.
int64_t LinearSeconds(double ole) {
    if (!calendar::InOleDateRange(ole)) RaiseVbError(vberr::Overflow);
    double day = std::trunc(ole);
    double frac = std::fabs(ole - day);
    return static_cast<int64_t>(day) * 86400 + std::llround(frac * 86400.0);
}

// Day (days since the OLE epoch) and seconds in that day to an OLE date.
double OleFromDayAndSeconds(int64_t day, double secs) {
    double t = secs / 86400.0;
    return day >= 0 ? static_cast<double>(day) + t : static_cast<double>(day) - t;
}

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

std::string Lower(std::string s) { return FoldAsciiText(std::move(s)); }

std::string Two(int v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

}  // namespace

double DateSerial(int year, int month, int day) {
    int64_t y = PivotYear(year, year >= 0 && year < 100 ? 2 : 4);
    int64_t m0 = int64_t{month} - 1;
    y += m0 >= 0 ? m0 / 12 : -((11 - m0) / 12);
    m0 = ((m0 % 12) + 12) % 12;
    int64_t days = DaysFromCivil(y, m0 + 1, 1) + (int64_t{day} - 1) - kOleEpoch;
    if (days < kMinOleDate || days > kMaxOleDate) RaiseVbError(vberr::InvalidProcedureCall);
    return static_cast<double>(days);
}

double TimeSerial(int hour, int minute, int second) {
    int64_t total = int64_t{hour} * 3600 + int64_t{minute} * 60 + second;
    int64_t day = total >= 0 ? total / 86400 : -((86399 - total) / 86400);
    return OleFromDayAndSeconds(day, static_cast<double>(total - day * 86400));
}

double Now() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    int64_t day = DaysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) - kOleEpoch;
    return OleFromDayAndSeconds(day, tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec);
}

DateParts SplitDate(double oleDate) {
    int64_t lin = LinearSeconds(oleDate);
    int64_t day = lin >= 0 ? lin / 86400 : -((86399 - lin) / 86400);
    int64_t secs = lin - day * 86400;
    DateParts p{};
    CivilFromDays(day + kOleEpoch, p.year, p.month, p.day);
    p.hour = static_cast<int>(secs / 3600);
    p.minute = static_cast<int>(secs / 60 % 60);
    p.second = static_cast<int>(secs % 60);
    return p;
}

// ---------------------------------------------------------------- reading dates

std::optional<double> ParseDateText(const std::string& text) {
    struct Tok {
        enum Kind { Num, Word, Sep } kind;
        explicit Tok(Kind k, char s = 0) : kind(k), sep(s) {}
        int value = 0;
        int digits = 0;
        std::string text;  // the digits as written
        std::string word;
        char sep = 0;
    };
    std::vector<Tok> toks;
    for (size_t i = 0; i < text.size();) {
        char c = text[i];
        if (c >= '0' && c <= '9') {
            Tok t(Tok::Num);
            while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
                if (t.digits < 9) t.value = t.value * 10 + (text[i] - '0');
                t.text.push_back(text[i]);
                ++t.digits;
                ++i;
            }
            toks.push_back(t);
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            Tok t(Tok::Word);
            while (i < text.size() && ((text[i] >= 'a' && text[i] <= 'z') || (text[i] >= 'A' && text[i] <= 'Z')))
                t.word.push_back(static_cast<char>(text[i++] | 0x20));
            toks.push_back(t);
        } else if (c == ' ' || c == '\t') {
            ++i;
            if (toks.empty() || (toks.back().kind == Tok::Sep && toks.back().sep == ' ')) continue;
            toks.push_back(Tok(Tok::Sep, ' '));
        } else if (c == '/' || c == '-' || c == '.' || c == ':' || c == ',') {
            toks.push_back(Tok(Tok::Sep, c));
            ++i;
        } else {
            return std::nullopt;
        }
    }
    while (!toks.empty() && toks.back().kind == Tok::Sep && toks.back().sep == ' ') toks.pop_back();
    if (toks.empty()) return std::nullopt;

    // The time: h:mm[:ss] [AM|PM], or h AM|PM.
    bool hasTime = false;
    int hh = 0, mi = 0, ss = 0;
    double frac = 0;  // fractions of a second, as databases write them
    std::vector<bool> used(toks.size(), false);
    auto ampmAt = [&](size_t k) -> int {  // 1 = AM, 2 = PM
        if (k < toks.size() && toks[k].kind == Tok::Sep && toks[k].sep == ' ') ++k;
        if (k >= toks.size() || toks[k].kind != Tok::Word) return 0;
        if (toks[k].word == "am" || toks[k].word == "a") return 1;
        if (toks[k].word == "pm" || toks[k].word == "p") return 2;
        return 0;
    };
    for (size_t k = 0; k < toks.size() && !hasTime; ++k) {
        if (toks[k].kind != Tok::Num) continue;
        bool colon = k + 2 < toks.size() && toks[k + 1].kind == Tok::Sep && toks[k + 1].sep == ':' &&
                     toks[k + 2].kind == Tok::Num;
        size_t end = k;
        if (colon) {
            hh = toks[k].value;
            mi = toks[k + 2].value;
            end = k + 2;
            if (end + 2 < toks.size() && toks[end + 1].kind == Tok::Sep && toks[end + 1].sep == ':' &&
                toks[end + 2].kind == Tok::Num) {
                ss = toks[end + 2].value;
                end += 2;
                if (end + 2 < toks.size() && toks[end + 1].kind == Tok::Sep && toks[end + 1].sep == '.' &&
                    toks[end + 2].kind == Tok::Num) {
                    frac = std::strtod(("0." + toks[end + 2].text).c_str(), nullptr);
                    end += 2;
                }
            }
            if (toks[k].digits > 2 || toks[k + 2].digits > 2 || (end > k + 2 && toks[k + 4].digits > 2))
                return std::nullopt;
        } else if (ampmAt(k + 1)) {
            if (toks[k].digits > 2) return std::nullopt;
            hh = toks[k].value;
        } else {
            continue;
        }
        hasTime = true;
        for (size_t u = k; u <= end; ++u) used[u] = true;
        if (int ap = ampmAt(end + 1)) {
            if (hh < 1 || hh > 12) return std::nullopt;
            if (ap == 1 && hh == 12) hh = 0;
            if (ap == 2 && hh != 12) hh += 12;
            size_t w = end + 1;
            if (toks[w].kind == Tok::Sep) used[w++] = true;
            used[w] = true;
        }
        if (hh > 23 || mi > 59 || ss > 59) return std::nullopt;
    }

    // The date: the remaining numbers and at most one month name.
    std::vector<Tok> nums;
    int monthName = 0;
    bool nameFirst = false;
    for (size_t k = 0; k < toks.size(); ++k) {
        if (used[k]) continue;
        const Tok& t = toks[k];
        if (t.kind == Tok::Num) {
            if (t.digits > 4) return std::nullopt;
            nums.push_back(t);
        } else if (t.kind == Tok::Word) {
            int found = 0;
            for (int mth = 0; mth < 12 && !found; ++mth) {
                std::string full = Lower(kMonths[mth]);
                if (t.word == full || (t.word.size() >= 3 && full.compare(0, t.word.size(), t.word) == 0))
                    found = mth + 1;
            }
            if (found) {
                if (monthName) return std::nullopt;
                monthName = found;
                nameFirst = nums.empty();
                continue;
            }
            bool weekday = false;
            for (auto* d : kDays) {
                std::string full = Lower(d);
                if (t.word == full || (t.word.size() >= 3 && full.compare(0, t.word.size(), t.word) == 0))
                    weekday = true;
            }
            if (weekday) continue;
            if (t.word == "t" && hasTime) continue;  // ISO's date-time separator
            return std::nullopt;
        } else if (t.sep == ':') {
            return std::nullopt;
        }
    }
    int y = 0, m = 0, d = 0, ydigits = 4;
    auto thisYear = [] { return SplitDate(Now()).year; };
    if (monthName) {
        m = monthName;
        if (nums.size() == 2) {
            if (nums[0].digits >= 3) { y = nums[0].value; d = nums[1].value; }
            else { d = nums[0].value; y = nums[1].value; ydigits = nums[1].digits; }
        } else if (nums.size() == 1) {
            if (nums[0].value > 31 || nums[0].digits >= 3) { y = nums[0].value; ydigits = nums[0].digits; d = 1; }
            else { d = nums[0].value; y = thisYear(); }
        } else {
            return std::nullopt;
        }
        (void)nameFirst;
    } else if (nums.size() == 3) {
        if (nums[0].digits >= 3) {
            y = nums[0].value; m = nums[1].value; d = nums[2].value;
        } else {
            m = nums[0].value; d = nums[1].value; y = nums[2].value; ydigits = nums[2].digits;
            if (m > 12 && d <= 12) std::swap(m, d);  // 31/1/2020 can only be day first
        }
    } else if (nums.size() == 2) {
        if (nums[0].digits >= 3) {
            y = nums[0].value; m = nums[1].value; d = 1;
        } else if (nums[1].value > 31 || nums[1].digits >= 3) {
            m = nums[0].value; y = nums[1].value; ydigits = nums[1].digits; d = 1;
        } else {
            m = nums[0].value; d = nums[1].value; y = thisYear();
            if (m > 12 && d <= 12) std::swap(m, d);
        }
    } else if (nums.empty() && hasTime) {
        return OleFromDayAndSeconds(0, hh * 3600 + mi * 60 + ss + frac);
    } else {
        return std::nullopt;
    }
    y = PivotYear(y, ydigits);
    if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return std::nullopt;
    int64_t day = DaysFromCivil(y, m, d) - kOleEpoch;
    return OleFromDayAndSeconds(day, hh * 3600 + mi * 60 + ss + frac);
}

// ---------------------------------------------------------------- formatting dates

namespace {

bool StartsWithNoCase(const std::string& s, size_t at, const char* what) {
    size_t n = std::char_traits<char>::length(what);
    if (at + n > s.size()) return false;
    for (size_t k = 0; k < n; ++k) {
        char a = s[at + k], b = what[k];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b + 32);
        if (a != b) return false;
    }
    return true;
}

int WeekdayOf(double ole) {  // 1 = Sunday
    int64_t lin = LinearSeconds(ole);
    int64_t day = lin >= 0 ? lin / 86400 : -((86399 - lin) / 86400);
    // 1899-12-30 was a Saturday.
    return static_cast<int>(((day + 6) % 7 + 7) % 7) + 1;
}

std::string GeneralDate(double ole) {
    DateParts p = SplitDate(ole);
    int64_t lin = LinearSeconds(ole);
    int64_t day = lin >= 0 ? lin / 86400 : -((86399 - lin) / 86400);
    bool hasTime = lin - day * 86400 != 0;
    std::string date = std::to_string(p.month) + "/" + std::to_string(p.day) + "/" + std::to_string(p.year);
    int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
    std::string time = std::to_string(h12) + ":" + Two(p.minute) + ":" + Two(p.second) + (p.hour < 12 ? " AM" : " PM");
    if (day == 0) return time;  // 30 December 1899 stands for "no date"
    return hasTime ? date + " " + time : date;
}

struct DateToken {
    enum Kind { Lit, Day, Month, Minute, Year, Hour, Second, AmPm, Weekday, WeekOfYear, Quarter, DayOfYear } kind;
    int width = 0;
    std::string text;  // literal text, or the AM/PM form
};

std::vector<DateToken> TokenizeDate(const std::string& f) {
    std::vector<DateToken> out;
    auto lit = [&](const std::string& s) {
        if (!out.empty() && out.back().kind == DateToken::Lit) out.back().text += s;
        else out.push_back({DateToken::Lit, 0, s});
    };
    for (size_t i = 0; i < f.size();) {
        char c = f[i];
        char lc = FoldAscii(c);
        auto run = [&](char ch) {
            size_t n = 0;
            while (i + n < f.size() && (f[i + n] | 0x20) == ch) ++n;
            return static_cast<int>(n);
        };
        if (c == '"') {
            size_t e = f.find('"', i + 1);
            if (e == std::string::npos) e = f.size();
            lit(f.substr(i + 1, e - i - 1));
            i = e + 1;
        } else if (c == '\\' && i + 1 < f.size()) {
            lit(std::string(1, f[i + 1]));
            i += 2;
        } else if (StartsWithNoCase(f, i, "am/pm")) {
            out.push_back({DateToken::AmPm, 0, f.substr(i, 5)});
            i += 5;
        } else if (StartsWithNoCase(f, i, "a/p")) {
            out.push_back({DateToken::AmPm, 0, f.substr(i, 3)});
            i += 3;
        } else if (StartsWithNoCase(f, i, "ampm")) {
            out.push_back({DateToken::AmPm, 0, "AMPM"});
            i += 4;
        } else if (lc == 'd') {
            int n = run('d');
            if (n >= 3) out.push_back({DateToken::Weekday, n, {}});
            else out.push_back({DateToken::Day, n, {}});
            i += static_cast<size_t>(n);
        } else if (lc == 'm') {
            int n = run('m');
            out.push_back({DateToken::Month, n, {}});
            i += static_cast<size_t>(n);
        } else if (lc == 'n') {
            int n = run('n');
            out.push_back({DateToken::Minute, std::min(n, 2), {}});
            i += static_cast<size_t>(n);
        } else if (lc == 'y') {
            int n = run('y');
            if (n == 1) out.push_back({DateToken::DayOfYear, 1, {}});
            else out.push_back({DateToken::Year, n >= 3 ? 4 : 2, {}});
            i += static_cast<size_t>(n);
        } else if (lc == 'h') {
            int n = run('h');
            out.push_back({DateToken::Hour, std::min(n, 2), {}});
            i += static_cast<size_t>(n);
        } else if (lc == 's') {
            int n = run('s');
            out.push_back({DateToken::Second, std::min(n, 2), {}});
            i += static_cast<size_t>(n);
        } else if (lc == 'w') {
            int n = run('w');
            out.push_back({n >= 2 ? DateToken::WeekOfYear : DateToken::Weekday, n >= 2 ? 2 : 0, {}});
            i += static_cast<size_t>(n);
        } else if (lc == 'q') {
            out.push_back({DateToken::Quarter, 1, {}});
            ++i;
        } else {
            lit(std::string(1, c));
            ++i;
        }
    }
    // "m" right after an hour or right before a second is the minute.
    int lastTimeOrDate = -1;
    for (size_t k = 0; k < out.size(); ++k) {
        if (out[k].kind == DateToken::Lit) continue;
        if (out[k].kind == DateToken::Month && out[k].width <= 2) {
            bool afterHour = lastTimeOrDate >= 0 && out[lastTimeOrDate].kind == DateToken::Hour;
            bool beforeSecond = false;
            for (size_t j = k + 1; j < out.size(); ++j) {
                if (out[j].kind == DateToken::Lit) continue;
                beforeSecond = out[j].kind == DateToken::Second;
                break;
            }
            if (afterHour || beforeSecond) out[k].kind = DateToken::Minute;
        }
        lastTimeOrDate = static_cast<int>(k);
    }
    return out;
}

std::string NamedDateFormat(const std::string& f) {
    std::string l = Lower(f);
    if (l == "long date") return "dddd, mmmm d, yyyy";
    if (l == "medium date") return "dd-mmm-yy";
    if (l == "short date") return "m/d/yyyy";
    if (l == "long time") return "h:mm:ss AM/PM";
    if (l == "medium time") return "hh:mm AM/PM";
    if (l == "short time") return "hh:mm";
    return f;
}

bool HasDateTokens(const std::string& f) {
    for (auto& t : TokenizeDate(f))
        if (t.kind != DateToken::Lit) return true;
    return false;
}

}  // namespace

std::string FormatDate(double oleDate, const std::string& pattern) {
    std::string l = Lower(pattern);
    if (pattern.empty() || l == "general date" || l == "c") return GeneralDate(oleDate);
    std::string f = NamedDateFormat(pattern);
    std::vector<DateToken> toks = TokenizeDate(f);
    bool twelve = false;
    for (auto& t : toks) twelve = twelve || t.kind == DateToken::AmPm;
    DateParts p = SplitDate(oleDate);
    std::string out;
    for (auto& t : toks) {
        switch (t.kind) {
            case DateToken::Lit: out += t.text; break;
            case DateToken::Day: out += t.width >= 2 ? Two(p.day) : std::to_string(p.day); break;
            case DateToken::Weekday:
                if (t.width == 0) out += std::to_string(WeekdayOf(oleDate));
                else if (t.width == 3) out += std::string(kDays[WeekdayOf(oleDate) - 1]).substr(0, 3);
                else if (t.width == 4) out += kDays[WeekdayOf(oleDate) - 1];
                else if (t.width == 5) out += FormatDate(oleDate, "Short Date");
                else out += FormatDate(oleDate, "Long Date");
                break;
            case DateToken::Month:
                if (t.width == 1) out += std::to_string(p.month);
                else if (t.width == 2) out += Two(p.month);
                else if (t.width == 3) out += std::string(kMonths[p.month - 1]).substr(0, 3);
                else out += kMonths[p.month - 1];
                break;
            case DateToken::Minute: out += t.width >= 2 ? Two(p.minute) : std::to_string(p.minute); break;
            case DateToken::Second: out += t.width >= 2 ? Two(p.second) : std::to_string(p.second); break;
            case DateToken::Year: {
                // Four digits even before the year 1000, so fixed-width forms stay fixed.
                char b[8];
                std::snprintf(b, sizeof b, "%04d", p.year);
                out += t.width == 4 ? std::string(b) : Two(p.year % 100);
                break;
            }
            case DateToken::Hour: {
                int h = twelve ? (p.hour % 12 == 0 ? 12 : p.hour % 12) : p.hour;
                out += t.width >= 2 ? Two(h) : std::to_string(h);
                break;
            }
            case DateToken::AmPm: {
                bool am = p.hour < 12;
                const std::string& s = t.text;
                if (s == "AMPM") out += am ? "AM" : "PM";
                else if (s.size() == 5) out += am ? s.substr(0, 2) : s.substr(3, 2);
                else out += am ? s.substr(0, 1) : s.substr(2, 1);
                break;
            }
            case DateToken::WeekOfYear: {
                int64_t jan1 = static_cast<int64_t>(DateSerial(p.year, 1, 1));
                int64_t day = static_cast<int64_t>(DateSerial(p.year, p.month, p.day));
                int wd1 = WeekdayOf(static_cast<double>(jan1));
                out += std::to_string((day - jan1 + wd1 - 1) / 7 + 1);
                break;
            }
            case DateToken::Quarter: out += std::to_string((p.month - 1) / 3 + 1); break;
            case DateToken::DayOfYear:
                out += std::to_string(static_cast<int64_t>(DateSerial(p.year, p.month, p.day) - DateSerial(p.year, 1, 1)) + 1);
                break;
        }
    }
    return out;
}

// ---------------------------------------------------------------- formatting numbers

namespace {

// |v| as exact decimal digits: integer part (no leading zeros) and fraction.
struct Digits {
    std::string whole, frac;
    bool negative = false;
};

Digits DigitsOf(const Variant& v) {
    Digits d;
    std::string s;
    switch (v.Type()) {
        case vbCurrency: s = CurrencyToString(v.Cy()); break;
        case vbDecimal: s = v.Dec().ToString(); break;
        case vbInteger: case vbLong: case vbByte: case vbBoolean: s = std::to_string(CLng(v)); break;
        default: {
            double x = CDbl(v);
            char buf[64];
            int sig = v.Type() == vbSingle ? 7 : 15;
            std::snprintf(buf, sizeof buf, "%.*e", sig - 1, x);
            // buf: [-]D.DDDDe[+-]XX
            std::string m = buf;
            bool neg = m[0] == '-';
            if (neg) m.erase(0, 1);
            size_t e = m.find('e');
            int ex = std::atoi(m.c_str() + e + 1);
            std::string digs = m.substr(0, 1) + m.substr(2, e - 2);
            if (ex >= 0) {
                if (static_cast<size_t>(ex + 1) >= digs.size()) {
                    d.whole = digs + std::string(static_cast<size_t>(ex + 1) - digs.size(), '0');
                } else {
                    d.whole = digs.substr(0, static_cast<size_t>(ex + 1));
                    d.frac = digs.substr(static_cast<size_t>(ex + 1));
                }
            } else {
                d.frac = std::string(static_cast<size_t>(-ex - 1), '0') + digs;
            }
            d.negative = neg && x != 0;
            break;
        }
    }
    if (!s.empty()) {
        if (s[0] == '-') {
            d.negative = true;
            s.erase(0, 1);
        }
        size_t p = s.find('.');
        d.whole = s.substr(0, p);
        if (p != std::string::npos) d.frac = s.substr(p + 1);
    }
    size_t nz = d.whole.find_first_not_of('0');
    d.whole = nz == std::string::npos ? std::string() : d.whole.substr(nz);
    while (!d.frac.empty() && d.frac.back() == '0') d.frac.pop_back();
    return d;
}

void ShiftLeft(Digits& d, int places) {  // multiply by 10^places
    for (int k = 0; k < places; ++k) {
        d.whole.push_back(d.frac.empty() ? '0' : d.frac[0]);
        if (!d.frac.empty()) d.frac.erase(0, 1);
    }
    size_t nz = d.whole.find_first_not_of('0');
    d.whole = nz == std::string::npos ? std::string() : d.whole.substr(nz);
}

// Rounds to n fraction digits, half away from zero (as Format does).
void RoundTo(Digits& d, size_t n) {
    if (d.frac.size() <= n) {
        d.frac.append(n - d.frac.size(), '0');
        return;
    }
    bool up = d.frac[n] >= '5';
    d.frac.resize(n);
    if (!up) return;
    std::string all = d.whole + d.frac;
    int k = static_cast<int>(all.size()) - 1;
    while (k >= 0 && all[k] == '9') all[k--] = '0';
    if (k < 0) all.insert(all.begin(), '1');
    else ++all[k];
    d.whole = all.substr(0, all.size() - n);
    d.frac = all.substr(all.size() - n);
    size_t nz = d.whole.find_first_not_of('0');
    d.whole = nz == std::string::npos ? std::string() : d.whole.substr(nz);
}

bool IsZero(const Digits& d) {
    return d.whole.empty() && d.frac.find_first_not_of('0') == std::string::npos;
}

std::vector<std::string> SplitSections(const std::string& f) {
    std::vector<std::string> out(1);
    bool quoted = false;
    for (size_t i = 0; i < f.size(); ++i) {
        char c = f[i];
        if (c == '"') quoted = !quoted;
        if (c == '\\' && i + 1 < f.size()) {
            out.back() += c;
            out.back() += f[++i];
            continue;
        }
        if (c == ';' && !quoted) out.emplace_back();
        else out.back() += c;
    }
    return out;
}

bool HasDigitPlaceholders(const std::string& f) {
    bool quoted = false;
    for (size_t i = 0; i < f.size(); ++i) {
        char c = f[i];
        if (c == '"') quoted = !quoted;
        else if (!quoted && c == '\\') ++i;
        else if (!quoted && (c == '0' || c == '#')) return true;
    }
    return false;
}

// One section of a number format applied to |digits|.
std::string FormatNumberSection(Digits d, const std::string& f) {
    struct Item {
        char kind;  // '0', '#', '.', ',', '%', 'E' (exponent), 'L' (literal)
        std::string text;
        bool plusSign = false;
        int expDigits = 0;
    };
    std::vector<Item> items;
    for (size_t i = 0; i < f.size(); ++i) {
        char c = f[i];
        if (c == '"') {
            size_t e = f.find('"', i + 1);
            if (e == std::string::npos) e = f.size();
            items.push_back({'L', f.substr(i + 1, e - i - 1)});
            i = e;
        } else if (c == '\\' && i + 1 < f.size()) {
            items.push_back({'L', std::string(1, f[++i])});
        } else if ((c == 'E' || c == 'e') && i + 1 < f.size() && (f[i + 1] == '+' || f[i + 1] == '-')) {
            Item it{'E', std::string(1, c), f[i + 1] == '+'};
            i += 2;
            while (i < f.size() && (f[i] == '0' || f[i] == '#')) {
                if (f[i] == '0') ++it.expDigits;
                ++i;
            }
            --i;
            items.push_back(it);
        } else if (c == '0' || c == '#' || c == '.' || c == ',' || c == '%') {
            items.push_back({c, {}});
        } else {
            items.push_back({'L', std::string(1, c)});
        }
    }
    int point = -1, exp = -1;
    for (size_t k = 0; k < items.size(); ++k) {
        if (items[k].kind == '.' && point < 0 && exp < 0) point = static_cast<int>(k);
        if (items[k].kind == 'E' && exp < 0) exp = static_cast<int>(k);
    }
    int intEnd = point >= 0 ? point : (exp >= 0 ? exp : static_cast<int>(items.size()));
    int fracEnd = exp >= 0 ? exp : static_cast<int>(items.size());
    std::vector<int> intPos, fracPos;
    for (int k = 0; k < intEnd; ++k)
        if (items[k].kind == '0' || items[k].kind == '#') intPos.push_back(k);
    if (point >= 0)
        for (int k = point + 1; k < fracEnd; ++k)
            if (items[k].kind == '0' || items[k].kind == '#') fracPos.push_back(k);
    bool grouping = false;
    for (int k = 0; k < intEnd; ++k)
        if (items[k].kind == ',' && !intPos.empty() && k > intPos.front() && k < intPos.back()) grouping = true;
    for (auto& it : items)
        if (it.kind == '%') {
            ShiftLeft(d, 2);
            break;
        }
    int exponent = 0;
    if (exp >= 0) {
        // Scientific: as many whole digits as whole placeholders (at least one).
        int wholeDigits = std::max<int>(1, static_cast<int>(intPos.size()));
        if (!IsZero(d)) {
            std::string all = d.whole + d.frac;
            int pointAt = static_cast<int>(d.whole.size());
            size_t first = all.find_first_not_of('0');
            exponent = pointAt - static_cast<int>(first) - wholeDigits;
            std::string sig = all.substr(first);
            d.whole = sig.substr(0, std::min<size_t>(sig.size(), wholeDigits));
            if (d.whole.size() < static_cast<size_t>(wholeDigits)) d.whole.append(wholeDigits - d.whole.size(), '0');
            d.frac = sig.size() > static_cast<size_t>(wholeDigits) ? sig.substr(wholeDigits) : std::string();
            RoundTo(d, fracPos.size());
            if (d.whole.size() > static_cast<size_t>(wholeDigits)) {  // 9.99 rounded up to 10.0
                d.frac.insert(0, 1, d.whole.back());
                d.whole.pop_back();
                d.frac.pop_back();
                ++exponent;
            }
        } else {
            RoundTo(d, fracPos.size());
        }
    } else {
        RoundTo(d, fracPos.size());
    }
    // Fraction: '#' places drop trailing zeros, '0' places keep them.
    size_t minFrac = 0;
    for (size_t k = 0; k < fracPos.size(); ++k)
        if (items[fracPos[k]].kind == '0') minFrac = k + 1;
    std::string frac = d.frac;
    while (frac.size() > minFrac && frac.back() == '0') frac.pop_back();
    // Whole part: '0' places from the first one on are mandatory.
    size_t minWhole = 0;
    for (size_t k = 0; k < intPos.size(); ++k)
        if (items[intPos[k]].kind == '0') {
            minWhole = intPos.size() - k;
            break;
        }
    std::string whole = d.whole;
    if (whole.size() < minWhole) whole.insert(0, minWhole - whole.size(), '0');
    auto wholeText = [&](size_t from, size_t to) {  // digits [from, to) with grouping
        std::string s;
        for (size_t k = from; k < to; ++k) {
            s += whole[k];
            size_t right = whole.size() - 1 - k;
            if (grouping && right > 0 && right % 3 == 0) s += ',';
        }
        return s;
    };
    std::string out;
    // The whole digits fill the whole placeholders from the right; the first
    // placeholder takes every digit left over.
    size_t wholeUsed = 0;
    size_t extra = whole.size() > intPos.size() ? whole.size() - intPos.size() : 0;
    size_t placeIndex = 0;
    for (int k = 0; k < static_cast<int>(items.size()); ++k) {
        const Item& it = items[k];
        if (k < intEnd && (it.kind == '0' || it.kind == '#')) {
            size_t placesLeft = intPos.size() - placeIndex;  // including this one
            size_t digitsLeft = whole.size() - wholeUsed;
            size_t take = 0;
            if (placeIndex == 0) take = extra + (digitsLeft - extra >= placesLeft ? 1 : 0);
            else take = digitsLeft >= placesLeft ? 1 : 0;
            out += wholeText(wholeUsed, wholeUsed + take);
            wholeUsed += take;
            ++placeIndex;
        } else if (k < intEnd && it.kind == ',') {
            // grouping marker, written with the digits
        } else if (it.kind == '.' && k == point) {
            if (intPos.empty() && !whole.empty()) out += wholeText(0, whole.size());
            out += '.';  // written even with no digits after it, as VB: Format(5, "#.##") is "5."
        } else if (k > point && point >= 0 && k < fracEnd && (it.kind == '0' || it.kind == '#')) {
            size_t idx = 0;
            while (fracPos[idx] != k) ++idx;
            if (idx < frac.size()) out += frac[idx];
        } else if (it.kind == 'E') {
            out += it.text;
            if (exponent < 0) out += '-';
            else if (it.plusSign) out += '+';
            std::string e = std::to_string(exponent < 0 ? -exponent : exponent);
            if (e.size() < static_cast<size_t>(it.expDigits)) e.insert(0, it.expDigits - e.size(), '0');
            out += e;
        } else if (it.kind == '%') {
            out += '%';
        } else if (it.kind == 'L') {
            out += it.text;
        } else if (it.kind == ',' || it.kind == '.') {
            out += it.kind;
        }
    }
    return out;
}

std::string FormatNumber(const Variant& v, const std::string& pattern) {
    std::string l = Lower(pattern);
    std::string f = pattern;
    if (l == "general number") return CStr(v);
    if (l == "currency") f = "$#,##0.00;($#,##0.00)";
    else if (l == "fixed") f = "0.00";
    else if (l == "standard") f = "#,##0.00";
    else if (l == "percent") f = "0.00%";
    else if (l == "scientific") f = "0.00E+00";
    else if (l == "yes/no") return CDbl(v) != 0 ? "Yes" : "No";
    else if (l == "true/false") return CDbl(v) != 0 ? "True" : "False";
    else if (l == "on/off") return CDbl(v) != 0 ? "On" : "Off";
    std::vector<std::string> sections = SplitSections(f);
    Digits d = DigitsOf(v);
    bool negative = d.negative;
    d.negative = false;
    const std::string* section = &sections[0];
    bool writeSign = negative;
    if (negative && sections.size() >= 2 && !sections[1].empty()) {
        section = &sections[1];
        writeSign = false;
    } else if (IsZero(d) && sections.size() >= 3 && !sections[2].empty()) {
        section = &sections[2];
    }
    if (!HasDigitPlaceholders(*section)) {
        if (HasDateTokens(*section)) return FormatDate(CDbl(v), *section);
        // A section of literals only prints them.
        std::string out = FormatNumberSection(d, *section);
        return writeSign ? "-" + out : out;
    }
    std::string out = FormatNumberSection(d, *section);
    // A value that rounds to zero shows no sign.
    bool allZero = out.find_first_of("123456789") == std::string::npos;
    return writeSign && !allZero ? "-" + out : out;
}

std::string FormatText(const std::string& s, const std::string& f) {
    // '@' and '&' placeholders take characters from the right unless '!' asks
    // for left to right; '<' and '>' force lower or upper case.
    bool lower = f.find('<') != std::string::npos, upper = f.find('>') != std::string::npos;
    bool leftToRight = f.find('!') != std::string::npos;
    std::string text = upper ? UCase(s) : (lower ? LCase(s) : s);
    std::u16string t = ToUtf16(text);
    size_t places = 0;
    for (char c : f) places += (c == '@' || c == '&') ? 1 : 0;
    if (places == 0) return text;
    std::u16string out;
    std::u16string fu = ToUtf16(f);
    if (!leftToRight) {
        // Fill from the right: the leftmost placeholder takes any surplus.
        size_t extra = t.size() > places ? t.size() - places : 0;
        size_t pad = t.size() < places ? places - t.size() : 0;
        size_t ti = 0, pi = 0;
        for (char16_t c : fu) {
            if (c == '@' || c == '&') {
                if (pi == 0) {
                    out.append(t, 0, extra);
                    ti = extra;
                }
                if (pi < pad) {
                    if (c == '@') out.push_back(u' ');
                } else {
                    out.push_back(t[ti++]);
                }
                ++pi;
            } else if (c != '!' && c != '<' && c != '>') {
                out.push_back(c);
            }
        }
    } else {
        size_t ti = 0, pi = 0;
        for (char16_t c : fu) {
            if (c == '@' || c == '&') {
                ++pi;
                if (ti < t.size()) out.push_back(t[ti++]);
                else if (c == '@') out.push_back(u' ');
                if (pi == places && ti < t.size()) out.append(t, ti, std::u16string::npos);
            } else if (c != '!' && c != '<' && c != '>') {
                out.push_back(c);
            }
        }
    }
    return ToUtf8(out);
}

}  // namespace

std::string Format(const Variant& in, const std::string& pattern) {
    if (in.IsNull()) return std::string();
    Variant v = in.IsObject() ? DefaultValue(in) : in;
    if (v.IsNull()) return std::string();
    if (pattern.empty()) return CStr(v);
    if (v.Type() == vbDate) {
        std::vector<std::string> sections = SplitSections(pattern);
        if (HasDigitPlaceholders(sections[0])) return FormatNumber(Variant(v.DateValue()), pattern);
        return FormatDate(v.DateValue(), pattern);
    }
    if (v.IsString()) {
        NumberText t = ParseNumberText(v.Str());
        bool textFormat = pattern.find_first_of("@&<>!") != std::string::npos && !HasDigitPlaceholders(pattern);
        if (!textFormat && t.ok) return FormatNumber(Variant(t.value), pattern);
        if (!textFormat && !HasDigitPlaceholders(pattern)) {
            if (auto d = ParseDateText(v.Str())) return FormatDate(*d, pattern);
        }
        return FormatText(v.Str(), pattern);
    }
    if (v.IsEmpty()) return FormatNumber(Variant(int16_t{0}), pattern);
    if (v.Type() == vbBoolean) {
        std::string l = Lower(pattern);
        if (l == "yes/no" || l == "true/false" || l == "on/off") return FormatNumber(v, pattern);
        if (!HasDigitPlaceholders(pattern) && !HasDateTokens(pattern)) return CStr(v);
    }
    if (v.IsNumericType()) return FormatNumber(v, pattern);
    RaiseVbError(vberr::TypeMismatch);
}

}  // namespace rt
