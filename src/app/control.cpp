#include "app/control.h"
#include "app/control_pages.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <sstream>
#include <thread>

#include "admin/msg_admin.h"
#include "admin/msg_exchange.h"
#include "admin/user_admin.h"
#include "admin/user_fields.h"
#include "app/user_follows.h"
#include "channel/channel.h"
#include "platform/file_names.h"
#include "platform/json.h"
#include "platform/text.h"
#include "store/callsign.h"
#include "store/msg_text.h"
#include "store/record_check.h"
#include "yapp/yapp_xfer.h"

namespace orn {

const char* const kControlSocketName = "ornbbs.sock";

namespace {

const char* const kUsage =
    "commands: status | user list|show|add|kill|password|set | msg list|read|kill|hold|release|send|export|import"
    " | msg reply|choices | fwd queue|now | optimize now|progress | monitor | sysop on|off | page [decline CHANNEL]"
    " | talk CHANNEL|list";

ControlAnswer Usage(const std::string& why) { return ControlAnswer::Of(2, "", why + " (" + kUsage + ")"); }
ControlAnswer Refused(const std::string& why) { return ControlAnswer::Of(1, "", why); }
ControlAnswer Done(std::string out) { return ControlAnswer::Of(0, std::move(out), ""); }

// The options a command may take; the others are positional.
struct Args {
  std::vector<std::string> pos;
  std::map<std::string, std::string> opt;
  bool json = false;
  std::string bad;
};

// Options that stand alone.
bool IsFlag(const std::string& s) {
  static const char* const kFlags[] = {"--partners", "--raw", "--desc", "--mine"};
  return std::any_of(std::begin(kFlags), std::end(kFlags), [&](const char* f) { return s == f; });
}

Args ParseArgs(const std::vector<std::string>& in) {
  static const char* const kValued[] = {"--from",   "--to",    "--type",  "--status", "--subject", "--bid",
                                        "--offset", "--limit", "--sort",  "--at",     "--msgno"};
  Args a;
  for (size_t i = 0; i < in.size(); ++i) {
    const std::string& s = in[i];
    if (s == "--json") {
      a.json = true;
    } else if (IsFlag(s)) {
      a.opt.insert_or_assign(s, std::string(1, '1'));
    } else if (s.size() > 2 && s.compare(0, 2, "--") == 0) {
      const bool valued = std::any_of(std::begin(kValued), std::end(kValued), [&](const char* v) { return s == v; });
      if (!valued) {
        a.bad = "unknown option " + s;
      } else if (i + 1 >= in.size()) {
        a.bad = s + " needs a value";
      } else {
        a.opt[s] = in[++i];
      }
    } else {
      a.pos.push_back(s);
    }
  }
  return a;
}

// Line ends and tabs of a text stay; a field shows them too.
std::string Visible(const std::string& s, bool text) { return ShowControls(s, text); }

// Columns padded to their widest cell; the last one is not padded.
std::string Aligned(std::vector<std::vector<std::string>> rows) {
  for (auto& r : rows)
    for (std::string& cell : r) cell = Visible(cell, false);
  std::vector<size_t> width;
  for (const auto& r : rows)
    for (size_t c = 0; c < r.size(); ++c) {
      if (width.size() <= c) width.push_back(0);
      width[c] = std::max(width[c], r[c].size());
    }
  std::string out;
  for (const auto& r : rows) {
    std::string line;
    for (size_t c = 0; c < r.size(); ++c) {
      line += r[c];
      if (c + 1 < r.size()) line += std::string(width[c] - r[c].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  return out;
}

std::string JsonOut(const Json& j) { return j.Write() + "\n"; }

// A callsign as the user file keys it: upper case, no SSID.
std::string UserKey(const std::string& typed) { return UpperAscii(Trim(typed.substr(0, typed.find('-')))); }

bool ParseNumber(const std::string& s, long* n) {
  if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos) return false;
  *n = std::atol(s.c_str());
  return *n > 0;
}

// The header fields go into partners' protocol lines as they are: a line end
// would cut such a line in two, and a space a callsign or a BID.
bool OneLine(const std::string& s) { return s.find_first_of("\r\n") == std::string::npos; }
bool OneWord(const std::string& s) {
  return std::none_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7F; });
}
// Why a subject cannot be stored, or "".
std::string BadSubject(const std::string& subject) {
  if (!OneLine(subject)) return "--subject: one line only";
  if (subject.empty() || subject.size() >= sizeof MsgDB{}.MsgSubject) return "--subject: 1 to 254 characters";
  return {};
}

std::string Stamp(const std::tm& t) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                t.tm_min);
  return buf;
}

// The first minute from now on (to the next 40 days) whose local time
// matches; empty when none does.
std::string NextMinute(const Clock& clock, const std::function<bool(const std::tm&)>& match) {
  int64_t t = clock.Now() - clock.Now() % 60 + 60;
  for (int i = 0; i < 40 * 24 * 60; ++i, t += 60) {
    const std::tm tm = clock.Local(t);
    if (match(tm)) return Stamp(tm);
  }
  return {};
}

// Numbers as runs: "1001-1200 1202".
std::string Runs(const std::vector<long>& numbers) {
  std::string out;
  for (size_t i = 0; i < numbers.size();) {
    size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
    if (!out.empty()) out += ' ';
    out += std::to_string(numbers[i]);
    if (j > i) {
      out += '-';
      out += std::to_string(numbers[j]);
    }
    i = j + 1;
  }
  return out;
}

// "msg import": the file is read and stored in steps, the stations served
// between them. The repair has the record files to itself: while it runs,
// the import waits.
class ImportRequest : public ControlJob {
 public:
  ImportRequest(const ControlSite& site, const MsgAdminContext& ctx, const std::string& path, bool json)
      : s_(site), job_(ctx, path, ctx.stationCodePage), json_(json) {}

  bool Step(int budgetMs) override {
    if (job_.finished()) return true;
    if (s_.optimizer && s_.optimizer->iact) return false;
    // Opened for each step: the repair may have replaced the files between.
    auto db = s_.store->OpenDbase();
    const size_t before = job_.result().stored.size();
    const bool done = job_.Step(*db, budgetMs);
    if (job_.result().stored.size() != before) s_.client->mainView().RefreshMsgList(0);
    return done;
  }

  std::string Progress() const override {
    if (s_.optimizer && s_.optimizer->iact) return "waiting for the database repair to end";
    return job_.Progress();
  }

