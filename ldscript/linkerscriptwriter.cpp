#include "ldscript/linkerscriptwriter.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "base/bytes.h"
#include "base/diagnostics.h"
#include "base/fatalerror.h"
#include "ldscript/endplacement.h"
#include "ldscript/layoutchecks.h"
#include "ldscript/scriptstream.h"
#include "ldscript/portabletext.h"
#include "ldscript/scripttext.h"
#include "ldscript/sectionlayout.h"
#include "ldscript/sectionlist.h"

namespace {

// A file written beside its final path (as "<path>.mkld-<pid>-<n>") and
// renamed over it only when complete, so the final path never holds half a
// script and an earlier script stays until the new one is whole. An error
// removes the temporary file; only a run killed outright leaves it behind.
//
// The text is compared with the file already at the path as it goes: a
// script that comes out as it already is leaves that file untouched,
// modification time included, so that Make and Ninja (restat) relink
// nothing, and the script never has to be held whole for the comparison.
//
// Unlike QSaveFile it does not sync the data to the disk before the rename:
// a build output needs no protection against a power cut, and the sync made
// every run wait for the disk (a third of the time of a small run).
class ReplacingFile : public QIODevice {
public:
  // Open for writing when the temporary file could be made.
  explicit ReplacingFile(const QString& path) {
    // A link is followed: the file it names is replaced, the link stays.
    const QFileInfo info(nativePath(path));
    finalPath_ = info.isSymLink() && info.exists() ? QFile::encodeName(info.canonicalFilePath()) : toBytes(path);
    struct stat existing;
    const bool exists = ::stat(finalPath_.constData(), &existing) == 0;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      tempPath_ = finalPath_ + ".mkld-" + QByteArray::number(::getpid()) + '-' + QByteArray::number(attempt);
      fd_ = ::open(tempPath_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ < 0 && errno != EEXIST)
        break;
    }
    if (fd_ < 0)
      return;
    if (exists)
      ::fchmod(fd_, existing.st_mode & 07777);  // a replaced script keeps its permissions
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
  ~ReplacingFile() override { discard(); }

  // Puts the new script in place (or keeps the earlier one when it holds
  // exactly the same bytes); the error, if any.
  QString commit() {
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

protected:
  qint64 readData(char*, qint64) override { return -1; }

  qint64 writeData(const char* data, qint64 size) override {
    if (same_) {
      compared_.resize(static_cast<size_t>(size));
      same_ = earlier_.read(compared_.data(), size) == size &&
              std::memcmp(compared_.data(), data, static_cast<size_t>(size)) == 0;
    }
    const qint64 written = temp_.write(data, size);
    if (written != size)
      setErrorString(temp_.errorString());
    return written;
  }

private:
  void discard() {
    if (fd_ < 0)
      return;
    temp_.close();
    ::close(fd_);
    fd_ = -1;
    ::unlink(tempPath_.constData());
  }

  QByteArray finalPath_;
  QByteArray tempPath_;
  int fd_ = -1;
  QFile temp_;
  QFile earlier_;             // the file at the path, while it may hold the same script
  bool same_ = false;         // everything written so far matches it
  std::vector<char> compared_;
};

void generate(ScriptStream& out, const LinkerScriptInputs& inputs, Diagnostics& diagnostics) {
  const LayoutModel model = computeLayout(inputs, diagnostics);
  if (inputs.portableScript)
    writePortableScriptText(out, model, inputs);
  else
    writeScriptText(out, model, inputs);
}

}  // namespace

LayoutModel computeLayout(const LinkerScriptInputs& inputs, Diagnostics& diagnostics) {
  LayoutModel model;
  buildSectionList(model, *inputs.memoryMap, inputs.placement, inputs.symbols, inputs.verbose);
  markEndPlacement(model, diagnostics);
  layoutSections(model, inputs, &diagnostics);
  checkLayout(model, diagnostics);
  return model;
}

std::string generateLinkerScript(const LinkerScriptInputs& inputs, Diagnostics& diagnostics) {
  ScriptStream out;
  generate(out, inputs, diagnostics);
  return out.text();
}

void writeLinkerScript(const QString& outputFile, const LinkerScriptInputs& inputs,
                       Diagnostics& diagnostics) {
  // A device or a pipe (/dev/null, /dev/stdout, a FIFO) must not be replaced
  // by a file: it is written in place. Anything else is replaced whole.
  const QFileInfo info(nativePath(outputFile));
  const bool inPlace = info.exists() && !info.isFile() && !info.isDir();
  std::unique_ptr<QFile> device;
  std::unique_ptr<ReplacingFile> replacing;
  QIODevice* file = nullptr;
  if (inPlace) {
    device = std::make_unique<QFile>(nativePath(outputFile));
    // The stream hands the file large pieces; a second buffer would only copy them.
    if (device->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
      file = device.get();
  } else if (!outputFile.isEmpty() && !info.isDir()) {
    replacing = std::make_unique<ReplacingFile>(outputFile);
    if (replacing->isOpen())
      file = replacing.get();
  }
  if (!file)
    throw FatalError(QLatin1String("cannot open ") + outputFile + QLatin1String(" for writing"));

  ScriptStream out(file);
  generate(out, inputs, diagnostics);
  QString error;
  if (!out.flush() || (device && !device->flush()))
    error = file->errorString();
  else if (replacing)
    error = replacing->commit();
  if (!error.isEmpty())
    throw FatalError(QLatin1String("cannot write ") + outputFile + QLatin1String(": ") + error);
}
