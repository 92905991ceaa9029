// lzhuf e IN OUT | lzhuf d IN OUT: compresses or expands a file in the
// forwarding stream format (2048-byte ring), e.g. to look into a forwarded
// message. Exit status 0 on success, 1 on failure, 2 on bad usage.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fwd/compress.h"

int main(int argc, char** argv) {
  if (argc != 4 || std::strlen(argv[1]) != 1 || std::strchr("eEdD", argv[1][0]) == nullptr) {
    std::fprintf(stderr, "usage: lzhuf e|d IN OUT\n  e  compress IN into OUT\n  d  expand IN into OUT\n");
    return 2;
  }
  orn::TCompress coder(nullptr);
  if (!coder.Open(argv[2], argv[3])) {
    std::fprintf(stderr, "lzhuf: cannot open %s or create %s: %s\n", argv[2], argv[3],
                 std::strerror(errno));
    return 1;
  }
  bool encode = argv[1][0] == 'e' || argv[1][0] == 'E';
  if (encode) {
    coder.Encode();
  } else {
    coder.Decode();
  }
  if (coder.failed()) {
    std::fprintf(stderr, "lzhuf: %s\n", coder.error().c_str());
    return 1;
  }
  return 0;
}
