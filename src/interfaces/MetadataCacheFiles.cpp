#include "interfaces/MetadataCacheFiles.h"

#include "runtime/PlainName.h"
#include "runtime/Vb.h"

namespace pelmora {

std::string CacheLocaleFolder(const std::string& LocaleCode) { return rt::UCase(LocaleCode); }

bool IsCacheLocaleFolder(const std::string& Folder) { return rt::IsPlainFileName(Folder, false); }

bool IsCacheFileKey(const std::string& Key) { return rt::IsPlainFileName(Key, true); }

std::string CacheFileName(const std::string& Key) { return Key + "." + kCacheFileFormat; }

bool CacheIndexRowTaken(const rt::Variant& Sql, const rt::Variant& Lcid, const std::string& Locale) {
    return !Sql.IsNull() && (Lcid.IsNull() || rt::Like(rt::UCase(rt::CStr(Lcid)), Locale, rt::CompareMode::Text));
}

}  // namespace pelmora
