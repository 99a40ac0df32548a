// ReviewRelationship of the ownership helper and the row predicate it hands
// to the feature-assembly cache, so that cached, unsaved component rows are
// matched like the rows the query selects.
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "interfaces/KeyObject.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/relationships/FilterRemover.h"
#include "pelmora/relationships/Ownership.h"
#include "pelmora/relationships/OwnershipSupport.h"
#include "runtime/Collection.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

bool HasRows(const std::shared_ptr<ado::Recordset>& rs) { return !(rs->get_BOF() && rs->get_EOF()); }

rt::Variant ParameterArray(const std::vector<rt::Variant>& values) { return rt::Variant::ArrayOf(values, 0); }

// A row's field matches the value, -1 matching everything; Null matches nothing.
bool Matches(const std::shared_ptr<ado::Field>& field, int32_t value) {
    return value == -1 || ownership::Holds(field->get_Value(), value);
}

}  // namespace

rt::Variant Ownership::ReviewRelationship(const std::shared_ptr<IKeyObject>& Feature) {
    RequireObjects(Feature, ruleTable_, featuresTable_, featureComponents_);
    auto result = rt::Collection::New();
    auto assembly = std::make_shared<FeatureAssemblyService>();
    assembly->putref_DataContext(dataContext_);
    FilterRemover unfilter(ruleTable_);
    if (subordinate_)
        ReviewOwned(Feature, *assembly, result);
    else
        ReviewOwner(Feature, *assembly, result);
    return rt::Variant(result);
}

void Ownership::ReviewOwner(const std::shared_ptr<IKeyObject>& Feature, FeatureAssemblyService& Assembly,
                            const std::shared_ptr<rt::Collection>& Result) {
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item("QTX_OWNERFNO"),
                                    rt::Variant(Feature->get_FNO()), "QTX_SOURCECNO");
    int16_t ownerCNO = 0;
    auto owner = GetOwnerComponentRecordset(Feature, &ownerCNO);
    if (!HasRows(owner)) return;
    owner->MoveFirst();
    const int32_t ownerId = rt::CLng(owner->GetValue(rt::Variant("QTX_ID")));

    ado::Recordset& rules = *ruleTable_;
    if (!HasRows(ruleTable_)) return;
    rules.MoveFirst();
    while (!rules.get_EOF()) {
        // One query per source component; the group's first row names the
        // first link columns, its first row that has them the second ones.
        const int16_t sourceFNO = rt::CInt(rules.GetValue(rt::Variant("QTX_SOURCEFNO")));
        const int16_t sourceCNO = rt::CInt(rules.GetValue(rt::Variant("QTX_SOURCECNO")));
        const std::string ownerColumn = ownership::PlainName(rules.GetValue(rt::Variant("QTX_OWNERFIELD")), "QTX_OWNERFIELD");
        const std::string ownerCNOColumn =
            ownership::OptionalPlainName(rules.GetValue(rt::Variant("QTX_OWNERCNOFIELD")), "QTX_OWNERCNOFIELD");
        std::string secondColumn, secondCNOColumn;
        while (!rules.get_EOF() && ownership::Holds(rules.GetValue(rt::Variant("QTX_SOURCECNO")), sourceCNO)) {
            if (secondColumn.empty()) {
                secondColumn = ownership::OptionalPlainName(rules.GetValue(rt::Variant("QTX_SECONDOWNERFIELD")),
                                                            "QTX_SECONDOWNERFIELD");
                secondCNOColumn = ownership::OptionalPlainName(rules.GetValue(rt::Variant("QTX_SECONDOWNERCNOFIELD")),
                                                               "QTX_SECONDOWNERCNOFIELD");
            }
            rules.MoveNext();
        }
        const std::string table = ComponentTable(sourceCNO);

        // Exactly one value per marker: without a support component each
        // clause also tests the owner's CNO column, or else the class.
        std::vector<rt::Variant> parameters{rt::Variant(ownerId)};
        eval_.ownerId = ownerId;
        eval_.ownerColumn = ownerColumn;
        auto clauseTest = [&](const std::string& cnoColumn, std::string& evalColumn, int32_t& evalValue) {
            if (support_) {
                evalValue = -1;
                return std::string();
            }
            if (cnoColumn.empty()) {
                parameters.emplace_back(sourceFNO);
                evalValue = sourceFNO;
                return std::string(" AND QTX_FNO = ?");
            }
            parameters.emplace_back(ownerCNO);
            evalColumn = cnoColumn;
            evalValue = ownerCNO;
            return " AND " + cnoColumn + " = ?";
        };
        std::string sql = "select * from " + table + " where (" + ownerColumn + " = ?" +
                          clauseTest(ownerCNOColumn, eval_.ownerCNOColumn, eval_.secondValue) + ")";
        if (!secondColumn.empty()) {
            parameters.emplace_back(ownerId);
            eval_.secondOwnerColumn = secondColumn;
            sql += " OR (" + secondColumn + " = ?" +
                   clauseTest(secondCNOColumn, eval_.secondOwnerCNOColumn, eval_.secondClauseValue) + ")";
        }
        CollectFeatures(Assembly, sourceCNO, sql, ParameterArray(parameters), Result);
    }
}

