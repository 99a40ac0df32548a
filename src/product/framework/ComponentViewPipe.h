#pragma once
// The framework's component view pipe ("Holvane.ComponentViewPipe"): given a
// database connection of the desktop application, a feature's components,
// its FNO and a CNO, it outputs one framework recordset row holding the
// fields of component CNO, then those of the feature's other attribute
// components, each from its current row (the first row when its cursor
// stands on none). A field name met twice keeps its first value.
//
// The connection supplies the metadata (its DataContext) that tells
// attribute components from geometry ones; reading OutputRecordset without
// a connection, components, or a component CNO raises. The pipe reads the
// components and moves none of their cursors.
#include <cstdint>
#include <memory>

#include "interfaces/Framework.h"
#include "runtime/Object.h"

namespace product {

class ComponentViewPipe : public rt::Object, public pelmora::IComponentViewPipe {
public:
    void put_FNO(int32_t FNO) override { fno_ = FNO; }
    void put_CNO(int32_t CNO) override { cno_ = CNO; }
    void putref_Components(const std::shared_ptr<pelmora::IComponents>& Components) override {
        components_ = Components;
    }
    void putref_Connection(const rt::ObjectPtr& Connection) override { connection_ = Connection; }
    std::shared_ptr<pelmora::IFrameworkRecordset> get_OutputRecordset() override;

    std::string TypeName() const override { return "ComponentViewPipe"; }

private:
    int32_t fno_ = 0;
    int32_t cno_ = 0;
    std::shared_ptr<pelmora::IComponents> components_;
    rt::ObjectPtr connection_;
};

}  // namespace product
