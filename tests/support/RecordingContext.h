#pragma once
// A sample database's context that records what the system sends through it
// (each kind of call in its own list, in order) and can be told to bend some
// calls; a test reads the lists it cares about.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ado/Command.h"
#include "ado/Recordset.h"
#include "interfaces/MetadataService.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"
#include "support/ForwardingDataContext.h"

namespace pelmora_test {

class RecordingContext : public ForwardingDataContext {
public:
    // A parameterised open.
    struct Open {
        std::string sql;
        std::vector<rt::Variant> values;
        int32_t cursor = 0, lock = 0, options = 0;
    };
    // ExecuteSQL (no values) or ExecuteParameterizedSQL.
    struct Execute {
        std::string sql;
        int32_t options = 0;
        std::vector<rt::Variant> values;
    };
    // A command as it was received.
    struct SentBlock {
        std::string text;
        std::vector<std::string> values;  // the parameters' texts, in order
        std::vector<int32_t> sizes;
        std::vector<int32_t> types;
        std::vector<int32_t> directions;
        std::vector<std::string> names;
    };

    // With a metadata service, that one is handed out instead of the inner one's.
    explicit RecordingContext(std::shared_ptr<product::SqliteDataContext> inner,
                              std::shared_ptr<pelmora::IMetadataService> metadata = nullptr)
        : ForwardingDataContext(std::move(inner)), metadata_(std::move(metadata)) {}

    std::vector<std::string> plainOpens;
    std::vector<Open> opens;
    std::vector<Execute> executes;
    std::vector<SentBlock> commands;
    int componentRowFetches = 0;
    int geometryRowFetches = 0;
    rt::Variant lastRowsFIDs;
    int updates = 0;

    int32_t dataMode = 0;
    bool failOpens = false;   // plain opens raise the provider's "no sequence" error
    bool emptyOpens = false;  // plain opens give a NEXTVAL recordset without rows
    // From 1: that command fails inside the database (one of its lists is
    // replaced by a malformed one, so the block's own exception part runs).
    int spoilCommand = 0;

    std::shared_ptr<pelmora::IMetadataService> GetMetadataService() override {
        return metadata_ ? metadata_ : inner_->GetMetadataService();
    }
    int32_t DataMode() override { return dataMode; }
    std::shared_ptr<ado::Recordset> OpenRecordset(const std::string& SQL) override {
        plainOpens.push_back(SQL);
        if (failOpens) throw rt::ComError(-2147217900, "Provider", "ORA-02289: sequence does not exist");
        if (!emptyOpens) return inner_->OpenRecordset(SQL);
        auto none = ado::Recordset::Create();
        none->get_Fields()->Append("NEXTVAL", ado::adInteger);
        none->Open();
        return none;
    }
    void UpdateRecordset(const std::shared_ptr<ado::Recordset>& Recordset, int32_t AffectRecords) override {
        ++updates;
        inner_->UpdateRecordset(Recordset, AffectRecords);
    }
    std::shared_ptr<ado::Recordset> OpenParameterizedRecordset(const std::string& SQL, int32_t CursorType,
                                                               int32_t LockType, int32_t Options,
                                                               rt::Variant& Parameters) override {
        opens.push_back({SQL, ValuesOf(Parameters), CursorType, LockType, Options});
        return inner_->OpenParameterizedRecordset(SQL, CursorType, LockType, Options, Parameters);
    }
    std::shared_ptr<ado::Recordset> ExecuteSQL(const std::string& SQL, rt::Variant& RecordsAffected,
                                               int32_t Options) override {
        executes.push_back({SQL, Options, {}});
        return inner_->ExecuteSQL(SQL, RecordsAffected, Options);
    }
    std::shared_ptr<ado::Recordset> ExecuteParameterizedSQL(const std::string& SQL, rt::Variant& RecordsAffected,
                                                            int32_t Options, rt::Variant& Parameters) override {
        executes.push_back({SQL, Options, ValuesOf(Parameters)});
        return inner_->ExecuteParameterizedSQL(SQL, RecordsAffected, Options, Parameters);
    }
    std::shared_ptr<ado::Recordset> ExecuteCommand(const std::shared_ptr<ado::Command>& Command,
                                                   rt::Variant& RecordsAffected) override {
        SentBlock b;
        b.text = Command->get_CommandText();
        for (const auto& p : Command->get_Parameters()->Items()) {
            b.values.push_back(rt::CStr(p->get_Value()));
            b.sizes.push_back(p->get_Size());
            b.types.push_back(p->get_Type());
            b.directions.push_back(p->get_Direction());
            b.names.push_back(p->get_Name());
        }
        commands.push_back(b);
        if (static_cast<int>(commands.size()) == spoilCommand)
            Command->get_Parameters()->get_Item(rt::Variant(int32_t{2}))->put_Value(rt::Variant("99:broken"));
        return inner_->ExecuteCommand(Command, RecordsAffected);
    }
    std::shared_ptr<ado::Recordset> GetComponentRows(const std::string& TableName, const rt::Variant& FIDs,
                                                     int16_t CNO) override {
        ++componentRowFetches;
        lastRowsFIDs = FIDs;
        return inner_->GetComponentRows(TableName, FIDs, CNO);
    }
    std::shared_ptr<ado::Recordset> GetGeometryRows(const std::string& TableName, const rt::Variant& FIDs,
                                                    int16_t CNO) override {
        ++geometryRowFetches;
        lastRowsFIDs = FIDs;
        return inner_->GetGeometryRows(TableName, FIDs, CNO);
    }

private:
    static std::vector<rt::Variant> ValuesOf(const rt::Variant& parameters) {
        std::vector<rt::Variant> values;
        if (parameters.IsArray())
            for (const auto& v : parameters.Array()->Data()) values.push_back(v);
        return values;
    }

    std::shared_ptr<pelmora::IMetadataService> metadata_;
};

}  // namespace pelmora_test
