// The terrain models of a plug-in snapshot export: one textured grid mesh per shot, saved as a
// .x file with the shot's picture beside it as its .jpg texture. The "x" output builds each mesh
// from the shot's elevation samples (".dem") closed against its left and upper neighbours; the
// "xa" output from hit tests of the live view (the caller's samples).
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "earth/gp_export_files.h"
#include "terrain/3d_mesh.h"

namespace velmora {

// The vertices of a shot's model, (columns + 2) x (rows + 2) of the shot's sample grid, row by
// row from the top. Vertex (i, j) for i, j >= 1 is sample (i - 1, j - 1), placed where its pixel
// lies across the capture (fraction (j - 1) x (width / columns) / width of the longitude span,
// the same of the Mercator height for the rows), height altitude x 0.001 km on LngLatToXYZ's
// sphere, texture coordinates the same fractions. Vertex row 0 and column 0 close the seams:
// column 0 is the left neighbour's last sample column (its place and heights), row 0 the upper
// neighbour's last sample row, the corner the upper neighbour's first sample of that row (its
// height at the corner's place), so that each model reaches exactly to its neighbour's samples
// and no gap opens between them. Without a neighbour they repeat the shot's own first column or
// row (a strip of no area). Each altitude goes to `trace`.
std::vector<MeshVertex> GpDemModelVertices(const GpDemTile& tile, const GpDemTile* left, const GpDemTile* upper,
                                           const std::function<void(float altitude)>& trace = nullptr);

// A vertex of the live model from a hit test: longitude, latitude and altitude (metres), with
// its texture coordinates.
MeshVertex GpModelVertex(double lng, double lat, double altitude_m, float u, float v);

// Saves a grid mesh of columns x rows vertices as "<x_path>" and the picture `texture_source`
// (any picture file) as the JPEG named like the .x file with "jpg" for its extension. Both are
// written under a temporary folder beside them and renamed into place when complete. Makes the
// shared 3D device when there is none. False (reason in *error) when the device, the mesh or a
// file cannot be made.
bool SaveGpModel(const std::string& x_path, const std::vector<MeshVertex>& vertices, int columns, int rows,
                 const std::string& texture_source, int jpeg_quality, std::string* error);

// MakeModelFromDem: the model of shot (column, row) from the ".dem" files in `folder` (its own,
// its left neighbour's when column > 0 and its upper neighbour's when row > 0), saved as
// "<base>_<col>_<row>.x" with the shot's picture as texture. `trace` gets each altitude as
// "alt: %f" and the shot as "----------%d,%d------------".
bool MakeModelFromDem(const std::string& base, const std::string& folder, int column, int row, const GpDemGrid& grid,
                      int jpeg_quality, const std::function<void(const std::string&)>& trace, std::string* error);

// "<base>_<col>_<row>.x"
std::string GpModelPath(const std::string& base, int column, int row);

}  // namespace velmora
