// The typical request, end to end on the sample water network:
// build the sample database and its metadata cache, open a water main
// through the feature assembly service, read its components and geometry,
// edit it so that defaults, keys and functional interfaces act, save the
// edits in one batch, read the rows back from the database, create and save
// a new valve with new keys, and validate the main and the valve. The
// sample's extension objects act as a client's would (examples/sample_extensions).
//
//   typical_request [--help] [WORK-FOLDER]
//
// Without a folder the work is done in a temporary folder removed at exit.
// A folder given must not hold the files of an earlier run.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/features/Components.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/FeatureAssemblyService.h"
#include "interfaces/KeyObject.h"
#include "pelmora/Registration.h"
#include "interfaces/MetadataService.h"
#include "pelmora/validation/FeatureValidationService.h"
#include "product/MetadataCacheBuilder.h"
#include "product/Notification.h"
#include "product/SampleDatabase.h"
#include "product/SqliteDataContext.h"
#include "product/StandIns.h"
#include "SampleExtensions.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace fs = std::filesystem;
using rt::Variant;

namespace {

std::string Show(const Variant& v) {
    if (v.IsNull()) return "Null";
    if (v.IsEmpty()) return "Empty";
    if (v.IsObject()) return v.IsNothing() ? "Nothing" : "(" + rt::TypeName(v) + ")";
    if (v.IsArray()) return "(" + rt::TypeName(v) + ")";
    if (v.IsString()) return "\"" + v.Str() + "\"";
    return rt::CStr(v);
}

// Prints what the sample's functional interfaces did since the last call,
// and the lines their failures added to the log. An interface is handed the
// value of the field whose change fired it, which need not be its own field:
// the caller names that field.
class InterfaceReport {
public:
    explicit InterfaceReport(std::string logPath) : log_(std::move(logPath)) {}
    void Print(const std::string& changedField = "") {
        std::vector<std::string> told;
        for (const auto& c : pelmora_sample::TakeInterfaceCalls()) {
            if (c.call != "Execute") {
                told.push_back(c.interfaceName);
                continue;
            }
            std::cout << "  interface acted: " << c.interfaceName << ", " << c.functionalType << " on "
                      << c.componentName << "." << c.fieldName << ": ";
            if (c.valueBefore.IsEmpty()) std::cout << "the row is being saved";
            else if (changedField.empty()) std::cout << "new row, the field held " << Show(c.valueBefore);
            else std::cout << changedField << " changed from " << Show(c.valueBefore);
            if (!c.note.empty()) std::cout << " (" << c.note << ")";
            std::cout << "\n";
        }
        if (!told.empty()) {
            std::cout << "  interfaces told of the update:";
            for (size_t i = 0; i < told.size(); ++i) std::cout << (i ? ", " : " ") << told[i];
            std::cout << "\n";
        }
        std::ifstream in(log_);
        std::string line;
        for (size_t n = 0; std::getline(in, line); ++n)
            if (n >= seen_) {
                std::cout << "  interface FAILED (logged in " << log_ << "): " << line << "\n";
                ++seen_;
            }
    }

private:
    std::string log_;
    size_t seen_ = 0;
};

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

// What a finding of this run means, in one line: the edit's own, and the
// faults the sample database holds on purpose around main 1001. A fault
// that two checks report is explained at its first row only.
std::string Meaning(const std::vector<std::string>& row, std::vector<std::string>& explained) {
    static const std::pair<const char*, const char*> meanings[] = {
        {"MAIN_MATERIALS", "the edit set MATERIAL to HDPE, which the database's list of main materials lacks"},
        {"Valve 5602", "valve 5602, owned by main 1001, stands 2 north of it (a fault the sample holds on\n"
                       "            purpose); the relationship's own check and the main's geometry check\n"
                       "            Pelmora.MainGeometry (the next row) both report it"},
        {"Service Line 4001", "service line 4001 starts 14 away from main 1001's line (a fault the sample holds\n"
                              "            on purpose); MainAudit, the main's check of its service lines in the sample's\n"
                              "            VBA project 1, allows 1.5"},
        {"base reference", "dimension 5402 on main 1001 puts its base point between two vertices of the main\n"
                           "            (a fault the sample holds on purpose)"},
        {"owner reference of the feature is missing", "the new valve names no main that owns it"},
        {"detail id", "the new valve lies in no valve detail"},
        {"no owner reference", "nor a main that feeds it (a warning only)"},
    };
    for (const auto& [fragment, meaning] : meanings)
        if (row[1].find(fragment) != std::string::npos) {
            if (std::find(explained.begin(), explained.end(), fragment) != explained.end()) return "";
            explained.push_back(fragment);
            return meaning;
        }
    return "";
}

// The findings as an aligned table, each followed by what it means.
void PrintFindings(const std::shared_ptr<ado::Recordset>& findings) {
    const std::vector<std::pair<std::string, std::string>> columns = {
        {"ErrorPriority", "priority"}, {"ErrorDescription", "message"},
        {"ErrorLocation", "relationship"}, {"QTX_FNO", "FNO"}, {"QTX_FID", "FID"}, {"QTX_CNO", "CNO"},
        {"QTX_CID", "CID"}};
    std::vector<std::vector<std::string>> rows{{}};
    for (const auto& c : columns) rows[0].push_back(c.second);
    if (findings && !(findings->get_BOF() && findings->get_EOF()))
        for (findings->MoveFirst(); !findings->get_EOF(); findings->MoveNext()) {
            rows.emplace_back();
            for (const auto& c : columns) {
                Variant v = findings->get_Fields()->Item(c.first)->get_Value();
                rows.back().push_back(v.IsNull() || v.IsEmpty() ? "" : rt::CStr(v));
            }
        }
    std::cout << "  " << rows.size() - 1
              << " findings, each a row as the system returns it: its priority, its message, the relationship\n"
                 "  whose check found it (empty for a check of a field's value), and the feature (FNO, FID) and\n"
                 "  component row (CNO, CID) it is about. CNO and CID are blank where a check compares whole\n"
                 "  features, as the connection checks do. The lines \"note:\" are this example's own\n"
                 "  explanations; the system returns only the message.\n";
    std::vector<std::string> explained;
    std::vector<size_t> widths(columns.size(), 0);
    for (const auto& r : rows)
        for (size_t i = 0; i < r.size(); ++i) widths[i] = std::max(widths[i], r[i].size());
    for (size_t n = 0; n < rows.size(); ++n) {
        std::cout << "   ";
        for (size_t i = 0; i < rows[n].size(); ++i) {
            // Numbers right, texts left.
            const bool number = i >= 3;
            std::cout << " " << (number ? std::right : std::left) << std::setw(static_cast<int>(widths[i]))
                      << rows[n][i];
        }
        std::cout << std::left << "\n";
        if (n == 0) continue;
        if (const std::string meaning = Meaning(rows[n], explained); !meaning.empty())
            std::cout << "      note: " << meaning << "\n";
    }
}

// A geometry's Type text in words: "PolylineGeometry" -> "polyline geometry".
std::string Words(const std::string& type) {
    std::string words;
    for (char c : type) {
        if (std::isupper(static_cast<unsigned char>(c)) && !words.empty()) words += ' ';
        words += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return words;
}

std::shared_ptr<pelmora::IComponent> ComponentNamed(const std::shared_ptr<pelmora::IComponents>& components,
                                                    const std::string& name) {
    return components->get_Item(Variant(name));
}

int Run(const std::string& folder) {
    const std::string database = folder + "/sample.db";
    const std::string cache = folder + "/cache";

    std::cout << "Building the sample water network: database " << database << "\n";
    product::BuildSampleDatabase(database);
    product::CacheBuildOptions options;
    options.databasePath = database;
    options.cacheDirectory = cache;
    // The metadata service reads the cache of the locale PELMORA_LOCALE names.
    if (const char* locale = std::getenv("PELMORA_LOCALE"); locale && *locale) options.locale = locale;
    auto built = product::BuildMetadataCache(options);
    const char* oldMap = std::getenv("PELMORA_CONFIGURATION_MAP");
    if (oldMap && *oldMap && built.configurationMapPath != oldMap)
        std::cout << "  PELMORA_CONFIGURATION_MAP=" << oldMap << " is replaced by the sample's map for this run\n";
    ::setenv("PELMORA_CONFIGURATION_MAP", built.configurationMapPath.c_str(), 1);
    std::cout << "  metadata cache (locale " << rt::UCase(options.locale) << "): " << built.files.size()
              << " files in " << built.localeDirectory << "\n";
    std::cout << "  configuration map: " << built.configurationMapPath << "\n";

    product::RegisterProductStandIns();
    product::RegisterApplicationClasses();
    pelmora::RegisterSystemClasses();
    // The sample's extension objects, as a client installs its own.
    pelmora_sample::RegisterSampleExtensions();
    pelmora_sample::KeepInterfaceCalls(true);
    pelmora::FunctionalInterfaceLogPath() = folder + "/FunctionalInterfaces.log";
    InterfaceReport interfaces(pelmora::FunctionalInterfaceLogPath());
    std::cout << "  failures of functional interfaces (a client's code the system runs as fields change) are "
                 "logged to "
              << pelmora::FunctionalInterfaceLogPath() << "\n\n";

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
    std::cout << "Opening water main 1001: its feature number (FNO, the kind of feature) is 101, its feature id "
                 "(FID) 1001\n"
                 "  A feature is made of components, each with a component number (CNO); each row of a component\n"
                 "  has a component id (CID). The rows below hold them as QTX_FNO, QTX_FID, QTX_CNO and QTX_CID.\n";
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
        auto type = rt::CallByName(geometry, "Type", rt::InvokeKind::PropertyGet, none);
        std::cout << "  WATER_MAIN_LINE geometry: " << Words(rt::CStr(type)) << " with " << rt::CStr(count)
                  << " vertices\n";
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
    interfaces.Print("MATERIAL");
    auto liningRows = lining->get_Recordset();
    liningRows->AddNew();
    // The caller names the feature of a new row; the component fills the rest.
    liningRows->get_Fields()->Item("QTX_FNO")->put_Value(Variant(int16_t{101}));
    liningRows->get_Fields()->Item("QTX_FID")->put_Value(Variant(int32_t{1001}));
    liningRows->Update();
    PrintRows("WATER_MAIN_LINING after AddNew", liningRows,
              {"QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID", "LINING_TYPE"});
    interfaces.Print();
    std::cout << "\n";

    // (6) Save every pending row in one batch.
    std::cout << "Saving the feature\n";
    auto keys = rt::QueryInterface<pelmora::IKeyObjects>(rt::CreateObject("QzPelmora.KeyObjects"));
    keys->Add(feature);
    rt::QueryInterface<pelmora::FeatureAssemblyService>(rt::ObjectPtrOf(service))->UpdateFeatures(keys);
    context->Commit();
    interfaces.Print();

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
        PrintRows(c->get_Name(), rows, {"QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID"});
    }
    interfaces.Print();
    // Placed on no main: the valve is saved without an owner.
    auto newKeys = rt::QueryInterface<pelmora::IKeyObjects>(rt::CreateObject("QzPelmora.KeyObjects"));
    newKeys->Add(valve);
    rt::QueryInterface<pelmora::FeatureAssemblyService>(rt::ObjectPtrOf(service))->UpdateFeatures(newKeys);
    context->Commit();
    std::cout << "  saved, without an owner main\n";
    interfaces.Print();
    std::cout << "\n";

    // (7) The validation request over both features.
    std::cout << "Validating the edited main and the new valve\n";
    auto validation = std::dynamic_pointer_cast<pelmora::FeatureValidationService>(
        rt::CreateObject(pelmora::kFeatureValidationServiceProgId));
    validation->putref_DataContext(context);
    auto asked = rt::QueryInterface<pelmora::IKeyObjects>(rt::CreateObject("QzPelmora.KeyObjects"));
    asked->Add(feature);
    asked->Add(valve);
    PrintFindings(validation->ValidateFeatures(asked));
    return 0;
}

}  // namespace

