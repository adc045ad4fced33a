#include <QApplication>

#include "ui/program.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  segwork::ui::ConfigureApplication();
  segwork::ui::Program program;
  return app.exec();
}
