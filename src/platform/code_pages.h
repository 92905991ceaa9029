// OEM/ANSI conversion. Stations speak the OEM code page (437 by default),
// stored texts are in the ANSI code page (1252 by default), and the desktop
// shows UTF-8. Conversions between the two 8-bit pages go through tables
// built once with iconv; the two tables are exact inverses over all 256
// byte values, so a text converted one way and back is the text it was.
#pragma once

#include <array>
#include <string>

namespace orn {

class CodePages {
 public:
  CodePages();  // 437 and 1252
  // Builds the tables for two code page numbers or iconv names; false (and
  // the previous tables kept) when iconv knows neither.
  bool Configure(const std::string& oem, const std::string& ansi);

  std::string OemToAnsi(const std::string& s) const { return Map(s, oemToAnsi_); }
  std::string AnsiToOem(const std::string& s) const { return Map(s, ansiToOem_); }
  void OemToAnsiInPlace(char* s) const;
  void AnsiToOemInPlace(char* s) const;
  std::string AnsiToUtf8(const std::string& s) const;
  std::string Utf8ToAnsi(const std::string& s) const;

 private:
  using Table = std::array<unsigned char, 256>;
  static std::string Map(const std::string& s, const Table& t);

  Table oemToAnsi_{};
  Table ansiToOem_{};
  std::array<std::string, 256> ansiToUtf8_;
  std::string ansiName_;
};

}  // namespace orn
