// The typical request, end to end on the sample water network:
// build the sample database and its metadata cache, open a water main
// through the feature assembly service, read its components and geometry,
// edit it so that defaults, keys and functional interfaces act, save the
// edits in one batch, read the rows back from the database, and create a
// new valve with new keys.
//
//   typical_request [work-folder]
//
// Without a folder the work is done in a temporary folder removed at exit.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/interfaces/ComponentService.h"
#include "pelmora/interfaces/Components.h"
#include "pelmora/interfaces/DataContext.h"
#include "pelmora/interfaces/FeatureAssemblyService.h"
#include "pelmora/interfaces/FunctionalInterface.h"
#include "pelmora/interfaces/KeyObject.h"
#include "pelmora/Registration.h"
#include "pelmora/interfaces/MetadataService.h"
#include "product/MetadataCacheBuilder.h"
#include "product/Notification.h"
#include "product/SampleDatabase.h"
#include "product/SqliteDataContext.h"
#include "product/StandIns.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace fs = std::filesystem;
using rt::Variant;

namespace {

// What the functional interfaces of the sample were asked to do, in order.
std::vector<std::string>& Journal() {
    static std::vector<std::string> lines;
    return lines;
}

std::string Show(const Variant& v) {
    if (v.IsNull()) return "Null";
    if (v.IsEmpty()) return "Empty";
    if (v.IsObject()) return v.IsNothing() ? "Nothing" : "(" + rt::TypeName(v) + ")";
    if (v.IsArray()) return "(" + rt::TypeName(v) + ")";
    if (v.IsString()) return "\"" + v.Str() + "\"";
    return rt::CStr(v);
}

// A functional interface of the kind a customer writes: it records what it
// was given, and the material check also fills a field through the
// component service it was handed.
class SampleFunctionalInterface : public rt::Object, public pelmora::IFunctionalInterface {
public:
    explicit SampleFunctionalInterface(std::string progId) : progId_(std::move(progId)) {}

    rt::Variant get_ArgumentArray() override { return arguments_; }
    void put_ArgumentArray(const rt::Variant& a) override { arguments_ = a; }
    std::string get_ComponentName() override { return componentName_; }
    void put_ComponentName(const std::string& n) override { componentName_ = n; }
    std::string get_FieldName() override { return fieldName_; }
    void put_FieldName(const std::string& n) override { fieldName_ = n; }
    std::shared_ptr<pelmora::IComponentService> get_ComponentService() override { return service_; }
    void putref_ComponentService(const std::shared_ptr<pelmora::IComponentService>& s) override { service_ = s; }
    std::shared_ptr<pelmora::IDataContext> get_DataContext() override { return dataContext_; }
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& d) override { dataContext_ = d; }
    rt::Variant get_FieldValueBeforeChange() override { return before_; }
    void put_FieldValueBeforeChange(const rt::Variant& v) override { before_ = v; }
    std::string get_FunctionalType() override { return type_; }
    void put_FunctionalType(const std::string& t) override { type_ = t; }

    void Execute() override {
        std::ostringstream line;
        line << progId_ << " " << type_ << " on " << componentName_ << "." << fieldName_
             << " (value before: " << Show(before_) << ")";
        Journal().push_back(line.str());
    }
    void CancelUpdate() override {}
    void Update() override { Journal().push_back(progId_ + " told of the update of " + componentName_); }
    void Delete() override { Journal().push_back(progId_ + " told of a deletion in " + componentName_); }
    void Validate(rt::Variant&, rt::Variant&) override {}

    std::string TypeName() const override { return "SampleFunctionalInterface"; }

private:
    std::string progId_;
    rt::Variant arguments_;
    std::string componentName_, fieldName_, type_;
    std::shared_ptr<pelmora::IComponentService> service_;
    std::shared_ptr<pelmora::IDataContext> dataContext_;
    rt::Variant before_;
};

