#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "control/control.h"
#include "environment/environment.h"
#include "gtest/gtest.h"
#include "platform/posix/internal.h"
#include "testing/test_platform.h"

namespace tarvex {
namespace {

using posix::fncRegOpenAgentKey;
using posix::fncRegQueryValue;
using posix::subRegCloseKey;
using testing::Harness;
using testing::WriteFile;

const int32_t kMoreData = 234;

// UTF-16LE with a byte-order mark, as the registry editor exports.
std::string fncUtf16(const std::string& strAscii) {
  std::string strOut("\xFF\xFE", 2);
  for (char chr : strAscii) {
    strOut += chr;
    strOut += '\0';
  }
  return strOut;
}

// The registry file of a test, named by TARVEX_REGISTRY while it runs.
class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() {
    const char* pOld = std::getenv("TARVEX_REGISTRY");
    blnHadOld_ = pOld != nullptr;
    if (blnHadOld_) strOld_ = pOld;
    strFile = objHarness.strApp + "/registry.reg";
    setenv("TARVEX_REGISTRY", strFile.c_str(), 1);
  }
  ~RegistryTest() override {
    if (blnHadOld_)
      setenv("TARVEX_REGISTRY", strOld_.c_str(), 1);
    else
      unsetenv("TARVEX_REGISTRY");
  }

  // Opens the agent's key; fails the test when it cannot.
  RegKey Open() {
    RegKey objKey = nullptr;
    EXPECT_EQ(0, fncRegOpenAgentKey(&objKey));
    return objKey;
  }

  // Type and size of a value; the code of the query.
  int32_t Query(RegKey objKey, const std::string& strName, uint32_t& lngType, uint32_t& lngSize) {
    lngType = 0xDEAD;
    lngSize = 0xDEAD;
    return fncRegQueryValue(objKey, strName, &lngType, nullptr, &lngSize);
  }

  // A REG_SZ value's text, read the way the program reads it.
  std::string Text(RegKey objKey, const std::string& strName) {
    uint32_t lngType, lngSize;
    if (Query(objKey, strName, lngType, lngSize) != 0 || lngType != kRegSz) return "<none>";
    std::string strBuffer(lngSize, '#');
    EXPECT_EQ(0, fncRegQueryValue(objKey, strName, &lngType, &strBuffer[0], &lngSize));
    EXPECT_EQ(strBuffer.size(), lngSize);
    EXPECT_EQ('\0', strBuffer.back());
    return strBuffer.substr(0, strBuffer.size() - 1);
  }

  Harness objHarness;
  std::string strFile;

 private:
  bool blnHadOld_ = false;
  std::string strOld_;
};

TEST_F(RegistryTest, ReadsTheUnicodeExportOfTheAgentKey) {
  WriteFile(strFile, fncUtf16("Windows Registry Editor Version 5.00\r\n"
                              "\r\n"
                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n"
                              "\"REGID\"=\"wrong key\"\r\n"
                              "\r\n"
                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMOR]\r\n"
                              "\"InstallationPath\"=\"C:\\\\Program Files\\\\Velmor\\\\\"\r\n"
                              "\"REGID\"=\"say \\\"hi\\\"\"\r\n"
                              "@=\"default\"\r\n"
                              "\r\n"));
  RegKey objKey = Open();
  ASSERT_NE(nullptr, objKey);
  uint32_t lngType, lngSize;
  ASSERT_EQ(0, Query(objKey, "InstallationPath", lngType, lngSize));
  EXPECT_EQ(kRegSz, lngType);
  EXPECT_EQ(25u, lngSize);  // 24 bytes and the NUL
  EXPECT_EQ("C:\\Program Files\\Velmor\\", Text(objKey, "installationpath"));
  EXPECT_EQ("say \"hi\"", Text(objKey, "REGID"));
  EXPECT_EQ("default", Text(objKey, ""));

