#include "pelmora/dimensioning_stationing/Dimensioning.h"

#include <string>

#include "ado/Recordset.h"
#include "pelmora/common/modADOUtils.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/ComponentClone.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "interfaces/Messages.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kDimensionSideField = "QTX_DIMFNO";
constexpr int16_t kComponentSourceMessage = 21826;
constexpr int16_t kMissingComponentMessage = 22208;
constexpr int16_t kEmptyDimensionedComponent = 22305;
constexpr int16_t kNoBaseReference = 19018;

namespace dimension_messages {
// Dimension side: failed check, missing row, per reference.
constexpr int16_t BaseFailed = 19019, BaseMissing = 19015;
constexpr int16_t SecondBaseFailed = 19020, SecondBaseMissing = 19016;
constexpr int16_t DimensionedFailed = 19021, DimensionedMissing = 19017;
// Dimensioned side: the base reference failing at its end point.
constexpr int16_t BaseEndFailed = 19137;
}  // namespace dimension_messages

std::shared_ptr<ado::Field> FieldOf(const std::shared_ptr<ado::Recordset>& rs, const char* name) {
    return rs->get_Fields()->Item(name);
}

bool Equal(const rt::Variant& a, const rt::Variant& b) {
    auto c = rt::VbCompare(a, b);
    return c && *c == 0;
}

bool IsEmptySet(const std::shared_ptr<ado::Recordset>& rs) { return rs->get_BOF() && rs->get_EOF(); }

std::string KeyText(const std::shared_ptr<ado::Recordset>& rs, const char* column) {
    rt::Variant v = ValueOf(rs, column);
    return v.IsNull() || v.IsEmpty() ? std::string() : rt::CStr(v);
}

}  // namespace

void Dimensioning::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    RelationshipHelperBase::putref_DataContext(DataContext);
    featureComponents_ = TakeMetadataRecordset("QTX_FEATURECOMPS_OPTABLE");
    componentInfo_ = TakeMetadataRecordset("QTX_COMPONENTINFO_OPTABLE");
    configuration_ = MetadataService()->get_Configuration();
}

void Dimensioning::put_RelationshipNumber(int16_t RelationshipNumber) {
    RelationshipHelperBase::put_RelationshipNumber(RelationshipNumber);
    ruleTable_->put_Filter(rt::Variant(int32_t{0}));
    const rt::Variant side = RowValue("QTX_FNOFIELD");
    dimensionSide_ = !side.IsNull() && side.IsString() && rt::CStr(side) == kDimensionSideField;
}

void Dimensioning::Validate(const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<IComponents>&,
                            const std::shared_ptr<ado::Recordset>& ValidationSet,
                            const std::shared_ptr<rt::Collection>&, const std::shared_ptr<ado::Recordset>& Errors) {
    RequireObjects(ValidationSet, ruleTable_);
    auto fno = FieldOf(ValidationSet, "QTX_FNO");
    auto fid = FieldOf(ValidationSet, "QTX_FID");
    auto pending = FieldOf(ValidationSet, "PENDING");
    if (IsEmptySet(ValidationSet)) return;
    for (ValidationSet->MoveFirst(); !ValidationSet->get_EOF(); ValidationSet->MoveNext()) {
        // The pending rows stand first; the first relationship row ends them.
        if (Equal(pending->get_Value(), rt::Variant(int32_t{0}))) break;
        const int16_t featureNumber = rt::CInt(fno->get_Value());
        if (!HasDimensionRows(featureNumber)) continue;
        auto feature = FindKeyObject(Features, featureNumber, rt::CLng(fid->get_Value()));
        if (!TakeFeature(feature)) continue;
        if (dimensionSide_)
            ValidateDimension(ValidationSet, Features, Errors);
        else
            ValidateDimensioned(ValidationSet, Features, Errors);
    }
}

