#include "pelmora/persistence/ComponentDatabaseService.h"

#include "pelmora/common/TraceScope.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "pelmora/persistence/WorkOperationsStrings.h"
#include "runtime/Dispatch.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kFile = "ComponentDatabaseService";
constexpr int16_t kMsgSource = 23283;
constexpr int16_t kMsgAlreadyBegun = 23285;
constexpr int16_t kMsgWriteFailed = 23288;
constexpr int16_t kMsgNoDataContext = 27010;

std::string SourceText() { return MessageObject()->GetMessageText(kMsgSource, 0); }

enum Decoder { kNum, kStr, kDat };

// One list parameter: its list, the member carrying its text, its decoder.
struct ParameterSpec {
    ComponentDatabaseService::ListId list;
    const char* member;
    Decoder decoder;
};

std::vector<ParameterSpec> MakeParameterSpecs() {
    using S = ComponentDatabaseService;
    std::vector<ParameterSpec> specs;
    auto attribute = [&](S::ListId id, Decoder value) {
        for (auto [member, decoder] : {std::pair{"FNO", kNum}, {"FID", kNum}, {"Comp", kStr}, {"CID", kNum},
                                       {"Field", kStr}, {"Value", value}})
            specs.push_back({id, member, decoder});
    };
    auto geometry = [&](S::ListId id, const char* cidLabel) {
        for (auto [member, decoder] : {std::pair{"FNO", kNum}, {"FID", kNum}, {"Comp", kStr}, {cidLabel, kNum},
                                       {"ESeq", kNum}, {"Seq", kNum}, {"Field", kStr}, {"Value", kNum}})
            specs.push_back({id, member, decoder});
    };
    auto deletion = [&](S::ListId id) {
        for (auto [member, decoder] : {std::pair{"FNO", kNum}, {"FID", kNum}, {"Comp", kStr}, {"CID", kNum}})
            specs.push_back({id, member, decoder});
    };
    attribute(S::NewAttributeNumeric, kNum);
    attribute(S::NewAttributeString, kStr);
    attribute(S::NewAttributeDate, kDat);
    geometry(S::NewGeomAttribute, "CId");
    attribute(S::SetAttributeNumeric, kNum);
    attribute(S::SetAttributeString, kStr);
    attribute(S::SetAttributeDate, kDat);
    geometry(S::SetGeometryAttribute, "CID");
    deletion(S::DeleteComponent);
    deletion(S::DeleteGeometryComponent);
    return specs;
}

const std::vector<ParameterSpec>& ParameterSpecs() {
    static const std::vector<ParameterSpec> specs = MakeParameterSpecs();
    return specs;
}

const char* ListName(ComponentDatabaseService::ListId id) {
    static const char* const kNames[] = {"NewAttributeNumeric", "NewAttributeString",   "NewAttributeDate",
                                         "NewGeomAttribute",    "SetAttributeNumeric",  "SetAttributeString",
                                         "SetAttributeDate",    "SetGeometryAttribute", "DeleteComponent",
                                         "DeleteGeometryComponent"};
    return kNames[id];
}

WorkOperationsStrings::Slot SlotOf(const std::string& member) {
    using W = WorkOperationsStrings;
    if (member == "FNO") return W::kFNO;
    if (member == "FID") return W::kFID;
    if (member == "Comp") return W::kComp;
    if (member == "CID" || member == "CId") return W::kCID;
    if (member == "Field") return W::kField;
    if (member == "Value") return W::kValue;
    if (member == "ESeq") return W::kESeq;
    return W::kSeq;
}

int32_t NextParameterIndex(int32_t& counter) { return counter++; }

}  // namespace

// ---- the PL/SQL pieces ----

const std::string& ComponentDatabaseService::GetBlockBeginText() {
    static const std::string text = "BEGIN savepoint ComponentDatabaseServiceUpdate;";
    return text;
}

const std::string& ComponentDatabaseService::GetOperationStartText() {
    static const std::string text =
        " QTX_WORKOPERATIONS.SetCurrentOperation( 'QTX.UpdateFeature' ); QTX_WORKOPERATIONS.BeginOperations;";
    return text;
}

