#include "app/gui/mainform.h"

#include "app/errors.h"
#include "app/guard.h"
#include "app/gui/fonts.h"
#include "app/gui/pictures.h"
#include "app/gui/skin.h"
#include "app/messages.h"
#include "app/settings.h"
#include "scan/bundledsite.h"
#include "scan/catalogue.h"
#include "scan/chartparser.h"
#include "scan/gui/bindstatuscallback.h"
#include "scan/gui/formloadurl.h"
#include "scan/scancancel.h"
#include "scan/scandriver.h"
#include "table/channeltable.h"
#include "table/storedview.h"
#include "table/tableactions.h"
#include "ui_TMainF.h"
#include "web/banner.h"
#include "web/gui/bannerview.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <QTableView>
#include <QUrl>
#include <QWindow>

#include <memory>

// The pictures live in the window library; a static library must register them.
static void RegisterImages() { Q_INIT_RESOURCE(images); }

namespace tevrin {
namespace {

constexpr int kDesignedClientHeight = 416;
constexpr int kMinimumOuterWidth = 587;
constexpr int kMinimumOuterHeight = 347;
constexpr int kLeftBoxWidth = 169;
constexpr int kPanelHeight = 92;
constexpr int kBannerWidth = 362;

struct ColumnLimits {
  int width, minimum, maximum;  // maximum 0: none
};
// "###" holds the row mark and is never visible.
constexpr ColumnLimits kColumns[ChannelTableModel::kColumnCount] = {{0, 0, 1},     {40, 35, 40}, {140, 60, 0},
                                                                    {195, 150, 0}, {45, 45, 0},  {45, 45, 45},
                                                                    {120, 0, 0},   {20, 20, 0}};

// The language boxes and the progress of the window, as the parser sees them.
class WindowParserHost final : public ChartParserHost {
 public:
  explicit WindowParserHost(TMainF& window) : w_(window) {}
  bool isTicked(Language language) override {
    switch (language) {
      case Language::Rus: return w_.CheckBoxRus->isChecked();
      case Language::Ukr: return w_.CheckBoxUkr->isChecked();
      case Language::Bel: return w_.CheckBoxBel->isChecked();
      case Language::Other: return w_.CheckBoxOth->isChecked();
    }
    return false;
  }
  QString otherLanguageText() override { return w_.EditOther->text(); }
  void setProgressMaximum(int maximum) override {
    // A bar whose maximum equals its minimum is drawn busy: a page without
    // rows keeps a range of one and stands still at 0.
    w_.ProgressBarReadCash->setMaximum(std::max(maximum, 1));
    w_.ProgressBarReadCash->setValue(0);
  }
  void stepProgress() override { w_.ProgressBarReadCash->setValue(w_.ProgressBarReadCash->value() + 1); }
  void enableSave() override { w_.BitBtnSave->setEnabled(true); }
  void processEvents() override { QCoreApplication::processEvents(); }
  void showBusy(bool busy) override {
    // A bar with no range moves on its own.
    if (busy) maximumBeforeBusy_ = w_.ProgressBarReadCash->maximum();
    w_.ProgressBarReadCash->setMaximum(busy ? 0 : maximumBeforeBusy_);
  }

