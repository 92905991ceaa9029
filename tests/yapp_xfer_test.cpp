// The YAPP transfer on its own: both directions, against a scripted station,
// with the session around it recorded.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "app/service_timers.h"
#include "channel/channel.h"
#include "context/language.h"
#include "context/prompts.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "support/bbs_session.h"
#include "support/test_dir.h"
#include "yapp/yapp_xfer.h"

namespace orn {
namespace {

using test::TestDir;

// Packets as a station sends them, byte for byte.
std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s += static_cast<char>(c);
  return s;
}
std::string WithLen(int kind, const std::string& body) {
  return Bytes({kind, static_cast<int>(body.size() & 0xFF)}) + body;
}
const std::string SI = Bytes({5, 1}), RI = Bytes({5, 2}), RR = Bytes({6, 1}), RF = Bytes({6, 2}),
                  AF = Bytes({6, 3}), AT = Bytes({6, 4}), CA = Bytes({6, 5}), EF = Bytes({3, 1}),
                  ET = Bytes({4, 1});
// A literal's bytes, NULs included.
template <size_t N>
std::string Body(const char (&text)[N]) {
  return std::string(text, N - 1);
}
const std::string RT = Bytes({6, 6});
const std::string NUL(1, '\0');
// A header; with a date (8 hex digits), as YAPP-C senders send it.
std::string HD(const std::string& name, const std::string& size, const std::string& date = "") {
  return WithLen(1, name + NUL + size + NUL + (date.empty() ? "" : date + NUL));
}
std::string DT(const std::string& data) { return WithLen(2, data); }  // 256 bytes travel as length 0
// A YAPP-C data packet: its bytes, then their sum modulo 256.
std::string DTC(const std::string& data) {
  unsigned sum = 0;
  for (unsigned char c : data) sum += c;
  return DT(data) + static_cast<char>(sum & 0xFF);
}
std::string TX(const std::string& text) { return WithLen(0x10, text); }
std::string NR(const std::string& why) { return WithLen(0x15, why); }
std::string CN(const std::string& why) { return WithLen(0x18, why); }

// A binary body: every byte value, NUL and 0xFF included.
std::string Binary(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>((i * 7 + (i >> 8)) & 0xFF);
  return s;
}

// Sets a file's modification time.
void SetTime(const std::string& path, int64_t t) {
  struct timespec times[2] = {};
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(t);
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}
int64_t TimeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mtime;
}
// 2025-01-17 17:35:00, local time of the fake host (UTC), and as a header
// carries it: DOS date 0x5A31 (45 years after 1980, January, 17th), time
// 0x8C60 (17 h, 35 min, 0 s).
constexpr int64_t kFileTime = 1737135300;
const std::string kFileDate = "5A318C60";

// What the session around a transfer saw.
struct Session {
  std::string sent;                // packets, in order
  std::vector<std::string> texts;  // texts shown to the station
  std::vector<std::string> ends;   // answers that ended the command
  std::vector<std::string> logs;   // "62 BIN\\X.BIN"
  int service = 1000;
  long downloaded = 0;
  int64_t now = 1'000'000;
  std::vector<TransferProgress> progress;
  bool progressClosed = false;
  std::string area, part;
  Language lang{};
};

class RecordingHost : public YappHost {
 public:
  explicit RecordingHost(Session& s) : s_(s) {}
  const Language& Texts() const override { return s_.lang; }
  std::string BinaryArea() const override { return s_.area; }
  std::string BinaryAreaName() const override { return "BIN"; }
  std::string PartFile() const override { return s_.part; }
  int64_t Now() const override { return s_.now; }
  // UTC, as the fake clock has it.
  std::tm Local(int64_t t) const override {
    const auto tt = static_cast<time_t>(t);
    std::tm out{};
    ::gmtime_r(&tt, &out);
    return out;
  }
  void SetService(int service) override { s_.service = service; }
  void SendPacket(const std::string& bytes) override { s_.sent += bytes; }
  void SendText(const std::string& text) override { s_.texts.push_back(text); }
  void EndService(const std::string& text) override {
    s_.service = 0;
    s_.ends.push_back(text);
  }
  void LogTransfer(int event, const std::string& file) override {
    s_.logs.push_back(std::to_string(event) + " " + file);
  }
  void CountDownload(long bytes) override { s_.downloaded += bytes; }
  void ShowProgress(const TransferProgress& p) override { s_.progress.push_back(p); }
  void CloseProgress() override { s_.progressClosed = true; }

 private:
  Session& s_;
};

class YappXferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir((dir_ / "BIN").c_str(), 0755);
    ::mkdir((dir_ / "temp").c_str(), 0755);
    s_.area = dir_ / "BIN";
    s_.part = dir_ / "temp/1.yap";
    const LanguageText* texts = LanguageFileOrder();
    for (int i = 0; i < kLanguageTexts; ++i) {
      std::string text(1, '[');
      text += texts[i].name;
      text += "]\r";
      CopyField(LanguageField(s_.lang, texts[i]), texts[i].size, text);
    }
  }

  // Starts a transfer of `name` (as typed, without its CR).
  bool Start(const std::string& name, int what) {
    xfer_ = std::make_unique<TYappXfer>(std::make_unique<RecordingHost>(s_), name + "\r", what);
    const bool started = xfer_->Proceed();
    if (!started) xfer_.reset();
    return started;
  }
  // The station's bytes arrive in one frame; the pump runs once, as the
  // channel does. False when the transfer ended (and was destroyed).
  bool Frame(const std::string& bytes) {
    for (unsigned char c : bytes) xfer_->putyappbuf(c);
    return Step();
  }
  bool Step() {
    const bool more = xfer_->whatcmd == kYappUpload ? xfer_->ReceiveStep() : xfer_->SendStep();
    if (!more) xfer_.reset();
    return more;
  }
  // The service timer's call once the transfer's deadline has passed.
  bool Tick() {
    s_.now = std::max(s_.now, xfer_->yapptimer) + 1;
    return Step();
  }
  std::string TakeSent() {
    std::string out;
    out.swap(s_.sent);
    return out;
  }
  std::string Last() const { return s_.ends.empty() ? "" : s_.ends.back(); }
  bool PartLeft() const { return dir_.Exists("temp/1.yap"); }

  TestDir dir_;
  Session s_;
  std::unique_ptr<TYappXfer> xfer_;
};

// ---- receiving -----------------------------------------------------------------

