// The attribute checks of one component: required values, foreign keys,
// domains and the functional validation interfaces of its attributes.
#include <charconv>
#include <optional>

#include "ado/Recordset.h"
#include "pelmora/common/NullOrEmpty.h"
#include "pelmora/common/RowWalk.h"
#include "pelmora/common/modADOUtils.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/extensions/FunctionalInterfaceBridge.h"
#include "pelmora/features/ComponentService.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/FunctionalInterface.h"
#include "interfaces/MetadataService.h"
#include "interfaces/Varsk1.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "pelmora/validation/FeatureValidationService.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "runtime/Error.h"
#include "runtime/SqlName.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr int16_t kForeignKeyMessage = 25077;
constexpr int16_t kDomainMessage = 25078;
constexpr int16_t kRequiredValueMessage = 25088;
constexpr int16_t kCreateInterfaceMessage = 27081;
constexpr int16_t kValidateInterfaceMessage = 27082;
constexpr int16_t kRecordInterfaceMessage = 27083;
constexpr int16_t kPrepareInterfaceMessage = 27084;

// ADO's adOpenStatic, adLockReadOnly and adCmdUnknown.
constexpr int32_t kStaticCursor = 3;
constexpr int32_t kReadOnlyLock = 1;
constexpr int32_t kUnknownCommand = 8;

std::string Text(const rt::Variant& v) { return v.IsNull() || v.IsEmpty() ? std::string() : rt::CStr(v); }

bool IsTextType(ado::DataTypeEnum type) {
    switch (type) {
        case ado::adBSTR:
        case ado::adChar:
        case ado::adWChar:
        case ado::adVarChar:
        case ado::adLongVarChar:
        case ado::adVarWChar:
        case ado::adLongVarWChar:
            return true;
        default:
            return false;
    }
}

// The value as a literal of a filter text: quoted for a text field (or a
// text value), a date in #m/d/yyyy hh:mm:ss#, Booleans and numbers in their
// invariant number form.
std::string FilterLiteral(ado::DataTypeEnum fieldType, const rt::Variant& value) {
    if (IsTextType(fieldType) || value.BaseType() == rt::vbString) return QuotedLiteral(rt::CStr(value));
    if (value.BaseType() == rt::vbDate) return "#" + rt::FormatDate(value.DateValue(), "mm/dd/yyyy hh:mm:ss") + "#";
    if (value.BaseType() == rt::vbBoolean) return value.Bool() ? "-1" : "0";
    return rt::CStr(value);
}

// The value as part of a key of the run's lookups, exact for every value a
// key or domain column holds; nullopt for a kind that is looked up each time.
std::optional<std::string> LookupKey(const rt::Variant& value) {
    switch (value.BaseType()) {
        case rt::vbString:
            return "s" + value.Str();
        case rt::vbInteger:
        case rt::vbLong:
        case rt::vbByte:
            return "i" + std::to_string(rt::CLng(value));
        case rt::vbBoolean:
            return value.Bool() ? "b1" : "b0";
        case rt::vbSingle:
        case rt::vbDouble:
        case rt::vbDate: {
            char text[32];
            const double number = value.BaseType() == rt::vbDate ? value.DateValue() : value.R8();
            auto end = std::to_chars(text, text + sizeof text, number).ptr;
            return (value.BaseType() == rt::vbDate ? "d" : "r") + std::string(text, end);
        }
        case rt::vbDecimal:
            return "m" + rt::CStr(value);
        default:
            return std::nullopt;
    }
}

std::string Joined(const std::string& a, const std::string& b, const std::string& c) {
    return a + '\x1f' + b + '\x1f' + c;
}

}  // namespace

void FeatureValidationService::AddRowFinding(const std::shared_ptr<ado::Recordset>& Errors,
                                             const std::shared_ptr<ado::Recordset>& Rows,
                                             const std::string& Description, const std::string& Location) {
    AddFinding(Errors, Description, Location, Text(ValueOf(Rows, "QTX_FNO")), Text(ValueOf(Rows, "QTX_FID")),
               Text(ValueOf(Rows, "QTX_CNO")), Text(ValueOf(Rows, "QTX_CID")));
}

