// Validation of relationships through IRelationship: the validation set
// from the database packages, and the run of every applicable helper's
// Validate over it.
#include <string>

#include "ado/Recordset.h"
#include "pelmora/common/AppUtils.h"
#include "pelmora/common/DistinctItemColl.h"
#include "pelmora/common/FastString.h"
#include "pelmora/common/TraceScope.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "interfaces/DataContext.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "pelmora/relationships/RelationshipHelperBase.h"
#include "pelmora/relationships/RelationshipService.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "runtime/Collection.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kDefineFeaturesText =
    "begin QTX_VALIDATESET.DefineFeatures(QTXUtility.DecodeNumericList(?), QTXUtility.DecodeNumericList(?), ?); end;";
constexpr const char* kGetValidateSetText = "{ call QTX_VALIDATESET.GetValidateSetV(?) }";
constexpr const char* kGetValidateSetNullText = "{ call QTX_VALIDATESET.GetValidateSetV(NULL) }";
constexpr const char* kDefinePendingEditsText = "{call QTX_VALIDATESET_PROD.DefineFeaturesFromPendingEdits}";
constexpr int32_t kCmdText = 1;
constexpr int32_t kCmdUnknown = 8;
constexpr int16_t kValidatingMessage = 25061;
constexpr int16_t kCannotValidateMessage = 25066;

IDataContext& ContextOf(const std::shared_ptr<IDataContext>& context) {
    // The usual slip of a first validation: name it rather than VB's words.
    if (!context)
        throw rt::ComError(rt::vberr::ObjectVariableNotSet, "",
                           "No data context is set; set the service's DataContext before validating");
    return *context;
}

// Runs a member's body; a failure is raised again through RaiseError with
// its own number, source and description.
template <class F>
auto Reraised(F&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const rt::ComError& e) {
        RaiseError(e.Number(), e.Source(), rt::Variant(e.Description()));
    }
}

void DefineFeatures(IDataContext& context, const FastString& fnos, const FastString& fids, const std::string& flag) {
    rt::Variant affected;
    rt::Variant parameters =
        rt::Variant::ArrayOf({rt::Variant(fnos.get_Value()), rt::Variant(fids.get_Value()), rt::Variant(flag)});
    context.ExecuteParameterizedSQL(kDefineFeaturesText, affected, kCmdText, parameters);
}

}  // namespace

std::shared_ptr<ado::Recordset> RelationshipService::GetFeatureValidationInformation(
    std::shared_ptr<IKeyObjects>& Features) {
    return Reraised([&] {
        IDataContext& context = ContextOf(dataContext_);
        if (!Features) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        std::string flag = "Y";
        FastString fnos;
        FastString fids;
        // A caller's own collection may hold Nothing: refused before the
        // first list goes to the database.
        const auto members = RequireEach(Features->get_NewEnum());
        for (const auto& feature : members) {
            const rt::Variant fno(feature->get_FNO());
            const rt::Variant fid(feature->get_FID());
            const bool fnoFits = fnos.CanAppendNumericValue(fno);
            const bool fidFits = fids.CanAppendNumericValue(fid);
            if (!fnoFits || !fidFits) {
                flag = "N";
                DefineFeatures(context, fnos, fids, flag);
                fnos.Initialize(-1);
                fids.Initialize(-1);
            }
            fnos.AppendNumericValue(fno);
            fids.AppendNumericValue(fid);
        }
        DefineFeatures(context, fnos, fids, flag);
        return ReadValidationSet(false);
    });
}

std::shared_ptr<ado::Recordset> RelationshipService::GetPendingEditsValidationInformation() {
    return Reraised([&] {
        rt::Variant affected;
        ContextOf(dataContext_).ExecuteSQL(kDefinePendingEditsText, affected, kCmdUnknown);
        return ReadValidationSet(true);
    });
}

std::shared_ptr<ado::Recordset> RelationshipService::ReadValidationSet(bool nullWhenEmpty) {
    IDataContext& context = ContextOf(dataContext_);
    const std::string list = GetValidationRelationshipList();
    rt::Variant affected;
    if (list.empty() && nullWhenEmpty) return context.ExecuteSQL(kGetValidateSetNullText, affected, kCmdText);
    rt::Variant parameters = rt::Variant::ArrayOf({rt::Variant(list)});
    return context.ExecuteParameterizedSQL(kGetValidateSetText, affected, kCmdText, parameters);
}

