#include "admin/config_files.h"

#include "platform/file_names.h"
#include "platform/text.h"

namespace orn {

bool PlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
}

NewLanguageResult NewLanguage(const std::string& bbsDir, const std::string& typed) {
  const std::string name = Trim(typed).substr(0, 8);
  if (!PlainFileName(name)) return NewLanguageResult::kFailed;
  if (FileExists(JoinPath(bbsDir, name + ".lng"))) return NewLanguageResult::kExists;
  std::string english;
  const std::string def = ResolveCase(JoinPath(bbsDir, "english.lng"));
  if (!FileExists(def)) return NewLanguageResult::kNoDefault;
  if (!ReadWholeFile(def, &english) || !WriteFileReplacing(JoinPath(bbsDir, name + ".lng"), english))
    return NewLanguageResult::kFailed;
  return NewLanguageResult::kMade;
}

bool DeleteLanguage(const std::string& bbsDir, const std::string& name) {
  if (!PlainFileName(name)) return false;
  const std::string file = ResolveCase(JoinPath(bbsDir, name + ".lng"));
  std::string text;
  if (!ReadWholeFile(file, &text) || !WriteFileReplacing(JoinPath(bbsDir, name + ".kil"), text)) return false;
  return std::remove(file.c_str()) == 0;
}

std::vector<std::string> Languages(const std::string& bbsDir) {
  std::vector<std::string> names;
  for (const std::string& entry : ListDir(ResolveCase(bbsDir))) {
    if (entry.size() > 4 && EqualNoCase(entry.substr(entry.size() - 4), ".lng"))
      names.push_back(UpperAscii(entry.substr(0, entry.size() - 4)));
  }
  return names;
}

const std::vector<std::string>& HelpExtensions() {
  static const std::vector<std::string> kExtensions = {"a", "b", "c", "d", "g", "h", "i", "j", "k", "l", "m", "n",
                                                       "r", "s", "t", "u", "v", "w", "x", "y", "z", "e", "gen"};
  return kExtensions;
}

bool NewHelpLanguage(const std::string& helpDir, const std::string& typed) {
  const std::string name = Trim(typed).substr(0, 8);
  if (!PlainFileName(name)) return false;
  bool ok = true;
  for (const std::string& ext : HelpExtensions()) {
    const std::string file = JoinPath(helpDir, name + "." + ext);
    if (!FileExists(file)) ok &= WriteFileReplacing(file, "");
  }
  return ok;
}

std::vector<std::string> ReadServers(const std::string& bbsDir) {
  std::string text;
  std::vector<std::string> servers;
  if (!ReadWholeFile(ResolveCase(JoinPath(bbsDir, "servers.inf")), &text)) return servers;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(at, end - at));
    if (!line.empty()) servers.push_back(line);
    at = end + 1;
  }
  return servers;
}

bool WriteServers(const std::string& bbsDir, const std::vector<std::string>& servers) {
  std::string text;
  for (const std::string& s : servers) text += UpperAscii(Trim(s)) + "\r\n";
  const std::string existing = ResolveCase(JoinPath(bbsDir, "servers.inf"));
  return WriteFileReplacing(FileExists(existing) ? existing : JoinPath(bbsDir, "servers.inf"), text);
}

}  // namespace orn
