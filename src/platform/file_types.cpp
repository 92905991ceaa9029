#include "platform/file_types.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/file_names.h"

extern char** environ;

namespace orn {
namespace {

const char* kDeclarationName = "ornbbs-files.xml";

const char* kDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
    "  <mime-type type=\"text/plain\">\n"
    "    <glob pattern=\"*.amm\"/>\n"
    "    <glob pattern=\"*.lng\"/>\n"
    "  </mime-type>\n"
    "</mime-info>\n";

bool MakeDirs(const std::string& path) {
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Runs update-mime-database on the folder when it is installed; quietly.
void UpdateDatabase(const std::string& mimeDir) {
  const char* argv[] = {"update-mime-database", mimeDir.c_str(), nullptr};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], &fa, nullptr, const_cast<char* const*>(argv), environ) == 0) {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  posix_spawn_file_actions_destroy(&fa);
}

}  // namespace

std::string UserMimeDir() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg) return std::string(xdg) + "/mime";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.local/share/mime";
  return {};
}

bool RegisterInfo() {
  const std::string dir = UserMimeDir();
  if (dir.empty() || !MakeDirs(dir + "/packages")) return false;
  if (!WriteFileReplacing(dir + "/packages/" + kDeclarationName, kDeclaration)) return false;
  UpdateDatabase(dir);
  return true;
}

void UnRegisterInfo() {
  const std::string dir = UserMimeDir();
  if (dir.empty()) return;
  if (::unlink((dir + "/packages/" + kDeclarationName).c_str()) == 0) UpdateDatabase(dir);
}

}  // namespace orn
