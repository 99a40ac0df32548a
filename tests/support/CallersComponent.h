#pragma once
// A component of a caller's own class rather than the system's: it answers
// the rows its function gives (Nothing if so) and the CNO and names it was
// given, and ignores every setter. Tests hand it where the system must not
// take a component for one of its own.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "ado/Recordset.h"
#include "interfaces/Components.h"
#include "runtime/Object.h"

namespace pelmora_test {

class CallersComponent : public rt::Object, public pelmora::IComponent {
public:
    using Rows = std::function<std::shared_ptr<ado::Recordset>()>;
    explicit CallersComponent(Rows rows, int16_t cno = 0, std::string name = {}, std::string table = {},
                              bool local = false)
        : rows_(std::move(rows)), cno_(cno), name_(std::move(name)), table_(std::move(table)), local_(local) {}

    void AddFID(const rt::Variant&) override {}
    int16_t get_CNO() override { return cno_; }
    void put_CNO(int16_t) override {}
    std::shared_ptr<pelmora::IDataContext> get_DataContext() override { return nullptr; }
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>&) override {}
    rt::ObjectPtr get_Geometry() override { return nullptr; }
    void putref_Geometry(const rt::ObjectPtr&) override {}
    std::shared_ptr<ado::Recordset> get_Recordset() override { return rows_(); }
    std::string get_Name() override { return name_; }
    std::string get_TableName() override { return table_; }
    void Update() override {}
    std::string get_Filter() override { return ""; }
    void put_Filter(const std::string&) override {}
    bool get_FunctionalInterfacesEnabled() override { return false; }
    void put_FunctionalInterfacesEnabled(bool) override {}
    bool get_AttributeEditControlEnabled() override { return false; }
    void put_AttributeEditControlEnabled(bool) override {}
    bool get_RecordsetLocal() override { return local_; }

private:
    Rows rows_;
    int16_t cno_;
    std::string name_, table_;
    bool local_;
};

}  // namespace pelmora_test
