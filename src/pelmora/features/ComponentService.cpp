#include "pelmora/features/ComponentService.h"

#include <exception>
#include <functional>

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/common/FeatureComponents.h"
#include "interfaces/Components.h"
#include "runtime/Dispatch.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kSource = "ComponentService";

// The messages of each member: its own, and those of a missing component
// name and of no current occurrence.
namespace msg {
constexpr int16_t CIDListNoName = 23549, CIDList = 23550;
constexpr int16_t SetCIDNoName = 23551, CIDNotFound = 23552, CIDNoRows = 23553, SetCID = 23554;
constexpr int16_t GetCIDNoName = 23555, GetCID = 23556;
constexpr int16_t SetName = 23557;
constexpr int16_t SetGeometryNoName = 23558, SetGeometryNoCID = 23559, SetGeometry = 23560;
constexpr int16_t GetGeometryNoName = 23561, GetGeometryNoCID = 23562, GetGeometry = 23563;
constexpr int16_t NewNoName = 23564, New = 23565;
constexpr int16_t SetValueNoName = 23566, SetValueNoCID = 23567, SetValue = 23568;
constexpr int16_t GetValueNoName = 23569, GetValueNoCID = 23570, GetValue = 23571;
constexpr int16_t DeleteNoName = 23572, DeleteNoCID = 23573, Delete = 23574;
}  // namespace msg

[[noreturn]] void Fail(const std::string& text) { throw rt::ComError(kErrorBase, kSource, text); }
[[noreturn]] void Fail(int16_t id) { Fail(LoadResStringWithParams(id)); }

// Runs a member's body; whatever fails in it is raised again as 0x80040000
// with the member's message (already filled) and the failure's description.
template <class F>
auto Guarded(const std::function<std::string()>& memberMessage, F&& body) -> decltype(body()) {
    std::string inner;
    try {
        return body();
    } catch (const rt::ComError& e) {
        inner = e.Description();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        inner = e.what();
    }
    RaiseError(0, kSource, rt::Variant(memberMessage()), rt::Variant::Missing(), rt::Variant(inner));
}

}  // namespace

std::shared_ptr<IComponent> ComponentService::Component() { return ComponentNamed(components_, componentName_); }

std::shared_ptr<ado::Recordset> ComponentService::Rows() { return ComponentRowsOf(Component()); }

void ComponentService::put_ComponentName(const std::string& ComponentName) {
    componentName_ = ComponentName;
    Guarded([&] { return LoadResStringWithParam(msg::SetName, componentName_); },
            [&] {
                auto rs = Rows();
                cid_ = 0;
                // Best effort: the current row, else the first; no row leaves 0.
                rt::ResumeNext resume;
                resume([&] { cid_ = rt::CInt(rs->GetValue(rt::Variant("QTX_CID"))); });
                if (cid_ == 0) {
                    resume([&] { rs->MoveFirst(); });
                    resume([&] { cid_ = rt::CInt(rs->GetValue(rt::Variant("QTX_CID"))); });
                }
            });
}

int16_t ComponentService::get_ComponentID() {
    return Guarded([&] { return LoadResStringWithParam(msg::GetCID, componentName_); },
                   [&] {
                       if (componentName_.empty()) Fail(msg::GetCIDNoName);
                       return cid_;
                   });
}

void ComponentService::put_ComponentID(int16_t CID) {
    Guarded([&] { return LoadResStringWithParam(msg::SetCID, componentName_); },
            [&] {
                if (componentName_.empty()) Fail(msg::SetCIDNoName);
                cid_ = CID;
                // A failed positioning leaves the service on no occurrence.
                try {
                    auto rs = Rows();
                    if (rs->get_BOF() && rs->get_EOF())
                        Fail(LoadResStringWithParams(msg::CIDNoRows, std::to_string(CID), componentName_));
                    for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext())
                        if (rt::VariantEquals(rs->GetValue(rt::Variant("QTX_CID")), rt::Variant(CID))) return;
                    Fail(LoadResStringWithParams(msg::CIDNotFound, std::to_string(CID), componentName_));
                } catch (...) {
                    cid_ = 0;
                    throw;
                }
            });
}

