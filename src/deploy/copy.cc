// The copy engine: every rule of a copy, written once for both builds over
// the platform's file primitives. A copy never leaves a torn target: the
// bytes go to a temporary file of this run's own beside the target, which
// is on the disk before it replaces the target in one step.
#include <cstring>
#include <memory>

#include "control/run_state.h"
#include "deploy/deploy.h"

namespace tarvex {

namespace {

// Where the files are read to be compared, two blocks stay within the
// processor's L2 cache together (measured on two 256 MiB files in the page
// cache: 64 KiB blocks 0.059 s, 16 KiB 0.09 s, 256 KiB and 1 MiB 0.08 s).
const size_t kCompareBlock = 1 << 16;
// Bytes the system compares at a time where it compares ranges itself
// (POSIX: mapped or read, whichever it has timed the faster): few mappings,
// little address space in a 32-bit process, and long enough to be timed.
const size_t kMapBlock = 1 << 22;
// Bytes a copy moves at a time where the system cannot copy by itself.
const size_t kCopyBlock = 1 << 20;

bool fncIsSeparator(char chr) { return chr == '/' || chr == Os().chrSeparator; }

// The folder part of a path, keeping the separator of a root ("/", "C:\").
std::string fncFolderPart(const std::string& strPath) {
  size_t lngAt = strPath.size();
  while (lngAt > 0 && !fncIsSeparator(strPath[lngAt - 1])) --lngAt;
  if (lngAt == 0) return ".";
  std::string strFolder = strPath.substr(0, lngAt - 1);
  if (strFolder.empty() || strFolder.back() == ':') strFolder += strPath[lngAt - 1];
  return strFolder;
}

std::string fncNamePart(const std::string& strPath) {
  size_t lngAt = strPath.size();
  while (lngAt > 0 && !fncIsSeparator(strPath[lngAt - 1])) --lngAt;
  return strPath.substr(lngAt);
}

[[noreturn]] void subRaiseNumber(int32_t lngNumber) { subRaise(lngNumber, fncErrorText(lngNumber)); }

// A file of the engine's, closed on every way out.
struct OpenFile {
  FileHandle objHandle = kNoFile;
  OpenFile() = default;
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() { fncClose(); }
  bool fncClose() {
    if (objHandle == kNoFile) return true;
    FileHandle objOpen = objHandle;
    objHandle = kNoFile;
    return Os().fncClose(objOpen);
  }
};

// The digest of the bytes a copy reads, where the package is sealed; the
// state is freed on every way out.
struct Digest {
  Hasher objHash = nullptr;
  explicit Digest(bool blnWanted) {
    if (blnWanted) objHash = Os().fncHashBegin();
  }
  Digest(const Digest&) = delete;
  Digest& operator=(const Digest&) = delete;
  ~Digest() {
    if (objHash != nullptr) {
      try {
        Os().fncHashEnd(objHash);
      } catch (...) {
      }
    }
  }
  void subAdd(const char* pData, size_t lngLength) {
    if (objHash != nullptr) Os().subHashAdd(objHash, pData, lngLength);
  }
  // True when the bytes read are those of strWanted.
  bool fncMatches(const std::string& strWanted) {
    if (objHash == nullptr) return true;
    Hasher objDone = objHash;
    objHash = nullptr;
    return Os().fncHashEnd(objDone) == strWanted;
  }
};

// The temporary file being filled, removed unless it has taken its
// target's place, on every way out.
struct Temporary {
  std::string strPath;
  OpenFile objFile;
  bool blnPlaced = false;
  Temporary(const std::string& strFolder, const std::string& strName) {
    objFile.objHandle = fncCreateTemporary(strFolder, strName, &strPath);
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary() {
    objFile.fncClose();
    if (!blnPlaced) subDiscardTemporary(strPath);
  }
};

// True when the open target holds exactly the source's lngSize bytes,
// compared block by block (never judged by size and time alone).
bool fncSameBytes(FileHandle objSource, FileHandle objTarget, uint64_t lngSize, char* pBuffers,
                  Digest& objDigest) {
  char* pTarget = pBuffers + kCompareBlock;
  uint64_t lngAt = 0;
  // By the system where it compares ranges itself (bytes that must be
  // hashed are read here): mapping the files saves copying their bytes where
  // that is cheaper than mapping their pages.
  if (Os().fncCompareRange != nullptr && objDigest.objHash == nullptr) {
    while (lngAt < lngSize) {
      const size_t lngLength =
          static_cast<size_t>(lngSize - lngAt < kMapBlock ? lngSize - lngAt : kMapBlock);
      const int intSame = Os().fncCompareRange(objSource, objTarget, lngAt, lngLength);
      if (intSame == 0) return false;
      if (intSame < 0) break;  // the reads below take it from here
      lngAt += lngLength;
    }
  }
  for (;;) {
    size_t lngSource = Os().fncReadAt(objSource, lngAt, pBuffers, kCompareBlock);
    size_t lngTarget = Os().fncReadAt(objTarget, lngAt, pTarget, kCompareBlock);
    if (lngSource != lngTarget || std::memcmp(pBuffers, pTarget, lngSource) != 0) return false;
    objDigest.subAdd(pBuffers, lngSource);
    if (lngSource == 0) return lngAt == lngSize;
    lngAt += lngSource;
  }
}

// A target that already holds the source's bytes stays where it is: its
// times and identity are kept, and a library or program in use that is
// already current deploys. It gets, in place, the mode or attributes a copy
// would give it, and is flushed. Whether it may be written does not matter:
// it is not written. False when it cannot be shown to hold the bytes.
bool fncLeftInPlace(const std::string& strTarget, const FileInfo& objTarget,
                    FileHandle objSource, const FileInfo& objSourceInfo, char* pBuffers,
                    const std::string& strSha256) {
  if (!objTarget.blnRegular || objTarget.lngSize != objSourceInfo.lngSize) return false;
  OpenFile objFile;
  FileInfo objOpened;
  try {
    objFile.objHandle = Os().fncOpenRead(strTarget, &objOpened);
  } catch (const Error&) {
    return false;  // in use without sharing, or unreadable: the copy decides
  }
  if (objOpened.blnIdentity && objTarget.blnIdentity &&
      (objOpened.lngVolume != objTarget.lngVolume || objOpened.lngIndex != objTarget.lngIndex))
    return false;  // replaced meanwhile
  Digest objDigest(!strSha256.empty());
  if (!objOpened.blnRegular ||
      !fncSameBytes(objSource, objFile.objHandle, objSourceInfo.lngSize, pBuffers, objDigest))
    return false;
  // A sealed source that changed since the seal was checked: the target
  // holds the changed bytes, and stays only as any failed copy leaves it.
  if (!objDigest.fncMatches(strSha256)) subRaiseNumber(kErrInvalidData);
  // Where the mode cannot be set in place (another user's file), the copy
  // replaces the target instead.
  const uint32_t lngWanted = objSourceInfo.lngMode & Os().lngKeptMode;
  if ((objOpened.lngMode & Os().lngModeBits) != lngWanted) {
    try {
      Os().subSetModeAndTime(objFile.objHandle, lngWanted, 0);
    } catch (const Error&) {
      return false;
    }
  }
  try {
    Os().subFlush(objFile.objHandle);
  } catch (const Error& objError) {
    // Windows flushes only through a handle that may write, which a
    // read-only file or a program in use does not give: the bytes it holds
    // were flushed when they were placed.
    if (objError.lngNumber != kErrAccessDenied && objError.lngNumber != kErrSharingViolation)
      throw;
  }
  return true;
}

// The replaced target's owner, group and access list pass to the new file,
// as an overwrite in place kept them: an administrator's rights on a
// deployed file survive a redeploy. The owner only where the run may set
// it; where nothing can be kept, the new file has the folder's own rights,
// as a first copy has.
void subKeepSecurity(const std::string& strTarget, FileHandle objNew) {
  std::string strSecurity;
  try {
    strSecurity = Os().fncReadSecurity(strTarget);
  } catch (const Error&) {
    return;
  }
  for (bool blnOwner : {true, false}) {
    try {
      Os().subApplySecurity(objNew, strSecurity, blnOwner);
      return;
    } catch (const Error& objError) {
      if (objError.lngNumber != kErrAccessDenied) return;
    }
  }
}

// Fills the temporary file; the number of bytes copied. Bytes that must be
// hashed pass through the program; others the kernel may copy by itself.
uint64_t fncStream(FileHandle objFrom, FileHandle objTo, char* pBuffer, Digest& objDigest) {
  uint64_t lngCopied = 0;
  if (Os().fncCopyRange != nullptr && objDigest.objHash == nullptr) {
    for (;;) {
      int64_t lngDone = Os().fncCopyRange(objFrom, lngCopied, objTo, uint64_t(1) << 30);
      // 0 may also be a file system that copies nothing by itself: the
      // reads below tell where the source really ends.
      if (lngDone <= 0) break;
      lngCopied += static_cast<uint64_t>(lngDone);
    }
  }
  for (;;) {
    size_t lngRead = Os().fncReadAt(objFrom, lngCopied, pBuffer, kCopyBlock);
    if (lngRead == 0) return lngCopied;
    objDigest.subAdd(pBuffer, lngRead);
    Os().subWrite(objTo, pBuffer, lngRead);
    lngCopied += lngRead;
  }
}

}  // namespace

CopyOutcome subCopyFile(const std::string& strSource, const std::string& strDestination,
                        const std::string& strSha256) {
  // A destination ending in a separator names the folder: the copy takes
  // the source's own name as stored, never its short (8.3) alias.
  std::string strTarget = strDestination;
  if (!strTarget.empty() && fncIsSeparator(strTarget.back()))
    strTarget += Os().fncStoredName(strSource);
  // Refused before anything is made: no later step could reach the path.
  if (Os().lngPathLimit != 0 && strTarget.size() >= Os().lngPathLimit)
    subRaiseNumber(kErrPathTooLong);

  FileInfo objSourceInfo;
  int32_t lngFound = Os().fncQueryFile(strSource, &objSourceInfo);
  // A source that is not there is "file not found", whether its file or
  // its folder is missing; a folder says what it is.
  if (lngFound == kErrPathNotFound) lngFound = kErrFileNotFound;
  if (lngFound != 0) subRaiseNumber(lngFound);
  if (objSourceInfo.blnFolder) subRaiseNumber(kErrIsFolder);
  OpenFile objSource;
  objSource.objHandle = Os().fncOpenRead(strSource, &objSourceInfo);
  // Only a plain file has an end: a FIFO or a device is refused.
  if (objSourceInfo.blnFolder) subRaiseNumber(kErrIsFolder);
  if (!objSourceInfo.blnRegular) subRaiseNumber(kErrInvalidParameter);

  const std::string strFolder = fncFolderPart(strTarget);
  FileInfo objFolderInfo;
  int32_t lngFolder = Os().fncQueryFile(strFolder, &objFolderInfo);
  if (lngFolder == kErrFileNotFound || (lngFolder == 0 && !objFolderInfo.blnFolder))
    lngFolder = kErrPathNotFound;
  if (lngFolder != 0) subRaiseNumber(lngFolder);

  // Allocated before any temporary file exists.
  std::unique_ptr<char[]> objBuffer(new char[kCopyBlock > 2 * kCompareBlock ? kCopyBlock
                                                                            : 2 * kCompareBlock]);
  FileInfo objTargetInfo;
  const int32_t lngTarget = Os().fncQueryFile(strTarget, &objTargetInfo);
  if (lngTarget != 0 && lngTarget != kErrFileNotFound) subRaiseNumber(lngTarget);
  const bool blnExists = lngTarget == 0;
  if (blnExists) {
    // A folder of the target's name is no target.
    if (objTargetInfo.blnFolder) subRaiseNumber(kErrAccessDenied);
    // The same file by another path (a link, a status folder that is the
    // application folder): a caller that deletes the source after a good
    // copy would lose it.
    if (objTargetInfo.blnIdentity && objSourceInfo.blnIdentity &&
        objTargetInfo.lngVolume == objSourceInfo.lngVolume &&
        objTargetInfo.lngIndex == objSourceInfo.lngIndex)
      subRaiseNumber(kErrAccessDenied);
    if (fncLeftInPlace(strTarget, objTargetInfo, objSource.objHandle, objSourceInfo,
                       objBuffer.get(), strSha256))
      return CopyOutcome{true, objSourceInfo.lngSize};
    // An installed read-only file with other bytes is left alone.
    if (objTargetInfo.blnReadOnly) subRaiseNumber(kErrAccessDenied);
  }

  Temporary objTemporary(strFolder, fncNamePart(strTarget));
  Digest objDigest(!strSha256.empty());
  const uint64_t lngCopied = fncStream(objSource.objHandle, objTemporary.objFile.objHandle,
                                       objBuffer.get(), objDigest);
  // Fewer (or more) bytes than the source had: it was cut or changed while
  // it was read, and such a file is never placed.
  if (lngCopied != objSourceInfo.lngSize) subRaiseNumber(kErrIoError);
  // What is placed is what was sealed: the bytes written are those hashed.
  if (!objDigest.fncMatches(strSha256)) subRaiseNumber(kErrInvalidData);
  if (blnExists) subKeepSecurity(strTarget, objTemporary.objFile.objHandle);
  // The source's mode bits (less group and other write, less set-user-ID,
  // set-group-ID and sticky) or attributes, and its time of last change.
  Os().subSetModeAndTime(objTemporary.objFile.objHandle,
                         objSourceInfo.lngMode & Os().lngKeptMode, objSourceInfo.lngModified);
  // On the disk before it replaces the target, and the folder's entry
  // before the copy is reported.
  Os().subFlush(objTemporary.objFile.objHandle);
  if (!objTemporary.objFile.fncClose()) subRaiseNumber(kErrIoError);
  Os().subReplace(objTemporary.strPath, strTarget);
  objTemporary.blnPlaced = true;
  Os().subFlushFolder(strFolder);
  return CopyOutcome{false, lngCopied};
}

}  // namespace tarvex
