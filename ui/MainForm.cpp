#include "ui/MainForm.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QResizeEvent>
#include <QSlider>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <new>

#include "core/convert.h"
#include "core/errors.h"
#include "core/field_titles.h"
#include "display/raster_canvas.h"
#include "files/movie.h"
#include "files/saved_run.h"
#include "files/scenario.h"
#include "ui/ExperimentForms.h"
#include "ui/ExperimentWindow.h"
#include "ui/error_reporter.h"
#include "ui/field_check.h"
#include "ui/look.h"
#include "ui/qt_canvas.h"

namespace segwork::ui {

namespace {

QtCanvas* AsQtCanvas(const std::unique_ptr<Canvas>& canvas) {
  return dynamic_cast<QtCanvas*>(canvas.get());
}

QLabel* MakeLabel(const QString& text, QWidget* parent, int x, int y, int width = -1) {
  auto* label = new QLabel(text, parent);
  label->move(x, y);
  if (width > 0) label->setFixedWidth(width);
  label->adjustSize();
  if (width > 0) label->resize(width, label->height());
  return label;
}

void SetTextIfChanged(QLabel* label, const std::string& text) {
  const QString q = QString::fromStdString(text);
  if (label->text() != q) label->setText(q);
}

PointerButton ToPointerButton(Qt::MouseButton button) {
  if (button == Qt::LeftButton) return PointerButton::Left;
  if (button == Qt::RightButton) return PointerButton::Right;
  return PointerButton::Middle;
}

// Remembers the weight table's open editor, so it can be committed before a build.
class WeightDelegate : public QStyledItemDelegate {
 public:
  WeightDelegate(QPointer<QWidget>& editor, QObject* parent)
      : QStyledItemDelegate(parent), editor_(editor) {}
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    editor_ = editor;
    return editor;
  }

 private:
  QPointer<QWidget>& editor_;
};

constexpr const char* kStreetItems[6] = {
    " street type -3", " street type -2", " street type -1",
    " street type +1", " street type +2", " street type +3",
};

}  // namespace

// ----- drawing panel -----

DrawingPanel::DrawingPanel(TForm1& form, QWidget* parent) : QWidget(parent), form_(form) {
  setObjectName("ZeichenPanel");
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void DrawingPanel::SetScale(int scale) {
  scale_ = std::max(1, scale);
  setFixedSize(form_.model_.Sim.PanelWidth * scale_, form_.model_.Sim.PanelHeight * scale_);
  update();
}

void DrawingPanel::UpdatePicture(const QRect& area) {
  update(QRect(area.topLeft() * scale_, area.size() * scale_));
}

QPoint DrawingPanel::PicturePoint(const QMouseEvent* event) const {
  const QPoint p = event->position().toPoint();
  return QPoint(p.x() / scale_, p.y() / scale_);
}

void DrawingPanel::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  // In picture pixels: the painter scales them to whole screen pixels.
  painter.scale(scale_, scale_);
  const QRect shown = event->rect();
  const QRect area = scale_ == 1 ? shown
                                 : QRect(shown.topLeft() / scale_,
                                         QPoint(shown.right() / scale_, shown.bottom() / scale_));
  if (QtCanvas* cells = AsQtCanvas(form_.model_.Sim.CellImage)) {
    painter.drawImage(area, cells->Image(), area);
  } else {
    painter.fillRect(area, Qt::white);
  }
  if (QtCanvas* overlay = AsQtCanvas(form_.model_.OverlayImage)) {
    painter.drawImage(area, overlay->Image(), area);
  }
}

void DrawingPanel::mousePressEvent(QMouseEvent* event) {
  form_.ZeichenPanelMouseDown(event->button(), PicturePoint(event));
}

void DrawingPanel::mouseMoveEvent(QMouseEvent* event) {
  form_.ZeichenPanelMouseMove(PicturePoint(event));
}

void DrawingPanel::mouseReleaseEvent(QMouseEvent* event) {
  form_.ZeichenPanelMouseUp(event->button(), PicturePoint(event));
}

// ----- up/down control -----

UpDown::UpDown(QLineEdit* buddy, int min, int max, int increment, QWidget* parent)
    : QWidget(parent), buddy_(buddy), min_(min), max_(max), increment_(increment) {
  position_ = std::clamp(buddy->text().toInt(), min, max);
  const QRect g = buddy->geometry();
  setGeometry(g.right() + 1, g.top(), 16, g.height());
  auto* up = new QToolButton(this);
  auto* down = new QToolButton(this);
  up->setArrowType(Qt::UpArrow);
  down->setArrowType(Qt::DownArrow);
  up->setGeometry(0, 0, 16, g.height() / 2);
  down->setGeometry(0, g.height() / 2, 16, g.height() - g.height() / 2);
  up->setAutoRepeat(true);
  down->setAutoRepeat(true);
  connect(up, &QToolButton::clicked, this, [this] { Step(1); });
  connect(down, &QToolButton::clicked, this, [this] { Step(-1); });
}

void UpDown::Step(int direction) {
  // Start from the number in the field when it holds one, as a bound spinner does.
  try {
    position_ = StrToInt(buddy_->text().toStdString());
  } catch (const SegworkError&) {
  }
  const int64_t next = int64_t(position_) + int64_t(direction) * increment_;
  position_ = int(std::clamp<int64_t>(next, min_, max_));
  buddy_->setText(QString::number(position_));
}

// ----- main window -----

