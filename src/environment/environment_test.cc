#include <gtest/gtest.h>

#include <map>

#include "control/control.h"
#include "environment/environment.h"
#include "testing/test_platform.h"

namespace tarvex {
namespace {

using testing::Harness;
using testing::MakeDir;
using testing::Sep;

TEST(Paths, StripNull) {
  EXPECT_EQ("", fncStripNull(std::string("\0abc", 4)));
  EXPECT_EQ("ab", fncStripNull(std::string("ab\0c\0", 5)));
  EXPECT_EQ("abc", fncStripNull("abc"));
}

TEST(Paths, ShortPathFallsBackToItsInput) {
  Harness objHarness;
  std::string strMissing = objHarness.strRoot + Sep() + "No Such Folder" + Sep();
  EXPECT_EQ(strMissing, fncGetShortPath(strMissing));
  objHarness.objTable.fncShortPathName = [](const std::string&) -> std::string {
    subRaise(kErrInternal, "boom");
  };
  objHarness.Install();
  EXPECT_EQ("C:\\x y", fncGetShortPath("C:\\x y"));
  EXPECT_TRUE(objHarness.objLog.empty());
}

// A registry of one key held in memory.
struct FakeValue {
  uint32_t lngType;
  std::string strData;
};
std::map<std::string, FakeValue> g_values;
int32_t g_openCode = 0;
int32_t g_secondQueryCode = 0;
std::vector<std::string> g_queried;
int g_openKeys = 0;

int32_t fncFakeOpen(RegKey* pKey) {
  if (g_openCode != 0) return g_openCode;
  ++g_openKeys;
  *pKey = &g_values;
  return 0;
}
int32_t fncFakeQuery(RegKey, const std::string& strName, uint32_t* pType, char* pData,
                     uint32_t* pSize) {
  g_queried.push_back(strName);
  auto it = g_values.find(strName);
  if (it == g_values.end()) return 2;
  *pType = it->second.lngType;
  if (pData != nullptr) {
    if (g_secondQueryCode != 0) return g_secondQueryCode;
    it->second.strData.copy(pData, *pSize);
    if (*pSize > it->second.strData.size()) pData[it->second.strData.size()] = '\0';
  }
  *pSize = static_cast<uint32_t>(it->second.strData.size() + 1);
  return 0;
}
void subFakeClose(RegKey) { --g_openKeys; }

class AgentLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    g_values.clear();
    g_queried.clear();
    g_openCode = 0;
    g_secondQueryCode = 0;
    g_openKeys = 0;
    objHarness.objTable.fncRegOpenAgentKey = fncFakeOpen;
    objHarness.objTable.fncRegQueryValue = fncFakeQuery;
    objHarness.objTable.subRegCloseKey = subFakeClose;
    objHarness.Install();
  }
  void TearDown() override { EXPECT_EQ(0, g_openKeys) << "key left open"; }
  Harness objHarness;
};

TEST_F(AgentLookup, FindsBothValues) {
  std::string strMissing = objHarness.strRoot + Sep() + "Agent Folder";
  g_values["InstallationPath"] = {kRegSz, strMissing};
  g_values["REGID"] = {kRegSz, "R-1"};
  EXPECT_TRUE(fncGetVELMORInfo());
  EXPECT_EQ(strMissing + Sep(), g_run.strInstallPath);  // missing: long form, separator added
  EXPECT_EQ("R-1", g_run.strRegID);
  EXPECT_TRUE(objHarness.objLog.empty());

  // A trailing separator is not doubled.
  objHarness.subNewRun();
  g_values["InstallationPath"] = {kRegSz, strMissing + Sep()};
  EXPECT_TRUE(fncGetVELMORInfo());
  EXPECT_EQ(strMissing + Sep(), g_run.strInstallPath);
}

TEST_F(AgentLookup, OpenFailuresAreTold) {
  g_openCode = 2;
  EXPECT_FALSE(fncGetVELMORInfo());
  g_openCode = 5;
  EXPECT_FALSE(fncGetVELMORInfo());
  EXPECT_EQ((std::vector<std::string>{
                "ERR : Unable to locate VELMOR registry entries for Results folder. RetVal - 2",
                "ERR : Unable to open VELMOR registry entries for Results folder. RetVal - 5"}),
            objHarness.objLog);
}

