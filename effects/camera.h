// The camera every scene places its view with: eye, target, roll, horizontal
// field of view and aspect, turned into the renderer's view and projection
// transforms. Near and far clip distances are fixed at 1 and 100.
// Depends on: dgl/dgl.h (matrix builders, dglSetTransform).
#pragma once

#include "dgl/dgl.h"

constexpr float CAMERA_NEAR = 1.0f;
constexpr float CAMERA_FAR = 100.0f;

struct Camera {
    Vector3 eye = Vector3(0.0f, 0.0f, -4.0f);
    Vector3 target = Vector3(0.0f, 0.0f, 0.0f);
    float roll = 0.0f;         // radians; up = (sin roll, cos roll, 0)
    float fov = 0.7853982f;    // radians, horizontal
    float aspect = 1.3f;       // 1.3, not 4/3

    // Look-at view matrix from eye, target and roll as the view transform.
    void applyView() const;
    // Perspective (fov, aspect, 1, 100) as the projection transform.
    void applyProjection() const;
};
