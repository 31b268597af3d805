#include "xml/loadcontext.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/bytes.h"
#include "xml/arena.h"

namespace {

// Larger inputs are refused rather than risking the memory of the machine on
// a runaway stream; no memory map comes anywhere near this.
constexpr std::size_t kMaxInputBytes = std::size_t{1} << 30;

// Reads a regular file whole, in one read of its size; any other stream
// (a pipe, a device) up to its end. Reading stops at the first NUL byte,
// which ends the text anyway. Only the size of a regular file is trusted:
// devices and directories report sizes that mean nothing. The text is
// NUL-terminated in `arena`; false with errno set when it cannot be read.
bool readText(std::FILE* file, Arena& arena, std::string_view& text) {
  std::string all;
  struct stat info;
  if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
      static_cast<std::size_t>(info.st_size) < kMaxInputBytes) {
    // One more byte than the size, to see the end at once.
    const std::size_t size = static_cast<std::size_t>(info.st_size);
    char* buffer = arena.allocate(size + 2, 1);
    const std::size_t got = std::fread(buffer, 1, size + 1, file);
    if (got <= size) {
      if (std::ferror(file))
        return false;
      buffer[got] = '\0';
      text = std::string_view(buffer, std::strlen(buffer));
      return true;
    }
    all.assign(buffer, got);  // the file grew meanwhile: read on as a stream
  }
  constexpr std::size_t kChunk = 64 * 1024;
  for (;;) {
    const std::size_t old = all.size();
    all.resize(old + kChunk);
    const std::size_t got = std::fread(&all[old], 1, kChunk, file);
    all.resize(old + got);
    if (std::memchr(all.data() + old, '\0', got))
      break;
    if (got < kChunk) {
      if (std::ferror(file))
        return false;
      break;
    }
    if (all.size() > kMaxInputBytes) {
      errno = EFBIG;
      return false;
    }
  }
  const std::size_t length = std::strlen(all.c_str());
  char* buffer = arena.allocate(length + 1, 1);
  std::memcpy(buffer, all.data(), length);
  buffer[length] = '\0';
  text = std::string_view(buffer, length);
  return true;
}

}  // namespace

LoadContext::LoadContext(Diagnostics& diagnostics, const LoadLimits& limits)
    : diagnostics_(diagnostics), limits_(limits) {
  startDocument();
}

LoadContext::FileText LoadContext::readFile(Arena& arena, const QString& path, std::uint32_t openedBy,
                                            const QString& shownAs) {
  FileText result;
  result.file = sources_.addFile(shownAs.isEmpty() ? path : shownAs, openedBy);
  const QByteArray encoded = toBytes(path);
  errno = 0;
  std::FILE* file = encoded.contains('\0') ? nullptr : std::fopen(encoded.constData(), "rb");
  if (!file && errno == 0)
    errno = ENOENT;  // a path holding a NUL names no file
  result.read = file && readText(file, arena, result.text);
  if (file)
    std::fclose(file);
  if (!result.read) {
    result.readError = QString::fromLocal8Bit(std::strerror(errno != 0 ? errno : EIO));
    return result;
  }
  if (result.text.substr(0, 3) == "\xEF\xBB\xBF")
    result.text.remove_prefix(3);
  sources_.setText(result.file, result.text);
  filesRead_.append(path);
  return result;
}
