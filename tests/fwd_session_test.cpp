// Forwarding sessions through the station's side: a partner BBS connects
// (or is called), sends its SID, proposals and compressed messages as bytes
// on the link, and reads what we send back.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "channel/channel.h"
#include "channel/mdi_client.h"
#include "context/prompts.h"
#include "fwd/b1_partial.h"
#include "fwd/block_packets.h"
#include "fwd/fwd_session.h"
#include "fwd/lzhuf.h"
#include "fwd/proposal.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/msg_text.h"
#include "store/store.h"
#include "support/mailbox_session.h"

namespace orn {
namespace {

using test::MailboxSession;
using test::StoredMsg;

const char* const kPartnerSid = "[FBB-7.00-ABFHMR$]\r";
const char* const kPartner = "XX2BBB";

std::string Compressed(const std::string& text) {
  std::string out;
  EXPECT_EQ(LzhufEncode(text, &out), LzhufError::kNone);
  return out;
}

std::string Block(const std::vector<std::string>& proposals) {
  std::string lines;
  for (const std::string& p : proposals) lines += p + "\r";
  return lines + "F> " + ProposalChecksum(lines) + "\r";
}

// What the partner reads of our compressed messages: title and text of each.
struct Received {
  std::string title, text;
};

std::vector<Received> ReadStream(const std::string& bytes) {
  PacketReader r;
  EXPECT_TRUE(r.Put(bytes.data(), bytes.size()));
  std::vector<Received> out;
  std::string code;
  unsigned long sum = 0;
  for (PacketReader::Kind k; (k = r.Next()) != PacketReader::Kind::kNone;) {
    if (k == PacketReader::Kind::kHeader) {
      out.push_back({r.data().substr(0, r.data().find('\0')), ""});
      code.clear();
      sum = 0;
    } else if (k == PacketReader::Kind::kData) {
      code += r.data();
      for (unsigned char c : r.data()) sum += c;
    } else if (k == PacketReader::Kind::kEnd && !out.empty()) {
      EXPECT_TRUE(CheckSumOk(sum, r.checksum()));
      EXPECT_EQ(LzhufDecode(code, &out.back().text), LzhufError::kNone);
    }
  }
  return out;
}

const std::string kBody =
    "R:261209/0800Z @:XX2BBB.#X.Y [Town] #:17\r\n"
    "R:261208/0700Z @:XX5EEE.#Z.Y\r\n"
    "\r\nFrom: XX1AAA\r\nTo: XX3CCC\r\n\r\nHello from afar.\r\n";

class FwdSessionTest : public MailboxSession {
 protected:
  // The partner: a forwarding station of type B; `edit` changes more.
  void AddPartner(const std::function<void(UserDB&)>& edit = [](UserDB&) {}) {
    AddUser(kPartner, [&](UserDB& u) {
      CopyField(u.Type, "B");
      CopyField(u.Name, "Bbs");
      CopyField(u.HomeBbs, kPartner);
      CopyField(u.isFwdStation, "Y");
      CopyField(u.OkWithBids, "Y");
      CopyField(u.HierAddress, "#X.Y");
      edit(u);
    });
  }
  // Queues a stored message for the partner in slot `slot`.
  static void Queue(UserDB& u, int slot, long number, const char* type, long size = 100) {
    UserFwdPriv& f = u.FwdMsgNo[slot];
    f.FwdMsgNumbers = static_cast<int32_t>(number);
    CopyField(f.Type, type);
    CopyField(f.Status, "N");
    f.Size = static_cast<int32_t>(size);
    CopyField(f.ExpDays, "1200/261210");
  }

  void Start(const std::string& moreIni = "") {
    StartAndConnect({kPartner}, moreIni);
    Client().routeStoredMsg = [this](const MsgOrigin& via, const MsgDB& m) {
      routed_.push_back(m.MsgNo);
      relays_ = via.relays;
    };
  }

  // The partner's bytes, in pieces of `piece` bytes (0: one frame).
  std::string Partner(const std::string& bytes, size_t piece = 0) {
    if (piece == 0) piece = bytes.size();
    for (size_t at = 0; at < bytes.size(); at += piece) engine_.Data(0, kPartner, bytes.substr(at, piece));
    return Sent();
  }

