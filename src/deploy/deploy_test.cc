#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>

#include "control/run_state.h"
#include "deploy/deploy.h"
#include "environment/environment.h"
#include "testing/test_platform.h"

namespace tarvex {
namespace {

using testing::Exists;
using testing::Harness;
using testing::IsReadOnly;
using testing::MakeDir;
using testing::ReadFile;
using testing::Sep;
using testing::SetReadOnly;
using testing::WriteFile;

std::string ErrLine(const std::string& strFrom, const std::string& strTo, int32_t lngNumber) {
  return "ERR : Function - fncDuplix. Source Path - " + strFrom + " to Destination Path - " +
         strTo + " " + std::to_string(lngNumber) + " " + fncErrorText(lngNumber);
}

TEST(FileOps, CopyIntoFolderAndOverWritableTarget) {
  Harness objHarness;
  std::string strSource = objHarness.strApp + Sep() + "tool.dll";
  std::string strFolder = objHarness.strRoot + Sep() + "Bin" + Sep();
  MakeDir(strFolder);
  WriteFile(strSource, "new bytes");
  WriteFile(strFolder + "tool.dll", "old");
  EXPECT_TRUE(fncDuplix(strSource, strFolder));
  EXPECT_EQ("new bytes", ReadFile(strFolder + "tool.dll"));
  // A full target path works as well.
  EXPECT_TRUE(fncDuplix(strSource, strFolder + "copy.dll"));
  EXPECT_EQ("new bytes", ReadFile(strFolder + "copy.dll"));

  // A target that holds the bytes already stays as it is, time included.
  const auto objOld = std::filesystem::last_write_time(strSource) - std::chrono::hours(48);
  std::filesystem::last_write_time(strFolder + "tool.dll", objOld);
  EXPECT_TRUE(fncDuplix(strSource, strFolder));
  EXPECT_EQ(objOld, std::filesystem::last_write_time(strFolder + "tool.dll"));
  // Size and time are no proof: the bytes decide.
  WriteFile(strFolder + "tool.dll", "old bytes");
  std::filesystem::last_write_time(strFolder + "tool.dll",
                                   std::filesystem::last_write_time(strSource));
  EXPECT_TRUE(fncDuplix(strSource, strFolder));
  EXPECT_EQ("new bytes", ReadFile(strFolder + "tool.dll"));
  EXPECT_TRUE(objHarness.objLog.empty());
}

TEST(FileOps, CopyFailuresLogOneLineAndLeaveTheTargetAlone) {
  Harness objHarness;
  std::string strSource = objHarness.strApp + Sep() + "tool.dll";
  std::string strFolder = objHarness.strRoot + Sep() + "Bin" + Sep();
  MakeDir(strFolder);
  WriteFile(strSource, "new bytes");
  WriteFile(strFolder + "tool.dll", "old");
  SetReadOnly(strFolder + "tool.dll", true);

  EXPECT_FALSE(fncDuplix(strSource, strFolder));
  EXPECT_EQ("old", ReadFile(strFolder + "tool.dll"));
  ASSERT_EQ(1u, objHarness.objLog.size());
  EXPECT_EQ(ErrLine(fncGetShortPath(strSource), fncGetShortPath(strFolder), kErrAccessDenied),
            objHarness.objLog[0]);

  // Into a folder that does not exist: the destination stays in long form.
  std::string strMissing = objHarness.strRoot + Sep() + "No Such" + Sep();
  EXPECT_FALSE(fncDuplix(strSource, strMissing));
  ASSERT_EQ(2u, objHarness.objLog.size());
  EXPECT_EQ(ErrLine(fncGetShortPath(strSource), strMissing, kErrPathNotFound),
            objHarness.objLog[1]);

  // A missing source.
  EXPECT_FALSE(fncDuplix(objHarness.strApp + Sep() + "gone.dll", strFolder));
  ASSERT_EQ(3u, objHarness.objLog.size());
  EXPECT_EQ(ErrLine(objHarness.strApp + Sep() + "gone.dll", fncGetShortPath(strFolder),
                    kErrFileNotFound),
            objHarness.objLog[2]);
}

TEST(FileOps, CopyLeavesNoTemporaryFileBehind) {
  Harness objHarness;
  std::string strSource = objHarness.strApp + Sep() + "a.bin";
  std::string strFolder = objHarness.strRoot + Sep() + "T" + Sep();
  MakeDir(strFolder);
  WriteFile(strSource, std::string(1 << 20, 'x'));
  EXPECT_TRUE(fncDuplix(strSource, strFolder));
  WriteFile(strFolder + "b.bin", "ro");
  SetReadOnly(strFolder + "b.bin", true);
  EXPECT_FALSE(fncDuplix(strSource, strFolder + "b.bin"));
  int intEntries = 0;
  for (const auto& objEntry : std::filesystem::directory_iterator(strFolder)) {
    (void)objEntry;
    ++intEntries;
  }
  EXPECT_EQ(2, intEntries);
}

TEST(FileOps, DeleteClearsReadOnlyAndReportsMissingFiles) {
  Harness objHarness;
  std::string strFile = objHarness.strApp + Sep() + "Duplix.ini";
  WriteFile(strFile, "x");
  SetReadOnly(strFile, true);
  EXPECT_TRUE(fncDeleteFile(strFile));
  EXPECT_FALSE(Exists(strFile));
  EXPECT_TRUE(objHarness.objLog.empty());

  EXPECT_FALSE(fncDeleteFile(strFile));
  ASSERT_EQ(1u, objHarness.objLog.size());
  EXPECT_EQ("ERR : Function - fncDeleteFile. Source Path - " + strFile + " 2 " +
                fncErrorText(kErrFileNotFound),
            objHarness.objLog[0]);
}

// ---- subDuplix, with the process operations replaced by fakes.

struct FakeProcesses {
  std::map<uint32_t, uint32_t> objExitCodes;  // by process ID
  uint32_t lngNextID = 100;
  uint32_t lngNextExitCode = 0;
  bool blnRefuseStart = false;
  std::vector<uint32_t> objWaits;
};
FakeProcesses* g_fake = nullptr;

uint32_t fncFakeStart(const std::string& strCommandLine) {
  Harness::Current()->objStarts.push_back(strCommandLine);
  if (g_fake->blnRefuseStart) subRaise(kErrFileNotFound, fncErrorText(kErrFileNotFound));
  uint32_t lngID = g_fake->lngNextID++;
  g_fake->objExitCodes[lngID] = g_fake->lngNextExitCode;
  return lngID;
}
ProcHandle fncFakeOpen(uint32_t lngAccess, uint32_t lngID) {
  EXPECT_EQ(kProcessAccess, lngAccess);
  return reinterpret_cast<ProcHandle>(static_cast<uintptr_t>(lngID));
}
uint32_t fncFakeWait(ProcHandle objHandle, uint32_t lngMs) {
  g_fake->objWaits.push_back(lngMs);
  Harness::Current()->objStarts.push_back(
      "wait " + std::to_string(reinterpret_cast<uintptr_t>(objHandle)));
  return kWaitObject0;
}
bool fncFakeExitCode(ProcHandle objHandle, uint32_t* pCode) {
  *pCode = g_fake->objExitCodes[static_cast<uint32_t>(reinterpret_cast<uintptr_t>(objHandle))];
  return true;
}
void subFakeClose(ProcHandle) {}

int g_copyFailures = 0;  // copies to refuse before letting them through
void subFlakyReplace(const std::string& strFrom, const std::string& strTo) {
  if (g_copyFailures > 0) {
    --g_copyFailures;
    subRaise(kErrSharingViolation, fncErrorText(kErrSharingViolation));
  }
  Harness::Current()->objStarts.push_back("copy");
  NativePlatform().subReplace(strFrom, strTo);
}

class SubDuplix : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &objFake;
    g_copyFailures = 0;
    objHarness.objTable.fncStartProcess = fncFakeStart;
    objHarness.objTable.fncOpenProcess = fncFakeOpen;
    objHarness.objTable.fncWaitForProcess = fncFakeWait;
    objHarness.objTable.fncExitCode = fncFakeExitCode;
    objHarness.objTable.subCloseProcess = subFakeClose;
    objHarness.objTable.subReplace = subFlakyReplace;
    objHarness.Install();
    strTargetFolder = objHarness.strRoot + Sep() + "Agent" + Sep() + "Bin" + Sep();
    MakeDir(strTargetFolder);
  }
  void TearDown() override { g_fake = nullptr; }
  std::string Source(const std::string& strName) { return objHarness.strApp + Sep() + strName; }

