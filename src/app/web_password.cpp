#include "app/web_password.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/file_names.h"

namespace orn {

const char* const kWebPasswordFile = "WEB.PWD";

namespace {

// A line longer than any hash libsodium writes is no hash of ours.
std::string ReadHash(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return {};
  char buf[crypto_pwhash_STRBYTES + 2] = {};
  const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  std::string s(buf, n);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s.size() < crypto_pwhash_STRBYTES ? s : std::string();
}

}  // namespace

bool SetWebPassword(const std::string& dir, const std::string& password, std::string* error) {
  if (sodium_init() < 0) {
    *error = "the hashing library cannot start";
    return false;
  }
  if (password.empty()) {
    *error = "an empty password is no password";
    return false;
  }
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    *error = "out of memory while hashing the password";
    return false;
  }
  const std::string path = JoinPath(dir, kWebPasswordFile);
  const std::string tmp = path + ".new";
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0660);
  if (fd < 0) {
    *error = "cannot write " + tmp + ": " + std::strerror(errno);
    return false;
  }
  // The umask must not open it to others, nor close it to the service's group.
  ::fchmod(fd, 0660);
  const std::string line = std::string(hash) + "\n";
  const bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && ::fsync(fd) == 0;
  ::close(fd);
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

std::string WebPasswordStamp(const std::string& dir) {
  const std::string hash = ReadHash(JoinPath(dir, kWebPasswordFile));
  return hash.rfind("$argon2", 0) == 0 ? hash : std::string();
}

WebPasswordCheck CheckWebPassword(const std::string& dir, const std::string& password, std::string* stamp) {
  if (sodium_init() < 0) return WebPasswordCheck::kNoPassword;
  const std::string hash = WebPasswordStamp(dir);
  if (stamp) *stamp = hash;
  if (hash.empty()) return WebPasswordCheck::kNoPassword;
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0 ? WebPasswordCheck::kRight
                                                                                        : WebPasswordCheck::kWrong;
}

}  // namespace orn
