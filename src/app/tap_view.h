// A display that shows everything on another display and also hands the
// text of every channel window (and the monitor) as whole lines to a
// listener: the sysop's "ornctl monitor" follows the BBS this way, whichever
// display it has.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "context/views.h"

namespace orn {

class TapView : public MainView {
 public:
  explicit TapView(MainView& inner) : inner_(inner) {}

  // Each line as "[index caption] text", as the headless display writes it;
  // status changes as "status: text".
  std::function<void(const std::string& line)> onLine;
  // The same lines by channel (table index, 0 the monitor) and text alone,
  // a station's page as it comes, and which of the lists the sysop may have
  // open has changed: "status", "msgs" or "users" (the web console).
  std::function<void(int index, const std::string& text)> onChannelLine;
  std::function<void(int index, const std::string& text)> onPage;
  std::function<void(const char* what)> onChanged;

  void MessageBox(const std::string& caption, const std::string& text, Icon icon) override {
    inner_.MessageBox(caption, text, icon);
  }
  bool Question(const std::string& caption, const std::string& text, bool def) override {
    return inner_.Question(caption, text, def);
  }
  void SetStatusText(const std::string& text) override;
  void SetStatusField(int field, const std::string& text) override { inner_.SetStatusField(field, text); }
  void SetSplashText(const std::string& text) override { inner_.SetSplashText(text); }
  void CloseSplash() override { inner_.CloseSplash(); }
  void SetConnectionIndicator(bool on) override { inner_.SetConnectionIndicator(on); }
  void SetAnimationFrame(int frame) override { inner_.SetAnimationFrame(frame); }
  // Without it a headless BBS would run the desktop's animation timer.
  bool HasDisplay() const override { return inner_.HasDisplay(); }
  void FlashTx() override { inner_.FlashTx(); }
  void FlashRx() override { inner_.FlashRx(); }
  void Notice(const std::string& caption, const std::string& text) override { inner_.Notice(caption, text); }
  void PageRequest(int tableIndex, const std::string& text, const std::string& command) override {
    inner_.PageRequest(tableIndex, text, command);
    if (onPage) onPage(tableIndex, text);
  }
  void PageEnded(int tableIndex) override { inner_.PageEnded(tableIndex); }
  std::unique_ptr<ChannelView> CreateChannelView(int tableIndex) override;
  void RefreshUserList(long position) override {
    inner_.RefreshUserList(position);
    Changed("users");
  }
  void RefreshMsgList(long position) override {
    inner_.RefreshMsgList(position);
    Changed("msgs");
  }
  void SetMailIndicator(bool mail) override { inner_.SetMailIndicator(mail); }
  void PlaySound(const std::string& file) override { inner_.PlaySound(file); }
  void Cascade() override { inner_.Cascade(); }

  void Emit(const std::string& line) {
    if (onLine) onLine(line);
  }
  void EmitChannel(int index, const std::string& text) {
    if (onChannelLine) onChannelLine(index, text);
  }
  void Changed(const char* what) {
    if (onChanged) onChanged(what);
  }

 private:
  MainView& inner_;
  std::string status_;
};

}  // namespace orn
