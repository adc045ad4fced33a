#pragma once

#include <QWidget>

namespace segwork {
class Model;
}

namespace segwork::ui {

// The three experiment windows. They exist hidden from program start and are shown by the main
// window's buttons; their sweeps drive the main window's model.
class TForm3 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm3(Model& model, QWidget* parent = nullptr);

 private:
  Model& model_;
};

class TForm4 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm4(Model& model, QWidget* parent = nullptr);

 private:
  Model& model_;
};

class TForm5 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm5(Model& model, QWidget* parent = nullptr);

 private:
  Model& model_;
};

}  // namespace segwork::ui
