#pragma once
// The connectivity relationships on the sample (data/sample/57_connectivity.sql):
// node-edge relationship 3 and node-ordered relationship 5, reached through
// the relationship service, features opened from the database, and a
// validation run through IRelationship whose findings are read back for one
// relationship.
#include "RelationshipTestSupport.h"

#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "pelmora/metadata/MetadataRecordset.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "runtime/Collection.h"

namespace connectivitytest {

using Lines = std::vector<std::string>;
using Keys = std::vector<std::pair<int16_t, int32_t>>;

inline constexpr int16_t kNodeEdge = 3;
inline constexpr int16_t kNodeOrdered = 5;

class ConnectivityFixture : public relationshiptest::RelationshipServiceFixture {
protected:
    // The feature with its components, from the database.
    std::shared_ptr<pelmora::IKeyObject> Open(int16_t fno, int32_t fid) {
        auto assembly = std::make_shared<pelmora::FeatureAssemblyService>();
        assembly->putref_DataContext(context_ ? context_ : std::static_pointer_cast<pelmora::IDataContext>(sqlite_));
        return assembly->OpenFeature(fno, fid);
    }

    // "FNO/FID" of each feature of a collection of key objects.
    static Lines KeysOf(const rt::ObjectPtr& collection) {
        Lines keys;
        auto items = std::dynamic_pointer_cast<rt::Collection>(collection);
        if (!items) return {"not a Collection"};
        for (int32_t i = 1; i <= items->Count(); ++i) {
            auto key = rt::QueryInterface<pelmora::IKeyObject>(items->Item(rt::Variant(i)).Obj());
            keys.push_back(std::to_string(key->get_FNO()) + "/" + std::to_string(key->get_FID()));
        }
        return keys;
    }

    // Validates the features through IRelationship on the context in use (the
    // sample's unless a test set another) and gives "priority|description|FID"
    // of the findings located at the relationship named.
    Lines Validate(const Keys& keys, const std::string& location) {
        auto relationship = rt::QueryInterface<pelmora::IRelationship>(std::static_pointer_cast<rt::Object>(service_));
        relationship->putref_DataContext(context_ ? context_ : std::static_pointer_cast<pelmora::IDataContext>(sqlite_));
        auto features = pelmora::KeyObjects::New();
        for (auto [fno, fid] : keys) {
            auto key = pelmora::KeyObject::New();
            key->put_FNO(fno);
            key->put_FID(fid);
            features->Add(key);
        }
        relationship->putref_Features(features);
        std::shared_ptr<ado::Recordset> set, errors;
        relationship->Validate(set, errors);
        return Findings(errors, location);
    }

    static Lines Findings(const std::shared_ptr<ado::Recordset>& errors, const std::string& location) {
        Lines rows;
        if (errors->get_BOF() && errors->get_EOF()) return rows;
        for (errors->MoveFirst(); !errors->get_EOF(); errors->MoveNext()) {
            auto text = [&](const char* f) {
                rt::Variant v = errors->GetValue(rt::Variant(f));
                return v.IsNull() ? std::string("Null") : rt::CStr(v);
            };
            if (text("ErrorLocation") != location) continue;
            rows.push_back(text("ErrorPriority") + "|" + text("ErrorDescription") + "|" + text("QTX_FID"));
        }
        return rows;
    }

    // Runs SQL on the sample's transaction (rolled back when the test ends).
    void Execute(const std::string& sql) {
        rt::Variant affected;
        sqlite_->ExecuteSQL(sql, affected, 1);
    }

    // From now on the service and the features work on a context whose
    // metadata has the table's rows matching the filter changed (the sample's
    // database connection, so SQL run by the test is seen).
    void EditMetadata(const std::string& table, const std::string& filter, const std::string& field,
                      const rt::Variant& value) {
        if (!editing_) {
            editing_ = std::make_shared<EditingMetadata>(rt::QueryInterface<pelmora::IMetadataService>(metadata_));
            context_ = std::make_shared<MetadataContext>(sqlite_, editing_);
        }
        editing_->Edit(table, filter, field, value);
        pelmora::MetadataUtilsFilterService()->Clear();
        service_ = NewService(false);
        service_->putref_DataContext(context_);
    }

    std::shared_ptr<pelmora::IDataContext> context_;

    // A table of the sample copied into a recordset of its own, editable.
    class EditedTable : public rt::Object, public pelmora::IMetadataRecordset {
    public:
        explicit EditedTable(const std::shared_ptr<pelmora::IMetadataRecordset>& inner)
            : source_(inner->get_Source()), key_(inner->get_Key()),
              rows_(ado::Recordset::FromImage(inner->get_Recordset("", "")->ToImage())) {}
        std::string get_Source() override { return source_; }
        std::string get_Key() override { return key_; }
        std::shared_ptr<ado::Recordset> get_Recordset(const std::string& filter, const std::string& sort) override {
            auto clone = rows_->Clone();
            if (!filter.empty()) clone->put_Filter(rt::Variant(filter));
            if (!sort.empty()) clone->put_Sort(sort);
            return clone;
        }
    private:
        std::string source_, key_;
        std::shared_ptr<ado::Recordset> rows_;
    };

    class EditingMetadata : public relationshiptest::StandInMetadata {
    public:
        using StandInMetadata::StandInMetadata;
        void Edit(const std::string& table, const std::string& filter, const std::string& field,
                  const rt::Variant& value) {
            auto& edited = edited_[table];
            if (!edited) edited = std::make_shared<EditedTable>(StandInMetadata::get_Item(rt::Variant(table)));
            auto rows = edited->get_Recordset(filter, "");
            ASSERT_FALSE(rows->get_EOF()) << table << " " << filter;
            for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
                rows->SetValue(rt::Variant(field), value);
                rows->Update();
            }
        }
        std::shared_ptr<pelmora::IMetadataRecordset> get_Item(const rt::Variant& index) override {
            auto found = edited_.find(rt::CStr(index));
            return found != edited_.end() ? found->second : StandInMetadata::get_Item(index);
        }

    private:
        std::map<std::string, std::shared_ptr<EditedTable>> edited_;
    };

    class MetadataContext : public pelmora_test::ForwardingDataContext {
    public:
        MetadataContext(std::shared_ptr<product::SqliteDataContext> inner, std::shared_ptr<pelmora::IMetadataService> m)
            : ForwardingDataContext(std::move(inner)), metadata_(std::move(m)) {}
        std::shared_ptr<pelmora::IMetadataService> GetMetadataService() override { return metadata_; }

    private:
        std::shared_ptr<pelmora::IMetadataService> metadata_;
    };

    // The metadata edited so far; reset, the next edit starts from the sample's.
    std::shared_ptr<EditingMetadata> editing_;
};

}  // namespace connectivitytest
