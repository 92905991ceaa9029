// One BBS per directory: a lock on a file in the working directory, held for
// the life of the process. The kernel drops it when the process dies, so a
// stale lock file never blocks a new start.
//
// A tool that works on a stopped BBS's files takes the same lock for a moment,
// and while it does it also holds a second, "brief" lock. A BBS that finds
// the instance lock taken waits for it as long as the brief lock shows that
// only such a tool holds it, so that a service restart never fails because
// the sysop ran a command at that moment.
#pragma once

#include <string>

namespace orn {

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // False when another process holds the lock on `path`.
  bool Acquire(const std::string& path);
  // As Acquire, but while the lock on `path` is taken and someone holds
  // `briefPath`, tries again for up to `waitMs` milliseconds.
  bool Acquire(const std::string& path, const std::string& briefPath, int waitMs);
  // The tool's side: `briefPath` first (shared, so that tools do not shut
  // each other out of it), then `path`. False, holding neither, when `path`
  // is taken.
  bool AcquireBrief(const std::string& path, const std::string& briefPath);
  void Release();

  // Someone holds `briefPath`: a tool, not another BBS, has the directory.
  static bool BriefHeld(const std::string& briefPath);

 private:
  int fd_ = -1;
  int briefFd_ = -1;
};

}  // namespace orn
