#pragma once
#include <QString>
#include <QtGlobal>

namespace tevrin {

class ChannelTableModel;

enum class Language { Rus, Ukr, Bel, Other };

// What the parser needs of the window (or of the command line).
class ChartParserHost {
 public:
  virtual ~ChartParserHost() = default;
  virtual bool isTicked(Language language) = 0;  // read at the moment each window is tested
  virtual QString otherLanguageText() = 0;       // the text of EditOther
  virtual void setProgressMaximum(int maximum) { Q_UNUSED(maximum); }  // position reset to 0
  virtual void stepProgress() {}                                       // +1 per TR
  virtual void enableSave() {}                                         // after every appended row
  virtual void processEvents() {}                                      // after every TR
  // While the page's tree is built (on another thread; processEvents is then
  // called about every 10 ms): the progress shows that something is going on.
  virtual void showBusy(bool busy) { Q_UNUSED(busy); }
};

// Cell text without line breaks: CR becomes ".", LF is dropped.
QString CleanCellText(const QString& text);

// Whether any three-character window of the audio text is a ticked language
// code. Exact and case-sensitive; the host is asked afresh for every window.
bool IsWantedLanguage(const QString& audio, ChartParserHost& host);

inline const QString kDocumentErrorText = QStringLiteral("Ошибка создания IHTMLDocument2");

// Appends the accepted channels of a chart page to the end of the table (the
// caller has emptied it and opened its bulk bracket). Returns false when no
// document can be made of the page (it is over the size limit, its tree over
// the bounds of htmltree.h, or the HTML parser gives nothing) or its rows
// take longer to walk than those bounds allow (the rows appended stay), after the
// message "Ошибка создания IHTMLDocument2"; and without a message when the scan
// is cancelled (ScanCancel) while the tree is built or the rows are walked.
bool ParseChartPage(const QString& pageText, ChannelTableModel& table, ChartParserHost& host);

// The largest page text, in UTF-8 bytes, that the parser takes: 64 MiB unless
// lowered (the tests do).
void SetMaxPageTextBytes(qint64 bytes);
qint64 MaxPageTextBytes();

}  // namespace tevrin
