#pragma once
// The geometry service: a geometry object from the rows of a "_SDOGEOM" table
// and back. ProgID "QTX.GeometryService"; docs/GEOMETRY.md gives the layout.
//
// Reading takes the rows in (SDO_ESEQ, SDO_SEQ) order whatever order the
// recordset shows them in. The elements of one geometry are its parts in
// pre-order: a composite, collection or boundary is a header element holding
// the number of its parts, followed by the parts. Rows that do not make one
// well-formed geometry raise error 5 (source "GeometryService") naming the
// geometry, element and row.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "interfaces/Geometry.h"
#include "product/geometry/GeometryObjects.h"
#include "runtime/Object.h"

namespace product {

// The coordinates of one row: up to four (X, Y, Z) triples; Z is kept only
// where the table has SDO_Zn columns.
struct OrdinatePair {
    std::optional<double> x, y, z;
    bool Empty() const { return !x && !y; }
};
struct GeometryRowValues {
    int32_t eseq = 0;
    int32_t etype = 0;
    int32_t seq = 0;
    std::array<OrdinatePair, 4> pairs;
};

// One element: its type and the pairs of its rows, in order.
struct GeometryElement {
    int32_t etype = 0;
    std::vector<OrdinatePair> pairs;  // vertices, or the values of a header / rectangle
};

// The elements of a geometry (pre-order); raises 5 for what the rows cannot
// hold (an empty point list, a rectangle in rows of fewer than three pairs,
// nesting deeper than kMaxGeometryDepth ...).
std::vector<GeometryElement> GeometryToElements(const Geometry& geometry);
// The geometry of its elements; raises 5 on malformed elements. Label names
// the geometry in messages.
GeometryPtr ElementsToGeometry(const std::vector<GeometryElement>& elements, const std::string& label);
// The rows of elements with pairsPerRow pairs (1 to 4) per row.
std::vector<GeometryRowValues> ElementsToRows(const std::vector<GeometryElement>& elements, int pairsPerRow);
// The elements of rows in any order; raises 5 on gaps, repeats, mixed element
// types and missing ordinates.
std::vector<GeometryElement> RowsToElements(std::vector<GeometryRowValues> rows, int pairsPerRow,
                                            const std::string& label);

inline constexpr int kMaxGeometryDepth = 32;

class GeometryService : public rt::Object, public pelmora::IGeometryService {
public:
    static std::shared_ptr<GeometryService> Create() { return std::make_shared<GeometryService>(); }

    std::shared_ptr<pelmora::IDataContext> get_DataContext() override { return dataContext_; }
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& DataContext) override {
        dataContext_ = DataContext;
    }
    std::shared_ptr<rt::Object> ReadGeometry(const std::shared_ptr<ado::Recordset>& GeometryRows,
                                             const std::shared_ptr<ado::Recordset>& ComponentRows) override;
    void WriteGeometry(const std::shared_ptr<rt::Object>& Geometry,
                       const std::shared_ptr<ado::Recordset>& ComponentRows,
                       const std::shared_ptr<ado::Recordset>& GeometryRows) override;
    std::shared_ptr<rt::Object> RowsToGeometry(const std::shared_ptr<ado::Recordset>& GeometryRows) override;
    std::shared_ptr<pelmora::IGeometryIndex> IndexGeometries(
        const std::shared_ptr<ado::Recordset>& GeometryRows) override;
    void GeometryToRows(const std::shared_ptr<rt::Object>& Geometry,
                        const std::shared_ptr<ado::Recordset>& GeometryRows, int32_t GeometryID,
                        const std::shared_ptr<ado::Recordset>& KeyRow) override;

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "GeometryService"; }

private:
    std::shared_ptr<rt::Object> Read(const std::shared_ptr<ado::Recordset>& rows, std::optional<int32_t> gid);
    std::shared_ptr<pelmora::IDataContext> dataContext_;
};

// Registers the service and the geometry classes by ProgID.
void RegisterGeometryStandIns();

}  // namespace product
