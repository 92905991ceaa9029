#include "fwd/b1_partial.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

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

}  // namespace

B1Partial::B1Partial(const std::string& tempDir, const std::string& partner, const std::string& bid)
    : path_(JoinPath(tempDir, NamePart(partner) + "_" + NamePart(bid) + kExt)), bid_(bid) {}

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
  if (ec || held != size || bytes < head) {
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

void B1Partial::Sweep(const std::string& tempDir, const std::function<bool(const std::string& bid)>& known) {
  std::error_code ec;
  const auto now = std::filesystem::file_time_type::clock::now();
  for (std::filesystem::directory_iterator it(tempDir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::filesystem::path p = it->path();
    if (p.extension() != kExt) continue;
    std::error_code timeError;
    const auto written = std::filesystem::last_write_time(p, timeError);
    std::string bid;
    long size = 0;
    size_t head = 0;
    const bool ours = ReadHead(p.string(), &bid, &size, &head);
    if (timeError || !ours || now - written > kKeep || known(bid)) {
      std::error_code removeError;
      std::filesystem::remove(p, removeError);
    }
  }
}

}  // namespace orn
