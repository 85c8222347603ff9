// The copy engine over a file system held in memory: the same table and
// the same cases on both builds, since the engine is one for both. Each
// primitive call is recorded, so the order that makes a copy durable is
// shown, not assumed.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "deploy/deploy.h"
#include "testing/test_platform.h"

namespace tarvex {
namespace {

using testing::Harness;
using testing::RaisedNumber;

struct Node {
  std::string strBytes;
  uint32_t lngMode = 0644;
  int64_t lngTime = 0;
  uint64_t lngId = 0;
  std::string strSecurity = "0:0";
  bool blnFolder = false;
  bool blnRegular = true;
  bool blnLink = false;  // a link planted at a name: never to be opened for writing
};

struct Fake {
  std::map<std::string, Node> objNodes;
  std::map<FileHandle, std::string> objOpen;
  std::vector<std::string> objCalls;
  uint64_t lngNextId = 1;
  FileHandle lngNextHandle = 10;
  int intOwnerRefusals = 0;  // security applications with the owner to refuse
  size_t lngReadCut = 0;     // reads of the source stop after this many bytes (0: never)
  void Add(const std::string& strPath, const std::string& strBytes, uint32_t lngMode = 0644,
           int64_t lngTime = 1000) {
    Node& objNode = objNodes[strPath];
    objNode.strBytes = strBytes;
    objNode.lngMode = lngMode;
    objNode.lngTime = lngTime;
    objNode.lngId = lngNextId++;
  }
  void Folder(const std::string& strPath) {
    objNodes[strPath].blnFolder = true;
    objNodes[strPath].blnRegular = false;
  }
  size_t Count(const std::string& strPrefix) const {
    return std::count_if(objCalls.begin(), objCalls.end(), [&](const std::string& s) {
      return s.compare(0, strPrefix.size(), strPrefix) == 0;
    });
  }
  // The position of the first recorded call that starts with strPrefix.
  long At(const std::string& strPrefix) const {
    for (size_t i = 0; i < objCalls.size(); ++i)
      if (objCalls[i].compare(0, strPrefix.size(), strPrefix) == 0) return static_cast<long>(i);
    return -1;
  }
};
Fake* g_fake = nullptr;

[[noreturn]] void Raise(int32_t lngNumber) { subRaise(lngNumber, fncErrorText(lngNumber)); }
Node& NodeOf(FileHandle objFile) { return g_fake->objNodes.at(g_fake->objOpen.at(objFile)); }

void Fill(const Node& objNode, FileInfo* pInfo) {
  pInfo->blnFolder = objNode.blnFolder;
  pInfo->blnRegular = objNode.blnRegular;
  pInfo->blnReadOnly = (objNode.lngMode & 0200) == 0;
  pInfo->blnIdentity = true;
  pInfo->lngIndex = objNode.lngId;
  pInfo->lngSize = objNode.strBytes.size();
  pInfo->lngMode = objNode.lngMode;
  pInfo->lngModified = objNode.lngTime;
}

int32_t FQuery(const std::string& strPath, FileInfo* pInfo) {
  auto it = g_fake->objNodes.find(strPath);
  if (it == g_fake->objNodes.end()) return g_fake->objNodes.count(strPath.substr(0, strPath.rfind('/'))) ? 2 : 3;
  Fill(it->second, pInfo);
  return 0;
}
FileHandle FOpenRead(const std::string& strPath, FileInfo* pInfo) {
  g_fake->objCalls.push_back("open " + strPath);
  auto it = g_fake->objNodes.find(strPath);
  if (it == g_fake->objNodes.end()) Raise(kErrFileNotFound);
  Fill(it->second, pInfo);
  g_fake->objOpen[++g_fake->lngNextHandle] = strPath;
  return g_fake->lngNextHandle;
}
size_t FReadAt(FileHandle objFile, uint64_t lngOffset, char* pData, size_t lngLength) {
  const std::string& strBytes = NodeOf(objFile).strBytes;
  size_t lngEnd = strBytes.size();
  if (g_fake->lngReadCut != 0 && g_fake->objOpen.at(objFile).find("/app/") != std::string::npos)
    lngEnd = std::min(lngEnd, g_fake->lngReadCut);
  if (lngOffset >= lngEnd) return 0;
  size_t lngDone = std::min(lngLength, lngEnd - static_cast<size_t>(lngOffset));
  strBytes.copy(pData, lngDone, static_cast<size_t>(lngOffset));
  return lngDone;
}
FileHandle FCreateNew(const std::string& strPath, bool) {
  g_fake->objCalls.push_back("create " + strPath);
  if (g_fake->objNodes.count(strPath)) Raise(kErrFileExists);
  g_fake->Add(strPath, "", 0600, 5000);
  g_fake->objOpen[++g_fake->lngNextHandle] = strPath;
  return g_fake->lngNextHandle;
}
void FWrite(FileHandle objFile, const char* pData, size_t lngLength) {
  g_fake->objCalls.push_back("write " + g_fake->objOpen.at(objFile));
  NodeOf(objFile).strBytes.append(pData, lngLength);
}
// Ranges compared where they lie; one past a file's end cannot be (-1).
int FCompare(FileHandle objA, FileHandle objB, uint64_t lngOffset, size_t lngLength) {
  g_fake->objCalls.push_back("compare " + std::to_string(lngOffset));
  const std::string &strA = NodeOf(objA).strBytes, &strB = NodeOf(objB).strBytes;
  if (lngOffset + lngLength > strA.size() || lngOffset + lngLength > strB.size()) return -1;
  return strA.compare(lngOffset, lngLength, strB, lngOffset, lngLength) == 0 ? 1 : 0;
}
void FFlush(FileHandle objFile) { g_fake->objCalls.push_back("flush " + g_fake->objOpen.at(objFile)); }
void FSetMode(FileHandle objFile, uint32_t lngMode, int64_t lngTime) {
  g_fake->objCalls.push_back("mode " + g_fake->objOpen.at(objFile) + " " + std::to_string(lngMode));
  NodeOf(objFile).lngMode = lngMode;
  if (lngTime != 0) NodeOf(objFile).lngTime = lngTime;
}
std::string FReadSecurity(const std::string& strPath) { return g_fake->objNodes.at(strPath).strSecurity; }
void FApplySecurity(FileHandle objFile, const std::string& strSecurity, bool blnOwner) {
  g_fake->objCalls.push_back(std::string("security ") + (blnOwner ? "owner " : "") + strSecurity);
  if (blnOwner && g_fake->intOwnerRefusals-- > 0) Raise(kErrAccessDenied);
  NodeOf(objFile).strSecurity = blnOwner ? strSecurity : "0" + strSecurity.substr(strSecurity.find(':'));
}
bool FClose(FileHandle objFile) {
  g_fake->objCalls.push_back("close " + g_fake->objOpen.at(objFile));
  g_fake->objOpen.erase(objFile);
  return true;
}
void FReplace(const std::string& strFrom, const std::string& strTo) {
  g_fake->objCalls.push_back("replace " + strFrom + " " + strTo);
  g_fake->objNodes[strTo] = g_fake->objNodes.at(strFrom);
  g_fake->objNodes.erase(strFrom);
}
void FFlushFolder(const std::string& strFolder) { g_fake->objCalls.push_back("flush folder " + strFolder); }
void FDelete(const std::string& strPath) {
  g_fake->objCalls.push_back("delete " + strPath);
  if (!g_fake->objNodes.erase(strPath)) Raise(kErrFileNotFound);
}
std::string FStoredName(const std::string& strPath) { return strPath.substr(strPath.rfind('/') + 1); }
std::vector<std::string> FList(const std::string&) { return {}; }

class CopyEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &objFake;
    Platform& t = objHarness.objTable;
    t.chrSeparator = '/';
    t.fncQueryFile = FQuery;
    t.fncOpenRead = FOpenRead;
    t.fncReadAt = FReadAt;
    t.fncCreateNew = FCreateNew;
    t.subWrite = FWrite;
    t.fncCopyRange = nullptr;
    t.fncCompareRange = FCompare;
    t.subFlush = FFlush;
    t.subSetModeAndTime = FSetMode;
    t.fncReadSecurity = FReadSecurity;
    t.subApplySecurity = FApplySecurity;
    t.fncClose = FClose;
    t.subReplace = FReplace;
    t.subFlushFolder = FFlushFolder;
    t.subDeleteFile = FDelete;
    t.fncStoredName = FStoredName;
    t.fncListFiles = FList;
    t.fncCurrentProcessID = [] { return 4711u; };
    t.lngPathLimit = 0;
    t.lngNameLimit = 255;
    t.strHiddenPrefix = ".";
    t.lngModeBits = 07777;
    t.lngKeptMode = 0755;
    objHarness.Install();
    objFake.Folder("/app");
    objFake.Folder("/bin");
    objFake.Add("/app/tool", "new bytes", 0755, 1234);
  }
  void TearDown() override { g_fake = nullptr; }
  Harness objHarness;
  Fake objFake;
};

