#include "context/language.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "platform/file_names.h"
#include "platform/text.h"

namespace orn {

namespace {

// The file-order table reaches the fields by their offsets.
static_assert(std::is_standard_layout_v<Language>);

#define ORN_TEXT(field) {#field, offsetof(Language, field), sizeof(Language::field)}
const LanguageText kFileOrder[kLanguageTexts] = {
    // The eight blocks.
    ORN_TEXT(newuser), ORN_TEXT(regularuser), ORN_TEXT(xpertuser), ORN_TEXT(bye), ORN_TEXT(sysoppage),
    ORN_TEXT(sysopnotavailable), ORN_TEXT(sysopanswer), ORN_TEXT(sysopnotanswer),
    // The single lines.
    ORN_TEXT(timeout), ORN_TEXT(notfound), ORN_TEXT(nousage), ORN_TEXT(notenoughparameters),
    ORN_TEXT(invalidcommand), ORN_TEXT(invalidparameters), ORN_TEXT(thereisfile), ORN_TEXT(filenotfound),
    ORN_TEXT(nofilesfound), ORN_TEXT(subject), ORN_TEXT(ihavethisbid), ORN_TEXT(notallowedbids),
    ORN_TEXT(aborted), ORN_TEXT(direxists), ORN_TEXT(sendfile), ORN_TEXT(filestored), ORN_TEXT(notauthorized),
    ORN_TEXT(notauthortokill), ORN_TEXT(msgserased), ORN_TEXT(notauthortoread), ORN_TEXT(cannotusechannel),
    ORN_TEXT(cannottalktoyourself), ORN_TEXT(usemhomebbs), ORN_TEXT(invalidbbscall),
    ORN_TEXT(youhavebeenregistered), ORN_TEXT(changetoexpert), ORN_TEXT(changetonormal),
    ORN_TEXT(youhavemail), ORN_TEXT(hasbeenerased), ORN_TEXT(backinbbs), ORN_TEXT(nohelpfor),
    ORN_TEXT(noinfos), ORN_TEXT(psetypen), ORN_TEXT(ifnobbsfield), ORN_TEXT(pseusem),
    ORN_TEXT(invalidbidlength), ORN_TEXT(entertext), ORN_TEXT(finishwith), ORN_TEXT(rcvfileyapp),
    ORN_TEXT(sendfileyapp), ORN_TEXT(filesavailable), ORN_TEXT(hasbeenstored), ORN_TEXT(msgheld),
    ORN_TEXT(notenteredname), ORN_TEXT(notenteredzip), ORN_TEXT(notenteredhome),
    ORN_TEXT(availablelanguages), ORN_TEXT(languagechange), ORN_TEXT(pagemsg), ORN_TEXT(msgheader),
};
#undef ORN_TEXT
constexpr int kBlocks = 8;

constexpr int kCtrlZ = 0x1A;

// A line of a block is never kept longer than the largest block.
constexpr size_t kBlockLineSize = sizeof(Language::newuser);

// Cuts a text to what a field of `size` bytes holds; a text that ended a line
// keeps its CR, so that replies still end where the decoder expects.
void FitField(std::string* text, size_t size) {
  if (size == 0) {
    text->clear();
    return;
  }
  if (text->size() < size) return;
  const bool cr = !text->empty() && text->back() == '\r';
  text->resize(size - 1);
  if (cr && size >= 2) text->back() = '\r';
}

void Store(std::string text, char* buf, size_t size) {
  if (size == 0) return;
  FitField(&text, size);
  std::memcpy(buf, text.data(), text.size());
  buf[text.size()] = '\0';
}

// Whether `name` stays a plain file name inside its directory.
bool PlainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of("/\\") == std::string::npos;
}

// The language of a station whose field says none is English.
std::string LanguageName(const std::string& language) {
  if (language.empty() || language[0] == '?') return "english";
  return language;
}

}  // namespace

const LanguageText* LanguageFileOrder() { return kFileOrder; }