 private:
  TMainF& w_;
  int maximumBeforeBusy_ = 0;
};

QColor WindowBackgroundColour() { return QApplication::palette().color(QPalette::Base); }
QColor ButtonFaceColour() { return QApplication::palette().color(QPalette::Button); }

}  // namespace

// Ends the event loop outright. QCoreApplication::quit() would first ask every
// top-level window to close and give up at the first that does not: the
// banner's web view lives in a top-level widget embedded in the pane, whose
// window Qt refuses to close, so a quit while the banner is shown was refused
// whenever that widget came before the main window in Qt's (hash-ordered)
// list of windows.
std::function<void()>& TMainF::TerminateHook() {
  static std::function<void()> hook = [] { QCoreApplication::exit(0); };
  return hook;
}

void TMainF::terminateTool() {
  // The normal close first: the bounds are taken while the window is framed,
  // and FormDestroy writes the settings when the window is destroyed.
  close();
  TerminateHook()();
}

TMainF::TMainF(QWidget* parent) : QWidget(parent), ui_(new Ui::TMainF), model_(new ChannelTableModel(this)) {
  RegisterImages();
  // The form's font first: the controls measure their captions as they are made.
  setFont(DesignedFont(kSansFamily, 11));
  ui_->setupUi(this);
  setUpControls();
  setUpTable();
  giveControlsTheWindowFont();
  setUpSatelliteList();
  banner_ = std::make_unique<BannerView>(sPanel1);
  connectHandlers();
  ApplySkin(this);
  RunGuarded([this] { FormCreate(); });
}

TMainF::~TMainF() {
  if (!destroyed_) RunGuarded([this] { FormDestroy(); });
  delete ui_;
}

void TMainF::setUpControls() {
  GroupBox1 = ui_->GroupBox1;
  GroupBoxTabl = ui_->GroupBoxTabl;
  Label1 = ui_->Label1;
  CmbBoxURL = ui_->CmbBoxURL;
  Label2 = ui_->Label2;
  sLabel1 = ui_->sLabel1;
  CheckBoxRus = ui_->CheckBoxRus;
  CheckBoxUkr = ui_->CheckBoxUkr;
  CheckBoxBel = ui_->CheckBoxBel;
  CheckBoxOth = ui_->CheckBoxOth;
  EditOther = ui_->EditOther;
  sComboBoxColor = ui_->sComboBoxColor;
  Image1 = ui_->Image1;
  Image2 = ui_->Image2;
  Image3 = ui_->Image3;
  Image4 = ui_->Image4;
  CheckBoxFilterON = ui_->CheckBoxFilterON;
  CheckBoxNTV = ui_->CheckBoxNTV;
  CheckBoxTri = ui_->CheckBoxTri;
  LabelURL = ui_->LabelURL;
  Bevel4 = ui_->Bevel4;
  ProgressBarReadCash = ui_->ProgressBarReadCash;
  BitBtnGo = ui_->BitBtnGo;
  ListViewOld = ui_->ListViewOld;
  ListViewNew = ui_->ListViewNew;
  Panel1 = ui_->Panel1;
  BitBtnExp = ui_->BitBtnExp;
  BitBtnSave = ui_->BitBtnSave;
  BitBtnOpen = ui_->BitBtnOpen;
  Bevel3 = ui_->Bevel3;
  Button1 = ui_->Button1;
  sPanel1 = ui_->sPanel1;

  setWindowTitle(kAppTitle);
  setWindowIcon(SvgIcon(QStringLiteral(":/images/app_icon.svg"), QSize(64, 64)));
  GroupBox1->setFont(DesignedFamilyFont(kSerifFamily, true));
  GroupBoxTabl->setFont(DesignedFamilyFont(kSerifFamily, true));
  setMinimumSize(kMinimumOuterWidth, kMinimumOuterHeight);  // less the frame, once it is known

  for (QLabel* label : {Label1, Label2, sLabel1, LabelURL}) label->setFont(DesignedFont(kSansFamily, 11));
  CmbBoxURL->setFont(DesignedFont(kSerifFamily, 15, true));
  for (int i = 0; i < kSatelliteCount; ++i) CmbBoxURL->addItem(SatelliteName(i));
  CmbBoxURL->setCurrentIndex(0);
  sComboBoxColor->setCurrentIndex(1);

  Image2->setPixmap(SvgPixmap(QStringLiteral(":/images/flag_rus.svg"), QSize(18, 12)));
  Image3->setPixmap(SvgPixmap(QStringLiteral(":/images/flag_ukr.svg"), QSize(18, 12)));
  Image4->setPixmap(SvgPixmap(QStringLiteral(":/images/flag_bel.svg"), QSize(18, 12)));
  for (QLabel* flag : {Image2, Image3, Image4}) flag->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Image1->setPixmap(SvgPixmap(QStringLiteral(":/images/logo.svg"), QSize(300, 75)));
  LabelURL->setText(MakerSiteUrl());
  LabelURL->installEventFilter(this);

  BitBtnGo->setIcon(SvgIcon(QStringLiteral(":/images/btn_scan.svg"), BitBtnGo->iconSize()));
  BitBtnExp->setIcon(SvgIcon(QStringLiteral(":/images/btn_export.svg"), BitBtnExp->iconSize()));
  BitBtnSave->setIcon(SvgIcon(QStringLiteral(":/images/btn_save.svg"), BitBtnSave->iconSize()));
  BitBtnOpen->setIcon(SvgIcon(QStringLiteral(":/images/btn_compare.svg"), BitBtnOpen->iconSize()));

  editOtherColor_ = Qt::white;
  EditOther->setStyleSheet(QStringLiteral("background-color: white;"));

  PopupMenuListNew = new QMenu(this);
  PopupMenuListNew->setObjectName(QStringLiteral("PopupMenuListNew"));
  PopupMenuListNew->setProperty("skinSection", QStringLiteral("ICOLINE"));
  N1 = PopupMenuListNew->addAction(QStringLiteral("Добавить"));
  N1->setObjectName(QStringLiteral("N1"));
  N2 = PopupMenuListNew->addAction(QStringLiteral("Удалить"));
  N2->setObjectName(QStringLiteral("N2"));
}

// The group boxes' serif bold is for their captions: every control in them
// without a font of its own takes the window's font, not its box's. Set
// outright, because Qt's style sheet polish drops an inherited font (the edit
// box is repolished at every colour change).
void TMainF::giveControlsTheWindowFont() {
  for (QWidget* box : std::initializer_list<QWidget*>{GroupBox1, GroupBoxTabl, Panel1})
    for (QWidget* control : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (!control->testAttribute(Qt::WA_SetFont)) control->setFont(font());
}

// The satellite list opens below the box with 14 entries, then scrolls; it is
// as wide as its longest entry.
void TMainF::setUpSatelliteList() {
  CmbBoxURL->setMaxVisibleItems(14);
  QAbstractItemView* list = CmbBoxURL->view();
  // Made before the skin asked for a list below the box, the view still has
  // the scroll bar of a popup over it switched off.
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  list->setFont(CmbBoxURL->font());
  list->setTextElideMode(Qt::ElideNone);
  const QFontMetrics metrics(CmbBoxURL->font());
  int widest = 0;
  for (int i = 0; i < CmbBoxURL->count(); ++i)
    widest = std::max(widest, metrics.horizontalAdvance(CmbBoxURL->itemText(i)));
  const int textMargins = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
  const int scrollBar = list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
  list->setMinimumWidth(
      std::max(CmbBoxURL->width(), widest + 2 * textMargins + scrollBar + 2 * list->frameWidth()));
}

void TMainF::setUpTable() {
  static const QSize kCellImage(12, 12);
  static const QIcon images[] = {SvgIcon(QStringLiteral(":/images/tv.svg"), kCellImage),
                                 SvgIcon(QStringLiteral(":/images/free.svg"), kCellImage),
                                 SvgIcon(QStringLiteral(":/images/paid.svg"), kCellImage)};
  model_->setImageProvider([](int image) -> QVariant {
    if (image < 0 || image > 2) return {};
    return images[image];
  });
  ListViewNew->setModel(model_);
  ListViewNew->setFont(DesignedFont(kSerifFamily, 13, true));
  ListViewNew->setIconSize(kCellImage);
  ListViewNew->setShowGrid(true);
  ListViewNew->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListViewNew->setSelectionMode(QAbstractItemView::SingleSelection);
  ListViewNew->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListViewNew->setFrameShape(QFrame::NoFrame);
  ListViewNew->setWordWrap(false);
  ListViewNew->verticalHeader()->hide();
  ListViewNew->verticalHeader()->setDefaultSectionSize(17);
  ListViewNew->setContextMenuPolicy(Qt::CustomContextMenu);
  QHeaderView* header = ListViewNew->horizontalHeader();
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(false);
  header->setHighlightSections(false);
  header->setMinimumSectionSize(1);
  for (int c = 0; c < ChannelTableModel::kColumnCount; ++c) header->resizeSection(c, kColumns[c].width);
  ListViewNew->setColumnHidden(0, true);
  header->setStretchLastSection(true);
  // Column limits: a section dragged past its limit snaps back to it.
  connect(header, &QHeaderView::sectionResized, this, [header](int column, int, int size) {
    if (column <= 0 || column >= ChannelTableModel::kColumnCount) return;
    const ColumnLimits& limits = kColumns[column];
    int limited = std::max(size, limits.minimum);
    if (limits.maximum > 0) limited = std::min(limited, limits.maximum);
    if (limited != size && column != ChannelTableModel::kColumnCount - 1)
      header->resizeSection(column, limited);
  });
  // A scan names its satellite in the caption above the table, then fills
  // the table and sorts it.
  connect(model_, &QAbstractItemModel::modelReset, this, [this] { nameTheTable(); });
  connect(model_, &QAbstractItemModel::rowsInserted, this, [this] { nameTheTable(); });
  connect(model_, &QAbstractItemModel::layoutChanged, this, [this] { nameTheTable(); });
}

// A screen reader announces the table by the satellite its caption names, and
// as the channels before the first scan; the caption itself stays empty then.
void TMainF::nameTheTable() {
  const QString satellite = GroupBoxTabl->title();
  const QString name = satellite.isEmpty() ? QStringLiteral("Каналы") : satellite;
  if (ListViewNew->accessibleName() != name) ListViewNew->setAccessibleName(name);
}

void TMainF::connectHandlers() {
  auto guarded = [this](void (TMainF::*handler)()) {
    return [this, handler] { RunGuarded([this, handler] { (this->*handler)(); }); };
  };
  // The handlers connected through runAfterScan wait for a running scan.
  auto afterScan = [this](void (TMainF::*handler)()) {
    return [this, handler] { runAfterScan([this, handler] { (this->*handler)(); }); };
  };
  auto afterScanBox = [this](QCheckBox* box, void (TMainF::*handler)()) {
    connect(box, &QCheckBox::toggled, this, [this, box, handler](bool ticked) {
      if (runAfterScan([this, handler] { (this->*handler)(); })) return;
      // Refused: the box goes back to the state its handler last saw.
      const QSignalBlocker unheard(box);
      box->setChecked(!ticked);
    });
  };
  connect(BitBtnGo, &QPushButton::clicked, this, afterScan(&TMainF::BitBtnGoClick));
  connect(BitBtnSave, &QPushButton::clicked, this, afterScan(&TMainF::BitBtnSaveClick));
  connect(BitBtnOpen, &QPushButton::clicked, this, afterScan(&TMainF::BitBtnOpenClick));
  connect(BitBtnExp, &QPushButton::clicked, this, afterScan(&TMainF::BitBtnExpClick));
  connect(Button1, &QPushButton::clicked, this, guarded(&TMainF::Button1Click));
  // Every choice shows the satellite's saved table, the one already chosen too.
  // A choice that a running scan refuses puts back the satellite shown before.
  auto shownSatellite = std::make_shared<int>(CmbBoxURL->currentIndex());
  connect(CmbBoxURL, &QComboBox::currentIndexChanged, this, [this, shownSatellite](int index) {
    if (!scanning_) *shownSatellite = index;
  });
  connect(CmbBoxURL, &QComboBox::activated, this, [this, shownSatellite] {
    if (runAfterScan([this] { CmbBoxURLChange(); })) return;
    const QSignalBlocker unheard(CmbBoxURL);
    CmbBoxURL->setCurrentIndex(*shownSatellite);
  });
  connect(sComboBoxColor, &QComboBox::currentIndexChanged, this, guarded(&TMainF::sComboBoxColorChange));
  // A check box's click behaviour runs on every change of its state, also
  // when the program changes it.
  afterScanBox(CheckBoxFilterON, &TMainF::CheckBoxFilterONClick);
  afterScanBox(CheckBoxNTV, &TMainF::CheckBoxNTVClick);
  afterScanBox(CheckBoxTri, &TMainF::CheckBoxTriClick);
  connect(CheckBoxOth, &QCheckBox::toggled, this, guarded(&TMainF::CheckBoxOthClick));
  connect(N1, &QAction::triggered, this, afterScan(&TMainF::N1Click));
  connect(N2, &QAction::triggered, this, afterScan(&TMainF::N2Click));
  connect(ListViewNew->horizontalHeader(), &QHeaderView::sectionClicked, this,
          [this](int column) { runAfterScan([this, column] { ListViewNewColumnClick(column); }); });
  connect(ListViewNew, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenuListNew->popup(ListViewNew->viewport()->mapToGlobal(pos)); });
  connect(EditOther, &QLineEdit::textEdited, this, [this](const QString& text) {
    // A stored code longer than three characters is shown whole; typing is
    // limited to three again once the text fits.
    if (text.size() <= 3) EditOther->setMaxLength(3);
  });
  connect(banner_.get(), &BannerView::beforeNavigate, this, guarded(&TMainF::WebBrowser1BeforeNavigate2));
  connect(banner_.get(), &BannerView::navigateComplete, this, guarded(&TMainF::WebBrowser1NavigateComplete2));
  connect(banner_.get(), &BannerView::documentComplete, this, guarded(&TMainF::WebBrowser1DocumentComplete));
  connect(banner_.get(), &BannerView::navigateError, this, guarded(&TMainF::WebBrowser1NavigateError));
}

// The one gate for a running scan. The handlers behind it read, sort or
// replace the rows the parser is still appending, or start a scan: while a
// scan runs their events are dropped.
bool TMainF::runAfterScan(const std::function<void()>& handler) {
  if (scanning_) return false;
  RunGuarded(handler);
  return true;
}

int TMainF::selectedRow() const {
  const QModelIndexList rows = ListViewNew->selectionModel()->selectedRows();
  if (rows.isEmpty()) return -1;
  const int row = rows.first().row();
  return row >= 0 && row < model_->count() ? row : -1;
}

// --- Layout -----------------------------------------------------------------

void TMainF::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  arrangeControls();
}

