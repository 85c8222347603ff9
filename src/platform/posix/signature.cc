// ECDSA P-256 signatures through libcrypto (EVP), the library the hashes
// use, linked statically.
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>

#include "platform/posix/internal.h"

namespace tarvex {
namespace posix {

namespace {

struct KeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct ContextFree {
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
typedef std::unique_ptr<EVP_PKEY, KeyFree> Key;
typedef std::unique_ptr<EVP_MD_CTX, ContextFree> Context;

bool fncReady() {
  // The host's OpenSSL configuration has no say over a signature.
  static const bool blnReady = OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) == 1;
  return blnReady;
}

// A P-256 key and nothing else: another curve, RSA or Ed25519 is refused.
bool fncIsP256(EVP_PKEY* pKey) {
  if (pKey == nullptr || EVP_PKEY_get_base_id(pKey) != EVP_PKEY_EC) return false;
  char chrGroup[64] = {};
  size_t lngLength = 0;
  if (EVP_PKEY_get_utf8_string_param(pKey, OSSL_PKEY_PARAM_GROUP_NAME, chrGroup, sizeof chrGroup,
                                     &lngLength) != 1)
    return false;
  return std::strcmp(chrGroup, "prime256v1") == 0;
}

// The whole DER and nothing after it.
Key fncPublicKey(const std::string& strKey) {
  const unsigned char* pAt = reinterpret_cast<const unsigned char*>(strKey.data());
  Key objKey(d2i_PUBKEY(nullptr, &pAt, static_cast<long>(strKey.size())));
  if (objKey && pAt != reinterpret_cast<const unsigned char*>(strKey.data()) + strKey.size())
    objKey.reset();
  return objKey;
}

}  // namespace

bool fncIsP256Key(const std::string& strKey) {
  return fncReady() && fncIsP256(fncPublicKey(strKey).get());
}

bool fncVerifyP256(const std::string& strKey, const std::string& strMessage,
                   const std::string& strSignature) {
  if (!fncReady()) return false;
  Key objKey = fncPublicKey(strKey);
  if (!fncIsP256(objKey.get())) return false;
  Context objContext(EVP_MD_CTX_new());
  if (!objContext ||
      EVP_DigestVerifyInit(objContext.get(), nullptr, EVP_sha256(), nullptr, objKey.get()) != 1)
    return false;
  return EVP_DigestVerify(objContext.get(),
                          reinterpret_cast<const unsigned char*>(strSignature.data()),
                          strSignature.size(),
                          reinterpret_cast<const unsigned char*>(strMessage.data()),
                          strMessage.size()) == 1;
}

std::string fncSignP256(const std::string& strPrivatePem, const std::string& strMessage) {
  if (!fncReady()) subRaise(kErrInternal, fncErrorText(kErrInternal));
  std::unique_ptr<BIO, decltype(&BIO_free)> objText(
      BIO_new_mem_buf(strPrivatePem.data(), static_cast<int>(strPrivatePem.size())), &BIO_free);
  Key objKey(objText ? PEM_read_bio_PrivateKey(objText.get(), nullptr, nullptr, nullptr)
                     : nullptr);
  // Not a P-256 private key (or one behind a pass phrase): nothing to sign with.
  if (!fncIsP256(objKey.get())) subRaise(kErrInvalidData, fncErrorText(kErrInvalidData));
  Context objContext(EVP_MD_CTX_new());
  size_t lngLength = 0;
  const unsigned char* pMessage = reinterpret_cast<const unsigned char*>(strMessage.data());
  if (!objContext ||
      EVP_DigestSignInit(objContext.get(), nullptr, EVP_sha256(), nullptr, objKey.get()) != 1 ||
      EVP_DigestSign(objContext.get(), nullptr, &lngLength, pMessage, strMessage.size()) != 1)
    subRaise(kErrInternal, fncErrorText(kErrInternal));
  std::string strSignature(lngLength, '\0');
  if (EVP_DigestSign(objContext.get(), reinterpret_cast<unsigned char*>(&strSignature[0]),
                     &lngLength, pMessage, strMessage.size()) != 1)
    subRaise(kErrInternal, fncErrorText(kErrInternal));
  strSignature.resize(lngLength);
  return strSignature;
}

}  // namespace posix
}  // namespace tarvex
