#include "interfaces/Varsk1.h"

#include "interfaces/EntryPoint.h"

namespace varsk1 {

namespace {
pelmora::EntryPoint<decltype(&LoadResStringWith5Parameters)> gLoadResString("Varsk1.LoadResStringWith5Parameters");
pelmora::EntryPoint<decltype(&GetYvApplicationDispatch)> gApplication("Varsk1.GetYvApplicationDispatch");
pelmora::EntryPoint<decltype(&ConvertBlobToArray)> gConvertBlob("Varsk1.ConvertBlobToArray");
}  // namespace

void BindExports(const Exports& exports) {
    gLoadResString.Bind(exports.loadResStringWith5Parameters);
    gApplication.Bind(exports.getYvApplicationDispatch);
    gConvertBlob.Bind(exports.convertBlobToArray);
}

int32_t LoadResStringWith5Parameters(const std::string& templ, std::string& buffer, int32_t bufferLength,
                                     const std::string& p1, const std::string& p2, const std::string& p3,
                                     const std::string& p4, const std::string& p5) {
    return gLoadResString.Get()(templ, buffer, bufferLength, p1, p2, p3, p4, p5);
}

std::shared_ptr<rt::Object> GetYvApplicationDispatch() { return gApplication.Get()(); }

void ConvertBlobToArray(const rt::Variant& Blob, rt::Variant& Result) { gConvertBlob.Get()(Blob, Result); }

}  // namespace varsk1