void RegisterSampleExtensions() {
    for (const char* progId : {"Pelmora.MaterialCheck", "Pelmora.PressureDefaults", "Pelmora.MainLength",
                               "Pelmora.ZoneAudit", "Pelmora.ServiceCheck", "Pelmora.LiningTypeCheck",
                               "Pelmora.LiningTypeNotice", "Pelmora.LiningThickness", "Pelmora.LiningYear",
                               "Pelmora.SymbolRotation", "Pelmora.SymbolMoved"}) {
        std::string id = progId;
        rt::RegisterClass(id, "", [id] { return std::make_shared<SampleFunctionalInterface>(id); });
    }
}

void PrintRows(const std::string& title, const std::shared_ptr<ado::Recordset>& rs,
               const std::vector<std::string>& columns) {
    std::cout << "  " << title << "\n";
    if (rs->get_RecordCount() == 0) {
        std::cout << "    (no rows)\n";
        return;
    }
    rs->MoveFirst();
    while (!rs->get_EOF()) {
        std::cout << "   ";
        for (const auto& c : columns) std::cout << " " << c << "=" << Show(rs->get_Fields()->Item(c)->get_Value());
        std::cout << "\n";
        rs->MoveNext();
    }
}

std::shared_ptr<pelmora::IComponent> ComponentNamed(const std::shared_ptr<pelmora::IComponents>& components,
                                                    const std::string& name) {
    return components->get_Item(Variant(name));
}