TForm1::TForm1(Model& model, QWidget* parent) : QWidget(parent), model_(model) {
  setObjectName("TForm1");
  setWindowTitle("segwork");
  // Larger, the panel is centred in its room and drawn in whole pixels per picture pixel.
  setMinimumSize(924, 711);
  resize(924, 711);
  setFont(WindowFont());
  clock_.start();

  // The frame-rate display counts from the program's start.
  model_.TickCount = [this] { return uint32_t(clock_.elapsed()); };
  model_.Sim.CreateCanvas = MakeCellCanvas;
  model_.CreateOverlayCanvas = MakeOverlayCanvas;
  model_.Sim.PanelWidth = 694;
  model_.Sim.PanelHeight = 694;

  // The panel's size must be fixed before the first setup derives the grid from it.
  auto* border = new QFrame(this);
  panelBorder_ = border;
  border->setFrameStyle(QFrame::Box | QFrame::Plain);
  border->setGeometry(7, 8, 696, 696);
  panel_ = new DrawingPanel(*this, border);
  panel_->setGeometry(1, 1, 694, 694);

  tabs_ = new QTabWidget(this);
  tabs_->setGeometry(711, 8, 205, 481);
  tabs_->setUsesScrollButtons(false);
  tabs_->tabBar()->setStyleSheet("QTabBar::tab { padding: 3px 5px; }");
  const char* pages[4] = {"setup", "parameter", "analysis", "streets"};
  QWidget* page[4];
  for (int i = 0; i < 4; ++i) {
    page[i] = new QWidget;
    tabs_->addTab(page[i], pages[i]);
  }
  BuildSetupTab(page[0]);
  BuildParameterTab(page[1]);
  BuildAnalysisTab(page[2]);
  BuildStreetsTab(page[3]);
  BuildRunArea();
  tabs_->setCurrentIndex(0);

  // Every default text is in place, signals still unconnected: the checks must not run against
  // a grid that does not exist yet.
  Guarded([&] { model_.CreateMainWindow(); });
  for (int row = 0; row < 8; ++row) {
    for (int column = 0; column < 2; ++column) {
      SG_weight_->item(row, column)
          ->setText(QString::fromStdString(model_.Controls.SG_weight[size_t(column)][size_t(row)]));
    }
  }
  for (size_t i = 0; i < 7; ++i) {
    QPalette palette = colCode_[i]->palette();
    palette.setColor(QPalette::Window, ToQColor(model_.Sim.SwatchColours[i]));
    colCode_[i]->setPalette(palette);
  }
  ConnectControls();

  panelFrame_ = new QTimer(this);
  panelFrame_->setSingleShot(true);
  panelFrame_->setInterval(16);
  connect(panelFrame_, &QTimer::timeout, this, [this] {
    QRect area;
    if (QtCanvas* cells = AsQtCanvas(model_.Sim.CellImage)) area |= cells->TakeDirty();
    if (QtCanvas* overlay = AsQtCanvas(model_.OverlayImage)) area |= overlay->TakeDirty();
    if (overlayShown_ != bool(model_.OverlayImage)) {
      area = QRect(0, 0, model_.Sim.PanelWidth, model_.Sim.PanelHeight);
    }
    overlayShown_ = bool(model_.OverlayImage);
    if (!area.isNull()) panel_->UpdatePicture(area);
  });

  timer1_ = new QTimer(this);
  timer1_->setObjectName("Timer1");
  timer1_->setTimerType(Qt::PreciseTimer);
  connect(timer1_, &QTimer::timeout, this, &TForm1::Timer1Timer);
  connect(TrB_speed_, &QSlider::valueChanged, this, &TForm1::SetSpeed);
  SetSpeed(kDefaultSpeed);
  SyncFromModel();
  panel_->update();
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child != panelBorder_) rightColumn_.push_back({child, child->pos()});
  }
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The room the panel's frame has at the default size, grown with the window.
  const int dx = width() - 924, dy = height() - 711;
  const QRect room(7, 8, 696 + dx, 696 + dy);
  const int scale = std::max(1, std::min((room.width() - 2) / model_.Sim.PanelWidth,
                                         (room.height() - 2) / model_.Sim.PanelHeight));
  if (scale != panel_->Scale()) panel_->SetScale(scale);
  const QSize frame(panel_->width() + 2, panel_->height() + 2);
  panelBorder_->setGeometry(QRect(room.x() + std::max(0, room.width() - frame.width()) / 2,
                                  room.y() + std::max(0, room.height() - frame.height()) / 2,
                                  frame.width(), frame.height()));
  for (const auto& [widget, at] : rightColumn_) widget->move(at.x() + dx, at.y());
}

TForm1::~TForm1() {
  // The model may outlive this window: nothing of it may call back here.
  model_.Sim.CreateCanvas = nullptr;
  model_.CreateOverlayCanvas = nullptr;
  model_.Controls.onFieldRewritten = nullptr;
  const qint64 lastTick = clock_.elapsed();
  model_.TickCount = [lastTick] { return uint32_t(lastTick); };
}

void TForm1::SetWindows(QWidget* analysis, QWidget* parameterSpace, QWidget* growth,
                        QWidget* streets) {
  analysis_ = analysis;
  parameterSpace_ = parameterSpace;
  growth_ = growth;
  streets_ = streets;
}

void TForm1::SetExperimentWindow(ExperimentWindow* experiment) {
  experiment_ = experiment;
}

QLineEdit* TForm1::MakeField(Field f, QWidget* parent, int x, int y, int width,
                             const char* caption) {
  auto* edit = new QLineEdit(QString::fromStdString(model_.Controls.Text(f)), parent);
  edit->setObjectName(FieldName(f));
  edit->setGeometry(x, y, width, 20);
  fields_[size_t(f)] = edit;
  if (std::find(kDigitsOnlyFields.begin(), kDigitsOnlyFields.end(), f) != kDigitsOnlyFields.end()) {
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
  }
  if (caption) MakeLabel(caption, parent, x + width + 19, y + 2);
  return edit;
}

