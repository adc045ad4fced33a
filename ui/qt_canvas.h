#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>
#include <memory>

#include "display/canvas.h"

namespace segwork::ui {

// The core's drawing surface on a retained QImage. One painter stays open for a batch of
// primitives and is closed by Flush(), so a step that paints hundreds of agents costs one painter.
// A see-through canvas (the rubber band's) shows white as transparent.
class QtCanvas final : public Canvas {
 public:
  QtCanvas(int width, int height, bool seeThroughWhite);
  ~QtCanvas() override;

  void SetPen(int width, TColor colour) override;
  void SetBrush(TColor colour) override;
  void Rectangle(int left, int top, int right, int bottom) override;
  void Ellipse(int left, int top, int right, int bottom) override;
  void MoveTo(int x, int y) override;
  void LineTo(int x, int y) override;

  // Ends the open painter; the image is complete afterwards.
  void Flush();
  const QImage& Image();
  // The area painted since the last call, then nothing.
  QRect TakeDirty();
  bool IsDirty() const { return !dirty_.isNull(); }

 private:
  QPainter& Painter();
  QColor PaintColour(TColor colour) const;  // white is transparent when see-through
  void Touch(const QRect& r) { dirty_ |= r; }

  QImage image_;
  std::unique_ptr<QPainter> painter_;
  bool seeThroughWhite_;
  int penWidth_ = 0;
  TColor pen_ = 0;
  TColor brush_ = kWhite;
  QPoint position_;
  QRect dirty_;
};

std::unique_ptr<Canvas> MakeCellCanvas(int width, int height);
std::unique_ptr<Canvas> MakeOverlayCanvas(int width, int height);

}  // namespace segwork::ui
