// The recordset events of a component: the attribute edit control's say
// before a field changes, the value before the change, defaults and keys of
// added rows, attribute loading, the geometry rows of deleted rows, and the
// moments at which functional interfaces fire.
#include <algorithm>
#include <exception>
#include <new>

#include "ado/Recordset.h"
#include "pelmora/common/NullOrEmpty.h"
#include "pelmora/common/TraceScope.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/extensions/ExtensionBinding.h"
#include "pelmora/extensions/QzAttrEdtCtrlBridge.h"
#include "pelmora/features/Component.h"
#include "pelmora/features/ComponentClone.h"
#include "pelmora/features/modADOGlobal.h"
#include "interfaces/DataContext.h"
#include "interfaces/LoadAttributesService.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "runtime/Error.h"
#include "runtime/ScopedValue.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kFile = "Component";
constexpr int16_t kMsgHandlerTitle = 21983;
constexpr const char* kGuiControl = "Attribute Edit Control GUI";

// The highest QTX_CID of one feature's rows (every row when fid is empty) + 1.
int16_t NextCIDOf(const std::shared_ptr<ado::Recordset>& rows, const int32_t* fid) {
    auto clone = rows->Clone(ado::adLockUnspecified);
    if (fid) clone->put_Filter(rt::Variant("QTX_FID = " + std::to_string(*fid)));
    return rt::CInt(rt::Variant(int32_t{Component::GetMaxCID(clone)} + 1));
}

}  // namespace

void Component::ReportHandlerError(TraceScope& trace, const rt::ComError& error) {
    trace.Error(error);
    ShowMessage(rt::Variant(error.Description()), rt::Variant::Missing(), rt::Variant::Missing(),
                rt::Variant::Missing(), rt::Variant::Missing(), rt::Variant(int32_t{kMsgHandlerTitle}));
}

// ---- before a field changes ----

bool Component::AttributeEditable(const std::shared_ptr<ado::Field>& field) {
    const std::string fieldName = field->get_Name();
    if (!fieldInfos_) fieldInfos_ = FieldInfoCollection::New();
    auto info = FindFieldInfo(fieldInfos_, fieldName);
    if (!info) {
        // The first change of a field without descriptor leaves one behind.
        info = FieldInfo::New();
        fieldInfos_->Add(rt::Variant(std::static_pointer_cast<rt::Object>(info)), rt::Variant(fieldName));
    }
    rt::Variant progId = info->get_AttributeEditControlProgID();
    rt::Variant type = info->get_AttributeEditControlType();
    if (IsNullOrEmpty(progId) || rt::CStr(progId).empty()) return true;
    if (type.IsNull() || rt::CStr(type) == kGuiControl) return true;

    // A change the control's own code makes while it is prepared or asked
    // is not asked of a control again (one that edits the field every time
    // it is asked would otherwise be asked without end).
    const rt::ScopedValue<bool> asking(askingEditControl_, true);
    auto bridge = std::make_shared<QzAttrEdtCtrlBridge>();
    bridge->Initialize(info->get_RelationIFacePrjNo(), rt::CStr(progId));
    bridge->putref_DataContext(dataContext_);
    auto owner = OwningCollection();
    bridge->putref_Components(owner);
    bridge->put_ComponentName(name_);
    bridge->put_fieldname(fieldName);
    rt::Variant before;
    if (!name_.empty() && !fieldName.empty() && owner) {
        auto component = owner->get_Item(rt::Variant(name_));
        auto rs = component ? component->get_Recordset() : nullptr;
        if (rs && !rs->get_EOF() && !rs->get_BOF()) before = rs->GetValue(rt::Variant(fieldName));
    }
    bridge->put_FieldValue(before);
    bridge->put_ArgumentArray(GetRelationIfaceArguments(dataContext_, info->get_AttributeEditControlArgGroupNo()));
    return bridge->IsAttributeEditable(info->get_ANO());
}

void Component::OnWillChangeField(int32_t /*cFields*/, const ado::FieldList& Fields, ado::EventStatusEnum& adStatus,
                                  const std::shared_ptr<ado::Recordset>& /*pRecordset*/) {
    TraceScope trace(kFile, "m_oEventRecordset_WillChangeField");
    rt::ComError error(0, "", "");
    bool done = rt::CaptureError(
        [&] {
            if (!m_bAttributeInfoLoaded) LoadAttributeInfoFI();
            if (Fields.empty() || !Fields.front()) return;
            const auto& field = Fields.front();
            if (!m_bClonedComponent) valueBeforeChange_ = field->get_Value();
            if (!attributeEditControlEnabled_ || askingEditControl_) {
                adStatus = ado::adStatusOK;
                return;
            }
            adStatus = AttributeEditable(field) ? ado::adStatusOK : ado::adStatusCancel;
        },
        error);
    // A control that fails to answer does not refuse the change.
    if (!done) ReportHandlerError(trace, error);
}

