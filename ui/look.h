#pragma once

#include <QColor>
#include <QFont>
#include <QFontDatabase>

#include "core/canvas.h"

namespace segwork::ui {

inline QColor ToQColor(TColor c) {
  return QColor(int(RedOf(c)), int(GreenOf(c)), int(BlueOf(c)));
}

// The windows are laid out for Tahoma at 11 pixels; elsewhere a face as narrow. The font database
// is asked because font matching never fails: it would substitute a wider face.
inline QFont WindowFont() {
  QFont font;
  for (const char* family :
       {"Tahoma", "DejaVu Sans Condensed", "Liberation Sans Narrow", "Liberation Sans", "Arial"}) {
    if (QFontDatabase::hasFamily(family)) {
      font.setFamily(family);
      break;
    }
  }
  font.setPixelSize(11);
  return font;
}

}  // namespace segwork::ui
