// Text enters and leaves the process as bytes. Inside, it is a QString decoded
// as Latin-1, the one encoding in which every byte maps to one character and
// back, so names and values that are not ASCII (even invalid UTF-8) reach the
// script exactly as they were read.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>
#include <string_view>

inline QString fromBytes(const char* bytes) { return QString::fromLatin1(bytes); }
inline QString fromBytes(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}
inline QString fromBytes(const QByteArray& bytes) { return QString::fromLatin1(bytes); }
inline QString fromBytes(std::string_view bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}
inline QByteArray toBytes(const QString& text) { return text.toLatin1(); }
inline std::string toStdBytes(const QString& text) { return text.toLatin1().toStdString(); }

// A path is bytes too. Qt's file classes want it decoded the way the file
// system names are encoded (UTF-8), so every path crosses into them through
// nativePath and comes back through fromNativePath: a folder named in UTF-8
// is then found, whatever its characters.
inline QString nativePath(const QString& path) { return QFile::decodeName(toBytes(path)); }
inline QString fromNativePath(const QString& path) { return fromBytes(QFile::encodeName(path)); }
