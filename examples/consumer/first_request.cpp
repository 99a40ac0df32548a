// The whole request on the sample water network: opens water main 1001 of a
// database whose metadata cache the cache builder wrote (PELMORA_CONFIGURATION_MAP
// names its map), changes its material, saves and commits the change,
// validates the main and prints the findings.
#include <filesystem>
#include <iostream>
#include <string>

#include "SampleExtensions.h"
#include "ado/Recordset.h"
#include "interfaces/Components.h"
#include "interfaces/FeatureAssemblyService.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "pelmora/Registration.h"
#include "pelmora/features/Components.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/validation/FeatureValidationService.h"
#include "pelmora/attribute_validation/ModAttributeValidationService.h"
#include "product/Notification.h"
#include "product/SqliteDataContext.h"
#include "product/StandIns.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

int main(int argc, char** argv) try {
    if (argc != 2) return std::cerr << "usage: first_request DATABASE\n", 2;
    product::RegisterProductStandIns();          // messages, traces, dialogs
    product::RegisterApplicationClasses();       // the desktop application's objects
    pelmora::RegisterSystemClasses();            // the services, by ProgID
    pelmora_sample::RegisterSampleExtensions();  // the extension objects the sample's metadata names
    // The interfaces' failure logs, next to the database instead of the shared temp folder.
    const std::filesystem::path database = argv[1];
    pelmora::FunctionalInterfaceLogPath() = (database.parent_path() / "FunctionalInterfaces.log").string();
    pelmora::AttributeValidationState().LogPath = (database.parent_path() / "ValidationInterfaces.log").string();

    auto context = product::SqliteDataContext::Open(database.string());
    auto metadata = rt::QueryInterface<pelmora::IMetadataService>(rt::CreateObject("QzPelmora.MetadataService"));
    metadata->put_Configuration("Sample Water Network");
    context->putref_MetadataService(metadata);
    metadata->SetActiveUser(context, "MBROWN");  // whose roles decide the metadata rows seen
    auto service = rt::QueryInterface<pelmora::IFeatureAssemblyService>(
        rt::CreateObject("QzPelmora.FeatureAssemblyService"));
    service->putref_DataContext(context);

    // Open: Nothing when the feature number has no components.
    auto feature = service->OpenFeature(101, 1001);
    if (!feature) return std::cerr << "first_request: feature number 101 has no components\n", 1;
    std::cout << "feature 101/1001 has " << feature->get_Components()->get_Count() << " components\n";

    // Edit: the field's functional interfaces act as the row is updated.
    auto rows = feature->get_Components()->get_Item(rt::Variant("WATER_MAIN_ATTR"))->get_Recordset();
    rows->MoveFirst();
    rows->get_Fields()->Item("MATERIAL")->put_Value(rt::Variant("HDPE"));
    rows->Update();

    // Save: UpdateFeatures is a member of the class, not of the interface.
    auto keys = rt::QueryInterface<pelmora::IKeyObjects>(rt::CreateObject("QzPelmora.KeyObjects"));
    keys->Add(feature);
    rt::QueryInterface<pelmora::FeatureAssemblyService>(service)->UpdateFeatures(keys);
    // Commit: the context rolls back what is not committed when it closes.
    context->Commit();
    std::cout << "saved and committed MATERIAL = HDPE\n";

    // Validate the main and read the findings.
    auto validation = rt::QueryInterface<pelmora::FeatureValidationService>(
        rt::CreateObject(pelmora::kFeatureValidationServiceProgId));
    validation->putref_DataContext(context);
    auto findings = validation->ValidateFeatures(keys);
    std::cout << findings->get_RecordCount() << " findings\n";
    auto text = [&](const char* column) {
        rt::Variant v = findings->get_Fields()->Item(column)->get_Value();
        return v.IsNull() || v.IsEmpty() ? std::string() : rt::CStr(v);
    };
    if (findings->get_RecordCount() > 0)
        for (findings->MoveFirst(); !findings->get_EOF(); findings->MoveNext())
            std::cout << "  " << text("ErrorPriority") << ": " << text("ErrorDescription") << " [" << text("QTX_FNO")
                      << "/" << text("QTX_FID") << "]\n";
} catch (const rt::ComError& e) {
    std::cerr << "error " << e.Number() << ": " << e.Description() << " (" << e.Source() << ")\n";
    return 1;
}
