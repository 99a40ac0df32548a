#pragma once
// The helper of stationing relationships (QTX_TYPE 7). It only validates:
// for each pending feature of a stationed feature number (one with rows in
// the relationship's rule table) it reads the station values of the
// feature's station component row (StationingValues), rates them, and when
// they are complete runs the six station checks (StationingChecks.cpp),
// which query the station table through the data context and ask the
// station service (Strandel.StationService, created at DataContext).
// Findings are rows of the caller's ValidationErrorRecordset; Validate
// raises nothing. It reports the relationship type 4 (qzrelDetail) and keeps
// every other answer of the base: no candidates, relates nothing, reviews to
// Nothing, hierarchy Empty, establishing and deleting change nothing.
//
// Set up by the relationship service: DataContext, MDRSFilterService, then
// RelationshipNumber (the relationship row's QTX_SUPPORTCNO is the station
// component; the station field names come from QTX_ADD_REL_PARAMS_OPTABLE).
// The helper owns its metadata clones and the station service.
#include <cstdint>
#include <memory>
#include <string>

#include "pelmora/relationships/RelationshipHelperBase.h"
#include "runtime/Object.h"

namespace ado {
class Fields;
}

namespace pelmora {

class StationingValues;

class Stationing : public RelationshipHelperBase {
public:
    // Keeps the context, opens the feature, parameter and attribute tables,
    // reads the configuration name and creates a new station service for it.
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) override;
    // The relationship row and rule table, then the station component and
    // table and the station parameters.
    void put_RelationshipNumber(int16_t RelationshipNumber) override;
    RelationshipTypeConstants get_RelationshipType() override { return qzrelDetail; }
    // Validates the pending rows of the set (up to the first relationship
    // row). PendingFNOs is not read.
    void Validate(const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<IComponents>& Components,
                  const std::shared_ptr<ado::Recordset>& ValidationSet, const std::shared_ptr<rt::Collection>& PendingFNOs,
                  const std::shared_ptr<ado::Recordset>& Errors) override;

    std::string TypeName() const override { return "Stationing"; }

    // ---- the parts tests reach ----
    // Rates the values (1 to 4, see StationingValues), stores it in Status.
    static int16_t CheckStationValues(StationingValues& values, bool characteristic8);
    // Fills the values from the first row of the station recordset.
    void ReadStationValues(const std::shared_ptr<ado::Recordset>& station, StationingValues& values) const;
    bool IsStationedFNO(const rt::Variant& FNO);
    // Whether some rule row of the FNO has characteristic 8.
    bool GetFeatureCharacteristic(int16_t FNO);
    const rt::ObjectPtr& StationService() const { return stationService_; }

private:
    void LoadStationingParameters();
    // One feature of the set: reads, rates and checks it.
    void ValidateFeature(const std::shared_ptr<IKeyObject>& feature, const std::shared_ptr<ado::Recordset>& Errors);
    void AddError(int16_t id, const std::shared_ptr<ado::Recordset>& Errors, const std::string& name1 = "",
                  const std::string& name2 = "");

    // ---- the station checks (StationingChecks.cpp) ----
    void RunStationChecks(const StationingValues& values, const std::shared_ptr<ado::Recordset>& Errors);
    void ValidateStationSeries(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors);
    void CheckStationInSeries(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors);
    void CheckOverlaps(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors);
    void FindOverlappingFeatures(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors);
    void FindOverlappingFeaturesOfFNO(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors);
    void RunOverlapStatements(const StationingValues& v, const std::string& in, const std::string& exclusion,
                              const int16_t (&ids)[3], const std::shared_ptr<ado::Recordset>& Errors);
    void ValidateBeginStation(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors);
    void ValidateEndStation(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors);
    void CheckGaps(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors);
    void CheckSeriesGaps(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors);
    void CheckAdjacentStations(const StationingValues& v, const std::shared_ptr<ado::Recordset>& Errors);

    bool HasCharacteristic(int32_t code);
    std::string CharacteristicList(int32_t code);
    bool IsPIStation(const std::string& id, double measure);
    bool IsKnownStationSeries(const std::string& id);
    void GetStationSeriesRange(const std::string& id, double& begin, double& end);
    bool IsArcGeometryFeature();
    std::string GetPIFeatureName();
    std::string GetSSFeatureName();
    std::string GetArcFeatureName();
    std::string PIFNO();
    std::string SSFNO();
    // Runs the statement; true when it returned no row.
    bool IsEmptyResult(const std::string& sql);
    // A step left out, with why, for the trace.
    static void Trace(const std::string& procedure, const std::string& text);

    std::string configuration_;
    std::string stationComponent_;
    std::string stationTable_;
    std::shared_ptr<ado::Recordset> featureComps_;
    std::shared_ptr<ado::Recordset> features_;
    std::shared_ptr<ado::Recordset> parameters_;
    std::shared_ptr<ado::Recordset> attributeInfo_;
    rt::ObjectPtr stationService_;
    std::string lineField_;
    std::string bssField_, bssUserName_;
    std::string essField_, essUserName_;
    std::string bmsField_, bmsUserName_;
    std::string emsField_, emsUserName_;
    std::string lengthField_;
    bool hasDefaultSeries_ = false;
    std::string defaultSeries_;
    bool hasDefaultMeasure_ = false;
    std::string defaultMeasure_;
    bool hasDefaultLine_ = false;
    std::string defaultLine_;
};

}  // namespace pelmora
