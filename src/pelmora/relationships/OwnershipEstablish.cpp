// Establishing and deleting an ownership in the component recordsets of the
// two features, and the row ids of new owner rows.
#include "ado/Recordset.h"
#include "pelmora/common/FeatureComponents.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/ComponentClone.h"
#include "interfaces/DataContext.h"
#include "interfaces/KeyObject.h"
#include "pelmora/relationships/FilterRemover.h"
#include "pelmora/relationships/Ownership.h"
#include "pelmora/relationships/OwnershipSupport.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kNextIdSource = "Ownership.GetNextQTXID";

bool HasRows(const std::shared_ptr<ado::Recordset>& rs) { return !(rs->get_BOF() && rs->get_EOF()); }

// A side without rows gets one, unless they are a view nobody moved of a
// feature this edit deleted whole (no component shows a row of it, and a row
// of it is pending deletion): such a view stands for the feature's own rows
// on their first, a deleted row, where the first move finds no current row
// (3021), as alone.
bool OnDeletedFeature(const std::shared_ptr<IKeyObject>& feature, const std::string& component) {
    auto view = rt::TryQueryInterface<ComponentClone>(FeatureComponent(feature, component));
    if (!view || !view->Unmoved()) return false;
    const rt::Variant fid(feature->get_FID());
    bool deleted = false;
    for (const auto& each : FeatureComponents(feature)->get_NewEnum()) {
        auto clone = rt::TryQueryInterface<ComponentClone>(each);
        if (!clone) return false;
        auto rows = clone->RowsAsTheyStand()->Clone(ado::adLockUnspecified);
        rows->put_Filter(rt::Variant("QTX_FID = " + rt::CStr(fid)));
        if (!(rows->get_BOF() && rows->get_EOF())) return false;
        rows->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
        for (; !deleted && !rows->get_EOF(); rows->MoveNext())
            deleted = (rows->get_Status() & ado::adRecDeleted) != 0 &&
                      rt::VariantEquals(rows->get_Fields()->Item("QTX_FID")->get_OriginalValue(), fid);
    }
    return deleted;
}

void SetKeys(ado::Recordset& rows, const std::shared_ptr<IKeyObject>& feature, int16_t cno) {
    rows.SetValue(rt::Variant("QTX_FNO"), rt::Variant(feature->get_FNO()));
    rows.SetValue(rt::Variant("QTX_FID"), rt::Variant(feature->get_FID()));
    rows.SetValue(rt::Variant("QTX_CNO"), rt::Variant(cno));
    rows.SetValue(rt::Variant("QTX_CID"), rt::Variant(int16_t{1}));
}

// The link columns of the pair's rule row.
struct LinkColumns {
    std::string owner, ownerCNO, second, secondCNO;
};

LinkColumns ReadLinkColumns(ado::Recordset& rule) {
    using ownership::OptionalPlainName;
    return {ownership::PlainName(rule.GetValue(rt::Variant("QTX_OWNERFIELD")), "QTX_OWNERFIELD"),
            OptionalPlainName(rule.GetValue(rt::Variant("QTX_OWNERCNOFIELD")), "QTX_OWNERCNOFIELD"),
            OptionalPlainName(rule.GetValue(rt::Variant("QTX_SECONDOWNERFIELD")), "QTX_SECONDOWNERFIELD"),
            OptionalPlainName(rule.GetValue(rt::Variant("QTX_SECONDOWNERCNOFIELD")), "QTX_SECONDOWNERCNOFIELD")};
}

// The two features of a call as owner and owned.
struct Sides {
    std::shared_ptr<IKeyObject> owner, owned;
};

Sides SidesOf(bool subordinate, const std::shared_ptr<IKeyObject>& source, const std::shared_ptr<IKeyObject>& related) {
    if (!source || !related) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return subordinate ? Sides{related, source} : Sides{source, related};
}

}  // namespace