TEST_F(CopyEngine, ANewFileIsOnTheDiskBeforeItReplacesTheTargetAndTheFolderAfter) {
  objFake.Add("/bin/tool", "old bytes", 0644);
  objFake.objNodes["/bin/tool"].strSecurity = "7:8";
  subCopyFile("/app/tool", "/bin/");
  const Node& objTarget = objFake.objNodes.at("/bin/tool");
  EXPECT_EQ("new bytes", objTarget.strBytes);
  EXPECT_EQ(1234, objTarget.lngTime) << "the source's time of last change";
  EXPECT_EQ("7:8", objTarget.strSecurity) << "the replaced target's owner and group";
  const std::string strTemporary = "/bin/.tool.4711-";
  long w = objFake.At("write " + strTemporary), m = objFake.At("mode " + strTemporary),
       f = objFake.At("flush " + strTemporary), c = objFake.At("close " + strTemporary),
       r = objFake.At("replace " + strTemporary), d = objFake.At("flush folder /bin");
  EXPECT_TRUE(0 <= w && w < f && m < f && f < c && c < r && r < d)
      << ::testing::PrintToString(objFake.objCalls);
  EXPECT_EQ(0u, objFake.Count("delete ")) << "no temporary file left to remove";
}

TEST_F(CopyEngine, ModeIsTheSourcesLessOthersWriteAndSpecialBits) {
  const std::pair<uint32_t, uint32_t> kModes[] = {
      {0777, 0755}, {0666, 0644}, {0750, 0750}, {0600, 0600}, {06755, 0755}, {01777, 0755}};
  for (const auto& objCase : kModes) {
    objFake.objNodes["/app/tool"].lngMode = objCase.first;
    objFake.objNodes.erase("/bin/tool");
    subCopyFile("/app/tool", "/bin/");
    EXPECT_EQ(objCase.second, objFake.objNodes.at("/bin/tool").lngMode) << std::oct << objCase.first;
  }
}

