// The rules of a connect entry that decide which queued messages a partner
// is sent, and when the entry applies.
#pragma once

#include <string>

#include "store/records.h"

namespace orn {

// Day count of the date in a "HHMM/YYMMDD" text, as the age rule counts
// days; -1 when the text holds no such date.
long DayCount(const std::string& text);

// The size rule of a connect entry: "N", "<N" or ">N" kilobytes, 0 or empty
// meaning no limit.
bool SizeFits(const Howtoconnect& entry, long size);

// The age rule: a message older than `daysago` days stays queued.
bool AgeFits(const Howtoconnect& entry, const UserFwdPriv& slot, long today);

// A queue slot whose message may still be offered.
bool Offerable(const UserFwdPriv& slot);

// Whether the entry's hour window ("SSEE", start and end hour) holds `hour`.
// A window that is not four digits, or starts after it ends, never applies.
bool HourWindowHas(const Howtoconnect& entry, int hour);

// The first of the connect entries whose hour window holds `hour`; -1 when
// none does.
int EntryForHour(const UserDB& u, int hour);

}  // namespace orn
