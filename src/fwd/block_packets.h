// The binary packets a compressed message travels in: a header with the
// title (SOH, length, title, NUL, offset field), data packets of the
// compressed file (STX, length, bytes; a length byte 0 means 256) and an end
// packet with the checksum of all data bytes (EOT, checksum). A packet may be
// split over several link frames or share one with others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orn {

constexpr unsigned char kSoh = 0x01, kStx = 0x02, kEtx = 0x03, kEot = 0x04, kCan = 0x18;
// Data bytes per packet as this side sends them.
constexpr size_t kBlockData = 250;

// The header this side sends for a title (at most 119 characters are used)
// and the offset its transfer starts from (B1 resume; 0 for a whole
// transfer): the offset as six right-aligned characters, as FBB peers write
// it.
std::string HeaderPacket(const std::string& title, long offset);
std::string HeaderPacket(const std::string& title);  // offset 0
// The offset field of a received header's bytes (after its length byte):
// 0 when absent or blank, -1 when it is no number.
long HeaderOffset(const std::string& header);
// A data packet of 1 to 256 bytes.
std::string DataPacket(const std::string& bytes);
// The end packet for a running byte sum of the data.
std::string EndPacket(unsigned long sum);
// Whether the checksum byte b closes the data whose byte sum is A.
bool CheckSumOk(unsigned long A, unsigned char b);

// B1: the compressed file travels with a CRC-16/XMODEM of all its bytes
// (length word and code) in front, least significant byte first. The CRC and
// the length word, six bytes, open every resumed transfer too.
constexpr size_t kB1Head = 6;
uint16_t Crc16Xmodem(const std::string& bytes, size_t from = 0);
std::string B1Stream(const std::string& compressed);
// Whether a received B1 stream is whole: its CRC matches what follows it.
bool B1StreamOk(const std::string& stream);

// The packets of a whole compressed file: header, data packets, end packet.
std::string BlockStream(const std::string& title, const std::string& compressed);

// Reads packets out of received bytes, which may come in any pieces. Bytes
// before a packet that start none are skipped, as are the pair ETX SOH and
// cancelled (CAN) packets' contents, which are reported but carry nothing.
class PacketReader {
 public:
  enum class Kind {
    kNone,    // no complete packet yet
    kHeader,  // data(): the header's bytes after its length byte
    kData,    // data(): the packet's bytes
    kEnd,     // checksum(): the byte after EOT
    kCancel,  // a CAN packet, read and ignored
    kEtxSoh,  // the pair 0x03 0x01
  };

  // The most bytes held unread: beyond this the sender is not pacing itself
  // and Put refuses.
  static constexpr size_t kMaxHeld = 16 * 1024;

  // Takes received bytes; false (nothing taken) when they would pass kMaxHeld.
  bool Put(const char* bytes, size_t n);
  bool Put(char byte) { return Put(&byte, 1); }
  // Whether unread bytes are held.
  bool inready() const { return pos_ < held_.size(); }
  size_t held() const { return held_.size() - pos_; }
  // Reads at most one packet.
  Kind Next();
  // Forgets everything held and any packet begun.
  void Reset();

  const std::string& data() const { return data_; }
  unsigned char checksum() const { return checksum_; }

 private:
  bool Take(unsigned char* c);
  // Reads a packet's length byte and bytes, over as many calls as needed.
  bool ReadBody();

  std::string held_;
  size_t pos_ = 0;
  Kind pending_ = Kind::kNone;  // packet begun, awaiting more bytes
  bool haveLength_ = false;
  size_t want_ = 0;
  std::string data_;
  unsigned char checksum_ = 0;
};

}  // namespace orn