  // A buffer one byte short: ERROR_MORE_DATA and the size needed.
  std::string strBuffer(24, '#');
  lngSize = 24;
  EXPECT_EQ(kMoreData,
            fncRegQueryValue(objKey, "InstallationPath", &lngType, &strBuffer[0], &lngSize));
  EXPECT_EQ(25u, lngSize);
  EXPECT_EQ(std::string(24, '#'), strBuffer);
  EXPECT_EQ(2, Query(objKey, "Missing", lngType, lngSize));
  subRegCloseKey(objKey);
}

TEST_F(RegistryTest, OtherTypesKeepTheirTypeAndSize) {
  WriteFile(strFile,
            "Windows Registry Editor Version 5.00\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMOR]\n"
            "\"InstallationPath\"=hex(2):43,00,3a,00,5c,00,41,00,00,00\n"
            "\"Count\"=dword:0000010a\n"
            "\"Blob\"=hex:01,02,\\\n"
            "  03,04\n"
            "\"List\"=hex(7):61,00,00,00,00,00\n"
            "\"Odd\"=hex(b):01,00,00,00,00,00,00,00\n");
  RegKey objKey = Open();
  ASSERT_NE(nullptr, objKey);
  uint32_t lngType, lngSize;
  ASSERT_EQ(0, Query(objKey, "InstallationPath", lngType, lngSize));
  EXPECT_EQ(kRegExpandSz, lngType);
  EXPECT_EQ(5u, lngSize);  // "C:\A" and its NUL, converted from UTF-16
  ASSERT_EQ(0, Query(objKey, "Count", lngType, lngSize));
  EXPECT_EQ(kRegDword, lngType);
  EXPECT_EQ(4u, lngSize);
  char achDword[4];
  EXPECT_EQ(0, fncRegQueryValue(objKey, "Count", &lngType, achDword, &lngSize));
  EXPECT_EQ(std::string("\x0a\x01\0\0", 4), std::string(achDword, 4));
  ASSERT_EQ(0, Query(objKey, "Blob", lngType, lngSize));
  EXPECT_EQ(kRegBinary, lngType);
  EXPECT_EQ(4u, lngSize);
  ASSERT_EQ(0, Query(objKey, "List", lngType, lngSize));
  EXPECT_EQ(7u, lngType);
  EXPECT_EQ(3u, lngSize);
  ASSERT_EQ(0, Query(objKey, "Odd", lngType, lngSize));
  EXPECT_EQ(11u, lngType);
  EXPECT_EQ(8u, lngSize);
  subRegCloseKey(objKey);
}

TEST_F(RegistryTest, OldFormatShortRootDeletionsAndTheThirtyTwoBitView) {
  WriteFile(strFile,
            "REGEDIT4\r\n"
            "[hklm\\software\\velmor]\r\n"
            "\"Gone\"=\"x\"\r\n"
            "\"Gone\"=-\r\n"
            "\"REGID\"=\"first\"\r\n"
            "\"regid\"=\"second\"\r\n"
            "\"Exp\"=hex(2):41,42,00\r\n");
  RegKey objKey = Open();
  ASSERT_NE(nullptr, objKey);
  uint32_t lngType, lngSize;
  EXPECT_EQ(2, Query(objKey, "Gone", lngType, lngSize));
  EXPECT_EQ("second", Text(objKey, "REGID"));
  ASSERT_EQ(0, Query(objKey, "Exp", lngType, lngSize));
  EXPECT_EQ(3u, lngSize);  // the old format's text is not UTF-16
  subRegCloseKey(objKey);

  WriteFile(strFile,
            "Windows Registry Editor Version 5.00\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMOR]\n"
            "\"REGID\"=\"64-bit view\"\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\VELMOR]\n"
            "\"REGID\"=\"32-bit view\"\n");
  objKey = Open();
  EXPECT_EQ("32-bit view", Text(objKey, "REGID"));
  subRegCloseKey(objKey);

  WriteFile(strFile,
            "Windows Registry Editor Version 5.00\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMOR\\Sub]\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMOR]\n"
            "\"REGID\"=\"x\"\n"
            "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMOR]\n");
  objKey = nullptr;
  EXPECT_EQ(2, fncRegOpenAgentKey(&objKey));
  EXPECT_EQ(nullptr, objKey);
}

