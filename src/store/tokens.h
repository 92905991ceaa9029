// The "$" tokens of greetings, prompts, beacons and routing headers.
//
// The text is copied left to right. "$" and a token letter give the token's
// value, and the character after the letter is then copied as it stands,
// without being looked at (so "$D$T" gives the date, "$" and "T"). "$" and
// any other character give that character; "$$" gives "$"; a "$" at the end
// is dropped. On the monitor window the user tokens ($H $N $U $E $L $l) are
// not expanded: they give their letter. The result holds at most 4999
// characters.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/code_pages.h"
#include "store/counters.h"
#include "store/records.h"

namespace orn {

class UpdatemsgBeacon;

// A station connected on a channel, for $M.
struct ConnectedStation {
  int portIndex = 0;  // 0-based; shown plus one, as captions show it
  int channel = 0;    // 1-based within the port
  std::string call;   // with SSID
};

// What a channel knows that its tokens need. Pointers may be null: the
// token then expands to nothing (or 0 for the counters).
struct TokenContext {
  const Clock* clock = nullptr;            // $D $d $T $t
  const MsgCounters* counters = nullptr;   // $A $B $C
  std::string ownCall;                     // $V: the BBS's callsign without SSID
  std::string sysopName;                   // $S
  bool monitor = false;                    // the monitor window: no user tokens
  const UserDB* user = nullptr;            // $H $N $L $l: the channel's current user record
  const MsgDB* msg = nullptr;              // $b: the channel's current message record
  std::string userCall;                    // $U: the connected callsign without SSID
  int channelNumber = 0;                   // $E
  const CodePages* ansiToOem = nullptr;    // $N is converted when given (OEMANSI on)
  // $M: the stations connected on channels from entry 1 of the channel table
  // on, headed by the language text `nousage`.
  std::function<std::vector<ConnectedStation>()> connected;
  std::string nousage;
  UpdatemsgBeacon* mailBeacon = nullptr;  // $q
};

std::string wildcards(const TokenContext& ctx, const std::string& text);
// In place, for a text in a buffer of `size` bytes; the result is cut to fit.
void wildcards(const TokenContext& ctx, char* text, size_t size);

}  // namespace orn
