// A small JSON value, reader and writer for the sysop's control requests and
// their answers. Objects keep their keys in the order they were set, so an
// answer reads in the order its fields were written. Numbers are whole
// (every number the BBS exchanges is a record field or a counter).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace orn {

class Json {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

  Json() = default;
  Json(std::nullptr_t) {}
  Json(bool b) : kind_(Kind::kBool), bool_(b) {}
  Json(int n) : kind_(Kind::kNumber), number_(n) {}
  Json(long n) : kind_(Kind::kNumber), number_(n) {}
  Json(long long n) : kind_(Kind::kNumber), number_(n) {}
  Json(const char* s) : kind_(Kind::kString), string_(s) {}
  Json(std::string s) : kind_(Kind::kString), string_(std::move(s)) {}
  static Json Array() { Json j; j.kind_ = Kind::kArray; return j; }
  static Json Object() { Json j; j.kind_ = Kind::kObject; return j; }

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::kNull; }
  bool IsString() const { return kind_ == Kind::kString; }
  bool IsArray() const { return kind_ == Kind::kArray; }
  bool IsObject() const { return kind_ == Kind::kObject; }
  bool IsBool() const { return kind_ == Kind::kBool; }
  bool IsNumber() const { return kind_ == Kind::kNumber; }

  bool AsBool() const { return bool_; }
  long long AsNumber() const { return number_; }
  const std::string& AsString() const { return string_; }
  const std::vector<Json>& items() const { return items_; }
  const std::vector<std::pair<std::string, Json>>& members() const { return members_; }

  // Arrays.
  Json& Push(Json v);
  // Objects: sets (or replaces) a member and returns the object.
  Json& Set(const std::string& key, Json v);
  // The member's value; null when there is none.
  const Json& Get(const std::string& key) const;

  // Compact, on one line: strings escaped so that no control character and
  // no line end appears in the text.
  std::string Write() const;

 private:
  Kind kind_ = Kind::kNull;
  bool bool_ = false;
  long long number_ = 0;
  std::string string_;
  std::vector<Json> items_;
  std::vector<std::pair<std::string, Json>> members_;
};

// Parses one JSON document (whitespace around it allowed). False with a
// short reason in `error` on anything else: bad syntax, trailing text, a
// fraction or exponent, nesting deeper than 32, invalid UTF-8 escapes.
bool ParseJson(const std::string& text, Json* out, std::string* error);

}  // namespace orn
