// Make-syntax dependency files: the script is the target and every file the
// run read is a prerequisite, so that Make and Ninja make the script again
// when any of them changes.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The rule "target: prerequisites", one prerequisite per continued line.
// Each file is listed once, in the order given; two spellings of one path
// ("a.xml", "./a.xml", its absolute form) count as the same file and the
// first spelling is kept. Throws FatalError naming `dependencyFile` when a
// name contains a line break, which Make syntax cannot express.
QByteArray dependencyRule(const QString& dependencyFile, const QString& target,
                          const QStringList& prerequisites);

// Writes dependencyRule() to `dependencyFile`, replacing it atomically so
// that a build tool never reads half a file. Throws FatalError "cannot write
// dependency file <file>" on failure.
void writeDependencyFile(const QString& dependencyFile, const QString& target,
                         const QStringList& prerequisites);