// ---- after a field changed ----

void Component::OnFieldChangeComplete(int32_t cFields, const ado::FieldList& Fields, ado::EventStatusEnum adStatus,
                                      const std::shared_ptr<ado::Recordset>& pRecordset) {
    TraceScope trace(kFile, "m_oEventRecordset_FieldChangeComplete");
    // A refused or failed change changed nothing: no key, no interface.
    if (adStatus != ado::adStatusOK) return;
    const size_t count = std::min(Fields.size(), static_cast<size_t>(cFields < 0 ? 0 : cFields));
    // Extension code that changes the rows from inside an interface stays
    // inside it: the flag is given back as it was, not cleared.
    const bool inside = m_bInFunctionalInterface;
    rt::ComError error(0, "", "");
    bool done = rt::CaptureError(
        [&] {
            if (autoAssignKeys_ && !m_bClonedComponent) {
                for (size_t i = 0; i < count; ++i) {
                    if (!Fields[i] || Fields[i]->get_Name() != "QTX_FID") continue;
                    rt::Variant fid = Fields[i]->get_Value();
                    if (!IsNullOrEmpty(pRecordset->GetValue(rt::Variant("QTX_CID"))) || IsNullOrEmpty(fid)) continue;
                    const int32_t feature = rt::CLng(fid);
                    m_bInFunctionalInterface = true;
                    pRecordset->SetValue(rt::Variant("QTX_CID"), rt::Variant(NextCIDOf(pRecordset, &feature)));
                    m_bInFunctionalInterface = inside;
                }
            }
            if (m_bFunctionalInterfacesEnabled && !m_bClonedComponent)
                for (size_t i = 0; i < count; ++i)
                    if (Fields[i]) FireFieldChangeFI(Fields[i]->get_Name());
        },
        error);
    if (!done) {
        m_bInFunctionalInterface = inside;
        ReportHandlerError(trace, error);
    }
}

// ---- before a row changes ----

void Component::DeleteGeometryRows(const std::shared_ptr<ado::Recordset>& geometryRows) {
    if (!geometryRows || (geometryRows->get_BOF() && geometryRows->get_EOF())) return;
    geometryRows->MoveFirst();
    while (!geometryRows->get_EOF()) {
        geometryRows->Delete(ado::adAffectCurrent);
        geometryRows->MoveNext();
    }
}

void Component::OnWillChangeRecord(ado::EventReasonEnum adReason, ado::EventStatusEnum& /*adStatus*/,
                                   const std::shared_ptr<ado::Recordset>& pRecordset) {
    TraceScope trace(kFile, "m_oEventRecordset_WillChangeRecord");
    rt::ComError error(0, "", "");
    bool done = rt::CaptureError(
        [&] {
            if (!m_bAttributeInfoLoaded) LoadAttributeInfoFI();
            switch (adReason) {
                case ado::adRsnDelete: {
                    // The row's geometry id is read before any interface runs,
                    // so its geometry rows go whatever the interfaces do.
                    rt::Variant id;
                    const uint32_t closings = pRecordset->Closings();
                    const bool geometry = hasGeometry_ && dataContext_ && dataContext_->DataMode() != 2;
                    if (geometry) id = rows_->GetValue(rt::Variant("QTX_ID"));
                    rt::ComError failure(0, "", "");
                    bool fired = rt::CaptureError(
                        [&] {
                            deletionClone_ = rows_->Clone(ado::adLockUnspecified);
                            deletionClone_->put_Bookmark(rows_->get_Bookmark());
                            // The rows the recordset shows: a clone drops the
                            // filter, which leaves out a view's other features.
                            if (pRecordset->get_RecordCount() == 1) lastRowDeleted_ = true;
                            DeleteFI();
                        },
                        failure);
                    deletionClone_.reset();
                    // Rows an interface let go (or closed) keep the deletion
                    // to themselves: geometry rows read afresh are not theirs.
                    const bool own = HoldsRows(pRecordset, closings);
                    if (own && geometry && !IsNullOrEmpty(id)) DeleteGeometryRows(OpenGeometryRecordset(rt::CLng(id)));
                    if (!fired) throw failure;
                    if (!own) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
                    break;
                }
                case ado::adRsnUpdate:
                    UpdateFI();
                    break;
                case ado::adRsnFirstChange:
                    EditFI();
                    break;
                case ado::adRsnUndoUpdate:
                case ado::adRsnUndoAddNew:
                    CancelUpdateFI();
                    break;
                case ado::adRsnAddNew:
                    // Worked out whatever AutoAssignKeys says; several features
                    // leave the CID to the assignment of QTX_FID.
                    if (fids_.size() == 1) nextCID_ = NextCIDOf(pRecordset, &fids_[0]);
                    else if (fids_.empty()) nextCID_ = NextCIDOf(pRecordset, nullptr);
                    else nextCID_ = -1;
                    break;
                default:
                    break;
            }
        },
        error);
    if (!done) ReportHandlerError(trace, error);
}

