// Fuzzes the splitting of a command line by the Windows rules, which the
// POSIX build uses to start registrations and deployed programs.
//
// Whatever the input, quoting each argument again the way a Windows caller
// must (and the program name the way the loader reads it) and splitting the
// result gives the same arguments back.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/posix/internal.h"

using tarvex::posix::fncSplitCommandLine;

namespace {

bool IsBlank(char chr) { return chr == ' ' || chr == '\t'; }

// An argument as the C run-time reads it back: quoted when it is empty or
// holds a blank or a quote; backslashes doubled only before a quote,
// including the closing one.
std::string QuoteArgument(const std::string& strArg) {
  if (!strArg.empty() && strArg.find_first_of(" \t\"") == std::string::npos) return strArg;
  std::string strOut = "\"";
  size_t lngSlashes = 0;
  for (char chr : strArg) {
    if (chr == '\\') {
      ++lngSlashes;
      continue;
    }
    if (chr == '"') {
      strOut.append(2 * lngSlashes + 1, '\\');
    } else {
      strOut.append(lngSlashes, '\\');
    }
    lngSlashes = 0;
    strOut += chr;
  }
  strOut.append(2 * lngSlashes, '\\');
  strOut += '"';
  return strOut;
}

// The program name knows no escapes: it is quoted when empty or holding a
// blank, and then holds no quote (the splitter never yields both).
std::string QuoteProgram(const std::string& strProgram) {
  bool blnBlank = strProgram.empty();
  for (char chr : strProgram) blnBlank = blnBlank || IsBlank(chr);
  if (!blnBlank) return strProgram;
  FUZZ_CHECK(strProgram.find('"') == std::string::npos);
  return "\"" + strProgram + "\"";
}

std::string Join(const std::vector<std::string>& objArgs) {
  std::string strLine = QuoteProgram(objArgs[0]);
  for (size_t i = 1; i < objArgs.size(); ++i) strLine += " " + QuoteArgument(objArgs[i]);
  return strLine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t lngSize) {
  const std::string strLine(reinterpret_cast<const char*>(pData), lngSize);
  const std::vector<std::string> objArgs = fncSplitCommandLine(strLine);

  FUZZ_CHECK(!objArgs.empty());                   // the program name, empty or not
  FUZZ_CHECK(objArgs.size() <= lngSize / 2 + 2);  // arguments are separated by blanks
  size_t lngTotal = 0;
  for (const std::string& strArg : objArgs) lngTotal += strArg.size();
  FUZZ_CHECK(lngTotal <= lngSize);  // splitting only drops characters
  // A quote opens a program name, so none starts with one.
  FUZZ_CHECK(objArgs[0].empty() || objArgs[0][0] != '"');

  const std::string strAgain = Join(objArgs);
  FUZZ_CHECK(fncSplitCommandLine(strAgain) == objArgs);
  return 0;
}
