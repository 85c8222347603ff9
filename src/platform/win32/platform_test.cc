// Behaviour of the Win32 table that only the real system shows: short
// names, attributes, the one-step copy, ANSI text files, profile limits,
// the registry round trip, process starts and the run lock.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <sddl.h>

#include <cstring>
#include <string>

#include "deploy/deploy.h"
#include "environment/environment.h"
#include "gtest/gtest.h"
#include "platform/platform.h"
#include "platform/win32/internal.h"
#include "testing/test_platform.h"

namespace tarvex {

namespace {

using testing::Harness;
using testing::RaisedNumber;
using testing::ReadFile;
using testing::WriteFile;

const Platform& Win() { return NativePlatform(); }

DWORD Attributes(const std::string& strPath) { return GetFileAttributesA(strPath.c_str()); }

TEST(Win32CommandLine, TailFollowsTheProgramName) {
  EXPECT_EQ(win32::fncCommandLineTail("\"C:\\Program Files\\Tarvex.exe\"  \"12\" 34"),
            "\"12\" 34");
  EXPECT_EQ(win32::fncCommandLineTail("\"C:\\A B\\Tarvex.exe\"12"), "12");
  // Tabs stay, as on POSIX: only spaces are trimmed from the parameter.
  EXPECT_EQ(win32::fncCommandLineTail("Tarvex.exe \t 12 34 "), "\t 12 34 ");
  EXPECT_EQ(win32::fncCommandLineTail("Tarvex.exe\t12"), "\t12");
  EXPECT_EQ(win32::fncCommandLineTail("Tarvex.exe"), "");
  EXPECT_EQ(win32::fncCommandLineTail("\"C:\\A B\\Tarvex.exe\""), "");
  // An unclosed quote takes the whole line as the program name.
  EXPECT_EQ(win32::fncCommandLineTail("\"C:\\A B\\Tarvex.exe 12"), "");
}

TEST(Win32Paths, ShortPathOfALongFolderKeepsTheTrailingBackslash) {
  Harness objHarness;
  const std::string strLong = objHarness.strRoot + "\\Long Folder Name\\";
  testing::MakeDir(strLong);
  std::string strShort = Win().fncShortPathName(strLong);
  ASSERT_FALSE(strShort.empty());
  EXPECT_EQ(strShort.back(), '\\');
  EXPECT_EQ(strShort.find(' '), std::string::npos) << strShort;
  EXPECT_NE(Attributes(strShort) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(fncGetShortPath(strLong), strShort);

  const std::string strMissing = objHarness.strRoot + "\\No Such Folder\\file.dll";
  EXPECT_EQ(Win().fncShortPathName(strMissing), "");
  EXPECT_EQ(fncGetShortPath(strMissing), strMissing);
}

TEST(Win32Paths, ExistenceIsForFilesOnly) {
  Harness objHarness;
  WriteFile(objHarness.strApp + "\\a.txt", "x");
  EXPECT_TRUE(Win().fncFileExists(objHarness.strApp + "\\a.txt"));
  EXPECT_FALSE(Win().fncFileExists(objHarness.strApp));
  EXPECT_FALSE(Win().fncFileExists(objHarness.strApp + "\\"));
  EXPECT_FALSE(Win().fncFileExists(objHarness.strApp + "\\b.txt"));
}

class Win32Copy : public ::testing::Test {
 protected:
  void SetUp() override {
    strSource = objHarness.strApp + "\\tool.dll";
    strFolder = objHarness.strRoot + "\\Bin\\";
    strTarget = strFolder + "tool.dll";
    testing::MakeDir(strFolder);
    WriteFile(strSource, "new bytes");
  }
  bool TemporaryLeft() {
    WIN32_FIND_DATAA objFound;
    HANDLE objFind = FindFirstFileA((strFolder + "*.tarvex.tmp").c_str(), &objFound);
    if (objFind == INVALID_HANDLE_VALUE) return false;
    FindClose(objFind);
    return true;
  }

  Harness objHarness;
  std::string strSource, strFolder, strTarget;
};

TEST_F(Win32Copy, IntoAFolderKeepsNameAndAttributes) {
  ASSERT_TRUE(SetFileAttributesA(strSource.c_str(), FILE_ATTRIBUTE_HIDDEN));
  subCopyFile(strSource, strFolder);
  EXPECT_EQ(ReadFile(strTarget), "new bytes");
  EXPECT_NE(Attributes(strTarget) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_FALSE(TemporaryLeft());

  // A full target path replaces an existing writable file.
  SetFileAttributesA(strTarget.c_str(), FILE_ATTRIBUTE_NORMAL);
  WriteFile(strSource, "newer");
  subCopyFile(strSource, strTarget);
  EXPECT_EQ(ReadFile(strTarget), "newer");
}

TEST_F(Win32Copy, ReadOnlyTargetIsRefusedAndUntouched) {
  WriteFile(strTarget, "old bytes");
  ASSERT_TRUE(SetFileAttributesA(strTarget.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(RaisedNumber([&] { subCopyFile(strSource, strFolder); }), kErrAccessDenied);
  EXPECT_EQ(ReadFile(strTarget), "old bytes");
  EXPECT_NE(Attributes(strTarget) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_FALSE(TemporaryLeft());
}

TEST_F(Win32Copy, FailuresRaiseMappedNumbersAndLeaveNoTemporary) {
  EXPECT_EQ(RaisedNumber([&] { subCopyFile(strSource + ".missing", strFolder); }),
            kErrFileNotFound);
  EXPECT_EQ(RaisedNumber([&] {
              subCopyFile(objHarness.strRoot + "\\Gone\\tool.dll", strFolder);
            }),
            kErrFileNotFound);
  EXPECT_EQ(RaisedNumber([&] {
              subCopyFile(strSource, objHarness.strRoot + "\\No Folder\\");
            }),
            kErrPathNotFound);
  EXPECT_EQ(RaisedNumber([&] { subCopyFile(objHarness.strApp, strFolder); }), kErrIsFolder);
  // A folder where the target file should go.
  testing::MakeDir(strTarget);
  EXPECT_EQ(RaisedNumber([&] { subCopyFile(strSource, strFolder); }), kErrAccessDenied);
  RemoveDirectoryA(strTarget.c_str());
  // A file copied onto itself: refused, and still there.
  EXPECT_EQ(RaisedNumber([&] { subCopyFile(strSource, objHarness.strApp + "\\"); }),
            kErrAccessDenied);
  EXPECT_EQ(ReadFile(strSource), "new bytes");

  // A source held open without sharing cannot be read.
  HANDLE objLock = CreateFileA(strSource.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(objLock, INVALID_HANDLE_VALUE);
  EXPECT_EQ(RaisedNumber([&] { subCopyFile(strSource, strFolder); }), kErrSharingViolation);
  CloseHandle(objLock);
  EXPECT_FALSE(TemporaryLeft());
  EXPECT_EQ(Attributes(strTarget), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Win32Copy, LeftoverTemporaryOfAnEndedRunGoesAndOneOfALiveRunStays) {
  // No process has an ID this high; this test's own process is alive.
  const std::string strEnded = strTarget + ".4294967292-1.tarvex.tmp";
  const std::string strLive =
      strTarget + "." + std::to_string(GetCurrentProcessId() + 0ul) + "-7.tarvex.tmp";
  WriteFile(strEnded, "torn");
  SetFileAttributesA(strEnded.c_str(), FILE_ATTRIBUTE_READONLY);
  WriteFile(strLive, "being filled");
  subCopyFile(strSource, strFolder);
  EXPECT_EQ(ReadFile(strTarget), "new bytes");
  EXPECT_EQ(Attributes(strEnded), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(ReadFile(strLive), "being filled");
}

// The access list of the file's descriptor, as SDDL; "" when none is read.
std::string AccessList(const std::string& strPath) {
  DWORD lngNeeded = 0;
  GetFileSecurityA(strPath.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &lngNeeded);
  std::string strDescriptor(lngNeeded, '\0');
  char* pText = nullptr;
  if (lngNeeded == 0 ||
      !GetFileSecurityA(strPath.c_str(), DACL_SECURITY_INFORMATION, &strDescriptor[0], lngNeeded,
                        &lngNeeded) ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorA(
          &strDescriptor[0], SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &pText, nullptr))
    return "";
  std::string strText = pText;
  LocalFree(pText);
  return strText;
}

// An administrator's explicit entry on a deployed file survives a redeploy
// that replaces it. Wine keeps descriptors only where its file system stores
// them; where it does not, the test says so instead of passing.
TEST_F(Win32Copy, AReplacedTargetKeepsItsAccessList) {
  WriteFile(strTarget, "old bytes");
  // What the copy asks of Windows: the target's owner, group and access list
  // as one descriptor, and all three given to the new file.
  std::string strSecurity = win32::fncReadSecurity(strTarget);
  PSECURITY_DESCRIPTOR pRead = &strSecurity[0];
  PSID pOwner = nullptr, pGroup = nullptr;
  PACL pAccess = nullptr;
  BOOL blnDefaulted = FALSE, blnPresent = FALSE;
  ASSERT_TRUE(IsValidSecurityDescriptor(pRead));
  ASSERT_TRUE(GetSecurityDescriptorOwner(pRead, &pOwner, &blnDefaulted));
  ASSERT_TRUE(GetSecurityDescriptorGroup(pRead, &pGroup, &blnDefaulted));
  ASSERT_TRUE(GetSecurityDescriptorDacl(pRead, &blnPresent, &pAccess, &blnDefaulted));
  EXPECT_TRUE(pOwner != nullptr && pGroup != nullptr && blnPresent && pAccess != nullptr);
  const std::string strNew = objHarness.strRoot + "\\Bin\\new.tmp";
  FileHandle objNew = win32::fncCreateNew(strNew, false);
  EXPECT_EQ(0, RaisedNumber([&] { win32::subApplySecurity(objNew, strSecurity, false); }));
  win32::fncClose(objNew);
  DeleteFileA(strNew.c_str());
  PSECURITY_DESCRIPTOR pDescriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
      "D:P(A;;FA;;;WD)(A;;FR;;;BU)", SDDL_REVISION_1, &pDescriptor, nullptr));
  const bool blnSet = SetFileSecurityA(strTarget.c_str(), DACL_SECURITY_INFORMATION, pDescriptor);
  LocalFree(pDescriptor);
  const std::string strBefore = AccessList(strTarget);
  if (!blnSet || strBefore.find("(A;;FR;;;BU)") == std::string::npos)
    GTEST_SKIP() << "this file system keeps no access list (" << strBefore << ")";
  subCopyFile(strSource, strFolder);
  EXPECT_EQ(ReadFile(strTarget), "new bytes");
  EXPECT_EQ(strBefore, AccessList(strTarget));
}

TEST(Win32Delete, ReadOnlyGoesMissingRaisesNotFound) {
  Harness objHarness;
  const std::string strFile = objHarness.strApp + "\\Duplix.ini";
  WriteFile(strFile, "x");
  SetFileAttributesA(strFile.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  Win().subDeleteFile(strFile);
  EXPECT_EQ(Attributes(strFile), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(RaisedNumber([&] { Win().subDeleteFile(strFile); }), kErrFileNotFound);
}

TEST(Win32TextFile, LinesReachTheFileAtOnceInCrLf) {
  Harness objHarness;
  const std::string strPath = objHarness.strApp + "\\Duplix.log";
  WriteFile(strPath, "an earlier run\r\n");
  TextFile objFile = Win().fncCreateTextFile(strPath);
  Win().subWriteLine(objFile, "MSG : one");
  Win().subWriteLine(objFile, "ERR : Invalid CommandLine Parameter ");
  // Readable while still open: a killed run keeps what it wrote.
  EXPECT_EQ(ReadFile(strPath), "MSG : one\r\nERR : Invalid CommandLine Parameter \r\n");
  Win().subCloseTextFile(objFile);

  testing::MakeDir(objHarness.strApp + "\\Folder.log");
  EXPECT_EQ(RaisedNumber([&] { Win().fncCreateTextFile(objHarness.strApp + "\\Folder.log"); }),
            kErrAccessDenied);
  EXPECT_EQ(
      RaisedNumber([&] { Win().fncCreateTextFile(objHarness.strRoot + "\\Missing\\x.log"); }),
      kErrPathNotFound);
}

// The manifest is parsed by the code both builds share; on this build it
// answers as the system's own profile calls do, cut to their buffers too
// (tests/profile_diff holds the same against a whole corpus).
TEST(Win32Profile, SharedReaderAnswersAsTheSystemDoes) {
  Harness objHarness;
  const std::string strIni = objHarness.strApp + "\\Tarvex.INI";
  std::string strText = "\xEF\xBB\xBF[One]\r\nFileName=" + std::string(300, 'v') +
                        "\r\nQuoted = \"r\xC3\xA9sum\xC3\xA9\" \r\n";
  for (int i = 0; i < 40; ++i) strText += "[Section" + std::to_string(i) + "]\r\n";
  WriteFile(strIni, strText);
  const Manifest objManifest = fncReadManifest(strIni);
  const profile::Profile* pParsed = objManifest.objProfile.get();

  for (uint32_t lngSize : {255u, 4u, 1u}) {
    for (const char* pKey : {"filename", "Missing", "quoted"}) {
      char chrSystem[512] = {}, chrShared[512] = {};
      const DWORD lngSystem =
          GetPrivateProfileStringA("one", pKey, "", chrSystem, lngSize, strIni.c_str());
      const uint32_t lngShared = profile::fncGetString(pParsed, "one", pKey, chrShared, lngSize);
      EXPECT_EQ(lngSystem, lngShared) << pKey << " " << lngSize;
      EXPECT_EQ(std::string(chrSystem, lngSystem), std::string(chrShared, lngShared));
    }
    char chrSystem[512] = {}, chrShared[512] = {};
    EXPECT_EQ(GetPrivateProfileSectionNamesA(chrSystem, lngSize, strIni.c_str()),
              profile::fncGetSectionNames(pParsed, chrShared, lngSize));
    EXPECT_EQ(0, std::memcmp(chrSystem, chrShared, lngSize)) << lngSize;
  }
  // The marked UTF-8 text reaches the logic in the ANSI code page.
  EXPECT_EQ(fncReadINI("One", "Quoted", objManifest), "r\xE9sum\xE9");

  // A write creates the file; an empty value keeps its key.
  const std::string strPid = objHarness.strApp + "\\Duplix.ini";
  EXPECT_TRUE(Win().fncWriteProfileString("STATUS_INFO", "REGID", "R1", strPid));
  EXPECT_TRUE(Win().fncWriteProfileString("STATUS_INFO", "Desc", "", strPid));
  EXPECT_EQ(testing::ReadINI("STATUS_INFO", "REGID", strPid), "R1");
  EXPECT_NE(ReadFile(strPid).find("Desc="), std::string::npos);
  // Values read back without their outer blanks: a failure text ending in
  // "; " reads back ending in ";".
  EXPECT_TRUE(
      Win().fncWriteProfileString("STATUS_INFO", "Desc", "Tarvex.ini Not Found; ", strPid));
  EXPECT_EQ(testing::ReadINI("STATUS_INFO", "Desc", strPid), "Tarvex.ini Not Found;");
}

// Runs only where the agent's key is absent and the machine hive writable
// (a test prefix under Wine, an elevated test machine); it removes the key
// again.
TEST(Win32Registry, AgentKeyRoundTrip) {
  RegKey objKey = nullptr;
  int32_t lngOpen = Win().fncRegOpenAgentKey(&objKey);
  if (lngOpen == 0) {
    Win().subRegCloseKey(objKey);
    GTEST_SKIP() << "the agent's key exists on this machine";
  }
  EXPECT_EQ(lngOpen, kErrFileNotFound);
  EXPECT_EQ(objKey, nullptr);
  // Written where a 32-bit program looks, whatever this test program is.
  HKEY objWrite = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\VELMOR", 0, nullptr, 0,
                      KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &objWrite,
                      nullptr) != ERROR_SUCCESS)
    GTEST_SKIP() << "the machine hive is not writable";
  static const char kPath[] = "C:\\Agent";
  RegSetValueExA(objWrite, "InstallationPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(kPath),
                 sizeof kPath);
  RegCloseKey(objWrite);

  ASSERT_EQ(Win().fncRegOpenAgentKey(&objKey), 0);
  uint32_t lngType = 0, lngSize = 0;
  EXPECT_EQ(Win().fncRegQueryValue(objKey, "InstallationPath", &lngType, nullptr, &lngSize), 0);
  EXPECT_EQ(lngType, kRegSz);
  EXPECT_EQ(lngSize, sizeof kPath);
  std::string strBuffer(lngSize, '\0');
  EXPECT_EQ(Win().fncRegQueryValue(objKey, "InstallationPath", &lngType, &strBuffer[0], &lngSize),
            0);
  EXPECT_EQ(fncStripNull(strBuffer), "C:\\Agent");
  EXPECT_EQ(Win().fncRegQueryValue(objKey, "REGID", &lngType, nullptr, &lngSize),
            kErrFileNotFound);
  Win().subRegCloseKey(objKey);
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\VELMOR", KEY_WOW64_32KEY, 0);
}

TEST(Win32Process, StartsWaitsAndReportsRefusals) {
  Harness objHarness;
  uint32_t lngID = Win().fncStartProcess("cmd /c exit 3");
  ASSERT_NE(lngID, 0u);
  ProcHandle objProcess = Win().fncOpenProcess(0x1F0FFF, lngID);
  if (objProcess != nullptr) {  // it may already be gone
    EXPECT_EQ(Win().fncWaitForProcess(objProcess, 60000), kWaitObject0);
    uint32_t lngCode = 0;
    EXPECT_TRUE(Win().fncExitCode(objProcess, &lngCode));
    EXPECT_EQ(lngCode, 3u);
    Win().subCloseProcess(objProcess);
  }

  EXPECT_EQ(RaisedNumber([&] {
              Win().fncStartProcess("\"" + objHarness.strApp + "\\missing.exe\" -s");
            }),
            kErrFileNotFound);
  WriteFile(objHarness.strApp + "\\setup.exe", "not a program");
  EXPECT_EQ(RaisedNumber([&] {
              Win().fncStartProcess("\"" + objHarness.strApp + "\\setup.exe\" /q");
            }),
            kErrBadExeFormat);
}

// Another thread of this process holds the lock file of the test program's
// folder as another run would, then ends.
struct Holder {
  HANDLE objHeld = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE objEnd = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE objFile = INVALID_HANDLE_VALUE;
  static DWORD WINAPI Run(void* pHolder) {
    Holder* p = static_cast<Holder*>(pHolder);
    const win32::RunLockOpening objOpening = win32::fncRunLockOpening();
    p->objFile = CreateFileA(win32::fncRunLockPath(Win().fncAppFolder()).c_str(),
                             objOpening.lngAccess, objOpening.lngShare, nullptr,
                             objOpening.lngDisposition, objOpening.lngFlags, nullptr);
    SetEvent(p->objHeld);
    WaitForSingleObject(p->objEnd, INFINITE);
    CloseHandle(p->objFile);  // the run ends
    return 0;
  }
};

TEST(Win32RunLock, WaitsOutAHolderAndIsTakenWhenItLetsGo) {
  Holder objHolder;
  HANDLE objThread = CreateThread(nullptr, 0, Holder::Run, &objHolder, 0, nullptr);
  ASSERT_NE(objThread, nullptr);
  WaitForSingleObject(objHolder.objHeld, INFINITE);
  ASSERT_NE(objHolder.objFile, INVALID_HANDLE_VALUE);
  DWORD lngStart = GetTickCount();
  EXPECT_FALSE(Win().fncLockAppFolder(100));
  EXPECT_GE(GetTickCount() - lngStart, 50u);
  SetEvent(objHolder.objEnd);
  WaitForSingleObject(objThread, INFINITE);
  EXPECT_TRUE(Win().fncLockAppFolder(5000));
  EXPECT_TRUE(Win().fncLockAppFolder(0));  // held already
  // Held without sharing: nobody else opens the file meanwhile.
  HANDLE objOther = CreateFileA(win32::fncRunLockPath(Win().fncAppFolder()).c_str(),
                                GENERIC_READ, win32::kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(objOther, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  for (HANDLE objHandle : {objThread, objHolder.objHeld, objHolder.objEnd}) CloseHandle(objHandle);
  EXPECT_EQ(win32::fncRunLockPath("C:\\"), "C:\\.Tarvex.lock");
}

TEST(Win32Clock, HostTextsAreFilled) {
  EXPECT_FALSE(Win().fncTimeSeparator().empty());
  LocalTime objTime{2024, 9, 21, 19, 46, 11};
  EXPECT_NE(Win().fncShortDate(objTime).find("21"), std::string::npos);
  EXPECT_NE(Win().fncLongTime(objTime).find("46"), std::string::npos);
  std::string strFolder = Win().fncAppFolder();
  ASSERT_FALSE(strFolder.empty());
  EXPECT_NE(strFolder.back(), '\\');
  EXPECT_NE(Attributes(strFolder) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

}  // namespace
}  // namespace tarvex
