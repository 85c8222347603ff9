#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "environment/environment.h"
#include "gtest/gtest.h"
#include "platform/posix/internal.h"
#include "testing/test_platform.h"

namespace tarvex {
namespace {

using posix::fncGetProfileSectionNames;
using posix::fncGetProfileString;
using posix::fncWriteProfileString;
using testing::Harness;
using testing::ReadFile;
using testing::WriteFile;

// A value read at a given buffer size: the count and the text up to it.
struct Read {
  uint32_t lngCount;
  std::string strText;
  bool operator==(const Read& o) const { return lngCount == o.lngCount && strText == o.strText; }
};

std::ostream& operator<<(std::ostream& objOut, const Read& objRead) {
  return objOut << objRead.lngCount << " \"" << objRead.strText << "\"";
}

Read fncGet(const std::string& strFile, const std::string& strSection, const std::string& strKey,
            uint32_t lngSize = 4096) {
  std::vector<char> objBuffer(lngSize + 1, '#');
  uint32_t lngCount = fncGetProfileString(strSection, strKey, objBuffer.data(), lngSize, strFile);
  EXPECT_EQ('#', objBuffer[lngSize]) << "wrote past the buffer";
  if (lngSize == 0) return Read{lngCount, ""};
  EXPECT_EQ('\0', objBuffer[lngCount]) << "no terminator after the count";
  return Read{lngCount, std::string(objBuffer.data(), lngCount)};
}

std::string fncValue(const std::string& strFile, const std::string& strSection,
                     const std::string& strKey) {
  return fncGet(strFile, strSection, strKey).strText;
}

// The name list at a buffer size: the count and the bytes up to and with the
// one after it.
Read fncNames(const std::string& strFile, uint32_t lngSize = 65536) {
  std::vector<char> objBuffer(lngSize + 1, '#');
  uint32_t lngCount = fncGetProfileSectionNames(objBuffer.data(), lngSize, strFile);
  EXPECT_EQ('#', objBuffer[lngSize]) << "wrote past the buffer";
  size_t lngShow = lngCount + 1 < lngSize ? lngCount + 1 : lngSize;
  return Read{lngCount, std::string(objBuffer.data(), lngShow)};
}

class ProfileTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& strName) { return objHarness.strApp + "/" + strName; }
  std::string Make(const std::string& strName, const std::string& strText) {
    std::string strPath = Path(strName);
    WriteFile(strPath, strText);
    return strPath;
  }
  Harness objHarness;
};

// ---- reading

TEST_F(ProfileTest, NamesAndValuesAreTrimmedAndCaseBlind) {
  std::string strFile = Make("a.ini",
                             "[ Tool \t]\r\n"
                             "\t FileName \t=\t tool.dll \x1a\r\n"
                             "Parameters = -a=b  -c \r\n"
                             "   \r\n"
                             "Empty=\r\n"
                             "[other]\r\n"
                             "FileName=other.dll\r\n");
  EXPECT_EQ((Read{8, "tool.dll"}), fncGet(strFile, "tool", "FILENAME"));
  EXPECT_EQ("tool.dll", fncValue(strFile, "  TOOL ", "\tfilename "));
  EXPECT_EQ("-a=b  -c", fncValue(strFile, "Tool", "Parameters"));
  EXPECT_EQ((Read{0, ""}), fncGet(strFile, "Tool", "Empty"));
  EXPECT_EQ((Read{0, ""}), fncGet(strFile, "Tool", "Missing"));
  EXPECT_EQ((Read{0, ""}), fncGet(strFile, "Missing", "FileName"));
  EXPECT_EQ("other.dll", fncValue(strFile, "OTHER", "filename"));
}

TEST_F(ProfileTest, LineEndsMayBeCrLfLfOrCr) {
  for (const char* pEnd : {"\r\n", "\n", "\r", "\n\r"}) {
    std::string strEnd = pEnd;
    std::string strFile =
        Make("ends.ini", "[s1]" + strEnd + "a=1" + strEnd + strEnd + "[s2]" + strEnd + "a=2");
    EXPECT_EQ("1", fncValue(strFile, "s1", "a")) << "line end " << ::testing::PrintToString(strEnd);
    EXPECT_EQ("2", fncValue(strFile, "s2", "a")) << "line end " << ::testing::PrintToString(strEnd);
    EXPECT_EQ(std::string("s1\0s2\0\0", 7), fncNames(strFile).strText);
    std::remove(strFile.c_str());
  }
}

