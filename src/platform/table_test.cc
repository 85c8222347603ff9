// The table as each build fills it, and what is decided above it once for
// both: which files are read whole, and how much of them.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "testing/test_platform.h"

namespace tarvex {
namespace {

using testing::Harness;
using testing::RaisedNumber;
using testing::Sep;
using testing::WriteFile;

// A forgotten entry compiles as null: it fails here, on both builds.
TEST(PlatformTable, EveryEntryIsFilled) {
  const Platform& objNative = NativePlatform();
#define TARVEX_VALUE(TYPE, NAME)
#define TARVEX_PRIMITIVE(RESULT, NAME, PARAMS) \
  EXPECT_NE(nullptr, objNative.NAME) << #NAME " is left null";
#define TARVEX_OPTIONAL(RESULT, NAME, PARAMS)
#include "platform/primitives.def"
  EXPECT_NE('\0', objNative.chrSeparator);
  EXPECT_NE(0u, objNative.lngNameLimit);
  EXPECT_NE(nullptr, objNative.strHiddenPrefix);
}

TEST(WholeFiles, ReadsARegularFileWithinItsCapAndNothingElse) {
  Harness objHarness;
  const std::string strFile = objHarness.strApp + Sep() + "f.ini";
  WriteFile(strFile, "0123456789");
  EXPECT_EQ("0123456789", fncReadWholeFile(strFile, 10, true));
  EXPECT_EQ("0123456789", fncReadWholeFile(strFile, 10, false));
  EXPECT_EQ(kErrFileTooLarge, RaisedNumber([&] { fncReadWholeFile(strFile, 9, true); }));
  WriteFile(strFile, "");
  EXPECT_EQ("", fncReadWholeFile(strFile, 0, true));
  EXPECT_EQ(kErrFileNotFound,
            RaisedNumber([&] { fncReadWholeFile(strFile + ".gone", 10, true); }));
  EXPECT_EQ(kErrIsFolder, RaisedNumber([&] { fncReadWholeFile(objHarness.strApp, 10, true); }));
}

// A file that ends before its size, or grows beyond the cap while it is
// read, is never taken whole.
TEST(WholeFiles, AFileChangedWhileReadIsRefused) {
  Harness objHarness;
  const std::string strFile = objHarness.strApp + Sep() + "f.ini";
  WriteFile(strFile, std::string(3000, 'x'));
  static bool blnGrow;
  objHarness.objTable.fncReadAt = [](FileHandle objFile, uint64_t lngOffset, char* pData,
                                     size_t lngLength) -> size_t {
    if (!blnGrow) return lngOffset == 0 ? NativePlatform().fncReadAt(objFile, 0, pData, 100) : 0;
    // Grown: every read finds more.
    for (size_t i = 0; i < lngLength; ++i) pData[i] = 'y';
    return lngLength;
  };
  objHarness.Install();
  blnGrow = false;
  EXPECT_EQ(kErrIoError, RaisedNumber([&] { fncReadWholeFile(strFile, 1 << 20, true); }));
  blnGrow = true;
  EXPECT_EQ(kErrFileTooLarge, RaisedNumber([&] { fncReadWholeFile(strFile, 1 << 20, true); }));
}

}  // namespace
}  // namespace tarvex
