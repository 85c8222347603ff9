// The package beside the program, read once: the manifest and the seal,
// each through one handle and never again, so that a package changed or
// replaced during a run changes nothing in it.
#include <set>

#include "control/run_state.h"
#include "deploy/deploy.h"
#include "deploy/seal.h"

namespace tarvex {

Package fncReadPackage(const std::string& strFolder, std::string* pManifestBytes,
                       bool blnSignature) {
  Package objPackage;
  objPackage.strFolder = strFolder;
  try {
    objPackage.strSealBytes = fncReadWholeFile(fncSealPath(strFolder, kSealName), kSealCap, true);
    objPackage.blnSealed = true;
    objPackage.objSeal = fncParseSeal(objPackage.strSealBytes);
    for (const SealLine& objLine : objPackage.objSeal.objLines)
      objPackage.objDigests.emplace(fncSealKey(objLine.strName), objLine.strDigest);
  } catch (...) {
    Error objError = fncTrappedError();
    // Only a seal that is not there leaves the package unsealed.
    if (objError.lngNumber != kErrFileNotFound) {
      objPackage.blnSealed = true;
      objPackage.objSealError = objError;
    }
  }
  if (blnSignature) {
    try {
      objPackage.strSignature =
          fncReadWholeFile(fncSealPath(strFolder, kSignatureName), kSignatureCap, true);
      objPackage.objSignatureError = Error{0, ""};
    } catch (...) {
      objPackage.objSignatureError = fncTrappedError();
    }
  }
  try {
    // The seal's digest of the manifest is taken over these very bytes.
    objPackage.objManifest = fncReadManifest(fncSealPath(strFolder, kManifestName),
                                             pManifestBytes, objPackage.blnSealed);
  } catch (...) {
    objPackage.objManifestError = fncTrappedError();
    // A folder at the name is as good as none, as the existence test says.
    if (objPackage.objManifestError.lngNumber == kErrIsFolder ||
        objPackage.objManifestError.lngNumber == kErrPathNotFound)
      objPackage.objManifestError = Error{kErrFileNotFound, fncErrorText(kErrFileNotFound)};
  }
  return objPackage;
}

std::vector<std::string> fncSealedFiles(const Package& objPackage) {
  std::vector<std::string> objFiles{kManifestName};
  if (objPackage.objManifestError.lngNumber != 0) return objFiles;
  const Manifest& objManifest = objPackage.objManifest;
  std::set<std::string> objSeen{fncSealKey(kManifestName)};
  for (const std::string& strSection : fncGetSectionNames(objManifest)) {
    if (strSection.empty()) continue;
    if (!fncFlag(fncReadINI(strSection, "Duplix", objManifest))) continue;
    const std::string strFileName = fncNativePath(fncReadINI(strSection, "FileName", objManifest));
    if (!strFileName.empty() && objSeen.insert(fncSealKey(strFileName)).second)
      objFiles.push_back(fncSealName(strFileName));
  }
  return objFiles;
}

std::string fncSealedDigest(const Package& objPackage, const std::string& strFileName) {
  auto it = objPackage.objDigests.find(fncSealKey(strFileName));
  return it == objPackage.objDigests.end() ? std::string() : it->second;
}

}  // namespace tarvex
