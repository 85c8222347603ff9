// ECDSA P-256 signatures through the system's own libraries: crypt32 reads
// the DER key and signature (CryptDecodeObjectEx, CryptImportPublicKeyInfoEx2)
// and BCrypt verifies (Windows 7 and later). Both are loaded from the system
// folder alone (libraries.cc). Packages are signed on POSIX.
#include <cstring>

#include "platform/win32/internal.h"

namespace tarvex {
namespace win32 {

namespace {

// The OID of the curve as the key's parameters give it (DER).
const unsigned char kP256[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
const DWORD kHalf = 32;  // the bytes of r and of s

// What CryptDecodeObjectEx allocated, freed on every way out.
template <typename Decoded>
struct LocalBlock {
  Decoded* pBlock = nullptr;
  ~LocalBlock() {
    if (pBlock != nullptr) LocalFree(pBlock);
  }
};

bool fncDecode(LPCSTR pType, const std::string& strDer, void* pOut) {
  DWORD lngSize = 0;
  return fncCrypto().pDecodeObject(X509_ASN_ENCODING, pType,
                                   reinterpret_cast<const BYTE*>(strDer.data()),
                                   static_cast<DWORD>(strDer.size()), CRYPT_DECODE_ALLOC_FLAG,
                                   nullptr, pOut, &lngSize) != FALSE;
}

bool fncIsP256Info(const CERT_PUBLIC_KEY_INFO* pInfo) {
  return std::strcmp(pInfo->Algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) == 0 &&
         pInfo->Algorithm.Parameters.cbData == sizeof kP256 &&
         std::memcmp(pInfo->Algorithm.Parameters.pbData, kP256, sizeof kP256) == 0;
}

}  // namespace

bool fncIsP256Key(const std::string& strKey) {
  if (!fncCrypto().blnLoaded || strKey.empty()) return false;
  LocalBlock<CERT_PUBLIC_KEY_INFO> objInfo;
  return fncDecode(X509_PUBLIC_KEY_INFO, strKey, &objInfo.pBlock) && fncIsP256Info(objInfo.pBlock);
}

bool fncVerifyP256(const std::string& strKey, const std::string& strMessage,
                   const std::string& strSignature) {
  const Crypto& objCrypto = fncCrypto();
  if (!objCrypto.blnLoaded || strKey.empty() || strSignature.empty()) return false;
  LocalBlock<CERT_PUBLIC_KEY_INFO> objInfo;
  LocalBlock<CERT_ECC_SIGNATURE> objSignature;
  if (!fncDecode(X509_PUBLIC_KEY_INFO, strKey, &objInfo.pBlock) ||
      !fncIsP256Info(objInfo.pBlock) ||
      !fncDecode(X509_ECC_SIGNATURE, strSignature, &objSignature.pBlock))
    return false;
  // r and s come as little-endian integers without leading zeros; BCrypt
  // takes both big-endian, 32 bytes each.
  const CRYPT_UINT_BLOB* pParts[] = {&objSignature.pBlock->r, &objSignature.pBlock->s};
  unsigned char bytPlain[2 * kHalf] = {};
  for (int i = 0; i < 2; ++i) {
    if (pParts[i]->cbData > kHalf) return false;
    for (DWORD k = 0; k < pParts[i]->cbData; ++k)
      bytPlain[(i + 1) * kHalf - 1 - k] = pParts[i]->pbData[k];
  }
  std::string strDigest;
  try {
    Hasher objHash = fncHashBegin();
    subHashAdd(objHash, strMessage.data(), strMessage.size());
    strDigest = fncHashEnd(objHash);
  } catch (const Error&) {
    return false;
  }
  unsigned char bytDigest[kHalf];
  for (DWORD i = 0; i < kHalf; ++i)
    bytDigest[i] = static_cast<unsigned char>(std::stoi(strDigest.substr(2 * i, 2), nullptr, 16));
  BCRYPT_KEY_HANDLE objKey = nullptr;
  if (!objCrypto.pImportPublicKeyInfo(X509_ASN_ENCODING, objInfo.pBlock, 0, nullptr, &objKey))
    return false;
  const NTSTATUS lngStatus =
      objCrypto.pVerifySignature(objKey, nullptr, bytDigest, kHalf, bytPlain, 2 * kHalf, 0);
  objCrypto.pDestroyKey(objKey);
  return BCRYPT_SUCCESS(lngStatus);
}

}  // namespace win32
}  // namespace tarvex
