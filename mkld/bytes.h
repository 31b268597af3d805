// Text enters and leaves the process as bytes. Inside, it is a QString decoded
// as Latin-1, the one encoding in which every byte maps to one character and
// back, so names and values that are not ASCII (even invalid UTF-8) reach the
// script exactly as they were read.
#pragma once

#include <QByteArray>
#include <QString>
#include <string>

inline QString fromBytes(const char* bytes) { return QString::fromLatin1(bytes); }
inline QString fromBytes(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}
inline QString fromBytes(const QByteArray& bytes) { return QString::fromLatin1(bytes); }
inline QByteArray toBytes(const QString& text) { return text.toLatin1(); }
inline std::string toStdBytes(const QString& text) { return text.toLatin1().toStdString(); }
