#include "platform/posix/internal.h"

namespace tarvex {
namespace posix {

namespace {
bool fncIsBlank(char chr) { return chr == ' ' || chr == '\t'; }
}  // namespace

std::vector<std::string> fncSplitCommandLine(const std::string& strCommandLine) {
  std::vector<std::string> objArgs;
  const size_t lngLength = strCommandLine.size();
  size_t i = 0;

  // The program name ends at the closing quote or the first blank; it knows
  // no backslash escapes.
  std::string strProgram;
  if (i < lngLength && strCommandLine[i] == '"') {
    ++i;
    while (i < lngLength && strCommandLine[i] != '"') strProgram += strCommandLine[i++];
    if (i < lngLength) ++i;
  } else {
    while (i < lngLength && !fncIsBlank(strCommandLine[i])) strProgram += strCommandLine[i++];
  }
  objArgs.push_back(strProgram);

  for (;;) {
    while (i < lngLength && fncIsBlank(strCommandLine[i])) ++i;
    if (i >= lngLength) break;
    std::string strArg;
    bool blnQuoted = false;
    while (i < lngLength) {
      char chr = strCommandLine[i];
      if (!blnQuoted && fncIsBlank(chr)) break;
      if (chr == '\\') {
        size_t lngSlashes = 0;
        while (i < lngLength && strCommandLine[i] == '\\') {
          ++lngSlashes;
          ++i;
        }
        if (i < lngLength && strCommandLine[i] == '"') {
          // 2n backslashes and a quote: n backslashes, the quote delimits;
          // 2n+1: n backslashes and a literal quote.
          strArg.append(lngSlashes / 2, '\\');
          if (lngSlashes % 2 == 1) {
            strArg += '"';
            ++i;
          }
        } else {
          strArg.append(lngSlashes, '\\');
        }
        continue;
      }
      if (chr == '"') {
        if (blnQuoted && i + 1 < lngLength && strCommandLine[i + 1] == '"') {
          strArg += '"';  // "" inside quotes is a literal quote
          i += 2;
          continue;
        }
        blnQuoted = !blnQuoted;
        ++i;
        continue;
      }
      strArg += chr;
      ++i;
    }
    objArgs.push_back(strArg);
  }
  return objArgs;
}

}  // namespace posix
}  // namespace tarvex
