// Small text helpers shared by every layer. Texts are 8-bit; only the ASCII
// letters take part in case folding.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace orn {

std::string Trim(const std::string& s);
bool EqualNoCase(const std::string& a, const std::string& b);
std::string UpperAscii(std::string s);
// Text has no control characters but line ends, tabs and the Ctrl-Z that
// ends a plain message; the frames of binary transfers are full of them.
bool LooksBinary(const std::string& text);

// Removes leading blanks in place.
void Ltrim(char* s);
// Upper-cases the letters a to z in place.
void UpCase(char* s);

// Copies `src` into a fixed field of `size` bytes, cutting it to size - 1
// characters and terminating it: never writes past the field.
void CopyField(char* dst, size_t size, const std::string& src);
template <size_t N>
void CopyField(char (&dst)[N], const std::string& src) {
  CopyField(dst, N, src);
}
// The text of a NUL-terminated field that may lack its NUL.
std::string FieldText(const char* field, size_t size);
template <size_t N>
std::string FieldText(const char (&field)[N]) {
  return FieldText(field, N);
}

// A text cut to `size - 1` characters, as a buffer of `size` bytes holds it.
std::string Cut(const std::string& s, size_t size);

// What a station, a peer or a file wrote must not drive the sysop's terminal:
// retitle it, clear it, write its clipboard, or ask it a question whose
// answer the terminal types back as the sysop's input. The control
// characters of UTF-8 text are shown in caret notation (ESC as ^[, DEL as
// ^?), the C1 controls as cat -v shows them (U+009B as M-^[). With
// `keepLayout` line feeds and tabs stay as they are.
class ControlsShown {
 public:
  explicit ControlsShown(bool keepLayout) : keepLayout_(keepLayout) {}
  // The next piece of a stream: a C1 control cut between two pieces is
  // held until the next one says what it is.
  std::string Feed(const char* data, size_t n);
  // What is held at the stream's end.
  std::string Finish();

 private:
  bool keepLayout_;
  bool held_ = false;  // the last piece ended in the first byte of a C1 control
};
std::string ShowControls(const std::string& s, bool keepLayout);

}  // namespace orn
