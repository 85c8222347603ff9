// The POSIX build's profile calls, by the rules and with the results of
// their Win32 counterparts (see platform/profile_text.h). A run reads its
// manifest once, as bytes, and parses them itself; these calls serve the
// status file, which a run writes key by key, and the tests that hold the
// rules against the Win32 calls.
//
// A missing file, a folder or a file that cannot be read reads as empty.
// Writing edits the file's text and replaces the whole file in one step. A
// value's leading blanks are dropped, as the Win32 call does; a value
// holding CR or LF is written as it is.
#include <memory>

#include "platform/posix/internal.h"
#include "platform/profile_text.h"

namespace tarvex {
namespace posix {

namespace {

using namespace profile;

// Far beyond any status file.
const uint64_t kProfileCap = 16u << 20;

enum ReadResult { kReadOk, kReadMissing, kReadFailed };

ReadResult fncReadFile(const std::string& strPath, std::string& strData) {
  try {
    strData = fncReadWholeFile(strPath, kProfileCap, false);
    return kReadOk;
  } catch (const Error& objError) {
    return objError.lngNumber == kErrFileNotFound || objError.lngNumber == kErrPathNotFound
               ? kReadMissing
               : kReadFailed;
  }
}

// The parsed file, or null when it is missing or cannot be read.
std::unique_ptr<Profile> fncLoad(const std::string& strPath) {
  std::string strRaw;
  if (fncReadFile(strPath, strRaw) != kReadOk) return nullptr;
  return std::unique_ptr<Profile>(new Profile(fncParseBytes(std::move(strRaw))));
}

}  // namespace

uint32_t fncGetProfileString(const std::string& strSection, const std::string& strKey,
                             char* pBuffer, uint32_t lngSize, const std::string& strFile) {
  if (pBuffer == nullptr || lngSize == 0) return 0;
  try {
    return fncGetString(fncLoad(strFile).get(), strSection, strKey, pBuffer, lngSize);
  } catch (...) {
    pBuffer[0] = '\0';
    return 0;
  }
}

uint32_t fncGetProfileSectionNames(char* pBuffer, uint32_t lngSize, const std::string& strFile) {
  if (pBuffer == nullptr || lngSize == 0) return 0;
  try {
    return fncGetSectionNames(fncLoad(strFile).get(), pBuffer, lngSize);
  } catch (...) {
    pBuffer[0] = '\0';
    return 0;
  }
}

bool fncWriteProfileString(const std::string& strSection, const std::string& strKey,
                           const std::string& strValue, const std::string& strFile) {
  try {
    std::string strRaw;
    ReadResult intRead = fncReadFile(strFile, strRaw);
    if (intRead == kReadFailed) return false;
    if (intRead == kReadOk) {
      // A read-only file refuses the write, as its Windows counterpart does.
      FileInfo objInfo;
      if (fncQueryFile(strFile, &objInfo) != 0 || objInfo.blnReadOnly) return false;
    }
    std::string strNewValue = fncCString(strValue);
    size_t lngLead = 0;
    while (lngLead < strNewValue.size() && fncIsBlank(strNewValue[lngLead])) ++lngLead;
    strNewValue.erase(0, lngLead);
    const Profile objProfile = fncParseBytes(std::move(strRaw));
    std::string strText;
    if (!fncEdit(objProfile, strSection, strKey, strNewValue, strText)) return true;
    subReplaceFileContent(strFile, fncEncode(objProfile, strText));
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace posix
}  // namespace tarvex
