#pragma once
// Filling the filter cache with the attribute rows of several components in
// one pass, and stepping to the next row of a value.
#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/Variant.h"

namespace ado {
class Recordset;
class Field;
}  // namespace ado

namespace pelmora {

class IMetadataService;

// Caches, under the key FilterRecordset builds for QTX_CNO of the table
// QTX_ATTRIBUTEINFO_OPTABLE, the rows of every component number not cached
// yet, reading the table once (not at all when all are cached). CNOs is an
// array of component numbers; it is left as it was given. A number given
// twice among those not cached raises 457 before the table is read.
void CacheAttributeInfoByCNO(const rt::Variant& CNOs, const std::shared_ptr<IMetadataService>& MetadataService);
void CacheAttributeInfoByCNO(const std::vector<int16_t>& CNOs, const std::shared_ptr<IMetadataService>& MetadataService);

// Moves to the next row, then on until EOF or a row whose field equals the value.
void FindNextMatchingRecord(const std::shared_ptr<ado::Recordset>& Recordset, const std::shared_ptr<ado::Field>& Field,
                            const rt::Variant& Value);

}  // namespace pelmora