const std::string& ComponentDatabaseService::GetBlockContinuationText() {
    static const std::string text = "BEGIN ";
    return text;
}

const std::string& ComponentDatabaseService::GetBlockCutEndText() {
    static const std::string text =
        " EXCEPTION WHEN OTHERS THEN QTX_WORKOPERATIONS.SetCurrentOperation( '' );"
        " rollback to ComponentDatabaseServiceUpdate;"
        " QTX_WORKOPERATIONS.CancelOperations; RAISE; END;";
    return text;
}

const std::string& ComponentDatabaseService::GetBatchRestartText() {
    static const std::string text = " QTX_WORKOPERATIONS.EndOperations; QTX_WORKOPERATIONS.BeginOperations;";
    return text;
}

const std::string& ComponentDatabaseService::GetBlockFinalEndText() {
    static const std::string text = " QTX_WORKOPERATIONS.EndOperations;"
                                    " QTX_WORKOPERATIONS.SetCurrentOperation( '' );" +
                                    GetBlockCutEndText();
    return text;
}

const std::string& ComponentDatabaseService::GetRecoveryBlockText() {
    static const std::string text =
        "DECLARE no_Savepoint EXCEPTION; PRAGMA EXCEPTION_INIT(no_Savepoint, -1086);"
        " BEGIN QTX_WORKOPERATIONS.SetCurrentOperation( '' );"
        " rollback to ComponentDatabaseServiceUpdate;"
        " QTX_WORKOPERATIONS.CancelOperations;"
        " EXCEPTION WHEN no_Savepoint THEN NULL; END;";
    return text;
}

std::string ComponentDatabaseService::ParameterLabel(int k) {
    const auto& specs = ParameterSpecs();
    if (k < 1 || k > static_cast<int>(specs.size())) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange);
    const auto& spec = specs[static_cast<size_t>(k - 1)];
    return std::string(ListName(spec.list)) + spec.member;
}

// ---- life ----

ComponentDatabaseService::ComponentDatabaseService() : blockText_(GetBlockBeginText()), command_(ado::Command::Create()) {}

ComponentDatabaseService::~ComponentDatabaseService() = default;

void ComponentDatabaseService::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    dataContext_ = DataContext;
}

WorkOperationsStrings& ComponentDatabaseService::List(ListId id) {
    auto& list = lists_[static_cast<size_t>(id)];
    if (!list) list = std::make_shared<WorkOperationsStrings>();
    return *list;
}

void ComponentDatabaseService::RaiseWrapped(int32_t number, const rt::ComError& failure) const {
    RaiseError(number, SourceText(), rt::Variant(static_cast<int16_t>(number)), rt::Variant::Missing(),
               rt::Variant(std::to_string(failure.Number()) + " - " + failure.Description()));
}

// ---- batch ----

void ComponentDatabaseService::BeginComponentOperations() {
    TraceScope trace(kFile, "BeginComponentOperations");
    if (begun_) {
        CancelComponentOperations();
        RaiseError(kMsgAlreadyBegun, SourceText(), rt::Variant(kMsgAlreadyBegun));
    }
    begun_ = true;
    queued_ = false;
    blockText_ += GetOperationStartText();
    ClearSavedBlocks();
    newRowKeys_.clear();
    setRows_.Forget();
    newRows_.Forget();
    componentNewRows_.clear();
}

void ComponentDatabaseService::CancelComponentOperations() {
    TraceScope trace(kFile, "CancelComponentOperations");
    blockText_ = GetBlockBeginText();
    ClearSavedBlocks();
    begun_ = false;
    queued_ = false;
    newRowKeys_.clear();
    setRows_.Forget();
    newRows_.Forget();
    componentNewRows_.clear();
    DeleteCommandParameters();
    ClearWorkOperationLists();
}

void ComponentDatabaseService::ClearSavedBlocks() {
    savedBlocks_.clear();
    for (auto& set : savedParameterSets_) set.clear();
    savedParameterSets_.clear();
}

void ComponentDatabaseService::ClearWorkOperationLists() {
    for (int id = 0; id < kListCount; ++id) List(static_cast<ListId>(id)).Clear();
}

