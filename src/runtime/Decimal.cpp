// Currency and Decimal: the two exact numeric types of a Variant.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "runtime/Error.h"
#include "runtime/Variant.h"
#include "runtime/Vb.h"

namespace rt {

namespace {

using u128 = unsigned __int128;

// 2^96 - 1, the largest magnitude a Decimal holds.
constexpr u128 kMaxMagnitude = (u128{1} << 96) - 1;

u128 Pow10(int n) {
    u128 r = 1;
    for (int i = 0; i < n; ++i) r *= 10;
    return r;
}

std::string U128ToString(u128 v) {
    if (v == 0) return "0";
    std::string s;
    while (v) {
        s.push_back(static_cast<char>('0' + static_cast<int>(v % 10)));
        v /= 10;
    }
    return std::string(s.rbegin(), s.rend());
}

// Drops trailing zeros of the fraction so equal values compare alike.
Decimal Normalized(Decimal d) {
    while (d.scale > 0 && d.magnitude % 10 == 0) {
        d.magnitude /= 10;
        --d.scale;
    }
    if (d.magnitude == 0) d.negative = false;
    return d;
}

}  // namespace

// ---------------------------------------------------------------- Currency

Currency Currency::FromDouble(double v) {
    if (!std::isfinite(v)) RaiseVbError(vberr::Overflow);
    // Scaled in double arithmetic and rounded half to even (the default
    // rounding mode), which is what VB's CCur gives: CCur(0.00025) = 0.0002.
    double r = std::nearbyint(v * 10000.0);
    if (r >= 9223372036854775808.0 || r < -9223372036854775808.0) RaiseVbError(vberr::Overflow);
    return Currency{static_cast<int64_t>(r)};
}

// ---------------------------------------------------------------- Decimal

Decimal Decimal::FromInt64(int64_t v) {
    Decimal d;
    d.negative = v < 0;
    d.magnitude = v < 0 ? static_cast<u128>(-(v + 1)) + 1 : static_cast<u128>(v);
    return d;
}

Decimal Decimal::FromDouble(double v) {
    if (!std::isfinite(v)) RaiseVbError(vberr::Overflow);
    // A double carries 15 reliable significant digits; the conversion keeps those
    // (CDec(0.1) is exactly 0.1, not the binary neighbour of it).
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", v);
    return Parse(buf);
}

Decimal Decimal::Parse(const std::string& text) {
    size_t i = 0, n = text.size();
    auto blank = [&](size_t k) { return k < n && (text[k] == ' ' || text[k] == '\t'); };
    while (blank(i)) ++i;
    bool neg = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        neg = text[i] == '-';
        ++i;
    }
    std::string all;  // every mantissa digit
    long fracDigits = 0;
    bool afterPoint = false;
    for (; i < n; ++i) {
        char c = text[i];
        if (c >= '0' && c <= '9') {
            all.push_back(c);
            if (afterPoint) ++fracDigits;
        } else if (c == '.' && !afterPoint) {
            afterPoint = true;
        } else {
            break;
        }
    }
    if (all.empty()) RaiseVbError(vberr::TypeMismatch);
    long exp10 = 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        size_t j = i + 1;
        bool eneg = false;
        if (j < n && (text[j] == '+' || text[j] == '-')) {
            eneg = text[j] == '-';
            ++j;
        }
        if (j >= n || text[j] < '0' || text[j] > '9') RaiseVbError(vberr::TypeMismatch);
        long e = 0;
        for (; j < n && text[j] >= '0' && text[j] <= '9'; ++j)
            if (e < 100000) e = e * 10 + (text[j] - '0');
        exp10 = eneg ? -e : e;
        i = j;
    }
    while (blank(i)) ++i;
    if (i != n) RaiseVbError(vberr::TypeMismatch);

    size_t lead = all.find_first_not_of('0');
    if (lead == std::string::npos) return Decimal{};
    all.erase(0, lead);
    long scale = fracDigits - exp10;
    if (scale < 0) {
        if (static_cast<long>(all.size()) - scale > 29) RaiseVbError(vberr::Overflow);
        all.append(static_cast<size_t>(-scale), '0');
        scale = 0;
    }
    // Drop as few fraction digits as needed (rounding half to even once) so
    // that the scale is at most 28 and the magnitude fits in 96 bits.
    for (long drop = std::max(0L, scale - 28); drop <= scale; ++drop) {
        long keep = static_cast<long>(all.size()) - drop;
        if (keep > 29) continue;
        u128 m = 0;
        for (long k = 0; k < keep; ++k) m = m * 10 + static_cast<unsigned>(all[k] - '0');
        if (keep < 0) {
            m = 0;  // every digit lies below the last kept place
        } else if (drop > 0) {
            char first = all[keep];
            bool rest = all.find_first_not_of('0', keep + 1) != std::string::npos;
            if (first > '5' || (first == '5' && (rest || m % 2 == 1))) ++m;
        }
        if (m > kMaxMagnitude) continue;
        Decimal d;
        d.magnitude = m;
        d.scale = static_cast<uint8_t>(scale - drop);
        d.negative = neg && m != 0;
        return d;
    }
    RaiseVbError(vberr::Overflow);
}

