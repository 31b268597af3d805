#include "base/splitlist.h"

QStringList splitList(const QString& text, bool keepEmpty) {
  QStringList items;
  QString item;
  const qsizetype length = text.size();
  for (qsizetype i = 0; i < length; ++i) {
    const QChar c = text[i];
    if (c == QLatin1Char('\\') && i + 1 < length) {
      item += text[++i];
    } else if (c == QLatin1Char(';')) {
      if (keepEmpty || !item.isEmpty())
        items.append(item);
      item.clear();
    } else {
      item += c;
    }
  }
  if (keepEmpty || !item.isEmpty())
    items.append(item);
  return items;
}
