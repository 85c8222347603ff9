#include "testing/test_platform.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "control/control.h"
#include "environment/environment.h"

namespace fs = std::filesystem;

namespace tarvex {
namespace testing {

namespace {

Harness* g_current = nullptr;
int g_memoryLog = 0;  // the address stands for the in-memory log

std::string fncTestAppFolder() { return Harness::Current()->strApp; }

TextFile fncMemoryCreate(const std::string&) { return &g_memoryLog; }

void subMemoryWrite(TextFile objFile, const std::string& strText) {
  if (objFile == &g_memoryLog) {
    Harness::Current()->objLog.push_back(strText);
    return;
  }
  NativePlatform().subWriteLine(objFile, strText);
}

void subMemoryClose(TextFile objFile) {
  if (objFile != &g_memoryLog) NativePlatform().subCloseTextFile(objFile);
}

void subRecordSleep(uint32_t lngMilliseconds) {
  Harness::Current()->objSleeps.push_back(lngMilliseconds);
}

uint32_t fncRecordStart(const std::string& strCommandLine) {
  Harness::Current()->objStarts.push_back(strCommandLine);
  return NativePlatform().fncStartProcess(strCommandLine);
}

// The real lock would be this test program's until it ends.
bool fncNoLock(uint32_t) { return true; }

}  // namespace

namespace {

Manifest fncManifestOf(const std::string& strFile) {
  try {
    return fncReadManifest(strFile);
  } catch (const Error&) {
    return Manifest();
  }
}

}  // namespace

std::string ReadINI(const std::string& strSection, const std::string& strKey,
                    const std::string& strFile) {
  return fncReadINI(strSection, strKey, fncManifestOf(strFile));
}

std::vector<std::string> SectionNames(const std::string& strFile) {
  return fncGetSectionNames(fncManifestOf(strFile));
}

std::string Sep() { return std::string(1, NativePlatform().chrSeparator); }

std::string ReadFile(const std::string& strPath) {
  std::ifstream objIn(strPath, std::ios::binary);
  std::ostringstream objOut;
  objOut << objIn.rdbuf();
  return objOut.str();
}

void WriteFile(const std::string& strPath, const std::string& strContent) {
  std::ofstream objOut(strPath, std::ios::binary | std::ios::trunc);
  objOut << strContent;
}

bool Exists(const std::string& strPath) {
  std::error_code objCode;
  return fs::exists(fs::path(strPath), objCode);
}

void MakeDir(const std::string& strPath) { fs::create_directories(fs::path(strPath)); }

void SetReadOnly(const std::string& strPath, bool blnReadOnly) {
  fs::permissions(fs::path(strPath),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  blnReadOnly ? fs::perm_options::remove : fs::perm_options::add);
}

bool IsReadOnly(const std::string& strPath) {
  return (fs::status(fs::path(strPath)).permissions() & fs::perms::owner_write) ==
         fs::perms::none;
}

Harness::Harness() : objTable(NativePlatform()), objSaved_(Os()) {
  static std::atomic<int> intCounter{0};
  fs::path objBase = fs::temp_directory_path() /
                     ("tarvex-test-" + std::to_string(static_cast<long>(
                                           fs::file_time_type::clock::now()
                                               .time_since_epoch()
                                               .count() %
                                           1000000007)) +
                      "-" + std::to_string(intCounter++));
  fs::create_directories(objBase / "app");
  strRoot = objBase.string();
  strApp = (objBase / "app").string();
  g_current = this;
  objTable.fncAppFolder = fncTestAppFolder;
  objTable.fncCreateTextFile = fncMemoryCreate;
  objTable.subWriteLine = subMemoryWrite;
  objTable.subCloseTextFile = subMemoryClose;
  objTable.subSleep = subRecordSleep;
  objTable.fncStartProcess = fncRecordStart;
  objTable.fncLockAppFolder = fncNoLock;
  Install();
  subNewRun();
}

Harness::~Harness() {
  Os() = objSaved_;
  g_run = RunState();
  g_current = nullptr;
  std::error_code objCode;
  // Read-only files inside would stop the removal on some hosts.
  for (auto& objEntry : fs::recursive_directory_iterator(fs::path(strRoot), objCode))
    fs::permissions(objEntry.path(), fs::perms::owner_write, fs::perm_options::add, objCode);
  fs::remove_all(fs::path(strRoot), objCode);
}

void Harness::Install() { Os() = objTable; }

void Harness::subNewRun() {
  g_run = RunState();
  g_run.objLog = &g_memoryLog;
  objLog.clear();
  objSleeps.clear();
  objStarts.clear();
}

Harness* Harness::Current() { return g_current; }

}  // namespace testing
}  // namespace tarvex
