// Feature creation: new features of a feature number with new keys from the
// database's sequences, and every feature of a placement configuration.
#include <charconv>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "ado/Command.h"
#include "ado/Recordset.h"
#include "pelmora/common/TraceScope.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/Component.h"
#include "pelmora/features/Components.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "pelmora/features/modADOGlobal.h"
#include "pelmora/features/modFASCache.h"
#include "interfaces/DataContext.h"
#include "interfaces/MetadataRecordsetFilterService.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/modAttributeInfo.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kFile = "FeatureAssemblyService";
constexpr int16_t kMsgSource = 21982;
constexpr int16_t kMsgNoConfigurationRows = 23192;
constexpr int16_t kMsgNoFeatureNumber = 23775;
// What the sequence package can hand back in one call.
constexpr int32_t kSequenceOutputSize = 1000;

std::string MessageText(int16_t id) { return MessageObject()->GetMessageText(id, 0); }

bool HasRows(const std::shared_ptr<ado::Recordset>& rs) { return !(rs->get_BOF() && rs->get_EOF()); }

bool IsSet(int32_t options, int32_t bit) { return (options & bit) == bit; }

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// The k-th expression of a list joined by ", " (for messages only).
std::string ExpressionAt(const std::string& list, size_t k) {
    size_t start = 0;
    for (size_t i = 0; i < k; ++i) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) return "expression " + std::to_string(k + 1);
        start = comma + 1;
    }
    size_t comma = list.find(',', start);
    return Trim(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
}

// One value of the package's output as a key: a whole number that fits in
// 32 bits. Anything else fails plainly instead of handing out a wrong key.
int32_t SequenceValue(const std::string& text, const std::string& list, size_t k) {
    const std::string value = Trim(text);
    const std::string expression = ExpressionAt(list, k);
    if (value.empty())
        throw rt::ComError(rt::vberr::TypeMismatch, MessageText(kMsgSource),
                           "The sequence package gave no value for " + expression + ".");
    int64_t n = 0;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (ec == std::errc::result_out_of_range ||
        (ec == std::errc() && end == value.data() + value.size() &&
         (n > std::numeric_limits<int32_t>::max() || n < std::numeric_limits<int32_t>::min())))
        throw rt::ComError(rt::vberr::Overflow, MessageText(kMsgSource),
                           "The value " + value + " of " + expression + " does not fit in a 32-bit key.");
    if (ec != std::errc() || end != value.data() + value.size())
        throw rt::ComError(rt::vberr::TypeMismatch, MessageText(kMsgSource),
                           "The sequence package gave \"" + value + "\" for " + expression + ", which is no number.");
    return static_cast<int32_t>(n);
}

// One row of the feature's components as creation needs it.
struct NewComponentRow {
    int16_t CNO = 0;
    std::string table;
    bool required = false;
    std::shared_ptr<ado::Recordset> rowTemplate;
    std::shared_ptr<ado::Recordset> geometryTemplate;
};

// Required: a placement row of the component with QTX_REQUIRED 1 and no
// alternative component. The one rule serves both the key list and the rows,
// so that the keys line up with the rows created.
bool IsRequired(const std::shared_ptr<ado::Recordset>& placement, int16_t CNO) {
    if (!HasRows(placement)) return false;
    const rt::Variant cno(CNO);
    const rt::Variant one(int32_t{1});
    for (placement->MoveFirst(); !placement->get_EOF(); placement->MoveNext()) {
        if (!rt::VariantEquals(placement->GetValue(rt::Variant("QTX_CNO")), cno)) continue;
        if (rt::VariantEquals(placement->GetValue(rt::Variant("QTX_REQUIRED")), one) &&
            placement->GetValue(rt::Variant("QTX_ALTERNATEREQUIREDCNO")).IsNull())
            return true;
    }
    return false;
}

}  // namespace

