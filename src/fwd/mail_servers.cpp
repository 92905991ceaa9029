// Mail servers: local programs that answer messages addressed to them. The
// request is the message's subject in NAME.out; the program NAME.exe is
// started and its answer, NAME.in, becomes the reply's text when the program
// exits with status 0. A program that fails or is stopped answers nothing:
// the request stays as it came, and the activity log says why.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

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

// Starts the program in a process group of its own, so that stopping it at
// its time limit stops what it started too; 0 when it could not be started.
pid_t SpawnServer(const std::string& program) {
  pid_t pid = 0;
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) return 0;
  const bool ready = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP) == 0 &&
                     posix_spawnattr_setpgroup(&attr, 0) == 0;
  const bool started = ready && posix_spawn(&pid, program.c_str(), nullptr, &attr, argv, environ) == 0;
  posix_spawnattr_destroy(&attr);
  return started ? pid : 0;
}

// Stops a server and everything it started, and reaps it.
void StopServer(pid_t pid) {
  kill(-pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}

// How often a running server is looked after.
constexpr int kServerPollMs = 50;

// The most of an answer that becomes a reply. A server may write without
// end; what is read of it has to fit in memory and go out in one message.
constexpr size_t kMaxAnswer = size_t{1} << 20;

// Reads at most `cap` bytes of a file, in pieces; `cut` tells whether more
// was there. A cut text ends at its last line end, so that no line (and no
// character of several bytes) goes half.
bool ReadCapped(const std::string& path, size_t cap, std::string* text, bool* cut) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  text->clear();
  *cut = false;
  char piece[64 * 1024];
  while (text->size() < cap) {
    const size_t n = std::fread(piece, 1, std::min(sizeof piece, cap - text->size()), f);
    if (n == 0) break;
    text->append(piece, n);
  }
  const bool failed = std::ferror(f) != 0;
  *cut = !failed && text->size() >= cap && std::fgetc(f) != EOF;
  std::fclose(f);
  if (failed) return false;
  if (*cut) {
    const size_t lf = text->rfind('\n');
    if (lf != std::string::npos) text->resize(lf + 1);
  }
  return true;
}

}  // namespace

std::string FwdPartners::ServerFor(const MsgDB& m) const {
  const StoreSite& site = store_.site();
  const std::string to = FieldText(m.ToStation);
  if (!FileExists(JoinPath(site.dir, "servers.inf"))) return "";
  if (to.size() > 8 || FieldText(m.AtBbs) != client_.cfg().MyCallOut || CallIsValid(to)) return "";
  bool listed = false;
  for (const std::string& name : ReadServers(site.dir)) listed |= name == to;
  if (!listed || !SafeName(to)) return "";
  return to;
}

void FwdPartners::StartNextServer() {
  while (serverPid_ == 0 && !serverQueue_.empty()) {
    if (LaunchServer(serverQueue_.front())) break;
    ServerRequest r = std::move(serverQueue_.front());
    serverQueue_.pop_front();
    DealFwd(r.msg, &r.via);
  }
  if (serverPid_ != 0)
    timers_.SetTimer(kMailServerTimerId, kServerPollMs, this);
  else
    timers_.KillTimer(kMailServerTimerId);
}

bool FwdPartners::LaunchServer(const ServerRequest& r) {
  const std::string& dir = store_.site().dir;
  const std::string program = ResolveCase(JoinPath(dir, r.name + ".exe"));
  if (!WriteFileReplacing(JoinPath(dir, r.name + ".out"), FieldText(r.msg.MsgSubject) + "\n")) return false;
  if (!FileExists(program)) return false;
  // An answer left from an earlier request must not be taken for this one.
  std::remove(ResolveCase(JoinPath(dir, r.name + ".in")).c_str());
  serverPid_ = SpawnServer(program);
  serverDeadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(serverWaitMs);
  return serverPid_ != 0;
}

