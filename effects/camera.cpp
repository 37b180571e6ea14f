// Camera: view and projection transforms from the camera record.
// Depends on: dgl/dgl.h.
#include "effects/camera.h"

void Camera::applyView() const { dglSetTransform(D3DTS_VIEW, dglMatrixLookAt(eye, target, roll)); }

void Camera::applyProjection() const
{
    dglSetTransform(D3DTS_PROJECTION, dglMatrixPerspective(fov, aspect, CAMERA_NEAR, CAMERA_FAR));
}
