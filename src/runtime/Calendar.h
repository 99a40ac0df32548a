#pragma once
// Proleptic Gregorian calendar arithmetic behind OLE Automation dates: days
// count from 1970-01-01; an OLE date's whole part counts from 1899-12-30.
#include <cstdint>

namespace rt::calendar {

// Days since 1970-01-01 of a date (month 1 to 12).
constexpr int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// The date of a count of days since 1970-01-01.
constexpr void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

// Day 0 of OLE dates, in days since 1970-01-01.
inline constexpr int64_t kOleEpoch = DaysFromCivil(1899, 12, 30);
static_assert(kOleEpoch == -25569);

// 1 January 100 and 31 December 9999, the range of an OLE Automation date.
inline constexpr double kMinOleDate = -657434.0;
inline constexpr double kMaxOleDate = 2958465.0;

// Whether an OLE date lies in that range (NaN and the infinities do not).
constexpr bool InOleDateRange(double ole) { return ole >= kMinOleDate && ole < kMaxOleDate + 1; }

constexpr bool IsLeapYear(int y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

constexpr int DaysInMonth(int y, int m) {
    constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : days[m - 1];
}

}  // namespace rt::calendar
