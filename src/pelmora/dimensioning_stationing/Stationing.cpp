#include "pelmora/dimensioning_stationing/Stationing.h"

#include "ado/Recordset.h"
#include "pelmora/common/NullOrEmpty.h"
#include "pelmora/common/TraceScope.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/dimensioning_stationing/StationingValues.h"
#include "pelmora/features/ComponentClone.h"
#include "pelmora/common/FeatureComponents.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "interfaces/Trace.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "pelmora/relationships/ConnectivityNames.h"
#include "pelmora/relationships/FilterRemover.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kFile = "Stationing";
constexpr const char* kNamesSource = "Stationing.RelationshipNumber";

// A text value: Null or Empty, or the default's text when there is one, is none.
std::string TextOrNone(const rt::Variant& value, bool hasDefault, const std::string& defaultText) {
    if (IsNullOrEmpty(value)) return "-1";
    std::string text = rt::CStr(value);
    return hasDefault && text == defaultText ? "-1" : text;
}

double MeasureOrNone(const rt::Variant& value, bool hasDefault, const std::string& defaultText) {
    if (IsNullOrEmpty(value)) return -1;
    const std::string text = rt::CStr(value);
    return hasDefault && text == defaultText ? -1 : rt::CDbl(rt::Variant(text));
}

}  // namespace

void Stationing::Trace(const std::string& procedure, const std::string& text) {
    // A check skipped over a caught error is traced as caught errors are:
    // only when the mask asks for them.
    auto t = TraceObject();
    if (t && (t->GetTraceMask(0) & tracebits::Error) == tracebits::Error)
        t->TraceMessage(kTraceSubsystem, kFile, procedure, "Skipped", text, "");
}

StationingValues::StationingValues() { InitResources("PELMORA"); }

void Stationing::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    RelationshipHelperBase::putref_DataContext(DataContext);
    if (!DataContext) {
        stationService_.reset();
        return;
    }
    auto metadata = MetadataService();
    featureComps_ = TakeMetadataRecordset("QTX_FEATURECOMPS_OPTABLE");
    features_ = TakeMetadataRecordset("QTX_FEATURES_OPTABLE");
    parameters_ = TakeMetadataRecordset("QTX_ADD_REL_PARAMS_OPTABLE");
    attributeInfo_ = TakeMetadataRecordset("QTX_ATTRIBUTEINFO_OPTABLE");
    configuration_ = MetadataService()->get_Configuration();
    auto service = rt::CreateObject("Strandel.StationService");
    rt::CallByName(service, "DataContext", rt::InvokeKind::PropertySet, {rt::Variant(rt::ObjectPtrOf(DataContext))});
    stationService_ = service;
}

void Stationing::put_RelationshipNumber(int16_t RelationshipNumber) {
    RelationshipHelperBase::put_RelationshipNumber(RelationshipNumber);
    const int16_t cno = rt::CInt(RowValue("QTX_SUPPORTCNO"));
    stationComponent_ = GetComponentName(MetadataService(), cno);
    // The table and the fields go into the checks' query texts as they stand.
    stationTable_ = PlainTableName(GetComponentTable(MetadataService(), cno), kNamesSource);
    LoadStationingParameters();
    ruleTable_->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
}

void Stationing::LoadStationingParameters() {
    hasDefaultSeries_ = hasDefaultMeasure_ = hasDefaultLine_ = false;
    auto& rs = *parameters_;
    if (rs.get_BOF() && rs.get_EOF()) return;
    auto metadata = MetadataService();
    for (rs.MoveFirst(); !rs.get_EOF(); rs.MoveNext()) {
        const std::string name = rt::CStr(rs.GetValue(rt::Variant("QTX_PARAMNAME")));
        const rt::Variant raw = rs.GetValue(rt::Variant("QTX_PARAMVALUE"));
        const std::string value = rt::CStr(raw);
        auto ano = [&] { return rt::CLng(rt::Variant(value)); };
        auto field = [&] {
            return PlainColumnName(GetAttributeField(metadata, ano()), kNamesSource,
                                   "field of attribute " + GetAttributeUserName(metadata, ano()) + " (ANO " +
                                       std::to_string(ano()) + ", " + name + ")");
        };
        if (name == "StationingEventLineIDField") {
            lineField_ = field();
        } else if (name == "StationingBSSIDField") {
            bssField_ = field();
            bssUserName_ = GetAttributeUserName(metadata, ano());
        } else if (name == "StationingESSIDField") {
            essField_ = field();
            essUserName_ = GetAttributeUserName(metadata, ano());
        } else if (name == "StationingBMSField") {
            bmsField_ = field();
            bmsUserName_ = GetAttributeUserName(metadata, ano());
        } else if (name == "StationingEMSField") {
            emsField_ = field();
            emsUserName_ = GetAttributeUserName(metadata, ano());
        } else if (name == "StationingLengthField") {
            lengthField_ = field();
        } else if (name == "StationingDefaultSSID") {
            hasDefaultSeries_ = true;
            defaultSeries_ = value;
        } else if (name == "StationingDefaultMSID") {
            hasDefaultMeasure_ = true;
            defaultMeasure_ = value;
        } else if (name == "StationingDefaultLineID") {
            hasDefaultLine_ = true;
            defaultLine_ = value;
        }
    }
}

bool Stationing::IsStationedFNO(const rt::Variant& FNO) {
    FilterRemover remover(ruleTable_);
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item("QTX_FNO"), FNO);
    return ruleTable_->get_RecordCount() > 0;
}

bool Stationing::GetFeatureCharacteristic(int16_t FNO) {
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item("QTX_FNO"), rt::Variant(FNO));
    bool characteristic8 = false;
    for (; !ruleTable_->get_EOF(); ruleTable_->MoveNext())
        if (rt::CInt(ruleTable_->GetValue(rt::Variant("QTX_CHARACTERISTIC"))) == 8) characteristic8 = true;
    return characteristic8;
}

