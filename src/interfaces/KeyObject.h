#pragma once
// Feature and component keys as the product's other components see them.
//
// IKeyObject / IKeyObjects are the types of every feature and feature-set
// argument of the product's interfaces; QzKeyObject / QzKeyObjects are the
// reduced faces of the sibling library. The class KeyObject implements
// IKeyObject itself and hands out QzKeyObject as a facet (its Components must
// answer a different interface); KeyObjects likewise implements IKeyObjects
// and hands out QzKeyObjects as a facet. Reach either face with
// rt::QueryInterface<...>().
#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/Variant.h"

namespace pelmora {

// The system's keyed collection of features, for a layer that may not name its class.
inline constexpr const char* kKeyObjectsProgId = "QzPelmora.KeyObjects";

// Declared with the components collection.
class IComponents;
class QzComponents;

class IKeyObject {
public:
    virtual ~IKeyObject() = default;
    virtual int16_t get_FNO() = 0;
    virtual void put_FNO(int16_t FNO) = 0;
    virtual int32_t get_FID() = 0;
    virtual void put_FID(int32_t FID) = 0;
    virtual int16_t get_CNO() = 0;
    virtual void put_CNO(int16_t CNO) = 0;
    virtual int16_t get_CID() = 0;
    virtual void put_CID(int16_t CID) = 0;
    // The feature's components, or nullptr when none were set.
    virtual std::shared_ptr<IComponents> get_Components() = 0;
    // nullptr allowed. The key object holds a strong reference.
    virtual void putref_Components(const std::shared_ptr<IComponents>& Components) = 0;
};

class QzKeyObject {
public:
    virtual ~QzKeyObject() = default;
    virtual int16_t get_FNO() = 0;
    virtual void put_FNO(int16_t FNO) = 0;
    virtual int32_t get_FID() = 0;
    virtual void put_FID(int32_t FID) = 0;
    virtual int16_t get_CNO() = 0;
    virtual void put_CNO(int16_t CNO) = 0;
    virtual int16_t get_CID() = 0;
    virtual void put_CID(int16_t CID) = 0;
    // The stored collection queried for QzComponents; nullptr when none is
    // stored. There is no setter on this face.
    virtual std::shared_ptr<QzComponents> get_Components() = 0;
};

class IKeyObjects {
public:
    virtual ~IKeyObjects() = default;
    // Adds under the member's key text unless that key is present (then
    // nothing happens). Raises 13 for an object that is not a KeyObject of
    // this system, 91 for nullptr; the collection is untouched then.
    virtual void Add(const std::shared_ptr<IKeyObject>& KeyObject) = 0;
    // Removes whichever member is stored under the key text of the argument;
    // 5 when none is, 13/91 as Add.
    virtual void Remove(const std::shared_ptr<IKeyObject>& KeyObject) = 0;
    virtual void Clear() = 0;
    virtual int32_t get_Count() = 0;
    // By position from 1 (9 outside 1..Count) or by key text (5 when absent).
    virtual std::shared_ptr<IKeyObject> get_Item(const rt::Variant& Index) = 0;
    // The members in order of adding, as they are now; later changes to the
    // collection do not reach the copy.
    virtual std::vector<std::shared_ptr<IKeyObject>> get_NewEnum() = 0;
};

class QzKeyObjects {
public:
    virtual ~QzKeyObjects() = default;
    // As IKeyObjects: the argument must be a KeyObject of this system (13).
    virtual void Add(const std::shared_ptr<QzKeyObject>& KeyObject) = 0;
    virtual void Remove(const std::shared_ptr<QzKeyObject>& KeyObject) = 0;
    virtual void Clear() = 0;
    virtual int32_t get_Count() = 0;
    virtual std::shared_ptr<QzKeyObject> get_Item(const rt::Variant& Index) = 0;
    virtual std::vector<std::shared_ptr<QzKeyObject>> get_NewEnum() = 0;
};

}  // namespace pelmora
