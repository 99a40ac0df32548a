// Feeds arbitrary bytes to the persisted recordset reader. The first input
// byte chooses whether the closing checksum is recomputed, so that the
// structure behind the checksum gets explored too. An accepted image must
// serialize again and read back to the same shape.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ado/Persist.h"
#include "runtime/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool reseal = (data[0] & 1) != 0;
    std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    if (reseal && bytes.size() >= 4) {
        uint32_t crc = ado::persist::Checksum(bytes.data(), bytes.size() - 4);
        std::memcpy(bytes.data() + bytes.size() - 4, &crc, 4);
    }
    ado::RecordsetImage image;
    try {
        image = ado::DeserializeImage(bytes, "fuzz.RAW");
    } catch (const rt::ComError&) {
        return 0;
    }
    std::string again = ado::SerializeImage(image);
    ado::RecordsetImage back = ado::DeserializeImage(again, "again.RAW");
    if (back.fields.size() != image.fields.size() || back.values.size() != image.values.size() ||
        back.source != image.source || again.size() != bytes.size())
        std::abort();
    return 0;
}
