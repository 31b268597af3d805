// The list syntax of the command line and of the macro lists.
#pragma once

#include <QString>
#include <QStringList>

// Splits at unescaped ';'. A backslash takes the next character literally.
// Empty items are kept only when `keepEmpty` is set.
QStringList splitList(const QString& text, bool keepEmpty);
