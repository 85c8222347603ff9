// SHA-256 through BCrypt (CNG), the system's own provider, which uses the
// processor's SHA instructions where it has them; bcrypt.dll is loaded from
// the system folder alone (libraries.cc). Files are hashed above the table
// (platform/whole_files.cc).
#include "platform/win32/internal.h"

namespace tarvex {
namespace win32 {

namespace {

const ULONG kDigestSize = 32;

[[noreturn]] void subRaiseStatus() { subRaise(kErrInternal, fncErrorText(kErrInternal)); }

const Crypto& fncLoaded() {
  const Crypto& objCrypto = fncCrypto();
  if (!objCrypto.blnLoaded) subRaiseStatus();
  return objCrypto;
}

// Opened once per process: opening a provider costs far more than a hash.
BCRYPT_ALG_HANDLE fncProvider() {
  static BCRYPT_ALG_HANDLE objProvider = [] {
    BCRYPT_ALG_HANDLE objOpened = nullptr;
    if (!fncCrypto().blnLoaded ||
        !BCRYPT_SUCCESS(fncCrypto().pOpenAlgorithmProvider(&objOpened, BCRYPT_SHA256_ALGORITHM,
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
  if (!BCRYPT_SUCCESS(
          fncLoaded().pCreateHash(fncProvider(), &objHash, nullptr, 0, nullptr, 0, 0)))
    subRaiseStatus();
  return objHash;
}

void subHashAdd(Hasher objHash, const char* pData, size_t lngLength) {
  // BCryptHashData takes at most 4 GiB at a time.
  while (lngLength > 0) {
    ULONG lngPart = lngLength > 0x40000000u ? 0x40000000u : static_cast<ULONG>(lngLength);
    if (!BCRYPT_SUCCESS(fncLoaded().pHashData(static_cast<BCRYPT_HASH_HANDLE>(objHash),
                                              reinterpret_cast<PUCHAR>(const_cast<char*>(pData)),
                                              lngPart, 0)))
      subRaiseStatus();
    pData += lngPart;
    lngLength -= lngPart;
  }
}

std::string fncHashEnd(Hasher objHash) {
  unsigned char bytDigest[kDigestSize];
  const Crypto& objCrypto = fncLoaded();
  const bool blnDone = BCRYPT_SUCCESS(objCrypto.pFinishHash(
      static_cast<BCRYPT_HASH_HANDLE>(objHash), bytDigest, kDigestSize, 0));
  objCrypto.pDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(objHash));
  if (!blnDone) subRaiseStatus();
  return fncHex(bytDigest, kDigestSize);
}

}  // namespace win32
}  // namespace tarvex
