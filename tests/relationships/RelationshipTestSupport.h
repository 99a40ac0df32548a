#pragma once
// Set-up shared by the relationship tests: the sample network behind a real
// metadata service, the relationship service created by its ProgID, a
// metadata service that can hide or spoil one table of the sample, and a
// helper class that tests put in place of a type's class.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ado/Recordset.h"
#include "interfaces/DataContext.h"
#include "interfaces/MetadataService.h"
#include "pelmora/relationships/RelationshipHelperBase.h"
#include "pelmora/relationships/RelationshipHelperFactory.h"
#include "pelmora/relationships/RelationshipService.h"
#include "product/SqliteDataContext.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Vb.h"
#include "support/ForwardingDataContext.h"
#include "support/Raises.h"
#include "support/SampleServices.h"

namespace relationshiptest {

// The sample's metadata, except the tables given a stand-in: a table made
// empty (its fields, no rows) or one whose item fails a number of times.
class StandInMetadata : public rt::Object, public pelmora::IMetadataService, public pelmora::IMetadataRecordsets {
public:
    explicit StandInMetadata(std::shared_ptr<pelmora::IMetadataService> inner) : inner_(std::move(inner)) {}

    void EmptyTable(const std::string& key) { empty_.push_back(key); }
    void FailTable(const std::string& key, int times) { failures_[key] = times; }

    std::string get_CacheDirectory() override { return inner_->get_CacheDirectory(); }
    std::string get_CacheFormat() override { return inner_->get_CacheFormat(); }
    std::string get_CacheMode() override { return inner_->get_CacheMode(); }
    void put_Configuration(const std::string& name) override { inner_->put_Configuration(name); }
    std::string get_Configuration() override { return inner_->get_Configuration(); }
    std::shared_ptr<pelmora::IMetadataRecordsets> get_Recordsets() override {
        return std::dynamic_pointer_cast<pelmora::IMetadataRecordsets>(shared_from_this());
    }
    void DeleteRecords(const rt::Variant& v) override { inner_->DeleteRecords(v); }
    void Fetch(const std::string& f) override { inner_->Fetch(f); }
    void SaveConfiguration(const std::string& a, const std::string& b, const std::string& c, bool d) override {
        inner_->SaveConfiguration(a, b, c, d);
    }
    bool IsRoleGranted(const std::string& r) override { return inner_->IsRoleGranted(r); }
    void Refresh() override { inner_->Refresh(); }
    void RefreshDynamicEdits(const std::shared_ptr<pelmora::IDataContext>& dc, const rt::Variant& t) override {
        inner_->RefreshDynamicEdits(dc, t);
    }
    void RefreshRecordsDelete() override { inner_->RefreshRecordsDelete(); }
    void SetActiveUser(const std::shared_ptr<pelmora::IDataContext>& dc, const std::string& u) override {
        inner_->SetActiveUser(dc, u);
    }

    std::shared_ptr<pelmora::IMetadataRecordset> get_Item(const rt::Variant& index) override;
    int32_t get_Count() override { return inner_->get_Recordsets()->get_Count(); }
    std::vector<std::shared_ptr<pelmora::IMetadataRecordset>> get_NewEnum() override {
        return inner_->get_Recordsets()->get_NewEnum();
    }
    std::shared_ptr<pelmora::IMetadataRecordset> AppendRecordset(const std::string& k, const std::string& s,
                                                                 const std::shared_ptr<ado::Recordset>& r) override {
        return inner_->get_Recordsets()->AppendRecordset(k, s, r);
    }

private:
    std::shared_ptr<pelmora::IMetadataService> inner_;
    std::vector<std::string> empty_;
    std::map<std::string, int> failures_;
};

// A helper that reports a type of the test's choice over the common core
// and records what the service asks of it.
class TypedHelper : public pelmora::RelationshipHelperBase {
public:
    struct Log {
        std::vector<std::string> calls;  // "CanRelate 1 102", "Delete 1" ...
        int created = 0;
    };

