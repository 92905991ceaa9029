#include "support/mailbox_session.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>

#include "platform/file_names.h"
#include "platform/text.h"
#include "store/msg_text.h"
#include "store/orn_dbase.h"

namespace orn::test {
namespace {

StoreSite Site(const TestDir& dir) { return StoreSite{dir.path(), dir / "MAIL", "XX9ORN", ""}; }

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

long MailboxSession::AddMsg(const StoredMsg& m) {
  for (const char* f : {"USERS.ADB", "USERS.IDX", "MSG.ADB", "MSG.IDX"}) CreateFileIfDontExist(dir_ / f);
  ::mkdir((dir_ / "MAIL").c_str(), 0755);
  TOrnDbase db(Site(dir_));
  EXPECT_TRUE(db.OpenMsgFile());
  const long number = 1001 + db.MsgCount();
  MsgDB r;
  db.DBdefaults(&r, number);
  CopyField(r.Type, m.type);
  CopyField(r.Status, m.status);
  CopyField(r.ToStation, m.to);
  CopyField(r.FromStation, m.from);
  CopyField(r.AtBbs, m.at);
  CopyField(r.MsgSubject, m.subject);
  if (m.text) r.Size = WriteMsgText(dir_ / "MAIL", number, m.text, false);
  EXPECT_NE(db.AppendMsg(r), 0);
  db.CloseAll();
  return number;
}

void MailboxSession::AddBulletins(int count) {
  for (int i = 0; i < count; ++i) AddMsg({});
}

void MailboxSession::AddStation(const std::string& call, long lastRead) {
  AddUser(call, [&](UserDB& u) {
    CopyField(u.Type, "R");
    CopyField(u.Name, "Anna");
    CopyField(u.HomeBbs, "XX9ORN");
    u.LMsgRead = static_cast<int32_t>(lastRead);
  });
}

void MailboxSession::StartAndConnect(const std::vector<std::string>& calls, const std::string& moreIni) {
  calls_ = calls;
  StartWith("[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=2\nBBSONLY=0\nLIMITED=0\nTIMEOUT=0\n" + moreIni);
  for (size_t i = 0; i < calls.size(); ++i) ASSERT_EQ(Connects(0, calls[i]), static_cast<int>(i + 1));
  Sent();
}

std::string MailboxSession::Says(const std::string& line, int channel) {
  Type(calls_.at(static_cast<size_t>(channel - 1)), line);
  return Sent();
}

std::string MailboxSession::Tick() {
  timers_.Fire(bbs_->serviceTimers()->servicetimer_id);
  return Sent();
}

std::string MailboxSession::RunToPrompt(std::string sofar, const std::string& answer, int channel) {
  std::string last = sofar;
  for (int i = 0; i < 1000 && Ch(channel).Service != 0; ++i) {
    last = EndsWith(last, Marked("pagemsg")) ? Says(answer, channel) : Tick();
    sofar += last;
  }
  return sofar;
}

std::vector<long> MailboxSession::Listed(const std::string& text) {
  std::vector<long> numbers;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\r', at);
    if (end == std::string::npos) end = text.size();
    if (std::isdigit(static_cast<unsigned char>(text[at]))) numbers.push_back(std::strtol(&text[at], nullptr, 10));
    at = end + 1;
  }
  return numbers;
}

MsgDB MailboxSession::Record(long position) {
  TOrnDbase db(Site(dir_));
  db.OpenMsgFile();
  MsgDB r{};
  MsgDBidx idx{};
  db.ReadFromFile(position, r, idx);
  db.CloseAll();
  return r;
}

}  // namespace orn::test