  ControlAnswer Answer() override {
    const ImportResult& r = job_.result();
    const std::string counts = "imported " + std::to_string(r.stored.size()) +
                               (r.stored.empty() ? "" : ": " + Runs(r.stored)) + ", already here " +
                               std::to_string(r.known) + ", skipped " + std::to_string(r.skipped) +
                               (r.skipped ? " (no addressee, destination or sender)" : "");
    if (!job_.finished())
      return Refused("the BBS stopped during the import; " + counts + " so far: import the file again for the rest");
    if (!r.error.empty()) {
      // A damaged file stores nothing; a failed store stops the import with
      // what it had stored so far.
      if (!r.storeFailed) return Refused(r.error);
      return Refused(r.error + "; " + counts + " before it, of " + std::to_string(r.blocks) +
                     " messages: import the file again once the fault is mended");
    }
    if (r.stored.empty() && r.known == 0)
      return Refused("nothing imported: each of the " + std::to_string(r.skipped) +
                     " messages lacks an addressee, a destination or a sender");
    if (json_) {
      Json nums = Json::Array();
      for (long n : r.stored) nums.Push(n);
      return Done(JsonOut(Json::Object().Set("stored", nums).Set("known", r.known).Set("skipped", r.skipped)));
    }
    return Done(counts + "\n");
  }

 private:
  ControlSite s_;
  ImportJob job_;
  bool json_;
};

class Request {
 public:
  Request(const ControlSite& site, const Args& args, const std::string& input, std::weak_ptr<ControlJob>* import)
      : s_(site), a_(args), input_(input), cp_(site.client->codePages()), import_(import) {}

  ControlAnswer Run();

 private:
  std::string U(const std::string& ansi) const { return cp_.AnsiToUtf8(ansi); }
  std::string A(const std::string& utf8) const { return cp_.Utf8ToAnsi(utf8); }
  std::unique_ptr<TOrnDbase> Db() const { return s_.store->OpenDbase(); }
  const std::string& P(size_t i) const {
    static const std::string kNone;
    return i < a_.pos.size() ? a_.pos[i] : kNone;
  }
  MsgAdminContext MsgContext() const;
  // The in-memory copies of the record (a station on the air, the routing
  // table, the sysop's list) follow the change.
  void Follows(long position, const std::string& call, const UserChanges& changes) {
    UserRecordFollows(*s_.client, s_.partners, position, call, changes);
  }

  ControlAnswer Status();
  ControlAnswer User();
  ControlAnswer UserList();
  ControlAnswer UserShow(const std::string& call);
  ControlAnswer Msg();
  ControlAnswer MsgList();
  ControlAnswer MsgRead(long number);
  ControlAnswer MsgStatus(long number, const char* status);
  ControlAnswer MsgSend();
  ControlAnswer MsgReply(long number);
  ControlAnswer MsgChoices();
  // Stores a message from the sysop: `m` has its addressee, subject, type
  // and BID; the text is the request's input.
  ControlAnswer StoreFromSysop(MsgDB& m);
  ControlAnswer OptimizeProgress();
  ControlAnswer Fwd();
  Json MsgJson(const MsgDB& m) const;

  const ControlSite& s_;
  const Args& a_;
  const std::string& input_;
  const CodePages& cp_;
  std::weak_ptr<ControlJob>* import_;
};

MsgAdminContext Request::MsgContext() const {
  MsgAdminContext ctx;
  ctx.store = s_.store;
  ctx.clock = s_.clock;
  ctx.ownCall = s_.cfg->MyCallOut;
  ctx.stationCodePage = s_.cfg->OEMANSI ? &s_.client->codePages() : nullptr;
  FwdPartners* partners = s_.partners;
  ctx.RemFwd = [partners](long n) {
    if (partners) partners->RemFwd(n);
  };
  MDIClient* client = s_.client;
  ctx.Route = [client](const MsgDB& m) {
    if (client && client->routeStoredMsg) client->routeStoredMsg(MsgOrigin{}, m);
  };
  const std::string header = s_.cfg->FWDMSGHEADER;
  ctx.routingHeader = [client, header] {
    TChannel* monitor = client->channel(0);
    return monitor ? monitor->Expand(header) : std::string();
  };
  return ctx;
}

ControlAnswer Request::Run() {
  const std::string cmd = P(0);
  if (cmd == "status") return a_.pos.size() == 1 ? Status() : Usage("status takes no arguments");
  if (cmd == "user") return User();
  if (cmd == "msg") return Msg();
  if (cmd == "fwd") return Fwd();
  if (cmd == "optimize") {
    if (P(1) == "progress" && a_.pos.size() == 2) return OptimizeProgress();
    if (P(1) != "now" || a_.pos.size() != 2) return Usage("optimize now | optimize progress");
    if (!s_.running || !s_.optimizer) return Refused("the BBS is not running: the repair runs inside it");
    if (s_.optimizer->iact) return Refused("a repair is already running");
    s_.optimizer->StartOptimize(true);
    return Done("repair started\n");
  }
  if (cmd == "monitor") {
    if (!s_.running) return Refused("the BBS is not running: there is no monitor");
    ControlAnswer a = Done("");
    a.stream = true;
    return a;
  }
  if (cmd == "sysop") return SysopRequest(s_, a_.pos, a_.json);
  if (cmd == "page") return PageRequest(s_, a_.pos, a_.json);
  if (cmd == "talk") return TalkRequest(s_, a_.pos, a_.json);
  if (cmd.empty()) return Usage("no command");
  return Usage("unknown command " + cmd);
}

// ---- status ----

const char* ChannelState(const TChannel& ch) {
  if (ch.terminal) return "terminal";
  if (ch.Service == kServiceYappReceive || ch.Service == kServiceYappSend) return "yapp";
  if (ch.fwdoperation || ch.Service == 9) return "forwarding";
  if (ch.connectpend && !ch.connected) return "connecting";
  if (ch.connected) return "station";
  return "idle";
}

std::string PortsText(const Config& cfg) {
  std::string out;
  for (int p = 0; p < cfg.maxport && p < kMaxPorts; ++p) {
    const Auxes& a = cfg.Ports[p];
    if (!out.empty()) out += ", ";
    out += std::to_string(p + 1) + ": " + (a.enabled ? std::to_string(a.maxchannels) + " channels" : "off") +
           (a.enabled && !a.conok ? ", no connects" : "");
  }
  return out;
}

