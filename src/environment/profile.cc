#include "control/control.h"
#include "environment/environment.h"

namespace tarvex {

namespace {

const uint32_t kProfileBuffer = 255;
// A limit on buffer growth, far beyond any real manifest.
const uint32_t kProfileBufferLimit = 256u << 20;

}  // namespace

// The platform cuts a value to its buffer and answers size - 1 (size - 2
// for a quoted value, whose closing quote took the last place); the buffer
// grows until the whole value fits, so a long Parameters line reaches the
// program whole.
std::string fncReadINI(const std::string& strSection, const std::string& strKey,
                       const std::string& strFile) {
  try {
    uint32_t lngSize = kProfileBuffer;
    std::string strBuffer;
    uint32_t lngCount = 0;
    for (;;) {
      strBuffer.assign(lngSize, '\0');
      lngCount = Os().fncGetProfileString(strSection, strKey, &strBuffer[0], lngSize, strFile);
      if (lngCount + 2 < lngSize || lngSize >= kProfileBufferLimit) break;
      lngSize *= 2;
    }
    if (lngCount == 0) return "";
    return strBuffer.substr(0, lngCount);
  } catch (...) {
    subWriteLog("ERR : Function - fncReadINI" + fncErrorSuffix(fncTrappedError()));
    // An unread value is not an empty one: deploying on it could put a file
    // in the wrong place, or skip it, and still report success.
    subRecordFailure("Failed to read " + strKey + " of " + strSection + " in " + strFile + "; ");
    return "";
  }
}

// Every section name, however many: the platform cuts the list to its
// buffer and answers size - 2, so the buffer grows until the list fits.
std::vector<std::string> fncGetSectionNames(const std::string& strFile) {
  uint32_t lngSize = kProfileBuffer;
  std::string strBuffer;
  uint32_t lngCount = 0;
  for (;;) {
    strBuffer.assign(lngSize, '\0');
    lngCount = Os().fncGetProfileSectionNames(&strBuffer[0], lngSize, strFile);
    if (lngCount + 2 < lngSize || lngSize >= kProfileBufferLimit) break;
    lngSize *= 2;
  }
  std::vector<std::string> objPieces;
  std::string strText = strBuffer.substr(0, lngCount);
  if (strText.empty()) return objPieces;
  size_t lngStart = 0;
  for (;;) {
    size_t lngNull = strText.find('\0', lngStart);
    if (lngNull == std::string::npos) {
      objPieces.push_back(strText.substr(lngStart));
      break;
    }
    objPieces.push_back(strText.substr(lngStart, lngNull - lngStart));
    lngStart = lngNull + 1;
  }
  return objPieces;
}

bool fncWriteINI(const std::string& strSection, const std::string& strKey,
                 const std::string& strValue, const std::string& strFile) {
  return Os().fncWriteProfileString(strSection, strKey, strValue, strFile);
}

}  // namespace tarvex
