#include "platform/file_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <unordered_map>

#include "platform/text.h"

namespace orn {
namespace {

bool Exists(const std::string& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0;
}

// What a directory looked like when it was read: a listing is good while
// the directory's modification time is the one seen then. A change the BBS
// makes itself through the functions below is written into the listing; any
// other (a sysop's copy, another program) changes the time, and the next
// look reads the directory again.
struct DirKey {
  dev_t dev;
  ino_t ino;
  bool operator==(const DirKey& o) const { return dev == o.dev && ino == o.ino; }
};
struct DirKeyHash {
  size_t operator()(const DirKey& k) const { return std::hash<uint64_t>()(static_cast<uint64_t>(k.ino) * 31u + k.dev); }
};
struct Listing {
  timespec mtime{};
  // Read so soon after the last change that another one could follow with
  // the same time (file times move in coarse steps): not trusted, read again.
  bool racy = false;
  // Only the entries whose names hold a capital letter, by their lower-case
  // spelling: an all-lower-case one is found by asking for that spelling.
  // The BBS names its own files in lower case or in the capitals it always
  // uses, so a store of many messages keeps next to nothing here.
  std::unordered_map<std::string, std::string> capitalised;
};

// File times step by a clock tick of a few milliseconds.
constexpr int64_t kRacyNs = 50 * 1000000;

std::mutex listingsMutex;
std::unordered_map<DirKey, Listing, DirKeyHash> listings;

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

std::string LowerAscii(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool HasCapital(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

bool StatDir(const std::string& dir, struct stat* st) {
  return ::stat(dir.empty() ? "." : dir.c_str(), st) == 0 && S_ISDIR(st->st_mode);
}

// Reads the directory into its listing. Called with the mutex held.
bool ReadListing(const std::string& dir, const struct stat& st, Listing* l) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return false;
  l->capitalised.clear();
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    // The first of several spellings is the one found, as a plain search would.
    if (HasCapital(name)) l->capitalised.emplace(LowerAscii(name), name);
  }
  ::closedir(d);
  l->mtime = st.st_mtim;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const int64_t ageNs = (static_cast<int64_t>(now.tv_sec) - st.st_mtim.tv_sec) * 1000000000 + now.tv_nsec -
                        st.st_mtim.tv_nsec;
  l->racy = ageNs < kRacyNs;
  return true;
}

// The entry of `dir` whose name equals `name` without regard to case; `name`
// itself is known not to exist.
bool MatchInDir(const std::string& dir, const std::string& name, std::string* found) {
  struct stat st;
  if (!StatDir(dir, &st)) return false;
  const std::string lower = LowerAscii(name);
  if (lower != name && Exists(JoinPath(dir.empty() ? "." : dir, lower))) {
    *found = lower;
    return true;
  }
  std::lock_guard<std::mutex> lock(listingsMutex);
  const DirKey key{st.st_dev, st.st_ino};
  auto it = listings.find(key);
  if (it == listings.end() || it->second.racy || !SameTime(it->second.mtime, st.st_mtim)) {
    Listing fresh;
    if (!ReadListing(dir, st, &fresh)) return false;
    it = listings.insert_or_assign(key, std::move(fresh)).first;
  }
  const auto hit = it->second.capitalised.find(lower);
  if (hit == it->second.capitalised.end()) return false;
  *found = hit->second;
  return true;
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The directory of `path` as it is before the BBS changes it.
struct DirBefore {
  bool ok = false;
  struct stat st {};
};

DirBefore Before(const std::string& path) {
  DirBefore b;
  b.ok = StatDir(ParentOf(path), &b.st);
  return b;
}

// The BBS has added (or removed) the entry `path`: a listing that was good
// just before is brought up to date instead of being read again.
void Changed(const std::string& path, const DirBefore& before, bool added) {
  if (!before.ok) return;
  struct stat now;
  if (!StatDir(ParentOf(path), &now)) return;
  std::lock_guard<std::mutex> lock(listingsMutex);
  const auto it = listings.find(DirKey{before.st.st_dev, before.st.st_ino});
  if (it == listings.end()) return;
  Listing& l = it->second;
  if (!SameTime(l.mtime, before.st.st_mtim)) return;  // someone else was first: it is read again
  const std::string name = BaseOf(path);
  if (HasCapital(name)) {
    if (added) {
      l.capitalised.emplace(LowerAscii(name), name);
    } else {
      const auto hit = l.capitalised.find(LowerAscii(name));
      if (hit != l.capitalised.end() && hit->second == name) l.capitalised.erase(hit);
    }
  }
  // A change by someone else in the same tick as ours would go unseen
  // until the directory changes again; that window is accepted.
  l.mtime = now.st_mtim;
  l.racy = false;
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
  const std::string real = ResolveCase(p);
  const DirBefore before = Before(real);
  if (::mkdir(real.c_str(), 0777) != 0) return false;  // the umask decides, as for files
  Changed(real, before, true);
  return true;
}

bool CreateFileIfDontExist(const std::string& name) {
  if (FileExists(name)) return true;
  const std::string real = ResolveCase(name);
  const DirBefore before = Before(real);
  // The umask decides, as for every file the BBS makes: a directory shared
  // with the sysops' group (umask 007) keeps its files writable for them.
  int fd = ::open(real.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  ::close(fd);
  Changed(real, before, true);
  return true;
}

bool RemoveFile(const std::string& path) {
  const std::string real = ResolveCase(path);
  const DirBefore before = Before(real);
  if (::unlink(real.c_str()) != 0) return false;
  Changed(real, before, false);
  return true;
}

bool WriteFileReplacing(const std::string& path, const std::string& content, bool sync) {
  std::string real = ResolveCase(path);
  const DirBefore before = Before(real);
  std::string tmp = real + ".tmp" + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);  // the umask decides
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
  // The temporary name came and went; the real one is there.
  Changed(real, before, true);
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
