// Times the run report of a run of N entries (scripts/bench --outcome):
// its text made from the run's state, and its writing beside the program
// (an exclusive temporary file, flushed, one rename). Prints the
// nanoseconds of each and the report's size in bytes.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "control/run_state.h"
#include "status/status.h"

int main(int argc, char** argv) {
  using namespace tarvex;
  const long lngEntries = argc > 1 ? std::atol(argv[1]) : 10000;
  const std::string strFolder = argc > 2 ? argv[2] : ".";
  // A run of copy-only entries into one folder, as the scale benchmark's.
  g_run.strPID = "4711";
  g_run.strRegID = "REG-42";
  g_run.objStartLocal = Os().fncLocalTime();
  g_run.lngStartTime = Os().fncUnixTime();
  g_run.strStatus = "SUCCESS";
  for (long i = 0; i < lngEntries; ++i) {
    char chrName[32];
    std::snprintf(chrName, sizeof chrName, "f%05ld.dat", i);
    EntryReport objEntry;
    objEntry.strSection = "E" + std::to_string(i);
    objEntry.strFileName = chrName;
    objEntry.strTarget = "/var/tmp/tarvex-bench/agent/Out/" + std::string(chrName);
    objEntry.objCopy.strResult = "copied";
    objEntry.objCopy.intAttempts = 1;
    objEntry.objCopy.lngBytes = 4096;
    g_run.objEntries.push_back(objEntry);
  }
  auto objStart = std::chrono::steady_clock::now();
  const std::string strText = fncRunReport(0);
  auto objMade = std::chrono::steady_clock::now();
  subReplaceWholeFile(strFolder, kRunReportName, strText);
  auto objWritten = std::chrono::steady_clock::now();
  std::printf("%lld %lld %zu\n",
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::nanoseconds>(objMade - objStart).count()),
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::nanoseconds>(objWritten - objMade)
                      .count()),
              strText.size());
  return 0;
}
