#pragma once
// A data context that hands every call to a sample database's context; a
// test derives from it and overrides the members it wants to watch or bend.
#include <memory>
#include <string>
#include <utility>

#include "interfaces/DataContext.h"
#include "product/SqliteDataContext.h"
#include "runtime/Object.h"

namespace pelmora_test {

class ForwardingDataContext : public rt::Object, public pelmora::IDataContext, public pelmora::IDataContextRows {
public:
    explicit ForwardingDataContext(std::shared_ptr<product::SqliteDataContext> inner) : inner_(std::move(inner)) {}

    product::SqliteDataContext& Inner() { return *inner_; }

    std::shared_ptr<pelmora::IMetadataService> GetMetadataService() override { return inner_->GetMetadataService(); }
    int32_t DataMode() override { return inner_->DataMode(); }
    std::shared_ptr<ado::Recordset> ExecuteSQL(const std::string& SQL, rt::Variant& RecordsAffected,
                                               int32_t Options) override {
        return inner_->ExecuteSQL(SQL, RecordsAffected, Options);
    }
    std::shared_ptr<ado::Recordset> ExecuteCommand(const std::shared_ptr<ado::Command>& Command,
                                                   rt::Variant& RecordsAffected) override {
        return inner_->ExecuteCommand(Command, RecordsAffected);
    }
    std::shared_ptr<ado::Recordset> OpenRecordset(const std::string& SQL) override { return inner_->OpenRecordset(SQL); }
    void UpdateRecordset(const std::shared_ptr<ado::Recordset>& Recordset, int32_t AffectRecords) override {
        inner_->UpdateRecordset(Recordset, AffectRecords);
    }
    std::shared_ptr<ado::Recordset> OpenParameterizedRecordset(const std::string& SQL, int32_t CursorType,
                                                               int32_t LockType, int32_t Options,
                                                               rt::Variant& Parameters) override {
        return inner_->OpenParameterizedRecordset(SQL, CursorType, LockType, Options, Parameters);
    }
    std::shared_ptr<ado::Recordset> ExecuteParameterizedSQL(const std::string& SQL, rt::Variant& RecordsAffected,
                                                            int32_t Options, rt::Variant& Parameters) override {
        return inner_->ExecuteParameterizedSQL(SQL, RecordsAffected, Options, Parameters);
    }
    std::shared_ptr<ado::Recordset> OpenParameterizedRecordsetEx(const std::string& SQL, int32_t CursorType,
                                                                 int32_t LockType, int32_t Options,
                                                                 rt::Variant& Parameters) override {
        return inner_->OpenParameterizedRecordsetEx(SQL, CursorType, LockType, Options, Parameters);
    }
    std::shared_ptr<ado::Recordset> GetComponentRows(const std::string& TableName, const rt::Variant& FIDs,
                                                     int16_t CNO) override {
        return inner_->GetComponentRows(TableName, FIDs, CNO);
    }
    std::shared_ptr<ado::Recordset> GetGeometryRows(const std::string& TableName, const rt::Variant& FIDs,
                                                    int16_t CNO) override {
        return inner_->GetGeometryRows(TableName, FIDs, CNO);
    }

protected:
    std::shared_ptr<product::SqliteDataContext> inner_;
};

}  // namespace pelmora_test
