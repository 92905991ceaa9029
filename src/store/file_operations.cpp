#include "store/file_operations.h"

#include <unistd.h>

#include "platform/file_names.h"

namespace orn {

bool TFileOperations::fileexist(const std::string& name) { return FileExists(name); }

void TFileOperations::filedelete(const std::string& name) {
  if (FileExists(name)) RemoveFile(name);
}

bool TFileOperations::filecopy(const std::string& source, const std::string& dest) {
  std::string content;
  if (!FileExists(source) || !ReadWholeFile(source, &content)) return false;
  return WriteFileReplacing(dest, content);
}

void TFileOperations::closefile(FILE*& file) {
  if (file) std::fclose(file);
  file = nullptr;
}

bool TFileOperations::readln(FILE* file, char* line) {
  int n = 0;
  line[0] = '\0';
  if (!file) return false;
  while (n < kReadlnMax) {
    int c = std::fgetc(file);
    if (c == EOF) break;
    if (c == '\r' || c == '\n') {
      if (c == '\r') {
        const int next = std::fgetc(file);
        if (next != '\n' && next != EOF) std::ungetc(next, file);
      }
      line[n++] = '\r';
      break;
    }
    line[n++] = static_cast<char>(c);
  }
  line[n] = '\0';
  return n > 0;
}

bool TFileOperations::readfromfile(long pos, long count, FILE* file, char* buffer) {
  if (!file || pos < 1 || count < 0) return false;
  if (std::fseek(file, pos - 1, SEEK_SET) != 0) return false;
  return std::fread(buffer, 1, static_cast<size_t>(count), file) == static_cast<size_t>(count);
}

bool TFileOperations::writetofile(long /*pos*/, long count, FILE* file, const char* buffer) {
  if (!file || count < 0) return false;
  return std::fwrite(buffer, 1, static_cast<size_t>(count), file) == static_cast<size_t>(count);
}

}  // namespace orn
