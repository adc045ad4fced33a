#include "ui/qt_canvas.h"

#include <QPen>

#include "ui/look.h"

namespace segwork::ui {

QtCanvas::QtCanvas(int width, int height, bool seeThroughWhite)
    : image_(std::max(width, 1), std::max(height, 1),
             seeThroughWhite ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32),
      seeThroughWhite_(seeThroughWhite) {
  image_.fill(seeThroughWhite ? QColor(Qt::transparent) : QColor(Qt::white));
  // A new surface replaces the whole picture, also where no cell is ever painted.
  dirty_ = image_.rect();
}

QtCanvas::~QtCanvas() {
  Flush();
}

QColor QtCanvas::PaintColour(TColor colour) const {
  if (seeThroughWhite_ && colour == kWhite) return QColor(Qt::transparent);
  return ui::ToQColor(colour);
}

QPainter& QtCanvas::Painter() {
  if (!painter_) {
    painter_ = std::make_unique<QPainter>(&image_);
    painter_->setRenderHint(QPainter::Antialiasing, false);
    // Transparent must replace what is there, not blend over it.
    painter_->setCompositionMode(QPainter::CompositionMode_Source);
  }
  return *painter_;
}

void QtCanvas::Flush() {
  painter_.reset();
}

const QImage& QtCanvas::Image() {
  Flush();
  return image_;
}

QRect QtCanvas::TakeDirty() {
  const QRect r = dirty_ & image_.rect();
  dirty_ = QRect();
  return r;
}

void QtCanvas::SetPen(int width, TColor colour) {
  penWidth_ = width;
  pen_ = colour;
}

void QtCanvas::SetBrush(TColor colour) {
  brush_ = colour;
}

void QtCanvas::Rectangle(int left, int top, int right, int bottom) {
  if (right <= left || bottom <= top) return;
  // Exactly the pixels left..right-1, top..bottom-1: the outline on the outermost ones, the
  // brush inside. Painted as fills, so no pen geometry adds a pixel.
  const QRect all(left, top, right - left, bottom - top);
  QPainter& p = Painter();
  p.fillRect(all, PaintColour(pen_));
  if (all.width() > 2 && all.height() > 2)
    p.fillRect(all.adjusted(1, 1, -1, -1), PaintColour(brush_));
  Touch(all);
}

void QtCanvas::Ellipse(int left, int top, int right, int bottom) {
  if (right <= left || bottom <= top) return;
  QPainter& p = Painter();
  p.setPen(QPen(PaintColour(pen_), std::max(penWidth_, 1)));
  p.setBrush(PaintColour(brush_));
  // A pen-outlined ellipse covers one pixel more than its rectangle in each direction.
  p.drawEllipse(QRect(left, top, right - left - 1, bottom - top - 1));
  Touch(QRect(left, top, right - left, bottom - top));
}

void QtCanvas::MoveTo(int x, int y) {
  position_ = QPoint(x, y);
}

void QtCanvas::LineTo(int x, int y) {
  QPainter& p = Painter();
  QPen pen(PaintColour(pen_), std::max(penWidth_, 1));
  pen.setCapStyle(Qt::RoundCap);
  p.setPen(pen);
  const QPoint to(x, y);
  p.drawLine(position_, to);
  const int margin = std::max(penWidth_, 1) + 1;
  Touch(QRect(position_, to).normalized().adjusted(-margin, -margin, margin, margin));
  position_ = to;
}

std::unique_ptr<Canvas> MakeCellCanvas(int width, int height) {
  return std::make_unique<QtCanvas>(width, height, false);
}

std::unique_ptr<Canvas> MakeOverlayCanvas(int width, int height) {
  return std::make_unique<QtCanvas>(width, height, true);
}

}  // namespace segwork::ui
