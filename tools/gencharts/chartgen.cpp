#include "tools/gencharts/chartgen.h"

#include "scan/catalogue.h"

#include <QDir>
#include <QSaveFile>
#include <QSet>

#include <cstdint>

namespace tevrin::gencharts {
namespace {

// splitmix64: small, fast and the same on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E5ull) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
  int between(int lo, int hi) { return lo + below(hi - lo + 1); }
  bool chance(int percent) { return below(100) < percent; }
  template <typename T, size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(static_cast<int>(N))];
  }

 private:
  uint64_t state_;
};

enum class Origin { Russian, Ukrainian, Belarusian, Foreign };

struct NamePool {
  Origin origin;
  bool radio;
  const char* const* names;
  int count;
};

const char* const kRussianTv[] = {"Первый канал",
                                  "Россия 1",
                                  "Россия 24",
                                  "НТВ",
                                  "Пятый канал",
                                  "Культура",
                                  "Матч ТВ",
                                  "Карусель",
                                  "ОТР",
                                  "ТВ Центр",
                                  "РЕН ТВ",
                                  "Спас",
                                  "СТС",
                                  "Домашний",
                                  "ТВ-3",
                                  "Пятница!",
                                  "Звезда",
                                  "Мир",
                                  "ТНТ",
                                  "Муз-ТВ",
                                  "Дом кино",
                                  "Время",
                                  "Охота и рыбалка",
                                  "Телекафе",
                                  "Бобёр",
                                  "Кухня ТВ",
                                  "Шансон ТВ",
                                  "Ю",
                                  "Че",
                                  "Русский роман",
                                  "Кино ТВ",
                                  "Наш футбол",
                                  "Моя планета",
                                  "Загородный",
                                  "Живи!",
                                  "Ностальгия",
                                  "Союз",
                                  "Ru.TV",
                                  "8 канал",
                                  "Мульт",
                                  "Успех",
                                  "Здоровое ТВ",
                                  "Психология21",
                                  "Три ангела",
                                  "Эхо & Ко"};
const char* const kRussianRadio[] = {"Радио России",  "Маяк",         "Вести FM",          "Радио Культура",
                                     "Русское радио", "Ретро FM",     "Юмор FM",           "Радио Шансон",
                                     "Авторадио",     "Радио Звезда", "Радио Монте-Карло", "Радио Вера"};
const char* const kUkrainianTv[] = {"1+1", "Інтер", "ICTV", "СТБ", "Новий канал", "Україна", "UA:Перший",
                                    "ТЕТ", "НТН",   "Мега", "К1",  "Enter-фільм", "Кіно 1",  "Рада"};
const char* const kUkrainianRadio[] = {"Українське радіо", "Радіо Промінь", "Радіо Культура UA"};
const char* const kBelarusianTv[] = {"Беларусь 1", "Беларусь 2", "Беларусь 3", "Беларусь 24",
                                     "ОНТ",        "СТВ",        "Белсат"};
const char* const kBelarusianRadio[] = {"Радыё Беларусь", "Першы канал Беларускага радыё"};
const char* const kForeignTv[] = {"BBC World News",
                                  "CNN International",
                                  "Euronews",
                                  "Eurosport 1",
                                  "Discovery Channel",
                                  "National Geographic",
                                  "TV5Monde",
                                  "Rai 1",
                                  "Rai 2",
                                  "Das Erste",
                                  "ZDF",
                                  "3sat",
                                  "Arte",
                                  "France 24",
                                  "DW",
                                  "TRT World",
                                  "Al Jazeera English",
                                  "Fashion TV",
                                  "MTV Hits",
                                  "Nickelodeon",
                                  "Cartoon Network",
                                  "Viasat History",
                                  "Travel Channel",
                                  "Fox Life & Style",
                                  "M&M Music",
                                  "Bloomberg",
                                  "CNBC Europe",
                                  "Sky News",
                                  "RTL",
                                  "SAT.1",
                                  "ProSieben",
                                  "VOX",
                                  "n-tv",
                                  "Polsat",
                                  "TVP Polonia",
                                  "Mezzo",
                                  "Baby TV",
                                  "Animal Planet",
                                  "History <HD>",
                                  "Da Vinci",
                                  "Museum TV",
                                  "Kino Polska",
                                  "ERT World",
                                  "Show TV",
                                  "Kanal D"};
