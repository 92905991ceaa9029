#include "support/language_files.h"

#include <fstream>

#include "context/language.h"

namespace orn::test {

std::string Marked(const std::string& field, char open, char close) {
  return std::string(1, open) + field + std::string(1, close) + "\r";
}

void WriteMarkedLanguage(const std::string& dir, const std::string& file, char open, char close) {
  std::ofstream out(dir + "/" + file, std::ios::binary);
  const LanguageText* texts = LanguageFileOrder();
  for (int i = 0; i < kLanguageTexts; ++i) {
    std::string name = texts[i].name;
    if (name == "newuser") name += " $U";
    std::string text = Marked(name, open, close);
    text.pop_back();
    out << text << "\r\n";
    if (i < 8) out << "-\r\n";
  }
}

}  // namespace orn::test
