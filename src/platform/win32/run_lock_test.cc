// The run lock's security, and what is asked of Windows when it is opened.
// Wine keeps no object security between accounts, so what the lock lets
// whom do cannot be shown by running under it: the descriptor the lock
// file is made with is read back entry by entry instead, and the opening
// pinned.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <sddl.h>

#include "gtest/gtest.h"
#include "platform/win32/internal.h"

namespace tarvex {
namespace {

TEST(Win32RunLock, OnlyLocalSystemAdministratorsAndItsMakerMayOpenTheLockFile) {
  PSECURITY_DESCRIPTOR pSecurity = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
      win32::fncRunLockSecurity().c_str(), SDDL_REVISION_1, &pSecurity, nullptr));
  SECURITY_DESCRIPTOR_CONTROL intControl = 0;
  DWORD lngRevision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(pSecurity, &intControl, &lngRevision));
  EXPECT_NE(intControl & SE_DACL_PROTECTED, 0) << "entries inherited from the folder";

  BOOL blnPresent = FALSE, blnDefaulted = FALSE;
  PACL pList = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(pSecurity, &blnPresent, &pList, &blnDefaulted));
  // No list at all would let everyone in.
  ASSERT_TRUE(blnPresent);
  ASSERT_NE(pList, nullptr);
  ASSERT_EQ(pList->AceCount, 3);  // nothing for Users, Everyone or the interactive user
  const WELL_KNOWN_SID_TYPE kAllowed[] = {WinLocalSystemSid, WinBuiltinAdministratorsSid,
                                          WinCreatorOwnerRightsSid};
  for (DWORD i = 0; i < pList->AceCount; ++i) {
    void* pEntry = nullptr;
    ASSERT_TRUE(GetAce(pList, i, &pEntry));
    const ACCESS_ALLOWED_ACE* pAllowed = static_cast<const ACCESS_ALLOWED_ACE*>(pEntry);
    ASSERT_EQ(pAllowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    PSID pSid = const_cast<DWORD*>(&pAllowed->SidStart);
    EXPECT_TRUE(IsWellKnownSid(pSid, kAllowed[i])) << "entry " << i;
    EXPECT_EQ(pAllowed->Mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS))
        << "entry " << i;
  }

  // High integrity, no read or write up: a process of lower integrity can
  // neither open the file nor hold it.
  PACL pLabels = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorSacl(pSecurity, &blnPresent, &pLabels, &blnDefaulted));
  ASSERT_TRUE(blnPresent && pLabels != nullptr);
  ASSERT_EQ(pLabels->AceCount, 1);
  void* pEntry = nullptr;
  ASSERT_TRUE(GetAce(pLabels, 0, &pEntry));
  const SYSTEM_MANDATORY_LABEL_ACE* pLabel = static_cast<const SYSTEM_MANDATORY_LABEL_ACE*>(pEntry);
  EXPECT_EQ(pLabel->Header.AceType, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
  EXPECT_EQ(pLabel->Mask, static_cast<DWORD>(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP |
                                             SYSTEM_MANDATORY_LABEL_NO_READ_UP));
  EXPECT_TRUE(IsWellKnownSid(const_cast<DWORD*>(&pLabel->SidStart), WinHighLabelSid));
  LocalFree(pSecurity);

  // Held without sharing, made when missing, at the name itself.
  const win32::RunLockOpening objOpening = win32::fncRunLockOpening();
  EXPECT_EQ(objOpening.lngShare, 0u);
  EXPECT_EQ(objOpening.lngDisposition, static_cast<DWORD>(OPEN_ALWAYS));
  EXPECT_NE(objOpening.lngFlags & FILE_FLAG_OPEN_REPARSE_POINT, 0u);
  EXPECT_NE(objOpening.lngAccess & GENERIC_WRITE, 0u);
}

}  // namespace
}  // namespace tarvex
