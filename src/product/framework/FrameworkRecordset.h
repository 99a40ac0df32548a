#pragma once
// The framework's in-memory recordset: named fields declared up front, rows
// added with AddNew, a forward cursor. The framework's pipes hand one out as
// their output; callers reach it through pelmora::IFrameworkRecordset.
//
// Fields and field objects read and write the row the cursor stands on; a
// value read with no current row, or a name the recordset lacks, raises
// ADO's errors (no current record, item not found).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pelmora/interfaces/Framework.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace product {

class FrameworkRecordset : public rt::Object, public pelmora::IFrameworkRecordset {
public:
    // Declares a field (only before the first row); false when the name
    // (letter case aside) is already there.
    bool AppendField(const std::string& Name);
    int32_t FieldIndex(const std::string& Name) const;  // -1 when absent
    const std::string& FieldName(int32_t Index) const { return names_.at(static_cast<size_t>(Index)); }
    int32_t FieldCount() const { return static_cast<int32_t>(names_.size()); }
    int32_t RowCount() const { return static_cast<int32_t>(rows_.size()); }

    rt::Variant Value(int32_t Index) const;
    void SetValue(int32_t Index, const rt::Variant& Value);

    // ---- IFrameworkRecordset ----
    std::shared_ptr<pelmora::IFrameworkFields> get_Fields() override;
    // A new row of Empty values, made current.
    void AddNew() override;
    void Update() override {}
    void MoveFirst() override { pos_ = 0; }
    void MoveNext() override;
    bool get_BOF() override { return rows_.empty() || pos_ < 0; }
    bool get_EOF() override { return pos_ >= RowCount(); }

    std::string TypeName() const override { return "FrameworkRecordset"; }

private:
    std::vector<std::string> names_;
    std::vector<std::vector<rt::Variant>> rows_;
    int32_t pos_ = 0;
};

}  // namespace product
