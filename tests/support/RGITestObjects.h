#pragma once
// Relationship geometry interfaces written for the tests, of the three kinds
// metadata names (by ProgID, in a VBA project, by a name with ":"), each
// scripted to report findings, write nothing, raise, or raise Abort; and a
// relationship helper over a sample relationship that keeps a host the way
// the helpers of types 2, 3, 8 and 9 do.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pelmora/extensions/RGIHelper.h"
#include "pelmora/extensions/RGIUnsupportedMembers.h"
#include "interfaces/KeyObject.h"
#include "interfaces/RelationshipGeometry.h"
#include "interfaces/VbaProjectHost.h"
#include "pelmora/relationships/RelationshipHelperBase.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora_test {

enum class RGIScript {
    Report,        // findings into both arrays
    WriteNothing,  // leaves the arrays as handed in
    Raise,         // error 5 from Validate
    Abort,         // ProgID and name: the user-interrupted error; project: Abort, then 91
    Raw,           // rawPriorities and rawMessages as they are
};

// What every scripted RGI shares: its script, its findings, and what it was
// given and asked.
class ScriptedRGI {
public:
    RGIScript script = RGIScript::Report;
    // Reported as priorities and messages, in this order (bounds from 0).
    std::vector<std::pair<std::string, std::string>> findings;
    rt::Variant rawPriorities, rawMessages;
    std::vector<std::string> calls;
    int validated = 0;
    int initialized = 0;
    int32_t processingMode = 0;
    int16_t relatedFNO = 0, relatedCNO = 0;
    // The helper feature's CNO while Validate ran (-1 without a feature).
    std::vector<int16_t> cnoDuringValidate;

    int Count(const std::string& member) const;

protected:
    // Runs the script into the two arrays (Raise and Abort throw).
    void Run(rt::Variant& priorities, rt::Variant& messages, pelmora::AbortEventSource* events,
             rt::VarType elementType);
};

// By ProgID: implements RelationshipGeometryInterface itself.
class ProgIdRGI : public rt::Object, public pelmora::RGIUnsupportedMembers, public ScriptedRGI {
public:
    void put_ProcessingMode(int32_t v) override { calls.push_back("ProcessingMode"), processingMode = v; }
    int32_t get_ProcessingMode() override { return processingMode; }
    void Initialize(const std::shared_ptr<pelmora::IRelationshipHelper>&) override { ++initialized; }
    void Validate(const std::shared_ptr<pelmora::IRelationshipHelper>& helper, rt::Variant& priorities,
                  rt::Variant& messages) override;
    int16_t get_RelatedFNO() override { return relatedFNO; }
    void put_RelatedFNO(int16_t v) override { calls.push_back("RelatedFNO"), relatedFNO = v; }
    int16_t get_RelatedCNO() override { return relatedCNO; }
    void put_RelatedCNO(int16_t v) override { calls.push_back("RelatedCNO"), relatedCNO = v; }

protected:
    void NotSupported() override { calls.push_back("NotSupported"); }
};

// In a VBA project: raises Abort when its project is unloaded.
class ProjectRGI : public rt::Object,
                   public pelmora::AbortEventSource,
                   public pelmora::IProjectRelationshipGeometry,
                   public ScriptedRGI {
public:
    std::shared_ptr<pelmora::IDataContext> dataContext;
    rt::Variant arguments;
    std::shared_ptr<pelmora::QzKeyObject> feature;
    std::shared_ptr<pelmora::QzKeyObjects> relatedFeatures;
    int16_t relationshipNumber = 0;

    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& v) override { dataContext = v; }
    void put_ArgumentArray(const rt::Variant& v) override { arguments = v; }
    void putref_Feature(const std::shared_ptr<pelmora::QzKeyObject>& v) override { feature = v; }
    void putref_RelatedFeatures(const std::shared_ptr<pelmora::QzKeyObjects>& v) override { relatedFeatures = v; }
    void put_RelationshipNumber(int16_t v) override { relationshipNumber = v; }
    int32_t get_ProcessingMode() override { return processingMode; }
    void put_ProcessingMode(int32_t v) override { processingMode = v; }
    int16_t get_RelatedFNO() override { return relatedFNO; }
    void put_RelatedFNO(int16_t v) override { relatedFNO = v; }
    int16_t get_RelatedCNO() override { return relatedCNO; }
    void put_RelatedCNO(int16_t v) override { relatedCNO = v; }
    void Initialize() override;
    void Validate(rt::Variant& priorities, rt::Variant& messages) override;

    // Initialize raises Abort (the project goes away) and fails.
    bool abortOnInitialize = false;
};

