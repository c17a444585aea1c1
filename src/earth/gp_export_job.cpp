// The plug-in snapshot export's worker.
#include "earth/gp_export_job.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "core/format.h"
#include "core/geodesy.h"
#include "core/imaging.h"
#include "core/log.h"
#include "earth/gp_export_model.h"
#include "earth/mosaic_assemble.h"
#include "platform/fs.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"

namespace velmora {

std::string GpOutputBase(const std::string& output_path) {
  const size_t dot = output_path.rfind('.');
  const size_t slash = output_path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return output_path;
  return output_path.substr(0, dot);
}

std::string GpOutputExtension(const std::string& output_path) {
  const std::string base = GpOutputBase(output_path);
  if (base.size() >= output_path.size()) return "";
  std::string e = output_path.substr(base.size() + 1);
  for (char& c : e) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return e;
}

namespace {

enum class Wait { kReady, kQuit, kStalled };

class ExportRun {
 public:
  ExportRun(const GpExportParams& params, IGpExportPlugin& plugin, IGpExportHost& host, Event& quit)
      : p_(params), plugin_(plugin), host_(host), quit_(quit), folder_(params.data_folder) {}

  GpExportResult Run();

 private:
  void Trace(const std::string& line) {
    velmora::Trace("%s", line.c_str());
    host_.Trace(line);
  }
  // Polls the streaming progress until 100, the quit request, or no change for the stall time.
  Wait WaitPlugin();
  // WaitPlugin that stops the job (resumable) when it does not end ready; false then.
  bool WaitPluginOrStop();
  void Stop() { quit_.Set(); }
  bool Stopped() const { return quit_.IsSet(); }
  bool LoadState();
  bool TakeShot(int column, int row, FILE* log);
  void WriteOutputs();
  bool WriteModels(bool live);
  bool WritePicture();
  void OutputError(const std::string& why) {
    AppLog("export: %s", why.c_str());
    host_.Message(FormatC(kGpOutputError, kGpWriteErrorCode));
    output_failed_ = true;
  }
  void RemoveOldShots();
  // Where shot (column, row) is taken: its left neighbour's right edge and the bottom edge of the
  // first shot of the row above, as those shots were captured, so that shots meet without gap or
  // overlap wherever the capture's span differs from the one measured at the start; the grid's
  // corner when those records cannot be read (the first shot, a lost record).
  void ShotCorner(int column, int row, double* lng, double* lat);

  const GpExportParams& p_;
  IGpExportPlugin& plugin_;
  IGpExportHost& host_;
  Event& quit_;
  std::string folder_;
  GpExportState state_;
  bool resumed_ = false;
  GeGrid grid_;
  int capture_width_ = 0, capture_height_ = 0;
  std::optional<GpDemGrid> dem_grid_;
  std::string base_, extension_;
  bool models_ = false;
  bool output_failed_ = false;
  GpExportResult result_;
};

Wait ExportRun::WaitPlugin() {
  double last = -1;
  uint64_t since = TickCount64();
  for (;;) {
    const double percent = plugin_.GetStreamingPercent();
    if (percent >= 100.0) return Wait::kReady;
    if (quit_.IsSet()) return Wait::kQuit;
    if (percent != last) {
      last = percent;
      since = TickCount64();
    } else if (TickCount64() - since >= p_.stall_timeout_ms) {
      return Wait::kStalled;
    }
    if (quit_.Wait(1)) return Wait::kQuit;
  }
}

bool ExportRun::WaitPluginOrStop() {
  switch (WaitPlugin()) {
    case Wait::kReady:
      return true;
    case Wait::kQuit:
      return false;
    case Wait::kStalled:
      AppLog("export: the plug-in did not finish loading in %u ms", p_.stall_timeout_ms);
      host_.Message(kGpStalled);
      Stop();
      return false;
  }
  return false;
}

bool ExportRun::LoadState() {
  const std::string resume = folder_ + kGpResumeFile;
  std::error_code ec;
  if (std::filesystem::exists(resume, ec)) {
    std::string error;
    GpExportState stored;
    const bool read = ReadGpResumeFile(resume, &stored, &error);
    std::filesystem::remove(resume, ec);
    if (read) {
      state_ = stored;
      resumed_ = true;
      return true;
    }
    AppLog("export: %s", error.c_str());
    host_.Message(FormatC(kGpBrokenResume, error.c_str()));
  }
  if (!p_.has_rectangle) return false;
  state_ = GpExportState{};
  state_.delay_ms = p_.delay_ms;
  state_.left = p_.left;
  state_.top = p_.top;
  state_.right = p_.right;
  state_.bottom = p_.bottom;
  state_.flags = (p_.coordinates ? kGpFlagCoordinates : 0) | (p_.full_screen ? kGpFlagFullScreen : 0);
  state_.altitude = p_.altitude;
  return GpStateRect(state_).has_value() && std::isfinite(p_.altitude) && p_.altitude > 0;
}

void ExportRun::RemoveOldShots() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("gp_", 0) != 0 || name.size() < 8) continue;
    const std::string tail = name.substr(name.size() - 4);
    if (tail == ".tmp" || tail == ".dat" || tail == ".dem") {
      std::error_code remove_error;
      std::filesystem::remove(entry.path(), remove_error);
    }
  }
}

