#pragma once

#include <cstdio>
#include <string>
#include <vector>

// The authost program on its arguments (without the program name): its output goes to `out`, its
// messages to `err`. Returns the exit code: 0 done, 1 a file or the component failed, 2 bad options.
int RunAUHost(std::vector<std::string> const& args, std::FILE* out, std::FILE* err);
