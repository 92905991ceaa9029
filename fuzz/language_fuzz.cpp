// Arbitrary bytes as a language file: the loader must end, and leave every
// text terminated within its field.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "context/language.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size == 0) return 0;
  std::FILE* f = fmemopen(const_cast<unsigned char*>(data), size, "rb");
  if (!f) return 0;
  static const orn::CodePages cp;
  const orn::CodePages* conv = (data[0] & 1) ? &cp : nullptr;
  orn::Language lang;
  std::memset(&lang, 'x', sizeof lang);
  for (int i = 0; i < orn::kLanguageTexts; ++i) {
    const orn::LanguageText& t = orn::LanguageFileOrder()[i];
    char* field = orn::LanguageField(lang, t);
    if (i < 8)
      orn::readhello(f, field, t.size, conv);
    else
      orn::readonly(f, field, t.size, conv);
    if (!std::memchr(field, '\0', t.size)) std::abort();
  }
  std::fclose(f);
  return 0;
}
