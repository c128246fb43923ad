#pragma once
#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace tevrin {

// Indexes into the table's 12 x 12 image list.
enum CellImage : int { kNoImage = -1, kImageTv = 0, kImageFree = 1, kImagePaid = 2 };

// Sub-item k of a row shows in column k + 1; column 0 ("###") holds the mark.
enum SubItem : int {
  kSubNumber = 0,
  kSubTransponder = 1,
  kSubName = 2,
  kSubAudio = 3,
  kSubVideo = 4,
  kSubCoding = 5,
  kSubNote = 6
};

inline const QString kMarkNew = QStringLiteral("+");
inline const QString kMarkGone = QStringLiteral("-");
inline const QString kFreeToAirText = QStringLiteral("идет открыто");

// One row of the channel table. A row may hold fewer sub-items than the table
// has columns (the missing cells show empty) or more (kept, not shown).
struct ChannelRow {
  QString mark;
  QStringList subItems;
  QList<int> images;  // per sub-item; shorter than subItems means "no image"

  QString subItem(int k) const { return k >= 0 && k < subItems.size() ? subItems[k] : QString(); }
  int image(int k) const { return k >= 0 && k < images.size() ? images[k] : kNoImage; }
  void setImage(int k, int image);
  // A channel's two pictures: the TV mark by its name, free or paid by its coding.
  void setChannelImages(bool freeToAir);
  bool operator==(const ChannelRow&) const = default;
};

// The rows of the channel table. Every edit goes through here so that the
// view, the save, the comparison and the export see one list.
class ChannelTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr int kColumnCount = 8;

  explicit ChannelTableModel(QObject* parent = nullptr);

  int count() const { return static_cast<int>(rows_.size()); }
  const ChannelRow& row(int index) const;  // throws the list index error
  const std::vector<ChannelRow>& rows() const { return rows_; }

  int appendRow(ChannelRow row);  // returns the new row's position
  void removeRowAt(int index);    // throws the list index error
  void clear();
  void setMark(int index, const QString& mark);
  void setSubItem(int index, int subItem, const QString& text);  // replaces or appends
  void appendSubItem(int index, const QString& text);

  // Bulk update bracket. Rows appended while it is open are staged: count()
  // and row() see them at once, the view (rowCount(), data()) only when the
  // outermost bracket closes, in one insert. Changes to rows the view already
  // shows are told as they happen (removing, emptying) or once at the close
  // (cell texts). Brackets nest.
  void beginBulkUpdate();
  void endBulkUpdate();
  bool inBulkUpdate() const { return bulkDepth_ > 0; }
  class BulkUpdate;  // the bracket for a scope, closed however it is left

  void repaint();  // tells the view that every cell may have changed

  // The header click: sorts ascending by the column's sub-item with an ordinal
  // comparison of UTF-16 code units (stable), then numbers the rows 1..N.
  // Columns 0 ("###"), 1 ("№") and 5 ("Video") are ignored. Returns whether
  // it sorted. A row lacking the sub-item sorts as if its text were empty.
  // Persistent indexes (the view's selection) move with their rows; staged
  // rows are published first.
  bool sortByColumn(int column);
  void renumber();

  // "Добавить": appends a row numbered by the new row count with the texts
  // "Тр.новый", "Им.новый", "---" and no images.
  int appendHandRow();

  // Maps image indexes to what the view shows (the window sets its icons).
  void setImageProvider(std::function<QVariant(int)> provider);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  static QString columnCaption(int column);

 private:
  void changed();
  // Tells the view of changed cells of a row it shows, or marks the open
  // bracket dirty; a staged row needs no word.
  void cellsChanged(int row, int lastColumn);
  void publishStagedRows();          // one insert of the rows appended inside the bracket
  void checkIndex(int index) const;  // throws the list index error
  void numberRows();                 // sub-item 0 of every row: 1..N from the top

  std::vector<ChannelRow> rows_;
  int shownRows_ = 0;  // rows_[0, shownRows_) are the view's; the rest are staged
  int bulkDepth_ = 0;
  bool bulkDirty_ = false;
  std::function<QVariant(int)> imageProvider_;
};

class ChannelTableModel::BulkUpdate {
 public:
  explicit BulkUpdate(ChannelTableModel& table) : table_(table) { table_.beginBulkUpdate(); }
  ~BulkUpdate() { close(); }
  BulkUpdate(const BulkUpdate&) = delete;
  BulkUpdate& operator=(const BulkUpdate&) = delete;
  // Closes it early, so the view hears of the rows before the scope ends.
  void close() {
    if (open_) table_.endBulkUpdate();
    open_ = false;
  }

 private:
  ChannelTableModel& table_;
  bool open_ = true;
};

}  // namespace tevrin