TEST_F(YappXferTest, UploadStoresTheFileWholeAndAcknowledgesEachStep) {
  const std::string body = Binary(600);
  ASSERT_TRUE(Start("DATA.BIN", kYappUpload));
  EXPECT_EQ(s_.service, kServiceYappReceive);
  EXPECT_EQ(s_.texts, std::vector<std::string>{"[rcvfileyapp]\r"});
  EXPECT_EQ(xfer_->state, kRcvWait);

  ASSERT_TRUE(Frame(SI));
  EXPECT_EQ(TakeSent(), RR);
  ASSERT_TRUE(Frame(HD("DATA.BIN", "600")));
  EXPECT_EQ(TakeSent(), RF);
  EXPECT_EQ(xfer_->xferhdr, "DATA.BIN 600");
  ASSERT_TRUE(Frame(DT(body.substr(0, 256)) + DT(body.substr(256, 256)) + DT(body.substr(512))));
  EXPECT_EQ(xfer_->xfercnt, 600);
  // Nothing is under the name before the end of the file.
  EXPECT_FALSE(dir_.Exists("BIN/DATA.BIN"));
  ASSERT_TRUE(Frame(EF));
  EXPECT_EQ(TakeSent(), AF);
  EXPECT_EQ(dir_.Read("BIN/DATA.BIN"), body);
  EXPECT_EQ(s_.logs, std::vector<std::string>{"62 BIN\\DATA.BIN"});
  EXPECT_FALSE(Frame(ET));
  EXPECT_EQ(TakeSent(), AT);
  EXPECT_EQ(s_.ends, std::vector<std::string>{"[filestored]\r"});
  EXPECT_EQ(s_.service, 0);
  EXPECT_FALSE(PartLeft());
  EXPECT_TRUE(s_.progressClosed);
  EXPECT_EQ(s_.progress.front().header, "RcvReady");
  EXPECT_EQ(s_.progress.front().state, "Awaiting Send Ready.");
}

TEST_F(YappXferTest, TheStreamMayArriveInAnyPieces) {
  const std::string body = Binary(700);
  const std::string stream = SI + TX("hello") + HD("X.BIN", "700") + DT(body.substr(0, 256)) +
                             DT(body.substr(256, 256)) + TX("more") + DT(body.substr(512)) + EF + ET;
  for (size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{255}, size_t{258}, stream.size()}) {
    SCOPED_TRACE("pieces of " + std::to_string(piece));
    std::remove((dir_ / "BIN/X.BIN").c_str());
    s_.ends.clear();
    ASSERT_TRUE(Start("X.BIN", kYappUpload));
    bool running = true;
    for (size_t at = 0; at < stream.size() && running; at += piece) running = Frame(stream.substr(at, piece));
    EXPECT_FALSE(running);
    EXPECT_EQ(TakeSent(), RR + RF + AF + AT);
    EXPECT_EQ(s_.ends, std::vector<std::string>{"[filestored]\r"});
    EXPECT_EQ(dir_.Read("BIN/X.BIN"), body);
  }
}

// A header with the file's date comes from a sender that speaks YAPP-C: it
// is asked for checksums, and the file keeps its date. Any other header gets
// plain YAPP, the answer every sender knows.
TEST_F(YappXferTest, UploadGoesAsYappCWhenTheHeaderCarriesADate) {
  const struct {
    const char* what;
    std::string date;
    bool yappc;
  } cases[] = {
      {"a date", kFileDate, true},
      {"a date in small letters", "5a318c60", true},
      {"no date", "", false},
      {"a third field that is no date", "yesterday", false},
      {"a date one digit short", "5A318C6", false},
  };
  const std::string body = Binary(700);
  for (const auto& c : cases) {
    const std::string stream = SI + HD("C.BIN", "700", c.date) + (c.yappc ? DTC : DT)(body.substr(0, 256)) +
                               (c.yappc ? DTC : DT)(body.substr(256, 256)) + (c.yappc ? DTC : DT)(body.substr(512)) +
                               EF + ET;
    for (size_t piece : {size_t{1}, size_t{3}, size_t{259}, stream.size()}) {
      SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(piece));
      std::remove((dir_ / "BIN/C.BIN").c_str());
      s_.ends.clear();
      ASSERT_TRUE(Start("C.BIN", kYappUpload));
      bool running = true;
      for (size_t at = 0; at < stream.size() && running; at += piece) running = Frame(stream.substr(at, piece));
      EXPECT_FALSE(running);
      EXPECT_EQ(TakeSent(), RR + (c.yappc ? RT : RF) + AF + AT);
      EXPECT_EQ(s_.ends, std::vector<std::string>{"[filestored]\r"});
      EXPECT_EQ(dir_.Read("BIN/C.BIN"), body);
      EXPECT_EQ(TimeOf(dir_ / "BIN/C.BIN") == kFileTime, c.yappc);
    }
  }
}

// A block damaged on its way cannot be asked for again: the BBS cancels, and
// nothing of the file is kept.
TEST_F(YappXferTest, ABlockWithAWrongChecksumCancelsTheUpload) {
  std::string damaged = DTC("world");
  damaged.back() = static_cast<char>(damaged.back() ^ 0x40);
  ASSERT_TRUE(Start("B.BIN", kYappUpload));
  ASSERT_TRUE(Frame(SI + HD("B.BIN", "10", kFileDate) + DTC("hello") + damaged + EF));
  EXPECT_EQ(TakeSent(), RR + RT + CN("Bad checksum"));
  EXPECT_EQ(xfer_->state, kWaitAbtAck);
  EXPECT_FALSE(PartLeft());
  EXPECT_FALSE(Frame(CA));
  EXPECT_EQ(Last(), "[aborted]\r");
  EXPECT_FALSE(dir_.Exists("BIN/B.BIN"));
}

