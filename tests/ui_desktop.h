#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "ui/AnalyseForm.h"
#include "ui/ExperimentForms.h"
#include "ui/MainForm.h"
#include "ui/error_reporter.h"
#include "ui/qt_canvas.h"
#include "window/CellForm.h"

namespace segwork::ui::testing {

// Runs the event loop until the timer stops; false when `ms` pass first.
inline bool RunUntilStopped(QTimer* timer, int ms = 60000) {
  QEventLoop loop;
  QTimer poll;
  QElapsedTimer clock;
  clock.start();
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!timer->isActive() || clock.elapsed() > ms) loop.quit();
  });
  poll.start(10);
  loop.exec();
  return !timer->isActive();
}

// The program's five windows over one model with a fixed seed; message boxes are recorded.
class Desktop : public ::testing::Test {
 protected:
  void SetUp() override {
    model.Sim.ClockSeed = [] { return 7u; };
    ErrorReporter::Instance().show = [this](const QString& caption, const QString& text) {
      boxes.push_back(caption + "|" + text);
      if (duringBox) duringBox();
    };
    main = std::make_unique<TForm1>(model);
    analysis = std::make_unique<TForm2>(model);
    ps = std::make_unique<TForm3>(*main);
    growth = std::make_unique<TForm4>(*main);
    streets = std::make_unique<TForm5>(*main);
    main->SetWindows(analysis.get(), ps.get(), growth.get(), streets.get());
    main->show();
  }
  void TearDown() override {
    // A late box must not call into a test that has returned.
    duringBox = nullptr;
    // A report still queued would otherwise open a real, modal box in the next test.
    QElapsedTimer clock;
    clock.start();
    while (ErrorReporter::Instance().Pending() && clock.elapsed() < 5000) {
      QApplication::processEvents();
    }
    ErrorReporter::Instance().show = nullptr;
    QApplication::processEvents();
  }

  template <class T = QWidget>
  T* Find(const char* name) {
    T* w = main->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  void Click(const char* button) { QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton); }
  void Type(const char* field, const char* text) {
    QLineEdit* edit = Find<QLineEdit>(field);
    edit->selectAll();
    QTest::keyClicks(edit, text);
  }
  QString Text(const char* name) {
    if (auto* edit = main->findChild<QLineEdit*>(name)) return edit->text();
    return Find<QLabel>(name)->text();
  }
  void Stop() {
    model.Window.Timer1Enabled = false;
    main->SyncFromModel();
  }
  bool Red() { return Find<QPushButton>("B_stop")->styleSheet().contains("255, 0, 0"); }
  QWidget* Panel() { return Find("ZeichenPanel"); }
  static QPoint CellPixel(int x, int y) { return QPoint(x * 6 + 3, y * 6 + 3); }

  Model model;
  std::unique_ptr<TForm1> main;
  std::unique_ptr<TForm2> analysis;
  std::unique_ptr<TForm3> ps;
  std::unique_ptr<TForm4> growth;
  std::unique_ptr<TForm5> streets;
  std::vector<QString> boxes;
  std::function<void()> duringBox;
};

}  // namespace segwork::ui::testing
