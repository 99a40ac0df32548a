#pragma once
// The framework's in-memory recordset ("Holvane.InMemoryRecordset"): a
// definition switch, the definition object that adds fields while the switch
// is on, and the framework recordset made when the switch goes off. The
// definition is made once; the recordset lives as long as a caller holds it.
// The definition object shares the definition with its recordset and refuses
// every change once the switch is off.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "interfaces/Framework.h"
#include "runtime/Object.h"

namespace product {

class FrameworkRecordset;

struct InMemoryDefinitionState {
    struct Field {
        std::string name;
        std::optional<int32_t> type, subType;
    };
    bool open = false;
    std::vector<Field> fields;
};

class InMemoryRecordsetDefinition : public rt::Object, public pelmora::IInMemoryRecordsetDefinition {
public:
    explicit InMemoryRecordsetDefinition(std::shared_ptr<InMemoryDefinitionState> state) : state_(std::move(state)) {}
    void AddField(const std::string& Name) override;
    void put_FieldType(int32_t TypeCode) override;
    void put_FieldSubType(int32_t SubTypeCode) override;
    std::string TypeName() const override { return "InMemoryRecordsetDefinition"; }

private:
    InMemoryDefinitionState::Field& Last();
    std::shared_ptr<InMemoryDefinitionState> state_;
};

class InMemoryRecordset : public rt::Object, public pelmora::IInMemoryRecordset {
public:
    bool get_DefinitionMode() override { return state_->open; }
    // Switching off checks every field (type 32 with sub-type 3) and makes
    // the recordset; a failed check leaves the switch on.
    void put_DefinitionMode(bool DefinitionMode) override;
    std::shared_ptr<pelmora::IInMemoryRecordsetDefinition> get_Definition() override;
    std::shared_ptr<pelmora::IFrameworkRecordset> get_Recordset() override;
    std::string TypeName() const override { return "InMemoryRecordset"; }

private:
    std::shared_ptr<InMemoryDefinitionState> state_ = std::make_shared<InMemoryDefinitionState>();
    std::shared_ptr<InMemoryRecordsetDefinition> definition_;
    std::shared_ptr<FrameworkRecordset> recordset_;
};

}  // namespace product