  Harness objHarness;
  FakeProcesses objFake;
  std::string strTargetFolder;
};

TEST_F(SubDuplix, MissingSourceFailsWithoutExecuting) {
  subDuplix("tool.dll", strTargetFolder, true, true, "");
  EXPECT_EQ(std::vector<std::string>{"ERR : File Not Found " + Source("tool.dll")},
            objHarness.objLog);
  EXPECT_TRUE(g_run.blnFailed);
  EXPECT_EQ(Source("tool.dll") + " Not Found; ", g_run.strFailureDesc);
  EXPECT_TRUE(objHarness.objStarts.empty());
}

TEST_F(SubDuplix, RetriedCopyUnregistersBeforeEachAttemptAndPausesOnce) {
  WriteFile(Source("tool.dll"), "v2");
  WriteFile(strTargetFolder + "tool.dll", "v1");
  g_copyFailures = 1;
  subDuplix("tool.dll", strTargetFolder, true, true, "");
  std::string strTarget = strTargetFolder + "tool.dll";
  ASSERT_EQ(3u, objHarness.objLog.size());
  EXPECT_EQ(0u, objHarness.objLog[0].find("ERR : Function - fncDuplix. Source Path - "));
  EXPECT_EQ("MSG : Successfully Copied File " + Source("tool.dll") + " to " + strTargetFolder,
            objHarness.objLog[1]);
  EXPECT_EQ("MSG : Successfully Executed/Registered File " + strTarget, objHarness.objLog[2]);
  EXPECT_EQ(std::vector<uint32_t>{10000}, objHarness.objSleeps);
  // Each unregistration has ended before its copy is tried; the tool is the
  // system's own (on Windows by its full path in the system folder).
  const std::string strTool = NativePlatform().fncSystemProgram("Regsvr32");
  EXPECT_EQ((std::vector<std::string>{strTool + " -s -u \"" + strTarget + "\"", "wait 100",
                                      strTool + " -s -u \"" + strTarget + "\"", "wait 101",
                                      "copy", strTool + " -s \"" + strTarget + "\"",
                                      "wait 102"}),
            objHarness.objStarts);
  EXPECT_EQ((std::vector<uint32_t>{kProcessWaitMs, kProcessWaitMs, kProcessWaitMs}),
            objFake.objWaits);
  EXPECT_EQ("v2", ReadFile(strTarget));
  EXPECT_FALSE(g_run.blnFailed);
}