void FeatureValidationService::ValidateComponent(const std::shared_ptr<IComponent>& Component,
                                                 const std::shared_ptr<ado::Recordset>& ComponentRows,
                                                 const std::shared_ptr<ComponentService>& Service,
                                                 const std::string& ComponentName,
                                                 const std::shared_ptr<ado::Recordset>& AttributeInfo,
                                                 const std::shared_ptr<ado::Recordset>& Errors) {
    if (ComponentRows->get_RecordCount() <= 0) return;
    const std::vector<AttributeCheck>& Checks = AttributeChecks(AttributeInfo, ValueOf(ComponentRows, "QTX_CNO"));
    if (Checks.empty()) return;
    // The walk visits the rows the component had when its checks began, each
    // once per attribute. A functional interface may add occurrences to this
    // component (or move its rows, as selecting it does): walked to EOF, the
    // rows would never end. A row added meanwhile is the run's to leave
    // alone: it is a pending edit, checked by the next validation. A row
    // deleted meanwhile has nothing left to check.
    const std::vector<rt::Variant> Bookmarks = RowBookmarks(*ComponentRows);
    auto standOn = [&ComponentRows](const rt::Variant& bookmark) { return StandOnRow(*ComponentRows, bookmark); };
    for (const AttributeCheck& Check : Checks) {
        for (const rt::Variant& bookmark : Bookmarks) {
            if (Check.Functional && !Check.InterfaceName.empty() && standOn(bookmark))
                RunFunctionalValidation(ComponentRows, ComponentName, Check, Service, Errors);
            if (Check.Required && standOn(bookmark)) ValidateComponentAttributes(Component, ComponentRows, Check, Errors);
        }
    }
}

const std::vector<FeatureValidationService::AttributeCheck>& FeatureValidationService::AttributeChecks(
    const std::shared_ptr<ado::Recordset>& AttributeInfo, const rt::Variant& CNO) {
    const std::string key = Text(CNO);
    if (auto known = Lookups().attributes.find(key); known != Lookups().attributes.end()) return known->second;
    std::vector<AttributeCheck> checks;
    FilterService().FilterRecordset(AttributeInfo, AttributeInfo->get_Fields()->Item("QTX_CNO"), CNO);
    if (!(AttributeInfo->get_BOF() && AttributeInfo->get_EOF())) {
        for (AttributeInfo->MoveFirst(); !AttributeInfo->get_EOF(); AttributeInfo->MoveNext()) {
            AttributeCheck Check;
            CheckForeignKeyMetadata(AttributeInfo, Check);
            const rt::Variant functional = ValueOf(AttributeInfo, "QTX_FUNCTIONALVALIDATION");
            Check.Functional = !IsNullOrEmptyText(ValueOf(AttributeInfo, "QTX_INTERFACE")) &&
                               !IsNullOrEmptyText(functional) && rt::CBool(functional);
            if (Check.Functional) {
                const rt::Variant project = ValueOf(AttributeInfo, "QTX_PRJNO");
                Check.ProjectNumber = IsNullOrEmptyText(project) ? 0 : rt::CLng(project);
                Check.InterfaceName = Text(ValueOf(AttributeInfo, "QTX_INTERFACE"));
                varsk1::ConvertBlobToArray(ValueOf(AttributeInfo, "QTX_INTERFACEARGUMENT"), Check.ArgumentArray);
                Check.FunctionalType = Text(ValueOf(AttributeInfo, "QTX_FUNCTIONALTYPE"));
            }
            Check.FieldName = Text(ValueOf(AttributeInfo, "QTX_FIELD"));
            const rt::Variant ano = ValueOf(AttributeInfo, "QTX_ANO");
            Check.ANO = IsNullOrEmptyText(ano) ? 0 : rt::CLng(ano);
            Check.AttributeUserName = Text(ValueOf(AttributeInfo, "QTX_USERNAME"));
            checks.push_back(std::move(Check));
        }
    }
    return Lookups().attributes.emplace(key, std::move(checks)).first->second;
}

const std::string& FeatureValidationService::ComponentUserName(int16_t CNO) {
    auto known = Lookups().userNames.find(CNO);
    if (known == Lookups().userNames.end())
        known = Lookups().userNames.emplace(CNO, GetComponentUserName(Lookups().metadata, CNO)).first;
    return known->second;
}

