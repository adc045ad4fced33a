#pragma once

#include <QApplication>
#include <QDateTime>

#include "ui/AnalyseForm.h"
#include "ui/ExperimentForms.h"
#include "ui/ExperimentWindow.h"
#include "ui/MainForm.h"
#include "window/CellForm.h"

namespace segwork::ui {

// What the program sets on the application before its windows exist.
inline void ConfigureApplication() {
  // The name, not a display name: a display name is appended to every window caption.
  QApplication::setApplicationName("segwork");
  // Lets the desktop match the windows to the menu entry and its icon.
  QGuiApplication::setDesktopFileName("segwork");
  // Closing the main window ends the program, whatever else is open.
  QApplication::setQuitOnLastWindowClosed(false);
}

// The model and the six windows, created in the order of a program start; only the main window
// is shown.
struct Program {
  Program() {
    // Every setup reseeds from the clock.
    model.Sim.ClockSeed = [] { return uint32_t(QDateTime::currentMSecsSinceEpoch()); };
    main = std::make_unique<TForm1>(model);
    analysis = std::make_unique<TForm2>(model);
    parameterSpace = std::make_unique<TForm3>(*main);
    growth = std::make_unique<TForm4>(*main);
    streets = std::make_unique<TForm5>(*main);
    main->SetWindows(analysis.get(), parameterSpace.get(), growth.get(), streets.get());
    experiment = std::make_unique<ExperimentWindow>(*main);
    main->SetExperimentWindow(experiment.get());
    main->show();
  }

  Model model;
  std::unique_ptr<TForm1> main;
  std::unique_ptr<TForm2> analysis;
  std::unique_ptr<TForm3> parameterSpace;
  std::unique_ptr<TForm4> growth;
  std::unique_ptr<TForm5> streets;
  std::unique_ptr<ExperimentWindow> experiment;
};

}  // namespace segwork::ui
