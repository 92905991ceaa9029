#include "app/headless_view.h"

#include "platform/text.h"

#include <algorithm>

namespace orn {
namespace {

class HeadlessChannelView : public ChannelView {
 public:
  HeadlessChannelView(std::FILE* out, int index) : out_(out), index_(index) {}

  void SetCaption(const std::string& caption) override { caption_ = caption; }
  void AppendText(const std::string& text, TextKind) override {
    if (!out_) return;
    if (LooksBinary(text)) {
      // Forwarding blocks and YAPP packets would reach the journal or the
      // terminal as raw control bytes: they are counted instead.
      if (!pending_.empty()) Flush();
      pending_ = "<binary data, " + std::to_string(text.size()) + " bytes>";
      Flush();
      return;
    }
    for (char c : text) {
      if (c == '\n' || c == '\r') {
        Flush();
      } else {
        pending_ += c;
      }
    }
    if (!pending_.empty() && pending_.size() > 4096) Flush();
  }
  void ClearText() override {}
  void SetLabel(const std::string&, const std::string&) override {}
  ~HeadlessChannelView() override {
    if (!pending_.empty()) Flush();
  }

 private:
  void Flush() {
    std::fprintf(out_, "[%d %s] %s\n", index_, caption_.c_str(), pending_.c_str());
    std::fflush(out_);
    pending_.clear();
  }

  std::FILE* out_;
  int index_;
  std::string caption_;
  std::string pending_;
};

}  // namespace

std::string OneLine(const std::string& caption, const std::string& text) {
  std::string line = caption + ": ";
  for (char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
  return line;
}

void HeadlessView::MessageBox(const std::string& caption, const std::string& text, Icon) {
  std::fprintf(errors_, "%s\n", OneLine(caption, text).c_str());
  std::fflush(errors_);
}

void HeadlessView::SetStatusText(const std::string& text) {
  if (text == status_) return;
  status_ = text;
  if (!statusOut_) return;
  std::fprintf(statusOut_, "status: %s\n", text.c_str());
  std::fflush(statusOut_);
}

bool HeadlessView::Question(const std::string& caption, const std::string& text, bool def) {
  std::fprintf(errors_, "%s [%s]\n", OneLine(caption, text).c_str(), def ? "yes" : "no");
  std::fflush(errors_);
  return def;
}

void HeadlessView::PageRequest(int, const std::string& text, const std::string& command) {
  // "ornctl talk 1-2" declines as "ornctl page decline 1-2".
  const std::string channel = command.substr(command.rfind(' ') + 1);
  std::fprintf(errors_, "Chat Request..: %s Answer: %s, decline: ornctl page decline %s\n", text.c_str(),
               command.c_str(), channel.c_str());
  std::fflush(errors_);
}

std::unique_ptr<ChannelView> HeadlessView::CreateChannelView(int tableIndex) {
  return std::make_unique<HeadlessChannelView>(channels_, tableIndex);
}

}  // namespace orn