void Stationing::ReadStationValues(const std::shared_ptr<ado::Recordset>& station, StationingValues& values) const {
    if (station->get_BOF() || station->get_EOF()) {
        values.BSSID = values.ESSID = values.LineID = "-1";
        values.BMS = values.EMS = -1;
        return;
    }
    station->MoveFirst();
    auto field = [&](const std::string& name) { return station->GetValue(rt::Variant(name)); };
    values.BSSID = TextOrNone(field(bssField_), hasDefaultSeries_, defaultSeries_);
    values.ESSID = TextOrNone(field(essField_), hasDefaultSeries_, defaultSeries_);
    values.BMS = MeasureOrNone(field(bmsField_), hasDefaultMeasure_, defaultMeasure_);
    values.EMS = MeasureOrNone(field(emsField_), hasDefaultMeasure_, defaultMeasure_);
    const rt::Variant length = field(lengthField_);
    values.Length = IsNullOrEmpty(length) ? 0 : rt::CDbl(length);
    values.LineID = TextOrNone(field(lineField_), hasDefaultLine_, defaultLine_);
}

int16_t Stationing::CheckStationValues(StationingValues& values, bool characteristic8) {
    int16_t status;
    if (values.BSSID == "-1" || values.ESSID == "-1") status = 1;
    else if (values.BSSID != values.ESSID && !characteristic8) status = 1;
    else if (values.BMS > -1 && values.EMS > -1) status = 2;
    else if (values.BMS > -1) status = 3;
    else if (values.EMS > -1) status = 4;
    else status = 1;
    values.Status = status;
    return status;
}

void Stationing::AddError(int16_t id, const std::shared_ptr<ado::Recordset>& Errors, const std::string& name1,
                          const std::string& name2) {
    AddRelationshipValidationError(id, id, 1, name_, configuration_, std::to_string(feature_->get_FNO()),
                                   std::to_string(feature_->get_FID()), "", "", Errors, rt::Variant::Missing(), name1,
                                   name2, "", "");
}

void Stationing::Validate(const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<IComponents>& Components,
                          const std::shared_ptr<ado::Recordset>& ValidationSet, const std::shared_ptr<rt::Collection>&,
                          const std::shared_ptr<ado::Recordset>& Errors) {
    try {
        RequireObjects(ValidationSet);
        // A caller's own collection may answer Nothing.
        ComponentNamed(Components, stationComponent_)->get_Recordset();
        ValidationSet->MoveFirst();
    } catch (const std::exception&) {
        return;  // the station component is not among the components: nothing to validate
    }
    for (;;) {
        try {
            if (ValidationSet->get_EOF()) break;
        } catch (const std::exception& e) {
            Trace("Validate", e.what());
            break;
        }
        bool endOfPending = false;
        try {
            // Null is no 0: such a row is still a feature to validate.
            const auto order = rt::VbCompare(ValidationSet->GetValue(rt::Variant("PENDING")), rt::Variant(int32_t{0}));
            endOfPending = order && *order == 0;
            if (!endOfPending) {
                const rt::Variant fno = ValidationSet->GetValue(rt::Variant("QTX_FNO"));
                if (IsStationedFNO(fno)) {
                    const int32_t fid = rt::CLng(ValidationSet->GetValue(rt::Variant("QTX_FID")));
                    if (auto key = FindKeyObject(Features, rt::CInt(fno), fid)) ValidateFeature(key, Errors);
                }
            }
        } catch (const std::exception& e) {
            Trace("Validate", e.what());
        }
        if (endOfPending) break;
        try {
            ValidationSet->MoveNext();
        } catch (const std::exception& e) {
            Trace("Validate", e.what());
            break;
        }
    }
}

void Stationing::ValidateFeature(const std::shared_ptr<IKeyObject>& feature,
                                 const std::shared_ptr<ado::Recordset>& Errors) {
    if (!TakeFeature(feature)) return;
    const int16_t fno = feature->get_FNO();
    std::shared_ptr<IComponent> component;
    std::shared_ptr<ado::Recordset> station;
    // Values and rows are this feature's own: a feature whose row cannot be
    // read is skipped, never judged by the values of the one before.
    StationingValues values;
    bool readable = true;
    try {
        component = FeatureComponent(feature, stationComponent_);
        station = ComponentRowsOf(component);
        if (station->get_BOF() && station->get_EOF()) {
            AddError(21060, Errors);
            readable = false;
        } else {
            station->MoveFirst();
            ReadStationValues(station, values);
        }
    } catch (const std::exception& e) {
        Trace("Validate", "feature " + std::to_string(fno) + "/" + std::to_string(feature->get_FID()) +
                                        ": " + e.what());
        readable = false;
    }
    if (readable) {
        bool characteristic8 = false;
        try {
            characteristic8 = GetFeatureCharacteristic(fno);
        } catch (const std::exception& e) {
            Trace("GetFeatureCharacteristic", e.what());
        }
        try {
            switch (CheckStationValues(values, characteristic8)) {
                case 1: AddError(21064, Errors); break;
                case 3: AddError(21065, Errors); break;
                case 4: AddError(21066, Errors); break;
                default: RunStationChecks(values, Errors); break;
            }
        } catch (const std::exception& e) {
            Trace("Validate", e.what());
        }
    }
    if (auto clone = std::dynamic_pointer_cast<ComponentClone>(component)) {
        try {
            clone->ReleaseRecordset();
        } catch (const std::exception& e) {
            Trace("Validate", e.what());
        }
    }
}

}  // namespace pelmora
