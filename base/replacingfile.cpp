#include "base/replacingfile.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/bytes.h"

ReplacingFile::ReplacingFile(const QString& path) {
  const QFileInfo info(nativePath(path));
  if (path.isEmpty() || info.isDir()) {
    setErrorString(fromBytes(std::strerror(path.isEmpty() ? ENOENT : EISDIR)));
    return;
  }
  if (info.exists() && !info.isFile()) {
    device_.setFileName(nativePath(path));
    // The caller hands over large pieces; a second buffer would only copy them.
    if (device_.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
      open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    else
      setErrorString(device_.errorString());
    return;
  }
  finalPath_ = info.isSymLink() && info.exists() ? QFile::encodeName(info.canonicalFilePath()) : toBytes(path);
  struct stat existing;
  const bool exists = ::stat(finalPath_.constData(), &existing) == 0;
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    tempPath_ = finalPath_ + ".mkld-" + QByteArray::number(::getpid()) + '-' + QByteArray::number(attempt);
    fd_ = ::open(tempPath_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST)
      break;
  }
  if (fd_ < 0) {
    setErrorString(fromBytes(std::strerror(errno)));
    return;
  }
  if (exists)
    ::fchmod(fd_, existing.st_mode & 07777);
  if (!temp_.open(fd_, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle)) {
    discard();
    return;
  }
  if (exists && S_ISREG(existing.st_mode)) {
    earlier_.setFileName(QFile::decodeName(finalPath_));
    same_ = earlier_.open(QIODevice::ReadOnly);
  }
  open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

ReplacingFile::~ReplacingFile() { discard(); }

QString ReplacingFile::commit() {
  if (device_.isOpen())
    return device_.flush() ? QString() : device_.errorString();
  const bool unchanged = same_ && earlier_.atEnd();
  earlier_.close();
  temp_.close();
  const int closed = ::close(fd_);
  fd_ = -1;
  if (unchanged) {
    ::unlink(tempPath_.constData());
    return QString();
  }
  if (closed != 0 || ::rename(tempPath_.constData(), finalPath_.constData()) != 0) {
    const QString error = fromBytes(std::strerror(errno));
    ::unlink(tempPath_.constData());
    return error;
  }
  return QString();
}

qint64 ReplacingFile::writeData(const char* data, qint64 size) {
  QFile& target = device_.isOpen() ? device_ : temp_;
  if (same_) {
    compared_.resize(static_cast<size_t>(size));
    same_ = earlier_.read(compared_.data(), size) == size &&
            std::memcmp(compared_.data(), data, static_cast<size_t>(size)) == 0;
  }
  const qint64 written = target.write(data, size);
  if (written != size)
    setErrorString(target.errorString());
  return written;
}

void ReplacingFile::discard() {
  if (fd_ < 0)
    return;
  temp_.close();
  ::close(fd_);
  fd_ = -1;
  ::unlink(tempPath_.constData());
}