TEST_F(SubDuplix, ThreeFailedCopiesFailTheEntry) {
  WriteFile(Source("app.exe"), "x");
  g_copyFailures = 3;
  subDuplix("app.exe", strTargetFolder, true, true, "/q");
  ASSERT_EQ(4u, objHarness.objLog.size());
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(0u, objHarness.objLog[i].find("ERR : Function - fncDuplix. Source Path - "));
  EXPECT_EQ("MSG : Failed to Copy File " + Source("app.exe") + " to " + strTargetFolder,
            objHarness.objLog[3]);
  EXPECT_EQ((std::vector<uint32_t>{10000, 10000, 10000}), objHarness.objSleeps);
  EXPECT_EQ("Failed to Copy " + Source("app.exe") + " to " + strTargetFolder + "; ",
            g_run.strFailureDesc);
  EXPECT_TRUE(objHarness.objStarts.empty());  // a program is never unregistered
}

TEST_F(SubDuplix, ExecuteOnlyRunsTheTargetInPlaceWithQuotedPath) {
  std::string strFolder = objHarness.strRoot + Sep() + "Bin Files" + Sep();
  MakeDir(strFolder);
  WriteFile(strFolder + "Setup.Exe", "x");
  objFake.lngNextExitCode = 3010;  // installers succeed with codes of their own
  subDuplix("Setup.Exe", strFolder, false, true, "/quiet /norestart");
  EXPECT_EQ((std::vector<std::string>{"\"" + strFolder + "Setup.Exe\" /quiet /norestart",
                                      "wait 100"}),
            objHarness.objStarts);
  EXPECT_EQ(std::vector<std::string>{"MSG : Successfully Executed/Registered File " + strFolder +
                                     "Setup.Exe"},
            objHarness.objLog);
  EXPECT_FALSE(g_run.blnFailed);
}

