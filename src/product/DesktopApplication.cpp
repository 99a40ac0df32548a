#include "product/DesktopApplication.h"

#include "interfaces/DataContext.h"
#include "interfaces/Varsk1.h"
#include "product/StandIns.h"
#include "runtime/Vb.h"

namespace product {

namespace {

void NeedArgs(const rt::Args& args, size_t count) {
    if (args.size() < count) rt::RaiseVbError(rt::vberr::ArgumentNotOptional);
}

bool IsGet(rt::InvokeKind kind) { return kind == rt::InvokeKind::PropertyGet || kind == rt::InvokeKind::Method; }

[[noreturn]] void NoSuchMember() { rt::RaiseVbError(rt::vberr::ObjectDoesNotSupportMember); }

ApplicationCall NamedCall(const std::string& name, const rt::Args& args) {
    return ApplicationCall{name, 0, std::vector<rt::Variant>(args.begin(), args.end())};
}

ApplicationCall DispCall(int32_t dispId, const rt::Args& args) {
    return ApplicationCall{"#" + std::to_string(dispId), dispId, std::vector<rt::Variant>(args.begin(), args.end())};
}

}  // namespace

// ---- PreferenceSet ----

bool PreferenceSet::Has(const std::string& name) const { return values_.count(rt::UCase(name)) != 0; }

rt::Variant PreferenceSet::Get(const std::string& name) const {
    auto it = values_.find(rt::UCase(name));
    return it == values_.end() ? rt::Variant() : it->second;
}

void PreferenceSet::Set(const std::string& name, const rt::Variant& value) { values_[rt::UCase(name)] = value; }

void PreferenceSet::Remove(const std::string& name) { values_.erase(rt::UCase(name)); }

rt::Variant PreferenceSet::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    if (kind != rt::InvokeKind::Method && kind != rt::InvokeKind::PropertyGet) NoSuchMember();
    const bool get = rt::NamesEqual(name, "getValue");
    const bool set = rt::NamesEqual(name, "setValue");
    const bool add = rt::NamesEqual(name, "Add");
    if (!get && !set && !add) NoSuchMember();
    NeedArgs(args, 2);
    calls_.push_back(NamedCall(name, args));
    const std::string key = rt::CStr(args[0]);
    if (get) {
        if (!Has(key)) return rt::Variant(false);
        args[1] = Get(key);
        return rt::Variant(true);
    }
    if (set) {
        if (!Has(key)) return rt::Variant(false);
        Set(key, args[1]);
        return rt::Variant(true);
    }
    if (Has(key)) rt::RaiseVbError(rt::vberr::KeyAlreadyAssociated);
    Set(key, args[1]);
    return rt::Variant();
}

// ---- DisplayMetadata ----

namespace {
// What the display metadata hands back for a reload: an item object.
class DisplayMetadataItem : public rt::Object {
public:
    std::string TypeName() const override { return "DisplayMetadataItem"; }
};
}  // namespace

rt::Variant DisplayMetadata::InvokeDispId(int32_t dispId, rt::InvokeKind /*kind*/, rt::Args& args) {
    switch (dispId) {
        case 7:
        case 8:
        case 9:
            calls_.push_back(DispCall(dispId, args));
            return rt::Variant(std::make_shared<DisplayMetadataItem>());
        case 10:
            calls_.push_back(DispCall(dispId, args));
            return rt::Variant("Labels reloaded");
        default:
            NoSuchMember();
    }
}

// ---- DesktopConnection ----

DesktopConnection::DesktopConnection(std::string type, int32_t status,
                                     std::shared_ptr<pelmora::IDataContext> dataContext)
    : type_(std::move(type)), status_(status), dataContext_(std::move(dataContext)) {}

rt::Variant DesktopConnection::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& /*args*/) {
    if (!IsGet(kind)) NoSuchMember();
    if (rt::NamesEqual(name, "Type")) return rt::Variant(type_);
    if (rt::NamesEqual(name, "Status")) return rt::Variant(status_);
    if (rt::NamesEqual(name, "DataContext")) {
        if (!dataContext_) return rt::Variant::Nothing();
        return rt::Variant(dataContext_);
    }
    if (rt::NamesEqual(name, "DisplayMetadata")) return rt::Variant(displayMetadata_);
    NoSuchMember();
}

