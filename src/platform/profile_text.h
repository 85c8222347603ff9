// Profile (INI) text, parsed, looked up and edited with the rules and
// results of the Win32 calls GetPrivateProfileStringA (empty default),
// GetPrivateProfileSectionNamesA and WritePrivateProfileStringA. It reads
// no file: both builds parse the manifest's bytes with it, once per run,
// and the POSIX build's profile calls read and write their files with it.
//
// Reading, as the Win32 profile code does it:
// - A line ends at CR, LF or CR LF. Blanks (TAB, LF, VT, FF, CR, ^Z, space)
//   around a line, around a name and around a value are dropped; blank lines
//   are skipped.
// - A line that starts with '[' and holds a ']' opens a section named by the
//   text between the '[' and the LAST ']' (blanks trimmed); text after that
//   ']' is ignored. A '[' line without ']' is an ordinary key line.
// - Any other line is a key: the name is the text before the first '=', the
//   value the text after it. A line without '=' is a key without a value,
//   which reads as missing, and, being found first, hides a later "name=".
// - Comment lines (';') are keys like any other: they are skipped by nothing
//   but their odd names; ";x=1" answers a lookup of ";x". '#' is no comment.
// - Lines before the first section form a nameless section; a lookup of the
//   section "" finds it (never a later "[]"), and the name list leaves out
//   every nameless section.
// - Names compare without regard to ASCII case, after trimming the blanks of
//   the names asked for. The first of duplicate sections and the first of
//   duplicate keys answer; the name list shows every section, duplicates too.
// - A value wholly enclosed in matching quotes (both ' or both ") loses them.
//   When the buffer is exactly one byte short of the quoted text, the Win32
//   code still drops the last copied byte, so the result is one byte shorter
//   than the buffer would allow; this is kept.
// - A NUL byte ends a name or a value where it stands (the Win32 strings are
//   C strings), after the line has been split at its '=' and brackets.
// - A byte-order mark selects the encoding: UTF-8 (mark dropped), UTF-16LE or
//   UTF-16BE, each converted to the build's code page; without one the bytes
//   are taken as they are.
//
// Editing changes the text rather than rewriting it from the parsed form: an
// existing key's line is replaced in place, a new key goes after the last
// non-blank line of its section, a new section goes to the end of the file.
// Everything else stays byte for byte. New lines end like the text's first
// line (LF or CR LF; CR LF for an empty text).
#ifndef TARVEX_PLATFORM_PROFILE_TEXT_H_
#define TARVEX_PLATFORM_PROFILE_TEXT_H_

#include <cstdint>

#include <string>
#include <unordered_map>
#include <vector>

namespace tarvex {
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
  std::string strText;  // the text in the build's code page, without its mark
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
// The bytes as a profile: decoded and parsed.
Profile fncParseBytes(std::string&& strRaw);
// GetPrivateProfileStringA (empty default) and
// GetPrivateProfileSectionNamesA over a parsed text, results included;
// pProfile null for a file that is missing or cannot be read.
uint32_t fncGetString(const Profile* pProfile, const std::string& strSection,
                      const std::string& strKey, char* pBuffer, uint32_t lngSize);
uint32_t fncGetSectionNames(const Profile* pProfile, char* pBuffer, uint32_t lngSize);
// The new text with a key set, or false when nothing needs to change.
bool fncEdit(const Profile& objProfile, const std::string& strSection, const std::string& strKey,
             const std::string& strValue, std::string& strText);

}  // namespace profile
}  // namespace tarvex

#endif  // TARVEX_PLATFORM_PROFILE_TEXT_H_
