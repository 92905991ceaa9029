#include "bbs/default_texts.h"

#include <string_view>

#include "platform/file_names.h"

namespace orn {

namespace {
constexpr std::string_view kEnglish = "lang/english.lng";
}  // namespace

int InstallDefaultTexts(const std::string& bbsDir, const std::string& helpDir) {
  if (FileExists(JoinPath(bbsDir, "english.lng"))) return 0;
  int written = 0;
  // english.lng goes last: a start-up cut short before it tries again.
  for (int pass = 0; pass < 2; ++pass) {
    for (const ShippedFile& f : ShippedFiles()) {
      const std::string_view name(f.name);
      if ((name == kEnglish) != (pass == 1)) continue;
      std::string path;
      if (name.starts_with("lang/"))
        path = JoinPath(bbsDir, std::string(name.substr(5)));
      else if (name.starts_with("help/"))
        path = JoinPath(helpDir, std::string(name.substr(5)));
      else
        continue;
      // Any spelling of the name is the sysop's file.
      if (FileExists(path)) continue;
      const std::string content(reinterpret_cast<const char*>(f.data), f.size);
      if (WriteFileReplacing(path, content)) ++written;
    }
  }
  return written;
}

}  // namespace orn