void TForm1::MakeUpDown(Field f, int min, int max, int increment) {
  QLineEdit* edit = fields_[size_t(f)];
  auto* upDown = new UpDown(edit, min, max, increment, edit->parentWidget());
  const std::string name = FieldName(f);
  upDown->setObjectName(QString::fromStdString("UpD_" + name.substr(name.find('_') + 1)));
}

QPushButton* TForm1::MakeButton(const char* name, const char* caption, QWidget* parent,
                                QRect geometry) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setGeometry(geometry);
  return button;
}

QSpinBox* TForm1::MakeLayoutSpinner(const char* name, const char* editName, QWidget* parent, int x,
                                    int y, int min, int max, int step, int value,
                                    const char* caption) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(name);
  if (auto* edit = spin->findChild<QLineEdit*>()) edit->setObjectName(editName);
  spin->setRange(min, max);
  spin->setSingleStep(step);
  spin->setValue(value);
  spin->setGeometry(x, y, 56, 22);
  MakeLabel(caption, parent, x + 58, y + 3);
  return spin;
}

void TForm1::BuildSetupTab(QWidget* page) {
  auto* box = new QGroupBox("setup settings", page);
  box->setGeometry(3, 3, 191, 202);
  MakeField(Field::Edit_anzAg, box, 8, 20, 50, nullptr);
  MakeLabel(": number of agents", box, 77, 22);
  MakeField(Field::Edit_cellSiz, box, 8, 46, 50, ": cell size");
  MakeField(Field::Edit_anzGr, box, 8, 72, 50, ": number of groups");
  MakeField(Field::Edit_nRad, box, 8, 98, 50, ": radius neighbourh.");
  MakeField(Field::Edit_mDist, box, 8, 124, 50, ": move distance");
  MakeUpDown(Field::Edit_cellSiz, 1, 50, 1);
  MakeUpDown(Field::Edit_anzGr, 2, 1000, 1);
  MakeUpDown(Field::Edit_nRad, 1, 1000, 1);
  MakeUpDown(Field::Edit_mDist, 2, 1000, 1);
  CB_graphicUpd_ = new QCheckBox("run with graphic (slower)", box);
  CB_graphicUpd_->setObjectName("CB_graphicUpd");
  CB_graphicUpd_->setGeometry(8, 152, 178, 20);
  CB_graphicUpd_->setChecked(model_.Controls.CB_graphicUpd);
  CB_strOcc_ = new QCheckBox("allow street occupation", box);
  CB_strOcc_->setObjectName("CB_strOcc");
  CB_strOcc_->setGeometry(8, 176, 178, 20);
  CB_strOcc_->setChecked(model_.Controls.CB_strOcc);

  auto* grow = new QGroupBox("growth", page);
  grow->setGeometry(3, 209, 191, 144);
  CB_actiGrow_ = new QCheckBox("activate", grow);
  CB_actiGrow_->setObjectName("CB_actiGrow");
  CB_actiGrow_->setGeometry(8, 20, 80, 20);
  CB_actiGrow_->setChecked(model_.Controls.CB_actiGrow);
  Lbl_nrAgents_ = MakeLabel("nr agents", grow, 92, 22, 50);
  Lbl_nrAgents_->setObjectName("Lbl_nrAgents");
  Lbl_nrAgents_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  MakeLabel("agents", grow, 146, 22);
  MakeLabel("start with agents:", grow, 8, 48);
  MakeField(Field::E_startGrowWith, grow, 8, 66, 60, nullptr);
  MakeUpDown(Field::E_startGrowWith, 1, 32000, 10);
  MakeLabel("add agents per timestep:", grow, 8, 96);
  MakeField(Field::E_growRate, grow, 8, 114, 60, nullptr);
  MakeUpDown(Field::E_growRate, 1, 32000, 5);

  // Below the settings: the seed and the scenario files.
  E_seed_ = new QLineEdit(page);
  E_seed_->setObjectName("E_seed");
  E_seed_->setGeometry(11, 359, 86, 20);
  E_seed_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), E_seed_));
  E_seed_->setPlaceholderText("clock");
  E_seed_->setToolTip("The seed of every \"new Setup\"; empty: the clock");
  MakeLabel(": seed", page, 101, 361);
  Lbl_seed_ = MakeLabel("", page, 11, 381, 180);
  Lbl_seed_->setObjectName("Lbl_seed");
  Lbl_seed_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  BuildFileButtons(page);
}

QPushButton* TForm1::MakeFileButton(const char* name, const QString& caption, QWidget* page,
                                    QRect geometry, const char* fileName, const QString& filter,
                                    bool (TForm1::*action)(const QString&)) {
  auto* button = MakeButton(name, caption.toUtf8().constData(), page, geometry);
  connect(button, &QPushButton::clicked, this, [=, this] {
    const QString title = caption.chopped(1);
    const QString path = fileName ? QFileDialog::getSaveFileName(this, title, fileName, filter)
                                  : QFileDialog::getOpenFileName(this, title, QString(), filter);
    if (!path.isEmpty()) (this->*action)(path);
  });
  return button;
}

