#include "store/msg_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_names.h"
#include "platform/text.h"

namespace orn {

std::string MsgFileName(const std::string& mailDir, long number) {
  return JoinPath(mailDir, std::to_string(number) + ".amm");
}

std::string ToDiskLines(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string FromDiskLines(const std::string& disk) {
  std::string out;
  out.reserve(disk.size());
  for (size_t i = 0; i < disk.size(); ++i) {
    if (disk[i] == '\r' && i + 1 < disk.size() && disk[i + 1] == '\n') continue;
    out += disk[i];
  }
  return out;
}

long WriteMsgText(const std::string& mailDir, long number, const std::string& text, bool sync) {
  const std::string disk = ToDiskLines(text);
  if (!WriteFileReplacing(MsgFileName(mailDir, number), disk, sync)) return -1;
  return static_cast<long>(disk.size());
}

bool ReadMsgText(const std::string& mailDir, long number, std::string* text) {
  std::string disk;
  if (!ReadWholeFile(MsgFileName(mailDir, number), &disk)) return false;
  *text = FromDiskLines(disk);
  return true;
}

namespace {

std::string ErrorText(int err) {
  std::string s = std::strerror(err);
  if (!s.empty() && s[0] >= 'A' && s[0] <= 'Z') s[0] = static_cast<char>(s[0] - 'A' + 'a');
  return s;
}

}  // namespace

std::string MsgTextFault(const std::string& mailDir, long number, long recordSize) {
  const std::string path = ResolveCase(MsgFileName(mailDir, number));
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT) return "no text file";
    if (err == EACCES || err == EPERM) return "permission denied";
    return ErrorText(err);
  }
  struct stat st {};
  const bool stated = ::fstat(fd, &st) == 0;
  char probe;
  // A directory opens, and fails only at the first read.
  const ssize_t got = ::read(fd, &probe, 1);
  const int err = errno;
  ::close(fd);
  if (!stated || got < 0) return ErrorText(stated ? err : EIO);
  if (recordSize > 0 && st.st_size < recordSize)
    return "cut short: " + std::to_string(st.st_size) + " of " + std::to_string(recordSize) + " bytes";
  return "";
}

std::string MsgTextHead(const std::string& routingHeader, const MsgDB& r) {
  return routingHeader + "\n\nFrom:" + FieldText(r.FromStation) + "\nTo:" + FieldText(r.ToStation) + "@" +
         FieldText(r.AtBbs) + "\n\n";
}

void FormatTextSave(char* data, long size, const CodePages* oemToAnsi) {
  if (size <= 9999)
    for (long i = 0; i < size && data[i]; ++i)
      if (data[i] == '\r') data[i] = '\n';
  if (oemToAnsi) oemToAnsi->OemToAnsiInPlace(data);
}

namespace {

void Pad(std::string* out, const std::string& field, size_t width) {
  *out += field;
  if (field.size() < width) out->append(width - field.size(), ' ');
}

template <size_t N>
std::string CallPart(const char (&field)[N]) {
  const std::string s = FieldText(field);
  return s.substr(0, s.find('.'));
}

}  // namespace

std::string FormatMsgHeader(const MsgDB& r) {
  std::string out;
  Pad(&out, std::to_string(r.MsgNo), 9);
  out += r.Type[0] ? r.Type[0] : ' ';
  out += r.Status[0] ? r.Status[0] : ' ';
  Pad(&out, std::to_string(r.Size), 7);
  Pad(&out, CallPart(r.ToStation), 7);
  Pad(&out, CallPart(r.FromStation), 7);
  Pad(&out, CallPart(r.AtBbs), 7);
  Pad(&out, FieldText(r.MsgDate), 15);
  out += FieldText(r.MsgSubject);
  out += "\r\n";
  return out;
}

bool EndMarkLine(const std::string& line, std::string* kept) {
  size_t e = line.size();
  while (e > 0 && (line[e - 1] == ' ' || line[e - 1] == '\t')) --e;
  if (e < 3 || line[e - 3] != '/' || (line[e - 2] != 'E' && line[e - 2] != 'e') ||
      (line[e - 1] != 'X' && line[e - 1] != 'x'))
    return false;
  e -= 3;
  while (e > 0 && (line[e - 1] == ' ' || line[e - 1] == '\t')) --e;
  *kept = line.substr(0, e);
  return true;
}

}  // namespace orn