void Ownership::SilentEstablishRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                                            const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t, int32_t) {
    RequireObjects(ruleTable_, featuresTable_, featureComponents_);
    const auto [owner, owned] = SidesOf(subordinate_, SourceFeature, RelatedFeature);
    FilterRemover unfilter(ruleTable_);
    SelectPairRules(owner->get_FNO(), owned->get_FNO());
    const LinkColumns links = ReadLinkColumns(*ruleTable_);

    int16_t ownerCNO = 0, sourceCNO = 0;
    auto ownerRows = GetOwnerComponentRecordset(owner, &ownerCNO);
    auto ownedRows = GetSourceComponentRecordset(owned, &sourceCNO);

    // A new row that cannot be finished is taken back: nothing half done.
    bool ownedAdded = false, ownerAdded = false, ownedEdited = false;
    try {
        if (!HasRows(ownedRows) && !OnDeletedFeature(owned, ComponentName(sourceCNO))) {
            ownedRows->AddNew();
            ownedAdded = true;
            SetKeys(*ownedRows, owned, sourceCNO);
        } else {
            ownedRows->MoveFirst();
        }
        if (!HasRows(ownerRows) && !OnDeletedFeature(owner, ComponentName(ownerCNO))) {
            ownerRows->AddNew();
            ownerAdded = true;
            SetKeys(*ownerRows, owner, ownerCNO);
            const rt::Variant id = ownerRows->GetValue(rt::Variant("QTX_ID"));
            if (id.IsNull() || id.IsEmpty())
                ownerRows->SetValue(rt::Variant("QTX_ID"), rt::Variant(GetNextQTXID(dataContext_, ownerCNO)));
        } else {
            ownerRows->MoveFirst();
        }
        ownedRows->SetValue(rt::Variant(links.owner), ownerRows->GetValue(rt::Variant("QTX_ID")));
        // Only once an edit stands: CancelUpdate without one would take back
        // the row's earlier pending change.
        ownedEdited = true;
        if (!links.ownerCNO.empty())
            ownedRows->SetValue(rt::Variant(links.ownerCNO), ownerRows->GetValue(rt::Variant("QTX_CNO")));
        // The edits stay open, as the caller's own would: the save ends them,
        // and a CancelUpdate takes back the link alone.
    } catch (...) {
        rt::ResumeNext undo;
        if (ownedAdded || ownedEdited) undo([&] { ownedRows->CancelUpdate(); });
        if (ownerAdded) undo([&] { ownerRows->CancelUpdate(); });
        throw;
    }
}

void Ownership::DeleteRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                                   const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t, int32_t) {
    RequireObjects(ruleTable_, featuresTable_, featureComponents_);
    const auto [owner, owned] = SidesOf(subordinate_, SourceFeature, RelatedFeature);
    FilterRemover unfilter(ruleTable_);
    SelectPairRules(owner->get_FNO(), owned->get_FNO());
    const LinkColumns links = ReadLinkColumns(*ruleTable_);

    int16_t ownerCNO = 0;
    auto ownerRows = GetOwnerComponentRecordset(owner, &ownerCNO);
    auto ownedRows = GetSourceComponentRecordset(owned);
    if (!HasRows(ownerRows) || !HasRows(ownedRows)) return;
    ownerRows->MoveFirst();
    ownedRows->MoveFirst();
    const rt::Variant ownerId = ownerRows->GetValue(rt::Variant("QTX_ID"));
    const rt::Variant ownerRowCNO = ownerRows->GetValue(rt::Variant("QTX_CNO"));

    bool cleared = false;
    // A link points at the owner when it holds the owner row's id and, where
    // a CNO column names the owner's component, not another component's.
    auto clear = [&](const std::string& idColumn, const std::string& cnoColumn) {
        if (!ownership::SameValue(ownedRows->GetValue(rt::Variant(idColumn)), ownerId)) return;
        const bool withCNO = !cnoColumn.empty() && !support_;
        if (withCNO) {
            const rt::Variant linkedCNO = ownedRows->GetValue(rt::Variant(cnoColumn));
            if (!linkedCNO.IsNull() && !ownership::SameValue(linkedCNO, ownerRowCNO)) return;
        }
        ownedRows->SetValue(rt::Variant(idColumn), rt::Variant::Null());
        cleared = true;
        if (withCNO) ownedRows->SetValue(rt::Variant(cnoColumn), rt::Variant::Null());
    };
    try {
        clear(links.owner, links.ownerCNO);
        if (!links.second.empty()) clear(links.second, links.secondCNO);
    } catch (...) {
        rt::ResumeNext undo;
        if (cleared) undo([&] { ownedRows->CancelUpdate(); });
        throw;
    }
}

int32_t Ownership::GetNextQTXID(const std::shared_ptr<IDataContext>& DataContext, int16_t CNO) {
    if (!DataContext) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    const std::string sequence = ComponentTable(CNO) + "_SEQ";
    auto rows = DataContext->OpenRecordset("Select " + sequence + ".NextVal from dual");
    if (!rows || !HasRows(rows))
        RaiseError(1, kNextIdSource, rt::Variant("The sequence " + sequence + " gave no value."));
    rows->MoveFirst();
    const rt::Variant value = rows->get_Fields()->Item(int32_t{0})->get_Value();
    rt::ResumeNext close;
    close([&] { rows->Close(); });
    if (value.IsNull() || !rt::IsNumeric(value) || rt::CDbl(value) < 1 || rt::CDbl(value) > 2147483647.0)
        RaiseError(1, kNextIdSource,
                   rt::Variant("The sequence " + sequence + " gave no usable row id: " +
                               (value.IsNull() ? std::string("Null") : rt::CStr(value))));
    return rt::CLng(value);
}

}  // namespace pelmora
