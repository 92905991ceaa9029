// The telnet that ornpe's TCP stations speak: just enough of it for binary
// data to survive. The peer's commands are answered (every option is refused
// except BINARY, which may be agreed in each direction on its own) or
// dropped, IAC IAC from the peer is one data byte 0xFF, and a 0xFF sent to it
// is doubled. No other byte is touched: line ends are left to whoever uses
// the stream, and compressed forwarding blocks pass intact. A raw stream is
// no telnet at all: every byte passes as it is, both ways.
#pragma once

#include <string>
#include <string_view>

namespace orn {

class TelnetStream {
 public:
  static constexpr unsigned char kIac = 255;
  static constexpr unsigned char kDont = 254;
  static constexpr unsigned char kDo = 253;
  static constexpr unsigned char kWont = 252;
  static constexpr unsigned char kWill = 251;
  static constexpr unsigned char kSb = 250;
  static constexpr unsigned char kSe = 240;
  static constexpr unsigned char kBinary = 0;

  explicit TelnetStream(bool raw = false) : raw_(raw) {}

  // Takes one byte from the peer; true when it is a data byte (the byte
  // itself: the second byte of IAC IAC is the data byte 0xFF).
  bool IsData(char b);
  // The data in a run of bytes from the peer.
  std::string Decode(std::string_view bytes);
  // Data for the peer, as it goes on the wire.
  std::string Encode(std::string_view data) const;
  // Answers to the peer's commands so far, for the wire before more data.
  std::string TakeAnswers();

  // BINARY is agreed for what the peer sends / for what we send.
  bool binaryFromPeer() const { return binaryIn_; }
  bool binaryToPeer() const { return binaryOut_; }
  bool raw() const { return raw_; }

 private:
  enum class State { Data, Command, Option, Sub, SubIac };

  void Negotiate(unsigned char verb, unsigned char option);
  void Answer(unsigned char verb, unsigned char option);

  bool raw_;
  State state_ = State::Data;
  unsigned char verb_ = 0;
  bool binaryIn_ = false;
  bool binaryOut_ = false;
  std::string answers_;
};

}  // namespace orn
