// SHA-256 through BCrypt (CNG), the system's own provider, which uses the
// processor's SHA instructions where it has them. Files are hashed above
// the table (platform/whole_files.cc).
#include "platform/win32/internal.h"

#include <bcrypt.h>


namespace tarvex {
namespace win32 {

namespace {

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

}  // namespace win32
}  // namespace tarvex
