// ornctl: the sysop's commands for a BBS directory, from a shell. A running
// BBS (headless or desktop) is asked through its socket; a stopped one is
// worked on directly, under its instance lock, for the moment one command
// takes.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/bbs_init.h"
#include "app/control.h"
#include "app/ornbbs.h"
#include "app/web_password.h"
#include "platform/file_names.h"
#include "platform/instance_lock.h"
#include "platform/json.h"
#include "platform/text.h"

namespace {

const char* const kHelp =
    "usage: ornctl [--dir DIR] COMMAND [--json]\n"
    "  init --call CALL [--name NAME] [--hier ADDRESS] [--engine HOST:PORT] [--web HOST:PORT]\n"
    "                                  make a new BBS in DIR (ornctl init --help)\n"
    "  status                          the BBS, its engine, channels, counters, mail, next cycle and repair\n"
    "  user list [--partners]          users (or forwarding partners)\n"
    "  user show CALL                  every field of a user\n"
    "  user add CALL | kill CALL       a new user; a user killed (gone at the next repair)\n"
    "  user password CALL              a new login password (also written to CALL.pas)\n"
    "  user set CALL FIELD=VALUE...    fields by name, e.g. Type=B isFwdStation=Y FwdQueue=1\n"
    "                                  FwdDest='@WW\\n>XX1ABC' Hcon[0].send='XX2BBB' Hcon[0].rcv=CONNECTED\n"
    "  msg list [--from C] [--to C] [--at BBS] [--type T] [--status S] [--msgno N] [--mine]\n"
    "           [--offset N] [--limit N] [--sort FIELD] [--desc]\n"
    "                                  a page of the list, sorted (with --json: {total, messages})\n"
    "  msg choices                     the searches and sort fields msg list takes\n"
    "  msg read N [--raw] | kill N | hold N | release N\n"
    "                                  (control characters of a text show as ^X unless --raw)\n"
    "  msg send --to CALL[@BBS] --subject TEXT [--type P|B] [--bid BID]   (text on standard input)\n"
    "  msg reply N [--subject TEXT]    answer a message to the BBS (text on standard input)\n"
    "  msg export FILE N... | msg import FILE\n"
    "  fwd queue [CALL]                what waits for each partner\n"
    "  fwd now [CALL]                  start a forwarding cycle (at CALL)\n"
    "  optimize now                    start the database repair\n"
    "  optimize progress               how far the repair is, and the last run's figures\n"
    "  monitor [--raw]                 the monitor and channel text, until interrupted\n"
    "  sysop [on|off]                  whether the sysop is present (T pages); kept in ORN.INI\n"
    "  page                            the stations' pending pages\n"
    "  page decline CHANNEL            the station hears that the sysop does not answer\n"
    "  talk CHANNEL [--raw]            chat with the station (CHANNEL as PORT-CHANNEL, e.g. 1-2);\n"
    "                                  Ctrl-D or /BYE gives it back to the BBS\n"
    "                                  (monitor and talk show control characters as ^X unless --raw)\n"
    "  talk list                       the chats open: channel, call and the console (ornctl, web)\n"
    "  web password                    the web console's password (asked twice on a terminal,\n"
    "                                  else the first line of standard input); kept hashed in WEB.PWD\n"
    "DIR defaults to the working directory. Exit status: 0 done, 1 refused or failed, 2 usage.\n";

const char* const kInitHelp =
    "usage: ornctl [--dir DIR] init --call CALL [--name NAME] [--hier ADDRESS] [--engine HOST:PORT]\n"
    "                               [--web HOST:PORT]\n"
    "Makes a new BBS in DIR (default: the working directory; made if missing) and refuses a\n"
    "directory that already holds one (ORN.INI, record files or a running BBS). It writes:\n"
    "  ORN.INI  PERSONAL  MYCALL=CALL (e.g. XX9ORN-1), MYNAME=NAME (default Sysop),\n"
    "                     MYHIER=ADDRESS (e.g. #ATH.GRC.EU; left out without --hier)\n"
    "           RADIO     one radio port; ENGINEHOST:ENGINEPORT from --engine (default\n"
    "                     127.0.0.1:8000, Direwolf's packet-engine TCP API); RECONNECT=30: the\n"
    "                     BBS looks for its engine every 30 s from start-up on, so the two may\n"
    "                     start in any order, and finds it again after the engine restarts\n"
    "           PORT0     PORTNUM=0 (the engine's first radio port), CHANNELS=4 (stations at\n"
    "                     once), BBSONLY=0 (new stations may register), LIMITED=0 (every\n"
    "                     station gets the full command set)\n"
    "           LOG       the activity log BBS.LOG on, with connects, reads, kills, uploads\n"
    "                     and the rest\n"
    "           WEB       with --web: LISTEN=HOST:PORT, the sysop's web console there (e.g.\n"
    "                     127.0.0.1:8088; its password: ornctl web password)\n"
    "  english.lng, german.lng and their help files in HELP/: the texts stations read\n"
    "Run as root on a directory that belongs to another user (the service's), the new files\n"
    "are given to that user. Edit ORN.INI afterwards for more ports, beacons or forwarding.\n";

int Fail(const std::string& why) {
  std::fprintf(stderr, "ornctl: %s\n", why.c_str());
  return 1;
}

int Print(const orn::ControlAnswer& a) {
  if (!a.out.empty()) std::fwrite(a.out.data(), 1, a.out.size(), stdout);
  std::fflush(stdout);
  if (!a.error.empty()) std::fprintf(stderr, "ornctl: %s\n", a.error.c_str());
  return a.status;
}

// A connection to the running BBS's socket; -errno when there is none.
int Connect() {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -errno;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string path = std::string("./") + orn::kControlSocketName;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    const int error = errno;
    ::close(fd);
    return -error;
  }
  return fd;
}

