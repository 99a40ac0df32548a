#include "product/StationService.h"

#include "ado/Recordset.h"
#include "interfaces/DataContext.h"
#include "interfaces/MetadataService.h"
#include "product/MetadataValue.h"
#include "runtime/Error.h"
#include "runtime/SqlName.h"
#include "runtime/Vb.h"

namespace product {

namespace {

constexpr const char* kSource = "Strandel.StationService";
// The service's own errors, above VB's base of object errors.
constexpr int32_t kUnknownSeries = rt::HResult(0x80040001u);
constexpr int32_t kBadMetadataName = rt::HResult(0x80040003u);

std::shared_ptr<ado::Recordset> Table(const std::shared_ptr<pelmora::IMetadataService>& metadata,
                                      const std::string& key) {
    return metadata->get_Recordsets()->get_Item(rt::Variant(key))->get_Recordset("", "");
}

bool IsEmpty(const std::shared_ptr<ado::Recordset>& rs) { return !rs || (rs->get_BOF() && rs->get_EOF()); }

// A table or field name the metadata gives for a number; it goes into the
// series query, so it must be a plain (a table: owner-qualified) name.
std::string MetadataName(pelmora::IMetadataService& metadata, const char* table, const char* keyColumn, int32_t key,
                         const char* valueColumn) {
    const rt::Variant name = MetadataValue(metadata, table, keyColumn, key, valueColumn);
    const std::string text = name.IsNull() || name.IsEmpty() ? std::string() : rt::CStr(name);
    if (!rt::IsQualifiedSqlName(text))
        throw rt::ComError(kBadMetadataName, kSource,
                           std::string(table) + " gives no usable " + valueColumn + " for " + keyColumn + " " +
                               std::to_string(key) + (text.empty() ? "." : ": \"" + text + "\"."));
    return text;
}

std::string AttributeField(pelmora::IMetadataService& metadata, const rt::Variant& ano) {
    return MetadataName(metadata, "QTX_ATTRIBUTEINFO_OPTABLE", "QTX_ANO", rt::CLng(ano), "QTX_FIELD");
}

std::string SeriesKey(const std::string& id) { return rt::UCase(rt::Trim(id)); }

void NeedArgs(const rt::Args& args, size_t count) {
    if (args.size() < count) rt::RaiseVbError(rt::vberr::ArgumentNotOptional);
}

}  // namespace

void StationService::putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& DataContext) {
    dataContext_ = DataContext;
    piFno_ = ssFno_ = 0;
    table_.clear();
    seriesField_.clear();
    endSeriesField_.clear();
    beginField_.clear();
    lineField_.clear();
    fnosByCharacteristic_.clear();
    if (!DataContext) return;
    auto metadata = DataContext->GetMetadataService();
    if (!metadata) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);

    auto params = Table(metadata, "QTX_ADD_REL_PARAMS_OPTABLE");
    if (!IsEmpty(params)) {
        for (params->MoveFirst(); !params->get_EOF(); params->MoveNext()) {
            const std::string name = rt::CStr(params->GetValue(rt::Variant("QTX_PARAMNAME")));
            const rt::Variant value = params->GetValue(rt::Variant("QTX_PARAMVALUE"));
            if (name == "StationingPIFNO") piFno_ = rt::CLng(value);
            else if (name == "StationingSSFNO") ssFno_ = rt::CLng(value);
            else if (name == "StationingBSSIDField") seriesField_ = AttributeField(*metadata, value);
            else if (name == "StationingESSIDField") endSeriesField_ = AttributeField(*metadata, value);
            else if (name == "StationingBMSField") beginField_ = AttributeField(*metadata, value);
            else if (name == "StationingEventLineIDField") lineField_ = AttributeField(*metadata, value);
        }
    }

    auto relationships = Table(metadata, "QTX_RELATIONSHIPS_OPTABLE");
    if (IsEmpty(relationships)) return;
    for (relationships->MoveFirst(); !relationships->get_EOF(); relationships->MoveNext()) {
        const rt::Variant type = relationships->GetValue(rt::Variant("QTX_TYPE"));
        if (type.IsNull() || !rt::IsNumeric(type) || rt::CDbl(type) != 7) continue;
        const rt::Variant cno = relationships->GetValue(rt::Variant("QTX_SUPPORTCNO"));
        if (!cno.IsNull())
            table_ = MetadataName(*metadata, "QTX_COMPONENTINFO_OPTABLE", "QTX_CNO", rt::CInt(cno), "QTX_TABLE");
        const rt::Variant rulesName = relationships->GetValue(rt::Variant("QTX_OPTIMIZEDTABLE"));
        if (!rulesName.IsNull()) {
            auto rules = Table(metadata, rt::CStr(rulesName));
            if (!IsEmpty(rules)) {
                for (rules->MoveFirst(); !rules->get_EOF(); rules->MoveNext()) {
                    const rt::Variant fno = rules->GetValue(rt::Variant("QTX_FNO"));
                    const rt::Variant code = rules->GetValue(rt::Variant("QTX_CHARACTERISTIC"));
                    if (!fno.IsNull() && !code.IsNull()) fnosByCharacteristic_[rt::CLng(code)].insert(rt::CLng(fno));
                }
            }
        }
        break;
    }
}

