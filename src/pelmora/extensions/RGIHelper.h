#pragma once
// The relationship geometry host: the system's own
// RelationshipGeometryInterface, which every helper of the relationship
// types 2, 3, 8 and 9 keeps. On each validation the helper calls Initialize
// and then Validate, passing itself both times: Initialize reads the rule
// rows of the relationship for the helper's active feature and records one
// RGIInfo per configured RGI; Validate loads the records' RGIs (by ProgID,
// or through an RGIVBABridge for a VBA project or a name with ":"), runs
// each loaded one and appends what it reports to the two arrays.
//
// The host owns the RGIs it loaded until its next Initialize or its end.
// Several records naming one configuration (the same project number, or the
// same name without one) share the first record's object and run once, with
// that record's related numbers. A record whose RGI failed to load keeps no
// object and is tried again by the next Validate.
//
// Failures of single RGIs never stop the others: they become entries of the
// arrays (15734 and 25268 for loading, 15734 and 25267 for running), except
// the user-interrupted error (kErrorBase + 14119), which is dropped. Any
// other failure of Initialize or Validate is raised again with the source
// "RelationshipGeometry"; an interruption there returns normally. The
// members the host does not serve show "Call not supported. Look it up in
// PELMORA" and answer 0 or False.
#include <cstdint>
#include <map>
#include <utility>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "pelmora/extensions/RGIUnsupportedMembers.h"
#include "interfaces/RelationshipGeometry.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {

class IDataContext;
class IKeyObject;
struct RGIFindings;

inline constexpr const char* kRGIErrorLogFileName = "RGIErrorLog.txt";

// One configured RGI: a rule row as seen from the active feature's side.
struct RGIInfo {
    int16_t TriggeringCNO = 0;  // written into the active feature's CNO before the RGI runs
    int32_t RelatedFNO = 0;     // given to the RGI as a 16-bit RelatedFNO
    int16_t RelatedCNO = 0;
    std::string InterfaceName;  // a ProgID, a name with ":", or the project row's name
    int32_t ProjectNumber = -1;  // -1: the rule row has none
    rt::Variant ArgGroupNo;      // as read, Null allowed
    std::shared_ptr<RelationshipGeometryInterface> m_objRGI;
    bool Bridged = false;  // m_objRGI is an RGIVBABridge
};

class RGIHelper : public rt::Object, public RGIUnsupportedMembers {
public:
    RGIHelper();
    // Releases the RGIs; a failure to log a failing release goes nowhere.
    ~RGIHelper() override;
    RGIHelper(const RGIHelper&) = delete;
    RGIHelper& operator=(const RGIHelper&) = delete;

    // Stored only; the RGIs always get processing mode 5.
    void put_ProcessingMode(int32_t ProcessingMode) override { m_lProcessingMode = ProcessingMode; }
    int32_t get_ProcessingMode() override { return m_lProcessingMode; }
    // Discards the loaded RGIs and records the RGIs of the helper's rule rows
    // whose first-side FNO is the FNO of the helper's Feature (none for an
    // unreadable feature, a relationship without row, or a type other than
    // 2, 3, 8 and 9). Loads no RGI and calls none.
    void Initialize(const std::shared_ptr<IRelationshipHelper>& Helper) override;
    // Both arrays come back as Variant arrays from 0: one Empty element when
    // nothing was reported, else one element per entry. Each RGI gets two
    // fresh arrays; it reports findings by leaving the last priority neither
    // Empty nor "", with a message at every index of its priorities. Output
    // of another shape is that RGI's failure. The feature's CNO is put back
    // when Validate returns.
    void Validate(const std::shared_ptr<IRelationshipHelper>& Helper, rt::Variant& PriorityArray,
                  rt::Variant& ErrArray) override;
    int16_t get_RelatedFNO() override { return NotSupported(), int16_t{0}; }
    void put_RelatedFNO(int16_t) override { NotSupported(); }
    int16_t get_RelatedCNO() override { return NotSupported(), int16_t{0}; }
    void put_RelatedCNO(int16_t) override { NotSupported(); }

    // ---- inside the system ----
    // The records in use (one per configured RGI).
    const std::vector<RGIInfo>& get_RGIInfo() const { return m_aRGIInfo; }
    const std::string& get_LogPath() const { return m_strLogPath; }
    // Appends "<date> <time> Error raised by RGI method <MethodName>", CRLF,
    // the description and CRLF to the log; raises 75 when it cannot.
    void LogRGIError(const std::string& MethodName, const std::string& Description) const;

    // The records Initialize reads, by relationship number and FNO.
    using RecordsByFeatureNumber = std::map<std::pair<int16_t, int32_t>, std::vector<RGIInfo>>;

    // While a validation call lasts, every host keeps its records in the
    // call's (the metadata does not change within it), so that each
    // relationship and FNO is read once per call rather than once per
    // feature; they go with the scope. One scope per apartment stands; a
    // nested call's stands until it ends.
    class RunRecordsScope {
    public:
        RunRecordsScope();
        ~RunRecordsScope();
        RunRecordsScope(const RunRecordsScope&) = delete;
        RunRecordsScope& operator=(const RunRecordsScope&) = delete;
        RecordsByFeatureNumber& Records() { return records_; }

    private:
        RecordsByFeatureNumber records_;
        RecordsByFeatureNumber* previous_;
    };

    std::string TypeName() const override { return "RGIHelper"; }

protected:
    void NotSupported() override;

private:
    void CleanupRGIInfo();
    void CollectRecords(const std::shared_ptr<IRelationshipHelper>& Helper);
    void LoadRGIs(const std::shared_ptr<IRelationshipHelper>& Helper, RGIFindings& findings);
    void RunRGIs(const std::shared_ptr<IRelationshipHelper>& Helper, RGIFindings& findings);
    void RunRGI(const std::shared_ptr<IRelationshipHelper>& Helper, const std::shared_ptr<IKeyObject>& feature,
                const RGIInfo& record, RGIFindings& findings);
    std::shared_ptr<RelationshipGeometryInterface> CreateRGI(const std::shared_ptr<IRelationshipHelper>& Helper,
                                                            const RGIInfo& record, bool& bridged) const;
    // The loaded object of the configuration (a project number, or -1 and a
    // name), or nullptr.
    std::shared_ptr<RelationshipGeometryInterface> FindRGIObjectByProgID(const std::string& InterfaceName,
                                                                        int32_t ProjectNumber) const;
    void Remember(size_t index);

    std::vector<RGIInfo> m_aRGIInfo;
    // Index of the first record with an object, by name (records without a
    // project number) and by project number.
    std::unordered_map<std::string, size_t> loadedByName_;
    std::unordered_map<int32_t, size_t> loadedByProject_;
    // Every record has an object or shares one: loading has nothing to do.
    bool allLoaded_ = false;
    // The configurations (name, project number) whose RGI runs now: an RGI
    // whose code validates through this host again is not run inside itself
    // (it would run itself without end), as a component fires nothing inside
    // an interface.
    std::vector<std::pair<std::string, int32_t>> running_;
    // True while the RGIs are made: one that is handed the helper and
    // validates through this host again loads none there.
    bool loading_ = false;
    // Counts the records replaced (each Initialize): a load whose records
    // were replaced meanwhile stops.
    uint64_t recordsGeneration_ = 0;
    int32_t m_lProcessingMode = 0;
    std::shared_ptr<IDataContext> dataContext_;
    std::string m_strLogPath;
};

}  // namespace pelmora
