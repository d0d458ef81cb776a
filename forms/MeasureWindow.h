// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "Measurement.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QStackedWidget;
class QTableView;
class TImage;
class TViewerLink;
class TViewerWindow;
class TWorkbench;

// The objects measured, a row each; every column sorts by its numbers (Qt::UserRole).
class TMeasureModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  using QAbstractTableModel::QAbstractTableModel;

  void Show(std::shared_ptr<const TMeasurement> objects, const TMeasureOptions& options);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::shared_ptr<const TMeasurement> objects_;
  QString unit_;
  double scale_ = 1;
};

// "量測 — 處理後": the objects of an image view's black-and-white picture, as a sortable table
// with its summary, under the options chosen, saved as CSV or copied for a spreadsheet. It follows
// the view: every change of its picture (a step, an undo) measures it again. The view's viewer
// outlines and numbers the objects; a row chosen shows its object there, and a click on an object
// there chooses its row.
class TMeasureWindow : public QWidget {
  Q_OBJECT

 public:
  TMeasureWindow(TImage* view, TViewerLink* link, TWorkbench* workbench, QWidget* parent = nullptr);
  ~TMeasureWindow() override;

  QTableView* Table() const { return table_; }
  TMeasureModel* Model() const { return model_; }
  QLabel* Summary() const { return summary_; }
  // What shows instead of the table where there is nothing to measure (empty while the table
  // shows).
  QString Message() const;
  const std::shared_ptr<const TMeasurement>& Objects() const { return objects_; }

  QComboBox* ObjectsBox() const { return objectsBox_; }
  QDoubleSpinBox* MinArea() const { return minArea_; }
  QDoubleSpinBox* MaxArea() const { return maxArea_; }
  QCheckBox* ExcludeEdges() const { return excludeEdges_; }
  QCheckBox* IncludeHoles() const { return includeHoles_; }

  // Measures the view's picture now (it does so by itself after every change).
  void Measure();
  // The table with its header, a line a row, fields split by `separator`.
  QString TableText(char separator) const;
  void SaveAs();
  // Writes the table as CSV; false, with a message shown, where it cannot.
  bool SaveTo(const QString& fileName);
  // Puts the table on the clipboard, tab-separated.
  void Copy();

  // Chooses the row of object `index` (into the particles) and shows it in the viewer.
  void SelectObject(int index);
  int SelectedObject() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void OptionsEdited();
  void ShowOptions();
  void RowChosen();
  void ObjectClicked(QPoint pixel);
  void Outline(TViewerWindow* viewer);

  QPointer<TImage> view_;
  QPointer<TViewerLink> link_;
  TWorkbench* workbench_;
  std::shared_ptr<const TMeasurement> objects_;
  QTimer again_;
  bool showingOptions_ = false;

  QComboBox* objectsBox_;
  QDoubleSpinBox* minArea_;
  QDoubleSpinBox* maxArea_;
  QCheckBox* excludeEdges_;
  QCheckBox* includeHoles_;
  QStackedWidget* stack_;
  QTableView* table_;
  QLabel* message_;
  QLabel* summary_;
  QPushButton* saveAs_;
  QPushButton* copy_;
  TMeasureModel* model_;
  QSortFilterProxyModel* sorted_;
};
