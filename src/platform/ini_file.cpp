#include "platform/ini_file.h"

#include <fstream>
#include <sstream>

#include "platform/file_names.h"
#include "platform/text.h"

namespace orn {
namespace {

struct Line {
  std::string text;  // without its line end
};

struct Parsed {
  std::vector<std::string> lines;
  std::string eol = "\n";
  bool finalEol = true;
};

Parsed Load(const std::string& path) {
  Parsed p;
  std::ifstream in(ResolveCase(path), std::ios::binary);
  if (!in) return p;
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string all = ss.str();
  if (all.find("\r\n") != std::string::npos) p.eol = "\r\n";
  size_t start = 0;
  while (start < all.size()) {
    size_t nl = all.find('\n', start);
    std::string line = all.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    p.lines.push_back(line);
    if (nl == std::string::npos) {
      p.finalEol = false;
      break;
    }
    start = nl + 1;
  }
  return p;
}

// "[NAME]" with optional blanks; returns the name, or nothing.
bool SectionName(const std::string& line, std::string* name) {
  std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  size_t close = t.find(']');
  if (close == std::string::npos) return false;
  *name = Trim(t.substr(1, close - 1));
  return true;
}

bool KeyValue(const std::string& line, std::string* key, std::string* value) {
  std::string t = Trim(line);
  if (t.empty() || t[0] == ';') return false;
  size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  *key = Trim(t.substr(0, eq));
  *value = Trim(t.substr(eq + 1));
  return true;
}

// Finds the value of section/key; false when missing.
bool Find(const Parsed& p, const std::string& section, const std::string& key, std::string* value) {
  bool inSection = false;
  for (const auto& line : p.lines) {
    std::string name, k, v;
    if (SectionName(line, &name)) {
      inSection = EqualNoCase(name, section);
    } else if (inSection && KeyValue(line, &k, &v) && EqualNoCase(k, key)) {
      *value = v;
      return true;
    }
  }
  return false;
}

}  // namespace

long ProfileNumber(const std::string& text) {
  long n = 0;
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (n > 100000000L) break;  // keep absurd values bounded instead of overflowing
    n = n * 10 + (text[i] - '0');
  }
  return n;
}

std::string IniFile::GetString(const std::string& section, const std::string& key,
                               const std::string& def, size_t size) const {
  std::string v;
  if (!Find(Load(path_), section, key, &v)) v = def;
  if (size > 0 && v.size() > size - 1) v.resize(size - 1);
  return v;
}

long IniFile::GetInt(const std::string& section, const std::string& key, long def) const {
  std::string v;
  if (!Find(Load(path_), section, key, &v) || v.empty()) return def;
  return ProfileNumber(v);
}

std::vector<std::pair<std::string, std::string>> IniFile::Section(const std::string& section) const {
  std::vector<std::pair<std::string, std::string>> out;
  bool inSection = false;
  for (const auto& line : Load(path_).lines) {
    std::string name, k, v;
    if (SectionName(line, &name)) {
      inSection = EqualNoCase(name, section);
    } else if (inSection && KeyValue(line, &k, &v)) {
      out.emplace_back(k, v);
    }
  }
  return out;
}

bool IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  Parsed p = Load(path_);
  const std::string entry = key + "=" + value;
  bool inSection = false;
  long sectionEnd = -1;  // index after the last key line of the section
  bool done = false;
  for (size_t i = 0; i < p.lines.size() && !done; ++i) {
    std::string name, k, v;
    if (SectionName(p.lines[i], &name)) {
      if (inSection) break;  // the section ended without the key
      inSection = EqualNoCase(name, section);
      if (inSection) sectionEnd = static_cast<long>(i) + 1;
    } else if (inSection) {
      if (KeyValue(p.lines[i], &k, &v) && EqualNoCase(k, key)) {
        p.lines[i] = entry;
        done = true;
      } else if (!Trim(p.lines[i]).empty()) {
        sectionEnd = static_cast<long>(i) + 1;
      }
    }
  }
  if (!done) {
    if (sectionEnd >= 0) {
      p.lines.insert(p.lines.begin() + sectionEnd, entry);
    } else {
      if (!p.lines.empty() && !Trim(p.lines.back()).empty()) p.lines.push_back("");
      p.lines.push_back("[" + section + "]");
      p.lines.push_back(entry);
    }
    p.finalEol = true;
  }
  std::string out;
  for (size_t i = 0; i < p.lines.size(); ++i) {
    out += p.lines[i];
    if (i + 1 < p.lines.size() || p.finalEol) out += p.eol;
  }
  return WriteFileReplacing(ResolveCase(path_), out);
}

bool IniFile::WriteInt(const std::string& section, const std::string& key, long value) {
  return WriteString(section, key, std::to_string(value));
}

}  // namespace orn