void TMainF::arrangeControls() {
  const int w = width();
  const int h = height();
  GroupBox1->setGeometry(0, 0, kLeftBoxWidth, h);
  GroupBoxTabl->setGeometry(kLeftBoxWidth, 0, std::max(0, w - kLeftBoxWidth), h);
  // Controls anchored to the bottom keep their designed distance to it.
  Bevel4->move(Bevel4->x(), h - (kDesignedClientHeight - 318));
  ProgressBarReadCash->move(ProgressBarReadCash->x(), h - (kDesignedClientHeight - 351));
  BitBtnGo->move(BitBtnGo->x(), h - (kDesignedClientHeight - 372));
  const int tw = GroupBoxTabl->width();
  ListViewNew->setGeometry(2, 15, std::max(0, tw - 4), std::max(0, h - 15 - kPanelHeight - 2));
  Panel1->setGeometry(2, h - kPanelHeight - 2, std::max(0, tw - 4), kPanelHeight);
  sPanel1->setGeometry(Panel1->width() - kBannerWidth, 0, kBannerWidth, kPanelHeight);
}

void TMainF::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!firstShow_) return;
  firstShow_ = false;
  startPlacement();
}

// The window manager's frame as the window system reports it now; the
// widget's own frame geometry is refreshed only by a move or a resize.
QMargins TMainF::currentFrameMargins() const {
  const QWindow* window = windowHandle();
  return window ? window->frameMargins() : QMargins();
}

