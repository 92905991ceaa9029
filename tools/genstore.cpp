// Generates a synthetic BBS store: the record files and, on request, the
// message texts.
//   genstore DIR [--messages N] [--users N] [--killed-every N] [--held-every N]
//                [--texts] [--seed N] [--call CALL] [--hier HIER]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/file_names.h"
#include "store/store_generator.h"

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr,
                 "usage: genstore DIR [--messages N] [--users N] [--killed-every N] [--held-every N] [--texts]\n"
                 "                [--seed N] [--call CALL] [--hier HIER]\n");
    return 2;
  }
  orn::StoreSite site;
  site.dir = argv[1];
  site.ownCall = "XX9ORN";
  site.ownHier = "GRC.EU";
  orn::GenerateOptions o;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--texts") {
      o.texts = true;
    } else if (hasValue && a == "--messages") {
      o.messages = std::atol(argv[++i]);
    } else if (hasValue && a == "--users") {
      o.users = std::atol(argv[++i]);
    } else if (hasValue && a == "--killed-every") {
      o.killedEvery = std::atol(argv[++i]);
    } else if (hasValue && a == "--held-every") {
      o.heldEvery = std::atol(argv[++i]);
    } else if (hasValue && a == "--seed") {
      o.seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (hasValue && a == "--call") {
      site.ownCall = argv[++i];
    } else if (hasValue && a == "--hier") {
      site.ownHier = argv[++i];
    } else {
      std::fprintf(stderr, "genstore: unknown or incomplete option %s\n", a.c_str());
      return 2;
    }
  }
  if (o.messages < 0 || o.users < 0) {
    std::fprintf(stderr, "genstore: counts must not be negative\n");
    return 2;
  }
  site.mailDir = orn::JoinPath(site.dir, "MAIL");
  orn::SystemClock clock;
  std::string error;
  if (!orn::GenerateStore(site, o, clock, &error)) {
    std::fprintf(stderr, "genstore: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s: %ld messages, %ld users\n", site.dir.c_str(), o.messages, o.users);
  return 0;
}
