// The script is built in memory as bytes and written out in one piece, so a
// run that fails half way never leaves half a script behind. Text is appended
// as Latin-1: every character the tool reads maps back to the byte it came from.
#pragma once

#include <QByteArray>
#include <QLatin1String>
#include <QString>

class ScriptStream {
public:
  ScriptStream& operator<<(const char* ascii) {
    bytes_.append(ascii);
    return *this;
  }
  ScriptStream& operator<<(char c) {
    bytes_.append(c);
    return *this;
  }
  ScriptStream& operator<<(QLatin1String text) {
    bytes_.append(text.data(), text.size());
    return *this;
  }
  ScriptStream& operator<<(const QString& text) {
    const qsizetype at = bytes_.size();
    bytes_.resize(at + text.size());
    char* out = bytes_.data() + at;
    for (const QChar c : text)
      *out++ = c.unicode() <= 0xff ? static_cast<char>(c.unicode()) : '?';
    return *this;
  }

  const QByteArray& bytes() const { return bytes_; }

private:
  QByteArray bytes_;
};
