// Profile files, through the Win32 profile API itself.
#include <cstdio>

#include "platform/win32/internal.h"

namespace tarvex {
namespace win32 {

// ---- Profile files

uint32_t fncGetProfileString(const std::string& strSection, const std::string& strKey,
                             char* pBuffer, uint32_t lngSize, const std::string& strFile) {
  return GetPrivateProfileStringA(strSection.c_str(), strKey.c_str(), "", pBuffer, lngSize,
                                  strFile.c_str());
}

uint32_t fncGetProfileSectionNames(char* pBuffer, uint32_t lngSize, const std::string& strFile) {
  return GetPrivateProfileSectionNamesA(pBuffer, lngSize, strFile.c_str());
}

bool fncWriteProfileString(const std::string& strSection, const std::string& strKey,
                           const std::string& strValue, const std::string& strFile) {
  return WritePrivateProfileStringA(strSection.c_str(), strKey.c_str(), strValue.c_str(),
                                    strFile.c_str()) != 0;
}


}  // namespace win32
}  // namespace tarvex
