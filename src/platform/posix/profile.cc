// Profile (INI) files with the rules and return values of the Win32 calls
// GetPrivateProfileStringA (empty default), GetPrivateProfileSectionNamesA
// and WritePrivateProfileStringA.
//
// Reading, as the Win32 profile code does it:
// - A line ends at CR, LF or CR LF. Blanks (TAB, LF, VT, FF, CR, ^Z, space)
//   around a line, around a name and around a value are dropped; blank lines
//   are skipped.
// - A line that starts with '[' and holds a ']' opens a section named by the
//   text between the '[' and the LAST ']' (blanks trimmed); text after that
//   ']' is ignored. A '[' line without ']' is an ordinary key line.
// - Any other line is a key: the name is the text before the first '=', the
//   value the text after it. A line without '=' is a key without a value,
//   which reads as missing, and, being found first, hides a later "name=".
// - Comment lines (';') are keys like any other: they are skipped by nothing
//   but their odd names; ";x=1" answers a lookup of ";x". '#' is no comment.
// - Lines before the first section form a nameless section; a lookup of the
//   section "" finds it (never a later "[]"), and the name list leaves out
//   every nameless section.
// - Names compare without regard to ASCII case, after trimming the blanks of
//   the names asked for. The first of duplicate sections and the first of
//   duplicate keys answer; the name list shows every section, duplicates too.
// - A value wholly enclosed in matching quotes (both ' or both ") loses them.
//   When the buffer is exactly one byte short of the quoted text, the Win32
//   code still drops the last copied byte, so the result is one byte shorter
//   than the buffer would allow; this is kept.
// - A NUL byte ends a name or a value where it stands (the Win32 strings are
//   C strings), after the line has been split at its '=' and brackets.
// - A byte-order mark selects the encoding: UTF-8 (mark dropped), UTF-16LE or
//   UTF-16BE (converted to UTF-8, the code page of this build); without one
//   the bytes are taken as they are.
// - A missing file, a folder or a file that cannot be read reads as empty.
//
// The parsed form of each file is cached, keyed by path and checked against
// the file's device, inode, size, modification and change times at every
// call; while they are unchanged the file is neither read nor parsed again,
// so a run's reads cost the same per entry however long the manifest.
//
// Writing edits the file's text rather than rewriting it from the parsed
// form: an existing key's line is replaced in place, a new key goes after the
// last non-blank line of its section, a new section goes to the end of the
// file. Everything else stays byte for byte. New lines end like the file's
// first line (LF or CR LF; CR LF for a new file). The whole file is then
// replaced in one step. A value's leading blanks are dropped, as the Win32
// call does; a value holding CR or LF is written as it is.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <list>
#include <memory>
#include <unordered_map>

#include "platform/posix/internal.h"
#include "platform/posix/profile_text.h"

