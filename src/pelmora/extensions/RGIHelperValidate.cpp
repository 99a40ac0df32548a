// The host's Validate: loading the records' RGIs, running each loaded one
// and collecting what it reports.
#include <algorithm>
#include <optional>

#include "pelmora/common/ScopeExit.h"
#include "runtime/ScopedValue.h"
#include "pelmora/extensions/RGIHelper.h"
#include "pelmora/extensions/RGIHelperInternal.h"
#include "pelmora/extensions/RGIVBABridge.h"
#include "interfaces/KeyObject.h"
#include "interfaces/Relationship.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr int16_t kRGIFailedMessage = 25267;
constexpr int16_t kRGILoadFailedMessage = 25268;

void AddFailure(RGIFindings& findings, int16_t messageId, const std::string& interfaceName) {
    findings.Add(rt::Variant(GetValidationMessage(kErrorPriorityMessage)),
                 rt::Variant(GetValidationMessage(messageId, rt::Variant(interfaceName))));
}

bool IsNoText(const rt::Variant& v) { return v.IsEmpty() || (v.IsString() && v.Str().empty()); }

// Appends what an RGI reported. False when its output cannot be read as two
// parallel arrays: priorities that are no array (or of more than one
// dimension), or messages that lack an index of the priorities.
bool TakeRGIOutput(const rt::Variant& priorities, const rt::Variant& messages, RGIFindings& findings) {
    if (!priorities.IsArray()) return false;
    if (!IsArrayDimensioned(priorities)) return true;
    const rt::SafeArray* p = priorities.Array();
    if (p->Dims() != 1) return false;
    const int32_t lower = p->LBound(), upper = p->UBound();
    if (upper < lower || IsNoText(p->Get(upper))) return true;
    if (!messages.IsArray() || !IsArrayDimensioned(messages)) return false;
    const rt::SafeArray* m = messages.Array();
    if (m->Dims() != 1 || m->LBound() > lower || m->UBound() < upper) return false;
    for (int32_t i = lower; i <= upper; ++i) findings.Add(p->Get(i), m->Get(i));
    return true;
}

// Puts the active feature's CNO back: the RGIs' triggering CNOs are no
// business of whoever reads the feature next. An RGI that called back into
// its helper (validated again, reviewed another feature) may have left
// another feature active: the helper gets its own back, as it reads it
// after the host returns.
class CNORestorer {
public:
    CNORestorer(std::shared_ptr<IRelationshipHelper> helper, std::shared_ptr<IKeyObject> feature)
        : helper_(std::move(helper)), feature_(std::move(feature)) {
        if (!feature_) return;
        try {
            cno_ = feature_->get_CNO();
        } catch (...) {
        }
    }
    ~CNORestorer() {
        try {
            if (helper_->get_Feature() != feature_) helper_->putref_Feature(feature_);
        } catch (...) {
        }
        if (!cno_) return;
        try {
            feature_->put_CNO(*cno_);
        } catch (...) {
        }
    }
    CNORestorer(const CNORestorer&) = delete;
    CNORestorer& operator=(const CNORestorer&) = delete;

private:
    std::shared_ptr<IRelationshipHelper> helper_;
    std::shared_ptr<IKeyObject> feature_;
    std::optional<int16_t> cno_;
};

}  // namespace

void RGIHelper::Validate(const std::shared_ptr<IRelationshipHelper>& Helper, rt::Variant& PriorityArray,
                         rt::Variant& ErrArray) {
    RGIFindings findings;
    try {
        RunHandled([&] {
            LoadRGIs(Helper, findings);
            if (m_aRGIInfo.empty()) return;
            RunRGIs(Helper, findings);
        });
    } catch (...) {
        findings.WriteTo(PriorityArray, ErrArray);
        throw;
    }
    findings.WriteTo(PriorityArray, ErrArray);
}

void RGIHelper::LoadRGIs(const std::shared_ptr<IRelationshipHelper>& Helper, RGIFindings& findings) {
    if (allLoaded_ || loading_) return;
    // An RGI is handed the helper while it is made, and may initialize this
    // host anew, which replaces the records this load walks: it stops.
    const rt::ScopedValue<bool> loading(loading_, true);
    const uint64_t generation = recordsGeneration_;
    bool all = true;
    for (size_t i = 0; i < m_aRGIInfo.size(); ++i) {
        const RGIInfo wanted = m_aRGIInfo[i];
        if (FindRGIObjectByProgID(wanted.InterfaceName, wanted.ProjectNumber)) continue;
        bool bridged = false;
        std::shared_ptr<RelationshipGeometryInterface> rgi;
        rt::ComError failure(0, "", "");
        const bool made = rt::CaptureError([&] { rgi = CreateRGI(Helper, wanted, bridged); }, failure);
        if (recordsGeneration_ != generation) return;
        if (made) {
            RGIInfo& record = m_aRGIInfo[i];
            record.m_objRGI = std::move(rgi);
            record.Bridged = bridged;
            Remember(i);
        } else {
            all = false;
            AddFailure(findings, kRGILoadFailedMessage, wanted.InterfaceName);
        }
    }
    allLoaded_ = all;
}