void Ownership::ReviewOwned(const std::shared_ptr<IKeyObject>& Feature, FeatureAssemblyService& Assembly,
                            const std::shared_ptr<rt::Collection>& Result) {
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item("QTX_SOURCEFNO"),
                                    rt::Variant(Feature->get_FNO()));
    // A class without rule rows owns nothing here.
    if (!HasRows(ruleTable_)) return;
    const std::string ownerColumn =
        ownership::PlainName(ruleTable_->GetValue(rt::Variant("QTX_OWNERFIELD")), "QTX_OWNERFIELD");
    const std::string ownerCNOColumn =
        ownership::OptionalPlainName(ruleTable_->GetValue(rt::Variant("QTX_OWNERCNOFIELD")), "QTX_OWNERCNOFIELD");
    const std::string secondColumn =
        ownership::OptionalPlainName(ruleTable_->GetValue(rt::Variant("QTX_SECONDOWNERFIELD")), "QTX_SECONDOWNERFIELD");
    const std::string secondCNOColumn = ownership::OptionalPlainName(
        ruleTable_->GetValue(rt::Variant("QTX_SECONDOWNERCNOFIELD")), "QTX_SECONDOWNERCNOFIELD");

    auto source = GetSourceComponentRecordset(Feature);
    if (!HasRows(source)) return;
    source->MoveFirst();
    CollectOwner(Feature, Assembly, source, ownerColumn, ownerCNOColumn, true, Result);
    if (!secondColumn.empty()) CollectOwner(Feature, Assembly, source, secondColumn, secondCNOColumn, false, Result);
}