TEST_F(ProfileTest, MatchingQuotesAroundAWholeValueComeOff) {
  std::string strFile = Make("q.ini",
                             "[q]\n"
                             "d=\"double\"\n"
                             "s='single'\n"
                             "mixed=\"mixed'\n"
                             "inner=\"a\"b\"\n"
                             "empty=\"\"\n"
                             "lone=\"\n"
                             "spaced=  \"  kept  \"  \n"
                             "part=\"a\" b\n");
  EXPECT_EQ("double", fncValue(strFile, "q", "d"));
  EXPECT_EQ("single", fncValue(strFile, "q", "s"));
  EXPECT_EQ("\"mixed'", fncValue(strFile, "q", "mixed"));
  EXPECT_EQ("a\"b", fncValue(strFile, "q", "inner"));
  EXPECT_EQ((Read{0, ""}), fncGet(strFile, "q", "empty"));
  EXPECT_EQ("\"", fncValue(strFile, "q", "lone"));
  EXPECT_EQ("  kept  ", fncValue(strFile, "q", "spaced"));
  EXPECT_EQ("\"a\" b", fncValue(strFile, "q", "part"));
}

TEST_F(ProfileTest, CommentsAreKeysWithOddNames) {
  std::string strFile = Make("c.ini",
                             "; top\r\n"
                             "[c] ; after the header\r\n"
                             ";key=commented\r\n"
                             "#hash=not a comment\r\n"
                             "key=value ; not a comment either\r\n"
                             "; [hidden]\r\n");
  EXPECT_EQ(std::string("c\0\0", 3), fncNames(strFile).strText);
  EXPECT_EQ("value ; not a comment either", fncValue(strFile, "c", "key"));
  EXPECT_EQ("commented", fncValue(strFile, "c", ";key"));
  EXPECT_EQ("not a comment", fncValue(strFile, "c", "#hash"));
  EXPECT_EQ((Read{0, ""}), fncGet(strFile, "hidden", "key"));
}

TEST_F(ProfileTest, FirstDuplicateAnswersAndTheListShowsThemAll) {
  std::string strFile = Make("d.ini",
                             "[dup]\r\nk=first\r\nK=second\r\n"
                             "[DUP]\r\nk=later section\r\nonly=in the second\r\n"
                             "[keyless]\r\nlonely\r\nlonely=later\r\n");
  EXPECT_EQ("first", fncValue(strFile, "dup", "k"));
  // The second section of the same name is never looked at.
  EXPECT_EQ((Read{0, ""}), fncGet(strFile, "dup", "only"));
  EXPECT_EQ(std::string("dup\0DUP\0keyless\0\0", 17), fncNames(strFile).strText);
  // A line without '=' is a key without a value: it is found first.
  EXPECT_EQ((Read{0, ""}), fncGet(strFile, "keyless", "lonely"));
}

TEST_F(ProfileTest, HeadersAndTheNamelessSection) {
  std::string strFile = Make("h.ini",
                             "top=before any section\r\n"
                             "[\r\n"
                             "[]\r\nin=empty name\r\n"
                             "[a]b] trailing\r\nk=1\r\n"
                             "[abc\r\nk2=2\r\n"
                             "  [ padded ]  \r\nk=3\r\n");
  EXPECT_EQ(std::string("a]b\0padded\0\0", 12), fncNames(strFile).strText);
  // Section "" is the part before the first header, never a later "[]".
  EXPECT_EQ("before any section", fncValue(strFile, "", "top"));
  EXPECT_EQ((Read{0, ""}), fncGet(strFile, "", "in"));
  EXPECT_EQ("1", fncValue(strFile, "a]b", "k"));
  // A '[' line without ']' is a key line of the current section.
  EXPECT_EQ("2", fncValue(strFile, "a]b", "k2"));
  EXPECT_EQ("3", fncValue(strFile, "padded", "k"));
}