QRect TMainF::currentOuterBounds() const {
  const QMargins frame = currentFrameMargins();
  return geometry().marginsAdded(frame);
}

// At the first show, before the window is mapped: it opens centred, as if it
// had no frame, and settles when the window system has told it its frame.
void TMainF::startPlacement() {
  if (!placement_) return;
  applyPlacement(placement_->opening());
  QWindow* window = windowHandle();
  // X11: the window manager frames the window after it is mapped, and says so.
  x11Events_ = X11FrameEvents::watch(
      window, [this](X11FrameEvents::Event e, bool frameKnown) { onWindowManagerEvent(e, frameKnown); });
  if (x11Events_) return;
  // Wayland: the frame is Qt's own decoration, or the compositor's, which
  // Qt does not know (none, then); either is settled by the first configure,
  // which exposes the window.
  if (window && QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
    waitingForExpose_ = true;
    window->installEventFilter(this);
    return;
  }
  // Elsewhere nothing frames the window later.
  settlePlacement();
}

void TMainF::applyPlacement(const WindowPlacement::Request& request) {
  setMinimumSize(request.minimumClient);
  setGeometry(request.client);
}

// Once, with the frame as the window system reports it.
void TMainF::settlePlacement() {
  const std::optional<WindowPlacement::Request> request =
      placement_->frameKnown(currentFrameMargins(), geometry());
  if (!request) return;
  if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
    // The window manager decides the bounds of such a window.
    setMinimumSize(request->minimumClient);
    placement_->stop();
    return;
  }
  applyPlacement(*request);
  // A Wayland compositor places windows itself and answers no request.
  if (!x11Events_) placement_->stop();
}

