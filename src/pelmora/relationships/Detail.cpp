#include "pelmora/relationships/Detail.h"

#include <vector>

#include "ado/Recordset.h"
#include "pelmora/common/modADOUtils.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/KeyObject.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "runtime/Collection.h"
#include "runtime/Error.h"
#include "runtime/SqlName.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

bool IsEmptySet(const std::shared_ptr<ado::Recordset>& rs) { return rs->get_BOF() && rs->get_EOF(); }

// A metadata name written into the review's SQL.
std::string PlainName(const std::string& name, const char* what) {
    if (!rt::IsSqlIdentifier(name))
        throw rt::ComError(kErrorBase + 1, kDetailRelationshipSource,
                           std::string(what) + " \"" + name + "\" is not a plain name.");
    return name;
}

}  // namespace

void Detail::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    if (!DataContext) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    RelationshipHelperBase::putref_DataContext(DataContext);
    metadataService_ = MetadataService();
    configuration_ = metadataService_->get_Configuration();
}

void Detail::DeleteRelationship(const std::shared_ptr<IKeyObject>&, const std::shared_ptr<IKeyObject>&, int32_t,
                                int32_t) {
    RaiseError(1, kDetailRelationshipSource, rt::Variant("Delete operation not supported at this time."));
}

void Detail::SilentEstablishRelationship(const std::shared_ptr<IKeyObject>&, const std::shared_ptr<IKeyObject>&,
                                         int32_t, int32_t) {
    RaiseError(1, kDetailRelationshipSource, rt::Variant("SilentEstablish operation not supported at this time."));
}

rt::Variant Detail::ReviewRelationship(const std::shared_ptr<IKeyObject>& Feature) {
    try {
        return Review(Feature);
    } catch (const rt::ComError& e) {
        // The rule table keeps the filter it had at the failure.
        RaiseError(1, kDetailRelationshipSource, rt::Variant(e.Description()));
    }
}

rt::Variant Detail::Review(const std::shared_ptr<IKeyObject>& Feature) {
    if (!Feature) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    const std::string fnoField = RowText("QTX_FNOFIELD");
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item(fnoField), rt::Variant(Feature->get_FNO()));
    const rt::Variant subordinate = RowValue("QTX_SUBORDINATE");
    if (IsEmptySet(ruleTable_) || (!subordinate.IsNull() && rt::CLng(subordinate) == 0)) {
        ruleTable_->put_Filter(rt::Variant(int32_t{0}));
        return rt::Variant::Nothing();
    }

    std::vector<int32_t> ids;
    std::vector<std::string> tables, idColumns;
    auto components = Feature->get_Components();
    if (!components) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    for (ruleTable_->MoveFirst(); !ruleTable_->get_EOF(); ruleTable_->MoveNext()) {
        auto component = components->get_Item(ValueOf(ruleTable_, "QTX_TRIGGERINGNAME"));
        auto rows = component->get_Recordset();
        if (IsEmptySet(rows)) continue;
        const std::string idColumn = rt::CStr(ValueOf(ruleTable_, "QTX_IDENTIFIERFIELD"));
        for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
            const int32_t id = rt::CLng(ValueOf(rows, idColumn));
            bool seen = false;
            for (int32_t k : ids) seen = seen || k == id;
            if (!seen) ids.push_back(id);
        }
        const std::string table =
            GetComponentTable(MetadataService(), rt::CInt(ValueOf(ruleTable_, "QTX_ATTRIBUTECNO")));
        bool listed = false;
        for (const auto& t : tables) listed = listed || t == table;
        if (!listed) {
            tables.push_back(table);
            idColumns.push_back(idColumn);
        }
    }

    auto result = std::make_shared<rt::Collection>();
    std::string idList;
    for (size_t k = 0; k < ids.size(); ++k) idList += (k ? ", " : "") + std::to_string(ids[k]);
    for (size_t t = 0; t < tables.size(); ++t) {
        const std::string sql = "SELECT * FROM " + PlainName(tables[t], "The attribute table") + " WHERE " +
                                PlainName(idColumns[t], "The detail id column") + " IN " + "(" + idList + ")";
        auto found = dataContext_->OpenRecordset(sql);
        if (!found || found->get_EOF()) continue;
        for (found->MoveFirst(); !found->get_EOF(); found->MoveNext()) {
            auto key = std::make_shared<KeyObject>();
            key->put_FNO(rt::CInt(ValueOf(found, "QTX_FNO")));
            key->put_FID(rt::CLng(ValueOf(found, "QTX_FID")));
            result->Add(rt::Variant(std::static_pointer_cast<rt::Object>(key)));
        }
    }
    ruleTable_->put_Filter(rt::Variant(int32_t{0}));
    return rt::Variant(std::static_pointer_cast<rt::Object>(result));
}

}  // namespace pelmora
