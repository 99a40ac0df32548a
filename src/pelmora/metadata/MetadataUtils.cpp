#include "pelmora/metadata/MetadataUtils.h"

#include <optional>

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "runtime/Variant.h"
#include "runtime/Vb.h"

namespace pelmora {

std::shared_ptr<rt::Object> FindOpenDatabaseConnection(const std::shared_ptr<rt::Object>& Connections) {
    const int32_t count = rt::CLng(rt::CallByName(Connections, "Count", rt::InvokeKind::PropertyGet));
    for (int32_t i = 1; i <= count; ++i) {
        rt::Variant item = rt::CallByName(Connections, "Item", rt::InvokeKind::PropertyGet,
                                          rt::Args{rt::Variant(rt::CInt(rt::Variant(i)))});
        if (!item.IsObject()) rt::RaiseVbError(rt::vberr::TypeMismatch);
        const auto& connection = item.Obj();
        // The comparison is exact: a Type differing in letter case is another product's.
        std::string type = rt::CStr(rt::CallByName(connection, "Type", rt::InvokeKind::PropertyGet));
        int32_t status = rt::CLng(rt::CallByName(connection, "Status", rt::InvokeKind::PropertyGet));
        if (status == 1 && type == "QTX.GDatabase") return connection;
    }
    return nullptr;
}

namespace {

constexpr const char* kSource = "MetadataUtils";
// "The metadata lookup %1 failed."
constexpr int16_t kLookupFailedMessage = 22143;

struct LookupState {
    std::shared_ptr<MetadataRecordsetFilterService> filterService;
};

std::shared_ptr<ado::Recordset> TableClone(const std::shared_ptr<IMetadataService>& service, const std::string& table,
                                           const std::string& filter = "") {
    if (!service) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto item = service->get_Recordsets()->get_Item(rt::Variant(table));
    if (!item) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto rs = item->get_Recordset(filter, "");
    if (!rs) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return rs;
}

struct NoMatchingRow {};

// The value column of the row whose key column holds the key, read through
// the apartment's filter service; every failure becomes error 3.
rt::Variant KeyedValue(const std::shared_ptr<IMetadataService>& service, const char* table, const char* keyColumn,
                       const rt::Variant& key, const char* valueColumn) {
    try {
        auto rs = TableClone(service, table);
        auto keyField = rs->get_Fields()->Item(std::string(keyColumn));
        MetadataUtilsFilterService()->FilterRecordset(rs, keyField, key);
        if (rs->get_BOF() && rs->get_EOF()) throw NoMatchingRow{};
        rs->MoveFirst();
        return rs->GetValue(rt::Variant(valueColumn));
    } catch (const rt::ComError& e) {
        RaiseError(3, kSource, rt::Variant(e.Description()));
    } catch (const NoMatchingRow&) {
        RaiseError(3, kSource, rt::Variant(std::string()));
    }
}

std::string KeyedText(const std::shared_ptr<IMetadataService>& service, const char* table, const char* keyColumn,
                      const rt::Variant& key, const char* valueColumn) {
    rt::Variant value = KeyedValue(service, table, keyColumn, key, valueColumn);
    try {
        return rt::CStr(value);
    } catch (const rt::ComError& e) {
        RaiseError(3, kSource, rt::Variant(e.Description()));
    }
}

constexpr const char* kComponentInfo = "QTX_COMPONENTINFO_OPTABLE";
constexpr const char* kAttributeInfo = "QTX_ATTRIBUTEINFO_OPTABLE";
constexpr const char* kFeatures = "QTX_FEATURES_OPTABLE";

}  // namespace

std::shared_ptr<MetadataRecordsetFilterService> MetadataUtilsFilterService() {
    auto& state = rt::Apartment::Current().Get<LookupState>();
    if (!state.filterService) state.filterService = std::make_shared<MetadataRecordsetFilterService>();
    return state.filterService;
}

std::string GetComponentName(const std::shared_ptr<IMetadataService>& MetadataService, int16_t CNO) {
    return KeyedText(MetadataService, kComponentInfo, "QTX_CNO", rt::Variant(CNO), "QTX_NAME");
}

std::string GetComponentUserName(const std::shared_ptr<IMetadataService>& MetadataService, int16_t CNO) {
    return KeyedText(MetadataService, kComponentInfo, "QTX_CNO", rt::Variant(CNO), "QTX_USERNAME");
}

std::string GetComponentTable(const std::shared_ptr<IMetadataService>& MetadataService, int16_t CNO) {
    return KeyedText(MetadataService, kComponentInfo, "QTX_CNO", rt::Variant(CNO), "QTX_TABLE");
}

std::string GetAttributeField(const std::shared_ptr<IMetadataService>& MetadataService, int32_t ANO) {
    return KeyedText(MetadataService, kAttributeInfo, "QTX_ANO", rt::Variant(ANO), "QTX_FIELD");
}

std::string GetAttributeUserName(const std::shared_ptr<IMetadataService>& MetadataService, int32_t ANO) {
    return KeyedText(MetadataService, kAttributeInfo, "QTX_ANO", rt::Variant(ANO), "QTX_USERNAME");
}

std::string GetFeatureUserName(const std::shared_ptr<IMetadataService>& MetadataService, int16_t FNO) {
    return KeyedText(MetadataService, kFeatures, "QTX_FNO", rt::Variant(FNO), "QTX_USERNAME");
}

std::string GetAddRelParamValue(const std::shared_ptr<IMetadataService>& MetadataService,
                                const std::string& ParamName) {
    return KeyedText(MetadataService, "QTX_ADD_REL_PARAMS_OPTABLE", "QTX_PARAMNAME", rt::Variant(ParamName),
                     "QTX_PARAMVALUE");
}

bool IsGeometryComponent(const std::shared_ptr<IMetadataService>& MetadataService, int16_t CNO) {
    rt::Variant type = KeyedValue(MetadataService, kComponentInfo, "QTX_CNO", rt::Variant(CNO), "QTX_TYPE");
    if (type.IsNull()) return false;
    try {
        auto order = rt::VbCompare(type, rt::Variant(int16_t{1}));
        return !(order && *order == 0);
    } catch (const rt::ComError& e) {
        RaiseError(3, kSource, rt::Variant(e.Description()));
    }
}

std::string GetCompGeomType(const std::shared_ptr<IMetadataService>& MetadataService, int16_t CNO) {
    try {
        auto rs = TableClone(MetadataService, kComponentInfo, "QTX_CNO=" + std::to_string(CNO));
        if (rs->get_BOF() && rs->get_EOF()) return "";
        return rt::CStr(rs->GetValue(rt::Variant("QTX_GEOMETRYTYPE")));
    } catch (const rt::ComError& e) {
        RaiseError(3, kSource, rt::Variant(kLookupFailedMessage), rt::Variant("GetCompGeomType"),
                   rt::Variant(e.Description()));
    }
}

bool IsFieldNullOrEmpty(const std::shared_ptr<ado::Field>& Field) {
    if (!Field) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    rt::Variant value = Field->get_Value();
    return value.IsNull() || value.IsEmpty();
}

int16_t GetRecordCount(const std::shared_ptr<ado::Recordset>& Recordset) {
    if (!Recordset) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    ado::Recordset& rs = *Recordset;
    if (rs.get_BOF() && rs.get_EOF()) return 0;
    // Before the first row there is no bookmark to come back to: count in place.
    std::optional<rt::Variant> bookmark;
    if (!rs.get_EOF() && !rs.get_BOF()) {
        bookmark = rs.get_Bookmark();
        rs.MoveLast();
    }
    int32_t count = rs.get_RecordCount();
    if (bookmark) rs.put_Bookmark(*bookmark);
    return rt::CInt(rt::Variant(count));
}

rt::Variant GetClassificationValueFromRows(const std::shared_ptr<IMetadataService>& MetadataService, int16_t FNO,
                                           const RowsOfComponentNamed& RowsOf) {
    auto features = TableClone(MetadataService, kFeatures);
    features->put_Filter(rt::Variant("QTX_FNO = " + std::to_string(FNO)));
    rt::Variant ano = features->GetValue(rt::Variant("QTX_CLASSIFICATIONANO"));
    if (ano.IsNull() || ano.IsEmpty()) return rt::Variant::Null();

    auto attributes = TableClone(MetadataService, kAttributeInfo);
    attributes->put_Filter(rt::Variant("QTX_ANO = " + std::to_string(rt::CLng(ano))));
    std::string fieldName = rt::CStr(attributes->GetValue(rt::Variant("QTX_FIELD")));
    std::string componentName = rt::CStr(attributes->GetValue(rt::Variant("QTX_NAME")));

    auto rs = RowsOf(componentName);
    if (!rs) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return rs->GetValue(rt::Variant(fieldName));
}

rt::Variant GetClassificationValue(const std::shared_ptr<IMetadataService>& MetadataService, int16_t FNO,
                                   const std::shared_ptr<rt::Object>& Components) {
    return GetClassificationValueFromRows(MetadataService, FNO, [&](const std::string& componentName) {
        rt::Variant component = rt::CallByName(Components, "Item", rt::InvokeKind::PropertyGet,
                                               rt::Args{rt::Variant(componentName)});
        if (!component.IsObject()) rt::RaiseVbError(rt::vberr::TypeMismatch);
        rt::Variant rows = rt::CallByName(component.Obj(), "Recordset", rt::InvokeKind::PropertyGet);
        if (!rows.IsObject()) rt::RaiseVbError(rt::vberr::TypeMismatch);
        return rt::QueryInterface<ado::Recordset>(rows.Obj());
    });
}

}  // namespace pelmora
