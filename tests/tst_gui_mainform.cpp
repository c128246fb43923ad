#include "app/errors.h"
#include "app/gui/fonts.h"
#include "app/gui/hints.h"
#include "app/gui/mainform.h"
#include "app/gui/sessionend.h"
#include "app/gui/skin.h"
#include "app/gui/textfit.h"
#include "scan/catalogue.h"
#include "support/testsupport.h"
#include "table/channeltable.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QToolTip>
#include <QtTest>

#include <functional>

using namespace tevrin;

namespace {
ChannelRow Channel(const QString& name) {
  ChannelRow r;
  r.subItems = {"0", "11804 V", name, "rus", "MPEG-2", "FTA"};
  return r;
}
QRect InWindow(QWidget* control, QWidget* window) {
  return QRect(control->mapTo(window, QPoint(0, 0)), control->size());
}

// Runs the event loop until something ends it; 7 after 30 s, as only a
// refused end request would leave it running.
int ExecUntilEnded() {
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::exit(7); });
  deadline.start(30000);
  return QCoreApplication::exec();
}

// What a screen reader announces for each control it reaches in `window`:
// "role name" for every shown leaf and table. Qt names a control without
// a name of its own after the caption of the group box around it.
QStringList Announced(QWidget* window) {
  QStringList out;
  std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
    for (int i = 0; i < node->childCount(); ++i) {
      QAccessibleInterface* child = node->child(i);
      if (!child || child->state().invisible) continue;
      const bool table = child->role() == QAccessible::Table;
      if (table || child->childCount() == 0)
        out << QString("%1 %2").arg(qAccessibleRoleString(child->role()), child->text(QAccessible::Name));
      if (!table) walk(child);
    }
  };
  walk(QAccessible::queryAccessibleInterface(window));
  return out;
}

// A top-level window that will not close, as the banner's embedded one would not.
class StubbornWindow : public QWidget {
 protected:
  void closeEvent(QCloseEvent* event) override { event->ignore(); }
};
}  // namespace

