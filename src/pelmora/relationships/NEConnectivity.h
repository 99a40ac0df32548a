#pragma once
// The helper of node-edge connectivity relationships (QTX_TYPE 2). Features
// are connected through node numbers: every feature of a source class holds
// its node values in two columns of its support component (the relationship
// row's QTX_SUPPORTCNO), and two features are connected where they hold the
// same non-zero value. The column names are the first two parts of the
// row's QTX_ADDITIONALPARAMETERS ("NODE_1,NODE_2,<unused>"); the rule table
// says per source class how many nodes it has (QTX_NUMBEROFNODES), which
// classes it may connect to and how strictly the checks are enforced.
//
// The helper neither establishes nor deletes: connectivity is whatever node
// values the support rows hold. It lists candidates, reviews (the features
// touching each node, after a marker key per node) and validates: node count
// and values, pipeline connectivity, distance, attribute rules, endpoints,
// phases and the relationship-geometry interfaces (docs/CONNECTIVITY.md).
// It keeps the base's other answers: relates nothing, hierarchy Empty,
// establishing and deleting change nothing.
//
// Created only by the service's factory and set up as every helper is; one
// caller thread. The helper owns clones of its metadata tables and its
// relationship-geometry host. Node and table names from the metadata must be
// plain SQL identifiers: they go into query texts, the node values are bound.
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "pelmora/relationships/RelationshipHelperBase.h"

namespace ado {
class Fields;
class Recordset;
}  // namespace ado

namespace pelmora {

class RGIHelper;
class DistinctItemColl;
struct DistanceRun;

class NEConnectivity : public RelationshipHelperBase {
public:
    // The node values of one feature in node order (node i at index i - 1),
    // 0 where the feature has no value for a node.
    using NodeList = std::vector<int32_t>;

    // An Integer array from 1 of QTX_CONNECTINGFNO of the rule rows of the
    // feature's FNO, in row order, duplicates kept; an array without
    // elements when there is none. Leaves the rule table filtered on the FNO.
    rt::Variant CandidateFeatures(const std::shared_ptr<IKeyObject>& Feature) override;
    // The base, then clones of QTX_FEATURECOMPS_OPTABLE and
    // QTX_ADD_REL_PARAMS_OPTABLE and the configuration name.
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) override;
    // The common load, then the node column names. QTX_ADDITIONALPARAMETERS
    // Null raises 94, fewer than two commas 5, a node column that is no plain
    // identifier 5; nothing of the helper's own is kept then.
    void put_RelationshipNumber(int16_t RelationshipNumber) override;
    RelationshipTypeConstants get_RelationshipType() override { return qzrelNodeEdgeConnectivity; }
    // A Collection: for each node of the feature a marker key (FNO -1, FID the
    // node's position from 1), then the features whose support rows hold that
    // node, opened (one per matching row; the feature itself never). Only
    // the markers when the rule table has no row for the FNO or every node is
    // 0. A support component the feature lacks raises the collection's error.
    rt::Variant ReviewRelationship(const std::shared_ptr<IKeyObject>& Feature) override;
    // Walks the leading pending rows of the set and checks every feature of a
    // source class. After the support recordset is found, each check runs
    // under its own guard: a failing check records what it had recorded,
    // counts as passed, and the next check runs. PendingFNOs is not read.
    void Validate(const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<IComponents>& Components,
                  const std::shared_ptr<ado::Recordset>& ValidationSet, const std::shared_ptr<rt::Collection>& PendingFNOs,
                  const std::shared_ptr<ado::Recordset>& Errors) override;

    std::string TypeName() const override { return "NEConnectivity"; }

    const std::string& NodeColumn1() const { return nodeColumn1_; }
    const std::string& NodeColumn2() const { return nodeColumn2_; }

    // ---- rules without state ----
    // The first node of A that B holds too, and whether the two geometries
    // meet at those ends (IsConnectedAtEndpoint); shared 0 and False when
    // they share none.
    struct SharedNode {
        int32_t node = 0;
        bool atEndpoint = false;
    };
    static SharedNode FindSharedNode(const rt::ObjectPtr& GeometryA, const NodeList& A, const rt::ObjectPtr& GeometryB,
                                     const NodeList& B);
    static bool ArrayContainsValue(int32_t Value, const NodeList& Nodes);
    // The phase text is covered by the letters gathered: equal to them all
    // joined, or every character but "N"/"n" found among them (case-sensitive).
    static bool PhasesMatch(const std::string& Text, const DistinctItemColl& Letters);
    // The source of a refused phase attribute name or field: the walk's
    // guard lets it through, so a bad name never counts as a passed check.
    static constexpr const char* kPhaseNameSource = "NEConnectivity.ValidatePhases";

private:
    // ---- the checks of Validate (NEConnectivityValidate.cpp) ----
    bool IsSourceFno(int16_t FNO);
    int32_t GetEnforcement(const std::shared_ptr<IKeyObject>& Feature);
    int16_t GetTriggeringComponentType(const std::shared_ptr<IKeyObject>& Feature);
    // Fills Nodes from the support rows. Errors nullptr: the list of a
    // related feature, read without findings (a class without rule row gives
    // an empty list, a one-node feature with differing columns its first).
    void ValidateNodeCount(const std::shared_ptr<IKeyObject>& Feature, const std::shared_ptr<ado::Recordset>& Support,
                           NodeList& Nodes, int32_t Kind, const std::shared_ptr<ado::Recordset>& Errors);
    bool ValidateNodeValues(const NodeList& Nodes, int32_t Kind, int16_t TriggeringType,
                            const std::shared_ptr<ado::Recordset>& Support, const std::shared_ptr<ado::Recordset>& Errors);
    bool ValidatePipelineConnectivity(const NodeList& Nodes, int32_t Kind, const std::shared_ptr<ado::Recordset>& Errors,
                                      const std::shared_ptr<IKeyObjects>& Related);
    int32_t CountNodeMatches(int32_t Node, const std::shared_ptr<IKeyObjects>& Related, bool Pipeline);
    void ValidateEndpoints(const NodeList& Nodes, const std::shared_ptr<IKeyObjects>& Related,
                           const std::shared_ptr<ado::Recordset>& Errors);
    // DistanceValidation with this helper's profile: the offset rules of the
    // rule table between the feature and each related feature.
    void CheckDistances(const std::shared_ptr<IKeyObjects>& Related, int32_t Kind,
                        const std::shared_ptr<ado::Recordset>& Errors);
    void RunRelationshipGeometryInterfaces(const std::shared_ptr<ado::Recordset>& Errors);