ControlAnswer Request::Status() {
  const Config& cfg = *s_.cfg;
  MDIClient& client = *s_.client;
  const bool engine = s_.running && client.link().IsOpen();
  Json j = Json::Object();
  j.Set("call", cfg.MyCall);
  j.Set("running", s_.running);
  j.Set("status", s_.running ? client.status() : std::string("stopped"));
  j.Set("engine", Json::Object().Set("connected", engine).Set("host", cfg.EngineHost).Set("port", cfg.EnginePort));

  Json ports = Json::Array();
  for (int p = 0; p < cfg.maxport && p < kMaxPorts; ++p) {
    const Auxes& a = cfg.Ports[p];
    ports.Push(Json::Object()
                   .Set("port", p + 1)
                   .Set("portno", a.portno)
                   .Set("enabled", a.enabled != 0)
                   .Set("conok", a.conok != 0)
                   .Set("maxchannels", a.maxchannels));
  }
  j.Set("ports", ports);

  Json channels = Json::Array();
  std::vector<std::vector<std::string>> chanRows{{"PORT", "CH", "CALL", "STATE"}};
  if (s_.running) {
    for (int i = 1; i < client.numberchildren; ++i) {
      const TChannel& ch = *client.channel(i);
      const bool busy = ch.connected || ch.connectpend || ch.fwdoperation;
      const std::string call = busy ? std::string(ch.UserCall) : std::string();
      const char* state = ChannelState(ch);
      channels.Push(Json::Object()
                        .Set("port", ch.TncNumber)
                        .Set("channel", ch.ChannelNumber)
                        .Set("call", call.empty() ? Json() : Json(call))
                        .Set("state", state));
      chanRows.push_back({std::to_string(ch.TncNumber), std::to_string(ch.ChannelNumber), call.empty() ? "-" : call,
                          state});
    }
  } else {
    for (int p = 0; p < cfg.maxport && p < kMaxPorts; ++p) {
      if (!cfg.Ports[p].enabled) continue;
      for (int c = 1; c <= cfg.Ports[p].maxchannels; ++c) {
        channels.Push(
            Json::Object().Set("port", p + 1).Set("channel", c).Set("call", Json()).Set("state", "idle"));
        chanRows.push_back({std::to_string(p + 1), std::to_string(c), "-", "idle"});
      }
    }
  }
  j.Set("channels", channels);

  const MsgCounters& n = s_.store->counters;
  j.Set("counters", Json::Object()
                        .Set("lastmsg", n.lastmsg)
                        .Set("activemsg", n.activemsg)
                        .Set("totalmsg", n.totalmsg)
                        .Set("heldmsg", n.heldmsg));
  Json beacon = Json::Array();
  std::string beaconText;
  if (UpdatemsgBeacon* list = s_.store->MsgBeacon()) {
    std::istringstream calls(list->FormatMailBeacon());
    for (std::string c; calls >> c;) {
      beacon.Push(c);
      beaconText += (beaconText.empty() ? "" : " ") + c;
    }
  }
  j.Set("mailbeacon", beacon);

  const Clock& clock = *s_.clock;
  std::string nextFwd, nextRepair;
  if (cfg.FwdOk) nextFwd = NextMinute(clock, [&](const std::tm& t) { return t.tm_min == cfg.FwdMin; });
  if (cfg.optimizationok && cfg.optd > 0)
    nextRepair = NextMinute(clock, [&](const std::tm& t) {
      return t.tm_mday == cfg.optd && t.tm_hour == cfg.opth && t.tm_min == cfg.optm;
    });
  const bool cycle = s_.partners && s_.partners->started();
  const bool repairing = s_.optimizer && s_.optimizer->iact;
  j.Set("fwd", Json::Object()
                   .Set("FwdOk", cfg.FwdOk)
                   .Set("running", cycle)
                   .Set("next", nextFwd.empty() ? Json() : Json(nextFwd)));
  j.Set("repair", Json::Object()
                      .Set("running", repairing)
                      .Set("next", nextRepair.empty() ? Json() : Json(nextRepair)));
  if (a_.json) return Done(JsonOut(j));

  std::string out = Aligned({
      {"call", cfg.MyCall},
      {"running", s_.running ? "yes (" + client.status() + ")" : "no"},
      {"engine", std::string(engine ? "connected" : "not connected") + " (" + cfg.EngineHost + ":" +
                     std::to_string(cfg.EnginePort) + ")"},
      {"ports", PortsText(cfg)},
      {"messages", "last " + std::to_string(n.lastmsg) + ", active " + std::to_string(n.activemsg) + ", total " +
                       std::to_string(n.totalmsg) + ", held " + std::to_string(n.heldmsg)},
      {"mail for", beaconText.empty() ? "-" : beaconText},
      {"forwarding", cycle ? "cycle running" : !cfg.FwdOk ? "off (PERSONAL FWDOK=0)" : "next cycle " + nextFwd},
      {"repair", repairing ? "running" : nextRepair.empty() ? "off" : "next " + nextRepair},
  });
  out += "\n" + Aligned(chanRows);
  return Done(out);
}

// ---- users ----

