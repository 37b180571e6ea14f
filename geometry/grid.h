// Builder of flat panels: a rectangle centred on the origin in the z = 0
// plane, divided into equal cells, two triangles each, facing -z.
// Depends on: geometry/mesh.h, resources/memory.h.
#pragma once

#include "geometry/mesh.h"

// divisions >= 1 cells along each side; (divisions + 1)^2 vertices must stay
// within MESH_MAX_VERTICES (180 divisions at most).
void buildGridMesh(Mesh& mesh, float width, float height, int divisions, float uRepeat, float vRepeat,
                   D3DCOLOR colour);
