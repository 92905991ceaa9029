#include "fwd/b1_partial.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>
#include <vector>

#include "fwd/block_packets.h"
#include "platform/file_names.h"

namespace orn {
namespace {

constexpr const char* kExt = ".b1p";
constexpr const char* kMagic = "ORNB1 ";

// A file name from a call or a BID: what is not a letter, digit, "-" or "_"
// becomes "%XX", so no BID can name a path outside temp/.
std::string NamePart(const std::string& s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '-' || c == '_') {
      out += static_cast<char>(std::toupper(c));
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// Where the sweep of each temp directory stopped. The loop's thread is the
// only one that sweeps.
std::map<std::string, std::filesystem::directory_iterator>& SweepCursors() {
  static std::map<std::string, std::filesystem::directory_iterator> cursors;
  return cursors;
}

}  // namespace

B1Partial::B1Partial(const std::string& tempDir, const std::string& partner, const std::string& bid)
    : path_(JoinPath(tempDir, NamePart(partner) + "_" + NamePart(bid) + kExt)),
      bid_(bid),
      prefix_(NamePart(partner) + "_") {}

size_t B1Partial::MaxHeld(long size) {
  const size_t text = size > 0 ? static_cast<size_t>(size) : 0;
  return kB1Head + text + text / 2 + 8192;
}

bool B1Partial::ReadHead(const std::string& path, std::string* bid, long* size, size_t* headLength, int* asked) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char line[128];
  const bool got = std::fgets(line, sizeof line, f) != nullptr;
  std::fclose(f);
  if (!got) return false;
  const std::string head = line;
  if (head.compare(0, 6, kMagic) != 0 || head.back() != '\n') return false;
  const size_t space = head.find(' ', 6);
  if (space == std::string::npos) return false;
  *bid = head.substr(6, space - 6);
  char* end = nullptr;
  *size = std::strtol(head.c_str() + space + 1, &end, 10);
  long times = 0;
  if (end && *end == ' ') times = std::strtol(end + 1, &end, 10);
  if (!end || *end != '\n' || times < 0 || times > 1000) return false;
  if (asked) *asked = static_cast<int>(times);
  *headLength = head.size();
  return true;
}

size_t B1Partial::Held(long size, int* asked) {
  std::string bid;
  long held = 0;
  size_t head = 0;
  if (!ReadHead(path_, &bid, &held, &head, asked)) {
    Remove();
    return 0;
  }
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(path_, ec);
  if (ec || held != size || bytes < head || bytes - head > MaxHeld(size)) {
    Remove();
    return 0;
  }
  return static_cast<size_t>(bytes) - head;
}

bool B1Partial::NoteAsked() {
  std::string bid;
  long size = 0;
  size_t head = 0;
  int asked = 0;
  std::string file;
  if (!ReadHead(path_, &bid, &size, &head, &asked) || !ReadWholeFile(path_, &file)) return false;
  return WriteFileReplacing(path_, kMagic + bid + " " + std::to_string(size) + " " + std::to_string(asked + 1) +
                                       "\n" + file.substr(head));
}

bool B1Partial::Begin(long size) {
  return WriteFileReplacing(path_, kMagic + bid_ + " " + std::to_string(size) + "\n");
}

bool B1Partial::MakeRoom(size_t bytes) const {
  if (bytes > kMaxBytesPerPartner) return false;
  struct Other {
    std::filesystem::path path;
    std::filesystem::file_time_type written;
    uint64_t size;
  };
  std::vector<Other> others;
  const std::filesystem::path self(path_);
  std::error_code ec;
  for (std::filesystem::directory_iterator it(self.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, prefix_.size(), prefix_) != 0 || it->path().extension() != kExt ||
        name == self.filename().string())
      continue;
    std::error_code statError;
    const auto written = std::filesystem::last_write_time(it->path(), statError);
    const auto size = std::filesystem::file_size(it->path(), statError);
    others.push_back({it->path(), statError ? std::filesystem::file_time_type::min() : written,
                      statError ? 0 : static_cast<uint64_t>(size)});
  }
  std::sort(others.begin(), others.end(), [](const Other& a, const Other& b) { return a.written < b.written; });
  uint64_t total = bytes;
  for (const Other& o : others) total += o.size;
  size_t count = others.size() + 1;
  for (const Other& o : others) {
    if (count <= kMaxFilesPerPartner && total <= kMaxBytesPerPartner) break;
    std::error_code removeError;
    std::filesystem::remove(o.path, removeError);
    --count;
    total -= o.size;
  }
  return true;
}

bool B1Partial::Read(std::string* stream) const {
  std::string bid;
  long size = 0;
  size_t head = 0;
  if (!ReadHead(path_, &bid, &size, &head) || !ReadWholeFile(path_, stream)) return false;
  stream->erase(0, head);
  return true;
}

void B1Partial::Remove() {
  std::error_code ec;
  std::filesystem::remove(path_, ec);
}

namespace {

// One entry of temp/: a partial message that is too old, none of ours, or
// whose message has arrived whole is removed.
void SweepOne(const std::filesystem::path& p, std::filesystem::file_time_type now,
              const std::function<bool(const std::string& bid)>& known,
              bool (*readHead)(const std::string&, std::string*, long*, size_t*, int*)) {
  if (p.extension() != kExt) return;
  std::error_code timeError;
  const auto written = std::filesystem::last_write_time(p, timeError);
  std::string bid;
  long size = 0;
  size_t head = 0;
  const bool ours = readHead(p.string(), &bid, &size, &head, nullptr);
  if (timeError || !ours || now - written > B1Partial::kKeep || known(bid)) {
    std::error_code removeError;
    std::filesystem::remove(p, removeError);
  }
}

}  // namespace

void B1Partial::Sweep(const std::string& tempDir, const std::function<bool(const std::string& bid)>& known) {
  std::error_code ec;
  const auto now = std::filesystem::file_time_type::clock::now();
  for (std::filesystem::directory_iterator it(tempDir, ec), end; !ec && it != end; it.increment(ec))
    SweepOne(it->path(), now, known, &ReadHead);
}

bool B1Partial::SweepStep(const std::string& tempDir, const std::function<bool(const std::string& bid)>& known) {
  auto& cursors = SweepCursors();
  auto at = cursors.find(tempDir);
  std::error_code ec;
  if (at == cursors.end()) {
    std::filesystem::directory_iterator it(tempDir, ec);
    if (ec) return true;
    at = cursors.emplace(tempDir, std::move(it)).first;
  }
  std::filesystem::directory_iterator& it = at->second;
  const auto now = std::filesystem::file_time_type::clock::now();
  for (size_t n = 0; n < kSweepStepFiles && !ec && it != std::filesystem::directory_iterator(); ++n) {
    SweepOne(it->path(), now, known, &ReadHead);
    it.increment(ec);
  }
  if (!ec && it != std::filesystem::directory_iterator()) return false;
  cursors.erase(at);
  return true;
}

}  // namespace orn