std::shared_ptr<ado::Recordset> FeatureAssemblyService::GetSequenceValues(const std::string& sequenceList) {
    if (!dataContext_) RaiseNoDataContext();
    auto command = ado::Command::Create();
    command->put_CommandType(ado::adCmdText);
    auto input = command->CreateParameter("Prm", ado::adVarChar, ado::adParamInput, rt::Len(sequenceList),
                                          rt::Variant(sequenceList));
    command->get_Parameters()->Append(input);
    input->put_Value(rt::Variant(sequenceList));
    auto output = command->CreateParameter("OutPrm", ado::adVarChar, ado::adParamOutput, kSequenceOutputSize);
    command->get_Parameters()->Append(output);
    command->put_CommandText("{call QTX_GETSEQVAL.GETSEQVAL(?,?)}");
    rt::Variant recordsAffected;
    dataContext_->ExecuteCommand(command, recordsAffected);

    std::string text = rt::CStr(output->get_Value()) + ",";
    auto values = ado::Recordset::Create();
    values->get_Fields()->Append("COL1", ado::adBigInt, 0, ado::adFldUnspecified);
    values->Open(rt::Variant::Missing(), rt::Variant::Missing(), ado::adOpenUnspecified, ado::adLockUnspecified, -1);
    for (size_t k = 0; !text.empty(); ++k) {
        size_t comma = text.find(',');
        int32_t value = SequenceValue(text.substr(0, comma), sequenceList, k);
        values->AddNew();
        values->SetValue(rt::Variant("COL1"), rt::Variant(value));
        values->Update();
        text = text.substr(comma + 1);
    }
    values->MoveFirst();
    return values;
}

std::shared_ptr<IKeyObject> FeatureAssemblyService::NewFeature(int16_t FNO, int32_t Options) {
    TraceScope trace(kFile, "IFeatureAssemblyService_NewFeature");
    const bool createRequired = !IsSet(Options, qzfasIgnoreRequiredRecords);
    const bool fillDefaults = !IsSet(Options, qzfasIgnoreDatabaseDefaults);
    const bool assignKeys = !IsSet(Options, qzfasIgnoreQTXKeys);

    if (FNO == -1) RaiseError(1, MessageText(kMsgSource), rt::Variant(int32_t{kMsgNoFeatureNumber}));
    if (!dataContext_) RaiseNoDataContext();
    auto metadata = dataContext_->GetMetadataService();
    if (!metadata) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);

    // The two copies stay narrowed to the new feature's number: what a later
    // AssembleFeature reads.
    FilterByFeatureNumber(FNO);
    if (!HasRows(featureComponents_)) return nullptr;

    auto placement = TakeMetadataRecordset("QTX_FEATUREPLACEMENT_OPTABLE");
    FilterService().FilterRecordset(placement, placement->get_Fields()->Item("QTX_FNO"), rt::Variant(FNO), "");
    auto components = NewComponentsCollection(false);

    std::vector<NewComponentRow> rows;
    std::vector<int16_t> CNOs;
    std::string sequenceList;
    rows.reserve(static_cast<size_t>(featureComponents_->get_RecordCount()));
    for (featureComponents_->MoveFirst(); !featureComponents_->get_EOF(); featureComponents_->MoveNext()) {
        NewComponentRow row;
        row.CNO = rt::CInt(featureComponents_->GetValue(rt::Variant("QTX_CNO")));
        row.table = rt::CStr(featureComponents_->GetValue(rt::Variant("QTX_TABLE")));
        rt::Variant type = featureComponents_->GetValue(rt::Variant("QTX_TYPE"));
        const std::string key = "CNO" + std::to_string(row.CNO);
        row.rowTemplate = metadata->get_Recordsets()->get_Item(rt::Variant(key))->get_Recordset("", "");
        if (!rt::VariantEquals(type, rt::Variant(int32_t{1})))
            row.geometryTemplate = metadata->get_Recordsets()->get_Item(rt::Variant(key + "G"))->get_Recordset("", "");
        if (createRequired) {
            row.required = IsRequired(placement, row.CNO);
            if (row.required) sequenceList += ", " + row.table + "_SEQ.NextVal";
        }
        CNOs.push_back(row.CNO);
        rows.push_back(std::move(row));
    }

    CacheAttributeInfoByCNO(CNOs, metadata);

    int32_t FID = 0;
    std::shared_ptr<ado::Recordset> keys;
    if (assignKeys) {
        keys = GetSequenceValues("QTX_FID_SEQ.NextVal" + sequenceList);
        FID = rt::CLng(keys->GetValue(rt::Variant("COL1")));
        featureID_ = FID;
        keys->MoveNext();
    }

    auto attributeInfo = TakeMetadataRecordset("QTX_ATTRIBUTEINFO_OPTABLE");
    std::map<int16_t, std::shared_ptr<FieldInfoCollection>> descriptors;
    for (const auto& row : rows) {
        const auto& rowTemplate = row.rowTemplate;
        if (createRequired && row.required) {
            FilterService().FilterRecordset(attributeInfo, attributeInfo->get_Fields()->Item("QTX_CNO"),
                                            rt::Variant(row.CNO), "");
            rowTemplate->AddNew();
            if (fillDefaults) {
                auto fieldInfos = BuildFieldInfoCollection(attributeInfo);
                ApplyFieldDefaults(rowTemplate, fieldInfos, std::to_string(row.CNO) + " (" + row.table + ")");
                descriptors[row.CNO] = fieldInfos;
            }
            if (assignKeys) {
                rowTemplate->SetValue(rt::Variant("QTX_ID"), keys->GetValue(rt::Variant("COL1")));
                keys->MoveNext();
                rowTemplate->SetValue(rt::Variant("QTX_FNO"), rt::Variant(FNO));
                rowTemplate->SetValue(rt::Variant("QTX_FID"), rt::Variant(FID));
                rowTemplate->SetValue(rt::Variant("QTX_CNO"), rt::Variant(row.CNO));
                rowTemplate->SetValue(rt::Variant("QTX_CID"), rt::Variant(int16_t{1}));
            }
        }
        {
            // An empty template, or none for geometry, is no failure here.
            rt::ResumeNext resume;
            resume([&] { rowTemplate->MoveFirst(); });
            resume([&] {
                if (!row.geometryTemplate) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
                row.geometryTemplate->MoveFirst();
            });
        }
        components->AddComponentByRecordset(row.CNO, rowTemplate);
        auto component = rt::QueryInterface<Component>(components->get_Item(rt::Variant(components->get_Count())));
        if (auto kept = descriptors.find(row.CNO); kept != descriptors.end())
            component->putref_FieldInfoCollection(kept->second);
        if (row.geometryTemplate) component->putref_GeometryRecordset(row.geometryTemplate);
        component->put_SetDefaultValuesEnabled(fillDefaults);
        component->put_AutoAssignKeys(assignKeys);
        if (!HasRows(rowTemplate)) {
            component->AddFID(rt::Variant(FID));
        } else {
            rowTemplate->MoveFirst();
            component->AddNewFI();
        }
    }

    auto feature = KeyObject::New();
    feature->put_FNO(FNO);
    feature->put_FID(FID);
    feature->putref_Components(components);
    if (!IsSet(Options, qzfasIgnoreCache) && CachingEnabled()) {
        AddFeatureToCache(feature);
        AddComponentsToCache(feature->get_Components());
    }
    return feature;
}