void Ownership::CollectOwner(const std::shared_ptr<IKeyObject>& Feature, FeatureAssemblyService& Assembly,
                             const std::shared_ptr<ado::Recordset>& Source, const std::string& OwnerColumn,
                             const std::string& OwnerCNOColumn, bool FirstOwner,
                             const std::shared_ptr<rt::Collection>& Result) {
    const rt::Variant link = Source->GetValue(rt::Variant(OwnerColumn));
    if (link.IsNull() || link.IsEmpty() || ownership::Holds(link, 0)) return;
    const int32_t ownerId = rt::CLng(link);

    int16_t ownerCNO = 0;
    if (support_) {
        ownerCNO = rt::CInt(RowValue("QTX_SUPPORTCNO"));
    } else if (OwnerCNOColumn.empty()) {
        // The owner's class decides its component: every rule row of the
        // owned class must name the same one.
        ruleTable_->MoveFirst();
        const rt::Variant ownerFNO = ruleTable_->GetValue(rt::Variant("QTX_OWNERFNO"));
        for (; !ruleTable_->get_EOF(); ruleTable_->MoveNext())
            if (!rt::VariantEquals(ruleTable_->GetValue(rt::Variant("QTX_OWNERFNO")), ownerFNO))
                RaiseError(1, LoadResStringWithParams(ownership::kSourceMessage),
                           rt::Variant(LoadResStringWithParams(ownership::kSeveralOwnerClassesMessage,
                                                               std::to_string(Feature->get_FNO()))));
        ruleTable_->MoveFirst();
        FilterRemover unfilter(featuresTable_);
        FilterService().FilterRecordset(featuresTable_, featuresTable_->get_Fields()->Item("QTX_FNO"), ownerFNO);
        ownerCNO = rt::CInt(featuresTable_->GetValue(rt::Variant("QTX_PRIMARYATTRIBUTECNO")));
    } else {
        ownerCNO = rt::CInt(Source->GetValue(rt::Variant(OwnerCNOColumn)));
    }
    const std::string table = ComponentTable(ownerCNO);

    std::string sql = "select QTX_FNO, QTX_FID, QTX_ID, QTX_CNO from " + table + " where QTX_ID = ?";
    if (FirstOwner) sql += " ";
    std::vector<rt::Variant> parameters{rt::Variant(ownerId)};
    eval_.ownerId = ownerId;
    eval_.secondValue = -1;
    if (!support_ && !OwnerCNOColumn.empty()) {
        sql += " and QTX_CNO = ?";
        parameters.emplace_back(ownerCNO);
        eval_.secondValue = ownerCNO;
    }
    CollectFeatures(Assembly, ownerCNO, sql, ParameterArray(parameters), Result);
}

void Ownership::CollectFeatures(FeatureAssemblyService& Assembly, int16_t CNO, const std::string& SQL,
                                const rt::Variant& Parameters, const std::shared_ptr<rt::Collection>& Result) {
    std::shared_ptr<ado::Recordset> rows;
    {
        // The state serves this one query, also when it fails.
        struct Clear {
            Ownership& self;
            ~Clear() { self.ClearEvaluatorFields(); }
        } clear{*this};
        auto evaluator = std::dynamic_pointer_cast<IRecordsetEvaluator>(shared_from_this());
        rows = Assembly.OpenSyncedRecordsetArray(CNO, evaluator, SQL, Parameters);
    }
    if (!rows || !HasRows(rows)) return;
    for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
        Assembly.put_FeatureNumber(rt::CInt(rows->GetValue(rt::Variant("QTX_FNO"))));
        Assembly.put_FeatureID(rt::CLng(rows->GetValue(rt::Variant("QTX_FID"))));
        Result->Add(rt::Variant(Assembly.OpenFeature()));
    }
}

void Ownership::ClearEvaluatorFields() { eval_ = EvaluatorState(); }

void Ownership::putref_Fields(const std::shared_ptr<ado::Fields>& Fields) {
    eval_.fields = Fields;
    auto field = [&](const std::string& name) { return name.empty() || !Fields ? nullptr : Fields->Item(name); };
    eval_.id = field("QTX_ID");
    eval_.cno = field("QTX_CNO");
    eval_.fno = field("QTX_FNO");
    if (subordinate_) return;
    eval_.owner = field(eval_.ownerColumn);
    eval_.ownerCNO = field(eval_.ownerCNOColumn);
    eval_.secondOwner = field(eval_.secondOwnerColumn);
    eval_.secondOwnerCNO = field(eval_.secondOwnerCNOColumn);
}

bool Ownership::Evaluate() {
    if (!eval_.fields) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    if (subordinate_) return ownership::Holds(eval_.id->get_Value(), eval_.ownerId) && Matches(eval_.cno, eval_.secondValue);
    if (eval_.owner && ownership::Holds(eval_.owner->get_Value(), eval_.ownerId))
        return Matches(eval_.ownerCNO ? eval_.ownerCNO : eval_.fno, eval_.secondValue);
    if (eval_.secondOwner && ownership::Holds(eval_.secondOwner->get_Value(), eval_.ownerId))
        return Matches(eval_.secondOwnerCNO ? eval_.secondOwnerCNO : eval_.fno, eval_.secondClauseValue);
    return false;
}

}  // namespace pelmora
