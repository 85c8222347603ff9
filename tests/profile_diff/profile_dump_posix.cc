// Binds the dump to this program's own profile code: the reads of the rules
// both builds parse their manifest with, and the POSIX writer.
#include "platform/posix/internal.h"
#include "profile_dump.h"

uint32_t fncDumpGetString(const char* pSection, const char* pKey, char* pBuffer, uint32_t lngSize,
                          const char* pFile) {
  return tarvex::posix::fncGetProfileString(pSection, pKey, pBuffer, lngSize, pFile);
}

uint32_t fncDumpSectionNames(char* pBuffer, uint32_t lngSize, const char* pFile) {
  return tarvex::posix::fncGetProfileSectionNames(pBuffer, lngSize, pFile);
}

bool fncDumpWriteString(const char* pSection, const char* pKey, const char* pValue,
                        const char* pFile) {
  return tarvex::posix::fncWriteProfileString(pSection, pKey, pValue, pFile);
}
