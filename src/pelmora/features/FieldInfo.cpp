#include "pelmora/features/FieldInfo.h"

#include "pelmora/common/modYvCommonUtilities.h"
#include "runtime/Dispatch.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

const rt::DispatchTable<FieldInfo>& FieldInfoDispatch() {
    using V = rt::Variant;
    static const auto table =
        rt::DispatchTable<FieldInfo>().ClassModuleOf(kProjectName)
            .Get("ANO", 1, [](FieldInfo& f) { return V(f.get_ANO()); })
            .Let("ANO", 1, [](FieldInfo& f, const V& v) { f.put_ANO(rt::CLng(v)); })
            .Get("AttributeEditControlProgID", 2, [](FieldInfo& f) { return f.get_AttributeEditControlProgID(); })
            .Let("AttributeEditControlProgID", 2,
                 [](FieldInfo& f, const V& v) { f.put_AttributeEditControlProgID(v); })
            .Get("AttributeEditControlType", 3, [](FieldInfo& f) { return f.get_AttributeEditControlType(); })
            .Let("AttributeEditControlType", 3, [](FieldInfo& f, const V& v) { f.put_AttributeEditControlType(v); })
            .Get("AttributeEditControlArgGroupNo", 4,
                 [](FieldInfo& f) { return f.get_AttributeEditControlArgGroupNo(); })
            .Let("AttributeEditControlArgGroupNo", 4,
                 [](FieldInfo& f, const V& v) { f.put_AttributeEditControlArgGroupNo(v); })
            .Get("DefaultValue", 5, [](FieldInfo& f) { return f.get_DefaultValue(); })
            .Let("DefaultValue", 5, [](FieldInfo& f, const V& v) { f.put_DefaultValue(v); })
            .Get("Name", 6, [](FieldInfo& f) { return V(f.get_Name()); })
            .Let("Name", 6, [](FieldInfo& f, const V& v) { f.put_Name(rt::CStr(v)); })
            .Get("RelationIFacePrjNo", 7, [](FieldInfo& f) { return f.get_RelationIFacePrjNo(); })
            .Let("RelationIFacePrjNo", 7, [](FieldInfo& f, const V& v) { f.put_RelationIFacePrjNo(v); });
    return table;
}

}  // namespace

rt::Variant FieldInfo::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    return FieldInfoDispatch().Invoke(*this, name, kind, args);
}

rt::Variant FieldInfo::InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) {
    return FieldInfoDispatch().InvokeDispId(*this, dispId, kind, args);
}

std::shared_ptr<FieldInfo> FindFieldInfo(const std::shared_ptr<FieldInfoCollection>& collection,
                                         const std::string& fieldName) {
    if (!collection || fieldName.empty()) return nullptr;
    const rt::Variant* item = collection->FindKey(fieldName);
    if (!item || !item->IsObject()) return nullptr;
    return std::dynamic_pointer_cast<FieldInfo>(item->Obj());
}

}  // namespace pelmora