class TstGuiMainForm : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { InstallHintTiming(); }

  void initialStateOfTheControls() {
    test::TempExeDir home;
    test::RecordingMessages boxes;
    TMainF w;
    QCOMPARE(w.windowTitle(), QString("Tevrin  v1.04b"));
    QVERIFY(w.BitBtnGo->isEnabled());
    QVERIFY(w.BitBtnOpen->isEnabled());
    QVERIFY(!w.BitBtnSave->isEnabled());
    QVERIFY(!w.BitBtnExp->isEnabled());
    QVERIFY(!w.CheckBoxNTV->isEnabled());
    QVERIFY(!w.CheckBoxTri->isEnabled());
    QVERIFY(!w.EditOther->isEnabled());
    QCOMPARE(w.editOtherColor(), QColor(Qt::white));
    QVERIFY(w.CheckBoxRus->isChecked());
    QVERIFY(!w.CheckBoxUkr->isChecked() && !w.CheckBoxBel->isChecked() && !w.CheckBoxOth->isChecked());
    QCOMPARE(w.CmbBoxURL->count(), kSatelliteCount);
    QCOMPARE(w.CmbBoxURL->currentText(), QString("Выберите спутник"));
    QCOMPARE(w.CmbBoxURL->itemText(5), QString("Hot Bird 13.0°E"));
    QCOMPARE(w.sComboBoxColor->currentText(), QString("Панель"));
    QCOMPARE(SkinSection(w.ListViewNew), QString("PANEL"));
    QCOMPARE(w.GroupBoxTabl->title(), QString());
    QCOMPARE(w.GroupBox1->title(), QString("Критерии поиска"));
    QCOMPARE(w.BitBtnGo->text(), QString("Cканирование"));
    QCOMPARE(w.BitBtnGo->text().at(0), QChar('C'));  // the Latin capital C
    QCOMPARE(w.EditOther->maxLength(), 3);
    QVERIFY(w.Button1->isHidden());
    QVERIFY(w.ListViewOld->isHidden());
    QVERIFY(w.sPanel1->isHidden());
    QCOMPARE(w.table().count(), 0);
    QCOMPARE(w.PopupMenuListNew->actions().size(), 2);
    QCOMPARE(w.N1->text(), QString("Добавить"));
    QCOMPARE(w.N2->text(), QString("Удалить"));
    QVERIFY(w.ListViewNew->font().bold());
    QCOMPARE(w.CmbBoxURL->font().pixelSize(), 15);
    QVERIFY(boxes.boxes.isEmpty());
  }

  // The terminate request after a failed download closes the window as the
  // user would and ends the event loop, even while another window refuses to
  // close (a plain quit() is refused then).
  void terminateRequestCannotBeRefused() {
    test::TempExeDir home;
    StubbornWindow stubborn;
    stubborn.show();
    int status = -1;
    {
      TMainF w;
      w.show();
      QTimer::singleShot(0, &w, [&w] { w.terminateTool(); });
      status = ExecUntilEnded();
      QVERIFY(!w.isVisible());
    }
    QCOMPARE(status, 0);
    QVERIFY(stubborn.isVisible());
    QVERIFY(test::ReadBytes(home.file("MyIni.ini")).contains("[Size]"));
  }

  // The session manager saves at every checkpoint, not only before a logout:
  // its save request writes the settings and leaves the window open. The end
  // of the session reaches the tool as a quit request, which no other window
  // may refuse.
  void checkpointKeepsTheWindowAndTheSessionsEndEndsIt() {
    test::TempExeDir home;
    StubbornWindow stubborn;
    stubborn.show();
    int status = -1;
    {
      TMainF w;
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      w.CheckBoxUkr->setChecked(true);
      auto* session = new SessionEnd(w);
      session->commitData();
      QVERIFY(w.isVisible());
      QVERIFY(test::ReadBytes(home.file("MyIni.ini")).contains("Ukr=1"));

      w.CheckBoxBel->setChecked(true);
      QTimer::singleShot(0, &w, [] { QCoreApplication::quit(); });
      status = ExecUntilEnded();
      QVERIFY(!w.isVisible());
    }
    QCOMPARE(status, 0);
    QVERIFY(test::ReadBytes(home.file("MyIni.ini")).contains("Bel=1"));
  }

  // In the fonts the layout was measured with, no caption is cut: not a
  // label, box, button, table header or any satellite of the list.
  void everyCaptionFitsInTheDesignedFonts() {
    if (InstalledFamily(kSansFamily) != "Liberation Sans" && InstalledFamily(kSansFamily) != kSansFamily)
      QSKIP("the layout's fonts or their metric twins are not installed");
    test::TempExeDir home;
    TMainF w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QList<TextFit> fits = MeasureTexts(w);
    QStringList names;
    for (const TextFit& fit : fits) {
      names << fit.control;
      QVERIFY2(!fit.cut(), qPrintable(DescribeFit(fit)));
    }
    for (const char* name : {"Label1", "Label2", "sLabel1", "LabelURL", "CheckBoxFilterON", "CheckBoxTri",
                             "BitBtnGo", "BitBtnSave", "GroupBox1", "ListViewNew:7"})
      QVERIFY2(names.contains(name), name);
    QCOMPARE(names.count("CmbBoxURL"), kSatelliteCount);
    QVERIFY(!names.contains("Button1"));  // never shown
  }

  void aCaptionTooWideOrPastItsBoxIsCut() {
    test::TempExeDir home;
    TMainF w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const auto fitOf = [&w](const QString& control, const QString& text) {
      for (const TextFit& fit : MeasureTexts(w))
        if (fit.control == control && fit.text == text) return fit;
      return TextFit{};
    };
    const int needed = fitOf("Label1", w.Label1->text()).textRect.width();
    w.Label1->resize(needed - 1, w.Label1->height());
    QVERIFY(fitOf("Label1", w.Label1->text()).cut());
    w.Label1->resize(needed, w.Label1->height());
    QVERIFY(!fitOf("Label1", w.Label1->text()).cut());
    // Centred in a label wider than its group box shows: the end runs past it.
    w.LabelURL->setText("http://192.168.100.1:8399");
    QVERIFY(fitOf("LabelURL", w.LabelURL->text()).cut());
    QVERIFY(fitOf("LabelURL", w.LabelURL->text()).textRect.width() <= w.LabelURL->width());
    w.CheckBoxTri->setText("Триколор ТВ Сибирь");
    QVERIFY(fitOf("CheckBoxTri", w.CheckBoxTri->text()).cut());
    w.ListViewNew->horizontalHeader()->resizeSection(2, 20);
    QVERIFY(fitOf("ListViewNew:2", "Транспондер").cut());
    QVERIFY(!fitOf("ListViewNew:1", "№").cut());
  }

  void designedFontsOrTheirMetricTwins() {
    test::TempExeDir home;
    TMainF w;
    // As drawn: polishing a control can change its font.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.CheckBoxOth->click();  // the edit box's colour changes through its own style sheet
    const QString serif = InstalledFamily(kSerifFamily), sans = InstalledFamily(kSansFamily);
    QVERIFY2(serif == "Times New Roman" || serif == "Liberation Serif", qPrintable(serif));
    QVERIFY2(sans == "MS Sans Serif" || sans == "Liberation Sans", qPrintable(sans));
    // What is drawn is that family, not whatever fontconfig offers instead.
    // Serif bold: the table, the satellite list and the group boxes' captions.
    for (QWidget* control : QList<QWidget*>{w.ListViewNew, w.CmbBoxURL, w.GroupBox1, w.GroupBoxTabl}) {
      QCOMPARE(QFontInfo(control->font()).family(), serif);
      QVERIFY(control->font().bold());
    }
    // Every other control has the window's font, not its group box's.
    const QList<QWidget*> windowFont = {
        w.Label1,      w.Label2,      w.sLabel1,       w.LabelURL,    &w,
        w.CheckBoxRus, w.CheckBoxUkr, w.CheckBoxBel,   w.CheckBoxOth, w.EditOther,
        w.CheckBoxNTV, w.CheckBoxTri, w.BitBtnGo,      w.BitBtnExp,   w.CheckBoxFilterON,
        w.BitBtnSave,  w.BitBtnOpen,  w.sComboBoxColor};
    for (QWidget* control : windowFont) {
      QCOMPARE(QFontInfo(control->font()).family(), sans);
      QVERIFY2(!control->font().bold(), qPrintable(control->objectName()));
      QCOMPARE(control->font().pixelSize(), 11);
    }
    QCOMPARE(w.GroupBox1->font().pixelSize(), 11);  // the box takes only the family from the layout
  }

  void satelliteListOpensFourteenHighAndWideEnough() {
    test::TempExeDir home;
    TMainF w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.CmbBoxURL->showPopup();
    QAbstractItemView* list = w.CmbBoxURL->view();
    QTRY_VERIFY(list->isVisible());
    // Fourteen entries in view, the other five behind the scroll bar.
    QCOMPARE(list->indexAt(QPoint(5, 2)).row(), 0);
    QCOMPARE(list->indexAt(QPoint(5, list->viewport()->height() - 2)).row(), 13);
    QVERIFY(list->verticalScrollBar()->isVisible());
    // The longest entry stands whole, right of it still the scroll bar.
    const QFontMetrics metrics(list->font());
    int widest = 0;
    for (int i = 0; i < w.CmbBoxURL->count(); ++i)
      widest = std::max(widest, metrics.horizontalAdvance(w.CmbBoxURL->itemText(i)));
    QVERIFY2(list->viewport()->width() > widest, qPrintable(QString::number(list->viewport()->width())));
    QVERIFY(list->visualRect(w.CmbBoxURL->model()->index(18, 0)).width() > widest);
    w.CmbBoxURL->hidePopup();
  }

  void hintsAndTheirTiming() {
    test::TempExeDir home;
    TMainF w;
    QCOMPARE(w.style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), kHintPauseMs);
    const QList<QPair<QWidget*, QString>> hints = {
        {w.CmbBoxURL, "Список спутников"},   {w.CheckBoxRus, "Русские"},
        {w.CheckBoxUkr, "Украинские"},       {w.CheckBoxBel, "Белорусские"},
        {w.CheckBoxOth, "Другой язык"},      {w.EditOther, "Здесь можно указать любой другой язык"},
        {w.LabelURL, "Перейти на сайт"},     {w.BitBtnExp, "Экспортировать в файл"},
        {w.BitBtnSave, "Сохранить таблицу"}, {w.BitBtnOpen, "Сравнить эти значения с предыдущими"}};
    for (const auto& [control, text] : hints) QCOMPARE(control->toolTip(), text);
    QVERIFY(w.BitBtnGo->toolTip().isEmpty());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QHelpEvent event(QEvent::ToolTip, QPoint(5, 5), w.CheckBoxRus->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(w.CheckBoxRus, &event);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), QString("Русские"));
    QToolTip::hideText();
  }

  void designedGeometryAndMinimumSize() {
    test::TempExeDir home;
    TMainF w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.size(), QSize(850, 416));
    const QImage shot = w.grab().toImage();
    QCOMPARE(shot.size(), QSize(850, 416) * shot.devicePixelRatio());
    QCOMPARE(InWindow(w.GroupBox1, &w), QRect(0, 0, 169, 416));
    QCOMPARE(InWindow(w.GroupBoxTabl, &w), QRect(169, 0, 681, 416));
    QCOMPARE(InWindow(w.CmbBoxURL, &w), QRect(3, 40, 162, 22));
    QCOMPARE(InWindow(w.BitBtnGo, &w), QRect(12, 372, 153, 36));
    QCOMPARE(InWindow(w.ProgressBarReadCash, &w), QRect(11, 351, 152, 15));
    QCOMPARE(w.Panel1->height(), 92);
    QCOMPARE(InWindow(w.Panel1, &w).bottom(), 416 - 3);
    QCOMPARE(w.sPanel1->width(), 362);
    QCOMPARE(InWindow(w.sPanel1, &w).right(), InWindow(w.Panel1, &w).right());
    QCOMPARE(InWindow(w.BitBtnSave, &w).topLeft(), InWindow(w.Panel1, &w).topLeft() + QPoint(9, 50));

    // Taller and wider: the left box keeps its width, the bottom controls follow.
    w.resize(1000, 600);
    QCOMPARE(InWindow(w.GroupBox1, &w), QRect(0, 0, 169, 600));
    QCOMPARE(InWindow(w.BitBtnGo, &w), QRect(12, 372 + 184, 153, 36));
    QCOMPARE(w.GroupBoxTabl->width(), 1000 - 169);
    QCOMPARE(w.Panel1->height(), 92);
    QCOMPARE(w.ListViewNew->height(), 600 - 15 - 92 - 2);

    // No smaller than the minimum outer size.
    w.resize(100, 100);
    const QSize outer = w.frameGeometry().size();
    QCOMPARE(outer, QSize(587, 347));
    QCOMPARE(w.GroupBox1->width(), 169);
    QCOMPARE(w.GroupBoxTabl->width(), w.width() - 169);
  }

  void columnsOfTheTable() {
    test::TempExeDir home;
    TMainF w;
    QHeaderView* header = w.ListViewNew->horizontalHeader();
    QVERIFY(w.ListViewNew->isColumnHidden(0));
    const QStringList captions = {"###",   "№",     "Транспондер", "Наименование канала",
                                  "Аудио", "Video", "Кодировка",   "Примечание"};
    for (int c = 0; c < 8; ++c)
      QCOMPARE(w.table().headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), captions[c]);
    QCOMPARE(header->sectionSize(1), 40);
    QCOMPARE(header->sectionSize(2), 140);
    QCOMPARE(header->sectionSize(3), 195);
    QCOMPARE(header->sectionSize(6), 120);
    header->resizeSection(5, 80);  // "Video" is 45 at most
    QCOMPARE(header->sectionSize(5), 45);
    header->resizeSection(3, 10);  // the name is 150 at least
    QCOMPARE(header->sectionSize(3), 150);
    QCOMPARE(w.ListViewNew->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(w.ListViewNew->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(w.ListViewNew->editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(w.ListViewNew->showGrid());
  }

  void headerClicksSortAndRenumber() {
    test::TempExeDir home;
    TMainF w;
    for (const char* n : {"b", "B", "a", "Б"}) w.table().appendRow(Channel(QString::fromUtf8(n)));
    emit w.ListViewNew->horizontalHeader()->sectionClicked(3);
    QStringList names, numbers;
    for (const ChannelRow& r : w.table().rows()) {
      names << r.subItem(kSubName);
      numbers << r.subItem(kSubNumber);
    }
    QCOMPARE(names, QStringList({"B", "a", "b", "Б"}));
    QCOMPARE(numbers, QStringList({"1", "2", "3", "4"}));
  }

  void handEditsThroughTheMenu() {
    test::TempExeDir home;
    TMainF w;
    for (const char* n : {"a", "b", "c"}) w.table().appendRow(Channel(n));
    w.table().renumber();
    w.N1->trigger();  // no row selected: nothing
    w.N2->trigger();
    QCOMPARE(w.table().count(), 3);
    QVERIFY(!w.BitBtnSave->isEnabled());

    w.ListViewNew->selectRow(1);
    w.N2->trigger();
    QCOMPARE(w.table().count(), 2);
    QVERIFY(w.BitBtnSave->isEnabled());
    QCOMPARE(w.table().row(1).subItem(kSubNumber), QString("3"));

    w.BitBtnSave->setEnabled(false);
    w.ListViewNew->selectRow(0);
    w.N1->trigger();
    QCOMPARE(w.table().count(), 3);
    QCOMPARE(w.table().row(2).subItems, QStringList({"3", "Тр.новый", "Им.новый", "---"}));
    QVERIFY(!w.BitBtnSave->isEnabled());  // adding never changes it
  }

  void everyControlIsAnnouncedByANameOfItsOwn() {
    test::TempExeDir home;
    TMainF w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QStringList announced = Announced(&w);
    QVERIFY(announced.size() > 20);  // every label, box, picture, line and button
    for (const QString& control : announced) {
      QVERIFY2(!control.endsWith(' '), qPrintable("no name: " + control));
      QVERIFY2(!control.endsWith(' ' + w.GroupBox1->title()),
               qPrintable("only its group's name: " + control));
    }
    // Where a control has no caption, its hint names it; the captions stay.
    QVERIFY(announced.contains("CheckBox Другой язык"));
    QVERIFY(announced.contains("EditableText Здесь можно указать любой другой язык"));
    QVERIFY(w.CheckBoxOth->text().isEmpty());
    // The table is the channels, then the satellite the scan names above it.
    QVERIFY(announced.contains("Table Каналы"));
    QVERIFY(w.GroupBoxTabl->title().isEmpty());
    w.GroupBoxTabl->setTitle(QStringLiteral("Hot Bird 13.0°E"));
    w.ListViewNewColumnClick(2);  // how every scan ends, rows or none
    QVERIFY(Announced(&w).contains("Table Hot Bird 13.0°E"));
  }

  void threeDistinctTableBackgrounds() {
    test::TempExeDir home;
    TMainF w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto background = [&] {
      const QImage image = w.ListViewNew->viewport()->grab().toImage();
      return image.pixelColor(image.width() / 2, image.height() - 5);
    };
    QList<QColor> looks;
    const QStringList sections = {"EDIT", "PANEL", "FORM"};
    for (int entry : {0, 1, 2}) {
      w.sComboBoxColor->setCurrentIndex(entry);
      QCOMPARE(SkinSection(w.ListViewNew), sections[entry]);
      looks << background();
    }
    QVERIFY(looks[0] != looks[1] && looks[1] != looks[2] && looks[0] != looks[2]);
    w.sComboBoxColor->setCurrentIndex(1);
    QCOMPARE(background(), looks[1]);
  }
};

QTEST_MAIN(TstGuiMainForm)
#include "tst_gui_mainform.moc"
