// The profile calls under comparison. profile_dump_win32.cc binds them to
// the Win32 calls, profile_dump_posix.cc to this program's POSIX reader.
#ifndef TARVEX_TESTS_PROFILE_DIFF_PROFILE_DUMP_H_
#define TARVEX_TESTS_PROFILE_DIFF_PROFILE_DUMP_H_

#include <cstdint>

uint32_t fncDumpGetString(const char* pSection, const char* pKey, char* pBuffer, uint32_t lngSize,
                          const char* pFile);
uint32_t fncDumpSectionNames(char* pBuffer, uint32_t lngSize, const char* pFile);
bool fncDumpWriteString(const char* pSection, const char* pKey, const char* pValue,
                        const char* pFile);

#endif  // TARVEX_TESTS_PROFILE_DIFF_PROFILE_DUMP_H_
