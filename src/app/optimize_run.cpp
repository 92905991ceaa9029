#include "app/optimize_run.h"

#include <cstdlib>
#include <system_error>

#include "channel/channel.h"
#include "channel/mdi_client.h"
#include "platform/file_names.h"
#include "store/date_time.h"
#include "store/store.h"

namespace orn {

PurgeOptions PurgeOptionsOf(const OptimizeOptions& o) {
  PurgeOptions p;
  p.killed = o.Killkilled != 0;
  p.old = o.Killold != 0;
  p.held = o.Killheld != 0;
  p.forwarded = o.Killfwded != 0;
  p.read = o.Killyes != 0;
  p.deleteLog = o.Killlog == 1;
  p.renumber = o.Renumber != 0;
  p.maxDaysOld = static_cast<long>(o.Maxdaysold);
  return p;
}

OptimizeRun::OptimizeRun(MDIClient& client, Store& store) : client_(client), store_(store) {}

OptimizeRun::~OptimizeRun() {
  if (worker_.joinable()) worker_.join();
}

bool OptimizeRun::Due() {
  const Config& cfg = client_.cfg();
  if (!cfg.optimizationok) return false;
  const std::string date = GetDate(client_.clock(), 0);  // YYMMDD
  const std::string time = GetTime(client_.clock(), 0);  // HHMM
  const long day = std::atol(date.substr(4, 2).c_str());
  const long hour = std::atol(time.substr(0, 2).c_str());
  const long minute = std::atol(time.substr(2, 2).c_str());
  if (day != cfg.optd || hour != cfg.opth || minute != cfg.optm) return false;
  // Once in that minute, however often the tick comes.
  if (lastScheduled_ == date + time) return false;
  lastScheduled_ = date + time;
  return true;
}

void OptimizeRun::StartOptimize(bool manual) {
  if (iact) {
    if (done_) Finish();
    return;
  }
  nokat = manual;
  if (!manual && !Due()) {
    repcheck = false;
    return;
  }
  iact = repcheck = true;
  Prepare();

  const PurgeOptions options = PurgeOptionsOf(client_.cfg().optimize);
  if (options.deleteLog) {
    // The log is written a line at a time from this thread: empty it here.
    const std::string log = ResolveCase(JoinPath(client_.cfg().bbspath, client_.log().switches().Logfile));
    if (FileExists(log)) WriteFileReplacing(log, "");
  }
  const StoreSite site = store_.site();
  const std::string today = GetDate(client_.clock(), 0);
  done_ = false;
  stage = 0;
  dropped_.clear();
  client_.SetStatus("Database repair in progress...");
  try {
    worker_ = std::thread([this, site, options, today] {
      result_ = MakeOptimize(
          site, options, today, [this](long n) { dropped_.push_back(n); },
          [this](const std::string& what) { stage = what.find("User") != std::string::npos ? 2 : 1; });
      stage = 3;
      done_ = true;
    });
  } catch (const std::system_error&) {
    TakeUpFiles();
    repcheck = iact = false;
    client_.SetStatus("Database repair could not start");
  }
}

void OptimizeRun::Prepare() {
  PacketLink& link = client_.link();
  for (int i = 1; i < client_.numberchildren; ++i) {
    TChannel* ch = client_.channel(i);
    if (!ch->connected) continue;
    // Asked twice, as a request may be lost on a busy port.
    link.DisConnect(ch->TncPortNumber, ch->UserCall);
    link.DisConnect(ch->TncPortNumber, ch->UserCall);
  }
  for (int i = 0; i < client_.numberchildren; ++i) {
    TChannel* ch = client_.channel(i);
    if (ch->tdb) ch->tdb->CloseAll();
    ch->tdb.reset();
  }
  Config& cfg = client_.cfg();
  for (int p = 0; p < kMaxPorts; ++p) {
    oldconok_[static_cast<size_t>(p)] = cfg.Ports[static_cast<size_t>(p)].conok;
    cfg.Ports[static_cast<size_t>(p)].conok = 0;
  }
}

void OptimizeRun::TakeUpFiles() {
  Config& cfg = client_.cfg();
  for (int p = 0; p < kMaxPorts; ++p) cfg.Ports[static_cast<size_t>(p)].conok = oldconok_[static_cast<size_t>(p)];
  for (int i = 1; i < client_.numberchildren; ++i) client_.channel(i)->tdb = store_.OpenDbase();
}

void OptimizeRun::Wait() {
  if (iact && worker_.joinable()) {
    worker_.join();
    Finish();
  }
}

void OptimizeRun::Finish() {
  if (worker_.joinable()) worker_.join();
  TakeUpFiles();
  repcheck = iact = false;
  store_.ReadTheBids();
  if (ReadPartners) ReadPartners();
  store_.RecountMessages();
  for (const std::string& line : result_.mended) client_.log().writelog(65, 0, "", line);
  if (RemFwd)
    for (long n : dropped_) RemFwd(n);
  client_.mainView().RefreshUserList(0);
  client_.mainView().RefreshMsgList(0);
  client_.SetStatus(result_.ok ? "Database repair done" : "Database repair failed: " + result_.error);
}

}  // namespace orn
