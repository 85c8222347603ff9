#include <gtest/gtest.h>

#include "control/control.h"
#include "environment/environment.h"
#include "status/status.h"
#include "testing/test_platform.h"

namespace tarvex {
namespace {

using testing::Exists;
using testing::Harness;
using testing::MakeDir;
using testing::ReadFile;
using testing::Sep;

TEST(StatusDateTime, TwelveHourClockWithHostSeparator) {
  EXPECT_EQ("09/21/2026 07:46:11 PM", fncStatusDateTime({2026, 9, 21, 19, 46, 11}, ":"));
  EXPECT_EQ("01/02/2027 12:00:00 AM", fncStatusDateTime({2027, 1, 2, 0, 0, 0}, ":"));
  EXPECT_EQ("12/31/2026 12:05:09 PM", fncStatusDateTime({2026, 12, 31, 12, 5, 9}, ":"));
  EXPECT_EQ("03/04/2026 11.59.59 AM", fncStatusDateTime({2026, 3, 4, 11, 59, 59}, "."));
}

class StatusFile : public ::testing::Test {
 protected:
  void SetUp() override {
    strAgent = objHarness.strRoot + Sep() + "Agent" + Sep();
    MakeDir(strAgent + "PMStatus");
    g_run.strInstallPath = strAgent;
    g_run.strRegID = "R-17";
    g_run.strPIDFilePath = objHarness.strApp + Sep() + "Duplix.ini";
  }
  std::string Value(const std::string& strKey, const std::string& strFile) {
    return testing::ReadINI("STATUS_INFO", strKey, strFile);
  }
  Harness objHarness;
  std::string strAgent;
};

TEST_F(StatusFile, SuccessfulRunIsHandedOverAndRemovedLocally) {
  EXPECT_TRUE(fncCreatePIDFile("4711"));
  subWriteFinalStatus();
  subHandOffPIDFile();
  std::string strHanded = strAgent + "PMStatus" + Sep() + "Duplix.ini";
  ASSERT_TRUE(Exists(strHanded));
  EXPECT_FALSE(Exists(g_run.strPIDFilePath));
  EXPECT_EQ((std::vector<std::string>{"REGID", "Desc", "PID", "SysID", "LastRunDateTime",
                                      "NextRunDateTime", "LastRunStatusCode"}),
            [&] {
              // Key order of a new file is the order of first writes.
              std::vector<std::string> objKeys;
              std::string strText = ReadFile(strHanded);
              size_t lngPos = 0;
              while ((lngPos = strText.find('\n', lngPos)) != std::string::npos) {
                size_t lngEq = strText.find('=', ++lngPos);
                if (lngEq != std::string::npos && strText.find('\n', lngPos) > lngEq)
                  objKeys.push_back(strText.substr(lngPos, lngEq - lngPos));
              }
              return objKeys;
            }());
  EXPECT_EQ("R-17", Value("REGID", strHanded));
  EXPECT_EQ("4711", Value("PID", strHanded));
  EXPECT_EQ("", Value("Desc", strHanded));
  EXPECT_EQ("SUCCESS", Value("LastRunStatusCode", strHanded));
  EXPECT_EQ(22u, Value("LastRunDateTime", strHanded).size());
  EXPECT_EQ((std::vector<std::string>{
                "MSG : Successfully Copied PID File " + g_run.strPIDFilePath + " to " + strAgent +
                    "PMStatus" + Sep(),
                "MSG : Successfully Deleted PID File " + g_run.strPIDFilePath}),
            objHarness.objLog);
  EXPECT_TRUE(g_run.blnHandedOver);
}

TEST_F(StatusFile, FailedRunRecordsItsFragmentAndAMissingFolderKeepsTheFile) {
  EXPECT_TRUE(fncCreatePIDFile("4711"));
  subRecordFailure("Tarvex.ini Not Found; ");
  subWriteFinalStatus();
  // Reads trim the trailing blank of the fragment, as the profile rules do.
  EXPECT_EQ("Tarvex.ini Not Found;", Value("Desc", g_run.strPIDFilePath));
  EXPECT_EQ("FAILED", Value("LastRunStatusCode", g_run.strPIDFilePath));

  g_run.strInstallPath = objHarness.strRoot + Sep() + "Elsewhere" + Sep();
  subHandOffPIDFile();
  ASSERT_EQ(2u, objHarness.objLog.size());
  EXPECT_EQ(0u, objHarness.objLog[0].find("ERR : Function - fncDuplix. Source Path - "));
  EXPECT_EQ("MSG : Failed to Copy PID File " + g_run.strPIDFilePath + " to " +
                g_run.strInstallPath + "PMStatus" + Sep(),
            objHarness.objLog[1]);
  EXPECT_TRUE(Exists(g_run.strPIDFilePath));
  EXPECT_FALSE(g_run.blnHandedOver);  // the run exits 5
}

TEST_F(StatusFile, AStaleFileNoLongerSaysSuccessOnceARunStarts) {
  testing::WriteFile(g_run.strPIDFilePath,
                     "[STATUS_INFO]\r\nREGID=R-17\r\nPID=1\r\nLastRunStatusCode=SUCCESS\r\n");
  testing::SetReadOnly(g_run.strPIDFilePath, true);  // read-only, and still this run's
  EXPECT_TRUE(fncCreatePIDFile("2"));
  EXPECT_EQ("", Value("LastRunStatusCode", g_run.strPIDFilePath));
  EXPECT_EQ("2", Value("PID", g_run.strPIDFilePath));
}

TEST_F(StatusFile, CreateFailureIsTrappedAndLogged) {
  objHarness.objTable.fncWriteProfileString = [](const std::string&, const std::string&,
                                                 const std::string&, const std::string&) -> bool {
    subRaise(kErrDiskFull, fncErrorText(kErrDiskFull));
  };
  objHarness.Install();
  EXPECT_FALSE(fncCreatePIDFile("1"));
  EXPECT_EQ(std::vector<std::string>{"ERR : Function - fncCreatePIDFile 112 " +
                                     fncErrorText(kErrDiskFull)},
            objHarness.objLog);
}

}  // namespace
}  // namespace tarvex