// A station that falls silent, or stops in the middle of a packet, has given
// the transfer up: after kAnswerSeconds the BBS cancels, drops what arrived,
// and ends the command once the station's last word is overdue as well.
TEST_F(YappXferTest, ASilentStationTimesOutInEveryReceivingState) {
  const std::string header = SI + HD("T.BIN", "600");
  const struct {
    const char* when;
    std::string before;
    bool fileKept;  // it had arrived whole before the silence
  } cases[] = {
      {"waiting for send-init", "", false},
      {"waiting for the header", SI, false},
      {"in a header begun", SI + HD("T.BIN", "600").substr(0, 5), false},
      {"receiving data", header + DT(Binary(256)), false},
      {"in a data packet begun", header + DT(Binary(256)).substr(0, 100), false},
      {"after the end of file", header + DT("x") + EF, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.when);
    std::remove((dir_ / "BIN/T.BIN").c_str());
    s_.ends.clear();
    ASSERT_TRUE(Start("T.BIN", kYappUpload));
    if (!c.before.empty()) {
      ASSERT_TRUE(Frame(c.before));
    }
    TakeSent();
    // The service timer is asked to look when the time is up, not before.
    EXPECT_EQ(xfer_->yapptimer, s_.now + TYappXfer::kAnswerSeconds);
    s_.now += TYappXfer::kAnswerSeconds;
    ASSERT_TRUE(Step());
    EXPECT_EQ(TakeSent(), "");
    ASSERT_TRUE(Tick());
    EXPECT_EQ(TakeSent(), CN("Timeout"));
    EXPECT_FALSE(PartLeft());
    EXPECT_TRUE(s_.ends.empty());
    EXPECT_FALSE(Tick());
    EXPECT_EQ(Last(), "[aborted]\r");
    EXPECT_EQ(dir_.Exists("BIN/T.BIN"), c.fileKept);
  }
}

TEST_F(YappXferTest, AStationThatKeepsSendingDoesNotTimeOut) {
  ASSERT_TRUE(Start("S.BIN", kYappUpload));
  ASSERT_TRUE(Frame(SI + HD("S.BIN", "512")));
  const std::string data = DT(Binary(256)) + DT(Binary(256));
  for (char c : data) {
    s_.now += TYappXfer::kAnswerSeconds;
    ASSERT_TRUE(Frame(std::string(1, c)));
  }
  EXPECT_FALSE(Frame(EF + ET));
  EXPECT_EQ(TakeSent(), RR + RF + AF + AT);
  EXPECT_EQ(dir_.Read("BIN/S.BIN"), Binary(256) + Binary(256));
}

TEST_F(YappXferTest, EndOfTransferRightAfterTheInitStoresAnEmptyFile) {
  ASSERT_TRUE(Start("EMPTY.BIN", kYappUpload));
  ASSERT_TRUE(Frame(SI));
  EXPECT_FALSE(Frame(ET));
  EXPECT_EQ(TakeSent(), RR + AT);
  EXPECT_EQ(Last(), "[filestored]\r");
  EXPECT_TRUE(dir_.Exists("BIN/EMPTY.BIN"));
  EXPECT_EQ(dir_.Read("BIN/EMPTY.BIN"), "");
}

TEST_F(YappXferTest, ASecondFileInOneUploadIsRefusedAndTheFirstKept) {
  ASSERT_TRUE(Start("ONE.BIN", kYappUpload));
  ASSERT_TRUE(Frame(SI + HD("ONE.BIN", "3") + DT("abc") + EF));
  TakeSent();
  EXPECT_FALSE(Frame(HD("TWO.BIN", "3")));
  EXPECT_EQ(TakeSent()[0], 0x15);  // not ready
  EXPECT_EQ(Last(), "[filestored]\r");
  EXPECT_EQ(dir_.Read("BIN/ONE.BIN"), "abc");
}

// The station cancels: it gets the acknowledgement and the answer at once,
// and nothing is left under the name.
TEST_F(YappXferTest, TheStationsCancelIsAcknowledgedInEveryReceivingState) {
  const struct {
    const char* when;
    std::string before;
  } cases[] = {
      {"waiting for send-init", ""},
      {"waiting for the header", SI},
      {"receiving data", SI + HD("C.BIN", "") + DT("partial")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.when);
    s_.ends.clear();
    ASSERT_TRUE(Start("C.BIN", kYappUpload));
    if (!c.before.empty()) {
      ASSERT_TRUE(Frame(c.before));
    }
    TakeSent();
    EXPECT_FALSE(Frame(CN("user abort")));
    EXPECT_EQ(TakeSent(), CA);
    EXPECT_EQ(Last(), "[aborted]\r");
    EXPECT_FALSE(dir_.Exists("BIN/C.BIN"));
    EXPECT_FALSE(PartLeft());
  }
}

