#include "bbs/text_end.h"

#include "platform/text.h"

namespace orn {

bool CutTextEnd(std::string* line) {
  const size_t ctrlz = line->find('\x1A');
  if (ctrlz != std::string::npos) {
    line->erase(ctrlz);
    return true;
  }
  std::string body = *line;
  while (!body.empty() && (body.back() == '\r' || body.back() == '\n' || body.back() == ' ' || body.back() == '\t'))
    body.pop_back();
  if (body.size() < 3 || UpperAscii(body.substr(body.size() - 3)) != "/EX") return false;
  body.erase(body.size() - 3);
  while (!body.empty() && (body.back() == ' ' || body.back() == '\t')) body.pop_back();
  *line = body.empty() ? std::string() : body + "\r";
  return true;
}

}  // namespace orn