void FeatureValidationService::CheckForeignKeyMetadata(const std::shared_ptr<ado::Recordset>& AttributeInfo,
                                                       AttributeCheck& Check) {
    const rt::Variant required = ValueOf(AttributeInfo, "QTX_REQUIRED");
    if (!IsNullOrEmptyText(required)) Check.Required = rt::CBool(required);
    // The names go into SQL and filter texts as they stand.
    auto plain = [&](const std::string& column, const std::string& name, bool qualified) {
        if (qualified ? rt::IsQualifiedSqlName(name) : rt::IsSqlIdentifier(name)) return name;
        RaiseError(1, kForeignKeyValidationSource,
                   rt::Variant(column + " of attribute " + Text(ValueOf(AttributeInfo, "QTX_USERNAME")) +
                               " is not a plain name: " + name));
    };
    if (!IsNullOrEmptyText(ValueOf(AttributeInfo, "QTX_FOREIGNKEYTABLE"))) {
        if (IsNullOrEmptyText(ValueOf(AttributeInfo, "QTX_FOREIGNKEYFIELD")))
            RaiseError(1, kForeignKeyValidationSource, rt::Variant("QTX_FOREIGNKEYFIELD is null"));
        Check.CheckForeignKey = true;
        Check.ForeignKeyTable = plain("QTX_FOREIGNKEYTABLE", Text(ValueOf(AttributeInfo, "QTX_FOREIGNKEYTABLE")), true);
        Check.ForeignKeyField =
            plain("QTX_FOREIGNKEYFIELD", Text(ValueOf(AttributeInfo, "QTX_FOREIGNKEYFIELD")), false);
    } else if (!IsNullOrEmptyText(ValueOf(AttributeInfo, "QTX_DOMAINTABLE"))) {
        if (IsNullOrEmptyText(ValueOf(AttributeInfo, "QTX_DOMAINFIELD")))
            RaiseError(1, kForeignKeyValidationSource, rt::Variant("QTX_DOMAINFIELD is null"));
        Check.CheckDomain = true;
        Check.DomainTable = plain("QTX_DOMAINTABLE", Text(ValueOf(AttributeInfo, "QTX_DOMAINTABLE")), true);
        Check.DomainField = plain("QTX_DOMAINFIELD", Text(ValueOf(AttributeInfo, "QTX_DOMAINFIELD")), false);
    }
}

void FeatureValidationService::ValidateComponentAttributes(const std::shared_ptr<IComponent>& Component,
                                                           const std::shared_ptr<ado::Recordset>& ComponentRows,
                                                           const AttributeCheck& Check,
                                                           const std::shared_ptr<ado::Recordset>& Errors) {
    // Named only in a finding.
    auto componentUserName = [&] { return ComponentUserName(rt::CInt(ValueOf(ComponentRows, "QTX_CNO"))); };
    rt::Variant value;
    bool missing;
    if (Check.FieldName == "QTX_GEOMETRY") {
        missing = Component->get_Geometry() == nullptr;
    } else {
        const int32_t field = ComponentRows->FieldIndex(Check.FieldName);
        if (field < 0) {
            // The metadata names a column the component does not have: the
            // run stops with the attribute and component named.
            throw rt::ComError(ado::err::ItemNotFound, "ADODB.Fields",
                               "Item cannot be found in the collection corresponding to the requested name or "
                               "ordinal. The attribute " +
                                   Check.AttributeUserName + " (ANO " + std::to_string(Check.ANO) +
                                   ") of component " + componentUserName() + " (" + Component->get_Name() +
                                   ") names the field \"" +
                                   Check.FieldName + "\", which the component does not have.");
        }
        value = ComponentRows->FieldValue(field);
        missing = value.IsNull() || value.IsEmpty();
    }
    if (missing) {
        AddRowFinding(Errors, ComponentRows,
                      LoadResStringWithParams(kRequiredValueMessage, Check.AttributeUserName, componentUserName()), "");
        return;
    }
    if (Check.CheckForeignKey) {
        if (!DatabaseHasValue(Check.ForeignKeyTable, Check.ForeignKeyField, value))
            AddRowFinding(Errors, ComponentRows,
                          LoadResStringWithParams(kForeignKeyMessage, Check.AttributeUserName, componentUserName(),
                                                  Check.ForeignKeyField, Check.ForeignKeyTable),
                          "");
    } else if (Check.CheckDomain) {
        if (!DomainHasValue(ComponentRows, Check, value))
            AddRowFinding(Errors, ComponentRows,
                          LoadResStringWithParams(kDomainMessage, Check.AttributeUserName, componentUserName(),
                                                  Check.DomainField, Check.DomainTable),
                          "");
    }
}