TEST_F(AgentLookup, MissingInstallationPathSkipsREGID) {
  g_values["REGID"] = {kRegSz, "R-1"};
  EXPECT_FALSE(fncGetVELMORInfo());
  EXPECT_EQ(std::vector<std::string>{"ERR : Failed to read Value in Registry key VELMOR "
                                     "InstallationPath . Retval - 2"},
            objHarness.objLog);
  EXPECT_EQ(std::vector<std::string>{"InstallationPath"}, g_queried);
}

TEST_F(AgentLookup, EmptyOrNonStringValuesFailTheLookupQuietly) {
  g_values["InstallationPath"] = {kRegSz, "C:\\Agent"};
  g_values["REGID"] = {kRegSz, ""};
  EXPECT_FALSE(fncGetVELMORInfo());
  EXPECT_TRUE(objHarness.objLog.empty());

  objHarness.subNewRun();
  g_values["InstallationPath"] = {kRegExpandSz, "%ProgramFiles%\\Agent"};
  EXPECT_FALSE(fncGetVELMORInfo());
  EXPECT_EQ("", g_run.strInstallPath);
  EXPECT_TRUE(objHarness.objLog.empty());
}

TEST_F(AgentLookup, SecondQueryFailureIsLogged) {
  g_values["InstallationPath"] = {kRegSz, "C:\\Agent"};
  g_secondQueryCode = 234;
  EXPECT_FALSE(fncGetVELMORInfo());
  EXPECT_EQ(std::vector<std::string>{"ERR : Failed to read Value in Registry key VELMOR "
                                     "InstallationPath . Retval - 234"},
            objHarness.objLog);
}

TEST_F(AgentLookup, RaisedErrorIsTrappedAndTheKeyClosed) {
  g_values["InstallationPath"] = {kRegSz, "C:\\Agent"};
  objHarness.objTable.fncRegQueryValue = [](RegKey, const std::string&, uint32_t*, char*,
                                            uint32_t*) -> int32_t {
    subRaise(kErrOutOfMemory, fncErrorText(kErrOutOfMemory));
  };
  objHarness.Install();
  EXPECT_FALSE(fncGetVELMORInfo());
  EXPECT_EQ(std::vector<std::string>{"ERR : Function - fncGetVELMORInfo 8 Out of memory"},
            objHarness.objLog);
}

TEST(ProfileRoutines, MissingFileReadsEmptyWithoutALogLine) {
  Harness objHarness;
  std::string strFile = objHarness.strApp + Sep() + "none.ini";
  EXPECT_EQ("", testing::ReadINI("a", "b", strFile));
  EXPECT_TRUE(testing::SectionNames(strFile).empty());
  EXPECT_TRUE(objHarness.objLog.empty());
}

TEST(ProfileRoutines, LongValuesAndManySectionsComeBackWhole) {
  Harness objHarness;
  std::string strFile = objHarness.strApp + Sep() + "Tarvex.INI";
  std::string strLong(300, 'p');
  std::string strText;
  for (int i = 0; i < 40; ++i)
    strText += "[Section number " + std::to_string(i) + "]\r\nParameters=" + strLong + "\r\n";
  testing::WriteFile(strFile, strText);
  EXPECT_EQ(strLong, testing::ReadINI("Section number 39", "Parameters", strFile));
  std::vector<std::string> objNames = testing::SectionNames(strFile);
  ASSERT_EQ(41u, objNames.size());
  EXPECT_EQ("Section number 0", objNames[0]);
  EXPECT_EQ("Section number 39", objNames[39]);
  EXPECT_EQ("", objNames[40]);

  EXPECT_TRUE(fncWriteINI("New", "Key", "", strFile));
  EXPECT_EQ("", testing::ReadINI("new", "KEY", strFile));
  EXPECT_EQ(42u, testing::SectionNames(strFile).size());
}

}  // namespace
}  // namespace tarvex
