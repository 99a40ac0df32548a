#include "pelmora/relationships/RelationshipHelperFactory.h"

#include <cmath>
#include <map>

#include "pelmora/relationships/Detail.h"
#include "pelmora/relationships/M2MOwnership.h"
#include "pelmora/relationships/NEConnectivity.h"
#include "pelmora/relationships/NodeOrdConnADO.h"
#include "pelmora/relationships/Ownership.h"
#include "pelmora/relationships/UnknownRelationship.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

std::map<int32_t, RelationshipHelperCreator>& Table() {
    static std::map<int32_t, RelationshipHelperCreator> table;
    return table;
}

// The system's classes that live above this folder, joined at start.
std::map<int32_t, RelationshipHelperCreator>& Joined() {
    static std::map<int32_t, RelationshipHelperCreator> joined;
    return joined;
}

}  // namespace

void RegisterRelationshipHelperClasses() {
    auto& table = Table();
    table.clear();
    // Each helper class joins here under the QTX_TYPE it serves:
    //   table[qzrelOwnership] = [] { return std::make_shared<Ownership>(); };
    table[qzrelOwnership] = [] { return std::make_shared<Ownership>(); };
    table[qzrelNodeEdgeConnectivity] = [] { return std::make_shared<NEConnectivity>(); };
    table[qzrelDetail] = [] { return std::make_shared<Detail>(); };
    // The types 2, 3, 4, 6, 7, 8 and 9 have classes of their own; until a
    // class stands here (or joins) its rows get UnknownRelationship.
    table[qzrelNodeOrderedConnectivity] = [] { return std::make_shared<NodeOrdConnADO>(); };
    table[qzrelManyToManyOwnership] = [] { return std::make_shared<M2MOwnership>(); };
    for (const auto& [type, creator] : Joined()) table[type] = creator;
}

void JoinSystemRelationshipHelperClass(int32_t qtxType, RelationshipHelperCreator creator) {
    Joined()[qtxType] = creator;
    Table()[qtxType] = std::move(creator);
}

void RegisterRelationshipHelperClass(int32_t qtxType, RelationshipHelperCreator creator) {
    if (creator)
        Table()[qtxType] = std::move(creator);
    else
        Table().erase(qtxType);
}

std::shared_ptr<IRelationshipHelper> NewRelationshipHelper(const rt::Variant& qtxType) {
    // The row's value is compared with each type by value, as a Select Case
    // on the variant does: 3, 3.0 and "3" all choose type 3.
    if (!qtxType.IsNull() && rt::IsNumeric(qtxType)) {
        const double value = rt::CDbl(qtxType);
        if (value == std::floor(value) && std::fabs(value) < 2147483648.0) {
            auto it = Table().find(static_cast<int32_t>(value));
            if (it != Table().end()) return it->second();
        }
    }
    return std::make_shared<UnknownRelationship>();
}

}  // namespace pelmora