TEST_F(ProfileTest, ValuesAreCutToTheBuffer) {
  std::string strLong(300, 'x');
  std::string strFile = Make("long.ini", "[l]\r\nlong=" + strLong + "\r\nquoted=\"" +
                                             std::string(254, 'q') + "\"\r\nshort=abc\r\n");
  EXPECT_EQ((Read{254, strLong.substr(0, 254)}), fncGet(strFile, "l", "long", 255));
  EXPECT_EQ((Read{300, strLong}), fncGet(strFile, "l", "long", 301));
  EXPECT_EQ((Read{3, "abc"}), fncGet(strFile, "l", "short", 4));
  EXPECT_EQ((Read{2, "ab"}), fncGet(strFile, "l", "short", 3));
  EXPECT_EQ((Read{0, ""}), fncGet(strFile, "l", "short", 1));
  // A quoted value that just fills the buffer loses one more byte (the copy
  // keeps the closing quote in its count and then drops the last byte).
  EXPECT_EQ((Read{253, std::string(253, 'q')}), fncGet(strFile, "l", "quoted", 255));
  EXPECT_EQ((Read{254, std::string(254, 'q')}), fncGet(strFile, "l", "quoted", 256));
  // Size 0 and no buffer: nothing is touched.
  EXPECT_EQ(0u, fncGet(strFile, "l", "short", 0).lngCount);
  EXPECT_EQ(0u, fncGetProfileString("l", "short", nullptr, 10, strFile));
}

TEST_F(ProfileTest, SectionListIsCutAsWin32CutsIt) {
  std::string strFile = Make("n.ini", "[abc]\r\n[de]\r\nk=v\r\n");
  EXPECT_EQ((Read{7, std::string("abc\0de\0\0", 8)}), fncNames(strFile));
  EXPECT_EQ((Read{7, std::string("abc\0de\0\0", 8)}), fncNames(strFile, 9));
  // A name that only just fits with its NUL still counts as cut: size - 2.
  EXPECT_EQ((Read{6, std::string("abc\0de\0", 7)}), fncNames(strFile, 8));
  EXPECT_EQ((Read{5, std::string("abc\0d\0", 6)}), fncNames(strFile, 7));
  EXPECT_EQ((Read{4, std::string("abc\0\0", 5)}), fncNames(strFile, 6));
  EXPECT_EQ((Read{3, std::string("abc\0", 4)}), fncNames(strFile, 5));
  EXPECT_EQ((Read{2, std::string("ab\0", 3)}), fncNames(strFile, 4));
  EXPECT_EQ((Read{0, std::string("\0", 1)}), fncNames(strFile, 2));
  EXPECT_EQ((Read{0, std::string("\0", 1)}), fncNames(strFile, 1));
  EXPECT_EQ(0u, fncNames(strFile, 0).lngCount);
  EXPECT_EQ(0u, fncGetProfileSectionNames(nullptr, 10, strFile));

  // 300 sections of 20 characters each in the program's 255 buffer.
  std::string strText;
  for (int i = 0; i < 300; ++i) strText += "[Section number " + std::to_string(1000 + i) + "]\r\n";
  std::string strMany = Make("many.ini", strText);
  Read objCut = fncNames(strMany, 255);
  EXPECT_EQ(253u, objCut.lngCount);
  EXPECT_EQ(std::string("Section number 1011\0Section numbe\0", 34), objCut.strText.substr(220));
}

TEST_F(ProfileTest, MissingOrUnreadableFilesReadEmpty) {
  std::string strFolder = Path("folder.ini");
  testing::MakeDir(strFolder);
  for (const std::string& strFile : {Path("none.ini"), strFolder, Path("none/x.ini")}) {
    EXPECT_EQ((Read{0, ""}), fncGet(strFile, "s", "k")) << strFile;
    EXPECT_EQ((Read{0, std::string(1, '\0')}), fncNames(strFile)) << strFile;
  }
  std::string strLocked = Make("locked.ini", "[s]\nk=v\n");
  chmod(strLocked.c_str(), 0);
  if (geteuid() != 0) {  // root reads it anyway
    EXPECT_EQ((Read{0, ""}), fncGet(strLocked, "s", "k"));
  }
}

