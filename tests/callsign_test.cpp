#include <gtest/gtest.h>

#include "store/callsign.h"

namespace orn {
namespace {

TEST(CallsignTest, AmateurCallsignCheck) {
  struct Case {
    const char* call;
    bool valid;
  } cases[] = {
      // Calls from every kind of prefix: one letter, letter and digit, digit
      // and letter, three characters.
      {"F6CCC", true},   {"G8AAA", true},  {"W1AW", true},    {"K1ABC", true},   {"9A1AA", true},
      {"4X4ABC", true},  {"VK2ABC", true}, {"XX9ORN", true},  {"XX7ZZ", true},   {"XA1B", true},
      {"X11AB", true},   {"3DA0XX", true}, {"2E0ABC", true},  {"xx7zz", true},   {"XXX1AB", true},
      // Not calls: categories, no digit, no suffix, no letter before the
      // digit, too long, a suffix with a digit, an SSID, other characters.
      {"ALL", false},    {"WW", false},    {"AMSAT", false},  {"SYSOP", false},  {"12345", false},
      {"X1", false},     {"XX1", false},   {"ABCDEFG", false}, {"XX1ABCD", false}, {"1X1ABCD", false},
      {"11AB", false},   {"XX1A2", false}, {"XX7ZZ-1", false}, {"XX1ABCDE", false}, {"", false},
      {"X-1AB", false},  {"XXXX1A", false}, {"X1ABCDE", false},
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
