// The file areas: where a station's path text leads, and the U, D, W and Z
// commands.
#pragma once

#include <string>

namespace orn {

class TChannel;

// The file a station names below an area ("SUB\NOTE.TXT" is SUB/NOTE.TXT),
// matched without regard to case. Empty when the text would leave the area
// (an absolute path, "..") or its last part is longer than 12 characters.
std::string FileAreaPath(const std::string& area, const std::string& typed);

void UploadCommand(TChannel& ch, const char* line);
void DownloadCommand(TChannel& ch, const char* line);
void WhatFilesCommand(TChannel& ch, const char* line);
// Z and YZ: erase a file this station uploaded in this session.
void EraseCommand(TChannel& ch, const std::string& area, const char* line, size_t letters);

}  // namespace orn
