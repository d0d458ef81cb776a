// SPDX-License-Identifier: GPL-3.0-or-later
#include "MeasureWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPolygonF>
#include <QPushButton>
#include <QSaveFile>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QTableView>
#include <QVBoxLayout>
#include <cmath>
#include <limits>
#include <sstream>

#include "Clipboard.h"
#include "Commands.h"
#include "Dialogs.h"
#include "ImageView.h"
#include "PictureCanvas.h"
#include "ViewedPicture.h"
#include "ViewerLink.h"
#include "ViewerWindow.h"
#include "Workbench.h"

namespace {

enum Column { Number, Area, X, Y, Perimeter, BX, BY, Width, Height, Circularity, Columns };

QString Unit(const TMeasureOptions& options) {
  return options.unit.empty() ? QStringLiteral("px") : QString::fromStdString(options.unit);
}

// ImageJ's three decimals.
QString Decimals(double value) {
  return QString::number(value, 'f', 3);
}

}  // namespace

void TMeasureModel::Show(std::shared_ptr<const TMeasurement> objects,
                         const TMeasureOptions& options) {
  beginResetModel();
  objects_ = std::move(objects);
  unit_ = Unit(options);
  scale_ = options.unit.empty() ? 1 : options.scale;
  endResetModel();
  emit headerDataChanged(Qt::Horizontal, 0, Columns - 1);
}

int TMeasureModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || objects_ == nullptr ? 0 : static_cast<int>(objects_->particles.size());
}

int TMeasureModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Columns;
}

QVariant TMeasureModel::data(const QModelIndex& index, int role) const {
  if (objects_ == nullptr || !index.isValid() || index.row() >= rowCount())
    return {};
  const TParticle& p = objects_->particles[static_cast<std::size_t>(index.row())];
  double value = 0;
  bool whole = false;
  switch (index.column()) {
    case Number:
      value = p.number, whole = true;
      break;
    case Area:
      value = p.area;
      break;
    case X:
      value = p.x;
      break;
    case Y:
      value = p.y;
      break;
    case Perimeter:
      value = p.perimeter;
      break;
    case BX:
      value = p.bx * scale_, whole = scale_ == 1;
      break;
    case BY:
      value = p.by * scale_, whole = scale_ == 1;
      break;
    case Width:
      value = p.width * scale_, whole = scale_ == 1;
      break;
    case Height:
      value = p.height * scale_, whole = scale_ == 1;
      break;
    case Circularity:
      value = p.circularity;
      break;
    default:
      return {};
  }
  switch (role) {
    case Qt::DisplayRole:
      return whole ? QString::number(static_cast<long long>(value)) : Decimals(value);
    case Qt::UserRole:
      return value;
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    default:
      return {};
  }
}

QVariant TMeasureModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole)
    return {};
  if (orientation == Qt::Vertical)
    return section + 1;
  switch (section) {
    case Number:
      return QStringLiteral("編號");
    case Area:
      return QStringLiteral("面積 (%1)").arg(unit_ + QStringLiteral("²"));
    case X:
      return QStringLiteral("X (%1)").arg(unit_);
    case Y:
      return QStringLiteral("Y (%1)").arg(unit_);
    case Perimeter:
      return QStringLiteral("周長 (%1)").arg(unit_);
    case BX:
      return QStringLiteral("BX (%1)").arg(unit_);
    case BY:
      return QStringLiteral("BY (%1)").arg(unit_);
    case Width:
      return QStringLiteral("寬 (%1)").arg(unit_);
    case Height:
      return QStringLiteral("高 (%1)").arg(unit_);
    case Circularity:
      return QStringLiteral("圓度");
    default:
      return {};
  }
}