    TypedHelper(pelmora::RelationshipTypeConstants type, std::shared_ptr<Log> log, int16_t relatesTo)
        : type_(type), log_(std::move(log)), relatesTo_(relatesTo) {
        ++log_->created;
    }

    // The helper for QTX_TYPE qtxType from now on reports `reports` and
    // relates its features to features of `relatesTo`.
    static void Install(int32_t qtxType, pelmora::RelationshipTypeConstants reports, std::shared_ptr<Log> log,
                        int16_t relatesTo = 0) {
        pelmora::RegisterRelationshipHelperClass(qtxType, [=] {
            return std::make_shared<TypedHelper>(reports, log, relatesTo);
        });
    }

    std::string tableOverride;  // given by OptimizedTable when not empty

    rt::Variant CandidateFeatures(const std::shared_ptr<pelmora::IKeyObject>&) override { return rt::Variant::Null(); }
    bool CanRelate(const std::shared_ptr<pelmora::IKeyObject>&, int16_t FNO) override {
        log_->calls.push_back("CanRelate " + std::to_string(relationshipNumber_) + " " + std::to_string(FNO));
        return FNO == relatesTo_;
    }
    void DeleteRelationship(const std::shared_ptr<pelmora::IKeyObject>&, const std::shared_ptr<pelmora::IKeyObject>&,
                            int32_t a, int32_t b) override {
        log_->calls.push_back("Delete " + std::to_string(relationshipNumber_) + " " + std::to_string(a) + " " +
                              std::to_string(b));
    }
    std::string get_OptimizedTable() override {
        return tableOverride.empty() ? RelationshipHelperBase::get_OptimizedTable() : tableOverride;
    }
    pelmora::RelationshipTypeConstants get_RelationshipType() override { return type_; }
    rt::Variant ReviewRelationship(const std::shared_ptr<pelmora::IKeyObject>&) override { return rt::Variant::Nothing(); }
    rt::Variant ReviewRelationshipHierarchy(const std::shared_ptr<pelmora::IKeyObject>&) override { return rt::Variant(); }
    void SilentEstablishRelationship(const std::shared_ptr<pelmora::IKeyObject>&,
                                     const std::shared_ptr<pelmora::IKeyObject>&, int32_t, int32_t) override {
        log_->calls.push_back("Establish " + std::to_string(relationshipNumber_));
    }
    void Validate(const std::shared_ptr<pelmora::IKeyObjects>&, const std::shared_ptr<pelmora::IComponents>&,
                  const std::shared_ptr<ado::Recordset>&, const std::shared_ptr<rt::Collection>&,
                  const std::shared_ptr<ado::Recordset>&) override {}

private:
    pelmora::RelationshipTypeConstants type_;
    std::shared_ptr<Log> log_;
    int16_t relatesTo_;
};

// The relationship service on the sample, created by its ProgID.
class RelationshipServiceFixture : public pelmora_test::SampleServicesTest {
protected:
    RelationshipServiceFixture() : SampleServicesTest("relationships") {}

    void SetUp() override;
    void TearDown() override;

    // A new service by ProgID, with the sample's context set when asked.
    std::shared_ptr<pelmora::RelationshipService> NewService(bool withContext = true);
    // Late-bound call on the service object.
    rt::Variant Call(const std::string& member, rt::Args args, rt::InvokeKind kind = rt::InvokeKind::Method);
    // A data context on the sample whose metadata goes through the stand-in.
    std::shared_ptr<pelmora::IDataContext> StandInContext();

    std::shared_ptr<pelmora::MetadataService> metadata_;
    std::shared_ptr<product::SqliteDataContext> sqlite_;
    std::shared_ptr<StandInMetadata> standIn_;
    std::shared_ptr<pelmora::IDataContext> standInContext_;
    std::shared_ptr<pelmora::RelationshipService> service_;
};

// A Variant array's elements as numbers, and its lower bound.
std::vector<int32_t> Numbers(const rt::Variant& array);

}  // namespace relationshiptest
