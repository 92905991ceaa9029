#include "app/tap_view.h"

namespace orn {
namespace {

class TapChannelView : public ChannelView {
 public:
  TapChannelView(std::unique_ptr<ChannelView> inner, TapView& tap, int index)
      : inner_(std::move(inner)), tap_(tap), index_(index) {}

  void SetCaption(const std::string& caption) override {
    // Who is on a channel is part of the status.
    if (caption != caption_) tap_.Changed("status");
    caption_ = caption;
    inner_->SetCaption(caption);
  }
  void AppendText(const std::string& text, TextKind kind) override {
    inner_->AppendText(text, kind);
    for (char c : text) {
      if (c == '\n' || c == '\r') {
        Flush();
      } else {
        pending_ += c;
      }
    }
    if (pending_.size() > 4096) Flush();
  }
  void ClearText() override { inner_->ClearText(); }
  void SetLabel(const std::string& label, const std::string& value) override { inner_->SetLabel(label, value); }
  void SetVisible(bool v) override { inner_->SetVisible(v); }
  void SetControls(ChannelControls* c) override { inner_->SetControls(c); }
  void ShowTerminal(bool on) override { inner_->ShowTerminal(on); }
  void ShowTransfer(const TransferProgress& p) override { inner_->ShowTransfer(p); }
  void CloseTransfer() override { inner_->CloseTransfer(); }

 private:
  void Flush() {
    std::string line(1, '[');
    line += std::to_string(index_);
    line += ' ';
    line += caption_;
    line += "] ";
    line += pending_;
    tap_.Emit(line);
    tap_.EmitChannel(index_, pending_);
    pending_.clear();
  }

  std::unique_ptr<ChannelView> inner_;
  TapView& tap_;
  int index_;
  std::string caption_;
  std::string pending_;
};

}  // namespace

void TapView::SetStatusText(const std::string& text) {
  inner_.SetStatusText(text);
  if (text == status_) return;
  status_ = text;
  Emit("status: " + text);
  Changed("status");
}

std::unique_ptr<ChannelView> TapView::CreateChannelView(int tableIndex) {
  return std::make_unique<TapChannelView>(inner_.CreateChannelView(tableIndex), *this, tableIndex);
}

}  // namespace orn
