#include "pelmora/metadata/MetadataServiceHelper.h"

#include "pelmora/common/modYvCommonUtilities.h"
#include "interfaces/DataContext.h"
#include "pelmora/metadata/MetadataService.h"
#include "runtime/Error.h"
#include "runtime/Variant.h"
#include "runtime/Vb.h"

namespace pelmora {

void MetadataServiceHelper::SetConfiguration(const std::shared_ptr<MetadataService>& MDService,
                                             const std::string& sConfigurationName) {
    if (!MDService) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    MDService->put_Configuration(sConfigurationName);
}

bool MetadataServiceHelper::GetRoles(const std::shared_ptr<IDataContext>& oDC, const std::string& sRole) {
    if (!oDC) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto service = oDC->GetMetadataService();
    if (!service) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return service->IsRoleGranted(sRole);
}

rt::Variant MetadataServiceHelper::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    if (kind == rt::InvokeKind::Method || kind == rt::InvokeKind::PropertyGet) {
        const bool set = rt::NamesEqual(name, "SetConfiguration");
        const bool roles = rt::NamesEqual(name, "GetRoles");
        if (set || roles) {
            if (args.size() < 2) rt::RaiseVbError(rt::vberr::ArgumentNotOptional);
            return InClassModule(TypeName(), [&] {
                std::shared_ptr<rt::Object> obj;
                if (args[0].IsObject())
                    obj = args[0].Obj();
                else
                    rt::RaiseVbError(rt::vberr::TypeMismatch);
                if (set) {
                    // Either face of the service leads to the service itself.
                    auto service = obj ? rt::QueryInterface<MetadataService>(obj) : nullptr;
                    SetConfiguration(service, rt::CStr(args[1]));
                    return rt::Variant();
                }
                auto dc = obj ? rt::QueryInterface<IDataContext>(obj) : nullptr;
                return rt::Variant(GetRoles(dc, rt::CStr(args[1])));
            });
        }
    }
    rt::RaiseVbError(rt::vberr::ObjectDoesNotSupportMember);
}

void RegisterMetadataServiceHelper() {
    rt::RegisterClass(kMetadataServiceHelperProgId, "{6C0E9B3A-2F47-4D18-B5A6-8E1F3C7D9A42}",
                      [] { return std::make_shared<MetadataServiceHelper>(); });
}

}  // namespace pelmora