TMeasureWindow::TMeasureWindow(TImage* view, TViewerLink* link, TWorkbench* workbench,
                               QWidget* parent)
    : QWidget(parent, Qt::Window),
      view_(view),
      link_(link),
      workbench_(workbench),
      objectsBox_(new QComboBox(this)),
      minArea_(new QDoubleSpinBox(this)),
      maxArea_(new QDoubleSpinBox(this)),
      excludeEdges_(new QCheckBox(QStringLiteral("排除邊緣物件"), this)),
      includeHoles_(new QCheckBox(QStringLiteral("包含孔洞"), this)),
      stack_(new QStackedWidget(this)),
      table_(new QTableView(this)),
      message_(new QLabel(this)),
      summary_(new QLabel(this)),
      saveAs_(new QPushButton(QStringLiteral("另存新檔…"), this)),
      copy_(new QPushButton(QStringLiteral("複製"), this)),
      model_(new TMeasureModel(this)),
      sorted_(new QSortFilterProxyModel(this)) {
  setObjectName(QStringLiteral("MeasureWindow"));
  setWindowTitle(QStringLiteral("量測 — 處理後"));
  objectsBox_->setObjectName(QStringLiteral("ObjectsBox"));
  objectsBox_->addItems({QStringLiteral("暗的物件（黑）"), QStringLiteral("亮的物件（白）")});
  for (QDoubleSpinBox* box : {minArea_, maxArea_}) {
    box->setDecimals(3);
    box->setRange(0, 1e12);
    box->setKeyboardTracking(false);
  }
  minArea_->setObjectName(QStringLiteral("MinArea"));
  maxArea_->setObjectName(QStringLiteral("MaxArea"));
  // 0, the lowest, stands for no upper bound.
  maxArea_->setSpecialValueText(QStringLiteral("不限"));
  excludeEdges_->setObjectName(QStringLiteral("ExcludeEdges"));
  includeHoles_->setObjectName(QStringLiteral("IncludeHoles"));
  table_->setObjectName(QStringLiteral("MeasureTable"));
  message_->setObjectName(QStringLiteral("MeasureMessage"));
  summary_->setObjectName(QStringLiteral("MeasureSummary"));
  saveAs_->setObjectName(QStringLiteral("SaveTableButton"));
  copy_->setObjectName(QStringLiteral("CopyTableButton"));

  sorted_->setSourceModel(model_);
  sorted_->setSortRole(Qt::UserRole);
  table_->setModel(sorted_);
  table_->setSortingEnabled(true);
  table_->sortByColumn(Number, Qt::AscendingOrder);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  message_->setAlignment(Qt::AlignCenter);
  message_->setWordWrap(true);
  stack_->addWidget(table_);
  stack_->addWidget(message_);
  // Texts wrap within the window rather than widen it.
  summary_->setWordWrap(true);
  summary_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  message_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);

  // Two columns, so that the window can be narrow beside the main window on a small screen.
  auto* options = new QGridLayout;
  options->addWidget(new QLabel(QStringLiteral("物件："), this), 0, 0);
  options->addWidget(objectsBox_, 0, 1);
  options->addWidget(new QLabel(QStringLiteral("最小面積："), this), 1, 0);
  options->addWidget(minArea_, 1, 1);
  options->addWidget(new QLabel(QStringLiteral("最大面積："), this), 2, 0);
  options->addWidget(maxArea_, 2, 1);
  auto* checks = new QHBoxLayout;
  checks->addWidget(excludeEdges_);
  checks->addWidget(includeHoles_);
  checks->addStretch(1);
  options->addLayout(checks, 3, 0, 1, 2);
  options->setColumnStretch(1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(saveAs_);
  buttons->addWidget(copy_);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(options);
  layout->addWidget(stack_, 1);
  layout->addWidget(summary_);
  layout->addLayout(buttons);
  // Small enough to stand beside the main window on a 1024 × 600 screen.
  stack_->setMinimumSize(160, 80);
  resize(480, 400);

  connect(objectsBox_, &QComboBox::currentIndexChanged, this, &TMeasureWindow::OptionsEdited);
  for (QDoubleSpinBox* box : {minArea_, maxArea_})
    connect(box, &QDoubleSpinBox::valueChanged, this, &TMeasureWindow::OptionsEdited);
  for (QCheckBox* box : {excludeEdges_, includeHoles_})
    connect(box, &QCheckBox::toggled, this, &TMeasureWindow::OptionsEdited);
  connect(saveAs_, &QPushButton::clicked, this, &TMeasureWindow::SaveAs);
  connect(copy_, &QPushButton::clicked, this, &TMeasureWindow::Copy);
  connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          &TMeasureWindow::RowChosen);

  // A step or an undo may change the picture more than once: measured once they are done.
  again_.setSingleShot(true);
  again_.setInterval(0);
  connect(&again_, &QTimer::timeout, this, &TMeasureWindow::Measure);
  if (view_ != nullptr)
    connect(view_, &TImage::Changed, &again_, qOverload<>(&QTimer::start));
  connect(workbench_, &TWorkbench::MeasureOptionsChanged, this, [this] {
    ShowOptions();
    again_.start();
  });
  connect(link_, &TViewerLink::ViewerMade, this, &TMeasureWindow::Outline);
  if (view_ != nullptr)
    view_->window()->installEventFilter(this);
  ShowOptions();
  Measure();
}

