#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "runtime/Raises.h"
#include "runtime/Vb.h"

using namespace rt;

// Values written by one function and read by another must come back; and
// no text, however malformed, may do worse than raise a VB error.

TEST(RoundTrips, DecimalTextIsExact) {
    std::mt19937_64 rng(42);
    for (int i = 0; i < 2000; ++i) {
        Decimal d;
        d.magnitude = (static_cast<unsigned __int128>(rng() & 0xFFFFFFFFu) << 64) | rng();
        d.scale = static_cast<uint8_t>(rng() % 29);
        d.negative = rng() % 2;
        Decimal back = Decimal::Parse(d.ToString());
        ASSERT_TRUE(back == d) << d.ToString();
        ASSERT_EQ(back.ToString(), d.ToString());
    }
}

TEST(RoundTrips, DatesThroughTheirTextForms) {
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        int y = 100 + static_cast<int>(rng() % 9900), m = 1 + static_cast<int>(rng() % 12),
            d = 1 + static_cast<int>(rng() % 28);
        int h = static_cast<int>(rng() % 24), n = static_cast<int>(rng() % 60), s = static_cast<int>(rng() % 60);
        double date = DateSerial(y, m, d);
        double when = date >= 0 ? date + TimeSerial(h, n, s) : date - TimeSerial(h, n, s);
        DateParts p = SplitDate(when);
        ASSERT_EQ(p.year, y);
        ASSERT_EQ(p.month, m);
        ASSERT_EQ(p.day, d);
        ASSERT_EQ(p.hour, h);
        ASSERT_EQ(p.minute, n);
        ASSERT_EQ(p.second, s);
        std::string general = CStr(Variant::Date(when));
        ASSERT_NEAR(CDate(Variant(general)), when, 1e-9) << general;
        std::string fixed = FormatDate(when, "MM/DD/YYYY HH:MM:SS");
        ASSERT_EQ(fixed.size(), 19u);
        ASSERT_NEAR(CDate(Variant(fixed)), when, 1e-9) << fixed;
    }
}

TEST(RoundTrips, DoubleTextKeepsFifteenDigits) {
    std::mt19937_64 rng(3);
    for (int i = 0; i < 5000; ++i) {
        double mant = static_cast<double>(rng() % 1000000000000000ull) / 1e15;
        int exp = static_cast<int>(rng() % 80) - 40;
        double x = (rng() % 2 ? -1 : 1) * mant * std::pow(10.0, exp);
        std::string s = CStr(Variant(x));
        double back = CDbl(Variant(s));
        ASSERT_NEAR(back, x, std::fabs(x) * 1e-14) << s;
        ASSERT_TRUE(IsNumeric(Variant(s))) << s;
        ASSERT_EQ(s.find(','), std::string::npos);
    }
}

TEST(RoundTrips, GarbageTextsOnlyRaiseVbErrors) {
    std::mt19937 rng(11);
    const std::string alphabet = "0123456789.,:/-+ eEdD&HhO[]!*?#AaPpMmJjnT\xC3\xA9\xF0\x9F\x98\x80";
    for (int i = 0; i < 3000; ++i) {
        std::string s;
        size_t len = rng() % 14;
        for (size_t k = 0; k < len; ++k) s += alphabet[rng() % alphabet.size()];
        for (auto f : std::initializer_list<std::function<void()>>{
                 [&] { CDbl(Variant(s)); }, [&] { CDate(Variant(s)); }, [&] { CCur(Variant(s)); },
                 [&] { CDec(Variant(s)); }, [&] { Like("abc", s); }, [&] { Like(s, "*a?"); },
                 [&] { Format(Variant(1234.5), s); }, [&] { Format(Variant::Date(43861.25), s); },
                 [&] { Format(Variant(s), s); }, [&] { Val(s); }, [&] { Mid(s, 2, 3); }}) {
            int e = ErrorOf(f);
            ASSERT_TRUE(e == 0 || e == 5 || e == 6 || e == 13 || e == 93) << "error " << e << " for " << s;
        }
    }
}
