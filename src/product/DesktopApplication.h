#pragma once
// The desktop GIS application as far as the data-access server reaches it:
// an application object with a name, a preference set, a document with its
// database connections, and a status bar and progress bar driven by
// dispatch id. Everything is reached late bound; every call it is told is
// recorded, so a test (or a headless process) can see what the server showed.
//
// Install one with product::SetApplication (StandIns.h) or InstallApplication.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {
class IDataContext;
}

namespace product {

// One late-bound call an object of the application was told.
struct ApplicationCall {
    std::string member;      // member name, or "#<dispid>" for a call by dispatch id
    int32_t dispId = 0;      // 0 for a call by name
    std::vector<rt::Variant> args;
};

// Dispatch ids of the application interface.
namespace appdisp {
inline constexpr int32_t GetStatusBarText = 23;
inline constexpr int32_t SetStatusBarText = 24;
inline constexpr int32_t BeginProgressBar = 32;
inline constexpr int32_t SetProgressBarRange = 33;
inline constexpr int32_t StepProgressBar = 34;
inline constexpr int32_t EndProgressBar = 35;
}  // namespace appdisp

// Preferences by name (compared without regard to case). getValue,
// setValue and Add each take (name, value by reference, Long 0).
class PreferenceSet : public rt::Object {
public:
    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "PreferenceSet"; }

    bool Has(const std::string& name) const;
    rt::Variant Get(const std::string& name) const;  // Empty when absent
    void Set(const std::string& name, const rt::Variant& value);
    void Remove(const std::string& name);
    const std::vector<ApplicationCall>& Calls() const { return calls_; }

private:
    std::map<std::string, rt::Variant> values_;  // keyed by upper-case name
    std::vector<ApplicationCall> calls_;
};

// The display metadata of a connection: dispatch ids 7 and 8 return a
// display-metadata item, 9 an object, 10 a text; each call is recorded.
class DisplayMetadata : public rt::Object {
public:
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "DisplayMetadata"; }
    const std::vector<ApplicationCall>& Calls() const { return calls_; }

private:
    std::vector<ApplicationCall> calls_;
};

// One database connection of the document.
class DesktopConnection : public rt::Object {
public:
    DesktopConnection(std::string type, int32_t status, std::shared_ptr<pelmora::IDataContext> dataContext);
    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "Connection"; }

    const std::string& Type() const { return type_; }
    int32_t Status() const { return status_; }
    void SetStatus(int32_t status) { status_ = status; }
    std::shared_ptr<pelmora::IDataContext> DataContext() const { return dataContext_; }
    const std::shared_ptr<DisplayMetadata>& GetDisplayMetadata() const { return displayMetadata_; }

private:
    std::string type_;
    int32_t status_;
    std::shared_ptr<pelmora::IDataContext> dataContext_;
    std::shared_ptr<DisplayMetadata> displayMetadata_ = std::make_shared<DisplayMetadata>();
};

// The ordered connections of the document: Count, Item(1-based index).
class DesktopConnections : public rt::Object {
public:
    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "Connections"; }

    void Add(std::shared_ptr<rt::Object> connection) { items_.push_back(std::move(connection)); }
    void Clear() { items_.clear(); }
    int32_t Count() const { return static_cast<int32_t>(items_.size()); }
    // 1-based; raises 9 out of range.
    std::shared_ptr<rt::Object> Item(int32_t index) const;

private:
    std::vector<std::shared_ptr<rt::Object>> items_;
};

class DesktopDocument : public rt::Object {
public:
    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "Document"; }
    const std::shared_ptr<DesktopConnections>& Connections() const { return connections_; }

private:
    std::shared_ptr<DesktopConnections> connections_ = std::make_shared<DesktopConnections>();
};

// The application object. CreateService(ProgID) creates a service of the
// framework through the registry (429 for a name not registered).
class DesktopApplication : public rt::Object {
public:
    explicit DesktopApplication(std::string name = "Pelmora Desktop");
    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "Application"; }

    const std::string& Name() const { return name_; }
    // nullptr: the application has no preference set.
    void SetPreferenceSet(std::shared_ptr<PreferenceSet> preferences) { preferences_ = std::move(preferences); }
    const std::shared_ptr<PreferenceSet>& GetPreferenceSet() const { return preferences_; }
    const std::shared_ptr<DesktopDocument>& Document() const { return document_; }
    // Adds a connection to the document and returns it.
    std::shared_ptr<DesktopConnection> AddConnection(const std::string& type, int32_t status,
                                                     std::shared_ptr<pelmora::IDataContext> dataContext);

    // The status bar and progress bar as the calls left them.
    std::string StatusBarText(int32_t panel) const;
    bool ProgressBarVisible() const { return progressVisible_; }
    int32_t ProgressMin() const { return progressMin_; }
    int32_t ProgressMax() const { return progressMax_; }
    int32_t ProgressPosition() const { return progressPosition_; }
    // The calls by dispatch id and the CreateService calls, in order.
    const std::vector<ApplicationCall>& Calls() const { return calls_; }
    void ClearCalls() { calls_.clear(); }

private:
    std::string name_;
    std::shared_ptr<PreferenceSet> preferences_ = std::make_shared<PreferenceSet>();
    std::shared_ptr<DesktopDocument> document_ = std::make_shared<DesktopDocument>();
    std::map<int32_t, std::string> statusBar_;
    bool progressVisible_ = false;
    int32_t progressMin_ = 0;
    int32_t progressMax_ = 0;
    int32_t progressPosition_ = 0;
    std::vector<ApplicationCall> calls_;
};

// Installs the application for the process and removes it again when the
// guard ends (the previous application, normally none, comes back).
class ScopedApplication {
public:
    explicit ScopedApplication(std::shared_ptr<rt::Object> application);
    ~ScopedApplication();
    ScopedApplication(const ScopedApplication&) = delete;
    ScopedApplication& operator=(const ScopedApplication&) = delete;

private:
    std::shared_ptr<rt::Object> previous_;
};

}  // namespace product