TMeasureWindow::~TMeasureWindow() {
  if (link_ != nullptr && link_->Viewer() != nullptr)
    link_->Viewer()->Canvas()->SetObjects(nullptr);
}

QString TMeasureWindow::Message() const {
  return stack_->currentWidget() == message_ ? message_->text() : QString();
}

void TMeasureWindow::ShowOptions() {
  const TMeasureOptions& options = workbench_->MeasureOptions();
  showingOptions_ = true;
  objectsBox_->setCurrentIndex(options.whiteObjects ? 1 : 0);
  minArea_->setValue(options.minArea);
  maxArea_->setValue(std::isfinite(options.maxArea) ? options.maxArea : 0);
  excludeEdges_->setChecked(options.excludeEdges);
  includeHoles_->setChecked(options.includeHoles);
  const QString area = Unit(options) + QStringLiteral("²");
  minArea_->setSuffix(QLatin1Char(' ') + area);
  maxArea_->setSuffix(QLatin1Char(' ') + area);
  showingOptions_ = false;
}

void TMeasureWindow::OptionsEdited() {
  if (showingOptions_)
    return;
  TMeasureOptions options = workbench_->MeasureOptions();
  options.whiteObjects = objectsBox_->currentIndex() == 1;
  options.minArea = minArea_->value();
  options.maxArea =
      maxArea_->value() > 0 ? maxArea_->value() : std::numeric_limits<double>::infinity();
  options.excludeEdges = excludeEdges_->isChecked();
  options.includeHoles = includeHoles_->isChecked();
  workbench_->SetMeasureOptions(options);
}

void TMeasureWindow::Measure() {
  again_.stop();
  const TMeasureOptions& options = workbench_->MeasureOptions();
  const TBitmap* picture = ViewedPicture(view_);
  objects_.reset();
  if (picture == nullptr) {
    message_->setText(QStringLiteral("沒有影像"));
  } else {
    try {
      objects_ = std::make_shared<const TMeasurement>(MeasureParticles(*picture, options));
    } catch (const TRefusedPicture& refused) {
      message_->setText(QString::fromUtf8(refused.what()));
    }
  }
  model_->Show(objects_, options);
  stack_->setCurrentWidget(objects_ != nullptr ? static_cast<QWidget*>(table_) : message_);
  saveAs_->setEnabled(objects_ != nullptr);
  copy_->setEnabled(objects_ != nullptr);
  if (objects_ == nullptr) {
    summary_->clear();
  } else {
    const TSummary& s = objects_->summary;
    const QString area = Unit(options) + QStringLiteral("²");
    summary_->setText(
        QStringLiteral("物件 %1　總面積 %2 %5　平均大小 %3 %5　面積比例 %4 %")
            .arg(s.count)
            .arg(Decimals(s.totalArea), Decimals(s.averageSize), Decimals(s.areaFraction), area));
  }
  if (link_ != nullptr)
    Outline(link_->Viewer());
}

void TMeasureWindow::Outline(TViewerWindow* viewer) {
  if (viewer == nullptr)
    return;
  viewer->Canvas()->SetObjects(objects_, SelectedObject());
  connect(viewer->Canvas(), &TPictureCanvas::Clicked, this, &TMeasureWindow::ObjectClicked,
          Qt::UniqueConnection);
}

