#include "ui/qt_canvas.h"

#include <QPainter>
#include <QPen>

namespace segwork::ui {

QtCanvas::QtCanvas(int width, int height, bool seeThroughWhite)
    : raster_(width, height, seeThroughWhite),
      image_(reinterpret_cast<uchar*>(raster_.Pixels()), raster_.Width(), raster_.Height(),
             qsizetype(raster_.Width()) * 4,
             seeThroughWhite ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32) {}

void QtCanvas::SetPen(int width, TColor colour) {
  penWidth_ = width;
  pen_ = colour;
  raster_.SetPen(width, colour);
}

void QtCanvas::MoveTo(int x, int y) {
  position_ = QPoint(x, y);
  raster_.MoveTo(x, y);
}

void QtCanvas::LineTo(int x, int y) {
  // A wrapper of its own, so no copy of image_ that someone holds makes the painter detach.
  QImage target(reinterpret_cast<uchar*>(raster_.Pixels()), raster_.Width(), raster_.Height(),
                qsizetype(raster_.Width()) * 4, image_.format());
  QPainter p(&target);
  p.setRenderHint(QPainter::Antialiasing, false);
  // Transparent must replace what is there, not blend over it.
  p.setCompositionMode(QPainter::CompositionMode_Source);
  const uint32_t argb = raster_.Argb(pen_);
  QPen pen(QColor::fromRgba(argb), std::max(penWidth_, 1));
  pen.setCapStyle(Qt::RoundCap);
  p.setPen(pen);
  const QPoint to(x, y);
  p.drawLine(position_, to);
  p.end();
  const int margin = std::max(penWidth_, 1) + 1;
  const QRect area = QRect(position_, to).normalized().adjusted(-margin, -margin, margin, margin);
  raster_.Touch(area.left(), area.top(), area.right() + 1, area.bottom() + 1);
  position_ = to;
  raster_.MoveTo(x, y);
}

QRect QtCanvas::TakeDirty() {
  const RasterCanvas::Box box = raster_.TakeTouched();
  if (box.Empty()) return QRect();
  return QRect(QPoint(box.left, box.top), QPoint(box.right - 1, box.bottom - 1));
}

std::unique_ptr<Canvas> MakeCellCanvas(int width, int height) {
  return std::make_unique<QtCanvas>(width, height, false);
}

std::unique_ptr<Canvas> MakeOverlayCanvas(int width, int height) {
  return std::make_unique<QtCanvas>(width, height, true);
}

}  // namespace segwork::ui
