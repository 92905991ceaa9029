// A fresh temporary directory per test, removed afterwards.
#pragma once

#include <functional>
#include <string>

namespace orn::test {

class TestDir {
 public:
  TestDir();
  ~TestDir();
  TestDir(const TestDir&) = delete;
  TestDir& operator=(const TestDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  void Write(const std::string& name, const std::string& content) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;

 private:
  std::string path_;
};

// Runs a block with the working directory changed, restoring it afterwards.
class ScopedChdir {
 public:
  explicit ScopedChdir(const std::string& dir);
  ~ScopedChdir();

 private:
  std::string old_;
};

// Runs `f` as the unprivileged user nobody, in a child process when this
// one is root (root reads and writes any file whatever its mode), and gives
// back what it returned. The files it looks at must be within nobody's reach.
std::string AsNobody(const std::function<std::string()>& f);

// While it lives, no file this process writes may grow beyond `bytes`: the
// kernel refuses the write past that point (EFBIG, its signal ignored), as a
// full disk refuses the next block.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(long long bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  long long oldSoft_;
  void (*oldHandler_)(int);
};

}  // namespace orn::test
