#include "log.h"

namespace vportd {
namespace {

std::FILE* sink = nullptr;  // null: stderr, which is no constant to start from

}  // namespace

void Log(const std::string& line) {
  std::FILE* to = sink != nullptr ? sink : stderr;
  std::fprintf(to, "vportd: %s\n", line.c_str());
  std::fflush(to);
}

void LogTo(std::FILE* file) {
  sink = file;
}

}  // namespace vportd