// A stream that is damaged or not YAPP at all: the BBS cancels, waits for
// the station's acknowledgement, and leaves nothing under the name.
TEST_F(YappXferTest, ADamagedStreamIsCancelledCleanly) {
  const struct {
    const char* what;
    std::string stream;
  } cases[] = {
      {"text instead of send-init", "YAPP\r"},
      {"an init of an unknown kind", Bytes({5, 7})},
      {"an acknowledgement of an unknown kind", SI + Bytes({6, 9})},
      {"data before the header", SI + DT("x")},
      {"a header without its NUL", SI + WithLen(1, "NONUL.BIN")},
      {"a header with an empty name", SI + HD("", "10")},
      {"a header whose size is no number", SI + HD("D.BIN", "12a")},
      {"a header whose size is absurdly long", SI + HD("D.BIN", std::string(40, '9'))},
      {"a header of length 0", SI + WithLen(1, "")},
      {"a stray byte between data packets", SI + HD("D.BIN", "") + DT("ab") + "Z" + DT("cd")},
      {"receive-ready in the data", SI + HD("D.BIN", "") + DT("ab") + RR},
      {"end of file with a wrong second byte", SI + HD("D.BIN", "") + DT("ab") + Bytes({3, 2})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    s_.ends.clear();
    ASSERT_TRUE(Start("D.BIN", kYappUpload));
    ASSERT_TRUE(Frame(c.stream));
    EXPECT_EQ(xfer_->state, kWaitAbtAck);
    const std::string sent = TakeSent();
    ASSERT_GE(sent.size(), 2u);
    const std::string cancel = CN("Cancelled");
    ASSERT_GE(sent.size(), cancel.size());
    EXPECT_EQ(sent.substr(sent.size() - cancel.size()), cancel);
    EXPECT_TRUE(s_.ends.empty());
    EXPECT_FALSE(PartLeft());
    EXPECT_FALSE(Frame(CA));
    EXPECT_EQ(s_.ends, std::vector<std::string>{"[aborted]\r"});
    EXPECT_FALSE(dir_.Exists("BIN/D.BIN"));
  }
}

TEST_F(YappXferTest, AfterACancelWhatTheStationHadUnderWayIsSwallowedUntilItsAnswer) {
  ASSERT_TRUE(Start("W.BIN", kYappUpload));
  ASSERT_TRUE(Frame(SI + HD("W.BIN", "") + "junk"));
  TakeSent();
  // Data sent before the station heard the cancel, a body split over frames.
  const std::string late = DT(Binary(256)) + DT("B\r") + Bytes({2, 10}) + "K 1";
  ASSERT_TRUE(Frame(late));
  ASSERT_TRUE(Frame("001\r" + std::string(6, 'x')));
  EXPECT_TRUE(s_.ends.empty());
  // Its own cancel crossed ours: it is acknowledged.
  EXPECT_FALSE(Frame(CN("")));
  EXPECT_EQ(TakeSent(), CA);
  EXPECT_EQ(Last(), "[aborted]\r");
}

TEST_F(YappXferTest, AStationThatNeverAcknowledgesTheCancelIsAnsweredAfterAWhile) {
  ASSERT_TRUE(Start("S.BIN", kYappUpload));
  ASSERT_TRUE(Frame("?"));
  ASSERT_NE(xfer_->yapptimer, 0);
  EXPECT_FALSE(Tick());
  EXPECT_EQ(Last(), "[aborted]\r");
}

TEST_F(YappXferTest, TheStationLeavingMidwayLeavesNoFile) {
  ASSERT_TRUE(Start("GONE.BIN", kYappUpload));
  ASSERT_TRUE(Frame(SI + HD("GONE.BIN", "1000") + DT(Binary(256))));
  ASSERT_TRUE(PartLeft());
  xfer_.reset();  // the disconnect deletes the transfer
  EXPECT_FALSE(PartLeft());
  EXPECT_FALSE(dir_.Exists("BIN/GONE.BIN"));
  EXPECT_TRUE(s_.progressClosed);
  EXPECT_TRUE(s_.ends.empty());
}

TEST_F(YappXferTest, AFileThatAppearedMeanwhileIsNotOverwritten) {
  ASSERT_TRUE(Start("RACE.BIN", kYappUpload));
  ASSERT_TRUE(Frame(SI + HD("RACE.BIN", "3") + DT("new")));
  dir_.Write("BIN/RACE.BIN", "old");  // another station's upload ended first
  TakeSent();
  ASSERT_TRUE(Frame(EF));
  EXPECT_EQ(TakeSent(), CN("Cancelled"));
  EXPECT_EQ(dir_.Read("BIN/RACE.BIN"), "old");
  EXPECT_FALSE(Frame(CA));
  EXPECT_EQ(Last(), "[aborted]\r");
  EXPECT_FALSE(PartLeft());
}

TEST_F(YappXferTest, InputBeyondTheRingCancels) {
  ASSERT_TRUE(Start("R.BIN", kYappUpload));
  for (int i = 0; i < YappReader::kRingPlaces + 10; ++i) xfer_->putyappbuf(0x10);
  ASSERT_TRUE(Step());
  EXPECT_EQ(xfer_->state, kWaitAbtAck);
  EXPECT_EQ(TakeSent(), CN("Cancelled"));
}

// A start that is refused answers at once; no transfer is left running.
TEST_F(YappXferTest, StartsThatAreRefused) {
  dir_.Write("BIN/THERE.BIN", "x");
  ::mkdir((dir_ / "BIN/SUB").c_str(), 0755);
  const struct {
    const char* name;
    int what;
    const char* answer;
  } cases[] = {
      {"THERE.BIN", kYappUpload, "[thereisfile]\r"},
      {"there.bin", kYappUpload, "[thereisfile]\r"},
      {"SUB", kYappUpload, "[thereisfile]\r"},
      {"LONGNAME.TEXT", kYappUpload, "[invalidparameters]\r"},
      {"LONGNAME.TEXT", kYappDownload, "[invalidparameters]\r"},
      {"..\\ORN.INI", kYappDownload, "[invalidparameters]\r"},
      {"SUB\\..\\..\\X.BIN", kYappUpload, "[invalidparameters]\r"},
      {"/etc/passwd", kYappDownload, "[invalidparameters]\r"},
      {"NOSUCH\\X.BIN", kYappUpload, "[invalidparameters]\r"},
      {"SUB\\", kYappUpload, "[invalidparameters]\r"},
      {"MISSING.BIN", kYappDownload, "[notfound]\r"},
      {"SUB", kYappDownload, "[notfound]\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    s_.ends.clear();
    EXPECT_FALSE(Start(c.name, c.what));
    EXPECT_EQ(s_.ends, std::vector<std::string>{c.answer});
    EXPECT_TRUE(s_.sent.empty());
    EXPECT_FALSE(PartLeft());
  }
  EXPECT_EQ(dir_.Read("BIN/THERE.BIN"), "x");
}

TEST_F(YappXferTest, AnUploadMayGoIntoASubdirectoryOfTheArea) {
  ::mkdir((dir_ / "BIN/SUB").c_str(), 0755);
  ASSERT_TRUE(Start("SUB\\IN.BIN", kYappUpload));
  EXPECT_EQ(xfer_->pkfname, "IN.BIN");
  EXPECT_FALSE(Frame(SI + HD("IN.BIN", "2") + DT("hi") + EF + ET));
  EXPECT_EQ(dir_.Read("BIN/SUB/IN.BIN"), "hi");
  EXPECT_EQ(s_.logs, std::vector<std::string>{"62 BIN\\SUB\\IN.BIN"});
}

// ---- sending -------------------------------------------------------------------

// The data packets in what the BBS sent, the bytes of each; with checksums,
// each must carry the right one after its bytes.
std::vector<std::string> DataBlocks(const std::string& sent, bool checksums) {
  std::vector<std::string> blocks;
  for (size_t at = 0; at + 1 < sent.size();) {
    const unsigned char kind = static_cast<unsigned char>(sent[at]);
    const size_t len = static_cast<unsigned char>(sent[at + 1]);
    if (kind == 0x02) {
      const size_t n = len == 0 ? 256 : len;
      blocks.push_back(sent.substr(at + 2, n));
      if (checksums) {
        EXPECT_EQ(sent.substr(at, 3 + n), DTC(blocks.back())) << "block " << blocks.size();
      }
      at += 2 + n + (checksums ? 1 : 0);
    } else {
      at += 2 + (kind == 0x01 ? len : 0);
    }
  }
  return blocks;
}

// Plain YAPP when the receiver answers the header with receive-file, YAPP-C
// when it asks for checksums.
TEST_F(YappXferTest, DownloadSendsInitHeaderDataAndEndOfFile) {
  const struct {
    size_t size;
    std::vector<size_t> packets;
  } cases[] = {
      {600, {256, 256, 88}},
      {512, {256, 256}},
      {1, {1}},
      {0, {}},
  };
  for (const std::string& answer : {RF, RT}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(c.size) + (answer == RT ? " YAPP-C" : " plain"));
      const std::string body = Binary(c.size);
      dir_.Write("BIN/OUT.BIN", body);
      SetTime(dir_ / "BIN/OUT.BIN", kFileTime);
      s_.ends.clear();
      s_.logs.clear();
      s_.downloaded = 0;
      ASSERT_TRUE(Start("OUT.BIN", kYappDownload));
      EXPECT_EQ(s_.service, kServiceYappSend);
      EXPECT_EQ(s_.texts.back(), "[sendfileyapp]\r");
      EXPECT_TRUE(s_.sent.empty());
      ASSERT_TRUE(Tick());
      EXPECT_EQ(TakeSent(), SI);
      ASSERT_TRUE(Frame(RR));
      ASSERT_TRUE(Tick());
      EXPECT_EQ(TakeSent(), HD("OUT.BIN", std::to_string(c.size), kFileDate));
      ASSERT_TRUE(Frame(answer));
      EXPECT_EQ(xfer_->checksummed(), answer == RT);
      // One data packet per tick, then the end of file.
      for (int i = 0; i < 10 && xfer_->state != kSendEot; ++i) ASSERT_TRUE(Tick());
      const std::string sent = TakeSent();
      const std::vector<std::string> blocks = DataBlocks(sent, answer == RT);
      std::vector<size_t> sizes;
      std::string data;
      for (const std::string& b : blocks) {
        sizes.push_back(b.size());
        data += b;
      }
      EXPECT_EQ(sizes, c.packets);
      EXPECT_EQ(data, body);
      EXPECT_EQ(sent.substr(sent.size() - 2), EF);
      EXPECT_EQ(s_.downloaded, static_cast<long>(c.size));
      EXPECT_EQ(s_.logs, std::vector<std::string>{"63 BIN\\OUT.BIN"});
      // The receiver acknowledges the file; the transfer ends.
      ASSERT_TRUE(Frame(AF));
      EXPECT_EQ(TakeSent(), ET);
      EXPECT_FALSE(Frame(AT));
      EXPECT_EQ(s_.ends, std::vector<std::string>{"\r"});
    }
  }
}

