#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "deploy/seal.h"
#include "testing/test_platform.h"

namespace tarvex {
namespace {

using testing::Harness;
using testing::RaisedNumber;
using testing::Sep;
using testing::WriteFile;

const std::string kAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string fncDigestOf(const std::string& strData, size_t lngPiece) {
  Hasher objHash = Os().fncHashBegin();
  for (size_t i = 0; i < strData.size(); i += lngPiece)
    Os().subHashAdd(objHash, strData.data() + i, std::min(lngPiece, strData.size() - i));
  return Os().fncHashEnd(objHash);
}

// The FIPS 180-2 vectors, through this build's library, in one piece and
// in pieces; a file across the block size reads as the same bytes added.
TEST(Seal, HashesKnownVectors) {
  Harness objHarness;
  const struct {
    std::string strData;
    const char* strDigest;
  } kVectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", kAbc.c_str()},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& objVector : kVectors) {
    EXPECT_EQ(objVector.strDigest, fncDigestOf(objVector.strData, 1 << 30));
    EXPECT_EQ(objVector.strDigest, fncDigestOf(objVector.strData, 7));
    const std::string strFile = objHarness.strApp + Sep() + "vector.bin";
    WriteFile(strFile, objVector.strData);
    EXPECT_EQ(objVector.strDigest, fncHashFile(strFile));
  }
  std::string strLong(3 * (1 << 20) + 5, 'x');
  for (size_t i = 0; i < strLong.size(); i += 4099) strLong[i] = static_cast<char>(i);
  WriteFile(objHarness.strApp + Sep() + "long.bin", strLong);
  EXPECT_EQ(fncDigestOf(strLong, 65536), fncHashFile(objHarness.strApp + Sep() + "long.bin"));

  EXPECT_EQ(kErrFileNotFound,
            RaisedNumber([&] { fncHashFile(objHarness.strApp + Sep() + "gone.bin"); }));
  EXPECT_NE(0, RaisedNumber([&] { fncHashFile(objHarness.strApp); }));
}

TEST(Seal, ReadsSealLines) {
  const std::string kHex = kAbc;
  std::string strUpper = kHex;
  for (char& chr : strUpper) chr = static_cast<char>(toupper(chr));
  const struct {
    std::string strText;
    std::vector<std::string> objNames;  // the good lines' names, in order
    std::vector<long> objBad;
  } kCases[] = {
      {"", {}, {}},
      {kHex + "  Tarvex.INI\n" + kHex + "  tool.dll\n", {"Tarvex.INI", "tool.dll"}, {}},
      // CR LF, no line end at the end, binary marks, upper case, '\', a mark.
      {kHex + "  a.dll\r\n" + kHex + " *b.dll", {"a.dll", "b.dll"}, {}},
      {"\xEF\xBB\xBF" + strUpper + "  Sub\\c.exe\r\n", {"Sub\\c.exe"}, {}},
      // A name may hold spaces, even at its start.
      {kHex + "   lead.txt\n" + kHex + "  with space.txt\n", {" lead.txt", "with space.txt"}, {}},
      // Not seal lines: a blank line, too few digits, a bad digit, one
      // space, another mark, no name, the sha256sum escape of odd names.
      {kHex + "  a\n\n" + kHex.substr(1) + "  b\n" + "g" + kHex.substr(1) + "  c\n" + kHex +
           " d\n" + kHex + " -e\n" + kHex + "  \n\\" + kHex + "  f\n",
       {"a"}, {2, 3, 4, 5, 6, 7, 8}},
      // Names outside the folder, or no plain file names.
      {kHex + "  /etc/passwd\n" + kHex + "  C:\\x.dll\n" + kHex + "  ..\\x.dll\n" + kHex +
           "  a/../b\n" + kHex + "  a//b\n" + kHex + "  \\x\n" + kHex + "  ok/b.dll\n",
       {"ok/b.dll"}, {1, 2, 3, 4, 5, 6}},
      {kHex + "  a" + std::string(1, '\0') + "b\n" + kHex + "  c\r\r\n" + kHex + "  d\te\n",
       {}, {1, 2, 3}},
  };
  for (const auto& objCase : kCases) {
    SCOPED_TRACE(objCase.strText);
    const Seal objSeal = fncParseSeal(objCase.strText);
    std::vector<std::string> objNames;
    for (const SealLine& objLine : objSeal.objLines) {
      objNames.push_back(objLine.strName);
      EXPECT_EQ(kHex, objLine.strDigest);
    }
    EXPECT_EQ(objCase.objNames, objNames);
    EXPECT_EQ(objCase.objBad, objSeal.objBadLines);
  }

  // What the checker writes reads back the same, with '/' for '\'.
  const std::vector<SealLine> objLines{{"Tarvex.INI", kHex, 0}, {"Sub\\c.exe", kHex, 0}};
  const std::string strText = fncSealText(objLines);
  EXPECT_EQ(kHex + "  Tarvex.INI\n" + kHex + "  Sub/c.exe\n", strText);
  EXPECT_EQ(2u, fncParseSeal(strText).objLines.size());
  EXPECT_EQ(fncSealKey("Sub\\c.exe"), fncSealKey("Sub/c.exe"));
  // Names ignore case where the file system does (Windows).
  EXPECT_EQ(Sep() == "\\", fncSealKey("TOOL.DLL") == fncSealKey("tool.dll"));
}

}  // namespace
}  // namespace tarvex
