// The checker's rules, one package per row: the manifest and files of a
// package folder, and the whole standard output, the rule of each finding
// and the exit code expected.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "check/check.h"
#include "testing/test_platform.h"

namespace tarvex {
namespace {

using testing::Harness;
using testing::Sep;
using testing::WriteFile;

struct Row {
  const char* strName;
  const char* strManifestName;
  const char* strManifest;  // nullptr: none
  // A package file, a folder ("name/") or a link ("name->target"; POSIX
  // only). A mark after ':' makes a file read-only (ro), a program without
  // execute permission (-x), empty, 16 MiB and a byte (big), or has the
  // platform refuse to open it (denied: 5) or open it as a FIFO (fifo).
  std::vector<const char*> objFiles;
  std::vector<const char*> objArgs;  // before the folder
  int intExit;
  // A finding's line starts with its rule "{ID} "; "M:" stands for the
  // manifest's path, "S:" for the seal's, '%' for the separator, and a
  // line starting "posix " or "win32 " is expected on that build only.
  std::vector<const char*> objOut;
  bool blnPosixOnly = false;  // links, which a Windows account may not make
};

const char kClean[] =
    "; a library and an installer\r\n[Tool library]\r\nFileName=tool.dll\r\nFilePath=Bin\\\r\n"
    "Duplix=Y\r\nExecuteFile=y\r\n\r\n[Installer]\r\nFileName=setup.exe\r\nDuplix=Y\r\n"
    "ExecuteFile=Y\r\nParameters=/quiet\r\n[Readme]\r\nFileName=readme.txt\r\n";

// One copy, whose package carries a seal (SEAL, a file as objFiles gives
// it) that a run cannot read.
const char kSealed[] = "[A]\nFileName=a.txt\nDuplix=Y\n";
#define TARVEX_SEAL_ROW(NAME, SEAL, ERROR, POSIX_ONLY)                                     \
  {NAME, "Tarvex.INI", kSealed, {"a.txt", SEAL}, {}, 1,                                   \
   {"[A] copy a.txt to <install>%",                                                        \
    "{seal-unreadable} S:0: error: Tarvex.SHA256 cannot be read: " ERROR                   \
    ": a sealed run fails before its first entry",                                         \
    "1 error, 0 warnings"},                                                                \
   POSIX_ONLY}

const Row kRows[] = {
    {"clean, Tarvex's own files aside", "Tarvex.INI", kClean,
     {"tool.dll", "setup.exe", "readme.txt", "Tarvex.exe", "Tarvex", "Duplix.log", "Duplix.json",
      ".Tarvex.lock"},
     {"--install", "C:\\Agent"}, 0,
     {"[Tool library] copy tool.dll to C:\\Agent%Bin% (unregistering the installed library "
      "first), then register C:\\Agent%Bin%tool.dll",
      "[Installer] copy setup.exe to C:\\Agent%, then run C:\\Agent%setup.exe with /quiet",
      "[Readme] nothing", "0 errors, 0 warnings"}},
    {"no manifest", "Tarvex.INI", nullptr, {"tool.dll"}, {}, 1,
     {"{missing-manifest} M:0: error: no Tarvex.INI in the package folder: a run fails with "
      "\"Tarvex.ini Not Found\"",
      "1 error, 0 warnings"}},
    {"manifest in another case; keys outside sections; no sections", "tarvex.ini",
     "stray=1\n[]\nx=1\n", {}, {}, 1,
     {"posix {missing-manifest} M:0: error: no Tarvex.INI in the package folder (there is "
      "'tarvex.ini': names differ in case): a run fails with \"Tarvex.ini Not Found\"",
      "win32 {case-only} M:0: error: Tarvex.INI is stored as 'tarvex.ini': a run on POSIX would "
      "not find it",
      "win32 {no-sections} M:0: error: no sections: a run deploys nothing and fails with \"File "
      "Info Not Found in Tarvex.ini\"",
      "win32 {key-outside-section} M:1: warning: key 'stray' before the first section belongs to "
      "no entry",
      "win32 {nameless-section} M:2: warning: a section without a name is never read",
      "posix 1 error, 0 warnings", "win32 2 errors, 2 warnings"}},
    {"a manifest that cannot be read", "Tarvex.INI", "[A]\n", {"Tarvex.INI:denied"}, {}, 1,
     {"{unreadable-manifest} M:0: error: Tarvex.INI cannot be read: 5 Permission denied",
      "1 error, 0 warnings"}},
    {"a manifest that is a link", "Tarvex.INI", nullptr, {"real.ini", "Tarvex.INI->real.ini"}, {},
     1,
     {"{unreadable-manifest} M:0: error: Tarvex.INI cannot be read: 681 Path is a link",
      "1 error, 0 warnings"},
     true},
    {"values", "Tarvex.INI",
     "[A]\nFileName=a.dll\nFilePath=Bin\nDuplix=Yes\nExecuteFile=1\nParameters=/x\n"
     "[B]\nFileName=\"b.exe\"\nFilePath=..\\..\\Up\\\nDuplix=y\nExecuteFile=Y\n"
     "[C]\nFilName=c.txt\nFilePath=C:\\Abs\\\nParameters=/y\nduplix=n\nDuplix=Y\n"
     "[D]\nFileName=d.dll\nDuplix=Y\nExecuteFile=Y\nParameters=/s\nFoo=1\n",
     {"a.dll", "b.exe", "d.dll"}, {}, 1,
     {"[A] nothing",
      "[B] copy b.exe to <install>%..%..%Up%, then run <install>%..%..%Up%b.exe",
      "[C] nothing",
      "[D] copy d.dll to <install>% (unregistering the installed library first), then register "
      "<install>%d.dll",
      "{file-path-end} M:3: error: FilePath 'Bin' does not end with '\\': a run glues folder and "
      "file name together (<install>%Bina.dll)",
      "{flag-value} M:4: error: Duplix=Yes counts as N: only Y (any case) asks for a copy",
      "{flag-value} M:5: error: ExecuteFile=1 counts as N: only Y (any case) asks to register or "
      "run the file",
      "{unused-parameters} M:6: warning: Parameters on an entry that is not executed are never "
      "used",
      "{quoted-value} M:8: warning: FileName is in quotes, which a run removes: it reads 'b.exe'",
      "{climbing-path} M:9: warning: FilePath '..\\..\\Up\\' climbs out of the installation "
      "folder with '..'",
      "{unknown-key} M:13: warning: unknown key 'FilName' (did you mean 'FileName'?): a run never "
      "reads it",
      "{absolute-path} M:14: warning: FilePath 'C:\\Abs\\' is absolute: a run still puts it below "
      "the installation folder",
      "{unused-parameters} M:15: warning: Parameters on an entry that is not executed are never "
      "used",
      "{repeated-key} M:17: warning: key 'Duplix' repeats line 16: only the first counts",
      "{unused-parameters} M:22: warning: Parameters on a library are never used: a registration "
      "takes none",
      "{unknown-key} M:23: warning: unknown key 'Foo': a run never reads it (the keys are "
      "FileName, FilePath, Duplix, ExecuteFile, Parameters, SuccessCodes, RebootCodes, Timeout)",
      "3 errors, 9 warnings"}},
    {"entries and files", "Tarvex.INI",
     "[One]\nFileName=TOOL.DLL\nDuplix=Y\n[one]\nFileName=x\n[Sub]\nFileName=bin\\s.exe\n"
     "Duplix=Y\n[Own]\nFileName=Duplix.ini\n[None]\nDuplix=Y\n[Text]\nFileName=t.txt\n"
     "ExecuteFile=Y\n[Gone]\nFileName=gone.exe\nDuplix=Y\n",
     {"tool.dll", "t.txt", "extra.bin", "Bin/"}, {}, 1,
     {"[One] copy TOOL.DLL to <install>% (unregistering the installed library first)",
      "[one] copy TOOL.DLL to <install>% (unregistering the installed library first)",
      "[Sub] copy bin%s.exe to <install>%", "[Own] nothing",
      "[None] copy (no FileName) to <install>%", "[Text] fail to execute <install>%t.txt",
      "[Gone] copy gone.exe to <install>%",
      "{unnamed-file} M:0: warning: 'extra.bin' is in the package folder but no entry names it",
      "{unregistered-library} M:1: warning: library 'TOOL.DLL' is copied but not registered: a "
      "run unregisters the installed one first and never registers the new one (ExecuteFile=Y "
      "does)",
      "posix {missing-source} M:2: error: source 'TOOL.DLL' is not in the package folder (there "
      "is 'tool.dll': names differ in case): a run fails this entry",
      "win32 {case-only} M:2: error: source 'TOOL.DLL' is stored as 'tool.dll': a run on POSIX "
      "would not find it",
      "{repeated-section} M:4: error: section [one] repeats [One] of line 1 (names ignore case): "
      "a run reads only the first, so it deploys that entry again and never reads this one",
      "{separator-in-name} M:7: error: FileName 'bin\\s.exe' holds a folder separator: a "
      "package's files lie directly in its folder",
      "{own-file} M:10: error: FileName 'Duplix.ini' names one of Tarvex's own files",
      "{missing-file-name} M:12: error: Duplix=Y without a FileName: a run fails this entry",
      "{not-executable} M:15: error: ExecuteFile=Y on 't.txt', which is neither a .DLL nor an "
      ".EXE: a run fails this entry",
      "{missing-source} M:17: error: source 'gone.exe' is not in the package folder: a run fails "
      "this entry",
      "7 errors, 2 warnings"}},
    {"names and folders as a run takes them", "Tarvex.INI",
     "[Slash]\nFileName=a.dll\nFilePath=Bin/\nDuplix=Y\nExecuteFile=Y\n"
     "[Glued]\nFileName=b.dll\nFilePath=Lib\nDuplix=Y\nExecuteFile=Y\n"
     "[Own]\nFileName=Duplix.log\nDuplix=Y\n[Dot]\nFileName=.\\c.exe\nDuplix=Y\nExecuteFile=Y\n"
     "[Quote]\nFileName=q\"t.exe\nDuplix=Y\n[Installed]\nFileName=i.exe\nExecuteFile=Y\n"
     "[Read-only]\nFileName=r.txt\nDuplix=Y\n[Not runnable]\nFileName=n.exe\nDuplix=Y\n"
     "ExecuteFile=Y\n",
     {"a.dll", "b.dll", "c.exe", "r.txt:ro", "n.exe:-x"}, {}, 1,
     {"[Slash] copy a.dll to <install>%Bin/ (unregistering the installed library first), then "
      "register <install>%Bin/a.dll",
      "[Glued] copy b.dll to <install>%Lib (unregistering the installed library first), then "
      "register <install>%Libb.dll",
      "[Own] copy Duplix.log to <install>%", "[Dot] copy .%c.exe to <install>%, then run "
      "<install>%c.exe", "[Quote] copy q\"t.exe to <install>%", "[Installed] run <install>%i.exe",
      "[Read-only] copy r.txt to <install>%",
      "[Not runnable] copy n.exe to <install>%, then run <install>%n.exe",
      "{file-path-slash} M:3: warning: FilePath 'Bin/' ends with '/': a run takes it as a folder, "
      "as it takes '\\', which is the Windows style",
      "{file-path-end} M:8: error: FilePath 'Lib' does not end with '\\': a run copies the file "
      "to a file named <install>%Lib, while it unregisters, registers or runs <install>%Libb.dll",
      "{own-file} M:12: error: FileName 'Duplix.log' names one of Tarvex's own files",
      "{quote-in-name} M:19: error: FileName 'q\"t.exe' holds '\"', which no Windows name holds "
      "and no command line can quote: a run fails this entry before copying anything (123)",
      "{missing-source} M:19: error: source 'q\"t.exe' is not in the package folder: a run fails "
      "this entry",
      "{execute-only} M:23: warning: ExecuteFile=Y without Duplix=Y on 'i.exe', which the "
      "package does not hold: a run relies on <install>%i.exe being installed already",
      "{read-only-source} M:25: note: source 'r.txt' is read-only, and so is its copy: later "
      "runs leave it in place while it holds these bytes, and cannot replace it with other bytes",
      "posix {not-runnable} M:28: error: program 'n.exe' has no execute permission, nor has its "
      "copy: a run fails to start it (5)",
      "posix 5 errors, 2 warnings", "win32 4 errors, 2 warnings"}},
    {"sources as a run opens them; Tarvex's own files", "Tarvex.INI",
     "[Denied]\nFileName=d.txt\nDuplix=Y\n[Fifo]\nFileName=f.txt\nDuplix=Y\n"
     "[Empty]\nFileName=e.exe\nDuplix=Y\nExecuteFile=Y\n[Empty text]\nFileName=e.txt\nDuplix=Y\n"
     "[Held]\nFileName=h.exe\nExecuteFile=Y\n[Lock]\nFileName=.Tarvex.lock\nDuplix=Y\n"
     "[Program]\nFileName=Tarvex\nDuplix=Y\n[Report]\nFileName=Duplix.json\nDuplix=Y\n",
     {"d.txt:denied", "f.txt:fifo", "e.exe:empty", "e.txt:empty", "h.exe"}, {}, 1,
     {"[Denied] copy d.txt to <install>%", "[Fifo] copy f.txt to <install>%",
      "[Empty] copy e.exe to <install>%, then run <install>%e.exe",
      "[Empty text] copy e.txt to <install>%", "[Held] run <install>%h.exe",
      "[Lock] copy .Tarvex.lock to <install>%", "[Program] copy Tarvex to <install>%",
      "[Report] copy Duplix.json to <install>%",
      "{unreadable-source} M:2: error: source 'd.txt' cannot be read: 5 Permission denied: a run "
      "fails this entry",
      "{irregular-source} M:5: error: source 'f.txt' is not a regular file (a FIFO, device or "
      "socket): a run fails this entry (87)",
      "{empty-program} M:8: warning: program 'e.exe' is empty (0 bytes): a run fails to start it "
      "(193)",
      "{execute-only} M:16: warning: ExecuteFile=Y without Duplix=Y on 'h.exe', which the "
      "package holds but a run does not copy: a run relies on <install>%h.exe being installed "
      "already",
      "{own-file} M:18: error: FileName '.Tarvex.lock' names one of Tarvex's own files",
      "{own-file} M:21: error: FileName 'Tarvex' names one of Tarvex's own files",
      "{own-file} M:24: error: FileName 'Duplix.json' names one of Tarvex's own files",
      "{missing-source} M:24: error: source 'Duplix.json' is not in the package folder: a run "
      "fails this entry",
      "6 errors, 2 warnings"}},
    {"sources that are links", "Tarvex.INI",
     "[In]\nFileName=in.txt\nDuplix=Y\n[Out]\nFileName=out.txt\nDuplix=Y\n"
     "[Gone]\nFileName=gone.txt\nDuplix=Y\n[Loop]\nFileName=loop.txt\nDuplix=Y\n"
     "[Folder]\nFileName=sub.txt\nDuplix=Y\n[Real]\nFileName=real.txt\nDuplix=Y\n",
     {"real.txt", "in.txt->real.txt", "../outside.txt", "out.txt->../outside.txt",
      "gone.txt->nowhere.txt", "loop.txt->loop.txt", "sub/", "sub.txt->sub"},
     {}, 1,
     {"[In] copy in.txt to <install>%", "[Out] copy out.txt to <install>%",
      "[Gone] copy gone.txt to <install>%", "[Loop] copy loop.txt to <install>%",
      "[Folder] copy sub.txt to <install>%", "[Real] copy real.txt to <install>%",
      "{linked-source} M:2: warning: source 'in.txt' is a link to 'real.txt' in the package "
      "folder: a run copies that file",
      "{outside-source} M:5: error: source 'out.txt' is a link that leads out of the package "
      "folder: a run copies what it leads to",
      "{missing-source} M:8: error: source 'gone.txt' is a link that leads to no file: a run "
      "fails this entry",
      "{missing-source} M:11: error: source 'loop.txt' is a link that leads to no file: a run "
      "fails this entry",
      "{missing-source} M:14: error: source 'sub.txt' is a link that leads to no file: a run "
      "fails this entry",
      "4 errors, 1 warning"},
     true},
    {"programs judged and timed", "Tarvex.INI",
     "[Setup]\nFileName=setup.exe\nDuplix=Y\nExecuteFile=Y\nParameters=/quiet\n"
     "SuccessCodes=0, 0x10, 3010\nRebootCodes=3010,1641, 4294967295\nTimeout=1800\n"
     "[Lists]\nFileName=setup.exe\nDuplix=Y\nExecuteFile=Y\nSuccessCodes=0;1\n"
     "RebootCodes=0x100000000\n"
     "[Time]\nFileName=setup.exe\nDuplix=Y\nExecuteFile=Y\nRebootCodes=3010\nTimeout=86401\n"
     "[Wide]\nFileName=setup.exe\nDuplix=Y\nExecuteFile=Y\nSuccessCodes=-2147483649\n"
     "[Limit]\nFileName=setup.exe\nDuplix=Y\nExecuteFile=Y\ntimeout=86400\n"
     "[Library]\nFileName=tool.dll\nDuplix=Y\nExecuteFile=Y\nSuccessCodes=0\n"
     "[Copy]\nFileName=setup.exe\nDuplix=Y\nTimeout=x\nRebootCodes=3010\n",
     {"setup.exe", "tool.dll"}, {}, 1,
     {"[Setup] copy setup.exe to <install>%, then run <install>%setup.exe with /quiet for at "
      "most 1800 s, then judge its exit code: success 0, 16; restart 3010, 1641, -1; any other "
      "fails the entry",
      "[Lists] fail before copying anything: its SuccessCodes cannot be used",
      "[Time] fail before copying anything: its Timeout cannot be used",
      "[Wide] fail before copying anything: its SuccessCodes cannot be used",
      "[Limit] copy setup.exe to <install>%, then run <install>%setup.exe for at most 86400 s",
      "[Library] copy tool.dll to <install>% (unregistering the installed library first), then "
      "register <install>%tool.dll",
      "[Copy] copy setup.exe to <install>%",
      "{code-in-both} M:7: warning: exit code 3010 is in both SuccessCodes and RebootCodes: a run "
      "counts it as a restart",
      "{exit-codes} M:13: error: SuccessCodes '0;1' is not a list of exit codes (decimal or 0x "
      "hex, separated by commas): a run fails this entry before copying anything (87)",
      "{exit-code-range} M:14: error: RebootCodes '0x100000000' holds a code beyond 32 bits "
      "(-2147483648 to 4294967295, or up to 0xFFFFFFFF): a run fails this entry before copying "
      "anything (87)",
      "{timeout-range} M:20: error: Timeout '86401' is not whole seconds from 1 to 86400: a run "
      "fails this entry before copying anything (87)",
      "{exit-code-range} M:25: error: SuccessCodes '-2147483649' holds a code beyond 32 bits "
      "(-2147483648 to 4294967295, or up to 0xFFFFFFFF): a run fails this entry before copying "
      "anything (87)",
      "{unused-outcome} M:35: warning: SuccessCodes on an entry that runs no program is never "
      "used: a run judges and times only an .EXE with ExecuteFile=Y",
      "{unused-outcome} M:39: warning: Timeout on an entry that runs no program is never used: a "
      "run judges and times only an .EXE with ExecuteFile=Y",
      "{unused-outcome} M:40: warning: RebootCodes on an entry that runs no program is never "
      "used: a run judges and times only an .EXE with ExecuteFile=Y",
      "4 errors, 4 warnings"}},
    TARVEX_SEAL_ROW("a seal that is a folder", "Tarvex.SHA256/", "267 Path is a folder", false),
    TARVEX_SEAL_ROW("a seal over the cap", "Tarvex.SHA256:big", "223 File too large", false),
    TARVEX_SEAL_ROW("a seal that cannot be read",
                    "Tarvex.SHA256:denied", "5 Permission denied", false),
    TARVEX_SEAL_ROW("a seal that is a FIFO", "Tarvex.SHA256:fifo", "87 Invalid parameter", false),
    TARVEX_SEAL_ROW("a seal that is a link", "Tarvex.SHA256->a.txt", "681 Path is a link", true),
    TARVEX_SEAL_ROW("a seal that is a dangling link",
                    "Tarvex.SHA256->nowhere", "681 Path is a link", true),
    TARVEX_SEAL_ROW("a seal that is a link to itself",
                    "Tarvex.SHA256->Tarvex.SHA256", "681 Path is a link", true),
    {"a bad option", "Tarvex.INI", kClean, {}, {"--bogus"}, 2, {}},
    {"a missing folder", "Tarvex.INI", kClean, {}, {"--"}, 2, {}},
    // Uses refused before anything is read or written: standard error's first line.
    {"--sign without --seal", "Tarvex.INI", kClean, {}, {"--sign", "k.pem"}, 2,
     {"posix tarvex-check: --package, --version, --expires and --sign go with --seal",
      "win32 tarvex-check: --sign is not available here: sign on POSIX, or with openssl (see "
      "README)"}},
    {"--sign without statements", "Tarvex.INI", kClean, {}, {"--seal", "--sign=k.pem"}, 2,
     {"posix tarvex-check: --sign needs --package and --version: a signed run refuses a seal "
      "without them"}},
    {"--package alone", "Tarvex.INI", kClean, {}, {"--seal", "--package", "Tools"}, 2,
     {"tarvex-check: --package and --version go together: a signed run needs both"}},
    {"a version a run refuses", "Tarvex.INI", kClean, {},
     {"--seal", "--package", "Tools", "--version=0"}, 2,
     {"tarvex-check: --version 0: a whole number from 1 to 9223372036854775807"}},
    {"an expiry that has passed", "Tarvex.INI", kClean, {},
     {"--seal", "--package", "Tools", "--version", "1", "--expires", "2020-01-01T00:00:00Z"}, 2,
     {"tarvex-check: --expires 2020-01-01T00:00:00Z has passed: a run would refuse it"}},
    {"--key with --seal", "Tarvex.INI", kClean, {}, {"--key", "k.pem", "--seal"}, 2,
     {"tarvex-check: --key checks a signed package, --seal writes one: one at a time"}},
    {"a key file that is not there", "Tarvex.INI", kClean, {}, {"--key", "missing.pem"}, 2,
     {"tarvex-check: missing.pem cannot be read: 2 File not found"}},
};
#undef TARVEX_SEAL_ROW

std::vector<std::string> Lines(const std::string& strText) {
  std::vector<std::string> objLines;
  std::istringstream objIn(strText);
  for (std::string strLine; std::getline(objIn, strLine);) objLines.push_back(strLine);
  return objLines;
}

// The files a row's platform refuses to open (5) or opens as a FIFO, by name.
std::map<std::string, std::string> g_objMarked;

FileHandle fncMarkedOpen(const std::string& strPath, FileInfo* pInfo, bool blnAtName) {
  auto it = g_objMarked.find(strPath.substr(strPath.find_last_of("\\/") + 1));
  if (it != g_objMarked.end() && it->second == ":denied")
    subRaise(kErrAccessDenied, fncErrorText(kErrAccessDenied));
  const FileHandle objFile = blnAtName ? NativePlatform().fncOpenNoFollow(strPath, pInfo)
                                       : NativePlatform().fncOpenRead(strPath, pInfo);
  if (it != g_objMarked.end() && it->second == ":fifo") pInfo->blnRegular = false;
  return objFile;
}
FileHandle fncMarkedOpenRead(const std::string& strPath, FileInfo* pInfo) {
  return fncMarkedOpen(strPath, pInfo, false);
}
FileHandle fncMarkedOpenNoFollow(const std::string& strPath, FileInfo* pInfo) {
  return fncMarkedOpen(strPath, pInfo, true);
}

// Lays out a row's package folder.
void subMakeFiles(const Row& objRow, const std::string& strFolder,
                  std::vector<std::string>& objReadOnly) {
  namespace fs = std::filesystem;
  g_objMarked.clear();
  for (std::string strFile : objRow.objFiles) {
    const size_t lngArrow = strFile.find("->");
    if (lngArrow != std::string::npos) {
      fs::create_symlink(strFile.substr(lngArrow + 2),
                         strFolder + Sep() + strFile.substr(0, lngArrow));
      continue;
    }
    const size_t lngMark = strFile.find(':');
    const std::string strMark = lngMark == std::string::npos ? "" : strFile.substr(lngMark);
    strFile = strFile.substr(0, lngMark);
    const std::string strPath = strFolder + Sep() + strFile;
    if (strFile.back() == '/') {  // a folder: never a file no entry names
      testing::MakeDir(strPath.substr(0, strPath.size() - 1));
      continue;
    }
    WriteFile(strPath, strMark == ":empty" ? "" : "x");
    if (strMark == ":big") fs::resize_file(strPath, (16u << 20) + 1);
    if (strMark == ":denied" || strMark == ":fifo") g_objMarked[strFile] = strMark;
    if (strFile.size() > 4 && strFile.substr(strFile.size() - 4) == ".exe" && strMark != ":-x")
      fs::permissions(strPath, fs::perms::owner_exec, fs::perm_options::add);
    if (strMark == ":ro") {
      testing::SetReadOnly(strPath, true);
      objReadOnly.push_back(strPath);
    }
  }
}

// The rule IDs of a SARIF log's results, each checked against the rule its
// index names.
std::vector<std::string> SarifRules(const std::string& strLog) {
  std::vector<std::string> objRules, objResults;
  const std::regex objRule("\\{\"id\": \"([a-z-]+)\""),
      objResult("\"ruleId\": \"([a-z-]+)\", \"ruleIndex\": ([0-9]+)");
  for (std::sregex_iterator it(strLog.begin(), strLog.end(), objRule), itEnd; it != itEnd; ++it)
    objRules.push_back((*it)[1]);
  for (std::sregex_iterator it(strLog.begin(), strLog.end(), objResult), itEnd; it != itEnd;
       ++it) {
    const size_t lngIndex = std::stoul((*it)[2]);
    EXPECT_TRUE(lngIndex < objRules.size() && objRules[lngIndex] == (*it)[1]) << (*it)[0];
    objResults.push_back((*it)[1]);
  }
  return objResults;
}

TEST(Checker, RulesOnePackagePerRow) {
  const std::string strBuild = Sep() == "/" ? "posix " : "win32 ";
  for (const Row& objRow : kRows) {
    if (objRow.blnPosixOnly && strBuild != "posix ") continue;
    SCOPED_TRACE(objRow.strName);
    Harness objHarness;
    objHarness.objTable.fncOpenRead = fncMarkedOpenRead;
    objHarness.objTable.fncOpenNoFollow = fncMarkedOpenNoFollow;
    objHarness.Install();
    const std::string strFolder = objHarness.strApp + Sep() + "package";
    testing::MakeDir(strFolder);
    if (objRow.strManifest != nullptr)
      WriteFile(strFolder + Sep() + objRow.strManifestName, objRow.strManifest);
    std::vector<std::string> objReadOnly;
    subMakeFiles(objRow, strFolder, objReadOnly);
    // "--" ends the options: the folder after it does not exist.
    std::vector<std::string> objArgs(objRow.objArgs.begin(), objRow.objArgs.end());
    objArgs.push_back(!objArgs.empty() && objArgs.back() == "--" ? strFolder + "-missing"
                                                                 : strFolder);
    std::string strOut, strErr;
    EXPECT_EQ(objRow.intExit, fncCheckMain("tarvex-check", objArgs, strOut, strErr));

    std::vector<std::string> objWanted, objRules;
    for (std::string strLine : objRow.objOut) {
      if (strLine.compare(0, 6, "posix ") == 0 || strLine.compare(0, 6, "win32 ") == 0) {
        if (strLine.compare(0, 6, strBuild) != 0) continue;
        strLine.erase(0, 6);
      }
      if (strLine[0] == '{') {
        const size_t lngEnd = strLine.find("} ");
        objRules.push_back(strLine.substr(1, lngEnd - 1));
        strLine.erase(0, lngEnd + 2);
      }
      if (strLine.compare(0, 2, "M:") == 0)
        strLine.replace(0, 1, strFolder + Sep() + "Tarvex.INI");
      if (strLine.compare(0, 2, "S:") == 0)
        strLine.replace(0, 1, strFolder + Sep() + "Tarvex.SHA256");
      for (char& chr : strLine)
        if (chr == '%') chr = Sep()[0];
      objWanted.push_back(strLine);
    }
    EXPECT_EQ(objRow.intExit == 2 ? std::vector<std::string>() : objWanted, Lines(strOut));
    EXPECT_EQ(objRow.intExit == 2, !strErr.empty()) << strErr;
    if (objRow.intExit == 2 && !objWanted.empty()) {
      EXPECT_EQ(objWanted[0], Lines(strErr)[0]);
    }
    if (objRow.intExit != 2) {
      // The same findings as SARIF results, under the rules they were made with.
      objArgs.insert(objArgs.begin(), {"--format", "sarif"});
      std::string strLog;
      EXPECT_EQ(objRow.intExit, fncCheckMain("tarvex-check", objArgs, strLog, strErr));
      EXPECT_EQ(objRules, SarifRules(strLog));
    }
    for (const std::string& strPath : objReadOnly) testing::SetReadOnly(strPath, false);
  }
}

}  // namespace
}  // namespace tarvex
