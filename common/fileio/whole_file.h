// Files read and written whole. Names are narrow strings passed to the C
// library and, on Windows, to the ANSI functions as they are: on Windows they
// are text in the ANSI code page and must never be widened byte by byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fileio {

enum class FileFault {
  None,
  NotFound,
  IsFolder,
  TooLarge,
  CannotRead,
  CannotCreate,
  CannotWrite,
  CannotReplace
};

// A short English phrase, e.g. "is a folder".
const char* DescribeFileFault(FileFault fault);

// Writes `data` to a temporary file in the same folder as `path` (flushed and
// closed with every error checked), then renames it over `path`. A folder of
// that name is refused (IsFolder) and left alone; the old file is never
// removed first; on any failure the temporary file is removed and the old file
// is as it was.
FileFault WriteWholeFile(const std::string& path, std::string_view data);

struct ReadResult {
  FileFault fault = FileFault::None;
  std::string data;
};

// The whole content of `path`; TooLarge (and no data) when it holds more than
// `limit` bytes.
ReadResult ReadWholeFile(const std::string& path, std::size_t limit);

}  // namespace fileio
