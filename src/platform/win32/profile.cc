// Profile files, through the Win32 profile API itself. A run writes its
// status file with it; the manifest is read once, as bytes, and parsed by
// the code both builds share (platform/profile_text.h).
#include "platform/win32/internal.h"

namespace tarvex {
namespace win32 {

bool fncWriteProfileString(const std::string& strSection, const std::string& strKey,
                           const std::string& strValue, const std::string& strFile) {
  return WritePrivateProfileStringA(strSection.c_str(), strKey.c_str(), strValue.c_str(),
                                    strFile.c_str()) != 0;
}

}  // namespace win32
}  // namespace tarvex