void TForm1::BuildFileButtons(QWidget* page) {
  const QString scenarios = "Scenarios (*.json);;All files (*)";
  const QString runs = "Saved runs (*.segrun);;All files (*)";
  MakeFileButton("B_openScenario", "Open scenario…", page, QRect(3, 400, 94, 24), nullptr,
                 scenarios, &TForm1::OpenScenarioFrom);
  MakeFileButton("B_saveScenario", "Save scenario…", page, QRect(100, 400, 94, 24), "scenario.json",
                 scenarios, &TForm1::SaveScenarioTo);
  MakeFileButton("B_openRun", "Open run…", page, QRect(3, 428, 94, 24), nullptr, runs,
                 &TForm1::OpenRunFrom);
  MakeFileButton("B_saveRun", "Save run…", page, QRect(100, 428, 94, 24), "run.segrun", runs,
                 &TForm1::SaveRunTo);
}

void TForm1::BuildParameterTab(QWidget* page) {
  auto* box = new QGroupBox("tolerance settings", page);
  box->setGeometry(3, 3, 191, 90);
  MakeLabel("threshold :", box, 10, 24);
  Lbl_P_ = MakeLabel(QString::fromStdString(model_.Window.Lbl_P), box, 72, 24, 26);
  Lbl_P_->setObjectName("Lbl_P");
  Lbl_P_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  MakeLabel("%", box, 100, 24);
  TrB_thresh_ = new QSlider(Qt::Horizontal, box);
  TrB_thresh_->setObjectName("TrB_thresh");
  TrB_thresh_->setRange(0, 100);
  TrB_thresh_->setPageStep(5);
  TrB_thresh_->setTickInterval(10);
  TrB_thresh_->setTickPosition(QSlider::TicksBelow);
  TrB_thresh_->setValue(model_.Controls.TrB_thresh);
  TrB_thresh_->setGeometry(8, 48, 175, 30);

  auto* free = new QGroupBox("handle free cells", page);
  free->setGeometry(3, 99, 191, 100);
  const char* names[3] = {"RB_count_no", "RB_count_diff", "RB_count_simi"};
  const char* captions[3] = {"do not count empty cells", "count empty cells as different",
                             "count empty cells as similar"};
  auto* group = new QButtonGroup(free);
  group->setObjectName("empty_cells");
  for (int i = 0; i < 3; ++i) {
    emptyCellRadios_[size_t(i)] = new QRadioButton(captions[i], free);
    emptyCellRadios_[size_t(i)]->setObjectName(names[i]);
    emptyCellRadios_[size_t(i)]->setGeometry(8, 22 + 24 * i, 180, 20);
    group->addButton(emptyCellRadios_[size_t(i)], i);
  }
  emptyCellRadios_[size_t(model_.Controls.emptyCellRule)]->setChecked(true);
}

void TForm1::BuildAnalysisTab(QWidget* page) {
  auto* show = MakeButton("Button1", "show charts", page, QRect(8, 10, 120, 25));
  connect(show, &QPushButton::clicked, this, [this] {
    if (analysis_) {
      analysis_->show();
      analysis_->raise();
    }
  });
  auto* cluster = MakeButton("B_cluster", "cluster analysis", page, QRect(8, 42, 120, 25));
  connect(cluster, &QPushButton::clicked, this,
          [this] { Guarded([&] { model_.FindClusters(); }); });
  auto* dissimilar = MakeButton("Button2", "dissimilar", page, QRect(8, 74, 120, 25));
  connect(dissimilar, &QPushButton::clicked, this,
          [this] { Guarded([&] { model_.ComputeSegregationIndices(); }); });
  MakeField(Field::E_clusterT, page, 8, 112, 50, ": cluster thr.");
  MakeUpDown(Field::E_clusterT, 1, 10000, 1);
  MakeField(Field::E_nbSize, page, 8, 140, 50, ": grid size");
  MakeUpDown(Field::E_nbSize, 1, 10000, 1);
  auto* ps = MakeButton("ana_ps", "analyse ps", page, QRect(8, 190, 120, 25));
  auto* growth = MakeButton("ana_growth", "analyse growth", page, QRect(8, 222, 120, 25));
  auto* streets = MakeButton("B_anaStr", "analyse streets", page, QRect(8, 254, 120, 25));
  connect(ps, &QPushButton::clicked, this, [this] { ShowWindowStoppingRun(parameterSpace_); });
  connect(growth, &QPushButton::clicked, this, [this] { ShowWindowStoppingRun(growth_); });
  connect(streets, &QPushButton::clicked, this, [this] { ShowWindowStoppingRun(streets_); });
  auto* experiment = MakeButton("ana_experiment", "experiment", page, QRect(8, 286, 120, 25));
  experiment->setToolTip("Vary any parameters together, repeat, chart a measure (on every core)");
  connect(experiment, &QPushButton::clicked, this, [this] { ShowWindowStoppingRun(experiment_); });
  BuildPictureButtons(page, 330);
}

