// A BBS directory with empty record files, for the store's tests.
#pragma once

#include <string>

#include "store/orn_dbase.h"
#include "support/test_dir.h"

namespace orn::test {

// The five record files created empty (as start-up makes them, upper case)
// and the message directory; own call XX9ORN, hierarchy GRC.EU.
StoreSite MakeEmptyStore(const TestDir& dir);

// A message record with the defaults, then the given fields.
MsgDB Msg(const TOrnDbase& db, long number, const char* type = "B", const char* status = "N",
          const char* to = "ALL", const char* bid = nullptr);

}  // namespace orn::test
