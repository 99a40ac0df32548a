#pragma once
// Editing several features at once: one set of blank components holding the
// components that all the selected features' numbers have in common, and
// the copying of every value a caller filled into them into the same
// component of each selected feature. The copies are pending edits of the
// features' recordsets; saving them is the caller's business.
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace ado {
class Recordset;
}

namespace pelmora {

class IComponents;
class IDataContext;
class IKeyObjects;
class IMetadataRecordsetFilterService;

inline constexpr const char* kBulkEditServiceProgId = "QzPelmora.BulkEditService";

class BulkEditService : public rt::Object {
public:
    std::shared_ptr<IDataContext> get_DataContext() const { return dataContext_; }
    // Keeps the context and, when it is not nullptr, its feature-components
    // metadata.
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext);
    // One blank component (no rows, no defaults, no interfaces) per component
    // common to the feature numbers of the input, in the order of the first
    // number that has components. Numbers without components neither add nor
    // remove any; when no number has components the collection is empty.
    std::shared_ptr<IComponents> ConstructMergedComponents(const std::shared_ptr<IKeyObjects>& InputFeatures);
    // Copies the filled, non-key values of the first row of each common
    // component into every row of the same component of every feature; a
    // feature without a row of a non-repeating component gets one.
    void SaveCommonEdits(const std::shared_ptr<IComponents>& CommonComponents,
                         const std::shared_ptr<IKeyObjects>& OriginalFeatures);

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "BulkEditService"; }

    // QTX_ID, QTX_FNO, QTX_FID, QTX_CNO and QTX_CID, with letter case.
    static bool IsKeyField(const std::string& name);

private:
    IMetadataRecordsetFilterService& FilterService();
    std::shared_ptr<ado::Recordset> MetadataTable(const std::string& key) const;

    std::shared_ptr<IDataContext> dataContext_;
    std::shared_ptr<ado::Recordset> featureComponents_;
    std::shared_ptr<IMetadataRecordsetFilterService> filterService_;
};

// Registers "QzPelmora.BulkEditService" (calling it again is harmless).
void RegisterBulkEditService();

}  // namespace pelmora