void TForm1::BuildStreetsTab(QWidget* page) {
  auto* draw = new QGroupBox("draw streets", page);
  draw->setGeometry(3, 3, 191, 54);
  CB_strType_ = new QComboBox(draw);
  CB_strType_->setObjectName("CB_strType");
  CB_strType_->setGeometry(11, 24, 158, 22);
  for (const char* item : kStreetItems) CB_strType_->addItem(item);
  CB_strType_->setPlaceholderText(" choose street type");
  CB_strType_->setCurrentIndex(-1);

  CB_hideAgs_ = new QCheckBox("draw without agents", page);
  CB_hideAgs_->setObjectName("CB_hideAgs");
  CB_hideAgs_->setGeometry(16, 63, 160, 17);
  CB_hideAgs_->setChecked(model_.Controls.CB_hideAgs);

  SG_weight_ = new QTableWidget(8, 2, page);
  SG_weight_->setObjectName("SG_weight");
  SG_weight_->setGeometry(16, 86, 129, 173);
  SG_weight_->horizontalHeader()->hide();
  SG_weight_->verticalHeader()->hide();
  SG_weight_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  SG_weight_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  SG_weight_->verticalHeader()->setMinimumSectionSize(1);
  SG_weight_->setColumnWidth(0, 60);
  SG_weight_->horizontalHeader()->setStretchLastSection(true);
  for (int row = 0; row < 8; ++row) {
    SG_weight_->setRowHeight(row, 21);
    for (int column = 0; column < 2; ++column) {
      auto* item = new QTableWidgetItem;
      if (row == 0 || column == 0) {
        item->setFlags(Qt::ItemIsEnabled);
        item->setBackground(SG_weight_->palette().button());
      }
      SG_weight_->setItem(row, column, item);
    }
  }
  SG_weight_->setItemDelegate(new WeightDelegate(weightEditor_, SG_weight_));
  const int swatchY[7] = {112, 133, 154, 176, 197, 218, 240};
  for (int i = 0; i < 7; ++i) {
    auto* swatch = new QLabel("       ", page);
    swatch->setObjectName(QString("colCode%1").arg(i + 1));
    swatch->setGeometry(151, swatchY[i], 21, 12);
    swatch->setAutoFillBackground(true);
    QPalette palette = swatch->palette();
    palette.setColor(QPalette::Window, Qt::white);
    swatch->setPalette(palette);
    colCode_[size_t(i)] = swatch;
  }

  auto* layouts = new QGroupBox("predefined layouts", page);
  layouts->setGeometry(3, 265, 191, 152);
  auto* grid = MakeButton("B_drawGrid", "draw grid", layouts, QRect(6, 20, 58, 45));
  auto* random = MakeButton("B_randStr", "random", layouts, QRect(6, 71, 58, 24));
  const ControlValues& c = model_.Controls;
  UpD_rows_ =
      MakeLayoutSpinner("UpD_rows", "Ed_rows", layouts, 68, 19, 1, 10000, 1, c.UpD_rows, ": rows");
  UpD_cols_ = MakeLayoutSpinner("UpD_cols", "Ed_cols", layouts, 68, 45, 1, 10000, 1, c.UpD_cols,
                                ": columns");
  UpD_nrStr_ = MakeLayoutSpinner("UpD_nrStr", "Ed_nrStr", layouts, 68, 73, 1, 10000, 5, c.UpD_nrStr,
                                 ": streets");
  UpD_strType_ = MakeLayoutSpinner("UpD_strType", "Ed_strType", layouts, 68, 101, -3, 3, 1,
                                   c.UpD_strType, ": street type");
  CB_rndTyp_ = new QCheckBox("random street types", layouts);
  CB_rndTyp_->setObjectName("CB_rndTyp");
  CB_rndTyp_->setGeometry(40, 127, 148, 20);
  CB_rndTyp_->setChecked(c.CB_rndTyp);

  auto* remove = MakeButton("b_delStr", "delete streets", page, QRect(3, 423, 92, 25));
  auto* imprint = MakeButton("B_imprint", "imprint", page, QRect(134, 423, 60, 25));
  auto withWeights = [this](std::function<void()> op) {
    return [this, op] {
      CommitWeightEditor();
      // A spinner text that is no number of its range goes back to the value the layout reads,
      // so the field shows what is used.
      for (QSpinBox* spin : {UpD_rows_, UpD_cols_, UpD_nrStr_, UpD_strType_}) spin->interpretText();
      Guarded(op);
    };
  };
  connect(grid, &QPushButton::clicked, this,
          withWeights([this] { model_.Sim.LayOutStreetGrid(); }));
  connect(random, &QPushButton::clicked, this,
          withWeights([this] { model_.Sim.LayOutRandomStreets(); }));
  connect(remove, &QPushButton::clicked, this, withWeights([this] { model_.DeleteStreets(); }));
  connect(imprint, &QPushButton::clicked, this,
          withWeights([this] { model_.Sim.BuildNeighbourhoodWeights(); }));
}

void TForm1::BuildRunArea() {
  lbl_Steps_ = MakeLabel(QString::fromStdString(model_.Window.lbl_Steps), this, 724, 495, 60);
  lbl_Steps_->setObjectName("lbl_Steps");
  lbl_Steps_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  MakeLabel(": timesteps", this, 787, 495);
  B_stop_ = MakeButton("B_stop", "start / stop", this, QRect(724, 519, 82, 25));
  connect(B_stop_, &QPushButton::clicked, this, &TForm1::B_stopClick);
  auto* step = MakeButton("B_step", "step", this, QRect(852, 491, 64, 24));
  step->setToolTip("One time step, as the running program makes it");
  connect(step, &QPushButton::clicked, this, &TForm1::B_stepClick);
  auto* setup = MakeButton("B_setup", "new Setup", this, QRect(812, 519, 80, 25));
  connect(setup, &QPushButton::clicked, this, &TForm1::B_setupClick);
  auto* repaint = MakeButton("B_repaint", "repaint all", this, QRect(724, 558, 82, 25));
  connect(repaint, &QPushButton::clicked, this,
          [this] { Guarded([&] { model_.Sim.RepaintAll(); }); });
  TrB_speed_ = new QSlider(Qt::Horizontal, this);
  TrB_speed_->setObjectName("TrB_speed");
  TrB_speed_->setRange(0, int(kStepsPerSecond.size()) - 1);
  TrB_speed_->setPageStep(1);
  TrB_speed_->setGeometry(812, 559, 104, 22);
  TrB_speed_->setToolTip("How fast the run goes; \"fastest\" steps as often as the computer can");
  speedLabel_ = MakeLabel("", this, 812, 582, 104);
  speedLabel_->setObjectName("speedLabel");
  speedLabel_->setAlignment(Qt::AlignCenter);
  Lbl_cellS_ = MakeLabel("", this, 711, 611, 110);
  Lbl_cellS_->setObjectName("Lbl_cellS");
  Lbl_cellS_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  MakeLabel(": cell-space", this, 823, 611);
  Lbl_strCell_ = MakeLabel("", this, 711, 629, 110);
  Lbl_strCell_->setObjectName("Lbl_strCell");
  Lbl_strCell_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  MakeLabel(": street cells", this, 823, 629);
  MakeField(Field::E_stopT, this, 780, 653, 41, nullptr);
  MakeLabel(": stop at timestep", this, 823, 655);
  droppedAgents_ = new QLabel(this);
  droppedAgents_->setObjectName("droppedAgents");
  droppedAgents_->setGeometry(711, 676, 205, 30);
  droppedAgents_->setWordWrap(true);
  droppedAgents_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  droppedAgents_->setStyleSheet("QLabel { color: rgb(192, 0, 0); }");
  droppedAgents_->setFont(font());
}

