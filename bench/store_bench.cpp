// The store at the size of a busy BBS: 100 000 messages and 10 000 users,
// generated once per run (or taken from ORN_BENCH_STORE, a directory made by
// tools/genstore). Measures the start-up recount, the message search, a user
// lookup and the duplicate-BID check; peak memory is the "maxrss_MiB"
// counter.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/clock.h"
#include "platform/file_names.h"
#include "store/bids.h"
#include "store/counters.h"
#include "store/orn_dbase.h"
#include "store/store_generator.h"

namespace orn {
namespace {

constexpr long kMessages = 100000;
constexpr long kUsers = 10000;

double PeakMiB() {
  struct rusage ru;
  ::getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// The generated store, removed at exit unless it was given.
class BenchStore {
 public:
  BenchStore() {
    const char* given = std::getenv("ORN_BENCH_STORE");
    if (given && *given) {
      site_.dir = given;
    } else {
      char tmpl[] = "/tmp/ornbench.XXXXXX";
      if (!::mkdtemp(tmpl)) std::abort();
      site_.dir = tmpl;
      owned_ = true;
    }
    site_.mailDir = JoinPath(site_.dir, "MAIL");
    site_.ownCall = "XX9ORN";
    site_.ownHier = "GRC.EU";
    if (owned_) {
      GenerateOptions o;
      o.messages = kMessages;
      o.users = kUsers;
      FakeClock clock;
      clock.SetLocal(2024, 3, 15, 12, 0);
      std::string error;
      if (!GenerateStore(site_, o, clock, &error)) {
        std::fprintf(stderr, "store_bench: %s\n", error.c_str());
        std::abort();
      }
    }
  }
  ~BenchStore() {
    std::error_code ec;
    if (owned_) std::filesystem::remove_all(site_.dir, ec);
  }
  const StoreSite& site() const { return site_; }

 private:
  StoreSite site_;
  bool owned_ = false;
};

const StoreSite& Site() {
  static BenchStore store;
  return store.site();
}

void Finish(benchmark::State& state) { state.counters["maxrss_MiB"] = PeakMiB(); }

// What start-up does before the channels exist.
void BM_StartupRecount(benchmark::State& state) {
  const StoreSite& site = Site();
  BidTable bids;
  for (auto _ : state) {
    benchmark::DoNotOptimize(bids.ReadTheBids(site));
    MsgCounters c = RecountMessages(site);
    benchmark::DoNotOptimize(c);
  }
  Finish(state);
}
BENCHMARK(BM_StartupRecount)->Unit(benchmark::kMillisecond);

void BM_ReadTheBids(benchmark::State& state) {
  const StoreSite& site = Site();
  BidTable bids;
  for (auto _ : state) benchmark::DoNotOptimize(bids.ReadTheBids(site));
  Finish(state);
}
BENCHMARK(BM_ReadTheBids)->Unit(benchmark::kMillisecond);

void BM_FindLastTotalActive(benchmark::State& state) {
  const StoreSite& site = Site();
  for (auto _ : state) {
    long held = 0;
    benchmark::DoNotOptimize(FindLastMsg(site));
    benchmark::DoNotOptimize(FindTotalMsg(site));
    benchmark::DoNotOptimize(FindActiveMsg(site, &held));
  }
  Finish(state);
}
BENCHMARK(BM_FindLastTotalActive)->Unit(benchmark::kMillisecond);

// A message read by number, as the R and K commands do it.
void BM_SearchBinary(benchmark::State& state) {
  TOrnDbase db(Site());
  db.OpenMsgFile();
  std::mt19937 rng(7);
  for (auto _ : state) {
    const long number = 1001 + static_cast<long>(rng() % kMessages);
    const long pos = db.SearchBinary(number);
    if (!db.ReadFromFile(pos, db.msgdb, db.msgidx) || db.msgdb.MsgNo != number) state.SkipWithError("not found");
  }
  Finish(state);
}
BENCHMARK(BM_SearchBinary)->Unit(benchmark::kMicrosecond);

// The login lookup; the last user is the longest scan.
void BM_FindUser(benchmark::State& state) {
  TOrnDbase db(Site());
  db.OpenUserFile();
  const std::string call = GeneratedCall(state.range(0));
  for (auto _ : state)
    if (db.FindUser(call) != state.range(0)) state.SkipWithError("not found");
  Finish(state);
}
BENCHMARK(BM_FindUser)->Arg(1)->Arg(kUsers / 2)->Arg(kUsers)->Unit(benchmark::kMicrosecond);

// The duplicate check of every stored bulletin: a BID that is not there
// costs the whole ring.
void BM_WeHaveThebid(benchmark::State& state) {
  BidTable bids;
  bids.ReadTheBids(Site());
  std::string bid = "NOSUCHBID";
  if (state.range(0)) {
    // A bulletin from the middle of the store.
    TOrnDbase db(Site());
    db.OpenMsgFile();
    db.ScanMsgs([&](long, const MsgDB& r) {
      if (r.MsgNo < 1001 + kMessages / 2 || !r.Bid[0]) return true;
      bid = r.Bid;
      return false;
    });
  }
  for (auto _ : state) benchmark::DoNotOptimize(bids.WeHaveThebid(bid));
  Finish(state);
}
BENCHMARK(BM_WeHaveThebid)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace orn

BENCHMARK_MAIN();
