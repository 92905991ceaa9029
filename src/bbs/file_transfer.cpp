// Text file upload and download: the U and D commands' operations.
#include <cstdio>
#include <cstring>

#include "channel/channel.h"
#include "bbs/bbs_cmd.h"
#include "bbs/file_area.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/msg_text.h"

namespace orn {
namespace {

constexpr size_t kChunk = 2048;

std::string Typed(const char* cn) {
  std::string s = cn;
  if (!s.empty() && s.back() == '\r') s.pop_back();
  return s;
}

std::string FileArea(const TChannel& ch) {
  const Config& cfg = const_cast<TChannel&>(ch).client().cfg();
  return JoinPath(cfg.bbspath, cfg.FilePath);
}

}  // namespace

bool TBBSCmd::StartUpload() {
  TChannel& ch = *chan;
  const std::string typed = Typed(cn);
  const std::string path = FileAreaPath(FileArea(ch), typed);
  if (path.empty()) {
    terminate = true;
    ch.EndService(ch.lang.invalidparameters);
    return false;
  }
  if (FileExists(path)) {
    terminate = true;
    ch.EndService(ch.lang.thereisfile);
    return false;
  }
  partial_ = path + ".part";
  infile = std::fopen(partial_.c_str(), "wb");
  if (!infile) {
    partial_.clear();
    terminate = true;
    ch.EndService(ch.lang.invalidparameters);
    return false;
  }
  CopyField(cn, path);
  std::string recent = std::string(ch.recentfile) + typed + "\r";
  CopyField(ch.recentfile, recent);
  ch.Service = 1;
  ipos = 1;
  ch.Send(ch.lang.sendfile);
  return true;
}

bool TBBSCmd::Upload(const char* text) {
  TChannel& ch = *chan;
  terminate = false;
  std::string piece = text;
  if (piece.empty()) return true;
  if (piece.find("/EX") != std::string::npos || piece.find("/ex") != std::string::npos) terminate = true;
  if (piece.size() >= 2 && piece[piece.size() - 2] == '\x1A') {
    terminate = true;
    piece.resize(piece.size() - 2);
  }
  std::vector<char> buf(piece.begin(), piece.end());
  buf.push_back('\0');
  FormatTextSave(buf.data(), static_cast<long>(piece.size()),
                 ch.client().cfg().OEMANSI ? &ch.client().codePages() : nullptr);
  const std::string stored = ToDiskLines(buf.data());
  const bool written = infile && std::fwrite(stored.data(), 1, stored.size(), infile) == stored.size();
  if (!written) {
    closefile(infile);
    ch.EndService("Error... File not stored.\r");
    return false;  // the destructor removes the partial file
  }
  if (!terminate) return true;
  const bool closed = std::fclose(infile) == 0;
  infile = nullptr;
  if (!closed || FileExists(cn) || std::rename(partial_.c_str(), cn) != 0) {
    ch.EndService("Error... File not stored.\r");
    return false;
  }
  partial_.clear();
  ch.client().log().writelog(62, 0, ch.UserCallOnly, cn);
  ch.EndService(ch.lang.filestored);
  return false;
}

bool TBBSCmd::StartDownload() {
  TChannel& ch = *chan;
  const std::string path = FileAreaPath(FileArea(ch), Typed(cn));
  if (path.empty()) {
    terminate = true;
    ch.EndService(ch.lang.invalidparameters);
    return false;
  }
  if (!FileExists(path) || !(outfile = std::fopen(path.c_str(), "rb"))) {
    terminate = true;
    ch.EndService(ch.lang.notfound);
    return false;
  }
  CopyField(cn, path);
  ch.Service = 6;
  opos = 1;
  DownloadTimer = ch.client().clock().Now() + 1;
  return true;
}

bool TBBSCmd::DownLoad() {
  TChannel& ch = *chan;
  terminate = false;
  if (!outfile) return false;
  std::string chunk(kChunk, '\0');
  const size_t n = std::fread(chunk.data(), 1, kChunk, outfile);
  chunk.resize(n);
  opos += static_cast<long>(n);
  if (ch.tdb && ch.tdb->userdb.MaxDownload != 0) ch.maxdnld += static_cast<long>(n);
  if (n) ch.Send(ch.client().cfg().OEMANSI ? ch.client().codePages().AnsiToOem(chunk) : chunk);
  if (n < kChunk) {
    closefile(outfile);
    DownloadTimer = 0;
    ch.client().log().writelog(63, 0, ch.UserCallOnly, cn);
    ch.EndService("\r");
    return false;
  }
  DownloadTimer = ch.client().clock().Now() + 1;
  return true;
}

}  // namespace orn