void TForm1::SetSpeed(int position) {
  position = std::clamp(position, 0, int(kStepsPerSecond.size()) - 1);
  if (TrB_speed_->value() != position) {
    TrB_speed_->setValue(position);  // comes back here through valueChanged
    return;
  }
  const int rate = kStepsPerSecond[size_t(position)];
  speedLabel_->setText(rate == 0 ? QString("speed: fastest")
                                 : QString("speed: %1 steps/s").arg(rate));
  // Only the time between ticks changes; below "fastest" a tick is one whole step.
  timer1_->setInterval(rate == 0 ? 0 : (1000 + rate / 2) / rate);
}

void TForm1::ShowDroppedAgents() {
  QString text;
  if (int64_t(model_.Sim.Agents.size()) < model_.Sim.AgentsRequested) {
    text = QString("placed %1 of %2 agents: no free cell was left for the others")
               .arg(model_.Sim.Agents.size())
               .arg(model_.Sim.AgentsRequested);
  }
  if (droppedAgents_->text() != text) droppedAgents_->setText(text);
}

void TForm1::ConnectControls() {
  // Every run parameter with a widget in this window, by the widget's objectName.
  bindings_.clear();
  for (const Parameter& p : Parameters()) {
    const std::optional<Field> field = p.EditField();
    QObject* widget = field                             ? fields_[size_t(*field)]
                      : p.kind == ParameterKind::Weight ? SG_weight_
                                                        : findChild<QObject*>(p.control);
    if (!widget) continue;
    bindings_.push_back({&p, widget});
    if (field) {
      const Field f = *field;
      checks_[size_t(f)] = new PausedCheck(
          fields_[size_t(f)], FieldTitle(f), [this, &p] { model_.ControlChanged(p); },
          [this](const std::function<void()>& operation) { return Guarded(operation); });
      connect(fields_[size_t(f)], &QLineEdit::textChanged, this,
              [this, f](const QString& text) { FieldChanged(f, text); });
    } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
      connect(box, &QCheckBox::toggled, this,
              [this, &p](bool on) { p.set(model_.Controls, on ? "yes" : "no"); });
    } else if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
      connect(spin, &QSpinBox::valueChanged, this,
              [this, &p](int v) { p.set(model_.Controls, std::to_string(v)); });
    } else if (auto* slider = qobject_cast<QSlider*>(widget)) {
      connect(slider, &QSlider::valueChanged, this, [this, &p](int position) {
        Guarded([&] {
          p.set(model_.Controls, std::to_string(position));
          model_.ControlChanged(p);
        });
      });
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      connect(combo, &QComboBox::currentIndexChanged, this,
              [this, &p](int index) { p.set(model_.Controls, std::to_string(index)); });
    } else if (auto* group = qobject_cast<QButtonGroup*>(widget)) {
      connect(group, &QButtonGroup::idToggled, this, [this, &p](int id, bool on) {
        if (on && id >= 0 && size_t(id) < p.words.size())
          p.set(model_.Controls, p.words[size_t(id)]);
      });
    }
  }
  model_.Controls.onFieldRewritten = [this](Field f) {
    QLineEdit* edit = fields_[size_t(f)];
    if (!edit) return;
    const QSignalBlocker block(edit);
    edit->setText(QString::fromStdString(model_.Controls.Text(f)));
  };
  connect(E_seed_, &QLineEdit::textChanged, this,
          [this](const QString& text) { model_.Sim.SeedField = text.toStdString(); });
  connect(SG_weight_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (item->row() < 8 && item->column() < 2) {
      model_.Controls.SG_weight[size_t(item->column())][size_t(item->row())] =
          item->text().toStdString();
    }
  });
}

bool TForm1::SaveScenarioTo(const QString& path) {
  CommitWeightEditor();
  return Guarded([&] { SaveScenario(ScenarioOf(model_.Sim), path.toStdString()); });
}

