#include "pelmora/features/BulkEditService.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/common/NullOrEmpty.h"
#include "pelmora/common/RowWalk.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/Component.h"
#include "pelmora/features/Components.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "runtime/Dispatch.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kSource = "BulkEditService";

bool HasRows(const std::shared_ptr<ado::Recordset>& rs) { return !(rs->get_BOF() && rs->get_EOF()); }

}  // namespace

bool BulkEditService::IsKeyField(const std::string& name) {
    return name == "QTX_ID" || name == "QTX_FNO" || name == "QTX_FID" || name == "QTX_CNO" || name == "QTX_CID";
}

IMetadataRecordsetFilterService& BulkEditService::FilterService() {
    if (!filterService_) filterService_ = std::make_shared<MetadataRecordsetFilterService>();
    return *filterService_;
}

std::shared_ptr<ado::Recordset> BulkEditService::MetadataTable(const std::string& key) const {
    if (!dataContext_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, kSource);
    auto metadata = dataContext_->GetMetadataService();
    if (!metadata) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, kSource);
    return metadata->get_Recordsets()->get_Item(rt::Variant(key))->get_Recordset("", "");
}

void BulkEditService::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    dataContext_ = DataContext;
    if (DataContext) featureComponents_ = MetadataTable("QTX_FEATURECOMPS_OPTABLE");
}

std::shared_ptr<IComponents> BulkEditService::ConstructMergedComponents(
    const std::shared_ptr<IKeyObjects>& InputFeatures) {
    if (!InputFeatures) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, kSource);
    if (!featureComponents_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, kSource);

    std::vector<int16_t> FNOs;
    for (const auto& key : InputFeatures->get_NewEnum()) {
        RequireObjects(key);
        int16_t fno = key->get_FNO();
        if (std::find(FNOs.begin(), FNOs.end(), fno) == FNOs.end()) FNOs.push_back(fno);
    }

    // The components of the first number with any, less those a later number lacks.
    std::vector<int16_t> common;
    bool first = true;
    auto cnoField = featureComponents_->get_Fields()->Item("QTX_CNO");
    for (int16_t fno : FNOs) {
        featureComponents_->put_Filter(rt::Variant("QTX_FNO = " + std::to_string(fno)));
        if (!HasRows(featureComponents_)) continue;
        std::vector<int16_t> cnos;
        for (featureComponents_->MoveFirst(); !featureComponents_->get_EOF(); featureComponents_->MoveNext())
            cnos.push_back(rt::CInt(cnoField->get_Value()));
        if (first) {
            common = std::move(cnos);
            first = false;
            continue;
        }
        for (auto& cno : common)
            if (cno > 0 && std::find(cnos.begin(), cnos.end(), cno) == cnos.end()) cno = 0;
    }

    auto merged = std::make_shared<Components>();
    merged->putref_DataContext(dataContext_);
    for (int16_t cno : common) {
        if (cno <= 0) continue;
        auto rowTemplate = MetadataTable("CNO" + std::to_string(cno));
        merged->AddComponentByRecordset(cno, rowTemplate);
        auto component = rt::QueryInterface<Component>(merged->get_Item(rt::Variant(merged->get_Count())));
        component->put_SetDefaultValuesEnabled(false);
        component->put_AutoAssignKeys(true);
        component->put_FunctionalInterfacesEnabled(false);
        component->put_AttributeEditControlEnabled(false);
    }
    return merged;
}

void BulkEditService::SaveCommonEdits(const std::shared_ptr<IComponents>& CommonComponents,
                                      const std::shared_ptr<IKeyObjects>& OriginalFeatures) {
    if (!CommonComponents || !OriginalFeatures) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, kSource);
    // A Nothing among the features is refused before any of them is edited.
    const auto originals = RequireEach(OriginalFeatures->get_NewEnum());
    auto placement = MetadataTable("QTX_FEATURECOMPS_OPTABLE");
    auto cnoField = placement->get_Fields()->Item("QTX_CNO");
    auto repeatingField = placement->get_Fields()->Item("QTX_REPEATING");

    for (const auto& common : CommonComponents->get_NewEnum()) {
        auto source = common->get_Recordset();
        if (!HasRows(source)) continue;
        source->MoveFirst();
        std::vector<std::pair<std::string, rt::Variant>> values;
        auto fields = source->get_Fields();
        for (int32_t i = 0; i < fields->get_Count(); ++i) {
            auto field = fields->Item(i);
            rt::Variant value = field->get_Value();
            if (IsNullOrEmpty(value) || IsKeyField(field->get_Name())) continue;
            values.emplace_back(field->get_Name(), value);
        }
        if (values.empty()) continue;

        const std::string name = common->get_Name();
        for (const auto& feature : originals) {
            auto components = feature->get_Components();
            if (!components) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, kSource);
            auto target = components->get_Item(rt::Variant(name));
            auto rows = target->get_Recordset();
            FilterService().FilterRecordset(placement, cnoField, rt::Variant(target->get_CNO()));
            rt::Variant repeating = repeatingField->get_Value();
            if (!HasRows(rows) && rt::VariantEquals(repeating, rt::Variant(int32_t{0}))) {
                rows->AddNew();
                rows->SetValue(rt::Variant("QTX_FNO"), rt::Variant(feature->get_FNO()));
                rows->SetValue(rt::Variant("QTX_FID"), rt::Variant(feature->get_FID()));
            }
            if (!HasRows(rows)) continue;
            // The rows the edit began with: an interface fired by a value
            // may add rows or delete them.
            ForEachRowBegunWith(*rows, [&] {
                for (const auto& [fieldName, value] : values) rows->SetValue(rt::Variant(fieldName), value);
            });
        }
    }
}

// ---- late binding ----

namespace {

using rt::ObjectArgument;

const rt::DispatchTable<BulkEditService>& Dispatch() {
    using S = BulkEditService;
    static const auto table =
        rt::DispatchTable<S>().ClassModuleOf(kProjectName)
            .Get("DataContext", 1, [](S& s) { return rt::Variant(s.get_DataContext()); })
            .Set("DataContext", 1,
                 [](S& s, const rt::Variant& v) { s.putref_DataContext(ObjectArgument<IDataContext>(v)); })
            .Method("ConstructMergedComponents", 2, 1, 1,
                    [](S& s, rt::Args& a) {
                        return rt::Variant(s.ConstructMergedComponents(ObjectArgument<IKeyObjects>(a[0])));
                    })
            .Method("SaveCommonEdits", 3, 2, 2, [](S& s, rt::Args& a) {
                s.SaveCommonEdits(ObjectArgument<IComponents>(a[0]), ObjectArgument<IKeyObjects>(a[1]));
                return rt::Variant();
            });
    return table;
}

}  // namespace

rt::Variant BulkEditService::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    return Dispatch().Invoke(*this, name, kind, args);
}

rt::Variant BulkEditService::InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) {
    return Dispatch().InvokeDispId(*this, dispId, kind, args);
}

void RegisterBulkEditService() {
    rt::RegisterClass(kBulkEditServiceProgId, "{7A3E5C96-1D2B-4F6A-8C4E-2B9D0F1A3C57}",
                      [] { return std::make_shared<BulkEditService>(); });
}

namespace {
[[maybe_unused]] const bool kRegistered = [] {
    RegisterBulkEditService();
    return true;
}();
}  // namespace

}  // namespace pelmora
