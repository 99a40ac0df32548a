#pragma once
// Components and their collections as the product's other components see
// them.
//
// IComponent is the full face of one component of one or more features;
// QzComponent is the reduced face of the sibling library, whose members do
// what their IComponent namesakes do. A class that implements IComponent
// implements QzComponent as well (the shared members behave the same).
//
// IComponents / QzComponents are the two faces of a collection of components
// keyed by component name. Their Item, GetComponent and NewEnum answer
// different interfaces, so a collection hands out QzComponents as a facet:
// reach it with rt::QueryInterface<QzComponents>().
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace ado {
class Recordset;
}

namespace pelmora {

class IDataContext;

class IComponent {
public:
    virtual ~IComponent() = default;
    // A Long, or an array of Longs; anything else raises 0x80040001.
    virtual void AddFID(const rt::Variant& FID) = 0;
    virtual int16_t get_CNO() = 0;
    // Set once, after the data context.
    virtual void put_CNO(int16_t CNO) = 0;
    virtual std::shared_ptr<IDataContext> get_DataContext() = 0;
    virtual void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;
    // The geometry object of the current row (the desktop application's
    // geometry, reached late bound); nullptr when there is none.
    virtual rt::ObjectPtr get_Geometry() = 0;
    virtual void putref_Geometry(const rt::ObjectPtr& Geometry) = 0;
    // The rows, loaded on first use.
    virtual std::shared_ptr<ado::Recordset> get_Recordset() = 0;
    virtual std::string get_Name() = 0;
    virtual std::string get_TableName() = 0;
    // Writes the pending rows through the data context.
    virtual void Update() = 0;
    virtual std::string get_Filter() = 0;
    virtual void put_Filter(const std::string& Filter) = 0;
    virtual bool get_FunctionalInterfacesEnabled() = 0;
    virtual void put_FunctionalInterfacesEnabled(bool Enabled) = 0;
    virtual bool get_AttributeEditControlEnabled() = 0;
    virtual void put_AttributeEditControlEnabled(bool Enabled) = 0;
    // True when rows are held; loads nothing.
    virtual bool get_RecordsetLocal() = 0;
};

class QzComponent {
public:
    virtual ~QzComponent() = default;
    virtual int16_t get_CNO() = 0;
    virtual std::shared_ptr<IDataContext> get_DataContext() = 0;
    virtual rt::ObjectPtr get_Geometry() = 0;
    virtual void putref_Geometry(const rt::ObjectPtr& Geometry) = 0;
    virtual std::shared_ptr<ado::Recordset> get_Recordset() = 0;
    virtual std::string get_Name() = 0;
    virtual std::string get_TableName() = 0;
    virtual bool get_RecordsetLocal() = 0;
};

class IComponents {
public:
    virtual ~IComponents() = default;
    // FID: one Long or an array of Longs.
    virtual void AddComponentByCNO(int16_t CNO, const rt::Variant& FID) = 0;
    virtual void AddComponentByRecordset(int16_t CNO, const std::shared_ptr<ado::Recordset>& Recordset) = 0;
    virtual int32_t get_Count() = 0;
    virtual std::shared_ptr<IDataContext> get_DataContext() = 0;
    virtual void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;
    // By position from 1 (9 out of range) or by name, ignoring case (5 when absent).
    virtual std::shared_ptr<IComponent> get_Item(const rt::Variant& Index) = 0;
    virtual void Refresh() = 0;
    // The components in order of adding, as they are now.
    virtual std::vector<std::shared_ptr<IComponent>> get_NewEnum() = 0;
    virtual void Update() = 0;
    // The first component of the number in order of adding; nullptr when none.
    virtual std::shared_ptr<IComponent> GetComponent(int16_t CNO) = 0;
};

class QzComponents {
public:
    virtual ~QzComponents() = default;
    virtual int32_t get_Count() = 0;
    virtual std::shared_ptr<IDataContext> get_DataContext() = 0;
    virtual std::shared_ptr<QzComponent> get_Item(const rt::Variant& Index) = 0;
    virtual std::vector<std::shared_ptr<QzComponent>> get_NewEnum() = 0;
    virtual std::shared_ptr<QzComponent> GetComponent(int16_t CNO) = 0;
};

}  // namespace pelmora
