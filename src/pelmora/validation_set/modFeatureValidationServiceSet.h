#pragma once
// The validation set of a run, its bookmark index, and the lookups the
// relationship helpers make on it.
//
// A validation set is a recordset with one row per feature to validate
// ("PENDING" 1, first) or per relationship between two features ("PENDING"
// 0): "QTX_FNO", "QTX_FID", "PENDING", "QTX_RELATED_FID", "QTX_RELATED_FNO",
// "QTX_RNO". GetValidationKOCollection walks it once before the helpers run:
// it opens the distinct features and builds the apartment's bookmark index
// (for each related feature id, the bookmarks of the relationship rows that
// point at it). The index belongs to that recordset: bookmarks mean nothing
// in another one, so GetRelatedFeatures on any other recordset finds nothing.
// The feature validation service releases the index when its run ends.
//
// Module routines; caller's thread only. A second GetValidationKOCollection
// replaces the apartment's index; a run that holds its own keeps reading it.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "pelmora/findings/RunFeatures.h"
#include "runtime/Collection.h"

namespace ado {
class Recordset;
class Field;
}  // namespace ado

namespace pelmora {

class IComponent;
class IComponents;
class IDataContext;
class IFrameworkRecordset;
class IGeometryIndex;
class IGeometryService;
class IKeyObject;
class IKeyObjects;
class IMetadataService;
class IMetadataRecordsetFilterService;
class IGeometryStorageService;
class IRectangleGeometry;
class ISpatialFilter;

// Source of the error raised above 32,767 distinct features.
inline constexpr const char* kValidationSetSource = "GetValidationKOCollection";

// Walks the set from its first row: cValFeatures gets a new KeyObjects of the
// distinct features (rows with FNO or FID 0 are left out), cValComponents
// their components (opened without backward pointers) when there is any,
// nCount the number of distinct features of the "PENDING" 1 rows, which stand
// first in the collection. A feature whose feature number has no component
// metadata is not opened and keeps no components. The index is replaced by
// one of the "PENDING" 0 rows that name a related feature id. An empty set
// returns at once with cValComponents untouched. Above
// 32,767 features raises RaiseError 1 and opens nothing. Leaves rs at EOF,
// its filter untouched. Failures reach the caller with the index as filled
// so far.
void GetValidationKOCollection(const std::shared_ptr<ado::Recordset>& rs,
                               std::shared_ptr<IKeyObjects>& cValFeatures,
                               std::shared_ptr<IComponents>& cValComponents,
                               const std::shared_ptr<IDataContext>& DataContext, int32_t& nCount);

// Whether a set row's "PENDING" value is Number (1 for a feature to validate,
// 0 for a relationship row), as VB's "=" says: Null never is, Empty is 0.
bool PendingIs(const rt::Variant& Pending, int16_t Number);

// The feature (CNO and CID 0) of the collection; nullptr when it is not
// there. Never raises.
std::shared_ptr<IKeyObject> FindKeyObject(const std::shared_ptr<IKeyObjects>& Features, int16_t FNO, int32_t FID);

// While a run's relationship helpers validate, the features the run opened
// stand for themselves: a relationship geometry interface is handed the run's
// own feature of a related key rather than a copy opened afresh, whose
// components would read again from the database what the run's set read
// once. One scope per apartment stands; a nested run's stands until it ends.
class RunFeaturesScope {
public:
    explicit RunFeaturesScope(std::shared_ptr<IKeyObjects> Features);
    RunFeaturesScope(const RunFeaturesScope&) = delete;
    RunFeaturesScope& operator=(const RunFeaturesScope&) = delete;

private:
    RunFeatureFinderScope finder_;
};

// The features (found in Features) of the relationship rows of number RNO
// whose "QTX_RELATED_FID" is the feature id of rs's current row, in set
// order; an empty KeyObjects when there is none, no index, or the index is
// another recordset's. Rows whose feature is not in Features are skipped.
// The rows are read through a clone of the set: rs keeps its filter, sort
// and current row, also when a read fails. REQUIRES: rs on a row.
std::shared_ptr<IKeyObjects> GetRelatedFeatures(const std::shared_ptr<ado::Recordset>& rs,
                                                const std::shared_ptr<IKeyObjects>& Features, int16_t RNO);

// Runs the attribute rules of the relationship type between the active
// feature and each related feature (in enumeration order), through one
// attribute validation service for the whole call, and records every failure
// as a row with the active feature's FNO and FID, and its CNO and CID when
// they are not 0 (Null otherwise). Failures reach the caller.
void ValidateRelationshipAttributes(const std::shared_ptr<IKeyObject>& ActiveFeature,
                                    const std::shared_ptr<IKeyObjects>& RelatedFeatures, int16_t RelationshipType,
                                    const std::shared_ptr<IDataContext>& DataContext, const std::string& Location,
                                    const std::string& Connection, const std::shared_ptr<ado::Recordset>& rs);

// What one validation call has read about features' geometries, so that a
// feature related to many (an owner, a shared node) is read once per call
// and a component number's metadata once. A component's geometries stand
// while its rows are the recordset they were read from and as many rows;
// anything else reads them again. Only lookups that succeeded are kept.
class ComponentGeometryMemo {
public:
    // The component's name when it is a geometric one, nullopt when not.
    const std::optional<std::string>& GeometryComponentName(const std::shared_ptr<IMetadataService>& metadata,
                                                            int16_t cno);
    // GetCompGeomType of the component number, asked once.
    const std::string& GeometryTypeText(const std::shared_ptr<IMetadataService>& metadata, int16_t cno);