void ExportRun::ShotCorner(int column, int row, double* lng, double* lat) {
  GpShotCorner(state_, column, row, lng, lat);
  GpShotRecord record;
  if (column > 0 && ReadGpShotRecord(GpShotFile(folder_, column - 1, row, ".dat"), &record)) *lng = record.right;
  if (row > 0 && ReadGpShotRecord(GpShotFile(folder_, 0, row - 1, ".dat"), &record)) *lat = record.bottom;
}

bool ExportRun::TakeShot(int column, int row, FILE* log) {
  double lng, lat;
  ShotCorner(column, row, &lng, &lat);
  lng = WrapLongitude(lng);
  // b. Move the shot's corner under the capture's top-left corner.
  plugin_.ResetViewChange();
  if (!plugin_.MoveLT(lng, lat)) {
    AppLog("export: the view cannot be moved to %.7f, %.7f", lng, lat);
    Stop();
    return false;
  }
  // c. The move's end (or its time-out: a move to where the camera is raises no event), the
  // plug-in's loading, the dialog's delay.
  if (!plugin_.WaitViewChange(quit_, p_.view_change_timeout_ms) && Stopped()) return false;
  if (!WaitPluginOrStop()) return false;
  if (quit_.Wait(state_.delay_ms)) return false;
  // d. Where the shot lies.
  GpShotRecord record;
  record.altitude = state_.altitude;
  record.target_lng = static_cast<float>(lng);
  record.target_lat = static_cast<float>(lat);
  if (!plugin_.GetCaptureBounds(&record.left, &record.top, &record.right, &record.bottom)) {
    AppLog("export: the capture's corners cannot be read for shot %d,%d", column, row);
    Stop();
    return false;
  }
  std::string error;
  if (!WriteGpShotRecord(GpShotFile(folder_, column, row, ".dat"), record, &error)) {
    OutputError(error);
    Stop();
    return false;
  }
  // e. The picture.
  std::unique_ptr<CBitmap> shot = plugin_.CaptureRender();
  if (!shot || shot->IsEmpty()) {
    AppLog("export: shot %d,%d cannot be captured", column, row);
    Stop();
    return false;
  }
  if (!SaveImageFile(*shot, GpShotFile(folder_, column, row, ".tmp"), ImageType::kBmp, {}, &error)) {
    OutputError(error);
    Stop();
    return false;
  }
  if (log) std::fprintf(log, "\n%d : Snap OK %d,%d", static_cast<int>(TickCount64()), column, row);
  // f. The elevation samples, with terrain.
  if (models_) {
    if (!plugin_.SetTerrainLayer(true) || !WaitPluginOrStop()) {
      Stop();
      return false;
    }
    GpDemTile tile;
    tile.grid = *dem_grid_;
    tile.left = static_cast<float>(record.left);
    tile.top = static_cast<float>(record.top);
    tile.right = static_cast<float>(record.right);
    tile.bottom = static_cast<float>(record.bottom);
    tile.altitudes.reserve(tile.grid.SampleCount());
    for (int i = 0; i < tile.grid.SampleRows() && !Stopped(); ++i)
      for (int j = 0; j < tile.grid.SamplesPerRow(); ++j) {
        double hit[3];
        if (!plugin_.GetCoordByPos(tile.grid.PixelX(j), tile.grid.PixelY(i), hit)) {
          AppLog("export: no terrain under pixel %d,%d of shot %d,%d", tile.grid.PixelX(j), tile.grid.PixelY(i),
                 column, row);
          Stop();
          break;
        }
        tile.altitudes.push_back(static_cast<float>(hit[2]));
      }
    const bool terrain_off = plugin_.SetTerrainLayer(false);
    if (Stopped()) return false;
    if (!WriteDemTile(GpShotFile(folder_, column, row, ".dem"), tile, &error)) {
      OutputError(error);
      Stop();
      return false;
    }
    if (!terrain_off || !WaitPluginOrStop()) {
      Stop();
      return false;
    }
  }
  return true;
}