namespace tarvex {
namespace posix {

namespace {

using namespace profile;

// ---- files and the cache

enum ReadResult { kReadOk, kReadMissing, kReadFailed };

struct FileId {
  dev_t lngDevice;
  ino_t lngInode;
  off_t lngSize;
  int64_t lngModified;  // ns
  int64_t lngChanged;   // ns
  bool operator==(const FileId& o) const {
    return lngDevice == o.lngDevice && lngInode == o.lngInode && lngSize == o.lngSize &&
           lngModified == o.lngModified && lngChanged == o.lngChanged;
  }
};

FileId fncFileId(const struct stat& objStat) {
  return FileId{
      objStat.st_dev, objStat.st_ino, objStat.st_size,
      static_cast<int64_t>(objStat.st_mtim.tv_sec) * 1000000000 + objStat.st_mtim.tv_nsec,
      static_cast<int64_t>(objStat.st_ctim.tv_sec) * 1000000000 + objStat.st_ctim.tv_nsec};
}

// The whole file; a folder or anything else that is no regular file fails.
// Opening does not wait: a FIFO at the name would wait for a writer for
// ever, with the run lock held.
ReadResult fncReadFile(const std::string& strPath, std::string& strData, FileId& objId) {
  int intFile = open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (intFile < 0) return errno == ENOENT || errno == ENOTDIR ? kReadMissing : kReadFailed;
  struct stat objStat;
  if (fstat(intFile, &objStat) != 0 || !S_ISREG(objStat.st_mode)) {
    close(intFile);
    return kReadFailed;
  }
  objId = fncFileId(objStat);
  strData.clear();
  try {
    strData.reserve(static_cast<size_t>(objStat.st_size));
  } catch (...) {
    close(intFile);
    return kReadFailed;
  }
  bool blnRead = fncReadAll(intFile, strData);
  close(intFile);
  return blnRead ? kReadOk : kReadFailed;
}

struct CacheEntry {
  FileId objId;
  std::shared_ptr<const Profile> objProfile;
};

const size_t kCacheEntries = 16;

// Most recently used first.
std::list<std::pair<std::string, CacheEntry>> g_objCache;

// Takes the raw bytes over: the cached form keeps no second copy.
std::shared_ptr<const Profile> fncParse(std::string&& strRaw) {
  auto objProfile = std::make_shared<Profile>();
  subDecode(std::move(strRaw), *objProfile);
  subParse(*objProfile);
  return objProfile;
}

void subForget(const std::string& strPath) {
  for (auto it = g_objCache.begin(); it != g_objCache.end(); ++it) {
    if (it->first == strPath) {
      g_objCache.erase(it);
      return;
    }
  }
}

// The parsed file, or null when it is missing or cannot be read.
std::shared_ptr<const Profile> fncLoad(const std::string& strPath) {
  struct stat objStat;
  if (stat(strPath.c_str(), &objStat) != 0 || !S_ISREG(objStat.st_mode)) {
    subForget(strPath);
    return nullptr;
  }
  FileId objId = fncFileId(objStat);
  auto itEntry = g_objCache.begin();
  while (itEntry != g_objCache.end() && itEntry->first != strPath) ++itEntry;
  // The manifest does not change during a run and the program's own writes
  // replace the file (a new inode), so an unchanged identity, size and
  // nanosecond times mean unchanged bytes: no re-read, no re-parse.
  if (itEntry != g_objCache.end() && itEntry->second.objId == objId) {
    g_objCache.splice(g_objCache.begin(), g_objCache, itEntry);
    return itEntry->second.objProfile;
  }
  std::string strRaw;
  if (fncReadFile(strPath, strRaw, objId) != kReadOk) {
    subForget(strPath);
    return nullptr;
  }
  if (itEntry != g_objCache.end()) g_objCache.erase(itEntry);
  CacheEntry objEntry{objId, fncParse(std::move(strRaw))};
  g_objCache.emplace_front(strPath, std::move(objEntry));
  if (g_objCache.size() > kCacheEntries) g_objCache.pop_back();
  return g_objCache.front().second.objProfile;
}

// Copies a value as the Win32 code does: quotes dropped, cut to the buffer.
uint32_t fncCopyValue(const std::string& strValue, char* pBuffer, uint32_t lngSize) {
  const char* pValue = strValue.c_str();
  size_t lngLength = strValue.size();
  bool blnQuoted = false;
  if (lngLength >= 2 && (pValue[0] == '\'' || pValue[0] == '"') &&
      pValue[lngLength - 1] == pValue[0]) {
    blnQuoted = true;
    ++pValue;
    --lngLength;  // the closing quote is still counted here
  }
  size_t lngCopied = lngLength < lngSize - 1 ? lngLength : lngSize - 1;
  std::memcpy(pBuffer, pValue, lngCopied);
  if (blnQuoted && lngSize >= lngLength && lngCopied > 0) --lngCopied;
  pBuffer[lngCopied] = '\0';
  return static_cast<uint32_t>(lngCopied);
}

}  // namespace

uint32_t fncGetProfileString(const std::string& strSection, const std::string& strKey,
                             char* pBuffer, uint32_t lngSize, const std::string& strFile) {
  if (pBuffer == nullptr || lngSize == 0) return 0;
  try {
    std::shared_ptr<const Profile> objProfile = fncLoad(strFile);
    const Key* pKey = nullptr;
    if (objProfile) {
      const Section* pSection = fncFindSection(*objProfile, strSection);
      if (pSection != nullptr) pKey = fncFindKey(*pSection, strKey);
    }
    if (pKey == nullptr || !pKey->blnHasValue) {
      pBuffer[0] = '\0';
      return 0;
    }
    return fncCopyValue(pKey->strValue, pBuffer, lngSize);
  } catch (...) {
    pBuffer[0] = '\0';
    return 0;
  }
}

uint32_t fncGetProfileSectionNames(char* pBuffer, uint32_t lngSize, const std::string& strFile) {
  if (pBuffer == nullptr || lngSize == 0) return 0;
  pBuffer[0] = '\0';
  if (lngSize == 1) return 0;
  try {
    std::shared_ptr<const Profile> objProfile = fncLoad(strFile);
    if (!objProfile) return 0;
    const std::string& strNames = objProfile->strNames;
    // Room for names, each with its NUL, before the final NUL.
    size_t lngRoom = lngSize - 1;
    size_t lngPos = 0;
    while (lngPos < strNames.size()) {
      size_t lngLength = std::strlen(strNames.c_str() + lngPos) + 1;
      if (lngLength >= lngRoom) {
        // The last name is cut so that the list still ends in two NULs.
        std::memcpy(pBuffer + lngPos, strNames.data() + lngPos, lngRoom - 1);
        pBuffer[lngPos + lngRoom - 1] = '\0';
        pBuffer[lngPos + lngRoom] = '\0';
        return lngSize - 2;
      }
      std::memcpy(pBuffer + lngPos, strNames.data() + lngPos, lngLength);
      lngPos += lngLength;
      lngRoom -= lngLength;
    }
    pBuffer[lngPos] = '\0';
    return static_cast<uint32_t>(lngPos);
  } catch (...) {
    pBuffer[0] = '\0';
    return 0;
  }
}

bool fncWriteProfileString(const std::string& strSection, const std::string& strKey,
                           const std::string& strValue, const std::string& strFile) {
  try {
    subForget(strFile);
    std::string strRaw;
    FileId objId;
    ReadResult intRead = fncReadFile(strFile, strRaw, objId);
    if (intRead == kReadFailed) return false;
    if (intRead == kReadOk) {
      // A read-only file refuses the write, as its Windows counterpart does.
      struct stat objStat;
      if (stat(strFile.c_str(), &objStat) != 0 || (objStat.st_mode & S_IWUSR) == 0) return false;
    }
    std::string strNewValue = fncCString(strValue);
    size_t lngLead = 0;
    while (lngLead < strNewValue.size() && fncIsBlank(strNewValue[lngLead])) ++lngLead;
    strNewValue.erase(0, lngLead);
    std::shared_ptr<const Profile> objProfile = fncParse(std::move(strRaw));
    std::string strText;
    if (!fncEdit(*objProfile, strSection, strKey, strNewValue, strText)) return true;
    subReplaceFileContent(strFile, fncEncode(*objProfile, strText));
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace posix
}  // namespace tarvex
