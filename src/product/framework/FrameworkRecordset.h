#pragma once
// The framework's in-memory recordset: named fields declared up front, rows
// added with AddNew, a forward cursor. The framework's pipes, its filter and
// its in-memory recordset hand one out as their output; callers reach it
// through pelmora::IFrameworkRecordset.
//
// Fields and field objects read and write the row the cursor stands on; a
// value read with no current row, or a name the recordset lacks, raises
// ADO's errors (no current record, item not found). A geometry field holds
// storage forms only (GeometryStorageForm.h) and refuses any other value
// with 13, so that its readers never meet anything else there.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "interfaces/Framework.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace product {

class FrameworkRecordset : public rt::Object, public pelmora::IFrameworkRecordset {
public:
    // Declares a field (only before the first row); false when the name
    // (letter case aside) is already there.
    bool AppendField(const std::string& Name, bool Geometry = false);
    int32_t FieldIndex(const std::string& Name) const;  // -1 when absent
    const std::string& FieldName(int32_t Index) const { return names_.at(static_cast<size_t>(Index)); }
    bool IsGeometryField(int32_t Index) const { return geometry_.at(static_cast<size_t>(Index)); }
    int32_t FieldCount() const { return static_cast<int32_t>(names_.size()); }
    int32_t RowCount() const { return static_cast<int32_t>(rows_.size()); }

    rt::Variant Value(int32_t Index) const;
    void SetValue(int32_t Index, const rt::Variant& Value);

    // Every row, whatever the cursor; AppendRow adds one (a value per field)
    // without moving the cursor.
    const std::vector<std::vector<rt::Variant>>& Rows() const { return rows_; }
    void AppendRow(std::vector<rt::Variant> Values);

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
    void CheckValue(int32_t Index, const rt::Variant& Value) const;

    std::vector<std::string> names_;
    std::vector<bool> geometry_;
    std::vector<std::vector<rt::Variant>> rows_;
    int32_t pos_ = 0;
};

// Raises 5 from a framework object, with its description.
[[noreturn]] void RaiseFrameworkError(const char* source, const std::string& description);

// The framework recordset behind an interface pointer; raises 91 for
// nullptr and 13 for a recordset of another maker.
std::shared_ptr<FrameworkRecordset> FrameworkRecordsetOf(const std::shared_ptr<pelmora::IFrameworkRecordset>& rs);

// One field of a framework recordset: the value of the current row.
class FrameworkField : public rt::Object, public pelmora::IFrameworkField {
public:
    FrameworkField(std::shared_ptr<FrameworkRecordset> owner, int32_t index) : owner_(std::move(owner)), index_(index) {}
    std::string get_Name() override { return owner_->FieldName(index_); }
    rt::Variant get_Value() override { return owner_->Value(index_); }
    void put_Value(const rt::Variant& Value) override { owner_->SetValue(index_, Value); }
    bool IsGeometry() const { return owner_->IsGeometryField(index_); }
    std::string TypeName() const override { return "Field"; }

private:
    std::shared_ptr<FrameworkRecordset> owner_;
    int32_t index_;
};

}  // namespace product
