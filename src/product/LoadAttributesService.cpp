#include "product/LoadAttributesService.h"

#include <string>
#include <utility>
#include <vector>

#include "ado/Recordset.h"
#include "interfaces/DataContext.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace product {

namespace {

constexpr const char* kSource = "LoadAttributesService";
constexpr int32_t kOpenStatic = 3;
constexpr int32_t kLockReadOnly = 1;
constexpr int32_t kCmdText = 1;

[[noreturn]] void Fail(int32_t number, const std::string& text) { throw rt::ComError(number, kSource, text); }

}  // namespace

bool LoadAttributesService::CopyComponent(int16_t FNO, const rt::Variant& ClassificationValue, int16_t CNO,
                                          const std::shared_ptr<ado::Recordset>& Recordset) {
    if (!dataContext_) Fail(rt::vberr::ObjectVariableNotSet, "No data context is set.");
    if (!Recordset) Fail(rt::vberr::ObjectVariableNotSet, "No recordset was given.");
    if (Recordset->get_BOF() || Recordset->get_EOF()) Fail(rt::vberr::InvalidProcedureCall, "The recordset has no current row.");

    rt::Variant parameters = rt::Variant::ArrayOf({rt::Variant(FNO), rt::Variant(CNO)}, 0);
    auto rules = dataContext_->OpenParameterizedRecordset(
        "SELECT QTX_CLASSIFICATION, QTX_FIELD, QTX_VALUE FROM QTX_LOADATTRIBUTES WHERE QTX_FNO = ? AND QTX_CNO = ? "
        "ORDER BY QTX_FIELD",
        kOpenStatic, kLockReadOnly, kCmdText, parameters);
    if (!rules) Fail(rt::vberr::ObjectVariableNotSet, "The data context returned no rows.");

    const bool classified = !ClassificationValue.IsNull() && !ClassificationValue.IsEmpty();
    const std::string classification = classified ? rt::CStr(ClassificationValue) : std::string();
    std::vector<std::pair<std::string, rt::Variant>> general, specific;
    for (; !rules->get_EOF(); rules->MoveNext()) {
        rt::Variant cls = rules->GetValue(rt::Variant("QTX_CLASSIFICATION"));
        auto entry = std::make_pair(rt::CStr(rules->GetValue(rt::Variant("QTX_FIELD"))),
                                    rules->GetValue(rt::Variant("QTX_VALUE")));
        if (cls.IsNull()) general.push_back(std::move(entry));
        else if (classified && rt::CStr(cls) == classification) specific.push_back(std::move(entry));
    }

    bool wrote = false;
    auto fields = Recordset->get_Fields();
    for (const auto* list : {&general, &specific}) {
        for (const auto& [field, value] : *list) {
            std::shared_ptr<ado::Field> target;
            try {
                target = fields->Item(field);
            } catch (const rt::ComError&) {
                Fail(rt::vberr::InvalidProcedureCall, "QTX_LOADATTRIBUTES names the field " + field +
                                                          ", which the rows of component " + std::to_string(CNO) +
                                                          " do not have.");
            }
            target->put_Value(value);
            wrote = true;
        }
    }
    return wrote;
}

void RegisterLoadAttributesService() {
    rt::RegisterClass(pelmora::kLoadAttributesServiceProgId, "",
                      [] { return std::static_pointer_cast<rt::Object>(std::make_shared<LoadAttributesService>()); });
}

}  // namespace product
