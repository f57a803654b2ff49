// filelistmodel.h - the main window's three-column report over an archive's
// index: one row per entry in index order, read from the index on demand so
// that 100,000 entries cost one reset, not 100,000 inserted items.
#pragma once

#include <QAbstractTableModel>
#include <QItemSelectionModel>
#include <functional>

class VzrArchive;

namespace toolset {

class FileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kName = 0, kSize = 1, kOffset = 2, kColumnCount = 3 };

  explicit FileListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  // Shows the index of archive (nothing for null); every call rebuilds the rows.
  void Rebuild(const VzrArchive* archive);
  // Deletes every row.
  void Clear() { Rebuild(nullptr); }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  // The view lays out every row once per reset, asking each for its index,
  // flags and children: these answer from the row count alone, without the
  // base class's virtual round trips.
  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  const VzrArchive* archive_ = nullptr;
  int rows_ = 0;
};

// A selection model that announces a change before it happens (the list's
// "item changing" notification).
class AnnouncingSelectionModel : public QItemSelectionModel {
  Q_OBJECT

 public:
  AnnouncingSelectionModel(QAbstractItemModel* model, std::function<void()> changing)
      : QItemSelectionModel(model), changing_(std::move(changing)) {}

  void select(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) override;
  void select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) override;

 private:
  std::function<void()> changing_;
};

}  // namespace toolset
