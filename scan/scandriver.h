#pragma once
#include <QString>

namespace tevrin {

class ChannelTableModel;
class ChartParserHost;
class IBindStatusCallback;

inline const QString kNoLanguageText = QStringLiteral("Не выбран ни один из языков.");
// Each \r is a line break of the message box; the indents are part of the text.
inline const QString kDownloadErrorText = QStringLiteral(
    "                        Невозможно загрузить страницу.\r\r"
    "  Возможно не установлено соединение с Internet или сайт недоступен.\r"
    "            (проверьте настройки соединения в Internet Explorer)");

enum class ScanResult { Completed, DownloadFailed, DocumentFailed };

// Whether any of the four language boxes is ticked.
bool AnyLanguageTicked(ChartParserHost& host);

// The part of a scan that needs no window: empties the table inside its bulk
// bracket, fetches the satellite's chart into cache.txt beside the executable,
// reads and deletes it, parses it into the table, closes the bracket (also when
// an error leaves) and sorts by "Транспондер". `index` is 1..18. A scratch
// file that cannot be created or written throws TevrinError with the
// system's text; a failed transfer gives DownloadFailed.
ScanResult RunChartScan(int index, ChannelTableModel& table, ChartParserHost& host,
                        IBindStatusCallback* callback);

// The same scan for a page that is already downloaded into `scratch` (the
// batch fetches pages on worker threads): empties the table, reads and deletes
// the file, parses and sorts.
ScanResult ScanDownloadedChart(const QString& scratch, ChannelTableModel& table, ChartParserHost& host);

}  // namespace tevrin
