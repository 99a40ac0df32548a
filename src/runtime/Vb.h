#pragma once
// VB conversions, comparisons and string functions, with VB's errors:
// Null in a conversion raises 94, a value of the wrong kind 13, out of range 6.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/Variant.h"

namespace rt {

// ---- conversions ----
// Objects convert through their default member (dispatch id 0); Nothing raises 91.
Variant DefaultValue(const Variant& v);
// CStr: doubles as VB prints them ("3.5", "1E+20", "-1.5E-07", up to 15
// significant digits), Singles with 7, True/False as "True"/"False", an Error
// as "Error <n>", dates in the general date form below.
std::string CStr(const Variant& v);
int16_t CInt(const Variant& v);      // round half to even
int32_t CLng(const Variant& v);
uint8_t CByte(const Variant& v);
double CSng(const Variant& v);       // rounded to a Single's precision
double CDbl(const Variant& v);
Currency CCur(const Variant& v);
Decimal CDec(const Variant& v);      // from a double: its 15 significant digits
double CDate(const Variant& v);      // OLE Automation date; texts parsed locale-independently
bool CBool(const Variant& v);
Variant CVar(const Variant& v);
// Val: the leading number of a text (0 when none); never raises.
double Val(const std::string& s);
// Texts read as numbers with blanks around, a sign, "," as thousands separator,
// "." as decimal point, an exponent (E or D) or &H / &O integers; never the
// process locale. Empty is numeric, a date is not.
bool IsNumeric(const Variant& v);
bool IsDate(const Variant& v);
// Text of a double as OLE Automation / VB prints it: rounded to 15
// significant digits, trailing zeros dropped, the exponent form ("1E+15",
// "1.5E-07") below 0.0001 and from 1E+15 on.
std::string DoubleToVbString(double d);
// The same text written at out, which has room for kDoubleTextRoom
// characters; answers the end.
constexpr size_t kDoubleTextRoom = 32;
char* WriteDoubleText(char* out, double d);

// ---- dates ----
// Dates are OLE Automation dates. Text forms do not depend on the process
// locale: they are VB's United States forms. The general date is
// "m/d/yyyy h:mm:ss AM" ("1/31/2020 1:45:07 PM"), the date alone when the time
// is midnight, the time alone when the day is 30 December 1899. CDate and
// IsDate read that form, "yyyy-mm-dd" / "yyyy/mm/dd" / "yyyy.mm.dd" (with an
// optional time, also "T"-separated), "m/d/yy", month names ("Jan 31, 2020",
// "31-Jan-2020") and times with or without AM/PM; two-digit years 0-29 are
// 2000-2029, 30-99 are 1930-1999.
// Out-of-range months and days roll over into the next or previous year or
// month, as in VB; a result outside the years 100-9999 raises 5.
double DateSerial(int year, int month, int day);
double TimeSerial(int hour, int minute, int second);
double Now();
struct DateParts {
    int year, month, day, hour, minute, second;
};
DateParts SplitDate(double oleDate);
// Format of a date: VB's date placeholders (d dd ddd dddd, m mm mmm mmmm,
// yy yyyy, h hh, n nn, s ss, AM/PM am/pm A/P a/p AMPM, w ww q y), quoted
// literals and "\x" escapes; "m" after an hour or before a second is the minute;
// an AM/PM marker turns hours to the 12-hour clock. Named forms: "General
// Date" (also ""), "Long Date", "Medium Date", "Short Date", "Long Time",
// "Medium Time", "Short Time". yyyy always writes four digits.
// E.g. "yyyy.mm.dd hh:mm:ss AMPM", "MM/DD/YYYY HH:MM:SS", "mm/dd/yyyy", "hh:mm:ss".
std::string FormatDate(double oleDate, const std::string& pattern);
// VB's Format: dates as above; numbers with 0 # . , % E+ placeholders, up to
// three sections (positive;negative;zero) and the named number forms, rounding
// half away from zero; texts with @ & < > !. Null gives "". "" as pattern is CStr.
std::string Format(const Variant& v, const std::string& pattern = "");

// ---- comparison ----
enum class CompareMode { Binary = 0, Text = 1 };
// VB's comparison operators on variants: Null on either side gives Null
// (std::nullopt); Empty compares as 0 or ""; a number and a text that reads
// as a number compare numerically (against a date, a date text as a date;
// against a Boolean, "True"/"False" too), other number/text pairs raise 13.
// Result: -1, 0 or 1.
std::optional<int> VbCompare(const Variant& a, const Variant& b, CompareMode mode = CompareMode::Binary);
// StrComp: -1/0/1 as an Integer (both sides as texts), Null when either is Null.
Variant StrComp(const Variant& a, const Variant& b, CompareMode mode = CompareMode::Binary);
// The Like operator (*, ?, #, [list], [!list], ranges a-z; "[]" matches
// nothing); Text mode ignores letter case. A malformed list raises 93.
bool Like(const std::string& text, const std::string& pattern, CompareMode mode = CompareMode::Binary);

// ---- strings (lengths and positions in UTF-16 code units, as VB) ----
int32_t Len(const std::string& s);
std::string Left(const std::string& s, int32_t length);            // 5 when length < 0
std::string Right(const std::string& s, int32_t length);           // 5 when length < 0
std::string Mid(const std::string& s, int32_t start, int32_t length = -1);  // 5 when start < 1 or length < -1
// InStr: 0 when not found or start is past the end; an empty find gives start. 5 when start < 1.
int32_t InStr(const std::string& s, const std::string& find, int32_t start = 1, CompareMode mode = CompareMode::Binary);
int32_t InStrRev(const std::string& s, const std::string& find, CompareMode mode = CompareMode::Binary);
// Split: no parts for "", the whole text for an empty delimiter, at most
// limit parts (the last keeps the rest; -1 = no limit).
std::vector<std::string> Split(const std::string& s, const std::string& delimiter = " ", int32_t limit = -1);
std::string Join(const std::vector<std::string>& parts, const std::string& delimiter = " ");
std::string Trim(const std::string& s);   // blanks (spaces) only, as VB
// Spaces, tabs, carriage returns and line feeds off both ends (criteria, sort
// and configuration texts, which may be written over several lines).
std::string TrimBlanks(const std::string& s);
std::string LTrim(const std::string& s);
std::string RTrim(const std::string& s);
// Letter case of ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic, one
// code unit for one (so lengths never change).
std::string UCase(const std::string& s);
std::string LCase(const std::string& s);
std::string Replace(const std::string& s, const std::string& find, const std::string& with);
std::string Space(int32_t n);
std::string String(int32_t n, char c);
// UTF-8 <-> UTF-16 for the places that count or cut characters. A byte that
// starts no valid sequence reads as U+FFFD; a surrogate left alone by a cut
// is written as its own three bytes and reads back as the same unit.
std::u16string ToUtf16(const std::string& s);
std::string ToUtf8(const std::u16string& s);
// Case-insensitive equality of names (ASCII letters), as VB's text compare of identifiers.
bool NamesEqual(const std::string& a, const std::string& b);
// Whether every byte of s is ASCII.
inline bool IsAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}
// An ASCII letter in lower case, any other byte as it is: names fold so.
inline char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
// A text with each byte folded by FoldAscii.
inline std::string FoldAsciiText(std::string s) {
    for (char& c : s) c = FoldAscii(c);
    return s;
}

}  // namespace rt