    // The touch test's geometry recordset of these geometries (the objects of
    // the collection, in order), made by `make` the first time and kept with
    // the objects. The objects are the call's own reads, which nothing
    // changes while it lasts.
    std::shared_ptr<IFrameworkRecordset> GeometryRecordset(
        const std::vector<rt::ObjectPtr>& geometries,
        const std::function<std::shared_ptr<IFrameworkRecordset>()>& make);

    // What the distance checks read of one geometry object: whether its type
    // name is a polygon's, and its start and end as GetStartPoint and
    // GetEndPoint find them (nullopt where they find none).
    struct GeometryFacts {
        bool polygon = false;
        bool endsRead = false;
        std::optional<std::pair<double, double>> start, end;
    };
    // The facts kept for the object, read by `read` the first time (the
    // object is held while the memo lasts, like the geometries it keeps).
    const GeometryFacts& Facts(const rt::ObjectPtr& geometry, GeometryFacts (*read)(const rt::ObjectPtr&));
    // Its ends read by `read` once, into the kept facts.
    const GeometryFacts& Ends(const rt::ObjectPtr& geometry, GeometryFacts (*read)(const rt::ObjectPtr&),
                              void (*readEnds)(const rt::ObjectPtr&, GeometryFacts&));

    // The touch test's search square and spatial filter (operator and field
    // set), made once for the call; each search sets all it reads.
    struct SearchTools {
        std::shared_ptr<IRectangleGeometry> square;
        rt::ObjectPtr squareObject;
        std::shared_ptr<IGeometryStorageService> storage;
        std::shared_ptr<ISpatialFilter> filter;
    };
    SearchTools& Tools() { return tools_; }

    // Room for the components of this many features, made once rather than
    // grown (each growth walks every entry kept so far).
    void Reserve(size_t features) { entries_.reserve(features); }

    // The kept geometries of the component, nullptr when it must be read.
    const std::vector<rt::Variant>* Find(const std::shared_ptr<IComponent>& component,
                                         const std::shared_ptr<ado::Recordset>& rows) const;
    void Keep(const std::shared_ptr<IComponent>& component, const std::shared_ptr<ado::Recordset>& rows,
              std::vector<rt::Variant> geometries);

    // One index of a set's geometry rows (those of geometryRows' family), made
    // by the geometry service the first time and made again once a row or
    // value of the family changed; nullptr when the service cannot index them.
    std::shared_ptr<IGeometryIndex> GeometryIndex(const std::shared_ptr<ado::Recordset>& geometryRows);

private:
    struct KeptIndex {
        std::shared_ptr<ado::Recordset> rows;  // held, so that the family's address stays its own
        uint64_t rowsVersion = 0, valuesVersion = 0;
        std::shared_ptr<IGeometryIndex> index;
    };
    GeometryFacts& KeptFacts(const rt::ObjectPtr& geometry, GeometryFacts (*read)(const rt::ObjectPtr&));

