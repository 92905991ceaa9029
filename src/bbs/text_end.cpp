#include "bbs/text_end.h"

#include "store/msg_text.h"

namespace orn {

bool CutTextEnd(std::string* line) {
  const size_t ctrlz = line->find('\x1A');
  if (ctrlz != std::string::npos) {
    line->erase(ctrlz);
    return true;
  }
  std::string body = *line;
  while (!body.empty() && (body.back() == '\r' || body.back() == '\n')) body.pop_back();
  std::string kept;
  if (!EndMarkLine(body, &kept)) return false;
  *line = kept.empty() ? std::string() : kept + "\r";
  return true;
}

}  // namespace orn
