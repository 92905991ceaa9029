// A station's session on the store of a busy BBS (100 000 messages, 10 000
// users; generated once per run, or taken from ORN_BENCH_STORE, a directory
// made by tools/genstore): the full listing L and the read of the oldest
// message. Each runs as the service timer runs it, one step at a time; the
// "per_step" counter is the processing time of one step. The session writes
// into the store like any session: its user record, and the oldest
// message's text file when there is none.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "app/ornbbs.h"
#include "context/prompts.h"
#include "platform/clock.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/msg_text.h"
#include "store/orn_dbase.h"
#include "store/store_generator.h"
#include "support/fake_engine.h"

namespace orn {
namespace {

constexpr long kMessages = 100000;
constexpr long kUsers = 10000;

class NullChannelView : public ChannelView {
 public:
  void SetCaption(const std::string&) override {}
  void AppendText(const std::string&, TextKind) override {}
  void ClearText() override {}
  void SetLabel(const std::string&, const std::string&) override {}
};

class NullView : public MainView {
 public:
  void MessageBox(const std::string& caption, const std::string& text, Icon) override {
    std::fprintf(stderr, "session_bench: %s: %s\n", caption.c_str(), text.c_str());
  }
  bool Question(const std::string&, const std::string&, bool def) override { return def; }
  void SetStatusText(const std::string&) override {}
  std::unique_ptr<ChannelView> CreateChannelView(int) override { return std::make_unique<NullChannelView>(); }
};

class NoTimers : public TimerHost {
 public:
  bool SetTimer(int, int, TimerClient*) override { return true; }
  void KillTimer(int) override {}
};

// The BBS running on the store, with one station connected on channel 1.
class Session {
 public:
  Session() {
    const char* given = std::getenv("ORN_BENCH_STORE");
    StoreSite site;
    if (given && *given) {
      dir_ = given;
    } else {
      char tmpl[] = "/tmp/ornbench.XXXXXX";
      if (!::mkdtemp(tmpl)) std::abort();
      dir_ = tmpl;
      owned_ = true;
    }
    site.dir = dir_;
    site.mailDir = JoinPath(dir_, "MAIL");
    site.ownCall = "XX9ORN";
    site.ownHier = "GRC.EU";
    clock_.SetLocal(2024, 3, 15, 12, 0);
    if (owned_) {
      GenerateOptions o;
      o.messages = kMessages;
      o.users = kUsers;
      std::string error;
      if (!GenerateStore(site, o, clock_, &error)) Fail(error);
    }
    WriteFileReplacing(JoinPath(dir_, "ORN.INI"),
                       "[PERSONAL]\nMYCALL=XX9ORN-1\nMYHIER=GRC.EU\n"
                       "[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=1\nBBSONLY=0\nLIMITED=0\nTIMEOUT=0\n");
    WriteOldestText(site);
    if (::getcwd(oldDir_, sizeof oldDir_) == nullptr || ::chdir(dir_.c_str()) != 0) Fail("cannot enter the store");
    bbs_ = std::make_unique<ORNBBS>(clock_, view_, timers_, engine_);
    if (!bbs_->Start()) Fail("the BBS did not start");
    engine_.Pump();
    engine_.Event(0, "*** CONNECTED To Station " + GeneratedCall(2) + "\r");
    TChannel& ch = Ch();
    if (!ch.connected || !ch.tdb) Fail("the station is not connected");
    // A registered station with every command and no download limit.
    CopyField(ch.tdb->userdb.Type, "R");
    CopyField(ch.prompt, kFullPrompt);
    ch.tdb->userdb.MaxDownload = 0;
    ch.pagination = false;
    engine_.Take();
  }
  ~Session() {
    bbs_->Shutdown();
    bbs_.reset();
    if (::chdir(oldDir_) != 0) std::perror("chdir");
    std::error_code ec;
    if (owned_) std::filesystem::remove_all(dir_, ec);
  }

  TChannel& Ch() { return *bbs_->client().channel(1); }

  // Types a command line and runs its operation to the end, calling the
  // pump as the service timer does. Returns the number of steps.
  long Run(const char* line) {
    TChannel& ch = Ch();
    std::snprintf(ch.cmd, sizeof ch.cmd, "%s\r", line);
    ch.BbsCmdDecode();
    long steps = 1;
    while (ch.Service != 0) {
      ch.DecodeService();
      ++steps;
    }
    return steps;
  }
  void Discard() { engine_.Take(); }

 private:
  [[noreturn]] static void Fail(const std::string& why) {
    std::fprintf(stderr, "session_bench: %s\n", why.c_str());
    std::abort();
  }
  // A text of a few portions behind three routing lines.
  static void WriteOldestText(const StoreSite& site) {
    if (FileExists(MsgFileName(site.mailDir, 1001))) return;
    std::string text =
        "R:240315/1200z @:XX9ORN.#ATH.GRC.EU [Athens] ORNMBX(v)7.10\n"
        "R:240315/1100z @:XX5ABC.#PAT.GRC.EU\n"
        "R:240315/1000z @:XX3DEF.#THS.GRC.EU\n\n";
    for (int i = 0; i < 100; ++i) text += "A line of the text of the oldest message, line " + std::to_string(i) + ".\n";
    WriteMsgText(site.mailDir, 1001, text, false);
  }

  std::string dir_;
  bool owned_ = false;
  char oldDir_[4096] = "";
  FakeClock clock_;
  NullView view_;
  NoTimers timers_;
  test::FakeEngine engine_;
  std::unique_ptr<ORNBBS> bbs_;
};

Session& TheSession() {
  static Session session;
  return session;
}

void Report(benchmark::State& state, long steps) {
  if (steps < 3) state.SkipWithError("the command did not run");
  state.counters["steps"] = static_cast<double>(steps);
  state.counters["per_step"] =
      benchmark::Counter(static_cast<double>(steps) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// L from a station that has never listed: every visible message, 21 lines a step.
void BM_FullListing(benchmark::State& state) {
  Session& s = TheSession();
  long steps = 0;
  for (auto _ : state) {
    s.Ch().tdb->userdb.LMsgRead = 0;
    steps = s.Run("L");
    state.PauseTiming();
    s.Discard();
    state.ResumeTiming();
  }
  Report(state, steps);
}
BENCHMARK(BM_FullListing)->Unit(benchmark::kMillisecond);

// R of the oldest message: the search, the header and the text's portions.
void BM_ReadOldest(benchmark::State& state) {
  Session& s = TheSession();
  long steps = 0;
  for (auto _ : state) {
    steps = s.Run("R 1001");
    state.PauseTiming();
    s.Discard();
    state.ResumeTiming();
  }
  Report(state, steps);
}
BENCHMARK(BM_ReadOldest)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace orn

BENCHMARK_MAIN();
