// The byte pipe to the packet engine. The Qt host provides one over TCP;
// tests provide fakes. The set-up exchange runs synchronously (Read with a
// time-out); after StartAsync() bytes and the loss of the connection arrive
// through the listener, from the host's event loop.
#pragma once

#include <cstddef>
#include <string>

namespace orn {

class EngineTransportListener {
 public:
  virtual ~EngineTransportListener() = default;
  // Bytes received; may be empty (the first call after StartAsync()).
  virtual void OnEngineBytes(const char* data, size_t n) = 0;
  // The engine closed the connection, or it failed.
  virtual void OnEngineClosed() = 0;
};

class EngineTransport {
 public:
  virtual ~EngineTransport() = default;
  void SetListener(EngineTransportListener* l) { listener_ = l; }

  // Connects and waits at most `timeoutMs`; false when the engine cannot be
  // reached.
  virtual bool Open(const std::string& host, int port, int timeoutMs) = 0;
  virtual bool IsOpen() const = 0;
  // Queues bytes for sending; false when the connection is not open.
  virtual bool Write(const std::string& bytes) = 0;
  // Set-up only: waits at most `timeoutMs` for bytes. Empty on time-out or
  // loss of the connection.
  virtual std::string Read(int timeoutMs) = 0;
  // Hands further input to the listener from the event loop, starting with
  // one call to OnEngineBytes (possibly empty) soon after.
  virtual void StartAsync() = 0;
  // Closes without telling the listener.
  virtual void Close() = 0;

 protected:
  EngineTransportListener* listener_ = nullptr;
};

// The transport of a BBS built without one: the engine is never reached.
class NoEngineTransport : public EngineTransport {
 public:
  bool Open(const std::string&, int, int) override { return false; }
  bool IsOpen() const override { return false; }
  bool Write(const std::string&) override { return false; }
  std::string Read(int) override { return {}; }
  void StartAsync() override {}
  void Close() override {}
};

}  // namespace orn
