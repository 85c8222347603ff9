// Fuzzes the cleaning of the command-line parameter: the PID that the
// status file records.
#include <cstdint>
#include <string>

#include "control/control.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t lngSize) {
  const std::string strInput(reinterpret_cast<const char*>(pData), lngSize);
  const std::string strClean = tarvex::fncCleanCommandLine(strInput);

  FUZZ_CHECK(strClean.find('"') == std::string::npos);
  FUZZ_CHECK(strClean.empty() || (strClean.front() != ' ' && strClean.back() != ' '));
  FUZZ_CHECK(tarvex::fncCleanCommandLine(strClean) == strClean);

  // Nothing is added or reordered: the result is a run of the input's
  // characters other than quotes, and everything dropped around it is a
  // space or a quote.
  std::string strUnquoted;
  for (char chr : strInput)
    if (chr != '"') strUnquoted += chr;
  size_t lngAt = strUnquoted.find(strClean);
  FUZZ_CHECK(lngAt != std::string::npos);
  if (!strClean.empty()) {
    for (size_t i = 0; i < strUnquoted.size(); ++i)
      if (i < lngAt || i >= lngAt + strClean.size()) FUZZ_CHECK(strUnquoted[i] == ' ');
  } else {
    FUZZ_CHECK(strUnquoted.find_first_not_of(' ') == std::string::npos);
  }
  return 0;
}
