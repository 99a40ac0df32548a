#pragma once
// Small metadata tables built in memory for the filter service tests, a
// metadata service over them that counts how often a table is read, and a
// recordset listener that counts the moves a walk makes; a fixture with the
// attribute table and a filter service of its own.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ado/Recordset.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "runtime/Error.h"
#include "runtime/Variant.h"
#include "runtime/Vb.h"

namespace filtertest {

using rt::Variant;

// A table with the given fields and rows (row-major), reporting `source`.
inline ado::RecordsetPtr MakeTable(const std::string& source, const std::vector<ado::FieldDesc>& fields,
                                   const std::vector<std::vector<Variant>>& rows,
                                   ado::LockTypeEnum lock = ado::adLockOptimistic) {
    ado::RecordsetImage image;
    image.source = source;
    image.fields = fields;
    for (const auto& row : rows)
        for (const auto& v : row) image.values.push_back(v);
    return ado::Recordset::FromImage(std::move(image), lock, ado::adOpenStatic);
}

inline ado::FieldDesc Field(const std::string& name, ado::DataTypeEnum type) {
    ado::FieldDesc d;
    d.name = name;
    d.type = type;
    return d;
}

inline Variant I2(int v) { return Variant(static_cast<int16_t>(v)); }
inline Variant I4(int v) { return Variant(static_cast<int32_t>(v)); }
inline Variant Null() { return Variant::Null(); }

// The attribute rows of a few components: QTX_ANO, QTX_CNO, QTX_FIELD,
// QTX_FUNCTIONALTYPE (row order is the order below).
inline ado::RecordsetPtr AttributeTable(const std::string& source = "QTX_ATTRIBUTEINFO_OPTABLE") {
    return MakeTable(source,
                     {Field("QTX_ANO", ado::adInteger), Field("QTX_CNO", ado::adSmallInt),
                      Field("QTX_FIELD", ado::adVarWChar), Field("QTX_FUNCTIONALTYPE", ado::adVarWChar)},
                     {
                         {I4(101), I2(3), Variant("DIAMETER"), Variant("Edit")},
                         {I4(102), I2(7), Variant("MATERIAL"), Variant("SetValue")},
                         {I4(103), I2(3), Variant("INSTALL_DATE"), Null()},
                         {I4(104), I2(5), Variant("O'NEIL"), Variant("edit")},
                         {I4(105), Null(), Variant("ORPHAN"), Variant("Edit")},
                         {I4(106), I2(3), Variant("PRESSURE"), Variant("SetValue")},
                         {I4(107), I2(7), Variant("LENGTH"), Variant("Edit")},
                         {I4(108), I2(12), Variant("OWNER"), Variant("AddNew")},
                     });
}

// Values of one field over the visible rows, from the first, leaving the
// recordset at EOF.
inline std::vector<std::string> Column(const ado::RecordsetPtr& rs, const std::string& field) {
    std::vector<std::string> out;
    if (rs->get_BOF() && rs->get_EOF()) return out;
    rs->MoveFirst();
    while (!rs->get_EOF()) {
        Variant v = rs->GetValue(Variant(field));
        out.push_back(v.IsNull() ? "<null>" : rt::CStr(v));
        rs->MoveNext();
    }
    return out;
}

// Counts the MoveNext calls made on one recordset: a walk over the rows
// makes many, applying a cached array none.
class MoveCounter : public ado::RecordsetEvents {
public:
    void MoveComplete(ado::EventReasonEnum reason, const rt::ComError*, ado::EventStatusEnum&,
                      const ado::RecordsetPtr&) override {
        if (reason == ado::adRsnMoveNext) ++moveNext;
    }
    int moveNext = 0;
};

inline std::shared_ptr<MoveCounter> CountMoves(const ado::RecordsetPtr& rs) {
    auto counter = std::make_shared<MoveCounter>();
    rs->Advise(counter);
    return counter;
}

// ---- a metadata service over tables held in memory ----

class FakeMetadataRecordset : public pelmora::IMetadataRecordset {
public:
    FakeMetadataRecordset(std::string key, ado::RecordsetPtr master) : key_(std::move(key)), master_(std::move(master)) {}
    std::string get_Source() override { return master_->get_Source(); }
    std::string get_Key() override { return key_; }
    std::shared_ptr<ado::Recordset> get_Recordset(const std::string& Filter, const std::string& Sort) override {
        ++reads;
        auto clone = master_->Clone(ado::adLockReadOnly);
        if (!Filter.empty()) clone->put_Filter(Variant(Filter));
        if (!Sort.empty()) clone->put_Sort(Sort);
        return clone;
    }
    int reads = 0;

private:
    std::string key_;
    ado::RecordsetPtr master_;
};

class FakeMetadataRecordsets : public pelmora::IMetadataRecordsets {
public:
    std::shared_ptr<pelmora::IMetadataRecordset> get_Item(const Variant& vIndex) override {
        auto it = items.find(rt::UCase(rt::CStr(vIndex)));
        if (it == items.end()) throw rt::ComError(static_cast<int32_t>(0x80040001u), "MetadataRecordsets.Item",
                                                  "The metadata table " + rt::CStr(vIndex) + " is not in the metadata cache.");
        return it->second;
    }
    int32_t get_Count() override { return static_cast<int32_t>(items.size()); }
    std::vector<std::shared_ptr<pelmora::IMetadataRecordset>> get_NewEnum() override {
        std::vector<std::shared_ptr<pelmora::IMetadataRecordset>> out;
        for (auto& [k, v] : items) out.push_back(v);
        return out;
    }
    std::shared_ptr<pelmora::IMetadataRecordset> AppendRecordset(const std::string& Key, const std::string&,
                                                                 const std::shared_ptr<ado::Recordset>& Recordset) override {
        auto item = std::make_shared<FakeMetadataRecordset>(Key, Recordset);
        items[rt::UCase(Key)] = item;
        return item;
    }
    std::map<std::string, std::shared_ptr<FakeMetadataRecordset>> items;
};

class FakeMetadataService : public pelmora::IMetadataService {
public:
    std::shared_ptr<FakeMetadataRecordset> Add(const std::string& key, ado::RecordsetPtr master) {
        auto item = std::make_shared<FakeMetadataRecordset>(key, std::move(master));
        recordsets->items[rt::UCase(key)] = item;
        return item;
    }
    std::string get_CacheDirectory() override { return ""; }
    std::string get_CacheFormat() override { return "RAW"; }
    std::string get_CacheMode() override { return "LAZY"; }
    void put_Configuration(const std::string&) override {}
    std::string get_Configuration() override { return ""; }
    std::shared_ptr<pelmora::IMetadataRecordsets> get_Recordsets() override { return recordsets; }
    void DeleteRecords(const Variant&) override {}
    void Fetch(const std::string&) override {}
    void SaveConfiguration(const std::string&, const std::string&, const std::string&, bool) override {}
    bool IsRoleGranted(const std::string&) override { return true; }
    void Refresh() override {}
    void RefreshDynamicEdits(const std::shared_ptr<pelmora::IDataContext>&, const Variant&) override {}
    void RefreshRecordsDelete() override {}
    void SetActiveUser(const std::shared_ptr<pelmora::IDataContext>&, const std::string&) override {}

    std::shared_ptr<FakeMetadataRecordsets> recordsets = std::make_shared<FakeMetadataRecordsets>();
};

// A fresh apartment around each test (the filter caches live there), the
// attribute table and a service of the test's own.
class FilterTableTest : public ::testing::Test {
protected:
    void SetUp() override { rt::Apartment::Reset(); }
    void TearDown() override { rt::Apartment::Reset(); }

    ado::RecordsetPtr table = AttributeTable();
    pelmora::MetadataRecordsetFilterService svc;
};

}  // namespace filtertest
