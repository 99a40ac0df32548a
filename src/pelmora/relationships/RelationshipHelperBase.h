#pragma once
// The part of a relationship helper that is the same for every relationship
// type: what the service sets on it, the relationship row and rule table it
// loads for its number, and the active feature. Each helper class derives
// from it and writes RelationshipType, Validate and those members its type
// answers in a way of its own; the others keep the answers of a type that
// offers nothing: no candidates, relates nothing, reviews to nothing, and
// establishing or deleting changes nothing.
//
// Extending it:
// - A helper that loads more when its number is set overrides
//   put_RelationshipNumber, calls RelationshipHelperBase::put_RelationshipNumber
//   first and then loads its own state (its Part says what); a failure there
//   reaches the service, which then keeps no helper for the number.
// - What it reads from the context when the context is set goes into an
//   override of putref_DataContext that calls this one first.
// - TakeMetadataRecordset, MetadataService, FilterService and RowValue are
//   the building blocks; they raise 91 while what they need is not set, as
//   VB does on an object variable that is Nothing.
//
// The helper owns its recordsets (clones of its own, so its filters touch no
// other helper) and holds the context, filter service and active feature
// strongly; the service that made it holds it and nothing holds the service.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/common/FeatureComponents.h"
#include "interfaces/Relationship.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace ado {
class Recordset;
}

namespace pelmora {

class IMetadataService;
class MetadataRecordsetFilterService;

// Runs a request on a helper: a run-time error the helper raises without a
// source takes "QzPelmora.<its class>", as VB fills Err.Source in the class
// module where the error occurs.
template <class F>
decltype(auto) AskHelper(const std::shared_ptr<IRelationshipHelper>& helper, F&& request) {
    RequireObjects(helper);
    const auto object = rt::ObjectPtrOf(helper);
    return InClassModule(object ? object->TypeName() : std::string("Object"), [&] { return request(*helper); });
}

class RelationshipHelperBase : public rt::Object, public IRelationshipHelper {
public:
    RelationshipHelperBase() = default;
    RelationshipHelperBase(const RelationshipHelperBase&) = delete;
    RelationshipHelperBase& operator=(const RelationshipHelperBase&) = delete;

    // ---- the template members ----
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) override;
    std::shared_ptr<IDataContext> get_DataContext() override;
    void putref_MDRSFilterService(const rt::ObjectPtr& FilterService) override;
    std::shared_ptr<IMetadataRecordsetFilterService> get_MDRSFilterService() override;
    std::string get_OptimizedTable() override;
    std::string get_RelationshipName() override;
    // The common core: the relationship row (a fresh clone of
    // QTX_RELATIONSHIPS_OPTABLE positioned on the number by the filter
    // service), the rule table (a fresh clone of the table the row names),
    // then the name and the number. Nothing is kept when a step fails.
    void put_RelationshipNumber(int16_t RelationshipNumber) override;
    int16_t get_RelationshipNumber() override;
    std::string get_Name() override;
    std::shared_ptr<IKeyObject> get_Feature() override;
    void putref_Feature(const std::shared_ptr<IKeyObject>& Feature) override;

    // ---- the answers of a type that offers nothing ----
    // Null.
    rt::Variant CandidateFeatures(const std::shared_ptr<IKeyObject>& Feature) override;
    // False.
    bool CanRelate(const std::shared_ptr<IKeyObject>& Feature, int16_t FNO) override;
    // Nothing happens.
    void DeleteRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                            const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t Reserved1,
                            int32_t Reserved2) override;
    // A Variant holding Nothing.
    rt::Variant ReviewRelationship(const std::shared_ptr<IKeyObject>& Feature) override;
    // Empty.
    rt::Variant ReviewRelationshipHierarchy(const std::shared_ptr<IKeyObject>& Feature) override;
    // Nothing happens.
    void SilentEstablishRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                                     const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t Reserved1,
                                     int32_t Reserved2) override;

protected:
    // Held by a Validate that runs extension code (attribute validation and
    // geometry interfaces), which may call back into this helper: a Validate
    // begun while another runs gives the outer one its active feature back
    // when it ends, as the outer one reads it afterwards.
    class ValidateScope {
    public:
        explicit ValidateScope(RelationshipHelperBase& helper)
            : helper_(helper), feature_(helper.feature_), nested_(helper.validating_++ > 0) {}
        ~ValidateScope() {
            --helper_.validating_;
            if (nested_) helper_.feature_ = std::move(feature_);
        }
        ValidateScope(const ValidateScope&) = delete;
        ValidateScope& operator=(const ValidateScope&) = delete;

    private:
        RelationshipHelperBase& helper_;
        std::shared_ptr<IKeyObject> feature_;
        bool nested_;
    };

    // How the relationship row is narrowed to its number.
    enum class RowPositioning {
        FilterService,  // FilterRecordset on QTX_RNO: the cached bookmarks
        FilterText,     // the filter text "QTX_RNO = n"
    };

    // Makes Feature the active feature of a walk's row. False when Feature is
    // Nothing; false, with no feature active, when it cannot be taken (a key
    // object of another class, or one whose Components answers Nothing): the
    // walk skips that row, and no later step reads the row before's.
    bool TakeFeature(const std::shared_ptr<IKeyObject>& Feature);

    // Loads the relationship row and the rule table (steps shared with the
    // null helper, which stores neither the number nor the name).
    void LoadRelationshipTables(int16_t RelationshipNumber, RowPositioning positioning);

    std::shared_ptr<IMetadataService> MetadataService() const;
    // A fresh clone of the metadata table with that key, no filter, no sort.
    std::shared_ptr<ado::Recordset> TakeMetadataRecordset(const std::string& key) const;
    MetadataRecordsetFilterService& FilterService() const;
    // A field of the relationship row's current row (91 before a number is
    // set; ADO's end-of-recordset error when the number had no row).
    rt::Variant RowValue(const std::string& field) const;
    // The same as text; Null raises 94, as assigning it to a String does.
    std::string RowText(const std::string& field) const;

    std::shared_ptr<IDataContext> dataContext_;
    std::shared_ptr<MetadataRecordsetFilterService> filterService_;
    std::shared_ptr<ado::Recordset> relationshipRow_;
    std::shared_ptr<ado::Recordset> ruleTable_;
    int16_t relationshipNumber_ = 0;
    std::string name_;
    std::shared_ptr<IKeyObject> feature_;
    int validating_ = 0;  // Validate calls under way (ValidateScope)
};

}  // namespace pelmora