bool WriteAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    const ssize_t n = ::send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// How far a long request has come, on one line of the terminal that is
// rewritten; nothing when standard error is not a terminal.
class ProgressLine {
 public:
  ProgressLine() : tty_(::isatty(STDERR_FILENO) == 1) {}
  ~ProgressLine() { Clear(); }
  void Show(const std::string& text) {
    if (!tty_) return;
    std::fprintf(stderr, "\r%s\033[K", text.c_str());
    std::fflush(stderr);
    shown_ = true;
  }
  void Clear() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
  }

 private:
  bool tty_;
  bool shown_ = false;
};

// A station's bytes on standard output: shown, unless the sysop asked for
// them raw.
class StationOutput {
 public:
  explicit StationOutput(bool raw) : raw_(raw), shown_(true) {}
  ~StationOutput() { Put(shown_.Finish()); }
  void Write(const char* data, size_t n) {
    if (raw_) {
      Put(std::string(data, n));
    } else {
      Put(shown_.Feed(data, n));
    }
  }

 private:
  static void Put(const std::string& s) {
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::fflush(stdout);
  }
  bool raw_;
  orn::ControlsShown shown_;
};

// ornctl talk: the station's lines on standard output, ours from standard
// input to the BBS. At the end of input "/BYE" gives the station back; the
// BBS closes the connection once it has (or when the station leaves).
void Chat(int fd, const std::string& already, bool raw) {
  timeval none{0, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
  StationOutput station(raw);
  station.Write(already.data(), already.size());
  bool input = true;
  bool midLine = false;  // the last line typed has no end yet
  char buf[4096];
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {STDIN_FILENO, static_cast<short>(input ? POLLIN : 0), 0}};
    if (::poll(fds, input ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents) {
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      station.Write(buf, static_cast<size_t>(n));
    }
    if (input && fds[1].revents) {
      const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        input = false;
        if (!WriteAll(fd, midLine ? "\n/BYE\n" : "/BYE\n")) return;
        continue;
      }
      midLine = buf[n - 1] != '\n';
      if (!WriteAll(fd, std::string(buf, static_cast<size_t>(n)))) return;
    }
  }
}

