// The command table: the commands of a station's own account and session (A,
// B, F, G, H, I, J, M, N, T, V, X) are here; the message commands (K, L, R,
// S) have their own files. The file and forwarding commands answer
// `invalidcommand` until they exist.
#include "bbs/commands.h"

#include <cstdio>
#include <cstring>

#include "channel/channel.h"
#include "bbs/file_area.h"
#include "bbs/kill_commands.h"
#include "bbs/list_read_commands.h"
#include "bbs/msg_entry.h"
#include "bbs/prepare_dir.h"
#include "context/prompts.h"
#include "bbs/yapp_commands.h"
#include "fwd/fwd_session.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/callsign.h"
#include "store/store.h"

namespace orn {
namespace {

// What follows the command letter(s): leading blanks removed, the CR dropped.
std::string Param(const char* line, size_t letters) {
  std::string p = line + std::min(letters, std::strlen(line));
  p = p.substr(p.find_first_not_of(' ') == std::string::npos ? p.size() : p.find_first_not_of(' '));
  if (!p.empty()) p.pop_back();
  return p;
}

template <size_t N>
void DropFinalCr(char (&text)[N]) {
  const size_t n = std::strlen(text);
  if (n && text[n - 1] == '\r') text[n - 1] = '\0';
}

// The language name the station's files are named after.
std::string LanguageName(const TChannel& ch) {
  const std::string name = ch.tdb ? FieldText(ch.tdb->userdb.Language) : std::string();
  return name.empty() || name[0] == '?' ? "ENGLISH" : name;
}

// A text file as the station reads it: line ends as the air has them (CR),
// no NULs, and nothing after an end-of-file mark.
std::string FileForStation(const std::string& path) {
  std::string raw;
  if (!ReadWholeFile(path, &raw)) return {};
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '\x1A') break;
    if (c == '\0') continue;
    if (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    out += c == '\n' ? '\r' : c;
  }
  return out;
}

void Written(TChannel& ch, const std::string& reply) { ch.EndService(ch.WriteUser() ? reply : "Error.."); }

void ChooseLanguage(TChannel& ch, const char* line) {
  const Config& cfg = ch.client().cfg();
  if (line[1] == '\r' || line[1] == '\0') {
    ch.EndService(ch.lang.notenoughparameters);
  } else if (line[1] == '?') {
    std::string list = PrepareDir("\r", cfg.bbspath, "*.lng", kListCompact, "", ch.lang.nofilesfound);
    list[0] = ' ';
    ch.EndService(ch.lang.availablelanguages + list.substr(list.find_first_not_of(' ')));
  } else if (line[1] == ' ') {
    const std::string name = Param(line, 1);
    const std::string file = name.empty() ? "" : LanguageFileName(cfg.bbspath, name);
    if (file.empty() || !FileExists(file)) {
      ch.EndService(ch.lang.notfound);
      return;
    }
    CopyField(ch.tdb->userdb.Language, name);
    const bool written = ch.WriteUser();
    if (!ch.LoadLanguage()) return;  // the station has been let go
    DropFinalCr(ch.lang.languagechange);
    ch.EndService(written ? std::string(ch.lang.languagechange) + " " + name + "\r" : "Error..");
  } else {
    ch.EndService(ch.lang.invalidparameters);
  }
}

void Help(TChannel& ch, const char* line) {
  const Config& cfg = ch.client().cfg();
  const bool restricted = std::strcmp(ch.prompt, kRestrictedPrompt) == 0;
  const std::string file =
      HelpFileName(JoinPath(cfg.bbspath, cfg.HelpPath), LanguageName(ch), Param(line, 1), restricted);
  if (file.empty() || !FileExists(file)) {
    ch.EndService(ch.lang.nohelpfor);
    return;
  }
  ch.Send(ch.client().codePages().AnsiToOem(FileForStation(file)));
  ch.EndService("\r");
}

void Info(TChannel& ch) {
  const std::string file = InfoFileName(ch.client().cfg().bbspath, LanguageName(ch));
  if (file.empty() || !FileExists(file)) {
    ch.EndService(ch.lang.noinfos);
    return;
  }
  ch.Send(FileForStation(file));
  ch.EndService("\r");
}

void HomeBbs(TChannel& ch, const char* line) {
  const std::string text = Param(line, 1);
  if (text.empty()) {
    ch.EndService(ch.lang.notenoughparameters);
    return;
  }
  if (text.size() > 39) {
    ch.EndService(ch.lang.invalidparameters);
    return;
  }
  const std::string call = text.substr(0, text.find('.'));
  if (!CallIsValid(call)) {
    ch.EndService(ch.lang.invalidbbscall);
    return;
  }
  DropFinalCr(ch.lang.ifnobbsfield);
  // A private look at the user file, so that the station's own record stays
  // as it is loaded.
  std::string home = text;
  if (Store* store = ch.client().store) {
    std::unique_ptr<TOrnDbase> db = store->OpenDbase();
    if (db->FindUser(call) != 0) home = call + "." + FieldText(db->userdb.HierAddress);
    db->CloseAll();
  }
  CopyField(ch.tdb->userdb.HomeBbs, home);
  Written(ch, std::string(ch.lang.ifnobbsfield) + " " + home + "\r");
}

void NameOrZip(TChannel& ch, const char* line) {
  UserDB& user = ch.tdb->userdb;
  // "NZ" is the postal code only as a word of its own: "N Zack" and "NZack"
  // are names.
  const bool zipCommand = (line[1] == 'Z' || line[1] == 'z') && (line[2] == ' ' || line[2] == '\r' || !line[2]);
  const std::string text = Param(line, zipCommand ? 2 : 1);
  if (text.empty()) {
    ch.EndService(ch.lang.notenoughparameters);
    return;
  }
  if (zipCommand) {
    const std::string& zip = text;
    if (zip.size() > 5) {
      ch.EndService(ch.lang.invalidparameters);
      return;
    }
    CopyField(user.ZipCode, zip);
    Written(ch, "Tnx, zip -> " + zip + ".\r");
    return;
  }
  if (text.size() > 14) {
    ch.EndService(ch.lang.invalidparameters);
    return;
  }
  const Config& cfg = ch.client().cfg();
  CopyField(user.Name, cfg.OEMANSI ? ch.client().codePages().OemToAnsi(text) : text);
  CopyField(user.Type, "R");
  ch.view().SetLabel("Name:", ch.client().codePages().AnsiToUtf8(FieldText(user.Name)));
  const bool written = ch.WriteUser();
  ch.client().mainView().RefreshUserList(ch.tdb->upos);
  ch.EndService(written ? "Tnx, " + text + ".\r" + ch.lang.youhavebeenregistered : "Error..");
}

void Talk(TChannel& ch) {
  MDIClient& client = ch.client();
  client.log().writelog(64, client.link().PortShown(ch.TncPortNumber), ch.UserCallOnly, "");
  if (!client.cfg().sysopisin) {
    wildcards(ch.Tokens(), ch.lang.sysopnotavailable, sizeof ch.lang.sysopnotavailable);
    ch.EndService(ch.lang.sysopnotavailable);
    return;
  }
  if (!client.SysopPageSnd.empty()) client.mainView().PlaySound(client.SysopPageSnd);
  client.PageSysop(ch);
  wildcards(ch.Tokens(), ch.lang.sysoppage, sizeof ch.lang.sysoppage);
  ch.EndService(ch.lang.sysoppage);
}

void Expert(TChannel& ch) {
  UserDB& user = ch.tdb->userdb;
  const char type = user.Type[0];
  if (type == 'S' || type == 'B') {
    ch.EndService("?????? Sysop....");
    return;
  }
  const bool toNormal = type == 'X';
  CopyField(ch.prompt, toNormal ? kFullPrompt : kExpertPrompt);
  CopyField(user.Type, toNormal ? "R" : "X");
  const bool written = ch.WriteUser();
  ch.client().mainView().RefreshUserList(ch.tdb->upos);
  ch.EndService(written ? (toNormal ? ch.lang.changetonormal : ch.lang.changetoexpert) : "Error..");
}

}  // namespace