void FwdPartners::OnTimer(int id) {
  if (id != kMailServerTimerId) return;
  if (serverPid_ == 0) {
    StartNextServer();
    return;
  }
  if (serverPid_ > 0) {
    int status = 0;
    const pid_t r = waitpid(serverPid_, &status, WNOHANG);
    if (r == 0 && std::chrono::steady_clock::now() < serverDeadline_) return;
    // Only a server that ended well has answered: one that failed or was
    // stopped may have left half an answer, and its request stays as it is.
    serverAnswered_ = r == serverPid_ && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (r == 0) StopServer(serverPid_);
    if (!serverAnswered_ && !serverQueue_.empty()) {
      const ServerRequest& req = serverQueue_.front();
      client_.log().writelog(65, req.msg.MsgNo, FieldText(req.msg.FromStation),
                             req.name + (r == 0 ? " stopped" : " failed"));
    }
    serverPid_ = kServerEnded;
  }
  // While the record files are taken away the answer waits.
  if (filesBusy && filesBusy()) return;
  ServerEnded(serverAnswered_);
}

void FwdPartners::StopServers() {
  if (serverPid_ > 0) {
    StopServer(serverPid_);
    // Whatever it had written is no answer.
    if (!serverQueue_.empty())
      std::remove(ResolveCase(JoinPath(store_.site().dir, serverQueue_.front().name + ".in")).c_str());
  }
  serverPid_ = 0;
  timers_.KillTimer(kMailServerTimerId);
  std::deque<ServerRequest> waiting;
  waiting.swap(serverQueue_);
  for (ServerRequest& r : waiting) DealFwd(r.msg, &r.via);
}

void FwdPartners::ServerEnded(bool answered) {
  serverPid_ = 0;
  if (serverQueue_.empty()) {
    StartNextServer();
    return;
  }
  ServerRequest r = std::move(serverQueue_.front());
  serverQueue_.pop_front();
  const std::string answer = ResolveCase(JoinPath(store_.site().dir, r.name + ".in"));
  // A server stopped at its time limit may have left half an answer.
  if (!answered || !TakeAnswer(r)) std::remove(answer.c_str());
  DealFwd(r.msg, &r.via);
  StartNextServer();
}

bool FwdPartners::TakeAnswer(ServerRequest& req) {
  const StoreSite& site = store_.site();
  const std::string own = client_.cfg().MyCallOut;
  const std::string answer = ResolveCase(JoinPath(site.dir, req.name + ".in"));
  std::string reply;
  bool cut = false;
  if (!ReadCapped(answer, kMaxAnswer, &reply, &cut)) return false;
  std::remove(answer.c_str());
  if (cut) client_.log().writelog(65, req.msg.MsgNo, FieldText(req.msg.FromStation), req.name + " answer cut");

  // The request may have been killed or removed while its server worked.
  auto db = store_.OpenDbase();
  const long pos = db->SearchBinary(req.msg.MsgNo);
  MsgDB stored{};
  MsgDBidx idx{};
  const bool there = pos > 0 && db->ReadFromFile(pos, stored, idx) && stored.MsgNo == req.msg.MsgNo &&
                     FieldText(stored.Status) != "K";
  if (!there) {
    db->CloseAll();
    return false;
  }
  const long size = WriteMsgText(site.mailDir, req.msg.MsgNo, FromDiskLines(reply));
  if (size < 0) {
    db->CloseAll();
    return false;
  }
  // The record becomes the reply's, so that what partners are offered
  // matches the text; its ID is ours, the request's having been seen.
  MsgDB r = stored;
  CopyField(r.ToStation, FieldText(stored.FromStation));
  CopyField(r.FromStation, own);
  CopyField(r.AtBbs, "");
  r.Size = static_cast<int32_t>(size);
  CopyField(r.Bid, GeneratedBid(own, r.MsgNo));
  db->WriteToFile(pos, r);
  db->CloseAll();
  store_.Bids.InsertInBidArray(FieldText(r.Bid));
  req.msg = r;
  return true;
}

}  // namespace orn
