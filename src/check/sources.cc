// A copy source as a run opens it: through a link, wherever the link
// leads; only a regular file; only what this account may read. And what
// its copy keeps of it that stops a program from starting.
#include "check/check.h"
#include "control/run_state.h"
#include "deploy/deploy.h"

namespace tarvex {

namespace {

// Opens and closes a file: 0, or the error raised (in *pError).
int32_t fncTryOpen(const std::string& strPath, bool blnAtName, FileInfo* pInfo, Error* pError) {
  try {
    const FileHandle objFile =
        blnAtName ? Os().fncOpenNoFollow(strPath, pInfo) : Os().fncOpenRead(strPath, pInfo);
    Os().fncClose(objFile);
    return 0;
  } catch (...) {
    *pError = fncTrappedError();
    return pError->lngNumber;
  }
}

// The regular file directly in the package folder that a file opened
// through a link is, by identity; "" when it is none of them.
std::string fncPackageFileOf(PackageFiles& objFiles, const FileInfo& objInfo) {
  if (!objFiles.blnRead) {
    objFiles.blnRead = true;
    for (const std::string& strName : Os().fncListFiles(objFiles.strFolder)) {
      FileInfo objFound;
      Error objError{0, ""};
      // A link is no file of the package's own: where it leads is asked.
      if (fncTryOpen(fncJoinPath(objFiles.strFolder, strName), true, &objFound, &objError) == 0 &&
          objFound.blnRegular && objFound.blnIdentity)
        objFiles.objByIdentity.emplace(std::make_pair(objFound.lngVolume, objFound.lngIndex),
                                       strName);
    }
  }
  if (!objInfo.blnIdentity) return "";
  auto it = objFiles.objByIdentity.find(std::make_pair(objInfo.lngVolume, objInfo.lngIndex));
  return it == objFiles.objByIdentity.end() ? "" : it->second;
}

}  // namespace

bool fncIsLink(const std::string& strPath) {
  FileInfo objInfo;
  Error objError{0, ""};
  return fncTryOpen(strPath, true, &objInfo, &objError) == kErrStoppedAtLink;
}

void subCheckSource(PackageFiles& objFiles, const std::string& strName, long lngLine,
                    bool blnProgram, std::vector<Finding>& objFindings) {
  // strWhat: "source" or "program".
  auto subFind = [&](CheckRule intRule, const char* strWhat, const std::string& strText) {
    objFindings.push_back(
        Finding{intRule, lngLine, std::string(strWhat) + " " + fncQuote(strName) + strText, ""});
  };
  const std::string strSource = fncJoinPath(objFiles.strFolder, strName);
  const bool blnLink = fncIsLink(strSource);
  FileInfo objInfo;
  Error objError{0, ""};
  // A socket cannot be opened at all (87), a FIFO or device is no file
  // with an end: the copy refuses both with 87.
  const int32_t lngOpened = fncTryOpen(strSource, false, &objInfo, &objError);
  if (lngOpened == kErrInvalidParameter || (lngOpened == 0 && !objInfo.blnRegular)) {
    subFind(kRuleIrregularSource, "source",
            " is not a regular file (a FIFO, device or socket): a run fails this entry (87)");
    return;
  }
  if (lngOpened != 0) {
    subFind(kRuleUnreadableSource, "source",
            " cannot be read:" + fncErrorSuffix(objError) + ": a run fails this entry");
    return;
  }
  if (blnLink) {
    const std::string strTarget = fncPackageFileOf(objFiles, objInfo);
    if (!strTarget.empty())
      subFind(kRuleLinkedSource, "source",
              " is a link to " + fncQuote(strTarget) +
                  " in the package folder: a run copies that file");
    else
      subFind(kRuleOutsideSource, "source",
              " is a link that leads out of the package folder: a run copies what it leads to");
  }
  // A copy keeps its source's attributes (on POSIX its permission bits).
  const uint32_t lngTraits = Os().fncFileTraits(strSource);
  if (lngTraits & kTraitReadOnly)
    subFind(kRuleReadOnlySource, "source",
            " is read-only, and so is its copy: later runs leave it in place while it holds "
            "these bytes, and cannot replace it with other bytes");
  if (blnProgram && (lngTraits & kTraitNotRunnable))
    subFind(kRuleNotRunnable, "program",
            " has no execute permission, nor has its copy: a run fails to start it (5)");
  if (blnProgram && objInfo.lngSize == 0)
    subFind(kRuleEmptyProgram, "program", " is empty (0 bytes): a run fails to start it (193)");
}

}  // namespace tarvex
