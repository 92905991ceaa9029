// Mail servers: local programs that answer messages addressed to them. The
// request is the message's subject in NAME.out; the program NAME.exe is
// started and its answer, NAME.in, becomes the reply's text.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "admin/config_files.h"
#include "channel/channel.h"
#include "fwd/fwd_partners.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/callsign.h"
#include "store/msg_text.h"
#include "store/new_message.h"
#include "store/store.h"

extern char** environ;

namespace orn {
namespace {

// Server names become file names: nothing that could leave the directory.
bool SafeName(const std::string& name) {
  if (name.empty() || name.size() > 8) return false;
  for (char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
      return false;
  return true;
}

// Runs the program and waits for it to end, at most `waitMs`; a program
// still running then is stopped. False when it could not be started.
bool RunServer(const std::string& program, int waitMs) {
  pid_t pid = 0;
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid || r < 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return true;
}

}  // namespace

bool FwdPartners::CheckServers(MsgDB* m) {
  const StoreSite& site = store_.site();
  const std::string own = client_.cfg().MyCallOut;
  const std::string to = FieldText(m->ToStation);
  if (!FileExists(JoinPath(site.dir, "servers.inf"))) return false;
  if (to.size() > 8 || FieldText(m->AtBbs) != own || CallIsValid(to)) return false;
  bool listed = false;
  for (const std::string& name : ReadServers(site.dir)) listed |= name == to;
  if (!listed || !SafeName(to)) return false;

  const std::string request = JoinPath(site.dir, to + ".out");
  const std::string answer = JoinPath(site.dir, to + ".in");
  const std::string program = ResolveCase(JoinPath(site.dir, to + ".exe"));
  if (!WriteFileReplacing(request, FieldText(m->MsgSubject) + "\n")) return false;
  if (!FileExists(program)) return false;
  // An answer left from an earlier request must not be taken for this one.
  std::remove(ResolveCase(answer).c_str());
  if (!RunServer(program, serverWaitMs)) return false;
  std::string reply;
  if (!ReadWholeFile(ResolveCase(answer), &reply)) return false;
  std::remove(ResolveCase(answer).c_str());
  const long size = WriteMsgText(site.mailDir, m->MsgNo, FromDiskLines(reply));
  if (size < 0) return false;

  // The record becomes the reply's, so that what partners are offered
  // matches the text; its ID is ours, the request's having been seen.
  MsgDB r = *m;
  CopyField(r.ToStation, FieldText(m->FromStation));
  CopyField(r.FromStation, own);
  CopyField(r.AtBbs, "");
  r.Size = static_cast<int32_t>(size);
  CopyField(r.Bid, GeneratedBid(own, r.MsgNo));
  auto db = store_.OpenDbase();
  const long pos = db->SearchBinary(r.MsgNo);
  MsgDB stored{};
  MsgDBidx idx{};
  if (db->ReadFromFile(pos, stored, idx) && stored.MsgNo == r.MsgNo) {
    CopyField(r.Status, FieldText(stored.Status));
    db->WriteToFile(pos, r);
  }
  db->CloseAll();
  store_.Bids.InsertInBidArray(FieldText(r.Bid));
  *m = r;
  return true;
}

}  // namespace orn