bool FeatureValidationService::DomainHasValue(const std::shared_ptr<ado::Recordset>& ComponentRows,
                                              const AttributeCheck& Check, const rt::Variant& Value) {
    auto published = Lookups().published.find(Check.DomainTable);
    if (published == Lookups().published.end()) {
        auto Picklist = MetadataTable("QTX_PICKLIST_OPTABLE");
        Picklist->put_Filter(
            rt::Variant("QTX_TABLE = " + QuotedLiteral(Check.DomainTable) + " AND QTX_PUBLISH = 1"));
        published = Lookups().published.emplace(Check.DomainTable, !(Picklist->get_BOF() && Picklist->get_EOF())).first;
    }
    if (!published->second) return DatabaseHasValue(Check.DomainTable, Check.DomainField, Value);
    const ado::DataTypeEnum type = ComponentRows->get_Fields()->Item(Check.FieldName)->get_Type();
    const std::string criteria = Check.DomainField + " = " + FilterLiteral(type, Value);
    const std::string key = Joined(Check.DomainTable, criteria, "");
    if (auto known = Lookups().found.find(key); known != Lookups().found.end()) return known->second;
    auto& Domain = Lookups().domains[Check.DomainTable];
    if (!Domain) Domain = MetadataTable(Check.DomainTable);
    Domain->put_Filter(rt::Variant(criteria));
    const bool found = !(Domain->get_BOF() && Domain->get_EOF());
    Lookups().found.emplace(key, found);
    return found;
}

bool FeatureValidationService::DatabaseHasValue(const std::string& Table, const std::string& Field,
                                                const rt::Variant& Value) {
    const auto valueKey = LookupKey(Value);
    const std::string key = valueKey ? Joined(Table, Field, *valueKey) : std::string();
    if (valueKey)
        if (auto known = Lookups().found.find(key); known != Lookups().found.end()) return known->second;
    rt::Variant parameters = rt::Variant::ArrayOf({Value});
    const auto& context = Lookups().dataContext;
    if (!context) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto rows = context->OpenParameterizedQuery("SELECT * FROM " + Table + " WHERE " + Field + " = ?",
                                                     kStaticCursor, kReadOnlyLock, kUnknownCommand, parameters);
    const bool found = !(rows->get_BOF() && rows->get_EOF());
    if (valueKey) Lookups().found.emplace(key, found);
    return found;
}

void FeatureValidationService::RunFunctionalValidation(const std::shared_ptr<ado::Recordset>& ComponentRows,
                                                       const std::string& ComponentName, const AttributeCheck& Check,
                                                       const std::shared_ptr<ComponentService>& Service,
                                                       const std::shared_ptr<ado::Recordset>& Errors) {
    const std::string& name = Check.InterfaceName;
    std::shared_ptr<IFunctionalInterface> Interface;
    try {
        if (Check.ProjectNumber != 0 || rt::InStr(name, ":") > 0) {
            auto bridge = std::make_shared<FunctionalInterfaceBridge>();
            bridge->Initialize(Check.ProjectNumber, Check.ProjectNumber != 0 ? std::string() : name);
            Interface = bridge;
        } else {
            Interface = rt::QueryInterface<IFunctionalInterface>(rt::CreateObject(name));
        }
    } catch (const rt::ComError&) {
        AddRowFinding(Errors, ComponentRows, LoadResStringWithParams(kCreateInterfaceMessage, name), name);
        return;
    }
    rt::Variant PriorityArray = rt::Variant::ArrayOf({rt::Variant(std::string())}, 0, rt::vbString);
    rt::Variant ErrArray = rt::Variant::ArrayOf({rt::Variant(std::string())}, 0, rt::vbString);
    auto stage = [&](int16_t message, auto&& step) {
        try {
            step();
            return true;
        } catch (const rt::ComError& e) {
            AddRowFinding(Errors, ComponentRows, LoadResStringWithParams(message, name, e.Description()), name);
            return false;
        }
    };
    if (!stage(kPrepareInterfaceMessage, [&] {
            Interface->putref_DataContext(Lookups().dataContext);
            Interface->put_ArgumentArray(Check.ArgumentArray);
            Interface->put_ComponentName(ComponentName);
            Interface->put_FieldName(Check.FieldName);
            Interface->put_FunctionalType(Check.FunctionalType);
            Interface->putref_ComponentService(Service);
            Service->put_ComponentName(ComponentName);
        }))
        return;
    if (!stage(kValidateInterfaceMessage, [&] {
            const rt::Variant bookmark = ComponentRows->get_Bookmark();
            Interface->Validate(PriorityArray, ErrArray);
            ComponentRows->put_Bookmark(bookmark);
        }))
        return;
    stage(kRecordInterfaceMessage, [&] {
        AddErrorArraysToRecordset(ComponentRows, Errors, PriorityArray, ErrArray, name, Lookups().configuration);
    });
}

}  // namespace pelmora