TEST_F(ProfileTest, EncodingsAndStrayBytes) {
  std::string strBom = Make("bom.ini", "\xEF\xBB\xBF[bom]\r\nk=v\r\n");
  EXPECT_EQ(std::string("bom\0\0", 5), fncNames(strBom).strText);
  std::string strWide("\xFF\xFE", 2);
  for (char chr : std::string("[wide]\r\nk=caf\xC3\xA9\r\n")) {
    unsigned char u = static_cast<unsigned char>(chr);
    if (u == 0xC3) continue;  // é as one UTF-16 unit
    strWide += u == 0xA9 ? '\xE9' : chr;
    strWide += '\0';
  }
  std::string strUtf16 = Make("wide.ini", strWide);
  EXPECT_EQ("caf\xC3\xA9", fncValue(strUtf16, "wide", "k"));
  // A NUL ends a name or value where it stands.
  const char kNul[] = "[n\0ul]\r\nk\0ey=v1\r\nv=va\0lue\r\n";
  std::string strNul = Make("nul.ini", std::string(kNul, sizeof kNul - 1));
  EXPECT_EQ(std::string("n\0\0", 3), fncNames(strNul).strText);
  EXPECT_EQ("v1", fncValue(strNul, "n", "k"));
  EXPECT_EQ("va", fncValue(strNul, "n", "v"));
  // Bytes that are no text at all: no crash, the rest still reads.
  std::string strJunk;
  for (int i = 0; i < 4096; ++i) strJunk += static_cast<char>((i * 7919) % 251);
  std::string strMixed = Make("junk.ini", "[a]\nk=1\n" + strJunk + "\n[b]\nk=2\n");
  EXPECT_EQ("1", fncValue(strMixed, "a", "k"));
  EXPECT_EQ("2", fncValue(strMixed, "b", "k"));
}

// ---- the cache

TEST_F(ProfileTest, CacheSeesEveryChangeOfTheFile) {
  std::string strFile = Make("c.ini", "[s]\r\nk=one\r\n");
  EXPECT_EQ("one", fncValue(strFile, "s", "k"));
  // Same size, same second: only the bytes tell.
  WriteFile(strFile, "[s]\r\nk=two\r\n");
  EXPECT_EQ("two", fncValue(strFile, "s", "k"));
  // An old time stamp does not hide a change of size or inode.
  struct timeval atvOld[2] = {{1000000000, 0}, {1000000000, 0}};
  utimes(strFile.c_str(), atvOld);
  EXPECT_EQ("two", fncValue(strFile, "s", "k"));
  std::string strOther = Make("c2.ini", "[s]\r\nk=six\r\n");
  utimes(strOther.c_str(), atvOld);
  std::rename(strOther.c_str(), strFile.c_str());
  EXPECT_EQ("six", fncValue(strFile, "s", "k"));
  std::remove(strFile.c_str());
  EXPECT_EQ((Read{0, ""}), fncGet(strFile, "s", "k"));
}

// A manifest is read and parsed once; every value comes from that parse.
TEST_F(ProfileTest, LargeManifestIsReadOnce) {
  std::string strText;
  for (int i = 0; i < 10000; ++i)
    strText += "[Entry " + std::to_string(i) + "]\r\nFileName=f" + std::to_string(i) +
               ".dll\r\nFilePath=Bin\\\r\nDuplix=Y\r\nExecuteFile=N\r\nParameters=-q\r\n";
  std::string strFile = Make("big.ini", strText);
  const Manifest objManifest = fncReadManifest(strFile);
  std::remove(strFile.c_str());
  std::vector<std::string> objNames = fncGetSectionNames(objManifest);
  ASSERT_EQ(10001u, objNames.size());
  EXPECT_EQ("f9999.dll", fncReadINI("entry 9999", "filename", objManifest));
  EXPECT_EQ("Bin\\", fncReadINI("Entry 0", "FilePath", objManifest));
}

// ---- writing

TEST_F(ProfileTest, WritesCreateFileSectionAndKey) {
  std::string strFile = Path("Duplix.ini");
  EXPECT_TRUE(fncWriteProfileString("STATUS_INFO", "REGID", "R-1", strFile));
  EXPECT_TRUE(fncWriteProfileString("STATUS_INFO", "Desc", "", strFile));
  EXPECT_TRUE(fncWriteProfileString("Other", "k", "  leading blanks go", strFile));
  EXPECT_EQ("[STATUS_INFO]\r\nREGID=R-1\r\nDesc=\r\n[Other]\r\nk=leading blanks go\r\n",
            ReadFile(strFile));
  EXPECT_EQ("R-1", fncValue(strFile, "status_info", "regid"));
}