TEST_F(SubDuplix, ExecuteFailures) {
  // A file of neither kind.
  WriteFile(strTargetFolder + "notes.TXT", "x");
  subDuplix("notes.TXT", strTargetFolder, false, true, "");
  EXPECT_EQ(std::vector<std::string>{"MSG : Failed to Execute/Register File " + strTargetFolder +
                                     "notes.TXT"},
            objHarness.objLog);
  EXPECT_EQ("Failed to Execute/Register File " + strTargetFolder + "notes.TXT; ",
            g_run.strFailureDesc);

  // A missing target.
  objHarness.subNewRun();
  subDuplix("gone.exe", strTargetFolder, false, true, "");
  EXPECT_EQ(std::vector<std::string>{"ERR : File Not Found " + strTargetFolder + "gone.exe"},
            objHarness.objLog);
  EXPECT_EQ(strTargetFolder + "gone.exe Not Found; ", g_run.strFailureDesc);

  // A registration whose tool exits non-zero.
  objHarness.subNewRun();
  WriteFile(strTargetFolder + "bad.dll", "x");
  objFake.lngNextExitCode = 5;
  subDuplix("bad.dll", strTargetFolder, false, true, "");
  EXPECT_EQ(std::vector<std::string>{"MSG : Failed to Execute/Register File " + strTargetFolder +
                                     "bad.dll"},
            objHarness.objLog);
  EXPECT_EQ("Failed to Execute/Register File " + strTargetFolder + "bad.dll; ",
            g_run.strFailureDesc);

  // A program that cannot be started.
  objHarness.subNewRun();
  WriteFile(strTargetFolder + "app.exe", "x");
  objFake.blnRefuseStart = true;
  subDuplix("app.exe", strTargetFolder, false, true, "");
  EXPECT_EQ(std::vector<std::string>{"ERR : Sub - subDuplix FileName - app.exe 2 " +
                                     fncErrorText(kErrFileNotFound)},
            objHarness.objLog);
  EXPECT_TRUE(g_run.blnFailed);
  EXPECT_EQ("Failed to Execute/Register File " + strTargetFolder + "app.exe; ",
            g_run.strFailureDesc);

  // A registration tool that cannot be started: the unregistration's error
  // is logged and the copy goes on; the registration fails the entry.
  objHarness.subNewRun();
  WriteFile(Source("tool.dll"), "v2");
  WriteFile(strTargetFolder + "tool.dll", "v1");
  subDuplix("tool.dll", strTargetFolder, true, true, "");
  const std::string strRefused = "ERR : Sub - subDuplix FileName - tool.dll 2 " +
                                 fncErrorText(kErrFileNotFound);
  EXPECT_EQ((std::vector<std::string>{strRefused, "MSG : Successfully Copied File " +
                                      Source("tool.dll") + " to " + strTargetFolder,
                                      strRefused}),
            objHarness.objLog);
  EXPECT_EQ("v2", ReadFile(strTargetFolder + "tool.dll"));
  EXPECT_EQ("Failed to Execute/Register File " + strTargetFolder + "tool.dll; ",
            g_run.strFailureDesc);
}

TEST_F(SubDuplix, NameWithFoldersRunsTheFileCopied) {
  MakeDir(objHarness.strApp + Sep() + "sub");
  WriteFile(Source("sub" + Sep() + "tool.dll"), "v2");
  WriteFile(strTargetFolder + "tool.dll", "v1");
  objFake.lngNextExitCode = 5;  // a failed unregistration is not judged
  subDuplix("sub" + Sep() + "tool.dll", strTargetFolder, true, true, "");
  const std::string strQuoted = "\"" + strTargetFolder + "tool.dll\"";
  const std::string strTool = NativePlatform().fncSystemProgram("Regsvr32");
  EXPECT_EQ((std::vector<std::string>{strTool + " -s -u " + strQuoted, "wait 100", "copy",
                                      strTool + " -s " + strQuoted, "wait 101"}),
            objHarness.objStarts);
  EXPECT_EQ("v2", ReadFile(strTargetFolder + "tool.dll"));
}

TEST_F(SubDuplix, QuoteInTheTargetFailsBeforeTheCopy) {
  subDuplix("a\"b.dll", strTargetFolder, true, true, "");
  const std::string strRefused = "ERR : Sub - subDuplix FileName - a\"b.dll 123 " +
                                 fncErrorText(kErrBadName);
  EXPECT_EQ(std::vector<std::string>{strRefused}, objHarness.objLog);
  EXPECT_EQ("Failed to Copy " + Source("a\"b.dll") + " to " + strTargetFolder + "; ",
            g_run.strFailureDesc);
  EXPECT_FALSE(Exists(strTargetFolder + "a\"b.dll"));

  objHarness.subNewRun();
  const std::string strFolder = strTargetFolder + "it\"s" + Sep();
  subDuplix("setup.exe", strFolder, false, true, "");
  EXPECT_EQ("Failed to Execute/Register File " + strFolder + "setup.exe; ", g_run.strFailureDesc);
  EXPECT_TRUE(objHarness.objStarts.empty());
}

TEST_F(SubDuplix, NoFlagsDoesNothing) {
  subDuplix("tool.dll", strTargetFolder, false, false, "");
  EXPECT_TRUE(objHarness.objLog.empty());
  EXPECT_FALSE(g_run.blnFailed);
}

}  // namespace
}  // namespace tarvex