// Once the frame is known, the one request; after it, the window manager's
// answer shows whether it dropped it.
void TMainF::onWindowManagerEvent(X11FrameEvents::Event event, bool frameKnown) {
  if (!frameKnown) return;
  if (placement_->awaitingFrame()) {
    settlePlacement();
  } else if (event == X11FrameEvents::Event::Configured) {
    if (const std::optional<QRect> again = placement_->configured(geometry())) setGeometry(*again);
  }
  // Nothing more to ask: whatever moves the window now is the user's or the
  // window manager's.
  if (placement_->settled()) x11Events_.reset();
}

void TMainF::closeEvent(QCloseEvent* event) {
  // Closing ends the tool at any moment: a scan in progress is abandoned.
  closing_ = true;
  ScanCancel::instance().request();
  // The frame goes with the window: its bounds are read while it is framed.
  closedOuterBounds_ = outerBoundsForSaving();
  QWidget::closeEvent(event);
}

// --- Settings ---------------------------------------------------------------

void TMainF::FormCreate() {
  WindowSettings current;
  current.top = frameGeometry().top();
  current.left = frameGeometry().left();
  // The frame is not known before the window is shown: a missing size keeps
  // the designed client size rather than an outer size without its frame.
  constexpr int kNoSize = -1;
  current.width = kNoSize;
  current.height = kNoSize;
  const WindowSettings s = LoadSettings(SettingsPath(), current);
  move(s.left, s.top);
  std::optional<QSize> storedOuter;
  if (s.width != kNoSize || s.height != kNoSize) {
    const QSize designedOuter = frameGeometry().size();
    storedOuter = QSize(s.width == kNoSize ? designedOuter.width() : s.width,
                        s.height == kNoSize ? designedOuter.height() : s.height);
  }
  // Applied once the window shows and its frame is known; until then the
  // window has the stored size as if it had no frame.
  const QScreen* screen = this->screen();
  placement_ = std::make_unique<WindowPlacement>(
      WindowPlacement::Start{storedOuter, size(), QSize(kMinimumOuterWidth, kMinimumOuterHeight),
                             screen ? screen->availableGeometry() : QRect(QPoint(), size())});
  const WindowPlacement::Request opening = placement_->opening();
  setMinimumSize(opening.minimumClient);
  resize(opening.client.size());
  // Setting a box to the state it has runs nothing; a change runs its click.
  CheckBoxRus->setChecked(s.rus);
  CheckBoxUkr->setChecked(s.ukr);
  CheckBoxBel->setChecked(s.bel);
  CheckBoxOth->setChecked(s.oth);
  EditOther->setMaxLength(std::max<int>(3, s.othText.size()));
  EditOther->setText(s.othText);
}