// ---- after a row changed ----

void Component::LoadAttributes(const std::shared_ptr<ado::Recordset>& /*pRecordset*/) {
    rt::Variant fno = rows_->GetValue(rt::Variant("QTX_FNO"));
    if (IsNullOrEmpty(fno)) return;
    const int16_t FNO = rt::CInt(fno);
    auto metadata = dataContext_->GetMetadataService();
    rt::Variant classification;
    if (m_bClonedComponent) {
        // The owner's rows hold several features and stand on any of them:
        // the classification is read from the feature's own views, or from
        // its rows a caller still holds once they went, where they stand, as
        // from the rows of a feature opened alone.
        bool collectionGone = false;
        try {
            classification = GetClassificationValueFromRows(metadata, FNO, [&](const std::string& name) {
                if (auto rows = featureViews_ ? featureViews_->RowsAsTheyStand(name) : nullptr) return rows;
                // No rows of that component held: the feature's rows stand
                // where a new view of them would, on its first row.
                auto shared = OwningCollection();
                collectionGone = !shared;
                if (!shared || fids_.size() != 1) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
                auto component = shared->get_Item(rt::Variant(name));
                if (!component) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
                auto rows = component->get_Recordset()->Clone(ado::adLockUnspecified);
                rows->put_Filter(rt::Variant("QTX_FID = " + std::to_string(fids_[0])));
                return rows;
            });
        } catch (const rt::ComError&) {
            // With the collection gone no save can store the row, and a
            // feature opened alone loads nothing into its rows once its
            // collection went: nothing is loaded, and nothing said.
            if (collectionGone) return;
            throw;
        }
    } else {
        classification = GetClassificationValue(metadata, FNO, rt::ObjectPtrOf(OwningCollection()));
    }
    auto service = rt::QueryInterface<ILoadAttributesService>(rt::CreateObject(kLoadAttributesServiceProgId));
    service->putref_DataContext(dataContext_);
    rt::Variant bookmark = rows_->get_Bookmark();
    service->CopyComponent(FNO, classification, CNO_, rows_);
    RestoreBookmark(bookmark);
}

void Component::OnRecordChangeComplete(ado::EventReasonEnum adReason, ado::EventStatusEnum adStatus,
                                       const std::shared_ptr<ado::Recordset>& pRecordset) {
    TraceScope trace(kFile, "m_oEventRecordset_RecordChangeComplete");
    // A row added from inside an interface fires no AddNew interfaces.
    const bool inside = m_bInFunctionalInterface;
    rt::ComError error(0, "", "");
    bool done = rt::CaptureError(
        [&] {
            if (adReason == ado::adRsnDelete) {
                const bool last = lastRowDeleted_;
                lastRowDeleted_ = false;
                if (adStatus == ado::adStatusOK && last && !pRecordset->get_BOF()) pRecordset->MovePrevious();
                return;
            }
            // A cancelled AddNew added no row to fill.
            if (adReason != ado::adRsnAddNew || adStatus != ado::adStatusOK) return;
            m_bInFunctionalInterface = true;
            if (setDefaultValuesEnabled_ && fieldInfos_) ApplyFieldDefaults(pRecordset, fieldInfos_, name_);
            if (autoAssignKeys_) {
                pRecordset->SetValue(rt::Variant("QTX_CNO"), rt::Variant(CNO_));
                if (nextCID_ > 0) pRecordset->SetValue(rt::Variant("QTX_CID"), rt::Variant(nextCID_));
            }
            m_bInFunctionalInterface = inside;
            const uint32_t closings = pRecordset->Closings();
            AddNewFI();
            // The interfaces may have let the rows go: the new row is no
            // longer the component's to fill.
            if (!HoldsRows(pRecordset, closings)) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
            LoadAttributes(pRecordset);
        },
        error);
    if (!done) {
        m_bInFunctionalInterface = inside;
        ReportHandlerError(trace, error);
    }
}

void Component::OnMoveComplete() {
    geometryBeforeChange_ = rt::Variant();
    valueBeforeChange_ = rt::Variant();
}

}  // namespace pelmora