void Usage(std::ostream& out) {
    out << "usage: typical_request [--help] [WORK-FOLDER]\n"
           "  Builds the sample water network (database and metadata cache) in WORK-FOLDER and runs\n"
           "  the typical request on it, ending with the validation of what it edited and created.\n"
           "  WORK-FOLDER is created when missing and must not hold the files of an earlier run;\n"
           "  without it a temporary folder is used and removed at the end.\n"
           "  PELMORA_LOCALE chooses the locale of the cache (default ENU); PELMORA_CONFIGURATION_MAP\n"
           "  is replaced by the sample's map for the run.\n";
}

int main(int argc, char** argv) {
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(std::cout);
            return 0;
        }
        if (a.size() > 1 && a[0] == '-') {
            std::cerr << "typical_request: unknown option " << a << "\n";
            Usage(std::cerr);
            return 2;
        }
        folders.push_back(a);
    }
    if (folders.size() > 1) {
        std::cerr << "typical_request: one work folder at most\n";
        Usage(std::cerr);
        return 2;
    }
    std::string folder;
    const bool temporary = folders.empty();
    if (temporary) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pelmora-example-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::cerr << "typical_request: cannot create a temporary folder " << pattern << ": " << std::strerror(errno)
                      << "\n";
            return 1;
        }
        folder = pattern;
    } else {
        folder = folders[0];
        std::error_code ec;
        if (folder.empty()) {
            std::cerr << "typical_request: the work folder is an empty name\n";
            return 1;
        }
        fs::create_directories(folder, ec);
        if (ec || !fs::is_directory(folder)) {
            std::cerr << "typical_request: cannot use the work folder " << folder << ": "
                      << (ec ? ec.message() : "not a folder") << "\n";
            return 1;
        }
        for (const char* earlier : {"sample.db", "cache"})
            if (fs::exists(fs::path(folder) / earlier)) {
                std::cerr << "typical_request: the work folder " << folder << " holds " << earlier
                          << " of an earlier run; give a new or empty folder, or remove sample.db and cache\n";
                return 1;
            }
    }
    std::cout << "Work folder: " << folder
              << (temporary ? " (temporary, removed at the end)\n" : " (kept)\n");
    int rc = 1;
    try {
        rc = Run(folder);
    } catch (const rt::ComError& e) {
        std::cerr << "typical_request: failed: " << e.Description() << " (error " << e.Number() << ", "
                  << e.Source() << ")\n";
    } catch (const std::exception& e) {
        std::cerr << "typical_request: failed: " << e.what() << "\n";
    }
    if (temporary) {
        std::error_code ec;
        fs::remove_all(folder, ec);
        std::cout << "\nRemoved the temporary folder " << folder << "\n";
    } else if (fs::exists(fs::path(folder) / "sample.db") || fs::exists(fs::path(folder) / "cache")) {
        std::cout << "\nThe files are kept in " << folder << "\n";
    } else {
        std::cout << "\nNothing was written to " << folder << "\n";
    }
    return rc;
}
