#include "pelmora/features/modADOGlobal.h"

#include "ado/Recordset.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

std::shared_ptr<FieldInfoCollection> BuildFieldInfoCollection(const std::shared_ptr<ado::Recordset>& Recordset) {
    auto collection = FieldInfoCollection::New();
    if (!Recordset) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    if (Recordset->get_EOF() && Recordset->get_BOF()) return collection;

    Recordset->MoveFirst();
    auto fields = Recordset->get_Fields();
    auto field = fields->Item(std::string("QTX_FIELD"));
    auto ano = fields->Item(std::string("QTX_ANO"));
    auto dataDefault = fields->Item(std::string("DATA_DEFAULT"));
    auto progId = fields->Item(std::string("QTX_RELATIONIFACEPROGID"));
    auto type = fields->Item(std::string("QTX_RELATIONIFACETYPE"));
    auto argGroupNo = fields->Item(std::string("QTX_RIARGGROUPNO"));
    auto prjNo = fields->Item(std::string("QTX_RELATIONIFACEPRJNO"));

    while (!Recordset->get_EOF()) {
        std::string name = rt::CStr(field->get_Value());
        // A field may carry several functional interfaces, one row each;
        // its first row describes it.
        if (collection->TryItem(rt::Variant(name))) {
            Recordset->MoveNext();
            continue;
        }
        auto info = FieldInfo::New();
        info->put_Name(name);
        info->put_ANO(rt::CLng(ano->get_Value()));
        info->put_DefaultValue(dataDefault->get_Value());
        info->put_AttributeEditControlProgID(progId->get_Value());
        info->put_AttributeEditControlType(type->get_Value());
        info->put_AttributeEditControlArgGroupNo(argGroupNo->get_Value());
        info->put_RelationIFacePrjNo(prjNo->get_Value());
        collection->Add(rt::Variant(info), rt::Variant(name));
        Recordset->MoveNext();
    }
    return collection;
}

void ApplyFieldDefaults(const std::shared_ptr<ado::Recordset>& Recordset,
                        const std::shared_ptr<FieldInfoCollection>& FieldInfos, const std::string& Component) {
    if (!FieldInfos) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    for (const rt::Variant& item : FieldInfos->Enumerate()) {
        auto info = item.IsObject() ? std::dynamic_pointer_cast<FieldInfo>(item.Obj()) : nullptr;
        if (!info) rt::RaiseVbError(item.IsNothing() ? rt::vberr::ObjectVariableNotSet : rt::vberr::TypeMismatch);
        rt::Variant value = info->get_DefaultValue();
        if (value.IsEmpty() || value.IsNull()) continue;
        if (!Recordset) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        // As through its Field, without making one for every default of every row added.
        const int32_t field = Recordset->FieldIndex(info->get_Name());
        if (field < 0)
            throw rt::ComError(ado::err::ItemNotFound, "ADODB.Fields",
                               "Item cannot be found in the collection corresponding to the requested name or "
                               "ordinal. The attribute ANO " +
                                   std::to_string(info->get_ANO()) + " names the field \"" + info->get_Name() +
                                   "\", which " +
                                   (Component.empty() ? std::string("the row") : "component " + Component) +
                                   " does not have.");
        Recordset->SetFieldValues({field}, {value});
    }
}

}  // namespace pelmora
