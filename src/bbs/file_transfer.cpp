// Text file upload and download: the U and D commands' operations.
#include <cstdio>
#include <cstring>

#include "bbs/upload_list.h"
#include "channel/channel.h"
#include "bbs/bbs_cmd.h"
#include "bbs/file_area.h"
#include "bbs/text_end.h"
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
  // Each upload collects under a name of its own channel: two stations
  // sending the same name never write into one file.
  partial_ = path + "." + std::to_string(ch.TncAbsoluteNumber) + ".part";
  infile = std::fopen(partial_.c_str(), "wb");
  if (!infile) {
    partial_.clear();
    terminate = true;
    ch.EndService(ch.lang.invalidparameters);
    return false;
  }
  CopyField(cn, path);
  AddToUploadList(ch.recentfile, sizeof ch.recentfile, typed);
  ch.Service = 1;
  ipos = 1;
  ch.Send(ch.lang.sendfile);
  return true;
}

bool TBBSCmd::Upload(const char* text) {
  TChannel& ch = *chan;
  terminate = false;
  if (!text || !*text) return true;
  // Whole lines: the end mark may come split over frames.
  uploadPending_ += text;
  std::string stored;
  size_t start = 0;
  for (size_t cr; !terminate && (cr = uploadPending_.find('\r', start)) != std::string::npos; start = cr + 1) {
    std::string line = uploadPending_.substr(start, cr + 1 - start);
    terminate = CutTextEnd(&line);
    stored += line;
  }
  uploadPending_.erase(0, start);
  if (!terminate && !uploadPending_.empty()) {
    // A Ctrl-Z ends the text without a CR after it; a line without end
    // goes as it is once it is long.
    std::string rest = uploadPending_;
    terminate = CutTextEnd(&rest);
    if (terminate || rest.size() >= 2048) {
      stored += rest;
      uploadPending_.clear();
    }
  }
  std::vector<char> buf(stored.begin(), stored.end());
  buf.push_back('\0');
  FormatTextSave(buf.data(), static_cast<long>(stored.size()),
                 ch.client().cfg().OEMANSI ? &ch.client().codePages() : nullptr);
  const std::string disk = ToDiskLines(buf.data());
  const bool written = infile && std::fwrite(disk.data(), 1, disk.size(), infile) == disk.size();
  if (!written) {
    closefile(infile);
    ch.EndService("Error... File not stored.\r");
    return false;  // the destructor removes the partial file
  }
  if (!terminate) return true;
  const bool closed = std::fclose(infile) == 0;
  infile = nullptr;
  if (closed && FileExists(cn)) {
    // Another station's upload of the same name finished first.
    ch.EndService(ch.lang.thereisfile);
    return false;  // the destructor removes the partial file
  }
  if (!closed || std::rename(partial_.c_str(), cn) != 0) {
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
  DownloadTimer = ch.client().clock().NowMs();
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
  DownloadTimer = ch.client().clock().NowMs();
  return true;
}

}  // namespace orn
