// The feature checks of a run: components against feature placement, then
// the attribute checks of every placement component.
#include "ado/Recordset.h"
#include "pelmora/common/AppUtils.h"
#include "pelmora/common/NullOrEmpty.h"
#include "pelmora/common/modADOUtils.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/ComponentClone.h"
#include "pelmora/features/ComponentService.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "pelmora/validation/FeatureValidationService.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr int16_t kValidatingFeatureMessage = 25059;
constexpr int16_t kNoComponentsMessage = 25072;
constexpr int16_t kComponentCountMessage = 25073;
constexpr int16_t kRepeatedComponentMessage = 25084;
constexpr int16_t kRequiredComponentMessage = 25086;
constexpr int16_t kRequiredAlternateMessage = 25089;

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

}  // namespace

void FeatureValidationService::AddFinding(const std::shared_ptr<ado::Recordset>& Errors,
                                          const std::string& Description, const std::string& Location,
                                          const std::string& FNO, const std::string& FID, const std::string& CNO,
                                          const std::string& CID) {
    AddValidationError(Errors, GetValidationMessage(kErrorPriorityMessage), Description, Location, Lookups().configuration,
                       FNO, FID, CNO, CID);
}

void FeatureValidationService::ValidateFeatureSet(const std::shared_ptr<IKeyObjects>& Features, int32_t Count,
                                                  const std::shared_ptr<ado::Recordset>& Errors) {
    auto Placement = MetadataTable("QTX_FEATUREPLACEMENT_OPTABLE");
    auto AttributeInfo = MetadataTable("QTX_ATTRIBUTEINFO_OPTABLE");
    BeginProgressBar();
    SetProgressBarRange(1, Count);
    int32_t Index = 1;
    int16_t previousFNO = 0;
    for (int32_t n = 1; n <= Count; ++n) {
        auto Feature = Features->get_Item(rt::Variant(Index));
        auto Service = std::make_shared<ComponentService>();
        Service->putref_Components(Feature->get_Components());
        SetStatusBarText(LoadResStringWithParams(kValidatingFeatureMessage, std::to_string(n), std::to_string(Count)),
                         1);
        StepProgressBar(1);
        const int16_t FNO = Feature->get_FNO();
        const std::string fno = std::to_string(FNO);
        const std::string fid = std::to_string(Feature->get_FID());
        if (FNO != previousFNO) {
            FilterService().FilterRecordset(Placement, Placement->get_Fields()->Item("QTX_FNO"), rt::Variant(FNO),
                                            "QTX_INSERTORDINAL");
            previousFNO = FNO;
        }
        auto Components = Feature->get_Components();
        const int32_t componentCount = Components ? Components->get_Count() : 0;
        if (componentCount < 1)
            AddFinding(Errors, GetValidationMessage(kNoComponentsMessage), "", fno, fid, "0", "0");
        else if (componentCount != CountPlacementComponents(Placement))
            AddFinding(Errors, GetValidationMessage(kComponentCountMessage), "", fno, fid, "0", "0");
        if (HasNoComponentRecords(Feature, Placement)) {
            Features->Remove(Feature);
            continue;
        }
        ++Index;
        for (Placement->MoveFirst(); !Placement->get_EOF(); Placement->MoveNext()) {
            if (IsNullOrEmptyText(ValueOf(Placement, "QTX_NAME"))) continue;
            CheckPlacementComponent(Feature, Components, Placement, Service, AttributeInfo, Errors);
        }
    }
    EndProgressBar();
}