void Dimensioning::ValidateDimension(const std::shared_ptr<ado::Recordset>& set,
                                     const std::shared_ptr<IKeyObjects>& features,
                                     const std::shared_ptr<ado::Recordset>& errors) {
    namespace m = dimension_messages;
    ComponentRows dimension = FindDimensionComponent(feature_);
    const Definitions names = LoadDimensionDefinitions(feature_->get_FNO(), 0);
    auto& rows = dimension.rows;
    if (!IsEmptySet(rows)) {
        auto related = GetRelatedFeatures(set, features, relationshipNumber_);
        for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
            ValidateDimensionReference(related, dimension, names.baseCno, names.baseId, 1, m::BaseFailed,
                                       m::BaseMissing, errors);
            ValidateDimensionReference(related, dimension, names.secondBaseCno, names.secondBaseId, 3,
                                       m::SecondBaseFailed, m::SecondBaseMissing, errors);
            ValidateDimensionReference(related, dimension, names.dimensionedCno, names.dimensionedId, 2,
                                       m::DimensionedFailed, m::DimensionedMissing, errors);
            auto fields = rows->get_Fields();
            if (!GetDimensionKeys(fields, names.secondBaseCno, names.secondBaseId) &&
                !GetDimensionKeys(fields, names.baseCno, names.baseId))
                AddError(kNoBaseReference, 0, rows, errors);
        }
    }
    ReleaseRows(dimension.component);
}

void Dimensioning::ValidateDimensioned(const std::shared_ptr<ado::Recordset>& set,
                                       const std::shared_ptr<IKeyObjects>& features,
                                       const std::shared_ptr<ado::Recordset>& errors) {
    namespace m = dimension_messages;
    auto related = GetRelatedFeatures(set, features, relationshipNumber_);
    // A copy of its own: the operations below filter the helper's rule table.
    auto rules = TakeMetadataRecordset(get_OptimizedTable());
    FilterService().FilterRecordset(rules, FieldOf(rules, "QTX_CONNECTEDFNO"), rt::Variant(feature_->get_FNO()),
                                    "QTX_CONNECTEDCNO");
    int16_t current = 0;
    for (; !rules->get_EOF(); rules->MoveNext()) {
        const int16_t cno = rt::CInt(ValueOf(rules, "QTX_CONNECTEDCNO"));
        if (cno == current) continue;
        current = cno;
        const ComponentRows component = GetFeatureComponent(feature_, current);
        for (const auto& dimensionFeature : related->get_NewEnum()) {
            ComponentRows dimension = FindDimensionComponent(dimensionFeature);
            const Definitions names = LoadDimensionDefinitions(dimensionFeature->get_FNO(), 1);
            ValidateReferenceToFeature(current, component, dimension, names.baseCno, names.baseId, 1, m::BaseEndFailed,
                                       m::BaseFailed, errors);
            ValidateReferenceToFeature(current, component, dimension, names.secondBaseCno, names.secondBaseId, 3,
                                       m::SecondBaseFailed, 0, errors);
            ValidateReferenceToFeature(current, component, dimension, names.dimensionedCno, names.dimensionedId, 2,
                                       m::DimensionedFailed, 0, errors);
            ReleaseRows(dimension.component);
        }
    }
}

bool Dimensioning::HasDimensionRows(int16_t FNO) {
    FilterService().FilterRecordset(ruleTable_, FieldOf(ruleTable_, dimensionSide_ ? "QTX_DIMFNO" : "QTX_CONNECTEDFNO"),
                                    rt::Variant(FNO));
    const bool any = ruleTable_->get_RecordCount() > 0;
    ruleTable_->put_Filter(rt::Variant(int32_t{0}));
    return any;
}

Dimensioning::ComponentRows Dimensioning::FindDimensionComponent(const std::shared_ptr<IKeyObject>& feature) {
    FilterService().FilterRecordset(ruleTable_, FieldOf(ruleTable_, "QTX_DIMFNO"), rt::Variant(feature->get_FNO()));
    return GetFeatureComponent(feature, rt::CInt(ValueOf(ruleTable_, "QTX_DIMCNO")));
}

Dimensioning::ComponentRows Dimensioning::GetFeatureComponent(const std::shared_ptr<IKeyObject>& feature, int16_t CNO) {
    FilterService().FilterRecordset(featureComponents_, FieldOf(featureComponents_, "QTX_CNO"), rt::Variant(CNO));
    const std::string name = rt::CStr(ValueOf(featureComponents_, "QTX_NAME"));
    ComponentRows found;
    rt::ComError error(0, "", "");
    const bool ok = rt::CaptureError(
        [&] {
            found.component = FeatureComponent(feature, name);
            found.rows = found.component->get_Recordset();
            if (!IsEmptySet(found.rows)) found.rows->MoveFirst();
        },
        error);
    if (!ok)
        RaiseError(1, MessageObject()->GetMessageText(kComponentSourceMessage, 0),
                   rt::Variant(LoadResStringWithParams(kMissingComponentMessage, std::to_string(feature->get_FNO()),
                                                       name, "", "", "")));
    featureComponents_->put_Filter(rt::Variant(int32_t{0}));
    return found;
}