    std::unordered_map<const void*, KeptIndex> geometryIndexes_;
    std::shared_ptr<IGeometryService> geometryService_;
    struct Entry {
        // Held, so that neither address is taken by another object while kept.
        std::shared_ptr<IComponent> component;
        std::shared_ptr<ado::Recordset> rows;
        int32_t count = 0;
        std::vector<rt::Variant> geometries;
    };
    std::unordered_map<const IComponent*, Entry> entries_;
    std::unordered_map<int16_t, std::optional<std::string>> geometryNames_;
    std::unordered_map<int16_t, std::string> geometryTypes_;
    struct KeptRecordset {
        std::vector<rt::ObjectPtr> geometries;  // held, so that no other object takes their addresses
        std::shared_ptr<IFrameworkRecordset> rows;
    };
    std::map<std::vector<const rt::Object*>, KeptRecordset> geometryRecordsets_;
    std::unordered_map<const rt::Object*, std::pair<rt::ObjectPtr, GeometryFacts>> facts_;
    SearchTools tools_;
};

// The geometries of the feature's geometric components: rs (component numbers
// per feature number) is filtered through FilterService to the feature's
// FNO and left so; with CNO 0 every CNO of those rows is taken (CNO ends as
// the last row's that is not Null; a Null one names none), otherwise only
// CNO. Each component name once, in the order of first sight; every row of
// that component gives its geometry. An empty Collection when rs has no row
// of the FNO. A CNO without metadata row
// raises the lookup's error. With a memo, a component it keeps is not read
// again (RecordsetToCollection).
std::shared_ptr<rt::Collection> GetFeatureGeometries(const std::shared_ptr<IKeyObject>& Feature,
                                                     const std::shared_ptr<ado::Recordset>& rs,
                                                     const std::shared_ptr<IMetadataService>& MetadataService,
                                                     const std::shared_ptr<IMetadataRecordsetFilterService>& FilterService,
                                                     const std::shared_ptr<ado::Field>& FNOField,
                                                     const std::shared_ptr<ado::Field>& CNOField, int16_t& CNO,
                                                     ComponentGeometryMemo* Memo = nullptr);

// GetFeatureGeometries in its two steps. The names of the geometric
// components the rows of the feature number name, each once in the order of
// first sight (rs filtered and walked, CNO set, as GetFeatureGeometries
// leaves them; empty when rs has no row of the FNO); then the geometries of
// the feature's components of those names.
std::vector<std::string> GeometryComponentNames(int16_t FNO, const std::shared_ptr<ado::Recordset>& rs,
                                                const std::shared_ptr<IMetadataService>& MetadataService,
                                                const std::shared_ptr<IMetadataRecordsetFilterService>& FilterService,
                                                const std::shared_ptr<ado::Field>& FNOField,
                                                const std::shared_ptr<ado::Field>& CNOField, int16_t& CNO,
                                                ComponentGeometryMemo* Memo = nullptr);
std::shared_ptr<rt::Collection> ComponentGeometries(const std::shared_ptr<IKeyObject>& Feature,
                                                    const std::vector<std::string>& ComponentNames,
                                                    ComponentGeometryMemo* Memo = nullptr);

// Adds the geometry of every row of the feature's component of that name to
// Geometries (without keys), leaving the component's recordset at EOF. A name
// the feature lacks raises the components collection's error. With a memo,
// the geometries it keeps for the component are added (the rows still moved
// to EOF), and those read are kept; a component's first read finds its
// geometries in the memo's index of the set's geometry rows.
void RecordsetToCollection(const std::shared_ptr<IKeyObject>& Feature, const std::string& ComponentName,
                           const std::shared_ptr<rt::Collection>& Geometries, ComponentGeometryMemo* Memo = nullptr);

// ---- the apartment's bookmark index ----
// Key: decimal "QTX_RELATED_FID"; item: a Variant array from 0 of the
// bookmarks of those rows in recordset order. nullptr when there is none.
std::shared_ptr<rt::Collection> ValidationSetIndex();
// Drops the index (end of a run, or a feature validation service going away).
void ReleaseValidationSetIndex();
// True when there is an index and it was built from rs (so that the features
// built with it are rs's too): the apartment's, or one a run under way holds.
bool ValidationSetIndexBelongsTo(const std::shared_ptr<ado::Recordset>& rs);

// A run's hold on the index of its set while it lasts: an extension called
// back during the run may build another set's index (another run, a helper
// validated again) or release the apartment's, and the run still finds its
// own (GetRelatedFeatures, ValidationSetIndexBelongsTo). The apartment's
// index itself is replaced and released as before. Nothing is held when rs
// has no index.
class ValidationSetIndexHold {
public:
    explicit ValidationSetIndexHold(const std::shared_ptr<ado::Recordset>& rs);
    ~ValidationSetIndexHold();
    ValidationSetIndexHold(const ValidationSetIndexHold&) = delete;
    ValidationSetIndexHold& operator=(const ValidationSetIndexHold&) = delete;
};

}  // namespace pelmora