rt::Variant ComponentService::get_CIDList() {
    return Guarded([&] { return LoadResStringWithParam(msg::CIDList, componentName_); },
                   [&]() -> rt::Variant {
                       if (componentName_.empty()) Fail(msg::CIDListNoName);
                       auto rs = Rows();
                       if (rs->get_BOF() && rs->get_EOF()) return rt::Variant::Null();
                       rt::Variant bookmark;
                       bool remembered = !rs->get_BOF() && !rs->get_EOF();
                       if (remembered) bookmark = rs->get_Bookmark();
                       int16_t n = rt::CInt(rt::Variant(rs->get_RecordCount()));
                       if (n < 1) return rt::Variant::Null();
                       auto list = rt::Variant::MakeArray(rt::vbInteger, 0, n - 1);
                       try {
                           int32_t i = 0;
                           for (rs->MoveFirst(); !rs->get_EOF() && i < n; rs->MoveNext())
                               list.ArrayMut()->Set(i++, rt::Variant(rt::CInt(rs->GetValue(rt::Variant("QTX_CID")))));
                       } catch (...) {
                           // The caller's row stays current even when a value fails.
                           if (remembered) {
                               rt::ResumeNext resume;
                               resume([&] { rs->put_Bookmark(bookmark); });
                           }
                           throw;
                       }
                       if (remembered) rs->put_Bookmark(bookmark);
                       return list;
                   });
}

rt::ObjectPtr ComponentService::get_Geometry() {
    return Guarded([&] { return LoadResStringWithParam(msg::GetGeometry, componentName_); },
                   [&] {
                       if (componentName_.empty()) Fail(msg::GetGeometryNoName);
                       if (cid_ == 0) Fail(msg::GetGeometryNoCID);
                       return Component()->get_Geometry();
                   });
}

void ComponentService::putref_Geometry(const rt::ObjectPtr& Geometry) {
    Guarded([&] { return LoadResStringWithParam(msg::SetGeometry, componentName_); },
            [&] {
                if (componentName_.empty()) Fail(msg::SetGeometryNoName);
                if (cid_ == 0) Fail(msg::SetGeometryNoCID);
                Component()->putref_Geometry(Geometry);
            });
}

rt::Variant ComponentService::get_Value(const std::string& FieldName) {
    return Guarded([&] { return LoadResStringWithParams(msg::GetValue, FieldName, componentName_); },
                   [&] {
                       if (componentName_.empty()) Fail(msg::GetValueNoName);
                       if (cid_ == 0) Fail(msg::GetValueNoCID);
                       return Rows()->get_Fields()->Item(FieldName)->get_Value();
                   });
}

void ComponentService::put_Value(const std::string& FieldName, const rt::Variant& Value) {
    Guarded([&] { return LoadResStringWithParams(msg::SetValue, FieldName, componentName_); },
            [&] {
                if (componentName_.empty()) Fail(msg::SetValueNoName);
                if (cid_ == 0) Fail(msg::SetValueNoCID);
                Rows()->get_Fields()->Item(FieldName)->put_Value(Value);
            });
}