QRect TMainF::outerBoundsForSaving() const {
  if (isMinimized()) {
    // The bounds the window has when restored.
    const QRect normal = normalGeometry();
    return normal.marginsAdded(placement_ ? placement_->frame() : QMargins());
  }
  return currentOuterBounds();
}

void TMainF::FormDestroy() {
  destroyed_ = true;
  SaveSettings(SettingsPath(),
               settingsToKeep(closedOuterBounds_.isValid() ? closedOuterBounds_ : outerBoundsForSaving()));
}

void TMainF::commitSettings() { SaveSettings(SettingsPath(), settingsToKeep(outerBoundsForSaving())); }

WindowSettings TMainF::settingsToKeep(const QRect& bounds) const {
  WindowSettings s;
  s.top = bounds.top();
  s.left = bounds.left();
  s.width = bounds.width();
  s.height = bounds.height();
  s.rus = CheckBoxRus->isChecked();
  s.ukr = CheckBoxUkr->isChecked();
  s.bel = CheckBoxBel->isChecked();
  s.oth = CheckBoxOth->isChecked();
  s.othText = EditOther->text();
  return s;
}

// --- Scan -------------------------------------------------------------------

void TMainF::BitBtnGoClick() {
  GroupBoxTabl->setTitle(CmbBoxURL->currentText());
  WindowParserHost host(*this);
  if (!AnyLanguageTicked(host)) {
    Messages().warning(kNoLanguageText);
    return;
  }
  BitBtnGo->setEnabled(false);
  Button1->click();
  const int index = CmbBoxURL->currentIndex();
  if (ChartPosition(index) == 0) {
    BitBtnGo->setEnabled(true);
    return;
  }
  // A close request that came while the banner was starting: no scan then.
  if (closing_) return;
  TBindStatusCallback callback(this, FormLoadURL);
  ScanResult result;
  const auto readyForTheNextScan = [this] {
    ProgressBarReadCash->setValue(0);
    BitBtnGo->setEnabled(true);
  };
  scanning_ = true;
  try {
    result = RunChartScan(index, *model_, host, &callback);
  } catch (...) {
    // The scan ends early: leave the window ready for the next one.
    scanning_ = false;
    setEnabled(true);
    readyForTheNextScan();
    throw;
  }
  scanning_ = false;
  // Abandoned for a close: the tool is ending, with no message and no
  // terminate request.
  if (ScanCancel::instance().isRequested()) return;
  if (result == ScanResult::DownloadFailed) {
    setEnabled(true);
    Messages().error(kDownloadErrorText);
    terminateTool();
    return;
  }
  readyForTheNextScan();
  ListViewNew->scrollToTop();  // a new table starts at its first row
  if (result == ScanResult::Completed) BitBtnExp->setEnabled(true);
}