TEST_F(YappXferTest, AReceiverThatSkipsTheHeaderMayStillAskForChecksums) {
  dir_.Write("BIN/F.BIN", "abc");
  ASSERT_TRUE(Start("F.BIN", kYappDownload));
  ASSERT_TRUE(Tick());
  TakeSent();
  ASSERT_TRUE(Frame(RT));
  ASSERT_TRUE(Tick());
  ASSERT_TRUE(Tick());
  EXPECT_EQ(TakeSent(), DTC("abc") + EF);
}

TEST_F(YappXferTest, DownloadWaysToTheEnd) {
  dir_.Write("BIN/F.BIN", "abc");
  const struct {
    const char* what;
    std::string afterInit;  // the station's answer to send-init
    std::string afterData;  // its bytes after the end of file
    std::string sentLast;   // what the BBS sent last
    const char* answer;
  } cases[] = {
      {"receive-file straight after send-init", RF, AF + AT, ET, "\r"},
      {"no acknowledgement of the end of transfer", RR, AF, ET, "\r"},
      {"anything else after the end of file", RR, TX("bye"), EF, "\r"},
      {"a cancel after the end of file", RR, CN(""), CA, "[aborted]\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    s_.ends.clear();
    ASSERT_TRUE(Start("F.BIN", kYappDownload));
    ASSERT_TRUE(Tick());
    ASSERT_TRUE(Frame(c.afterInit));
    if (c.afterInit == RR) {
      ASSERT_TRUE(Tick());
      ASSERT_TRUE(Frame(RF));
    }
    bool running = true;
    for (int i = 0; i < 10 && running && xfer_->state != kSendEot; ++i) running = Tick();
    ASSERT_TRUE(running);
    running = Frame(c.afterData);
    for (int i = 0; i < 3 && running; ++i) running = Tick();
    EXPECT_FALSE(running);
    const std::string sent = TakeSent();
    EXPECT_EQ(sent.substr(sent.size() - 2), c.sentLast);
    EXPECT_EQ(s_.ends, std::vector<std::string>{c.answer});
  }
}

TEST_F(YappXferTest, SendInitIsTriedThreeTimesThenTheTransferGivesUp) {
  dir_.Write("BIN/F.BIN", "abc");
  ASSERT_TRUE(Start("F.BIN", kYappDownload));
  ASSERT_TRUE(Tick());
  // Steps within the same second (input, other wake-ups) are no new try.
  ASSERT_TRUE(Step());
  ASSERT_TRUE(Step());
  ASSERT_TRUE(Tick());
  ASSERT_TRUE(Tick());
  EXPECT_EQ(TakeSent(), SI + SI + SI);
  // The give-up says why, and the station's late answer is still the
  // transfer's, not a command.
  EXPECT_TRUE(Tick());
  EXPECT_EQ(TakeSent(), CN("Timeout"));
  EXPECT_TRUE(s_.ends.empty());
  EXPECT_FALSE(Frame(RR + CA));
  EXPECT_EQ(Last(), "[aborted]\r");
}

TEST_F(YappXferTest, TheStationsAnswersWhileSending) {
  dir_.Write("BIN/F.BIN", Binary(2000));
  const struct {
    const char* what;
    int state;           // where the answer arrives
    std::string answer;  // the station's bytes
    std::string reply;   // what the BBS sends
    const char* end;     // its answer, or "" while the transfer goes on
  } cases[] = {
      {"not ready to send-init", kSendInit, NR("disk full"), "", "[aborted]\r"},
      {"not ready to the header", kSendHeader, NR("exists"), "", "[aborted]\r"},
      {"cancel of send-init", kSendInit, CN(""), CA, "[aborted]\r"},
      {"cancel of the header", kSendHeader, CN(""), CA, "[aborted]\r"},
      {"cancel during the data", kSendData, CN("stop"), CA, "[aborted]\r"},
      {"receive-init asks for send-init again", kSendInit, RI, "", ""},
      {"text is shown, not answered", kSendHeader, TX("wait"), "", ""},
      {"garbage during the data", kSendData, "\xFF\xFE", CN("Cancelled"), ""},
      {"end of transfer from the receiver", kSendData, ET, CN("Cancelled"), ""},
      {"a cancel begun but not finished", kSendData, Bytes({0x18, 5}) + "ab", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    s_.ends.clear();
    ASSERT_TRUE(Start("F.BIN", kYappDownload));
    ASSERT_TRUE(Tick());  // send-init
    if (c.state != kSendInit) {
      ASSERT_TRUE(Frame(RR));
      ASSERT_TRUE(Tick());  // header
    }
    if (c.state == kSendData) {
      ASSERT_TRUE(Frame(RF));
      ASSERT_TRUE(Tick());  // a data packet
    }
    TakeSent();
    const bool running = Frame(c.answer);
    const std::string sent = TakeSent();
    EXPECT_EQ(running, std::string(c.end).empty());
    if (running) {
      EXPECT_TRUE(s_.ends.empty());
      // A cancel of ours comes first; a receive-init is answered later.
      if (!c.reply.empty()) {
        EXPECT_EQ(sent.substr(0, c.reply.size()), c.reply);
      }
      xfer_.reset();
    } else {
      EXPECT_EQ(sent, c.reply);
      EXPECT_EQ(s_.ends, std::vector<std::string>{c.end});
    }
  }
}

// The receiver owes an answer to the header and to the end of file; one
// that falls silent there is given up as the sender gives up on send-init.
TEST_F(YappXferTest, ASilentReceiverTimesOutAfterTheHeaderAndAfterTheEndOfFile) {
  dir_.Write("BIN/F.BIN", "abc");
  for (int at : {kSendHeader, kSendEot}) {
    SCOPED_TRACE(TYappXfer::StateName(at));
    s_.ends.clear();
    ASSERT_TRUE(Start("F.BIN", kYappDownload));
    ASSERT_TRUE(Tick());
    ASSERT_TRUE(Frame(RR));
    ASSERT_TRUE(Tick());
    if (at == kSendEot) {
      ASSERT_TRUE(Frame(RF));
      ASSERT_TRUE(Tick());
      ASSERT_TRUE(Tick());
    }
    ASSERT_EQ(xfer_->state, at);
    TakeSent();
    // The service timer looks every second; nothing happens until the time is up.
    const int64_t due = s_.now + TYappXfer::kAnswerSeconds;
    while (s_.now < due) {
      ++s_.now;
      ASSERT_TRUE(Step());
    }
    EXPECT_EQ(TakeSent(), "");
    ++s_.now;
    ASSERT_TRUE(Step());
    EXPECT_EQ(TakeSent(), CN("Timeout"));
    EXPECT_FALSE(Tick());
    EXPECT_EQ(Last(), "[aborted]\r");
  }
}

// A receiver holding the file's beginning from an earlier try asks for the
// rest with a not-ready packet, with checksums if it says so.
TEST_F(YappXferTest, AResumeSendsTheRestOfTheFile) {
  const std::string body = Binary(600);
  dir_.Write("BIN/F.BIN", body);
  const struct {
    const char* what;
    std::string answer;
    std::string rest;
    bool checksums;
    const char* cancel;  // a resume refused: the cancel's reason
  } cases[] = {
      {"plain", NR(Body("R\0" "300\0")), body.substr(300), false, nullptr},
      {"YAPP-C", NR(Body("R\0" "300\0" "C\0")), body.substr(300), true, nullptr},
      {"the whole file", NR(Body("R\0" "600\0")), "", false, nullptr},
      {"more than the file has", NR(Body("R\0" "601\0")), "", false, "Resume beyond end of file"},
      {"no length", NR(Body("R\0\0")), "", false, "Bad resume request"},
      {"a length that is no number", NR(Body("R\0" "3x\0")), "", false, "Bad resume request"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    s_.ends.clear();
    ASSERT_TRUE(Start("F.BIN", kYappDownload));
    ASSERT_TRUE(Tick());
    ASSERT_TRUE(Frame(RR));
    ASSERT_TRUE(Tick());
    TakeSent();
    const bool running = Frame(c.answer);
    if (c.cancel) {
      // The receiver waits for data: it is told, in its protocol, why none comes.
      ASSERT_TRUE(running);
      EXPECT_EQ(TakeSent(), CN(c.cancel));
      EXPECT_FALSE(Frame(CA));
      EXPECT_EQ(Last(), "[aborted]\r");
      continue;
    }
    ASSERT_TRUE(running);
    for (int i = 0; i < 10 && xfer_->state != kSendEot; ++i) ASSERT_TRUE(Tick());
    const std::string sent = TakeSent();
    std::string data;
    for (const std::string& b : DataBlocks(sent, c.checksums)) data += b;
    EXPECT_EQ(data, c.rest);
    EXPECT_EQ(sent.substr(sent.size() - 2), EF);
    ASSERT_TRUE(Frame(AF));
    EXPECT_FALSE(Frame(AT));
    EXPECT_EQ(Last(), "\r");
  }
}

TEST_F(YappXferTest, ReceiveInitRestartsTheInit) {
  dir_.Write("BIN/F.BIN", "abc");
  ASSERT_TRUE(Start("F.BIN", kYappDownload));
  ASSERT_TRUE(Tick());
  ASSERT_TRUE(Frame(RI));
  ASSERT_TRUE(Tick());
  EXPECT_EQ(TakeSent(), SI + SI);
  EXPECT_EQ(xfer_->state, kSendInit);
}

TEST_F(YappXferTest, TheOperatorsCancelStopsADownload) {
  dir_.Write("BIN/F.BIN", Binary(2000));
  ASSERT_TRUE(Start("F.BIN", kYappDownload));
  ASSERT_TRUE(Tick());
  ASSERT_TRUE(Frame(RF));
  ASSERT_TRUE(Tick());
  TakeSent();
  xfer_->AbortByOperator();
  ASSERT_TRUE(Step());
  EXPECT_EQ(TakeSent(), CN("Cancelled"));
  EXPECT_FALSE(Frame(CA));
  EXPECT_EQ(Last(), "[aborted]\r");
}

// ---- packets ---------------------------------------------------------------------

TEST(YappReaderTest, RecognisesEveryPacketKind) {
  const struct {
    std::string bytes;
    int kind;
    std::string body;
  } cases[] = {
      {SI, kYappSI, ""},         {RI, kYappRI, ""},          {Bytes({5, 9}), kYappInit, ""},
      {RR, kYappRR, ""},         {RF, kYappRF, ""},          {AF, kYappAF, ""},
      {AT, kYappAT, ""},         {CA, kYappCA, ""},          {Bytes({6, 0}), kYappNone, ""},
      {RT, kYappRT, ""},         {Bytes({6, 7}), kYappNone, ""},
      {EF, kYappEF, ""},         {Bytes({3, 0}), kYappNone, ""}, {ET, kYappET, ""},
      {Bytes({4, 4}), kYappNone, ""},
      {HD("A.B", "1"), kYappHD, std::string("A.B\0" "1\0", 6)},
      {DT(std::string("\0\xFF", 2)), kYappDT, std::string("\0\xFF", 2)},
      {Bytes({2, 0}) + Binary(256), kYappDT, Binary(256)},
      {TX("hi"), kYappTX, "hi"}, {NR("no"), kYappNR, "no"},   {CN(""), kYappCN, ""},
      {"A", kYappNone, ""},       {std::string(1, '\0'), kYappNone, ""},
  };
  for (const auto& c : cases) {
    YappReader r;
    for (unsigned char b : c.bytes) ASSERT_TRUE(r.Put(b));
    EXPECT_EQ(r.Next(), c.kind) << testing::PrintToString(c.bytes);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.body()), r.length()), c.body);
    EXPECT_FALSE(r.Ready());
    // Given one byte at a time, the packet is the same once its last byte is in.
    YappReader s;
    int kind = kYappPartial;
    for (size_t i = 0; i < c.bytes.size(); ++i) {
      s.Put(static_cast<unsigned char>(c.bytes[i]));
      kind = s.Next();
      if (i + 1 < c.bytes.size()) {
        EXPECT_EQ(kind, kYappPartial) << testing::PrintToString(c.bytes) << " at " << i;
      }
    }
    EXPECT_EQ(kind, c.kind);
  }
}

