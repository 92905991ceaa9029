#include "admin/user_fields.h"

#include <cstdlib>
#include <functional>

#include "context/area_path.h"
#include "context/config.h"
#include "platform/text.h"

namespace orn {
namespace {

// Forwarding numbers run from 1 to 50; 0 keeps a partner out of the cycle.
constexpr long kMaxFwdQueue = 50;

enum class Kind {
  kText,       // as typed, at most width - 1 characters
  kUpperText,  // upper-cased
  kLetter,     // one of `letters`, kept as a one-letter text
  kLetterInt,  // one of `letters`, kept as the letter's code in an integer
  kLetterByte, // one of `letters`, kept as the byte itself
  kNumber,     // a whole number from min to max
  kRules,      // FwdDest: lines beginning with @, > or <
  kHours,      // four digits: start hour, end hour
  kSizeRule,   // "N", "<N" or ">N"
  kDigits,     // digits only
  kLanguage,   // upper-cased; a plain file name: its .lng file is in the BBS directory
  kBbsFile,    // a file below the BBS directory, named relative to it
};

struct Field {
  Field(std::string n, Kind k) : name(std::move(n)), kind(k) {}
  std::string name;
  Kind kind;
  size_t width = 0;            // texts: the field's size in the record
  const char* letters = "";    // letter kinds
  long min = 0, max = 0;       // numbers
  std::function<char*(UserDB&)> text;
  std::function<int32_t*(UserDB&)> number;
  std::function<char*(UserDB&)> byte;
};

template <size_t N>
Field Text(const std::string& name, Kind kind, char (UserDB::*member)[N]) {
  Field f(name, kind);
  f.width = N;
  f.text = [member](UserDB& u) { return u.*member; };
  return f;
}

Field Letter(const std::string& name, const char* letters, char (UserDB::*member)[2]) {
  Field f = Text(name, Kind::kLetter, member);
  f.letters = letters;
  return f;
}

Field Number(const std::string& name, long min, long max, int32_t UserDB::*member) {
  Field f(name, Kind::kNumber);
  f.min = min;
  f.max = max;
  f.number = [member](UserDB& u) { return &(u.*member); };
  return f;
}

template <size_t N>
Field Entry(int i, const char* part, Kind kind, char (Howtoconnect::*member)[N], const char* letters = "") {
  Field f("Hcon[" + std::to_string(i) + "]." + part, kind);
  f.width = N;
  f.letters = letters;
  f.text = [i, member](UserDB& u) { return u.Hcon[i].*member; };
  return f;
}

std::vector<Field> MakeTable() {
  std::vector<Field> t;
  t.push_back(Text("Name", Kind::kText, &UserDB::Name));
  t.push_back(Letter("Type", "URSBXLEK", &UserDB::Type));
  t.push_back(Text("ZipCode", Kind::kText, &UserDB::ZipCode));
  t.push_back(Text("HomeBbs", Kind::kUpperText, &UserDB::HomeBbs));
  t.push_back(Text("HierAddress", Kind::kUpperText, &UserDB::HierAddress));
  t.push_back(Text("Language", Kind::kLanguage, &UserDB::Language));
  // The ranges of the desktop's spin boxes.
  t.push_back(Number("MaxStayMinutes", 0, 100000, &UserDB::MaxStayMinutes));
  t.push_back(Number("MaxDownload", 0, 10000000, &UserDB::MaxDownload));
  t.push_back(Letter("isFwdStation", "YN", &UserDB::isFwdStation));
  t.push_back(Text("Country", Kind::kText, &UserDB::Country));
  t.push_back(Letter("OkWithBids", "YN", &UserDB::OkWithBids));
  t.push_back(Text("HowtoConnect", Kind::kText, &UserDB::HowtoConnect));
  for (int i = 0; i < kHowtoconnectCount; ++i) {
    t.push_back(Entry(i, "hours", Kind::kHours, &Howtoconnect::hours));
    t.push_back(Entry(i, "mlength", Kind::kSizeRule, &Howtoconnect::mlength));
    t.push_back(Entry(i, "daysago", Kind::kDigits, &Howtoconnect::daysago));
    Field port = Entry(i, "port", Kind::kNumber, &Howtoconnect::port);
    port.min = 1;
    port.max = kMaxPorts;
    t.push_back(port);
    t.push_back(Entry(i, "send", Kind::kText, &Howtoconnect::send));
    t.push_back(Entry(i, "rcv", Kind::kText, &Howtoconnect::rcv));
    t.push_back(Entry(i, "fwdkind", Kind::kLetter, &Howtoconnect::fwdkind, "NFRE"));
    t.push_back(Entry(i, "expfile", Kind::kBbsFile, &Howtoconnect::expfile));
    Field flag("Hcon[" + std::to_string(i) + "].flag", Kind::kLetterByte);
    flag.letters = "NC";
    flag.byte = [i](UserDB& u) { return &u.Hcon[i].flag; };
    t.push_back(flag);
  }
  t.push_back(Text("FwdDest", Kind::kRules, &UserDB::FwdDest));
  t.push_back(Number("FwdQueue", 0, kMaxFwdQueue, &UserDB::FwdQueue));
  t.push_back(Text("Favourites", Kind::kText, &UserDB::Favourites));
  Field kind("FwdKind", Kind::kLetterInt);
  kind.letters = "DEFC";
  kind.number = [](UserDB& u) { return &u.FwdKind; };
  t.push_back(kind);
  t.push_back(Text("Password", Kind::kText, &UserDB::Password));
  t.push_back(Number("PasswordOk", 0, 1, &UserDB::PasswordOk));
  return t;
}

const std::vector<Field>& Table() {
  static const std::vector<Field> table = MakeTable();
  return table;
}

const Field* Find(const std::string& name) {
  for (const Field& f : Table())
    if (EqualNoCase(f.name, name)) return &f;
  return nullptr;
}

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Parses a whole decimal number, refusing anything else.
bool WholeNumber(const std::string& s, long* n) {
  const std::string t = s.size() > 1 && s[0] == '-' ? s.substr(1) : s;
  if (!AllDigits(t) || t.size() > 9) return false;
  *n = std::atol(s.c_str());
  return true;
}

std::string OneOf(const char* letters) {
  std::string s;
  for (const char* p = letters; *p; ++p) {
    if (!s.empty()) s += ", ";
    s += *p;
  }
  return s;
}

// The rules as stored: each line ended by CR LF.
bool Rules(const std::string& value, std::string* stored, std::string* bad) {
  std::string v;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == 'n') {
      v += '\n';
      ++i;
    } else if (value[i] != '\r') {
      v += value[i];
    }
  }
  stored->clear();
  size_t start = 0;
  while (start <= v.size()) {
    size_t end = v.find('\n', start);
    if (end == std::string::npos) end = v.size();
    const std::string line = v.substr(start, end - start);
    if (!line.empty()) {
      // A line of another kind would be ignored by the routing without a word.
      if (line[0] != '@' && line[0] != '>' && line[0] != '<') {
        *bad = line;
        return false;
      }
      *stored += line + "\r\n";
    }
    start = end + 1;
  }
  return true;
}

}  // namespace

