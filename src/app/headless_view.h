// The display of a BBS without a screen: each message box is one line on
// standard error ("caption: text"), questions take their default answer, the
// status-bar text goes to a status stream when it changes, and the text of
// every channel window, where the sysop asked for it, to a channel stream,
// one line per line, prefixed by the window's caption.
// Binary data (forwarding blocks, YAPP) shows as one line with its size.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "context/views.h"

namespace orn {

class HeadlessView : public MainView {
 public:
  // `errors` takes the message boxes, `channels` the channel text and
  // `status` the status changes (either may be null: not shown).
  HeadlessView(std::FILE* errors, std::FILE* channels, std::FILE* status)
      : errors_(errors), channels_(channels), statusOut_(status) {}
  HeadlessView(std::FILE* errors, std::FILE* channels) : HeadlessView(errors, channels, channels) {}

  void MessageBox(const std::string& caption, const std::string& text, Icon icon) override;
  bool Question(const std::string& caption, const std::string& text, bool def) override;
  // Status changes go to the status stream as "status: <text>".
  void SetStatusText(const std::string& text) override;
  // A page is one line on `errors`, the journal of a BBS run as a service:
  // who pages, on which channel, and the commands that answer it.
  void PageRequest(int tableIndex, const std::string& text, const std::string& command) override;
  std::unique_ptr<ChannelView> CreateChannelView(int tableIndex) override;
  bool HasDisplay() const override { return false; }

  const std::string& status() const { return status_; }

 private:
  std::FILE* errors_;
  std::FILE* channels_;
  std::FILE* statusOut_;
  std::string status_;
};

// One line for a message box: line breaks become blanks.
std::string OneLine(const std::string& caption, const std::string& text);

}  // namespace orn
