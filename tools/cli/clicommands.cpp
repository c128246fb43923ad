#include "tools/cli/clicommands.h"

#include "app/errors.h"
#include "app/messages.h"
#include "app/notifier.h"
#include "app/paths.h"
#include "app/settings.h"
#include "app/stopsignals.h"
#include "scan/batchscan.h"
#include "scan/catalogue.h"
#include "scan/chartparser.h"
#include "scan/download.h"
#include "scan/satelliteflow.h"
#include "scan/scandriver.h"
#include "scan/watch.h"
#include "table/changelog.h"
#include "table/comparison.h"
#include "table/csvexport.h"
#include "table/records.h"
#include "table/storedview.h"
#include "table/tableactions.h"

#include <QCommandLineParser>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>

namespace tevrin::cli {
namespace {

// Once the run is stopping (a signal, a closed output) nothing more is said:
// what failed then failed because of the stop.
bool Stopping() { return StopSignals::received() != 0; }

void PrintError(const QString& text) {
  if (Stopping()) return;
  std::fprintf(stderr, "tevrin-cli: %s\n", OneLine(text).toUtf8().constData());
  std::fflush(stderr);
}

// Written out at once: a reader that has gone (`| head -c 1`) stops the run
// as SIGPIPE would, which Qt's network code leaves ignored.
void WriteOut(const QByteArray& bytes) {
  if (Stopping()) return;
  if (std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout) !=
          static_cast<size_t>(bytes.size()) ||
      std::fflush(stdout) != 0) {
    if (errno == EPIPE) StopSignals::notice(SIGPIPE);
  }
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

// In a batch every message of a satellite's run ends in its summary line.
class QuietMessages final : public MessageService {
 public:
  void warning(const QString&) override {}
  void error(const QString&) override {}
  void information(const QString&) override {}
  bool confirm(const QString&) override { return false; }
  void plain(const QString&) override {}
  void applicationError(const QString&) override {}
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
  bool all = false, json = false;
  int jobs = 4;
  QStringList watchAdd, watchRemove;  // watch --add, --remove (each may be repeated)
  bool watchList = false, notify = false;
};

constexpr int kMaxJobs = 18;  // one download per catalogue entry at most

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
  const QCommandLineOption all(QStringLiteral("all"));
  const QCommandLineOption json(QStringLiteral("json"));
  const QCommandLineOption jobs(QStringLiteral("jobs"), QString(), QStringLiteral("n"));
  const QCommandLineOption add(QStringLiteral("add"), QString(), QStringLiteral("satellite"));
  const QCommandLineOption remove(QStringLiteral("remove"), QString(), QStringLiteral("satellite"));
  const QCommandLineOption list(QStringLiteral("list"));
  const QCommandLineOption notify(QStringLiteral("notify"));
  parser.addOptions({lang, csv, out, save, noOverwrite, compare, ntv, tri, base, help, all, json, jobs});
  parser.addOptions({add, remove, list, notify});
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
  o.all = parser.isSet(all);
  o.json = parser.isSet(json);
  o.watchAdd = parser.values(add);
  o.watchRemove = parser.values(remove);
  o.watchList = parser.isSet(list);
  o.notify = parser.isSet(notify);
  if (parser.isSet(jobs)) {
    bool isNumber = false;
    o.jobs = parser.value(jobs).toInt(&isNumber);
    if (!isNumber || o.jobs < 1 || o.jobs > kMaxJobs)
      throw CliFailure{QStringLiteral("--jobs: число от 1 до %1 ожидается, получено \"%2\"")
                           .arg(kMaxJobs)
                           .arg(parser.value(jobs))};
  }
  if (o.help) return o;

