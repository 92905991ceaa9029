// The date and time texts of records, routing headers and tokens, all from
// the local calendar time of the BBS's clock, the year reduced to its last
// two digits.
#pragma once

#include <string>

#include "platform/clock.h"

namespace orn {

// Mode 0: YYMMDD ("970507"); mode 1: YY/MM/DD ("97/05/07").
std::string GetDate(const Clock& clock, int mode);
// Mode 0: HHMM ("1530"); mode 1: HH:MM ("15:30").
std::string GetTime(const Clock& clock, int mode);
// HHMM/YYMMDD ("1530/970507"), the MsgDate of a new message.
std::string FormatMsgDateTime(const Clock& clock);

}  // namespace orn