ControlAnswer Request::User() {
  const std::string sub = P(1);
  if (sub == "list") return a_.pos.size() == 2 ? UserList() : Usage("user list [--json] [--partners]");
  if (sub.empty()) return Usage("user needs a subcommand");
  if (sub != "show" && sub != "add" && sub != "kill" && sub != "password" && sub != "set")
    return Usage("unknown user command " + sub);
  if (a_.pos.size() < 3) return Usage("user " + sub + " CALL");
  const std::string call = UserKey(P(2));
  if (sub == "show") return a_.pos.size() == 3 ? UserShow(call) : Usage("user show CALL");
  if (sub == "set" && a_.pos.size() < 4) return Usage("user set CALL FIELD=VALUE...");
  if (sub != "set" && a_.pos.size() != 3) return Usage("user " + sub + " CALL");
  for (size_t i = 3; i < a_.pos.size(); ++i) {
    const size_t eq = a_.pos[i].find('=');
    if (eq == std::string::npos || eq == 0) return Usage("FIELD=VALUE expected, not " + a_.pos[i]);
  }

  auto db = Db();
  const long pos = db->FindUser(call);
  if (sub == "add") {
    if (!CallIsValid(call)) return Refused("not a callsign: " + P(2));
    if (pos) return Refused(call + " is already a user");
    const long added = db->AppendUser(call);
    if (!added) return Refused("the user file could not be written");
    Follows(0, call, {});
    return Done("added " + call + " at " + std::to_string(added) + "\n");
  }
  if (!pos) return Refused("no such user: " + call);
  if (sub == "kill") {
    if (!KillUser(*db, pos)) return Refused("the user file could not be written");
    Follows(pos, call, {{"Type", "K"}});
    return Done("killed " + call + " (the record goes at the next repair)\n");
  }
  UserDB u = db->userdb;
  if (sub == "password") {
    const std::string pw = GeneratePassword(s_.cfg->bbspath, call, static_cast<uint32_t>(s_.clock->Now()));
    if (pw.empty()) return Refused("the password file could not be written");
    CopyField(u.Password, pw);
    if (!UpdateUser(*db, pos, u)) return Refused("the user file could not be written");
    Follows(pos, call, {{"Password", pw}});
    if (a_.json) return Done(JsonOut(Json::Object().Set("Call", call).Set("Password", pw)));
    return Done(pw + "\n");
  }
  // set: every value is checked before anything is written.
  UserChanges changed;
  for (size_t i = 3; i < a_.pos.size(); ++i) {
    const std::string& item = a_.pos[i];
    const size_t eq = item.find('=');
    const std::string name = UserFieldName(item.substr(0, eq));
    if (name.empty()) return Refused("no such field: " + item.substr(0, eq));
    const std::string value = A(item.substr(eq + 1));
    const std::string why = SetUserField(u, name, value);
    if (!why.empty()) return Refused(U(why));
    changed.emplace_back(name, value);
  }
  if (!UpdateUser(*db, pos, u)) return Refused("the user file could not be written");
  Follows(pos, call, changed);
  std::string out;
  for (const auto& c : changed) out += (out.empty() ? "" : " ") + c.first;
  return Done("updated " + call + ": " + out + "\n");
}

ControlAnswer Request::UserList() {
  auto db = Db();
  const std::vector<UserRow> rows =
      a_.opt.count("--partners") ? SearchUsers(*db, UserSearch::kFwdPartners, "") : AllUsers(*db);
  Json j = Json::Array();
  std::vector<std::vector<std::string>> t{{"#", "CALL", "NAME", "TYPE", "FWD", "QUEUE"}};
  for (const UserRow& r : rows) {
    const UserDBidx& i = r.index;
    j.Push(Json::Object()
               .Set("position", r.position)
               .Set("Id", i.Id)
               .Set("Call", U(FieldText(i.Call)))
               .Set("Name", U(FieldText(i.Name)))
               .Set("Type", U(FieldText(i.Type)))
               .Set("isFwdStation", U(FieldText(i.isFwdStation)))
               .Set("FwdQueue", i.FwdQueue));
    t.push_back({std::to_string(r.position), U(FieldText(i.Call)), U(FieldText(i.Name)), U(FieldText(i.Type)),
                 U(FieldText(i.isFwdStation)), std::to_string(i.FwdQueue)});
  }
  return Done(a_.json ? JsonOut(j) : Aligned(t));
}

std::string Escaped(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
    if (s[i] == '\n') {
      out += "\\n";
    } else {
      out += s[i];
    }
  }
  return out;
}

ControlAnswer Request::UserShow(const std::string& call) {
  auto db = Db();
  const long pos = db->FindUser(call);
  if (!pos) return Refused("no such user: " + call);
  const UserDB& u = db->userdb;
  int queued = 0;
  for (const UserFwdPriv& f : u.FwdMsgNo)
    if (f.FwdMsgNumbers) ++queued;
  Json j = Json::Object();
  j.Set("position", pos).Set("Id", u.Id).Set("Call", U(FieldText(u.Call)));
  std::vector<std::vector<std::string>> t{{"position", std::to_string(pos)}, {"Call", U(FieldText(u.Call))}};
  Json hcon = Json::Array();
  std::vector<Json> entries(kHowtoconnectCount, Json::Object());
  for (const std::string& name : UserFieldNames()) {
    const std::string value = U(GetUserField(u, name));
    t.push_back({name, Escaped(value)});
    const Json v = UserFieldIsNumber(name) && name.rfind("Hcon[", 0) != 0 ? Json(std::atol(value.c_str())) : Json(value);
    if (name.rfind("Hcon[", 0) == 0) {
      const int i = name[5] - '0';
      entries[i].Set(name.substr(name.find('.') + 1), v);
    } else {
      j.Set(name, v);
    }
    if (name == "HowtoConnect") j.Set("Hcon", Json());  // its place among the keys; filled below
  }
  for (Json& e : entries) hcon.Push(std::move(e));
  j.Set("Hcon", hcon);
  j.Set("Count", u.Count).Set("LLoginD", U(FieldText(u.LLoginD))).Set("LLoginT", U(FieldText(u.LLoginT)));
  j.Set("LMsgRead", u.LMsgRead).Set("queued", queued);
  t.push_back({"Count", std::to_string(u.Count)});
  t.push_back({"last login", U(FieldText(u.LLoginD)) + " " + U(FieldText(u.LLoginT))});
  t.push_back({"LMsgRead", std::to_string(u.LMsgRead)});
  t.push_back({"queued", std::to_string(queued)});
  return Done(a_.json ? JsonOut(j) : Aligned(t));
}

// ---- messages ----

Json Request::MsgJson(const MsgDB& m) const {
  return Json::Object()
      .Set("MsgNo", m.MsgNo)
      .Set("Type", U(FieldText(m.Type)))
      .Set("Status", U(FieldText(m.Status)))
      .Set("Size", m.Size)
      .Set("ToStation", U(FieldText(m.ToStation)))
      .Set("FromStation", U(FieldText(m.FromStation)))
      .Set("AtBbs", U(FieldText(m.AtBbs)))
      .Set("MsgDate", U(FieldText(m.MsgDate)))
      .Set("MsgSubject", U(FieldText(m.MsgSubject)))
      .Set("Bid", U(FieldText(m.Bid)));
}

