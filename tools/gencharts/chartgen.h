#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// Deterministic chart pages for the bundled chart server, the tests and the
// benchmarks. The same position and variant always give the same bytes.
namespace tevrin::gencharts {

struct Channel {
  QString name;        // as rendered (the page escapes it)
  QString kind;        // "TV", "R" or "Data"
  QString encryption;  // "FTA", "Viaccess", or lines joined by "." ("Viaccess.Irdeto")
  QString video;       // empty for radio
  QString audio;       // language codes, lines joined by "." ("rus.eng") or spaces ("eng rus")
  QString note;        // non-empty: the row has a twelfth cell
  int sid = 0;
};

struct Transponder {
  QStringList lines;  // the lines of cell 1; the first starts with "T: "
  std::vector<Channel> channels;
};

struct Chart {
  int position = 0;
  QString satellite;
  bool metaCharset = true;  // most pages declare it, a few do not
  bool sloppy = false;      // leaves out </td> and </tr> as older pages did
  std::vector<Transponder> transponders;

  int channelCount() const;
};

// The chart of a catalogue position. Variant 0 is the committed one; another
// variant renames, drops and adds a fixed subset of the channels.
Chart MakeChart(int position, int variant = 0);
// A chart with exactly channelRows channels, for timing.
Chart MakeLargeChart(int channelRows);

QByteArray RenderChart(const Chart& chart);  // UTF-8 bytes
QByteArray ChartPage(int position, int variant = 0);
QByteArray LargeChartPage(int channelRows);

QByteArray BannerPage();  // reklama.html
QByteArray IndexPage();   // index.html, the maker's start page

// Writes DIR/charts/<position>.html for the 18 catalogue positions,
// DIR/reklama.html and DIR/index.html, and DIR/charts/large.html when
// largeRows > 0. Returns an error text, empty on success.
QString WriteSite(const QString& dir, int variant, int largeRows = 0);

}  // namespace tevrin::gencharts
