#pragma once
// Which helper class serves a relationship row: a table from QTX_TYPE to the
// creator of a new helper. A type without an entry, a Null type and a value
// that is no whole number get UnknownRelationship.
//
// The table is the process's, like the ProgID registry.
// RegisterRelationshipHelperClasses sets it to the system's classes (the
// relationship service's registration calls it); a helper class of this
// folder joins by one line there under the QTX_TYPE it serves, one of a
// folder above (dimensioning and stationing) by
// JoinSystemRelationshipHelperClass at start, so that this folder names no
// class above it. A test may put its own
// class in place of one with RegisterRelationshipHelperClass until the next
// RegisterRelationshipHelperClasses.
#include <cstdint>
#include <functional>
#include <memory>

#include "interfaces/Relationship.h"
#include "runtime/Variant.h"

namespace pelmora {

using RelationshipHelperCreator = std::function<std::shared_ptr<IRelationshipHelper>()>;

// The table holds the system's helper classes and nothing else.
void RegisterRelationshipHelperClasses();
// The class of QTX_TYPE qtxType becomes one of the system's: it stands now
// and after every RegisterRelationshipHelperClasses.
void JoinSystemRelationshipHelperClass(int32_t qtxType, RelationshipHelperCreator creator);
// The class of QTX_TYPE qtxType from now on; an empty creator removes it.
void RegisterRelationshipHelperClass(int32_t qtxType, RelationshipHelperCreator creator);
// A new helper for a row's QTX_TYPE value, nothing set on it yet.
std::shared_ptr<IRelationshipHelper> NewRelationshipHelper(const rt::Variant& qtxType);

}  // namespace pelmora
