// The suggestion that follows an unknown name in a diagnostic: the known
// name closest to it by edit distance, when one is close enough to be what
// was meant.
#pragma once

#include <QString>
#include <QStringList>

// `name`'s closest entry of `known`, or empty. Letter case counts as half an
// edit, so "Load" finds "load" before "lead"; ties go to the earlier entry.
QString closestName(const QString& name, const QStringList& known);

// "; did you mean "X"?" for the closest name, or empty.
QString didYouMean(const QString& name, const QStringList& known);

// "; did you mean "DIR/X"?" for the file of its folder whose name is closest
// to the last part of `path` (both hold the path's bytes), or empty.
QString didYouMeanFile(const QString& path);