// With checksums on, a data packet's last byte is its checksum: taken with
// it, checked, and not part of the data; other packets are as before.
TEST(YappReaderTest, ChecksumsOfDataPackets) {
  std::string damaged = DTC("abc");
  damaged.back() = static_cast<char>(damaged.back() + 1);
  const struct {
    std::string bytes;
    int kind;
    std::string body;
    bool ok;
  } cases[] = {
      {DTC("abc"), kYappDT, "abc", true},
      {DTC(Binary(256)), kYappDT, Binary(256), true},
      {DTC(std::string(2, '\xFF')), kYappDT, std::string(2, '\xFF'), true},  // 0x1FE: only the low byte counts
      {damaged, kYappDT, "abc", false},
      {HD("A", "1"), kYappHD, std::string("A\0" "1\0", 4), true},
      {EF, kYappEF, "", true},
  };
  for (const auto& c : cases) {
    YappReader r;
    r.ExpectChecksums(true);
    int kind = kYappPartial;
    for (unsigned char b : c.bytes) {
      EXPECT_EQ(kind, kYappPartial) << testing::PrintToString(c.bytes);
      r.Put(b);
      kind = r.Next();
    }
    EXPECT_EQ(kind, c.kind) << testing::PrintToString(c.bytes);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.body()), r.length()), c.body);
    EXPECT_EQ(r.checksumOk(), c.ok);
  }
}

