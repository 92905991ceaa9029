#include "fwd/sid.h"

namespace orn {

bool ParseSid(const std::string& line, SFwd* f) {
  *f = SFwd{};
  const size_t close = line.find(']');
  if (close == std::string::npos) return false;
  // The letters are read backwards from the "]" to the last "-"; the name
  // and version before it may hold any letter.
  for (size_t i = close; i-- > 1;) {
    const char c = line[i];
    if (c == '-') break;
    switch (c) {
      case 'F': f->fbbok = true; break;
      case '$': f->bidok = true; break;
      case 'A': f->asciiok = true; break;
      case 'B': f->binaryok = true; break;
      case 'H': f->hierok = true; break;
      case 'M': f->midok = true; break;
      case 'R': f->routeok = true; break;
      case '1': f->b1ok = true; break;
      default: break;
    }
  }
  if (!f->bidok) return false;
  f->b1ok = f->b1ok && f->binaryok;
  if (f->fbbok) {
    if (!f->asciiok && !f->binaryok) {
      f->fbbonly = true;
      f->asciiok = true;
    } else if (f->asciiok && f->binaryok) {
      f->asciiok = false;
    }
  }
  return true;
}

}  // namespace orn