// --- Table ------------------------------------------------------------------

void TMainF::ListViewNewColumnClick(int column) { model_->sortByColumn(column); }

void TMainF::N1Click() {
  if (selectedRow() < 0) return;
  model_->appendHandRow();
}

void TMainF::N2Click() {
  const int row = selectedRow();
  if (row < 0) return;
  model_->removeRowAt(row);
  // No neighbour inherits the choice: a second "Удалить" needs a new one.
  ListViewNew->selectionModel()->clear();
  BitBtnSave->setEnabled(true);
}

void TMainF::sComboBoxColorChange() {
  static const QString sections[] = {QStringLiteral("EDIT"), QStringLiteral("PANEL"), QStringLiteral("FORM")};
  const int entry = sComboBoxColor->currentIndex();
  if (entry < 0 || entry > 2) return;
  SetSkinSection(ListViewNew, sections[entry]);
}

void TMainF::BitBtnSaveClick() {
  if (SaveTableAction(GroupBoxTabl->title(), *model_, QDate::currentDate())) BitBtnSave->setEnabled(false);
}

void TMainF::BitBtnOpenClick() { CompareAction(GroupBoxTabl->title(), *model_, previousTable_); }

void TMainF::BitBtnExpClick() { ExportAction(*model_); }

// --- Stored view ------------------------------------------------------------