  // Service ticks while the session is busy with a coder or its own sending.
  std::string RunSession() {
    std::string all;
    for (int i = 0; i < 5000; ++i) {
      all += Tick();
      const int s = Ch(1).whattodo;
      if (Ch(1).Service != 9 || (s != ']' && s != '\\' && s != 'P' && s != 'K')) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return all;
  }

  std::string Proposal(const char* bid, size_t size = 100, const char* type = "P", const char* to = "XX3CCC") {
    return std::string("FB ") + type + " XX1AAA XX9ORN.#X.Y " + to + " " + bid + " " + std::to_string(size);
  }

  std::string MsgText(long number) {
    std::string text;
    EXPECT_TRUE(ReadMsgText(dir_ / "MAIL", number, &text)) << number;
    return text;
  }

  bool Disconnected() {
    for (const std::string& d : Disconnects())
      if (d == std::string("0:") + kPartner) return true;
    return false;
  }

  long MsgCount() {
    TOrnDbase db(StoreSite{dir_.path(), dir_ / "MAIL", "XX9ORN", ""});
    db.OpenMsgFile();
    const long n = db.MsgCount();
    db.CloseAll();
    return n;
  }

  // The BBS stops and its records go: the next case starts afresh.
  void Restart() {
    bbs_->Shutdown();
    bbs_.reset();
    // A fresh store: records, texts and the numbers given.
    for (const char* f : {"USERS.ADB", "USERS.IDX", "MSG.ADB", "MSG.IDX", "LASTMSG.DAT"})
      TFileOperations::filedelete(dir_ / f);
    std::filesystem::remove_all(dir_ / "MAIL");
    engine_.Take();
    routed_.clear();
  }

  std::vector<long> routed_;
  std::vector<std::string> relays_;
};

TEST_F(FwdSessionTest, ACallingPartnerForwardsOneCompressedMessage) {
  AddPartner();
  Start();
  const std::string text = std::string(kBody) + std::string(3000, 'x') + "\r\n";
  // The SID and the block come in one frame, as partners send them.
  EXPECT_EQ(Partner(kPartnerSid + Block({Proposal("41_XX1AAA", text.size())})), "FS +\r");
  EXPECT_EQ(Ch(1).Service, 9);
  EXPECT_EQ(Ch(1).whattodo, 'Q');

  const std::string stream = BlockStream("Greetings", Compressed(text));
  std::string out = Partner(stream, 97);
  out += RunSession();
  // Nothing queued here: our turn is "FF" alone (our SID was in the greeting).
  EXPECT_EQ(out, "FF\r");

  const MsgDB m = Record(1);
  EXPECT_EQ(m.MsgNo, 1001);
  EXPECT_STREQ(m.Type, "P");
  EXPECT_STREQ(m.Status, "N");
  EXPECT_STREQ(m.FromStation, "XX1AAA");
  EXPECT_STREQ(m.ToStation, "XX3CCC");
  EXPECT_STREQ(m.AtBbs, "XX9ORN.#X.Y");
  EXPECT_STREQ(m.Bid, "41_XX1AAA");
  EXPECT_STREQ(m.MsgSubject, "Greetings");
  EXPECT_TRUE(Client().store->Bids.WeHaveThebid("41_XX1AAA"));
  EXPECT_EQ(Client().store->counters.lastmsg, 1001);
  // Our routing line, then the text as it came, with the store's line ends.
  const std::string stored = MsgText(1001);
  ASSERT_EQ(stored.find("R:"), 0u);
  EXPECT_EQ(stored.substr(stored.find('\n') + 1), FromDiskLines(text));
  EXPECT_EQ(m.Size, static_cast<int32_t>(ToDiskLines(stored).size()));
  EXPECT_NE(Client().store->MsgBeacon()->FormatMailBeacon().find("XX3CCC"), std::string::npos);
  EXPECT_EQ(routed_, std::vector<long>{1001});
  ASSERT_GE(relays_.size(), 3u);
  EXPECT_EQ(relays_[0].rfind("XX9ORN", 0), 0u) << relays_[0];
  EXPECT_EQ(relays_[1], "XX2BBB.#X.Y");
  EXPECT_EQ(relays_[2], "XX5EEE.#Z.Y");
  EXPECT_EQ(relays_[3], "");

  // The partner has nothing more either.
  EXPECT_EQ(Partner("FQ\r"), "");
  EXPECT_TRUE(Disconnected());
}

TEST_F(FwdSessionTest, EverythingMayArriveInSmallPieces) {
  AddPartner();
  Start();
  const std::string a = std::string(kBody) + "first\r\n", b = "R:261209/0800Z @:XX2BBB.#X.Y\r\n\r\nsecond\r\n";
  const std::string block = Block({Proposal("1_XX1AAA", a.size()), Proposal("2_XX1AAA", b.size(), "B", "ALL")});
  EXPECT_EQ(Partner(kPartnerSid), "");
  EXPECT_EQ(Partner(block, 3), "FS ++\r");
  // Both messages back to back, the second arriving while the first is
  // still being expanded.
  std::string out = Partner(BlockStream("one", Compressed(a)) + BlockStream("two", Compressed(b)), 5);
  out += RunSession();
  EXPECT_EQ(out, "FF\r");
  EXPECT_STREQ(Record(1).MsgSubject, "one");
  EXPECT_STREQ(Record(2).MsgSubject, "two");
  EXPECT_STREQ(Record(2).Type, "B");
  EXPECT_EQ(MsgText(1002).substr(MsgText(1002).find('\n') + 1), FromDiskLines(b));
}

TEST_F(FwdSessionTest, LinesEndingInCrLfAreRead) {
  // A partner on a telnet link ends its lines in CR LF, the LF perhaps in
  // the next frame.
  AddPartner();
  Start();
  auto crlf = [](const std::string& t) {
    std::string out;
    for (char c : t) {
      out += c;
      if (c == '\r') out += '\n';
    }
    return out;
  };
  const std::string block = crlf(kPartnerSid + Block({Proposal("1_XX1AAA", kBody.size())}));
  EXPECT_EQ(Partner(block, 1), "FS +\r");
  std::string out = Partner(BlockStream("one", Compressed(kBody)));
  out += RunSession();
  EXPECT_EQ(out, "FF\r");
  EXPECT_STREQ(Record(1).MsgSubject, "one");
  EXPECT_EQ(Partner(crlf("FQ\r")), "");
  EXPECT_TRUE(Disconnected());
}

TEST_F(FwdSessionTest, ABulletinThatCameMeanwhileIsDroppedAndTheNextFollows) {
  AddPartner();
  Start();
  EXPECT_EQ(Partner(kPartnerSid + Block({Proposal("1_XX1AAA"), Proposal("2_XX1AAA")})), "FS ++\r");
  // Another partner brings the first one while this one is on its way.
  Client().store->Bids.InsertInBidArray("1_XX1AAA");
  std::string out = Partner(BlockStream("one", Compressed(kBody)) + BlockStream("two", Compressed(kBody)));
  out += RunSession();
  EXPECT_EQ(out, "FF\r");
  EXPECT_EQ(MsgCount(), 1);
  EXPECT_STREQ(Record(1).Bid, "2_XX1AAA");
  EXPECT_STREQ(Record(1).MsgSubject, "two");
}

TEST_F(FwdSessionTest, KnownBulletinsAreRefused) {
  AddPartner();
  Start();
  Client().store->Bids.InsertInBidArray("7_XX1AAA");
  const std::string block =
      Block({Proposal("7_XX1AAA"), Proposal("8_XX1AAA"), Proposal("8_XX1AAA"),
             "FB P XX1AAA XX9ORN XX3CCC 1234567890123 5"});
  EXPECT_EQ(Partner(kPartnerSid + block), "FS -+--\r");
  // Nothing accepted at all: our turn follows at once.
  EXPECT_EQ(Partner(Block({Proposal("7_XX1AAA")})), "");
}

TEST_F(FwdSessionTest, NothingAcceptedIsOurTurnAtOnce) {
  AddPartner();
  Start();
  Client().store->Bids.InsertInBidArray("7_XX1AAA");
  EXPECT_EQ(Partner(kPartnerSid + Block({Proposal("7_XX1AAA")})), "FS -\rFF\r");
  EXPECT_EQ(Ch(1).whattodo, 'M');
  EXPECT_EQ(Partner("FQ\r"), "");
  EXPECT_TRUE(Disconnected());
}

TEST_F(FwdSessionTest, AnswersToThePartnerLeaveAtOnce) {
  // The partner waits for each of them: none may sit in the hold.
  AddPartner();
  Start();
  Client().store->Bids.InsertInBidArray("7_XX1AAA");
  auto leftAtOnce = [&](const std::string& bytes) {
    engine_.Data(0, kPartner, bytes);
    std::string out;
    for (const ApiFrame& f : engine_.Take("D")) out += f.data;
    return out;
  };
  EXPECT_EQ(leftAtOnce(kPartnerSid + Block({Proposal("7_XX1AAA")})), "FS -\rFF\r");
  EXPECT_FALSE(Ch(1).transparent);
  EXPECT_EQ(leftAtOnce("FF\r"), "FQ\r");
  EXPECT_TRUE(Disconnected());
}

TEST_F(FwdSessionTest, DamagedStreamsEndTheSessionWithoutStoring) {
  struct Case {
    const char* name;
    std::string after;  // what the partner sends once its proposal is accepted
    std::string reply;
  } cases[] = {
      {"wrong checksum", BlockStream("t", Compressed(kBody)).substr(0, BlockStream("t", Compressed(kBody)).size() - 1) +
                             "\x01",
       "\rChecksum..\r"},
      // The checksum matches, but the code ends before its text.
      {"cut code", BlockStream("t", Compressed(kBody).substr(0, 12)), ""},
      {"no header", std::string(4, '\x01') + "\x04", ""},
      // We never offer a resume: a header from an offset brings a part only.
      {"resumed", std::string("\x01\x09t\0   120\0", 11) +
                      BlockStream("t", Compressed(kBody)).substr(HeaderPacket("t").size()),
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AddPartner();
    Start();
    EXPECT_EQ(Partner(kPartnerSid + Block({Proposal("9_XX1AAA")})), "FS +\r");
    std::string out = Partner(c.after);
    out += RunSession();
    EXPECT_EQ(out, c.reply);
    EXPECT_EQ(MsgCount(), 0);
    EXPECT_FALSE(Client().store->Bids.WeHaveThebid("9_XX1AAA"));
    // "no header" leaves a session that waits; the others have asked to go.
    if (std::string(c.name) != "no header") {
      EXPECT_TRUE(Disconnected());
      EXPECT_EQ(Ch(1).whattodo, '[');
    }
    engine_.Event(0, std::string("*** DISCONNECTED From Station ") + kPartner + "\r");
    EXPECT_FALSE(Ch(1).Fwd);
    EXPECT_EQ(Ch(1).Service, 0);
    Restart();
  }
}

TEST_F(FwdSessionTest, BadBlocksEndTheSession) {
  struct Case {
    const char* name;
    std::string block;
  } cases[] = {
      {"six proposals", Block({Proposal("1_A"), Proposal("2_A"), Proposal("3_A"), Proposal("4_A"), Proposal("5_A"),
                               Proposal("6_A")})},
      {"wrong checksum", Proposal("1_A") + "\rF> 00\r"},
      {"not hexadecimal", Proposal("1_A") + "\rF> ZZ\r"},
      {"not a proposal", "Hello there\r"},
      {"answer in place of a block", "FS +\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AddPartner();
    Start();
    EXPECT_EQ(Partner(kPartnerSid + c.block), "");
    EXPECT_EQ(Ch(1).whattodo, '[');
    EXPECT_TRUE(Disconnected());
    // Whatever follows is not looked at.
    EXPECT_EQ(Partner(Block({Proposal("7_A")})), "");
    Restart();
  }
}

TEST_F(FwdSessionTest, ABlockOfFiveIsTakenAndAFalseSidIsRefused) {
  AddPartner();
  Start();
  EXPECT_EQ(Partner(kPartnerSid + Block({Proposal("1_A"), Proposal("2_A"), Proposal("3_A"), Proposal("4_A"),
                                         Proposal("5_A")})),
            "FS +++++\r");
  Restart();
  AddPartner();
  Start();
  EXPECT_EQ(Partner("[XX-1-AB]\r"), "");
  EXPECT_TRUE(Disconnected());
  EXPECT_EQ(Ch(1).Service, 0);
  EXPECT_FALSE(Ch(1).Fwd);
}

TEST_F(FwdSessionTest, MessagesFromAPartnerThatIsNoForwardingStationAreHeld) {
  AddPartner([](UserDB& u) { CopyField(u.isFwdStation, "N"); });
  Start();
  const long held = Client().store->counters.heldmsg;
  EXPECT_EQ(Partner(kPartnerSid + Block({Proposal("3_XX1AAA")})), "FS +\r");
  Partner(BlockStream("t", Compressed(kBody)));
  RunSession();
  EXPECT_STREQ(Record(1).Status, "H");
  EXPECT_EQ(Client().store->counters.heldmsg, held + 1);
  EXPECT_TRUE(routed_.empty());
}

TEST_F(FwdSessionTest, OurQueuedMessagesGoToThePartner) {
  const std::string body = "R:261210/1200Z @:XX9ORN\nPersonal news.\n";
  AddMsg({"P", "N", "XX3CCC", "XX7ZZ", "XX3CCC", "Personal", body.c_str()});
  AddMsg({"B", "N", "ALL", "XX7ZZ", "", "Bulletin", "All hear this.\n"});
  AddMsg({"B", "N", "ALL", "XX7ZZ", "", "Known there", "Old news.\n"});
  AddPartner([](UserDB& u) {
    Queue(u, 0, 1002, "B");
    Queue(u, 1, 1003, "B");
    Queue(u, 7, 1001, "P");
  });
  dir_.Write("BBS.LOG", "");
  Start("[LOG]\nLOGOK=1\nLOGOTHER=1\n");
  // The partner has nothing: our block follows at once, personal mail first.
  const std::string block = Partner(kPartnerSid + std::string("FF\r"));
  const std::string want = Block({"FA P XX7ZZ XX3CCC XX3CCC XX9ORN_1001 " + std::to_string(Record(1).Size),
                                  "FA B XX7ZZ XX2BBB.#X.Y ALL XX9ORN_1002 " + std::to_string(Record(2).Size),
                                  "FA B XX7ZZ XX2BBB.#X.Y ALL XX9ORN_1003 " + std::to_string(Record(3).Size)});
  EXPECT_EQ(block, want);
  // It takes the first two; the third it has already.
  EXPECT_EQ(Partner("FS ++-\r"), "");
  EXPECT_EQ(User(1).FwdMsgNo[1].FwdMsgNumbers, 0);
  EXPECT_EQ(User(1).FwdMsgNo[7].FwdMsgNumbers, 1001);

  const std::vector<Received> got = ReadStream(RunSession());
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].title, "Personal");
  EXPECT_EQ(got[0].text, ToDiskLines(body));
  EXPECT_EQ(got[1].title, "Bulletin");
  EXPECT_EQ(got[1].text, ToDiskLines("All hear this.\n"));
  EXPECT_EQ(Ch(1).whattodo, 'M');
  // Until the partner speaks again, the messages stay queued.
  EXPECT_EQ(User(1).FwdMsgNo[7].FwdMsgNumbers, 1001);

  EXPECT_EQ(Partner("FF\r"), "FQ\r");
  EXPECT_TRUE(Disconnected());
  // Sent messages are logged with the port as the sysop counts it, as
  // received ones are.
  std::string log;
  ASSERT_TRUE(ReadWholeFile(dir_ / "BBS.LOG", &log));
  EXPECT_NE(log.find("<FWD Send> Msg#1001 to XX2BBB, Port=1."), std::string::npos) << log;
  const UserDB u = User(1);
  for (const UserFwdPriv& f : u.FwdMsgNo) EXPECT_EQ(f.FwdMsgNumbers, 0);
  // Personal mail has gone on; the bulletin may still go elsewhere.
  EXPECT_STREQ(Record(1).Status, "F");
  EXPECT_STREQ(Record(2).Status, "N");
}

TEST_F(FwdSessionTest, DeferredMessagesStayQueuedAndAreNotOfferedAgain) {
  AddMsg({"B", "N", "ALL", "XX7ZZ", "XX2BBB", "Later", "Text.\n"});
  AddPartner([](UserDB& u) { Queue(u, 0, 1001, "B"); });
  Start();
  EXPECT_NE(Partner(kPartnerSid + std::string("FF\r")).find("FA B"), std::string::npos);
  // "=": not now. Nothing is sent, and the partner's turn follows.
  EXPECT_EQ(Partner("FS =\r"), "");
  EXPECT_EQ(RunSession(), "");
  EXPECT_EQ(Ch(1).whattodo, 'M');
  EXPECT_EQ(Partner("FF\r"), "FQ\r");
  EXPECT_EQ(User(1).FwdMsgNo[0].FwdMsgNumbers, 1001);
}

TEST_F(FwdSessionTest, AMessageWithoutBidIsProposedWithTheBidWeMake) {
  AddMsg({"B", "N", "ALL", "XX7ZZ", "XX2BBB", "No BID", "Text.\n"});
  {
    // Stored while BIDGENERATION was off.
    TOrnDbase db(StoreSite{dir_.path(), dir_ / "MAIL", "XX9ORN", ""});
    ASSERT_TRUE(db.OpenMsgFile());
    MsgDB m{};
    MsgDBidx idx{};
    ASSERT_TRUE(db.ReadFromFile(1, m, idx));
    CopyField(m.Bid, "");
    ASSERT_TRUE(db.WriteToFile(1, m));
    db.CloseAll();
  }
  AddPartner([](UserDB& u) { Queue(u, 0, 1001, "B"); });
  Start();
  EXPECT_NE(Partner(kPartnerSid + std::string("FF\r")).find("FA B XX7ZZ XX2BBB ALL XX9ORN_1001 "),
            std::string::npos);
  // Kept, so every partner is offered the same BID and it is known here.
  EXPECT_STREQ(Record(1).Bid, "XX9ORN_1001");
  EXPECT_TRUE(Client().store->Bids.WeHaveThebid("XX9ORN_1001"));
}

TEST_F(FwdSessionTest, AnAnswerWithTheNextBlockInTheSameText) {
  AddMsg({"B", "N", "ALL", "XX7ZZ", "XX2BBB", "Old", "Text.\n"});
  AddPartner([](UserDB& u) { Queue(u, 0, 1001, "B"); });
  Start();
  Partner(kPartnerSid + std::string("FF\r"));
  EXPECT_EQ(Partner("FS -\r" + Block({Proposal("5_XX1AAA")})), "FS +\r");
  EXPECT_EQ(User(1).FwdMsgNo[0].FwdMsgNumbers, 0);
  EXPECT_EQ(Ch(1).whattodo, 'Q');
}

TEST_F(FwdSessionTest, BadAnswersEndTheSession) {
  for (const char* answer : {"FS +++\r", "FS x\r", "F\r", "FS\r"}) {
    SCOPED_TRACE(answer);
    AddMsg({"B", "N", "ALL", "XX7ZZ", "XX2BBB", "Old", "Text.\n"});
    AddPartner([](UserDB& u) { Queue(u, 0, 1001, "B"); });
    Start();
    Partner(kPartnerSid + std::string("FF\r"));
    EXPECT_EQ(Partner(answer), "");
    EXPECT_TRUE(Disconnected());
    EXPECT_EQ(User(1).FwdMsgNo[0].FwdMsgNumbers, 1001);
    Restart();
  }
}

TEST_F(FwdSessionTest, AReceiveOnlyPartnerGetsNoProposals) {
  AddMsg({"B", "N", "ALL", "XX7ZZ", "XX2BBB", "Old", "Text.\n"});
  AddPartner([](UserDB& u) {
    Queue(u, 0, 1001, "B");
    u.FwdKind = 'F';
  });
  Start();
  EXPECT_EQ(Partner(kPartnerSid + std::string("FF\r")), "FQ\r");
  // Who says FQ hangs up.
  EXPECT_TRUE(Disconnected());
  EXPECT_EQ(User(1).FwdMsgNo[0].FwdMsgNumbers, 1001);
}

TEST_F(FwdSessionTest, AQueuedMessageThatIsGoneLeavesTheQueue) {
  AddMsg({"B", "N", "ALL", "XX7ZZ", "XX2BBB", "Here", "Text.\n"});
  AddPartner([](UserDB& u) {
    Queue(u, 0, 1005, "B");
    Queue(u, 1, 1001, "B");
  });
  Start();
  const std::string out = Partner(kPartnerSid + std::string("FF\r"));
  EXPECT_NE(out.find("XX9ORN_1001"), std::string::npos);
  EXPECT_EQ(out.find("1005"), std::string::npos);
  EXPECT_EQ(User(1).FwdMsgNo[0].FwdMsgNumbers, 0);
}

TEST_F(FwdSessionTest, WeCallThePartner) {
  AddMsg({"P", "N", "XX3CCC", "XX7ZZ", "XX3CCC", "Hi", "Text.\n"});
  AddPartner([](UserDB& u) { Queue(u, 0, 1001, "P"); });
  Start();
  TChannel& ch = Ch(1);
  ch.Fwd = std::make_unique<TFwd>(&ch);
  ch.Fwd->Start();
  EXPECT_EQ(ch.Service, 9);
  EXPECT_EQ(ch.whattodo, 'J');
  // The partner's greeting, in two pieces: our SID opens our first block.
  EXPECT_EQ(Partner("[FBB-7.00-ABFHMR$]\rWelcome to"), "");
  const std::string block = Partner(" XX2BBB\r>\r");
  EXPECT_EQ(block.rfind(std::string(kSystemId) + "\rFA P XX7ZZ XX3CCC XX3CCC XX9ORN_1001 ", 0), 0u) << block;
  EXPECT_EQ(Partner("FS +\r"), "");
  const std::vector<Received> got = ReadStream(RunSession());
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].text, "Text.\r\n");
  // The partner's turn: one message for us.
  const std::string text = std::string(kBody) + "Back at you.\r\n";
  EXPECT_EQ(Partner(Block({Proposal("77_XX2BBB", text.size())})), "FS +\r");
  EXPECT_EQ(User(1).FwdMsgNo[0].FwdMsgNumbers, 0);
  std::string out = Partner(BlockStream("Reply", Compressed(text)));
  out += RunSession();
  EXPECT_EQ(out, "FF\r");
  EXPECT_STREQ(Record(2).MsgSubject, "Reply");
  EXPECT_EQ(Partner("FQ\r"), "");
  EXPECT_TRUE(Disconnected());
}

TEST_F(FwdSessionTest, ACallWithoutAGreetingSidEnds) {
  for (const char* greeting : {">\r", "Welcome\r>\r", "[XX-1-AB]\r>\r"}) {
    SCOPED_TRACE(greeting);
    AddPartner();
    Start();
    TChannel& ch = Ch(1);
    ch.Fwd = std::make_unique<TFwd>(&ch);
    ch.Fwd->Start();
    EXPECT_EQ(Partner(greeting), "");
    EXPECT_EQ(ch.whattodo, '[');
    EXPECT_TRUE(Disconnected());
    Restart();
  }
}

TEST_F(FwdSessionTest, ALinkLostMidTransferDropsTheMessage) {
  AddPartner();
  Start();
  EXPECT_EQ(Partner(kPartnerSid + Block({Proposal("4_XX1AAA")})), "FS +\r");
  const std::string stream = BlockStream("t", Compressed(kBody));
  Partner(stream.substr(0, stream.size() / 2));
  engine_.Event(0, std::string("*** DISCONNECTED From Station ") + kPartner + "\r");
  EXPECT_FALSE(Ch(1).Fwd);
  EXPECT_EQ(Ch(1).whattodo, 0);
  EXPECT_EQ(MsgCount(), 0);
  EXPECT_FALSE(Client().store->Bids.WeHaveThebid("4_XX1AAA"));
}

TEST_F(FwdSessionTest, ALengthWordThatDisagreesWithTheCodeStoresNothing) {
  // A stream must give exactly its length word's number of bytes from
  // exactly its code: a text cut short is no message.
  const std::string whole = Compressed(kBody);
  struct Case {
    const char* name;
    std::string stream;
  } cases[] = {
      {"length short of the code", std::string("\x05\0\0\0", 4) + whole.substr(4)},
      {"code left over after the text", whole + std::string(3, '\x55')},
      {"code for an empty text", std::string("\0\0\0\0", 4) + whole.substr(4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir_.Write("BBS.LOG", "");
    AddPartner();
    Start("[LOG]\nLOGOK=1\nLOGOTHER=1\n");
    EXPECT_EQ(Partner(kPartnerSid + Block({Proposal("9_XX1AAA", kBody.size())})), "FS +\r");
    std::string out = Partner(BlockStream("t", c.stream), 64);
    out += RunSession();
    EXPECT_EQ(out, "");
    EXPECT_EQ(MsgCount(), 0);
    EXPECT_FALSE(Client().store->Bids.WeHaveThebid("9_XX1AAA"));
    EXPECT_TRUE(Disconnected());
    EXPECT_NE(dir_.Read("BBS.LOG").find("<FWD Rcv 9_XX1AAA not stored"), std::string::npos) << dir_.Read("BBS.LOG");
    engine_.Event(0, std::string("*** DISCONNECTED From Station ") + kPartner + "\r");
    Restart();
  }
}

TEST_F(FwdSessionTest, TheProposalChecksumIsOverTheBytesAsSent) {
  // Lower case in a proposal is the partner's to choose: the sum is over
  // what it sent, the fields are read in capitals. With the SID or after it.
  const std::string lower = "FB P xx1aaa xx9orn.#x.y Xx3ccc 41_xx1aaa 100";
  for (bool withSid : {true, false}) {
    SCOPED_TRACE(withSid);
    AddPartner();
    Start();
    if (!withSid) {
      EXPECT_EQ(Partner(kPartnerSid), "");
      Tick();
    }
    EXPECT_EQ(Partner((withSid ? kPartnerSid : "") + Block({lower})), "FS +\r");
    std::string out = Partner(BlockStream("Mixed Case", Compressed(kBody)));
    out += RunSession();
    EXPECT_EQ(out, "FF\r");
    const MsgDB m = Record(1);
    EXPECT_STREQ(m.FromStation, "XX1AAA");
    EXPECT_STREQ(m.AtBbs, "XX9ORN.#X.Y");
    EXPECT_STREQ(m.ToStation, "XX3CCC");
    EXPECT_STREQ(m.Bid, "41_XX1AAA");
    EXPECT_STREQ(m.MsgSubject, "Mixed Case");
    // Known now, in any case.
    EXPECT_EQ(Partner(Block({"FB P XX1AAA XX9ORN XX3CCC 41_XX1aaa 100"})), "FS -\rFF\r");
    Restart();
  }
}

// The work files of a session (the compressed and expanded message in
// temp/) go when the session ends, however it ends.
TEST_F(FwdSessionTest, NoWorkFileOutlivesItsSession) {
  const std::string stream = BlockStream("t", Compressed(kBody));
  const std::string hangUp = std::string("*** DISCONNECTED From Station ") + kPartner + "\r";
  struct Case {
    const char* name;
    bool ours;                       // a message of ours is queued for the partner
    std::vector<std::string> turns;  // the partner's, after its SID
    bool shutdown;                   // the BBS stops instead of the link going
  } cases[] = {
      {"received, FQ", false, {Block({Proposal("4_XX1AAA", kBody.size())}), stream, "FQ\r"}, false},
      {"sent, FQ", true, {"FF\r", "FS +\r", "FF\r"}, false},
      {"link lost mid-message", false, {Block({Proposal("4_XX1AAA")}), stream.substr(0, stream.size() / 2)}, false},
      {"damaged message", false, {Block({Proposal("4_XX1AAA")}), stream.substr(0, stream.size() - 1) + "\x01"}, false},
      {"BBS stopped mid-message", false, {Block({Proposal("4_XX1AAA")}), stream.substr(0, stream.size() / 2)}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.ours) AddMsg({"B", "N", "ALL", "XX7ZZ", "XX2BBB", "Ours", "Text.\n"});
    AddPartner([&](UserDB& u) {
      if (c.ours) Queue(u, 0, 1001, "B");
    });
    Start();
    Partner(kPartnerSid);
    for (const std::string& turn : c.turns) {
      Partner(turn);
      RunSession();
    }
    // The session had work files, and they are there while it lasts.
    EXPECT_FALSE(ListDir(dir_ / "temp").empty());
    if (c.shutdown) {
      bbs_->Shutdown();
    } else {
      engine_.Event(0, hangUp);
      EXPECT_FALSE(Ch(1).Fwd);
    }
    EXPECT_EQ(ListDir(dir_ / "temp"), std::vector<std::string>{});
    Restart();
  }
}

TEST_F(FwdSessionTest, ControlCharactersInAProposalRefuseIt) {
  // They would reach the sysop's terminal and the BID list as sent.
  AddPartner();
  Start();
  const std::string block = Block({"FB P XX1AAA XX9ORN XX3CCC 1_XX1AAA\x1a 100",
                                   "FB P XX1\x1b]0;owned\x07 XX9ORN XX3CCC 2_XX1AAA 100",
                                   "FB P XX1AAA XX9ORN\x07 XX3CCC 3_XX1AAA 100",
                                   "FB P XX1AAA XX9ORN XX3\x7f""CCC 4_XX1AAA 100", Proposal("5_XX1AAA")});
  EXPECT_EQ(Partner(kPartnerSid + block), "FS ----+\r");
}

// ---------------------------------------------------------------- plain text

const char* const kMblSid = "[MBL-1.0-M$]\r";
const char* const kAsciiSid = "[FBB-7.00-AFHM$]\r";
const std::string kCtrlZ = "\x1a";

class FwdPlainTest : public FwdSessionTest {
 protected:
  // Ticks while the session sends a plain text piece by piece.
  std::string RunSending() {
    std::string all;
    for (int i = 0; i < 100 && Ch(1).Service == 9; ++i) {
      const int s = Ch(1).whattodo;
      if (s != 'W' && s != 'a' && s != '`') break;
      all += Tick();
    }
    return all;
  }
  // The stored text below our routing line.
  std::string StoredBody(long number) {
    const std::string stored = MsgText(number);
    EXPECT_EQ(stored.find("R:"), 0u) << stored;
    return stored.substr(stored.find('\n') + 1);
  }
  // We call the partner, whose greeting carries `sid`.
  std::string Call(const std::string& sid) {
    TChannel& ch = Ch(1);
    ch.Fwd = std::make_unique<TFwd>(&ch);
    ch.Fwd->Start();
    return Partner(sid + "Welcome\rXX2BBB BBS>\r");
  }
};

TEST_F(FwdPlainTest, AnMblPartnerCallsAndSendsItsMessages) {
  AddPartner();
  Start();
  Client().store->Bids.InsertInBidArray("7_XX1AAA");
  EXPECT_EQ(Partner(kMblSid), ">\r");
  EXPECT_EQ(Ch(1).whattodo, 'T');
  EXPECT_EQ(Partner("SP XX3CCC @ XX9ORN.#X.Y < XX1AAA-2 $41_xx1aaa\r"), "OK\r");
  EXPECT_EQ(Partner("Greetings\rR:261209/0800Z @:XX2BBB.#X.Y\r\rHello.\r" + kCtrlZ + "\r"), ">\r");
  const MsgDB m = Record(1);
  EXPECT_STREQ(m.Type, "P");
  EXPECT_STREQ(m.ToStation, "XX3CCC");
  EXPECT_STREQ(m.AtBbs, "XX9ORN.#X.Y");
  EXPECT_STREQ(m.FromStation, "XX1AAA");
  EXPECT_STREQ(m.Bid, "41_XX1AAA");
  EXPECT_STREQ(m.MsgSubject, "Greetings");
  EXPECT_EQ(StoredBody(1001), "R:261209/0800Z @:XX2BBB.#X.Y\n\nHello.\n");
  EXPECT_EQ(routed_, std::vector<long>{1001});
  // What we have is refused by its BID, a bad offer as such; the partner
  // offers again after the prompt.
  EXPECT_EQ(Partner("SB ALL @ WW < XX1AAA $7_XX1AAA\r"), "NO - Bid\r>\r");
  for (const char* bad : {"SB @ WW < XX1AAA $9_XX1AAA\r", "SB ALL WW < XX1AAA $9_XX1AAA\r",
                          "SB ALL @ WW XX1AAA $9_XX1AAA\r", "S ALL @ WW < XX1AAA\r",
                          "SB ALL @ WW < XX1AAA $1234567890123\r", "SB ALL @ < XX1AAA\r"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(Partner(bad), "NO - Protocol header error.\r>\r");
    EXPECT_EQ(Ch(1).whattodo, 'T');
  }
  // Nothing here for it: "Done", and who says it hangs up.
  EXPECT_EQ(Partner("F>\r"), "Done\r");
  EXPECT_TRUE(Disconnected());
  EXPECT_EQ(MsgCount(), 1);
}

TEST_F(FwdPlainTest, AnMblPartnerThatWaitsForOurPromptOffersInFramesOfItsOwn) {
  // A BBS without the proposal protocol (LinBPQ with blocked forwarding off)
  // sends its SID, waits for our prompt, then offers; the service timer ticks
  // in between, as on a real link.
  AddPartner();
  Start();
  EXPECT_EQ(Partner("[BPQ-6.0.25.1-IHJM$]\r"), ">\r");
  for (int i = 0; i < 3; ++i) {
    clock_.AdvanceMs(400);
    EXPECT_EQ(Tick(), "");
  }
  EXPECT_FALSE(Disconnected());
  EXPECT_EQ(Partner("SP XX3CCC @ XX9ORN < XX1BPQ $123_XX1BPQ\r"), "OK\r");
  clock_.AdvanceMs(400);
  EXPECT_EQ(Tick(), "");
  EXPECT_EQ(Partner("Over the air\r"), "");
  clock_.AdvanceMs(400);
  Tick();
  EXPECT_EQ(Partner("R:261211/0100Z @:XX2BBB.#X.Y\r\rText in frames.\r"), "");
  EXPECT_EQ(Partner(kCtrlZ + "\r"), ">\r");
  clock_.AdvanceMs(400);
  EXPECT_EQ(Tick(), "");
  EXPECT_STREQ(Record(1).Bid, "123_XX1BPQ");
  EXPECT_STREQ(Record(1).MsgSubject, "Over the air");
  EXPECT_EQ(StoredBody(1001), "R:261211/0100Z @:XX2BBB.#X.Y\n\nText in frames.\n");
  EXPECT_EQ(Partner("F>\r"), "Done\r");
  EXPECT_TRUE(Disconnected());
}

TEST_F(FwdPlainTest, AnMblOfferWithControlCharactersIsRefused) {
  AddPartner();
  Start();
  Partner(kMblSid);
  for (const char* bad : {"SP XX3CCC @ XX9ORN < XX1AAA $7_XX1AAA\x1a\r", "SP XX3\x1b[2J @ XX9ORN < XX1AAA $7_XX1AAA\r",
                          "SP XX3CCC @ XX9ORN\x07 < XX1AAA $7_XX1AAA\r"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(Partner(bad), "NO - Protocol header error.\r>\r");
  }
  EXPECT_EQ(Partner("F>\r"), "Done\r");
  EXPECT_EQ(MsgCount(), 0);
}

TEST_F(FwdPlainTest, AReceivedTextEndsAtItsMarkInAnyPieces) {
  const std::string big(2047, 'y');
  struct Case {
    std::string sent, stored;
  } cases[] = {
      {"one\rtwo\r" + kCtrlZ + "\r", "one\ntwo\n"},
      {"one\r\ntwo\r\n" + kCtrlZ + "\r\n", "one\ntwo\n"},
      {"one\rlast" + kCtrlZ + "\r", "one\nlast\n"},
      {"one\r/EX\r", "one\n"},
      {"one\r73 de XX1AAA/ex  \r", "one\n73 de XX1AAA\n"},
      {"C:/EXAMPLE\r/Ex\r", "C:/EXAMPLE\n"},
      {big + "\r" + kCtrlZ + "\r", big + "\n"},
  };
  for (size_t piece : {0, 1, 3, 200}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(piece) + ": " + c.sent.substr(0, 30));
      AddPartner();
      Start();
      Partner(kMblSid);
      EXPECT_EQ(Partner("SB ALL @ WW < XX1AAA $5_XX1AAA\r", piece), "OK\r");
      EXPECT_EQ(Partner("Title\r" + c.sent, piece), ">\r");
      EXPECT_EQ(StoredBody(1001), c.stored);
      EXPECT_EQ(Partner("F>\r", piece), "Done\r");
      Restart();
    }
  }
}

TEST_F(FwdPlainTest, ACtrlZApartFromItsCrEndsTheTextAndTheCrIsNoInput) {
  AddPartner();
  Start();
  Partner(kMblSid);
  Partner("SB ALL @ WW < XX1AAA $5_XX1AAA\r");
  EXPECT_EQ(Partner("Title\rText.\r" + kCtrlZ), ">\r");
  EXPECT_EQ(Partner("\r"), "");
  EXPECT_FALSE(Disconnected());
  EXPECT_EQ(Partner("F>\r"), "Done\r");
  EXPECT_EQ(StoredBody(1001), "Text.\n");
}

TEST_F(FwdPlainTest, WeCallAnMblPartner) {
  AddMsg({"B", "N", "ALL", "XX7ZZ", "", "Bulletin", "All hear this.\n"});
  AddMsg({"B", "N", "ALL", "XX7ZZ", "", "Known there", "Old news.\n"});
  AddPartner([](UserDB& u) {
    Queue(u, 0, 1001, "B");
    Queue(u, 1, 1003, "B");  // gone: leaves the queue
    Queue(u, 2, 1002, "B");
  });
  Start();
  // Our SID; the partner's prompt may be a bare ">".
  EXPECT_EQ(Call(kMblSid), std::string(kSystemId) + "\r");
  EXPECT_EQ(Partner(">\r"), "SB ALL @ XX2BBB < XX7ZZ $XX9ORN_1001\r");
  EXPECT_EQ(Partner("OK \r"), "Bulletin\rAll hear this.\r" + kCtrlZ + "\r");
  // Sent, but queued until the partner's prompt confirms.
  EXPECT_EQ(User(1).FwdMsgNo[0].FwdMsgNumbers, 1001);
  EXPECT_EQ(Partner("XX2BBB BBS>\r"), "SB ALL @ XX2BBB < XX7ZZ $XX9ORN_1002\r");
  EXPECT_EQ(User(1).FwdMsgNo[0].FwdMsgNumbers, 0);
  EXPECT_EQ(User(1).FwdMsgNo[1].FwdMsgNumbers, 0);
  // Refused with the prompt in the same text: it leaves the queue too, and
  // our turn is over.
  EXPECT_EQ(Partner("N - BID\r>\r"), "F>\r");
  EXPECT_EQ(User(1).FwdMsgNo[2].FwdMsgNumbers, 0);
  // The partner's turn.
  EXPECT_EQ(Partner("SP XX7ZZ @ XX9ORN < XX2BBB $77_XX2BBB\r"), "OK\r");
  EXPECT_EQ(Partner("Reply\rBack at you.\r" + kCtrlZ + "\r"), ">\r");
  EXPECT_STREQ(Record(3).MsgSubject, "Reply");
  EXPECT_EQ(Partner("F>\r"), "Done\r");
  EXPECT_TRUE(Disconnected());
}

TEST_F(FwdPlainTest, AnMblPartnerWithNothingSaysDoneOrPromptsWithFGreater) {
  // Its answer to our last text, and what we answer; then its words, if any.
  struct Case {
    const char* prompt;
    const char* ours;
    const char* then;
  } cases[] = {{">\r", "F>\r", "Done\r"}, {"F>\r", "Done\r", nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prompt);
    AddMsg({"B", "N", "ALL", "XX7ZZ", "", "Long", (std::string(2047, 'x') + "\n").c_str()});
    AddPartner([](UserDB& u) { Queue(u, 0, 1001, "B"); });
    Start();
    Call(kMblSid);
    Partner(">\r");
    // 2048 bytes go in one run, the end mark in the next.
    EXPECT_EQ(Partner("OK\r"), "Long\r" + std::string(2047, 'x') + "\r");
    EXPECT_EQ(RunSending(), kCtrlZ + "\r");
    EXPECT_EQ(Partner(c.prompt), c.ours);
    if (c.then) {
      EXPECT_EQ(Partner(c.then), "");
    }
    EXPECT_TRUE(Disconnected());
    EXPECT_EQ(User(1).FwdMsgNo[0].FwdMsgNumbers, 0);
    Restart();
  }
}

TEST_F(FwdPlainTest, MblFailuresEndTheSessionWithoutStoring) {
  struct Case {
    const char* name;
    bool weCall;
    std::vector<std::string> partner;
    bool weHangUp;
  } cases[] = {
      {"first text no offer", false, {"Hello there\r"}, true},
      {"answer neither OK nor NO", true, {">\r", "What?\r"}, true},
      {"a text that never ends", false, {"SB ALL @ WW < XX1AAA $5_XX1AAA\r", "Title\rText\r"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AddMsg({"B", "N", "ALL", "XX7ZZ", "", "Bulletin", "Text.\n"});
    AddPartner([](UserDB& u) { Queue(u, 0, 1001, "B"); });
    Start();
    if (c.weCall) {
      Call(kMblSid);
    } else {
      Partner(kMblSid);
    }
    for (const std::string& text : c.partner) Partner(text);
    EXPECT_EQ(Disconnected(), c.weHangUp);
    engine_.Event(0, std::string("*** DISCONNECTED From Station ") + kPartner + "\r");
    EXPECT_FALSE(Ch(1).Fwd);
    EXPECT_EQ(MsgCount(), 1);
    EXPECT_FALSE(Client().store->Bids.WeHaveThebid("5_XX1AAA"));
    EXPECT_EQ(User(1).FwdMsgNo[0].FwdMsgNumbers, 1001);
    Restart();
  }
}

TEST_F(FwdPlainTest, APlainFbbPartnerSendsTitlesAndTexts) {
  for (size_t piece : {0, 1, 7}) {
    SCOPED_TRACE(piece);
    AddPartner();
    Start();
    Client().store->Bids.InsertInBidArray("7_XX1AAA");
    // Compressed or plain, a proposal may read FA or FB.
    const std::string block = Block({Proposal("41_XX1AAA"), "FA B XX1AAA WW ALL 42_XX1AAA 20", Proposal("7_XX1AAA")});
    EXPECT_EQ(Partner(kAsciiSid + block), "FS ++-\r");
    EXPECT_EQ(Ch(1).whattodo, '^');
    const std::string texts = "Private\r\nR:261209/0800Z @:XX2BBB.#X.Y\r\n\r\nHello.\r\n" + kCtrlZ + "\r\n" +
                              "Bulletin\rFor all./EX\r";
    // After the last one, our turn at once.
    EXPECT_EQ(Partner(texts, piece), "FF\r");
    EXPECT_STREQ(Record(1).MsgSubject, "Private");
    EXPECT_STREQ(Record(1).Bid, "41_XX1AAA");
    EXPECT_EQ(StoredBody(1001), "R:261209/0800Z @:XX2BBB.#X.Y\n\nHello.\n");
    EXPECT_STREQ(Record(2).MsgSubject, "Bulletin");
    EXPECT_STREQ(Record(2).ToStation, "ALL");
    EXPECT_EQ(StoredBody(1002), "For all.\n");
    EXPECT_EQ(Partner("FQ\r"), "");
    EXPECT_TRUE(Disconnected());
    Restart();
  }
}

TEST_F(FwdPlainTest, APlainFbbPartnerGetsTitlesAndTexts) {
  const std::string body = "R:261210/1200Z @:XX9ORN\nPersonal news.\n";
  AddMsg({"P", "N", "XX3CCC", "XX7ZZ", "XX3CCC", "Personal", body.c_str()});
  AddMsg({"B", "N", "ALL", "XX7ZZ", "", "Known there", "Old news.\n"});
  AddMsg({"B", "N", "ALL", "XX7ZZ", "", "Bulletin", (std::string(2047, 'x') + "\n").c_str()});
  AddPartner([](UserDB& u) {
    Queue(u, 0, 1002, "B");
    Queue(u, 1, 1003, "B");
    Queue(u, 7, 1001, "P");
  });
  Start();
  const std::string want = Block({"FB P XX7ZZ XX3CCC XX3CCC XX9ORN_1001 " + std::to_string(Record(1).Size),
                                  "FB B XX7ZZ XX2BBB.#X.Y ALL XX9ORN_1002 " + std::to_string(Record(2).Size),
                                  "FB B XX7ZZ XX2BBB.#X.Y ALL XX9ORN_1003 " + std::to_string(Record(3).Size)});
  EXPECT_EQ(Partner(kAsciiSid + std::string("FF\r")), want);
  EXPECT_EQ(Partner("FS +-+\r"), "");
  EXPECT_EQ(RunSending(), "Personal\rR:261210/1200Z @:XX9ORN\rPersonal news.\r" + kCtrlZ + "\r" + "Bulletin\r" +
                              std::string(2047, 'x') + "\r" + kCtrlZ + "\r");
  EXPECT_EQ(Ch(1).whattodo, 'M');
  EXPECT_EQ(User(1).FwdMsgNo[7].FwdMsgNumbers, 1001);
  EXPECT_EQ(Partner("FF\r"), "FQ\r");
  EXPECT_TRUE(Disconnected());
  for (const UserFwdPriv& f : User(1).FwdMsgNo) EXPECT_EQ(f.FwdMsgNumbers, 0);
  EXPECT_STREQ(Record(1).Status, "F");
}

// The pane that showed why a session ended goes with the next session: the
// reason is in the log, with the partner's call.
TEST_F(FwdPlainTest, WhyAPartnersAnswerEndedTheSessionIsLogged) {
  const struct {
    const char* sid;
    const char* answer;
    const char* logged;
  } cases[] = {
      {kAsciiSid, ">\r", "<FWD Fail> XX2BBB: Ack len <5."},  // LinBPQ's prompt to plain FBB
      {kAsciiSid, "FS x\r", "<FWD Fail> XX2BBB: Ack <> +-=."},
      {kPartnerSid, "FS\r", "<FWD Fail> XX2BBB: Ack len <5."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    dir_.Write("BBS.LOG", "");
    AddMsg({"B", "N", "ALL", "XX7ZZ", "XX2BBB", "Old", "Text.\n"});
    AddPartner([](UserDB& u) { Queue(u, 0, 1001, "B"); });
    Start("[LOG]\nLOGOK=1\nLOGOTHER=1\n");
    Partner(c.sid + std::string("FF\r"));
    EXPECT_EQ(Partner(c.answer), "");
    EXPECT_TRUE(Disconnected());
    std::string log;
    ASSERT_TRUE(ReadWholeFile(dir_ / "BBS.LOG", &log));
    EXPECT_NE(log.find(std::string(c.logged) + "\n"), std::string::npos) << log;
    EXPECT_EQ(User(1).FwdMsgNo[0].FwdMsgNumbers, 1001);
    Restart();
  }
}

// A store-and-forward node passes a message on as it came: every byte
// value a mode carries as text, in the title too, reaches the next partner
// unchanged in the same mode, below the one routing line we add. A
// compressed text carries all but lone line-end bytes (the store keeps
// lines); plain texts end at Ctrl-Z and their lines in CR, and an MBL
// text passes the command interpreter, which drops NULs and LFs.
TEST_F(FwdPlainTest, AMessagePassesOnToTheNextPartnerAsItCame) {
  const char* const kNext = "XX4DDD";
  const std::string title = "Transit \x80\x81\x8D\x9E\xA9\xB0\xB3\xDB\xE9\xFE\xFF";
  // The partner's routing line, a blank line, then the bytes not in
  // `leftOut`, 32 to a line.
  auto text = [](const std::string& leftOut, const std::string& eol) {
    std::string out = "R:261209/0800Z @:XX2BBB.#X.Y" + eol + eol, line;
    for (int b = 0; b < 256; ++b) {
      const char c = static_cast<char>(b);
      if (leftOut.find(c) != std::string::npos) continue;
      line += c;
      if (line.size() == 32 || b == 255) {
        out += line + eol;
        line.clear();
      }
    }
    return out;
  };
  enum Mode { kCompressed, kPlainFbb, kMbl };
  struct Case {
    Mode mode;
    std::string sid, text;
  } cases[] = {
      {kCompressed, kPartnerSid, text("\r\n", "\r\n")},
      {kPlainFbb, kAsciiSid, text("\r\n" + kCtrlZ, "\r")},
      {kMbl, kMblSid, text(std::string("\r\n\0", 3) + kCtrlZ, "\r")},
  };
  // A partner's bytes in frames of a link's usual size; what it is sent.
  auto from = [this](const std::string& call, const std::string& bytes) {
    for (size_t at = 0; at < bytes.size(); at += 128) engine_.Data(0, call, bytes.substr(at, 128));
    return Sent();
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sid);
    AddPartner();
    AddUser(kNext, [](UserDB& u) {
      CopyField(u.Type, "B");
      CopyField(u.isFwdStation, "Y");
      CopyField(u.OkWithBids, "Y");
      CopyField(u.FwdDest, "@WW");
    });
    // Not Start(): the BBS's own routing queues the message for the next
    // partner.
    StartAndConnect({kPartner});
    const std::string proposal = "FB B XX1AAA WW ALL 77_XX1AAA " + std::to_string(c.text.size());
    if (c.mode == kMbl) {
      EXPECT_EQ(from(kPartner, c.sid), ">\r");
      EXPECT_EQ(from(kPartner, "SB ALL @ WW < XX1AAA $77_XX1AAA\r"), "OK\r");
      EXPECT_EQ(from(kPartner, title + "\r" + c.text + kCtrlZ + "\r"), ">\r");
      EXPECT_EQ(from(kPartner, "F>\r"), "Done\r");
    } else {
      EXPECT_EQ(from(kPartner, c.sid + Block({proposal})), "FS +\r");
      std::string out = c.mode == kCompressed ? from(kPartner, BlockStream(title, Compressed(c.text))) + RunSession()
                                              : from(kPartner, title + "\r" + c.text + kCtrlZ + "\r");
      EXPECT_EQ(out, "FF\r");
      EXPECT_EQ(from(kPartner, "FQ\r"), "");
    }
    EXPECT_TRUE(Disconnected());
    engine_.Event(0, std::string("*** DISCONNECTED From Station ") + kPartner + "\r");
    ASSERT_EQ(User(2).FwdMsgNo[0].FwdMsgNumbers, 1001);

    ASSERT_EQ(Connects(0, kNext), 1);
    Sent();
    std::string gotTitle, got;
    if (c.mode == kMbl) {
      EXPECT_EQ(from(kNext, c.sid), ">\r");
      EXPECT_EQ(from(kNext, "F>\r"), "SB ALL @ WW < XX1AAA $77_XX1AAA\r");
      got = from(kNext, "OK\r") + RunSending();
    } else {
      EXPECT_NE(from(kNext, c.sid + "FF\r").find("F> "), std::string::npos);
      got = from(kNext, "FS +\r");
      if (c.mode == kCompressed) {
        const std::vector<Received> stream = ReadStream(got + RunSession());
        ASSERT_EQ(stream.size(), 1u);
        gotTitle = stream[0].title;
        got = stream[0].text;
      } else {
        got += RunSending();
      }
    }
    if (c.mode != kCompressed) {
      // Title, text and the end mark.
      gotTitle = got.substr(0, got.find('\r'));
      got.erase(0, gotTitle.size() + 1);
      ASSERT_GE(got.size(), 2u);
      EXPECT_EQ(got.substr(got.size() - 2), kCtrlZ + "\r");
      got.resize(got.size() - 2);
    }
    EXPECT_EQ(gotTitle, title);
    const std::string eol = c.mode == kCompressed ? "\r\n" : "\r";
    EXPECT_EQ(got.rfind("R:", 0), 0u) << got;
    EXPECT_NE(got.find("@:XX9ORN"), std::string::npos) << got;
    const size_t ours = got.find(eol);
    ASSERT_NE(ours, std::string::npos);
    EXPECT_EQ(got.substr(ours + eol.size()), c.text);
    Restart();
  }
}

// A transcript of tests/data/linfbb: each turn's bytes, '<' LinFBB's, '>'
// its partner's.
struct Turn {
  bool linfbb;
  std::string bytes;
};

std::vector<Turn> ReadTranscript(const std::string& name) {
  std::string file;
  EXPECT_TRUE(ReadWholeFile(std::string(ORN_SOURCE_DIR) + "/tests/data/linfbb/" + name, &file)) << name;
  std::vector<Turn> turns;
  size_t at = 0;
  while (at < file.size()) {
    size_t end = file.find('\n', at);
    if (end == std::string::npos) end = file.size();
    const std::string line = file.substr(at, end - at);
    at = end + 1;
    if (line.size() < 2 || (line[0] != '<' && line[0] != '>')) continue;
    std::string bytes;
    for (size_t i = 2; i < line.size(); ++i) {
      if (line[i] != '\\' || i + 1 >= line.size()) {
        bytes += line[i];
        continue;
      }
      const char e = line[++i];
      if (e == 'r') bytes += '\r';
      else if (e == 'n') bytes += '\n';
      else if (e == '\\') bytes += '\\';
      else if (e == 'x' && i + 2 < line.size()) {
        bytes += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
        i += 2;
      }
    }
    const bool linfbb = line[0] == '<';
    if (turns.empty() || turns.back().linfbb != linfbb) turns.push_back({linfbb, ""});
    turns.back().bytes += bytes;
  }
  return turns;
}

TEST_F(FwdPlainTest, LinFbbCallsAndIsAnsweredAsRecorded) {
  struct Case {
    const char* file;
    // Where our words differ from the recorded partner's: its prompt and
    // its refusal.
    std::vector<std::pair<std::string, std::string>> ours;
    std::string last;  // our answer to LinFBB's last words
  } cases[] = {
      {"fbb_from_linfbb.txt", {}, ""},
      {"mbl_from_linfbb.txt", {{"NO\rXX9ORN BBS>\r", "NO - Bid\r>\r"}, {"XX9ORN BBS>\r", ">\r"}}, "Done\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::vector<Turn> turns = ReadTranscript(c.file);
    AddPartner();
    Start();
    Client().store->Bids.InsertInBidArray("SEEN_XX7OLD");
    // The login and greeting are the fixture's; the session starts with
    // LinFBB's SID.
    size_t i = 0;
    while (i < turns.size() && !(turns[i].linfbb && turns[i].bytes[0] == '[')) ++i;
    ASSERT_LT(i, turns.size());
    for (; i < turns.size(); ++i) {
      if (!turns[i].linfbb) continue;
      std::string answer = i + 1 < turns.size() ? turns[i + 1].bytes : c.last;
      for (const auto& [recorded, ours] : c.ours)
        if (answer == recorded) answer = ours;
      EXPECT_EQ(Partner(turns[i].bytes), answer) << i;
    }
    // After FQ or F> the recorded partner hung up, and so do we.
    EXPECT_TRUE(Disconnected());
    EXPECT_STREQ(Record(1).MsgSubject, "Private from LinFBB");
    EXPECT_STREQ(Record(1).Bid, "101_XX8FBB");
    EXPECT_STREQ(Record(1).ToStation, "XX9ABC");
    EXPECT_STREQ(Record(1).FromStation, "XX1ABC");
    const std::string body = StoredBody(1001);
    EXPECT_EQ(body.substr(body.find('\n')),
              "\n\nFrom: XX1ABC@XX8FBB.#TST.XX.EU\nTo  : XX9ABC@XX9ORN\n\n"
              "First line of the private message.\nSecond line.\n");
    EXPECT_EQ(body.rfind("R:261210/", 0), 0u) << body;
    EXPECT_STREQ(Record(2).MsgSubject, "Bulletin from LinFBB");
    EXPECT_STREQ(Record(2).AtBbs, "WW");
    EXPECT_EQ(MsgCount(), 2);
    Restart();
  }
}


// B1: both SIDs have "B1". The compressed stream carries its CRC in front,
// and a transfer the link broke goes on from what arrived.
const char* const kB1Sid = "[FBB-7.0.11-AB1FHMR$]\r";

// A text that compresses badly, so that its stream spans many packets.
std::string LongText(size_t size, unsigned seed = 7) {
  std::string text = kBody;
  while (text.size() < size) {
    seed = seed * 1103515245 + 12345;
    text += static_cast<char>('a' + (seed >> 16) % 26);
    if (seed % 61 == 0) text += "\r\n";
  }
  return text + "\r\n";
}

// What a B1 partner sends for a text from `offset` on: the header, for a
// resumed transfer the CRC and length word in a packet of their own, the
// stream in packets of 250 and the end packet.
// `joined`: the CRC and length word open the first packet of the rest
// instead of standing alone.
std::string B1Blocks(const std::string& title, const std::string& stream, size_t offset = 0, bool joined = false) {
  std::string out = HeaderPacket(title, static_cast<long>(offset));
  unsigned long sum = 0;
  auto data = [&](const std::string& part) {
    for (unsigned char c : part) sum += c;
    out += DataPacket(part);
  };
  std::string head = offset ? stream.substr(0, kB1Head) : "";
  if (!joined && !head.empty()) {
    data(head);
    head.clear();
  }
  for (size_t at = offset; at < stream.size(); at += kBlockData) {
    data(head + stream.substr(at, kBlockData - head.size()));
    at -= head.size();
    head.clear();
  }
  return out + EndPacket(sum);
}

// What we sent of one compressed message: the header's offset and the data
// after any resumed transfer's repeated CRC and length word.
struct SentB1 {
  long offset = -1;
  std::string head, data;
  bool checksumOk = false;
};

SentB1 ReadB1(const std::string& bytes) {
  PacketReader r;
  EXPECT_TRUE(r.Put(bytes.data(), bytes.size()));
  SentB1 got;
  unsigned long sum = 0;
  for (PacketReader::Kind k; (k = r.Next()) != PacketReader::Kind::kNone;) {
    if (k == PacketReader::Kind::kHeader) got.offset = HeaderOffset(r.data());
    if (k == PacketReader::Kind::kData) {
      for (unsigned char c : r.data()) sum += c;
      if (got.offset > 0 && got.head.empty()) {
        got.head = r.data();
      } else {
        got.data += r.data();
      }
    }
    if (k == PacketReader::Kind::kEnd) got.checksumOk = CheckSumOk(sum, r.checksum());
  }
  return got;
}

class FwdB1Test : public FwdSessionTest {
 protected:
  static constexpr const char* kBid = "77_XX1AAA";

  std::string PartialFile() { return dir_ / ("temp/" + std::string(kPartner) + "_" + kBid + ".b1p"); }
  // The stream bytes the partial file holds; -1 without one.
  long Held() {
    std::string file;
    if (!ReadWholeFile(PartialFile(), &file)) return -1;
    return static_cast<long>(file.size() - file.find('\n') - 1);
  }
  void HangUp() {
    engine_.Event(0, std::string("*** DISCONNECTED From Station ") + kPartner + "\r");
    EXPECT_FALSE(Ch(1).Fwd);
  }
  void Reconnect() {
    ASSERT_EQ(Connects(0, kPartner), 1);
    Sent();
  }
  // A first session that breaks off after `wire` bytes of the blocks.
  void BrokenTransfer(const std::string& text, size_t wire) {
    EXPECT_EQ(Partner(kB1Sid + Block({Proposal(kBid, text.size())})), "FS +\r");
    Partner(B1Blocks("Long one", B1Stream(Compressed(text))).substr(0, wire), 100);
    HangUp();
  }
  std::string StoredText() {
    const std::string stored = MsgText(1001);
    return stored.substr(stored.find('\n') + 1);
  }
};

TEST_F(FwdB1Test, AWholeMessageInFramesOfAnySize) {
  const std::string text = LongText(3000);
  for (size_t piece : {size_t{1}, size_t{2}, size_t{7}, size_t{97}, size_t{250}, size_t{253}, size_t{0}}) {
    SCOPED_TRACE(piece);
    AddPartner();
    Start();
    EXPECT_EQ(Partner(kB1Sid + Block({Proposal(kBid, text.size())}), piece), "FS +\r");
    std::string out = Partner(B1Blocks("Greetings", B1Stream(Compressed(text))), piece);
    out += RunSession();
    EXPECT_EQ(out, "FF\r");
    EXPECT_STREQ(Record(1).MsgSubject, "Greetings");
    EXPECT_EQ(StoredText(), FromDiskLines(text));
    EXPECT_EQ(Held(), -1);
    Restart();
  }
}

TEST_F(FwdB1Test, AWrongCrcStoresNothingAndKeepsNothing) {
  AddPartner();
  Start();
  EXPECT_EQ(Partner(kB1Sid + Block({Proposal(kBid, kBody.size())})), "FS +\r");
  std::string stream = B1Stream(Compressed(kBody));
  stream[0] = static_cast<char>(stream[0] ^ 1);
  // The end packet's checksum is right: only the CRC tells.
  std::string out = Partner(B1Blocks("t", stream));
  out += RunSession();
  EXPECT_EQ(out, "\rChecksum..\r");
  EXPECT_TRUE(Disconnected());
  EXPECT_EQ(MsgCount(), 0);
  EXPECT_EQ(Held(), -1);
  HangUp();
  // Next time the message is asked for whole.
  Reconnect();
  EXPECT_EQ(Partner(kB1Sid + Block({Proposal(kBid, kBody.size())})), "FS +\r");
}

TEST_F(FwdB1Test, ABrokenTransferGoesOnFromWhatArrived) {
  const std::string text = LongText(20000);
  const std::string stream = B1Stream(Compressed(text));
  ASSERT_GT(stream.size(), 5000u);
  AddPartner();
  Start();
  BrokenTransfer(text, stream.size() * 9 / 10);
  EXPECT_EQ(MsgCount(), 0);
  // Whole packets only, as they came.
  const long held = Held();
  ASSERT_GT(held, static_cast<long>(stream.size() / 2));
  EXPECT_EQ(held % kBlockData, 0);

  Reconnect();
  EXPECT_EQ(Partner(kB1Sid + Block({Proposal(kBid, text.size())})), "FS !" + std::to_string(held) + "\r");
  std::string out = Partner(B1Blocks("Long one", stream, static_cast<size_t>(held)), 61);
  out += RunSession();
  EXPECT_EQ(out, "FF\r");
  EXPECT_EQ(StoredText(), FromDiskLines(text));
  EXPECT_STREQ(Record(1).Bid, kBid);
  EXPECT_EQ(Held(), -1);
}

TEST_F(FwdB1Test, TheCrcAndLengthMayOpenTheFirstPacketOfTheRest) {
  const std::string text = LongText(6000);
  const std::string stream = B1Stream(Compressed(text));
  AddPartner();
  Start();
  BrokenTransfer(text, stream.size() / 2);
  const long held = Held();
  Reconnect();
  EXPECT_EQ(Partner(kB1Sid + Block({Proposal(kBid, text.size())})), "FS !" + std::to_string(held) + "\r");
  std::string out = Partner(B1Blocks("Long one", stream, static_cast<size_t>(held), true), 256);
  out += RunSession();
  EXPECT_EQ(out, "FF\r");
  EXPECT_EQ(StoredText(), FromDiskLines(text));
}

TEST_F(FwdB1Test, WhatCannotGoOnIsDroppedAndAskedForWhole) {
  const std::string text = LongText(6000);
  const std::string stream = B1Stream(Compressed(text));
  const std::string other = B1Stream(Compressed(LongText(6000, 9)));
  struct Case {
    const char* name;
    long size;                      // the size in the second proposal; 0: the same
    std::function<std::string(size_t held)> blocks;  // the partner's answer to our "!"
    std::string reply;
  } cases[] = {
      {"offset not held", 0, [&](size_t held) { return B1Blocks("t", stream, held - kBlockData); }, ""},
      {"offset beyond the message", 0,
       [&](size_t) {
         return HeaderPacket("t", static_cast<long>(stream.size() + 10)) + DataPacket(stream.substr(0, kB1Head));
       },
       ""},
      {"another CRC and length", 0, [&](size_t held) { return B1Blocks("t", other, held); }, ""},
      // Same CRC and length word in front, other bytes after: the CRC of the
      // whole tells.
      {"CRC fails after the resume", 0,
       [&](size_t held) { return B1Blocks("t", stream.substr(0, held) + other.substr(held), held); }, "\rChecksum..\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AddPartner();
    Start();
    BrokenTransfer(text, stream.size() / 2);
    const long held = Held();
    ASSERT_GT(held, 0);
    Reconnect();
    EXPECT_EQ(Partner(kB1Sid + Block({Proposal(kBid, text.size())})), "FS !" + std::to_string(held) + "\r");
    std::string out = Partner(c.blocks(static_cast<size_t>(held)), 256);
    out += RunSession();
    EXPECT_EQ(out, c.reply);
    EXPECT_TRUE(Disconnected());
    EXPECT_EQ(MsgCount(), 0);
    EXPECT_EQ(Held(), -1);
    HangUp();
    Reconnect();
    EXPECT_EQ(Partner(kB1Sid + Block({Proposal(kBid, text.size())})), "FS +\r");
    HangUp();
    Restart();
  }
}

TEST_F(FwdB1Test, APartnerMayResendWholeOrChangeTheSize) {
  const std::string text = LongText(6000);
  const std::string stream = B1Stream(Compressed(text));
  for (bool changedSize : {false, true}) {
    SCOPED_TRACE(changedSize);
    AddPartner();
    Start();
    BrokenTransfer(text, stream.size() / 2);
    const long held = Held();
    Reconnect();
    // A message of another size is another message: asked for whole, and
    // what we held of it is gone.
    const size_t size = changedSize ? text.size() + 1 : text.size();
    EXPECT_EQ(Partner(kB1Sid + Block({Proposal(kBid, size)})),
              changedSize ? std::string("FS +\r") : "FS !" + std::to_string(held) + "\r");
    if (changedSize) {
      EXPECT_EQ(Held(), -1);
    }
    // The partner sends it whole all the same.
    std::string out = Partner(B1Blocks("t", stream), 250);
    out += RunSession();
    EXPECT_EQ(out, "FF\r");
    EXPECT_EQ(StoredText(), FromDiskLines(text));
    EXPECT_EQ(Held(), -1);
    HangUp();
    Restart();
  }
}

// What a gateway that ate bytes leaves behind: the partner answers "!N"
// with an empty block, call after call. Such a partial is given up.
TEST_F(FwdB1Test, APartialThatCannotBeFinishedIsAskedForWhole) {
  const std::string longText = LongText(6000);
  const std::string longStream = B1Stream(Compressed(longText));
  const std::string shortText = "Short.\r\n";
  const std::string shortStream = B1Stream(Compressed(shortText));
  ASSERT_GE(shortStream.size(), shortText.size());
  struct Case {
    const char* name;
    const std::string& text;
    int resumes;  // how often the rest is asked for before the message is asked whole
  } cases[] = {
      {"the rest asked for twice in vain", longText, 2},
      {"as long as the whole text", shortText, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AddPartner();
    Start();
    const std::string stream = &c.text == &longText ? longStream : shortStream;
    if (c.resumes > 0) {
      BrokenTransfer(c.text, stream.size() / 2);
    } else {
      std::filesystem::create_directories(dir_ / "temp");
      ASSERT_TRUE(WriteFileReplacing(PartialFile(), "ORNB1 " + std::string(kBid) + " " +
                                                        std::to_string(c.text.size()) + "\n" +
                                                        stream.substr(0, c.text.size())));
      HangUp();
    }
    const long held = Held();
    ASSERT_GT(held, static_cast<long>(kB1Head));
    for (int i = 0; i < c.resumes; ++i) {
      Reconnect();
      EXPECT_EQ(Partner(kB1Sid + Block({Proposal(kBid, c.text.size())})), "FS !" + std::to_string(held) + "\r");
      HangUp();
      EXPECT_EQ(Held(), held);
    }
    Reconnect();
    EXPECT_EQ(Partner(kB1Sid + Block({Proposal(kBid, c.text.size())})), "FS +\r");
    std::string out = Partner(B1Blocks("t", stream), 250);
    out += RunSession();
    EXPECT_EQ(out, "FF\r");
    EXPECT_EQ(StoredText(), FromDiskLines(c.text));
    EXPECT_EQ(Held(), -1);
    HangUp();
    Restart();
  }
}

TEST_F(FwdB1Test, OldPartialsAndThoseThatCameWholeGo) {
  std::filesystem::create_directories(dir_ / "temp");
  auto partial = [&](const std::string& bid) {
    const std::string path = dir_ / ("temp/" + std::string(kPartner) + "_" + bid + ".b1p");
    EXPECT_TRUE(WriteFileReplacing(path, "ORNB1 " + bid + " 100\n" + std::string(500, 'x')));
    return path;
  };
  const std::string old = partial("OLD_XX1AAA"), known = partial("KNOWN_XX1AAA"), fresh = partial("NEW_XX1AAA");
  std::filesystem::last_write_time(old, std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 8));
  const std::string stray = dir_ / "temp/stray.b1p";
  EXPECT_TRUE(WriteFileReplacing(stray, "not ours"));
  AddPartner();
  Start();
  Client().store->Bids.InsertInBidArray("KNOWN_XX1AAA");
  Partner(kB1Sid);
  EXPECT_FALSE(FileExists(old));
  EXPECT_FALSE(FileExists(known));
  EXPECT_FALSE(FileExists(stray));
  EXPECT_TRUE(FileExists(fresh));
  // A BID cannot lead out of temp/.
  EXPECT_EQ(B1Partial(dir_ / "temp", "XX2BBB", "../../X/Y").path(), dir_ / "temp/XX2BBB_%2E%2E%2F%2E%2E%2FX%2FY.b1p");
}

// A broken transfer is kept to go on from only when it came from a
// forwarding partner; any other station's goes with its session.
TEST_F(FwdB1Test, OnlyAPartnersBrokenTransferIsKept) {
  const std::string text = LongText(6000);
  const std::string stream = B1Stream(Compressed(text));
  for (const char* fwdStation : {"Y", "N"}) {
    SCOPED_TRACE(std::string("isFwdStation ") + fwdStation);
    const bool partner = fwdStation[0] == 'Y';
    AddPartner([&](UserDB& u) { CopyField(u.isFwdStation, fwdStation); });
    Start();
    BrokenTransfer(text, stream.size() / 2);
    const long held = Held();
    if (partner) {
      EXPECT_GT(held, 0);
    } else {
      EXPECT_EQ(held, -1);
      // One left from the days it was a partner is not taken up either.
      ASSERT_TRUE(WriteFileReplacing(PartialFile(), "ORNB1 " + std::string(kBid) + " " + std::to_string(text.size()) +
                                                        "\n" + stream.substr(0, 2 * kBlockData)));
    }
    Reconnect();
    EXPECT_EQ(Partner(kB1Sid + Block({Proposal(kBid, text.size())})),
              partner ? "FS !" + std::to_string(held) + "\r" : std::string("FS +\r"));
    if (!partner) {
      EXPECT_EQ(Held(), -1);
    }
    HangUp();
    Restart();
  }
}

// A partial message holds no more than any coding of the proposed text: a
// stream beyond that is no such message, and goes before it fills the disk.
TEST_F(FwdB1Test, AStreamLongerThanItsProposalAllowsIsRefused) {
  std::string noise;
  for (unsigned seed = 3; noise.size() < 20000;) {
    seed = seed * 1103515245 + 12345;
    noise += static_cast<char>(seed >> 16);
  }
  struct Case {
    const char* name;
    std::string text;
    long proposed;
    bool stored;
  } cases[] = {
      {"incompressible bytes of the proposed size", noise.substr(0, 3000), 3000, true},
      {"a text of a few bytes", "Hi\r\n", 4, true},
      // Past the room kept for a peer's routing lines too.
      {"twenty kilobytes for a proposal of a hundred", noise, 100, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string stream = B1Stream(Compressed(c.text));
    AddPartner();
    Start();
    EXPECT_EQ(Partner(kB1Sid + Block({Proposal(kBid, c.proposed)})), "FS +\r");
    std::string out = Partner(B1Blocks("t", stream), 256);
    out += RunSession();
    if (c.stored) {
      EXPECT_EQ(out, "FF\r");
      EXPECT_EQ(MsgCount(), 1);
    } else {
      EXPECT_EQ(out, "");
      EXPECT_TRUE(Disconnected());
      EXPECT_EQ(MsgCount(), 0);
    }
    EXPECT_EQ(Held(), -1);
    HangUp();
    Restart();
  }
}

// What one partner may keep: a new partial message makes room by removing
// that partner's oldest, never another partner's.
TEST_F(FwdB1Test, APartnersPartialsAreBoundInNumberAndBytes) {
  const std::string text = LongText(6000);
  const std::string stream = B1Stream(Compressed(text));
  struct Case {
    const char* name;
    const char* owner;  // whose partial messages are there already
    int files;
    size_t bytes;       // each
    int left;           // of them, after the partner's new one began
  } cases[] = {
      {"many small ones", kPartner, 40, 100, static_cast<int>(B1Partial::kMaxFilesPerPartner) - 1},
      {"a few large ones", kPartner, 3, 3u << 20, 2},
      {"another partner's", "XX7OTH", 40, 100, 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir_ / "temp");
    std::filesystem::create_directories(dir_ / "temp");
    std::vector<std::string> paths;
    const auto now = std::filesystem::file_time_type::clock::now();
    for (int i = 0; i < c.files; ++i) {
      const std::string bid = "OLD" + std::to_string(i) + "_XX1AAA";
      paths.push_back(dir_ / ("temp/" + std::string(c.owner) + "_" + bid + ".b1p"));
      ASSERT_TRUE(WriteFileReplacing(paths.back(), "ORNB1 " + bid + " " + std::to_string(c.bytes * 2) + "\n" +
                                                       std::string(c.bytes, 'x')));
      std::filesystem::last_write_time(paths.back(), now - std::chrono::minutes(c.files - i));
    }
    AddPartner();
    Start();
    BrokenTransfer(text, stream.size() / 2);
    EXPECT_GT(Held(), 0);
    int left = 0;
    for (int i = 0; i < c.files; ++i) {
      const bool kept = FileExists(paths[static_cast<size_t>(i)]);
      left += kept;
      // The oldest went first.
      EXPECT_EQ(kept, i >= c.files - c.left) << i;
    }
    EXPECT_EQ(left, c.left);
    Restart();
  }
}

// However many files temp/ holds, a step of the sweep looks at a bounded
// number of them; the steps together go through all.
TEST_F(FwdB1Test, TheSweepGoesThroughAFullTempInBoundedSteps) {
  const std::string temp = dir_ / "temp";
  std::filesystem::create_directories(temp);
  const size_t stale = 2 * B1Partial::kSweepStepFiles + 50;
  const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 8);
  for (size_t i = 0; i < stale; ++i) {
    const std::string path = temp + "/" + kPartner + "_S" + std::to_string(i) + ".b1p";
    ASSERT_TRUE(WriteFileReplacing(path, "ORNB1 S" + std::to_string(i) + " 100\nxx"));
    std::filesystem::last_write_time(path, old);
  }
  const std::string fresh = temp + "/" + kPartner + "_FRESH.b1p";
  ASSERT_TRUE(WriteFileReplacing(fresh, "ORNB1 FRESH 100\nxx"));
  auto count = [&] {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(temp)) n += e.path().extension() == ".b1p";
    return n;
  };
  auto never = [](const std::string&) { return false; };
  int steps = 1;
  EXPECT_FALSE(B1Partial::SweepStep(temp, never));
  EXPECT_GE(count(), stale + 1 - B1Partial::kSweepStepFiles);
  while (!B1Partial::SweepStep(temp, never)) ASSERT_LT(++steps, 10);
  EXPECT_EQ(count(), 1u);
  EXPECT_TRUE(FileExists(fresh));
}

TEST_F(FwdB1Test, OurMessagesGoWithTheirCrcAndFromThePartnersOffset) {
  const std::string body = FromDiskLines(LongText(8000));
  struct Case {
    const char* answer;
    long offset;  // what the header must say
  } cases[] = {{"FS +\r", 0}, {"FS Y\r", 0}, {"FS !1000\r", 1000}, {"FS A2500\r", 2500}, {"FS !999999\r", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    AddMsg({"P", "N", "XX3CCC", "XX7ZZ", "XX3CCC", "Personal", body.c_str()});
    AddPartner([](UserDB& u) { Queue(u, 0, 1001, "P"); });
    Start();
    const std::string block = Partner(kB1Sid + std::string("FF\r"));
    EXPECT_EQ(block.rfind("FA P XX7ZZ XX3CCC XX3CCC XX9ORN_1001 ", 0), 0u) << block;
    EXPECT_EQ(Partner(c.answer), "");
    const SentB1 got = ReadB1(RunSession());
    EXPECT_TRUE(got.checksumOk);
    EXPECT_EQ(got.offset, c.offset);
    std::string stream = got.data;
    if (c.offset > 0) {
      // The partner compares the CRC and length word with its own, then
      // joins the rest to what it holds.
      ASSERT_EQ(got.head.size(), kB1Head);
      std::string whole = B1Stream(Compressed(ToDiskLines(body)));
      EXPECT_EQ(got.head, whole.substr(0, kB1Head));
      stream = whole.substr(0, static_cast<size_t>(c.offset)) + got.data;
    }
    EXPECT_TRUE(B1StreamOk(stream));
    std::string expanded;
    EXPECT_EQ(LzhufDecode(stream.substr(2), &expanded), LzhufError::kNone);
    EXPECT_EQ(expanded, ToDiskLines(body));
    EXPECT_EQ(Partner("FF\r"), "FQ\r");
    HangUp();
    Restart();
  }
}

TEST_F(FwdB1Test, AMessageThePartnerFindsFaultWithStaysQueued) {
  AddMsg({"P", "N", "XX3CCC", "XX7ZZ", "XX3CCC", "Personal", "Text.\n"});
  AddPartner([](UserDB& u) { Queue(u, 0, 1001, "P"); });
  Start();
  Partner(kB1Sid + std::string("FF\r"));
  EXPECT_EQ(Partner("FS A10\r"), "");
  RunSession();
  // LinFBB's words when it will not take up a transfer where it broke.
  EXPECT_EQ(Partner("*** Checksum error (Binary file has been changed.)\r"), "");
  EXPECT_TRUE(Disconnected());
  HangUp();
  EXPECT_EQ(User(1).FwdMsgNo[0].FwdMsgNumbers, 1001);
}

// LinFBB's telnet stream doubles each 0xFF; ornpe's gateway undoes it.
std::string Undoubled(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    out += bytes[i];
    if (bytes[i] == '\xff' && i + 1 < bytes.size() && bytes[i + 1] == '\xff') ++i;
  }
  return out;
}

TEST_F(FwdB1Test, LinFbbsRecordedTransferCutAndResumedInFramesOfAnySize) {
  // Recorded with ornbbs as LinFBB's partner: our answers are the recorded
  // ones, in whatever frames LinFBB's bytes come.
  const std::vector<std::string> files = {"b1_from_linfbb_cut.txt", "b1_from_linfbb_resumed.txt"};
  for (size_t piece : {size_t{1}, size_t{5}, size_t{128}, size_t{256}, size_t{1000}}) {
    SCOPED_TRACE(piece);
    AddPartner();
    Start();
    for (const std::string& file : files) {
      SCOPED_TRACE(file);
      const std::vector<Turn> turns = ReadTranscript(file);
      size_t i = 0;
      while (i < turns.size() && !(turns[i].linfbb && turns[i].bytes.find('[') != std::string::npos)) ++i;
      ASSERT_LT(i, turns.size());
      // The login before LinFBB's SID is the gateway's and ours.
      for (; i < turns.size(); ++i) {
        if (!turns[i].linfbb) continue;
        std::string bytes = Undoubled(turns[i].bytes);
        if (bytes.find('[') != std::string::npos && bytes.find('[') < bytes.find('\r')) bytes.erase(0, bytes.find('['));
        std::string want = i + 1 < turns.size() ? turns[i + 1].bytes : "";
        if (want.rfind("*** DISCONNECTED", 0) == 0) want.clear();  // the gateway's, not ours
        std::string got = Partner(bytes, piece);
        got += RunSession();
        EXPECT_EQ(got, want) << i;
      }
      HangUp();
      if (file == files[0]) {
        // What arrived of it waits for the next session.
        EXPECT_EQ(ListDir(dir_ / "temp"), std::vector<std::string>{"XX2BBB_LONG_XX8FBB.b1p"});
        EXPECT_EQ(MsgCount(), 0);
        Reconnect();
      }
    }
    EXPECT_EQ(MsgCount(), 1);
    EXPECT_STREQ(Record(1).MsgSubject, "Long from LinFBB");
    EXPECT_STREQ(Record(1).Bid, "LONG_XX8FBB");
    const std::string text = StoredText();
    EXPECT_NE(text.find("R:"), std::string::npos);
    EXPECT_GT(text.size(), 19000u);
    EXPECT_TRUE(ListDir(dir_ / "temp").empty());
    Restart();
  }
}

TEST_F(FwdB1Test, APartnerThatUsesB1WithoutOfferingItIsUnderstood) {
  // LinFBB with B0 in its forward.sys announces "B" only, yet uses B1 with a
  // partner that offers it: CRC in front, answers in B1's letters.
  AddMsg({"P", "N", "XX3CCC", "XX7ZZ", "XX3CCC", "Personal", "Text for LinFBB.\n"});
  AddPartner([](UserDB& u) { Queue(u, 0, 1001, "P"); });
  Start();
  const std::string text = LongText(2000);
  EXPECT_EQ(Partner(kPartnerSid + Block({Proposal(kBid, text.size())})), "FS +\r");
  std::string out = Partner(B1Blocks("Its B1", B1Stream(Compressed(text))), 250);
  out += RunSession();
  EXPECT_EQ(MsgText(1002).substr(MsgText(1002).find('\n') + 1), FromDiskLines(text));
  EXPECT_EQ(out.rfind("FA P XX7ZZ", 0), 0u) << out;
  EXPECT_EQ(Partner("FS Y\r"), "");
  const SentB1 got = ReadB1(RunSession());
  EXPECT_TRUE(got.checksumOk);
  EXPECT_TRUE(B1StreamOk(got.data));
  // A B0 stream is still B0, and B0 answers get B0.
  Partner("FF\r");
  HangUp();
  Reconnect();
  EXPECT_EQ(Partner(kPartnerSid + Block({Proposal("78_XX1AAA", kBody.size())})), "FS +\r");
  out = Partner(BlockStream("Its B0", Compressed(kBody)));
  out += RunSession();
  EXPECT_EQ(MsgText(1003).substr(MsgText(1003).find('\n') + 1), FromDiskLines(kBody));
}
}  // namespace
}  // namespace orn
