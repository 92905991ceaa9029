#include "fwd/compress.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "platform/file_names.h"
#include "support/test_dir.h"

namespace orn {
namespace {

using test::TestDir;

std::string Vector(const std::string& name) {
  std::string data;
  EXPECT_TRUE(ReadWholeFile(std::string(ORN_SOURCE_DIR) + "/tests/data/lzhuf/" + name, &data)) << name;
  return data;
}

std::string Header(uint32_t length) {
  std::string h;
  for (int i = 0; i < 4; ++i) h.push_back(static_cast<char>(length >> (8 * i)));
  return h;
}

// What a forwarding session does: set the flag, open, start the worker,
// poll the flag, join.
struct Session : CompressOwner {
  bool Run(int (*entry)(TCompress*), const std::string& in, const std::string& out) {
    donotrcvdde = true;
    coder = std::make_unique<TCompress>(this);
    if (!coder->Open(in, out)) {
      donotrcvdde = false;
      return false;
    }
    EXPECT_TRUE(StartCoderThread(entry, coder.get(), &thread));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (donotrcvdde.load(std::memory_order_acquire)) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the coder never finished";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    thread.join();
    return true;
  }

  std::unique_ptr<TCompress> coder;
  std::thread thread;
};

TEST(CompressTest, CompressesAndExpandsFilesOnAWorker) {
  TestDir dir;
  dir.Write("3.acc", Vector("message-rheaders.txt"));
  Session send;
  ASSERT_TRUE(send.Run(Enc, dir / "3.acc", dir / "3.aam"));
  EXPECT_FALSE(send.coderfailed);
  EXPECT_FALSE(send.coder->failed());
  EXPECT_EQ(dir.Read("3.aam"), Vector("message-rheaders.txt.lzh"));

  Session receive;
  ASSERT_TRUE(receive.Run(Dec, dir / "3.aam", dir / "3.aca"));
  EXPECT_FALSE(receive.coderfailed);
  EXPECT_EQ(dir.Read("3.aca"), Vector("message-rheaders.txt"));
}

TEST(CompressTest, EmptyTextIsJustTheHeader) {
  TestDir dir;
  dir.Write("1.acc", "");
  Session send;
  ASSERT_TRUE(send.Run(Enc, dir / "1.acc", dir / "1.aam"));
  EXPECT_FALSE(send.coderfailed);
  EXPECT_EQ(dir.Read("1.aam"), Header(0));
}

TEST(CompressTest, FileNamesIgnoreCase) {
  TestDir dir;
  ASSERT_TRUE(CreateDirIfDontExist(dir.path(), "temp"));
  dir.Write("temp/7.acc", "hello");
  Session send;
  ASSERT_TRUE(send.Run(Enc, dir / "TEMP/7.ACC", dir / "TEMP/7.aam"));
  EXPECT_TRUE(dir.Exists("temp/7.aam"));
}

TEST(CompressTest, OpenFailures) {
  TestDir dir;
  dir.Write("in", "text");
  TCompress coder(nullptr);
  EXPECT_FALSE(coder.Open(dir / "missing", dir / "out"));
  EXPECT_FALSE(dir.Exists("out"));
  EXPECT_FALSE(coder.Open(dir / "in", dir / "no-such-dir/out"));
}

// Each failure ends the work as usual (flag cleared, files closed) and is reported.
TEST(CompressTest, FailuresReachTheSession) {
  TestDir dir;
  std::string good = Vector("text-2049.txt.lzh");
  struct Case {
    const char* name;
    std::string input;
    const char* output;
    int (*entry)(TCompress*);
  };
  const Case cases[] = {
      {"short header", "\x01\x00", "out", Dec},
      {"header too long", Header(0x01000001) + good.substr(4), "out", Dec},
      {"code cut short", good.substr(0, good.size() - 1), "out", Dec},
      {"disk full, compressing", "some text", "/dev/full", Enc},
      {"disk full, expanding", good, "/dev/full", Dec},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir.Write("in", c.input);
    std::string out = c.output[0] == '/' ? std::string(c.output) : dir / c.output;
    Session session;
    ASSERT_TRUE(session.Run(c.entry, dir / "in", out));
    EXPECT_FALSE(session.donotrcvdde);
    EXPECT_TRUE(session.coderfailed);
    EXPECT_NE(session.coder->error(), "");
    if (out != "/dev/full") {
      EXPECT_EQ(dir.Read("out"), "");
    }
  }
}

TEST(CompressTest, StopEndsTheWorkAsAFailure) {
  TestDir dir;
  dir.Write("big", std::string(3 << 20, 'x'));
  CompressOwner owner;
  owner.donotrcvdde = true;
  TCompress coder(&owner);
  ASSERT_TRUE(coder.Open(dir / "big", dir / "out"));
  coder.Stop();
  coder.Encode();
  EXPECT_FALSE(owner.donotrcvdde);
  EXPECT_TRUE(owner.coderfailed);
}

std::atomic<int> g_workerNice{-100};

int RecordNice(TCompress* coder) {
  errno = 0;
  g_workerNice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
  return Enc(coder);
}

// The worker yields to the sessions by running at a lower priority.
TEST(CompressTest, WorkerRunsNicer) {
  TestDir dir;
  dir.Write("in", "text");
  errno = 0;
  int mine = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
  if (mine >= 19) GTEST_SKIP() << "already at the lowest priority";
  Session session;
  ASSERT_TRUE(session.Run(RecordNice, dir / "in", dir / "out"));
  EXPECT_GT(g_workerNice.load(), mine);
  EXPECT_FALSE(session.coderfailed);
}

// Coders on several threads share nothing: each gives what it gives alone.
TEST(CompressTest, CodersRunSideBySide) {
  TestDir dir;
  constexpr int kCoders = 4;
  std::mt19937 rng(11);
  std::vector<std::string> texts;
  for (int i = 0; i < kCoders; ++i) {
    std::string text;
    for (int n = 0; n < 60000; ++n) text.push_back(static_cast<char>("abc de\r"[rng() % (3 + i)]));
    texts.push_back(text);
    dir.Write(std::to_string(i) + ".acc", text);
  }
  std::vector<std::unique_ptr<Session>> sessions;
  std::vector<std::thread> runners;
  for (int i = 0; i < kCoders; ++i) {
    sessions.push_back(std::make_unique<Session>());
    std::string name = dir / std::to_string(i);
    runners.emplace_back([s = sessions.back().get(), name] { s->Run(Enc, name + ".acc", name + ".aam"); });
  }
  for (std::thread& t : runners) t.join();
  for (int i = 0; i < kCoders; ++i) {
    std::string expected;
    ASSERT_EQ(LzhufEncode(texts[static_cast<size_t>(i)], &expected), LzhufError::kNone);
    EXPECT_FALSE(sessions[static_cast<size_t>(i)]->coderfailed);
    EXPECT_TRUE(dir.Read(std::to_string(i) + ".aam") == expected) << i;
  }
}

}  // namespace
}  // namespace orn
