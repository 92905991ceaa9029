// Builds a synthetic store of any size for benchmarks and tests: users with
// distinct callsigns, and messages numbered upwards from 1001 (private mail
// to those users, bulletins with BIDs, some killed and held), written through
// TOrnDbase like any other records.
#pragma once

#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "store/orn_dbase.h"

namespace orn {

struct GenerateOptions {
  long messages = 100000;
  long users = 10000;
  long killedEvery = 10;  // every n-th message is killed; 0 = none
  long heldEvery = 25;    // every n-th message not killed is held; 0 = none
  bool texts = false;     // write a text file for every message as well
  uint32_t seed = 1;
};

// The callsign of generated user number i (from 1), unique for every i below
// 26 * 26 * 10 * 26 * 26 * 26.
std::string GeneratedCall(long i);

// Creates the record files in site.dir (emptying any that exist) and the
// message directory, and fills them. False, with a reason, when a file cannot
// be written.
bool GenerateStore(const StoreSite& site, const GenerateOptions& options, const Clock& clock, std::string* error);

}  // namespace orn