    // ---- the phase check (NEConnectivityPhases.cpp) ----
    void ValidatePhases(const NodeList& Nodes, const std::shared_ptr<IKeyObjects>& Related,
                        const std::shared_ptr<ado::Recordset>& Errors);
    struct ActivePhaseRule {
        std::string componentName;
        int32_t ano = 0;
        std::string priority;
    };
    bool GetActivePhaseRules(const std::shared_ptr<IKeyObjects>& Related, ActivePhaseRule& Rule,
                             const std::shared_ptr<IKeyObjects>& RuleRelated);
    void GetRelatedPhaseRule(const std::shared_ptr<IKeyObject>& RelatedFeature, std::string& ComponentName,
                             int32_t& ANO);
    std::string GetAttributeFieldInfo(const std::shared_ptr<ado::Recordset>& Component, int32_t ANO);

    // What the checks read of the metadata for every feature, read once per
    // Validate call by what it is keyed on (the phase rules by FNO, pair of
    // FNOs, ANO, ANO and value; the additional parameters by name). A cell
    // keeps the error its read raised and raises it where the read stood, so
    // a call answers and fails as reading afresh would.
    struct ValidateRun {
        struct Cell {
            rt::Variant value;
            std::exception_ptr error;
            const rt::Variant& Get() const;
            static Cell Of(const std::function<rt::Variant()>& read);
            static Cell Read(const std::shared_ptr<ado::Recordset>& rows, const char* column);
        };
        struct RuleRow {
            Cell relatedFno, activeName, activeAno, priority;
        };
        std::unordered_map<int16_t, std::vector<RuleRow>> activeRules;
        struct RelatedRule {
            bool found = false;
            Cell name, ano;
        };
        std::map<std::pair<int16_t, int16_t>, RelatedRule> relatedRules;
        struct Attribute {
            bool found = false;
            Cell field, table, keyColumn, valueColumn;  // texts; a name refused raises
            Cell userName, componentName;               // for a field the component lacks
            std::optional<bool> picklistEmpty;
        };
        std::unordered_map<int32_t, Attribute> attributes;
        std::map<std::tuple<int32_t, uint16_t, std::string>, std::string> texts;
        std::map<std::string, Cell> parameters;
    };
    const std::vector<ValidateRun::RuleRow>& ActivePhaseRows(ValidateRun& Run, int16_t FNO);

    // ---- shared ----
    // The recordset of the feature's support component (its collection's
    // error when it has none).
    std::shared_ptr<ado::Recordset> SupportRows(const std::shared_ptr<IKeyObject>& Feature) const;
    // The parameter "<number><suffix>" of QTX_ADD_REL_PARAMS_OPTABLE; its
    // lookup error when there is no row.
    std::string AdditionalParameter(const std::string& Suffix) const;
    // Name and FID of a feature as message parameters ("Water Main 1001").
    std::string FeatureText(const std::shared_ptr<IKeyObject>& Feature) const;
    void Record(int16_t MsgIdA, int16_t MsgIdB, int32_t Kind, const std::string& FNO, const std::string& FID,
                const std::string& CNO, const std::string& CID, const std::shared_ptr<ado::Recordset>& Errors,
                const rt::Variant& Priority, const std::string& Name1 = "", const std::string& Name2 = "",
                const std::string& Name3 = "") const;

    std::string nodeColumn1_;
    std::string nodeColumn2_;
    std::string thirdParameter_;  // kept, never read
    std::string supportComponentName_;
    std::string configuration_;
    std::shared_ptr<ado::Recordset> featureComponents_;
    std::shared_ptr<ado::Recordset> additionalParameters_;
    std::shared_ptr<RGIHelper> rgiHelper_;
    // What the running Validate has read; nullptr outside it.
    DistanceRun* run_ = nullptr;
    ValidateRun* validateRun_ = nullptr;
};

}  // namespace pelmora
