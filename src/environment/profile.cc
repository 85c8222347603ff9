#include "control/run_state.h"
#include "environment/environment.h"

namespace tarvex {

namespace {

const uint32_t kProfileBuffer = 255;
// A limit on buffer growth, far beyond any real manifest.
const uint32_t kProfileBufferLimit = 256u << 20;

// The profile rules cut a value or the name list to the buffer and answer
// size - 1 (size - 2 for a quoted value, whose closing quote took the last
// place, and for the name list): the buffer grows until the whole text
// fits, so a long Parameters line reaches the program whole.
template <typename Read>
std::string fncWholeText(Read fnRead) {
  uint32_t lngSize = kProfileBuffer;
  std::string strBuffer;
  uint32_t lngCount = 0;
  for (;;) {
    strBuffer.assign(lngSize, '\0');
    lngCount = fnRead(&strBuffer[0], lngSize);
    if (lngCount + 2 < lngSize || lngSize >= kProfileBufferLimit) break;
    lngSize *= 2;
  }
  strBuffer.resize(lngCount);
  return strBuffer;
}

}  // namespace

Manifest fncReadManifest(const std::string& strPath, std::string* pBytes, bool blnDigest) {
  std::string strBytes = fncReadWholeFile(strPath, kManifestCap, true);
  Manifest objManifest;
  if (blnDigest) objManifest.strDigest = fncHashBytes(strBytes);
  if (pBytes != nullptr) *pBytes = strBytes;
  objManifest.objProfile =
      std::make_shared<const profile::Profile>(profile::fncParseBytes(std::move(strBytes)));
  return objManifest;
}

std::string fncReadINI(const std::string& strSection, const std::string& strKey,
                       const Manifest& objManifest) {
  try {
    return fncWholeText([&](char* pBuffer, uint32_t lngSize) {
      return profile::fncGetString(objManifest.objProfile.get(), strSection, strKey, pBuffer,
                                   lngSize);
    });
  } catch (...) {
    subWriteLog("ERR : Function - fncReadINI" + fncErrorSuffix(fncTrappedError()));
    // An unread value is not an empty one: deploying on it could put a file
    // in the wrong place, or skip it, and still report success.
    subRecordFailure("Failed to read " + strKey + " of " + strSection + " in " + kManifestName +
                     "; ");
    return "";
  }
}

std::vector<std::string> fncGetSectionNames(const Manifest& objManifest) {
  const std::string strText = fncWholeText([&](char* pBuffer, uint32_t lngSize) {
    return profile::fncGetSectionNames(objManifest.objProfile.get(), pBuffer, lngSize);
  });
  std::vector<std::string> objPieces;
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
