#include "base/didyoumean.h"

#include "base/bytes.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <vector>

namespace {

// Longer names are not compared: a name that long is no typo of a short one,
// and the table stays small.
constexpr qsizetype kMaxCompared = 64;

// Edit distance in half-steps: a case-only difference costs 1, any other
// substitution, insertion, deletion or swap of two neighbours 2.
int distance(const QString& a, const QString& b) {
  std::vector<int> beforePrevious(static_cast<size_t>(b.size()) + 1);
  std::vector<int> previous(beforePrevious.size());
  std::vector<int> current(previous.size());
  for (size_t j = 0; j < previous.size(); ++j)
    previous[j] = static_cast<int>(2 * j);
  for (qsizetype i = 0; i < a.size(); ++i) {
    current[0] = static_cast<int>(2 * (i + 1));
    for (qsizetype j = 0; j < b.size(); ++j) {
      const QChar x = a[i];
      const QChar y = b[j];
      const int change = x == y ? 0 : x.toLower() == y.toLower() ? 1 : 2;
      const size_t k = static_cast<size_t>(j) + 1;
      current[k] = std::min({previous[k] + 2, current[k - 1] + 2, previous[k - 1] + change});
      if (i > 0 && j > 0 && x == b[j - 1] && a[i - 1] == y)
        current[k] = std::min(current[k], beforePrevious[k - 2] + 2);
    }
    std::swap(beforePrevious, previous);
    std::swap(previous, current);
  }
  return previous.back();
}

}  // namespace

QString closestName(const QString& name, const QStringList& known) {
  if (name.isEmpty() || name.size() > kMaxCompared)
    return QString();
  // Up to a third of the name may be wrong, at least one edit and at most
  // three: "alignement" finds "alignment". A name of one or two letters
  // only finds a difference in letter case: "N" is no typo of "A".
  const int allowed =
      name.size() <= 2 ? 1 : 2 * static_cast<int>(std::clamp<qsizetype>(name.size() / 3, 1, 3));
  QString best;
  int bestDistance = allowed + 1;
  for (const QString& candidate : known) {
    if (candidate == name || candidate.size() > kMaxCompared)
      continue;
    const int d = distance(name, candidate);
    if (d < bestDistance) {
      best = candidate;
      bestDistance = d;
    }
  }
  return best;
}

QString didYouMean(const QString& name, const QStringList& known) {
  const QString closest = closestName(name, known);
  return closest.isEmpty() ? QString()
                           : QLatin1String("; did you mean \"") + closest + QLatin1String("\"?");
}

QString didYouMeanFile(const QString& path) {
  const QFileInfo info(nativePath(path));
  QStringList files;
  for (const QString& name : info.dir().entryList(QDir::Files | QDir::Readable, QDir::Name))
    files.append(fromNativePath(name));
  const QString closest = closestName(fromNativePath(info.fileName()), files);
  if (closest.isEmpty())
    return QString();
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  return QLatin1String("; did you mean \"") + path.left(slash + 1) + closest + QLatin1String("\"?");
}