int AskRunning(int fd, const std::vector<std::string>& args, const std::string& input) {
  // A BBS that refuses the connection answers at once and closes: its
  // answer is still there to read when the request could not be sent.
  const bool sent = WriteAll(fd, orn::ControlRequestLine(args, input));
  // A running BBS answers at once, or tells how far a long request has come
  // at least every second until it answers.
  timeval tv{30, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ProgressLine progress;
  std::string got;
  char buf[65536];
  orn::Json j;
  size_t eol;
  for (;;) {
    while ((eol = got.find('\n')) == std::string::npos) {
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ::close(fd);
        progress.Clear();
        return Fail(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? "no answer from the BBS"
                    : sent ? "the BBS closed the connection"
                           : "the BBS closed the connection before the request was sent");
      }
      got.append(buf, static_cast<size_t>(n));
    }
    std::string why;
    if (!orn::ParseJson(got.substr(0, eol), &j, &why) || !j.IsObject()) {
      ::close(fd);
      progress.Clear();
      return Fail("a malformed answer from the BBS: " + why);
    }
    got.erase(0, eol + 1);
    if (!j.Get("progress").IsString()) break;
    progress.Show(j.Get("progress").AsString());
  }
  progress.Clear();
  if (!j.Get("status").IsNumber()) {
    ::close(fd);
    return Fail("a malformed answer from the BBS: no status");
  }
  orn::ControlAnswer a;
  a.status = static_cast<int>(j.Get("status").AsNumber());
  if (j.Get("out").IsString()) a.out = j.Get("out").AsString();
  if (j.Get("error").IsString()) a.error = j.Get("error").AsString();
  const int status = Print(a);
  const bool raw = std::find(args.begin(), args.end(), "--raw") != args.end();
  if (j.Get("stream").IsBool() && j.Get("stream").AsBool() && !args.empty() && args[0] == "talk") {
    Chat(fd, got, raw);
  } else if (j.Get("stream").IsBool() && j.Get("stream").AsBool()) {
    // The monitor: every line the BBS sends until it stops or we are stopped.
    timeval none{0, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
    StationOutput station(raw);
    station.Write(got.data(), got.size());
    for (;;) {
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      station.Write(buf, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  return status;
}

// A stopped BBS: a long request runs here to its end.
int RunHere(orn::ControlHandler& handler, const std::vector<std::string>& args, const std::string& input) {
  orn::ControlAnswer a = handler.Handle(args, input);
  if (a.job) {
    ProgressLine progress;
    auto last = std::chrono::steady_clock::now();
    while (!a.job->Step(250)) {
      const auto now = std::chrono::steady_clock::now();
      if (now - last >= std::chrono::seconds(1)) {
        last = now;
        progress.Show(a.job->Progress());
      }
    }
    progress.Clear();
    a = a.job->Answer();
  }
  return Print(a);
}

// Files that root makes in a directory of the service's user are that user's:
// the BBS must be able to write them.
void GiveToDirOwner(const std::string& dir) {
  struct stat d {};
  if (::geteuid() != 0 || ::stat(dir.c_str(), &d) != 0 || d.st_uid == 0) return;
  std::vector<std::string> paths;
  for (const std::string& name : orn::ListDir(dir)) {
    const std::string path = orn::JoinPath(dir, name);
    paths.push_back(path);
    if (orn::DirExists(path))
      for (const std::string& sub : orn::ListDir(path)) paths.push_back(orn::JoinPath(path, sub));
  }
  for (const std::string& path : paths) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && st.st_uid == 0 && ::lchown(path.c_str(), d.st_uid, d.st_gid) != 0)
      std::fprintf(stderr, "ornctl: cannot give %s to the directory's owner: %s\n", path.c_str(), std::strerror(errno));
  }
}

int InitUsage(const std::string& why) {
  const std::string help(kInitHelp);
  std::fprintf(stderr, "ornctl: init: %s\n%s(ornctl init --help says more)\n", why.c_str(),
               help.substr(0, help.find('\n') + 1).c_str());
  return 2;
}

int Init(const std::string& dirArg, const std::vector<std::string>& args) {
  orn::BbsInitOptions o;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kInitHelp, stdout);
      return 0;
    }
    if ((a != "--call" && a != "--name" && a != "--hier" && a != "--engine" && a != "--web") || i + 1 >= args.size()) {
      return InitUsage(i + 1 >= args.size() && a.rfind("--", 0) == 0 ? a + " needs a value"
                                                                       : "unknown argument " + a);
    }
    const std::string& v = args[++i];
    if (a == "--call") o.call = v;
    if (a == "--name") o.name = v;
    if (a == "--hier") o.hier = v;
    if (a == "--engine" && !orn::ParseEngineAddress(v, &o.engineHost, &o.enginePort))
      return Fail("init: --engine " + v + " is not HOST:PORT");
    if (a == "--web") {
      std::string host;
      int port = 0;
      if (!orn::ParseEngineAddress(v, &host, &port)) return Fail("init: --web " + v + " is not HOST:PORT");
      o.web = host + ":" + std::to_string(port);
    }
  }
  if (o.call.empty()) return InitUsage("--call is needed");
  std::string dir = dirArg.empty() ? orn::CurrentDirectory() : dirArg;
  if (dir[0] != '/') dir = orn::JoinPath(orn::CurrentDirectory(), dir);
  std::string why;
  if (!orn::InitBbsDirectory(dir, o, &why)) return Fail(why);
  GiveToDirOwner(dir);
  if (!o.web.empty())
    std::printf("The web console will listen on %s; give it a password first: ornctl --dir %s web password\n",
                o.web.c_str(), dir.c_str());
  // The package's unit serves this one directory.
  if (dir == "/var/lib/ornbbs")
    std::printf("A new BBS %s in %s. Start it with: systemctl start ornbbs\n", o.call.c_str(), dir.c_str());
  else
    std::printf("A new BBS %s in %s. Start it with: ornbbs --headless --dir %s\n", o.call.c_str(), dir.c_str(),
                dir.c_str());
  return 0;
}