bool ExportRun::WriteModels(bool live) {
  const int total = grid_.columns * grid_.rows;
  int done = 0;
  std::string error;
  bool terrain_switched = false, camera_pushed = false;
  if (live) {
    // The live models read heights from the view: terrain on, camera back where it was after.
    if (!plugin_.TerrainLayerOn()) {
      terrain_switched = plugin_.SetTerrainLayer(true);
      if (!WaitPluginOrStop()) return false;
    }
    camera_pushed = plugin_.PushCamera();
  }
  bool ok = true;
  for (int row = 0; row < grid_.rows && ok && !Stopped(); ++row)
    for (int column = 0; column < grid_.columns && ok && !Stopped(); ++column) {
      if (!live) {
        if (!MakeModelFromDem(base_, folder_, column, row, *dem_grid_, p_.jpeg_quality,
                              [this](const std::string& line) {
                                if (line.rfind("alt: ", 0) == 0)
                                  velmora::Trace("%s", line.c_str());
                                else
                                  host_.Trace(line);
                              },
                              &error)) {
          OutputError(error);
          ok = false;
          break;
        }
        quit_.Wait(p_.model_pause_ms);
      } else {
        GpShotRecord record;
        if (!ReadGpShotRecord(GpShotFile(folder_, column, row, ".dat"), &record, &error)) {
          OutputError(error);
          ok = false;
          break;
        }
        plugin_.ResetViewChange();
        if (!plugin_.MoveLT(record.target_lng, record.target_lat)) {
          AppLog("export: the view cannot be moved to shot %d,%d", column, row);
          Stop();
          ok = false;
          break;
        }
        plugin_.WaitViewChange(quit_, p_.view_change_timeout_ms);
        if (!WaitPluginOrStop()) {
          ok = false;
          break;
        }
        // MakeModelLive: a 10 x 10 grid of hit tests over the capture.
        constexpr int kLiveCells = 10;
        std::vector<MeshVertex> vertices;
        for (int i = 0; i <= kLiveCells && ok; ++i)
          for (int j = 0; j <= kLiveCells; ++j) {
            double hit[3];
            const int x = kCaptureLeft + j * capture_width_ / kLiveCells;
            const int y = kCaptureTop + i * capture_height_ / kLiveCells;
            if (!plugin_.GetCoordByPos(x, y, hit)) {
              AppLog("export: no terrain under pixel %d,%d of shot %d,%d", x, y, column, row);
              Stop();
              ok = false;
              break;
            }
            velmora::Trace("alt: %f", hit[2]);
            vertices.push_back(GpModelVertex(hit[0], hit[1], hit[2], float(j) / kLiveCells, float(i) / kLiveCells));
          }
        if (!ok) break;
        Trace(FormatC("----------%d,%d------------", column, row));
        if (!SaveGpModel(GpModelPath(base_, column, row), vertices, kLiveCells + 1, kLiveCells + 1,
                         GpShotFile(folder_, column, row, ".tmp"), p_.jpeg_quality, &error)) {
          OutputError(error);
          ok = false;
          break;
        }
      }
      ++done;
      Trace(FormatC("Make models: %d,%d", column, row));
      host_.Progress(done, total);
    }
  if (camera_pushed) plugin_.PopCamera();
  if (terrain_switched) {
    plugin_.SetTerrainLayer(false);
    WaitPlugin();
  }
  if (ok && !Stopped()) result_.written_path = GpModelPath(base_, 0, 0);
  return ok && !Stopped();
}

