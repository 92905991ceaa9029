// An /api/ call turned into ornctl's words: the path's parts, then the
// values that name what the command works on ("call", "number",
// "channel": positional, as ornctl takes them), the body's "args", the
// other query and body keys as options ("--key value", or "--key" alone for
// true), and "--json". The body's "input" is the command's standard input.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/json.h"

namespace orn {

struct ApiCall {
  std::vector<std::string> args;
  std::string input;
};

// `parts` are the path's segments after /api/ (decoded), `query` the query's
// pairs (decoded), `body` the parsed body (null when there was none). False
// with the reason for a call that cannot be put into words.
bool MapApiCall(const std::vector<std::string>& parts, const std::vector<std::pair<std::string, std::string>>& query,
                const Json& body, ApiCall* call, std::string* error);

}  // namespace orn
