// Sounds through whatever player the system has (aplay, paplay); none is no
// error.
#pragma once

#include <string>

namespace orn {

void PlayWithSystemPlayer(const std::string& file);

}  // namespace orn
