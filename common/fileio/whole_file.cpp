// Whole-file reading and writing on the C library, with the rename and the
// attribute query of each platform.
#include "fileio/whole_file.h"

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fileio {

namespace {

enum class Kind { Missing, File, Folder };

Kind KindOf(const std::string& path) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Kind::Missing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::Folder : Kind::File;
#else
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return Kind::Missing;
  return S_ISDIR(info.st_mode) ? Kind::Folder : Kind::File;
#endif
}

// Moves `from` over `to` in one step; `to` is replaced, never removed first.
bool ReplaceFile(const std::string& from, const std::string& to) {
#ifdef _WIN32
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

// Pushes what the C library and the system hold to the disk.
bool FlushFile(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
#ifndef _WIN32
  if (fsync(fileno(file)) != 0) return false;
#endif
  return true;
}

}  // namespace

const char* DescribeFileFault(FileFault fault) {
  switch (fault) {
    case FileFault::None:
      return "no fault";
    case FileFault::NotFound:
      return "not found";
    case FileFault::IsFolder:
      return "is a folder";
    case FileFault::TooLarge:
      return "is too large";
    case FileFault::CannotRead:
      return "cannot be read";
    case FileFault::CannotCreate:
      return "cannot be created";
    case FileFault::CannotWrite:
      return "cannot be written";
    case FileFault::CannotReplace:
      return "cannot be replaced";
  }
  return "unknown fault";
}

FileFault WriteWholeFile(const std::string& path, std::string_view data) {
  if (KindOf(path) == Kind::Folder) return FileFault::IsFolder;
  // Beside the target, so that the rename stays within one volume.
  const std::string temporary = path + ".saving";
  if (KindOf(temporary) == Kind::Folder) return FileFault::CannotCreate;
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return FileFault::CannotCreate;
  bool written = data.empty() || std::fwrite(data.data(), 1, data.size(), file) == data.size();
  written = FlushFile(file) && written;
  written = std::fclose(file) == 0 && written;
  if (!written) {
    std::remove(temporary.c_str());
    return FileFault::CannotWrite;
  }
  if (!ReplaceFile(temporary, path)) {
    std::remove(temporary.c_str());
    return FileFault::CannotReplace;
  }
  return FileFault::None;
}

ReadResult ReadWholeFile(const std::string& path, std::size_t limit) {
  ReadResult result;
  switch (KindOf(path)) {
    case Kind::Missing:
      result.fault = FileFault::NotFound;
      return result;
    case Kind::Folder:
      result.fault = FileFault::IsFolder;
      return result;
    case Kind::File:
      break;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    result.fault = errno == ENOENT ? FileFault::NotFound : FileFault::CannotRead;
    return result;
  }
  char buffer[4096];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
    if (got > limit - result.data.size()) {
      result.fault = FileFault::TooLarge;
      break;
    }
    result.data.append(buffer, got);
    if (got < sizeof buffer) {
      if (std::ferror(file) != 0) result.fault = FileFault::CannotRead;
      break;
    }
  }
  std::fclose(file);
  if (result.fault != FileFault::None) result.data.clear();
  return result;
}

}  // namespace fileio
