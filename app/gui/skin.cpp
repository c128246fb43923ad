#include "app/gui/skin.h"

#include <QStyle>
#include <QVariant>
#include <QWidget>

namespace tevrin {
namespace {

QString BuiltInSkin() {
  // Three table looks must differ at a glance: white edit field, the pale blue
  // panel, the warm window background.
  return QStringLiteral(R"(
    [skinSection="FORM"] { background-color: #ece7da; }
    QLabel#Label1, QLabel#Label2, QLabel#sLabel1, QLabel#LabelURL { color: black; background: transparent; }
    QGroupBox[skinSection="GROUPBOX"] {
      border: 1px solid #7f9db9; border-radius: 3px; margin-top: 7px; background-color: #ece7da; }
    QGroupBox[skinSection="GROUPBOX"]::title { subcontrol-origin: margin; left: 8px; padding: 0 2px; color: #1c3d6e; }
    QCheckBox[skinSection="CHECKBOX"]::indicator { width: 12px; height: 12px; border: 1px solid #5d7fa8; background: white; }
    QCheckBox[skinSection="CHECKBOX"]::indicator:checked { image: url(:/images/check.svg); }
    QCheckBox[skinSection="CHECKBOX"]::indicator:disabled { background: #e4e4e4; border-color: #b5b5b5; }
    QFrame[skinSection="CHECKBOX"] { background-color: #acdde9; }
    QLineEdit[skinSection="EDIT"] { border: 1px solid #7f9db9; color: black; }
    QComboBox[skinSection="COMBOBOX"] {
      border: 1px solid #7f9db9; background: white; color: black; padding-left: 1px; combobox-popup: 0; }
    QComboBox[skinSection="COMBOBOX"]::drop-down { width: 12px; border-left: 1px solid #7f9db9; }
    QComboBox[skinSection="COMBOBOX"]::down-arrow { image: url(:/images/combo_arrow.svg); width: 7px; height: 4px; }
    QPushButton[skinSection="BUTTON"] {
      border: 1px solid #5d7fa8; border-radius: 3px; color: black;
      background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fdfdfd, stop:1 #d6e2ef); }
    QPushButton[skinSection="BUTTON"]:hover { background: #e6f0fa; }
    QPushButton[skinSection="BUTTON"]:pressed { background: #c2d5ea; }
    QPushButton[skinSection="BUTTON"]:disabled { color: #8a8a8a; background: #e4e4e4; border-color: #b5b5b5; }
    QProgressBar[skinSection="GAUGE"] { border: 1px solid #7f9db9; background: white; }
    QProgressBar[skinSection="GAUGE"]::chunk { background-color: #3d7cc9; }
    QFrame[skinSection="PANEL"] { background-color: #c6d8e8; }
    QTableView[skinSection="EDIT"] { background-color: #ffffff; gridline-color: #c0c0c0; }
    QTableView[skinSection="PANEL"] { background-color: #c6d8e8; gridline-color: #8fa9c2; }
    QTableView[skinSection="FORM"] { background-color: #ece7da; gridline-color: #b7ad94; }
    QMenu[skinSection="ICOLINE"] { background-color: white; border: 1px solid #7f9db9; }
    QMenu[skinSection="ICOLINE"]::item { padding: 3px 16px 3px 24px; }
    QMenu[skinSection="ICOLINE"]::item:selected { background-color: #c2d5ea; color: black; }
  )");
}

}  // namespace

void ApplySkin(QWidget* window) { window->setStyleSheet(BuiltInSkin()); }

void SetSkinSection(QWidget* control, const QString& section) {
  control->setProperty("skinSection", section);
  control->style()->unpolish(control);
  control->style()->polish(control);
  control->update();
}

QString SkinSection(const QWidget* control) { return control->property("skinSection").toString(); }

}  // namespace tevrin
