#include "web/api_args.h"

#include <algorithm>

namespace orn {
namespace {

const char* const kPositional[] = {"call", "number", "channel"};

bool IsPositional(const std::string& key) {
  return std::any_of(std::begin(kPositional), std::end(kPositional), [&](const char* k) { return key == k; });
}

// Lower-case words with dashes: nothing that could pass for another
// option or a value.
bool GoodKey(const std::string& k) {
  if (k.empty() || k.size() > 32 || k[0] < 'a' || k[0] > 'z') return false;
  return std::all_of(k.begin(), k.end(), [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; });
}

bool HasControl(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// A body value as a word: strings and whole numbers; true stands for a flag.
bool Word(const Json& v, std::string* out, bool* flag) {
  *flag = false;
  if (v.IsString()) {
    *out = v.AsString();
  } else if (v.IsNumber()) {
    *out = std::to_string(v.AsNumber());
  } else if (v.IsBool()) {
    *flag = true;
    *out = v.AsBool() ? "1" : "";
  } else {
    return false;
  }
  return true;
}

}  // namespace

bool MapApiCall(const std::vector<std::string>& parts, const std::vector<std::pair<std::string, std::string>>& query,
                const Json& body, ApiCall* call, std::string* error) {
  call->args.clear();
  call->input.clear();
  if (parts.empty()) {
    *error = "no command";
    return false;
  }
  for (const std::string& p : parts) {
    if (p.empty() || p.rfind("--", 0) == 0 || HasControl(p)) {
      *error = "not a command word: " + p;
      return false;
    }
    call->args.push_back(p);
  }
  if (!body.IsNull() && !body.IsObject()) {
    *error = "the body is a JSON object";
    return false;
  }
  // Every named value, query first, as (key, word, is-flag).
  struct Named {
    std::string key, word;
    bool flag;
  };
  std::vector<Named> named;
  for (const auto& [k, v] : query) {
    // In a query a flag is written "desc=true" or "desc" alone; "=false" leaves it out.
    const bool flag = v.empty() || v == "true" || v == "false";
    named.push_back({k, flag ? (v == "false" ? "" : "1") : v, flag});
  }
  std::vector<std::string> bodyArgs;
  for (const auto& [k, v] : body.members()) {
    if (k == "input") {
      if (!v.IsString()) {
        *error = "\"input\" is a string";
        return false;
      }
      call->input = v.AsString();
      continue;
    }
    if (k == "args") {
      if (!v.IsArray()) {
        *error = "\"args\" is an array of strings";
        return false;
      }
      for (const Json& a : v.items()) {
        if (!a.IsString()) {
          *error = "\"args\" is an array of strings";
          return false;
        }
        bodyArgs.push_back(a.AsString());
      }
      continue;
    }
    Named n{k, "", false};
    if (!Word(v, &n.word, &n.flag)) {
      *error = "\"" + k + "\" is a string, a number or true/false";
      return false;
    }
    named.push_back(n);
  }
  for (const Named& n : named) {
    if (n.key == "json") continue;
    if (!GoodKey(n.key)) {
      *error = "not a parameter name: " + n.key;
      return false;
    }
  }
  for (const Named& n : named)
    if (IsPositional(n.key)) {
      if (n.flag || n.word.empty() || n.word.rfind("--", 0) == 0) {
        *error = n.key + " needs a value";
        return false;
      }
      call->args.push_back(n.word);
    }
  for (const std::string& a : bodyArgs) call->args.push_back(a);
  for (const Named& n : named) {
    if (n.key == "json" || IsPositional(n.key)) continue;
    if (n.flag) {
      if (!n.word.empty()) call->args.push_back("--" + n.key);
      continue;
    }
    call->args.push_back("--" + n.key);
    call->args.push_back(n.word);
  }
  call->args.push_back("--json");
  return true;
}

}  // namespace orn
