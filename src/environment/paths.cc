#include "control/run_state.h"
#include "environment/environment.h"

namespace tarvex {

std::string fncGetShortPath(const std::string& strPath) {
  // Never fails: whatever goes wrong, the caller gets its own path back.
  try {
    std::string strShort = Os().fncShortPathName(strPath);
    if (strShort.empty()) return strPath;
    return strShort;
  } catch (...) {
    return strPath;
  }
}

std::string fncStripNull(const std::string& strText) {
  size_t lngNull = strText.find('\0');
  if (lngNull == std::string::npos) return strText;
  return strText.substr(0, lngNull);
}

std::string fncNativePath(const std::string& strPath) {
  std::string strOut = strPath;
  if (Os().chrSeparator != '\\')
    for (char& chr : strOut)
      if (chr == '\\') chr = Os().chrSeparator;
  return strOut;
}

}  // namespace tarvex
