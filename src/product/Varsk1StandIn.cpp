// The sibling support library's functions: message filling and the hook
// through which a process hands over its desktop application object.
#include <mutex>

#include "interfaces/Varsk1.h"
#include "product/StandIns.h"
#include "product/Varsk1Blob.h"

namespace product {

namespace {
std::mutex gMutex;
std::shared_ptr<rt::Object> gApplication;

// The length of the longest prefix of s, at most limit bytes, that does not
// cut a UTF-8 sequence.
size_t Utf8Prefix(const std::string& s, size_t limit) {
    if (s.size() <= limit) return s.size();
    size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    return n;
}
}  // namespace

void SetApplication(std::shared_ptr<rt::Object> application) {
    std::lock_guard lock(gMutex);
    gApplication = std::move(application);
}

std::string FillPlaceholders(const std::string& templ, const std::string (&params)[5]) {
    std::string out;
    out.reserve(templ.size());
    for (size_t i = 0; i < templ.size(); ++i) {
        if (templ[i] == '%' && i + 1 < templ.size() && templ[i + 1] >= '1' && templ[i + 1] <= '5') {
            out += params[templ[i + 1] - '1'];
            ++i;
        } else {
            out += templ[i];
        }
    }
    return out;
}

std::shared_ptr<rt::Object> Application() {
    std::lock_guard lock(gMutex);
    return gApplication;
}

namespace {

int32_t LoadResStringWith5Parameters(const std::string& templ, std::string& buffer, int32_t bufferLength,
                                     const std::string& p1, const std::string& p2, const std::string& p3,
                                     const std::string& p4, const std::string& p5) {
    if (bufferLength <= 0 || templ.empty()) return 0;
    const std::string params[5] = {p1, p2, p3, p4, p5};
    std::string text = FillPlaceholders(templ, params);
    size_t n = Utf8Prefix(text, static_cast<size_t>(bufferLength));
    if (buffer.size() < static_cast<size_t>(bufferLength)) buffer.resize(static_cast<size_t>(bufferLength), ' ');
    buffer.replace(0, n, text, 0, n);
    return static_cast<int32_t>(n);
}

}  // namespace

varsk1::Exports Varsk1Exports() { return {&LoadResStringWith5Parameters, &Application, &ConvertBlobToArray}; }

}  // namespace product
