#pragma once
// Describes one attribute field of a component: attribute number, field
// name, the column's default value and the attribute edit control that may
// refuse a change of the field. Made only inside the system.
//
// A component keeps its FieldInfo objects in an rt::Collection keyed by field
// name (FieldInfoCollection). Such a collection is shared: the components of
// one CNO, their clones and feature creation hand the same one around. A
// holder that is released only drops its reference; it never empties the
// collection, which others may still be reading.
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/Collection.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {

using FieldInfoCollection = rt::Collection;

class FieldInfo : public rt::Object {
public:
    static std::shared_ptr<FieldInfo> New() { return std::make_shared<FieldInfo>(); }

    int32_t get_ANO() const { return ANO_; }
    void put_ANO(int32_t ANO) { ANO_ = ANO; }
    rt::Variant get_AttributeEditControlProgID() const { return progId_; }
    void put_AttributeEditControlProgID(const rt::Variant& v) { progId_ = v; }
    rt::Variant get_AttributeEditControlType() const { return type_; }
    void put_AttributeEditControlType(const rt::Variant& v) { type_ = v; }
    rt::Variant get_AttributeEditControlArgGroupNo() const { return argGroupNo_; }
    void put_AttributeEditControlArgGroupNo(const rt::Variant& v) { argGroupNo_ = v; }
    rt::Variant get_DefaultValue() const { return defaultValue_; }
    void put_DefaultValue(const rt::Variant& v) { defaultValue_ = v; }
    std::string get_Name() const { return name_; }
    void put_Name(const std::string& Name) { name_ = Name; }
    rt::Variant get_RelationIFacePrjNo() const { return prjNo_; }
    void put_RelationIFacePrjNo(const rt::Variant& v) { prjNo_ = v; }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "FieldInfo"; }

private:
    int32_t ANO_ = 0;
    rt::Variant progId_ = rt::Variant::Null();
    rt::Variant type_ = rt::Variant::Null();
    rt::Variant argGroupNo_ = rt::Variant::Null();
    rt::Variant defaultValue_ = rt::Variant::Null();
    std::string name_;
    // Empty, not Null, until filled: the edit-control bridge tells the two apart.
    rt::Variant prjNo_;
};

// The FieldInfo stored under a field name, or nullptr when there is none.
std::shared_ptr<FieldInfo> FindFieldInfo(const std::shared_ptr<FieldInfoCollection>& collection,
                                         const std::string& fieldName);

}  // namespace pelmora
