// The versions this machine has deployed: TarvexState.ini in the agent's
// installation folder, section Versions, a key per package holding the
// highest version that a run completed with SUCCESS. A signed package older
// than that is never run again (a replayed package with a known hole).
#include <memory>

#include "control/run_state.h"
#include "deploy/signature.h"
#include "environment/environment.h"
#include "status/status.h"

namespace tarvex {

namespace {

const char kSection[] = "Versions";
// Far beyond a machine's packages.
const uint64_t kStateCap = 1u << 20;

std::string fncStatePath() { return g_run.strInstallPath + kStateName; }

// The file's parsed text; null when it is not there. Raises Error.
std::unique_ptr<profile::Profile> fncReadState() {
  std::string strBytes;
  try {
    strBytes = fncReadWholeFile(fncStatePath(), kStateCap, true);
  } catch (const Error& objError) {
    if (objError.lngNumber == kErrFileNotFound) return nullptr;
    throw;
  }
  return std::unique_ptr<profile::Profile>(
      new profile::Profile(profile::fncParseBytes(std::move(strBytes))));
}

}  // namespace

VersionRecord fncRecordedVersion(const std::string& strPackage) {
  VersionRecord objRecord;
  try {
    std::unique_ptr<profile::Profile> objState = fncReadState();
    char chrValue[32];
    if (objState == nullptr ||
        profile::fncGetString(objState.get(), kSection, strPackage, chrValue, sizeof chrValue) == 0)
      return objRecord;
    objRecord.blnFound = true;
    // A record that is no version was not written by a run: it holds
    // nothing back, so it lets nothing through.
    if (!fncParseVersion(chrValue, &objRecord.lngVersion))
      objRecord.objError = Error{kErrInvalidData, fncErrorText(kErrInvalidData)};
  } catch (...) {
    objRecord.objError = fncTrappedError();
  }
  return objRecord;
}

void subRecordVersion(const std::string& strPackage, int64_t lngVersion) {
  try {
    std::unique_ptr<profile::Profile> objState = fncReadState();
    const profile::Profile objEmpty = profile::fncParseBytes(std::string());
    const profile::Profile& objText = objState != nullptr ? *objState : objEmpty;
    char chrValue[32];
    int64_t lngRecorded = 0;
    if (profile::fncGetString(&objText, kSection, strPackage, chrValue, sizeof chrValue) != 0 &&
        fncParseVersion(chrValue, &lngRecorded) && lngRecorded >= lngVersion)
      return;  // the highest stays
    std::string strText;
    if (!profile::fncEdit(objText, kSection, strPackage, std::to_string(lngVersion), strText))
      return;
    // As any copy: never half-written, on the disk before it is reported.
    subReplaceWholeFile(g_run.strInstallPath, kStateName, strText);
  } catch (...) {
    subWriteLog("ERR : Sub - subRecordVersion" + fncErrorSuffix(fncTrappedError()));
  }
}

}  // namespace tarvex
