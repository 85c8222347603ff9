// The findings as a SARIF 2.1.0 log, for CI systems that show findings on a
// package's own lines: one run, a rule per kind of finding.
#include <cstring>

#include "check/check.h"
#include "control/run_state.h"
#include "deploy/seal.h"

#ifndef TARVEX_VERSION_TEXT
#define TARVEX_VERSION_TEXT "0"
#endif

namespace tarvex {

namespace {

// A kind of finding and how its text is told from the others: by its fixed
// start, middle and end (the parts around the names and values it quotes).
// The first rule that fits wins; "other" fits every text.
struct Rule {
  const char* strId;
  const char* strDescription;
  const char* strPrefix;
  const char* strMiddle;
  const char* strSuffix;
};

const char kSealed[] = ": a sealed run fails before its first entry";

const Rule kRules[] = {
    {"seal-unreadable", "The seal file cannot be read", "Tarvex.SHA256 cannot be read:", "", ""},
    {"seal-line", "A line of the seal file is not a seal line", "not a seal line", "", ""},
    {"seal-missing-file", "A file the seal lists is missing", "'", "", "' is missing: a sealed run fails before its first entry"},
    {"seal-mismatch", "A file does not match its sealed digest", "'", "", "' does not match its digest: a sealed run fails before its first entry"},
    {"seal-file-unreadable", "A file the seal lists cannot be read", "'", "' cannot be read:", kSealed},
    {"not-sealed", "The manifest or a copy source is missing from the seal", "", " is not sealed", kSealed},
    {"missing-manifest", "The package has no manifest", "no Tarvex.INI in the package folder", "", ""},
    {"unreadable-manifest", "The manifest cannot be read", "Tarvex.INI cannot be read:", "", ""},
    {"case-only", "A file is stored under another case", "", "", ": a run on POSIX would not find it"},
    {"seal-case-only", "The seal is stored under another case", "the seal is stored as '", "", "and deploy unsealed"},
    {"no-sections", "The manifest has no sections", "no sections:", "", ""},
    {"unreadable-value", "A value of an entry cannot be read", "a value of [", "", "cannot be read: a run fails this entry"},
    {"repeated-section", "A section name repeats an earlier one", "section [", "", "and never reads this one"},
    {"flag-value", "A Duplix or ExecuteFile value other than Y or N", "", " counts as N: only Y (any case) ", ""},
    {"missing-file-name", "A copy or execution without a FileName", "", "", "=Y without a FileName: a run fails this entry"},
    {"not-executable", "ExecuteFile=Y on a file that is neither a .DLL nor an .EXE", "ExecuteFile=Y on ", "", "which is neither a .DLL nor an .EXE: a run fails this entry"},
    {"separator-in-name", "A FileName holding a folder separator", "FileName '", "", "holds a folder separator: a package's files lie directly in its folder"},
    {"own-file", "A FileName naming one of Tarvex's own files", "FileName '", "", "' names one of Tarvex's own files"},
    {"missing-source", "A copy source is not in the package folder", "source '", "", ": a run fails this entry"},
    {"absolute-path", "An absolute FilePath", "FilePath '", "", "' is absolute: a run still puts it below the installation folder"},
    {"climbing-path", "A FilePath that climbs out of the installation folder", "FilePath '", "", "' climbs out of the installation folder with '..'"},
    {"file-path-end", "A FilePath that does not end with a backslash", "FilePath '", "' does not end with '\\': a run glues", ""},
    {"unknown-key", "A key a run never reads", "unknown key '", "", ""},
    {"repeated-key", "A key repeated in a section", "key '", "", ": only the first counts"},
    {"key-outside-section", "A key before the first section", "key '", "", "before the first section belongs to no entry"},
    {"quoted-value", "A value in quotes, which a run removes", "", " is in quotes, which a run removes: it reads '", ""},
    {"unused-parameters", "Parameters that a run never uses", "Parameters on ", "", ""},
    {"nameless-section", "A section without a name", "a section without a name", "", ""},
    {"unnamed-file", "A file in the package folder that no entry names", "", "", "is in the package folder but no entry names it"},
    {"other", "Another finding", "", "", ""},
};

size_t fncRuleOf(const std::string& strText) {
  const size_t lngCount = sizeof kRules / sizeof kRules[0];
  for (size_t i = 0; i + 1 < lngCount; ++i) {
    const Rule& objRule = kRules[i];
    const size_t lngPrefix = std::strlen(objRule.strPrefix);
    const size_t lngSuffix = std::strlen(objRule.strSuffix);
    if (strText.size() < lngPrefix + lngSuffix) continue;
    if (strText.compare(0, lngPrefix, objRule.strPrefix) != 0) continue;
    if (strText.compare(strText.size() - lngSuffix, lngSuffix, objRule.strSuffix) != 0) continue;
    if (*objRule.strMiddle != '\0' &&
        strText.substr(lngPrefix, strText.size() - lngPrefix - lngSuffix)
                .find(objRule.strMiddle) == std::string::npos)
      continue;
    return i;
  }
  return lngCount - 1;
}

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

std::string fncSarifLog(const CheckReport& objReport, const std::string& strManifest,
                        const std::string& strSeal) {
  std::string strOut =
      "{\n  \"$schema\": \"https://json.schemastore.org/sarif-2.1.0.json\",\n"
      "  \"version\": \"2.1.0\",\n  \"runs\": [\n    {\n      \"tool\": {\n"
      "        \"driver\": {\n          \"name\": \"tarvex-check\",\n"
      "          \"version\": \"" TARVEX_VERSION_TEXT "\",\n          \"rules\": [";
  const size_t lngRules = sizeof kRules / sizeof kRules[0];
  for (size_t i = 0; i < lngRules; ++i)
    strOut += std::string(i == 0 ? "" : ",") + "\n            {\"id\": " +
              fncJson(kRules[i].strId) + ", \"shortDescription\": {\"text\": " +
              fncJson(kRules[i].strDescription) + "}}";
  strOut += "\n          ]\n        }\n      },\n      \"results\": [";
  bool blnFirst = true;
  for (const Finding& objFinding : objReport.objFindings) {
    const size_t lngRule = fncRuleOf(objFinding.strText);
    const std::string strFile = objFinding.strFile.empty() ? strManifest : strSeal;
    strOut += std::string(blnFirst ? "" : ",") + "\n        {\"ruleId\": " +
              fncJson(kRules[lngRule].strId) + ", \"ruleIndex\": " + std::to_string(lngRule) +
              ", \"level\": " + (objFinding.blnError ? "\"error\"" : objFinding.blnNote ? "\"note\"" : "\"warning\"") +
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
