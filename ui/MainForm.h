#pragma once

#include <QElapsedTimer>
#include <QFrame>
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <utility>
#include <vector>

#include "window/CellForm.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTableWidget;
class QTimer;
class QToolButton;

namespace segwork {
class MovieWriter;
class RasterCanvas;
}  // namespace segwork

namespace segwork::ui {

class ExperimentWindow;
class PausedCheck;
class TForm1;

// The drawing panel: paints the cell image and the rubber band overlay, forwards the pointer.
class DrawingPanel : public QWidget {
  Q_OBJECT
 public:
  DrawingPanel(TForm1& form, QWidget* parent);
  // Whole screen pixels per picture pixel, so every cell stays a square of whole pixels.
  int Scale() const { return scale_; }
  void SetScale(int scale);
  // Repaints the part of the picture `area` (in picture pixels) covers.
  void UpdatePicture(const QRect& area);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QPoint PicturePoint(const QMouseEvent* event) const;
  TForm1& form_;
  int scale_ = 1;
};

// An up/down control bound to an edit field: it steps the field's number within its range and
// writes it back as text, but never touches what is typed.
class UpDown : public QWidget {
  Q_OBJECT
 public:
  UpDown(QLineEdit* buddy, int min, int max, int increment, QWidget* parent);
  void Step(int direction);

 private:
  QLineEdit* buddy_;
  int min_, max_, increment_;
  int position_;
};

// The main window: a thin layer over the core's Model. Widgets write into the model's control
// values and call its handlers; what the model reports is shown after every call.
class TForm1 : public QWidget {
  Q_OBJECT
 public:
  // The model's clock seed is the caller's; the millisecond tick is this window's.
  explicit TForm1(Model& model, QWidget* parent = nullptr);
  ~TForm1() override;

  // The secondary windows, created after this one.
  void SetWindows(QWidget* analysis, QWidget* parameterSpace, QWidget* growth, QWidget* streets);
  void SetExperimentWindow(ExperimentWindow* experiment);

  Model& model() { return model_; }
  QTimer* Timer1() { return timer1_; }

  // Runs a core operation at an event boundary: a failure is reported once, never thrown on.
  // Returns whether it succeeded.
  bool Guarded(const std::function<void()>& operation);
  // Shows what the model reports: labels, caption, timer, run colour, the picture.
  void SyncFromModel();
  // Commits an open weight-table editor, so a build reads what the user sees.
  void CommitWeightEditor();

  void Timer1Timer();
  // Refused while a sweep or the experiment window runs.
  void B_stopClick();
  // "step": one step with all a tick does, also while stopped; refused while a sweep runs.
  void B_stepClick();
  // The run stopped and shown so, as when an experiment window takes the model.
  void StopRun();
  bool SweepRunning() const;
  void B_setupClick();
  void ZeichenPanelMouseDown(Qt::MouseButton button, QPoint pos);
  void ZeichenPanelMouseMove(QPoint pos);
  void ZeichenPanelMouseUp(Qt::MouseButton button, QPoint pos);

  QLineEdit* FieldEdit(Field f) const { return fields_[size_t(f)]; }

  // "Save scenario…": the controls, the current run's seed and the streets to a file.
  bool SaveScenarioTo(const QString& path);
  // "Open scenario…": the file's controls, seed and streets, then "new Setup" on them; a file
  // that cannot be read is reported and changes nothing.
  bool OpenScenarioFrom(const QString& path);
  // "Save run…" / "Open run…": the whole run, to go on from where it stood; a file that cannot
  // be read is reported and the run shown stays.
  bool SaveRunTo(const QString& path);
  bool OpenRunFrom(const QString& path);

  // "Save picture…": the drawing panel's cells as a PNG.
  bool SavePictureTo(const QString& path);
  // "Export cells…": every cell's group and street type now, as CSV or NetCDF by the extension.
  bool ExportCellsTo(const QString& path);
  // "Record movie…": the picture now and after every step the run makes until "Stop recording"
  // become the frames of a movie; a failure ends the recording and leaves no file.
  bool StartRecording(const QString& path);
  bool StopRecording();
  bool Recording() const { return bool(movie_); }

