// How a run judges an entry's program (SuccessCodes, RebootCodes, Timeout):
// the findings on the three keys and what the plan says of them, read with
// the run's own routines (deploy/outcome.cc), so both take a value alike.
#include <algorithm>

#include "check/check.h"
#include "deploy/deploy.h"
#include "deploy/outcome.h"

namespace tarvex {

namespace {

const char kRefused[] = ": a run fails this entry before copying anything (87)";

bool fncHas(const std::vector<uint32_t>& objCodes, uint32_t lngCode) {
  return std::find(objCodes.begin(), objCodes.end(), lngCode) != objCodes.end();
}

// Codes as the log shows them: signed decimal.
std::string fncCodeList(const std::vector<uint32_t>& objCodes) {
  std::string strList;
  for (uint32_t lngCode : objCodes)
    strList += std::string(strList.empty() ? "" : ", ") + fncCodeText(lngCode);
  return strList;
}

}  // namespace

bool fncRunsProgram(const EntryValues& objEntry) {
  return fncFlag(objEntry.strExecuteFile) && fncFileKind(objEntry.strFileName) == ".EXE";
}

EntryRules fncEntryRules(const EntryValues& objEntry) {
  return fncReadRules(objEntry.strSuccessCodes, objEntry.strRebootCodes, objEntry.strTimeout);
}

std::string fncJudgePlan(const EntryRules& objRules) {
  std::string strPlan;
  if (objRules.lngTimeout != 0)
    strPlan += " for at most " + std::to_string(objRules.lngTimeout) + " s";
  if (!objRules.blnJudged) return strPlan;
  // A code in both lists is a restart: it is shown there alone.
  std::vector<uint32_t> objSuccess;
  for (uint32_t lngCode : objRules.objSuccess)
    if (!fncHas(objRules.objReboot, lngCode)) objSuccess.push_back(lngCode);
  strPlan += ", then judge its exit code:";
  if (!objSuccess.empty()) strPlan += " success " + fncCodeList(objSuccess) + ";";
  if (!objRules.objReboot.empty()) strPlan += " restart " + fncCodeList(objRules.objReboot) + ";";
  return strPlan + " any other fails the entry";
}

void subCheckOutcome(const EntryValues& objEntry, const ScanSection* pScan, long lngHeader,
                     std::vector<Finding>& objFindings) {
  const std::pair<const char*, const std::string*> kKeys[] = {
      {"SuccessCodes", &objEntry.strSuccessCodes},
      {"RebootCodes", &objEntry.strRebootCodes},
      {"Timeout", &objEntry.strTimeout}};
  auto subFind = [&](CheckRule intRule, const char* strKey, const std::string& strText) {
    objFindings.push_back(Finding{intRule, fncKeyLine(pScan, strKey, lngHeader), strText, ""});
  };
  if (!fncRunsProgram(objEntry)) {
    // A run reads them for programs alone, whatever they hold.
    for (const auto& objKey : kKeys)
      if (!objKey.second->empty())
        subFind(kRuleUnusedOutcome, objKey.first,
                std::string(objKey.first) +
                    " on an entry that runs no program is never used: a run judges and times "
                    "only an .EXE with ExecuteFile=Y");
    return;
  }
  std::vector<uint32_t> objLists[2];
  for (int i = 0; i < 2; ++i) {
    const std::string& strList = *kKeys[i].second;
    if (strList.empty()) continue;
    const std::string strWhat = std::string(kKeys[i].first) + " " + fncQuote(strList);
    switch (fncParseCodes(strList, &objLists[i])) {
      case kRulesNotCodes:
        subFind(kRuleExitCodes, kKeys[i].first,
                strWhat + " is not a list of exit codes (decimal or 0x hex, separated by "
                          "commas)" + kRefused);
        break;
      case kRulesCodeRange:
        subFind(kRuleExitCodeRange, kKeys[i].first,
                strWhat + " holds a code beyond 32 bits (-2147483648 to 4294967295, or up to "
                          "0xFFFFFFFF)" + kRefused);
        break;
      default:
        break;
    }
  }
  uint32_t lngSeconds = 0;
  if (!objEntry.strTimeout.empty() && !fncParseTimeout(objEntry.strTimeout, &lngSeconds))
    subFind(kRuleTimeoutRange, "Timeout",
            "Timeout " + fncQuote(objEntry.strTimeout) + " is not whole seconds from 1 to " +
                std::to_string(kTimeoutLimit) + kRefused);
  std::vector<uint32_t> objBoth;
  for (uint32_t lngCode : objLists[0])
    if (fncHas(objLists[1], lngCode) && !fncHas(objBoth, lngCode)) objBoth.push_back(lngCode);
  if (!objBoth.empty())
    subFind(kRuleCodeInBoth, "RebootCodes",
            std::string(objBoth.size() == 1 ? "exit code " : "exit codes ") +
                fncCodeList(objBoth) + (objBoth.size() == 1 ? " is" : " are") +
                " in both SuccessCodes and RebootCodes: a run counts " +
                (objBoth.size() == 1 ? "it" : "each") + " as a restart");
}

}  // namespace tarvex