std::shared_ptr<RelationshipGeometryInterface> RGIHelper::CreateRGI(
    const std::shared_ptr<IRelationshipHelper>& Helper, const RGIInfo& record, bool& bridged) const {
    const bool hasColon = record.InterfaceName.find(':') != std::string::npos;
    if (record.ProjectNumber == -1 && !hasColon) {
        bridged = false;
        return rt::QueryInterface<RelationshipGeometryInterface>(rt::CreateObject(record.InterfaceName));
    }
    // A bridge that failed to bind is not kept: half bound, it would only
    // fail again when run.
    auto bridge = std::make_shared<RGIVBABridge>();
    if (record.ProjectNumber == -1) bridge->InitializeBridge(-1, record.ArgGroupNo, Helper, record.InterfaceName);
    else bridge->InitializeBridge(record.ProjectNumber, record.ArgGroupNo, Helper, "");
    bridged = true;
    return bridge;
}

std::shared_ptr<RelationshipGeometryInterface> RGIHelper::FindRGIObjectByProgID(const std::string& InterfaceName,
                                                                               int32_t ProjectNumber) const {
    if (ProjectNumber != -1) {
        auto it = loadedByProject_.find(ProjectNumber);
        return it == loadedByProject_.end() ? nullptr : m_aRGIInfo[it->second].m_objRGI;
    }
    auto it = loadedByName_.find(InterfaceName);
    return it == loadedByName_.end() ? nullptr : m_aRGIInfo[it->second].m_objRGI;
}

void RGIHelper::Remember(size_t index) {
    // The first record (lowest index) of a configuration answers for it.
    auto keepFirst = [index](size_t& kept) { kept = std::min(kept, index); };
    const RGIInfo& record = m_aRGIInfo[index];
    keepFirst(loadedByName_.try_emplace(record.InterfaceName, index).first->second);
    keepFirst(loadedByProject_.try_emplace(record.ProjectNumber, index).first->second);
}

void RGIHelper::RunRGIs(const std::shared_ptr<IRelationshipHelper>& Helper, RGIFindings& findings) {
    if (!Helper) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto feature = Helper->get_Feature();
    CNORestorer restore(Helper, feature);
    // An RGI may call back into its helper, whose next Initialize replaces
    // these records and releases their RGIs: the walk goes over its own copy,
    // which keeps every RGI alive while it runs.
    const std::vector<RGIInfo> records = m_aRGIInfo;
    for (const RGIInfo& record : records)
        if (record.m_objRGI) RunRGI(Helper, feature, record, findings);
}

void RGIHelper::RunRGI(const std::shared_ptr<IRelationshipHelper>& Helper, const std::shared_ptr<IKeyObject>& feature,
                       const RGIInfo& record, RGIFindings& findings) {
    // Fresh arrays for every RGI: one that writes nothing must not pass on
    // the findings of the one before.
    rt::Variant priorities = rt::Variant::MakeArray(rt::vbVariant, 0, 0);
    rt::Variant messages = rt::Variant::MakeArray(rt::vbVariant, 0, 0);
    const auto& rgi = record.m_objRGI;
    const std::pair<std::string, int32_t> configuration{record.InterfaceName, record.ProjectNumber};
    if (std::find(running_.begin(), running_.end(), configuration) != running_.end()) return;
    running_.push_back(configuration);
    ScopeExit ran([this] { running_.pop_back(); });
    rt::ResumeNext step;
    // A bridge to a name-created RGI has nowhere to put the three numbers:
    // each would raise 91 only for the clearing below to drop it.
    const auto bridge = record.Bridged ? std::dynamic_pointer_cast<RGIVBABridge>(rgi) : nullptr;
    if (!bridge || !bridge->get_NameMode()) {
        step([&] { rgi->put_RelatedFNO(rt::CInt(rt::Variant(record.RelatedFNO))); });
        step([&] { rgi->put_RelatedCNO(record.RelatedCNO); });
        step([&] { rgi->put_ProcessingMode(kRGIValidateProcessingMode); });
    }
    step([&] {
        if (!feature) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        feature->put_CNO(record.TriggeringCNO);
    });
    // A bridge's Validate starts by clearing what is pending, so the three
    // numbers a name-created RGI cannot take do not count against it.
    if (record.Bridged) step.Clear();
    step([&] { rgi->Validate(Helper, priorities, messages); });

    if (!step.Failed()) {
        if (!TakeRGIOutput(priorities, messages, findings))
            AddFailure(findings, kRGIFailedMessage, record.InterfaceName);
        return;
    }
    if (step.LastError().Number() == kErrorBase + kUserInterruptedError) return;
    AddFailure(findings, kRGIFailedMessage, record.InterfaceName);
}

}  // namespace pelmora
