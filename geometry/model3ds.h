// Loader of one triangle-mesh object from a 3D Studio (.3ds) file into a Mesh:
// positions scaled, one diffuse colour, texture coordinates when the object
// has them, smooth normals, filled buffers. Everything else in the file is
// skipped. Every failure ends the program.
// Depends on: resources/files.h, resources/memory.h, kernel/messages.h, geometry/mesh.h.
#pragma once

#include "geometry/mesh.h"

// objectIndex: 0-based among the triangle-mesh chunks of the file, in file
// order. path must stay valid for the whole run (the file manager keeps it).
void loadMesh3ds(Mesh& mesh, const char* path, int objectIndex, float scale, D3DCOLOR colour);