ControlAnswer Request::Msg() {
  const std::string sub = P(1);
  if (sub == "list") return a_.pos.size() == 2 ? MsgList() : Usage("msg list [--from C] [--to C] [--type T] [--status S]");
  if (sub == "send") return a_.pos.size() == 2 ? MsgSend() : Usage("msg send --to CALL[@BBS] --subject TEXT");
  if (sub == "choices") return a_.pos.size() == 2 ? MsgChoices() : Usage("msg choices");
  if (sub == "import") {
    if (a_.pos.size() != 3) return Usage("msg import FILE");
    if (!import_->expired()) return Refused("an import is already under way: try again once it is done");
    auto job = std::make_shared<ImportRequest>(s_, MsgContext(), P(2), a_.json);
    *import_ = job;
    ControlAnswer a;
    a.job = job;
    return a;
  }
  if (sub == "export") {
    if (a_.pos.size() < 4) return Usage("msg export FILE N...");
    std::vector<long> numbers;
    for (size_t i = 3; i < a_.pos.size(); ++i) {
      long n = 0;
      if (!ParseNumber(a_.pos[i], &n)) return Usage("not a message number: " + a_.pos[i]);
      numbers.push_back(n);
    }
    auto db = Db();
    for (long n : numbers)
      if (SearchMsgs(*db, MsgSearch::kMsgNo, std::to_string(n), "").empty())
        return Refused("no such message: " + std::to_string(n));
    const int written = ExportMsgs(*db, s_.store->site().mailDir, numbers, P(2), MsgContext().stationCodePage);
    if (written < 0) return Refused("cannot write " + P(2));
    return Done("exported " + std::to_string(written) + " to " + P(2) + "\n");
  }
  if (sub != "read" && sub != "kill" && sub != "hold" && sub != "release" && sub != "reply")
    return Usage(sub.empty() ? "msg needs a subcommand" : "unknown msg command " + sub);
  long number = 0;
  if (a_.pos.size() != 3 || !ParseNumber(P(2), &number)) return Usage("msg " + sub + " N");
  if (sub == "read") return MsgRead(number);
  if (sub == "reply") return MsgReply(number);
  if (sub == "kill") {
    auto db = Db();
    if (!KillMsg(MsgContext(), *db, number)) return Refused("no such message: " + std::to_string(number));
    s_.client->mainView().RefreshMsgList(db->mpos);
    return Done("killed " + std::to_string(number) + "\n");
  }
  return MsgStatus(number, sub == "hold" ? "H" : "N");
}

ControlAnswer Request::MsgList() {
  MsgFilter f;
  auto get = [&](const char* k) { return a_.opt.count(k) ? A(a_.opt.at(k)) : std::string(); };
  f.from = get("--from");
  f.to = get("--to");
  f.type = get("--type");
  f.status = get("--status");
  f.at = get("--at");
  if (a_.opt.count("--msgno") && (!ParseNumber(a_.opt.at("--msgno"), &f.number) || f.number <= 0))
    return Usage("--msgno is a message number");
  if (a_.opt.count("--mine")) f.mine = MsgContext().ownCall;
  // A page of the list, sorted here: a window on 100 000 messages never
  // takes them all.
  const bool paged = a_.opt.count("--offset") || a_.opt.count("--limit") || a_.opt.count("--sort") ||
                     a_.opt.count("--desc");
  long offset = 0, limit = 100;
  if (a_.opt.count("--offset") && a_.opt.at("--offset") != "0" && !ParseNumber(a_.opt.at("--offset"), &offset))
    return Usage("--offset is a number from 0");
  if (a_.opt.count("--limit") && (!ParseNumber(a_.opt.at("--limit"), &limit) || limit < 1 || limit > 1000))
    return Usage("--limit is a number from 1 to 1000");
  const std::string sort = a_.opt.count("--sort") ? a_.opt.at("--sort") : std::string();
  auto db = Db();
  MsgPage page;
  if (!paged) {
    page.rows = FilterMsgs(*db, f);
  } else if (!PageMsgs(*db, f, sort, a_.opt.count("--desc") != 0, static_cast<size_t>(offset),
                       static_cast<size_t>(limit), &page)) {
    std::string fields;
    for (const char* field : kMsgSortFields) fields += std::string(fields.empty() ? "" : ", ") + field;
    return Usage("--sort is one of " + fields);
  }
  Json j = Json::Array();
  std::vector<std::vector<std::string>> t{{"MSG#", "TS", "SIZE", "TO", "FROM", "@BBS", "DATE", "SUBJECT"}};
  const std::vector<MsgRow>& rows = page.rows;
  const size_t total = page.total;
  for (const MsgRow& r : rows) {
    const MsgDB& m = r.record;
    j.Push(MsgJson(m));
    t.push_back({std::to_string(m.MsgNo), U(FieldText(m.Type)) + U(FieldText(m.Status)), std::to_string(m.Size),
                 U(FieldText(m.ToStation)), U(FieldText(m.FromStation)), U(FieldText(m.AtBbs)),
                 U(FieldText(m.MsgDate)), U(FieldText(m.MsgSubject))});
  }
  if (paged && a_.json)
    return Done(JsonOut(Json::Object()
                            .Set("total", static_cast<long>(total))
                            .Set("offset", offset)
                            .Set("limit", limit)
                            .Set("sort", sort.empty() ? Json() : Json(sort))
                            .Set("desc", a_.opt.count("--desc") != 0)
                            .Set("messages", j)));
  if (paged) t.push_back({"(" + std::to_string(rows.size()) + " of " + std::to_string(total) + " from " +
                          std::to_string(offset + 1) + ")"});
  return Done(a_.json ? JsonOut(j) : Aligned(t));
}

ControlAnswer Request::MsgChoices() {
  // Each of the database window's searches as msg list's option.
  static const struct {
    const char* option;
    bool flag;
  } kOptions[] = {{"msgno", false}, {"type", false}, {"status", false}, {"from", false},
                  {"to", false},     {"at", false},   {"mine", true}};
  static_assert(std::size(kOptions) == std::size(kMsgSearchNames), "an option for every search of the window");
  auto letters = [](const auto& names) {
    Json values = Json::Array();
    for (const char* n : names)
      values.Push(Json::Object().Set("value", std::string(1, n[0]) == " " ? std::string() : std::string(1, n[0]))
                      .Set("label", n));
    return values;
  };
  Json searches = Json::Array();
  std::string out;
  for (size_t i = 0; i < std::size(kMsgSearchNames); ++i) {
    Json one = Json::Object().Set("label", kMsgSearchNames[i]).Set("option", kOptions[i].option);
    if (kOptions[i].flag) one.Set("flag", true);
    if (i == 1) one.Set("values", letters(kMsgTypeNames));
    if (i == 2) one.Set("values", letters(kMsgStatusNames));
    searches.Push(one);
    out += std::string(kMsgSearchNames[i]) + "  --" + kOptions[i].option + (kOptions[i].flag ? "" : " VALUE") + "\n";
  }
  Json sort = Json::Array();
  for (const char* field : kMsgSortFields) sort.Push(field);
  if (a_.json) return Done(JsonOut(Json::Object().Set("searches", searches).Set("sort", sort)));
  return Done(out);
}

