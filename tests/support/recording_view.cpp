#include "support/recording_view.h"

namespace orn::test {
namespace {

class RecordingChannelView : public ChannelView {
 public:
  explicit RecordingChannelView(std::shared_ptr<RecordedChannel> rec) : rec_(std::move(rec)) {}
  void SetCaption(const std::string& caption) override { rec_->caption = caption; }
  void AppendText(const std::string& text, TextKind) override { rec_->text += text; }
  void ClearText() override {
    rec_->text.clear();
    ++rec_->clears;
  }
  void SetLabel(const std::string& label, const std::string& value) override { rec_->labels[label] = value; }

 private:
  std::shared_ptr<RecordedChannel> rec_;
};

}  // namespace

std::unique_ptr<ChannelView> RecordingView::CreateChannelView(int tableIndex) {
  auto rec = std::make_shared<RecordedChannel>();
  channels[tableIndex] = rec;
  return std::make_unique<RecordingChannelView>(rec);
}

bool ManualTimers::SetTimer(int id, int periodMs, TimerClient* client) {
  if (id >= refuseFrom || timers.count(id)) return false;
  timers[id] = {periodMs, client};
  return true;
}

void ManualTimers::FireAll() {
  auto copy = timers;
  for (auto& [id, t] : copy) t.client->OnTimer(id);
}

void ManualTimers::Fire(int id) {
  auto it = timers.find(id);
  if (it != timers.end()) it->second.client->OnTimer(id);
}

}  // namespace orn::test
