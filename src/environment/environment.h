// Environment and configuration access: paths, the agent's registry key,
// profile files.
#ifndef TARVEX_ENVIRONMENT_ENVIRONMENT_H_
#define TARVEX_ENVIRONMENT_ENVIRONMENT_H_

#include <string>
#include <vector>

#include "platform/platform.h"

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

std::string fncReadINI(const std::string& strSection, const std::string& strKey,
                       const std::string& strFile);
std::vector<std::string> fncGetSectionNames(const std::string& strFile);
// Writes one value; false when the write failed (it never raises).
bool fncWriteINI(const std::string& strSection, const std::string& strKey,
                 const std::string& strValue, const std::string& strFile);

}  // namespace tarvex

#endif  // TARVEX_ENVIRONMENT_ENVIRONMENT_H_
