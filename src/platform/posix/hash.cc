// SHA-256 through OpenSSL's libcrypto (EVP), which uses the processor's SHA
// instructions where it has them. The library is linked statically, so the
// program stays self-contained.
#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/hash.h"
#include "platform/posix/internal.h"

namespace tarvex {
namespace hash {

namespace {

const size_t kBlockSize = 1 << 20;

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

std::string fncHashFile(const std::string& strPath) {
  // As the copy opens a source: without waiting, and only a regular file.
  int intFile = open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (intFile < 0) throw posix::fncErrnoError(errno);
  struct stat objStat;
  int intError = 0;
  if (fstat(intFile, &objStat) != 0)
    intError = errno;
  else if (S_ISDIR(objStat.st_mode))
    intError = EISDIR;
  else if (!S_ISREG(objStat.st_mode))
    intError = EINVAL;
  if (intError != 0) {
    close(intFile);
    throw posix::fncErrnoError(intError);
  }
  posix_fadvise(intFile, 0, 0, POSIX_FADV_SEQUENTIAL);
  Hasher objHash = nullptr;
  try {
    objHash = fncHashBegin();
    // A small file gets a small buffer, left uninitialised: a package is
    // mostly small files, and clearing a whole block for each cost more
    // than hashing it.
    const size_t lngBlock =
        static_cast<size_t>(objStat.st_size) < kBlockSize ? objStat.st_size + 1 : kBlockSize;
    std::unique_ptr<char[]> objBlock(new char[lngBlock]);
    for (;;) {
      ssize_t lngRead = read(intFile, objBlock.get(), lngBlock);
      if (lngRead < 0 && errno == EINTR) continue;
      if (lngRead < 0) throw posix::fncErrnoError(errno);
      if (lngRead == 0) break;
      subHashAdd(objHash, objBlock.get(), static_cast<size_t>(lngRead));
    }
  } catch (...) {
    if (objHash != nullptr) EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(objHash));
    close(intFile);
    throw;
  }
  close(intFile);
  return fncHashEnd(objHash);
}

}  // namespace hash
}  // namespace tarvex