// ---- DesktopConnections ----

std::shared_ptr<rt::Object> DesktopConnections::Item(int32_t index) const {
    if (index < 1 || index > Count()) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange);
    return items_[static_cast<size_t>(index - 1)];
}

rt::Variant DesktopConnections::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    if (!IsGet(kind)) NoSuchMember();
    if (rt::NamesEqual(name, "Count")) return rt::Variant(Count());
    if (name.empty() || rt::NamesEqual(name, "Item")) {
        NeedArgs(args, 1);
        return rt::Variant(Item(rt::CLng(args[0])));
    }
    NoSuchMember();
}

// ---- DesktopDocument ----

rt::Variant DesktopDocument::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& /*args*/) {
    if (IsGet(kind) && rt::NamesEqual(name, "Connections")) return rt::Variant(connections_);
    NoSuchMember();
}

// ---- DesktopApplication ----

DesktopApplication::DesktopApplication(std::string name) : name_(std::move(name)) {}

std::shared_ptr<DesktopConnection> DesktopApplication::AddConnection(
    const std::string& type, int32_t status, std::shared_ptr<pelmora::IDataContext> dataContext) {
    auto connection = std::make_shared<DesktopConnection>(type, status, std::move(dataContext));
    document_->Connections()->Add(connection);
    return connection;
}

std::string DesktopApplication::StatusBarText(int32_t panel) const {
    auto it = statusBar_.find(panel);
    return it == statusBar_.end() ? std::string() : it->second;
}

rt::Variant DesktopApplication::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    if (!IsGet(kind)) NoSuchMember();
    if (rt::NamesEqual(name, "CreateService")) {
        NeedArgs(args, 1);
        calls_.push_back(NamedCall("CreateService", args));
        return rt::Variant(rt::CreateObject(rt::CStr(args[0])));
    }
    if (rt::NamesEqual(name, "Name")) return rt::Variant(name_);
    if (rt::NamesEqual(name, "PreferenceSet")) {
        if (!preferences_) return rt::Variant::Nothing();
        return rt::Variant(preferences_);
    }
    if (rt::NamesEqual(name, "Document")) return rt::Variant(document_);
    NoSuchMember();
}

rt::Variant DesktopApplication::InvokeDispId(int32_t dispId, rt::InvokeKind /*kind*/, rt::Args& args) {
    switch (dispId) {
        case appdisp::GetStatusBarText: {
            NeedArgs(args, 1);
            calls_.push_back(DispCall(dispId, args));
            return rt::Variant(StatusBarText(rt::CLng(args[0])));
        }
        case appdisp::SetStatusBarText: {
            NeedArgs(args, 2);
            calls_.push_back(DispCall(dispId, args));
            statusBar_[rt::CLng(args[1])] = rt::CStr(args[0]);
            return rt::Variant();
        }
        case appdisp::BeginProgressBar:
            calls_.push_back(DispCall(dispId, args));
            progressVisible_ = true;
            progressPosition_ = progressMin_;
            return rt::Variant();
        case appdisp::SetProgressBarRange: {
            NeedArgs(args, 2);
            calls_.push_back(DispCall(dispId, args));
            progressMin_ = rt::CLng(args[0]);
            progressMax_ = rt::CLng(args[1]);
            progressPosition_ = progressMin_;
            return rt::Variant();
        }
        case appdisp::StepProgressBar: {
            NeedArgs(args, 1);
            calls_.push_back(DispCall(dispId, args));
            // A real progress bar stops at its end; so does this one.
            int64_t next = int64_t{progressPosition_} + rt::CLng(args[0]);
            if (next > progressMax_) next = progressMax_;
            if (next < progressMin_) next = progressMin_;
            progressPosition_ = static_cast<int32_t>(next);
            return rt::Variant();
        }
        case appdisp::EndProgressBar:
            calls_.push_back(DispCall(dispId, args));
            progressVisible_ = false;
            return rt::Variant();
        default:
            NoSuchMember();
    }
}

// ---- ScopedApplication ----

ScopedApplication::ScopedApplication(std::shared_ptr<rt::Object> application)
    : previous_(Application()) {
    SetApplication(std::move(application));
}

ScopedApplication::~ScopedApplication() { SetApplication(previous_); }

}  // namespace product
