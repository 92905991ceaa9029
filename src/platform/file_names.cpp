#include "platform/file_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fstream>
#include <sstream>

#include "platform/text.h"

namespace orn {
namespace {

bool Exists(const std::string& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0;
}

// The entry of `dir` whose name equals `name` without regard to case.
bool MatchInDir(const std::string& dir, const std::string& name, std::string* found) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return false;
  bool ok = false;
  while (dirent* e = ::readdir(d)) {
    if (EqualNoCase(e->d_name, name)) {
      *found = e->d_name;
      ok = true;
      break;
    }
  }
  ::closedir(d);
  return ok;
}

}  // namespace

std::string ResolveCase(const std::string& input) {
  std::string path = input;
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.empty() || Exists(path)) return path;

  std::string out;
  size_t pos = 0;
  if (path[0] == '/') {
    out = "/";
    pos = 1;
  }
  bool resolving = true;  // once a component is missing, the rest cannot exist
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    std::string comp = path.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
    if (!comp.empty()) {
      std::string candidate = out + comp;
      if (resolving && !Exists(candidate)) {
        std::string found;
        if (comp != "." && comp != ".." && MatchInDir(out.empty() ? "." : out, comp, &found))
          candidate = out + found;
        else
          resolving = false;
      }
      out = candidate;
    }
    if (slash == std::string::npos) break;
    out += "/";
    pos = slash + 1;
  }
  return out;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(ResolveCase(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirExists(const std::string& path) {
  struct stat st;
  return ::stat(ResolveCase(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

bool CreateDirIfDontExist(const std::string& root, const std::string& sub) {
  std::string p = JoinPath(root, sub);
  if (DirExists(p)) return true;
  return ::mkdir(ResolveCase(p).c_str(), 0755) == 0;
}

bool CreateFileIfDontExist(const std::string& name) {
  if (FileExists(name)) return true;
  int fd = ::open(ResolveCase(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool WriteFileReplacing(const std::string& path, const std::string& content, bool sync) {
  std::string real = ResolveCase(path);
  std::string tmp = real + ".tmp" + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      ::unlink(tmp.c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (sync && ::fsync(fd) != 0) {
    ::close(fd);
    ::unlink(tmp.c_str());
    return false;
  }
  if (::close(fd) != 0 || ::rename(tmp.c_str(), real.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* content) {
  std::ifstream in(ResolveCase(path), std::ios::binary);
  if (!in) return false;
  std::stringstream ss;
  ss << in.rdbuf();
  *content = ss.str();
  return true;
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> out;
  DIR* d = ::opendir(ResolveCase(dir.empty() ? "." : dir).c_str());
  if (!d) return out;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") out.push_back(n);
  }
  ::closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

std::string CurrentDirectory() {
  char buf[PATH_MAX];
  if (!::getcwd(buf, sizeof buf)) return ".";
  return buf;
}

}  // namespace orn
