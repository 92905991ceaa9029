#include "fwd/fwd_partners.h"

#include <cstring>
#include <vector>

#include "admin/msg_exchange.h"
#include "channel/channel.h"
#include "context/area_path.h"
#include "context/port_map.h"
#include "fwd/fwd_rules.h"
#include "fwd/fwd_session.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/callsign.h"
#include "store/date_time.h"
#include "store/store.h"

namespace orn {
namespace {

// The callsign of a relay identifier ("XX2BBB.#X.Y" or "XX2BBB").
std::string RelayCall(const std::string& relay) { return Trim(relay.substr(0, relay.find('.'))); }

// Whether an @BBS field names this BBS: its first element is our call.
bool AtIsUs(const std::string& at, const std::string& own) {
  return !own.empty() && EqualNoCase(RelayCall(at), own);
}

// The rules of one kind ('@', '>' or '<') in a partner's rule text, without
// their letter; lines without text are not rules.
std::vector<std::string> RulesOf(const char* fwddest, char kind) {
  std::vector<std::string> out;
  std::string all(fwddest);
  size_t at = 0;
  while (at <= all.size()) {
    size_t end = all.find_first_of("\r\n", at);
    if (end == std::string::npos) end = all.size();
    const std::string line = all.substr(at, end - at);
    if (line.size() > 1 && line[0] == kind) {
      const std::string text = Trim(line.substr(1));
      if (!text.empty()) out.push_back(text);
    }
    at = end + 1;
  }
  return out;
}

bool SlotUsed(const UserFwdPriv& f) { return f.FwdMsgNumbers > 0; }

}  // namespace

FwdPartners::FwdPartners(MDIClient& client, Store& store, bool& fwdstarted, TimerHost& timers)
    : client_(client), store_(store), fwdstarted_(fwdstarted), timers_(timers) {}

FwdPartners::~FwdPartners() {
  // The BBS routes what waits when it shuts down; here only no server may
  // be left running.
  serverQueue_.clear();
  StopServers();
}

void FwdPartners::ReadUsersFwd() {
  for (UFWD& e : UserFwdDest) e = UFWD{};
  auto db = store_.OpenDbase();
  std::vector<long> positions;
  db->ScanUserIdx([&](long pos, const UserDBidx& idx) {
    if (std::strcmp(idx.isFwdStation, "Y") != 0) return true;
    positions.push_back(pos);
    return positions.size() < static_cast<size_t>(kFwdDestCount);
  });
  int n = 0;
  for (long pos : positions) {
    UserDB u{};
    UserDBidx idx{};
    if (!db->ReadFromFile(pos, u, idx)) continue;
    CopyField(UserFwdDest[n].Call, FieldText(u.Call));
    CopyField(UserFwdDest[n].fwddest, FieldText(u.FwdDest));
    ++n;
  }
  db->CloseAll();
}

void FwdPartners::Route(const MsgOrigin& via, const MsgDB& m) {
  std::string server = ServerFor(m);
  if (server.empty()) {
    DealFwd(m, &via);
    return;
  }
  serverQueue_.push_back(ServerRequest{m, via, std::move(server)});
  if (serverPid_ == 0) StartNextServer();
}

void FwdPartners::DealFwd(const MsgDB& m, const MsgOrigin* via) {
  const std::string own = client_.cfg().MyCallOut;
  const std::string to = FieldText(m.ToStation), at = FieldText(m.AtBbs), from = FieldText(m.FromStation);
  // Mail for the sysop stays here (the store's hook lights the indicator).
  if (to == own || AtIsUs(at, own)) return;
  // Personal mail takes one route; bulletins go to every partner that wants
  // them.
  const bool personal = CallIsValid(to);
  const std::pair<char, const std::string*> passes[] = {{'@', &at}, {'>', &to}, {'<', &from}};
  for (const auto& [kind, field] : passes) {
    for (const UFWD& e : UserFwdDest) {
      if (!e.Call[0]) continue;
      for (const std::string& rule : RulesOf(e.fwddest, kind)) {
        if (field->find(rule) == std::string::npos) continue;
        WriteFwdMsgNo(m, e.Call, via);
        if (personal) return;
        break;
      }
    }
  }
}

bool FwdPartners::WriteFwdMsgNo(const MsgDB& m, const std::string& call, const MsgOrigin* via) {
  if (call.empty() || m.MsgNo <= 0) return false;
  if (via) {
    if (call == via->call) return false;
    for (const std::string& relay : via->relays)
      if (!relay.empty() && RelayCall(relay) == call) return false;
  }
  auto db = store_.OpenDbase();
  const long pos = db->FindUser(call);
  if (pos == 0) return false;
  UserDB& u = db->userdb;
  int slot = -1;
  for (int s = 0; s < kUserFwdPrivCount; ++s) {
    if (u.FwdMsgNo[s].FwdMsgNumbers == m.MsgNo) return false;
    if (slot < 0 && !SlotUsed(u.FwdMsgNo[s])) slot = s;
  }
  if (slot < 0) {
    // A full queue drops its oldest hundred.
    for (int s = 0; s < 100; ++s) u.FwdMsgNo[s] = UserFwdPriv{};
    slot = 0;
  }
  UserFwdPriv& f = u.FwdMsgNo[slot];
  f = UserFwdPriv{};
  CopyField(f.Type, FieldText(m.Type));
  CopyField(f.Status, FieldText(m.Status));
  f.FwdMsgNumbers = m.MsgNo;
  f.Size = m.Size;
  CopyField(f.ExpDays, FieldText(m.MsgDate));
  const bool ok = db->WriteToFile(pos, u);
  db->CloseAll();
  return ok;
}

void FwdPartners::RemFwd(long No) {
  if (No <= 0) return;
  auto db = store_.OpenDbase();
  std::vector<long> positions;
  // Partners outside the cycle are still served when they call: their
  // queues are cleaned as well.
  db->ScanUserIdx([&](long pos, const UserDBidx& idx) {
    if (idx.FwdQueue != 0 || std::strcmp(idx.isFwdStation, "Y") == 0) positions.push_back(pos);
    return true;
  });
  for (long pos : positions) {
    UserDB u{};
    UserDBidx idx{};
    if (!db->ReadFromFile(pos, u, idx)) continue;
    bool changed = false;
    for (UserFwdPriv& f : u.FwdMsgNo) {
      if (f.FwdMsgNumbers != No) continue;
      f.FwdMsgNumbers = 0;
      CopyField(f.Type, "");
      changed = true;
    }
    if (changed) db->WriteToFile(pos, u);
  }
  db->CloseAll();
}

void FwdPartners::CMFwd(int from) {
  fwdstarted_ = true;
  fwdqueue = from > 1 ? from - 1 : 0;
  StartFwd();
}

void FwdPartners::ResetFwd() {
  fwdstarted_ = false;
  fwdqueue = 0;
}

void FwdPartners::ChannelFreed() {
  if (fwdstarted_ && client_.cfg().FwdOk) StartFwd();
}

void FwdPartners::StartFwd() {
  // A channel freed while the next partner is being tried (its script failed
  // at once) asks again: that request runs after this one, not inside it.
  if (inStart_) {
    again_ = true;
    return;
  }
  inStart_ = true;
  do {
    again_ = false;
    NextPartner();
  } while (again_);
  inStart_ = false;
}

void FwdPartners::NextPartner() {
  if (!client_.cfg().FwdOk) {
    ResetFwd();
    return;
  }
  if (!fwdstarted_) return;
  if (filesBusy && filesBusy()) {
    ResetFwd();
    return;
  }
  int chan = 0;
  bool found = false;
  {
    auto db = store_.OpenDbase();
    while (fwdqueue < kMaxFwdNumber) {
      ++fwdqueue;
      if (FindAFwdStation(*db, fwdqueue) && OkToFwd(*db, chan)) {
        found = true;
        break;
      }
    }
    db->CloseAll();
  }
  TChannel* ch = found ? client_.channel(chan) : nullptr;
  if (!ch || !ch->tdb || !FindAFwdStation(*ch->tdb, fwdqueue)) {
    ResetFwd();
    return;
  }
  const int e = ch->hconindex >= 0 && ch->hconindex < kHowtoconnectCount ? ch->hconindex : 0;
  const Howtoconnect& entry = ch->tdb->userdb.Hcon[e];
  ch->fwdoperation = true;
  CopyField(ch->fwdpartner, FieldText(ch->tdb->userdb.Call));
  CopyField(ch->send, FieldText(entry.send));
  CopyField(ch->rcv, FieldText(entry.rcv));
  ch->DecodePath();
}

bool FwdPartners::FindAFwdStation(TOrnDbase& tdb, int where) {
  if (where < 1 || where > kMaxFwdNumber) return false;
  long found = 0;
  tdb.ScanUserIdx([&](long pos, const UserDBidx& idx) {
    if (idx.FwdQueue == where && std::strcmp(idx.isFwdStation, "Y") == 0 &&
        (std::strcmp(idx.Type, "B") == 0 || std::strcmp(idx.Type, "S") == 0)) {
      found = pos;
      return false;
    }
    return true;
  });
  if (!found || !tdb.ReadFromFile(found, tdb.userdb, tdb.useridx)) return false;
  tdb.upos = found;
  return true;
}

bool FwdPartners::OkToFwd(TOrnDbase& tdb, int& i) {
  const UserDB& u = tdb.userdb;
  const int kind = u.FwdKind;
  const bool normal = kind != 'E' && kind != 'F' && kind != 'C';
  bool used = false;
  for (const UserFwdPriv& f : u.FwdMsgNo) used |= SlotUsed(f);
  if (normal && !used) return false;

  const Clock& clock = client_.clock();
  const int e = EntryForHour(u, clock.LocalNow().tm_hour);
  if (e < 0) return false;
  const Howtoconnect& entry = u.Hcon[e];
  const long today = DayCount(FormatMsgDateTime(clock));
  // Something this entry would send now.
  bool ok = false;
  for (const UserFwdPriv& f : u.FwdMsgNo)
    if (Offerable(f) && SizeFits(entry, f.Size) && AgeFits(entry, f, today)) ok = true;
  if (normal && !ok) return false;

  if (kind == 'C') {
    const char how = entry.fwdkind[0];
    if (how == 'E') {
      const std::string file = Trim(FieldText(entry.expfile));
      if (file.empty()) return false;
      std::vector<long> numbers;
      for (const UserFwdPriv& f : u.FwdMsgNo)
        if (SlotUsed(f)) numbers.push_back(f.FwdMsgNumbers);
      for (long n : numbers)
        if (Export(tdb, n, file)) RemFwd(n);
      return false;
    }
    if (how == 'N' && !ok) return false;
  }

  // The entry names the ORN.INI port, counted from 1.
  const int port = std::atoi(FieldText(entry.port).c_str()) - 1;
  const int enginePort = EnginePortOf(client_.cfg(), port);
  if (enginePort < 0) return false;
  i = client_.FindFreeChannel(enginePort, port);
  if (!i) return false;
  client_.channel(i)->hconindex = e;
  return true;
}

bool FwdPartners::Export(TOrnDbase& tdb, long l, const std::string& f) {
  if (f.empty()) return false;
  const StoreSite& site = store_.site();
  // A record written before its field was checked, or by hand, is held to
  // what the sysop may set now: nothing is written outside the BBS directory,
  // and the messages stay queued until the entry names a file inside it.
  const std::string path = AreaPath(site.dir, f);
  if (path.empty()) return false;
  return ExportMsgs(tdb, site.mailDir, {l}, path, &client_.codePages()) >= 0;
}

}  // namespace orn
