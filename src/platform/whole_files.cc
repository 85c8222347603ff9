// Files read whole, written whole and hashed, the same on both builds and
// written once over the table's primitives: what may be read (a regular
// file, and where the name itself is asked for, never a link), how much,
// and how; how a whole file is replaced without ever being half-written.
#include <memory>

#include "platform/platform.h"

namespace tarvex {

namespace {

// Bytes read at a time: few calls, and little memory for a small file.
const size_t kBlock = 1 << 20;

[[noreturn]] void subRaiseNumber(int32_t lngNumber) { subRaise(lngNumber, fncErrorText(lngNumber)); }

// An open file, closed on every way out.
struct Opened {
  FileHandle objHandle = kNoFile;
  FileInfo objInfo;
  Opened(const std::string& strPath, bool blnAtName) {
    objHandle = blnAtName ? Os().fncOpenNoFollow(strPath, &objInfo)
                          : Os().fncOpenRead(strPath, &objInfo);
    // Only a plain file has an end: a FIFO or a device would block the
    // read or never end it.
    if (objInfo.blnFolder) subRaiseNumber(kErrIsFolder);
    if (!objInfo.blnRegular) subRaiseNumber(kErrInvalidParameter);
  }
  Opened(const Opened&) = delete;
  Opened& operator=(const Opened&) = delete;
  ~Opened() {
    if (objHandle != kNoFile) Os().fncClose(objHandle);
  }
};

// A hash state, freed on every way out.
struct Hashing {
  Hasher objHash = Os().fncHashBegin();
  Hashing() = default;
  Hashing(const Hashing&) = delete;
  Hashing& operator=(const Hashing&) = delete;
  ~Hashing() {
    if (objHash == nullptr) return;
    try {
      Os().fncHashEnd(objHash);
    } catch (...) {
    }
  }
  std::string fncEnd() {
    Hasher objDone = objHash;
    objHash = nullptr;
    return Os().fncHashEnd(objDone);
  }
};

}  // namespace

std::string fncReadWholeFile(const std::string& strPath, uint64_t lngCap, bool blnAtName) {
  Opened objFile(strPath, blnAtName);
  // The size is looked at before any memory is taken: a sparse file of
  // gigabytes costs nothing to refuse.
  if (objFile.objInfo.lngSize > lngCap) subRaiseNumber(kErrFileTooLarge);
  std::string strData(static_cast<size_t>(objFile.objInfo.lngSize), '\0');
  uint64_t lngAt = 0;
  for (;;) {
    // One byte beyond what the file had shows that it grew meanwhile.
    if (lngAt == strData.size()) {
      if (strData.size() > lngCap) subRaiseNumber(kErrFileTooLarge);
      strData.resize(strData.size() + (lngCap - strData.size() < kBlock
                                            ? static_cast<size_t>(lngCap - strData.size() + 1)
                                            : kBlock));
    }
    const size_t lngRead = Os().fncReadAt(objFile.objHandle, lngAt, &strData[lngAt],
                                          strData.size() - static_cast<size_t>(lngAt));
    if (lngRead == 0) break;
    lngAt += lngRead;
  }
  // A file that ends before the size it had was cut while it was read:
  // half a file is never taken for a whole one.
  if (lngAt < objFile.objInfo.lngSize) subRaiseNumber(kErrIoError);
  strData.resize(static_cast<size_t>(lngAt));
  return strData;
}

void subReplaceWholeFile(const std::string& strFolder, const std::string& strName,
                         const std::string& strBytes) {
  std::string strTemporary;
  FileHandle objFile = fncCreateTemporary(strFolder, strName, &strTemporary, true);
  try {
    Os().subWrite(objFile, strBytes.data(), strBytes.size());
    Os().subFlush(objFile);
    FileHandle objClosing = objFile;
    objFile = kNoFile;
    if (!Os().fncClose(objClosing)) subRaiseNumber(kErrIoError);
    std::string strPath = strFolder;
    if (strPath.empty() || (strPath.back() != Os().chrSeparator && strPath.back() != '/'))
      strPath += Os().chrSeparator;
    Os().subReplace(strTemporary, strPath + strName);
  } catch (...) {
    if (objFile != kNoFile) Os().fncClose(objFile);
    subDiscardTemporary(strTemporary);
    throw;
  }
  Os().subFlushFolder(strFolder);
}

std::string fncHashFile(const std::string& strPath) {
  Opened objFile(strPath, false);
  Hashing objHash;
  // A small file gets a small buffer, left uninitialised: a package is
  // mostly small files, and clearing a whole block for each cost more than
  // hashing it.
  const size_t lngBlock =
      objFile.objInfo.lngSize < kBlock ? static_cast<size_t>(objFile.objInfo.lngSize) + 1 : kBlock;
  std::unique_ptr<char[]> objBlock(new char[lngBlock]);
  for (uint64_t lngAt = 0;;) {
    const size_t lngRead = Os().fncReadAt(objFile.objHandle, lngAt, objBlock.get(), lngBlock);
    if (lngRead == 0) break;
    Os().subHashAdd(objHash.objHash, objBlock.get(), lngRead);
    lngAt += lngRead;
  }
  return objHash.fncEnd();
}

std::string fncHashBytes(const std::string& strBytes) {
  Hashing objHash;
  Os().subHashAdd(objHash.objHash, strBytes.data(), strBytes.size());
  return objHash.fncEnd();
}

}  // namespace tarvex