std::string RelationshipService::GetValidationRelationshipList() {
    const auto& table = RelationshipTable();
    if (table->get_BOF() && table->get_EOF()) return "";
    FastString list;
    const rt::Variant typeField("QTX_TYPE");
    const rt::Variant subordinateField("QTX_SUBORDINATE");
    const rt::Variant numberField("QTX_RNO");
    for (table->MoveFirst(); !table->get_EOF(); table->MoveNext()) {
        // Detail rows seen from the owner's side are validated from the
        // contained side. A row is listed only when a field surely differs:
        // a Null is no difference.
        auto differs = [&](const rt::Variant& field, int16_t value) {
            const rt::Variant v = table->GetValue(field);
            return !v.IsNull() && !rt::VariantEquals(v, rt::Variant(value));
        };
        if (!differs(typeField, 4) && !differs(subordinateField, 0)) continue;
        const rt::Variant number = table->GetValue(numberField);
        // A number left out would never be validated, and nobody would know.
        if (!list.CanAppendNumericValue(number))
            RaiseError(1, "RelationshipService.GetValidationRelationshipList",
                       rt::Variant("The relationship numbers do not fit into one value list of " +
                                   std::to_string(list.get_MaxLength()) + " characters: relationship " +
                                   rt::CStr(number) + " and those after it cannot be validated."));
        list.AppendNumericValue(number);
    }
    return list.get_Value();
}

std::shared_ptr<rt::Collection> RelationshipService::CollectValidationSetFNOs(
    const std::shared_ptr<ado::Recordset>& ValidationSet) {
    DistinctItemColl distinct;
    if (!(ValidationSet->get_BOF() && ValidationSet->get_EOF())) {
        ValidationSet->MoveFirst();
        auto fields = ValidationSet->get_Fields();
        auto pendingField = fields->Item(std::string("PENDING"));
        auto fnoField = fields->Item(std::string("QTX_FNO"));
        while (!ValidationSet->get_EOF()) {
            const rt::Variant pending = pendingField->get_Value();
            if (PendingIs(pending, 0)) break;
            distinct.Add(fnoField->get_Value());
            ValidationSet->MoveNext();
        }
    }
    auto fnos = rt::Collection::New();
    for (const auto& fno : distinct.get_NewEnum()) fnos->Add(rt::Variant(rt::CInt(fno)));
    return fnos;
}

std::shared_ptr<ado::Recordset> RelationshipService::Validate(std::shared_ptr<ado::Recordset>& ValidationSet,
                                                              std::shared_ptr<ado::Recordset>& Errors) {
    if (!ValidationSet) ValidationSet = GetFeatureValidationInformation(features_);
    // Features of another set (or none) would give every helper nothing to
    // find: build them from the set in hand.
    if (!features_ || !ValidationSetIndexBelongsTo(ValidationSet)) {
        std::shared_ptr<IKeyObjects> features;
        std::shared_ptr<IComponents> components;
        int32_t count = 0;
        GetValidationKOCollection(ValidationSet, features, components, dataContext_, count);
        features_ = features;
        components_ = components;
    }
    if (!Errors) Errors = CreateValidationRecordset();
    if (ValidationSet->get_BOF() && ValidationSet->get_EOF()) return Errors;
    // The helpers run extension code that may call back into this service
    // (another validation replaces the features and the apartment's index):
    // this call keeps validating what it began with.
    const std::shared_ptr<IKeyObjects> features = features_;
    const std::shared_ptr<IComponents> components = components_;
    const std::shared_ptr<ado::Recordset> set = ValidationSet;
    const std::shared_ptr<ado::Recordset> errors = Errors;
    ValidationSetIndexHold index(set);

    const auto pending = CollectValidationSetFNOs(ValidationSet);
    // A set whose first row is not pending names nothing to validate.
    if (pending->Count() == 0) return Errors;
    rt::Variant fnos = rt::Variant::MakeArray(rt::vbInteger, 1, pending->Count());
    for (int32_t i = 1; i <= pending->Count(); ++i) fnos.ArrayMut()->Set(i, pending->Item(rt::Variant(i)));

    const rt::Variant numbers = AllApplicableRelationships(fnos);
    int32_t upper = 0;
    rt::ResumeNext ignore;
    ignore([&] { upper = rt::UBound(numbers); });

    std::string configuration;
    bool haveConfiguration = false;
    for (int32_t i = 1; i <= upper; ++i) {
        const int16_t number = rt::CInt(numbers.Array()->Get(i));
        std::string name;
        bool named = false;
        try {
            auto helper = GetRelationshipHelper(number);
            name = helper->get_RelationshipName();
            named = true;
            SetStatusBarText(GetValidationMessage(kValidatingMessage, rt::Variant(name)), 1);
            helper->Validate(features, components, set, pending, errors);
        } catch (const rt::ComError& e) {
            // A helper that cannot be made (or named) would fail again here.
            if (!named) name = std::to_string(number);
            // The finding says only that; the trace says why.
            TraceMetadataFault("RelationshipService", "Validate",
                               {"QTX_RELATIONSHIPS_OPTABLE", "QTX_RNO " + std::to_string(number),
                                "relationship \"" + name + "\""},
                               e);
            if (!haveConfiguration) {
                auto metadata = ContextOf(dataContext_).GetMetadataService();
                if (!metadata) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
                configuration = metadata->get_Configuration();
                haveConfiguration = true;
            }
            AddValidationError(errors, GetValidationMessage(kErrorPriorityMessage),
                               GetValidationMessage(kCannotValidateMessage, rt::Variant(name)), "", configuration, "",
                               "", "", "");
        }
    }
    return errors;
}

}  // namespace pelmora
