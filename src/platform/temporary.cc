// Temporary files, the same on both builds and written once over the
// table's primitives: the copy engine fills one before it replaces a
// target, and the POSIX profile writer before it replaces a profile file.
#include <cstdio>
#include <set>

#include "platform/platform.h"

namespace tarvex {

namespace {

uint32_t g_lngTemporaries = 0;  // this run's temporary files so far
std::set<std::string> g_objSwept;  // folders cleared of leftovers

bool fncIsSeparator(char chr) { return chr == '/' || chr == Os().chrSeparator; }

std::string fncJoin(const std::string& strFolder, const std::string& strName) {
  if (!strFolder.empty() && fncIsSeparator(strFolder.back())) return strFolder + strName;
  return strFolder + Os().chrSeparator + strName;
}

std::string fncHashText(const std::string& strName) {
  char chrHash[16];
  std::snprintf(chrHash, sizeof chrHash, "~%08x", static_cast<unsigned>(fncNameHash(strName)));
  return chrHash;
}

// Removes the temporary files that runs which have ended left in a folder
// (a run killed in the middle of a copy). A file whose run still exists is
// that run's own and stays. Once per folder and run: a folder of many
// targets is read once. A folder that cannot be listed keeps its leftovers.
void subRemoveLeftovers(const std::string& strFolder) {
  if (!g_objSwept.insert(strFolder).second) return;
  std::vector<std::string> objNames;
  try {
    objNames = Os().fncListFiles(strFolder);
  } catch (const Error&) {
    return;
  }
  const std::string strPrefix = Os().strHiddenPrefix;
  const uint32_t lngSelf = Os().fncCurrentProcessID();
  for (const std::string& strName : objNames) {
    if (strName.compare(0, strPrefix.size(), strPrefix) != 0) continue;
    const uint32_t lngOwner = fncTemporaryOwner(strName);
    if (lngOwner == 0 || lngOwner == lngSelf || !Os().fncProcessEnded(lngOwner)) continue;
    subDiscardTemporary(fncJoin(strFolder, strName));
  }
}

}  // namespace

std::string fncTemporaryPath(const std::string& strFolder, const std::string& strName,
                             uint32_t lngSerial) {
  const std::string strEnding = fncTemporaryEnding(Os().fncCurrentProcessID(), lngSerial);
  const std::string strPrefix = Os().strHiddenPrefix;
  std::string strLeaf = strPrefix + strName + strEnding;
  // A name too long for a folder entry is cut and carries a hash instead.
  const size_t lngRoom = strPrefix.size() + 9 + strEnding.size();
  if (strLeaf.size() > Os().lngNameLimit && Os().lngNameLimit > lngRoom)
    strLeaf = strPrefix + strName.substr(0, Os().lngNameLimit - lngRoom) + fncHashText(strName) +
              strEnding;
  std::string strPath = fncJoin(strFolder, strLeaf);
  // A path the system cannot reach (Windows: MAX_PATH) takes the folder's
  // short form and the hash alone, so that a target near the limit can
  // still be replaced and its temporary file removed.
  if (Os().lngPathLimit != 0 && strPath.size() >= Os().lngPathLimit) {
    std::string strShort = Os().fncShortPathName(strFolder);
    strPath = fncJoin(strShort.empty() ? strFolder : strShort,
                      strPrefix + fncHashText(strName) + strEnding);
  }
  return strPath;
}

std::string fncNextTemporaryPath(const std::string& strFolder, const std::string& strName) {
  return fncTemporaryPath(strFolder, strName, g_lngTemporaries + 1);
}

FileHandle fncCreateTemporary(const std::string& strFolder, const std::string& strName,
                              std::string* pPath, bool blnShared) {
  subRemoveLeftovers(strFolder);
  // Made exclusively, never through an existing file or link; a name taken
  // (a run of the same ID in another namespace) moves on to the next count.
  for (int intTry = 0;; ++intTry) {
    std::string strTry = fncTemporaryPath(strFolder, strName, ++g_lngTemporaries);
    try {
      FileHandle objFile = Os().fncCreateNew(strTry, blnShared);
      *pPath = strTry;
      return objFile;
    } catch (const Error& objError) {
      if (objError.lngNumber != kErrFileExists || intTry >= 100) throw;
    }
  }
}

void subDiscardTemporary(const std::string& strPath) {
  if (strPath.empty()) return;
  try {
    Os().subDeleteFile(strPath);
  } catch (...) {
  }
}

void subForgetSweptFolders() { g_objSwept.clear(); }

}  // namespace tarvex
