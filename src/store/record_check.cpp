#include "store/record_check.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/bytes.h"
#include "platform/file_names.h"
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
  return std::string(" The start is stopped: restore ") + file +
         " and its index from a backup, or move both away to begin with an empty one.";
}

}  // namespace

RecordCheck CheckRecordFiles(const std::string& dir) {
  RecordCheck check;
  const RecordFileKind kinds[] = {{"USERS.ADB", kUserDBSize}, {"USERS.IDX", kUserDBidxSize},
                                  {"MSG.ADB", kMsgDBSize},    {"MSG.IDX", kMsgDBidxSize},
                                  {"MAIL.ADB", kMailsSize}};
  int64_t records[5] = {};
  for (size_t k = 0; k < 5; ++k) {
    const std::string path = ResolveCase(JoinPath(dir, kinds[k].name));
    const int64_t size = Size(path);
    if (size < 0) continue;
    const int64_t torn = size % static_cast<int64_t>(kinds[k].size);
    if (torn != 0) {
      if (!CutTo(path, size - torn)) {
        check.damage = std::string(kinds[k].name) + " ends in a torn record that cannot be cut off." +
                       Restore(kinds[k].name);
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
      check.damage = std::string(kinds[idx].name) + " is longer than " + kinds[data].name + "." +
                     Restore(kinds[data].name);
      return check;
    }
    check.mended.push_back(std::string(kinds[idx].name) + ": " + std::to_string(records[idx] - records[data]) +
                           " entries without their records were dropped.");
    records[idx] = records[data];
  }

  // Messages: numbers rise from record to record, and the index's last entry
  // names the last record's message.
  std::ifstream idx(ResolveCase(JoinPath(dir, "MSG.IDX")), std::ios::binary);
  int32_t previous = 0;
  for (int64_t i = 0; idx && i < records[3]; ++i) {
    int32_t number = 0;
    if (!FirstWord(idx, kMsgDBidxSize, i, &number) || number <= previous) {
      check.damage = "MSG.IDX: the message numbers do not rise at entry " + std::to_string(i + 1) + "." +
                     Restore("MSG.ADB");
      return check;
    }
    previous = number;
  }
  if (records[2] > 0 && records[3] == records[2]) {
    std::ifstream adb(ResolveCase(JoinPath(dir, "MSG.ADB")), std::ios::binary);
    int32_t last = 0;
    if (!FirstWord(adb, kMsgDBSize, records[2] - 1, &last) || last != previous) {
      check.damage = "MSG.ADB: its last record is message " + std::to_string(last) + ", its index says " +
                     std::to_string(previous) + "." + Restore("MSG.ADB");
      return check;
    }
  }
  return check;
}

}  // namespace orn
