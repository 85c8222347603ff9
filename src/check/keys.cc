// The keys of an entry's section as the scan finds them: unknown keys
// (with the likely typo named), repeated keys, quoted values.
#include <algorithm>
#include <unordered_map>

#include "check/check.h"
#include "deploy/deploy.h"

namespace tarvex {

// A name or value in quotes; a long one (a binary file's "key") cut short.
std::string fncQuote(const std::string& strText) {
  const size_t kShown = 64;
  if (strText.size() <= kShown) return "'" + strText + "'";
  return "'" + strText.substr(0, kShown) + "...'";
}

namespace {

// The keys a run reads, in the order it reads them.
const char* const kKnownKeys[] = {"FileName",   "FilePath",     "Duplix",      "ExecuteFile",
                                  "Parameters", "SuccessCodes", "RebootCodes", "Timeout"};

// Key names and the like only ever reach an edit distance in their first
// characters: a 10 MB line costs no more than a short one.
const size_t kDistanceLength = 64;

// Levenshtein distance, ASCII case ignored.
size_t fncEditDistance(const std::string& strFirst, const std::string& strSecond) {
  const std::string strA = fncUpperCase(strFirst), strB = fncUpperCase(strSecond);
  std::vector<size_t> objRow(strB.size() + 1);
  for (size_t k = 0; k <= strB.size(); ++k) objRow[k] = k;
  for (size_t i = 1; i <= strA.size(); ++i) {
    size_t lngDiagonal = objRow[0];
    objRow[0] = i;
    for (size_t k = 1; k <= strB.size(); ++k) {
      size_t lngAbove = objRow[k];
      objRow[k] = std::min({objRow[k] + 1, objRow[k - 1] + 1,
                            lngDiagonal + (strA[i - 1] == strB[k - 1] ? 0 : 1)});
      lngDiagonal = lngAbove;
    }
  }
  return objRow[strB.size()];
}

// The known key an unknown one is likely a typo of: the closest, when at
// most half of it differs; otherwise nullptr.
const char* fncClosestKey(const std::string& strName) {
  const std::string strProbe = strName.substr(0, kDistanceLength);
  const char* strBest = nullptr;
  size_t lngBest = static_cast<size_t>(-1);
  for (const char* strKey : kKnownKeys) {
    size_t lngDistance = fncEditDistance(strProbe, strKey);
    if (lngDistance < lngBest && lngDistance <= std::string(strKey).size() / 2) {
      lngBest = lngDistance;
      strBest = strKey;
    }
  }
  return strBest;
}

}  // namespace

void subCheckKeys(const ScanSection& objScan, std::vector<Finding>& objFindings) {
  auto subWarn = [&](CheckRule intRule, long lngLine, const std::string& strText) {
    objFindings.push_back(Finding{intRule, lngLine, strText, ""});
  };
  std::unordered_map<std::string, long> objSeen;
  for (const ScanKey& objKey : objScan.objKeys) {
    const std::string strUpper = fncUpperCase(objKey.strName);
    bool blnKnown = false;
    for (const char* strKey : kKnownKeys) blnKnown = blnKnown || strUpper == fncUpperCase(strKey);
    if (!blnKnown) {
      const char* strClosest = fncClosestKey(objKey.strName);
      std::string strKeys;
      for (const char* strKey : kKnownKeys)
        strKeys += std::string(strKeys.empty() ? "" : ", ") + strKey;
      subWarn(kRuleUnknownKey, objKey.lngLine,
              "unknown key " + fncQuote(objKey.strName) +
                  (strClosest != nullptr
                       ? " (did you mean " + fncQuote(strClosest) + "?): a run never reads it"
                       : ": a run never reads it (the keys are " + strKeys + ")"));
      continue;
    }
    auto itSeen = objSeen.emplace(strUpper, objKey.lngLine);
    if (!itSeen.second) {
      subWarn(kRuleRepeatedKey, objKey.lngLine,
              "key " + fncQuote(objKey.strName) + " repeats line " +
                  std::to_string(itSeen.first->second) + ": only the first counts");
      continue;
    }
    const std::string& strValue = objKey.strValue;
    if (strValue.size() >= 2 && (strValue[0] == '"' || strValue[0] == '\'') &&
        strValue.back() == strValue[0])
      subWarn(kRuleQuotedValue, objKey.lngLine,
              objKey.strName + " is in quotes, which a run removes: it reads " +
                  fncQuote(strValue.substr(1, strValue.size() - 2)));
  }
}

bool fncIsAbsolute(const std::string& strPath) {
  if (!strPath.empty() && (strPath[0] == '\\' || strPath[0] == '/')) return true;
  return strPath.size() >= 2 && strPath[1] == ':' &&
         ((strPath[0] >= 'A' && strPath[0] <= 'Z') || (strPath[0] >= 'a' && strPath[0] <= 'z'));
}

// True when a relative path's ".." parts lead above where it starts.
bool fncClimbsOut(const std::string& strPath) {
  long lngDepth = 0;
  size_t lngStart = 0;
  while (lngStart <= strPath.size()) {
    size_t lngEnd = strPath.find_first_of("\\/", lngStart);
    if (lngEnd == std::string::npos) lngEnd = strPath.size();
    std::string strPart = strPath.substr(lngStart, lngEnd - lngStart);
    if (strPart == "..") {
      if (--lngDepth < 0) return true;
    } else if (!strPart.empty() && strPart != ".") {
      ++lngDepth;
    }
    lngStart = lngEnd + 1;
  }
  return false;
}

}  // namespace tarvex
