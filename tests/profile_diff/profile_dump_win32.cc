// Binds the dump to the Win32 profile calls (run under Wine as the reference).
#include <windows.h>

#include "profile_dump.h"

uint32_t fncDumpGetString(const char* pSection, const char* pKey, char* pBuffer, uint32_t lngSize,
                          const char* pFile) {
  return GetPrivateProfileStringA(pSection, pKey, "", pBuffer, lngSize, pFile);
}

uint32_t fncDumpSectionNames(char* pBuffer, uint32_t lngSize, const char* pFile) {
  return GetPrivateProfileSectionNamesA(pBuffer, lngSize, pFile);
}

bool fncDumpWriteString(const char* pSection, const char* pKey, const char* pValue,
                        const char* pFile) {
  return WritePrivateProfileStringA(pSection, pKey, pValue, pFile) != FALSE;
}