std::shared_ptr<IKeyObjects> FeatureAssemblyService::NewPlacementConfiguration(int32_t PCNO) {
    TraceScope trace(kFile, "IFeatureAssemblyService_NewPlacementConfiguration");
    auto features = KeyObjects::New();
    if (!configPlacement_) RaiseNoDataContext();
    FilterService().FilterRecordset(configPlacement_, configPlacement_->get_Fields()->Item("QTX_PCNO"),
                                    rt::Variant(PCNO), "QTX_FNO, QTX_FEATUREINDEX");
    if (!HasRows(configPlacement_))
        throw rt::ComError(1, MessageText(kMsgSource), MessageText(kMsgNoConfigurationRows));

    int16_t lastFNO = 0;
    int32_t lastIndex = 0;
    const rt::Variant one(int32_t{1});
    for (configPlacement_->MoveFirst(); !configPlacement_->get_EOF(); configPlacement_->MoveNext()) {
        if (!rt::VariantEquals(configPlacement_->GetValue(rt::Variant("QTX_INCLUDEINPLACEMENT")), one)) continue;
        int16_t fno = rt::CInt(configPlacement_->GetValue(rt::Variant("QTX_FNO")));
        int32_t index = rt::CLng(configPlacement_->GetValue(rt::Variant("QTX_FEATUREINDEX")));
        if (fno == lastFNO && index == lastIndex) continue;
        auto feature = NewFeature(fno, qzfasIgnoreNone);
        // A feature number without components creates nothing to add.
        if (feature) features->Add(feature);
        lastFNO = fno;
        lastIndex = index;
    }
    return features;
}

}  // namespace pelmora