void FeatureValidationService::CheckPlacementComponent(const std::shared_ptr<IKeyObject>& Feature,
                                                       const std::shared_ptr<IComponents>& Components,
                                                       const std::shared_ptr<ado::Recordset>& Placement,
                                                       const std::shared_ptr<ComponentService>& Service,
                                                       const std::shared_ptr<ado::Recordset>& AttributeInfo,
                                                       const std::shared_ptr<ado::Recordset>& Errors) {
    const std::string fno = std::to_string(Feature->get_FNO());
    const std::string fid = std::to_string(Feature->get_FID());
    auto Component = Components->get_Item(ValueOf(Placement, "QTX_NAME"));
    const rt::Variant cnoValue = ValueOf(Placement, "QTX_CNO");
    const std::string cno = rt::CStr(cnoValue);
    auto Rows = Component->get_Recordset();
    if (!(Rows->get_BOF() && Rows->get_EOF())) Rows->MoveFirst();
    const int16_t N = GetRecordCount(Rows);
    if (rt::CLng(ValueOf(Placement, "QTX_REPEATING")) == 0 && N > 1) {
        const int16_t firstCNO = rt::CInt(ValueOf(Rows, "QTX_CNO"));
        AddFinding(Errors,
                   LoadResStringWithParams(kRepeatedComponentMessage,
                                           Quoted(GetComponentUserName(Lookups().metadata, firstCNO)),
                                           std::to_string(firstCNO), rt::CStr(ValueOf(Rows, "QTX_FNO"))),
                   "", fno, fid, cno, "");
    }
    if (rt::CLng(ValueOf(Placement, "QTX_REQUIRED")) == 1 && N < 1) {
        const rt::Variant alternateName = ValueOf(Placement, "QTX_ALTERNATEREQUIREDNAME");
        if (IsNullOrEmptyText(alternateName)) {
            AddFinding(Errors,
                       LoadResStringWithParams(kRequiredComponentMessage,
                                               Quoted(GetComponentUserName(Lookups().metadata, rt::CInt(cnoValue))),
                                               cno, fno),
                       "", fno, fid, cno, "");
        } else if (GetRecordCount(Components->get_Item(alternateName)->get_Recordset()) < 1) {
            const rt::Variant alternateCNO = ValueOf(Placement, "QTX_ALTERNATEREQUIREDCNO");
            AddFinding(Errors,
                       LoadResStringWithParams(kRequiredAlternateMessage, rt::CStr(ValueOf(Placement, "QTX_USERNAME")),
                                               cno, GetComponentUserName(Lookups().metadata, rt::CInt(alternateCNO)),
                                               rt::CStr(alternateCNO), fno),
                       "", fno, fid, cno, "");
        }
    }
    ValidateComponent(Component, Rows, Service, Component->get_Name(), AttributeInfo, Errors);
    // The next reader clones the rows afresh.
    if (auto clone = std::dynamic_pointer_cast<ComponentClone>(Component)) clone->ReleaseRecordset();
}

bool FeatureValidationService::HasNoComponentRecords(const std::shared_ptr<IKeyObject>& Feature,
                                                     const std::shared_ptr<ado::Recordset>& Placement) {
    bool result = true;
    if (Placement->get_BOF() && Placement->get_EOF()) return result;
    auto Components = Feature->get_Components();
    if (!Components) return result;
    for (Placement->MoveFirst(); !Placement->get_EOF(); Placement->MoveNext()) {
        const rt::Variant name = ValueOf(Placement, "QTX_NAME");
        if (IsNullOrEmptyText(name)) continue;
        if (Components->get_Item(name)->get_Recordset()->get_RecordCount() > 0) {
            result = false;
            break;
        }
    }
    Placement->MoveFirst();
    return result;
}

int16_t FeatureValidationService::CountPlacementComponents(const std::shared_ptr<ado::Recordset>& Placement) {
    if (Placement->get_BOF() && Placement->get_EOF()) return 0;
    int16_t count = 0;
    for (Placement->MoveFirst(); !Placement->get_EOF(); Placement->MoveNext()) {
        const rt::Variant cno = ValueOf(Placement, "QTX_CNO");
        if (!IsNullOrEmptyText(cno) && rt::CLng(cno) != 0) ++count;
    }
    Placement->MoveFirst();
    return count;
}

}  // namespace pelmora