void ComponentDatabaseService::DeleteCommandParameters() {
    auto parameters = command_->get_Parameters();
    int32_t n = parameters->get_Count();
    for (int32_t k = 0; k < n; ++k) parameters->Delete(rt::Variant(int32_t{0}));
}

void ComponentDatabaseService::CutWorkOperationBlock(bool endBatch) {
    TraceScope trace(kFile, "CutWorkOperationBlock");
    blockText_ += GetUpdateFeaturesCallText() + (endBatch ? GetBatchRestartText() : "") + GetBlockCutEndText();
    savedBlocks_.push_back(blockText_);
    BindWorkOperationParameters();
    ClearWorkOperationLists();
    setRows_.Forget();
    if (endBatch) {
        // The ended batch inserts its new rows: a later copy may add a row
        // of the same key again.
        newRowKeys_.clear();
        newRows_.Forget();
        componentNewRows_.clear();
    }
    blockText_ = GetBlockContinuationText();
}

void ComponentDatabaseService::RestoreBlockParameters(size_t index) {
    DeleteCommandParameters();
    auto parameters = command_->get_Parameters();
    ParameterSet& set = savedParameterSets_.at(index);
    for (const auto& p : set) parameters->Append(p);
    set.clear();
}

void ComponentDatabaseService::ExecuteBlock(const std::string& blockText) {
    TraceScope trace(kFile, "ExecuteBlock");
    if (!dataContext_) RaiseError(kMsgWriteFailed, SourceText(), rt::Variant(kMsgNoDataContext));
    try {
        command_->put_CommandText(blockText);
        command_->put_CommandType(ado::adCmdText);
        rt::Variant recordsAffected;
        auto rs = dataContext_->ExecuteCommand(command_, recordsAffected);
        rs.reset();
        command_->put_CommandText("");
    } catch (const rt::ComError& e) {
        RaiseWrapped(kMsgWriteFailed, e);
    }
}

