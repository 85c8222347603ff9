// The findings as a SARIF 2.1.0 log, for CI systems that show findings on a
// package's own lines: one run, a rule per kind of finding, each result
// under the rule its finding was made with.
#include <cstring>

#include "check/check.h"
#include "control/run_state.h"
#include "deploy/seal.h"

#ifndef TARVEX_VERSION_TEXT
#define TARVEX_VERSION_TEXT "0"
#endif

namespace tarvex {

namespace {

const RuleInfo kRules[] = {
#define TARVEX_RULE(NAME, ID, LEVEL, DESCRIPTION) {ID, LEVEL, DESCRIPTION},
#include "check/rules.def"
};
static_assert(sizeof kRules / sizeof kRules[0] == kRuleCount, "a rule per kind");

void subAppendCode(std::string& strOut, unsigned lngCode) {
  char strEscape[8];
  std::snprintf(strEscape, sizeof strEscape, "\\u%04x", lngCode);
  strOut += strEscape;
}

// A JSON string. The texts quote names and values from the package, which
// need not be UTF-8 (a binary manifest, an ANSI code page): a byte that
// does not start a well-formed UTF-8 sequence becomes U+FFFD.
std::string fncJson(const std::string& strText) {
  std::string strOut = "\"";
  for (size_t i = 0; i < strText.size();) {
    const unsigned char chr = static_cast<unsigned char>(strText[i]);
    if (chr == '"' || chr == '\\') {
      strOut += '\\';
      strOut += static_cast<char>(chr);
      ++i;
      continue;
    }
    if (chr < 0x20 || chr == 0x7F) {
      subAppendCode(strOut, chr);
      ++i;
      continue;
    }
    if (chr < 0x80) {
      strOut += static_cast<char>(chr);
      ++i;
      continue;
    }
    size_t lngLength = chr >= 0xF0 ? 4 : chr >= 0xE0 ? 3 : chr >= 0xC2 ? 2 : 0;
    if (chr > 0xF4) lngLength = 0;
    bool blnValid = lngLength != 0 && i + lngLength <= strText.size();
    for (size_t k = 1; blnValid && k < lngLength; ++k)
      blnValid = (static_cast<unsigned char>(strText[i + k]) & 0xC0) == 0x80;
    if (blnValid && lngLength >= 3) {
      // No overlong forms, surrogates or code points beyond U+10FFFF.
      const unsigned char chrNext = static_cast<unsigned char>(strText[i + 1]);
      if ((chr == 0xE0 && chrNext < 0xA0) || (chr == 0xED && chrNext >= 0xA0) ||
          (chr == 0xF0 && chrNext < 0x90) || (chr == 0xF4 && chrNext >= 0x90))
        blnValid = false;
    }
    if (!blnValid) {
      subAppendCode(strOut, 0xFFFD);
      ++i;
      continue;
    }
    strOut.append(strText, i, lngLength);
    i += lngLength;
  }
  return strOut + "\"";
}

// A path as a URI: '/' for separators, and what a URI may not hold
// percent-encoded. A relative path stays a relative reference (CI systems
// resolve it against their checkout); an absolute one becomes a file URI.
std::string fncUri(const std::string& strPath) {
  std::string strOut;
  for (size_t i = 0; i < strPath.size(); ++i) {
    const unsigned char chr = static_cast<unsigned char>(strPath[i]);
    if (chr == '\\') {
      strOut += '/';
    } else if ((chr >= 'A' && chr <= 'Z') || (chr >= 'a' && chr <= 'z') ||
               (chr >= '0' && chr <= '9') || std::strchr("-._~/", chr) != nullptr ||
               (chr == ':' && i == 1)) {
      strOut += static_cast<char>(chr);
    } else {
      char strEscape[4];
      std::snprintf(strEscape, sizeof strEscape, "%%%02X", chr);
      strOut += strEscape;
    }
  }
  if (strOut.size() >= 2 && strOut[1] == ':') return "file:///" + strOut;  // C:/...
  if (strOut.compare(0, 2, "//") == 0) return "file:" + strOut;            // //server/share
  if (!strOut.empty() && strOut[0] == '/') return "file://" + strOut;
  return strOut;
}

}  // namespace

const RuleInfo& fncRule(CheckRule intRule) { return kRules[intRule]; }

const char* fncLevelName(FindingLevel intLevel) {
  return intLevel == kLevelError ? "error" : intLevel == kLevelNote ? "note" : "warning";
}

std::string fncSarifLog(const CheckReport& objReport, const std::string& strManifest,
                        const std::string& strSeal) {
  std::string strOut =
      "{\n  \"$schema\": \"https://json.schemastore.org/sarif-2.1.0.json\",\n"
      "  \"version\": \"2.1.0\",\n  \"runs\": [\n    {\n      \"tool\": {\n"
      "        \"driver\": {\n          \"name\": \"tarvex-check\",\n"
      "          \"version\": \"" TARVEX_VERSION_TEXT "\",\n          \"rules\": [";
  for (int i = 0; i < kRuleCount; ++i)
    strOut += std::string(i == 0 ? "" : ",") + "\n            {\"id\": " +
              fncJson(kRules[i].strId) + ", \"shortDescription\": {\"text\": " +
              fncJson(kRules[i].strDescription) +
              "}, \"defaultConfiguration\": {\"level\": \"" +
              fncLevelName(kRules[i].intLevel) + "\"}}";
  strOut += "\n          ]\n        }\n      },\n      \"results\": [";
  bool blnFirst = true;
  for (const Finding& objFinding : objReport.objFindings) {
    const RuleInfo& objRule = kRules[objFinding.intRule];
    const std::string strFile = objFinding.strFile.empty() ? strManifest : strSeal;
    strOut += std::string(blnFirst ? "" : ",") + "\n        {\"ruleId\": " +
              fncJson(objRule.strId) + ", \"ruleIndex\": " +
              std::to_string(static_cast<int>(objFinding.intRule)) + ", \"level\": \"" +
              fncLevelName(objRule.intLevel) + "\"" +
              ", \"message\": {\"text\": " + fncJson(objFinding.strText) +
              "}, \"locations\": [{\"physicalLocation\": {\"artifactLocation\": {\"uri\": " +
              fncJson(fncUri(strFile)) + "}" +
              (objFinding.lngLine > 0
                   ? ", \"region\": {\"startLine\": " + std::to_string(objFinding.lngLine) + "}"
                   : std::string()) +
              "}}]}";
    blnFirst = false;
  }
  strOut += std::string(blnFirst ? "]" : "\n      ]") + "\n    }\n  ]\n}\n";
  return strOut;
}

}  // namespace tarvex
