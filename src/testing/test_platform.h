// Test support: a sandbox folder and a platform table that captures the run
// log in memory, records pauses instead of sleeping, records the command
// lines it starts and takes no run lock. Everything else goes to the native operations, so the
// same tests run on the real POSIX layer and the real Win32 layer.
#ifndef TARVEX_TESTING_TEST_PLATFORM_H_
#define TARVEX_TESTING_TEST_PLATFORM_H_

#include <string>
#include <vector>

#include "platform/platform.h"

namespace tarvex {
namespace testing {

std::string Sep();
std::string ReadFile(const std::string& strPath);
void WriteFile(const std::string& strPath, const std::string& strContent);
bool Exists(const std::string& strPath);
void MakeDir(const std::string& strPath);
void SetReadOnly(const std::string& strPath, bool blnReadOnly);
bool IsReadOnly(const std::string& strPath);

// A value or the section names of a profile file, read as a run reads its
// manifest (empty for a file that cannot be read).
std::string ReadINI(const std::string& strSection, const std::string& strKey,
                    const std::string& strFile);
std::vector<std::string> SectionNames(const std::string& strFile);

// The number of the Error raised by fnAction, or 0 when none was raised.
template <typename Action>
int32_t RaisedNumber(Action fnAction) {
  try {
    fnAction();
  } catch (const Error& objError) {
    return objError.lngNumber;
  }
  return 0;
}

class Harness {
 public:
  Harness();
  ~Harness();
  Harness(const Harness&) = delete;
  Harness& operator=(const Harness&) = delete;

  // The sandbox; the application folder is its "app" subfolder.
  std::string strRoot;
  std::string strApp;
  // What the run did.
  std::vector<std::string> objLog;
  std::vector<uint32_t> objSleeps;
  std::vector<std::string> objStarts;
  // The table in use; tests replace entries and then call Install().
  Platform objTable;
  void Install();

  // Resets the run state with an open in-memory log.
  void subNewRun();

  static Harness* Current();

 private:
  Platform objSaved_;
};

}  // namespace testing
}  // namespace tarvex

#endif  // TARVEX_TESTING_TEST_PLATFORM_H_