void RunCommand(TChannel& ch, const char* line) {
  // Without its records a session has no account to work on.
  if (!ch.tdb) {
    ch.EndService(ch.lang.invalidcommand);
    return;
  }
  switch (line[0]) {
    case 'A':
      ch.EndService(ch.lang.aborted);
      return;
    case 'B':
      wildcards(ch.Tokens(), ch.lang.bye, sizeof ch.lang.bye);
      ch.EndService(ch.lang.bye);
      ch.Disconnect();
      return;
    case 'D':
      DownloadCommand(ch, line);
      return;
    case 'U':
      UploadCommand(ch, line);
      return;
    case 'W':
      WhatFilesCommand(ch, line);
      return;
    case 'Z': {
      const Config& cfg = ch.client().cfg();
      EraseCommand(ch, JoinPath(cfg.bbspath, cfg.FilePath), line, 1);
      return;
    }
    case 'F': {
      const std::string hier = Param(line, 1);
      if (hier.size() > 39) {
        ch.EndService(ch.lang.invalidparameters);
        return;
      }
      CopyField(ch.tdb->userdb.HierAddress, hier);
      Written(ch, "Hierarchical Address -> " + hier + ".\r");
      return;
    }
    case 'G':
      ch.Service = 1000;
      ChooseLanguage(ch, line);
      return;
    case 'H':
      Help(ch, line);
      return;
    case 'I':
      Info(ch);
      return;
    case 'J':
      ch.Service = 1000;
      ch.EndService("\r");
      return;
    case 'K':
      KillCommand(ch, line);
      return;
    case 'L':
      ListCommand(ch, line);
      return;
    case 'M':
      ch.Service = 1000;
      HomeBbs(ch, line);
      return;
    case 'N':
      ch.Service = 1000;
      NameOrZip(ch, line);
      return;
    case 'R':
      ReadCommand(ch, line);
      return;
    case 'S':
      SendCommand(ch, line);
      return;
    case 'T':
      ch.Service = 1000;
      Talk(ch);
      return;
    case 'V':
      ch.EndService(ch.Expand("XX9ORN Multiuser-port-lingual, windows (32bit) BBS\r"
                              "v7.10 for Linux\r"
                              "$A:active msgs.\r"));
      return;
    case 'X':
      ch.Service = 1000;
      Expert(ch);
      return;
    case '[':
      SidCommand(ch, line);
      return;
    case 'Y':
      YappCommand(ch, line);
      return;
    default:
      ch.EndService(ch.lang.invalidcommand);
      return;
  }
}

}  // namespace orn