  // The run's pace: steps a second for each position of the speed slider; 0 is "fastest": as
  // many steps as fit in a frame, tick after tick.
  static constexpr std::array<int, 10> kStepsPerSecond = {1, 2, 5, 10, 20, 50, 100, 200, 500, 0};
  // Lets a person watch the separation itself: it is mostly over by step 30, which takes three
  // seconds at 10 steps a second.
  static constexpr int kDefaultSpeed = 3;
  void SetSpeed(int position);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildRunArea();
  void BuildSetupTab(QWidget* page);
  void BuildFileButtons(QWidget* page);
  void BuildParameterTab(QWidget* page);
  void BuildAnalysisTab(QWidget* page);
  void BuildStreetsTab(QWidget* page);
  void BuildPictureButtons(QWidget* page, int y);
  void RecordFrame();
  void ShowRecording();
  QLineEdit* MakeField(Field f, QWidget* parent, int x, int y, int width, const char* caption);
  void MakeUpDown(Field f, int min, int max, int increment);
  QPushButton* MakeButton(const char* name, const char* caption, QWidget* parent, QRect geometry);
  // A button that asks for a file name (to save when `fileName`, the suggested one, is given; to
  // open otherwise) and hands it to `action`; the dialog's title is its caption.
  QPushButton* MakeFileButton(const char* name, const QString& caption, QWidget* page,
                              QRect geometry, const char* fileName, const QString& filter,
                              bool (TForm1::*action)(const QString&));
  QSpinBox* MakeLayoutSpinner(const char* name, const char* editName, QWidget* parent, int x, int y,
                              int min, int max, int step, int value, const char* caption);
  void ConnectControls();
  void FieldChanged(Field f, const QString& text);
  void ShowWindowStoppingRun(QWidget* window);
  void SchedulePanelUpdate();
  void ShowDroppedAgents();
  // Every control shows what the model's control values hold.
  void ShowControls();

  Model& model_;
  DrawingPanel* panel_ = nullptr;
  QFrame* panelBorder_ = nullptr;
  // The controls right of the panel at the default size; a wider window moves them right.
  std::vector<std::pair<QWidget*, QPoint>> rightColumn_;
  QTimer* timer1_ = nullptr;
  QTimer* panelFrame_ = nullptr;
  QElapsedTimer clock_;
  std::array<QLineEdit*, kFieldCount> fields_{};
  std::array<PausedCheck*, kFieldCount> checks_{};
  // Each run parameter's widget, found by its objectName when the controls are connected.
  struct ControlBinding {
    const Parameter* parameter;
    QObject* widget;
  };
  std::vector<ControlBinding> bindings_;
  // The spinners and the track bar as the model holds them.
  void ShowPositions();
  QTabWidget* tabs_ = nullptr;
  QLabel* lbl_Steps_ = nullptr;
  QLabel* Lbl_nrAgents_ = nullptr;
  QLabel* Lbl_P_ = nullptr;
  QLabel* Lbl_cellS_ = nullptr;
  QLabel* Lbl_strCell_ = nullptr;
  QSlider* TrB_speed_ = nullptr;
  QLabel* speedLabel_ = nullptr;
  QLabel* droppedAgents_ = nullptr;
  QLineEdit* E_seed_ = nullptr;
  QLabel* Lbl_seed_ = nullptr;
  QPushButton* B_stop_ = nullptr;
  bool shownRed_ = false;
  bool overlayShown_ = false;
  QCheckBox* CB_graphicUpd_ = nullptr;
  QCheckBox* CB_strOcc_ = nullptr;
  QCheckBox* CB_actiGrow_ = nullptr;
  QCheckBox* CB_hideAgs_ = nullptr;
  QCheckBox* CB_rndTyp_ = nullptr;
  QSlider* TrB_thresh_ = nullptr;
  std::array<QRadioButton*, 3> emptyCellRadios_{};
  QComboBox* CB_strType_ = nullptr;
  QTableWidget* SG_weight_ = nullptr;
  QPointer<QWidget> weightEditor_;
  std::array<QLabel*, 7> colCode_{};
  QSpinBox* UpD_rows_ = nullptr;
  QSpinBox* UpD_cols_ = nullptr;
  QSpinBox* UpD_nrStr_ = nullptr;
  QSpinBox* UpD_strType_ = nullptr;
  QPointer<QWidget> analysis_, parameterSpace_, growth_, streets_;
  QPointer<ExperimentWindow> experiment_;
  QPushButton* B_record_ = nullptr;
  std::unique_ptr<MovieWriter> movie_;
  std::unique_ptr<RasterCanvas> movieFrame_;

  friend class DrawingPanel;
};

}  // namespace segwork::ui
