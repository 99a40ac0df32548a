#pragma once
// The product's data context: the one road to the database. The system never
// creates one; every service is given it. Failures are rt::ComError carrying
// the provider's number and the database's message.
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/Variant.h"

namespace ado {
class Recordset;
class Command;
}  // namespace ado

namespace pelmora {

class IMetadataService;

class IDataContext {
public:
    virtual ~IDataContext() = default;

    // The metadata service of the context's configuration.
    virtual std::shared_ptr<IMetadataService> GetMetadataService() = 0;
    // 1: component rows come through IDataContextRows; 2: no geometry;
    // anything else: ordinary SQL.
    virtual int32_t DataMode() = 0;
    // Runs a text; RecordsAffected receives the count of rows written.
    // Options carry ADO's command-type / execute-option values.
    virtual std::shared_ptr<ado::Recordset> ExecuteSQL(const std::string& SQL, rt::Variant& RecordsAffected,
                                                       int32_t Options) = 0;
    // Runs a command with its appended parameters; output parameters are
    // filled on the command afterwards.
    virtual std::shared_ptr<ado::Recordset> ExecuteCommand(const std::shared_ptr<ado::Command>& Command,
                                                           rt::Variant& RecordsAffected) = 0;
    virtual std::shared_ptr<ado::Recordset> OpenRecordset(const std::string& SQL) = 0;
    // Writes the pending rows of the recordset (its Filter shows them) back
    // to their base tables, all or nothing.
    virtual void UpdateRecordset(const std::shared_ptr<ado::Recordset>& Recordset, int32_t AffectRecords) = 0;
    // "?" markers bind positionally to the elements of Parameters (a Variant
    // array, one value per marker in marker order).
    virtual std::shared_ptr<ado::Recordset> OpenParameterizedRecordset(const std::string& SQL, int32_t CursorType,
                                                                       int32_t LockType, int32_t Options,
                                                                       rt::Variant& Parameters) = 0;
    virtual std::shared_ptr<ado::Recordset> ExecuteParameterizedSQL(const std::string& SQL,
                                                                    rt::Variant& RecordsAffected, int32_t Options,
                                                                    rt::Variant& Parameters) = 0;
    virtual std::shared_ptr<ado::Recordset> OpenParameterizedRecordsetEx(const std::string& SQL, int32_t CursorType,
                                                                         int32_t LockType, int32_t Options,
                                                                         rt::Variant& Parameters) = 0;

    // Some callers know the last parameterised open by this name; it is the
    // same member.
    std::shared_ptr<ado::Recordset> OpenParameterizedQuery(const std::string& SQL, int32_t CursorType,
                                                           int32_t LockType, int32_t Options,
                                                           rt::Variant& Parameters) {
        return OpenParameterizedRecordsetEx(SQL, CursorType, LockType, Options, Parameters);
    }
};

// The second face of a data context whose DataMode is 1.
class IDataContextRows {
public:
    virtual ~IDataContextRows() = default;
    // The rows of a component table for the FIDs (a Variant holding a Long
    // array) and the CNO.
    virtual std::shared_ptr<ado::Recordset> GetComponentRows(const std::string& TableName, const rt::Variant& FIDs,
                                                             int16_t CNO) = 0;
    // The geometry rows of a "_SDOGEOM" table for the FIDs (a Long array, or
    // the text "-999" for none), ordered by SDO_GID, SDO_ESEQ, SDO_SEQ.
    virtual std::shared_ptr<ado::Recordset> GetGeometryRows(const std::string& TableName, const rt::Variant& FIDs,
                                                            int16_t CNO) = 0;
};

}  // namespace pelmora
