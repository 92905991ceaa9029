#include "store/record_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/bytes.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/counters.h"
#include "store/records.h"

namespace orn {
namespace {

struct RecordFileKind {
  const char* name;
  size_t size;
};

int64_t Size(const std::string& path) {
  std::error_code ec;
  const auto n = std::filesystem::file_size(path, ec);
  return ec ? -1 : static_cast<int64_t>(n);
}

bool CutTo(const std::string& path, int64_t size) {
  std::error_code ec;
  std::filesystem::resize_file(path, static_cast<uintmax_t>(size), ec);
  return !ec;
}

// The 32-bit number at the start of record `i` (from 0) of a file.
bool FirstWord(std::ifstream& f, size_t recordSize, int64_t i, int32_t* out) {
  char b[4];
  f.seekg(i * static_cast<int64_t>(recordSize));
  if (!f.read(b, 4)) return false;
  *out = static_cast<int32_t>(ReadLe32(b));
  return true;
}

std::string Restore(const char* file) {
  return std::string("Restore ") + file + " and its index from a backup, or move both away to begin with an empty one.";
}

// Only the records count: the index is made from them again at the next
// start, and the message texts stay where they are.
std::string RestoreRecords(const char* file) {
  return std::string("Restore ") + file + " from a backup; its index is rebuilt from it at the next start.";
}

// Why a file could not be read, in the sysop's words.
std::string Reason(int err) {
  if (err == EACCES || err == EPERM) return "permission denied";
  std::string s = std::strerror(err);
  if (!s.empty()) s[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[0])));
  return s;
}

// Reads a whole record file, block by block, handing each whole record to
// `visit` with its place (from 0). A file that is not there is empty.
// Returns 0, or the errno of what went wrong.
template <class Visit>
int ScanRecords(const std::string& path, size_t size, const Visit& visit) {
  const int fd = ::open(ResolveCase(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? 0 : errno;
  const size_t perBlock = (64 * 1024 + size - 1) / size;
  std::string buf(perBlock * size, '\0');
  size_t have = 0;
  int64_t index = 0;
  int err = 0;
  for (;;) {
    const ssize_t got = ::read(fd, &buf[have], buf.size() - have);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      err = errno;
      break;
    }
    have += static_cast<size_t>(got);
    const size_t whole = have - have % size;
    for (size_t at = 0; at < whole; at += size) visit(index++, buf.data() + at);
    buf.erase(0, whole);
    buf.resize(perBlock * size, '\0');
    have -= whole;
    if (got == 0) break;
  }
  ::close(fd);
  return err;
}

int ReadIndex(const std::string& path, size_t size, std::string* out) {
  out->clear();
  return ScanRecords(path, size, [&](int64_t, const char* rec) { out->append(rec, size); });
}

// Whether two index entries say the same; bytes after a text's end say
// nothing.
bool SameEntry(const UserDBidx& a, const UserDBidx& b) {
  return a.Id == b.Id && FieldText(a.Call) == FieldText(b.Call) && FieldText(a.Name) == FieldText(b.Name) &&
         FieldText(a.Type) == FieldText(b.Type) && FieldText(a.isFwdStation) == FieldText(b.isFwdStation) &&
         a.FwdQueue == b.FwdQueue;
}

bool SameEntry(const MsgDBidx& a, const MsgDBidx& b) {
  return a.MsgNo == b.MsgNo && FieldText(a.Type) == FieldText(b.Type) && FieldText(a.Status) == FieldText(b.Status);
}

// Entries of `stored` that are not what the records say, counting those
// missing and those beyond the records.
template <class Idx, class Decode>
int64_t WrongEntries(const std::string& stored, const std::string& derived, size_t size, Decode decode) {
  const int64_t have = static_cast<int64_t>(stored.size() / size), want = static_cast<int64_t>(derived.size() / size);
  int64_t wrong = std::max(have, want) - std::min(have, want);
  Idx a{}, b{};
  for (int64_t i = 0; i < std::min(have, want); ++i) {
    decode(stored.data() + i * static_cast<int64_t>(size), &a);
    decode(derived.data() + i * static_cast<int64_t>(size), &b);
    if (!SameEntry(a, b)) ++wrong;
  }
  return wrong;
}

// The highest number of a message text ("<number>.amm") in the directory.
long HighestText(const std::string& mailDir) {
  if (mailDir.empty()) return 0;
  long top = 0;
  for (const std::string& name : ListDir(mailDir)) {
    const size_t dot = name.find('.');
    if (dot == 0 || dot == std::string::npos || dot > 9 || UpperAscii(name.substr(dot)) != ".AMM") continue;
    if (name.find_first_not_of("0123456789") != dot) continue;
    top = std::max(top, std::strtol(name.c_str(), nullptr, 10));
  }
  return top;
}

// Writes an index anew from what its records make of it when `wrong` of its
// entries differ, through a new file and a rename: a crash leaves the old
// index or the new one, and the records are never touched.
void Settle(const std::string& dir, const char* idxName, const char* dataName, const std::string& derived,
            int64_t wrong, size_t idxSize, RecordCheck* check) {
  if (wrong == 0) return;
  const std::string path = ResolveCase(JoinPath(dir, idxName));
  const std::string records = std::to_string(derived.size() / idxSize);
  if (!WriteFileReplacing(path, derived, true)) {
    check->damage = std::string(idxName) + " does not match " + dataName + " and cannot be written anew.";
    return;
  }
  check->mended.push_back(std::string(idxName) + " did not match " + std::to_string(wrong) + " of the " + records +
                          " records of " + dataName + ": the index was rebuilt from them.");
}

}  // namespace

