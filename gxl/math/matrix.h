// Operations that build or combine a Matrix4 (row vectors on the left, A x B
// applies A first). The calling rule of vector.h holds. The view and projection
// builders and MatrixIdentity are plain operations; the rest go through the
// dispatch table.
#pragma once

#include "gxl/math/records.h"
#include "platform/win_types.h"

Matrix4* MatrixIdentity(Matrix4* out);

// --- Products and algebra ----------------------------------------------------------
Matrix4* MatrixMultiply(Matrix4* out, const Matrix4* a, const Matrix4* b);
// The transpose of a x b.
Matrix4* MatrixMultiplyTranspose(Matrix4* out, const Matrix4* a, const Matrix4* b);
Matrix4* MatrixTranspose(Matrix4* out, const Matrix4* m);
float MatrixDeterminant(const Matrix4* m);
// Null, with out untouched, when there is no inverse (determinant 0 or its
// reciprocal not finite); the determinant output (may be null) is written anyway.
Matrix4* MatrixInverse(Matrix4* out, float* determinant, const Matrix4* m);
// Splits m into scaling, rotation and translation with m = scale x rotation x
// translation. S_OK, or 0x8876086C when the upper 3x3 part is no scaled rotation
// (scale and translation are written all the same).
HRESULT MatrixDecompose(Vec3* scale, Quaternion* rotation, Vec3* translation, const Matrix4* m);

// --- Elementary transforms -----------------------------------------------------------
Matrix4* MatrixTranslation(Matrix4* out, float x, float y, float z);
Matrix4* MatrixScaling(Matrix4* out, float sx, float sy, float sz);
// Positive angles turn y towards z, z towards x and x towards y (radians).
Matrix4* MatrixRotationX(Matrix4* out, float angle);
Matrix4* MatrixRotationY(Matrix4* out, float angle);
Matrix4* MatrixRotationZ(Matrix4* out, float angle);
Matrix4* MatrixRotationAxis(Matrix4* out, const Vec3* axis, float angle);
Matrix4* MatrixFromQuaternion(Matrix4* out, const Quaternion* q);
Matrix4* MatrixFromYawPitchRoll(Matrix4* out, float yaw, float pitch, float roll);

// --- Composition (every pointer may be null) ---------------------------------------
Matrix4* MatrixCompose(Matrix4* out, const Vec3* scalingCentre, const Quaternion* scalingRotation,
                       const Vec3* scaling, const Vec3* rotationCentre, const Quaternion* rotation,
                       const Vec3* translation);
Matrix4* MatrixComposeAffine(Matrix4* out, float scaling, const Vec3* rotationCentre, const Quaternion* rotation,
                             const Vec3* translation);
// In the plane: rotations about z, skipped when their angle is 0.
Matrix4* MatrixCompose2D(Matrix4* out, const Vec2* scalingCentre, float scalingRotation, const Vec2* scaling,
                         const Vec2* rotationCentre, float rotation, const Vec2* translation);
Matrix4* MatrixComposeAffine2D(Matrix4* out, float scaling, const Vec2* rotationCentre, float rotation,
                               const Vec2* translation);

// --- View and projection (plain) ---------------------------------------------------
Matrix4* MatrixLookAtLH(Matrix4* out, const Vec3* eye, const Vec3* at, const Vec3* up);
Matrix4* MatrixLookAtRH(Matrix4* out, const Vec3* eye, const Vec3* at, const Vec3* up);
Matrix4* MatrixPerspectiveLH(Matrix4* out, float w, float h, float zn, float zf);
Matrix4* MatrixPerspectiveRH(Matrix4* out, float w, float h, float zn, float zf);
Matrix4* MatrixPerspectiveFovLH(Matrix4* out, float fovy, float aspect, float zn, float zf);
Matrix4* MatrixPerspectiveFovRH(Matrix4* out, float fovy, float aspect, float zn, float zf);
Matrix4* MatrixPerspectiveOffCenterLH(Matrix4* out, float l, float r, float b, float t, float zn, float zf);
Matrix4* MatrixPerspectiveOffCenterRH(Matrix4* out, float l, float r, float b, float t, float zn, float zf);
Matrix4* MatrixOrthoLH(Matrix4* out, float w, float h, float zn, float zf);
Matrix4* MatrixOrthoRH(Matrix4* out, float w, float h, float zn, float zf);
Matrix4* MatrixOrthoOffCenterLH(Matrix4* out, float l, float r, float b, float t, float zn, float zf);
Matrix4* MatrixOrthoOffCenterRH(Matrix4* out, float l, float r, float b, float t, float zn, float zf);

// --- Plane-based -----------------------------------------------------------------------
// Flattens geometry onto the plane as seen from the light (w = 0: a direction).
Matrix4* MatrixPlanarShadow(Matrix4* out, const Vec4* light, const Plane* plane);
Matrix4* MatrixPlaneReflection(Matrix4* out, const Plane* plane);