const char* const kForeignRadio[] = {"BBC World Service", "RFI",    "Deutschlandfunk", "Radio Vaticana",
                                     "RAI Radio 1",       "TRT FM", "Polskie Radio"};

const NamePool kPools[] = {
    {Origin::Russian, false, kRussianTv, int(std::size(kRussianTv))},
    {Origin::Russian, true, kRussianRadio, int(std::size(kRussianRadio))},
    {Origin::Ukrainian, false, kUkrainianTv, int(std::size(kUkrainianTv))},
    {Origin::Ukrainian, true, kUkrainianRadio, int(std::size(kUkrainianRadio))},
    {Origin::Belarusian, false, kBelarusianTv, int(std::size(kBelarusianTv))},
    {Origin::Belarusian, true, kBelarusianRadio, int(std::size(kBelarusianRadio))},
    {Origin::Foreign, false, kForeignTv, int(std::size(kForeignTv))},
    {Origin::Foreign, true, kForeignRadio, int(std::size(kForeignRadio))},
};

const char* const kSuffixes[] = {" HD", " +2", " +4", " International", " Europe", " Baltic", " 4K"};
const char* const kForeignAudio[] = {"eng", "deu", "fra",     "ita",     "tur", "ara",
                                     "pol", "gre", "eng deu", "fra.eng", "spa"};
const char* const kPaidSystems[] = {"Viaccess", "Irdeto",     "Conax",           "Nagravision", "DRE-Crypt",
                                    "BISS",     "Videoguard", "Viaccess.Irdeto", "Conax.Irdeto"};
const char* const kVideo[] = {"MPEG-2", "H.264", "H.264", "HEVC", "MPEG-4"};
const char* const kNotes[] = {"Тест", "Временно", "Новый", "Ночное вещание", "Part time"};
const char* const kBeams[] = {"Europe", "Russia", "Wide", "Middle East", "Siberia", "Spot 2"};
const char* const kFec[] = {"1/2", "2/3", "3/4", "5/6", "7/8", "3/5", "8/9"};

// Positions whose pages carry pay-TV packages (they name them on line 9).
QString PackageFor(int position, Random& random) {
  switch (position) {
    case 36:
    case 56: return random.chance(60) ? (random.chance(50) ? "NTV+" : "Tricolor TV") : QString();
    case 53:
    case 75:
    case 85:
    case 90:
    case 96: return random.chance(35) ? "NTV+ Vostok" : QString();
    case 13:
    case 80: return random.chance(20) ? "Tricolor Sibir" : QString();
    default: return {};
  }
}

QString AudioFor(Origin origin, Random& random) {
  switch (origin) {
    case Origin::Russian: {
      const int r = random.below(100);
      if (r < 60) return "rus";
      if (r < 75) return "rus eng";
      if (r < 87) return "rus.eng";
      if (r < 95) return "eng rus";
      return "rus/ukr";
    }
    case Origin::Ukrainian: return random.chance(70) ? "ukr" : "ukr rus";
    case Origin::Belarusian: return random.chance(70) ? "bel" : "bel.rus";
    case Origin::Foreign: return random.chance(8) ? "eng.rus" : QString::fromUtf8(random.pick(kForeignAudio));
  }
  return {};
}

Origin OriginFor(int position, Random& random) {
  // Eastern slots carry mostly Russian channels, western ones mostly foreign.
  const int russianShare = position >= 36 && position <= 96 ? 70 : position == 13 ? 25 : 15;
  const int r = random.below(100);
  if (r < russianShare) return Origin::Russian;
  if (r < russianShare + 8) return Origin::Ukrainian;
  if (r < russianShare + 12) return Origin::Belarusian;
  return Origin::Foreign;
}

