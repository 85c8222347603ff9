// SHA-256 for package seals: each build's hash.cc (libcrypto on POSIX,
// BCrypt on Windows) fills these four entries of the platform table.
#ifndef TARVEX_PLATFORM_HASH_H_
#define TARVEX_PLATFORM_HASH_H_

#include <string>

#include "platform/platform.h"

namespace tarvex {
namespace hash {

Hasher fncHashBegin();
void subHashAdd(Hasher objHash, const char* pData, size_t lngLength);
std::string fncHashEnd(Hasher objHash);
std::string fncHashFile(const std::string& strPath);

// Lowercase hex of a digest's bytes.
inline std::string fncHex(const unsigned char* pDigest, size_t lngLength) {
  static const char kDigits[] = "0123456789abcdef";
  std::string strHex;
  for (size_t i = 0; i < lngLength; ++i) {
    strHex += kDigits[pDigest[i] >> 4];
    strHex += kDigits[pDigest[i] & 15];
  }
  return strHex;
}

}  // namespace hash
}  // namespace tarvex

#endif  // TARVEX_PLATFORM_HASH_H_