Dimensioning::Definitions Dimensioning::LoadDimensionDefinitions(int16_t FNO, int16_t) {
    // The relation type picks no row the names depend on.
    FilterService().FilterRecordset(ruleTable_, FieldOf(ruleTable_, "QTX_DIMFNO"), rt::Variant(FNO));
    const int16_t dimensionCno = rt::CInt(ValueOf(ruleTable_, "QTX_DIMCNO"));
    FilterService().FilterRecordset(componentInfo_, FieldOf(componentInfo_, "QTX_CNO"), rt::Variant(dimensionCno));
    Definitions names;
    names.subtype = rt::CInt(ValueOf(componentInfo_, "QTX_SUBTYPE"));
    static constexpr const char* kTables[] = {"QTX_DIMSIMPLE_OPTABLE", "QTX_DIMORTHOGONAL_OPTABLE",
                                              "QTX_DIMRADIUS2POINTS_OPTABLE", "QTX_DIMPOLAR_OPTABLE"};
    if (names.subtype < 1 || names.subtype > 4)
        RaiseError(1, "Dimensioning",
                   rt::Variant("The dimension component " + std::to_string(dimensionCno) + " has the subtype " +
                               std::to_string(names.subtype) + ", which has no dimension table."));
    auto table = TakeMetadataRecordset(kTables[names.subtype - 1]);
    FilterService().FilterRecordset(table, FieldOf(table, "QTX_CNO"), rt::Variant(dimensionCno));
    auto take = [&](const char* column, std::string& name) {
        auto field = FieldOf(table, column);
        if (!IsFieldNullOrEmpty(field)) name = rt::CStr(field->get_Value());
    };
    take("QTX_DIMBASECNOFIELD", names.baseCno);
    take("QTX_DIMBASEIDFIELD", names.baseId);
    take("QTX_DIMENSIONEDCNOFIELD", names.dimensionedCno);
    take("QTX_DIMENSIONEDIDFIELD", names.dimensionedId);
    if (names.subtype == 2 || names.subtype == 3) {
        take("QTX_DIMBASECNOFIELD2", names.secondBaseCno);
        take("QTX_DIMBASEIDFIELD2", names.secondBaseId);
    }
    return names;
}

bool Dimensioning::GetDimensionKeys(const std::shared_ptr<ado::Fields>& fields, const std::string& cnoColumn,
                                    const std::string& idColumn) {
    if (cnoColumn.empty() || idColumn.empty()) return false;
    auto held = [&](const std::string& column) {
        auto field = fields->Item(column);
        return !IsFieldNullOrEmpty(field) && !Equal(field->get_Value(), rt::Variant(int32_t{0}));
    };
    return held(cnoColumn) && held(idColumn);
}

void Dimensioning::ValidateDimensionReference(const std::shared_ptr<IKeyObjects>& related,
                                              const ComponentRows& dimension, const std::string& cnoColumn,
                                              const std::string& idColumn, int16_t role, int16_t failedId,
                                              int16_t missingId, const std::shared_ptr<ado::Recordset>& errors) {
    if (!GetDimensionKeys(dimension.rows->get_Fields(), cnoColumn, idColumn)) return;
    const int32_t rowId = rt::CLng(ValueOf(dimension.rows, idColumn));
    const int16_t cno = rt::CInt(ValueOf(dimension.rows, cnoColumn));
    if (auto referenced = FindReferencedRow(rowId, cno, related)) {
        int16_t failedPoint = 0;
        if (HasPointOffGeometry(dimension, *referenced, role, failedPoint)) AddError(failedId, 0, dimension.rows, errors);
    } else {
        AddError(missingId, 1, dimension.rows, errors);
    }
}