int Run(const std::string& folder) {
    const std::string database = folder + "/sample.db";
    const std::string cache = folder + "/cache";

    std::cout << "Building the sample water network in " << folder << "\n";
    product::BuildSampleDatabase(database);
    product::CacheBuildOptions options;
    options.databasePath = database;
    options.cacheDirectory = cache;
    auto built = product::BuildMetadataCache(options);
    ::setenv("PELMORA_CONFIGURATION_MAP", built.configurationMapPath.c_str(), 1);
    std::cout << "  metadata cache: " << built.files.size() << " files in " << built.localeDirectory << "\n\n";

    product::RegisterProductStandIns();
    product::RegisterApplicationClasses();
    pelmora::RegisterSystemClasses();
    RegisterSampleExtensions();

    // (1) The service and its data context.
    // The product gives its data context the metadata service of the
    // configuration it was opened for.
    auto context = product::SqliteDataContext::Open(database);
    auto metadata = rt::CreateObject("QzPelmora.MetadataService");
    rt::CallByName(metadata, "Configuration", rt::InvokeKind::PropertyLet, rt::Args{Variant(options.configurationName)});
    auto metadataService = rt::QueryInterface<pelmora::IMetadataService>(metadata);
    context->putref_MetadataService(metadataService);
    // The user's roles decide which metadata rows the session sees.
    metadataService->SetActiveUser(context, "MBROWN");
    std::cout << "Active user MBROWN (role WATER_ENGINEER)\n\n";
    auto service = rt::QueryInterface<pelmora::IFeatureAssemblyService>(
        rt::CreateObject("QzPelmora.FeatureAssemblyService"));
    service->putref_DataContext(context);

    // (2)-(3) Open water main 1001.
    std::cout << "Opening feature 101 / 1001 (a water main)\n";
    auto feature = service->OpenFeature(101, 1001);
    auto components = feature->get_Components();
    std::cout << "  " << components->get_Count() << " components:";
    for (int32_t i = 1; i <= components->get_Count(); ++i) {
        auto c = components->get_Item(Variant(i));
        std::cout << " " << c->get_Name() << " (CNO " << c->get_CNO() << ")";
    }
    std::cout << "\n\n";

    // (4) Rows and geometry.
    auto attributes = ComponentNamed(components, "WATER_MAIN_ATTR");
    PrintRows("WATER_MAIN_ATTR", attributes->get_Recordset(),
              {"QTX_CID", "MATERIAL", "DIAMETER", "PRESSURE_CLASS", "LENGTH_M", "ZONE_ID"});
    auto line = ComponentNamed(components, "WATER_MAIN_LINE");
    auto lineRows = line->get_Recordset();
    lineRows->MoveFirst();
    if (auto geometry = line->get_Geometry()) {
        rt::Args none;
        auto points = rt::CallByName(geometry, "Points", rt::InvokeKind::PropertyGet, none);
        auto count = rt::CallByName(points.Obj(), "Count", rt::InvokeKind::PropertyGet);
        std::cout << "  WATER_MAIN_LINE geometry: " << rt::TypeName(Variant(geometry)) << " with "
                  << rt::CStr(count) << " vertices\n";
    }
    auto lining = ComponentNamed(components, "WATER_MAIN_LINING");
    PrintRows("WATER_MAIN_LINING (repeating)", lining->get_Recordset(), {"QTX_CID", "LINING_TYPE"});
    std::cout << "\n";

    // (5) Edits: a field change fires the SetValue interface of MATERIAL; a new
    // lining row gets its defaults and keys from the component's events.
    std::cout << "Editing: MATERIAL := \"HDPE\", and a new lining row\n";
    auto attributeRows = attributes->get_Recordset();
    attributeRows->MoveFirst();
    attributeRows->get_Fields()->Item("MATERIAL")->put_Value(Variant("HDPE"));
    attributeRows->Update();
    auto liningRows = lining->get_Recordset();
    liningRows->AddNew();
    // The caller names the feature of a new row; the component fills the rest.
    liningRows->get_Fields()->Item("QTX_FNO")->put_Value(Variant(int16_t{101}));
    liningRows->get_Fields()->Item("QTX_FID")->put_Value(Variant(int32_t{1001}));
    liningRows->Update();
    PrintRows("WATER_MAIN_LINING after AddNew", liningRows,
              {"QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID", "LINING_TYPE"});
    std::cout << "\n";

    // (6) Save every pending row in one batch.
    std::cout << "Saving the feature\n";
    auto keys = rt::QueryInterface<pelmora::IKeyObjects>(rt::CreateObject("QzPelmora.KeyObjects"));
    keys->Add(feature);
    rt::QueryInterface<pelmora::FeatureAssemblyService>(rt::ObjectPtrOf(service))->UpdateFeatures(keys);
    context->Commit();

    auto check = product::SqliteDataContext::Open(database);
    auto readBack = [&](const std::string& sql) {
        Variant parameters = Variant::ArrayOf({Variant(int32_t{1001})});
        return check->OpenParameterizedRecordset(sql, ado::adOpenStatic, ado::adLockReadOnly, ado::adCmdText,
                                                 parameters);
    };
    PrintRows("the attribute row in the database",
              readBack("SELECT QTX_CID, MATERIAL FROM " + attributes->get_TableName() + " WHERE QTX_FID = ?"),
              {"QTX_CID", "MATERIAL"});
    PrintRows("the lining rows in the database",
              readBack("SELECT QTX_CID, LINING_TYPE FROM " + lining->get_TableName() +
                       " WHERE QTX_FID = ? ORDER BY QTX_CID"),
              {"QTX_CID", "LINING_TYPE"});
    std::cout << "\n";

    // A new valve with new keys from the database's sequences.
    std::cout << "Creating a new valve (feature 102)\n";
    auto valve = service->NewFeature(102, pelmora::qzfasIgnoreNone);
    auto valveComponents = valve->get_Components();
    std::cout << "  new feature " << valve->get_FNO() << " / " << valve->get_FID() << " with "
              << valveComponents->get_Count() << " components\n";
    for (int32_t i = 1; i <= valveComponents->get_Count(); ++i) {
        auto c = valveComponents->get_Item(Variant(i));
        auto rows = c->get_Recordset();
        PrintRows(c->get_Name() + " (pending, not saved)", rows, {"QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID"});
    }
    std::cout << "\n";

    std::cout << "Functional interfaces that acted:\n";
    if (Journal().empty()) std::cout << "  (none)\n";
    for (const auto& l : Journal()) std::cout << "  " << l << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder;
    bool temporary = argc < 2;
    if (temporary) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pelmora-example-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::cerr << "cannot create a temporary folder\n";
            return 1;
        }
        folder = pattern;
    } else {
        folder = argv[1];
        fs::create_directories(folder);
    }
    int rc = 1;
    try {
        rc = Run(folder);
    } catch (const rt::ComError& e) {
        std::cerr << "failed: " << e.Description() << " (error " << e.Number() << ", " << e.Source() << ")\n";
    } catch (const std::exception& e) {
        std::cerr << "failed: " << e.what() << "\n";
    }
    if (temporary) {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    return rc;
}