RecordCheck RebuildIndexes(const std::string& dir, const std::string& mailDir) {
  RecordCheck check;
  {
    std::string derived, stored;
    UserDB r{};
    UserDBidx i{};
    char e[kUserDBidxSize];
    int err = ScanRecords(JoinPath(dir, "USERS.ADB"), kUserDBSize, [&](int64_t, const char* rec) {
      DecodeUserDB(rec, &r);
      EqualIndices(r, &i);
      EncodeUserDBidx(i, e);
      derived.append(e, sizeof e);
    });
    if (err) {
      check.damage = "USERS.ADB cannot be read: " + Reason(err) + ".";
      return check;
    }
    if ((err = ReadIndex(JoinPath(dir, "USERS.IDX"), kUserDBidxSize, &stored)) != 0) {
      check.damage = "USERS.IDX cannot be read: " + Reason(err) + ".";
      return check;
    }
    Settle(dir, "USERS.IDX", "USERS.ADB", derived,
           WrongEntries<UserDBidx>(stored, derived, kUserDBidxSize, DecodeUserDBidx), kUserDBidxSize, &check);
    if (!check.damage.empty()) return check;
  }

  std::string derived, stored;
  MsgDB r{};
  MsgDBidx i{};
  char e[kMsgDBidxSize];
  int32_t previous = 0;
  int64_t badAt = 0;
  int err = ScanRecords(JoinPath(dir, "MSG.ADB"), kMsgDBSize, [&](int64_t at, const char* rec) {
    DecodeMsgDB(rec, &r);
    if (r.MsgNo <= previous && badAt == 0) badAt = at + 1;
    previous = r.MsgNo;
    EqualIndices(r, &i);
    EncodeMsgDBidx(i, e);
    derived.append(e, sizeof e);
  });
  if (err) {
    check.damage = "MSG.ADB cannot be read: " + Reason(err) + ".";
    return check;
  }
  // Garbage in place of the records: an index made from it would only
  // spread it.
  if (badAt) {
    check.damage = "MSG.ADB: the message numbers do not rise at record " + std::to_string(badAt) + ".";
    return check;
  }
  if ((err = ReadIndex(JoinPath(dir, "MSG.IDX"), kMsgDBidxSize, &stored)) != 0) {
    check.damage = "MSG.IDX cannot be read: " + Reason(err) + ".";
    return check;
  }
  const int64_t wrong = WrongEntries<MsgDBidx>(stored, derived, kMsgDBidxSize, DecodeMsgDBidx);
  Settle(dir, "MSG.IDX", "MSG.ADB", derived, wrong, kMsgDBidxSize, &check);
  if (wrong && check.damage.empty()) {
    // Whatever the index was missing, the numbers of the records and texts
    // stay used.
    const StoreSite site{dir, mailDir, "", ""};
    const long top = std::max(static_cast<long>(previous), HighestText(mailDir));
    if (top > ReadHighWater(site)) WriteHighWater(site, top);
  }
  return check;
}

