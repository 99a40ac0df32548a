// The host's records: what Initialize reads from the rule rows, their
// clean-up and its log, and the members the host does not serve.
#include "pelmora/extensions/RGIHelper.h"

#include <cmath>
#include <utility>

#include "ado/Recordset.h"
#include "pelmora/common/MiscEnvironment.h"
#include "pelmora/common/NullOrEmpty.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/extensions/RGIHelperInternal.h"
#include "interfaces/DataContext.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataRecordsetFilterService.h"
#include "interfaces/MetadataService.h"
#include "interfaces/Relationship.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kRelationshipsTable = "QTX_RELATIONSHIPS_OPTABLE";

// The rule table's columns, seen from the active feature's side.
struct RuleColumns {
    const char* firstSideFNO;
    const char* triggeringCNO;
    const char* relatedFNO;
    const char* relatedCNO;
    const char* interfaceName;
    const char* projectNumber;
    const char* argGroupNo;
};

constexpr RuleColumns kConnectivityColumns{"QTX_SOURCEFNO",     "QTX_TRIGGERINGCNO", "QTX_CONNECTINGFNO",
                                           "QTX_CONNECTINGTRIGGERINGCNO", "QTX_INTERFACE", "QTX_PRJNO",
                                           "QTX_RIARGGROUPNO"};
constexpr RuleColumns kOwnedColumns{"QTX_SOURCEFNO", "QTX_TRIGGERINGCNO", "QTX_OWNERFNO", "QTX_OWNERTRIGGERINGCNO",
                                    "QTX_INTERFACE", "QTX_PRJNO",         "QTX_RIARGGROUPNO"};
constexpr RuleColumns kOwnerColumns{"QTX_OWNERFNO",       "QTX_OWNERTRIGGERINGCNO", "QTX_SOURCEFNO",
                                    "QTX_TRIGGERINGCNO",  "QTX_OWNERINTERFACE",     "QTX_OWNERPRJNO",
                                    "QTX_OWNERRIARGGROUPNO"};

// The columns of a relationship type; nullptr for a type without RGIs.
const RuleColumns* ColumnsFor(int16_t type, bool owned) {
    switch (type) {
        case qzrelNodeEdgeConnectivity:
        case qzrelNodeOrderedConnectivity: return &kConnectivityColumns;
        case qzrelOwnership:
        case qzrelManyToManyOwnership: return owned ? &kOwnedColumns : &kOwnerColumns;
        default: return nullptr;
    }
}

// A field's value as a String variable takes it: Null raises 94.
std::string TextOf(const rt::Variant& value) {
    if (value.IsNull()) rt::RaiseVbError(rt::vberr::InvalidUseOfNull);
    return rt::CStr(value);
}

// -1 when anything fails: such a feature matches no rule row.
int32_t GetFeatureFNO(const std::shared_ptr<IRelationshipHelper>& Helper) {
    try {
        auto feature = Helper ? Helper->get_Feature() : nullptr;
        return feature ? feature->get_FNO() : -1;
    } catch (...) {
        return -1;
    }
}

}  // namespace

RGIHelper::RGIHelper() {
    try {
        m_strLogPath = GetTempDirectory() + "/" + kRGIErrorLogFileName;
    } catch (...) {
        m_strLogPath = std::string("/") + kRGIErrorLogFileName;
    }
}

RGIHelper::~RGIHelper() {
    try {
        CleanupRGIInfo();
    } catch (...) {
        // Only the log write can fail here; an exception leaving a
        // destructor would end the process.
    }
}

void RGIHelper::CleanupRGIInfo() {
    rt::ComError failure(0, "", "");
    const bool released = rt::CaptureError(
        [&] {
            allLoaded_ = false;
            ++recordsGeneration_;
            loadedByName_.clear();
            loadedByProject_.clear();
            // Released after the records are gone, so that an RGI's end
            // never sees a half-cleared host.
            std::vector<RGIInfo> records;
            records.swap(m_aRGIInfo);
            records.clear();
        },
        failure);
    if (!released) LogRGIError("CleanupRGIInfo", failure.Description());
}

void RGIHelper::LogRGIError(const std::string& MethodName, const std::string& Description) const {
    const double now = rt::Now();
    const double day = std::floor(now);
    const std::string text = rt::CStr(rt::Variant::Date(day)) + " " + rt::CStr(rt::Variant::Date(now - day)) + " " +
                             "Error raised by RGI method " + MethodName + "\r\n" + Description + "\r\n";
    if (AppendToLog(m_strLogPath, text) != LogAppend::Written) rt::RaiseVbError(rt::vberr::PathFileAccessError);
}

