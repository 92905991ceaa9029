#include "support/test_dir.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace orn::test {

TestDir::TestDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/orntest.XXXXXX";
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TestDir::~TestDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void TestDir::Write(const std::string& name, const std::string& content) const {
  std::ofstream out(*this / name, std::ios::binary);
  out << content;
}

std::string TestDir::Read(const std::string& name) const {
  std::ifstream in(*this / name, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool TestDir::Exists(const std::string& name) const {
  struct stat st;
  return ::stat((*this / name).c_str(), &st) == 0;
}

ScopedChdir::ScopedChdir(const std::string& dir) {
  char buf[4096];
  old_ = ::getcwd(buf, sizeof buf) ? buf : "/";
  if (::chdir(dir.c_str()) != 0) throw std::runtime_error("chdir failed");
}

ScopedChdir::~ScopedChdir() { (void)!::chdir(old_.c_str()); }

FileSizeLimit::FileSizeLimit(long long bytes) {
  struct rlimit r {};
  ::getrlimit(RLIMIT_FSIZE, &r);
  oldSoft_ = static_cast<long long>(r.rlim_cur);
  oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
  r.rlim_cur = static_cast<rlim_t>(bytes);
  if (::setrlimit(RLIMIT_FSIZE, &r) != 0) throw std::runtime_error("setrlimit failed");
}

FileSizeLimit::~FileSizeLimit() {
  struct rlimit r {};
  ::getrlimit(RLIMIT_FSIZE, &r);
  r.rlim_cur = static_cast<rlim_t>(oldSoft_);
  ::setrlimit(RLIMIT_FSIZE, &r);
  std::signal(SIGXFSZ, oldHandler_);
}

std::string AsNobody(const std::function<std::string()>& f) {
  if (::geteuid() != 0) return f();
  int fds[2];
  if (::pipe(fds) != 0) return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    std::string out = "cannot become nobody";
    if (::setgid(65534) == 0 && ::setuid(65534) == 0) out = f();
    const ssize_t put = ::write(fds[1], out.data(), out.size());
    ::_exit(put == static_cast<ssize_t>(out.size()) ? 0 : 1);
  }
  ::close(fds[1]);
  std::string got;
  char buf[256];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  ::waitpid(child, nullptr, 0);
  return got;
}

}  // namespace orn::test
