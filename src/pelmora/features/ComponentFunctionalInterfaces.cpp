// Functional interfaces of a component: reading their definition rows,
// obtaining and caching the interface objects, preparing and making each
// call, and logging failures to the apartment's "FunctionalInterfaces.log".
#include <array>
#include <cstdint>
#include <exception>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/common/MiscEnvironment.h"
#include "pelmora/common/NullOrEmpty.h"
#include "pelmora/common/TraceScope.h"
#include "pelmora/common/modADOUtils.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/extensions/FunctionalInterfaceBridge.h"
#include "pelmora/features/Component.h"
#include "pelmora/features/ComponentService.h"
#include "pelmora/features/Components.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/modADOGlobal.h"
#include "interfaces/DataContext.h"
#include "interfaces/FunctionalInterface.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "interfaces/Varsk1.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/modAttributeInfo.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kFile = "Component";
constexpr int16_t kMsgFailed = 21984;
constexpr int64_t kAborted = 14119;

// The columns of a definition row that firing reads.
enum Column { kField, kType, kPrjNo, kInterface, kArgument, kColumns };
constexpr const char* kColumnNames[kColumns] = {"QTX_FIELD", "QTX_FUNCTIONALTYPE", "QTX_PRJNO", "QTX_INTERFACE",
                                                "QTX_INTERFACEARGUMENT"};

}  // namespace

struct Component::DefinitionRows {
    using Row = std::array<rt::Variant, kColumns>;
    // The definition recordset's RowsVersion when these were read.
    uint64_t version = 0;
    // Which columns the definition table has; a missing one raises where
    // it is read, as reading it by name would.
    std::array<bool, kColumns> present{};
    std::vector<Row> rows;
    // The rows each moment executes, in row order.
    std::vector<uint32_t> addNew, edit, update, setValue;
    // The SetValue rows of each field text, in row order; when some field
    // has no text of its own (it would raise), every SetValue row is tried.
    std::unordered_map<std::string, std::vector<uint32_t>> setValueOfField;
    bool setValueByField = true;

    const rt::Variant& Value(uint32_t row, Column column, const std::shared_ptr<ado::Recordset>& source) const {
        if (!present[column]) source->get_Fields()->Item(kColumnNames[column]);  // raises
        return rows[row][column];
    }
    const std::vector<uint32_t>& OfType(const std::string& type) const {
        static const std::vector<uint32_t> none;
        if (type == "AddNew") return addNew;
        if (type == "Edit") return edit;
        if (type == "Update") return update;
        if (type == "SetValue") return setValue;
        return none;
    }
};

// ---- the log ----

void Component::WriteLogLine(const std::string& text) {
    const std::string& path = FunctionalInterfaceLogPath();
    if (path.empty()) rt::RaiseVbError(rt::vberr::BadFileNameOrNumber);
    if (AppendToLog(path, rt::CStr(rt::Variant::Date(rt::Now())) + " --- " + text + "\n") != LogAppend::Written)
        rt::RaiseVbError(rt::vberr::PathFileAccessError);
}

// ---- definition rows ----