bool ExportRun::WritePicture() {
  MosaicAssembleOptions options;
  options.folder = folder_;
  options.jpeg_quality = p_.jpeg_quality;
  options.ask_bmp = [this] { return host_.AskBmp(); };
  std::string written, error;
  const MosaicResult joined =
      MosaicAssemble(p_.output_path, kGpShotPrefix, grid_.columns, grid_.rows, options, &written, &error);
  if (joined == MosaicResult::kDeclined) return false;
  if (joined != MosaicResult::kWritten) {
    OutputError(error);
    return false;
  }
  result_.written_path = written;
  if (!(state_.flags & kGpFlagCoordinates)) return true;
  if (WorldFileExt(GpOutputExtension(written)).empty()) {
    AppLog("export: no world file for %s", written.c_str());
    return true;
  }
  GpShotRecord first, last;
  double values[6];
  if (!ReadGpShotRecord(GpShotFile(folder_, 0, 0, ".dat"), &first, &error) ||
      !ReadGpShotRecord(GpShotFile(folder_, grid_.columns - 1, grid_.rows - 1, ".dat"), &last, &error)) {
    OutputError(error);
    return false;
  }
  if (!MosaicWorldFileValues(first.left, first.top, last.right, last.bottom, grid_.columns * capture_width_,
                             grid_.rows * capture_height_, values)) {
    OutputError("the shots' corners give no pixel size");
    return false;
  }
  if (!WriteWorldFile(WorldFilePath(written), values, &error) || !WriteProjSideFiles(written, &error)) {
    OutputError(error);
    return false;
  }
  return true;
}

