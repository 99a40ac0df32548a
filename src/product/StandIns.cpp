#include "product/StandIns.h"

#include <cstdlib>

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

std::string SourceDataDirectory(const char* variable, const std::string& name) {
    for (const char* v : {variable, "PELMORA_SOURCE_DIR"}) {
        const char* dir = std::getenv(v);
        if (dir && *dir) return v == variable ? std::string(dir) : std::string(dir) + "/data/" + name;
    }
    return "";  // the copy built into the library
}

}  // namespace product
