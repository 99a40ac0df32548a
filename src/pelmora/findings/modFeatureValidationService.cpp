// Recording findings in the ValidationErrorRecordset and phrasing them.
#include "pelmora/findings/modFeatureValidationService.h"

#include <algorithm>
#include <array>

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr int32_t kTextSize = 500;
constexpr int32_t kPriorityField = 0;
constexpr int32_t kFNOField = 4;

// Kind of a relationship finding that records nothing.
constexpr int32_t kKindNothing = 5;

void RequireRecordset(const std::shared_ptr<ado::Recordset>& rs) {
    if (!rs) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
}

// A key field's value as text for a row; "" (the key stays Null) when it
// cannot be read or converted.
std::string KeyText(const std::shared_ptr<ado::Recordset>& rows, const char* field) {
    std::string text;
    rt::ResumeNext step;
    step([&] {
        if (!rows) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        text = rt::CStr(rows->GetValue(rt::Variant(field)));
    });
    return text;
}

}  // namespace

std::shared_ptr<ado::Recordset> CreateValidationRecordset() {
    auto rs = ado::Recordset::Create();
    auto fields = rs->get_Fields();
    for (const char* name : {"ErrorPriority", "ErrorDescription", "ErrorLocation", "Connection"})
        fields->Append(name, ado::adVarWChar, kTextSize, ado::adFldUnspecified);
    for (const char* name : {"QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID"})
        fields->Append(name, ado::adInteger, 0, ado::adFldUnspecified);
    rs->Open();
    return rs;
}

void AddValidationError(const std::shared_ptr<ado::Recordset>& rs, const std::string& Priority,
                        const std::string& Description, const std::string& Location,
                        const std::string& Connection, const std::string& FNO, const std::string& FID,
                        const std::string& CNO, const std::string& CID) {
    RequireRecordset(rs);
    rs->AddNew();
    try {
        const std::array<const std::string*, 4> texts{&Priority, &Description, &Location, &Connection};
        for (int32_t i = 0; i < 4; ++i) rs->SetValue(rt::Variant(kPriorityField + i), rt::Variant(*texts[i]));
        const std::array<const std::string*, 4> keys{&FNO, &FID, &CNO, &CID};
        for (int32_t i = 0; i < 4; ++i)
            if (!keys[i]->empty()) rs->SetValue(rt::Variant(kFNOField + i), rt::Variant(*keys[i]));
        rs->Update();
    } catch (...) {
        // Left pending, the half-filled row would be committed by the next
        // AddNew into the client's findings.
        rt::ResumeNext cancel;
        cancel([&] { rs->CancelUpdate(); });
        throw;
    }
}

void AddRelationshipValidationError(int16_t MsgIdA, int16_t MsgIdB, int32_t Kind, const std::string& Location,
                                    const std::string& Connection, const std::string& FNO,
                                    const std::string& FID, const std::string& CNO, const std::string& CID,
                                    const std::shared_ptr<ado::Recordset>& rs, const rt::Variant& Priority,
                                    const std::string& Name1, const std::string& Name2, const std::string& Name3,
                                    const std::string& Name4) {
    if (Kind == kKindNothing) return;
    const int16_t id = Kind == 0 ? MsgIdB : MsgIdA;
    std::string priority;
    if (Priority.IsMissing())
        priority = GetValidationMessage(Kind == 0 ? kWarningPriorityMessage : kErrorPriorityMessage);
    else
        priority = rt::CStr(Priority);

    // Names after the last non-empty one are left out, so that a message
    // without parameters keeps its plain text.
    const std::array<const std::string*, 4> names{&Name1, &Name2, &Name3, &Name4};
    int k = 4;
    while (k > 0 && names[static_cast<size_t>(k - 1)]->empty()) --k;
    std::array<rt::Variant, 4> args{rt::Variant::Missing(), rt::Variant::Missing(), rt::Variant::Missing(),
                                    rt::Variant::Missing()};
    for (int i = 0; i < k; ++i) args[static_cast<size_t>(i)] = rt::Variant(*names[static_cast<size_t>(i)]);
    std::string description = GetValidationMessage(id, args[0], args[1], args[2], args[3]);

    AddValidationError(rs, priority, description, Location, Connection, FNO, FID, CNO, CID);
}

std::string GetValidationMessage(int16_t MsgId, const rt::Variant& Arg1, const rt::Variant& Arg2,
                                 const rt::Variant& Arg3, const rt::Variant& Arg4, const rt::Variant& Arg5) {
    if (Arg1.IsMissing()) return MessageObject()->GetMessageText(MsgId, 0);
    auto text = [](const rt::Variant& arg) { return arg.IsMissing() ? std::string() : rt::CStr(arg); };
    return LoadResStringWithParams(MsgId, text(Arg1), text(Arg2), text(Arg3), text(Arg4), text(Arg5));
}

SharedBounds SharedArrayBounds(const rt::Variant& a, const rt::Variant& b) {
    SharedBounds bounds;
    if (!IsArrayDimensioned(a) || !IsArrayDimensioned(b)) return bounds;
    bounds.first = std::max(rt::LBound(a), rt::LBound(b));
    bounds.last = std::min(rt::UBound(a), rt::UBound(b));
    return bounds;
}

std::string ArrayElementText(const rt::Variant& array, int32_t i) {
    if (!array.IsArray() || !array.Array()) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange);
    const rt::Variant& element = array.Array()->Get(i);
    if (element.IsNull() || element.IsEmpty()) return "";
    return rt::CStr(element);
}

void AddErrorArraysToRecordset(const std::shared_ptr<ado::Recordset>& ComponentRecordset,
                               const std::shared_ptr<ado::Recordset>& rs, const rt::Variant& PriorityArray,
                               const rt::Variant& ErrArray, const std::string& Location,
                               const std::string& Connection) {
    // Empty or Null is how an interface says it found nothing.
    if (PriorityArray.IsEmpty() || PriorityArray.IsNull()) return;
    if (!IsArrayDimensioned(PriorityArray)) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange);

    // An interface may hand back arrays of different lengths: reading past
    // the shorter one would turn a failure into an error of its own.
    const SharedBounds bounds = SharedArrayBounds(PriorityArray, ErrArray);
    bool keysRead = false;
    std::string FNO, FID, CNO, CID;
    for (int32_t i = bounds.first; i <= bounds.last; ++i) {
        rt::ResumeNext step;
        std::string description, priority;
        if (!step([&] { description = ArrayElementText(ErrArray, i); }) || description.empty()) continue;
        step([&] { priority = ArrayElementText(PriorityArray, i); });
        if (!keysRead) {
            FNO = KeyText(ComponentRecordset, "QTX_FNO");
            FID = KeyText(ComponentRecordset, "QTX_FID");
            CNO = KeyText(ComponentRecordset, "QTX_CNO");
            CID = KeyText(ComponentRecordset, "QTX_CID");
            keysRead = true;
        }
        step([&] { AddValidationError(rs, priority, description, Location, Connection, FNO, FID, CNO, CID); });
    }
}

}  // namespace pelmora