  // An option another command owns is a mistake, not something to ignore.
  const auto refuse = [](bool given, const char* name, const QString& command) {
    if (given)
      throw CliFailure{
          QStringLiteral("параметр --%1 не относится к команде %2")
              .arg(QString::fromLatin1(name), command.isEmpty() ? QStringLiteral("(нет)") : command)};
  };
  const bool scan = o.command == u"scan", show = o.command == u"show";
  const bool watch = o.command == u"watch", changes = o.command == u"changes";
  refuse(!scan && !watch && o.langGiven, "lang", o.command);
  refuse(!scan && o.csv, "csv", o.command);
  refuse(!scan && !o.out.isEmpty(), "out", o.command);
  refuse(!scan && o.save, "save", o.command);
  refuse(!scan && o.compare, "compare", o.command);
  refuse(!scan && o.all, "all", o.command);
  refuse(!scan && !changes && o.json, "json", o.command);
  refuse(!scan && parser.isSet(jobs), "jobs", o.command);
  refuse(!show && o.ntv, "ntv", o.command);
  refuse(!show && o.tri, "tri", o.command);
  refuse(!watch && !o.watchAdd.isEmpty(), "add", o.command);
  refuse(!watch && !o.watchRemove.isEmpty(), "remove", o.command);
  refuse(!watch && o.watchList, "list", o.command);
  refuse(!scan && !watch && o.notify, "notify", o.command);
  if (scan && o.notify && !o.compare)
    throw CliFailure{QStringLiteral("--notify действует только вместе с --compare")};
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

// Each entry as a desktop notification, or, when not asked for or when the
// service cannot show it, as the same text in the output: to stdout, or to
// stderr where stdout carries JSON Lines. The first failure is said once and
// ends the attempts, so a hung service costs one wait, not one per satellite.
void ShowChanges(const std::vector<ChangeEntry>& entries, bool notify, bool textToStderr) {
  for (const ChangeEntry& entry : entries) {
    const QString summary = ChangeSummaryText(entry), body = ChangeBodyText(entry);
    if (notify) {
      const QString why = ShowDesktopNotification(summary, body);
      if (why.isEmpty()) continue;
      PrintError(QStringLiteral("уведомление не показано: ") + why);
      notify = false;
    }
    const QByteArray text =
        (QLatin1Char('\n') + summary + QLatin1Char('\n') + body + QLatin1Char('\n')).toUtf8();
    if (textToStderr) std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stderr);
    else WriteOut(text);
  }
  std::fflush(stdout);
}

// One satellite keeps its own output: the rows, or the changed rows and the
// comparison's message; exit 2 also when there is no table to compare with.
int SingleScan(const Options& o, int index, LanguageHost& host) {
  const QString satellite = SatelliteName(index);
  FlowOptions flow;
  flow.compare = o.compare;
  flow.save = o.save;
  flow.noOverwrite = o.noOverwrite;
  flow.exportPath = o.out;
  // Refused before the download, so a refused save costs no traffic.
  if (const QString refusal = RefusalBeforeScan(index, flow); !refusal.isEmpty()) throw CliFailure{refusal};

  ChannelTableModel table;
  std::optional<TerminalProgress> progress;
  if (IsTerminal(stderr)) progress.emplace();
  const SatelliteOutcome outcome =
      RunSatelliteFlow(index, table, host, progress ? &*progress : nullptr, flow);
  if (outcome.status == FlowStatus::Failed) {
    if (!outcome.errorShown) PrintError(outcome.error);
    return kExitError;
  }

  int status = kExitSame;
  if (!o.compare) {
    if (o.csv) {
      QByteArray bytes;
      for (const ChannelRow& row : table.rows()) bytes += ExportLine(row);
      WriteOut(bytes);
    } else {
      WriteOut(FormatRows(table.rows(), IsTerminal(stdout)));
    }
  } else if (outcome.status == FlowStatus::NoPreviousTable) {
    PrintError(NoPreviousTableText(satellite));
    status = kExitError;  // a --save has still written the first table
  } else {
    std::vector<ChannelRow> changed;
    for (const ChannelRow& row : table.rows())
      if (row.mark == kMarkNew || row.mark == kMarkGone) changed.push_back(row);
    QString summary = ComparisonSummaryText(*outcome.comparison);
    summary.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    WriteOut(FormatRows(changed, IsTerminal(stdout)) + summary.toUtf8() + '\n');
    status = outcome.changed() ? kExitChanged : kExitSame;
    if (o.notify) ShowChanges(ChangeEntriesOf({outcome}, QDateTime::currentDateTime()), true, false);
  }
  // As the window's save: an empty table writes nothing.
  if (outcome.tableWasEmpty) PrintError(QStringLiteral("таблица пуста, сохранять нечего"));
  return status;
}

QString NumberOrDash(bool known, int number) { return known ? QString::number(number) : QStringLiteral("-"); }
int NewRows(const SatelliteOutcome& outcome) { return outcome.comparison ? outcome.comparison->newRows : 0; }
int GoneRows(const SatelliteOutcome& outcome) {
  return outcome.comparison ? outcome.comparison->goneRows : 0;
}

QJsonValue NumberOrNull(bool known, int number) { return known ? QJsonValue(number) : QJsonValue(); }

}  // namespace

