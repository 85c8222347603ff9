// Pieces of the Win32 platform layer shared between its files, and open to
// the unit tests. ANSI entry points throughout, so every string stays in the
// system's ANSI code page.
#ifndef TARVEX_PLATFORM_WIN32_INTERNAL_H_
#define TARVEX_PLATFORM_WIN32_INTERNAL_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace tarvex {
namespace win32 {

// ---- errors.cc
// Folds the system codes that mean the same thing to the program onto the
// numbers of the error table; any other code keeps its own number.
int32_t fncMapError(DWORD lngCode);
[[noreturn]] void subRaiseNumber(int32_t lngNumber);
[[noreturn]] void subRaiseCode(DWORD lngCode);

// A handle closed on every way out.
struct Handle {
  HANDLE objHandle = INVALID_HANDLE_VALUE;
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { subClose(); }
  bool fncOpen() const { return objHandle != INVALID_HANDLE_VALUE && objHandle != nullptr; }
  bool subClose() {
    bool blnClosed = true;
    if (fncOpen()) blnClosed = CloseHandle(objHandle) != 0;
    objHandle = INVALID_HANDLE_VALUE;
    return blnClosed;
  }
};

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The table's entries, as this build defines them (primitives.def).
#define TARVEX_VALUE(TYPE, NAME)
#define TARVEX_PRIMITIVE(RESULT, NAME, PARAMS) RESULT NAME PARAMS;
#include "platform/primitives.def"

// ---- libraries.cc
// A library of the system's own, from the system folder alone; null when
// it cannot be loaded.
HMODULE fncSystemLibrary(const char* pName);
// The entries of bcrypt.dll and crypt32.dll the programs use, loaded once;
// blnLoaded false when any is missing.
struct Crypto {
  bool blnLoaded;
  decltype(&BCryptOpenAlgorithmProvider) pOpenAlgorithmProvider;
  decltype(&BCryptCreateHash) pCreateHash;
  decltype(&BCryptHashData) pHashData;
  decltype(&BCryptFinishHash) pFinishHash;
  decltype(&BCryptDestroyHash) pDestroyHash;
  decltype(&BCryptVerifySignature) pVerifySignature;
  decltype(&BCryptDestroyKey) pDestroyKey;
  decltype(&CryptDecodeObjectEx) pDecodeObject;
  decltype(&CryptImportPublicKeyInfoEx2) pImportPublicKeyInfo;
};
const Crypto& fncCrypto();

// ---- process.cc
// The text after the program name in a command line (open to the tests,
// which cannot choose their own process's command line).
std::string fncCommandLineTail(const char* pText);

// ---- run_lock.cc
// The lock file of an application folder.
std::string fncRunLockPath(const std::string& strFolder);
// The security a new lock file is made with, in the system's descriptor
// language (SDDL), and what CreateFileA is asked for when it is opened.
std::string fncRunLockSecurity();
struct RunLockOpening {
  DWORD lngAccess, lngShare, lngDisposition, lngFlags;
};
RunLockOpening fncRunLockOpening();

// ---- files.cc
// The attributes a copy carries over, and those it sets.
const DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                              FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                              FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

}  // namespace win32
}  // namespace tarvex

#endif  // TARVEX_PLATFORM_WIN32_INTERNAL_H_