ControlAnswer Request::MsgRead(long number) {
  auto db = Db();
  const std::vector<MsgRow> rows = SearchMsgs(*db, MsgSearch::kMsgNo, std::to_string(number), "");
  if (rows.empty()) return Refused("no such message: " + std::to_string(number));
  const MsgDB& m = rows[0].record;
  std::string text;
  const std::string fault = MsgTextFault(s_.store->site().mailDir, number, m.Size);
  const bool has = (fault.empty() || fault.rfind("cut short", 0) == 0) &&
                   ReadMsgText(s_.store->site().mailDir, number, &text);
  if (a_.json) {
    Json j = MsgJson(m);
    j.Set("text", has ? Json(U(text)) : Json());
    j.Set("textFault", fault.empty() ? Json() : Json(fault));
    return Done(JsonOut(j));
  }
  std::string out = Aligned({{"Msg#", std::to_string(m.MsgNo)},
                             {"Type/Status", U(FieldText(m.Type)) + "/" + U(FieldText(m.Status))},
                             {"To", U(FieldText(m.ToStation)) + (m.AtBbs[0] ? " @ " + U(FieldText(m.AtBbs)) : "")},
                             {"From", U(FieldText(m.FromStation))},
                             {"Date", U(FieldText(m.MsgDate))},
                             {"Bid", U(FieldText(m.Bid))},
                             {"Subject", U(FieldText(m.MsgSubject))}});
  const bool raw = a_.opt.count("--raw") != 0;
  out += "\n" + (!has ? "(" + (fault.empty() ? std::string("no text file") : fault) + ")\n"
                      : raw ? U(text) : Visible(U(text), true));
  if (out.back() != '\n') out += '\n';
  if (has && !fault.empty()) out += "(the text is " + fault + ")\n";
  return Done(out);
}

ControlAnswer Request::MsgStatus(long number, const char* status) {
  auto db = Db();
  const bool hold = std::string(status) == "H";
  const std::string n = std::to_string(number);
  switch (HoldMsg(MsgContext(), *db, number, hold)) {
    case HoldResult::kDone: break;
    case HoldResult::kAlready: return Done("message " + n + " is already held\n");
    case HoldResult::kNotHeld: return Refused("message " + n + " is not held");
    case HoldResult::kKilled: return Refused("message " + n + " is killed");
    case HoldResult::kNotFound: return Refused("no such message: " + n);
    case HoldResult::kFillAllFields: return Refused("the message has no " + MissingMsgField(db->msgdb) + " field");
    case HoldResult::kNotStored: return Refused("the message file could not be written");
  }
  s_.client->mainView().RefreshMsgList(db->mpos);
  return Done(std::string(hold ? "held " : "released ") + n + "\n");
}

ControlAnswer Request::MsgSend() {
  if (!a_.opt.count("--to") || !a_.opt.count("--subject")) return Usage("msg send needs --to and --subject");
  const std::string to = UpperAscii(Trim(A(a_.opt.at("--to"))));
  const std::string type = a_.opt.count("--type") ? UpperAscii(a_.opt.at("--type")) : "P";
  if (type != "P" && type != "B") return Usage("--type is P or B");
  const size_t at = to.find('@');
  const std::string call = Trim(to.substr(0, at));
  const std::string bbs = at == std::string::npos ? std::string() : Trim(to.substr(at + 1));
  const std::string subject = A(a_.opt.at("--subject"));
  const std::string bid = a_.opt.count("--bid") ? UpperAscii(Trim(A(a_.opt.at("--bid")))) : std::string();
  MsgDB m{};
  if (!OneWord(call) || !OneWord(bbs)) return Refused("--to: CALL or CALL@BBS, without spaces or control characters");
  if (!OneWord(bid)) return Refused("--bid: one word, without spaces or control characters");
  if (call.empty() || call.size() >= sizeof m.ToStation) return Refused("--to: an addressee of 1 to 39 characters");
  if (bbs.size() >= sizeof m.AtBbs) return Refused("--to: a BBS of at most 39 characters");
  if (!BadSubject(subject).empty()) return Refused(BadSubject(subject));
  if (bid.size() >= sizeof m.Bid) return Refused("--bid: at most 12 characters");
  if (!bid.empty() && s_.store->Bids.WeHaveThebid(bid)) return Refused("I already have this BID: " + bid);
  CopyField(m.Type, type);
  CopyField(m.ToStation, call);
  CopyField(m.AtBbs, bbs);
  CopyField(m.MsgSubject, subject);
  CopyField(m.Bid, bid);
  return StoreFromSysop(m);
}

ControlAnswer Request::MsgReply(long number) {
  auto db = Db();
  const std::vector<MsgRow> rows = SearchMsgs(*db, MsgSearch::kMsgNo, std::to_string(number), "");
  if (rows.empty()) return Refused("no such message: " + std::to_string(number));
  MsgDB m{};
  // As the database window answers: only what was sent to this BBS.
  if (!PrepareReply(rows[0].record, MsgContext().ownCall, &m))
    return Refused("message " + std::to_string(number) + " is not addressed to " + MsgContext().ownCall);
  if (a_.opt.count("--subject")) {
    const std::string subject = A(a_.opt.at("--subject"));
    if (!BadSubject(subject).empty()) return Refused(BadSubject(subject));
    CopyField(m.MsgSubject, subject);
  }
  return StoreFromSysop(m);
}

