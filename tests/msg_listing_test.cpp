#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "context/prompts.h"
#include "support/mailbox_session.h"

namespace orn {
namespace {

using test::MailboxSession;
using test::Marked;
using test::StoredMsg;

// Numbers from `high` down to `low`.
std::vector<long> Down(long high, long low) {
  std::vector<long> v;
  for (long n = high; n >= low; --n) v.push_back(n);
  return v;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class ListingTest : public MailboxSession {};

TEST_F(ListingTest, FiftyMessagesComePageByPageWithAPauseAfterEveryFullPage) {
  AddStation("XX1ABC");
  AddBulletins(50);
  StartAndConnect({"XX1ABC"});

  // The first page goes out with the command, then the listing waits.
  std::string page = Says("L");
  EXPECT_EQ(page.rfind(Marked("msgheader"), 0), 0u);
  EXPECT_EQ(Listed(page), Down(1050, 1030));
  EXPECT_EQ(page.substr(page.size() - Marked("pagemsg").size()), Marked("pagemsg"));
  EXPECT_EQ(Ch(1).operation->listtimer, 0);
  EXPECT_EQ(Tick(), "");  // a paused listing ignores the timer

  // Any answer brings the next page; the column titles come only once.
  page = Says("");
  EXPECT_EQ(Listed(page), Down(1029, 1009));
  EXPECT_EQ(Count(page, Marked("pagemsg")), 1u);
  page = Says("next");
  EXPECT_EQ(Listed(page), Down(1008, 1001));
  EXPECT_EQ(Count(page, Marked("pagemsg")), 0u);
  EXPECT_EQ(Count(page, Marked("msgheader")), 0u);

  // The range is exhausted: only the prompt follows.
  EXPECT_EQ(Tick(), kFullPrompt);
  EXPECT_EQ(Ch(1).Service, 0);
  EXPECT_FALSE(Ch(1).operation);
}

TEST_F(ListingTest, HeldOutputLeavesWhenTheSessionWaitsForTheStation) {
  AddStation("XX1ABC");
  AddBulletins(30);
  StartAndConnect({"XX1ABC"});
  Ch(1).pagination = false;
  auto leftAtOnce = [&](const std::string& line) {
    Type("XX1ABC", line);
    std::string out;
    for (const ApiFrame& f : engine_.Take("D")) out += f.data;
    return out;
  };
  // A short answer and its prompt: the station waits, nothing is held.
  const std::string answer = leftAtOnce("");
  EXPECT_EQ(answer.substr(answer.size() - std::string(kFullPrompt).size()), kFullPrompt);
  EXPECT_FALSE(Ch(1).transparent);
  // A listing's partial frame waits for the next step, then for the prompt.
  const std::string first = leftAtOnce("L");
  EXPECT_TRUE(Ch(1).transparent);
  EXPECT_EQ(Listed(first + std::string(Ch(1).trans, static_cast<size_t>(Ch(1).transcount))), Down(1030, 1010));
  const std::string rest = Sent() + Tick();
  EXPECT_EQ(Listed(rest).back(), 1001);
  EXPECT_FALSE(Ch(1).transparent);
}

TEST_F(ListingTest, EveryMessageIsListedOnceWithOrWithoutPagination) {
  struct Case {
    const char* name;
    bool pagination;
    const char* answer;  // at each page pause
    size_t pauses;
  } cases[] = {
      {"pagination on", true, "", 2},
      {"C at the first pause turns pagination off", true, "C", 1},
      {"pagination off", false, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bbs_.reset();
    dir_.Write("MSG.ADB", "");
    dir_.Write("MSG.IDX", "");
    dir_.Write("USERS.ADB", "");
    dir_.Write("USERS.IDX", "");
    AddStation("XX1ABC");
    AddBulletins(50);
    StartAndConnect({"XX1ABC"});
    Ch(1).pagination = c.pagination;
    const std::string all = RunToPrompt(Says("L"), c.answer);
    EXPECT_EQ(Listed(all), Down(1050, 1001));
    EXPECT_EQ(Count(all, Marked("pagemsg")), c.pauses);
    EXPECT_EQ(Count(all, Marked("msgheader")), 1u);
    EXPECT_EQ(all.substr(all.size() - std::string(kFullPrompt).size()), kFullPrompt);
  }
  // C holds for the rest of the session.
  EXPECT_FALSE(Ch(1).pagination);
}

TEST_F(ListingTest, AAtThePauseAbortsTheListing) {
  AddStation("XX1ABC");
  AddBulletins(30);
  StartAndConnect({"XX1ABC"});
  Says("L");
  EXPECT_EQ(Says("a"), Marked("aborted") + kFullPrompt);
  EXPECT_EQ(Ch(1).Service, 0);
  EXPECT_FALSE(Ch(1).operation);
  EXPECT_EQ(Tick(), "");
}

TEST_F(ListingTest, AStepWaitsWhileTheEnginesQueueFillsTheWindow) {
  AddStation("XX1ABC");
  AddBulletins(30);
  StartAndConnect({"XX1ABC"});
  Ch(1).pagination = false;
  EXPECT_EQ(Listed(Says("L")).size(), 21u);
  Ch(1).framequeue = 4;  // a full window
  EXPECT_EQ(Tick(), "");
  EXPECT_EQ(Tick(), "");
  Ch(1).framequeue = 3;
  EXPECT_EQ(Listed(Tick()), Down(1009, 1001));
}

TEST_F(ListingTest, TheEnginesQueueReportBringsTheNextStepAtOnce) {
  AddStation("XX1ABC");
  AddBulletins(70);
  StartAndConnect({"XX1ABC"});
  Ch(1).pagination = false;
  // Everything the station has been given so far, the held bytes included
  // (without flushing them).
  std::string sent;
  auto given = [&] {
    for (const ApiFrame& f : engine_.Take("D")) sent += f.data;
    return sent + std::string(Ch(1).trans, static_cast<size_t>(Ch(1).transcount));
  };
  auto listed = [&] { return Listed(given()).size(); };
  auto asked = [&] { return engine_.Take("Y").size(); };
  auto report = [&](int queued) { QueueReport("XX1ABC", queued); };
  auto tick = [&] { timers_.Fire(bbs_->serviceTimers()->servicetimer_id); };
  Type("XX1ABC", "L");
  EXPECT_EQ(listed(), 21u);
  // The first page went out with the command; the engine is asked about the link.
  EXPECT_EQ(asked(), 1u);
  // A full window: nothing yet, and no question back in a loop.
  report(4);
  EXPECT_EQ(listed(), 21u);
  EXPECT_EQ(asked(), 0u);
  // The tick asks again; room on the link brings the step with no tick.
  tick();
  EXPECT_EQ(listed(), 21u);
  EXPECT_EQ(asked(), 1u);
  report(3);
  EXPECT_EQ(listed(), 42u);
  EXPECT_EQ(asked(), 1u);
  report(0);
  EXPECT_EQ(listed(), 63u);
  EXPECT_EQ(asked(), 1u);
  report(0);
  EXPECT_EQ(listed(), 70u);
  EXPECT_EQ(asked(), 1u);
  // The end: the prompt goes out with the last lines, nothing held.
  report(0);
  EXPECT_EQ(Ch(1).Service, 0);
  EXPECT_FALSE(Ch(1).transparent);
  const std::string all = given();
  EXPECT_EQ(Listed(all), Down(1070, 1001));
  EXPECT_EQ(all.substr(all.size() - std::string(kFullPrompt).size()), kFullPrompt);
}

TEST_F(ListingTest, PrivateMailIsListedForItsSenderAndAddresseeOnly) {
  AddStation("XX1ABC");
  AddStation("XX7ZZ");
  struct Case {
    StoredMsg msg;
    bool forXX1ABC, forXX7ZZ;
  } cases[] = {
      {{.type = "P", .to = "XX7ZZ.GRC.EU"}, false, true},
      {{.type = "P", .to = "XX7ZZ", .from = "XX1ABC.GRC.EU"}, true, true},
      {{.type = "P", .to = "XX7ZZ", .at = ""}, true, true},               // routed nowhere
      {{.type = "P", .to = "XX7ZZ", .at = "XX9ORN.GRC.EU"}, true, true},  // routed by hierarchy
      {{.type = "P", .to = "SYSOP"}, true, true},
      {{.type = "P", .to = "XX1ABC", .at = "XX5BBS"}, true, false},
      {{.type = "B", .status = "K"}, false, false},
      {{.type = "P", .status = "K", .to = "XX1ABC"}, false, false},
      {{.type = "B", .to = "XX7ZZ"}, true, true},
      {{.type = " ", .to = "XX7ZZ"}, true, true},
  };
  std::vector<long> forXX1ABC, forXX7ZZ;
  for (const Case& c : cases) {
    const long n = AddMsg(c.msg);
    if (c.forXX1ABC) forXX1ABC.insert(forXX1ABC.begin(), n);
    if (c.forXX7ZZ) forXX7ZZ.insert(forXX7ZZ.begin(), n);
  }
  StartAndConnect({"XX1ABC", "XX7ZZ"});
  EXPECT_EQ(Listed(RunToPrompt(Says("L", 1))), forXX1ABC);
  EXPECT_EQ(Listed(RunToPrompt(Says("L", 2), "", 2)), forXX7ZZ);
  // LM lists the station's own mail, bulletins addressed to it included.
  EXPECT_EQ(Listed(RunToPrompt(Says("LM", 2), "", 2)), (std::vector<long>{1010, 1009, 1004, 1003, 1002, 1001}));
}

TEST_F(ListingTest, TheFormsOfL) {
  AddStation("XX1ABC");
  const StoredMsg msgs[] = {
      {.type = "B", .status = "N", .to = "ALL", .from = "XX2BBB.GRC.EU", .subject = "Hello world"},  // 1001
      {.type = "P", .status = "Y", .to = "XX1ABC", .from = "XX3CCC", .subject = "say hello"},        // 1002
      {.type = "B", .status = "N", .to = "WX", .from = "XX5EEE", .at = "XX5BBS.#ATH", .subject = "other"},  // 1003
      {.type = "P", .status = "N", .to = "XX1ABC", .from = "XX2BBB", .subject = "HELLO again"},      // 1004
      {.type = "B", .status = "K", .to = "ALL", .subject = "hello killed"},                          // 1005
      {.type = "T", .status = "F", .to = "XX4DDD", .from = "XX5EEE", .at = "", .subject = "traffic"},       // 1006
  };
  for (const StoredMsg& m : msgs) AddMsg(m);
  StartAndConnect({"XX1ABC"});
  struct Case {
    const char* line;
    std::vector<long> listed;
  } cases[] = {
      {"LL", {1006}},
      {"LL 3", {1006, 1004, 1003}},  // the killed message does not count
      {"LL 500", {1006, 1004, 1003, 1002, 1001}},
      {"L 1003", {1006, 1004, 1003}},
      {"L 1001", {1006, 1004, 1003, 1002, 1001}},
      {"L* HELLO", {1004, 1002, 1001}},
      {"L* hello.x", {1004, 1002, 1001}},  // the line is upper-cased; the text ends at "."
      {"L* WORLD", {1001}},
      {"L< XX2BBB", {1004, 1001}},
      {"L< XX2BBB.GRC", {1004, 1001}},
      {"L> XX1", {1004, 1002}},
      {"LB", {1003, 1001}},
      {"LP", {1004, 1002}},
      {"LT T", {1006}},
      {"LU", {1004, 1003, 1001}},
      {"LS U", {1004, 1003, 1001}},
      {"LS Y", {1002}},
      {"LS F", {1006}},
      {"LM", {1004, 1002}},
      {"L* NOTHING", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const std::string all = RunToPrompt(Says(c.line));
    EXPECT_EQ(Listed(all), c.listed);
    if (c.listed.empty()) {
      EXPECT_EQ(all, Marked("notfound") + kFullPrompt);
    }
  }
  const struct {
    const char* line;
    const char* reply;
  } errors[] = {
      {"L ", "notenoughparameters"}, {"L<", "notenoughparameters"}, {"L> ", "notenoughparameters"},
      {"LT", "notenoughparameters"}, {"LS", "notenoughparameters"}, {"L*", "notenoughparameters"},
      {"LX", "invalidparameters"},   {"L1", "invalidparameters"},
      // Numbers are whole, positive and of a size a message number can have.
      {"LL -9223372036854775808", "invalidparameters"}, {"LL 99999999999", "invalidparameters"},
      {"L -1", "invalidparameters"}, {"L 10x", "invalidparameters"}, {"R 1e3", "notfound"},
  };
  for (const auto& e : errors) EXPECT_EQ(Says(e.line), Marked(e.reply) + kFullPrompt) << e.line;
  EXPECT_EQ(Ch(1).Service, 0);
}

TEST_F(ListingTest, LListsWhatCameSinceTheLastListingAndMovesTheMark) {
  AddStation("XX1ABC", 1005);
  AddStation("XX2NEW");  // never listed anything
  AddBulletins(8);
  StartAndConnect({"XX1ABC", "XX2NEW"});
  // Searches leave the mark alone.
  EXPECT_EQ(Listed(RunToPrompt(Says("L< XX"))), Down(1008, 1001));
  EXPECT_EQ(User(1).LMsgRead, 1005);
  EXPECT_EQ(Listed(RunToPrompt(Says("L"))), Down(1008, 1005));
  EXPECT_EQ(User(1).LMsgRead, 1008);
  EXPECT_EQ(Listed(RunToPrompt(Says("L"))), (std::vector<long>{1008}));
  EXPECT_EQ(Listed(RunToPrompt(Says("L", 2), "", 2)), Down(1008, 1001));
  EXPECT_EQ(User(2).LMsgRead, 1008);
}

TEST_F(ListingTest, AnEmptyStoreHasNothingToList) {
  AddStation("XX1ABC");
  StartAndConnect({"XX1ABC"});
  EXPECT_EQ(Says("L"), Marked("notfound") + kFullPrompt);
  EXPECT_EQ(Says("LL 5"), Marked("notfound") + kFullPrompt);
}

TEST_F(ListingTest, EveryLCommandIsLoggedAndCountsAgainstTheDownloadVolume) {
  AddStation("XX1ABC");
  AddBulletins(3);
  dir_.Write("BBS.LOG", "");
  StartAndConnect({"XX1ABC"}, "[LOG]\nLOGOK=1\nLOGOTHER=1\n");
  Ch(1).tdb->userdb.MaxDownload = 100;
  const std::string all = RunToPrompt(Says("L"));
  EXPECT_EQ(Listed(all).size(), 3u);
  EXPECT_GT(Ch(1).maxdnld, 3 * 60);
  Says("LX");
  const std::string log = dir_.Read("BBS.LOG");
  EXPECT_EQ(Count(log, "-><List> 0 from XX1ABC..."), 2u) << log;
}

}  // namespace
}  // namespace orn
