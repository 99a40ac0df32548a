#pragma once
// One value of the metadata as a product component reads it: through the
// metadata service's interface (a filtered clone of one cached table), as any
// outside component does, never through the system's own lookups. Free
// function; call it in the apartment that owns the service.
#include <cstdint>
#include <string>

#include "interfaces/MetadataService.h"
#include "runtime/Variant.h"

namespace product {

// The valueColumn of the first row of the cached table whose keyColumn holds
// key; Null when no row does. The table and columns are the caller's own
// names; a table the cache does not hold raises as the service does.
rt::Variant MetadataValue(pelmora::IMetadataService& metadata, const std::string& table, const std::string& keyColumn,
                          int32_t key, const std::string& valueColumn);

}  // namespace product