std::optional<Dimensioning::ComponentRows> Dimensioning::FindReferencedRow(int32_t rowId, int16_t CNO,
                                                                           const std::shared_ptr<IKeyObjects>& related) {
    std::optional<ComponentRows> found;
    rt::ComError error(0, "", "");
    const bool ok = rt::CaptureError(
        [&] {
            for (const auto& feature : related->get_NewEnum()) {
                FilterService().FilterRecordset(ruleTable_, FieldOf(ruleTable_, "QTX_CONNECTEDFNO"),
                                                rt::Variant(feature->get_FNO()));
                // A related feature without rule rows holds no referenced row;
                // a later one may.
                for (; !ruleTable_->get_EOF(); ruleTable_->MoveNext()) {
                    if (rt::CInt(ValueOf(ruleTable_, "QTX_CONNECTEDCNO")) != CNO) continue;
                    ComponentRows candidate = GetFeatureComponent(feature, CNO);
                    if (FindRowByValue(candidate.rows, "QTX_ID", rt::Variant(rowId))) {
                        found = candidate;
                        return;
                    }
                }
            }
        },
        error);
    if (!ok) {
        ShowMessage(rt::Variant(error.Description()));
        return std::nullopt;
    }
    return found;
}

bool Dimensioning::FindRowByValue(const std::shared_ptr<ado::Recordset>& rows, const std::string& column,
                                  const rt::Variant& value) {
    bool found = false;
    rt::ComError error(0, "", "");
    const bool ok = rt::CaptureError(
        [&] {
            if (IsEmptySet(rows)) return;
            for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext())
                if (Equal(ValueOf(rows, column), value)) {
                    found = true;
                    return;
                }
        },
        error);
    if (!ok) ShowMessage(rt::Variant(error.Description()));
    return found;
}

void Dimensioning::ValidateReferenceToFeature(int16_t CNO, const ComponentRows& feature, const ComponentRows& dimension,
                                              const std::string& cnoColumn, const std::string& idColumn, int16_t role,
                                              int16_t firstId, int16_t secondId,
                                              const std::shared_ptr<ado::Recordset>& errors) {
    if (cnoColumn.empty()) return;
    if (!GetDimensionKeys(dimension.rows->get_Fields(), cnoColumn, idColumn)) return;
    const rt::Variant cnoValue = ValueOf(dimension.rows, cnoColumn);
    if (!Equal(cnoValue, rt::Variant(CNO))) return;
    if (IsEmptySet(feature.rows)) {
        AddError(kEmptyDimensionedComponent, 0, dimension.rows, errors);
        return;
    }
    if (!Equal(cnoValue, ValueOf(feature.rows, "QTX_CNO")) ||
        !Equal(ValueOf(dimension.rows, idColumn), ValueOf(feature.rows, "QTX_ID")))
        return;
    int16_t failedPoint = 0;
    if (!HasPointOffGeometry(dimension, feature, role, failedPoint)) return;
    AddError(secondId == 0 || failedPoint == 2 ? firstId : secondId, 0, dimension.rows, errors);
}

bool Dimensioning::HasPointOffGeometry(const ComponentRows& dimension, const ComponentRows& referenced, int16_t role,
                                       int16_t& failedPoint) {
    std::optional<int16_t> failed;
    rt::ComError error(0, "", "");
    const bool ok = rt::CaptureError(
        [&] {
            const Definitions names = LoadDimensionDefinitions(rt::CInt(ValueOf(dimension.rows, "QTX_FNO")),
                                                               role == 3 ? int16_t{1} : role);
            auto fields = dimension.rows->get_Fields();
            PointCheck check;
            check.subtype = names.subtype;
            check.role = role;
            check.baseKeys = GetDimensionKeys(fields, names.baseCno, names.baseId);
            check.secondBaseKeys = GetDimensionKeys(fields, names.secondBaseCno, names.secondBaseId);
            failed = CheckDimensionPoints(dimension.component->get_Geometry(), referenced.component->get_Geometry(),
                                          check);
        },
        error);
    if (!ok) failed = PointCheckFailure(error);
    if (!failed) return false;
    failedPoint = *failed;
    return true;
}

void Dimensioning::AddError(int16_t msgId, int32_t kind, const std::shared_ptr<ado::Recordset>& dimensionRows,
                            const std::shared_ptr<ado::Recordset>& errors) {
    AddRelationshipValidationError(msgId, msgId, kind, name_, configuration_, KeyText(dimensionRows, "QTX_FNO"),
                                   KeyText(dimensionRows, "QTX_FID"), KeyText(dimensionRows, "QTX_CNO"),
                                   KeyText(dimensionRows, "QTX_CID"), errors, rt::Variant::Missing(), "", "", "", "");
}

void Dimensioning::ReleaseRows(const std::shared_ptr<IComponent>& component) {
    rt::QueryInterface<ComponentClone>(component)->ReleaseRecordset();
}

}  // namespace pelmora