QByteArray OutcomeJson(const SatelliteOutcome& outcome) {
  QJsonObject object;
  object.insert(QStringLiteral("satellite"), outcome.satellite());
  object.insert(QStringLiteral("position"), outcome.position());
  object.insert(QStringLiteral("rows"), NumberOrNull(outcome.scanned, outcome.rowsKept));
  object.insert(QStringLiteral("new"), NumberOrNull(outcome.comparison.has_value(), NewRows(outcome)));
  object.insert(QStringLiteral("gone"), NumberOrNull(outcome.comparison.has_value(), GoneRows(outcome)));
  static const char* const kStatus[] = {"ok", "no-previous", "failed"};
  object.insert(QStringLiteral("status"), QString::fromLatin1(kStatus[static_cast<int>(outcome.status)]));
  object.insert(QStringLiteral("result"), outcome.resultText());
  if (!outcome.savedPath.isEmpty())
    object.insert(QStringLiteral("saved"), QDir::toNativeSeparators(outcome.savedPath));
  return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray SummaryTable(const std::vector<SatelliteOutcome>& outcomes) {
  const QStringList captions = {QStringLiteral("Спутник"), QStringLiteral("Позиция"), QStringLiteral("Строк"),
                                QStringLiteral("Новых"),   QStringLiteral("Ушло"),    QStringLiteral("Итог")};
  std::vector<QStringList> lines{captions};
  for (const SatelliteOutcome& outcome : outcomes)
    lines.push_back({outcome.satellite(), QString::number(outcome.position()),
                     NumberOrDash(outcome.scanned, outcome.rowsKept),
                     NumberOrDash(outcome.comparison.has_value(), NewRows(outcome)),
                     NumberOrDash(outcome.comparison.has_value(), GoneRows(outcome)),
                     Cell(outcome.resultText())});
  std::vector<qsizetype> widths(captions.size(), 0);
  for (const QStringList& cells : lines)
    for (qsizetype c = 0; c < cells.size(); ++c)
      widths[size_t(c)] = std::max(widths[size_t(c)], cells[c].size());
  QByteArray out;
  for (const QStringList& cells : lines) {
    QString text;
    for (qsizetype c = 0; c < cells.size(); ++c) {
      // The name and the result read left to right, the numbers line up on the right.
      const bool left = c == 0 || c + 1 == cells.size();
      text += left ? cells[c].leftJustified(widths[size_t(c)]) : cells[c].rightJustified(widths[size_t(c)]);
      if (c + 1 < cells.size()) text += QStringLiteral("  ");
    }
    while (text.endsWith(QLatin1Char(' '))) text.chop(1);
    out += (text + QLatin1Char('\n')).toUtf8();
  }
  return out;
}

int BatchExitStatus(const std::vector<SatelliteOutcome>& outcomes) {
  int status = kExitSame;
  for (const SatelliteOutcome& outcome : outcomes) {
    if (outcome.status == FlowStatus::Failed) return kExitError;
    if (outcome.changed()) status = kExitChanged;
  }
  return status;
}

namespace {

// The batch with every message of a satellite kept for its summary line;
// each outcome as a JSON line as soon as it is known, progress on a terminal.
std::vector<SatelliteOutcome> RunQuietBatch(const std::vector<int>& indexes, LanguageHost& host,
                                            const BatchOptions& batch, bool json) {
  static QuietMessages quiet;  // outlives the run: the service is reset only when the command ends
  SetMessageService(&quiet);
  const bool showProgress = IsTerminal(stderr);
  int done = 0;
  const auto total = static_cast<int>(indexes.size());
  std::vector<SatelliteOutcome> outcomes =
      RunBatchScan(indexes, host, batch, [&](const SatelliteOutcome& outcome) {
        if (json) {
          WriteOut(OutcomeJson(outcome));
          std::fflush(stdout);
        }
        if (showProgress) {
          std::fprintf(stderr, "\r\033[K[%d/%d] %s", ++done, total, outcome.satellite().toUtf8().constData());
          std::fflush(stderr);
        }
      });
  if (showProgress) std::fputc('\n', stderr);
  return outcomes;
}

int BatchScan(const Options& o, const std::vector<int>& indexes, LanguageHost& host) {
  if (o.csv) throw CliFailure{QStringLiteral("--csv действует только для одного спутника")};
  BatchOptions batch;
  batch.flow.compare = o.compare;
  batch.flow.save = o.save;
  batch.flow.noOverwrite = o.noOverwrite;
  batch.jobs = o.jobs;
  if (!o.out.isEmpty()) {
    if (!QDir().mkpath(o.out))
      throw CliFailure{QStringLiteral("каталог не создан: ") + QDir::toNativeSeparators(o.out)};
    batch.exportDir = o.out;
  }

  const std::vector<SatelliteOutcome> outcomes = RunQuietBatch(indexes, host, batch, o.json);
  if (!o.json) WriteOut(SummaryTable(outcomes));
  if (o.notify) ShowChanges(ChangeEntriesOf(outcomes, QDateTime::currentDateTime()), true, o.json);
  std::fflush(stdout);
  return BatchExitStatus(outcomes);
}

int ScanCommand(const Options& o) {
  std::vector<int> indexes;
  if (o.all) {
    if (!o.positional.isEmpty())
      throw CliFailure{QStringLiteral("--all: спутники не указываются (tevrin-cli --help)")};
    for (int i = 1; i < kSatelliteCount; ++i) indexes.push_back(i);
  } else {
    if (o.positional.isEmpty())
      throw CliFailure{QStringLiteral("команда scan ожидает спутник или --all (tevrin-cli --help)")};
    for (const QString& argument : o.positional) indexes.push_back(SatelliteFromArgument(argument));
  }
  LanguageHost host;
  TickLanguages(o.lang, host);
  if (indexes.size() == 1 && !o.all && !o.json) return SingleScan(o, indexes.front(), host);
  return BatchScan(o, indexes, host);
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

// ---- watch: the watched satellites, their scheduled comparison and the change log ----

const QString kEmptyWatchText =
    QStringLiteral("нет спутников для наблюдения; добавьте спутник: tevrin-cli watch --add SATELLITE");

// The languages the window would scan with: its boxes as kept in MyIni.ini.
void TickWindowLanguages(LanguageHost& host) {
  const WindowSettings settings = LoadSettings(SettingsPath(), WindowSettings{});
  host.rus = settings.rus;
  host.ukr = settings.ukr;
  host.bel = settings.bel;
  if (settings.oth) host.other = settings.othText;
  if (!AnyLanguageTicked(host))
    throw CliFailure{kNoLanguageText + QStringLiteral(" (MyIni.ini, [LngCheck]; или --lang)")};
}

QByteArray WatchListText(const QStringList& names) {
  QByteArray text;
  for (const QString& name : names) {
    const int index = SatelliteIndexByName(name);
    text += (index > 0 ? QString::number(index) + QLatin1Char('\t') + name
                       : QStringLiteral("-\t") + name + QStringLiteral("\tнет в каталоге"))
                .toUtf8() +
            '\n';
  }
  return text;
}

// --add, --remove, --list: the list in MyIni.ini, printed as it stands after the change.
int WatchListCommand(const Options& o) {
  if (o.watchList && (!o.watchAdd.isEmpty() || !o.watchRemove.isEmpty()))
    throw CliFailure{QStringLiteral("--list не сочетается с --add и --remove")};
  if (o.langGiven || o.notify)
    throw CliFailure{QStringLiteral("--lang и --notify относятся к запуску наблюдения, не к списку")};
  const QString path = SettingsPath();
  QStringList names = WatchedSatellites(path);
  const QStringList before = names;
  for (const QString& argument : o.watchAdd) {
    const QString name = SatelliteName(SatelliteFromArgument(argument));
    if (!names.contains(name)) names << name;
  }
  for (const QString& argument : o.watchRemove) {
    // A name the catalogue no longer has is removed by its exact text.
    bool isNumber = false;
    argument.toInt(&isNumber);
    const QString name = isNumber || SatelliteIndexByName(argument) > 0
                             ? SatelliteName(SatelliteFromArgument(argument))
                             : argument;
    if (!names.removeOne(name))
      throw CliFailure{
          QStringLiteral("спутника \"%1\" нет в списке наблюдения (tevrin-cli watch --list)").arg(name)};
  }
  if (names != before && !SaveWatchedSatellites(path, names))
    throw CliFailure{QStringLiteral("не удалось записать ") + QDir::toNativeSeparators(path)};
  WriteOut(WatchListText(names));
  std::fflush(stdout);
  return kExitSame;
}

// One pass over the watched satellites: the batch's scan, comparison and save
// for each, one change-log entry and one notification per changed satellite.
int WatchRunCommand(const Options& o) {
  const QStringList names = WatchedSatellites(SettingsPath());
  if (names.isEmpty()) throw CliFailure{kEmptyWatchText};
  LanguageHost host;
  if (o.langGiven) TickLanguages(o.lang, host);
  else TickWindowLanguages(host);

  std::vector<int> indexes;
  bool skipped = false;
  for (const QString& name : names) {
    const int index = SatelliteIndexByName(name);
    if (index > 0) {
      indexes.push_back(index);
      continue;
    }
    PrintError(
        QStringLiteral("спутника \"%1\" нет в каталоге, пропущен (убрать: tevrin-cli watch --remove \"%1\")")
            .arg(name));
    skipped = true;
  }
  if (indexes.empty()) return kExitError;

  const WatchLockResult lock = TryLockWatch(WatchLockPath());
  if (!lock.lock) throw CliFailure{lock.refusal};

  const QDateTime started = QDateTime::currentDateTime();
  BatchOptions batch;
  batch.flow.compare = true;
  batch.flow.save = true;
  const std::vector<SatelliteOutcome> outcomes = RunQuietBatch(indexes, host, batch, false);
  WriteOut(SummaryTable(outcomes));
  std::fflush(stdout);

  int status = skipped ? kExitError : BatchExitStatus(outcomes);
  const std::vector<ChangeEntry> entries = ChangeEntriesOf(outcomes, started);
  try {
    const ChangeLogAppend logged = AppendToChangeLog(ChangeLogPath(), entries, QDateTime::currentDateTime());
    if (!logged.damage.isEmpty())
      PrintError(QStringLiteral("журнал изменений повреждён (%1), отложен: %2")
                     .arg(logged.damage, QDir::toNativeSeparators(logged.setAside)));
  } catch (const std::exception& e) {
    PrintError(QStringLiteral("журнал изменений не записан: ") + ErrorDisplayText(e));
    status = kExitError;
  }
  ShowChanges(entries, o.notify, false);
  return status;
}

int WatchCommand(const Options& o) {
  if (!o.positional.isEmpty())
    throw CliFailure{QStringLiteral("команда watch не принимает спутников; список: --add, --remove, --list")};
  if (o.watchList || !o.watchAdd.isEmpty() || !o.watchRemove.isEmpty()) return WatchListCommand(o);
  return WatchRunCommand(o);
}

QByteArray ChangeEntryText(const ChangeEntry& entry) {
  QString text = entry.time.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm")) +
                 QStringLiteral("  ") + ChangeSummaryText(entry) + QLatin1Char('\n');
  const auto lines = [&](const std::vector<ChangedChannel>& channels, int count, const QString& mark) {
    for (const ChangedChannel& channel : channels)
      text += QStringLiteral("  %1  %2  %3\n").arg(mark, Cell(channel.transponder), Cell(channel.name));
    if (count > static_cast<int>(channels.size()))
      text += QStringLiteral("  %1  и ещё %2\n").arg(mark).arg(count - static_cast<int>(channels.size()));
  };
  lines(entry.added, entry.newCount, kMarkNew);
  lines(entry.gone, entry.goneCount, kMarkGone);
  return text.toUtf8();
}

// The change log newest first, of one satellite or of all.
int ChangesCommand(const Options& o) {
  if (o.positional.size() > 1)
    throw CliFailure{QStringLiteral("команда changes ожидает не более одного спутника (tevrin-cli --help)")};
  const QString satellite =
      o.positional.isEmpty() ? QString() : SatelliteName(SatelliteFromArgument(o.positional.first()));
  const QString path = ChangeLogPath();
  const ChangeLogContents log = ReadChangeLog(path);
  if (!log.damage.isEmpty())
    throw CliFailure{QStringLiteral("журнал изменений повреждён (%1): %2; следующий запуск watch отложит его")
                         .arg(log.damage, QDir::toNativeSeparators(path))};
  QByteArray out;
  for (const ChangeEntry& entry : NewestFirst(log.entries)) {
    if (!satellite.isEmpty() && entry.satellite != satellite) continue;
    if (o.json) out += ChangeEntryJson(entry) + '\n';
    else out += (out.isEmpty() ? QByteArray() : QByteArray("\n")) + ChangeEntryText(entry);
  }
  WriteOut(out);
  std::fflush(stdout);
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
      "  scan SAT SAT... | --all      несколько спутников или все 18, с теми же параметрами;\n"
      "                               итог: строка на спутник, в порядке каталога\n"
      "                               several satellites or all 18, same options;\n"
      "                               a summary line per satellite, in catalogue order\n"
      "      --jobs N                 загрузок одновременно (1..18, по умолчанию 4)\n"
      "                               charts downloaded at once (1..18, default 4)\n"
      "      --out DIR                экспорт каждого спутника в DIR/<спутник>.csv\n"
      "                               each satellite's export to DIR/<satellite>.csv\n"
      "      --json                   JSON Lines вместо таблицы (и для одного спутника) /\n"
      "                               JSON Lines instead of the table (also for one satellite);\n"
      "                               поля / fields: satellite, position, rows, new, gone,\n"
      "                               status (ok | no-previous | failed), result, saved;\n"
      "                               new, gone: null без --compare / null without --compare;\n"
      "                               saved: путь, если таблица записана / path when written\n"
      "  show SATELLITE [--ntv] [--tri]  сохранённая таблица, с фильтром пакетов\n"
      "                               the saved table, with the package filter\n"
      "      --notify                 (scan с --compare) уведомление на рабочем столе о каждом изменении\n"
      "                               (scan with --compare) a desktop notification per changed satellite\n"
      "  watch [--notify] [--lang CODES]  наблюдаемые спутники: сканирование, сравнение, сохранение,\n"
      "                               запись в журнал изменений; языки — из MyIni.ini, если нет --lang\n"
      "                               the watched satellites: scan, compare, save and log the changes;\n"
      "                               languages from MyIni.ini unless --lang\n"
      "  watch --add SAT | --remove SAT | --list   список наблюдения / the watch list\n"
      "  changes [SATELLITE] [--json]  журнал изменений, новые сверху / the change log, newest first\n"
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
      "2 — ошибка / error. Для нескольких спутников: 2, если хоть один не удался; иначе 1, если\n"
      "хоть один изменился (или у него нет более ранних записей); иначе 0.\n"
      "Several satellites: 2 when any failed, else 1 when any changed (or had no saved table), else 0.\n");
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
    // What a killed run left in the tool's folder goes before this run adds its own.
    if (o.command == u"scan" || o.command == u"watch") RemoveStaleLitter();
    if (o.command == u"list") return ListCommand(o);
    if (o.command == u"scan") return ScanCommand(o);
    if (o.command == u"show") return ShowCommand(o);
    if (o.command == u"watch") return WatchCommand(o);
    if (o.command == u"changes") return ChangesCommand(o);
    if (o.command.isEmpty()) throw CliFailure{QStringLiteral("не указана команда (tevrin-cli --help)")};
    throw CliFailure{QStringLiteral("неизвестная команда \"%1\" (tevrin-cli --help)").arg(o.command)};
  } catch (const CliFailure& failure) {
    PrintError(failure.text);
  } catch (const std::exception& e) {
    PrintError(ErrorDisplayText(e));
  } catch (...) {
    PrintError(QStringLiteral("неизвестная ошибка"));
  }
  return kExitError;
}

}  // namespace tevrin::cli