void ComponentService::AddNewKeepingFilter(const std::shared_ptr<ado::Recordset>& rs) {
    // Only a filter "field = value" whose value is one word can be kept; the
    // field and value are checked before the row is added, so a filter that
    // cannot be kept gives a plain row and never two rows.
    int32_t index = -1;
    rt::Variant value;
    try {
        rt::Variant filter = rs->get_Filter();
        if (filter.IsString()) {
            const std::string& text = filter.Str();
            auto eq = text.find('=');
            if (eq != std::string::npos) {
                std::string field = rt::Trim(text.substr(0, eq));
                std::string literal = rt::Trim(text.substr(eq + 1));
                if (literal.find(' ') == std::string::npos) {
                    index = rs->FieldIndex(field);
                    if (index >= 0) value = ado::CoerceToFieldType(rt::Variant(literal), rs->DescAt(index).type);
                }
            }
        }
    } catch (const rt::ComError&) {
        index = -1;
    }
    if (index < 0) {
        rs->AddNew();
        return;
    }
    rs->AddNew(rt::Variant(rs->DescAt(index).name), value);
}

void ComponentService::NewOccurrence() {
    Guarded([&] { return LoadResStringWithParam(msg::New, componentName_); },
            [&] {
                if (componentName_.empty()) Fail(msg::NewNoName);
                auto rs = Rows();
                if (rs->get_BOF() && rs->get_EOF()) {
                    AddNewKeepingFilter(rs);
                    cid_ = 1;
                    return;
                }
                int16_t highest = 0;
                for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) {
                    rt::Variant v = rs->GetValue(rt::Variant("QTX_CID"));
                    if (v.IsNull()) continue;
                    int16_t cid = rt::CInt(v);
                    if (cid > highest) highest = cid;
                }
                AddNewKeepingFilter(rs);
                cid_ = static_cast<int16_t>(highest + 1);
            });
}

void ComponentService::DeleteOccurrence() {
    Guarded([&] { return LoadResStringWithParam(msg::Delete, componentName_); },
            [&] {
                if (componentName_.empty()) Fail(msg::DeleteNoName);
                if (cid_ == 0) Fail(msg::DeleteNoCID);
                Rows()->Delete(ado::adAffectCurrent);
                cid_ = 0;
            });
}

// ---- late binding ----

namespace {

const rt::DispatchTable<ComponentService>& Dispatch() {
    using S = ComponentService;
    static const auto table =
        rt::DispatchTable<S>().ClassModuleOf(kProjectName)
            .Get("ComponentName", 1, [](S& s) { return rt::Variant(s.get_ComponentName()); })
            .Let("ComponentName", 1, [](S& s, const rt::Variant& v) { s.put_ComponentName(rt::CStr(v)); })
            .Get("ComponentID", 2, [](S& s) { return rt::Variant(s.get_ComponentID()); })
            .Let("ComponentID", 2, [](S& s, const rt::Variant& v) { s.put_ComponentID(rt::CInt(v)); })
            .Get("CIDList", 3, [](S& s) { return s.get_CIDList(); })
            .Get("Geometry", 4, [](S& s) { return rt::Variant(s.get_Geometry()); })
            .Set("Geometry", 4, [](S& s, const rt::Variant& v) { s.putref_Geometry(v.IsNothing() ? nullptr : v.Obj()); })
            .Get("Value", 5, 1, 1, [](S& s, rt::Args& a) { return s.get_Value(rt::CStr(a[0])); })
            .Let("Value", 5, 2, 2,
                 [](S& s, rt::Args& a) {
                     s.put_Value(rt::CStr(a[0]), a[1]);
                     return rt::Variant();
                 })
            .Method("NewOccurrence", 6, [](S& s) { s.NewOccurrence(); })
            .Method("DeleteOccurrence", 7, [](S& s) { s.DeleteOccurrence(); });
    return table;
}

}  // namespace

rt::Variant ComponentService::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    return Dispatch().Invoke(*this, name, kind, args);
}

void RegisterComponentService() {
    rt::RegisterClass(kComponentServiceProgId, "{7A3E5C95-1D2B-4F6A-8C4E-2B9D0F1A3C56}",
                      [] { return std::make_shared<ComponentService>(); });
}

namespace {
[[maybe_unused]] const bool kRegistered = [] {
    RegisterComponentService();
    return true;
}();
}  // namespace

}  // namespace pelmora
