// The packets of the YAPP binary file transfer: how the BBS builds the ones
// it sends, and how it recognises the ones a station sends, from bytes that
// may arrive in any pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orn {

// Kinds of packet, as the reader reports them.
enum YappPacket : int {
  kYappPartial = 0,  // a packet has begun but not all of it is here yet, or nothing is
  kYappNone = 38,    // bytes that are no packet: the stream is out of step
  kYappRR = 39,      // receive ready
  kYappRF = 40,      // receive file
  kYappSI = 41,      // send init
  kYappHD = 42,      // header
  kYappDT = 43,      // data
  kYappEF = 44,      // end of file
  kYappET = 45,      // end of transfer
  kYappNR = 46,      // not ready (body: reason)
  kYappCN = 47,      // cancel (body: reason)
  kYappCA = 48,      // cancel acknowledged
  kYappRI = 49,      // receive init
  kYappTX = 50,      // text for display
  kYappInit = 51,    // an init of a kind not known here
  kYappAF = 53,      // end of file acknowledged
  kYappAT = 54,      // end of transfer acknowledged
  kYappRT = 55,      // receive file, with a checksum after each data block (YAPP-C)
};

// The packets that are two fixed bytes.
inline constexpr std::string_view kYappSendInit{"\x05\x01", 2};
inline constexpr std::string_view kYappRcvReady{"\x06\x01", 2};
inline constexpr std::string_view kYappRcvFile{"\x06\x02", 2};
inline constexpr std::string_view kYappRcvChecked{"\x06\x06", 2};
inline constexpr std::string_view kYappAckEof{"\x06\x03", 2};
inline constexpr std::string_view kYappAckEot{"\x06\x04", 2};
inline constexpr std::string_view kYappCanAck{"\x06\x05", 2};
inline constexpr std::string_view kYappEndOfFile{"\x03\x01", 2};
inline constexpr std::string_view kYappEndOfXfer{"\x04\x01", 2};

// A data packet of 1 to 256 bytes (256 travels as length 0); with
// `checksum`, the sum of the bytes modulo 256 follows them (YAPP-C).
std::string YappData(const char* data, size_t n, bool checksum = false);
unsigned char YappChecksum(const unsigned char* data, size_t n);
// A cancel or not-ready packet with a reason of at most 255 characters.
std::string YappCancel(const std::string& reason);
std::string YappNotReady(const std::string& reason);
// A header: the file's name, its size in decimal and its date and time as
// DOS keeps them (date in the high 16 bits), in 8 hex digits. Senders that
// speak YAPP-C send the date; a receiver that knows nothing of it reads the
// first two fields only.
std::string YappHeader(const std::string& name, unsigned long long size, uint32_t dosDateTime);

// The fields of a header body: the name up to the first NUL, then the size
// in decimal up to the next NUL (or to the end of the body), then perhaps
// the date. False for a damaged header: no NUL after the name, an empty
// name, or a size that is not a plain decimal number. A third field that is
// not 8 hex digits is no date, and is ignored as any further field is.
struct YappHeaderFields {
  std::string name;
  std::string size;  // may be empty: the sender did not say
  bool hasDate = false;
  uint32_t dosDateTime = 0;
};
bool ParseYappHeader(const unsigned char* body, size_t n, YappHeaderFields* out);

// A receiver that already holds the file's beginning answers the header with
// a not-ready packet asking for the rest: "R", NUL, the length it has in
// decimal, NUL, and "C", NUL when it wants checksums. False for any other
// not-ready packet.
bool ParseYappResume(const unsigned char* body, size_t n, unsigned long long* have, bool* checksums);

// The station's bytes in a ring of 2049 places, and the packet being read
// from them. A packet whose body has not all arrived is kept and finished
// when more bytes come.
class YappReader {
 public:
  static constexpr int kRingPlaces = 2049;  // indexes 0 to 2048

  // False when the ring is full: the byte is lost.
  bool Put(unsigned char byte);
  bool Ready() const { return inpos_ != curpos_; }
  bool Take(unsigned char* byte);
  // Forgets the unread bytes and any packet begun.
  void Clear();
  // From now on every data packet carries a checksum byte after its bytes
  // (YAPP-C): the reader takes it too and checks it.
  void ExpectChecksums(bool on) { checksums_ = on; }

  // The next packet, read as far as the ring allows. Bytes that cannot
  // begin a packet are taken one at a time and reported as kYappNone.
  int Next();
  // Body of the packet Next() last reported (HD, DT, TX, NR, CN), without
  // the checksum byte of a YAPP-C data packet.
  const unsigned char* body() const { return body_; }
  size_t length() const { return length_; }
  // For the last data packet: its checksum byte matched its bytes (always
  // true without checksums).
  bool checksumOk() const { return sumOk_; }

 private:
  unsigned char ring_[kRingPlaces + 1] = {};
  int inpos_ = 0, curpos_ = 0;
  int stage_ = 0;           // 0: at a packet's start; 1: its second byte is due; 2: its body is due
  unsigned char first_ = 0;
  int kind_ = kYappNone;    // of the packet whose body is being read
  unsigned char body_[257] = {};  // a YAPP-C data packet's checksum byte last
  size_t length_ = 0, have_ = 0, want_ = 0;
  bool checksums_ = false;
  bool sumOk_ = true;
};

}  // namespace orn