TEST_F(RegistryTest, MissingAndUnreadableFilesGiveTheirCodes) {
  RegKey objKey = reinterpret_cast<RegKey>(1);
  EXPECT_EQ(2, fncRegOpenAgentKey(&objKey));  // no file
  EXPECT_EQ(nullptr, objKey);
  setenv("TARVEX_REGISTRY", (objHarness.strApp + "/none/registry.reg").c_str(), 1);
  EXPECT_EQ(2, fncRegOpenAgentKey(&objKey));
  setenv("TARVEX_REGISTRY", objHarness.strApp.c_str(), 1);  // a folder
  EXPECT_EQ(5, fncRegOpenAgentKey(&objKey));
  setenv("TARVEX_REGISTRY", strFile.c_str(), 1);
  WriteFile(strFile,
            "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n");
  EXPECT_EQ(2, fncRegOpenAgentKey(&objKey));
  if (geteuid() != 0) {  // root reads it anyway
    chmod(strFile.c_str(), 0);
    EXPECT_EQ(5, fncRegOpenAgentKey(&objKey));
  }
}

TEST_F(RegistryTest, BrokenLinesAreSkipped) {
  std::string strJunk;
  for (int i = 0; i < 2000; ++i) strJunk += static_cast<char>((i * 7919) % 253 + 1);
  WriteFile(strFile,
            "Windows Registry Editor Version 5.00\n"
            "\"Orphan\"=\"before any key\"\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMOR]\n"
            "\"Open\"=\"no closing quote\n"
            "\"BadHex\"=hex:zz,01\n"
            "\"BadDword\"=dword:123456789\n"
            "\"Trailing\"=\"x\" junk\n"
            "\"NoEquals\" \"x\"\n"
            "\"Tail\"=hex:01,\\\n" +
                strJunk +
                "\n"
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMOR]\n"
                "\"REGID\"=\"still read\"\n");
  RegKey objKey = Open();
  ASSERT_NE(nullptr, objKey);
  uint32_t lngType, lngSize;
  for (const char* pName : {"Orphan", "Open", "BadHex", "BadDword", "Trailing", "NoEquals", "Tail"})
    EXPECT_EQ(2, Query(objKey, pName, lngType, lngSize)) << pName;
  EXPECT_EQ("still read", Text(objKey, "REGID"));
  subRegCloseKey(objKey);
}

// The lookup over the real registry file: a REG_EXPAND_SZ path reads as
// empty, quietly, and fails the lookup.
TEST_F(RegistryTest, AgentLookupReadsOnlyStrings) {
  WriteFile(strFile, fncUtf16("Windows Registry Editor Version 5.00\r\n"
                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMOR]\r\n"
                              "\"InstallationPath\"=\"/opt/velmor/missing\"\r\n"
                              "\"REGID\"=\"R-42\"\r\n"));
  EXPECT_TRUE(fncGetVELMORInfo());
  EXPECT_EQ("/opt/velmor/missing/", g_run.strInstallPath);
  EXPECT_EQ("R-42", g_run.strRegID);
  EXPECT_TRUE(objHarness.objLog.empty());

  objHarness.subNewRun();
  WriteFile(strFile, fncUtf16("Windows Registry Editor Version 5.00\r\n"
                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMOR]\r\n"
                              "\"InstallationPath\"=hex(2):2f,00,6f,00,00,00\r\n"
                              "\"REGID\"=\"R-42\"\r\n"));
  EXPECT_FALSE(fncGetVELMORInfo());
  EXPECT_EQ("", g_run.strInstallPath);
  EXPECT_TRUE(objHarness.objLog.empty());
}

}  // namespace
}  // namespace tarvex