void RGIHelper::Initialize(const std::shared_ptr<IRelationshipHelper>& Helper) {
    RunHandled([&] {
        CleanupRGIInfo();
        CollectRecords(Helper);
    });
}

namespace {

// The records of the validation call in progress in this apartment (nullptr
// outside one); the call's scope owns them.
struct RunRecordsSlot {
    RGIHelper::RecordsByFeatureNumber* records = nullptr;
};

RGIHelper::RecordsByFeatureNumber*& RunRecords() { return rt::Apartment::Current().Get<RunRecordsSlot>().records; }

}  // namespace

RGIHelper::RunRecordsScope::RunRecordsScope() : previous_(std::exchange(RunRecords(), &records_)) {}

RGIHelper::RunRecordsScope::~RunRecordsScope() { RunRecords() = previous_; }

void RGIHelper::CollectRecords(const std::shared_ptr<IRelationshipHelper>& Helper) {
    const int32_t fno = GetFeatureFNO(Helper);
    if (!Helper) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    dataContext_ = Helper->get_DataContext();
    if (!dataContext_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto metadata = dataContext_->GetMetadataService();
    if (!metadata) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto filter = Helper->get_MDRSFilterService();
    if (!filter) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto tables = metadata->get_Recordsets();

    const int16_t rno = Helper->get_RelationshipNumber();
    RecordsByFeatureNumber* kept = RunRecords();
    if (kept) {
        if (auto known = kept->find({rno, fno}); known != kept->end()) {
            m_aRGIInfo = known->second;
            return;
        }
    }
    // No records where a lookup finds no row; a read that raises keeps nothing.
    auto read = [&]() -> std::vector<RGIInfo> {
        auto relationship = tables->get_Item(rt::Variant(kRelationshipsTable))->get_Recordset("", "");
        filter->FilterRecordset(relationship, relationship->get_Fields()->Item("QTX_RNO"), rt::Variant(rno));
        if (relationship->get_BOF() && relationship->get_EOF()) return {};
        const std::string ruleTable = TextOf(relationship->GetValue(rt::Variant("QTX_OPTIMIZEDTABLE")));
        const int16_t type = rt::CInt(relationship->GetValue(rt::Variant("QTX_TYPE")));
        // Null is the owner's side, as the ownership helpers read it.
        const rt::Variant subordinate = relationship->GetValue(rt::Variant("QTX_SUBORDINATE"));
        const bool owned = !IsNullOrEmpty(subordinate) && rt::CInt(subordinate) != 0;
        const RuleColumns* columns = ColumnsFor(type, owned);
        if (!columns) return {};

        auto rules = tables->get_Item(rt::Variant(ruleTable))->get_Recordset("", "");
        auto fields = rules->get_Fields();
        filter->FilterRecordset(rules, fields->Item(columns->firstSideFNO), rt::Variant(fno));
        if (rules->get_BOF() && rules->get_EOF()) return {};
        auto interfaceName = fields->Item(columns->interfaceName);
        auto triggeringCNO = fields->Item(columns->triggeringCNO);
        auto relatedFNO = fields->Item(columns->relatedFNO);
        auto relatedCNO = fields->Item(columns->relatedCNO);
        auto projectNumber = fields->Item(columns->projectNumber);
        auto argGroupNo = fields->Item(columns->argGroupNo);

        std::vector<RGIInfo> records;
        for (; !rules->get_EOF(); rules->MoveNext()) {
            const rt::Variant name = interfaceName->get_Value();
            if (name.IsNull()) continue;
            RGIInfo record;
            record.TriggeringCNO = rt::CInt(triggeringCNO->get_Value());
            record.RelatedFNO = rt::CLng(relatedFNO->get_Value());
            record.RelatedCNO = rt::CInt(relatedCNO->get_Value());
            record.InterfaceName = rt::CStr(name);
            const rt::Variant project = projectNumber->get_Value();
            if (!IsNullOrEmpty(project)) record.ProjectNumber = rt::CLng(project);
            record.ArgGroupNo = argGroupNo->get_Value();
            records.push_back(std::move(record));
        }
        // A 16-bit count in the interface's terms.
        if (records.size() > 32767) rt::RaiseVbError(rt::vberr::Overflow);
        return records;
    };
    std::vector<RGIInfo> records = read();
    if (kept) kept->emplace(std::pair{rno, fno}, records);
    m_aRGIInfo = std::move(records);
}

void RGIHelper::NotSupported() { ShowMessage(rt::Variant(kRGICallNotSupportedText)); }

}  // namespace pelmora