void StationService::NeedContext() const {
    if (!dataContext_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
}

int32_t StationService::GetPIFNO() const {
    NeedContext();
    return piFno_;
}

int32_t StationService::GetSSFNO() const {
    NeedContext();
    return ssFno_;
}

bool StationService::IsFNOCharacteristic(int32_t FNO, int32_t Code) const {
    NeedContext();
    auto it = fnosByCharacteristic_.find(Code);
    return it != fnosByCharacteristic_.end() && it->second.count(FNO) != 0;
}

std::string StationService::GetListOfFNOsByStationCharacteristic(int32_t Code) const {
    NeedContext();
    std::string list;
    auto it = fnosByCharacteristic_.find(Code);
    if (it == fnosByCharacteristic_.end()) return list;
    for (int32_t fno : it->second) list += (list.empty() ? "" : ",") + std::to_string(fno);
    return list;
}

std::optional<StationService::Series> StationService::FindSeries(const std::string& id) const {
    NeedContext();
    if (table_.empty() || seriesField_.empty() || endSeriesField_.empty() || beginField_.empty() || lineField_.empty())
        return std::nullopt;
    const std::string key = rt::QuotedLiteral(SeriesKey(id));
    auto rs = dataContext_->OpenRecordset("select " + lineField_ + ", " + beginField_ + " from " + table_ + " where " +
                                          seriesField_ + " = " + key + " and " + endSeriesField_ + " = " + key +
                                          " and QTX_FNO = " + std::to_string(ssFno_));
    if (IsEmpty(rs)) return std::nullopt;
    rs->MoveFirst();
    Series series;
    const rt::Variant line = rs->GetValue(rt::Variant(lineField_));
    const rt::Variant begin = rs->GetValue(rt::Variant(beginField_));
    if (!line.IsNull()) series.line = rt::CStr(line);
    if (begin.IsNull()) return std::nullopt;
    series.begin = rt::CDbl(begin);
    return series;
}

std::string StationService::GetLineIDFromSS(const std::string& SeriesId) const {
    auto series = FindSeries(SeriesId);
    if (!series) throw rt::ComError(kUnknownSeries, kSource, "Unknown station series '" + SeriesId + "'.");
    return series->line;
}

int16_t StationService::CompareStations(const std::string& SeriesId1, const rt::Variant& Measure1,
                                        const std::string& SeriesId2, const rt::Variant& Measure2) const {
    auto first = FindSeries(SeriesId1);
    auto second = FindSeries(SeriesId2);
    if (!first || !second || first->line != second->line) return 2;
    if (SeriesKey(SeriesId1) == SeriesKey(SeriesId2)) {
        if (Measure1.IsNull() || Measure2.IsNull() || !rt::IsNumeric(Measure1) || !rt::IsNumeric(Measure2)) return 2;
        return rt::CDbl(Measure2) < rt::CDbl(Measure1) ? 1 : 0;
    }
    if (second->begin == first->begin) return 2;
    return second->begin < first->begin ? 1 : 0;
}

rt::Variant StationService::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    if (rt::NamesEqual(name, "DataContext")) {
        if (kind != rt::InvokeKind::PropertySet && kind != rt::InvokeKind::PropertyLet)
            rt::RaiseVbError(rt::vberr::ObjectDoesNotSupportMember);
        NeedArgs(args, 1);
        std::shared_ptr<pelmora::IDataContext> context;
        if (!args[0].IsNothing()) context = rt::QueryInterface<pelmora::IDataContext>(args[0].Obj());
        putref_DataContext(context);
        return rt::Variant();
    }
    if (kind != rt::InvokeKind::Method && kind != rt::InvokeKind::PropertyGet)
        rt::RaiseVbError(rt::vberr::ObjectDoesNotSupportMember);
    if (rt::NamesEqual(name, "GetPIFNO")) return rt::Variant(GetPIFNO());
    if (rt::NamesEqual(name, "GetSSFNO")) return rt::Variant(GetSSFNO());
    if (rt::NamesEqual(name, "IsFNOCharacteristic")) {
        NeedArgs(args, 2);
        return rt::Variant(IsFNOCharacteristic(rt::CLng(args[0]), rt::CLng(args[1])));
    }
    if (rt::NamesEqual(name, "GetListOfFNOsByStationCharacteristic")) {
        NeedArgs(args, 1);
        return rt::Variant(GetListOfFNOsByStationCharacteristic(rt::CLng(args[0])));
    }
    if (rt::NamesEqual(name, "GetLineIDFromSS")) {
        NeedArgs(args, 1);
        return rt::Variant(GetLineIDFromSS(rt::CStr(args[0])));
    }
    if (rt::NamesEqual(name, "CompareStations")) {
        NeedArgs(args, 4);
        return rt::Variant(CompareStations(rt::CStr(args[0]), args[1], rt::CStr(args[2]), args[3]));
    }
    rt::RaiseVbError(rt::vberr::ObjectDoesNotSupportMember);
}

void RegisterStationService() {
    rt::RegisterClass(kStationServiceProgId, "", [] { return std::make_shared<StationService>(); });
}

}  // namespace product
