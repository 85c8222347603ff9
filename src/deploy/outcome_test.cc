// The keys that judge a program: what parses, what is a code, which list
// wins.
#include <gtest/gtest.h>

#include "deploy/outcome.h"

namespace tarvex {
namespace {

TEST(Outcome, CodesAre32BitValuesHoweverWritten) {
  std::vector<uint32_t> objCodes;
  ASSERT_EQ(kRulesGood, fncParseCodes(" 0, 3010 ,0x10,-1,4294967295, 0XFFFFFFFF,-2147483648",
                                      &objCodes));
  EXPECT_EQ((std::vector<uint32_t>{0, 3010, 16, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                                   0x80000000u}),
            objCodes);
  for (const char* strList : {"x", "1,,2", "1;2", "0x", "-", "1 2", "--1", "-0x1", "0x1g", ","})
    EXPECT_EQ(kRulesNotCodes, fncParseCodes(strList, &objCodes)) << strList;
  for (const char* strList : {"4294967296", "-2147483649", "0x100000000", "99999999999999999999"})
    EXPECT_EQ(kRulesCodeRange, fncParseCodes(strList, &objCodes)) << strList;
  EXPECT_EQ("-1", fncCodeText(0xFFFFFFFFu));
  EXPECT_EQ("3010", fncCodeText(3010));
}

TEST(Outcome, RulesJudgeAndTimeoutsStayWithinADay) {
  EntryRules objRules = fncReadRules("0", "3010, 0", "86400");
  EXPECT_TRUE(objRules.blnJudged);
  EXPECT_EQ(86400u, objRules.lngTimeout);
  EXPECT_EQ(kJudgedReboot, fncJudge(objRules, 0)) << "a code in both lists is a restart";
  EXPECT_EQ(kJudgedReboot, fncJudge(objRules, 3010));
  EXPECT_EQ(kJudgedFailure, fncJudge(objRules, 1603));

  // A time limit alone judges nothing.
  objRules = fncReadRules("", "", "5");
  EXPECT_FALSE(objRules.blnJudged);
  EXPECT_EQ(5u, objRules.lngTimeout);
  for (const char* strTimeout : {"0", "86401", "1.5", "-1", "10s"}) {
    objRules = fncReadRules("", "", strTimeout);
    EXPECT_EQ(kRulesTimeout, objRules.intFault) << strTimeout;
    EXPECT_EQ("Timeout", objRules.strFaultKey);
  }
  // The first key that cannot be used is named.
  objRules = fncReadRules("0", "x", "0");
  EXPECT_EQ(kRulesNotCodes, objRules.intFault);
  EXPECT_EQ("RebootCodes", objRules.strFaultKey);
  EXPECT_EQ(kRulesGood, fncReadRules("", "", "").intFault);
  EXPECT_FALSE(fncReadRules("", "", "").blnJudged);
}

}  // namespace
}  // namespace tarvex
