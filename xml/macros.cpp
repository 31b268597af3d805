// $(NAME) expansion. Design priority: every input ends, in time linear in
// the text per pass, with a defined result; no input can make expansion
// recurse, loop forever or grow without bound.
#include "xml/macros.h"

#include <QStringView>
#include <optional>

#include "base/splitlist.h"
#include "xml/macroregistry.h"

namespace {

// Re-scanning stops after this many passes even while the text still changes
// (two macros whose values refer to each other alternate forever). Real
// defaults nest a few levels deep.
constexpr int kMaxPasses = 100;
// A pass that would produce more characters than this is abandoned and the
// text as it stood before that pass is the result, so a value that refers to
// itself twice cannot double its way through memory. Real attribute values
// and file names are far shorter.
constexpr qsizetype kMaxExpandedLength = qsizetype(1) << 20;
// Passes stop once they have read and written this many characters together
// (one pass over a text of the full length fits): a value that grows a
// little on every pass would otherwise make each expansion rescan a megabyte
// a hundred times. The text after the last pass within the bound is the
// result.
constexpr qint64 kMaxScannedCharacters = qint64(2) << 20;

class Expander {
public:
  Expander(const MacroTable& local, bool searchBuiltins, ExpansionBudget* budget,
           QStringList* undefined)
      : local_(local), searchBuiltins_(searchBuiltins), budget_(budget), undefined_(undefined) {}

  QString expand(const QString& text) {
    if (!text.contains(macro_))
      return text;
    QString current = text;
    qint64 scanned = 0;
    for (int pass = 0; pass < kMaxPasses; ++pass) {
      if (!charge(scanned, current.size()))
        return current;
      QString next;
      bool rescan = false;
      const bool withinLength = scan(current, next, rescan);
      if (!charge(scanned, next.size()) || !withinLength)
        return current;
      if (!rescan || next == current)
        return next;
      current = std::move(next);
    }
    return current;
  }

private:
  // Counts `characters` against this expansion's bound and the shared
  // budget; false once either is spent.
  bool charge(qint64& scanned, qint64 characters) {
    scanned += characters;
    if (budget_) {
      budget_->remaining -= characters;
      if (budget_->remaining < 0)
        budget_->exhausted = true;
      if (budget_->exhausted)
        return false;
    }
    return scanned <= kMaxScannedCharacters;
  }

  // One left-to-right pass. False when the output grew past the limit.
  bool scan(const QString& input, QString& out, bool& rescan) {
    out.reserve(input.size());
    const QChar* text = input.constData();
    const qsizetype length = input.size();
    qsizetype i = 0;
    while (i < length) {
      qsizetype plainEnd = input.indexOf(macro_, i);
      if (plainEnd < 0)
        plainEnd = length;
      out.append(text + i, plainEnd - i);
      i = plainEnd;
      if (i == length)
        break;
      if (i + 1 < length && text[i + 1] == QLatin1Char('(')) {
        const qsizetype bodyStart = i + 2;
        qsizetype end = bodyStart;
        int depth = 1;
        for (; end < length; ++end) {
          const QChar c = text[end];
          if (c == QLatin1Char('(')) {
            ++depth;
          } else if (c == QLatin1Char(')')) {
            if (--depth == 0)
              break;
          } else if (c == macro_) {
            rescan = true;
          }
        }
        if (end == length)
          break;  // unterminated: the reference and the rest are dropped
        resolve(QStringView(text + bodyStart, end - bodyStart), QStringView(text + i, end + 1 - i),
                out, rescan);
        i = end + 1;
      } else {
        out.append(macro_);
        i += (i + 1 < length && text[i + 1] == macro_) ? 2 : 1;
      }
      if (out.size() > kMaxExpandedLength)
        return false;
    }
    return out.size() <= kMaxExpandedLength;
  }

  void resolve(QStringView body, QStringView reference, QString& out, bool& rescan) {
    QStringView name = body;
    QStringView fallback = reference;
    const qsizetype colon = body.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
      name = body.left(colon);
      fallback = body.mid(colon + 1);
      if (fallback.startsWith(QLatin1Char(':'))) {
        fallback = fallback.mid(1);
        rescan = false;
      }
    }
    const QString key = name.toString();
    const QString* value = find(local_, key);
    if (!value && searchBuiltins_)
      value = find(MacroRegistry::instance().builtins(), key);
    if (!value) {
      if (colon < 0 && undefined_ && !undefined_->contains(key))
        undefined_->append(key);
      out.append(fallback);
      return;
    }
    if (isComputedName(name)) {
      if (std::optional<QString> computed = computedMacroValue(name, now())) {
        out.append(*computed);
        return;
      }
    }
    out.append(*value);
  }

  // Reading the clock and the locale is slow; only these names need them.
  static bool isComputedName(QStringView name) {
    return name.startsWith(QLatin1String("Date")) || name.startsWith(QLatin1String("Time")) ||
           name == QLatin1String("UnixTime");
  }

  static const QString* find(const MacroTable& table, const QString& key) {
    const auto it = table.constFind(key);
    return it == table.constEnd() ? nullptr : &it.value();
  }

  // Read once per expansion so that $(TimeHour):$(TimeMinute) cannot straddle
  // a change of hour.
  const QDateTime& now() {
    if (!now_)
      now_ = QDateTime::currentDateTime();
    return *now_;
  }

  static constexpr QChar macro_ = QLatin1Char('$');

  const MacroTable& local_;
  const bool searchBuiltins_;
  ExpansionBudget* const budget_;
  QStringList* const undefined_;
  std::optional<QDateTime> now_;
};

}  // namespace

QString expandMacros(const MacroTable& local, const QString& text, bool searchBuiltins,
                     ExpansionBudget* budget, QStringList* undefined) {
  return Expander(local, searchBuiltins, budget, undefined).expand(text);
}

MacroTable parseMacroList(const QString& text) {
  MacroTable table;
  for (const QString& item : splitList(text, false)) {
    const qsizetype equals = item.indexOf(QLatin1Char('='));
    if (equals < 0)
      table.insert(item, QString());
    else
      table.insert(item.left(equals), item.mid(equals + 1));
  }
  return table;
}

MacroTable mergeMacros(const MacroTable& base, const MacroTable& overriding) {
  MacroTable merged = base;
  for (auto it = overriding.constBegin(); it != overriding.constEnd(); ++it)
    merged.insert(it.key(), it.value());
  return merged;
}