double Decimal::ToDouble() const {
    // Exact operands give a correctly rounded quotient in one IEEE division.
    static constexpr double kExactPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (magnitude < (u128{1} << 53) && scale <= 22) {
        double v = static_cast<double>(static_cast<uint64_t>(magnitude)) / kExactPow10[scale];
        return negative && v != 0 ? -v : v;
    }
    // Otherwise long division in binary: at least 64 quotient bits, then one
    // rounding to 53 bits, half to even, with the remainder as sticky bit.
    const u128 p = Pow10(scale);
    u128 q = magnitude / p, r = magnitude % p;
    int exp2 = 0;
    auto bits = [](u128 v) {
        auto hi = static_cast<uint64_t>(v >> 64), lo = static_cast<uint64_t>(v);
        if (hi) return 128 - __builtin_clzll(hi);
        return lo ? 64 - __builtin_clzll(lo) : 0;
    };
    int qbits = bits(q);
    while (qbits < 64 && r != 0) {
        int step = std::min(64 - qbits, 30);  // r < 10^28 < 2^94: r << 30 fits
        r <<= step;
        q = (q << step) | (r / p);
        r %= p;
        exp2 -= step;
        qbits = bits(q);
    }
    int drop = qbits - 53;
    if (drop > 0) {
        u128 kept = q >> drop, rest = q & ((u128{1} << drop) - 1), half = u128{1} << (drop - 1);
        if (rest > half || (rest == half && (r != 0 || (kept & 1)))) ++kept;
        q = kept;
        exp2 += drop;
    }
    double v = std::ldexp(static_cast<double>(static_cast<uint64_t>(q)), exp2);
    return negative ? -v : v;
}

std::string Decimal::ToString() const {
    Decimal d = Normalized(*this);
    std::string s = U128ToString(d.magnitude);
    if (d.scale > 0) {
        if (s.size() <= d.scale) s.insert(0, d.scale - s.size() + 1, '0');
        s.insert(s.size() - d.scale, ".");
    }
    if (d.negative) s.insert(0, "-");
    return s;
}

bool Decimal::operator==(const Decimal& o) const { return DecimalCompare(*this, o) == 0; }

int DecimalCompare(const Decimal& a, const Decimal& b) {
    bool az = a.magnitude == 0, bz = b.magnitude == 0;
    bool an = a.negative && !az, bn = b.negative && !bz;
    if (an != bn) return an ? -1 : 1;
    // Same sign: compare magnitudes by integer part, then fraction scaled to 28 digits.
    u128 pa = Pow10(a.scale), pb = Pow10(b.scale);
    u128 ia = a.magnitude / pa, ib = b.magnitude / pb;
    int mag;
    if (ia != ib) {
        mag = ia < ib ? -1 : 1;
    } else {
        u128 fa = (a.magnitude % pa) * Pow10(28 - a.scale);
        u128 fb = (b.magnitude % pb) * Pow10(28 - b.scale);
        mag = fa == fb ? 0 : (fa < fb ? -1 : 1);
    }
    return an ? -mag : mag;
}

int64_t DecimalRoundToInt64(const Decimal& d) {
    u128 p = Pow10(d.scale);
    u128 q = d.magnitude / p, r = d.magnitude % p;
    u128 twice = r * 2;  // r < 10^28, fits
    if (twice > p || (twice == p && (q % 2 == 1))) ++q;
    if (q > (u128{1} << 63) || (!d.negative && q == (u128{1} << 63))) RaiseVbError(vberr::Overflow);
    if (d.negative) return q == (u128{1} << 63) ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(q);
    return static_cast<int64_t>(q);
}

Decimal DecimalFromCurrency(Currency c) {
    Decimal d = Decimal::FromInt64(c.scaled);
    d.scale = 4;
    return Normalized(d);
}

Currency CurrencyFromDecimal(const Decimal& d) {
    // Scale to 4 fraction digits, rounding half to even.
    Decimal t = d;
    if (t.scale <= 4) {
        t.magnitude *= Pow10(4 - t.scale);
    } else {
        u128 p = Pow10(t.scale - 4);
        u128 q = t.magnitude / p, r = t.magnitude % p;
        if (r * 2 > p || (r * 2 == p && q % 2 == 1)) ++q;
        t.magnitude = q;
    }
    t.scale = 0;
    return Currency{DecimalRoundToInt64(t)};
}

}  // namespace rt
