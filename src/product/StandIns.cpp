#include "product/StandIns.h"

#include <cstdlib>
#include <utility>

#include "product/LoadAttributesService.h"
#include "product/StationService.h"
#include "product/framework/FrameworkClasses.h"

namespace product {

void RegisterMessageStandIn();
void RegisterTraceStandIn();
void RegisterDialogStandIn();
void RegisterGeometryStandIns();
void RegisterExtensionStandIns();

void RegisterProductStandIns() {
    varsk1::BindExports(Varsk1Exports());
    win::BindExports(WindowExports());
    pelmora::BindCorvaneExports(CorvaneLibrary());
    RegisterMessageStandIn();
    RegisterTraceStandIn();
    RegisterDialogStandIn();
    RegisterGeometryStandIns();
    RegisterExtensionStandIns();
    RegisterLoadAttributesService();
    RegisterFrameworkGeometryServices();
    RegisterStationService();
}

namespace {

// The directory and the variable it came from ("" and nullptr: built in).
std::pair<std::string, const char*> ChooseDataDirectory(const char* variable, const std::string& name) {
    for (const char* v : {variable, "PELMORA_SOURCE_DIR"}) {
        const char* dir = std::getenv(v);
        if (dir && *dir) return {v == variable ? std::string(dir) : std::string(dir) + "/data/" + name, v};
    }
    return {"", nullptr};  // the copy built into the library
}

}  // namespace

std::string SourceDataDirectory(const char* variable, const std::string& name) {
    return ChooseDataDirectory(variable, name).first;
}

std::string DataDirectoryOrigin(const char* variable, const std::string& name, const std::string& directory) {
    const auto [chosen, from] = ChooseDataDirectory(variable, name);
    if (!from || chosen != directory) return "";
    return std::string(" (from ") + from + "=" + std::getenv(from) +
           "; unset it to use the files built into the library, or point it at " +
           (from == variable ? "a folder that has them)" : "the source tree)");
}

}  // namespace product
