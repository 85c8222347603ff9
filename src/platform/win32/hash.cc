// SHA-256 through BCrypt (CNG), the system's own provider, which uses the
// processor's SHA instructions where it has them.
#include "platform/win32/internal.h"

#include <bcrypt.h>

#include <memory>

#include "platform/hash.h"

namespace tarvex {
namespace hash {

namespace {

const DWORD kBlockSize = 1 << 20;
const ULONG kDigestSize = 32;

[[noreturn]] void subRaiseStatus() { subRaise(kErrInternal, fncErrorText(kErrInternal)); }

// Opened once per process: opening a provider costs far more than a hash.
BCRYPT_ALG_HANDLE fncProvider() {
  static BCRYPT_ALG_HANDLE objProvider = [] {
    BCRYPT_ALG_HANDLE objOpened = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&objOpened, BCRYPT_SHA256_ALGORITHM,
                                                    nullptr, 0)))
      objOpened = nullptr;
    return objOpened;
  }();
  if (objProvider == nullptr) subRaiseStatus();
  return objProvider;
}

}  // namespace

Hasher fncHashBegin() {
  BCRYPT_HASH_HANDLE objHash = nullptr;
  // The system keeps the hash object's memory itself (Windows 7 and later).
  if (!BCRYPT_SUCCESS(BCryptCreateHash(fncProvider(), &objHash, nullptr, 0, nullptr, 0, 0)))
    subRaiseStatus();
  return objHash;
}

void subHashAdd(Hasher objHash, const char* pData, size_t lngLength) {
  // BCryptHashData takes at most 4 GiB at a time.
  while (lngLength > 0) {
    ULONG lngPart = lngLength > 0x40000000u ? 0x40000000u : static_cast<ULONG>(lngLength);
    if (!BCRYPT_SUCCESS(BCryptHashData(static_cast<BCRYPT_HASH_HANDLE>(objHash),
                                       reinterpret_cast<PUCHAR>(const_cast<char*>(pData)),
                                       lngPart, 0)))
      subRaiseStatus();
    pData += lngPart;
    lngLength -= lngPart;
  }
}

std::string fncHashEnd(Hasher objHash) {
  unsigned char bytDigest[kDigestSize];
  const bool blnDone = BCRYPT_SUCCESS(
      BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(objHash), bytDigest, kDigestSize, 0));
  BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(objHash));
  if (!blnDone) subRaiseStatus();
  return fncHex(bytDigest, kDigestSize);
}

std::string fncHashFile(const std::string& strPath) {
  // Others may read the file meanwhile, nobody may change it.
  HANDLE objFile = CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (objFile == INVALID_HANDLE_VALUE) {
    const int32_t lngCode = static_cast<int32_t>(GetLastError());
    subRaise(lngCode, fncErrorText(lngCode));
  }
  Hasher objHash = nullptr;
  try {
    objHash = fncHashBegin();
    // A small file gets a small buffer, left uninitialised: a package is
    // mostly small files.
    LARGE_INTEGER objSize;
    DWORD lngBlock = kBlockSize;
    if (GetFileSizeEx(objFile, &objSize) && objSize.QuadPart < kBlockSize)
      lngBlock = static_cast<DWORD>(objSize.QuadPart) + 1;
    std::unique_ptr<char[]> objBlock(new char[lngBlock]);
    for (;;) {
      DWORD lngRead = 0;
      if (!ReadFile(objFile, objBlock.get(), lngBlock, &lngRead, nullptr)) {
        const int32_t lngCode = static_cast<int32_t>(GetLastError());
        subRaise(lngCode, fncErrorText(lngCode));
      }
      if (lngRead == 0) break;
      subHashAdd(objHash, objBlock.get(), lngRead);
    }
  } catch (...) {
    if (objHash != nullptr) BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(objHash));
    CloseHandle(objFile);
    throw;
  }
  CloseHandle(objFile);
  return fncHashEnd(objHash);
}

}  // namespace hash
}  // namespace tarvex
