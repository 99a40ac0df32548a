#pragma once
// The helper of node-ordered connectivity relationships (QTX_TYPE 9). One
// feature's support component (the relationship row's QTX_SUPPORTCNO) names
// the feature connected at its input end and the one at its output end: each
// end is a feature-number column and an identifier (FID) column. Four rows of
// QTX_ADD_REL_PARAMS_OPTABLE name the columns per relationship number
// ("<rno>-InputIdentifier", "-InputFeatureNumber", "-OutputIdentifier",
// "-OutputFeatureNumber"); QTX_SUBORDINATE of the row (Null refused) says
// which end a relationship number reads and writes. The rule table lists the
// allowed pairs of source and connecting classes.
//
// It establishes (writes the end columns of the holder's support row;
// nothing is saved), reviews (the feature its support row names, else the
// support rows naming the feature, cached unsaved rows included through its
// row predicate) and validates (docs/CONNECTIVITY.md). It keeps the base's
// other answers: hierarchy Empty, deleting changes nothing.
//
// Created only by the service's factory and set up as every helper is; one
// caller thread. It owns clones of its metadata tables and its
// relationship-geometry host. Column and table names from the metadata must
// be plain SQL identifiers; values are bound.
#include <cstdint>
#include <memory>
#include <string>

#include "interfaces/FeatureAssemblyService.h"
#include "pelmora/relationships/RelationshipHelperBase.h"

namespace ado {
class Field;
class Fields;
class Recordset;
}  // namespace ado

namespace pelmora {

class RGIHelper;

class NodeOrdConnADO : public RelationshipHelperBase, public IRecordsetEvaluator {
public:
    // An Integer array from 1 of the distinct QTX_CONNECTINGFNO of the rule
    // rows of the feature's FNO, in first-seen order; Null when none. Leaves
    // the rule table narrowed to the FNO.
    rt::Variant CandidateFeatures(const std::shared_ptr<IKeyObject>& Feature) override;
    // A rule row with QTX_SOURCEFNO the feature's FNO and QTX_CONNECTINGFNO FNO
    // (one direction only).
    bool CanRelate(const std::shared_ptr<IKeyObject>& Feature, int16_t FNO) override;
    // The base, then the configuration name.
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) override;
    // The texts stored when the number was set.
    std::string get_OptimizedTable() override { return ruleTableName_; }
    std::string get_RelationshipName() override { return name_; }
    // Loads the row, rule table, support component and end columns. Null
    // QTX_SUBORDINATE raises RaiseError 6 (source message 23713, description
    // 15754 with the name); a parameter without exactly one row RaiseError 5
    // (23713, 21468); a column or table that is no plain identifier 5.
    void put_RelationshipNumber(int16_t RelationshipNumber) override;
    RelationshipTypeConstants get_RelationshipType() override { return qzrelNodeOrderedConnectivity; }
    // A Collection of the connected features: the one the feature's support
    // row names at its end, else (no support component) those whose support
    // rows name the feature, saved or pending in the feature cache. The
    // filter of the feature's support recordset is put back as found.
    rt::Variant ReviewRelationship(const std::shared_ptr<IKeyObject>& Feature) override;
    // Writes the other feature into the end columns of the holder's support
    // row (the source's, else the related feature's), adding the row when
    // the holder has none; the holder's filter is put back as found. Nothing
    // is saved. Neither feature with the support component: that lookup's
    // error.
    void SilentEstablishRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                                     const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t Reserved1,
                                     int32_t Reserved2) override;
    // The support rows of pending linear features (21266, 21268, 21269,
    // 21305), then per pending feature with rules the distance, attribute
    // and geometry-interface checks. Without the support component among
    // Components a pending linear feature raises 91. Failures reach the
    // caller with the rows added so far kept.
    void Validate(const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<IComponents>& Components,
                  const std::shared_ptr<ado::Recordset>& ValidationSet, const std::shared_ptr<rt::Collection>& PendingFNOs,
                  const std::shared_ptr<ado::Recordset>& Errors) override;

    // ---- IRecordsetEvaluator: the reverse search's row predicate ----
    // Binds the end columns the reverse search reads.
    void putref_Fields(const std::shared_ptr<ado::Fields>& Fields) override;
    // The bound row names the reviewed feature (a Null in either is no).
    bool Evaluate() override;

    std::string TypeName() const override { return "NodeOrdConnADO"; }

    bool IsSubordinate() const { return subordinate_; }

private:
    // The feature-number and identifier columns of one end.
    struct End {
        std::string fno;
        std::string id;
    };
    // The end the support row names the connected feature in: input when
    // subordinate. Review of a feature without the support component and the
    // row predicate read the other end.
    const End& NamedEnd() const { return subordinate_ ? input_ : output_; }
    const End& SearchedEnd() const { return subordinate_ ? output_ : input_; }

    // ---- validation (NodeOrdConnADOValidate.cpp) ----
    std::shared_ptr<rt::Collection> GetFeaturesWithRules(const std::shared_ptr<rt::Collection>& FNOs);
    bool FilterRulesByFNO(int16_t FNO);
    bool IsLinear(int16_t FNO);
    bool GetTriggeringCNOs(const std::shared_ptr<IKeyObject>& Feature);
    void ValidateLinearConnectivityComponents(const std::shared_ptr<rt::Collection>& FNOs,
                                              const std::shared_ptr<ado::Recordset>& ValidationSet,
                                              const std::shared_ptr<IKeyObjects>& Features,
                                              const std::shared_ptr<ado::Recordset>& Support,
                                              const std::shared_ptr<ado::Recordset>& Errors);
    void ValidateAttributes(const std::shared_ptr<ado::Recordset>& ValidationSet,
                            const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<ado::Recordset>& Errors);
    void CheckDistances(const std::shared_ptr<IKeyObjects>& Related, const std::shared_ptr<ado::Recordset>& Errors);
    void Record(int16_t MsgId, int16_t FNO, int32_t FID, const std::shared_ptr<ado::Recordset>& Errors,
                const std::string& Name1 = "", const std::string& Name2 = "", const std::string& Name3 = "") const;
    // Copies a pair of finding arrays into rows of the active feature.
    void AddFindings(const rt::Variant& Priorities, const rt::Variant& Messages,
                     const std::shared_ptr<ado::Recordset>& Errors) const;

    bool subordinate_ = false;
    int16_t supportCno_ = 0;
    int16_t relationshipType_ = 0;
    std::string supportComponentName_;
    std::string supportTable_;
    End input_;
    End output_;
    std::string configuration_;
    std::string ruleTableName_;
    std::shared_ptr<RGIHelper> rgiHelper_;
    // The reverse search's predicate.
    std::shared_ptr<ado::Field> evaluatedFno_;
    std::shared_ptr<ado::Field> evaluatedId_;
    int16_t targetFno_ = 0;
    int32_t targetFid_ = 0;
};

}  // namespace pelmora
