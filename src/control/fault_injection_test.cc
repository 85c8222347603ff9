// Fault injection over whole runs: a three-entry deployment goes through
// Main() once cleanly, which counts the calls each platform operation gets;
// then, for every call of every operation that can fail and for every way it
// can fail, the run is repeated with that one call failing. Whatever fails,
// a run must not crash, must end its log with the stop line or Main's trap
// line, must never report SUCCESS for work it did not do, must leave no
// temporary file, and its exit code must agree with the status it reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <new>
#include <set>
#include <sstream>

#include "control/control.h"
#include "deploy/seal.h"
#include "deploy/signature.h"
#include "testing/test_platform.h"

namespace tarvex {
namespace {

namespace fs = std::filesystem;
using testing::Harness;
using testing::MakeDir;
using testing::ReadFile;
using testing::Sep;
using testing::WriteFile;

// ---- the operations under test and how each can fail

// Every operation of the table, from its one list.
enum Op {
#define TARVEX_VALUE(TYPE, NAME)
#define TARVEX_PRIMITIVE(RESULT, NAME, PARAMS) kOp_##NAME,
#include "platform/primitives.def"
  kOpCount
};
const char* const kOpNames[kOpCount] = {
#define TARVEX_VALUE(TYPE, NAME)
#define TARVEX_PRIMITIVE(RESULT, NAME, PARAMS) #NAME,
#include "platform/primitives.def"
};

enum KindType {
  kRaise,     // raises Error lngValue before doing anything
  kAfter,     // does the work, then raises Error lngValue
  kBadAlloc,  // throws std::bad_alloc
  kReturn,    // returns the operation's failure value (lngValue picks one)
};
struct Kind {
  KindType intType;
  int64_t lngValue;
  std::string Name() const {
    switch (intType) {
      case kRaise: return "raise " + std::to_string(lngValue);
      case kAfter: return "raise " + std::to_string(lngValue) + " after the work";
      case kBadAlloc: return "bad_alloc";
      default: return "return " + std::to_string(lngValue);
    }
  }
};

// Every number of the error table, and one outside it.
const int32_t kErrorNumbers[] = {2, 3, 5, 8, 32, 80, 87, 112, 193, 206, 267, 1117, 1359, 1450};

std::vector<Kind> KindsOf(Op intOp) {
  std::vector<Kind> objKinds;
  switch (intOp) {
    // The copy engine's primitives: a refusal, a full disk, a lost write
    // and one number outside the table stand for every error; those that
    // change the disk also fail after their work.
    case kOp_fncOpenRead:
    case kOp_fncOpenNoFollow:
    case kOp_fncReadAt:
    case kOp_fncCreateNew:
    case kOp_subWrite:
    case kOp_fncCopyRange:
    case kOp_subFlush:
    case kOp_subSetModeAndTime:
    case kOp_fncReadSecurity:
    case kOp_subApplySecurity:
    case kOp_subReplace:
    case kOp_subFlushFolder:
    case kOp_fncListFiles:
      for (int32_t lngNumber : {int32_t(kErrAccessDenied), int32_t(kErrDiskFull), int32_t(kErrIoError), int32_t(1450)})
        objKinds.push_back({kRaise, lngNumber});
      if (intOp == kOp_subWrite || intOp == kOp_subFlush || intOp == kOp_subSetModeAndTime ||
          intOp == kOp_subApplySecurity || intOp == kOp_subReplace || intOp == kOp_fncCopyRange)
        objKinds.push_back({kAfter, kErrIoError});
      // Reads and the kernel's copy can also end early: nothing read, 0
      // copied, or a system that cannot copy (-1).
      if (intOp == kOp_fncReadAt || intOp == kOp_fncCopyRange) objKinds.push_back({kReturn, 0});
      if (intOp == kOp_fncCopyRange) objKinds.push_back({kReturn, -1});
      break;
    case kOp_fncQueryFile:
      for (int32_t lngNumber : {int32_t(kErrFileNotFound), int32_t(kErrPathNotFound), int32_t(kErrAccessDenied), int32_t(1450)})
        objKinds.push_back({kReturn, lngNumber});
      break;
    case kOp_fncCompareRange:
      // Different bytes, or a range that cannot be compared so.
      objKinds.push_back({kReturn, 0});
      objKinds.push_back({kReturn, -1});
      return objKinds;
    case kOp_fncClose:
      // A close that reports a lost write; it allocates nothing.
      objKinds.push_back({kReturn, 0});
      return objKinds;
    case kOp_fncProcessEnded:
      objKinds.push_back({kReturn, 0});
      objKinds.push_back({kReturn, 1});
      break;
    case kOp_subDeleteFile:
    case kOp_fncCreateTextFile:
    case kOp_fncStartProcess:
    case kOp_fncStartGroup:
    case kOp_fncLockAppFolder:
      for (int32_t lngNumber : kErrorNumbers) objKinds.push_back({kRaise, lngNumber});
      if (intOp == kOp_subDeleteFile) objKinds.push_back({kAfter, kErrDiskFull});
      if (intOp == kOp_fncLockAppFolder) objKinds.push_back({kReturn, 0});  // the wait ran out
      break;
    case kOp_subWriteLine:
      // A line write is never told apart by its number: a refused write and
      // a full disk stand for all of them.
      objKinds.push_back({kRaise, kErrAccessDenied});
      objKinds.push_back({kRaise, kErrDiskFull});
      break;
    case kOp_fncRegOpenAgentKey:
      objKinds.push_back({kReturn, 2});
      objKinds.push_back({kReturn, 5});
      break;
    case kOp_fncRegQueryValue:
      objKinds.push_back({kReturn, 2});
      objKinds.push_back({kReturn, 5});
      objKinds.push_back({kReturn, 234});
      break;
    case kOp_fncWaitForProcess:
      objKinds.push_back({kReturn, kWaitTimeout});
      objKinds.push_back({kReturn, kWaitFailed});
      break;
    case kOp_fncExitCode:
      objKinds.push_back({kReturn, -1});  // unreadable
      objKinds.push_back({kReturn, 1});
      objKinds.push_back({kReturn, kStillActive});
      break;
    case kOp_fncHashBegin:
    case kOp_subHashAdd:
    case kOp_fncHashEnd:
      objKinds.push_back({kRaise, kErrInternal});
      break;
    case kOp_fncIsP256Key:
    case kOp_fncVerifyP256:
    case kOp_fncShortPathName:
    case kOp_fncSetAttributesNormal:
    case kOp_fncFileExists:
    case kOp_fncWriteProfileString:
    case kOp_fncOpenProcess:
      objKinds.push_back({kReturn, 0});
      break;
    default:  // clock and process texts: only their allocations can fail
      break;
  }
  objKinds.push_back({kBadAlloc, 0});
  return objKinds;
}

// ---- the planned fault and the call counts

struct Plan {
  Op intOp = kOpCount;  // none
  int intCall = -1;
  Kind objKind{kRaise, 0};
  bool blnFired = false;
};
Plan g_plan;
int g_calls[kOpCount];
Platform g_base;  // what the wrappers pass on to
std::string g_agentFolder;

// The fault due at this call of the operation, or null.
const Kind* Due(Op intOp) {
  int intCall = g_calls[intOp]++;
  if (g_plan.intOp != intOp || g_plan.intCall != intCall) return nullptr;
  g_plan.blnFired = true;
  return &g_plan.objKind;
}

// Raises what a raising kind raises; returns for kReturn.
void Throw(const Kind* pKind) {
  if (pKind == nullptr || pKind->intType == kReturn) return;
  if (pKind->intType == kBadAlloc) throw std::bad_alloc();
  int32_t lngNumber = static_cast<int32_t>(pKind->lngValue);
  subRaise(lngNumber, fncErrorText(lngNumber));
}

// Raising kinds raise before the work, except kAfter.
void Before(const Kind* pKind) {
  if (pKind != nullptr && pKind->intType != kAfter) Throw(pKind);
}
void After(const Kind* pKind) {
  if (pKind != nullptr && pKind->intType == kAfter) Throw(pKind);
}
bool Quiet(const Kind* pKind) { return pKind != nullptr && pKind->intType == kReturn; }

std::string WCommandLine() {
  Before(Due(kOp_fncCommandLineTail));
  return "4711";
}
std::string WAppFolder() {
  Before(Due(kOp_fncAppFolder));
  return g_base.fncAppFolder();
}
LocalTime WLocalTime() { return LocalTime{2026, 12, 8, 21, 30, 0}; }
std::string WShortDate(const LocalTime& objTime) {
  Before(Due(kOp_fncShortDate));
  return g_base.fncShortDate(objTime);
}
std::string WLongTime(const LocalTime& objTime) {
  Before(Due(kOp_fncLongTime));
  return g_base.fncLongTime(objTime);
}
std::string WTimeSeparator() {
  Before(Due(kOp_fncTimeSeparator));
  return g_base.fncTimeSeparator();
}
std::string WShortPath(const std::string& strPath) {
  const Kind* pKind = Due(kOp_fncShortPathName);
  Before(pKind);
  if (Quiet(pKind)) return "";
  return g_base.fncShortPathName(strPath);
}
bool WSetAttributes(const std::string& strPath) {
  const Kind* pKind = Due(kOp_fncSetAttributesNormal);
  Before(pKind);
  if (Quiet(pKind)) return false;
  return g_base.fncSetAttributesNormal(strPath);
}
bool WExists(const std::string& strPath) {
  const Kind* pKind = Due(kOp_fncFileExists);
  Before(pKind);
  if (Quiet(pKind)) return false;
  return g_base.fncFileExists(strPath);
}
int64_t WUnixTime() { return 1796765400; }  // 2026-12-08
bool WIsP256Key(const std::string& strKey) {
  const Kind* pKind = Due(kOp_fncIsP256Key);
  Before(pKind);
  return !Quiet(pKind) && g_base.fncIsP256Key(strKey);
}
bool WVerifyP256(const std::string& strKey, const std::string& strMessage,
                 const std::string& strSignature) {
  const Kind* pKind = Due(kOp_fncVerifyP256);
  Before(pKind);
  return !Quiet(pKind) && g_base.fncVerifyP256(strKey, strMessage, strSignature);
}
int32_t WQueryFile(const std::string& strPath, FileInfo* pInfo) {
  const Kind* pKind = Due(kOp_fncQueryFile);
  Before(pKind);
  if (Quiet(pKind)) return static_cast<int32_t>(pKind->lngValue);
  return g_base.fncQueryFile(strPath, pInfo);
}
FileHandle WOpenRead(const std::string& strPath, FileInfo* pInfo) {
  Before(Due(kOp_fncOpenRead));
  return g_base.fncOpenRead(strPath, pInfo);
}
FileHandle WOpenNoFollow(const std::string& strPath, FileInfo* pInfo) {
  Before(Due(kOp_fncOpenNoFollow));
  return g_base.fncOpenNoFollow(strPath, pInfo);
}
Hasher WHashBegin() {
  Before(Due(kOp_fncHashBegin));
  return g_base.fncHashBegin();
}
void WHashAdd(Hasher objHash, const char* pData, size_t lngLength) {
  Before(Due(kOp_subHashAdd));
  g_base.subHashAdd(objHash, pData, lngLength);
}
// Frees the state whatever it raises, as the real one does.
std::string WHashEnd(Hasher objHash) {
  const Kind* pKind = Due(kOp_fncHashEnd);
  std::string strDigest = g_base.fncHashEnd(objHash);
  Throw(pKind);
  return strDigest;
}
size_t WReadAt(FileHandle objFile, uint64_t lngOffset, char* pData, size_t lngLength) {
  const Kind* pKind = Due(kOp_fncReadAt);
  Before(pKind);
  if (Quiet(pKind)) return 0;
  return g_base.fncReadAt(objFile, lngOffset, pData, lngLength);
}
FileHandle WCreateNew(const std::string& strPath, bool blnShared) {
  Before(Due(kOp_fncCreateNew));
  return g_base.fncCreateNew(strPath, blnShared);
}
void WWrite(FileHandle objFile, const char* pData, size_t lngLength) {
  const Kind* pKind = Due(kOp_subWrite);
  Before(pKind);
  g_base.subWrite(objFile, pData, lngLength);
  After(pKind);
}
int64_t WCopyRange(FileHandle objFrom, uint64_t lngOffset, FileHandle objTo, uint64_t lngLength) {
  const Kind* pKind = Due(kOp_fncCopyRange);
  Before(pKind);
  if (Quiet(pKind)) return pKind->lngValue;
  int64_t lngDone = g_base.fncCopyRange(objFrom, lngOffset, objTo, lngLength);
  After(pKind);
  return lngDone;
}
int WCompareRange(FileHandle objA, FileHandle objB, uint64_t lngOffset, size_t lngLength) {
  const Kind* pKind = Due(kOp_fncCompareRange);
  if (Quiet(pKind)) return static_cast<int>(pKind->lngValue);
  return g_base.fncCompareRange(objA, objB, lngOffset, lngLength);
}
void WFlush(FileHandle objFile) {
  const Kind* pKind = Due(kOp_subFlush);
  Before(pKind);
  g_base.subFlush(objFile);
  After(pKind);
}
void WSetMode(FileHandle objFile, uint32_t lngMode, int64_t lngModified) {
  const Kind* pKind = Due(kOp_subSetModeAndTime);
  Before(pKind);
  g_base.subSetModeAndTime(objFile, lngMode, lngModified);
  After(pKind);
}
std::string WReadSecurity(const std::string& strPath) {
  Before(Due(kOp_fncReadSecurity));
  return g_base.fncReadSecurity(strPath);
}
void WApplySecurity(FileHandle objFile, const std::string& strSecurity, bool blnOwner) {
  const Kind* pKind = Due(kOp_subApplySecurity);
  Before(pKind);
  g_base.subApplySecurity(objFile, strSecurity, blnOwner);
  After(pKind);
}
bool WClose(FileHandle objFile) {
  const Kind* pKind = Due(kOp_fncClose);
  bool blnClosed = g_base.fncClose(objFile);  // closed in any case: no handle leaks
  return Quiet(pKind) ? false : blnClosed;
}
void WReplace(const std::string& strFrom, const std::string& strTo) {
  const Kind* pKind = Due(kOp_subReplace);
  Before(pKind);
  g_base.subReplace(strFrom, strTo);
  After(pKind);
}
void WFlushFolder(const std::string& strFolder) {
  Before(Due(kOp_subFlushFolder));
  g_base.subFlushFolder(strFolder);
}
std::string WStoredName(const std::string& strPath) {
  Before(Due(kOp_fncStoredName));
  return g_base.fncStoredName(strPath);
}
std::vector<std::string> WListFiles(const std::string& strFolder) {
  Before(Due(kOp_fncListFiles));
  return g_base.fncListFiles(strFolder);
}
bool WProcessEnded(uint32_t lngProcessID) {
  const Kind* pKind = Due(kOp_fncProcessEnded);
  Before(pKind);
  if (Quiet(pKind)) return pKind->lngValue != 0;
  return g_base.fncProcessEnded(lngProcessID);
}
void WDelete(const std::string& strPath) {
  const Kind* pKind = Due(kOp_subDeleteFile);
  Before(pKind);
  g_base.subDeleteFile(strPath);
  After(pKind);
}
TextFile WCreateLog(const std::string& strPath) {
  Before(Due(kOp_fncCreateTextFile));
  return g_base.fncCreateTextFile(strPath);
}
void WWriteLine(TextFile objFile, const std::string& strText) {
  Before(Due(kOp_subWriteLine));
  g_base.subWriteLine(objFile, strText);
}

// The agent's key, held in memory; PackageKeys where the package is signed.
int g_key = 0;
std::string g_packageKeys;
int32_t WRegOpen(RegKey* pKey) {
  const Kind* pKind = Due(kOp_fncRegOpenAgentKey);
  Before(pKind);
  if (Quiet(pKind)) return static_cast<int32_t>(pKind->lngValue);
  *pKey = &g_key;
  return 0;
}
int32_t WRegQuery(RegKey, const std::string& strName, uint32_t* pType, char* pData,
                  uint32_t* pSize) {
  const Kind* pKind = Due(kOp_fncRegQueryValue);
  Before(pKind);
  if (Quiet(pKind)) return static_cast<int32_t>(pKind->lngValue);
  std::string strValue;
  if (strName == "InstallationPath")
    strValue = g_agentFolder;
  else if (strName == "REGID")
    strValue = "REG-7";
  else if (strName == "PackageKeys" && !g_packageKeys.empty())
    strValue = g_packageKeys;
  else
    return 2;
  *pType = kRegSz;
  if (pData != nullptr) {
    if (*pSize < strValue.size() + 1) return 234;
    std::memcpy(pData, strValue.c_str(), strValue.size() + 1);
  }
  *pSize = static_cast<uint32_t>(strValue.size() + 1);
  return 0;
}
void WRegClose(RegKey) {}

bool WProfileWrite(const std::string& strSection, const std::string& strKey,
                   const std::string& strValue, const std::string& strFile) {
  const Kind* pKind = Due(kOp_fncWriteProfileString);
  Before(pKind);
  if (Quiet(pKind)) return false;
  return g_base.fncWriteProfileString(strSection, strKey, strValue, strFile);
}

// Processes: nothing real is started; every process ends at once with 0.
uint32_t g_nextProcess = 100;
int g_process = 0;
uint32_t WStart(const std::string& strCommandLine) {
  Before(Due(kOp_fncStartProcess));
  Harness::Current()->objStarts.push_back(strCommandLine);
  return g_nextProcess++;
}
uint32_t WStartGroup(const std::string& strCommandLine) {
  Before(Due(kOp_fncStartGroup));
  Harness::Current()->objStarts.push_back(strCommandLine);
  return g_nextProcess++;
}
void WEndGroup(uint32_t lngProcessID) {
  Harness::Current()->objStarts.push_back("end " + std::to_string(lngProcessID));
}
int64_t g_ticks = 0;
int64_t WTickMs() { return g_ticks += 7; }
ProcHandle WOpenProcess(uint32_t, uint32_t) {
  const Kind* pKind = Due(kOp_fncOpenProcess);
  Before(pKind);
  if (Quiet(pKind)) return nullptr;
  return &g_process;
}
uint32_t WWait(ProcHandle, uint32_t) {
  const Kind* pKind = Due(kOp_fncWaitForProcess);
  Before(pKind);
  if (Quiet(pKind)) return static_cast<uint32_t>(pKind->lngValue);
  return kWaitObject0;
}
bool WExitCode(ProcHandle, uint32_t* pCode) {
  const Kind* pKind = Due(kOp_fncExitCode);
  Before(pKind);
  if (Quiet(pKind)) {
    if (pKind->lngValue < 0) return false;
    *pCode = static_cast<uint32_t>(pKind->lngValue);
    return true;
  }
  *pCode = 0;
  return true;
}
void WCloseProcess(ProcHandle) {}
void WReap() {}
bool WLock(uint32_t lngMilliseconds) {
  EXPECT_EQ(30u * 60 * 1000, lngMilliseconds) << "a run waits 30 minutes for its folder";
  const Kind* pKind = Due(kOp_fncLockAppFolder);
  Before(pKind);
  if (Quiet(pKind)) return false;
  return g_base.fncLockAppFolder(lngMilliseconds);
}

// ---- the scenario

struct Entry {
  const char* strSection;
  const char* strFileName;
  const char* strFolder;  // below the agent's folder
  const char* strBytes;
};
const Entry kEntries[] = {
    {"Library", "tool.dll", "Bin", "new library bytes"},
    {"Program", "setup.exe", "Setup Files", "new program bytes"},
    {"Notes", "readme.txt", "Docs", "new text bytes"},
};

const char kManifest[] =
    "[Library]\r\nFileName=tool.dll\r\nFilePath=Bin\\\r\nDuplix=Y\r\nExecuteFile=Y\r\n"
    "[Program]\r\nFileName=setup.exe\r\nFilePath=Setup Files\\\r\nDuplix=Y\r\nExecuteFile=Y\r\n"
    "Parameters=/quiet /norestart\r\n"
    "[Notes]\r\nFileName=readme.txt\r\nFilePath=Docs\\\r\nDuplix=Y\r\n";
// The same, its program judged by its exit code and held to a time.
const char kJudgedManifest[] =
    "[Library]\r\nFileName=tool.dll\r\nFilePath=Bin\\\r\nDuplix=Y\r\nExecuteFile=Y\r\n"
    "[Program]\r\nFileName=setup.exe\r\nFilePath=Setup Files\\\r\nDuplix=Y\r\nExecuteFile=Y\r\n"
    "Parameters=/quiet /norestart\r\nSuccessCodes=0\r\nRebootCodes=3010\r\nTimeout=600\r\n"
    "[Notes]\r\nFileName=readme.txt\r\nFilePath=Docs\\\r\nDuplix=Y\r\n";

// A status file left by an earlier run whose hand-off failed.
const char kStaleSuccess[] =
    "[STATUS_INFO]\r\nREGID=REG-7\r\nDesc=\r\nPID=1\r\nSysID=\r\n"
    "LastRunDateTime=12/07/2026 09:00:00 PM\r\nNextRunDateTime=12/07/2026 09:00:00 PM\r\n"
    "LastRunStatusCode=SUCCESS\r\n";

struct Outcome {
  int intExit = -1;
  std::vector<std::string> objLog;
  std::string strStatus;  // LastRunStatusCode of the status file this run left
  std::string strStatusFile;
  bool blnHandedOver = false;  // PMStatus received a status file
  std::vector<bool> objDeployed;
  std::vector<std::string> objTemporaries;
};

// LastRunStatusCode of a status file; "" when it has none.
std::string StatusCode(const std::string& strText) {
  std::istringstream objIn(strText);
  std::string strLine;
  bool blnInSection = false;
  while (std::getline(objIn, strLine)) {
    if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
    if (!strLine.empty() && strLine[0] == '[') {
      blnInSection = strLine == "[STATUS_INFO]";
      continue;
    }
    if (blnInSection && strLine.rfind("LastRunStatusCode=", 0) == 0)
      return strLine.substr(std::string("LastRunStatusCode=").size());
  }
  return "";
}

class FaultInjection : public ::testing::Test {
 protected:
  void SetUp() override {
    g_plan = Plan();
    const Platform objBefore = objHarness.objTable;
    g_base = objHarness.objTable;  // the harness's in-memory log and its app folder
    g_base.fncCommandLineTail = WCommandLine;
    // The sweep is about what a run does and says, not about the disk:
    // thousands of runs need not wait for it. The engine's own tests show
    // the flushes and their order.
    g_base.subFlush = [](FileHandle) {};
    g_base.subFlushFolder = [](const std::string&) {};
    g_agentFolder = objHarness.strRoot + Sep() + "agent";
    Platform& t = objHarness.objTable;
    t.fncCommandLineTail = WCommandLine;
    t.fncAppFolder = WAppFolder;
    t.fncLocalTime = WLocalTime;
    t.fncShortDate = WShortDate;
    t.fncLongTime = WLongTime;
    t.fncTimeSeparator = WTimeSeparator;
    t.subSleep = [](uint32_t) {};
    t.fncShortPathName = WShortPath;
    t.fncSetAttributesNormal = WSetAttributes;
    t.fncFileExists = WExists;
    t.fncQueryFile = WQueryFile;
    t.fncOpenRead = WOpenRead;
    t.fncOpenNoFollow = WOpenNoFollow;
    t.fncReadAt = WReadAt;
    t.fncCreateNew = WCreateNew;
    t.subWrite = WWrite;
    // Windows has no kernel copy: the engine must not be handed one.
    t.fncCopyRange = g_base.fncCopyRange != nullptr ? WCopyRange : nullptr;
    t.fncCompareRange = g_base.fncCompareRange != nullptr ? WCompareRange : nullptr;
    t.subFlush = WFlush;
    t.subSetModeAndTime = WSetMode;
    t.fncReadSecurity = WReadSecurity;
    t.subApplySecurity = WApplySecurity;
    t.fncClose = WClose;
    t.subReplace = WReplace;
    t.subFlushFolder = WFlushFolder;
    t.fncStoredName = WStoredName;
    t.fncListFiles = WListFiles;
    t.fncProcessEnded = WProcessEnded;
    t.subDeleteFile = WDelete;
    t.fncCreateTextFile = WCreateLog;
    t.subWriteLine = WWriteLine;
    t.fncRegOpenAgentKey = WRegOpen;
    t.fncRegQueryValue = WRegQuery;
    t.subRegCloseKey = WRegClose;
    t.fncWriteProfileString = WProfileWrite;
    t.fncStartProcess = WStart;
    t.fncOpenProcess = WOpenProcess;
    t.fncWaitForProcess = WWait;
    t.fncExitCode = WExitCode;
    t.subCloseProcess = WCloseProcess;
    t.subReapProcesses = WReap;
    t.fncLockAppFolder = WLock;
    t.fncHashBegin = WHashBegin;
    t.subHashAdd = WHashAdd;
    t.fncHashEnd = WHashEnd;
    t.fncUnixTime = WUnixTime;
    t.fncTickMs = WTickMs;
    t.fncStartGroup = WStartGroup;
    t.subEndGroup = WEndGroup;
    t.fncIsP256Key = WIsP256Key;
    t.fncVerifyP256 = WVerifyP256;
    g_packageKeys.clear();
    objHarness.Install();
    // A new operation is swept as soon as it is in the table, or excused
    // here with its reason.
#define TARVEX_VALUE(TYPE, NAME)
#define TARVEX_PRIMITIVE(RESULT, NAME, PARAMS)                         \
  if (t.NAME != nullptr && t.NAME == objBefore.NAME && !Excused(kOp_##NAME)) \
    ADD_FAILURE() << #NAME " is neither swept for faults nor excused";
#include "platform/primitives.def"
  }

  // The operations a run may call that no fault is injected into.
  static bool Excused(Op intOp) {
    switch (intOp) {
      case kOp_subCloseTextFile:     // the log's lines are written one by one
      case kOp_fncCurrentProcessID:  // cannot fail
      case kOp_fncFromUtf8:          // the scenario's manifest has no byte-order mark
      case kOp_fncFileTraits:        // the checker's alone
      case kOp_fncSignP256:          // the checker's alone
      case kOp_fncSystemProgram:     // cannot fail: a path, or the name itself
      case kOp_fncToUtf8:            // the run report's text: cannot fail
        return true;
      default:
        return false;
    }
  }

  // Lays the sandbox out: the application folder with the manifest and the
  // sources, the agent's folder with older copies of two targets. Later
  // runs only clear what a run may leave (its files are few, and folder
  // work is slow under Wine).
  void Layout() {
    std::error_code objCode;
    const fs::path objApp(objHarness.strApp), objAgent(g_agentFolder);
    std::set<std::string> objKeep = {kManifestName, kSealName, kSignatureName};
    for (const Entry& objEntry : kEntries) objKeep.insert(objEntry.strFileName);
    if (!blnLaidOut) {
      WriteFile(objHarness.strApp + Sep() + "Tarvex.INI", blnJudged ? kJudgedManifest : kManifest);
      for (const Entry& objEntry : kEntries) {
        if (!blnThirdSourceMissing || std::string(objEntry.strSection) != "Notes")
          WriteFile(objHarness.strApp + Sep() + objEntry.strFileName, objEntry.strBytes);
        MakeDir(g_agentFolder + Sep() + objEntry.strFolder);
      }
      MakeDir(g_agentFolder + Sep() + "PMStatus");
      if (blnSealed) {
        // Sealed with the system's own hash, not the one being failed.
        auto fncDigest = [](const std::string& strBytes) {
          Hasher objHash = NativePlatform().fncHashBegin();
          NativePlatform().subHashAdd(objHash, strBytes.data(), strBytes.size());
          return NativePlatform().fncHashEnd(objHash);
        };
        std::vector<SealLine> objLines{{kManifestName, fncDigest(kManifest), 0}};
        for (const Entry& objEntry : kEntries)
          objLines.push_back({objEntry.strFileName, fncDigest(objEntry.strBytes), 0});
        SealHeader objHeader;
        if (blnSigned) {
          objHeader.objPackage = {true, false, "Tool", 1};
          objHeader.objVersion = {true, false, "3", 2};
        }
        const std::string strSeal = fncSealText(objLines, objHeader);
        WriteFile(objHarness.strApp + Sep() + kSealName, strSeal);
        if (blnSigned)
          WriteFile(objHarness.strApp + Sep() + kSignatureName,
                    NativePlatform().fncSignP256(MakeKey(), strSeal));
      }
      blnLaidOut = true;
    }
    std::vector<fs::path> objGone;
    for (auto& objEntry : fs::directory_iterator(objApp, objCode))
      if (!objKeep.count(objEntry.path().filename().string())) objGone.push_back(objEntry.path());
    for (auto& objEntry : fs::directory_iterator(objAgent, objCode)) {
      if (!objEntry.is_directory()) {
        objGone.push_back(objEntry.path());
        continue;
      }
      for (auto& objInner : fs::directory_iterator(objEntry.path(), objCode))
        objGone.push_back(objInner.path());
    }
    for (const fs::path& objPath : objGone) {
      fs::permissions(objPath, fs::perms::owner_write, fs::perm_options::add, objCode);
      fs::remove_all(objPath, objCode);
    }
    WriteFile(Target(0), blnCurrentTargets ? kEntries[0].strBytes : "old library");
    WriteFile(Target(2), blnCurrentTargets ? kEntries[2].strBytes : "old text");
    if (blnCurrentTargets) WriteFile(Target(1), kEntries[1].strBytes);
    if (blnStaleSuccess) {
      WriteFile(objHarness.strApp + Sep() + "Duplix.ini", kStaleSuccess);
      testing::SetReadOnly(objHarness.strApp + Sep() + "Duplix.ini", true);
    }
  }

  std::string Target(int i) {
    return g_agentFolder + Sep() + kEntries[i].strFolder + Sep() + kEntries[i].strFileName;
  }

  Outcome Run(const Plan& objPlan) {
    Layout();
    g_plan = objPlan;
    std::fill(std::begin(g_calls), std::end(g_calls), 0);
    objHarness.objLog.clear();
    objHarness.objStarts.clear();
    Outcome objOut;
    objOut.intExit = Main();
    objOut.objLog = objHarness.objLog;
    std::string strHanded = g_agentFolder + Sep() + "PMStatus" + Sep() + "Duplix.ini";
    std::string strLocal = objHarness.strApp + Sep() + "Duplix.ini";
    objOut.strStatusFile = testing::Exists(strHanded) ? strHanded
                           : testing::Exists(strLocal) ? strLocal
                                                       : "";
    // The local file is this run's once the run has started it (its PID);
    // an earlier run's file that this run never touched reports nothing.
    if (objOut.strStatusFile == strLocal &&
        ReadFile(strLocal).find("PID=4711\r\n") == std::string::npos)
      objOut.strStatusFile.clear();
    objOut.blnHandedOver = objOut.strStatusFile == strHanded;
    if (!objOut.strStatusFile.empty())
      objOut.strStatus = StatusCode(ReadFile(objOut.strStatusFile));
    for (int i = 0; i < 3; ++i)
      objOut.objDeployed.push_back(testing::Exists(Target(i)) &&
                                   ReadFile(Target(i)) == kEntries[i].strBytes);
    std::error_code objCode;
    for (auto& objEntry : fs::recursive_directory_iterator(fs::path(objHarness.strRoot), objCode)) {
      std::string strName = objEntry.path().filename().string();
      if (strName.size() >= 11 && strName.compare(strName.size() - 11, 11, ".tarvex.tmp") == 0)
        objOut.objTemporaries.push_back(objEntry.path().string());
    }
    return objOut;
  }

  // What is wrong with the outcome of a run with objPlan's fault; empty
  // when nothing is.
  std::vector<std::string> Problems(const Plan& objPlan, const Outcome& o) {
    std::vector<std::string> objProblems;
    auto fncProblem = [&](const std::string& strText) { objProblems.push_back(strText); };
    const Op intOp = objPlan.intOp;
    if (intOp != kOpCount && !objPlan.blnFired) fncProblem("the fault did not fire");

    // Without the lock the run ends before anything else: 4 when the wait
    // ran out, Main's trap (3) when the lock could not be made.
    if (intOp == kOp_fncLockAppFolder) {
      int intWanted = Quiet(&objPlan.objKind) ? kExitLockTimeout : kExitTrapped;
      if (o.intExit != intWanted) fncProblem("a run without the lock must end at once");
      for (int i = 0; i < kOpCount; ++i)
        if (i != kOp_fncLockAppFolder && g_calls[i] > 0)
          fncProblem(std::string("a run without the lock called ") + kOpNames[i]);
    } else if (intOp == kOp_fncCreateTextFile || (intOp != kOp_subWriteLine && o.objLog.empty())) {
      // The log. Without one (it could not be created, or its path not
      // formed) the run ends at once.
      if (o.intExit != kExitTrapped) fncProblem("a run without a log must end at once (3)");
      if (!o.objLog.empty()) fncProblem("lines logged without a log");
      if (!o.strStatusFile.empty()) fncProblem("a run without a log wrote a status file");
    } else if (intOp == kOp_subWriteLine) {
      // A lost line changes nothing else.
      std::vector<std::string> objWanted = objClean.objLog;
      if (objPlan.intCall < static_cast<int>(objWanted.size()))
        objWanted.erase(objWanted.begin() + objPlan.intCall);
      if (o.objLog != objWanted) fncProblem("a lost log line changed the run");
    } else {
      const std::string strLast = o.objLog.empty() ? "" : o.objLog.back();
      if (strLast.rfind("MSG : Application Stopped ", 0) != 0 &&
          strLast.rfind("ERR : Sub - Main ", 0) != 0)
        fncProblem("log does not end with the stop line or Main's trap line");
    }
    for (const std::string& strLine : o.objLog)
      if (strLine.rfind("MSG : ", 0) != 0 && strLine.rfind("ERR : ", 0) != 0)
        fncProblem("log line without its prefix: " + strLine);

    // SUCCESS only for work done. A profile read that fails quietly looks
    // like a key that is not there: its entry is then told to do something
    // else, which the program cannot know.
    if (o.strStatus == "SUCCESS") {
      std::string strMissing;
      for (int i = 0; i < 3; ++i) {
        if (!o.objDeployed[i]) strMissing += std::string(" ") + kEntries[i].strFileName;
      }
      if (!strMissing.empty())
        fncProblem("the status file says SUCCESS, but not deployed:" + strMissing);
    }

    // The agent receives this run's report or none: never an earlier run's
    // PID, never a file without a final status.
    if (o.blnHandedOver &&
        (ReadFile(o.strStatusFile).find("PID=4711\r\n") == std::string::npos ||
         (o.strStatus != "SUCCESS" && o.strStatus != "FAILED")))
      fncProblem("PMStatus received a status file without this run's PID and final status");

    // The exit code agrees with the status of record.
    if (o.intExit == kExitSuccess && o.strStatus != "SUCCESS")
      fncProblem("exit code 0 but the status file says '" + o.strStatus + "'");
    // A status file whose hand-off failed may say SUCCESS (and may even lie
    // in PMStatus, unflushed): the run then exits 5, and never 0.
    bool blnHandOffFailed = false;
    for (const std::string& strLine : o.objLog)
      if (strLine.rfind("MSG : Failed to Copy PID File ", 0) == 0) blnHandOffFailed = true;
    if (o.intExit != kExitSuccess && o.intExit != kExitTrapped && o.strStatus == "SUCCESS" &&
        o.intExit != kExitNotHandedOver)
      fncProblem("the status file says SUCCESS but the exit code is " +
                 std::to_string(o.intExit));
    if (blnHandOffFailed && intOp != kOp_subWriteLine && o.intExit != kExitNotHandedOver &&
        o.intExit != kExitTrapped)
      fncProblem("the hand-off failed but the exit code is " + std::to_string(o.intExit));
    if (o.intExit == kExitNotHandedOver && !blnHandOffFailed && intOp != kOp_subWriteLine)
      fncProblem("exit code 5 without a failed hand-off");
    if (o.intExit == kExitTrapped && !o.objLog.empty() && intOp != kOp_subWriteLine &&
        o.objLog.back().rfind("ERR : Sub - Main ", 0) != 0)
      fncProblem("exit code 3 without Main's trap line");
    // A trap after the hand-off (in the stop line) ends the run with 3
    // although SUCCESS has been handed over: the deployment was complete, so
    // only that order is accepted.
    if (o.intExit == kExitTrapped && o.strStatus == "SUCCESS") {
      bool blnHandedOver = false;
      for (const std::string& strLine : o.objLog)
        if (strLine.rfind("MSG : Successfully Copied PID File ", 0) == 0) blnHandedOver = true;
      if (!blnHandedOver) fncProblem("a trapped run left SUCCESS in its status file");
    }
    if (o.intExit != kExitSuccess && o.intExit != kExitFailed && o.intExit != kExitTrapped &&
        o.intExit != kExitNotHandedOver && (o.intExit != kExitLockTimeout || intOp != kOp_fncLockAppFolder))
      fncProblem("unexpected exit code " + std::to_string(o.intExit));

    // A failed run says why.
    if (o.intExit != kExitSuccess && !o.objLog.empty() && intOp != kOp_subWriteLine) {
      bool blnTold = false;
      for (const std::string& strLine : o.objLog)
        if (strLine.rfind("ERR : ", 0) == 0 || strLine.rfind("MSG : Failed", 0) == 0)
          blnTold = true;
      if (!blnTold) fncProblem("a failed run without an ERR or Failed line");
    }

    for (const std::string& strTemporary : o.objTemporaries)
      fncProblem("temporary file left: " + strTemporary);
    return objProblems;
  }

  static std::string Describe(const Plan& objPlan, const Outcome& o) {
    std::string strText = std::string(kOpNames[objPlan.intOp]) + " call " +
                          std::to_string(objPlan.intCall) + ": " + objPlan.objKind.Name() +
                          " -> exit " + std::to_string(o.intExit) + ", status '" + o.strStatus +
                          "'\n    log:";
    for (const std::string& strLine : o.objLog) strText += "\n      " + strLine;
    return strText;
  }

  // Runs the clean scenario, then every fault point; returns the number tried.
  int Sweep(const char* strScenario, int intCleanExit) {
    objClean = Run(Plan());
    std::vector<std::string> objCleanProblems = Problems(Plan(), objClean);
    EXPECT_EQ(intCleanExit, objClean.intExit) << Describe(Plan(), objClean);
    for (const std::string& strProblem : objCleanProblems)
      ADD_FAILURE() << strScenario << ", clean run: " << strProblem;
    int objCounts[kOpCount];
    std::copy(std::begin(g_calls), std::end(g_calls), std::begin(objCounts));

    std::ostringstream objCountText;
    for (int i = 0; i < kOpCount; ++i)
      if (objCounts[i] > 0) objCountText << " " << kOpNames[i] << "=" << objCounts[i];
    std::cout << strScenario << ": calls in a clean run:" << objCountText.str() << "\n";

    int intTried = 0, intBad = 0;
    for (int intOp = 0; intOp < kOpCount; ++intOp) {
      for (int intCall = 0; intCall < objCounts[intOp]; ++intCall) {
        for (const Kind& objKind : KindsOf(static_cast<Op>(intOp))) {
          Plan objPlan;
          objPlan.intOp = static_cast<Op>(intOp);
          objPlan.intCall = intCall;
          objPlan.objKind = objKind;
          Outcome objOut = Run(objPlan);
          ++intTried;
          std::vector<std::string> objProblems = Problems(g_plan, objOut);
          if (objProblems.empty()) continue;
          // Each distinct problem once, with the first fault point that shows it.
          ++intBad;
          for (const std::string& strProblem : objProblems) {
            if (!objReported.insert(strProblem + kOpNames[intOp] + objKind.Name()).second)
              continue;
            ADD_FAILURE() << strScenario << ": " << strProblem << "\n  at "
                          << Describe(g_plan, objOut);
          }
        }
      }
    }
    std::cout << strScenario << ": " << intTried << " fault points, " << intBad << " failing\n";
    return intTried;
  }

  Harness objHarness;
  Outcome objClean;
  bool blnLaidOut = false;
  bool blnStaleSuccess = false;
  bool blnThirdSourceMissing = false;
  bool blnCurrentTargets = false;  // every target already holds its bytes
  bool blnJudged = false;          // the program judged and held to a time
  bool blnSealed = false;
  bool blnSigned = false;  // and its PackageKeys pinned
  std::set<std::string> objReported;

  // A throwaway P-256 key made by openssl: its private key's PEM; its
  // public key goes to the agent's PackageKeys.
  std::string MakeKey() {
    const std::string strKey = objHarness.strRoot + Sep() + "key.pem";
    const std::string strPublic = objHarness.strRoot + Sep() + "public.pem";
    EXPECT_EQ(0, std::system(("openssl ecparam -name prime256v1 -genkey -noout -out \"" + strKey +
                              "\" && openssl pkey -in \"" + strKey + "\" -pubout -out \"" +
                              strPublic + "\"").c_str()));
    std::istringstream objIn(ReadFile(strPublic));
    std::string strLine;
    while (std::getline(objIn, strLine))
      if (strLine.rfind("-----", 0) != 0) g_packageKeys += strLine;
    return ReadFile(strKey);
  }
};

TEST_F(FaultInjection, EveryFaultOfASuccessfulDeployment) {
  int intTried = Sweep("successful deployment", kExitSuccess);
  EXPECT_TRUE(objClean.objDeployed[0] && objClean.objDeployed[1] && objClean.objDeployed[2]);
  EXPECT_EQ("SUCCESS", objClean.strStatus);
  RecordProperty("fault_points", intTried);
  std::cout << "fault points tried: " << intTried << std::endl;
}

// A run that must fail (its third source is missing) while the status file
// of an earlier run, whose hand-off failed, still says SUCCESS and is
// read-only: no single fault may let that old SUCCESS reach the agent.
TEST_F(FaultInjection, EveryFaultOfAFailingDeploymentOverAStaleSuccess) {
  blnStaleSuccess = true;
  blnThirdSourceMissing = true;
  int intTried = Sweep("failing deployment, stale SUCCESS", kExitFailed);
  EXPECT_EQ("FAILED", objClean.strStatus);
  RecordProperty("fault_points", intTried);
  std::cout << "fault points tried: " << intTried << std::endl;
}

// A repeated deployment: every target already holds its source's bytes and
// stays as it is, unless a fault makes the run fail.
TEST_F(FaultInjection, EveryFaultOfARepeatedDeploymentOntoCurrentTargets) {
  blnCurrentTargets = true;
  blnJudged = true;  // and its program judged: a fault never passes for its success
  int intTried = Sweep("repeated deployment", kExitSuccess);
  EXPECT_EQ("SUCCESS", objClean.strStatus);
  RecordProperty("fault_points", intTried);
  std::cout << "fault points tried: " << intTried << std::endl;
}

// A sealed package: every source is hashed as it is copied, and whatever
// fails, nothing unhashed or unverified is placed and reported as done.
// Where this build can sign (POSIX), the package is signed too and its key
// pinned: a fault may fail the run, never let an unverified package through.
TEST_F(FaultInjection, EveryFaultOfASealedDeployment) {
  blnSealed = true;
  blnSigned = NativePlatform().fncSignP256 != nullptr;
  int intTried = Sweep(blnSigned ? "signed deployment" : "sealed deployment", kExitSuccess);
  EXPECT_EQ("SUCCESS", objClean.strStatus);
  if (blnSigned) {
    EXPECT_EQ("MSG : Package Signature Verified - Tool 3", objClean.objLog[3]);
  }
  EXPECT_EQ("MSG : Package Seal Verified - 4 Files", objClean.objLog[blnSigned ? 4 : 3]);
  RecordProperty("fault_points", intTried);
  std::cout << "fault points tried: " << intTried << std::endl;
}

}  // namespace
}  // namespace tarvex
