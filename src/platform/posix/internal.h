// Pieces of the POSIX platform layer shared between its files, and open to
// the unit tests and fuzz targets.
#ifndef TARVEX_PLATFORM_POSIX_INTERNAL_H_
#define TARVEX_PLATFORM_POSIX_INTERNAL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/text.h"

namespace tarvex {
namespace posix {

using namespace text;

// The table's entries, as this build defines them (primitives.def).
#define TARVEX_VALUE(TYPE, NAME)
#define TARVEX_PRIMITIVE(RESULT, NAME, PARAMS) RESULT NAME PARAMS;
#include "platform/primitives.def"

// ---- cmdline.cc
// Splits a command line into arguments by the Windows rules (the program
// name by quotes only; then blanks, quotes and backslashes as the C
// run-time parses them).
std::vector<std::string> fncSplitCommandLine(const std::string& strCommandLine);

// ---- errors.cc: errno onto the error table.
Error fncErrnoError(int intErrno);
[[noreturn]] void subRaiseErrno(int intErrno);

// ---- files.cc
bool fncWriteAll(int intFile, const char* pData, size_t lngLength);
// The two ways fncCompareRange compares, by mapping and by reading; it
// takes the one it has timed the faster.
int fncCompareMapped(FileHandle objA, FileHandle objB, uint64_t lngOffset, size_t lngLength);
int fncCompareRead(FileHandle objA, FileHandle objB, uint64_t lngOffset, size_t lngLength);

// ---- text_files.cc
// Replaces a file's whole content in one step: a temporary file beside it,
// then rename. Raises Error on failure and leaves no temporary behind.
void subReplaceFileContent(const std::string& strPath, const std::string& strContent);

// ---- run_lock.cc
// The lock file of an application folder, beside the program.
const char kRunLockName[] = ".Tarvex.lock";
std::string fncRunLockPath(const std::string& strFolder);

// ---- profile.cc: reads with the rules and results of
// GetPrivateProfileStringA (no default) and GetPrivateProfileSectionNamesA,
// for the tests that hold them against the Win32 calls.
uint32_t fncGetProfileString(const std::string& strSection, const std::string& strKey,
                             char* pBuffer, uint32_t lngSize, const std::string& strFile);
uint32_t fncGetProfileSectionNames(char* pBuffer, uint32_t lngSize, const std::string& strFile);

// ---- registry.cc: the machine registry as a registry-export text
// file, named by TARVEX_REGISTRY (default /etc/tarvex/registry.reg).

}  // namespace posix
}  // namespace tarvex

#endif  // TARVEX_PLATFORM_POSIX_INTERNAL_H_