RecordCheck CheckRecordFiles(const std::string& dir, const std::string& mailDir) {
  RecordCheck check;
  const RecordFileKind kinds[] = {{"USERS.ADB", kUserDBSize}, {"USERS.IDX", kUserDBidxSize},
                                  {"MSG.ADB", kMsgDBSize},    {"MSG.IDX", kMsgDBidxSize},
                                  {"MAIL.ADB", kMailsSize}};
  int64_t records[5] = {};
  for (size_t k = 0; k < 5; ++k) {
    const std::string path = ResolveCase(JoinPath(dir, kinds[k].name));
    // The BBS reads and writes every one of them: a file it may not open is
    // said as such, before its contents could be blamed.
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT) {
      check.damage = std::string(kinds[k].name) + " cannot be opened: " + Reason(errno) + ".";
      check.advice = "The BBS's user must be able to read and write it.";
      return check;
    }
    if (fd >= 0) ::close(fd);
    const int64_t size = Size(path);
    if (size < 0) continue;
    const int64_t torn = size % static_cast<int64_t>(kinds[k].size);
    if (torn != 0) {
      if (!CutTo(path, size - torn)) {
        check.damage = std::string(kinds[k].name) + " ends in a torn record that cannot be cut off.";
        check.advice = Restore(kinds[k].name);
        return check;
      }
      check.mended.push_back(std::string(kinds[k].name) + ": a torn last record (" + std::to_string(torn) +
                             " bytes) was cut off.");
    }
    records[k] = (size - torn) / static_cast<int64_t>(kinds[k].size);
  }

  // An index longer than its records: those records were never completed.
  for (size_t data : {0u, 2u}) {
    const size_t idx = data + 1;
    if (records[idx] <= records[data]) continue;
    const std::string path = ResolveCase(JoinPath(dir, kinds[idx].name));
    if (data == 2) {
      // The numbers of the lost messages stay used.
      std::ifstream f(path, std::ios::binary);
      int32_t last = 0;
      const StoreSite site{dir, "", "", ""};
      if (FirstWord(f, kMsgDBidxSize, records[idx] - 1, &last) && last > ReadHighWater(site))
        WriteHighWater(site, last);
    }
    if (!CutTo(path, records[data] * static_cast<int64_t>(kinds[idx].size))) {
      check.damage = std::string(kinds[idx].name) + " is longer than " + kinds[data].name + ".";
      check.advice = Restore(kinds[data].name);
      return check;
    }
    check.mended.push_back(std::string(kinds[idx].name) + ": " + std::to_string(records[idx] - records[data]) +
                           " entries without their records were dropped.");
    records[idx] = records[data];
  }

  RecordCheck rebuilt = RebuildIndexes(dir, mailDir);
  check.mended.insert(check.mended.end(), rebuilt.mended.begin(), rebuilt.mended.end());
  if (!rebuilt.damage.empty()) {
    // A file the BBS may not read or write is no fault of its contents.
    const bool access = rebuilt.damage.find(" cannot be ") != std::string::npos;
    const bool users = rebuilt.damage.rfind("USERS", 0) == 0;
    check.damage = rebuilt.damage;
    check.advice = access ? "The BBS's user must be able to read and write it."
                          : RestoreRecords(users ? "USERS.ADB" : "MSG.ADB");
  }
  return check;
}

}  // namespace orn
