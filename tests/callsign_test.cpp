#include <gtest/gtest.h>

#include "store/callsign.h"

namespace orn {
namespace {

TEST(CallsignTest, AmateurCallsignCheck) {
  struct Case {
    const char* call;
    bool valid;
  } cases[] = {
      {"XX7ZZ", true},   {"XX9ORN", true},  {"X1AB", false},   {"XA1B", true},  // the third character must be a digit
      {"XXX1AB", false}, {"1X1AB", false},  {"X11AB", true},   {"XX1A2", false}, {"XX1", false},
      {"XX1ABCD", false}, {"", false},      {"ALL", false},    {"SYSOP", false}, {"xx7zz", true},
      {"XX7ZZ-1", false},
  };
  for (const Case& c : cases) EXPECT_EQ(CallIsValid(c.call), c.valid) << c.call;
}

TEST(CallsignTest, KeyIsTheTextBeforeTheFirstDot) {
  struct Case {
    const char *address, *key;
  } cases[] = {{"XX7ZZ.GRC.EU", "XX7ZZ"}, {"XX7ZZ", "XX7ZZ"}, {"..XX7ZZ.EU", "XX7ZZ"}, {".", ""}, {"", ""}};
  for (const Case& c : cases) EXPECT_EQ(CallKey(c.address), c.key) << c.address;
}

}  // namespace
}  // namespace orn