TEST(YappReaderTest, TheRingHoldsWhatItCanAndRefusesTheRest) {
  YappReader r;
  for (int i = 0; i < YappReader::kRingPlaces - 1; ++i) ASSERT_TRUE(r.Put(static_cast<unsigned char>(i)));
  EXPECT_FALSE(r.Put(0));
  unsigned char b = 0;
  for (int i = 0; i < YappReader::kRingPlaces - 1; ++i) {
    ASSERT_TRUE(r.Take(&b));
    EXPECT_EQ(b, static_cast<unsigned char>(i));
  }
  EXPECT_FALSE(r.Take(&b));
  // Places freed by reading are used again, across the wrap.
  for (int i = 0; i < 100; ++i) EXPECT_TRUE(r.Put(1));
}

TEST(YappHeaderTest, Fields) {
  const struct {
    std::string body;
    bool ok;
    const char* name;
    const char* size;
    bool hasDate = false;
    uint32_t date = 0;
  } cases[] = {
      {std::string("A.ZIP\0" "1234\0", 11), true, "A.ZIP", "1234"},
      {std::string("A.ZIP\0", 6), true, "A.ZIP", ""},
      {std::string("A.ZIP\0" "12", 8), true, "A.ZIP", "12"},
      {Body("A.ZIP\0" "12\0" "5F3A1B2C\0"), true, "A.ZIP", "12", true, 0x5F3A1B2C},
      {Body("A.ZIP\0" "12\0" "5f3a1b2c"), true, "A.ZIP", "12", true, 0x5F3A1B2C},
      {Body("A.ZIP\0" "12\0" "5F3A1B2G\0"), true, "A.ZIP", "12"},
      {Body("A.ZIP\0" "12\0" "5F3A1B2C0\0"), true, "A.ZIP", "12"},
      {Body("A.ZIP\0" "12\0" "\0"), true, "A.ZIP", "12"},
      {"A.ZIP", false, "", ""},
      {std::string("\0" "12\0", 4), false, "", ""},
      {std::string("A\0" "-1\0", 5), false, "", ""},
      {std::string("A\0" "1 2\0", 6), false, "", ""},
      {"", false, "", ""},
  };
  for (const auto& c : cases) {
    YappHeaderFields f;
    EXPECT_EQ(ParseYappHeader(reinterpret_cast<const unsigned char*>(c.body.data()), c.body.size(), &f), c.ok)
        << testing::PrintToString(c.body);
    if (c.ok) {
      EXPECT_EQ(f.name, c.name);
      EXPECT_EQ(f.size, c.size);
      EXPECT_EQ(f.hasDate, c.hasDate);
      EXPECT_EQ(f.dosDateTime, c.date);
    }
  }
}

// ---- on a channel ------------------------------------------------------------------

// A transfer as the station's channel runs it: the service timer gives up on
// a silent station, and a station that comes back ends what it left behind.
class YappOnChannelTest : public test::BbsSession {
 protected:
  void SetUp() override {
    AddUser("XX1ABC", [](UserDB& u) { CopyField(u.Type, "R"); });
    StartWith("[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=1\nBBSONLY=0\nLIMITED=0\nTIMEOUT=10\n");
    ASSERT_EQ(Connects(0, "XX1ABC"), 1);
    Sent();
  }
  std::string Says(const std::string& line) {
    Type("XX1ABC", line);
    return Sent();
  }
  std::vector<std::string> Temp() { return ListDir(dir_ / "temp"); }
  bool InTransfer() { return Ch(1).yapp != nullptr; }
};