TEST_F(CopyEngine, ATargetWithTheBytesStaysReadOnlyOrNotAndIsMendedInPlace) {
  struct Case {
    uint32_t lngSource, lngTarget, lngWanted;
  } const kCases[] = {
      {0755, 0644, 0755},  // a program that lost its execute bit runs again
      {0444, 0444, 0444},  // read-only media: the second run deploys as the first
      {0644, 0444, 0644},
  };
  for (const Case& objCase : kCases) {
    objFake.objCalls.clear();
    objFake.objNodes["/app/tool"].lngMode = objCase.lngSource;
    objFake.Add("/bin/tool", "new bytes", objCase.lngTarget, 77);
    const uint64_t lngId = objFake.objNodes["/bin/tool"].lngId;
    subCopyFile("/app/tool", "/bin/");
    const Node& objTarget = objFake.objNodes.at("/bin/tool");
    EXPECT_EQ(lngId, objTarget.lngId) << "left in place";
    EXPECT_EQ(77, objTarget.lngTime);
    EXPECT_EQ(objCase.lngWanted, objTarget.lngMode);
    EXPECT_EQ(0u, objFake.Count("create ")) << "no temporary file";
    EXPECT_EQ(1u, objFake.Count("compare 0")) << "compared where the files lie";
    EXPECT_EQ(1u, objFake.Count("flush /bin/tool")) << "flushed as it stands";
    EXPECT_EQ(objCase.lngSource != objCase.lngTarget ? 1u : 0u, objFake.Count("mode /bin/tool"));
  }
}

TEST_F(CopyEngine, RefusalsComeBeforeAnythingIsMade) {
  objFake.Add("/bin/ro", "other bytes", 0444);
  objFake.Folder("/bin/dir");
  objFake.Add("/app/fifo", "");
  objFake.objNodes["/app/fifo"].blnRegular = false;
  objFake.objNodes["/bin/same"] = objFake.objNodes["/app/tool"];  // a link to the source
  const struct {
    const char* strSource;
    const char* strTarget;
    int32_t lngNumber;
  } kCases[] = {
      {"/app/tool", "/bin/ro", kErrAccessDenied},    // read-only, other bytes
      {"/app/tool", "/bin/dir", kErrAccessDenied},   // a folder of the name
      {"/app/tool", "/bin/same", kErrAccessDenied},  // the source by another path
      {"/app/tool", "/nowhere/", kErrPathNotFound},
      {"/app/gone", "/bin/", kErrFileNotFound},
      {"/gone/tool", "/bin/", kErrFileNotFound},
      {"/app", "/bin/", kErrIsFolder},
      {"/app/fifo", "/bin/", kErrInvalidParameter},
  };
  for (const auto& objCase : kCases) {
    EXPECT_EQ(objCase.lngNumber, RaisedNumber([&] { subCopyFile(objCase.strSource, objCase.strTarget); }))
        << objCase.strSource << " -> " << objCase.strTarget;
  }
  EXPECT_EQ("other bytes", objFake.objNodes.at("/bin/ro").strBytes);
  // Windows: a target path the system cannot reach is refused at once.
  objHarness.objTable.lngPathLimit = 12;
  objHarness.Install();
  EXPECT_EQ(kErrPathTooLong, RaisedNumber([&] { subCopyFile("/app/tool", "/bin/tool.dll"); }));
  EXPECT_EQ(0u, objFake.Count("create ")) << ::testing::PrintToString(objFake.objCalls);
}

