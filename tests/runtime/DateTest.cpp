#include <gtest/gtest.h>

#include "runtime/Raises.h"
#include "runtime/Vb.h"

using namespace rt;

TEST(DateArithmetic, SerialsRollOverAsVbDoes) {
    EXPECT_DOUBLE_EQ(DateSerial(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(DateSerial(1900, 1, 1), 2.0);
    EXPECT_DOUBLE_EQ(DateSerial(2020, 1, 31), 43861.0);
    EXPECT_DOUBLE_EQ(DateSerial(2020, 13, 1), DateSerial(2021, 1, 1));
    EXPECT_DOUBLE_EQ(DateSerial(2020, 3, 0), DateSerial(2020, 2, 29));
    EXPECT_DOUBLE_EQ(DateSerial(2020, 0, 1), DateSerial(2019, 12, 1));
    EXPECT_DOUBLE_EQ(DateSerial(2020, -13, 1), DateSerial(2018, 11, 1));
    EXPECT_DOUBLE_EQ(DateSerial(20, 1, 1), DateSerial(2020, 1, 1));
    EXPECT_DOUBLE_EQ(DateSerial(45, 1, 1), DateSerial(1945, 1, 1));
    EXPECT_DOUBLE_EQ(DateSerial(1800, 1, 1), -36522.0);
    EXPECT_EQ(ErrorOf([] { DateSerial(10000, 1, 1); }), 5);
    EXPECT_DOUBLE_EQ(TimeSerial(12, 0, 0), 0.5);
    EXPECT_DOUBLE_EQ(TimeSerial(0, 90, 0), TimeSerial(1, 30, 0));
    EXPECT_DOUBLE_EQ(TimeSerial(25, 0, 0), 1.0 + 1.0 / 24.0);
}

TEST(DateArithmetic, SplitHandlesTimesBeforeTheEpoch) {
    DateParts p = SplitDate(DateSerial(2020, 2, 29) + TimeSerial(13, 45, 7));
    EXPECT_EQ(p.year, 2020);
    EXPECT_EQ(p.month, 2);
    EXPECT_EQ(p.day, 29);
    EXPECT_EQ(p.hour, 13);
    EXPECT_EQ(p.minute, 45);
    EXPECT_EQ(p.second, 7);
    // Before 1899-12-30 the fraction still counts forward from midnight.
    DateParts q = SplitDate(-1.25);
    EXPECT_EQ(q.day, 29);
    EXPECT_EQ(q.month, 12);
    EXPECT_EQ(q.year, 1899);
    EXPECT_EQ(q.hour, 6);
    // Times round to the nearest second, carrying into the next day.
    DateParts r = SplitDate(DateSerial(2020, 12, 31) + 86399.9 / 86400.0);
    EXPECT_EQ(r.year, 2021);
    EXPECT_EQ(r.day, 1);
    EXPECT_EQ(r.hour, 0);
}

TEST(DateText, GeneralDateInVbsUnitedStatesForm) {
    double d = DateSerial(2020, 1, 31);
    EXPECT_EQ(CStr(Variant::Date(d + TimeSerial(13, 45, 7))), "1/31/2020 1:45:07 PM");
    EXPECT_EQ(CStr(Variant::Date(d)), "1/31/2020");
    EXPECT_EQ(CStr(Variant::Date(TimeSerial(0, 5, 0))), "12:05:00 AM");
    EXPECT_EQ(CStr(Variant::Date(0.0)), "12:00:00 AM");
    EXPECT_EQ(CStr(Variant::Date(d + 0.5)), "1/31/2020 12:00:00 PM");
}

TEST(DateText, ReadingDates) {
    double d = DateSerial(2020, 1, 31);
    EXPECT_DOUBLE_EQ(CDate(Variant("1/31/2020")), d);
    EXPECT_DOUBLE_EQ(CDate(Variant("2020-01-31")), d);
    EXPECT_DOUBLE_EQ(CDate(Variant("2020.01.31 01:45:07 PM")), d + TimeSerial(13, 45, 7));
    EXPECT_DOUBLE_EQ(CDate(Variant("2020-01-31T13:45:07")), d + TimeSerial(13, 45, 7));
    EXPECT_DOUBLE_EQ(CDate(Variant("Jan 31, 2020")), d);
    EXPECT_DOUBLE_EQ(CDate(Variant("31-January-2020")), d);
    EXPECT_DOUBLE_EQ(CDate(Variant("31/1/2020")), d);  // only day-first makes sense
    EXPECT_DOUBLE_EQ(CDate(Variant("1/31/20")), d);
    EXPECT_DOUBLE_EQ(CDate(Variant("12:00 PM")), 0.5);
    EXPECT_DOUBLE_EQ(CDate(Variant("12:30 AM")), TimeSerial(0, 30, 0));
    EXPECT_DOUBLE_EQ(CDate(Variant(43861.5)), 43861.5);
    // Databases write seconds with a fraction.
    EXPECT_NEAR(CDate(Variant("2020-01-31 13:45:07.250")), d + TimeSerial(13, 45, 7) + 0.25 / 86400, 1e-10);
    EXPECT_EQ(CStr(Variant::Date(CDate(Variant("2020-01-31 13:45:07.6")))), "1/31/2020 1:45:08 PM");
    // What CStr writes, CDate reads back.
    double t = d + TimeSerial(23, 59, 59);
    EXPECT_DOUBLE_EQ(CDate(Variant(CStr(Variant::Date(t)))), t);
    EXPECT_DOUBLE_EQ(CDate(Variant(FormatDate(t, "MM/DD/YYYY HH:MM:SS"))), t);

    EXPECT_EQ(ErrorOf([] { CDate(Variant("2/30/2020")); }), 13);
    EXPECT_EQ(ErrorOf([] { CDate(Variant("13:00 PM")); }), 13);
    EXPECT_EQ(ErrorOf([] { CDate(Variant("hello")); }), 13);
    EXPECT_EQ(ErrorOf([] { CDate(Variant("12345/1/1")); }), 13);
    EXPECT_EQ(ErrorOf([] { CDate(Variant("1/31/2020 123:00")); }), 13);
    EXPECT_EQ(ErrorOf([] { CDate(Variant("1/31/2020 10:61")); }), 13);
    EXPECT_EQ(ErrorOf([] { CDate(Variant("1/31/2020 10:00:00:00")); }), 13);
    EXPECT_EQ(ErrorOf([] { CDate(Variant("")); }), 13);
    EXPECT_EQ(ErrorOf([] { CDate(Variant::Null()); }), 94);
    EXPECT_EQ(ErrorOf([] { CDate(Variant(1e10)); }), 6);
    EXPECT_TRUE(IsDate(Variant("2020-02-29")));
    EXPECT_FALSE(IsDate(Variant("2021-02-29")));
    EXPECT_FALSE(IsDate(Variant(43861.0)));
    EXPECT_TRUE(IsDate(Variant::Date(1.0)));
}

TEST(DateText, FormatPatternsTheSystemUses) {
    double t = DateSerial(2020, 3, 5) + TimeSerial(14, 7, 9);
    EXPECT_EQ(FormatDate(t, "yyyy.mm.dd hh:mm:ss AMPM "), "2020.03.05 02:07:09 PM ");
    EXPECT_EQ(FormatDate(t, "MM/DD/YYYY HH:MM:SS"), "03/05/2020 14:07:09");
    EXPECT_EQ(FormatDate(t, "MM/DD/YYYY HH:MM:SS").size(), 19u);
    EXPECT_EQ(FormatDate(t, "mm/dd/yyyy"), "03/05/2020");
    EXPECT_EQ(FormatDate(t, "hh:mm:ss"), "14:07:09");
    EXPECT_EQ(FormatDate(t, "General Date"), "3/5/2020 2:07:09 PM");
    EXPECT_EQ(FormatDate(t, ""), "3/5/2020 2:07:09 PM");
    EXPECT_EQ(FormatDate(t, "h:nn am/pm"), "2:07 pm");
    EXPECT_EQ(FormatDate(t, "d-mmm-yy"), "5-Mar-20");
    EXPECT_EQ(FormatDate(t, "dddd, mmmm d"), "Thursday, March 5");
    EXPECT_EQ(FormatDate(t, "Long Date"), "Thursday, March 5, 2020");
    EXPECT_EQ(FormatDate(t, "Short Date"), "3/5/2020");
    EXPECT_EQ(FormatDate(t, "\"at\" h\\h"), "at 14h");
    double midnight = DateSerial(2020, 3, 5);
    EXPECT_EQ(FormatDate(midnight, "hh:mm:ss AMPM"), "12:00:00 AM");
    EXPECT_EQ(Format(Variant::Date(t), "yyyy"), "2020");
    EXPECT_EQ(Format(Variant("2020-03-05"), "mm/dd/yyyy"), "03/05/2020");
}

TEST(DateText, NowIsToday) {
    double n = Now();
    EXPECT_GT(n, DateSerial(2020, 1, 1));
    EXPECT_LT(n, DateSerial(2200, 1, 1));
}

TEST(NumberFormat, PlaceholdersAndSections) {
    EXPECT_EQ(Format(Variant(1234.5), "#,##0.00"), "1,234.50");
    EXPECT_EQ(Format(Variant(-1234.5), "#,##0.00"), "-1,234.50");
    EXPECT_EQ(Format(Variant(0.5), "0"), "1");   // Format rounds half away from zero
    EXPECT_EQ(Format(Variant(2.5), "0"), "3");
    EXPECT_EQ(Format(Variant(0.125), "0.00"), "0.13");
    EXPECT_EQ(Format(Variant(5.0), "000"), "005");
    EXPECT_EQ(Format(Variant(12345.0), "00"), "12345");
    EXPECT_EQ(Format(Variant(1.5), "#.##"), "1.5");
    EXPECT_EQ(Format(Variant(5.0), "#.##"), "5.");
    EXPECT_EQ(Format(Variant(0.5), ".00"), ".50");
    EXPECT_EQ(Format(Variant(5551234567.0), "(000) 000-0000"), "(555) 123-4567");
    EXPECT_EQ(Format(Variant(1234.5), "(000) 000-0000"), "(000) 000-1235");
    EXPECT_EQ(Format(Variant(-1234.5), "Currency"), "($1,234.50)");
    EXPECT_EQ(Format(Variant(99.995), "00.00E+0"), "10.00E+1");  // rounding carries into the exponent
    EXPECT_EQ(Format(Variant(0.25), "0%"), "25%");
    EXPECT_EQ(Format(Variant(-3.0), "0;(0)"), "(3)");
    EXPECT_EQ(Format(Variant(0.0), "0;(0);\"zero\""), "zero");
    EXPECT_EQ(Format(Variant(1234567.0), "Standard"), "1,234,567.00");
    EXPECT_EQ(Format(Variant(1.5), "Fixed"), "1.50");
    EXPECT_EQ(Format(Variant(12345.678), "0.00E+00"), "1.23E+04");
    EXPECT_EQ(Format(Variant(0.000123), "0.0E-00"), "1.2E-04");
    EXPECT_EQ(Format(Variant(Decimal::Parse("12345678901234567890.125")), "0.00"), "12345678901234567890.13");
    EXPECT_EQ(Format(Variant(Currency{12345}), "0.000"), "1.235");
    EXPECT_EQ(Format(Variant("12.5"), "0.00"), "12.50");
    EXPECT_EQ(Format(Variant(-0.001), "0.00"), "0.00");
    EXPECT_EQ(Format(Variant(true), "Yes/No"), "Yes");
    EXPECT_EQ(Format(Variant(3.5)), "3.5");
    EXPECT_EQ(Format(Variant::Null(), "0"), "");
    EXPECT_EQ(Format(Variant("abc"), "@@@@@"), "  abc");
    EXPECT_EQ(Format(Variant("abc"), ">"), "ABC");
}
