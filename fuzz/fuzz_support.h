// Stand-ins for the display, the timers and the packet engine, for fuzz
// targets that run the BBS core.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "app/ornbbs.h"
#include "context/views.h"
#include "link/api_frame.h"
#include "link/engine_transport.h"
#include "platform/clock.h"

namespace orn::fuzz {

class NullChannelView : public ChannelView {
 public:
  void SetCaption(const std::string&) override {}
  void AppendText(const std::string& t, TextKind) override { shown += t.size(); }
  void ClearText() override {}
  void SetLabel(const std::string&, const std::string&) override {}
  size_t shown = 0;
};

class NullView : public MainView {
 public:
  void MessageBox(const std::string&, const std::string&, Icon) override {}
  bool Question(const std::string&, const std::string&, bool def) override { return def; }
  void SetStatusText(const std::string&) override {}
  std::unique_ptr<ChannelView> CreateChannelView(int) override { return std::make_unique<NullChannelView>(); }
};

// Timers that run when the fuzz target says so.
class NullTimers : public TimerHost {
 public:
  bool SetTimer(int id, int, TimerClient* client) override {
    timers_[id] = client;
    return true;
  }
  void KillTimer(int id) override { timers_.erase(id); }
  void FireAll() {
    auto copy = timers_;
    for (auto& [id, client] : copy)
      if (timers_.count(id)) client->OnTimer(id);
  }

 private:
  std::map<int, TimerClient*> timers_;
};

// Answers the set-up, swallows everything the BBS sends.
class ScriptedEngine : public EngineTransport {
 public:
  bool Open(const std::string&, int, int) override { return open_ = true; }
  bool IsOpen() const override { return open_; }
  bool Write(const std::string& bytes) override {
    reader_.Feed(bytes);
    ApiFrame f;
    while (reader_.Next(&f) == ApiFrameReader::Result::Frame) {
      ApiFrame r;
      r.kind = f.kind;
      r.port = f.port;
      if (f.kind == 'R') r.data = std::string(8, '\0');
      else if (f.kind == 'G') r.data = std::string("2;Port1 a;Port2 b;") + '\0';
      else if (f.kind == 'X') r.data = "\1";
      else continue;
      replies_ += EncodeApiFrame(r);
    }
    return open_;
  }
  std::string Read(int) override {
    std::string out;
    out.swap(replies_);
    return out;
  }
  void StartAsync() override {}
  void Close() override { open_ = false; }
  EngineTransportListener* listener() { return listener_; }

 private:
  bool open_ = false;
  ApiFrameReader reader_;
  std::string replies_;
};

// A whole BBS started once per fuzz process in a fresh directory under /tmp,
// on the stand-ins above, with a fake clock.
struct FuzzBbs {
  // Changes into a new directory named after `prefix`, writes `ini` as
  // ORN.INI, lets `prepare` add files, and starts the BBS; aborts on failure.
  template <class Prepare>
  FuzzBbs(const char* prefix, const char* ini, Prepare prepare) : clock(1'700'000'000) {
    std::string dir = std::string("/tmp/") + prefix + ".XXXXXX";
    if (!mkdtemp(dir.data()) || chdir(dir.c_str()) != 0) std::abort();
    std::ofstream("ORN.INI") << ini;
    prepare();
    bbs = std::make_unique<ORNBBS>(clock, view, timers, engine);
    if (!bbs->Start()) std::abort();
  }

  // One frame from the engine: `from` to the BBS's call.
  void Push(char kind, const std::string& from, const std::string& data) {
    ApiFrame f;
    f.kind = kind;
    f.callFrom = from;
    f.callTo = "XX9ORN-1";
    f.pid = 0xF0;
    f.data = data;
    const std::string bytes = EncodeApiFrame(f);
    if (EngineTransportListener* l = engine.listener()) l->OnEngineBytes(bytes.data(), bytes.size());
  }
  // A link comes up or goes down, as the engine reports it.
  void Connected(const std::string& call) { Push('C', call, "*** CONNECTED To Station " + call + "\r" + '\0'); }
  void Disconnected(const std::string& call) {
    Push('d', call, "*** DISCONNECTED From Station " + call + "\r" + '\0');
  }
  // One second passes and every timer fires.
  void Tick() {
    clock.Advance(1);
    timers.FireAll();
  }

  FakeClock clock;
  NullView view;
  NullTimers timers;
  ScriptedEngine engine;
  std::unique_ptr<ORNBBS> bbs;
};

}  // namespace orn::fuzz
