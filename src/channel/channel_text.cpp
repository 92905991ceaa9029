// Text shown in the receive panes of the channel and monitor windows.
#include <algorithm>
#include <string>

#include "channel/channel.h"
#include "channel/mdi_client.h"

namespace orn {
namespace {

constexpr size_t kMaxShown = 2048;

// Carriage returns end lines on the air; a pane wants line feeds. A carriage
// return followed by a line feed is one line end.
std::string PaneLines(const char* data, size_t n) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    if (data[i] == '\r') {
      out += '\n';
      if (i + 1 < n && data[i + 1] == '\n') ++i;
    } else if (data[i] != '\0') {
      out += data[i];
    }
  }
  return out;
}

}  // namespace

void MDIClient::ShowToChannel(TChannel& chan, const char* Data, int size, TextKind kind) {
  if (size <= 0) return;
  chan.CheckMaxInInputWindow();
  const std::string ansi = cp_.OemToAnsi(PaneLines(Data, std::min(static_cast<size_t>(size), kMaxShown)));
  chan.CountInputLines(ansi);
  chan.view().AppendText(cp_.AnsiToUtf8(ansi), kind);
}

void MDIClient::ShowToMonitor(const char* Data, int size) {
  TChannel* monitor = channel(0);
  if (!monitor || size <= 0) return;
  monitor->CheckMaxInInputWindow();
  const size_t n = std::min(static_cast<size_t>(size), kMaxShown);
  const std::string raw(Data, n);
  const size_t eol = raw.find('\r');
  const size_t split = eol == std::string::npos ? raw.size() : eol + 1;
  auto show = [&](const std::string& part, TextKind kind) {
    if (part.empty()) return;
    std::string text = PaneLines(part.data(), part.size());
    if (cfg_.OEMANSI) text = cp_.OemToAnsi(text);
    monitor->CountInputLines(text);
    monitor->view().AppendText(cp_.AnsiToUtf8(text), kind);
  };
  show(raw.substr(0, split), TextKind::MonitorHeader);
  show(raw.substr(split), TextKind::MonitorInfo);
}

}  // namespace orn
