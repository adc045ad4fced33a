// The main window's pictures and movies: "Save picture…" and "Record movie…"; and the world as
// data, "Export cells…".
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>

#include "core/errors.h"
#include "display/raster_canvas.h"
#include "display/rendering.h"
#include "files/movie.h"
#include "files/picture.h"
#include "files/world_export.h"
#include "ui/MainForm.h"
#include "ui/qt_canvas.h"

namespace segwork::ui {

void TForm1::BuildPictureButtons(QWidget* page, int y) {
  auto* picture =
      MakeFileButton("B_savePicture", "Save picture…", page, QRect(8, y, 120, 25), "picture.png",
                     "PNG pictures (*.png);;All files (*)", &TForm1::SavePictureTo);
  picture->setToolTip("The drawing panel as a PNG picture");
  B_record_ = MakeButton("B_recordMovie", "Record movie…", page, QRect(8, y + 32, 120, 25));
  B_record_->setToolTip("Every step from now on as a frame of an MP4 movie (needs ffmpeg)");
  auto* cells =
      MakeFileButton("B_exportCells", "Export cells…", page, QRect(8, y + 64, 120, 25), "cells.csv",
                     NetcdfAvailable() ? "CSV tables (*.csv);;NetCDF files (*.nc);;All files (*)"
                                       : "CSV tables (*.csv);;All files (*)",
                     &TForm1::ExportCellsTo);
  cells->setToolTip("Every cell's group and street type now, as CSV or NetCDF (.nc)");
  connect(B_record_, &QPushButton::clicked, this, [this] {
    if (movie_) {
      StopRecording();
      return;
    }
    QString path = QFileDialog::getSaveFileName(this, "Record movie", "movie.mp4",
                                                "MP4 movies (*.mp4);;All files (*)");
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += ".mp4";
    StartRecording(path);
  });
}

bool TForm1::SavePictureTo(const QString& path) {
  return Guarded([&] {
    if (!model_.Sim.CellImage) throw SegworkError("there is no picture on the panel yet");
    // Painted whole from the state, as the command line paints it: with graphics off the panel
    // is not kept current.
    RasterCanvas picture(model_.Sim.PanelWidth, model_.Sim.PanelHeight);
    RepaintAll(model_.Sim.Cells, model_.Sim.Agents, picture);
    SavePng(picture, path.toStdString());
  });
}

bool TForm1::ExportCellsTo(const QString& path) {
  return Guarded([&] { ExportCells(path.toStdString(), model_.Sim); });
}

bool TForm1::StartRecording(const QString& path) {
  if (movie_) return false;
  const bool started = Guarded([&] {
    movieFrame_ = std::make_unique<RasterCanvas>(model_.Sim.PanelWidth, model_.Sim.PanelHeight);
    movie_ = std::make_unique<MovieWriter>(path.toStdString(), model_.Sim.PanelWidth,
                                           model_.Sim.PanelHeight);
    RecordFrame();
  });
  if (!started) movie_.reset();
  ShowRecording();
  return started;
}

bool TForm1::StopRecording() {
  if (!movie_) return false;
  const std::unique_ptr<MovieWriter> movie = std::move(movie_);
  ShowRecording();
  return Guarded([&] { movie->Finish(); });
}

void TForm1::RecordFrame() {
  // Painted whole from the state, so a frame does not depend on what the panel repainted.
  RepaintAll(model_.Sim.Cells, model_.Sim.Agents, *movieFrame_);
  movie_->AddFrame(*movieFrame_);
}

void TForm1::ShowRecording() {
  B_record_->setText(movie_ ? "Stop recording" : "Record movie…");
}

}  // namespace segwork::ui
