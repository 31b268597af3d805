// The one way mkld writes an output file (the script, the dependency file).
//
// Design priority: a reader of the path never sees half a file. The text is
// written beside the final path (as "<path>.mkld-<pid>-<n>") and renamed over
// it only when complete, so an earlier file stays until the new one is
// whole; an error removes the temporary file, and only a run killed outright
// leaves it behind. Besides:
// - The text is compared with the file already at the path as it goes: a
//   file that comes out as it already is stays untouched, modification time
//   included, so that Make and Ninja (restat) redo nothing, and the text
//   never has to be held whole for the comparison.
// - A replaced file keeps its permissions; a symbolic link is followed (the
//   file it names is replaced, the link stays).
// - A device or a pipe (/dev/null, /dev/stdout, a FIFO) is not replaced by a
//   file but written in place.
// - Unlike QSaveFile it does not sync the data to the disk before the
//   rename: a build output needs no protection against a power cut, and the
//   sync made every run wait for the disk.
#pragma once

#include <QFile>
#include <QIODevice>
#include <QString>
#include <vector>

class ReplacingFile : public QIODevice {
public:
  // Open for writing (isOpen()) when the path can be written: not empty, not
  // a folder, and the temporary file (or the device) could be opened; else
  // errorString() says why.
  explicit ReplacingFile(const QString& path);
  // Without a successful commit() the earlier file stays as it was.
  ~ReplacingFile() override;

  // Puts the new file in place (or keeps the earlier one when it holds
  // exactly the same bytes); the reason when that failed, else empty.
  QString commit();

protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char* data, qint64 size) override;

private:
  void discard();

  QFile device_;  // in place: the device or pipe at the path
  QByteArray finalPath_;
  QByteArray tempPath_;
  int fd_ = -1;
  QFile temp_;
  QFile earlier_;      // the file at the path, while it may hold the same text
  bool same_ = false;  // everything written so far matches it
  std::vector<char> compared_;
};