ControlAnswer Request::StoreFromSysop(MsgDB& m) {
  CopyField(m.Status, "N");
  CopyField(m.FromStation, s_.cfg->MyCallOut);
  const std::string bid = FieldText(m.Bid);
  std::string body;
  for (char c : A(input_))
    if (c != '\r') body += c;
  if (!body.empty() && body.back() != '\n') body += '\n';
  const MsgAdminContext ctx = MsgContext();
  // The header's tokens may name the message: give it the number it will get.
  m.MsgNo = static_cast<int32_t>(s_.store->counters.lastmsg + 1);
  const std::string text = MsgTextHead(ctx.routingHeader(), m) + body;
  auto db = Db();
  switch (StoreNewMsg(ctx, *db, m, text, s_.cfg->autobid ? s_.cfg->MyCallOut : "")) {
    case MsgEditResult::kStored: break;
    case MsgEditResult::kKnownBid: return Refused("I already have this BID: " + bid);
    default: return Refused("the message could not be stored");
  }
  if (a_.json) return Done(JsonOut(MsgJson(m)));
  return Done("stored as " + std::to_string(m.MsgNo) + " (BID " + U(FieldText(m.Bid)) + ")\n");
}

// ---- the repair ----

ControlAnswer Request::OptimizeProgress() {
  const OptimizeRun* o = s_.optimizer;
  const bool running = o && o->iact;
  static const char* const kStages[] = {"waiting", "messages", "users", "done"};
  const int stage = o ? std::clamp(o->stage.load(), 0, 3) : 0;
  Json j = Json::Object().Set("running", running).Set("stage", running ? Json(kStages[stage]) : Json());
  std::string out = running ? std::string("repair running: ") + kStages[stage] + "\n" : "no repair running\n";
  if (o && (o->lastResult().messagesKept + o->lastResult().usersKept > 0 || !o->lastResult().mended.empty())) {
    const OptimizeResult& r = o->lastResult();
    Json mended = Json::Array();
    for (const std::string& line : r.mended) mended.Push(line);
    j.Set("last", Json::Object()
                      .Set("ok", r.ok)
                      .Set("messagesKept", r.messagesKept)
                      .Set("messagesDropped", r.messagesDropped)
                      .Set("messagesAged", r.messagesAged)
                      .Set("usersKept", r.usersKept)
                      .Set("usersDropped", r.usersDropped)
                      .Set("error", r.error)
                      .Set("mended", mended));
    out += "last run: " + std::to_string(r.messagesKept) + " messages kept, " + std::to_string(r.messagesDropped) +
           " dropped, " + std::to_string(r.usersKept) + " users kept, " + std::to_string(r.usersDropped) +
           " dropped" + (r.ok ? "" : " (" + r.error + ")") + "\n";
    for (const std::string& line : r.mended) out += line + "\n";
  }
  return Done(a_.json ? JsonOut(j) : out);
}

// ---- forwarding ----

ControlAnswer Request::Fwd() {
  const std::string sub = P(1);
  if (sub == "queue") {
    if (a_.pos.size() > 3) return Usage("fwd queue [CALL]");
    const std::string only = a_.pos.size() == 3 ? UserKey(P(2)) : std::string();
    auto db = Db();
    std::vector<long> positions;
    if (!only.empty()) {
      const long pos = db->FindUser(only);
      if (!pos) return Refused("no such user: " + only);
      positions.push_back(pos);
    } else {
      for (const UserRow& r : SearchUsers(*db, UserSearch::kFwdPartners, "")) positions.push_back(r.position);
    }
    Json j = Json::Array();
    std::string out;
    for (long pos : positions) {
      UserDB u{};
      UserDBidx idx{};
      if (!db->ReadFromFile(pos, u, idx)) continue;
      Json slots = Json::Array();
      std::vector<std::vector<std::string>> t;
      for (const UserFwdPriv& f : u.FwdMsgNo) {
        if (!f.FwdMsgNumbers) continue;
        slots.Push(Json::Object()
                       .Set("FwdMsgNumbers", f.FwdMsgNumbers)
                       .Set("Type", U(FieldText(f.Type)))
                       .Set("Status", U(FieldText(f.Status)))
                       .Set("Size", f.Size)
                       .Set("ExpDays", U(FieldText(f.ExpDays))));
        t.push_back({"  " + std::to_string(f.FwdMsgNumbers), U(FieldText(f.Type)) + U(FieldText(f.Status)),
                     std::to_string(f.Size), U(FieldText(f.ExpDays))});
      }
      j.Push(Json::Object()
                 .Set("Call", U(FieldText(u.Call)))
                 .Set("FwdQueue", u.FwdQueue)
                 .Set("isFwdStation", U(FieldText(u.isFwdStation)))
                 .Set("FwdMsgNo", slots));
      out += U(FieldText(u.Call)) + " (forwarding number " + std::to_string(u.FwdQueue) + "): " +
             std::to_string(t.size()) + " waiting\n" + Aligned(t);
    }
    if (a_.json) return Done(JsonOut(only.empty() ? j : j.items().empty() ? Json() : j.items()[0]));
    return Done(out.empty() ? "no forwarding partners\n" : out);
  }
  if (sub == "now") {
    if (a_.pos.size() > 3) return Usage("fwd now [CALL]");
    if (!s_.running || !s_.partners) return Refused("the BBS is not running: forwarding runs inside it");
    if (!s_.cfg->FwdOk)
      return Refused("forwarding is off: set FWDOK=1 in ORN.INI's [PERSONAL] section (the hourly cycle and "
                     "'fwd now' both need it) and start the BBS again");
    if (s_.partners->started()) return Refused("a forwarding cycle is already running");
    if (a_.pos.size() == 3) {
      const std::string call = UserKey(P(2));
      auto db = Db();
      const long pos = db->FindUser(call);
      if (!pos) return Refused("no such user: " + call);
      const UserDB& u = db->userdb;
      if (std::string(u.isFwdStation) != "Y" || u.FwdQueue < 1 || u.FwdQueue > kMaxFwdNumber)
        return Refused(call + " is not a forwarding partner with a forwarding number");
      // The menu command's cycle, begun at this partner's forwarding number.
      s_.partners->CMFwd(u.FwdQueue);
      return Done("forwarding cycle started at " + call + "\n");
    }
    s_.partners->CMFwd();
    return Done("forwarding cycle started\n");
  }
  return Usage(sub.empty() ? "fwd needs a subcommand" : "unknown fwd command " + sub);
}

}  // namespace

ControlAnswer ControlHandler::Handle(const std::vector<std::string>& args, const std::string& input) {
  if (!site_.store || !site_.client || !site_.cfg || !site_.clock) return Refused("the BBS is not ready");
  const Args a = ParseArgs(args);
  if (!a.bad.empty()) return Usage(a.bad);
  // The repair has the record files to itself.
  const std::string cmd = a.pos.empty() ? std::string() : a.pos[0];
  const bool progress = cmd == "optimize" && a.pos.size() > 1 && a.pos[1] == "progress";
  if (site_.optimizer && site_.optimizer->iact && cmd != "status" && cmd != "monitor" && !progress)
    return Refused("the database is being repaired: try again in a moment");
  return Request(site_, a, input, site_.imports ? site_.imports.get() : &import_).Run();
}

