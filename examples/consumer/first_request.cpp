// Opens water main 1001 of a database whose metadata cache the cache builder
// wrote (PELMORA_CONFIGURATION_MAP names its map) and counts its components.
#include <iostream>

#include "pelmora/Registration.h"
#include "interfaces/Components.h"
#include "interfaces/FeatureAssemblyService.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "product/Notification.h"
#include "product/SqliteDataContext.h"
#include "product/StandIns.h"
#include "runtime/Error.h"

int main(int argc, char** argv) try {
    if (argc != 2) return std::cerr << "usage: first_request DATABASE\n", 2;
    product::RegisterProductStandIns();        // messages, traces, dialogs
    product::RegisterApplicationClasses();     // the desktop application's objects
    pelmora::RegisterSystemClasses();          // the services, by ProgID
    auto context = product::SqliteDataContext::Open(argv[1]);
    auto metadata = rt::QueryInterface<pelmora::IMetadataService>(rt::CreateObject("QzPelmora.MetadataService"));
    metadata->put_Configuration("Sample Water Network");
    context->putref_MetadataService(metadata);
    metadata->SetActiveUser(context, "MBROWN");  // whose roles decide the metadata rows seen
    auto service = rt::QueryInterface<pelmora::IFeatureAssemblyService>(
        rt::CreateObject("QzPelmora.FeatureAssemblyService"));
    service->putref_DataContext(context);
    auto feature = service->OpenFeature(101, 1001);
    std::cout << "feature 101/1001 has " << feature->get_Components()->get_Count() << " components\n";
} catch (const rt::ComError& e) {
    std::cerr << "error " << e.Number() << ": " << e.Description() << " (" << e.Source() << ")\n";
    return 1;
}
