#include "platform/json.h"

#include <cstdio>

namespace orn {

Json& Json::Push(Json v) {
  items_.push_back(std::move(v));
  return *this;
}

Json& Json::Set(const std::string& key, Json v) {
  for (auto& m : members_) {
    if (m.first == key) {
      m.second = std::move(v);
      return *this;
    }
  }
  members_.emplace_back(key, std::move(v));
  return *this;
}

const Json& Json::Get(const std::string& key) const {
  static const Json kNull;
  for (const auto& m : members_)
    if (m.first == key) return m.second;
  return kNull;
}

namespace {

void WriteString(const std::string& s, std::string* out) {
  *out += '"';
  for (unsigned char c : s) {
    switch (c) {
      case '"': *out += "\\\""; break;
      case '\\': *out += "\\\\"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      case '\t': *out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          *out += buf;
        } else {
          *out += static_cast<char>(c);
        }
    }
  }
  *out += '"';
}

void WriteValue(const Json& v, std::string* out) {
  switch (v.kind()) {
    case Json::Kind::kNull: *out += "null"; break;
    case Json::Kind::kBool: *out += v.AsBool() ? "true" : "false"; break;
    case Json::Kind::kNumber: *out += std::to_string(v.AsNumber()); break;
    case Json::Kind::kString: WriteString(v.AsString(), out); break;
    case Json::Kind::kArray: {
      *out += '[';
      bool first = true;
      for (const Json& i : v.items()) {
        if (!first) *out += ',';
        first = false;
        WriteValue(i, out);
      }
      *out += ']';
      break;
    }
    case Json::Kind::kObject: {
      *out += '{';
      bool first = true;
      for (const auto& [k, m] : v.members()) {
        if (!first) *out += ',';
        first = false;
        WriteString(k, out);
        *out += ':';
        WriteValue(m, out);
      }
      *out += '}';
      break;
    }
  }
}

class Reader {
 public:
  explicit Reader(const std::string& t) : t_(t) {}

  bool Document(Json* out) {
    if (!Value(out, 0)) return false;
    Space();
    if (p_ != t_.size()) return Fail("text after the document");
    return true;
  }
  std::string error;

