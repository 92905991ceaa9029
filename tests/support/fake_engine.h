// A packet engine in memory: answers the set-up questions, records every
// frame the BBS sends, and lets a test push frames or drop the connection.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "link/api_frame.h"
#include "link/engine_transport.h"

namespace orn::test {

class FakeEngine : public EngineTransport {
 public:
  bool Open(const std::string& host, int port, int timeoutMs) override;
  bool IsOpen() const override { return open_; }
  bool Write(const std::string& bytes) override;
  std::string Read(int timeoutMs) override;
  void StartAsync() override { async_ = true; }
  void Close() override;

  // Runs what the event loop would: hands pending bytes to the BBS.
  void Pump();
  // A frame from the engine, delivered at once when the set-up is over.
  void Push(const ApiFrame& f);
  void PushBytes(const std::string& bytes);
  // The engine goes away.
  void Drop();

  // Shorthands for the frames of a station on the air.
  void Event(int port, const std::string& text);  // 'C' "*** CONNECTED To Station X\r"
  void Data(int port, const std::string& from, const std::string& data);

  // Frames written by the BBS since the last call, set-up frames included.
  std::vector<ApiFrame> Take();
  // Only those of the given kinds; the others stay to be taken.
  std::vector<ApiFrame> Take(const std::string& kinds);

  // How the engine behaves.
  bool reachable = true;
  bool answersVersion = true;
  std::string portList = "1;Port1 first soundcard mono;Port2 INVALID CHANNEL;";
  std::set<int> refusedPorts;  // 'X' on these answers 0x00
  int opens = 0;

 private:
  void Reply(const ApiFrame& f);

  bool open_ = false;
  bool async_ = false;
  std::string pending_;
  ApiFrameReader reader_;
  std::vector<ApiFrame> sent_;
};

}  // namespace orn::test
