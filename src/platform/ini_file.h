// Private-profile (ini) files with the semantics the BBS has always relied on:
// names matched without regard to case, defaults for whatever is missing, and
// writes that change one key and leave every other byte of the file alone.
#pragma once

#include <string>
#include <vector>

namespace orn {

class IniFile {
 public:
  explicit IniFile(std::string path = {}) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }
  void setPath(std::string path) { path_ = std::move(path); }

  // The value of section/key with blanks around it removed, cut to
  // `size - 1` characters as a buffer of `size` bytes would hold it
  // (0 = no cut); `def` when the file, section or key is missing.
  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& def, size_t size = 0) const;

  // Leading decimal digits of the value; 0 when there are none; `def` when
  // the key is missing or its value empty.
  long GetInt(const std::string& section, const std::string& key, long def) const;

  // Replaces or adds one key, creating the section and the file when missing.
  // The value is stored verbatim. Returns false when the file cannot be written.
  bool WriteString(const std::string& section, const std::string& key, const std::string& value);
  bool WriteInt(const std::string& section, const std::string& key, long value);
  bool WriteBool(const std::string& section, const std::string& key, bool value) {
    return WriteInt(section, key, value ? 1 : 0);
  }

  // Every key=value line of a section, in file order (empty when missing).
  std::vector<std::pair<std::string, std::string>> Section(const std::string& section) const;

 private:
  std::string path_;
};

// Reads the leading decimal digits of a text as the profile integer call does.
long ProfileNumber(const std::string& text);

}  // namespace orn
