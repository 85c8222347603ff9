// SHA-256 through OpenSSL's libcrypto (EVP), which uses the processor's SHA
// instructions where it has them. The library is linked statically, so the
// program stays self-contained. Files are hashed above the table
// (platform/whole_files.cc).
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "platform/posix/internal.h"

namespace tarvex {
namespace posix {

namespace {

[[noreturn]] void subRaiseCrypto() { subRaise(kErrInternal, fncErrorText(kErrInternal)); }

}  // namespace

Hasher fncHashBegin() {
  // The host's OpenSSL configuration has no say over a digest.
  static const bool blnReady = OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) == 1;
  EVP_MD_CTX* pContext = blnReady ? EVP_MD_CTX_new() : nullptr;
  if (pContext == nullptr) subRaise(kErrOutOfMemory, fncErrorText(kErrOutOfMemory));
  if (EVP_DigestInit_ex(pContext, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(pContext);
    subRaiseCrypto();
  }
  return pContext;
}

void subHashAdd(Hasher objHash, const char* pData, size_t lngLength) {
  if (EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(objHash), pData, lngLength) != 1)
    subRaiseCrypto();
}

std::string fncHashEnd(Hasher objHash) {
  EVP_MD_CTX* pContext = static_cast<EVP_MD_CTX*>(objHash);
  unsigned char bytDigest[EVP_MAX_MD_SIZE];
  unsigned int lngLength = 0;
  const bool blnDone = EVP_DigestFinal_ex(pContext, bytDigest, &lngLength) == 1;
  EVP_MD_CTX_free(pContext);
  if (!blnDone) subRaiseCrypto();
  return fncHex(bytDigest, lngLength);
}

}  // namespace posix
}  // namespace tarvex