void Component::LoadAttributeInfoFI() {
    if (!dataContext_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto metadata = dataContext_->GetMetadataService();
    if (!metadata) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto rs = metadata->get_Recordsets()->get_Item(rt::Variant("QTX_ATTRIBUTEINFOFI_OPTABLE"))->get_Recordset("", "");
    FilterService().FilterRecordset(rs, rs->get_Fields()->Item("QTX_CNO"), rt::Variant(CNO_));
    m_oAttributeInfoRS = rs;
    definitions_.reset();
    if (!fieldInfos_) fieldInfos_ = BuildFieldInfoCollection(rs);
    m_bAttributeInfoLoaded = true;
}

// ---- the service an interface works through ----

std::shared_ptr<IComponentService> Component::GetComponentService() {
    auto service = std::make_shared<ComponentService>();
    auto owner = OwningCollection();
    bool useOwner = fids_.empty() || !owner;
    if (!useOwner && fids_.size() == 1) {
        auto own = std::dynamic_pointer_cast<Components>(owner);
        useOwner = own && own->IsSingleFeature();
    }
    if (useOwner) {
        service->putref_Components(owner);
    } else {
        // Several features: the components of the current row's feature.
        if (!rows_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        auto assembly = std::make_shared<FeatureAssemblyService>();
        assembly->putref_DataContext(dataContext_);
        assembly->put_FeatureNumber(rt::CInt(ValueOf(rows_, "QTX_FNO")));
        assembly->put_FeatureID(rt::CLng(ValueOf(rows_, "QTX_FID")));
        rt::Variant key = assembly->AssembleFeature(owner);
        if (!key.IsObject()) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        service->putref_Components(rt::QueryInterface<IKeyObject>(key.Obj())->get_Components());
    }
    return service;
}

// ---- objects ----

std::shared_ptr<IFunctionalInterface> Component::FunctionalInterfaceObject(const rt::Variant& vPrjNo,
                                                                           const rt::Variant& vFI) {
    if (IsNullOrEmpty(vFI)) return nullptr;
    TraceScope trace(kFile, "FunctionalInterfaceObject");
    try {
        const std::string key = rt::CStr(vFI);
        rt::ResumeNext resume;
        if (m_colFunctionalInterfaces) {
            if (auto item = m_colFunctionalInterfaces->TryItem(rt::Variant(key))) {
                auto cached = item->IsObject() ? rt::TryQueryInterface<IFunctionalInterface>(item->Obj()) : nullptr;
                // An object that no longer takes the data context is made again.
                if (cached && resume([&] { cached->putref_DataContext(dataContext_); })) return cached;
                resume([&] { m_colFunctionalInterfaces->Remove(rt::Variant(key)); });
            }
        }

        std::shared_ptr<IFunctionalInterface> object;
        if (IsNullOrEmpty(vPrjNo)) {
            if (key.find(':') != std::string::npos) {
                auto bridge = std::make_shared<FunctionalInterfaceBridge>();
                bridge->Initialize(0, key);
                object = bridge;
            } else {
                // A ProgID that cannot be created fires nothing and is not logged. An
                // unknown one is common (rows name interfaces not installed here) and is
                // asked for on every row, so it is not raised and caught each time.
                if (rt::IsClassRegistered(key))
                    resume([&] { object = rt::TryQueryInterface<IFunctionalInterface>(rt::CreateObject(key)); });
            }
        } else {
            auto bridge = std::make_shared<FunctionalInterfaceBridge>();
            rt::ComError failure(0, "", "");
            if (rt::CaptureError([&] { bridge->Initialize(rt::CLng(vPrjNo), ""); }, failure)) {
                object = bridge;
            } else {
                resume([&] { WriteLogLine("Error creating VBA FI '" + key + "': " + failure.Description()); });
            }
        }
        if (object) {
            if (!m_colFunctionalInterfaces) m_colFunctionalInterfaces = rt::Collection::New();
            m_colFunctionalInterfaces->Add(rt::Variant(rt::ObjectPtrOf(object)), rt::Variant(key));
            object->putref_DataContext(dataContext_);
        }
        return object;
    } catch (const rt::ComError& e) {
        trace.Error(e);
        trace.Exit();
        RaiseError(e.Number(), e.Source(), rt::Variant(e.Description()));
    }
}

// Preparing an interface counts as being inside it: the object takes the
// data context first, and what it does to the component then must fire
// nothing (an interface that edits its component there every time would
// otherwise fire itself without end).
std::shared_ptr<IFunctionalInterface> Component::EnterFunctionalInterface(const rt::Variant& vPrjNo,
                                                                          const rt::Variant& vFI) {
    m_bInFunctionalInterface = true;
    std::shared_ptr<IFunctionalInterface> object;
    try {
        object = FunctionalInterfaceObject(vPrjNo, vFI);
    } catch (...) {
        m_bInFunctionalInterface = false;
        throw;
    }
    if (!object) m_bInFunctionalInterface = false;
    return object;
}

// ---- guards, failures ----

bool Component::FiringBlocked(TraceScope& trace, bool needRows, bool deleteTexts) {
    const char* text = nullptr;
    if (!m_bFunctionalInterfacesEnabled)
        text = deleteTexts ? "Exiting because FI's are disabled." : "Exit Sub - m_bFunctionalInterfacesEnabled = False";
    else if (m_bClonedComponent)
        text = deleteTexts ? "Exiting it is a cloned component." : "Exit Sub - m_bClonedComponent = True";
    else if (m_bInFunctionalInterface)
        text = deleteTexts ? "Exiting because currently executing an FI." : "Exit Sub - m_bInFunctionalInterface = True";
    else if (needRows && !m_oAttributeInfoRS)
        text = deleteTexts ? "Exiting because Attribute Info Optable is not loaded."
                           : "Exit Sub - m_oAttributeInfoRS Is Nothing";
    else if (needRows && m_oAttributeInfoRS->get_EOF() && m_oAttributeInfoRS->get_BOF())
        text = deleteTexts ? "Exiting because no FIs are defined"
                           : "Exit Sub - m_oAttributeInfoRS.EOF = True And m_oAttributeInfoRS.BOF = True";
    if (!text) return false;
    trace.Pathway(text);
    return true;
}

void Component::RestoreBookmark(const rt::Variant& bookmark) {
    if (bookmark.IsEmpty() || !rows_) return;
    // Setting the bookmark of the row the cursor stands on would end an
    // edit in progress (an added row could no longer be cancelled).
    rt::Variant current;
    if (!rows_->get_BOF() && !rows_->get_EOF()) {
        rt::ResumeNext resume;
        resume([&] { current = rows_->get_Bookmark(); });
        if (!current.IsEmpty() && rt::VariantEquals(current, bookmark)) return;
    }
    rows_->put_Bookmark(bookmark);
}

void Component::FunctionalInterfaceFailed(const rt::ComError& error, const std::string& interfaceName,
                                          const std::string& operation,
                                          const std::shared_ptr<IFunctionalInterface>& object,
                                          const rt::Variant& bookmark, TraceScope& trace) {
    const int64_t number = static_cast<int64_t>(error.Number()) - kErrorBase;
    rt::ResumeNext resume;
    m_bInFunctionalInterface = false;
    // The interface must not keep the service (and through it this
    // component), and the caller's row must be current again.
    if (object) resume([&] { object->putref_ComponentService(nullptr); });
    resume([&] { RestoreBookmark(bookmark); });
    if (number == kAborted) {
        resume([&] {
            if (m_colFunctionalInterfaces && m_colFunctionalInterfaces->TryItem(rt::Variant(interfaceName)))
                m_colFunctionalInterfaces->Remove(rt::Variant(interfaceName));
        });
        return;
    }
    trace.Error(error);
    resume([&] {
        WriteLogLine(LoadResStringWithParams(kMsgFailed, interfaceName, operation) + " - " + error.Description());
    });
}

// ---- one interface, one field ----

void Component::ExecuteFI(const std::string& strFunctionalType, const std::string& fieldName,
                          const rt::Variant& vPrjNo, const rt::Variant& vInterface,
                          const rt::Variant& vInterfaceArgument) {
    if (IsNullOrEmpty(vInterface)) return;
    TraceScope trace(kFile, "ExecuteFI");
    if (!m_bFunctionalInterfacesEnabled || m_bClonedComponent) {
        FiringBlocked(trace, false, false);
        return;
    }
    if (m_bInFunctionalInterface) return;

    std::string operation;
    rt::Variant bookmark;
    std::shared_ptr<IFunctionalInterface> object;
    rt::ComError failure(0, "", "");
    bool done = rt::CaptureError(
        [&] {
            object = EnterFunctionalInterface(vPrjNo, vInterface);
            if (!object) return;
            if (!rows_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
            bookmark = rows_->get_Bookmark();
            operation = "FieldValueBeforeChange";
            rt::Variant arguments;
            varsk1::ConvertBlobToArray(vInterfaceArgument, arguments);
            object->put_FieldValueBeforeChange(fieldName == "QTX_GEOMETRY" ? GeometryBeforeChange()
                                                                           : valueBeforeChange_);
            object->put_ArgumentArray(arguments);
            object->put_ComponentName(name_);
            object->putref_ComponentService(GetComponentService());
            object->put_FieldName(fieldName);
            object->put_FunctionalType(strFunctionalType);
            operation = "Execute";
            object->Execute();
            object->putref_ComponentService(nullptr);
            RestoreBookmark(bookmark);
            m_bInFunctionalInterface = false;
        },
        failure);
    if (!done) FunctionalInterfaceFailed(failure, rt::CStr(vInterface), operation, object, bookmark, trace);
}

std::shared_ptr<const Component::DefinitionRows> Component::Definitions() {
    const auto& rs = m_oAttributeInfoRS;
    const uint64_t version = rs->RowsVersion();
    if (definitions_ && definitions_->version == version) return definitions_;
    auto d = std::make_shared<DefinitionRows>();
    d->version = version;
    std::array<int32_t, kColumns> index{};
    for (size_t c = 0; c < kColumns; ++c) {
        index[c] = rs->FieldIndex(kColumnNames[c]);
        d->present[c] = index[c] >= 0;
    }
    if (!(rs->get_BOF() && rs->get_EOF())) {
        for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) {
            const rt::Variant* values = rs->CurrentRowValues();
            DefinitionRows::Row row;
            for (size_t c = 0; c < kColumns; ++c)
                if (d->present[c]) row[c] = values[index[c]];
            d->rows.push_back(std::move(row));
        }
    }
    const std::pair<rt::Variant, std::vector<uint32_t>*> moments[] = {{rt::Variant("AddNew"), &d->addNew},
                                                                      {rt::Variant("Edit"), &d->edit},
                                                                      {rt::Variant("Update"), &d->update},
                                                                      {rt::Variant("SetValue"), &d->setValue}};
    if (d->present[kType])
        for (uint32_t i = 0; i < d->rows.size(); ++i)
            for (const auto& [type, list] : moments)
                if (rt::VariantEquals(d->rows[i][kType], type)) list->push_back(i);
    d->setValueByField = d->present[kField];
    for (uint32_t i : d->setValue) {
        const rt::Variant& field = d->rows[i][kField];
        if (IsNullOrEmpty(field)) continue;  // fires for no field
        try {
            d->setValueOfField[rt::CStr(field)].push_back(i);
        } catch (const rt::ComError&) {
            d->setValueByField = false;  // raises in its turn
        }
    }
    definitions_ = d;
    return d;
}

void Component::ExecuteRowsOfType(const std::string& strFunctionalType, const std::string* onlyField) {
    // Held here: an interface may change the definition rows meanwhile.
    const auto d = Definitions();
    const auto source = m_oAttributeInfoRS;
    if (!d->present[kType]) source->get_Fields()->Item(kColumnNames[kType]);  // raises
    const std::vector<uint32_t>* rows = &d->OfType(strFunctionalType);
    if (onlyField && d->setValueByField) {
        static const std::vector<uint32_t> none;
        auto found = d->setValueOfField.find(*onlyField);
        rows = found == d->setValueOfField.end() ? &none : &found->second;
    }
    // The rows the moment fires for, taken at its first interface.
    std::shared_ptr<ado::Recordset> firing;
    uint32_t closings = 0;
    bool fired = false;
    for (uint32_t i : *rows) {
        if (fired && !HoldsRows(firing, closings)) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        std::string fieldName;
        const rt::Variant& field = d->Value(i, kField, source);
        if (onlyField) {
            if (IsNullOrEmpty(field) || (field.IsString() ? field.Str() : rt::CStr(field)) != *onlyField) continue;
            fieldName = *onlyField;
        } else {
            if (!loaded_) OpenComponentRecordset();
            const std::string name = rt::CStr(field);
            const int32_t index = rows_->FieldIndex(name);
            if (index < 0) rows_->get_Fields()->Item(name);  // raises
            fieldName = rows_->DescAt(index).name;
        }
        if (!fired) {
            firing = rows_;
            closings = rows_ ? rows_->Closings() : 0;
            fired = true;
        }
        ExecuteFI(strFunctionalType, fieldName, d->Value(i, kPrjNo, source), d->Value(i, kInterface, source),
                  d->Value(i, kArgument, source));
    }
}

bool Component::HoldsRows(const std::shared_ptr<ado::Recordset>& rows, uint32_t closings) const {
    return rows_ == rows && (!rows_ || (rows_->Closings() == closings && rows_->get_State() == ado::adStateOpen));
}

// ---- every interface: Update, Delete, CancelUpdate ----

void Component::CallEveryInterface(CallKind kind) {
    const char* routine = kind == CallKind::Update ? "UpdateFI" : kind == CallKind::Delete ? "DeleteFI" : "CancelUpdateFI";
    TraceScope trace(kFile, routine);
    // Held here: an interface may change the definition rows meanwhile.
    const auto d = Definitions();
    const auto source = m_oAttributeInfoRS;
    const auto firing = rows_;
    const uint32_t closings = rows_ ? rows_->Closings() : 0;
    for (uint32_t i = 0; i < d->rows.size(); ++i) {
        if (!HoldsRows(firing, closings)) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        auto value = [&](Column column) -> const rt::Variant& { return d->Value(i, column, source); };
        rt::Variant bookmark;
        if (kind == CallKind::CancelUpdate) bookmark = rows_ ? rows_->get_Bookmark() : rt::Variant();
        std::shared_ptr<IFunctionalInterface> object;
        if (kind == CallKind::Delete) {
            try {
                object = EnterFunctionalInterface(value(kPrjNo), value(kInterface));
                if (object) {
                    if (!rows_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
                    bookmark = rows_->get_Bookmark();
                }
            } catch (const rt::ComError& e) {
                m_bInFunctionalInterface = false;
                trace.Error(e);
                trace.Exit();
                RaiseError(e.Number(), e.Source(), rt::Variant(e.Description()));
            }
        } else {
            object = EnterFunctionalInterface(value(kPrjNo), value(kInterface));
            if (object && kind == CallKind::Update) {
                try {
                    if (!rows_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
                    bookmark = rows_->get_Bookmark();
                } catch (...) {
                    m_bInFunctionalInterface = false;
                    throw;
                }
            }
        }
        if (object) {
            std::string operation;
            rt::ComError failure(0, "", "");
            bool done = rt::CaptureError(
                [&] {
                    rt::Variant arguments;
                    varsk1::ConvertBlobToArray(value(kArgument), arguments);
                    if (kind == CallKind::Update) {
                        object->put_FieldValueBeforeChange(rt::Variant::Null());
                        object->put_ArgumentArray(arguments);
                    } else {
                        object->put_ArgumentArray(arguments);
                        object->put_FieldValueBeforeChange(rt::Variant::Null());
                    }
                    object->put_ComponentName(name_);
                    object->putref_ComponentService(GetComponentService());
                    object->put_FieldName(rt::CStr(value(kField)));
                    object->put_FunctionalType(rt::CStr(value(kType)));
                    switch (kind) {
                        case CallKind::Update:
                            operation = "Update";
                            object->Update();
                            break;
                        case CallKind::Delete:
                            operation = "Delete";
                            object->Delete();
                            break;
                        case CallKind::CancelUpdate:
                            operation = "CancelUpdate";
                            object->CancelUpdate();
                            break;
                    }
                },
                failure);
            if (!done) {
                std::string name;
                rt::ResumeNext resume;
                resume([&] { name = rt::CStr(value(kInterface)); });
                FunctionalInterfaceFailed(failure, name, operation, object, bookmark, trace);
                return;  // the interfaces after a failed one are not called
            }
            m_bInFunctionalInterface = false;
            object->putref_ComponentService(nullptr);
            RestoreBookmark(bookmark);
        }
    }
}

// ---- the moments ----

void Component::AddNewFI() {
    TraceScope trace(kFile, "AddNewFI");
    TraceComponentKeys(trace);
    if (FiringBlocked(trace, false, false)) return;
    if (!m_bAttributeInfoLoaded) LoadAttributeInfoFI();
    if (FiringBlocked(trace, true, false)) return;
    ExecuteRowsOfType("AddNew", nullptr);
}

void Component::EditFI() {
    TraceScope trace(kFile, "EditFI");
    if (FiringBlocked(trace, true, false)) return;
    ExecuteRowsOfType("Edit", nullptr);
}

void Component::FireFieldChangeFI(const std::string& fieldName) {
    TraceScope trace(kFile, "FireFieldChangeFI");
    if (FiringBlocked(trace, true, false)) return;
    ExecuteRowsOfType("SetValue", &fieldName);
}

void Component::UpdateFI() {
    TraceScope trace(kFile, "UpdateFI");
    if (FiringBlocked(trace, true, false)) return;
    ExecuteRowsOfType("Update", nullptr);
    CallEveryInterface(CallKind::Update);
}

void Component::DeleteFI() {
    TraceScope trace(kFile, "DeleteFI");
    if (FiringBlocked(trace, true, true)) return;
    CallEveryInterface(CallKind::Delete);
}

void Component::CancelUpdateFI() {
    TraceScope trace(kFile, "CancelUpdateFI");
    if (FiringBlocked(trace, true, false)) return;
    CallEveryInterface(CallKind::CancelUpdate);
}

}  // namespace pelmora
