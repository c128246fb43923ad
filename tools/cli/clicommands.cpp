#include "tools/cli/clicommands.h"

#include "app/errors.h"
#include "app/messages.h"
#include "app/paths.h"
#include "scan/catalogue.h"
#include "scan/chartparser.h"
#include "scan/download.h"
#include "scan/scandriver.h"
#include "table/comparison.h"
#include "table/csvexport.h"
#include "table/records.h"
#include "table/storedview.h"
#include "table/tableactions.h"

#include <QCommandLineParser>
#include <QDate>
#include <QDir>
#include <QFileInfo>

#include <unistd.h>
#include <cstdio>
#include <exception>
#include <optional>

namespace tevrin::cli {
namespace {

void PrintError(const QString& text) {
  std::fprintf(stderr, "tevrin-cli: %s\n", OneLine(text).toUtf8().constData());
  std::fflush(stderr);
}

void WriteOut(const QByteArray& bytes) {
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

bool IsTerminal(FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

// A core function that would show a box prints its text as one error line;
// a question is answered No, so nothing is replaced unasked.
class StderrLineMessages final : public MessageService {
 public:
  void warning(const QString& t) override { PrintError(t); }
  void error(const QString& t) override { PrintError(t); }
  void information(const QString& t) override { PrintError(t); }
  bool confirm(const QString& t) override {
    PrintError(t);
    return false;
  }
  void plain(const QString& t) override { PrintError(t); }
  void applicationError(const QString& t) override { PrintError(t); }
};

// The language boxes of the window, ticked from --lang.
class LanguageHost final : public ChartParserHost {
 public:
  bool rus = false, ukr = false, bel = false;
  QString other;  // the other-language code; empty when not given
  bool isTicked(Language language) override {
    switch (language) {
      case Language::Rus: return rus;
      case Language::Ukr: return ukr;
      case Language::Bel: return bel;
      case Language::Other: return !other.isEmpty();
    }
    return false;
  }
  QString otherLanguageText() override { return other; }
};

// The status line of the progress window, rewritten in place on a terminal.
class TerminalProgress final : public IBindStatusCallback {
 public:
  void OnStartBinding() override { show(0); }
  void OnProgress(qint64 bytesReceived) override { show(bytesReceived); }
  void OnStopBinding() override {
    if (shown_) std::fputc('\n', stderr);
    std::fflush(stderr);
    shown_ = false;
  }

 private:
  void show(qint64 bytes) {
    std::fprintf(stderr, "\r%s",
                 DownloadStatusText(bytes, ChartUrlIndex, ChartUrlCount).toUtf8().constData());
    std::fflush(stderr);
    shown_ = true;
  }
  bool shown_ = false;
};

// An error that ends the command: its one line goes to stderr, exit status 2.
struct CliFailure {
  QString text;
};

// "5", "Hot Bird 13.0°E": a catalogue index 1..18 or an entry's exact name.
int SatelliteFromArgument(const QString& argument) {
  bool isNumber = false;
  const int number = argument.toInt(&isNumber);
  const int index = isNumber ? number : SatelliteIndexByName(argument);
  if (index < 1 || index >= kSatelliteCount)
    throw CliFailure{QStringLiteral("неизвестный спутник \"%1\" (список: tevrin-cli list)").arg(argument)};
  return index;
}

// "rus,ukr,bel,deu": the three boxes and at most one other code, as the window's
// other-language box holds one.
void TickLanguages(const QString& list, LanguageHost& host) {
  for (const QString& piece : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
    const QString code = piece.trimmed();
    if (code == u"rus") host.rus = true;
    else if (code == u"ukr") host.ukr = true;
    else if (code == u"bel") host.bel = true;
    else if (code.size() != 3)
      throw CliFailure{QStringLiteral("код языка из трёх букв ожидается, получено \"%1\"").arg(code)};
    else if (!host.other.isEmpty() && host.other != code)
      throw CliFailure{
          QStringLiteral("можно указать только один другой язык (%1, %2)").arg(host.other, code)};
    else host.other = code;
  }
  if (!AnyLanguageTicked(host)) throw CliFailure{kNoLanguageText};
}

QString Cell(QString text) {
  // One row, one line: a tab or break inside a cell would split it.
  text.replace(QLatin1Char('\t'), QLatin1Char(' '));
  text.replace(QLatin1Char('\r'), QLatin1Char(' '));
  text.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return text;
}

struct Options {
  QString command;
  QStringList positional;
  QString lang, out, base;
  bool langGiven = false, csv = false, save = false, noOverwrite = false, compare = false;
  bool ntv = false, tri = false, help = false;
};

Options ParseOptions(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption lang(QStringLiteral("lang"), QString(), QStringLiteral("codes"));
  const QCommandLineOption csv(QStringLiteral("csv"));
  const QCommandLineOption out(QStringLiteral("out"), QString(), QStringLiteral("file"));
  const QCommandLineOption save(QStringLiteral("save"));
  const QCommandLineOption noOverwrite(QStringLiteral("no-overwrite"));
  const QCommandLineOption compare(QStringLiteral("compare"));
  const QCommandLineOption ntv(QStringLiteral("ntv"));
  const QCommandLineOption tri(QStringLiteral("tri"));
  const QCommandLineOption base(QStringLiteral("base"), QString(), QStringLiteral("dir"));
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  parser.addOptions({lang, csv, out, save, noOverwrite, compare, ntv, tri, base, help});
  if (!parser.parse(QStringList{QStringLiteral("tevrin-cli")} + arguments))
    throw CliFailure{parser.errorText() + QStringLiteral(" (tevrin-cli --help)")};

  Options o;
  o.help = parser.isSet(help);
  o.positional = parser.positionalArguments();
  if (!o.positional.isEmpty()) o.command = o.positional.takeFirst();
  o.langGiven = parser.isSet(lang);
  o.lang = parser.value(lang);
  o.out = parser.value(out);
  o.base = parser.value(base);
  o.csv = parser.isSet(csv);
  o.save = parser.isSet(save);
  o.noOverwrite = parser.isSet(noOverwrite);
  o.compare = parser.isSet(compare);
  o.ntv = parser.isSet(ntv);
  o.tri = parser.isSet(tri);
  if (o.help) return o;

  // An option another command owns is a mistake, not something to ignore.
  const auto refuse = [](bool given, const char* name, const QString& command) {
    if (given)
      throw CliFailure{
          QStringLiteral("параметр --%1 не относится к команде %2")
              .arg(QString::fromLatin1(name), command.isEmpty() ? QStringLiteral("(нет)") : command)};
  };
  const bool scan = o.command == u"scan", show = o.command == u"show";
  refuse(!scan && o.langGiven, "lang", o.command);
  refuse(!scan && o.csv, "csv", o.command);
  refuse(!scan && !o.out.isEmpty(), "out", o.command);
  refuse(!scan && o.save, "save", o.command);
  refuse(!scan && o.compare, "compare", o.command);
  refuse(!show && o.ntv, "ntv", o.command);
  refuse(!show && o.tri, "tri", o.command);
  if (o.noOverwrite && !o.save)
    throw CliFailure{QStringLiteral("--no-overwrite действует только вместе с --save")};
  if (parser.isSet(out) && o.out.isEmpty()) throw CliFailure{QStringLiteral("--out: не указан файл")};
  return o;
}

int ListCommand(const Options& o) {
  if (!o.positional.isEmpty()) throw CliFailure{QStringLiteral("команда list не принимает аргументов")};
  QByteArray text;
  for (int i = 1; i < kSatelliteCount; ++i)
    text += (QString::number(i) + QLatin1Char('\t') + SatelliteName(i) + QLatin1Char('\t') +
             QString::number(ChartPosition(i)) + QLatin1Char('\n'))
                .toUtf8();
  WriteOut(text);
  return kExitSame;
}

QString OneSatellite(const Options& o) {
  if (o.positional.size() != 1)
    throw CliFailure{QStringLiteral("команда %1 ожидает один спутник (tevrin-cli --help)").arg(o.command)};
  return o.positional.first();
}

int ScanCommand(const Options& o) {
  const int index = SatelliteFromArgument(OneSatellite(o));
  const QString satellite = SatelliteName(index);
  LanguageHost host;
  TickLanguages(o.lang, host);

  const QString savedPath = SavedTablePath(satellite);
  // Refused before the download, so a refused save costs no traffic.
  if (o.save && o.noOverwrite && QFileInfo::exists(savedPath))
    throw CliFailure{QStringLiteral("файл уже существует: ") + QDir::toNativeSeparators(savedPath)};

  ChannelTableModel table;
  std::optional<TerminalProgress> progress;
  if (IsTerminal(stderr)) progress.emplace();
  switch (RunChartScan(index, table, host, progress ? &*progress : nullptr)) {
    case ScanResult::Completed: break;
    case ScanResult::DownloadFailed: throw CliFailure{kDownloadErrorText};
    case ScanResult::DocumentFailed: return kExitError;  // the parser has printed its message
  }
  const std::vector<ChannelRow> scanned = table.rows();

  if (!o.out.isEmpty()) ExportTable(scanned, o.out);
  if (!o.compare) {
    if (o.csv) {
      QByteArray bytes;
      for (const ChannelRow& row : scanned) bytes += ExportLine(row);
      WriteOut(bytes);
    } else {
      WriteOut(FormatRows(scanned, IsTerminal(stdout)));
    }
  }

  int status = kExitSame;
  if (o.compare) {
    std::vector<SavedRecord> previous;
    const bool opened = ReadSavedTable(savedPath, previous);
    if (!opened) {
      PrintError(NoPreviousTableText(satellite));
      status = kExitError;  // a --save still writes the first table below
    } else {
      const ComparisonResult result = CompareWithPrevious(table, previous);
      std::vector<ChannelRow> changed;
      for (const ChannelRow& row : table.rows())
        if (row.mark == kMarkNew || row.mark == kMarkGone) changed.push_back(row);
      QString summary = ComparisonSummaryText(result);
      summary.replace(QLatin1Char('\r'), QLatin1Char('\n'));
      WriteOut(FormatRows(changed, IsTerminal(stdout)) + summary.toUtf8() + '\n');
      status = result.changes > 0 ? kExitChanged : kExitSame;
    }
  }

  if (o.save) {
    if (scanned.empty()) {
      // As the window's save: an empty table writes nothing.
      PrintError(QStringLiteral("таблица пуста, сохранять нечего"));
    } else {
      if (o.noOverwrite && QFileInfo::exists(savedPath))
        throw CliFailure{QStringLiteral("файл уже существует: ") + QDir::toNativeSeparators(savedPath)};
      WriteSavedTable(savedPath, scanned, QDate::currentDate());
    }
  }
  std::fflush(stdout);
  return status;
}

int ShowCommand(const Options& o) {
  const QString satellite = SatelliteName(SatelliteFromArgument(OneSatellite(o)));
  PackageFilter filter;
  filter.on = o.ntv || o.tri;
  filter.ntv = o.ntv;
  filter.tri = o.tri;
  ChannelTableModel table;
  if (!LoadStoredView(satellite, filter, table))
    throw CliFailure{QStringLiteral("для спутника %1 нет сохранённой таблицы (%2)")
                         .arg(satellite, QDir::toNativeSeparators(SavedTablePath(satellite)))};
  WriteOut(FormatRows(table.rows(), IsTerminal(stdout)));
  return kExitSame;
}

}  // namespace

QString OneLine(const QString& text) { return text.simplified(); }

QByteArray FormatRows(const std::vector<ChannelRow>& rows, bool aligned) {
  constexpr int kColumns = ChannelTableModel::kColumnCount;
  // Column 0 holds the mark, column k + 1 sub-item k, as in the window.
  const auto cellAt = [](const ChannelRow& row, int column) {
    return Cell(column == 0 ? row.mark : row.subItem(column - 1));
  };
  QByteArray out;
  if (!aligned) {
    for (const ChannelRow& row : rows) {
      QStringList cells;
      for (int c = 0; c < kColumns; ++c) cells << cellAt(row, c);
      out += (cells.join(QLatin1Char('\t')) + QLatin1Char('\n')).toUtf8();
    }
    return out;
  }
  if (rows.empty()) return out;
  int widths[kColumns];
  for (int c = 0; c < kColumns; ++c) widths[c] = static_cast<int>(ChannelTableModel::columnCaption(c).size());
  for (const ChannelRow& row : rows)
    for (int c = 0; c < kColumns; ++c)
      widths[c] = std::max(widths[c], static_cast<int>(cellAt(row, c).size()));
  const auto line = [&](const auto& textOf) {
    QString text;
    for (int c = 0; c < kColumns; ++c) {
      const QString cell = textOf(c);
      text += c == 1 ? cell.rightJustified(widths[c]) : cell.leftJustified(widths[c]);
      if (c + 1 < kColumns) text += QStringLiteral("  ");
    }
    while (text.endsWith(QLatin1Char(' '))) text.chop(1);
    return (text + QLatin1Char('\n')).toUtf8();
  };
  out += line([](int c) { return ChannelTableModel::columnCaption(c); });
  for (const ChannelRow& row : rows) out += line([&](int c) { return cellAt(row, c); });
  return out;
}

QString HelpText() {
  return QStringLiteral(
      "tevrin-cli — командная строка Tevrin / the Tevrin command line\n"
      "\n"
      "Команды / Commands:\n"
      "  list                         спутники: номер, имя, позиция карты\n"
      "                               satellites: index, name, chart position\n"
      "  scan SATELLITE --lang CODES  сканирование карты спутника (номер 1..18 или точное имя);\n"
      "                               CODES: rus,ukr,bel и не более одного другого трёхбуквенного кода\n"
      "                               scan a satellite's chart (index 1..18 or exact name);\n"
      "                               CODES: rus,ukr,bel and at most one other three-letter code\n"
      "      --csv                    строки экспорта на stdout / export lines on stdout\n"
      "      --out FILE               экспорт в FILE (формат exsport.csv) / export to FILE\n"
      "      --save                   сохранить Base/<спутник>.rec / save Base/<satellite>.rec\n"
      "      --no-overwrite           не заменять существующий файл / never replace an existing file\n"
      "      --compare                сравнить с сохранённой таблицей (до --save)\n"
      "                               compare with the saved table (before --save)\n"
      "  show SATELLITE [--ntv] [--tri]  сохранённая таблица, с фильтром пакетов\n"
      "                               the saved table, with the package filter\n"
      "\n"
      "Общие параметры / Common options:\n"
      "  --base DIR                   каталог с Base/ и cache.txt (по умолчанию — рядом с программой,\n"
      "                               если туда можно писать, иначе $XDG_DATA_HOME/Tevrin,\n"
      "                               обычно ~/.local/share/Tevrin)\n"
      "                               directory holding Base/ and cache.txt (default: beside the program\n"
      "                               when it may write there, else $XDG_DATA_HOME/Tevrin,\n"
      "                               usually ~/.local/share/Tevrin)\n"
      "  -h, --help                   эта справка / this help\n"
      "\n"
      "Переменная TEVRIN_CHART_URL задаёт адрес сайта карт / TEVRIN_CHART_URL sets the chart site.\n"
      "Вывод: столбцы по ширине на терминале, иначе через табуляцию (###, №, Транспондер,\n"
      "Наименование канала, Аудио, Video, Кодировка, Примечание).\n"
      "Output: aligned columns on a terminal, tab-separated otherwise (the eight table columns).\n"
      "\n"
      "Код возврата / Exit status: 0 — без изменений / no change, 1 — есть изменения / changes,\n"
      "2 — ошибка / error.\n");
}

int RunCommandLine(const QStringList& arguments) {
  StderrLineMessages messages;
  SetMessageService(&messages);
  struct Restore {
    ~Restore() { SetMessageService(nullptr); }
  } restore;
  try {
    const Options o = ParseOptions(arguments);
    if (o.help) {
      WriteOut(HelpText().toUtf8());
      return kExitSame;
    }
    if (!o.base.isEmpty()) {
      if (!QFileInfo(o.base).isDir())
        throw CliFailure{QStringLiteral("каталог не найден: ") + QDir::toNativeSeparators(o.base)};
      SetExeDirOverride(o.base);
    }
    if (o.command == u"list") return ListCommand(o);
    if (o.command == u"scan") return ScanCommand(o);
    if (o.command == u"show") return ShowCommand(o);
    if (o.command.isEmpty()) throw CliFailure{QStringLiteral("не указана команда (tevrin-cli --help)")};
    throw CliFailure{QStringLiteral("неизвестная команда \"%1\" (tevrin-cli --help)").arg(o.command)};
  } catch (const CliFailure& failure) {
    PrintError(failure.text);
  } catch (const std::exception& e) {
    PrintError(ErrorDisplayText(e));
  } catch (...) {
    PrintError(QStringLiteral("неизвестная ошибка"));
  }
  std::fflush(stdout);
  return kExitError;
}

}  // namespace tevrin::cli