 private:
  bool Fail(const char* why) {
    if (error.empty()) error = std::string(why) + " at offset " + std::to_string(p_);
    return false;
  }
  void Space() {
    while (p_ < t_.size() && (t_[p_] == ' ' || t_[p_] == '\t' || t_[p_] == '\r' || t_[p_] == '\n')) ++p_;
  }
  bool Word(const char* w) {
    const std::string s(w);
    if (t_.compare(p_, s.size(), s) != 0) return Fail("unknown word");
    p_ += s.size();
    return true;
  }
  bool Value(Json* out, int depth) {
    if (depth > 32) return Fail("nested too deeply");
    Space();
    if (p_ >= t_.size()) return Fail("unexpected end");
    const char c = t_[p_];
    if (c == '{') return Object(out, depth);
    if (c == '[') return Array(out, depth);
    if (c == '"') {
      std::string s;
      if (!String(&s)) return false;
      *out = Json(std::move(s));
      return true;
    }
    if (c == 't') return Word("true") && (*out = Json(true), true);
    if (c == 'f') return Word("false") && (*out = Json(false), true);
    if (c == 'n') return Word("null") && (*out = Json(), true);
    if (c == '-' || (c >= '0' && c <= '9')) return Number(out);
    return Fail("unexpected character");
  }
  bool Number(Json* out) {
    bool neg = false;
    if (t_[p_] == '-') {
      neg = true;
      ++p_;
    }
    if (p_ >= t_.size() || t_[p_] < '0' || t_[p_] > '9') return Fail("bad number");
    long long n = 0;
    int digits = 0;
    while (p_ < t_.size() && t_[p_] >= '0' && t_[p_] <= '9') {
      if (++digits > 18) return Fail("number too long");
      n = n * 10 + (t_[p_++] - '0');
    }
    if (p_ < t_.size() && (t_[p_] == '.' || t_[p_] == 'e' || t_[p_] == 'E')) return Fail("not a whole number");
    *out = Json(neg ? -n : n);
    return true;
  }
  bool Hex4(unsigned* v) {
    if (p_ + 4 > t_.size()) return Fail("bad escape");
    *v = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = t_[p_++];
      *v <<= 4;
      if (c >= '0' && c <= '9') *v |= c - '0';
      else if (c >= 'a' && c <= 'f') *v |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') *v |= c - 'A' + 10;
      else return Fail("bad escape");
    }
    return true;
  }
  static void Utf8(unsigned cp, std::string* s) {
    if (cp < 0x80) {
      *s += static_cast<char>(cp);
    } else if (cp < 0x800) {
      *s += static_cast<char>(0xC0 | (cp >> 6));
      *s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      *s += static_cast<char>(0xE0 | (cp >> 12));
      *s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      *s += static_cast<char>(0xF0 | (cp >> 18));
      *s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      *s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *s += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  bool String(std::string* s) {
    ++p_;  // the quote
    while (true) {
      if (p_ >= t_.size()) return Fail("unterminated string");
      const unsigned char c = static_cast<unsigned char>(t_[p_++]);
      if (c == '"') return true;
      if (c < 0x20) return Fail("control character in a string");
      if (c != '\\') {
        *s += static_cast<char>(c);
        continue;
      }
      if (p_ >= t_.size()) return Fail("unterminated string");
      const char e = t_[p_++];
      switch (e) {
        case '"': *s += '"'; break;
        case '\\': *s += '\\'; break;
        case '/': *s += '/'; break;
        case 'b': *s += '\b'; break;
        case 'f': *s += '\f'; break;
        case 'n': *s += '\n'; break;
        case 'r': *s += '\r'; break;
        case 't': *s += '\t'; break;
        case 'u': {
          unsigned cp = 0;
          if (!Hex4(&cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00) {
            unsigned lo = 0;
            if (t_.compare(p_, 2, "\\u") != 0) return Fail("lone surrogate");
            p_ += 2;
            if (!Hex4(&lo) || lo < 0xDC00 || lo > 0xDFFF) return Fail("lone surrogate");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          } else if (cp >= 0xDC00 && cp < 0xE000) {
            return Fail("lone surrogate");
          }
          Utf8(cp, s);
          break;
        }
        default: return Fail("bad escape");
      }
    }
  }
  bool Array(Json* out, int depth) {
    ++p_;
    *out = Json::Array();
    Space();
    if (p_ < t_.size() && t_[p_] == ']') {
      ++p_;
      return true;
    }
    while (true) {
      Json v;
      if (!Value(&v, depth + 1)) return false;
      out->Push(std::move(v));
      Space();
      if (p_ >= t_.size()) return Fail("unterminated array");
      const char c = t_[p_++];
      if (c == ']') return true;
      if (c != ',') return Fail("expected , or ]");
    }
  }
  bool Object(Json* out, int depth) {
    ++p_;
    *out = Json::Object();
    Space();
    if (p_ < t_.size() && t_[p_] == '}') {
      ++p_;
      return true;
    }
    while (true) {
      Space();
      if (p_ >= t_.size() || t_[p_] != '"') return Fail("expected a key");
      std::string key;
      if (!String(&key)) return false;
      Space();
      if (p_ >= t_.size() || t_[p_++] != ':') return Fail("expected :");
      Json v;
      if (!Value(&v, depth + 1)) return false;
      out->Set(key, std::move(v));
      Space();
      if (p_ >= t_.size()) return Fail("unterminated object");
      const char c = t_[p_++];
      if (c == '}') return true;
      if (c != ',') return Fail("expected , or }");
    }
  }

  const std::string& t_;
  size_t p_ = 0;
};

}  // namespace

std::string Json::Write() const {
  std::string out;
  WriteValue(*this, &out);
  return out;
}

bool ParseJson(const std::string& text, Json* out, std::string* error) {
  Reader r(text);
  Json v;
  if (!r.Document(&v)) {
    if (error) *error = r.error;
    return false;
  }
  *out = std::move(v);
  return true;
}

}  // namespace orn
