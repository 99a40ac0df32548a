#include "pelmora/persistence/ComponentDatabaseService.h"

#include "pelmora/common/TraceScope.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/Component.h"
#include "pelmora/interfaces/Components.h"
#include "pelmora/interfaces/DataContext.h"
#include "runtime/Error.h"

namespace pelmora {

namespace {

constexpr const char* kFile = "ComponentDatabaseService";
constexpr int16_t kMsgSource = 23283;
constexpr int32_t kMsgAlreadyBegun = 23285;
constexpr int32_t kMsgNoKey = 23284;
constexpr int32_t kMsgWriteFailed = 23288;

std::string SourceText() { return LoadResStringWithParams(kMsgSource); }

// The pending rows of a recordset family, each checked for its keys.
std::vector<ado::PendingRow> PendingRowsWithKeys(const std::shared_ptr<ado::Recordset>& rs) {
    if (!rs) return {};
    std::vector<ado::PendingRow> rows = rs->PendingRows();
    if (rows.empty()) return rows;
    const int32_t keys[] = {rs->FieldIndex("QTX_FID"), rs->FieldIndex("QTX_CNO"), rs->FieldIndex("QTX_CID")};
    for (const auto& row : rows) {
        for (int32_t k : keys) {
            bool missing = k < 0 || static_cast<size_t>(k) >= row.current.size() || row.current[k].IsNull() ||
                           row.current[k].IsEmpty();
            if (missing) RaiseError(kMsgNoKey, SourceText(), rt::Variant(kMsgNoKey));
        }
    }
    return rows;
}

}  // namespace

void ComponentDatabaseService::Reset() {
    begun_ = false;
    queued_.clear();
}

void ComponentDatabaseService::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    dataContext_ = DataContext;
}

void ComponentDatabaseService::BeginComponentOperations() {
    TraceScope trace(kFile, "BeginComponentOperations");
    if (begun_) {
        Reset();
        RaiseError(kMsgAlreadyBegun, SourceText(), rt::Variant(kMsgAlreadyBegun));
    }
    begun_ = true;
}

void ComponentDatabaseService::UpdateComponent(const std::shared_ptr<IComponent>& objComponent) {
    TraceScope trace(kFile, "UpdateComponent");
    if (!begun_ || !objComponent) return;
    QueuedComponent entry;
    entry.name = objComponent->get_Name();
    if (entry.name.empty()) RaiseError(kMsgNoKey, SourceText(), rt::Variant(kMsgNoKey));
    entry.tableName = objComponent->get_TableName();
    // Rows never loaded cannot be pending.
    if (!objComponent->get_RecordsetLocal()) return;
    auto component = rt::QueryInterface<Component>(objComponent);
    entry.rows = PendingRowsWithKeys(objComponent->get_Recordset());
    entry.geometryRows = PendingRowsWithKeys(component->get_GeometryRecordset());
    if (entry.rows.empty() && entry.geometryRows.empty()) return;
    queued_.push_back(std::move(entry));
}

void ComponentDatabaseService::EndComponentOperations() {
    TraceScope trace(kFile, "EndComponentOperations");
    bool pending = begun_ && !queued_.empty();
    Reset();
    // Turning the queue into work operations is not built yet: refusing the
    // batch keeps every row pending instead of reporting a save that did
    // not happen.
    if (pending)
        RaiseError(kMsgWriteFailed, SourceText(), rt::Variant(kMsgWriteFailed),
                   rt::Variant::Missing(), rt::Variant("Writing component batches is not available yet."));
}

void RegisterComponentDatabaseService() {
    rt::RegisterClass(kComponentDatabaseServiceProgId, "{7A3E5C90-1D2B-4F6A-8C4E-2B9D0F1A3C51}",
                      [] { return std::make_shared<ComponentDatabaseService>(); });
}

namespace {
[[maybe_unused]] const bool kRegistered = [] {
    RegisterComponentDatabaseService();
    return true;
}();
}  // namespace

}  // namespace pelmora