ControlAnswer ControlHandler::HandleRemote(const std::vector<std::string>& args, const std::string& input) {
  const Args a = ParseArgs(args);
  if (!a.bad.empty()) return Usage(a.bad);
  const std::string cmd = a.pos.empty() ? std::string() : a.pos[0];
  const std::string sub = a.pos.size() > 1 ? a.pos[1] : std::string();
  if (cmd == "msg" && (sub == "import" || sub == "export"))
    return Refused("import and export go through /api/msg/import (an upload) and /api/msg/export (a download)");
  if (cmd == "monitor") return Refused("the monitor is GET /api/live");
  if (cmd == "talk") return Refused("a talk is POST /api/talk/start");
  return Handle(args, input);
}

bool ControlHandler::TalkLine(int index, const std::string& line) { return orn::TalkLine(site_, index, line); }
void ControlHandler::TalkEnd(int index) { orn::TalkEnd(site_, index); }
bool ControlHandler::TalkOpen(int index) const { return orn::TalkOpen(site_, index); }

ControlAnswer ControlHandler::HandleLine(const std::string& line) {
  Json req;
  std::string why;
  if (!ParseJson(line, &req, &why)) return Refused("malformed request: " + why);
  const Json& args = req.Get("args");
  const Json& input = req.Get("input");
  if (!args.IsArray() || !(input.IsNull() || input.IsString())) return Refused("malformed request: no args");
  std::vector<std::string> list;
  for (const Json& a : args.items()) {
    if (!a.IsString()) return Refused("malformed request: args are strings");
    list.push_back(a.AsString());
  }
  return Handle(list, input.IsString() ? input.AsString() : std::string());
}

std::string ControlAnswerLine(const ControlAnswer& a) {
  Json j = Json::Object();
  j.Set("status", a.status);
  if (!a.out.empty()) j.Set("out", a.out);
  if (!a.error.empty()) j.Set("error", a.error);
  if (a.stream) j.Set("stream", true);
  return j.Write() + "\n";
}

std::string ControlProgressLine(const std::string& progress) {
  return Json::Object().Set("progress", progress).Write() + "\n";
}

std::string ControlRequestLine(const std::vector<std::string>& args, const std::string& input) {
  Json list = Json::Array();
  for (const std::string& a : args) list.Push(a);
  Json j = Json::Object().Set("args", list);
  if (!input.empty()) j.Set("input", input);
  return j.Write() + "\n";
}

// ---- a BBS without its program ----

OfflineBbs::OfflineBbs() {
  client_ = std::make_unique<MDIClient>(cfg_, log_, clock_, cp_, view_, transport_, timers_);
}

OfflineBbs::~OfflineBbs() {
  // With no event loop here, a mail server started for a message stored by
  // this command is looked after until it answers or reaches its time limit.
  if (partners_) {
    while (partners_->serversBusy()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      partners_->OnTimer(kMailServerTimerId);
    }
    partners_->StopServers();
  }
  if (client_) {
    client_->partners = nullptr;
    client_->RemoveChannels();
  }
  if (store_) store_->DeleteMailBeaconList();
}

bool OfflineBbs::Open(std::string* error) {
  VarInit(cfg_);
  cfg_.IniFile = JoinPath(CurrentDirectory(), "ORN.INI");
  ini_.setPath(cfg_.IniFile);
  ReadRadioSection(ini_, cfg_);
  if (cfg_.maxport > kMaxPorts) cfg_.maxport = kMaxPorts;
  ReadPersonalSection(ini_, cfg_);
  ReadPathSection(ini_, cfg_);
  cfg_.bbspath = CurrentDirectory();
  ReadOptimizeParameters(ini_, cfg_);
  ReadCharSection(ini_, cfg_);
  cp_.Configure(cfg_.OemCodePage, cfg_.AnsiCodePage);
  for (int p = 0; p < cfg_.maxport; ++p) {
    std::string section;
    ReadSpecifiedPortFromIni(ini_, cfg_, p, &section);
  }
  for (const char* name : {"USERS.ADB", "USERS.IDX", "MSG.ADB", "MSG.IDX", "MAIL.ADB"}) {
    if (!FileExists(JoinPath(cfg_.bbspath, name))) {
      *error = "no BBS in " + cfg_.bbspath + " (no " + name + "; start ornbbs there once)";
      return false;
    }
  }
  // The files are looked over as the BBS's start does: a user added to a
  // hidden index would be a second record of a call already there.
  const RecordCheck check = CheckRecordFiles(cfg_.bbspath, JoinPath(cfg_.bbspath, cfg_.mailpath));
  for (const std::string& line : check.mended) view_.MessageBox("ornctl", line, Icon::Exclamation);
  if (!check.damage.empty()) {
    *error = check.damage + " ornctl leaves the files alone. " + check.advice;
    return false;
  }
  store_ = std::make_unique<Store>(
      StoreSite{cfg_.bbspath, JoinPath(cfg_.bbspath, cfg_.mailpath), cfg_.MyCallOut, cfg_.MyHier});
  store_->CreateMailBeaconList();
  store_->ReadTheBids();
  store_->RecountMessages();
  client_->store = store_.get();
  partners_ = std::make_unique<FwdPartners>(*client_, *store_, fwdstarted_, timers_);
  partners_->ReadUsersFwd();
  client_->partners = partners_.get();
  client_->routeStoredMsg = [this](const MsgOrigin& via, const MsgDB& m) { partners_->Route(via, m); };
  store_->onNewMessage = [this](const MsgDB& m, long, const MsgOrigin& origin) {
    if (m.Status[0] == 'N' && client_->routeStoredMsg) client_->routeStoredMsg(origin, m);
  };
  // The header's tokens are expanded on the monitor channel, as in the BBS.
  client_->AddChannel();
  return true;
}

ControlSite OfflineBbs::site() {
  ControlSite s;
  s.running = false;
  s.cfg = &cfg_;
  s.ini = &ini_;
  s.store = store_.get();
  s.client = client_.get();
  s.partners = partners_.get();
  s.clock = &clock_;
  return s;
}

}  // namespace orn
