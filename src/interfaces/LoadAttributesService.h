#pragma once
// The product's attribute-loading service: fills attribute values into a
// component row that was just added, from what the product knows about the
// feature class (and its classification). A component creates one per new
// row, by ProgID.
#include <cstdint>
#include <memory>

#include "runtime/Variant.h"

namespace ado {
class Recordset;
}

namespace pelmora {

class IDataContext;

inline constexpr const char* kLoadAttributesServiceProgId = "QTX.LoadAttributesService";

class ILoadAttributesService {
public:
    virtual ~ILoadAttributesService() = default;
    virtual void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;
    // Writes the values into the current row of Recordset; True when it
    // wrote any.
    virtual bool CopyComponent(int16_t FNO, const rt::Variant& ClassificationValue, int16_t CNO,
                               const std::shared_ptr<ado::Recordset>& Recordset) = 0;
};

}  // namespace pelmora
