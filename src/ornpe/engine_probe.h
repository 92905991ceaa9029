// Asking a real packet engine for its port list before ornpe numbers its
// ports.
#pragma once

#include <string>

namespace orn {

// Connects to host:port, asks 'G' and waits for the answer (at most
// `timeoutMs` for each step). True with the engine's text in `*text`, or
// false with what went wrong in `*why`.
bool AskPortList(const std::string& host, int port, int timeoutMs, std::string* text, std::string* why);

}  // namespace orn