TEST_F(CopyEngine, ACopyShorterThanItsSourceIsNeverPlaced) {
  objFake.Add("/bin/tool", "old bytes");
  objFake.lngReadCut = 4;  // the source ends early, as a cut file or a lying kernel copy
  EXPECT_EQ(kErrIoError, RaisedNumber([&] { subCopyFile("/app/tool", "/bin/"); }));
  EXPECT_EQ("old bytes", objFake.objNodes.at("/bin/tool").strBytes);
  EXPECT_EQ(0u, objFake.Count("replace "));
  EXPECT_EQ(1u, objFake.Count("delete /bin/.tool.4711-")) << "the temporary file goes";
  // A kernel copy that says 0 at once is not taken for the end: the reads tell.
  objFake.lngReadCut = 0;
  objHarness.objTable.fncCopyRange = [](FileHandle, uint64_t, FileHandle, uint64_t) -> int64_t {
    return 0;
  };
  objHarness.Install();
  subCopyFile("/app/tool", "/bin/");
  EXPECT_EQ("new bytes", objFake.objNodes.at("/bin/tool").strBytes);
}

TEST_F(CopyEngine, TakenTemporaryNamesAreNeverOpenedAndTheOwnerIsKeptWherePossible) {
  // Something already lies at the name the next temporary file would take.
  const std::string strTaken = fncNextTemporaryPath("/bin", "tool");
  objFake.Add(strTaken, "someone else's");
  objFake.objNodes[strTaken].blnLink = true;
  objFake.Add("/bin/tool", "old", 0644);
  objFake.objNodes["/bin/tool"].strSecurity = "7:8";
  objFake.intOwnerRefusals = 1;  // a run that may not give files away
  subCopyFile("/app/tool", "/bin/");
  EXPECT_EQ("someone else's", objFake.objNodes.at(strTaken).strBytes);
  EXPECT_EQ(0u, objFake.Count("write " + strTaken));
  EXPECT_EQ("new bytes", objFake.objNodes.at("/bin/tool").strBytes);
  EXPECT_EQ("0:8", objFake.objNodes.at("/bin/tool").strSecurity) << "the group at least";
  EXPECT_EQ(2u, objFake.Count("security "));
}

// A stand-in digest: the bytes themselves, so a test names what must be placed.
Hasher FHashBegin() { return new std::string(); }
void FHashAdd(Hasher objHash, const char* pData, size_t lngLength) {
  static_cast<std::string*>(objHash)->append(pData, lngLength);
}
std::string FHashEnd(Hasher objHash) {
  std::string strBytes = *static_cast<std::string*>(objHash);
  delete static_cast<std::string*>(objHash);
  return strBytes;
}

TEST_F(CopyEngine, OnlyTheSealedBytesArePlaced) {
  Platform& t = objHarness.objTable;
  t.fncHashBegin = FHashBegin;
  t.subHashAdd = FHashAdd;
  t.fncHashEnd = FHashEnd;
  t.fncCopyRange = [](FileHandle, uint64_t, FileHandle, uint64_t) -> int64_t {
    ADD_FAILURE() << "sealed bytes must pass through the digest";
    return -1;
  };
  objHarness.Install();
  objFake.Add("/bin/tool", "old bytes");
  // The source changed after the seal was checked: never placed.
  EXPECT_EQ(kErrInvalidData, RaisedNumber([&] { subCopyFile("/app/tool", "/bin/", "sealed"); }));
  EXPECT_EQ("old bytes", objFake.objNodes.at("/bin/tool").strBytes);
  EXPECT_EQ(0u, objFake.Count("replace "));
  // Nor left in place as current when the target holds the changed bytes.
  objFake.Add("/bin/tool", "new bytes");
  EXPECT_EQ(kErrInvalidData, RaisedNumber([&] { subCopyFile("/app/tool", "/bin/", "sealed"); }));
  subCopyFile("/app/tool", "/bin/", "new bytes");
  objFake.objNodes.erase("/bin/tool");
  subCopyFile("/app/tool", "/bin/", "new bytes");
  EXPECT_EQ("new bytes", objFake.objNodes.at("/bin/tool").strBytes);
}

}  // namespace
}  // namespace tarvex
