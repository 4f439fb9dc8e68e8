// vportd's log: one line per event worth an administrator's look, to stderr
// or, as a service (which has no console), to the file LogTo names.
#pragma once

#include <cstdio>
#include <string>

namespace vportd {

// Writes "vportd: LINE" and flushes, so a line is there even if vportd dies next.
void Log(const std::string& line);

// Where Log writes from now on (stderr until then); it keeps the file open.
void LogTo(std::FILE* file);

}  // namespace vportd
