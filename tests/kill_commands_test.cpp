#include <gtest/gtest.h>

#include <string>

#include "channel/channel.h"
#include "channel/mdi_client.h"
#include "store/mail_waiting.h"
#include "context/prompts.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/store.h"
#include "support/bbs_session.h"
#include "support/store_files.h"

namespace orn {
namespace {

using test::BbsSession;
using test::Marked;

const char* const kOpenPort = "[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=2\nBBSONLY=0\nLIMITED=0\nTIMEOUT=0\n";

struct Stored {
  long number;
  const char* type;
  const char* status;
  const char* to;
  const char* from;
};

// What the store holds for XX1ABC and others before the session.
const Stored kMessages[] = {
    {1001, "P", "Y", "XX1ABC", "XX7ZZ"},         // read: KM kills it
    {1002, "B", "Y", "XX1ABC.GRC.EU", "XX7ZZ"},  // read bulletin to the station: KM kills it
    {1003, "P", "N", "XX1ABC", "XX7ZZ"},         // unread: KM leaves it
    {1004, "T", "Y", "XX1ABC", "XX7ZZ"},         // traffic: KM leaves it
    {1005, "P", "H", "XX1ABC", "XX7ZZ"},         // held: KM kills it
    {1006, "P", "Y", "XX7ZZ", "XX1ABC.GRC.EU"},  // written by the station: KM leaves it
    {1007, "P", "K", "XX1ABC", "XX7ZZ"},         // killed already
    {1008, " ", "F", "XX1ABC", "XX7ZZ"},         // forwarded: KM kills it
    {1009, "P", "N", "XX7ZZ", "XX5ABC"},         // someone else's
};

class KillTest : public BbsSession {
 protected:
  void SetUp() override {
    AddUser("XX1ABC", [](UserDB& u) {
      CopyField(u.Type, "R");
      CopyField(u.Name, "Anna");
    });
    TOrnDbase db(StoreSite{dir_.path(), dir_ / "MAIL", "XX9ORN", ""});
    ASSERT_TRUE(db.OpenMsgFile());
    for (const Stored& s : kMessages) {
      MsgDB m = test::Msg(db, s.number, s.type, s.status, s.to);
      CopyField(m.FromStation, s.from);
      ASSERT_NE(db.AppendMsg(m), 0);
    }
    db.CloseAll();
    dir_.Write("BBS.LOG", "");
    StartWith(std::string(kOpenPort) + "[LOG]\nLOGOK=1\nLOGKILL=1\n");
    // The unread and the held message wait for XX1ABC; 1009 for XX7ZZ.
    St().MsgBeacon()->PutCallInList("XX1ABC");
    St().MsgBeacon()->PutCallInList("XX1ABC");
    St().MsgBeacon()->PutCallInList("XX7ZZ");
    ASSERT_EQ(Connects(0, "XX1ABC"), 1);
    Sent();
  }
  std::string Says(const std::string& line) {
    Type("XX1ABC", line);
    return Sent();
  }
  Store& St() { return *Client().store; }
  std::string Status(long number) {
    std::unique_ptr<TOrnDbase> db = St().OpenDbase();
    const long position = db->SearchBinary(number);
    MsgDB m{};
    MsgDBidx idx{};
    EXPECT_TRUE(db->ReadFromFile(position, m, idx));
    db->CloseAll();
    EXPECT_EQ(m.MsgNo, number);
    return m.Status;
  }
  long MailsFor(const std::string& call) {
    UpdatemsgBeacon* list = St().MsgBeacon();
    return list->InList(call) ? list->mails.howmany : 0;
  }
};

TEST_F(KillTest, KillOne) {
  const long active = St().counters.activemsg;
  ASSERT_EQ(active, 8);
  struct Case {
    const char* line;
    std::string reply;
  } cases[] = {
      {"K", Marked("notenoughparameters")},
      {"KX", Marked("invalidparameters")},
      {"K ", Marked("notfound")},
      {"K 9999", Marked("notfound")},
      {"K 1000", Marked("notfound")},
      {"K abc", Marked("notfound")},
      {"K 12x", Marked("notfound")},
      {"K 1009", Marked("notauthortokill")},  // neither to nor from the station
      {"K 1007", Marked("notauthortokill")},  // killed already
      {"K 1003", "Msg# 1003, " + Marked("hasbeenerased")},
      {"k  1006", "Msg# 1006, " + Marked("hasbeenerased")},  // the station wrote it
      {"K 1003", Marked("notauthortokill")},
  };
  for (const Case& c : cases) EXPECT_EQ(Says(c.line), c.reply + kFullPrompt) << c.line;
  EXPECT_EQ(Status(1003), "K");
  EXPECT_EQ(Status(1006), "K");
  EXPECT_EQ(Status(1009), "N");
  EXPECT_EQ(St().counters.activemsg, active - 2);
  // The unread message was counted for XX1ABC; 1006 had been read by XX7ZZ.
  EXPECT_EQ(MailsFor("XX1ABC"), 1);
  EXPECT_EQ(MailsFor("XX7ZZ"), 1);
  std::string log;
  ASSERT_TRUE(ReadWholeFile(dir_ / "BBS.LOG", &log));
  EXPECT_NE(log.find("<Kill> Msg#1003 from XX1ABC..."), std::string::npos) << log;
}

TEST_F(KillTest, KillMineTakesTheReadOnesToTheStation) {
  EXPECT_EQ(Says("KM"), Marked("msgserased") + kFullPrompt);
  for (const Stored& s : kMessages) {
    const bool killed = s.number == 1001 || s.number == 1002 || s.number == 1005 || s.number == 1008;
    EXPECT_EQ(Status(s.number), killed ? "K" : s.status) << s.number;
  }
  EXPECT_EQ(St().counters.activemsg, 4);
  // Of the two waiting messages only the held one went.
  EXPECT_EQ(MailsFor("XX1ABC"), 1);
  EXPECT_EQ(Says("KM"), Marked("notfound") + kFullPrompt);
}

TEST(MailWaitingTest, OnlyAMessageThatWaitedIsCountedOut) {
  test::TestDir dir;
  test::MakeEmptyStore(dir);
  UpdatemsgBeacon list(dir.path());
  list.PutCallInList("XX7ZZ");
  list.PutCallInList("XX7ZZ");
  struct Case {
    const char* from;
    const char* to;
    long left;
  } cases[] = {
      {"Y", "K", 2},  // read before: counted out then
      {"N", "N", 2},
      {"N", "H", 2},
      {"F", "K", 2},
      {"N", "Y", 1},
      {"H", "K", 0},
      {"N", "K", 0},  // nothing left to count out
  };
  for (const Case& c : cases) {
    CountOutOfMailBeacon(&list, c.from, c.to, "XX7ZZ.GRC.EU");
    EXPECT_EQ(list.InList("XX7ZZ") ? list.mails.howmany : 0, c.left) << c.from << c.to;
  }
  CountOutOfMailBeacon(nullptr, "N", "Y", "XX7ZZ");
}

}  // namespace
}  // namespace orn
