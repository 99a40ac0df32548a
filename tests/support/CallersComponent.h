#pragma once
// A component and a key object of a caller's own class rather than the
// system's. Tests hand them where the system must not take them for its own.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "ado/Recordset.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "runtime/Object.h"

namespace pelmora_test {

// Answers the rows its function gives (Nothing if so) and the CNO and names
// it was given, and ignores every setter.
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

// Stands for a key of the system's: answers its numbers and components and
// passes every setter on to it, but is not one.
class CallersKey : public rt::Object, public pelmora::IKeyObject {
public:
    explicit CallersKey(std::shared_ptr<pelmora::IKeyObject> key) : key_(std::move(key)) {}
    int16_t get_FNO() override { return key_->get_FNO(); }
    void put_FNO(int16_t FNO) override { key_->put_FNO(FNO); }
    int32_t get_FID() override { return key_->get_FID(); }
    void put_FID(int32_t FID) override { key_->put_FID(FID); }
    int16_t get_CNO() override { return key_->get_CNO(); }
    void put_CNO(int16_t CNO) override { key_->put_CNO(CNO); }
    int16_t get_CID() override { return key_->get_CID(); }
    void put_CID(int16_t CID) override { key_->put_CID(CID); }
    std::shared_ptr<pelmora::IComponents> get_Components() override { return key_->get_Components(); }
    void putref_Components(const std::shared_ptr<pelmora::IComponents>& Components) override {
        key_->putref_Components(Components);
    }

private:
    std::shared_ptr<pelmora::IKeyObject> key_;
};

}  // namespace pelmora_test
