// A BBS on an in-memory engine whose language files name their texts, with
// helpers to make users beforehand and to read what a station was sent.
#pragma once

#include <functional>
#include <string>

#include "support/bbs_on_engine.h"
#include "support/language_files.h"

namespace orn::test {

class BbsSession : public BbsOnEngine {
 protected:
  BbsSession();
  // Writes a user record before the BBS starts; `edit` changes the defaults.
  void AddUser(const std::string& call, const std::function<void(UserDB&)>& edit);
  // What a station types; the CR is added.
  void Type(const std::string& call, const std::string& line, int port = 0) { engine_.Data(port, call, line + "\r"); }
  // Reads a user record back from the files.
  UserDB User(long position);
};

}  // namespace orn::test