Channel MakeChannel(int position, Random& random, QSet<QString>& used, int& sid) {
  const Origin origin = OriginFor(position, random);
  const int kindRoll = random.below(100);
  const bool radio = kindRoll < 15;
  const bool data = kindRoll >= 98;
  const NamePool* pool = nullptr;
  for (const NamePool& p : kPools)
    if (p.origin == origin && p.radio == radio) pool = &p;
  QString name = QString::fromUtf8(pool->names[random.below(pool->count)]);
  if (!radio && random.chance(25)) name += QString::fromUtf8(random.pick(kSuffixes));
  if (used.contains(name)) {
    const QString base = name;
    for (int i = 2; used.contains(name); ++i) name = base + ' ' + QString::number(i);
  }
  used.insert(name);

  Channel c;
  c.name = name;
  c.kind = data ? "Data" : radio ? "R" : "TV";
  c.encryption = random.chance(50) ? QString("FTA") : QString::fromUtf8(random.pick(kPaidSystems));
  c.video = radio || data ? QString() : QString::fromUtf8(random.pick(kVideo));
  c.audio = data ? QString() : AudioFor(origin, random);
  if (random.chance(6)) c.note = QString::fromUtf8(random.pick(kNotes));
  c.sid = ++sid;
  return c;
}

QStringList TransponderLines(int position, Random& random) {
  static const char kPolarisations[] = {'H', 'V', 'H', 'V', 'L', 'R'};
  const bool s2 = random.chance(55);
  QStringList lines;
  lines
      << QStringLiteral("T: %1 %2").arg(random.between(10700, 12750)).arg(QChar(random.pick(kPolarisations)))
      << (s2 ? "DVB-S2" : "DVB-S") << (s2 && random.chance(50) ? "8PSK" : "QPSK")
      << QStringLiteral("SR %1").arg(random.between(4, 60) * 500)
      << QStringLiteral("FEC %1").arg(QString::fromUtf8(random.pick(kFec)))
      << QStringLiteral("ONID %1").arg(random.between(1, 200))
      << QStringLiteral("TID %1").arg(random.between(100, 9999))
      << QStringLiteral("Beam %1").arg(QString::fromUtf8(random.pick(kBeams)));
  const QString package = PackageFor(position, random);
  if (!package.isEmpty()) lines << package;
  return lines;
}

QString SatelliteFor(int position) {
  for (int i = 1; i < kSatelliteCount; ++i)
    if (ChartPosition(i) == position) return SatelliteName(i);
  return QStringLiteral("Position %1").arg(position);
}

Chart BuildChart(int position, int channelRows, Random& random) {
  Chart chart;
  chart.position = position;
  chart.satellite = SatelliteFor(position);
  chart.metaCharset = !(position == 5 || position == 40 || position == 90);
  chart.sloppy = position % 3 == 0;
  QSet<QString> used;
  int sid = position * 100;
  int made = 0;
  while (made < channelRows) {
    Transponder t;
    t.lines = TransponderLines(position, random);
    const int n = std::min(random.between(3, 14), channelRows - made);
    for (int i = 0; i < n; ++i) t.channels.push_back(MakeChannel(position, random, used, sid));
    made += n;
    chart.transponders.push_back(std::move(t));
  }
  return chart;
}

// A changed chart: a fixed subset renamed or dropped, a few channels added.
void ApplyVariant(Chart& chart, int variant) {
  Random random(uint64_t(chart.position) * 7919 + uint64_t(variant) * 104729);
  QSet<QString> used;
  int sid = chart.position * 100 + 5000;
  for (const Transponder& t : chart.transponders)
    for (const Channel& c : t.channels) used.insert(c.name);
  for (Transponder& t : chart.transponders) {
    std::vector<Channel> kept;
    for (Channel& c : t.channels) {
      const int r = random.below(100);
      if (r < 6) continue;  // dropped
      if (r < 12) {
        c.name += QString::fromUtf8(" (new)");
        used.insert(c.name);
      }
      kept.push_back(c);
    }
    if (random.chance(25)) kept.push_back(MakeChannel(chart.position, random, used, sid));
    t.channels = std::move(kept);
  }
}

QString Escape(const QString& text) { return text.toHtmlEscaped(); }

// Lines joined by "." in the model are lines of the cell on the page.
QString CellLines(const QString& text) {
  QString out = Escape(text);
  out.replace('.', QStringLiteral("<br>\n"));
  return out;
}

