#include "bbs/file_area.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "bbs/upload_list.h"
#include "channel/channel.h"
#include "context/area_path.h"
#include "bbs/bbs_cmd.h"
#include "bbs/prepare_dir.h"
#include "platform/file_names.h"
#include "platform/text.h"

namespace orn {
namespace {

constexpr size_t kMaxNameLength = 12;

// The text after the command letters with its CR, as the area commands take it.
std::string ParamWithCr(const char* line, size_t letters) {
  std::string p = line + std::min(letters, std::strlen(line));
  p.erase(0, std::min(p.find_first_not_of(' '), p.size()));
  return p;
}

std::string FileArea(TChannel& ch) {
  const Config& cfg = ch.client().cfg();
  return JoinPath(cfg.bbspath, cfg.FilePath);
}

}  // namespace

std::string FileAreaPath(const std::string& area, const std::string& typed) {
  const std::string rel = Trim(typed);
  const std::string name = BareName(rel);
  if (name.empty() || name.size() > kMaxNameLength || name == "." || name == "..") return {};
  const std::string path = AreaPath(area, rel);
  return path.empty() ? path : ResolveCase(path);
}

namespace {

void StartTransfer(TChannel& ch, const char* line, int what) {
  const std::string param = ParamWithCr(line, 1);
  if (param.empty() || param[0] == '\r') {
    ch.EndService(ch.lang.notenoughparameters);
    return;
  }
  ch.Service = 1000;
  auto op = std::make_unique<TBBSCmd>(&ch, param, what);
  if (!op->Proceed()) return;
  ch.operation = std::move(op);
  // The first chunk of a download goes out at once.
  if (what == kCmdDownload) ch.DecodeService();
}

}  // namespace

void UploadCommand(TChannel& ch, const char* line) { StartTransfer(ch, line, kCmdUpload); }

void DownloadCommand(TChannel& ch, const char* line) { StartTransfer(ch, line, kCmdDownload); }

void WhatFilesCommand(TChannel& ch, const char* line) {
  ch.Service = 1000;
  std::string path = ParamWithCr(line, 1);
  if (path.empty()) path.push_back('\r');
  ch.EndService(PrepareDir(path, FileArea(ch), "*.*", kListFull, ch.lang.filesavailable, ch.lang.nofilesfound));
}

void EraseCommand(TChannel& ch, const std::string& area, const char* line, size_t letters) {
  std::string name = ParamWithCr(line, letters);
  if (!name.empty() && name.back() == '\r') name.pop_back();
  name = Trim(name);
  const std::string path = name.empty() ? "" : FileAreaPath(area, name);
  if (path.empty() || !FileExists(path)) {
    ch.EndService("\r");
    return;
  }
  if (!InUploadList(ch.recentfile, name)) {
    ch.EndService(ch.lang.notauthorized);
    return;
  }
  if (std::remove(path.c_str()) != 0) {
    ch.EndService("\r");
    return;
  }
  ch.client().log().writelog(65, 0, ch.UserCallOnly, "Erase");
  ch.client().log().writefile(ch.client().cfg().FilePath, name);
  ch.EndService(ch.lang.hasbeenerased);
}

}  // namespace orn