GpExportResult ExportRun::Run() {
  // 1. The dialog's window, beside the render window, named after the output.
  if (!host_.WaitDialogReady(quit_, p_.dialog_timeout_ms) && !Stopped())
    AppLog("export: the progress dialog did not show in %u ms", p_.dialog_timeout_ms);
  host_.PlaceDialog(p_.output_path);
  // 2. Resume, or the new job's geometry.
  if (!LoadState()) {
    AppLog("export: no rectangle to export");
    host_.Message(kGpNoRectangle);
    host_.Close();
    return result_;
  }
  base_ = GpOutputBase(p_.output_path);
  extension_ = GpOutputExtension(p_.output_path);
  models_ = extension_ == "x" || extension_ == "xa";
  EnsureFolder(folder_);
  // 3. The project text and the job log.
  FILE* log = nullptr;
  if (p_.write_log) {
    GeMosaicJob described;
    described.output_path = p_.output_path;
    described.delay_ms = state_.delay_ms;
    described.full_screen = (state_.flags & kGpFlagFullScreen) ? 1 : 0;
    described.coordinates = (state_.flags & kGpFlagCoordinates) ? 1 : 0;
    described.left = state_.left;
    described.top = state_.top;
    described.right = state_.right;
    described.bottom = state_.bottom;
    double lng, lat;
    GpShotCorner(state_, state_.column, state_.row, &lng, &lat);
    described.next_lng = static_cast<float>(WrapLongitude(lng));
    described.next_lat = static_cast<float>(lat);
    described.altitude = static_cast<float>(state_.altitude);
    described.column = static_cast<uint32_t>(state_.column);
    described.row = static_cast<uint32_t>(state_.row);
    const std::time_t now = std::time(nullptr);
    const std::string text = GeProjectFileText(described, "GP");
    std::string error;
    if (!WriteFileAtomic(MosaicProjectFilePath(base_, now, ".kep"), text.data(), text.size(), &error))
      AppLog("export: %s", error.c_str());
    log = std::fopen(MosaicProjectFilePath(base_, now, ".txt").c_str(), "w+");
    if (log) std::fputs(GeJobLogHeader(described).c_str(), log);
  }
  // 5. The shots are taken without terrain relief.
  const bool terrain_was_on = plugin_.TerrainLayerOn();
  bool terrain_off = false;
  if (terrain_was_on) {
    Trace("EnableTerrain FALSE");
    terrain_off = plugin_.SetTerrainLayer(false);
    WaitPluginOrStop();
  }
  // 6. The user's camera, to come back to.
  bool pushed = false;
  if (!Stopped()) {
    pushed = plugin_.PushCamera();
    WaitPluginOrStop();
    Trace("PushCamera");
  }
  // 7. The camera over the first shot at the export altitude.
  if (!Stopped()) {
    double lng, lat;
    ShotCorner(state_.column, state_.row, &lng, &lat);
    plugin_.ResetViewChange();
    if (plugin_.SetCameraParam(WrapLongitude(lng), lat, state_.altitude)) {
      plugin_.WaitViewChange(quit_, p_.view_change_timeout_ms);
      WaitPluginOrStop();
    }
  }
  // 8. The capture's size and span, the shots' grid.
  if (!Stopped()) {
    int width = 0, height = 0;
    double l = 0, t = 0, r = 0, b = 0;
    if (!plugin_.GetRenderSize(&width, &height) || !plugin_.GetCaptureBounds(&l, &t, &r, &b)) {
      AppLog("export: the capture's corners cannot be read");
      Stop();
    } else {
      capture_width_ = width - kCaptureWidthLoss;
      capture_height_ = height - kCaptureHeightLoss;
      if (capture_width_ <= 0 || capture_height_ <= 0) {
        host_.Message(kGpCaptureTooSmall);
        Stop();
      } else if (models_ && !(dem_grid_ = GpDemGridFor(capture_width_, capture_height_))) {
        host_.Message(kGpModelCaptureTooSmall);
        Stop();
      }
    }
    const bool measured = state_.lng_step > 0 && state_.mercator_step > 0;
    if (!Stopped() && !measured) {
      if (r < l) r += 360.0;
      state_.lng_step = static_cast<float>(r - l);
      state_.mercator_step = static_cast<float>(MercatorLatToY(b, 20) - MercatorLatToY(t, 20));
    }
    std::optional<GeGrid> grid;
    // Half a pixel of the capture is a rounding, not a shot of its own.
    if (!Stopped() && !(grid = GpGridSize(state_, 0.5 / std::max(capture_width_, capture_height_)))) {
      AppLog("export: the capture spans nothing (%.9f, %.3f)", double(state_.lng_step), double(state_.mercator_step));
      host_.Message(kGpNoRectangle);
      Stop();
    }
    if (grid) {
      grid_ = *grid;
      result_.columns = grid_.columns;
      result_.rows = grid_.rows;
      const int shots = grid_.columns * grid_.rows;
      const uint64_t needed_total = GeDiskNeeded(capture_width_, capture_height_, shots);
      const uint64_t needed_mb = (needed_total - 104857600ull) >> 20;
      Trace(FormatC("image size: %d,%d", capture_width_, capture_height_));
      Trace(FormatC("image counts: %d,%d = %g", grid_.columns, grid_.rows, double(shots)));
      Trace(FormatC("Needed Diskspace: %lluM", static_cast<unsigned long long>(needed_mb)));
      // 9. Room for the shots and the join.
      const std::optional<uint64_t> free = p_.free_space ? p_.free_space(folder_) : FreeDiskSpace(folder_);
      if (!free) AppLog("export: the free space of %s is unknown", folder_.c_str());
      if (free && *free < needed_total) {
        host_.Message(FormatC(kGpDiskFull, static_cast<unsigned long long>(needed_mb)));
        Stop();
      }
      if (state_.column >= grid_.columns || state_.row > grid_.rows) {
        AppLog("export: the resume position %d,%d lies outside the job's %d x %d shots", state_.column, state_.row,
               grid_.columns, grid_.rows);
        host_.Message(FormatC(kGpBrokenResume, kGpResumeFile));
        state_.column = state_.row = 0;
        resumed_ = false;
      }
    }
  }
  // A new job's shots replace the last job's: none of those may join this one.
  if (!Stopped() && !resumed_) RemoveOldShots();
  // 10. The shots, row by row from the top, each row from the left.
  int column = state_.column, row = state_.row;
  const int total = grid_.columns * grid_.rows;
  while (!Stopped() && row < grid_.rows) {
    if (!TakeShot(column, row, log)) break;
    ++result_.shots_taken;
    host_.Progress(row * grid_.columns + column + 1, total);
    if (++column == grid_.columns) {
      column = 0;
      ++row;
    }
  }
  // 11. The user's camera and terrain back; the job list, or the resume file.
  if (pushed) {
    plugin_.PopCamera();
    WaitPlugin();
  }
  if (terrain_off) {
    Trace("EnableTerrain TRUE");
    plugin_.SetTerrainLayer(true);
    WaitPlugin();
  }
  std::error_code ec;
  std::string error;
  const bool complete = !Stopped() && grid_.columns > 0 && row >= grid_.rows;
  if (complete) {
    GeMosaicList list{static_cast<uint32_t>(grid_.columns), static_cast<uint32_t>(grid_.rows),
                      (state_.flags & kGpFlagFullScreen) ? 1u : 0u, p_.output_path,
                      static_cast<float>(state_.altitude), state_.delay_ms};
    if (!WriteGeListFile(folder_ + kGpListFile, list, &error)) AppLog("export: %s", error.c_str());
  } else {
    std::filesystem::remove(folder_ + kGpListFile, ec);
    GpExportState reached = state_;
    reached.column = column;
    reached.row = row;
    if (!(reached.lng_step > 0 && reached.mercator_step > 0)) {
      // Stopped before the capture was measured: the resumed job measures it.
      reached.lng_step = reached.mercator_step = 0;
      reached.column = reached.row = 0;
    }
    if (!WriteGpResumeFile(folder_ + kGpResumeFile, reached, &error)) AppLog("export: %s", error.c_str());
    result_.interrupted = true;
  }
  // 12. The output.
  if (complete && !Stopped()) {
    Trace(FormatC("make single: %d,%d", grid_.columns, grid_.rows));
    bool written = false;
    if (extension_ == "x")
      written = WriteModels(false);
    else if (extension_ == "xa")
      written = WriteModels(true);
    else
      written = WritePicture();
    // 13. Done.
    if (written && !Stopped()) {
      result_.finished = true;
      host_.Message(kGpDone);
      host_.OpenFolder(base_.rfind('/') == std::string::npos ? std::string(".")
                                                              : base_.substr(0, base_.rfind('/')));
    }
  }
  // 14. The end.
  if (log) std::fclose(log);
  host_.Close();
  return result_;
}

}  // namespace

GpExportResult RunGpExport(const GpExportParams& params, IGpExportPlugin& plugin, IGpExportHost& host, Event& quit) {
  plugin.SetQuitRequest(&quit);
  ExportRun run(params, plugin, host, quit);
  GpExportResult result = run.Run();
  plugin.SetQuitRequest(nullptr);
  return result;
}

}  // namespace velmora
