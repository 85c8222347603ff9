// The text of a profile file, parsed and edited: the part of the profile
// code that reads no file (profile.cc reads, caches and writes them).
#ifndef TARVEX_PLATFORM_POSIX_PROFILE_TEXT_H_
#define TARVEX_PLATFORM_POSIX_PROFILE_TEXT_H_

#include <string>
#include <unordered_map>
#include <vector>

namespace tarvex {
namespace posix {
namespace profile {

enum Encoding { kEncAnsi, kEncUtf8, kEncUtf16Le, kEncUtf16Be };

const size_t kNone = static_cast<size_t>(-1);

// One physical line of the text: its content and its one line end.
struct Line {
  size_t lngStart;
  size_t lngEnd;   // end of the content, start of the line end
  size_t lngNext;  // start of the next line
};

struct Key {
  std::string strName;
  std::string strValue;
  bool blnHasValue;
  size_t lngLine;
};

struct Section {
  std::string strName;
  size_t lngHeader;    // line of the header; kNone for the lines before any
  size_t lngLastLine;  // last non-blank line of the section; kNone when none
  std::vector<Key> objKeys;  // a handful: searched in order, first match wins
};

struct Profile {
  Encoding intEncoding = kEncAnsi;
  std::string strText;  // the file as UTF-8 or raw bytes, without its mark
  std::vector<Line> objLines;
  std::vector<Section> objSections;  // [0]: the lines before the first header
  std::unordered_map<std::string, size_t> objSectionIndex;
  std::string strNames;  // every named section, each followed by a NUL
};


bool fncIsBlank(char chr);
// What a Win32 caller could pass: the text up to its first NUL.
std::string fncCString(const std::string& strText);
std::string fncTrim(const std::string& strText);
// The file's bytes into the profile's text, by their byte-order mark, and back.
void subDecode(std::string&& strRaw, Profile& objProfile);
std::string fncEncode(const Profile& objProfile, const std::string& strText);
// Lines, sections and keys of the profile's text.
void subParse(Profile& objProfile);
const Section* fncFindSection(const Profile& objProfile, const std::string& strSection);
const Key* fncFindKey(const Section& objSection, const std::string& strKey);
// The new text with a key set, or false when nothing needs to change.
bool fncEdit(const Profile& objProfile, const std::string& strSection, const std::string& strKey,
             const std::string& strValue, std::string& strText);

}  // namespace profile
}  // namespace posix
}  // namespace tarvex

#endif  // TARVEX_PLATFORM_POSIX_PROFILE_TEXT_H_
