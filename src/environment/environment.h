// Environment and configuration access: paths, the agent's registry key,
// profile files.
#ifndef TARVEX_ENVIRONMENT_ENVIRONMENT_H_
#define TARVEX_ENVIRONMENT_ENVIRONMENT_H_

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/profile_text.h"

namespace tarvex {

// Short (8.3) form of a path; the path itself when there is none.
std::string fncGetShortPath(const std::string& strPath);
// The text up to its first NUL.
std::string fncStripNull(const std::string& strText);
// Manifest values are written for Windows: backslashes become this build's
// separator.
std::string fncNativePath(const std::string& strPath);

// Reads InstallationPath and REGID of the agent into the run state.
bool fncGetVELMORInfo();
std::string fncReadRegValue(RegKey objKey, const std::string& strKeyName,
                            const std::string& strValueName);

// The deployment manifest, read once: whatever happens to the file during
// the run, every entry is read from these bytes.
struct Manifest {
  std::shared_ptr<const profile::Profile> objProfile;
  std::string strDigest;  // SHA-256 of the bytes read, where asked for
};
// The largest manifest a run reads.
const uint64_t kManifestCap = 16u << 20;
// Reads the file at the name (never through a link) once, within the cap,
// and parses it; the bytes go to *pBytes where asked, their digest is taken
// where blnDigest. Raises Error (see fncReadWholeFile).
Manifest fncReadManifest(const std::string& strPath, std::string* pBytes = nullptr,
                         bool blnDigest = false);

// A value of the manifest, whole (the profile rules' quotes dropped); empty
// when the section or key is missing.
std::string fncReadINI(const std::string& strSection, const std::string& strKey,
                       const Manifest& objManifest);
// Every section name, in file order, as the profile call lists them.
std::vector<std::string> fncGetSectionNames(const Manifest& objManifest);
// Writes one value; false when the write failed (it never raises).
bool fncWriteINI(const std::string& strSection, const std::string& strKey,
                 const std::string& strValue, const std::string& strFile);

}  // namespace tarvex

#endif  // TARVEX_ENVIRONMENT_ENVIRONMENT_H_
