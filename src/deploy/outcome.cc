#include "deploy/outcome.h"

#include <algorithm>

namespace tarvex {

namespace {

std::string fncTrimmed(const std::string& strText) {
  const size_t lngFrom = strText.find_first_not_of(" \t");
  if (lngFrom == std::string::npos) return "";
  return strText.substr(lngFrom, strText.find_last_not_of(" \t") - lngFrom + 1);
}

int fncDigit(char chr, int intBase) {
  int intValue = chr >= '0' && chr <= '9'   ? chr - '0'
                 : chr >= 'a' && chr <= 'f' ? chr - 'a' + 10
                 : chr >= 'A' && chr <= 'F' ? chr - 'A' + 10
                                            : 99;
  return intValue < intBase ? intValue : -1;
}

RulesFault fncParseCode(const std::string& strItem, uint32_t* pCode) {
  bool blnNegative = false;
  int intBase = 10;
  size_t lngAt = 0;
  if (strItem.compare(0, 2, "0x") == 0 || strItem.compare(0, 2, "0X") == 0) {
    intBase = 16;
    lngAt = 2;
  } else if (!strItem.empty() && strItem[0] == '-') {
    blnNegative = true;
    lngAt = 1;
  }
  if (lngAt == strItem.size()) return kRulesNotCodes;
  uint64_t lngValue = 0;
  bool blnBeyond = false;
  for (; lngAt < strItem.size(); ++lngAt) {
    const int intDigit = fncDigit(strItem[lngAt], intBase);
    if (intDigit < 0) return kRulesNotCodes;
    lngValue = lngValue * static_cast<uint64_t>(intBase) + static_cast<uint64_t>(intDigit);
    if (lngValue > 0xFFFFFFFFull) blnBeyond = true, lngValue = 0x100000000ull;
  }
  if (blnBeyond || lngValue > (blnNegative ? 0x80000000ull : 0xFFFFFFFFull))
    return kRulesCodeRange;
  *pCode = static_cast<uint32_t>(blnNegative ? (0 - lngValue) : lngValue);
  return kRulesGood;
}

}  // namespace

RulesFault fncParseCodes(const std::string& strList, std::vector<uint32_t>* pCodes) {
  std::vector<uint32_t> objCodes;
  RulesFault intWorst = kRulesGood;
  size_t lngStart = 0;
  while (lngStart <= strList.size()) {
    size_t lngComma = strList.find(',', lngStart);
    if (lngComma == std::string::npos) lngComma = strList.size();
    uint32_t lngCode = 0;
    const RulesFault intFault = fncParseCode(fncTrimmed(strList.substr(lngStart, lngComma - lngStart)), &lngCode);
    // A list that does not parse says more than one with a code too large.
    if (intFault == kRulesNotCodes) return kRulesNotCodes;
    if (intFault != kRulesGood) intWorst = intFault;
    objCodes.push_back(lngCode);
    lngStart = lngComma + 1;
  }
  if (intWorst == kRulesGood) *pCodes = objCodes;
  return intWorst;
}

bool fncParseTimeout(const std::string& strText, uint32_t* pSeconds) {
  const std::string strValue = fncTrimmed(strText);
  if (strValue.empty() || strValue.size() > 5) return false;
  uint32_t lngValue = 0;
  for (char chr : strValue) {
    if (chr < '0' || chr > '9') return false;
    lngValue = lngValue * 10 + static_cast<uint32_t>(chr - '0');
  }
  if (lngValue < 1 || lngValue > kTimeoutLimit) return false;
  *pSeconds = lngValue;
  return true;
}

EntryRules fncReadRules(const std::string& strSuccess, const std::string& strReboot,
                        const std::string& strTimeout) {
  EntryRules objRules;
  const std::pair<const char*, std::pair<const std::string*, std::vector<uint32_t>*>> kLists[] = {
      {"SuccessCodes", {&strSuccess, &objRules.objSuccess}},
      {"RebootCodes", {&strReboot, &objRules.objReboot}}};
  for (const auto& objList : kLists) {
    if (objList.second.first->empty()) continue;
    objRules.blnJudged = true;
    const RulesFault intFault = fncParseCodes(*objList.second.first, objList.second.second);
    if (intFault != kRulesGood && objRules.intFault == kRulesGood) {
      objRules.intFault = intFault;
      objRules.strFaultKey = objList.first;
    }
  }
  if (!strTimeout.empty() && !fncParseTimeout(strTimeout, &objRules.lngTimeout) &&
      objRules.intFault == kRulesGood) {
    objRules.intFault = kRulesTimeout;
    objRules.strFaultKey = "Timeout";
  }
  return objRules;
}

Judgment fncJudge(const EntryRules& objRules, uint32_t lngCode) {
  auto fncHas = [&](const std::vector<uint32_t>& objCodes) {
    return std::find(objCodes.begin(), objCodes.end(), lngCode) != objCodes.end();
  };
  if (fncHas(objRules.objReboot)) return kJudgedReboot;
  if (fncHas(objRules.objSuccess)) return kJudgedSuccess;
  return kJudgedFailure;
}

std::string fncCodeText(uint32_t lngCode) { return std::to_string(static_cast<int32_t>(lngCode)); }

}  // namespace tarvex
