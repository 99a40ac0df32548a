// The six station checks of a feature whose station values are complete, and
// the statements and station-service questions they are made of. Each check
// ends at its first failure without a row for it; the rows recorded before
// stay. Ids are written as quoted literals; measures as the runtime writes a
// Double; all comparisons are exact.
#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/dimensioning_stationing/Stationing.h"
#include "pelmora/dimensioning_stationing/StationingValues.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/KeyObject.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

std::string N(double x) { return rt::CStr(rt::Variant(x)); }

// The id as the series statements compare it: trimmed, upper-cased, quoted.
std::string UT(const std::string& id) { return QuotedLiteral(rt::UCase(rt::Trim(id))); }

// The id as read, quoted.
std::string Q(const std::string& id) { return QuotedLiteral(id); }

}  // namespace

void Stationing::RunStationChecks(const StationingValues& values, const std::shared_ptr<ado::Recordset>& Errors) {
    using Check = void (Stationing::*)(const StationingValues&, const std::shared_ptr<ado::Recordset>&);
    static constexpr struct {
        const char* name;
        Check check;
    } kChecks[] = {
        {"ValidateStationSeries", &Stationing::ValidateStationSeries},
        {"CheckStationInSeries", &Stationing::CheckStationInSeries},
        {"CheckOverlaps", &Stationing::CheckOverlaps},
        {"ValidateBeginStation", &Stationing::ValidateBeginStation},
        {"ValidateEndStation", &Stationing::ValidateEndStation},
        {"CheckGaps", &Stationing::CheckGaps},
    };
    for (const auto& c : kChecks) {
        try {
            (this->*c.check)(values, Errors);
        } catch (const std::exception& e) {
            Trace(c.name, e.what());
        }
    }
}

bool Stationing::IsEmptyResult(const std::string& sql) {
    auto rs = dataContext_->OpenRecordset(sql);
    return !rs || (rs->get_BOF() && rs->get_EOF());
}

bool Stationing::HasCharacteristic(int32_t code) {
    const rt::Variant answer = rt::CallByName(stationService_, "IsFNOCharacteristic", rt::InvokeKind::Method,
                                              {rt::Variant(int32_t{feature_->get_FNO()}), rt::Variant(code)});
    return !answer.IsNull() && rt::CBool(answer);
}

std::string Stationing::CharacteristicList(int32_t code) {
    return rt::CStr(rt::CallByName(stationService_, "GetListOfFNOsByStationCharacteristic", rt::InvokeKind::Method,
                                   {rt::Variant(code)}));
}

std::string Stationing::PIFNO() {
    return std::to_string(rt::CLng(rt::CallByName(stationService_, "GetPIFNO", rt::InvokeKind::Method)));
}

std::string Stationing::SSFNO() {
    return std::to_string(rt::CLng(rt::CallByName(stationService_, "GetSSFNO", rt::InvokeKind::Method)));
}

std::string Stationing::GetPIFeatureName() { return GetFeatureUserName(MetadataService(), rt::CInt(rt::Variant(PIFNO()))); }

std::string Stationing::GetSSFeatureName() { return GetFeatureUserName(MetadataService(), rt::CInt(rt::Variant(SSFNO()))); }

std::string Stationing::GetArcFeatureName() {
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item("QTX_CHARACTERISTIC"), rt::Variant("10"));
    return GetFeatureUserName(MetadataService(), rt::CInt(ruleTable_->GetValue(rt::Variant("QTX_FNO"))));
}

bool Stationing::IsPIStation(const std::string& id, double measure) {
    try {
        return !IsEmptyResult("select * from " + stationTable_ + " where ((" + bssField_ + " = " + UT(id) + " and " +
                              bmsField_ + " = " + N(measure) + ") or (" + essField_ + " = " + UT(id) + " and " +
                              emsField_ + " = " + N(measure) + ")) and QTX_FNO = " + PIFNO());
    } catch (const std::exception&) {
        return false;
    }
}

