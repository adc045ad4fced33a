#include "ui/ExperimentForms.h"

#include "model/CellForm.h"

namespace segwork::ui {

TForm3::TForm3(Model& model, QWidget* parent) : QWidget(parent), model_(model) {
  setObjectName("TForm3");
  setWindowTitle("Analyse Parameterspace");
  resize(1000, 700);
}

TForm4::TForm4(Model& model, QWidget* parent) : QWidget(parent), model_(model) {
  setObjectName("TForm4");
  setWindowTitle("Form4");
  resize(1024, 358);
}

TForm5::TForm5(Model& model, QWidget* parent) : QWidget(parent), model_(model) {
  setObjectName("TForm5");
  setWindowTitle("Analyse Street Effects");
  resize(1024, 360);
}

}  // namespace segwork::ui