class Writer {
 public:
  explicit Writer(bool sloppy) : sloppy_(sloppy) {}
  void raw(const QString& s) { out_ += s; }
  void cell(const QString& html, const char* attributes = "") {
    out_ += QStringLiteral("<td%1>%2").arg(QString::fromLatin1(attributes), html);
    if (!sloppy_) out_ += QStringLiteral("</td>");
  }
  void endRow() { out_ += sloppy_ ? QStringLiteral("\n") : QStringLiteral("</tr>\n"); }
  QString take() { return std::move(out_); }

 private:
  QString out_;
  bool sloppy_;
};

QString Date(int seed) {
  return QStringLiteral("20%1-%2-%3")
      .arg(20 + seed % 5)
      .arg(1 + seed % 12, 2, 10, QLatin1Char('0'))
      .arg(1 + seed % 28, 2, 10, QLatin1Char('0'));
}

}  // namespace

int Chart::channelCount() const {
  int n = 0;
  for (const Transponder& t : transponders) n += static_cast<int>(t.channels.size());
  return n;
}

Chart MakeChart(int position, int variant) {
  Random random(uint64_t(position) + 1);
  Chart chart = BuildChart(position, random.between(50, 140), random);
  if (variant != 0) ApplyVariant(chart, variant);
  return chart;
}

Chart MakeLargeChart(int channelRows) {
  Random random(424242);
  Chart chart = BuildChart(36, channelRows, random);
  chart.satellite = QStringLiteral("Large chart");
  chart.metaCharset = true;
  chart.sloppy = false;
  return chart;
}

QByteArray RenderChart(const Chart& chart) {
  Writer w(chart.sloppy);
  w.raw(QStringLiteral("<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n"));
  if (chart.metaCharset) w.raw(QStringLiteral("<meta charset=\"utf-8\">\n"));
  w.raw(QStringLiteral(
            "<title>%1 — частоты и каналы</title>\n"
            "<style>\nbody{font:12px Arial,sans-serif;margin:4px}\n"
            "table.frq{border-collapse:collapse}\ntable.frq td{border:1px solid #aac;padding:1px 3px}\n"
            "tr.tp td{background:#dde4f4;font-weight:bold}\n</style>\n"
            "<script>\nfunction sw(id){var e=document.getElementById(id);"
            "if(e){e.style.display=e.style.display=='none'?'':'none';}}\n</script>\n"
            "</head>\n<body>\n"
            "<div class=\"top\"><a href=\"/\">Главная</a> | <a href=\"/charts\">Спутники</a> | "
            "<a href=\"/help\">Помощь</a></div>\n"
            "<table class=\"menu\"><tr><td><b>%1</b></td><td>Обновлено: %2</td></tr></table>\n"
            "<!-- chart table -->\n"
            "<table class=\"frq\" width=\"100%\" cellspacing=\"0\">\n"
            "<tr class=\"hdr\"><th>Поз.</th><th>Частота</th><th>Канал</th><th>Тип</th>"
            "<th>Кодировка</th><th colspan=\"3\">SID / VPID / APID</th><th>Видео</th>"
            "<th colspan=\"3\">Звук / обновлено</th></tr>\n")
            .arg(Escape(chart.satellite), Date(chart.position)));
  int row = 0;
  for (const Transponder& t : chart.transponders) {
    w.raw(QStringLiteral("<tr class=\"tp\">"));
    w.cell(Escape(chart.satellite.section(' ', -1)));
    QStringList lines;
    for (const QString& line : t.lines) lines << Escape(line);
    lines[0] = QStringLiteral("<b>%1</b>").arg(lines[0]);
    w.cell(lines.join(QStringLiteral("<br>\n")), " class=\"f\"");
    w.cell(Escape(chart.satellite.section(' ', 0, -2)));
    w.cell(t.lines.size() > 7 ? Escape(t.lines[7].mid(5)) : QString());
    w.cell(Date(row + chart.position), " colspan=\"8\"");
    w.endRow();
    for (const Channel& c : t.channels) {
      ++row;
      w.raw(row % 2 ? QStringLiteral("<tr>") : QStringLiteral("<tr class=\"odd\">"));
      w.cell(c.kind == "R" ? QStringLiteral("<img src=\"/img/radio.gif\" alt=\"\">")
                           : QStringLiteral("<img src=\"/img/tv.gif\" alt=\"\">"));
      w.cell(QString::number(c.sid));
      w.cell(QStringLiteral("<a href=\"/channel/%1\"><b>%2</b></a>").arg(c.sid).arg(Escape(c.name)),
             " class=\"ch\"");
      w.cell(Escape(c.kind));
      w.cell(CellLines(c.encryption));
      w.cell(QString::number(c.sid));
      w.cell(c.video.isEmpty() ? QStringLiteral("&nbsp;") : QString::number(32 + c.sid % 4000));
      w.cell(QString::number(64 + c.sid % 4000));
      w.cell(Escape(c.video));
      w.cell(CellLines(c.audio), " class=\"a\"");
      w.cell(Date(c.sid));
      if (!c.note.isEmpty()) w.cell(Escape(c.note));
      w.endRow();
    }
    w.raw(QStringLiteral("<tr><td colspan=\"12\" class=\"sp\">&nbsp;</td></tr>\n"));
  }
  w.raw(QStringLiteral("</table>\n"
                       "<table class=\"foot\"><tr><td>&copy; chart site</td><td>%1 каналов</td>"
                       "<td><a href=\"#top\">вверх</a></td></tr></table>\n"
                       "<script>var shown=%1;</script>\n</body>\n</html>\n")
            .arg(chart.channelCount()));
  return w.take().toUtf8();
}

