#include "admin/msg_admin.h"

#include "store/callsign.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"
#include "store/date_time.h"
#include "store/mail_beacon_list.h"
#include "store/msg_text.h"
#include "store/new_message.h"
#include "store/store.h"

namespace orn {
namespace {

std::string Before(const std::string& s, char c) { return s.substr(0, s.find(c)); }

bool Contains(const char* field, const std::string& text) {
  return std::string(field).find(UpperAscii(text)) != std::string::npos;
}

bool Filled(const char* field) { return !Trim(field).empty(); }

}  // namespace

// A message needs an addressee and a sender; a BID is made when the message
// is first forwarded, so a private message or a reply may go without one.
std::string MissingMsgField(const MsgDB& m) {
  if (!Filled(m.ToStation)) return "To";
  if (!Filled(m.FromStation)) return "From";
  return "";
}

namespace {

}  // namespace

std::vector<MsgRow> AllMsgs(const TOrnDbase& db) {
  std::vector<MsgRow> rows;
  db.ScanMsgs([&](long pos, const MsgDB& m) {
    rows.push_back({pos, m});
    return true;
  });
  return rows;
}

bool MailForSysop(const TOrnDbase& db, const std::string& ownCall) {
  bool mail = false;
  db.ScanMsgs([&](long, const MsgDB& m) {
    mail = m.Status[0] == 'N' && CallKey(FieldText(m.ToStation)) == ownCall;
    return !mail;
  });
  return mail;
}

namespace {

bool Passes(const MsgFilter& f, const std::string& type, const std::string& status, const MsgDB& m) {
  return (f.from.empty() || Contains(m.FromStation, f.from)) && (f.to.empty() || Contains(m.ToStation, f.to)) &&
         (type.empty() || type == m.Type) && (status.empty() || status == m.Status) &&
         (f.at.empty() || Contains(m.AtBbs, f.at)) && (!f.number || m.MsgNo == f.number) &&
         (f.mine.empty() || Before(m.ToStation, '.') == f.mine);
}

}  // namespace

std::vector<MsgRow> FilterMsgs(const TOrnDbase& db, const MsgFilter& f) {
  std::vector<MsgRow> rows;
  const std::string type = UpperAscii(f.type), status = UpperAscii(f.status);
  db.ScanMsgs([&](long pos, const MsgDB& m) {
    if (Passes(f, type, status, m)) rows.push_back({pos, m});
    return true;
  });
  return rows;
}

const char* const kMsgSearchNames[7] = {"MsgNo", "Type", "Status", "< From", "> to", "@ At", "List Mine"};
const char* const kMsgStatusNames[5] = {"N-unread", "Y-read", "H-eld", "O-ld", "K-illed"};
const char* const kMsgTypeNames[5] = {" -none", "P-rivate", "B-ulletin", "T-raffic", "H-tml"};
const char* const kMsgSortFields[10] = {"MsgNo",      "Type",   "Status",  "Size",       "ToStation",
                                        "FromStation", "AtBbs", "MsgDate", "MsgSubject", "Bid"};

namespace {

// A passing message's place and what it is sorted by; text keys are kept
// beside, only when the sort is by text.
struct SortKey {
  long pos;
  int32_t number;
  int64_t value;  // numeric fields and the file order; the index of the text key
};

std::string TextKey(const MsgDB& m, int field) {
  switch (field) {
    case 1: return FieldText(m.Type);
    case 2: return FieldText(m.Status);
    case 4: return FieldText(m.ToStation);
    case 5: return FieldText(m.FromStation);
    case 6: return FieldText(m.AtBbs);
    case 7: {
      // "HHMM/YYMMDD": the day first, then the time.
      const std::string d = FieldText(m.MsgDate);
      return d.size() > 5 ? d.substr(5) + d.substr(0, 4) : d;
    }
    case 8: return FieldText(m.MsgSubject);
    default: return FieldText(m.Bid);
  }
}

}  // namespace

bool PageMsgs(TOrnDbase& db, const MsgFilter& f, const std::string& field, bool desc, size_t offset, size_t limit,
              MsgPage* page) {
  int index = -1;
  for (int i = 0; i < 10; ++i)
    if (field == kMsgSortFields[i]) index = i;
  if (!field.empty() && index < 0) return false;
  const std::string type = UpperAscii(f.type), status = UpperAscii(f.status);
  const bool text = index > 0 && index != 3;
  std::vector<SortKey> keys;
  std::vector<std::string> texts;
  db.ScanMsgs([&](long pos, const MsgDB& m) {
    if (!Passes(f, type, status, m)) return true;
    SortKey k{pos, m.MsgNo, static_cast<int64_t>(keys.size())};
    if (index == 0) k.value = m.MsgNo;
    if (index == 3) k.value = m.Size;
    if (text) texts.push_back(TextKey(m, index));
    keys.push_back(k);
    return true;
  });
  page->total = keys.size();
  page->rows.clear();
  const size_t end = offset >= keys.size() ? keys.size() : std::min(keys.size(), offset + limit);
  auto less = [&](const SortKey& a, const SortKey& b) {
    int c = text ? texts[static_cast<size_t>(a.value)].compare(texts[static_cast<size_t>(b.value)])
                 : (a.value > b.value) - (a.value < b.value);
    if (c == 0) c = (a.number > b.number) - (a.number < b.number);
    return desc ? c > 0 : c < 0;
  };
  // Only the keys up to the page's end need their order.
  std::partial_sort(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(end), keys.end(), less);
  for (size_t i = offset; i < end; ++i) {
    MsgDB m{};
    MsgDBidx idx{};
    if (db.ReadFromFile(keys[i].pos, m, idx)) page->rows.push_back({keys[i].pos, m});
  }
  return true;
}

std::vector<MsgRow> SearchMsgs(TOrnDbase& db, MsgSearch how, const std::string& text, const std::string& ownCall) {
  std::vector<MsgRow> rows;
  if (how == MsgSearch::kMsgNo) {
    const long number = std::atol(text.c_str());
    const long pos = db.SearchBinary(number);
    MsgDB m{};
    MsgDBidx i{};
    if (number > 0 && db.ReadFromFile(pos, m, i) && m.MsgNo == number) rows.push_back({pos, m});
    return rows;
  }
  db.ScanMsgs([&](long pos, const MsgDB& m) {
    bool match = false;
    switch (how) {
      case MsgSearch::kType: match = text == m.Type; break;
      case MsgSearch::kStatus: match = text == m.Status; break;
      case MsgSearch::kFrom: match = Contains(m.FromStation, text); break;
      case MsgSearch::kTo: match = Contains(m.ToStation, text); break;
      case MsgSearch::kAt: match = Contains(m.AtBbs, text); break;
      case MsgSearch::kMine: match = Before(m.ToStation, '.') == ownCall; break;
      case MsgSearch::kMsgNo: break;
    }
    if (match) rows.push_back({pos, m});
    return true;
  });
  return rows;
}

namespace {

// The record of message `number` into db.msgdb and its position; 0 when
// there is none.
long Find(TOrnDbase& db, long number) {
  const long pos = db.SearchBinary(number);
  MsgDB m{};
  MsgDBidx i{};
  if (number <= 0 || !db.ReadFromFile(pos, m, i) || m.MsgNo != number) return 0;
  db.msgdb = m;
  db.msgidx = i;
  db.mpos = pos;
  return pos;
}

}  // namespace

bool KillMsg(const MsgAdminContext& ctx, TOrnDbase& db, long number) {
  const long pos = Find(db, number);
  if (!pos) return false;
  MsgDB m = db.msgdb;
  const std::string old = m.Status;
  if (old == "K") return true;
  CopyField(m.Status, "K");
  if (!db.WriteToFile(pos, m)) return false;
  db.msgdb = m;
  if (ctx.RemFwd) ctx.RemFwd(number);
  if (ctx.store) {
    if (UpdatemsgBeacon* list = ctx.store->MsgBeacon()) {
      DecideIfWePutTheMsgInMailBeacon(*list, ctx.store->counters, old, "K", m.ToStation);
    } else {
      --ctx.store->counters.activemsg;
      if (old == "H") --ctx.store->counters.heldmsg;
    }
  }
  return true;
}

MsgEditResult UpdateMsg(const MsgAdminContext& ctx, TOrnDbase& db, const MsgDB& edited) {
  if (!MissingMsgField(edited).empty()) return MsgEditResult::kFillAllFields;
  const long pos = Find(db, edited.MsgNo);
  if (!pos) return MsgEditResult::kNotFound;
  const std::string old = db.msgdb.Status;
  if (!db.WriteToFile(pos, edited)) return MsgEditResult::kNotStored;
  db.msgdb = edited;
  if (ctx.store && old != edited.Status) {
    if (UpdatemsgBeacon* list = ctx.store->MsgBeacon())
      DecideIfWePutTheMsgInMailBeacon(*list, ctx.store->counters, old, edited.Status, edited.ToStation);
  }
  return MsgEditResult::kStored;
}

HoldResult HoldMsg(const MsgAdminContext& ctx, TOrnDbase& db, long number, bool hold) {
  if (!Find(db, number)) return HoldResult::kNotFound;
  MsgDB m = db.msgdb;
  const char old = m.Status[0];
  if (!hold && old != 'H') return HoldResult::kNotHeld;
  if (hold && old == 'K') return HoldResult::kKilled;
  if (hold && old == 'H') return HoldResult::kAlready;
  CopyField(m.Status, hold ? "H" : "N");
  switch (UpdateMsg(ctx, db, m)) {
    case MsgEditResult::kStored: break;
    case MsgEditResult::kFillAllFields: return HoldResult::kFillAllFields;
    default: return HoldResult::kNotStored;
  }
  if (hold) {
    if (ctx.RemFwd) ctx.RemFwd(number);
  } else if (ctx.Route) {
    ctx.Route(m);
  }
  return HoldResult::kDone;
}

MsgEditResult UpdateMsg(const MsgAdminContext& ctx, TOrnDbase& db, const MsgDB& edited, const std::string& text) {
  if (!MissingMsgField(edited).empty()) return MsgEditResult::kFillAllFields;
  if (!ctx.store || !Find(db, edited.MsgNo)) return MsgEditResult::kNotFound;
  // The text first: a record must never claim a size its file does not have.
  const long size = WriteMsgText(ctx.store->site().mailDir, edited.MsgNo, text);
  if (size < 0) return MsgEditResult::kNotStored;
  MsgDB m = edited;
  m.Size = static_cast<int32_t>(size);
  return UpdateMsg(ctx, db, m);
}

MsgEditResult StoreNewMsg(const MsgAdminContext& ctx, TOrnDbase& db, MsgDB& m, const std::string& text,
                          const std::string& bidCall) {
  if (!ctx.store || !ctx.clock) return MsgEditResult::kNotStored;
  switch (StoreNewMessage(*ctx.store, db, *ctx.clock, m, text, bidCall, MsgOrigin{})) {
    case NewMsgResult::kStored:
      return MsgEditResult::kStored;
    case NewMsgResult::kKnownBid:
      return MsgEditResult::kKnownBid;
    case NewMsgResult::kNotStored:
      break;
  }
  return MsgEditResult::kNotStored;
}

MsgEditResult CreateMsg(const MsgAdminContext& ctx, TOrnDbase& db, MsgDB& m, const std::string& text) {
  if (!MissingMsgField(m).empty()) return MsgEditResult::kFillAllFields;
  std::string body;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    body += text[i];
  }
  if (!body.empty() && body.back() != '\n') body += '\n';
  const std::string header = ctx.routingHeader ? ctx.routingHeader() : std::string();
  return StoreNewMsg(ctx, db, m, MsgTextHead(header, m) + body);
}

bool PrepareReply(const MsgDB& original, const std::string& ownCall, MsgDB* reply) {
  if (std::string(original.ToStation).find(ownCall) == std::string::npos) return false;
  *reply = MsgDB{};
  CopyField(reply->Type, "P");
  CopyField(reply->Status, "N");
  CopyField(reply->ToStation, FieldText(original.FromStation));
  CopyField(reply->FromStation, FieldText(original.ToStation));
  CopyField(reply->MsgSubject, "RE:" + FieldText(original.MsgSubject));
  return true;
}

}  // namespace orn
