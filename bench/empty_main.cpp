// The floor for timing the whole tool: a program that starts and ends like
// mkld (same link line: the tool's library, Qt Core, the C++ runtime) and does
// nothing. The QString keeps Qt Core linked and loaded, so the dynamic
// loader's work is the same as for mkld.
#include <QString>

int main(int argc, char**) {
  const QString text = QString::number(argc);
  return text.isEmpty() ? 1 : 0;
}
