// Feeds arbitrary text to the filter criteria parser and, when it is accepted,
// binds it (typed, else untyped) and evaluates it against one row holding
// every kind of value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ado/Enums.h"
#include "ado/FilterCriteria.h"
#include "runtime/Error.h"

namespace {

std::vector<rt::Variant> MakeRow() {
    rt::Decimal dec;
    dec.magnitude = 123456789;
    dec.scale = 4;
    dec.negative = true;
    rt::Variant bytes = rt::Variant::MakeArray(rt::vbByte, 0, 2);
    return {
        rt::Variant(int32_t{42}),
        rt::Variant("Grüße O'Malley"),
        rt::Variant::Date(43861.5),
        rt::Variant(rt::Currency{125000}),
        rt::Variant(true),
        rt::Variant::Null(),
        rt::Variant(dec),
        rt::Variant(-2.5e-7),
        rt::Variant(int16_t{-7}),
        rt::Variant(uint8_t{200}),
        rt::Variant(std::string("\xff\xfe\x00z", 4)),
        rt::Variant(),
        bytes,
        rt::Variant(1.5f),
        rt::Variant::Date(-1.25),
        rt::Variant::Date(1e300),
        rt::Variant(std::nan("")),
    };
}

const ado::DataTypeEnum kTypes[] = {ado::adInteger, ado::adVarWChar, ado::adDate,     ado::adCurrency,
                                     ado::adBoolean, ado::adVariant,  ado::adDecimal,  ado::adDouble,
                                     ado::adSmallInt, ado::adUnsignedTinyInt, ado::adVarChar, ado::adVariant,
                                     ado::adVarBinary, ado::adSingle, ado::adDBTimeStamp,
                                     ado::adDate,    ado::adDouble};

const char* const kNames[] = {"ID", "NAME", "WHEN", "PRICE", "FLAG", "NOTHING", "AMOUNT", "RATIO",
                              "SMALL", "TINY", "RAW", "EMPTY", "BLOB", "SINGLE", "OLD", "FAR", "NAN"};
static_assert(std::size(kTypes) == std::size(kNames));

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<rt::Variant> row = MakeRow();
    std::string text(reinterpret_cast<const char*>(data), size);
    try {
        ado::FilterCriteria f = ado::FilterCriteria::Parse(text);
        // Known names bind to their field, any other name to some field, so
        // that most accepted criteria get evaluated.
        auto indexOf = [](const std::string& name) {
            for (size_t i = 0; i < std::size(kNames); ++i)
                if (name == kNames[i]) return static_cast<int>(i);
            if (name == "UNKNOWN") return -1;
            return static_cast<int>(name.size() % row.size());
        };
        try {
            f.Bind(indexOf, [](int i) { return kTypes[i]; });
        } catch (const rt::ComError&) {
            f.Bind(indexOf);  // untyped: literals that do not convert match nothing
        }
        f.Matches(row.data());
    } catch (const rt::ComError&) {
        // Refusals are expected; anything else escaping is a finding.
    }
    return 0;
}
