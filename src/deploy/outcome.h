// How an entry's program is judged, where the manifest asks for it: the
// exit codes that count as success (SuccessCodes) and as success that
// needs a restart (RebootCodes), and the longest the run waits for it
// (Timeout). An entry without them runs as it always has.
#ifndef TARVEX_DEPLOY_OUTCOME_H_
#define TARVEX_DEPLOY_OUTCOME_H_

#include <cstdint>
#include <string>
#include <vector>

namespace tarvex {

// The longest Timeout, in seconds: a day.
const uint32_t kTimeoutLimit = 86400;

// Why a value of the three keys cannot be used; kRulesGood when it can.
enum RulesFault { kRulesGood, kRulesNotCodes, kRulesCodeRange, kRulesTimeout };

// A comma-separated list of exit codes: decimal (with an optional '-') or
// 0x hex, blanks ignored. A code is a 32-bit value, so -1, 4294967295 and
// 0xFFFFFFFF are the same code.
RulesFault fncParseCodes(const std::string& strList, std::vector<uint32_t>* pCodes);
// Whole seconds from 1 to a day.
bool fncParseTimeout(const std::string& strText, uint32_t* pSeconds);

struct EntryRules {
  bool blnJudged = false;  // SuccessCodes or RebootCodes given
  std::vector<uint32_t> objSuccess, objReboot;
  uint32_t lngTimeout = 0;  // seconds; 0 for none
  RulesFault intFault = kRulesGood;
  std::string strFaultKey;  // the key whose value cannot be used
};
// The three keys' values as read (empty when absent).
EntryRules fncReadRules(const std::string& strSuccess, const std::string& strReboot,
                        const std::string& strTimeout);

enum Judgment { kJudgedSuccess, kJudgedReboot, kJudgedFailure };
// A code in both lists counts as a restart.
Judgment fncJudge(const EntryRules& objRules, uint32_t lngCode);
// A code as the log shows it: signed decimal.
std::string fncCodeText(uint32_t lngCode);

}  // namespace tarvex

#endif  // TARVEX_DEPLOY_OUTCOME_H_