QByteArray ChartPage(int position, int variant) { return RenderChart(MakeChart(position, variant)); }
QByteArray LargeChartPage(int channelRows) { return RenderChart(MakeLargeChart(channelRows)); }

QByteArray BannerPage() {
  return QByteArrayLiteral(
      "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n<title>Tevrin</title>\n"
      "<style>\nhtml,body{margin:0;height:100%;background:#1d3557}\n"
      "body{font:bold 15px Arial,sans-serif;display:flex;align-items:center;justify-content:center}\n"
      "a{color:#f1faee;text-decoration:none}\na:hover{text-decoration:underline}\n</style>\n"
      "</head>\n<body>\n<a href=\"/\">Tevrin — каналы спутников</a>\n</body>\n</html>\n");
}

QByteArray IndexPage() {
  QString links;
  for (int i = 1; i < kSatelliteCount; ++i)
    links += QStringLiteral("<li><a href=\"/charts?position=%1\">%2</a></li>\n")
                 .arg(ChartPosition(i))
                 .arg(SatelliteName(i).toHtmlEscaped());
  return QStringLiteral(
             "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
             "<title>Tevrin — каналы спутников</title>\n</head>\n<body>\n"
             "<h1>Tevrin</h1>\n<p>Программа для зрителей спутникового телевидения: выбирает каналы "
             "нужных языков из таблиц частот и следит за их изменениями.</p>\n"
             "<h2>Таблицы спутников</h2>\n<ul>\n%1</ul>\n</body>\n</html>\n")
      .arg(links)
      .toUtf8();
}

QString WriteSite(const QString& dir, int variant, int largeRows) {
  const QDir root(dir);
  if (!root.mkpath(QStringLiteral("charts")))
    return QStringLiteral("cannot create %1").arg(root.filePath(QStringLiteral("charts")));
  auto write = [](const QString& path, const QByteArray& bytes) -> QString {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
      return QStringLiteral("%1: %2").arg(path, file.errorString());
    return {};
  };
  for (int i = 1; i < kSatelliteCount; ++i) {
    const int position = ChartPosition(i);
    QString error =
        write(root.filePath(QStringLiteral("charts/%1.html").arg(position)), ChartPage(position, variant));
    if (!error.isEmpty()) return error;
  }
  for (const auto& [name, bytes] : {std::pair{QStringLiteral("reklama.html"), BannerPage()},
                                    std::pair{QStringLiteral("index.html"), IndexPage()}}) {
    QString error = write(root.filePath(name), bytes);
    if (!error.isEmpty()) return error;
  }
  if (largeRows > 0)
    return write(root.filePath(QStringLiteral("charts/large.html")), LargeChartPage(largeRows));
  return {};
}

}  // namespace tevrin::gencharts