QString TMeasureWindow::TableText(char separator) const {
  if (objects_ == nullptr)
    return {};
  const TMeasureOptions& options = workbench_->MeasureOptions();
  TTableStyle style;
  style.separator = separator;
  std::ostringstream out;
  out << TableHeader(options, style);
  if (out.tellp() > 0 && out.str().back() != '\n')
    out << '\n';
  WriteTableRows(out, *objects_, options, {}, style);
  return QString::fromStdString(out.str());
}

void TMeasureWindow::SaveAs() {
  if (objects_ == nullptr)
    return;
  QFileDialog dialog(this, QStringLiteral("另存新檔"));
  dialog.setObjectName(QStringLiteral("SaveTableDialog"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilter(QStringLiteral("CSV (*.csv)"));
  dialog.setDefaultSuffix(QStringLiteral("csv"));
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
    SaveTo(dialog.selectedFiles().front());
}

bool TMeasureWindow::SaveTo(const QString& fileName) {
  // Written beside the target and renamed over it when complete: a failure leaves what was there.
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly) || file.write(TableText(',').toUtf8()) < 0 ||
      !file.commit()) {
    ShowMessage(QStringLiteral("無法寫入 %1：%2").arg(fileName, file.errorString()));
    return false;
  }
  return true;
}

void TMeasureWindow::Copy() {
  if (objects_ != nullptr)
    Clipboard()->SetText(TableText('\t'));
}

int TMeasureWindow::SelectedObject() const {
  const QModelIndex current = table_->selectionModel()->currentIndex();
  return current.isValid() && objects_ != nullptr ? sorted_->mapToSource(current).row() : -1;
}

void TMeasureWindow::SelectObject(int index) {
  if (objects_ == nullptr || index < 0 || index >= model_->rowCount())
    return;
  const QModelIndex row = sorted_->mapFromSource(model_->index(index, 0));
  table_->selectionModel()->setCurrentIndex(
      row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  table_->scrollTo(row);
}

void TMeasureWindow::RowChosen() {
  const int index = SelectedObject();
  if (index < 0 || link_ == nullptr)
    return;
  TViewerWindow* viewer = link_->Viewer();
  if (viewer == nullptr) {
    viewer = link_->Open();
    // The table keeps the keyboard, for the next row.
    activateWindow();
  }
  viewer->Canvas()->SetObjects(objects_, index);
  const TParticle& p = objects_->particles[static_cast<std::size_t>(index)];
  viewer->Canvas()->ShowArea(QRectF(p.bx, p.by, p.width, p.height));
}

// The object under a click: the smallest whose outline holds the pixel's centre, so that an
// object lying in another's hole is found rather than the one around it.
void TMeasureWindow::ObjectClicked(QPoint pixel) {
  if (objects_ == nullptr)
    return;
  const QPointF centre(pixel.x() + 0.5, pixel.y() + 0.5);
  int found = -1;
  for (int i = 0; i < static_cast<int>(objects_->particles.size()); ++i) {
    const TParticle& p = objects_->particles[static_cast<std::size_t>(i)];
    if (!QRect(p.bx, p.by, p.width, p.height).contains(pixel) ||
        (found >= 0 && p.area >= objects_->particles[static_cast<std::size_t>(found)].area))
      continue;
    QPolygonF outline;
    outline.reserve(static_cast<qsizetype>(p.outlineSize));
    for (const auto& [x, y] : objects_->Outline(p))
      outline.append(QPointF(x, y));
    if (outline.isEmpty() || outline.containsPoint(centre, Qt::OddEvenFill))
      found = i;
  }
  if (found >= 0)
    SelectObject(found);
}

bool TMeasureWindow::eventFilter(QObject* watched, QEvent* event) {
  if (view_ != nullptr && watched == view_->window() && event->type() == QEvent::Close)
    close();
  return QWidget::eventFilter(watched, event);
}

void TMeasureWindow::closeEvent(QCloseEvent* event) {
  if (link_ != nullptr && link_->Viewer() != nullptr)
    link_->Viewer()->Canvas()->SetObjects(nullptr);
  QWidget::closeEvent(event);
}
