#include <gtest/gtest.h>

#include "control/control.h"
#include "testing/test_platform.h"

namespace tarvex {
namespace {

using testing::Harness;

TEST(CommandLine, QuotesGoAndOuterSpacesAreTrimmed) {
  EXPECT_EQ("12 34", fncCleanCommandLine("\"12\" 34"));
  EXPECT_EQ("4711", fncCleanCommandLine("  \"47\"\"11\"  "));
  EXPECT_EQ("a  b", fncCleanCommandLine(" a  b "));
  EXPECT_EQ("", fncCleanCommandLine(" \"\"  \" "));
  EXPECT_EQ("\tx", fncCleanCommandLine("\tx "));  // only spaces are trimmed
}

TEST(GeneralDateTime, TimeIsLeftOutAtMidnight) {
  Harness objHarness;
  LocalTime objMidnight{2026, 12, 8, 0, 0, 0};
  LocalTime objMorning{2026, 12, 8, 0, 0, 1};
  EXPECT_EQ(Os().fncShortDate(objMidnight), fncGeneralDateTime(objMidnight));
  EXPECT_EQ(Os().fncShortDate(objMorning) + " " + Os().fncLongTime(objMorning),
            fncGeneralDateTime(objMorning));
}

std::string g_commandLine;
std::string fncFakeCommandLine() { return g_commandLine; }
LocalTime fncFixedTime() { return LocalTime{2026, 12, 8, 9, 30, 0}; }
int32_t fncNoAgent(RegKey*) { return 2; }

class MainRun : public ::testing::Test {
 protected:
  void SetUp() override {
    objHarness.objTable.fncCommandLineTail = fncFakeCommandLine;
    objHarness.objTable.fncLocalTime = fncFixedTime;
    objHarness.objTable.fncRegOpenAgentKey = fncNoAgent;
    objHarness.Install();
    strStamp = fncGeneralDateTime(fncFixedTime());
  }
  Harness objHarness;
  std::string strStamp;
};

TEST_F(MainRun, RejectsAnEmptyParameter) {
  for (const char* strLine : {"", "  ", "\"\" \"\""}) {
    g_commandLine = strLine;
    EXPECT_EQ(kExitInvalidParameter, Main());
    EXPECT_EQ((std::vector<std::string>{"MSG : Application Started " + strStamp,
                                        "ERR : Invalid CommandLine Parameter ",
                                        "MSG : Application Stopped " + strStamp}),
              objHarness.objLog);
    objHarness.objLog.clear();
  }
}

TEST_F(MainRun, RejectsALineBreakThatCouldForgeStatusKeys) {
  g_commandLine = "12\r\nLastRunStatusCode=SUCCESS\nx";
  EXPECT_EQ(kExitInvalidParameter, Main());
  ASSERT_EQ(3u, objHarness.objLog.size());
  EXPECT_EQ("ERR : Invalid CommandLine Parameter 12 LastRunStatusCode=SUCCESS x",
            objHarness.objLog[1]);
}

TEST_F(MainRun, AgentNotFoundEndsWithTheStopLine) {
  g_commandLine = "\"12\" 34";
  EXPECT_EQ(kExitFailed, Main());
  EXPECT_EQ((std::vector<std::string>{
                "MSG : Application Started " + strStamp,
                "MSG : CommandLine Parameter Received 12 34",
                "ERR : Unable to locate VELMOR registry entries for Results folder. RetVal - 2",
                "MSG : Failed to retrieve VELMOR Info. Installation Path -  and RegID - ",
                "MSG : Application Stopped " + strStamp}),
            objHarness.objLog);
}

TEST_F(MainRun, LogThatCannotBeCreatedEndsTheRunAtOnce) {
  objHarness.objTable.fncCreateTextFile = [](const std::string&) -> TextFile {
    subRaise(kErrAccessDenied, fncErrorText(kErrAccessDenied));
  };
  objHarness.objTable.fncCommandLineTail = []() -> std::string {
    ADD_FAILURE() << "the command line was read";
    return "1";
  };
  objHarness.Install();
  EXPECT_EQ(kExitTrapped, Main());
  EXPECT_TRUE(objHarness.objLog.empty());
}

// The agent is installed in the sandbox's root folder.
void subFakeAgent(Platform& objTable) {
  objTable.fncRegOpenAgentKey = [](RegKey* pKey) -> int32_t {
    *pKey = nullptr;
    return 0;
  };
  objTable.fncRegQueryValue = [](RegKey, const std::string& strName, uint32_t* pType,
                                 char* pData, uint32_t* pSize) -> int32_t {
    if (strName != "REGID" && strName != "InstallationPath") return 2;
    std::string strValue = strName == "REGID" ? "R1" : Harness::Current()->strRoot;
    *pType = kRegSz;
    if (pData != nullptr) strValue.copy(pData, *pSize);
    *pSize = static_cast<uint32_t>(strValue.size() + 1);
    return 0;
  };
  objTable.subRegCloseKey = [](RegKey) {};
}

// A manifest that is there but cannot be read (refused, a link, beyond the
// cap) is no manifest without entries: the run fails and says why.
TEST_F(MainRun, AManifestThatCannotBeReadFailsTheRun) {
  g_commandLine = "7";
  subFakeAgent(objHarness.objTable);
  objHarness.objTable.fncOpenNoFollow = [](const std::string& strPath,
                                           FileInfo* pInfo) -> FileHandle {
    if (strPath.find(kManifestName) != std::string::npos) subRaise(5, "Permission denied");
    return NativePlatform().fncOpenNoFollow(strPath, pInfo);
  };
  objHarness.Install();
  const std::string strSep = testing::Sep();
  testing::MakeDir(objHarness.strRoot + strSep + "PMStatus");
  testing::WriteFile(objHarness.strApp + strSep + "Tarvex.INI", "[A]\r\nFileName=a.txt\r\n");
  EXPECT_EQ(kExitFailed, Main());
  EXPECT_EQ("ERR : Function - fncReadManifest 5 Permission denied", objHarness.objLog[3]);
  std::string strStatus = testing::ReadFile(objHarness.strRoot + strSep + "PMStatus" + strSep +
                                            "Duplix.ini");
  EXPECT_NE(std::string::npos, strStatus.find("Desc=Tarvex.ini Not Readable;"));
  EXPECT_NE(std::string::npos, strStatus.find("LastRunStatusCode=FAILED"));
}

// The final status is written without a trap of its own: an error there
// ends the run in Main's trap, and the status file keeps its start keys.
TEST_F(MainRun, ErrorInTheRunSequenceIsTrappedWithoutStopLine) {
  g_commandLine = "7";
  subFakeAgent(objHarness.objTable);
  objHarness.objTable.fncWriteProfileString =
      [](const std::string& strSection, const std::string& strKey, const std::string& strValue,
         const std::string& strFile) -> bool {
    if (strKey == "LastRunStatusCode" && !strValue.empty()) throw std::bad_alloc();
    return NativePlatform().fncWriteProfileString(strSection, strKey, strValue, strFile);
  };
  objHarness.Install();
  testing::WriteFile(objHarness.strApp + testing::Sep() + "Tarvex.INI", "[a]\r\n");
  EXPECT_EQ(kExitTrapped, Main());
  ASSERT_FALSE(objHarness.objLog.empty());
  EXPECT_EQ("ERR : Sub - Main 8 Out of memory", objHarness.objLog.back());
  const std::string strStatus = testing::ReadFile(objHarness.strApp + testing::Sep() + "Duplix.ini");
  EXPECT_NE(std::string::npos, strStatus.find("PID=7"));
}

}  // namespace
}  // namespace tarvex
