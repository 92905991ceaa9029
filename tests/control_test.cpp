// The sysop's command-line requests, on a BBS running on the in-memory
// engine (the in-memory state follows at once) and on a stopped one; the
// user-field table they share with the editors; the JSON of the wire.
#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

#include <cstring>

#include "admin/user_fields.h"
#include "app/control.h"
#include "app/tap_view.h"
#include "platform/file_names.h"
#include "platform/instance_lock.h"
#include "platform/json.h"
#include "platform/text.h"
#include "store/orn_dbase.h"
#include "support/bbs_on_engine.h"
#include "support/recording_view.h"

namespace orn {
namespace {

// ---- JSON ----

TEST(ControlJson, WhatIsWrittenReadsBack) {
  Json j = Json::Object();
  j.Set("text", "line\r\nquote\" back\\ tab\t bell\x07 é").Set("n", -42L).Set("ok", true).Set("none", Json());
  j.Set("list", Json::Array().Push(1).Push("two").Push(Json::Object()));
  const std::string line = j.Write();
  EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
  Json back;
  std::string why;
  ASSERT_TRUE(ParseJson(line, &back, &why)) << why;
  EXPECT_EQ(back.Write(), line);
  EXPECT_EQ(back.Get("text").AsString(), "line\r\nquote\" back\\ tab\t bell\x07 é");
  EXPECT_EQ(back.Get("n").AsNumber(), -42);
  EXPECT_TRUE(back.Get("missing").IsNull());
}

TEST(ControlJson, EscapesAndSurrogatesBecomeUtf8) {
  Json j;
  ASSERT_TRUE(ParseJson(R"(["\u00e9\u20ac\ud83d\ude00\/"])", &j, nullptr));
  EXPECT_EQ(j.items()[0].AsString(), "é€😀/");
}

TEST(ControlJson, AnythingElseIsRefusedWithAReason) {
  const char* const bad[] = {"",          "{",          "[1,]",         "{\"a\" 1}",     "\"open",
                             "tru",       "1.5",        "1e3",          "01x",           "[1] [2]",
                             "\"\\ud800\"", "\"\\x\"",    "\"a\nb\"",     "12345678901234567890",
                             "{\"a\":}",  "[\"\\u12\"]"};
  for (const char* text : bad) {
    Json j;
    std::string why;
    EXPECT_FALSE(ParseJson(text, &j, &why)) << text;
    EXPECT_FALSE(why.empty()) << text;
  }
  EXPECT_FALSE(ParseJson(std::string(40, '[') + std::string(40, ']'), nullptr, nullptr));
  Json j;
  EXPECT_TRUE(ParseJson(std::string(30, '[') + std::string(30, ']'), &j, nullptr));
}

// ---- the user-field table ----

TEST(UserFields, ValuesAreCheckedAsTheEditorChecksThem) {
  struct Case {
    const char* field;
    const char* value;
    const char* stored;  // read back; nullptr: refused
  };
  const Case cases[] = {
      {"Name", "Anna", "Anna"},
      {"name", "ABCDEFGHIJKLMN", "ABCDEFGHIJKLMN"},
      {"Name", "ABCDEFGHIJKLMNO", nullptr},  // 14 characters at most
      {"Name", "two\nlines", nullptr},
      {"Type", "b", "B"},
      {"Type", "Q", nullptr},
      {"Type", "BB", nullptr},
      {"HomeBbs", "xx8orn.#skg.grc.eu", "XX8ORN.#SKG.GRC.EU"},
      {"MaxStayMinutes", "100000", "100000"},
      {"MaxStayMinutes", "100001", nullptr},
      {"MaxDownload", "-1", nullptr},
      {"MaxDownload", "12k", nullptr},
      {"isFwdStation", "y", "Y"},
      {"OkWithBids", "maybe", nullptr},
      {"FwdQueue", "50", "50"},
      {"FwdQueue", "51", nullptr},
      {"FwdKind", "c", "C"},
      {"FwdKind", "N", nullptr},
      {"FwdDest", "@WW\\n>XX3CCC", "@WW\r\n>XX3CCC\r\n"},
      {"FwdDest", "@WW\r\n<XX1ABC\n", "@WW\r\n<XX1ABC\r\n"},
      {"FwdDest", "@WW\\nWW", nullptr},
      {"PasswordOk", "1", "1"},
      {"PasswordOk", "2", nullptr},
      {"Hcon[0].hours", "0023", "0023"},
      {"hcon[9].HOURS", "2300", "2300"},
      {"Hcon[0].hours", "0024", nullptr},
      {"Hcon[0].hours", "023", nullptr},
      {"Hcon[0].hours", "", ""},  // an entry not in use
      {"Hcon[0].mlength", "<100", "<100"},
      {"Hcon[0].mlength", ">5", ">5"},
      {"Hcon[0].mlength", "5", "5"},
      {"Hcon[0].mlength", "=5", nullptr},
      {"Hcon[0].mlength", "<12345678901", nullptr},
      {"Hcon[0].daysago", "30", "30"},
      {"Hcon[0].daysago", "x", nullptr},
      {"Hcon[0].port", "10", "10"},
      {"Hcon[0].port", "0", nullptr},
      {"Hcon[0].port", "11", nullptr},
      {"Hcon[0].fwdkind", "e", "E"},
      {"Hcon[0].fwdkind", "D", nullptr},
      {"Hcon[0].flag", "c", "C"},
      {"Hcon[0].flag", "Y", nullptr},
      {"Hcon[0].send", std::string(100, 'S').c_str(), nullptr},  // replaced below
  };
  for (const Case& c : cases) {
    if (!std::strcmp(c.field, "Hcon[0].send")) continue;
    UserDB u{};
    TOrnDbase(StoreSite{}).DBdefaults(&u, 1);
    const UserDB before = u;
    const std::string why = SetUserField(u, c.field, c.value);
    if (c.stored) {
      EXPECT_EQ(why, "") << c.field << "=" << c.value;
      EXPECT_EQ(GetUserField(u, c.field), c.stored) << c.field << "=" << c.value;
    } else {
      // The reason names the field as the record names it; nothing changed.
      EXPECT_EQ(why.rfind(UserFieldName(c.field) + ": ", 0), 0u) << c.field << "=" << c.value << ": " << why;
      EXPECT_EQ(std::memcmp(&u, &before, sizeof u), 0) << c.field << "=" << c.value;
    }
  }
  UserDB u{};
  EXPECT_EQ(SetUserField(u, "Hcon[3].send", std::string(100, 'S')), "");
  EXPECT_NE(SetUserField(u, "Hcon[3].send", std::string(101, 'S')), "");
  EXPECT_EQ(SetUserField(u, "Hcon[10].send", "X"), "Hcon[10].send: no such field");
}

TEST(UserFields, EveryFieldLandsInItsOwnPlaceOfTheRecord) {
  UserDB u{};
  ASSERT_EQ(SetUserField(u, "FwdKind", "E"), "");
  EXPECT_EQ(u.FwdKind, 'E');  // a letter kept in an integer
  ASSERT_EQ(SetUserField(u, "Hcon[4].flag", "C"), "");
  EXPECT_EQ(u.Hcon[4].flag, 'C');  // the byte itself, no terminator
  ASSERT_EQ(SetUserField(u, "Hcon[4].port", "3"), "");
  EXPECT_STREQ(u.Hcon[4].port, "3");
  EXPECT_EQ(UserFieldNames().size(), 18u + 90u);  // ten connect entries of nine fields
  // A value written by name reads back by name, field by field, untouched by
  // its neighbours.
  for (const std::string& name : UserFieldNames()) {
    UserDB v{};
    const std::string value = UserFieldIsNumber(name) ? "1" : name.find("hours") != std::string::npos ? "0102"
                              : name == "Type"                                                     ? "B"
                              : name.find("flag") != std::string::npos                             ? "C"
                              : name == "FwdKind"                                                  ? "F"
                              : name.find("fwdkind") != std::string::npos                          ? "R"
                              : name == "isFwdStation" || name == "OkWithBids"                     ? "Y"
                              : name == "FwdDest"                                                  ? "@X"
                                                                                                   : "7";
    ASSERT_EQ(SetUserField(v, name, value), "") << name;
    for (const std::string& other : UserFieldNames()) {
      const std::string got = GetUserField(v, other);
      if (other == name) {
        EXPECT_EQ(got, name == "FwdDest" ? "@X\r\n" : value) << name;
      } else {
        EXPECT_TRUE(got.empty() || got == "0") << name << " spilled into " << other << ": " << got;
      }
    }
  }
}

// ---- requests on a running BBS ----

class ControlTest : public test::BbsOnEngine {
 protected:
  void Start(const std::string& personal = "") {
    StartWith("[PERSONAL]\nMYCALL=XX9ORN-1\nFWDOK=1\nFWDMIN=15\nBIDGENERATION=1\n" + personal +
              "[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=2\nBBSONLY=0\nLIMITED=0\n");
    ControlSite s;
    s.running = true;
    s.cfg = &bbs_->cfg();
    s.ini = &bbs_->ini();
    s.store = bbs_->store();
    s.client = &bbs_->client();
    s.partners = bbs_->partners();
    s.optimizer = bbs_->optimizer();
    s.timers = bbs_->serviceTimers();
    s.clock = &clock_;
    handler_ = std::make_unique<ControlHandler>(s);
  }
  ControlAnswer Ask(std::vector<std::string> args, const std::string& input = "") {
    return handler_->Handle(args, input);
  }
  Json AskJson(std::vector<std::string> args, const std::string& input = "") {
    args.push_back("--json");
    const ControlAnswer a = Ask(args, input);
    EXPECT_EQ(a.status, 0) << a.error;
    Json j;
    std::string why;
    EXPECT_TRUE(ParseJson(a.out, &j, &why)) << why << ": " << a.out;
    return j;
  }
  std::unique_ptr<ControlHandler> handler_;
};

TEST_F(ControlTest, StatusShowsTheStationsTheCountersAndTheNextCycle) {
  Start();
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  const Json j = AskJson({"status"});
  EXPECT_EQ(j.Get("call").AsString(), "XX9ORN-1");
  EXPECT_TRUE(j.Get("running").AsBool());
  EXPECT_TRUE(j.Get("engine").Get("connected").AsBool());
  ASSERT_EQ(j.Get("channels").items().size(), 2u);
  const Json& ch1 = j.Get("channels").items()[0];
  EXPECT_EQ(ch1.Get("call").AsString(), "XX1ABC");
  EXPECT_EQ(ch1.Get("state").AsString(), "station");
  EXPECT_TRUE(j.Get("channels").items()[1].Get("call").IsNull());
  EXPECT_EQ(j.Get("counters").Get("lastmsg").AsNumber(), 1000);
  // The clock stands at 12:00 on 10 December; cycles start at minute 15,
  // the repair on the 10th at 10:10.
  EXPECT_EQ(j.Get("fwd").Get("next").AsString(), "2026-12-10 12:15");
  EXPECT_EQ(j.Get("repair").Get("next").AsString(), "2027-01-10 10:10");
}

TEST_F(ControlTest, UserFieldsThatNameFilesStayInsideTheBbsDirectory) {
  Start();
  ASSERT_EQ(Ask({"user", "add", "XX8ORN"}).status, 0);
  const std::string before = AskJson({"user", "show", "XX8ORN"}).Write();
  struct Case {
    const char* field;
    std::string value;
  };
  const Case cases[] = {
      {"Hcon[0].expfile", "/elsewhere/export.txt"}, {"Hcon[0].expfile", "../export.txt"},
      {"Hcon[0].expfile", "out/../../export.txt"},  {"Hcon[0].expfile", "..\\export.txt"},
      {"Hcon[0].expfile", "\\export.txt"},        {"Hcon[0].expfile", "out/\x01.txt"},
      {"Language", "../../.."},                    {"Language", ".."},
      {"Language", "/tmp/x"},                      {"Language", "SUB/X"},
      {"Language", "SUB\\X"},
  };
  for (const Case& c : cases) {
    const ControlAnswer a = Ask({"user", "set", "XX8ORN", std::string(c.field) + "=" + c.value});
    EXPECT_EQ(a.status, 1) << c.field << "=" << c.value;
    // The refusal names the field and what it takes.
    EXPECT_EQ(a.error.rfind(std::string(c.field) + ": ", 0), 0u) << a.error;
    EXPECT_NE(a.error.find("BBS directory"), std::string::npos) << a.error;
  }
  EXPECT_EQ(AskJson({"user", "show", "XX8ORN"}).Write(), before);
  ASSERT_EQ(Ask({"user", "set", "XX8ORN", "Hcon[0].expfile=export/XX8ORN.TXT", "Language=german"}).status, 0);
  const Json shown = AskJson({"user", "show", "XX8ORN"});
  EXPECT_EQ(shown.Get("Hcon").items()[0].Get("expfile").AsString(), "export/XX8ORN.TXT");
  EXPECT_EQ(shown.Get("Language").AsString(), "GERMAN");
}

// ---- pages and chats ----

TEST_F(ControlTest, SysopPresenceIsSetAndKeptInTheIni) {
  Start();
  EXPECT_EQ(Ask({"sysop"}).out, "off\n");
  ASSERT_EQ(Ask({"sysop", "on"}).status, 0);
  EXPECT_TRUE(bbs_->cfg().sysopisin);
  EXPECT_EQ(IniFile(bbs_->ini().path()).GetString("PERSONAL", "SYSOP", ""), "1");
  EXPECT_TRUE(AskJson({"sysop"}).Get("sysop").AsBool());
  ASSERT_EQ(Ask({"sysop", "off"}).status, 0);
  EXPECT_FALSE(bbs_->cfg().sysopisin);
  EXPECT_EQ(IniFile(bbs_->ini().path()).GetString("PERSONAL", "SYSOP", ""), "0");
  EXPECT_EQ(Ask({"sysop", "maybe"}).status, 2);
  // The station hears the sysop is away.
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  engine_.Data(0, "XX1ABC", "N Anna\r");  // a new station's name lets it past the gate
  Sent();
  engine_.Data(0, "XX1ABC", "T\r");
  EXPECT_NE(Sent().find(Ch(1).lang.sysopnotavailable), std::string::npos);
  EXPECT_EQ(Ask({"page"}).out, "no pages\n");
}

TEST_F(ControlTest, APageIsListedDeclinedOrAnsweredWithATalk) {
  Start("SYSOP=1\n");
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  engine_.Data(0, "XX1ABC", "N Anna\r");  // a new station's name lets it past the gate
  Sent();
  engine_.Data(0, "XX1ABC", "T\r");
  Sent();
  EXPECT_EQ(Ask({"page"}).out, "1-1  XX1ABC  answer: ornctl talk 1-1, decline: ornctl page decline 1-1\n");
  const Json pages = AskJson({"page"});
  ASSERT_EQ(pages.items().size(), 1u);
  EXPECT_EQ(pages.items()[0].Get("channel").AsString(), "1-1");
  EXPECT_EQ(pages.items()[0].Get("call").AsString(), "XX1ABC");

  // Declined: the station hears so at its prompt, and the page is gone.
  ASSERT_EQ(Ask({"page", "decline", "1"}).status, 0);
  const std::string declined = Sent();
  EXPECT_EQ(declined.find(Ch(1).lang.sysopnotanswer), 0u) << declined;
  EXPECT_NE(declined.find('>'), std::string::npos) << "a new prompt: " << declined;
  EXPECT_EQ(Ask({"page"}).out, "no pages\n");
  EXPECT_TRUE(view_.pages.empty());
  EXPECT_EQ(Ask({"page", "decline", "1-1"}).status, 1);

  // Paged again and answered from the shell: terminal mode, the station's
  // lines are the sysop's to read, the sysop's lines go out as typed.
  engine_.Data(0, "XX1ABC", "T\r");
  Sent();
  const ControlAnswer talk = Ask({"talk", "1-1"});
  ASSERT_EQ(talk.status, 0) << talk.error;
  EXPECT_TRUE(talk.stream);
  EXPECT_EQ(talk.talk, 1);
  EXPECT_TRUE(Ch(1).terminal);
  EXPECT_NE(Sent().find(Ch(1).Expand(Ch(1).lang.sysopanswer)), std::string::npos);
  EXPECT_TRUE(view_.pages.empty());
  EXPECT_EQ(Ask({"talk", "1-1"}).status, 1);  // one sysop at a time
  engine_.Data(0, "XX1ABC", "L\r");
  EXPECT_EQ(Sent(), "") << "a line in a chat is no command";
  EXPECT_NE(view_.channel(1).text.find("L\n"), std::string::npos);
  EXPECT_TRUE(handler_->TalkLine(1, "Hello Anna"));
  EXPECT_EQ(Sent(), "Hello Anna\r");
  EXPECT_FALSE(handler_->TalkLine(1, " /bye"));
  EXPECT_FALSE(Ch(1).terminal);
  const std::string back = Sent();
  EXPECT_EQ(back.find(Ch(1).lang.backinbbs), 0u) << back;
  handler_->TalkEnd(1);  // ornctl's connection closing after the /BYE
  EXPECT_FALSE(Ch(1).terminal);
  EXPECT_EQ(Sent(), "");
}

TEST_F(ControlTest, APageEndsWithItsStationAndChannelsAreNamedClearly) {
  Start("SYSOP=1\n");
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  engine_.Data(0, "XX1ABC", "N Anna\r");
  engine_.Data(0, "XX1ABC", "T\r");
  Sent();
  ASSERT_EQ(view_.pages.size(), 1u);
  engine_.Event(0, "*** DISCONNECTED From Station XX1ABC\r");
  EXPECT_TRUE(view_.pages.empty());
  EXPECT_EQ(Ask({"page"}).out, "no pages\n");

  struct Case {
    std::vector<std::string> args;
    int status;
    const char* error;  // the start of the reason
  };
  const Case cases[] = {
      {{"talk", "1-1"}, 1, "no station on channel 1-1"},
      {{"talk", "1-3"}, 1, "no channel 1-3"},
      {{"talk", "x"}, 1, "no channel x: give PORT-CHANNEL"},
      {{"talk", "-1"}, 1, "no channel -1"},
      {{"talk"}, 2, "talk CHANNEL"},
      {{"page", "decline"}, 2, "page [decline CHANNEL]"},
      {{"page", "decline", "1-2"}, 1, "no page on that channel"},
      {{"page", "accept", "1-1"}, 2, "page [decline CHANNEL]"},
  };
  for (const Case& c : cases) {
    const ControlAnswer a = Ask(c.args);
    EXPECT_EQ(a.status, c.status) << c.args[0] << " " << (c.args.size() > 1 ? c.args[1] : "");
    EXPECT_EQ(a.error.rfind(c.error, 0), 0u) << a.error;
  }
}

TEST_F(ControlTest, APartnerSetUpByNameRoutesTheNextMessageAtOnce) {
  Start();
  ASSERT_EQ(Ask({"user", "add", "xx8orn-1"}).status, 0);
  const ControlAnswer set = Ask({"user", "set", "XX8ORN", "Type=B", "isFwdStation=Y", "FwdQueue=1", "FwdDest=@WW"});
  ASSERT_EQ(set.status, 0) << set.error;
  // The routing table follows the record without a restart.
  EXPECT_STREQ(bbs_->partners()->UserFwdDest[0].Call, "XX8ORN");
  EXPECT_STREQ(bbs_->partners()->UserFwdDest[0].fwddest, "@WW\r\n");
  const Json sent = AskJson({"msg", "send", "--to", "ALL@WW", "--type", "B", "--subject", "Net"}, "Sunday\n");
  EXPECT_EQ(sent.Get("Bid").AsString(), "XX9ORN_1001");
  const Json q = AskJson({"fwd", "queue", "XX8ORN"});
  ASSERT_EQ(q.Get("FwdMsgNo").items().size(), 1u);
  EXPECT_EQ(q.Get("FwdMsgNo").items()[0].Get("FwdMsgNumbers").AsNumber(), 1001);
  // The index record follows as well: the user list reads it.
  const Json list = AskJson({"user", "list", "--partners"});
  ASSERT_EQ(list.items().size(), 1u);
  EXPECT_EQ(list.items()[0].Get("FwdQueue").AsNumber(), 1);
  // Killing the message takes it out of the queue and the counters.
  EXPECT_EQ(Ask({"msg", "kill", "1001"}).status, 0);
  EXPECT_TRUE(AskJson({"fwd", "queue", "XX8ORN"}).Get("FwdMsgNo").items().empty());
  EXPECT_EQ(bbs_->store()->counters.activemsg, 0);
}

TEST_F(ControlTest, AStationOnTheAirDoesNotUndoTheChange) {
  Start();
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  Sent();
  ASSERT_EQ(Ask({"user", "set", "XX1ABC", "MaxStayMinutes=30", "Language=GERMAN"}).status, 0);
  // The station's next command writes its record back from its channel.
  engine_.Data(0, "XX1ABC", "N Anna\r");
  Sent();
  const Json u = AskJson({"user", "show", "XX1ABC"});
  EXPECT_EQ(u.Get("Name").AsString(), "Anna");
  EXPECT_EQ(u.Get("MaxStayMinutes").AsNumber(), 30);
  EXPECT_EQ(u.Get("Language").AsString(), "GERMAN");
}

TEST_F(ControlTest, OneBadValueWritesNothing) {
  Start();
  ASSERT_EQ(Ask({"user", "add", "XX8ORN"}).status, 0);
  const ControlAnswer a = Ask({"user", "set", "XX8ORN", "Name=Changed", "isFwdStation=Y", "FwdQueue=99"});
  EXPECT_EQ(a.status, 1);
  EXPECT_EQ(a.error.rfind("FwdQueue: ", 0), 0u) << a.error;
  const Json u = AskJson({"user", "show", "XX8ORN"});
  EXPECT_EQ(u.Get("Name").AsString(), "Noname");
  EXPECT_EQ(u.Get("isFwdStation").AsString(), "N");
  EXPECT_EQ(bbs_->partners()->UserFwdDest[0].Call[0], '\0');
}

TEST_F(ControlTest, RefusalsAndUsageErrorsAreTold) {
  Start();
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* error;  // the beginning of the line
  };
  const Case cases[] = {
      {{"user", "show", "XX7NOPE"}, 1, "no such user: XX7NOPE"},
      {{"user", "kill", "XX7NOPE"}, 1, "no such user: XX7NOPE"},
      {{"user", "add", "ALL"}, 1, "not a callsign"},
      {{"msg", "read", "4711"}, 1, "no such message: 4711"},
      {{"msg", "release", "4711"}, 1, "no such message"},
      {{"msg", "send", "--to", "XX1ABC", "--subject", "x", "--type", "T"}, 2, "--type is P or B"},
      {{"msg", "send", "--to", "XX1ABC"}, 2, "msg send needs --to and --subject"},
      // What would cut a partner's protocol line in two.
      {{"msg", "send", "--to", "XX1ABC", "--subject", "two\r\nlines"}, 1, "--subject: one line only"},
      {{"msg", "send", "--to", "XX1ABC XX2DEF", "--subject", "x"}, 1, "--to: CALL or CALL@BBS"},
      {{"msg", "send", "--to", "XX1ABC@XX9\rORN", "--subject", "x"}, 1, "--to: CALL or CALL@BBS"},
      {{"msg", "send", "--to", "XX1ABC", "--subject", "x", "--bid", "12 ABC"}, 1, "--bid: one word"},
      {{"msg", "read", "x"}, 2, "msg read N"},
      {{"msg", "list", "--colour", "red"}, 2, "unknown option --colour"},
      {{"msg", "list", "--from"}, 2, "--from needs a value"},
      {{"user", "set", "XX9ORN", "Name"}, 2, "FIELD=VALUE expected"},
      {{"frobnicate"}, 2, "unknown command frobnicate"},
      {{}, 2, "no command"},
      {{"fwd", "now", "XX7NOPE"}, 1, "no such user"},
  };
  for (const Case& c : cases) {
    const ControlAnswer a = Ask(c.args);
    EXPECT_EQ(a.status, c.status) << c.error;
    EXPECT_EQ(a.error.rfind(c.error, 0), 0u) << a.error;
    EXPECT_EQ(a.error.find('\n'), std::string::npos) << a.error;
  }
  for (const char* line : {"", "garbage", "{\"args\":\"status\"}", "{\"args\":[1]}", "[]",
                           "{\"args\":[\"status\"],\"input\":5}"}) {
    const ControlAnswer a = handler_->HandleLine(line);
    EXPECT_EQ(a.status, 1) << line;
    EXPECT_EQ(a.error.rfind("malformed request", 0), 0u) << line << ": " << a.error;
  }
  EXPECT_EQ(handler_->HandleLine(ControlRequestLine({"status"}, "")).status, 0);
}

TEST_F(ControlTest, HoldAndReleaseKeepTheCountersRight) {
  Start();
  ASSERT_EQ(Ask({"msg", "send", "--to", "XX1ABC", "--subject", "Hi"}, "text").status, 0);
  const MsgCounters& n = bbs_->store()->counters;
  EXPECT_EQ(n.activemsg, 1);
  ASSERT_EQ(Ask({"msg", "hold", "1001"}).status, 0);
  EXPECT_EQ(n.activemsg, 1);
  EXPECT_EQ(n.heldmsg, 1);
  EXPECT_EQ(Ask({"msg", "hold", "1001"}).status, 0);  // already held
  EXPECT_EQ(n.heldmsg, 1);
  ASSERT_EQ(Ask({"msg", "release", "1001"}).status, 0);
  EXPECT_EQ(n.activemsg, 1);
  EXPECT_EQ(n.heldmsg, 0);
  EXPECT_EQ(Ask({"msg", "release", "1001"}).status, 1);  // not held
  const MsgCounters counted = RecountMessages(bbs_->store()->site());
  EXPECT_EQ(counted.activemsg, n.activemsg);
  EXPECT_EQ(counted.heldmsg, n.heldmsg);
}

TEST_F(ControlTest, TheMessageListComesInSortedPagesWithItsTotal) {
  Start();
  // Subjects out of number order, two addressees, one at another BBS.
  const char* const kMsgs[][3] = {{"XX1ABC", "Charlie", "P"}, {"XX2DEF@XX8ORN", "Alpha", "P"}, {"XX1ABC", "Echo", "B"},
                                  {"XX9ORN", "Bravo", "P"},    {"XX1ABC", "Delta", "P"}};
  for (const auto& m : kMsgs)
    ASSERT_EQ(Ask({"msg", "send", "--to", m[0], "--subject", m[1], "--type", m[2]}, "x").status, 0);
  // Without paging options the answer stays the plain array.
  EXPECT_TRUE(AskJson({"msg", "list"}).IsArray());
  auto subjects = [](const Json& page) {
    std::string s;
    for (const Json& m : page.Get("messages").items()) s += m.Get("MsgSubject").AsString().substr(0, 1);
    return s;
  };
  const struct {
    std::vector<std::string> args;
    long total;
    std::string subjects;
  } kCases[] = {
      {{"--limit", "2"}, 5, "CA"},
      {{"--offset", "0", "--limit", "2"}, 5, "CA"},
      {{"--offset", "2", "--limit", "2"}, 5, "EB"},
      {{"--sort", "MsgSubject", "--limit", "3"}, 5, "ABC"},
      {{"--sort", "MsgSubject", "--desc", "--offset", "1", "--limit", "2"}, 5, "DC"},
      {{"--desc", "--limit", "1"}, 5, "D"},
      {{"--to", "XX1ABC", "--sort", "MsgSubject"}, 3, "CDE"},
      {{"--at", "XX8ORN", "--limit", "5"}, 1, "A"},
      {{"--type", "b", "--limit", "5"}, 1, "E"},
      {{"--msgno", "1004", "--limit", "5"}, 1, "B"},
      {{"--mine", "--limit", "5"}, 1, "B"},
      {{"--offset", "9"}, 5, ""},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> args{"msg", "list"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Json page = AskJson(args);
    EXPECT_EQ(page.Get("total").AsNumber(), c.total) << c.args[0];
    EXPECT_EQ(subjects(page), c.subjects) << c.args[0] << " " << c.args[1];
  }
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--sort", "Nonsense"}, {"--limit", "0"}, {"--limit", "1001"}, {"--offset", "-1"}, {"--msgno", "x"}})
    EXPECT_EQ(Ask({"msg", "list", bad[0], bad[1]}).status, 2) << bad[0] << " " << bad[1];
  // The searches offered are the database window's.
  const Json choices = AskJson({"msg", "choices"});
  ASSERT_EQ(choices.Get("searches").items().size(), 7u);
  EXPECT_EQ(choices.Get("searches").items()[6].Get("option").AsString(), "mine");
  EXPECT_EQ(choices.Get("searches").items()[2].Get("values").items()[2].Get("value").AsString(), "H");
}

TEST_F(ControlTest, AReplyGoesToTheSenderOfAMessageToTheBbs) {
  Start();
  ASSERT_EQ(Ask({"msg", "send", "--to", "XX1ABC", "--subject", "Not ours"}, "x").status, 0);
  // A station's message to the sysop, as it would arrive.
  ASSERT_EQ(Ask({"msg", "send", "--to", "XX9ORN", "--subject", "Question"}, "x").status, 0);
  EXPECT_EQ(Ask({"msg", "reply", "1001"}, "no").status, 1);
  EXPECT_EQ(Ask({"msg", "reply", "4711"}, "no").status, 1);
  const Json reply = AskJson({"msg", "reply", "1002"}, "The answer");
  EXPECT_EQ(reply.Get("MsgSubject").AsString(), "RE:Question");
  EXPECT_EQ(reply.Get("Type").AsString(), "P");
  const Json read = AskJson({"msg", "read", std::to_string(reply.Get("MsgNo").AsNumber())});
  EXPECT_NE(read.Get("text").AsString().find("The answer"), std::string::npos);
  EXPECT_EQ(AskJson({"msg", "reply", "1002", "--subject", "Other"}, "x").Get("MsgSubject").AsString(), "Other");
}

TEST_F(ControlTest, ControlCharactersOfAMessageReachTheTerminalVisibly) {
  Start();
  ASSERT_EQ(Ask({"msg", "send", "--to", "XX1ABC", "--subject", "a\x1b]0;owned\x07"}, "x\x1b[2Jy\x07\tz\x7f\x1a\n").status, 0);
  const ControlAnswer read = Ask({"msg", "read", "1001"});
  ASSERT_EQ(read.status, 0) << read.error;
  EXPECT_NE(read.out.find("x^[[2Jy^G\tz^?^Z\n"), std::string::npos) << read.out;
  EXPECT_NE(read.out.find("a?]0;owned?"), std::string::npos) << read.out;
  EXPECT_EQ(read.out.find('\x1b'), std::string::npos);
  // Asked for, the text comes as it is stored.
  EXPECT_NE(Ask({"msg", "read", "1001", "--raw"}).out.find("x\x1b[2Jy\x07\tz\x7f\x1a\n"), std::string::npos);
  // JSON escapes them in its own way.
  EXPECT_NE(AskJson({"msg", "read", "1001"}).Get("text").AsString().find("x\x1b[2J"), std::string::npos);
}

TEST_F(ControlTest, WhileTheRepairRunsOnlyStatusIsAnswered) {
  Start();
  bbs_->optimizer()->iact = true;
  EXPECT_EQ(Ask({"user", "list"}).status, 1);
  EXPECT_EQ(Ask({"status"}).status, 0);
  // How far it is, for the console's gauge.
  bbs_->optimizer()->stage = 2;
  const Json progress = AskJson({"optimize", "progress"});
  EXPECT_TRUE(progress.Get("running").AsBool());
  EXPECT_EQ(progress.Get("stage").AsString(), "users");
  bbs_->optimizer()->iact = false;
}

// ---- msg import: in steps, with a clear result ----

TEST_F(ControlTest, AnImportRunsInStepsAndSaysWhatItDid) {
  Start();
  std::string file;
  for (int i = 0; i < 50; ++i) file += "SB ALL @ WW < XX1ABC\nNews " + std::to_string(i) + "\nNo BID\n/EX\n";
  dir_.Write("in.txt", file);
  const std::string path = dir_ / "in.txt";
  auto run = [](ControlAnswer a, int* steps = nullptr) {
    if (!a.job) return a;
    int n = 0;
    while (!a.job->Step(0)) ++n;
    if (steps) *steps = n;
    return a.job->Answer();
  };

  ControlAnswer a = Ask({"msg", "import", path});
  ASSERT_TRUE(a.job);
  EXPECT_EQ(Ask({"msg", "import", path}).error.rfind("an import is already under way", 0), 0u);
  // The repair has the files to itself: the import waits for it.
  bbs_->optimizer()->iact = true;
  EXPECT_FALSE(a.job->Step(1000));
  EXPECT_EQ(a.job->Progress(), "waiting for the database repair to end");
  bbs_->optimizer()->iact = false;
  int steps = 0;
  const ControlAnswer first = run(a, &steps);
  EXPECT_GE(steps, 50);
  EXPECT_EQ(first.status, 0) << first.error;
  EXPECT_EQ(first.out, "imported 50: 1001-1050, already here 0, skipped 0\n");
  a.job.reset();

  // Again: every block is known by the BID the first import gave it.
  const ControlAnswer second = run(Ask({"msg", "import", path}));
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.out, "imported 0, already here 50, skipped 0\n");
  EXPECT_EQ(bbs_->store()->counters.lastmsg, 1050);

  struct Case {
    std::string content;
    const char* error;  // the beginning of the line
  };
  const Case failures[] = {
      {"not a message\n", "line 1 is not the send line"},
      {"SP XX1ABC @ XX9ORN < XX5DEF\ncut short\n", "ends inside the message"},
      {"SP XX1ABC @  < XX5DEF\nno destination\nx\n/EX\n", "nothing imported: each of the 1 messages lacks"},
  };
  for (const Case& c : failures) {
    dir_.Write("bad.txt", c.content);
    const ControlAnswer bad = run(Ask({"msg", "import", dir_ / "bad.txt"}));
    EXPECT_EQ(bad.status, 1) << c.content;
    EXPECT_NE(bad.error.find(c.error), std::string::npos) << bad.error;
    EXPECT_EQ(bad.error.find('\n'), std::string::npos) << bad.error;
  }

  // A BBS that stops in the middle says how far the import came.
  dir_.Write("more.txt", "SP XX1ABC @ XX9ORN < XX5DEF $M1\none\nx\n/EX\nSP XX1ABC @ XX9ORN < XX5DEF $M2\ntwo\nx\n/EX\n");
  ControlAnswer cut = Ask({"msg", "import", dir_ / "more.txt"});
  ASSERT_TRUE(cut.job);
  while (bbs_->store()->counters.lastmsg == 1050) ASSERT_FALSE(cut.job->Step(0));
  const ControlAnswer stopped = cut.job->Answer();
  EXPECT_EQ(stopped.status, 1);
  EXPECT_EQ(stopped.error.rfind("the BBS stopped during the import; imported 1: 1051,", 0), 0u) << stopped.error;
}

// ---- a stopped BBS ----

// ---- the web console's door ----

TEST_F(ControlTest, TheWebsDoorDecidesOnTheParsedRequestNotOnWordPositions) {
  Start();
  dir_.Write("in.txt", "SB ALL @ WW < XX1ABC\nNews\nNo BID\n/EX\n");
  const std::string in = dir_ / "in.txt";
  const std::string out = dir_ / "elsewhere.txt";
  ASSERT_EQ(Ask({"msg", "send", "--to", "XX1ABC", "--subject", "x"}, "y").status, 0);
  // Options first, or between the words: the command is still what it is.
  const std::vector<std::vector<std::string>> kFileCommands = {
      {"msg", "export", out, "1001"},           {"--json", "msg", "export", out, "1001"},
      {"msg", "--json", "export", out, "1001"}, {"msg", "--partners", "export", out, "1001"},
      {"msg", "export", "--raw", out, "1001"},  {"--desc", "msg", "import", in},
      {"msg", "import", in, "--json"},          {"monitor"},
      {"--json", "talk", "1-1"}};
  for (const auto& args : kFileCommands) {
    const ControlAnswer a = handler_->HandleRemote(args, "");
    EXPECT_EQ(a.status, 1) << args[0] << " " << args[1];
    EXPECT_FALSE(a.job);
  }
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(handler_->HandleRemote({"--json", "status"}, "").status, 0);
  // Another door of the same BBS: one import at a time for both.
  ControlSite site;
  site.running = true;
  site.cfg = &bbs_->cfg();
  site.ini = &bbs_->ini();
  site.store = bbs_->store();
  site.client = &bbs_->client();
  site.partners = bbs_->partners();
  site.clock = &clock_;
  site.imports = std::make_shared<std::weak_ptr<ControlJob>>();
  ControlHandler ornctl(site), web(site);
  const ControlAnswer first = ornctl.Handle({"msg", "import", in}, "");
  ASSERT_TRUE(first.job);
  EXPECT_EQ(web.Handle({"msg", "import", in}, "").error.rfind("an import is already under way", 0), 0u);
  while (!first.job->Step(1000)) {
  }
  EXPECT_EQ(first.job->Answer().status, 0);
}

TEST_F(ControlTest, AStoppedBbsIsWorkedOnThroughItsFiles) {
  Start();
  ASSERT_EQ(Ask({"user", "add", "XX8ORN"}).status, 0);
  ASSERT_EQ(Ask({"user", "set", "XX8ORN", "isFwdStation=Y", "FwdDest=@WW", "Type=B", "FwdQueue=2"}).status, 0);
  bbs_->Shutdown();
  bbs_.reset();
  handler_.reset();

  InstanceLock lock;
  ASSERT_TRUE(lock.AcquireBrief(dir_ / "ornbbs.lock", dir_ / "ornctl.lock"));
  {
    OfflineBbs offline;
    std::string why;
    ASSERT_TRUE(offline.Open(&why)) << why;
    ControlHandler h(offline.site());
    const ControlAnswer status = h.Handle({"status", "--json"}, "");
    ASSERT_EQ(status.status, 0);
    Json j;
    ASSERT_TRUE(ParseJson(status.out, &j, nullptr));
    EXPECT_FALSE(j.Get("running").AsBool());
    EXPECT_EQ(j.Get("channels").items().size(), 2u);
    EXPECT_EQ(h.Handle({"user", "set", "XX8ORN", "Name=Skg"}, "").status, 0);
    EXPECT_EQ(h.Handle({"fwd", "now"}, "").status, 1);
    EXPECT_EQ(h.Handle({"monitor"}, "").status, 1);
    EXPECT_EQ(h.Handle({"page"}, "").status, 1);
    EXPECT_EQ(h.Handle({"talk", "1-1"}, "").status, 1);
    // Presence is a setting: it is kept for the next start.
    EXPECT_EQ(h.Handle({"sysop", "on"}, "").status, 0);
    EXPECT_EQ(IniFile(dir_ / "ORN.INI").GetString("PERSONAL", "SYSOP", ""), "1");
    // A message stored here is routed as the running BBS would route it.
    EXPECT_EQ(h.Handle({"msg", "send", "--to", "ALL@WW", "--type", "B", "--subject", "x"}, "y").status, 0);
    const ControlAnswer q = h.Handle({"fwd", "queue", "XX8ORN", "--json"}, "");
    ASSERT_TRUE(ParseJson(q.out, &j, nullptr));
    ASSERT_EQ(j.Get("FwdMsgNo").items().size(), 1u);
  }
  // Another BBS cannot start meanwhile; once ornctl lets go, it can.
  InstanceLock bbs;
  EXPECT_FALSE(bbs.Acquire(dir_ / "ornbbs.lock", dir_ / "ornctl.lock", 100));
  lock.Release();
  EXPECT_TRUE(bbs.Acquire(dir_ / "ornbbs.lock", dir_ / "ornctl.lock", 100));
  bbs.Release();

  TOrnDbase db(StoreSite{dir_.path(), dir_ / "MAIL", "", ""});
  ASSERT_TRUE(db.OpenUserFile());
  ASSERT_NE(db.FindUser("XX8ORN"), 0);
  EXPECT_STREQ(db.userdb.Name, "Skg");
}

// With no event loop, a mail server started by a message stored offline is
// looked after before ornctl lets the directory go: its answer is stored.
TEST_F(ControlTest, AStoppedBbsWaitsForTheMailServerItStarted) {
  Start();
  bbs_->Shutdown();
  bbs_.reset();
  handler_.reset();
  dir_.Write("servers.inf", "REQDIR\n");
  dir_.Write("REQDIR.exe", "#!/bin/sh\nsleep 0.2\nprintf 'Files:\\nA.TXT\\n' > REQDIR.in\n");
  ASSERT_EQ(::chmod((dir_ / "REQDIR.exe").c_str(), 0755), 0);
  {
    OfflineBbs offline;
    std::string why;
    ASSERT_TRUE(offline.Open(&why)) << why;
    ControlHandler h(offline.site());
    EXPECT_EQ(h.Handle({"msg", "send", "--to", "REQDIR@XX9ORN", "--type", "P", "--subject", "list"}, "x").status, 0);
  }
  std::string answers;
  for (const std::string& name : ListDir(dir_ / "MAIL")) {
    std::string text;
    if (ReadWholeFile(dir_ / ("MAIL/" + name), &text)) answers += text;
  }
  EXPECT_NE(answers.find("A.TXT"), std::string::npos);
}

// ornctl's monitor taps the host's display: a headless host stays one (no
// animation timer, a rare info tick).
TEST(ControlTap, TheTappedDisplaySaysWhetherThereIsAScreen) {
  for (bool display : {false, true}) {
    test::RecordingView view;
    view.display = display;
    TapView tap(view);
    EXPECT_EQ(tap.HasDisplay(), display);
  }
}

TEST(ControlOffline, ADirectoryWithoutABbsIsRefused) {
  test::TestDir dir;
  test::ScopedChdir cd(dir.path());
  OfflineBbs offline;
  std::string why;
  EXPECT_FALSE(offline.Open(&why));
  EXPECT_NE(why.find("no BBS"), std::string::npos) << why;
}

}  // namespace
}  // namespace orn
