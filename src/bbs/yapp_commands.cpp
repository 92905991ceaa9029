#include "bbs/yapp_commands.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bbs/upload_list.h"
#include "channel/channel.h"
#include "context/area_path.h"
#include "bbs/prepare_dir.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "yapp/yapp_xfer.h"

namespace orn {
namespace {

class ChannelYapp : public YappHost {
 public:
  explicit ChannelYapp(TChannel& ch) : ch_(ch) {}

  const Language& Texts() const override { return ch_.lang; }
  std::string BinaryArea() const override {
    const Config& cfg = ch_.client().cfg();
    return JoinPath(cfg.bbspath, cfg.binpath);
  }
  std::string BinaryAreaName() const override { return ch_.client().cfg().BinPath; }
  std::string PartFile() const override {
    const std::string temp = ResolveCase(JoinPath(ch_.client().cfg().bbspath, "temp"));
    return JoinPath(temp, std::to_string(ch_.TncAbsoluteNumber) + ".yap");
  }
  int64_t Now() const override { return ch_.client().clock().Now(); }
  std::tm Local(int64_t t) const override { return ch_.client().clock().Local(t); }
  void SetService(int service) override { ch_.Service = service; }
  void SendPacket(const std::string& bytes) override {
    // A packet is a whole protocol frame: it leaves at once and alone, after
    // whatever text was held for the station, never held itself.
    PacketLink& link = ch_.client().link();
    if (ch_.transparent) link.TxTrans(ch_);
    link.SendPacketFrame(ch_.TncPortNumber, ch_.UserCall, bytes.data(), static_cast<int>(bytes.size()), 'D');
    // Output the pacing sees: the next packet waits for the engine's word.
    ++ch_.framesSent;
  }
  void SendText(const std::string& text) override { ch_.Send(text); }
  void EndService(const std::string& text) override { ch_.EndService(text); }
  void LogTransfer(int event, const std::string& file) override {
    ch_.client().log().writelog(event, 0, ch_.UserCallOnly, file);
  }
  void CountDownload(long bytes) override {
    if (ch_.tdb && ch_.tdb->userdb.MaxDownload != 0) ch_.maxdnld += bytes;
  }
  void ShowProgress(const TransferProgress& progress) override {
    TransferProgress p = progress;
    p.port = ch_.TncPortNumber + 1;
    p.channel = ch_.ChannelNumber;
    p.call = ch_.UserCall;
    ch_.view().ShowTransfer(p);
  }
  void CloseProgress() override { ch_.view().CloseTransfer(); }

 private:
  TChannel& ch_;
};

// What follows the two command letters, leading blanks removed, with its CR.
std::string ParamWithCr(const char* line) {
  std::string p = line + std::min<size_t>(2, std::strlen(line));
  const size_t first = p.find_first_not_of(' ');
  p.erase(0, first == std::string::npos ? p.size() : first);
  return p;
}

std::string DropCr(std::string s) {
  if (!s.empty() && s.back() == '\r') s.pop_back();
  return s;
}

void Erase(TChannel& ch, const std::string& name) {
  MDIClient& client = ch.client();
  const Config& cfg = client.cfg();
  const std::string path = AreaPath(JoinPath(cfg.bbspath, cfg.binpath), name);
  if (path.empty() || !FileExists(path)) {
    ch.EndService("\r");
    return;
  }
  if (!InUploadList(ch.recentyapp, name)) {
    ch.EndService(ch.lang.notauthorized);
    return;
  }
  if (::unlink(ResolveCase(path).c_str()) != 0) {
    ch.EndService("Error..\r");
    return;
  }
  ch.EndService(ch.lang.hasbeenerased);
  client.log().writelog(65, 0, ch.UserCallOnly, "Erase");
  client.log().writefile(cfg.BinPath, name);
}

void StartTransfer(TChannel& ch, const std::string& param, int what) {
  auto xfer = std::make_unique<TYappXfer>(ChannelYappHost(ch), param, what);
  if (!xfer->Proceed()) return;
  if (what == kYappUpload) AddToUploadList(ch.recentyapp, sizeof ch.recentyapp, DropCr(param));
  ch.yapp = std::move(xfer);
}

}  // namespace

std::unique_ptr<YappHost> ChannelYappHost(TChannel& ch) { return std::make_unique<ChannelYapp>(ch); }

void YappCommand(TChannel& ch, const char* line) {
  ch.Service = 1000;
  const std::string param = ParamWithCr(line);
  switch (line[1]) {
    case '\r':
    case '\0':
      ch.EndService(ch.lang.notenoughparameters);
      return;
    case 'W': {
      const Config& cfg = ch.client().cfg();
      ch.EndService(PrepareDir(param, JoinPath(cfg.bbspath, cfg.binpath), "*.*", kListFull, ch.lang.filesavailable,
                               ch.lang.nofilesfound));
      return;
    }
    case 'D':
    case 'U':
      // A name of blanks is no name either.
      if (line[2] == '\r' || param.empty() || param[0] == '\r') {
        ch.EndService(ch.lang.notenoughparameters);
        return;
      }
      StartTransfer(ch, param, line[1] == 'U' ? kYappUpload : kYappDownload);
      return;
    case 'Z':
      Erase(ch, DropCr(param));
      return;
    default:
      ch.EndService(ch.lang.invalidparameters);
      return;
  }
}

void TChannel::CancelTransfer() {
  if (!yapp || (Service != kServiceYappReceive && Service != kServiceYappSend)) return;
  yapp->AbortByOperator();
  DecodeService();
}

}  // namespace orn
