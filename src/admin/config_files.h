// The file rules of the sysop's configuration pages: language files, help
// files and the mail-server list.
#pragma once

#include <string>
#include <vector>

namespace orn {

enum class NewLanguageResult { kMade, kExists, kNoDefault, kFailed };

// A new language "<name>.lng" (name cut to 8 characters) as a copy of
// english.lng in the BBS directory.
NewLanguageResult NewLanguage(const std::string& bbsDir, const std::string& name);
// Keeps a copy "<name>.kil", then removes "<name>.lng".
bool DeleteLanguage(const std::string& bbsDir, const std::string& name);
// The language names of the BBS directory (the .lng files), upper-cased.
std::vector<std::string> Languages(const std::string& bbsDir);

// The help topics of a language: one file per extension.
const std::vector<std::string>& HelpExtensions();
// Creates the empty help files of a new help language (name cut to 8
// characters) that do not exist yet; existing ones are kept.
bool NewHelpLanguage(const std::string& helpDir, const std::string& name);

// The mail servers of servers.inf, one name per line.
std::vector<std::string> ReadServers(const std::string& bbsDir);
bool WriteServers(const std::string& bbsDir, const std::vector<std::string>& servers);

// A name the sysop typed is a plain file name: no path, not "." or "..".
bool PlainFileName(const std::string& name);

}  // namespace orn
