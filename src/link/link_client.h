// What the packet link asks of the BBS above it. The link knows the engine,
// its frames and its ports, nothing of channels or sessions: what arrives is
// handed up through this interface, which the channel table implements.
#pragma once

#include <string>

#include "context/views.h"
#include "link/held_output.h"

namespace orn {

class LinkClient {
 public:
  virtual ~LinkClient() = default;

  // The sysop's message box; `caption` empty for the BBS's own.
  virtual void Message(const std::string& text, Icon icon, const std::string& caption = {}) = 0;
  virtual void SetStatus(const std::string& text) = 0;
  // Whether the BBS serves (1) or sits in idle mode (0).
  virtual void SetServing(unsigned ok) = 0;
  // The engine went away and took every link with it, without a word to
  // the stations.
  virtual void LinkLost() = 0;

  // Table entries from 1 to ChannelCount() - 1 are channels; 0 is the
  // monitor. No frame is taken before the monitor exists.
  virtual int ChannelCount() const = 0;
  // The output held back for table entry `index`; null when there is none.
  virtual HeldOutput* HeldOutputOf(int index) = 0;
  // We are about to ask the engine to drop the link with `call`.
  virtual void DisconnectRequested(int port, const std::string& call) = 0;
  // The engine's count of frames not yet sent for table entry `index`.
  // `withCall`: the answer names the station (the caption says so).
  virtual void FrameQueueAnswer(int index, int queued, bool withCall) = 0;
  // A connection event or connected data has been handled: output held for
  // stations that now wait may leave.
  virtual void FrameDone() {}

  // A connection event ("*** CONNECTED To Station XX1ABC"), connected data
  // (the frame as received, `size` bytes), and text for the monitor.
  virtual void InsertToChannelAndCheckConDisc(int port, const char* s, int size) = 0;
  virtual void InsertToChannel(int port, const char* frame, int size) = 0;
  virtual void ShowToMonitor(const char* Data, int size) = 0;
};

}  // namespace orn
