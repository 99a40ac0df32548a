#include "pelmora/metadata/MetadataUtils.h"

#include "runtime/Variant.h"
#include "runtime/Vb.h"

namespace pelmora {

std::shared_ptr<rt::Object> FindOpenDatabaseConnection(const std::shared_ptr<rt::Object>& Connections) {
    const int32_t count = rt::CLng(rt::CallByName(Connections, "Count", rt::InvokeKind::PropertyGet));
    for (int32_t i = 1; i <= count; ++i) {
        rt::Variant item = rt::CallByName(Connections, "Item", rt::InvokeKind::PropertyGet,
                                          rt::Args{rt::Variant(rt::CInt(rt::Variant(i)))});
        if (!item.IsObject()) rt::RaiseVbError(rt::vberr::TypeMismatch);
        const auto& connection = item.Obj();
        // The comparison is exact: a Type differing in letter case is another product's.
        std::string type = rt::CStr(rt::CallByName(connection, "Type", rt::InvokeKind::PropertyGet));
        int32_t status = rt::CLng(rt::CallByName(connection, "Status", rt::InvokeKind::PropertyGet));
        if (status == 1 && type == "QTX.GDatabase") return connection;
    }
    return nullptr;
}

}  // namespace pelmora
