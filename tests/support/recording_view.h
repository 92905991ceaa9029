// A display that remembers what the core showed, for assertions.
#pragma once

#include <map>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "context/views.h"

namespace orn::test {

struct RecordedChannel {
  std::string caption;
  std::string text;  // everything appended since the last clear
  int clears = 0;
  std::map<std::string, std::string> labels;
};

class RecordingView : public MainView {
 public:
  void MessageBox(const std::string& caption, const std::string& text, Icon) override {
    boxes.push_back(caption + ": " + text);
  }
  bool Question(const std::string& caption, const std::string& text, bool def) override {
    questions.push_back(caption + ": " + text);
    return answer.value_or(def);
  }
  void SetStatusText(const std::string& text) override { status = text; }
  void SetStatusField(int field, const std::string& text) override { fields[field] = text; }
  void SetConnectionIndicator(bool on) override { connectionIndicator = on; }
  void RefreshMsgList(long position) override { msgRows.push_back(position); }
  void SetMailIndicator(bool mail) override { mailIndicator = mail; }
  void Notice(const std::string& caption, const std::string& text) override {
    notices.push_back(caption + ": " + text);
  }
  // Pending pages by channel: "text | command".
  void PageRequest(int tableIndex, const std::string& text, const std::string& command) override {
    pages[tableIndex] = text + " | " + command;
    ++pageRequests;
  }
  void PageEnded(int tableIndex) override { pages.erase(tableIndex); }
  std::unique_ptr<ChannelView> CreateChannelView(int tableIndex) override;
  bool HasDisplay() const override { return display; }
  bool display = true;  // false: a BBS without a screen

  RecordedChannel& channel(int index) { return *channels.at(index); }

  std::vector<std::string> boxes, questions, notices;
  std::map<int, std::string> pages;
  int pageRequests = 0;
  std::string status;
  std::map<int, std::string> fields;
  bool connectionIndicator = false;
  std::vector<long> msgRows;  // message-list rows refreshed, by record position
  std::optional<bool> mailIndicator;
  std::optional<bool> answer;
  std::map<int, std::shared_ptr<RecordedChannel>> channels;
};

// Timers that only fire when a test says so.
class ManualTimers : public TimerHost {
 public:
  bool SetTimer(int id, int periodMs, TimerClient* client) override;
  void KillTimer(int id) override { timers.erase(id); }
  // Fires every running timer once, in identifier order.
  void FireAll();
  void Fire(int id);

  struct Timer {
    int periodMs;
    TimerClient* client;
  };
  std::map<int, Timer> timers;
  int refuseFrom = 100000;  // identifiers at or above this are refused
};

}  // namespace orn::test
