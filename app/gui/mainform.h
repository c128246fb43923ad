#pragma once
#include "app/gui/x11frameevents.h"
#include "app/settings.h"
#include "app/windowplacement.h"
#include "table/records.h"

#include <QMargins>
#include <QRect>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QProgressBar;
class QPushButton;
class QTableView;

namespace Ui {
class TMainF;
}  // namespace Ui

namespace tevrin {

class BannerView;
class ChannelTableModel;
class TFormLoadURL;
struct PackageFilter;

// The main window: every control of the tool and its handlers. The handlers
// are thin: the rules live in the core library.
class TMainF : public QWidget {
  Q_OBJECT
 public:
  explicit TMainF(QWidget* parent = nullptr);
  ~TMainF() override;  // runs FormDestroy

  void setFormLoadURL(TFormLoadURL* form) { FormLoadURL = form; }

  // What a failed download ends the tool with, after the window's normal
  // close; tests replace it.
  static std::function<void()>& TerminateHook();
  // The application's terminate request: closes the window and ends the
  // event loop, whatever other window is up. It cannot be refused.
  void terminateTool();
  // Writes the settings as a close would, and keeps the window open: what the
  // session manager asks for before a logout and at a checkpoint.
  void commitSettings();
  bool scanning() const { return scanning_; }
  ChannelTableModel& table() const { return *model_; }
  BannerView& banner() const { return *banner_; }
  QColor editOtherColor() const { return editOtherColor_; }
  int selectedRow() const;  // -1 when no row is selected

  // Controls, by their names in the layout.
  QGroupBox* GroupBox1;
  QGroupBox* GroupBoxTabl;
  QLabel* Label1;
  QComboBox* CmbBoxURL;
  QLabel* Label2;
  QLabel* sLabel1;
  QCheckBox* CheckBoxRus;
  QCheckBox* CheckBoxUkr;
  QCheckBox* CheckBoxBel;
  QCheckBox* CheckBoxOth;
  QLineEdit* EditOther;
  QComboBox* sComboBoxColor;
  QLabel* Image1;
  QLabel* Image2;
  QLabel* Image3;
  QLabel* Image4;
  QCheckBox* CheckBoxFilterON;
  QCheckBox* CheckBoxNTV;
  QCheckBox* CheckBoxTri;
  QLabel* LabelURL;
  QFrame* Bevel4;
  QProgressBar* ProgressBarReadCash;
  QPushButton* BitBtnGo;
  QTableView* ListViewOld;
  QTableView* ListViewNew;
  QFrame* Panel1;
  QPushButton* BitBtnExp;
  QPushButton* BitBtnSave;
  QPushButton* BitBtnOpen;
  QFrame* Bevel3;
  QPushButton* Button1;
  QFrame* sPanel1;
  QMenu* PopupMenuListNew;
  QAction* N1;
  QAction* N2;
  TFormLoadURL* FormLoadURL = nullptr;

  // Handlers.
  void FormCreate();
  void FormDestroy();
  void BitBtnGoClick();
  void CmbBoxURLChange();
  void CheckBoxFilterONClick();
  void CheckBoxNTVClick();
  void CheckBoxTriClick();
  void CheckBoxOthClick();
  void ListViewNewColumnClick(int column);
  void N1Click();
  void N2Click();
  void sComboBoxColorChange();
  void BitBtnSaveClick();
  void BitBtnOpenClick();
  void BitBtnExpClick();
  void Button1Click();
  void WebBrowser1BeforeNavigate2();
  void WebBrowser1NavigateComplete2();
  void WebBrowser1DocumentComplete();
  void WebBrowser1NavigateError();
  void StyleBannerPage();
  void LabelURLMouseEnter();
  void LabelURLMouseLeave();
  void LabelURLClick();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void setUpControls();
  void setUpTable();
  void nameTheTable();
  void connectHandlers();
  void arrangeControls();
  QMargins currentFrameMargins() const;
  QRect currentOuterBounds() const;
  void startPlacement();
  void applyPlacement(const WindowPlacement::Request& request);
  void settlePlacement();
  void onWindowManagerEvent(X11FrameEvents::Event event, bool frameKnown);
  void giveControlsTheWindowFont();
  void setUpSatelliteList();
  bool runAfterScan(const std::function<void()>& handler);  // false: refused, a scan runs
  void loadStoredView();
  PackageFilter packageFilter() const;
  QRect outerBoundsForSaving() const;
  WindowSettings settingsToKeep(const QRect& outerBounds) const;

  Ui::TMainF* ui_;
  ChannelTableModel* model_;
  std::unique_ptr<BannerView> banner_;
  std::vector<SavedRecord> previousTable_;  // what ListViewOld holds: the last compared saved table
  QColor editOtherColor_;
  std::unique_ptr<WindowPlacement> placement_;
  std::unique_ptr<X11FrameEvents> x11Events_;
  bool waitingForExpose_ = false;
  bool firstShow_ = true;
  QRect closedOuterBounds_;  // the bounds at the close request
  bool closing_ = false;
  bool scanning_ = false;
  bool destroyed_ = false;
};

}  // namespace tevrin
