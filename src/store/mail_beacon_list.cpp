#include "store/mail_beacon_list.h"

#include "platform/file_names.h"
#include "platform/text.h"
#include "store/callsign.h"

namespace orn {

const char* const kMailBeaconFile = "mail.adb";
const char* const kFreeMailsCall = "      ";

namespace {
constexpr size_t kMailBeaconMax = 3011;
}  // namespace

UpdatemsgBeacon::UpdatemsgBeacon(const std::string& dir) { msgbeaconfile.Open(JoinPath(dir, kMailBeaconFile)); }

UpdatemsgBeacon::~UpdatemsgBeacon() { msgbeaconfile.Close(); }

long UpdatemsgBeacon::Find(const std::string& key) {
  char buf[kMailsSize];
  for (long position = 1;; ++position) {
    if (msgbeaconfile.ReadAt((position - 1) * static_cast<int64_t>(kMailsSize), buf, sizeof buf) != sizeof buf)
      return 0;
    Mails r;
    DecodeMails(buf, &r);
    if (key == r.call) {
      mails = r;
      return position;
    }
  }
}

long UpdatemsgBeacon::InList(const std::string& call) {
  const std::string key = CallKey(call);
  // A key that is blank would find the free records.
  if (key.empty() || key == kFreeMailsCall) return 0;
  return Find(key);
}

long UpdatemsgBeacon::FindAPlace() { return Find(kFreeMailsCall); }

bool UpdatemsgBeacon::WriteToFile(long position) {
  if (position <= 0) position = 1;
  char buf[kMailsSize];
  EncodeMails(mails, buf);
  return msgbeaconfile.Seek((position - 1) * static_cast<int64_t>(kMailsSize)) &&
         msgbeaconfile.Write(buf, sizeof buf);
}

void UpdatemsgBeacon::PutCallInList(const std::string& call) {
  const std::string key = CallKey(call);
  if (!is_open() || !CallIsValid(key)) return;
  long position = InList(key);
  if (position) {
    ++mails.howmany;
  } else {
    position = FindAPlace();
    if (!position) position = static_cast<long>(msgbeaconfile.Size() / kMailsSize) + 1;
    CopyField(mails.call, key);
    mails.howmany = 1;
  }
  WriteToFile(position);
}

void UpdatemsgBeacon::RemoveCallFromList(const std::string& call) {
  const long position = InList(call);
  if (!position) return;
  if (--mails.howmany <= 0) {
    mails.howmany = 0;
    CopyField(mails.call, kFreeMailsCall);
  }
  WriteToFile(position);
}

std::string UpdatemsgBeacon::FormatMailBeacon() const {
  std::string text;
  char buf[kMailsSize];
  for (int64_t offset = 0; msgbeaconfile.ReadAt(offset, buf, sizeof buf) == sizeof buf; offset += kMailsSize) {
    Mails r;
    DecodeMails(buf, &r);
    if (kFreeMailsCall != FieldText(r.call)) text += r.call;
    text += ' ';
    if (text.size() > kMailBeaconMax) break;
  }
  if (!text.empty()) text.pop_back();
  return Cut(text, kMailBeaconMax + 1);
}

void DecideIfWePutTheMsgInMailBeacon(UpdatemsgBeacon& list, MsgCounters& counters, const std::string& oldStatus,
                                     const std::string& newStatus, const std::string& call) {
  if (oldStatus == newStatus) return;
  // The counters as a recount would find them: every message but a killed
  // one is active, and the held ones are counted apart as well.
  if (newStatus == "K") --counters.activemsg;
  if (oldStatus == "K") ++counters.activemsg;
  if (newStatus == "H") ++counters.heldmsg;
  if (oldStatus == "H") --counters.heldmsg;
  if (newStatus == "N") {
    list.PutCallInList(call);
    return;
  }
  list.RemoveCallFromList(call);
}

}  // namespace orn
