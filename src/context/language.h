// One language's texts, as a station hears them, and the language files they
// come from.
//
// A language file ("<name>.lng" in the BBS directory) holds 58 texts without
// keys: their place in the file names them. The first eight are blocks of
// lines ended by a line that begins with "-"; the other fifty are single
// lines, between which lines beginning with ";" are comments. Every line of
// a text ends with a CR, as lines do on the air.
//
// Every text is a NUL-terminated field of a fixed size, so that the commands
// that expand "$" tokens in place (B, T) can do so within the field. A text
// too long for its field is cut to fit and keeps its final CR.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/code_pages.h"

namespace orn {

// Fields in the order the channel holds them; the comment is the text's place
// in the language file.
struct Language {
  char newuser[500];                // 1: greeting of new and unregistered stations
  char regularuser[500];            // 2: greeting of registered stations
  char xpertuser[80];               // 3: greeting of experts and sysops
  char notfound[80];                // 10
  char nousage[80];                 // 11: heads the connected-stations list ($M)
  char bye[80];                     // 4
  char sysoppage[80];               // 5
  char sysopnotavailable[80];       // 6
  char sysopanswer[80];             // 7
  char sysopnotanswer[80];          // 8
  char timeout[80];                 // 9
  char notenoughparameters[80];     // 12
  char invalidcommand[80];          // 13
  char invalidparameters[80];       // 14
  char thereisfile[80];             // 15
  char filenotfound[80];            // 16
  char nofilesfound[80];            // 17
  char subject[50];                 // 18
  char ihavethisbid[80];            // 19
  char notallowedbids[80];          // 20
  char aborted[50];                 // 21
  char direxists[80];               // 22
  char sendfile[80];                // 23
  char filestored[80];              // 24
  char notauthorized[80];           // 25
  char notauthortokill[80];         // 26
  char msgserased[80];              // 27
  char notauthortoread[80];         // 28
  char cannotusechannel[80];        // 29
  char cannottalktoyourself[80];    // 30
  char usemhomebbs[80];             // 31
  char invalidbbscall[80];          // 32
  char youhavebeenregistered[80];   // 33
  char changetoexpert[80];          // 34
  char changetonormal[80];          // 35
  char youhavemail[80];             // 36
  char hasbeenerased[60];           // 37
  char channeltimeout[50];          // not in the file: always empty
  char backinbbs[80];               // 38
  char nohelpfor[80];               // 39
  char noinfos[80];                 // 40
  char psetypen[80];                // 41
  char ifnobbsfield[80];            // 42
  char pseusem[80];                 // 43
  char invalidbidlength[80];        // 44
  char entertext[80];               // 45
  char finishwith[80];              // 46
  char rcvfileyapp[80];             // 47
  char sendfileyapp[80];            // 48
  char filesavailable[80];          // 49
  char hasbeenstored[60];           // 50
  char msgheld[80];                 // 51
  char notenteredname[80];          // 52
  char notenteredzip[80];           // 53
  char notenteredhome[80];          // 54
  char availablelanguages[80];      // 55
  char languagechange[80];          // 56
  char pagemsg[80];                 // 57
  char msgheader[81];               // 58: column titles of listings
};

constexpr int kLanguageTexts = 58;

// A text of the file by its place (1 to 58) and its field; lets callers walk
// the texts in file order.
struct LanguageText {
  const char* name;  // the field's name
  size_t offset;     // offsetof(Language, field)
  size_t size;       // sizeof the field
};
// The 58 texts in file order.
const LanguageText* LanguageFileOrder();
inline char* LanguageField(Language& lang, const LanguageText& t) {
  return reinterpret_cast<char*>(&lang) + t.offset;
}
inline const char* LanguageField(const Language& lang, const LanguageText& t) {
  return reinterpret_cast<const char*>(&lang) + t.offset;
}

// What became of a load. The two failures leave the texts as they were; the
// caller disconnects the station and shows LanguageFailureText() in the
// channel window.
enum class LanguageLoad { kLoaded, kNoFile, kEmptyFile };
// "Station has no language set..\r" or "Station has no language text..\r";
// empty for kLoaded.
const char* LanguageFailureText(LanguageLoad result);

// The language file of a station's `Language` field, in the BBS directory,
// matched without regard to case: "english.lng" when the field is empty or
// begins with "?". Empty when the name cannot be a file of the BBS directory
// (it holds a path separator or is "." or ".."): such a language is missing.
std::string LanguageFileName(const std::string& bbsDir, const std::string& language);

// Fills `lang` from the station's language file. `ansiToOem` is given when
// the OEMANSI switch is on: each line is then converted as it is read. A file
// that ends before its 58th text leaves the remaining texts empty.
LanguageLoad LoadLanguage(const std::string& bbsDir, const std::string& language,
                          const CodePages* ansiToOem, Language* lang);
// The same from a path (empty path: kNoFile).
LanguageLoad LoadLanguageFile(const std::string& path, const CodePages* ansiToOem, Language* lang);

// The help file for H: "<language>.gen" in a restricted session whatever the
// topic, else "<language>.<topic>", or the language name alone when there is
// no topic; in the help directory, matched without regard to case. Empty when
// the language or topic would leave the help directory.
std::string HelpFileName(const std::string& helpDir, const std::string& language, const std::string& topic,
                         bool restricted);
// The information file for I: "<language>.i" in the BBS directory; empty
// like HelpFileName.
std::string InfoFileName(const std::string& bbsDir, const std::string& language);

// The line readers the loader is made of, on a file opened in binary mode.
// Text mode is done here: CR LF reads as LF, and a Ctrl-Z ends the file, as
// editors of the sysop's system leave it.
//
// readln: one line, its LF turned into a CR, cut to `size` - 1 bytes (the CR
// kept); false at the end of the file when nothing was read.
bool readln(std::FILE* f, char* buf, size_t size, const CodePages* ansiToOem);
// readhello: the lines up to the next line beginning with "-" (dropped), or
// up to the end of the file.
void readhello(std::FILE* f, char* buf, size_t size, const CodePages* ansiToOem);
// readonly: the next line that does not begin with ";"; empty at the end of
// the file.
void readonly(std::FILE* f, char* buf, size_t size, const CodePages* ansiToOem);
// The file's size in bytes; the read position is kept. -1 on failure.
long filesize(std::FILE* f);

}  // namespace orn
