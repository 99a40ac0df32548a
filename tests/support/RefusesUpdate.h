#pragma once
// A recordset event sink that refuses to end an edit, as an event handler may:
// the Update it is advised on raises ADO's cancelled-operation error.
#include "ado/Recordset.h"

namespace pelmora_test {

class RefusesUpdate : public ado::RecordsetEvents {
public:
    void WillChangeRecord(ado::EventReasonEnum reason, int32_t, ado::EventStatusEnum& status,
                          const ado::RecordsetPtr&) override {
        if (reason == ado::adRsnUpdate) status = ado::adStatusCancel;
    }
};

}  // namespace pelmora_test
