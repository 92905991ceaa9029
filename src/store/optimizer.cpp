#include "store/optimizer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/file_names.h"
#include "platform/text.h"
#include "store/msg_text.h"
#include "store/record_check.h"

namespace orn {

const char* const kMsgWorkFile = "msg.tmp";
const char* const kMsgIdxWorkFile = "idx.tmp";
const char* const kUserWorkFile = "user.tmp";
const char* const kUserIdxWorkFile = "uidx.tmp";

namespace {

long DayCount(const std::string& yymmdd) {
  if (yymmdd.size() < 6) return 0;
  auto num = [&](size_t at) { return std::atol(yymmdd.substr(at, 2).c_str()); };
  return num(0) * 365 + num(2) * 30 + num(4);
}

// A work file written whole and on the disk, or nothing.
class WorkFile {
 public:
  explicit WorkFile(const std::string& path) : path_(path), f_(std::fopen(path.c_str(), "wb")) { ok_ = f_ != nullptr; }
  ~WorkFile() {
    if (f_) std::fclose(f_);
  }
  void Put(const char* bytes, size_t n) {
    if (ok_ && std::fwrite(bytes, 1, n, f_) != n) ok_ = false;
  }
  // Flushes to the disk; false when anything failed on the way.
  bool Finish() {
    if (!f_) return false;
    ok_ = ok_ && std::fflush(f_) == 0 && ::fsync(::fileno(f_)) == 0;
    ok_ = std::fclose(f_) == 0 && ok_;
    f_ = nullptr;
    return ok_;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::FILE* f_;
  bool ok_ = false;
};

// Copies a finished work file over a database file: through a new file and a
// rename, so the database file is the old one or the new one, never half.
bool ReplaceWith(const std::string& work, const std::string& target) {
  std::string bytes;
  return ReadWholeFile(work, &bytes) && WriteFileReplacing(ResolveCase(target), bytes, true);
}

}  // namespace

bool GetDays(const std::string& msgdate, const std::string& today, long maxdays) {
  const size_t slash = msgdate.find('/');
  const std::string date = slash == std::string::npos ? msgdate : msgdate.substr(slash + 1);
  const long age = DayCount(today) - DayCount(date);
  return age <= maxdays;
}

OptimizeResult MakeOptimize(const StoreSite& site, const PurgeOptions& o, const std::string& today,
                            const std::function<void(long)>& dropped,
                            const std::function<void(const std::string&)>& progress) {
  OptimizeResult result;
  auto say = [&](const char* text) {
    if (progress) progress(text);
  };
  auto fail = [&](const std::string& what) {
    result.ok = false;
    if (result.error.empty()) result.error = what;
  };

  // An emptied or overwritten index hides records from every reader, and
  // the passes below would carry that over: it is made from the records
  // first.
  const RecordCheck rebuilt = RebuildIndexes(site.dir, site.mailDir);
  result.mended = rebuilt.mended;
  if (!rebuilt.damage.empty()) fail(rebuilt.damage);
  if (!o.Any()) return result;

  // Messages: ageing and purging in one pass over msg.adb.
  {
    say(o.maxDaysOld ? "Processing old msgs.." : "Processing DB optimizing..");
    TOrnDbase db(site);
    db.OpenMsgFile();
    WorkFile adb(JoinPath(site.dir, kMsgWorkFile)), idx(JoinPath(site.dir, kMsgIdxWorkFile));
    std::vector<char> rec(kMsgDBSize), irec(kMsgDBidxSize);
    db.ScanMsgs([&](long, const MsgDB& r) {
      MsgDB m = r;
      if (o.maxDaysOld && !GetDays(FieldText(m.MsgDate), today, o.maxDaysOld)) {
        CopyField(m.Status, "O");
        ++result.messagesAged;
      }
      const char s = m.Status[0];
      const bool drop = (s == 'K' && o.killed) || (s == 'O' && o.old) || (s == 'H' && o.held) ||
                        (s == 'F' && o.forwarded) || (s == 'Y' && o.read);
      if (drop) {
        ++result.messagesDropped;
        if (dropped) dropped(m.MsgNo);
        RemoveFile(MsgFileName(site.mailDir, m.MsgNo));
        return true;
      }
      MsgDBidx i;
      EqualIndices(m, &i);
      EncodeMsgDB(m, rec.data());
      EncodeMsgDBidx(i, irec.data());
      adb.Put(rec.data(), rec.size());
      idx.Put(irec.data(), irec.size());
      ++result.messagesKept;
      return true;
    });
    db.CloseAll();
    // The kept records replace the files, even when none was kept: records of
    // dropped messages must not outlive their texts.
    if (adb.Finish() && idx.Finish()) {
      if (!ReplaceWith(idx.path(), JoinPath(site.dir, kMsgIdxFile)) ||
          !ReplaceWith(adb.path(), JoinPath(site.dir, kMsgFile)))
        fail("the message files could not be replaced");
    } else {
      fail("the message work files could not be written");
    }
  }

  // Users: killed ones go; the others keep their place numbers as Ids.
  {
    say("Processing User DB..");
    TOrnDbase db(site);
    db.OpenUserFile();
    WorkFile adb(JoinPath(site.dir, kUserWorkFile)), idx(JoinPath(site.dir, kUserIdxWorkFile));
    std::vector<char> rec(kUserDBSize), irec(kUserDBidxSize);
    UserDB u{};
    UserDBidx i{};
    for (long pos = 1; db.ReadFromFile(pos, u, i); ++pos) {
      if (u.Type[0] == 'K') {
        ++result.usersDropped;
        continue;
      }
      EqualIndices(u, &i);
      EncodeUserDB(u, rec.data());
      EncodeUserDBidx(i, irec.data());
      adb.Put(rec.data(), rec.size());
      idx.Put(irec.data(), irec.size());
      ++result.usersKept;
    }
    db.CloseAll();
    if (adb.Finish() && idx.Finish()) {
      if (result.usersDropped &&
          (!ReplaceWith(idx.path(), JoinPath(site.dir, kUsersIdxFile)) ||
           !ReplaceWith(adb.path(), JoinPath(site.dir, kUsersFile))))
        fail("the user files could not be replaced");
    } else {
      fail("the user work files could not be written");
    }
  }
  return result;
}

}  // namespace orn
