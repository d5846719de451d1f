#pragma once

#include <cstdio>
#include <string>
#include <vector>

// The vsthost program on its arguments (without the program name): its output goes to `out`, its
// messages to `err`. Returns the exit code: 0 done, 1 a file or the plug-in failed, 2 bad options.
int RunVstHost(std::vector<std::string> const& args, std::FILE* out, std::FILE* err);
