#pragma once
#include "table/channeltable.h"
#include "table/records.h"
#include "table/storedview.h"

#include <QDate>
#include <QString>
#include <vector>

namespace tevrin {

inline const QString kNoScanText = QStringLiteral("Вы не произвели сканирование каналов.");

QString NoPreviousTableText(const QString& satellite);
QString ExportDoneText(const QString& path);

// "Сохранить". Returns true when the table was written (the window then
// disables the button). An empty table does nothing; before any scan the
// caption is empty and the user is told so; an existing file is replaced only
// after a Yes. Write failures propagate as TevrinError.
bool SaveTableAction(const QString& groupCaption, const ChannelTableModel& table, const QDate& today);

// "Сравнить": reads the saved table of the scanned satellite into `previous`,
// marks the differences in `table`, repaints it and reports the count.
void CompareAction(const QString& groupCaption, ChannelTableModel& table, std::vector<SavedRecord>& previous);

// A satellite chosen in the combo box or a package box changed: the saved
// table of that satellite, silently empty when there is none.
void StoredViewAction(const QString& comboText, const PackageFilter& filter, ChannelTableModel& table);

// "Экспорт": writes exsport.csv beside the executable and names it.
void ExportAction(const ChannelTableModel& table);

}  // namespace tevrin