// One line from the terminal without echo, or from standard input.
bool ReadSecretLine(const char* prompt, bool tty, std::string* line) {
  termios old {};
  if (tty) {
    std::fprintf(stderr, "%s", prompt);
    std::fflush(stderr);
    ::tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  const bool got = static_cast<bool>(std::getline(std::cin, *line));
  if (tty) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
    std::fprintf(stderr, "\n");
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return got;
}

// The console's password: the file alone changes, so a running BBS and a
// stopped one are alike (the running one reads it at the next login).
int WebPassword(const std::vector<std::string>& args) {
  if (args.size() != 2 || args[1] != "password") {
    std::fprintf(stderr, "ornctl: usage: ornctl [--dir DIR] web password\n");
    return 2;
  }
  const bool tty = ::isatty(STDIN_FILENO) == 1;
  std::string password, again;
  if (!ReadSecretLine("New web console password: ", tty, &password)) return Fail("no password given");
  if (tty && (!ReadSecretLine("The same again: ", tty, &again) || again != password))
    return Fail("the two passwords differ: nothing changed");
  if (password.size() < 8) return Fail("a password of at least 8 characters, please: nothing changed");
  std::string why;
  if (!orn::SetWebPassword(".", password, &why)) return Fail(why);
  // Set by root for the service's directory, the file is the service's.
  struct stat d {};
  if (::geteuid() == 0 && ::stat(".", &d) == 0 && d.st_uid != 0 &&
      ::lchown(orn::kWebPasswordFile, d.st_uid, d.st_gid) != 0)
    return Fail(std::string("cannot give ") + orn::kWebPasswordFile + " to the directory's owner: " + std::strerror(errno));
  std::printf("web console password set (%s)\n", orn::kWebPasswordFile);
  return 0;
}

bool HasBbsFiles() {
  return orn::FileExists("USERS.ADB") || orn::FileExists("ORN.INI");
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--dir" && args.empty()) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "ornctl: --dir needs a directory\n%s", kHelp);
        return 2;
      }
      dir = argv[++i];
    } else if ((a == "--help" || a == "-h") && args.empty()) {
      std::fputs(kHelp, stdout);
      return 0;
    } else {
      args.push_back(a);
    }
  }
  if (args.empty()) {
    std::fputs(kHelp, stderr);
    return 2;
  }
  // A directory shared by the service's group (set-group-ID, as the package
  // makes it) stays writable for the group in whatever ornctl adds.
  {
    struct stat d {};
    if (::stat(dir.empty() ? "." : dir.c_str(), &d) == 0 && (d.st_mode & S_ISGID)) ::umask(007);
  }
  if (args[0] == "init") return Init(dir, args);
  // Files are named from where the sysop stands; the BBS works elsewhere.
  if (args.size() >= 3 && args[0] == "msg" && (args[1] == "export" || args[1] == "import") && !args[2].empty() &&
      args[2][0] != '/')
    args[2] = orn::JoinPath(orn::CurrentDirectory(), args[2]);
  std::string input;
  if (args.size() >= 2 && args[0] == "msg" && (args[1] == "send" || args[1] == "reply")) {
    input.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    if (input.size() > orn::kMaxControlRequest / 2) return Fail("the text is too long");
  }
  if (!dir.empty() && ::chdir(dir.c_str()) != 0)
    return Fail("cannot change into " + dir + ": " + std::strerror(errno));
  if (!HasBbsFiles()) return Fail("no BBS in " + orn::CurrentDirectory() + " (no ORN.INI, no USERS.ADB)");
  if (args[0] == "web") return WebPassword(args);

  // A BBS that is starting holds the lock before its socket is up: ask again
  // for a while.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  for (;;) {
    const int fd = Connect();
    if (fd >= 0) return AskRunning(fd, args, input);
    if (fd == -EACCES) return Fail("permission denied: the BBS's socket is its own user's");
    const std::string cwd = orn::CurrentDirectory();
    const std::string users = orn::ResolveCase(orn::JoinPath(cwd, "USERS.ADB"));
    if (::access(cwd.c_str(), W_OK) != 0 || (orn::FileExists(users) && ::access(users.c_str(), R_OK | W_OK) != 0))
      return Fail("permission denied: the BBS's files are not ours to change");
    orn::InstanceLock lock;
    if (lock.AcquireBrief(orn::JoinPath(cwd, orn::kLockFileName), orn::JoinPath(cwd, orn::kBriefLockFileName))) {
      orn::OfflineBbs bbs;
      std::string why;
      if (!bbs.Open(&why)) return Fail(why);
      orn::ControlHandler handler(bbs.site());
      return RunHere(handler, args, input);
    }
    // Something other than a socket at its name: no waiting will help.
    const std::string socketPath = orn::JoinPath(cwd, orn::kControlSocketName);
    struct stat st {};
    if (::lstat(socketPath.c_str(), &st) == 0 && !S_ISSOCK(st.st_mode))
      return Fail("the BBS is running, but " + socketPath + " is " + (S_ISDIR(st.st_mode) ? "a directory" : "a file") +
                  ", not its socket: remove it and restart the BBS");
    if (std::chrono::steady_clock::now() >= end)
      return Fail("the BBS is running but its socket " + socketPath + " does not answer");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}
