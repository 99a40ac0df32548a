#include "RelationshipTestSupport.h"

#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/metadata/MetadataService.h"
#include "support/SampleEnvironment.h"

namespace relationshiptest {

namespace {

// A metadata table with the fields of the sample's and no rows.
class EmptiedTable : public rt::Object, public pelmora::IMetadataRecordset {
public:
    explicit EmptiedTable(std::shared_ptr<pelmora::IMetadataRecordset> inner) : inner_(std::move(inner)) {}
    std::string get_Source() override { return ""; }
    std::string get_Key() override { return inner_->get_Key(); }
    std::shared_ptr<ado::Recordset> get_Recordset(const std::string&, const std::string&) override {
        auto shape = inner_->get_Recordset("", "");
        auto rs = ado::Recordset::Create();
        auto fields = shape->get_Fields();
        for (int32_t i = 0; i < fields->get_Count(); ++i) {
            auto f = fields->Item(i);
            rs->get_Fields()->Append(f->get_Name(), f->get_Type(), f->get_DefinedSize(), ado::adFldIsNullable);
        }
        rs->Open(rt::Variant::Missing(), rt::Variant::Missing(), ado::adOpenStatic, ado::adLockBatchOptimistic, -1);
        return rs;
    }

private:
    std::shared_ptr<pelmora::IMetadataRecordset> inner_;
};

class StandInContext : public pelmora_test::ForwardingDataContext {
public:
    StandInContext(std::shared_ptr<product::SqliteDataContext> inner, std::shared_ptr<pelmora::IMetadataService> m)
        : ForwardingDataContext(std::move(inner)), metadata_(std::move(m)) {}
    std::shared_ptr<pelmora::IMetadataService> GetMetadataService() override { return metadata_; }

private:
    std::shared_ptr<pelmora::IMetadataService> metadata_;
};

}  // namespace

std::shared_ptr<pelmora::IMetadataRecordset> StandInMetadata::get_Item(const rt::Variant& index) {
    const std::string key = rt::UCase(rt::CStr(index));
    auto failure = failures_.find(key);
    if (failure != failures_.end() && failure->second > 0) {
        --failure->second;
        throw rt::ComError(pelmora::kErrorBase + 1, "MetadataRecordsets", "The table " + key + " could not be read.");
    }
    auto item = inner_->get_Recordsets()->get_Item(index);
    for (const auto& e : empty_)
        if (e == key) return std::make_shared<EmptiedTable>(item);
    return item;
}

void RelationshipServiceFixture::SetUp() {
    SampleServicesTest::SetUp();
    metadata_ = pelmora_test::OpenSampleMetadata();
    sqlite_ = pelmora_test::OpenSampleContext(metadata_);
    service_ = NewService();
}

void RelationshipServiceFixture::TearDown() {
    service_.reset();
    standInContext_.reset();
    standIn_.reset();
    sqlite_.reset();
    metadata_.reset();
    SampleServicesTest::TearDown();
}

std::shared_ptr<pelmora::RelationshipService> RelationshipServiceFixture::NewService(bool withContext) {
    auto object = rt::CreateObject(pelmora::kRelationshipServiceProgId);
    if (withContext) rt::CallByName(object, "DataContext", rt::InvokeKind::PropertySet, {rt::Variant(sqlite_)});
    return rt::QueryInterface<pelmora::RelationshipService>(object);
}

rt::Variant RelationshipServiceFixture::Call(const std::string& member, rt::Args args, rt::InvokeKind kind) {
    return rt::CallByName(service_, member, kind, args);
}

std::shared_ptr<pelmora::IDataContext> RelationshipServiceFixture::StandInContext() {
    if (!standInContext_) {
        standIn_ = std::make_shared<StandInMetadata>(rt::QueryInterface<pelmora::IMetadataService>(metadata_));
        standInContext_ = std::make_shared<relationshiptest::StandInContext>(env_->OpenDataContext(), standIn_);
    }
    return standInContext_;
}

std::vector<int32_t> Numbers(const rt::Variant& array) {
    std::vector<int32_t> out;
    for (const auto& v : array.Array()->Data()) out.push_back(rt::CLng(v));
    return out;
}

}  // namespace relationshiptest
