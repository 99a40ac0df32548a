#include "product/framework/ComponentViewPipe.h"

#include <string>

#include "ado/Recordset.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/MetadataService.h"
#include "product/MetadataValue.h"
#include "product/framework/FrameworkClasses.h"
#include "product/framework/FrameworkRecordset.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace product {

namespace {

[[noreturn]] void Refuse(const std::string& what) {
    throw rt::ComError(rt::vberr::ObjectVariableNotSet, "ComponentViewPipe", "The component view needs " + what + ".");
}

// Adds the component's fields of its current row (its first when the
// cursor stands on none, Null when it has no rows) that the view lacks.
void AddComponentFields(FrameworkRecordset& view, std::vector<rt::Variant>& values, const std::shared_ptr<ado::Recordset>& rows) {
    std::shared_ptr<ado::Recordset> source = rows;
    const bool empty = rows->get_BOF() && rows->get_EOF();
    if (!empty && (rows->get_BOF() || rows->get_EOF())) {
        source = rows->Clone();
        source->MoveFirst();
    }
    for (int32_t i = 0; i < source->FieldCount(); ++i) {
        if (!view.AppendField(source->DescAt(i).name)) continue;
        values.push_back(empty ? rt::Variant::Null() : source->FieldValue(i));
    }
}

// The view shows attribute components: those whose QTX_TYPE in the
// component metadata is 1 or Null.
bool IsGeometryComponent(pelmora::IMetadataService& metadata, int16_t cno) {
    const rt::Variant type = MetadataValue(metadata, "QTX_COMPONENTINFO_OPTABLE", "QTX_CNO", cno, "QTX_TYPE");
    return !type.IsNull() && !rt::VariantEquals(type, rt::Variant(int32_t{1}));
}

}  // namespace

std::shared_ptr<pelmora::IFrameworkRecordset> ComponentViewPipe::get_OutputRecordset() {
    if (!connection_) Refuse("a connection");
    if (!components_) Refuse("the feature's components");
    auto dataContext = rt::QueryInterface<pelmora::IDataContext>(
        rt::CallByName(connection_, "DataContext", rt::InvokeKind::PropertyGet).Obj());
    auto metadata = dataContext->GetMetadataService();
    if (!metadata) Refuse("the data context's metadata service");
    auto first = components_->GetComponent(static_cast<int16_t>(cno_));
    if (!first) Refuse("a component " + std::to_string(cno_) + " of feature number " + std::to_string(fno_));

    auto view = std::make_shared<FrameworkRecordset>();
    std::vector<rt::Variant> values;
    AddComponentFields(*view, values, first->get_Recordset());
    for (const auto& component : components_->get_NewEnum()) {
        const int16_t cno = component->get_CNO();
        if (cno == cno_ || IsGeometryComponent(*metadata, cno)) continue;
        AddComponentFields(*view, values, component->get_Recordset());
    }
    view->AddNew();
    for (int32_t i = 0; i < view->FieldCount(); ++i) view->SetValue(i, values[static_cast<size_t>(i)]);
    view->Update();
    view->MoveFirst();
    return view;
}

void RegisterFrameworkClasses() {
    rt::RegisterClass(pelmora::kComponentViewPipeProgId, "{07741BB1-EBC2-11D3-A30B-006097383113}",
                      [] { return std::make_shared<ComponentViewPipe>(); });
}

}  // namespace product
