#include "pelmora/relationships/ConnectivityNames.h"

#include "runtime/Error.h"
#include "runtime/SqlName.h"

namespace pelmora {

std::string PlainColumnName(const std::string& name, const std::string& source, const std::string& what) {
    if (!rt::IsSqlIdentifier(name))
        throw rt::ComError(rt::vberr::InvalidProcedureCall, source,
                           "The " + what + " \"" + name + "\" is not a plain column name.");
    return name;
}

std::string PlainTableName(const std::string& name, const std::string& source) {
    if (!rt::IsQualifiedSqlName(name))
        throw rt::ComError(rt::vberr::InvalidProcedureCall, source,
                           "The support table \"" + name + "\" is not a plain table name.");
    return name;
}

}  // namespace pelmora
