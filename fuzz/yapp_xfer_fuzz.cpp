// A YAPP station that sends anything at all, in whatever pieces, with the
// clock running between them: packets in or out of order, bodies cut short,
// checksums right or wrong, silence. Nothing may crash, hang or overrun a
// buffer; a transfer always ends in time; an upload that did not end stored
// leaves nothing under its name and no part file.
//
// Input: byte 0 chooses the direction (bit 0: the BBS sends) and the piece
// size (bits 1-7); byte 1 the seconds between pieces; the rest is the
// station's bytes.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "context/language.h"
#include "yapp/yapp_xfer.h"

using namespace orn;

namespace {

std::string dir_;
int64_t now_ = 1'000'000;
bool ended_ = false;

class Host : public YappHost {
 public:
  const Language& Texts() const override { return lang_; }
  std::string BinaryArea() const override { return dir_ + "/BIN"; }
  std::string BinaryAreaName() const override { return "BIN"; }
  std::string PartFile() const override { return dir_ + "/temp/1.yap"; }
  int64_t Now() const override { return now_; }
  std::tm Local(int64_t t) const override {
    const auto tt = static_cast<time_t>(t);
    std::tm out{};
    ::gmtime_r(&tt, &out);
    return out;
  }
  void SetService(int) override {}
  void SendPacket(const std::string&) override {}
  void SendText(const std::string&) override {}
  void EndService(const std::string&) override { ended_ = true; }
  void LogTransfer(int, const std::string&) override {}
  void CountDownload(long) override {}
  void ShowProgress(const TransferProgress&) override {}
  void CloseProgress() override {}

 private:
  Language lang_{};
};

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/ornfuzz.yapp.XXXXXX";
  if (!::mkdtemp(tmpl)) std::abort();
  dir_ = tmpl;
  ::mkdir((dir_ + "/BIN").c_str(), 0755);
  ::mkdir((dir_ + "/temp").c_str(), 0755);
  if (FILE* f = std::fopen((dir_ + "/BIN/OUT.BIN").c_str(), "wb")) {
    for (int i = 0; i < 1000; ++i) std::fputc(i * 7 & 0xFF, f);
    std::fclose(f);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool sending = data[0] & 1;
  const size_t piece = (data[0] >> 1) + 1u;
  const int64_t pause = data[1] % 8;
  data += 2;
  size -= 2;
  ended_ = false;
  std::remove((dir_ + "/BIN/IN.BIN").c_str());

  auto xfer = std::make_unique<TYappXfer>(std::make_unique<Host>(), sending ? "OUT.BIN\r" : "IN.BIN\r",
                                          sending ? kYappDownload : kYappUpload);
  if (!xfer->Proceed()) std::abort();
  auto step = [&] { return sending ? xfer->SendStep() : xfer->ReceiveStep(); };
  bool running = true;
  for (size_t at = 0; at < size && running; at += piece) {
    for (size_t i = at; i < at + piece && i < size; ++i) xfer->putyappbuf(data[i]);
    running = step();
    now_ += pause;
    if (running && xfer->yapptimer != 0 && xfer->yapptimer < now_) running = step();
  }
  // Then silence, with the service timer looking once a second: the
  // transfer ends within its time-outs.
  for (int64_t waited = 0; running; ++waited) {
    if (waited > 3 * TYappXfer::kAnswerSeconds + 300) std::abort();
    ++now_;
    if (xfer->yapptimer != 0 && xfer->yapptimer < now_) running = step();
  }
  if (!ended_) std::abort();
  const bool whole = xfer->xferok;
  xfer.reset();
  if (Exists(dir_ + "/temp/1.yap")) std::abort();
  if (!sending && Exists(dir_ + "/BIN/IN.BIN") && !whole) std::abort();
  return 0;
}