TEST_F(YappOnChannelTest, ASilentUploadFreesItsChannelWithinTheTimeOut) {
  EXPECT_EQ(Says("YU UP.BIN"), test::Marked("rcvfileyapp"));
  const int64_t lastHeard = clock_.Now();
  engine_.Data(0, "XX1ABC", SI + HD("UP.BIN", "600") + DT(Binary(256)));
  EXPECT_EQ(Sent(), RR + RF);
  EXPECT_EQ(Temp().size(), 1u);
  clock_.Set(lastHeard + TYappXfer::kAnswerSeconds);
  EXPECT_EQ(TickWithRoom(), "");
  clock_.Set(lastHeard + TYappXfer::kAnswerSeconds + 1);
  EXPECT_EQ(TickWithRoom(), CN("Timeout"));
  EXPECT_TRUE(Temp().empty());
  // Nor does it answer the cancel.
  clock_.Advance(5);
  EXPECT_EQ(TickWithRoom(), test::Marked("aborted") + kFullPrompt);
  EXPECT_FALSE(InTransfer());
  EXPECT_FALSE(dir_.Exists("BIN/UP.BIN"));
  // The station is at the prompt again, long before the inactivity time-out.
  EXPECT_EQ(Says("YZ UP.BIN"), std::string("\r") + kFullPrompt);
}

TEST_F(YappOnChannelTest, TheAnswerToYuLeavesAtOnceForASenderThatStartsRightAway) {
  auto frames = [&] {
    std::string out;
    for (const ApiFrame& f : engine_.Take("D")) out += f.data;
    return out;
  };
  // The clock stands still: nothing held could have run out.
  Type("XX1ABC", "YU UP.BIN");
  EXPECT_EQ(frames(), test::Marked("rcvfileyapp"));
  engine_.Data(0, "XX1ABC", SI);
  EXPECT_EQ(frames(), RR);
  engine_.Data(0, "XX1ABC", HD("UP.BIN", "3"));
  EXPECT_EQ(frames(), RF);
  engine_.Data(0, "XX1ABC", DT("abc") + EF);
  EXPECT_EQ(frames(), AF);
  engine_.Data(0, "XX1ABC", ET);
  EXPECT_EQ(Sent(), AT + test::Marked("filestored") + kFullPrompt);
  EXPECT_EQ(dir_.Read("BIN/UP.BIN"), "abc");
}

TEST_F(YappOnChannelTest, StrayPacketsAtThePromptAreNoPartOfTheNextCommand) {
  dir_.Write("BIN/DOWN.BIN", "abc");
  // A terminal that gave up on a transfer of its own after ours ended, or
  // starts one nobody asked for.
  const struct {
    const char* what;
    std::string packet;
  } cases[] = {
      {"a cancel", CN("Cancelled by user")},
      {"a cancel with the longest text", CN(std::string(255, 'x'))},
      {"a send-init", SI},
      {"a receive-init", RI},
      {"a cancel's acknowledgement", CA},
      {"a receive-ready", RR},
      {"a YAPP-C receive-ready", RT},
      {"several at once", CA + SI + CN("x")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    engine_.Data(0, "XX1ABC", c.packet);
    EXPECT_EQ(Sent(), "");
    EXPECT_NE(Says("YW").find("DOWN.BIN"), std::string::npos);
    // Text after the packet in the same frame is still read, and so is a
    // line typed before it.
    engine_.Data(0, "XX1ABC", c.packet + "YW\r");
    EXPECT_NE(Sent().find("DOWN.BIN"), std::string::npos);
    engine_.Data(0, "XX1ABC", "J\r" + c.packet);
    EXPECT_EQ(Sent(), std::string("\r") + kFullPrompt);
    EXPECT_STREQ(Ch(1).sparecmd, "");
  }
  // A control byte of a station's own is still its text.
  EXPECT_EQ(Says(Bytes({5}) + "J"), test::Marked("invalidcommand") + kFullPrompt);
}

TEST_F(YappOnChannelTest, TheCommandAndTheFirstPacketsInOneFrame) {
  // A terminal that sends its send-init with the command, the whole file too.
  engine_.Data(0, "XX1ABC", "YU UP.BIN\r" + SI);
  EXPECT_EQ(Sent(), test::Marked("rcvfileyapp") + RR);
  engine_.Data(0, "XX1ABC", HD("UP.BIN", "3") + DT("abc") + EF);
  EXPECT_EQ(Sent(), RF + AF);
  engine_.Data(0, "XX1ABC", ET);
  EXPECT_EQ(Sent(), AT + test::Marked("filestored") + kFullPrompt);
  EXPECT_EQ(dir_.Read("BIN/UP.BIN"), "abc");
  // A download's answer with its command.
  engine_.Data(0, "XX1ABC", "YD UP.BIN\r" + RR);
  EXPECT_NE(Sent().find(test::Marked("sendfileyapp")), std::string::npos);
  EXPECT_TRUE(InTransfer());
}

TEST_F(YappOnChannelTest, AStationThatComesBackEndsTheTransferItLeft) {
  dir_.Write("BIN/DOWN.BIN", Binary(3000));
  const struct {
    const char* command;
    std::string sent;  // the station's packets before it went
  } cases[] = {
      {"YU UP.BIN", SI + HD("UP.BIN", "600") + DT(Binary(256))},
      {"YD DOWN.BIN", RR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    Says(c.command);
    engine_.Data(0, "XX1ABC", c.sent);
    TickWithRoom();
    ASSERT_TRUE(InTransfer());
    // The station's link came up anew, as after a reset of its own.
    EXPECT_EQ(Connects(0, "XX1ABC"), 1);
    const std::string greeting = Sent();
    EXPECT_NE(greeting.find(test::Marked("regularuser")), std::string::npos) << greeting;
    EXPECT_EQ(greeting.substr(greeting.size() - std::string(kFullPrompt).size()), kFullPrompt);
    EXPECT_FALSE(InTransfer());
    EXPECT_TRUE(Temp().empty());
    EXPECT_FALSE(dir_.Exists("BIN/UP.BIN"));
    EXPECT_TRUE(Disconnects().empty());
    EXPECT_NE(Says("YW").find("DOWN.BIN"), std::string::npos);
  }
}

}  // namespace
}  // namespace orn