const char* LanguageFailureText(LanguageLoad result) {
  switch (result) {
    case LanguageLoad::kNoFile:
      return "Station has no language set..\r";
    case LanguageLoad::kEmptyFile:
      return "Station has no language text..\r";
    case LanguageLoad::kLoaded:
      break;
  }
  return "";
}

std::string LanguageFileName(const std::string& bbsDir, const std::string& language) {
  const std::string name = LanguageName(language) + ".lng";
  if (!PlainName(LanguageName(language))) return "";
  return ResolveCase(JoinPath(bbsDir, name));
}

std::string HelpFileName(const std::string& helpDir, const std::string& language, const std::string& topic,
                         bool restricted) {
  const std::string lang = LanguageName(language);
  std::string name = lang;
  if (restricted)
    name += ".gen";
  else if (!topic.empty())
    name += "." + topic;
  if (!PlainName(lang) || !PlainName(name)) return "";
  return ResolveCase(JoinPath(helpDir, name));
}

std::string InfoFileName(const std::string& bbsDir, const std::string& language) {
  const std::string lang = LanguageName(language);
  if (!PlainName(lang)) return "";
  return ResolveCase(JoinPath(bbsDir, lang + ".i"));
}

bool readln(std::FILE* f, char* buf, size_t size, const CodePages* ansiToOem) {
  std::string line;
  bool any = false, lf = false;
  for (;;) {
    int c = std::fgetc(f);
    if (c == EOF) break;
    if (c == kCtrlZ) {
      // Nothing after it is text; later reads must see the end too.
      std::fseek(f, 0, SEEK_END);
      break;
    }
    any = true;
    if (c == '\n') {
      lf = true;
      break;
    }
    if (c == '\r') {
      const int next = std::fgetc(f);
      if (next == '\n') {
        lf = true;
        break;
      }
      if (next != EOF) std::ungetc(next, f);
    }
    // The rest of an over-long line is read and dropped.
    if (line.size() < size) line += static_cast<char>(c);
  }
  if (lf) line += '\r';
  FitField(&line, size);
  if (ansiToOem) line = ansiToOem->AnsiToOem(line);
  Store(line, buf, size);
  return any;
}

void readhello(std::FILE* f, char* buf, size_t size, const CodePages* ansiToOem) {
  std::string text;
  char line[kBlockLineSize];
  while (readln(f, line, sizeof line, ansiToOem)) {
    if (line[0] == '-') break;
    // A block that outgrows its field is still read up to its "-" line.
    if (text.size() < size) text += line;
  }
  Store(text, buf, size);
}

void readonly(std::FILE* f, char* buf, size_t size, const CodePages* ansiToOem) {
  while (readln(f, buf, size, ansiToOem)) {
    if (buf[0] != ';') return;
  }
  if (size > 0) buf[0] = '\0';
}

long filesize(std::FILE* f) {
  const long here = std::ftell(f);
  if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(f);
  std::fseek(f, here, SEEK_SET);
  return size;
}

LanguageLoad LoadLanguageFile(const std::string& path, const CodePages* ansiToOem, Language* lang) {
  if (path.empty() || !FileExists(path)) return LanguageLoad::kNoFile;
  std::FILE* f = std::fopen(ResolveCase(path).c_str(), "rb");
  if (!f) return LanguageLoad::kNoFile;
  if (filesize(f) <= 0) {
    std::fclose(f);
    return LanguageLoad::kEmptyFile;
  }
  Language loaded{};
  for (int i = 0; i < kLanguageTexts; ++i) {
    const LanguageText& t = kFileOrder[i];
    if (i < kBlocks)
      readhello(f, LanguageField(loaded, t), t.size, ansiToOem);
    else
      readonly(f, LanguageField(loaded, t), t.size, ansiToOem);
  }
  std::fclose(f);
  *lang = loaded;
  return LanguageLoad::kLoaded;
}

LanguageLoad LoadLanguage(const std::string& bbsDir, const std::string& language, const CodePages* ansiToOem,
                          Language* lang) {
  return LoadLanguageFile(LanguageFileName(bbsDir, language), ansiToOem, lang);
}

}  // namespace orn