TEST_F(ProfileTest, WritesChangeOnlyWhatTheyMust) {
  std::string strFile = Make("w.ini",
                             "; keep me\n"
                             "[S]\n"
                             "  Key = old ; value\n"
                             "; comment\n"
                             "\n"
                             "[T]\n"
                             "lonely\n"
                             "x=1");
  EXPECT_TRUE(fncWriteProfileString("s", "KEY", "new", strFile));
  EXPECT_TRUE(fncWriteProfileString("s", "Added", "a", strFile));
  EXPECT_TRUE(fncWriteProfileString("t", "lonely", "now set", strFile));
  EXPECT_TRUE(fncWriteProfileString("T", "y", "2", strFile));
  EXPECT_TRUE(fncWriteProfileString("", "top", "t", strFile));
  EXPECT_EQ(
      "; keep me\n"
      "top=t\n"
      "[S]\n"
      "Key=new\n"
      "; comment\n"
      "Added=a\n"
      "\n"
      "[T]\n"
      "lonely=now set\n"
      "x=1\n"
      "y=2\n",
      ReadFile(strFile));
  // Writing the value a key already has leaves the file alone.
  std::string strBefore = ReadFile(strFile);
  EXPECT_TRUE(fncWriteProfileString("S", "key", "new", strFile));
  EXPECT_EQ(strBefore, ReadFile(strFile));
  EXPECT_EQ("now set", fncValue(strFile, "T", "LONELY"));
}

TEST_F(ProfileTest, WritesKeepTheEncodingAndUpdateTheCache) {
  const char kBefore[] = "\xFF\xFE[\0w\0]\0\r\0\n\0k\0=\0a\0";
  const char kAfter[] = "\xFF\xFE[\0w\0]\0\r\0\n\0k\0=\0b\0";
  std::string strFile = Make("wide.ini", std::string(kBefore, sizeof kBefore - 1));
  EXPECT_EQ("a", fncValue(strFile, "w", "k"));
  EXPECT_TRUE(fncWriteProfileString("w", "k", "b", strFile));
  EXPECT_EQ(std::string(kAfter, sizeof kAfter - 1), ReadFile(strFile));
  EXPECT_EQ("b", fncValue(strFile, "w", "k"));
}

TEST_F(ProfileTest, FailedWritesReturnFalse) {
  std::string strFolder = Path("folder.ini");
  testing::MakeDir(strFolder);
  EXPECT_FALSE(fncWriteProfileString("s", "k", "v", strFolder));
  EXPECT_FALSE(fncWriteProfileString("s", "k", "v", Path("missing/x.ini")));
  std::string strLocked = Make("ro.ini", "[s]\r\nk=v\r\n");
  testing::SetReadOnly(strLocked, true);
  EXPECT_FALSE(fncWriteProfileString("s", "k", "changed", strLocked));
  EXPECT_EQ("[s]\r\nk=v\r\n", ReadFile(strLocked));
}

// ---- through the program's routines

TEST_F(ProfileTest, RoutinesReadLongValuesAndListsWhole) {
  std::string strText = "[s]\r\nlong=" + std::string(300, 'L') + "\r\n";
  for (int i = 0; i < 40; ++i) strText += "[Section " + std::to_string(100 + i) + "]\r\n";
  std::string strFile = Make("Tarvex.INI", strText);
  EXPECT_EQ(std::string(300, 'L'), testing::ReadINI("S", "LONG", strFile));
  std::vector<std::string> objNames = testing::SectionNames(strFile);
  ASSERT_EQ(42u, objNames.size());
  EXPECT_EQ("Section 139", objNames[40]);
  EXPECT_EQ("", objNames[41]);
}

// A quoted value that exactly fills the 255 buffer comes back as size - 2,
// which the read routine takes for a value that fit.
TEST_F(ProfileTest, RoutineReadsQuotedValueFillingTheBufferWhole) {
  std::string strFile = Make("Tarvex.INI", "[s]\r\nq=\"" + std::string(254, 'Q') + "\"\r\n");
  EXPECT_EQ(std::string(254, 'Q'), testing::ReadINI("s", "q", strFile));
}

}  // namespace
}  // namespace tarvex