void ComponentDatabaseService::WOSEndComponentOperations() {
    TraceScope trace(kFile, "WOSEndComponentOperations");
    if (begun_ && queued_) {
        const int64_t last = static_cast<int64_t>(savedBlocks_.size()) - 1;
        if (last < 0) {
            try {
                BindWorkOperationParameters();
                RestoreBlockParameters(0);
                blockText_ += GetUpdateFeaturesCallText() + GetBlockFinalEndText();
                ExecuteBlock(blockText_);
                begun_ = false;
            } catch (const rt::ComError& e) {
                RaiseWrapped(kMsgWriteFailed, e);
            }
        } else {
            try {
                BindWorkOperationParameters();
                for (int64_t i = 0; i <= last; ++i) {
                    RestoreBlockParameters(static_cast<size_t>(i));
                    ExecuteBlock(savedBlocks_[static_cast<size_t>(i)]);
                }
                RestoreBlockParameters(static_cast<size_t>(last + 1));
                blockText_ += GetUpdateFeaturesCallText() + GetBlockFinalEndText();
                ExecuteBlock(blockText_);
                begun_ = false;
            } catch (const rt::ComError& first) {
                // Earlier blocks may have run: make sure their work is undone
                // even when this failure came from outside the database.
                rt::ComError reported = first;
                try {
                    if (!dataContext_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
                    rt::Variant recordsAffected;
                    auto rs = dataContext_->ExecuteSQL(GetRecoveryBlockText(), recordsAffected, ado::adCmdText);
                    rs.reset();
                } catch (const rt::ComError& recovery) {
                    // ORA-02091: the database rolled the transaction back
                    // already, so there was nothing to recover, and the
                    // failure that ended it is the one to report.
                    if (recovery.Description().rfind("ORA-02091", 0) != 0) reported = recovery;
                }
                RaiseWrapped(kMsgWriteFailed, reported);
            }
        }
    }
    try {
        CancelComponentOperations();
    } catch (const rt::ComError& e) {
        RaiseWrapped(kMsgWriteFailed, e);
    }
}

void ComponentDatabaseService::EndComponentOperations() {
    TraceScope trace(kFile, "EndComponentOperations");
    try {
        WOSEndComponentOperations();
    } catch (const rt::ComError& e) {
        RaiseWrapped(kMsgWriteFailed, e);
    }
}

// ---- the UPDATEFEATURES call and its parameters ----

const std::string& ComponentDatabaseService::GetUpdateFeaturesCallText() {
    if (!callText_.empty()) return callText_;
    static const char* const kPlaceholders[] = {"QTXUTILITY.DECODENUMERICLIST(?)", "QTXUTILITY.DECODESTRINGLIST(?)",
                                                "QTXUTILITY.DECODEDATELIST(?)"};
    std::vector<std::string> placeholders(kParameterCount + 1);  // used from 1
    int32_t counter = 1;
    for (const auto& spec : ParameterSpecs()) placeholders[static_cast<size_t>(NextParameterIndex(counter))] = kPlaceholders[spec.decoder];
    std::string text = "QTX_WORKOPERATIONS.UPDATEFEATURES(";
    for (int k = 1; k <= kParameterCount; ++k) {
        if (k > 1) text += ",";
        text += placeholders[static_cast<size_t>(k)];
    }
    callText_ = text + ");";
    return callText_;
}

ado::ParameterPtr ComponentDatabaseService::WOSCreateStringParameter(const std::string& listText) {
    return WOSCreateStringParameter(listText, listText.empty() ? 0 : rt::Len(listText));
}

ado::ParameterPtr ComponentDatabaseService::WOSCreateStringParameter(const std::string& listText, int32_t length) {
    if (!command_) return nullptr;
    return command_->CreateParameter("", ado::adVarChar, ado::adParamInput, length == 0 ? 1 : length,
                                     rt::Variant(listText));
}

void ComponentDatabaseService::BindWorkOperationParameters() {
    ParameterSet set(kParameterCount);
    int32_t counter = 0;
    for (const auto& spec : ParameterSpecs()) {
        // The list knows its length in characters; the text need not be counted again.
        const WorkOperationsStrings& lists = List(spec.list);
        const auto slot = SlotOf(spec.member);
        set[static_cast<size_t>(NextParameterIndex(counter))] =
            WOSCreateStringParameter(lists.ListText(slot), lists.ListLength(slot));
    }
    savedParameterSets_.push_back(std::move(set));
}

// ---- late binding ----

namespace {

const rt::DispatchTable<ComponentDatabaseService>& ServiceDispatch() {
    using S = ComponentDatabaseService;
    using V = rt::Variant;
    static const auto table =
        rt::DispatchTable<S>().ClassModuleOf(kProjectName)
            .Set("DataContext", 1,
                 [](S& s, const V& v) {
                     s.putref_DataContext(v.IsNothing() ? nullptr : rt::QueryInterface<IDataContext>(v.Obj()));
                 })
            .Get("DataContext", 1, [](S& s) { return V(s.get_DataContext()); })
            .Method("UpdateComponent", 2, 1, 1,
                    [](S& s, rt::Args& a) {
                        const V& c = a[0];
                        s.UpdateComponent(c.IsObject() && !c.IsNothing() ? rt::QueryInterface<IComponent>(c.Obj())
                                                                         : nullptr);
                        return V();
                    })
            .Method("BeginComponentOperations", 3, [](S& s) { s.BeginComponentOperations(); })
            .Method("CancelComponentOperations", 4, [](S& s) { s.CancelComponentOperations(); })
            .Method("EndComponentOperations", 5, [](S& s) { s.EndComponentOperations(); })
            .Method("WOSEndComponentOperations", 6, [](S& s) { s.WOSEndComponentOperations(); });
    return table;
}

}  // namespace

rt::Variant ComponentDatabaseService::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    return ServiceDispatch().Invoke(*this, name, kind, args);
}

void RegisterComponentDatabaseService() {
    rt::RegisterClass(kComponentDatabaseServiceProgId, "{7A3E5C90-1D2B-4F6A-8C4E-2B9D0F1A3C51}",
                      [] { return std::make_shared<ComponentDatabaseService>(); });
}

namespace {
[[maybe_unused]] const bool kRegistered = [] {
    RegisterComponentDatabaseService();
    return true;
}();
}  // namespace

}  // namespace pelmora
