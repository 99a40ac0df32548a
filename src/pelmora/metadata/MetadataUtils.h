#pragma once
// Lookups on the metadata and the desktop application's connections.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace ado {
class Recordset;
class Field;
}  // namespace ado

namespace pelmora {

class IMetadataService;
class MetadataRecordsetFilterService;

// The first connection of the collection (Count, Item by 1-based index;
// each item's Type and Status) whose Status is 1 and whose Type is exactly
// "QTX.GDatabase"; nullptr when none qualifies. Errors of a connection reach
// the caller.
std::shared_ptr<rt::Object> FindOpenDatabaseConnection(const std::shared_ptr<rt::Object>& Connections);

// ---- lookups by key on the cached metadata tables ----
// Each fails with RaiseError 3 from "MetadataUtils" (0x80040003) when the
// table, the key or value column or the row is missing, or the value is Null.
std::string GetComponentName(const std::shared_ptr<IMetadataService>& MetadataService, int16_t CNO);
std::string GetComponentUserName(const std::shared_ptr<IMetadataService>& MetadataService, int16_t CNO);
std::string GetComponentTable(const std::shared_ptr<IMetadataService>& MetadataService, int16_t CNO);
std::string GetAttributeField(const std::shared_ptr<IMetadataService>& MetadataService, int32_t ANO);
std::string GetAttributeUserName(const std::shared_ptr<IMetadataService>& MetadataService, int32_t ANO);
std::string GetFeatureUserName(const std::shared_ptr<IMetadataService>& MetadataService, int16_t FNO);
std::string GetAddRelParamValue(const std::shared_ptr<IMetadataService>& MetadataService,
                                const std::string& ParamName);
// False when the component's QTX_TYPE is 1 or Null.
bool IsGeometryComponent(const std::shared_ptr<IMetadataService>& MetadataService, int16_t CNO);
// "" when the component number has no row.
std::string GetCompGeomType(const std::shared_ptr<IMetadataService>& MetadataService, int16_t CNO);

// ---- ADO helpers ----
// True when the field's value is Null or Empty (an empty text is neither).
bool IsFieldNullOrEmpty(const std::shared_ptr<ado::Field>& Field);
// The number of rows, keeping the current row; above 32,767 raises 6.
int16_t GetRecordCount(const std::shared_ptr<ado::Recordset>& Recordset);

// The value of the feature's classification attribute on the current row of
// its component (Null when the feature class has none). Components is the
// feature's components collection, reached late bound (Item by name, then
// Recordset).
rt::Variant GetClassificationValue(const std::shared_ptr<IMetadataService>& MetadataService, int16_t FNO,
                                   const std::shared_ptr<rt::Object>& Components);
// The same, with the component's rows given by name by RowsOf.
using RowsOfComponentNamed = std::function<std::shared_ptr<ado::Recordset>(const std::string& componentName)>;
rt::Variant GetClassificationValueFromRows(const std::shared_ptr<IMetadataService>& MetadataService, int16_t FNO,
                                           const RowsOfComponentNamed& RowsOf);

// The filter service the lookups of this apartment share.
std::shared_ptr<MetadataRecordsetFilterService> MetadataUtilsFilterService();

}  // namespace pelmora