// Created from a name with ":": takes converted objects, returns String arrays.
class NamedRGI : public rt::Object, public pelmora::INamedRelationshipGeometry, public ScriptedRGI {
public:
    rt::ObjectPtr dataContext, feature, arguments, relatedFeatures;
    int16_t relationshipNumber = 0;

    void Initialize() override { ++initialized; }
    void Validate(rt::Variant& priorities, rt::Variant& messages) override;
    void putref_Feature(const rt::ObjectPtr& v) override { feature = v; }
    void putref_ArgumentArray(const rt::ObjectPtr& v) override { arguments = v; }
    void putref_DataContext(const rt::ObjectPtr& v) override { dataContext = v; }
    void putref_RelatedFeatures(const rt::ObjectPtr& v) override { relatedFeatures = v; }
    void put_RelationshipNumber(int16_t v) override { relationshipNumber = v; }
};

// A helper over a sample relationship number: the template members of the
// base, a review that returns the features the test sets, and a host made
// when the number is set, run by ValidateGeometry as the hosting helpers
// run theirs.
class RGIHostingHelper : public pelmora::RelationshipHelperBase {
public:
    // DataContext, MDRSFilterService (a new one) and RelationshipNumber set.
    static std::shared_ptr<RGIHostingHelper> New(const std::shared_ptr<pelmora::IDataContext>& dataContext,
                                                 int16_t relationshipNumber);

    std::vector<std::shared_ptr<pelmora::IKeyObject>> related;  // what ReviewRelationship returns
    bool reviewReturnsNothing = false;
    int reviews = 0;
    std::string nameOverride;  // Name when not empty

    void put_RelationshipNumber(int16_t RelationshipNumber) override;
    std::string get_Name() override { return nameOverride.empty() ? RelationshipHelperBase::get_Name() : nameOverride; }
    rt::Variant CandidateFeatures(const std::shared_ptr<pelmora::IKeyObject>&) override { return rt::Variant::Null(); }
    bool CanRelate(const std::shared_ptr<pelmora::IKeyObject>&, int16_t) override { return false; }
    void DeleteRelationship(const std::shared_ptr<pelmora::IKeyObject>&, const std::shared_ptr<pelmora::IKeyObject>&,
                            int32_t, int32_t) override {}
    pelmora::RelationshipTypeConstants get_RelationshipType() override { return pelmora::qzrelOwnership; }
    rt::Variant ReviewRelationship(const std::shared_ptr<pelmora::IKeyObject>& Feature) override;
    rt::Variant ReviewRelationshipHierarchy(const std::shared_ptr<pelmora::IKeyObject>&) override { return {}; }
    void SilentEstablishRelationship(const std::shared_ptr<pelmora::IKeyObject>&,
                                     const std::shared_ptr<pelmora::IKeyObject>&, int32_t, int32_t) override {}
    void Validate(const std::shared_ptr<pelmora::IKeyObjects>&, const std::shared_ptr<pelmora::IComponents>&,
                  const std::shared_ptr<ado::Recordset>&, const std::shared_ptr<rt::Collection>&,
                  const std::shared_ptr<ado::Recordset>&) override {}

    // Sets the active feature, then Initialize and Validate of the host.
    void ValidateGeometry(const std::shared_ptr<pelmora::IKeyObject>& feature, rt::Variant& priorities,
                          rt::Variant& messages);
    pelmora::RGIHelper& Host() { return *host_; }

private:
    std::shared_ptr<pelmora::RGIHelper> host_;
};

// A feature key (no components) of the sample.
std::shared_ptr<pelmora::IKeyObject> SampleFeature(int16_t fno, int32_t fid, int16_t cno = 0);

}  // namespace pelmora_test