bool Stationing::IsKnownStationSeries(const std::string& id) {
    try {
        rt::CallByName(stationService_, "GetLineIDFromSS", rt::InvokeKind::Method, {rt::Variant(id)});
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void Stationing::GetStationSeriesRange(const std::string& id, double& begin, double& end) {
    begin = end = -1;
    try {
        auto rs = dataContext_->OpenRecordset("select * from " + stationTable_ + " where " + bssField_ + " = " + Q(id) +
                                              " and " + essField_ + " = " + Q(id) + " and QTX_FNO = " + SSFNO());
        if (!rs || (rs->get_BOF() && rs->get_EOF())) return;
        rs->MoveFirst();
        begin = rt::CDbl(rs->GetValue(rt::Variant(bmsField_)));
        end = rt::CDbl(rs->GetValue(rt::Variant(emsField_)));
    } catch (const std::exception& e) {
        Trace("GetStationSeriesRange", e.what());
    }
}

void Stationing::ValidateStationSeries(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors) {
    if (HasCharacteristic(1)) {
        if (!IsPIStation(v.BSSID, v.BMS)) AddError(21447, Errors, GetPIFeatureName(), bmsUserName_);
        if (!IsPIStation(v.ESSID, v.EMS)) AddError(21448, Errors, GetPIFeatureName(), emsUserName_);
    }
    if (v.BSSID != v.ESSID) {
        auto line = [&](const std::string& id) {
            return rt::CStr(rt::CallByName(stationService_, "GetLineIDFromSS", rt::InvokeKind::Method, {rt::Variant(id)}));
        };
        if (line(v.BSSID) != line(v.ESSID)) AddError(21067, Errors, GetSSFeatureName());
        const rt::Variant r = rt::CallByName(stationService_, "CompareStations", rt::InvokeKind::Method,
                                             {rt::Variant(v.BSSID), rt::Variant(int16_t{0}), rt::Variant(v.ESSID),
                                              rt::Variant(int16_t{0})});
        if (rt::CLng(r) == 1) AddError(22170, Errors, essUserName_, bssUserName_);
    } else if (!IsKnownStationSeries(v.BSSID)) {
        AddError(22169, Errors, GetSSFeatureName());
    }
}

void Stationing::CheckStationInSeries(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors) {
    if (v.BSSID != v.ESSID && !HasCharacteristic(8)) AddError(21071, Errors);
    if (IsEmptyResult("select * from " + stationTable_ + " where " + bssField_ + " = " + UT(v.BSSID) + " and " +
                      bmsField_ + " <= " + N(v.BMS) + " and " + emsField_ + " >= " + N(v.BMS) +
                      " and QTX_FNO = " + SSFNO()))
        AddError(21072, Errors);
    if (v.BMS != v.EMS &&
        IsEmptyResult("select * from " + stationTable_ + " where " + essField_ + " = " + UT(v.ESSID) + " and " +
                      bmsField_ + " <= " + N(v.EMS) + " and " + emsField_ + " >= " + N(v.EMS) +
                      " and QTX_FNO = " + SSFNO()))
        AddError(21073, Errors);
    const rt::Variant r =
        rt::CallByName(stationService_, "CompareStations", rt::InvokeKind::Method,
                       {rt::Variant(v.BSSID), rt::Variant(v.BMS), rt::Variant(v.ESSID), rt::Variant(v.EMS)});
    if (rt::CLng(r) == 1) AddError(22171, Errors, emsUserName_, bmsUserName_);
}

void Stationing::CheckOverlaps(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors) {
    if (HasCharacteristic(5)) FindOverlappingFeatures(v, Errors);
    else if (HasCharacteristic(4)) FindOverlappingFeaturesOfFNO(v, Errors);
}

void Stationing::RunOverlapStatements(const StationingValues& v, const std::string& in, const std::string& exclusion,
                                      const int16_t (&ids)[3], const std::shared_ptr<ado::Recordset>& Errors) {
    const std::string from = "select * from " + stationTable_ + " where ";
    const std::string extent = " and " + bmsField_ + " <> " + emsField_;
    if (!IsEmptyResult(from + bssField_ + " = " + UT(v.BSSID) + extent + " and " + emsField_ + " > " + N(v.BMS) +
                       " and " + emsField_ + " <= " + N(v.EMS) + in + exclusion))
        AddError(ids[0], Errors, bmsUserName_);
    // Emptiness alone decides: a forward-only result counts no rows.
    if (v.BMS != v.EMS &&
        !IsEmptyResult(from + essField_ + " = " + UT(v.ESSID) + extent + " and " + bmsField_ + " < " + N(v.EMS) +
                       " and " + bmsField_ + " >= " + N(v.BMS) + in + exclusion))
        AddError(ids[1], Errors, emsUserName_);
    if (!IsEmptyResult(from + bssField_ + " = " + UT(v.BSSID) + " and " + essField_ + " = " + UT(v.ESSID) + " and " +
                       bmsField_ + " < " + N(v.BMS) + " and " + emsField_ + " > " + N(v.EMS) + in + exclusion))
        AddError(ids[2], Errors);
}

void Stationing::FindOverlappingFeatures(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors) {
    const std::string fno = std::to_string(feature_->get_FNO());
    const std::string fid = std::to_string(feature_->get_FID());
    std::string in;
    std::string exclusion;
    if (HasCharacteristic(19)) {
        in = " and QTX_FNO in (" + fno + ")";
        exclusion = " and QTX_FNO <> " + fno;
    } else {
        const std::string l5 = CharacteristicList(5);
        if (l5.empty()) {
            // "in ()" is refused by the database; without candidates there is nothing to find.
            Trace("FindOverlappingFeatures", "no feature number has characteristic 5");
            return;
        }
        const std::string l19 = CharacteristicList(19);
        in = " and QTX_FNO in (" + l5 + ")";
        if (!l19.empty()) exclusion = " and QTX_FNO not in (" + l19 + ")";
    }
    exclusion += " and QTX_FID <> " + fid;
    RunOverlapStatements(v, in, exclusion, {21074, 21075, 21076}, Errors);
}

void Stationing::FindOverlappingFeaturesOfFNO(const StationingValues& v,
                                              const std::shared_ptr<ado::Recordset>& Errors) {
    if (HasCharacteristic(7)) return;
    RunOverlapStatements(v, " and QTX_FNO in (" + std::to_string(feature_->get_FNO()) + ")",
                         " and QTX_FID <> " + std::to_string(feature_->get_FID()), {21948, 21949, 21950}, Errors);
}

void Stationing::ValidateBeginStation(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors) {
    if (HasCharacteristic(6) && v.BSSID == v.ESSID && (v.Length == 0 || v.BMS == v.EMS)) AddError(21069, Errors);
    if (HasCharacteristic(9) && (v.BSSID != v.ESSID || v.Length != 0 || v.BMS != v.EMS)) AddError(21070, Errors);
}

void Stationing::ValidateEndStation(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors) {
    if (!HasCharacteristic(10)) return;
    if (!IsArcGeometryFeature()) AddError(21461, Errors, GetArcFeatureName());
    if (!IsPIStation(v.BSSID, v.BMS)) AddError(21447, Errors, GetPIFeatureName(), bmsUserName_);
    if (!IsPIStation(v.ESSID, v.EMS)) AddError(21448, Errors, GetPIFeatureName(), emsUserName_);
}

bool Stationing::IsArcGeometryFeature() {
    try {
        FilterService().FilterRecordset(features_, features_->get_Fields()->Item("QTX_FNO"),
                                        rt::Variant(feature_->get_FNO()));
        const int16_t cno = rt::CInt(features_->GetValue(rt::Variant("QTX_PRIMARYGEOGRAPHICCNO")));
        auto component = FeatureComponent(feature_, GetComponentName(MetadataService(), cno));
        auto rs = component->get_Recordset();
        if (rs->get_BOF() && rs->get_EOF()) return false;
        rs->MoveFirst();
        auto geometry = component->get_Geometry();
        if (rt::CLng(rt::CallByName(geometry, "Count", rt::InvokeKind::PropertyGet)) != 1) return false;
        auto item = rt::CallByName(geometry, "Item", rt::InvokeKind::Method, {rt::Variant(int32_t{1})});
        return rt::CStr(rt::CallByName(item.Obj(), "Type", rt::InvokeKind::PropertyGet)) == "ArcGeometry";
    } catch (const std::exception&) {
        return false;
    }
}

void Stationing::CheckGaps(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors) {
    if (HasCharacteristic(1)) CheckSeriesGaps(v, Errors);
    else if (HasCharacteristic(5)) CheckAdjacentStations(v, Errors);
}

void Stationing::CheckSeriesGaps(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors) {
    const std::string l5 = CharacteristicList(5);
    if (l5.empty()) {
        Trace("CheckSeriesGaps", "no feature number has characteristic 5");
        return;
    }
    const std::string T = stationTable_;
    const std::string in = " and QTX_FNO in (" + l5 + ")";
    if (IsEmptyResult("select * from " + T + " where  ((" + bssField_ + " = " + Q(v.BSSID) + " and " + bmsField_ +
                      " >= " + N(v.BMS) + ") or  (" + essField_ + " = " + Q(v.ESSID) + " and " + emsField_ +
                      " <= " + N(v.EMS) + "))" + in)) {
        AddError(21902, Errors, GetSSFeatureName());
        return;
    }
    const std::string a = "select * from " + T + " A  where A." + bssField_ + " = " + Q(v.BSSID) + " and A.";
    const std::string b = " AND NOT EXISTS  (select 'X' from " + T + " B  where A.";
    if (!IsEmptyResult(a + bmsField_ + " <> " + N(v.BMS) + in + b + bssField_ + " = B." + essField_ + " and A." +
                       bmsField_ + " = B." + emsField_ + ")"))
        AddError(21838, Errors, GetSSFeatureName(), bmsUserName_);
    if (!IsEmptyResult(a + emsField_ + " <> " + N(v.EMS) + in + b + essField_ + " = B." + bssField_ + " and A." +
                       emsField_ + " = B." + bmsField_ + ")"))
        AddError(21838, Errors, GetSSFeatureName(), emsUserName_);
}

void Stationing::CheckAdjacentStations(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors) {
    double lo = -1;
    double hi = -1;
    GetStationSeriesRange(v.BSSID, lo, hi);
    const std::string l5 = CharacteristicList(5);
    if (l5.empty()) {
        Trace("CheckAdjacentStations", "no feature number has characteristic 5");
        return;
    }
    const std::string from = "select * from " + stationTable_ + " where  (";
    const std::string in = ") and QTX_FNO in (" + l5 + ")";
    if (v.BMS != lo &&
        IsEmptyResult(from + essField_ + " = " + Q(v.BSSID) + " and " + emsField_ + " = " + N(v.BMS) + in))
        AddError(21815, Errors, bmsUserName_);
    if (v.EMS != hi &&
        IsEmptyResult(from + bssField_ + " = " + Q(v.ESSID) + " and " + bmsField_ + " = " + N(v.EMS) + in))
        AddError(21816, Errors, emsUserName_);
}

}  // namespace pelmora
