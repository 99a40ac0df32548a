#pragma once
// The GIS framework's objects as the system sees them: the framework
// recordset that its pipes and in-memory recordsets hand out (a cursor with a
// fields collection by name), and the component view pipe that builds one row
// of a feature's attribute components. The framework's geometry services
// (in-memory recordset, geometry storage, buffer-zone pipe, spatial filter)
// are declared with them below.
//
// These are the framework's interfaces, not ADO's: a framework recordset is
// not an ado::Recordset, and a caller reaches the objects through these
// abstract classes (rt::QueryInterface) after creating them by ProgID.
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {

class IComponents;

// One field of a framework recordset's current row.
class IFrameworkField {
public:
    virtual ~IFrameworkField() = default;
    virtual std::string get_Name() = 0;
    virtual rt::Variant get_Value() = 0;
    virtual void put_Value(const rt::Variant& Value) = 0;
};

// The fields of a framework recordset, by name. An unknown name raises.
class IFrameworkFields {
public:
    virtual ~IFrameworkFields() = default;
    virtual int32_t get_Count() = 0;
    virtual std::shared_ptr<IFrameworkField> get_Item(const std::string& Name) = 0;
};

// A framework recordset: a forward cursor that can also take new rows.
class IFrameworkRecordset {
public:
    virtual ~IFrameworkRecordset() = default;
    virtual std::shared_ptr<IFrameworkFields> get_Fields() = 0;
    virtual void AddNew() = 0;
    virtual void Update() = 0;
    virtual void MoveFirst() = 0;
    virtual void MoveNext() = 0;
    virtual bool get_BOF() = 0;
    virtual bool get_EOF() = 0;
};

inline constexpr const char* kComponentViewPipeProgId = "Holvane.ComponentViewPipe";

// Builds the component view of one feature: a framework recordset of one row
// holding the fields of the component CNO, then those of the feature's other
// attribute components (a name met twice keeps its first value). The output
// is made when OutputRecordset is read; a Nothing connection raises.
class IComponentViewPipe {
public:
    virtual ~IComponentViewPipe() = default;
    virtual void put_FNO(int32_t FNO) = 0;
    virtual void put_CNO(int32_t CNO) = 0;
    virtual void putref_Components(const std::shared_ptr<IComponents>& Components) = 0;
    virtual void putref_Connection(const rt::ObjectPtr& Connection) = 0;
    virtual std::shared_ptr<IFrameworkRecordset> get_OutputRecordset() = 0;
};

}  // namespace pelmora
