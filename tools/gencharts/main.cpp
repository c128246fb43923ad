// tevrin-gencharts --out DIR [--variant N] [--large [ROWS]]
// Writes the chart pages of the 18 catalogue positions, the banner page and
// the start page into DIR, and with --large a timing page of ROWS channels.
#include "tools/gencharts/chartgen.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {
int Usage() {
  std::fprintf(stderr, "usage: tevrin-gencharts --out DIR [--variant N] [--large [ROWS]]\n");
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  QString out;
  int variant = 0;
  int large = 0;
  for (int i = 1; i < args.size(); ++i) {
    bool ok = true;
    if (args[i] == "--out" && i + 1 < args.size()) {
      out = args[++i];
    } else if (args[i] == "--variant" && i + 1 < args.size()) {
      variant = args[++i].toInt(&ok);
    } else if (args[i] == "--large") {
      large = 12000;
      if (i + 1 < args.size() && !args[i + 1].startsWith("--")) large = args[++i].toInt(&ok);
      ok = ok && large > 0;
    } else {
      return Usage();
    }
    if (!ok) return Usage();
  }
  if (out.isEmpty()) return Usage();
  const QString error = tevrin::gencharts::WriteSite(out, variant, large);
  if (!error.isEmpty()) {
    std::fprintf(stderr, "tevrin-gencharts: %s\n", qPrintable(error));
    return 1;
  }
  return 0;
}
