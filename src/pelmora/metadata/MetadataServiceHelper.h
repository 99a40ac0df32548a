#pragma once
// Two conveniences for clients of the metadata service: choosing its
// configuration and asking whether the active user holds a database role.
#include <memory>
#include <string>

#include "runtime/Object.h"

namespace pelmora {

class IDataContext;
class MetadataService;

inline constexpr const char* kMetadataServiceHelperProgId = "QzPelmora.MetadataServiceHelper";

class MetadataServiceHelper : public rt::Object {
public:
    // Names the configuration through the service's own Configuration
    // property, which fetches it (and traces as that property); the sibling
    // interface's property would only store the name. Errors of the service
    // reach the caller; 91 for a missing service.
    void SetConfiguration(const std::shared_ptr<MetadataService>& MDService, const std::string& sConfigurationName);
    // The data context's metadata service's answer; 91 for a missing context.
    bool GetRoles(const std::shared_ptr<IDataContext>& oDC, const std::string& sRole);

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "MetadataServiceHelper"; }
};

// Registers "QzPelmora.MetadataServiceHelper".
void RegisterMetadataServiceHelper();

}  // namespace pelmora
