#include <QApplication>
#include <QDateTime>

#include "model/CellForm.h"
#include "ui/AnalyseForm.h"
#include "ui/ExperimentForms.h"
#include "ui/MainForm.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName("segwork");
  // Lets the desktop match the windows to the menu entry and its icon.
  QGuiApplication::setDesktopFileName("segwork");
  // Closing the main window ends the program, whatever else is open.
  QApplication::setQuitOnLastWindowClosed(false);

  segwork::Model model;
  // Every setup reseeds from the clock.
  model.ClockSeed = [] { return uint32_t(QDateTime::currentMSecsSinceEpoch()); };
  segwork::ui::TForm1 main(model);
  segwork::ui::TForm2 analysis(model);
  segwork::ui::TForm3 parameterSpace(main);
  segwork::ui::TForm4 growth(main);
  segwork::ui::TForm5 streets(main);
  main.SetWindows(&analysis, &parameterSpace, &growth, &streets);
  main.show();
  return app.exec();
}