bool TForm1::OpenScenarioFrom(const QString& path) {
  CommitWeightEditor();
  const ControlValues oldControls = model_.Controls;
  const std::string oldSeed = model_.Sim.SeedField;
  const bool opened = Guarded([&] {
    const std::string name = path.toStdString();
    const Scenario s = LoadScenario(name);
    if (s.panelWidth != model_.Sim.PanelWidth || s.panelHeight != model_.Sim.PanelHeight) {
      throw SegworkError(name + ": panel: " + std::to_string(s.panelWidth) + " x " +
                         std::to_string(s.panelHeight) + " pixels, the window's is " +
                         std::to_string(model_.Sim.PanelWidth) + " x " +
                         std::to_string(model_.Sim.PanelHeight));
    }
    try {
      auto rewritten = std::move(model_.Controls.onFieldRewritten);
      model_.Controls = s.controls;
      model_.Controls.onFieldRewritten = std::move(rewritten);
      model_.Sim.SeedField = s.seed ? std::to_string(*s.seed) : std::string();
      if (s.streets) {
        model_.SetUpOnStreets(*s.streets);
      } else {
        // Lines without a grid are strokes on an empty one, before the run's setup.
        const GridPos grid = GridSizeOf(s.controls, s.panelWidth, s.panelHeight);
        model_.SetUpOnStreets(
            {{}, grid.x, grid.y, std::vector<int32_t>(size_t(grid.x) * size_t(grid.y), 0)});
        for (const StreetStroke& stroke : StartStreetsOf(s, name).strokes) {
          model_.Sim.DrawStroke(stroke);
        }
        model_.B_setupClick();
      }
    } catch (...) {
      auto rewritten = std::move(model_.Controls.onFieldRewritten);
      model_.Controls = oldControls;
      model_.Controls.onFieldRewritten = std::move(rewritten);
      model_.Sim.SeedField = oldSeed;
      throw;
    }
  });
  ShowControls();
  SyncFromModel();
  panel_->update();
  return opened;
}

bool TForm1::SaveRunTo(const QString& path) {
  CommitWeightEditor();
  return Guarded([&] { SaveRun(model_.Sim, model_.Analysis, path.toStdString()); });
}

bool TForm1::OpenRunFrom(const QString& path) {
  CommitWeightEditor();
  const bool opened = Guarded([&] {
    model_.RunOpened(OpenRun(model_.Sim, path.toStdString(), [&] { model_.CancelStroke(); }));
  });
  if (opened && model_.Window.Timer1Enabled) {
    // The opened run waits for "start / stop", as a run that stopped does.
    model_.Window.Timer1Enabled = false;
    model_.Window.StopButtonRed = true;
  }
  ShowControls();
  SyncFromModel();
  panel_->update();
  return opened;
}

void TForm1::ShowControls() {
  const ControlValues& c = model_.Controls;
  const ControlValues opening;
  for (const auto& [p, widget] : bindings_) {
    const std::string value = p->get(c);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      const QSignalBlocker block(edit);
      edit->setText(QString::fromStdString(value));
    } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
      const QSignalBlocker block(box);
      box->setChecked(value == "yes");
    } else if (auto* group = qobject_cast<QButtonGroup*>(widget)) {
      for (size_t i = 0; i < p->words.size(); ++i) {
        if (QAbstractButton* button = group->button(int(i))) {
          const QSignalBlocker block(button);
          button->setChecked(value == p->words[i]);
        }
      }
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      const QSignalBlocker block(combo);
      combo->setCurrentIndex(StrToInt(value));
    } else if (widget == SG_weight_) {
      // The weight's row is the one its type heads.
      const auto& types = opening.SG_weight[0];
      const auto row = std::find(types.begin(), types.end(), p->control) - types.begin();
      const QSignalBlocker block(SG_weight_);
      if (QTableWidgetItem* item = SG_weight_->item(int(row), 1)) {
        item->setText(QString::fromStdString(value));
      }
    }
  }
  const QSignalBlocker block(E_seed_);
  E_seed_->setText(QString::fromStdString(model_.Sim.SeedField));
}

void TForm1::ShowPositions() {
  const ControlValues& c = model_.Controls;
  for (const auto& [p, widget] : bindings_) {
    if (p->kind != ParameterKind::Position) continue;
    auto show = [&](auto* control) {
      const int value = StrToInt(p->get(c));
      if (control->value() == value) return;
      const QSignalBlocker block(control);
      control->setValue(value);
    };
    if (auto* slider = qobject_cast<QSlider*>(widget)) show(slider);
    if (auto* spin = qobject_cast<QSpinBox*>(widget)) show(spin);
  }
}

void TForm1::FieldChanged(Field f, const QString& text) {
  // The run reads what is typed from now on; only the check waits for the typing to pause.
  model_.Controls.Text(f) = text.toStdString();
  checks_[size_t(f)]->Edited();
}

bool TForm1::Guarded(const std::function<void()>& operation) {
  bool ok = false;
  try {
    operation();
    ok = true;
  } catch (const SegworkError& e) {
    ErrorReporter::Instance().Report(QString::fromStdString(e.Caption()), e.what());
  } catch (const std::bad_alloc&) {
    ErrorReporter::Instance().Report({}, "not enough memory for this operation");
  } catch (const std::exception& e) {
    ErrorReporter::Instance().Report({}, e.what());
  }
  SyncFromModel();
  return ok;
}

void TForm1::SyncFromModel() {
  const WindowOutputs& w = model_.Window;
  SetTextIfChanged(lbl_Steps_, w.lbl_Steps);
  SetTextIfChanged(Lbl_nrAgents_, w.Lbl_nrAgents);
  SetTextIfChanged(Lbl_P_, w.Lbl_P);
  SetTextIfChanged(Lbl_cellS_, w.Lbl_cellS);
  SetTextIfChanged(Lbl_strCell_, w.Lbl_strCell);
  SetTextIfChanged(Lbl_seed_, "this run's seed: " + std::to_string(model_.Sim.Seed));
  ShowDroppedAgents();
  // Controls the experiments set in the model.
  ShowPositions();
  const QString caption = QString::fromStdString(w.Caption);
  if (windowTitle() != caption) setWindowTitle(caption);
  if (timer1_ && w.Timer1Enabled != timer1_->isActive()) {
    if (w.Timer1Enabled) {
      timer1_->start();
    } else {
      timer1_->stop();
    }
  }
  if (B_stop_->styleSheet().isEmpty() || shownRed_ != w.StopButtonRed) {
    shownRed_ = w.StopButtonRed;
    const TColor c = w.StopButtonRed ? kRed : kGreen;
    B_stop_->setStyleSheet(QString("QPushButton { color: rgb(%1, %2, %3); }")
                               .arg(RedOf(c))
                               .arg(GreenOf(c))
                               .arg(BlueOf(c)));
    // A style sheet drops the inherited font; keep the window's.
    B_stop_->setFont(font());
  }
  SchedulePanelUpdate();
}

