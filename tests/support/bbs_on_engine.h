// A whole BBS started in a temporary directory on an in-memory engine, with a
// fake clock and timers that fire when told.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/ornbbs.h"
#include "support/fake_engine.h"
#include "support/recording_view.h"
#include "support/test_dir.h"

namespace orn::test {

class BbsOnEngine : public ::testing::Test {
 protected:
  BbsOnEngine();
  ~BbsOnEngine() override;

  // Writes ORN.INI (MYCALL XX9ORN-1 unless the text sets PERSONAL) and starts.
  void StartWith(const std::string& ini);
  TChannel& Ch(int index) { return *bbs_->client().channel(index); }
  MDIClient& Client() { return bbs_->client(); }
  PacketLink& Link() { return bbs_->client().link(); }
  // A station connects on an engine port; returns the channel it got (0: none).
  int Connects(int port, const std::string& call);
  // Lets held output go and returns everything sent to stations since the
  // last call, as one text.
  std::string Sent();
  // The disconnect requests sent since the last look ("0:XX1ABC").
  std::vector<std::string> Disconnects();
  // The engine's answer to a question about the link to `call`: `queued`
  // frames wait.
  void QueueReport(const std::string& call, int queued);
  // One service tick with the engine's last report putting the queue of
  // `channel` at zero; returns what was sent.
  std::string TickWithRoom(int channel = 1);

  TestDir dir_;
  ScopedChdir cd_;
  FakeClock clock_;
  RecordingView view_;
  ManualTimers timers_;
  FakeEngine engine_;
  std::unique_ptr<ORNBBS> bbs_;
};

}  // namespace orn::test