const std::vector<std::string>& UserFieldNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (const Field& f : Table()) n.push_back(f.name);
    return n;
  }();
  return names;
}

std::string UserFieldName(const std::string& typed) {
  const Field* f = Find(typed);
  return f ? f->name : std::string();
}

bool UserFieldIsNumber(const std::string& name) {
  const Field* f = Find(name);
  return f && f->kind == Kind::kNumber && f->number;
}

std::string GetUserField(const UserDB& record, const std::string& name) {
  const Field* f = Find(name);
  if (!f) return {};
  // The accessors are shared with the writer; reading goes through a copy.
  UserDB& u = const_cast<UserDB&>(record);
  if (f->byte) {
    const char c = *f->byte(u);
    return c ? std::string(1, c) : std::string();
  }
  if (f->kind == Kind::kLetterInt) {
    const int32_t v = *f->number(u);
    return v > 0 && v < 256 ? std::string(1, static_cast<char>(v)) : std::to_string(v);
  }
  if (f->number) return std::to_string(*f->number(u));
  return FieldText(f->text(u), f->width);
}

std::string SetUserField(UserDB& u, const std::string& name, const std::string& typed) {
  const Field* f = Find(name);
  if (!f) return name + ": no such field";
  const std::string& n = f->name;
  std::string value = typed;
  const size_t room = f->width ? f->width - 1 : 0;
  auto tooLong = [&] { return n + ": at most " + std::to_string(room) + " characters"; };
  // A connect entry not in use is empty: any of its fields may be cleared.
  if (n.compare(0, 5, "Hcon[") == 0 && Trim(value).empty()) {
    if (f->byte) {
      *f->byte(u) = '\0';
    } else {
      CopyField(f->text(u), f->width, "");
    }
    return {};
  }
  switch (f->kind) {
    case Kind::kText:
    case Kind::kUpperText:
      if (f->kind == Kind::kUpperText) value = UpperAscii(value);
      if (value.find_first_of("\r\n") != std::string::npos) return n + ": one line only";
      if (value.size() > room) return tooLong();
      CopyField(f->text(u), f->width, value);
      return {};
    case Kind::kLetter:
    case Kind::kLetterInt:
    case Kind::kLetterByte: {
      value = UpperAscii(Trim(value));
      if (value.size() != 1 || std::string(f->letters).find(value[0]) == std::string::npos)
        return n + ": one of " + OneOf(f->letters);
      if (f->kind == Kind::kLetter) CopyField(f->text(u), f->width, value);
      if (f->kind == Kind::kLetterInt) *f->number(u) = static_cast<unsigned char>(value[0]);
      if (f->kind == Kind::kLetterByte) *f->byte(u) = value[0];
      return {};
    }
    case Kind::kNumber: {
      long v = 0;
      if (!WholeNumber(Trim(value), &v) || v < f->min || v > f->max)
        return n + ": a number from " + std::to_string(f->min) + " to " + std::to_string(f->max);
      if (f->number) {
        *f->number(u) = static_cast<int32_t>(v);
      } else {
        CopyField(f->text(u), f->width, std::to_string(v));
      }
      return {};
    }
    case Kind::kRules: {
      std::string stored, bad;
      if (!Rules(value, &stored, &bad)) return n + ": a rule begins with @, > or <: \"" + bad + "\"";
      if (stored.size() > room) return tooLong();
      CopyField(f->text(u), f->width, stored);
      return {};
    }
    case Kind::kHours: {
      value = Trim(value);
      if (value.size() != 4 || !AllDigits(value) || std::atoi(value.substr(0, 2).c_str()) > 23 ||
          std::atoi(value.substr(2).c_str()) > 23)
        return n + ": four digits, start hour and end hour (00 to 23), e.g. 0023";
      CopyField(f->text(u), f->width, value);
      return {};
    }
    case Kind::kSizeRule: {
      value = Trim(value);
      const std::string digits = !value.empty() && (value[0] == '<' || value[0] == '>') ? value.substr(1) : value;
      if (!AllDigits(digits)) return n + ": N, <N or >N (kilobytes), e.g. <100";
      if (value.size() > room) return tooLong();
      CopyField(f->text(u), f->width, value);
      return {};
    }
    case Kind::kDigits:
      value = Trim(value);
      if (!AllDigits(value)) return n + ": a number of days (digits)";
      if (value.size() > room) return tooLong();
      CopyField(f->text(u), f->width, value);
      return {};
    // The two fields the BBS later opens files by: what they name stays in
    // the BBS directory whoever set them.
    case Kind::kLanguage:
      value = UpperAscii(Trim(value));
      if (!value.empty() && (value.find_first_of("/\\") != std::string::npos || AreaRelative(value).empty()))
        return n + ": a language's name, its file NAME.lng in the BBS directory (no path), e.g. ENGLISH";
      if (value.size() > room) return tooLong();
      CopyField(f->text(u), f->width, value);
      return {};
    case Kind::kBbsFile:
      value = Trim(value);
      if (AreaRelative(value).empty())
        return n + ": a file in the BBS directory, named from there (no leading /, no ..), e.g. EXPORT.TXT";
      if (value.size() > room) return tooLong();
      CopyField(f->text(u), f->width, value);
      return {};
  }
  return n + ": cannot be set";
}

}  // namespace orn