void TForm1::SchedulePanelUpdate() {
  if (!panelFrame_ || panelFrame_->isActive()) return;
  QtCanvas* cells = AsQtCanvas(model_.Sim.CellImage);
  QtCanvas* overlay = AsQtCanvas(model_.OverlayImage);
  const bool dirty = (cells && cells->IsDirty()) || (overlay && overlay->IsDirty()) ||
                     overlayShown_ != bool(model_.OverlayImage);
  if (dirty) panelFrame_->start();
}

void TForm1::CommitWeightEditor() {
  if (!weightEditor_) return;
  auto* delegate = SG_weight_->itemDelegate();
  QWidget* editor = weightEditor_;
  emit delegate->commitData(editor);
  emit delegate->closeEditor(editor, QAbstractItemDelegate::NoHint);
  weightEditor_ = nullptr;
}

void TForm1::Timer1Timer() {
  if (BusyGuard::Busy()) return;
  BusyGuard guard;
  // A settled step costs about a microsecond, a tick far more: at "fastest" a tick makes the
  // steps that fit in a frame, the window shown once after them. A recording takes its frame
  // after every step, so it keeps one step a tick.
  const bool frameOfSteps = !movie_ && kStepsPerSecond[size_t(TrB_speed_->value())] == 0;
  constexpr qint64 kFrameNs = 15'000'000;
  QElapsedTimer frame;
  frame.start();
  if (!Guarded([&] {
        do {
          model_.Timer1Timer();
        } while (frameOfSteps && model_.Window.Timer1Enabled && frame.nsecsElapsed() < kFrameNs);
      })) {
    // The step stopped where it failed; the user mends the field and starts again.
    model_.Window.Timer1Enabled = false;
    model_.Window.StopButtonRed = true;
    SyncFromModel();
    return;
  }
  if (movie_ && !Guarded([&] { RecordFrame(); })) {
    movie_.reset();
    ShowRecording();
  }
}

void TForm1::B_stopClick() {
  CommitWeightEditor();
  if (!model_.Window.Timer1Enabled && SweepRunning()) {
    // A sweep steps this model: a second run on it would pass the sweep's stop step.
    ErrorReporter::Instance().Report(
        "sweep running", "The run cannot start while a sweep runs: stop the sweep first.");
    return;
  }
  Guarded([&] { model_.B_stopClick(); });
}

void TForm1::B_stepClick() {
  CommitWeightEditor();
  if (SweepRunning()) {
    ErrorReporter::Instance().Report(
        "sweep running", "No step can be made while a sweep runs: stop the sweep first.");
    return;
  }
  if (BusyGuard::Busy()) return;
  BusyGuard guard;
  if (Guarded([&] { model_.B_stepClick(); }) && movie_ && !Guarded([&] { RecordFrame(); })) {
    movie_.reset();
    ShowRecording();
  }
}

bool TForm1::SweepRunning() const {
  for (QWidget* w : {parameterSpace_.data(), growth_.data(), streets_.data()}) {
    if (auto* form = qobject_cast<ExperimentForm*>(w); form && form->Timer()->isActive()) {
      return true;
    }
  }
  return experiment_ && experiment_->Running();
}

void TForm1::StopRun() {
  model_.Window.Timer1Enabled = false;
  model_.Window.StopButtonRed = true;
  SyncFromModel();
}

void TForm1::B_setupClick() {
  CommitWeightEditor();
  Guarded([&] { model_.B_setupClick(); });
}

void TForm1::ShowWindowStoppingRun(QWidget* window) {
  if (window) {
    window->show();
    window->raise();
  }
  StopRun();
}

void TForm1::ZeichenPanelMouseDown(Qt::MouseButton button, QPoint pos) {
  Guarded([&] { model_.ZeichenPanelMouseDown(ToPointerButton(button), pos.x(), pos.y()); });
}

void TForm1::ZeichenPanelMouseMove(QPoint pos) {
  if (!model_.DrawingLine) return;
  Guarded([&] { model_.ZeichenPanelMouseMove(pos.x(), pos.y()); });
}

void TForm1::ZeichenPanelMouseUp(Qt::MouseButton button, QPoint pos) {
  CommitWeightEditor();
  Guarded([&] { model_.ZeichenPanelMouseUp(ToPointerButton(button), pos.x(), pos.y()); });
}

void TForm1::closeEvent(QCloseEvent* event) {
  timer1_->stop();
  panelFrame_->stop();
  StopRecording();
  for (QWidget* w : {analysis_.data(), parameterSpace_.data(), growth_.data(), streets_.data()}) {
    if (!w) continue;
    for (QTimer* timer : w->findChildren<QTimer*>()) timer->stop();
    w->hide();
  }
  // Its runs begun are finished, then its thread ends.
  if (experiment_) experiment_->close();
  event->accept();
  QApplication::quit();
}

}  // namespace segwork::ui
