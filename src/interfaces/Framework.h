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

// ---- geometry services ----

inline constexpr const char* kInMemoryRecordsetProgId = "Holvane.InMemoryRecordset";
inline constexpr const char* kGeometryStorageServiceProgId = "Holvane.GeometryStorageService";
inline constexpr const char* kGeometryStorageServiceClsid = "{7CB5DE80-C629-11CF-ABF4-006097382A1E}";
inline constexpr const char* kBufferZonePipeProgId = "Holvane.BufferZonePipe";
inline constexpr const char* kSpatialFilterClsid = "{7FCA84A8-3384-11D1-808B-006097382A1E}";

// Field type codes of an in-memory recordset's definition.
namespace framework_field {
inline constexpr int32_t GeometryType = 32;
inline constexpr int32_t AnyGeometrySubType = 3;  // a field that holds geometries of every kind
}  // namespace framework_field

// Operator codes of the spatial filter.
namespace spatial_operator {
inline constexpr int32_t Intersects = 3;  // any point in common
}  // namespace spatial_operator

// The definition object of an in-memory recordset: AddField starts a field,
// the type settings apply to the field added last.
class IInMemoryRecordsetDefinition {
public:
    virtual ~IInMemoryRecordsetDefinition() = default;
    // A name already defined, or "", raises 5.
    virtual void AddField(const std::string& Name) = 0;
    // Raise 5 before any AddField, and for codes the recordset cannot hold.
    virtual void put_FieldType(int32_t TypeCode) = 0;
    virtual void put_FieldSubType(int32_t SubTypeCode) = 0;
};

// A framework recordset held in memory. Its fields are defined while the
// definition switch is on; switching it off makes the (empty) recordset,
// after which the definition is fixed. Definition raises 5 while the switch
// is off; Recordset raises 5 while it is on or before anything was defined.
class IInMemoryRecordset {
public:
    virtual ~IInMemoryRecordset() = default;
    virtual bool get_DefinitionMode() = 0;
    virtual void put_DefinitionMode(bool DefinitionMode) = 0;
    virtual std::shared_ptr<IInMemoryRecordsetDefinition> get_Definition() = 0;
    virtual std::shared_ptr<IFrameworkRecordset> get_Recordset() = 0;
};

// Stores geometries into the geometry fields of framework recordsets and
// reads them back. The storage form of a geometry is a Variant that stands
// for a deep copy of it: reading it back gives a new geometry equal to the
// one stored, whatever happened to the original since. Nothing stores Null
// and reads back as nullptr.
class IGeometryStorageService {
public:
    virtual ~IGeometryStorageService() = default;
    // A field that is no geometry field raises 13.
    virtual void StoreGeometry(const std::shared_ptr<IFrameworkField>& Field, const rt::ObjectPtr& Geometry) = 0;
    virtual rt::ObjectPtr RetrieveGeometry(const std::shared_ptr<IFrameworkField>& Field) = 0;
    // Empty for Nothing.
    virtual rt::Variant GetStorageForm(const rt::ObjectPtr& Geometry) = 0;
};

// Widens the geometries of an input recordset by a distance. The settings
// are made in this order: zone kind (1: all round the geometry), join kind
// (1: round), the input's geometry field, the distance source ("DISTANCE":
// one distance for every row, given as text), the distance, the output's
// geometry field, the tolerance (how far the zone's round parts may stray
// from the true curve). The output recordset holds one row per input row
// whose zone is not empty, with the zone in the output field; it is made
// when read. Settings out of range raise 5 when made.
class IBufferZonePipe {
public:
    virtual ~IBufferZonePipe() = default;
    virtual void put_ZoneKind(int16_t ZoneKind) = 0;
    virtual void put_JoinKind(int16_t JoinKind) = 0;
    virtual void put_GeometryFieldName(const std::string& Name) = 0;
    virtual void put_DistanceSource(const std::string& Source) = 0;
    virtual void put_Distance(const std::string& Distance) = 0;
    virtual void put_OutputFieldName(const std::string& Name) = 0;
    virtual void put_Tolerance(double Tolerance) = 0;
    virtual void putref_InputRecordset(const std::shared_ptr<IFrameworkRecordset>& Input) = 0;
    virtual std::shared_ptr<IFrameworkRecordset> get_OutputRecordset() = 0;
};

// Keeps the rows of an input recordset whose geometry field stands in the
// operator's relation to the filter geometry (a storage form; Empty matches
// no row). The output is made when read, from every row of the input; the
// input's cursor does not move.
class ISpatialFilter {
public:
    virtual ~ISpatialFilter() = default;
    // A code other than spatial_operator::Intersects raises 5.
    virtual void put_Operator(int32_t Operator) = 0;
    virtual void put_GeometryFieldName(const std::string& Name) = 0;
    // A Variant that is neither Empty nor a storage form raises 13.
    virtual void put_FilterGeometry(const rt::Variant& Geometry) = 0;
    virtual void putref_InputRecordset(const std::shared_ptr<IFrameworkRecordset>& Input) = 0;
    virtual std::shared_ptr<IFrameworkRecordset> get_OutputRecordset() = 0;
};

}  // namespace pelmora