PackageFilter TMainF::packageFilter() const {
  PackageFilter filter;
  filter.on = CheckBoxFilterON->isChecked();
  filter.ntv = CheckBoxNTV->isChecked();
  filter.tri = CheckBoxTri->isChecked();
  return filter;
}

void TMainF::loadStoredView() {
  StoredViewAction(CmbBoxURL->currentText(), packageFilter(), *model_);
  ListViewNew->scrollToTop();
}

void TMainF::CmbBoxURLChange() { loadStoredView(); }

void TMainF::CheckBoxFilterONClick() {
  const bool on = CheckBoxFilterON->isChecked();
  CheckBoxNTV->setEnabled(on);
  CheckBoxTri->setEnabled(on);
  loadStoredView();
}

void TMainF::CheckBoxNTVClick() { loadStoredView(); }
void TMainF::CheckBoxTriClick() { loadStoredView(); }

void TMainF::CheckBoxOthClick() {
  const bool ticked = CheckBoxOth->isChecked();
  editOtherColor_ = ticked ? WindowBackgroundColour() : ButtonFaceColour();
  EditOther->setStyleSheet(QStringLiteral("background-color: %1;").arg(editOtherColor_.name()));
  EditOther->setEnabled(ticked);
}

// --- Banner and site link ---------------------------------------------------

void TMainF::Button1Click() {
  EnsureBundledMakerSite([] { QCoreApplication::processEvents(); });
  banner_->navigate(QUrl(BannerPageUrl()));
}

void TMainF::WebBrowser1BeforeNavigate2() { sPanel1->hide(); }

// A page that could not be loaded (no answer, an HTTP error) is not shown:
// the pane stays hidden instead of showing the web engine's error page.
void TMainF::WebBrowser1NavigateError() { sPanel1->hide(); }

void TMainF::WebBrowser1NavigateComplete2() {
  sPanel1->show();
  StyleBannerPage();
}

void TMainF::WebBrowser1DocumentComplete() {
  StyleBannerPage();
  QCoreApplication::processEvents();
}

void TMainF::StyleBannerPage() { banner_->styleBannerPage(); }

// The link's only styles: underlined under the pointer, plain otherwise.
static void SetLinkUnderlined(QLabel* label, bool underlined) {
  QFont font = label->font();
  font.setUnderline(underlined);
  font.setBold(false);
  font.setItalic(false);
  label->setFont(font);
}

void TMainF::LabelURLMouseEnter() { SetLinkUnderlined(LabelURL, true); }

void TMainF::LabelURLMouseLeave() { SetLinkUnderlined(LabelURL, false); }

// The bundled site is started first, so the browser finds it; it stays up a
// while after the tool has closed.
void TMainF::LabelURLClick() {
  EnsureBundledMakerSite();
  QDesktopServices::openUrl(QUrl(MakerSiteUrl()));
}

bool TMainF::eventFilter(QObject* watched, QEvent* event) {
  if (waitingForExpose_ && watched == windowHandle() && event->type() == QEvent::Expose &&
      windowHandle()->isExposed()) {
    // The first configure has been applied: Qt knows its decoration now.
    waitingForExpose_ = false;
    watched->removeEventFilter(this);
    QMetaObject::invokeMethod(
        this, [this] { settlePlacement(); }, Qt::QueuedConnection);
  }
  if (watched == LabelURL) {
    switch (event->type()) {
      case QEvent::Enter: RunGuarded([this] { LabelURLMouseEnter(); }); break;
      case QEvent::Leave: RunGuarded([this] { LabelURLMouseLeave(); }); break;
      case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
          RunGuarded([this] { LabelURLClick(); });
        break;
      default: break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace tevrin
