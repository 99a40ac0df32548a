#pragma once
// What the many-to-many ownership and detail tests share: features opened
// on the sample, the keys of a review, the findings of one relationship, and
// a metadata table of this test's own whose rows the test changes.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "RelationshipTestSupport.h"
#include "ado/Recordset.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataRecordset.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "runtime/Collection.h"

namespace relationshiptest {

using Lines = std::vector<std::string>;

class M2MDetailFixture : public RelationshipServiceFixture {
protected:
    void TearDown() override {
        assembly_.reset();
        RelationshipServiceFixture::TearDown();
    }

    // The feature with its components, read from the sample.
    std::shared_ptr<pelmora::IKeyObject> Open(int16_t fno, int32_t fid) {
        if (!assembly_) {
            assembly_ = std::make_shared<pelmora::FeatureAssemblyService>();
            assembly_->putref_DataContext(sqlite_);
        }
        return assembly_->OpenFeature(fno, fid);
    }

    // "FNO/FID" per reviewed feature; {"Nothing"} for a null reference.
    static Lines KeysOf(const rt::Variant& review) {
        if (!review.IsObject() || !review.Obj()) return {"Nothing"};
        Lines out;
        for (const auto& item : rt::QueryInterface<rt::Collection>(review.Obj())->Enumerate()) {
            auto key = rt::QueryInterface<pelmora::IKeyObject>(item.Obj());
            out.push_back(std::to_string(key->get_FNO()) + "/" + std::to_string(key->get_FID()));
        }
        return out;
    }

    // "FNO/FID/CNO/CID|description|E or W" per finding whose location is the
    // relationship's name.
    static Lines Findings(const std::shared_ptr<ado::Recordset>& errors, const std::string& location) {
        Lines out;
        if (!errors || (errors->get_BOF() && errors->get_EOF())) return out;
        auto text = [&](const char* f) {
            rt::Variant v = errors->GetValue(rt::Variant(f));
            return v.IsNull() ? std::string("-") : rt::CStr(v);
        };
        const std::string error = pelmora::GetValidationMessage(pelmora::kErrorPriorityMessage);
        for (errors->MoveFirst(); !errors->get_EOF(); errors->MoveNext()) {
            if (text("ErrorLocation") != location) continue;
            out.push_back(text("QTX_FNO") + "/" + text("QTX_FID") + "/" + text("QTX_CNO") + "/" + text("QTX_CID") + "|" +
                          text("ErrorDescription") + "|" + (text("ErrorPriority") == error ? "E" : "W"));
        }
        return out;
    }

    // Validates the features through the service's IRelationship face (the
    // set fetched from the database) and returns the errors recordset.
    std::shared_ptr<ado::Recordset> ValidateFeatures(std::initializer_list<std::pair<int16_t, int32_t>> keys) {
        auto relationship = rt::QueryInterface<pelmora::IRelationship>(std::static_pointer_cast<rt::Object>(service_));
        auto features = pelmora::KeyObjects::New();
        for (auto [fno, fid] : keys) {
            auto k = pelmora::KeyObject::New();
            k->put_FNO(fno);
            k->put_FID(fid);
            features->Add(k);
        }
        relationship->putref_Features(features);
        std::shared_ptr<ado::Recordset> set, errors;
        relationship->Validate(set, errors);
        return errors;
    }

    // Replaces a cached metadata table by an editable copy whose rows `edit`
    // may change; the service made afterwards reads the copy.
    void EditTable(const std::string& key, const std::function<void(ado::RecordsetImage&)>& edit) {
        auto recordsets = metadata_->get_Recordsets();
        auto item = recordsets->get_Item(rt::Variant(key));
        const std::string source = item->get_Source();
        auto image = item->get_Recordset("", "")->ToImage();
        edit(image);
        recordsets->Remove(rt::Variant(key));
        recordsets->AppendRecordset(key, source,
                                    ado::Recordset::FromImage(image, ado::adLockOptimistic, ado::adOpenKeyset));
        // Bookmarks kept for the old rows mean nothing in the copy.
        pelmora::ClearFilterServiceCaches();
        service_ = NewService();
    }

    // The index of a field of an image.
    static size_t FieldOf(const ado::RecordsetImage& image, const std::string& name) {
        for (size_t f = 0; f < image.fields.size(); ++f)
            if (image.fields[f].name == name) return f;
        ADD_FAILURE() << "no field " << name;
        return 0;
    }
    // Sets a field in every row for which `where` holds.
    static void SetWhere(ado::RecordsetImage& image, const std::string& field, const rt::Variant& value,
                         const std::function<bool(const std::vector<rt::Variant>&)>& where) {
        const size_t width = image.fields.size(), f = FieldOf(image, field);
        for (size_t r = 0; r < image.RowCount(); ++r) {
            std::vector<rt::Variant> row(image.values.begin() + r * width, image.values.begin() + (r + 1) * width);
            if (where(row)) image.values[r * width + f] = value;
        }
    }

    std::shared_ptr<pelmora::FeatureAssemblyService> assembly_;
};

}  // namespace relationshiptest
