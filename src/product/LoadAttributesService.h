#pragma once
// The attribute-loading service stand-in. It copies into a new component row
// the values that the table QTX_LOADATTRIBUTES of the database defines for
// the row's feature class and component (docs/LOAD_ATTRIBUTES.md):
//
//   QTX_FNO, QTX_CNO      the feature class and component the row is for
//   QTX_CLASSIFICATION    Null: every row of the class; otherwise only rows
//                         whose classification value has this text
//   QTX_FIELD, QTX_VALUE  the field and the value (as text; the field's
//                         type converts it)
//
// Values of the class come first, those of its classification after them,
// so a classification overrides what the class gives.
#include <cstdint>
#include <memory>

#include "interfaces/LoadAttributesService.h"
#include "runtime/Object.h"

namespace product {

class LoadAttributesService : public rt::Object, public pelmora::ILoadAttributesService {
public:
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& DataContext) override {
        dataContext_ = DataContext;
    }
    // Raises without a data context or a current row, and for a value whose
    // field the rows lack or whose type refuses it (the row keeps the values
    // written before).
    bool CopyComponent(int16_t FNO, const rt::Variant& ClassificationValue, int16_t CNO,
                       const std::shared_ptr<ado::Recordset>& Recordset) override;

    std::string TypeName() const override { return "LoadAttributesService"; }

private:
    std::shared_ptr<pelmora::IDataContext> dataContext_;
};

// Registers the service under pelmora::kLoadAttributesServiceProgId.
void RegisterLoadAttributesService();

}  // namespace product
