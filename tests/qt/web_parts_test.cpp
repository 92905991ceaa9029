// The web console's parts that decide: sessions and their CSRF tokens, the
// cookie, the wrong-password delay, which paths are files of the set and
// how an API call becomes ornctl's words.
#include <gtest/gtest.h>

#include "web/api_args.h"
#include "web/login_gate.h"
#include "web/login_throttle.h"
#include "web/static_paths.h"
#include "web/web_peers.h"
#include "web/web_sessions.h"

namespace orn {
namespace {

TEST(WebSessions, ASessionIsFoundByItsCookieUntilItIdlesOutOrLogsOut) {
  WebSessions s;
  std::string id;
  const std::string csrf = s.Create(1000, &id).csrf;
  ASSERT_EQ(id.size(), 64u);
  ASSERT_EQ(csrf.size(), 64u);
  EXPECT_NE(id, csrf);
  ASSERT_NE(s.Find(id, 2000), nullptr);
  EXPECT_EQ(s.Find(id, 2000)->csrf, csrf);
  EXPECT_EQ(s.Find(id + "0", 2000), nullptr);
  EXPECT_EQ(s.Find("", 2000), nullptr);
  // Use keeps it alive; a long quiet ends it.
  ASSERT_NE(s.Find(id, 2000 + WebSessions::kIdleMs), nullptr);
  EXPECT_EQ(s.Find(id, 2001 + 2 * WebSessions::kIdleMs + 1), nullptr);
  std::string other;
  s.Create(5000, &other);
  s.Remove(other);
  EXPECT_EQ(s.Find(other, 5000), nullptr);
}

TEST(WebSessions, TheCsrfTokenMustMatchExactly) {
  WebSessions s;
  std::string id;
  const WebSessions::Session& session = s.Create(0, &id);
  EXPECT_TRUE(WebSessions::CsrfMatches(session, session.csrf));
  std::string wrong = session.csrf;
  wrong[10] = wrong[10] == 'a' ? 'b' : 'a';
  for (const std::string& h : {std::string(), wrong, session.csrf.substr(1), session.csrf + "0", id})
    EXPECT_FALSE(WebSessions::CsrfMatches(session, h)) << h;
}

TEST(WebSessions, LoggingInAgainAndAgainDoesNotGrowWithoutEnd) {
  WebSessions s;
  std::string first, id;
  s.Create(0, &first);
  for (size_t i = 1; i <= WebSessions::kMaxSessions; ++i) s.Create(static_cast<int64_t>(i), &id);
  EXPECT_EQ(s.Find(first, 100), nullptr);  // the oldest went
  EXPECT_NE(s.Find(id, 100), nullptr);
}

TEST(WebCookie, TheConsolesCookieIsPickedOutOfTheHeader) {
  const struct {
    const char* header;
    const char* value;
  } kCases[] = {{"ornweb=abc", "abc"},
                {"a=1; ornweb=abc; b=2", "abc"},
                {"xornweb=bad; ornweb=good", "good"},
                {"ornwebx=bad", ""},
                {"ornweb", ""},
                {"", ""},
                {"a=1;ornweb=tight", "tight"}};
  for (const auto& c : kCases) EXPECT_EQ(CookieValue(c.header, "ornweb"), c.value) << c.header;
}

TEST(LoginThrottle, EachWrongPasswordWaitsLongerAndOnlyForItsAddress) {
  LoginThrottle t;
  int64_t now = 0;
  int64_t last = 0;
  EXPECT_FALSE(t.Suspect("10.0.0.1", now));
  for (int i = 0; i < 8; ++i) {
    const int64_t d = t.Failed("10.0.0.1", now);
    EXPECT_GE(d, last) << i;
    EXPECT_LE(d, LoginThrottle::kMaxDelayMs);
    EXPECT_TRUE(t.Suspect("10.0.0.1", now));
    EXPECT_FALSE(t.Suspect("10.0.0.2", now));
    last = d;
    now += d;
  }
  EXPECT_EQ(last, LoginThrottle::kMaxDelayMs);
  EXPECT_EQ(t.Failed("10.0.0.2", now), LoginThrottle::kFirstDelayMs);
  // The right password, or a long quiet, starts again from the first delay.
  t.Succeeded("10.0.0.1");
  EXPECT_FALSE(t.Suspect("10.0.0.1", now));
  EXPECT_EQ(t.Failed("10.0.0.1", now), LoginThrottle::kFirstDelayMs);
  EXPECT_FALSE(t.Suspect("10.0.0.2", now + LoginThrottle::kForgetMs + 5000));
  EXPECT_EQ(t.Failed("10.0.0.2", now + LoginThrottle::kForgetMs + 5000), LoginThrottle::kFirstDelayMs);
}

TEST(LoginGate, HashesAreBoundedAtOnceAndPerMinuteWithRoomForTheUnsuspected) {
  LoginGate g;
  int64_t now = 0;
  for (int i = 0; i < LoginGate::kMaxAtOnce; ++i) EXPECT_EQ(g.Admit(false, now), LoginGate::Verdict::kGo);
  EXPECT_EQ(g.Admit(false, now), LoginGate::Verdict::kBusy);
  for (int i = 0; i < LoginGate::kMaxAtOnce; ++i) g.Done();
  // Guessers (addresses that failed lately) use up their share of the minute...
  int suspects = 0;
  for (int i = 0; i < 100; ++i, ++now) {
    if (g.Admit(true, now) != LoginGate::Verdict::kGo) break;
    g.Done();
    ++suspects;
  }
  EXPECT_EQ(suspects, LoginGate::kSuspectPerMinute);
  int admitted = LoginGate::kMaxAtOnce + suspects;
  EXPECT_EQ(g.Admit(true, now), LoginGate::Verdict::kTooMany);
  // ... and the rest is still there for a browser that did not.
  for (; admitted < LoginGate::kPerMinute; ++admitted) {
    ASSERT_EQ(g.Admit(false, now), LoginGate::Verdict::kGo) << admitted;
    g.Done();
  }
  EXPECT_EQ(g.Admit(false, now), LoginGate::Verdict::kTooMany);
  EXPECT_GT(g.RetryAfterMs(now), 0);
  // A minute later the window has moved on.
  EXPECT_EQ(g.Admit(true, now + LoginGate::kWindowMs), LoginGate::Verdict::kGo);
}

TEST(WebSessions, NoSessionOutlivesItsWeekOrItsPassword) {
  WebSessions s;
  std::string id, other;
  s.Create(0, &id, "hash-1", "10.0.0.1");
  s.Create(0, &other, "hash-1", "10.0.0.2");
  EXPECT_EQ(s.Addresses(), (std::set<std::string>{"10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ(s.Expire(1000, "hash-1"), 0u);
  // Kept in use every hour, a session still ends after its week.
  int64_t now = 0;
  for (; now < WebSessions::kMaxAgeMs; now += 3600 * 1000) ASSERT_NE(s.Find(id, now), nullptr) << now;
  EXPECT_EQ(s.Find(id, WebSessions::kMaxAgeMs + 1), nullptr);
  // A new password ends every session made with the old one.
  std::string fresh;
  s.Create(0, &fresh, "hash-1", "10.0.0.3");
  EXPECT_EQ(s.Expire(10, "hash-2"), 2u);
  EXPECT_TRUE(s.empty());
}

TEST(WebPeers, TheClientAndTheHostAreBelievedOnlyAsTheSysopSaid) {
  const WebPeers peers = MakeWebPeers("127.0.0.1", "127.0.0.1, ::1", "bbs.example.org,Other.Example.ORG:8443");
  const struct {
    const char* peer;
    const char* forwarded;
    const char* client;
  } kClients[] = {
      {"10.1.1.1", "", "10.1.1.1"},
      {"10.1.1.1", "192.0.2.9", "10.1.1.1"},  // no proxy of ours: its header is the client's own word
      {"127.0.0.1", "192.0.2.9", "192.0.2.9"},
      {"127.0.0.1", "203.0.113.5, 192.0.2.9", "192.0.2.9"},  // the hop our proxy saw, not what the client wrote
      {"127.0.0.1", "192.0.2.9, ::1", "192.0.2.9"},
      {"127.0.0.1", "not-an-address", "127.0.0.1"},
      {"127.0.0.1", "", "127.0.0.1"},
  };
  for (const auto& c : kClients)
    EXPECT_EQ(ClientAddress(peers, c.peer, c.forwarded), c.client) << c.peer << " / " << c.forwarded;
  const struct {
    const char* host;
    bool allowed;
  } kHosts[] = {{"127.0.0.1:8088", true},      {"localhost:8088", true},  {"LOCALHOST", true},
                {"[::1]:8088", true},          {"bbs.example.org", true}, {"other.example.org:8443", true},
                {"evil.example.com:8088", false}, {"10.0.0.5:8088", false}, {"", false},
                {"127.0.0.1:80:80", false},    {"[::1", false},           {"bbs.example.org.evil.com", false}};
  for (const auto& c : kHosts) EXPECT_EQ(HostAllowed(peers, c.host), c.allowed) << c.host;
  // On every address, any address is a Host of ours; names still are not.
  const WebPeers everywhere = MakeWebPeers("0.0.0.0", "", "");
  EXPECT_TRUE(HostAllowed(everywhere, "192.168.1.5:8088"));
  EXPECT_FALSE(HostAllowed(everywhere, "rebound.example.com:8088"));
  const struct {
    const char* origin;
    const char* host;
    bool same;
  } kOrigins[] = {{"", "127.0.0.1:8088", true},
                  {"http://127.0.0.1:8088", "127.0.0.1:8088", true},
                  {"https://bbs.example.org", "bbs.example.org", true},
                  {"http://evil.example.com", "127.0.0.1:8088", false},
                  {"http://127.0.0.1:8089", "127.0.0.1:8088", false},
                  {"null", "127.0.0.1:8088", false},
                  {"http://127.0.0.1:8088/x", "127.0.0.1:8088", false}};
  for (const auto& c : kOrigins) EXPECT_EQ(SameOrigin(c.origin, c.host), c.same) << c.origin;
}

TEST(StaticPaths, OnlyPlainNamesOfTheSetPass) {
  const struct {
    const char* path;
    const char* name;  // null: refused
  } kCases[] = {{"/", "index.html"},
                {"/app.js", "app.js"},
                {"/img/logo.svg", "img/logo.svg"},
                {"/login.html", "login.html"},
                {"/../ORN.INI", nullptr},
                {"/img/../../WEB.PWD", nullptr},
                {"/%2e%2e/ORN.INI", nullptr},
                {"/%2E%2E%2FORN.INI", nullptr},
                {"/..%2fORN.INI", nullptr},
                {"//etc/passwd", nullptr},
                {"/etc//passwd", nullptr},
                {"/.hidden", nullptr},
                {"/img/.x", nullptr},
                {"/dir/", nullptr},
                {"/a\\b", nullptr},
                {"/a b", nullptr},
                {"relative", nullptr},
                {"", nullptr},
                {"/WEB.PWD%00.js", nullptr}};
  for (const auto& c : kCases) {
    std::string name;
    const bool ok = StaticName(c.path, &name);
    EXPECT_EQ(ok, c.name != nullptr) << c.path;
    if (ok && c.name) {
      EXPECT_EQ(name, c.name) << c.path;
    }
  }
  EXPECT_TRUE(StaticIsPublic("login.html"));
  EXPECT_TRUE(StaticIsPublic("app.css"));
  EXPECT_FALSE(StaticIsPublic("index.html"));
  EXPECT_FALSE(StaticIsPublic("msgs.html"));
  EXPECT_EQ(StaticType("a/b.js").rfind("text/javascript", 0), 0u);
  EXPECT_EQ(StaticType("x.unknown"), "application/octet-stream");
}

TEST(ApiArgs, CallsBecomeOrnctlsWords) {
  auto body = [](const char* text) {
    Json j;
    std::string why;
    EXPECT_TRUE(ParseJson(text, &j, &why)) << why;
    return j;
  };
  using Q = std::vector<std::pair<std::string, std::string>>;
  const struct {
    std::vector<std::string> parts;
    Q query;
    const char* body;
    std::vector<std::string> args;  // empty: refused
    const char* input;
  } kCases[] = {
      {{"status"}, {}, nullptr, {"status", "--json"}, ""},
      {{"msg", "list"}, {{"offset", "100"}, {"limit", "50"}, {"sort", "MsgDate"}, {"desc", "true"}}, nullptr,
       {"msg", "list", "--offset", "100", "--limit", "50", "--sort", "MsgDate", "--desc", "--json"}, ""},
      {{"msg", "list"}, {{"desc", "false"}}, nullptr, {"msg", "list", "--json"}, ""},
      {{"user", "list"}, {{"partners", ""}}, nullptr, {"user", "list", "--partners", "--json"}, ""},
      {{"msg", "read"}, {{"number", "12"}}, nullptr, {"msg", "read", "12", "--json"}, ""},
      {{"user", "show"}, {{"call", "XX1ABC"}}, nullptr, {"user", "show", "XX1ABC", "--json"}, ""},
      {{"user", "set"}, {}, R"({"call":"XX1ABC","args":["Type=B","FwdQueue=1"]})",
       {"user", "set", "XX1ABC", "Type=B", "FwdQueue=1", "--json"}, ""},
      {{"msg", "send"}, {}, R"({"to":"XX1ABC","subject":"Hi there","input":"Text\n"})",
       {"msg", "send", "--to", "XX1ABC", "--subject", "Hi there", "--json"}, "Text\n"},
      {{"page", "decline"}, {}, R"({"channel":"1-2"})", {"page", "decline", "1-2", "--json"}, ""},
      {{"msg", "list"}, {{"limit", "7"}}, R"({"mine":true})", {"msg", "list", "--limit", "7", "--mine", "--json"}, ""},
      {{"fwd", "now"}, {}, R"({"args":["XX8ORN"]})", {"fwd", "now", "XX8ORN", "--json"}, ""},
      // What could pass for something else is refused.
      {{}, {}, nullptr, {}, ""},
      {{"--json"}, {}, nullptr, {}, ""},
      {{"msg", "list"}, {{"Bad Key", "1"}}, nullptr, {}, ""},
      {{"msg", "list"}, {{"--to", "x"}}, nullptr, {}, ""},
      {{"msg", "read"}, {{"number", "--raw"}}, nullptr, {}, ""},
      {{"msg", "send"}, {}, R"({"input":5})", {}, ""},
      {{"msg", "send"}, {}, R"({"args":[1]})", {}, ""},
      {{"msg", "send"}, {}, R"({"to":{"a":1}})", {}, ""},
      {{"msg", "send"}, {}, R"([1,2])", {}, ""},
      {{"msg\nlist"}, {}, nullptr, {}, ""},
  };
  for (const auto& c : kCases) {
    ApiCall call;
    std::string why;
    const Json b = c.body ? body(c.body) : Json();
    const bool ok = MapApiCall(c.parts, c.query, b, &call, &why);
    const std::string what = (c.parts.empty() ? "" : c.parts[0]) + (c.body ? c.body : "");
    EXPECT_EQ(ok, !c.args.empty()) << what << ": " << why;
    if (ok) {
      EXPECT_EQ(call.args, c.args) << what;
      EXPECT_EQ(call.input, c.input) << what;
    } else {
      EXPECT_FALSE(why.empty()) << what;
    }
  }
}

}  // namespace
}  // namespace orn
