#pragma once
// Component persistence: turns the pending edits of components into one
// batch of work operations, sent to the database through the data context
// only when the batch ends. Callers create one per save and use it in the
// order DataContext, BeginComponentOperations, UpdateComponent once per
// component, EndComponentOperations; releasing it drops whatever is queued.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ado/Recordset.h"
#include "runtime/Object.h"

namespace pelmora {

class IDataContext;
class IComponent;

inline constexpr const char* kComponentDatabaseServiceProgId = "QzPelmora.ComponentDatabaseService";

// The service's default interface; a test may put a double of its own in
// its place.
class IComponentDatabaseService {
public:
    virtual ~IComponentDatabaseService() = default;
    // Keeps the context the batch is executed through; nothing else.
    virtual void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;
    // Starts a batch; a batch already begun is cancelled and 0x80040000 +
    // 23285 raised.
    virtual void BeginComponentOperations() = 0;
    // Queues the pending rows of the component and of its geometry rows;
    // nothing without a batch or without a component. A pending row without
    // component name or key raises 0x80040000 + 23284.
    virtual void UpdateComponent(const std::shared_ptr<IComponent>& objComponent) = 0;
    // Sends what is queued in one transaction inside a savepoint; a database
    // failure rolls back to the savepoint and raises 0x80040000 + 23288. The
    // service is reset (no batch, nothing queued) in every case.
    virtual void EndComponentOperations() = 0;
};

class ComponentDatabaseService : public rt::Object, public IComponentDatabaseService {
public:
    // The pending rows of one component as queued.
    struct QueuedComponent {
        std::string name;
        std::string tableName;
        std::vector<ado::PendingRow> rows;
        std::vector<ado::PendingRow> geometryRows;
    };

    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) override;
    void BeginComponentOperations() override;
    void UpdateComponent(const std::shared_ptr<IComponent>& objComponent) override;
    void EndComponentOperations() override;

    // ---- inside the system ----
    bool Begun() const { return begun_; }
    const std::vector<QueuedComponent>& Queued() const { return queued_; }
    std::shared_ptr<IDataContext> DataContext() const { return dataContext_; }

    std::string TypeName() const override { return "ComponentDatabaseService"; }

private:
    void Reset();

    std::shared_ptr<IDataContext> dataContext_;
    bool begun_ = false;
    std::vector<QueuedComponent> queued_;
};

void RegisterComponentDatabaseService();

}  // namespace pelmora
