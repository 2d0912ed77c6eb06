// D3DX math against hand-computed values: the row-vector convention (p * M, translation in the
// fourth row), multiplication order, inverses, the camera and projection matrices, and the 2D
// transformation the sprite and text passes build; and the D3DX byte buffer.
#include <gtest/gtest.h>

#include <cmath>

#include "d3dx9core.h"
#include "d3dx9math.h"

namespace {

constexpr float kEps = 1e-5f;
const float kHalfPi = std::acos(-1.0f) / 2.0f;

void ExpectMatrixNear(const D3DXMATRIX& actual, const D3DXMATRIX& expected, float eps = kEps) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      EXPECT_NEAR(actual.m[r][c], expected.m[r][c], eps) << "element _" << r + 1 << c + 1;
}

D3DXVECTOR3 Apply(const D3DXMATRIX& m, float x, float y, float z) {
  const D3DXVECTOR3 in(x, y, z);
  D3DXVECTOR3 out;
  D3DXVec3TransformCoord(&out, &in, &m);
  return out;
}

void ExpectVecNear(const D3DXVECTOR3& v, float x, float y, float z, float eps = kEps) {
  EXPECT_NEAR(v.x, x, eps);
  EXPECT_NEAR(v.y, y, eps);
  EXPECT_NEAR(v.z, z, eps);
}

TEST(D3DXMatrix, RowVectorConventionAndMultiplicationOrder) {
  D3DXMATRIX t, s, ts, st;
  D3DXMatrixTranslation(&t, 1, 2, 3);
  EXPECT_EQ(t._41, 1.0f);
  EXPECT_EQ(t._42, 2.0f);
  EXPECT_EQ(t._43, 3.0f);
  EXPECT_EQ(t._14, 0.0f);
  D3DXMatrixScaling(&s, 2, 2, 2);
  D3DXMatrixMultiply(&ts, &t, &s);  // translate, then scale
  D3DXMatrixMultiply(&st, &s, &t);  // scale, then translate
  ExpectVecNear(Apply(ts, 0, 0, 0), 2, 4, 6);
  ExpectVecNear(Apply(st, 0, 0, 0), 1, 2, 3);
  ExpectVecNear(Apply(st, 1, 1, 1), 3, 4, 5);
  // The operator is the same product, and the output may alias an input.
  ExpectMatrixNear(t * s, ts);
  D3DXMATRIX alias = t;
  D3DXMatrixMultiply(&alias, &alias, &s);
  ExpectMatrixNear(alias, ts);
  alias = s;
  D3DXMatrixMultiply(&alias, &t, &alias);
  ExpectMatrixNear(alias, ts);
}

TEST(D3DXMatrix, RotationsTurnTheDocumentedWay) {
  D3DXMATRIX rz, rx, ry;
  D3DXMatrixRotationZ(&rz, kHalfPi);
  ExpectVecNear(Apply(rz, 1, 0, 0), 0, 1, 0);  // +x to +y: clockwise on a y-down screen
  EXPECT_NEAR(rz._12, 1.0f, kEps);
  EXPECT_NEAR(rz._21, -1.0f, kEps);
  D3DXMatrixRotationX(&rx, kHalfPi);
  ExpectVecNear(Apply(rx, 0, 1, 0), 0, 0, 1);
  D3DXMatrixRotationY(&ry, kHalfPi);
  ExpectVecNear(Apply(ry, 0, 0, 1), 1, 0, 0);

  // Yaw-pitch-roll applies roll (z), then pitch (x), then yaw (y).
  const float yaw = 0.3f, pitch = -0.7f, roll = 1.1f;
  D3DXMATRIX ypr, z, x, y;
  D3DXMatrixRotationYawPitchRoll(&ypr, yaw, pitch, roll);
  D3DXMatrixRotationZ(&z, roll);
  D3DXMatrixRotationX(&x, pitch);
  D3DXMatrixRotationY(&y, yaw);
  ExpectMatrixNear(ypr, z * x * y);
  EXPECT_GT(std::fabs(ypr._12 - (y * x * z)._12), 1e-3f) << "order must matter for these angles";

  // An axis rotation about z equals RotationZ, and a quaternion about z gives the same matrix.
  const D3DXVECTOR3 axis(0, 0, 5);
  D3DXMATRIX byAxis, byQuat;
  D3DXMatrixRotationAxis(&byAxis, &axis, 0.4f);
  D3DXMatrixRotationZ(&z, 0.4f);
  ExpectMatrixNear(byAxis, z);
  D3DXQUATERNION q;
  D3DXQuaternionRotationAxis(&q, &axis, 0.4f);
  D3DXMatrixRotationQuaternion(&byQuat, &q);
  ExpectMatrixNear(byQuat, z);
}

TEST(D3DXMatrix, InverseRoundTripDeterminantAndSingularMatrix) {
  D3DXMATRIX r, s, t, m, inv, product, identity;
  D3DXMatrixRotationYawPitchRoll(&r, 0.5f, 0.25f, -1.0f);
  D3DXMatrixScaling(&s, 2, 3, 4);
  D3DXMatrixTranslation(&t, 7, -8, 9);
  m = s * r * t;
  FLOAT det = 0;
  ASSERT_NE(D3DXMatrixInverse(&inv, &det, &m), nullptr);
  EXPECT_NEAR(det, 24.0f, 1e-3f);  // a rotation keeps the scaling's volume factor 2 * 3 * 4
  D3DXMatrixIdentity(&identity);
  ExpectMatrixNear(m * inv, identity, 1e-5f);
  ExpectMatrixNear(inv * m, identity, 1e-5f);
  const D3DXVECTOR3 p = Apply(m, 1, 2, 3);
  ExpectVecNear(Apply(inv, p.x, p.y, p.z), 1, 2, 3, 1e-4f);
  EXPECT_NEAR(D3DXMatrixDeterminant(&s), 24.0f, kEps);

  // A singular matrix has no inverse: NULL, and the output is left as it was.
  D3DXMATRIX flat;
  D3DXMatrixScaling(&flat, 1, 0, 1);
  D3DXMATRIX untouched = t;
  EXPECT_EQ(D3DXMatrixInverse(&untouched, &det, &flat), nullptr);
  EXPECT_EQ(det, 0.0f);
  ExpectMatrixNear(untouched, t, 0.0f);
  EXPECT_EQ(D3DXMatrixInverse(nullptr, nullptr, &m), nullptr);

  D3DXMatrixTranspose(&product, &t);
  EXPECT_EQ(product._14, 7.0f);
  EXPECT_EQ(product._41, 0.0f);
  EXPECT_TRUE(D3DXMatrixIsIdentity(&identity));
  EXPECT_FALSE(D3DXMatrixIsIdentity(&t));
}

TEST(D3DXMatrix, LookAtAndPerspectiveKnownValues) {
  // Looking down +z from z = -5: no rotation, the eye moves to the origin.
  const D3DXVECTOR3 eye(0, 0, -5), at(0, 0, 0), up(0, 1, 0);
  D3DXMATRIX view;
  D3DXMatrixLookAtLH(&view, &eye, &at, &up);
  D3DXMATRIX expected(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 5, 1);
  ExpectMatrixNear(view, expected);

  // Looking along +x: +x becomes depth, +z becomes left (-x) in a left-handed view.
  const D3DXVECTOR3 eye2(0, 0, 0), at2(1, 0, 0);
  D3DXMatrixLookAtLH(&view, &eye2, &at2, &up);
  ExpectMatrixNear(view, D3DXMATRIX(0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 0, 1));

  // Any eye: the looked-at point lies straight ahead at its distance.
  const D3DXVECTOR3 eye3(3, 4, 5), at3(-1, 2, 9);
  D3DXMatrixLookAtLH(&view, &eye3, &at3, &up);
  ExpectVecNear(Apply(view, at3.x, at3.y, at3.z), 0, 0, std::sqrt(16.0f + 4.0f + 16.0f), 1e-4f);

  // fov 90 degrees, aspect 2, near 1, far 101.
  D3DXMATRIX proj;
  D3DXMatrixPerspectiveFovLH(&proj, kHalfPi, 2.0f, 1.0f, 101.0f);
  ExpectMatrixNear(proj, D3DXMATRIX(0.5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1.01f, 1, 0, 0, -1.01f, 0));
  EXPECT_NEAR(Apply(proj, 0, 0, 1).z, 0.0f, kEps);    // near plane -> depth 0
  EXPECT_NEAR(Apply(proj, 0, 0, 101).z, 1.0f, kEps);  // far plane -> depth 1
  ExpectVecNear(Apply(proj, 2, 1, 1), 1, 1, 0);       // the frustum's corner at the near plane
}

TEST(D3DXMatrix, OrthographicProjections) {
  // The sprite projection of a 640 x 480 viewport: the half-pixel-shifted edges map to +-1.
  D3DXMATRIX o;
  D3DXMatrixOrthoOffCenterLH(&o, 0.5f, 640.5f, 480.5f, 0.5f, 0.0f, 1.0f);
  EXPECT_NEAR(o._11, 2.0f / 640.0f, kEps);
  EXPECT_NEAR(o._22, -2.0f / 480.0f, kEps);
  EXPECT_NEAR(o._41, -641.0f / 640.0f, kEps);
  EXPECT_NEAR(o._42, 481.0f / 480.0f, kEps);
  ExpectVecNear(Apply(o, 0.5f, 0.5f, 0), -1, 1, 0);
  ExpectVecNear(Apply(o, 640.5f, 480.5f, 1), 1, -1, 1);

  D3DXMATRIX c;
  D3DXMatrixOrthoLH(&c, 8.0f, 4.0f, 2.0f, 6.0f);
  ExpectMatrixNear(c, D3DXMATRIX(0.25f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 0.25f, 0, 0, 0, -0.5f, 1));
  ExpectVecNear(Apply(c, 4, -2, 6), 1, -1, 1);
}

TEST(D3DXMatrix, Transformation2DScalesThenTurnsAboutTheCentreThenMoves) {
  // The sprite pass: a 3 x 3 sprite turned 90 degrees about its centre (1.5, 1.5) and moved.
  const D3DXVECTOR2 centre(1.5f, 1.5f), move(10, 20);
  D3DXMATRIX m;
  D3DXMatrixTransformation2D(&m, nullptr, 0.0f, nullptr, &centre, kHalfPi, &move);
  ExpectVecNear(Apply(m, 1.5f, 1.5f, 0), 11.5f, 21.5f, 0);  // the centre only moves
  ExpectVecNear(Apply(m, 0, 0, 0), 13, 20, 0);              // top-left corner turns to top-right
  ExpectVecNear(Apply(m, 3, 3, 0), 10, 23, 0);

  // Scaling happens before the rotation, about the scaling centre.
  const D3DXVECTOR2 scale(2, 3), scaleCentre(1, 1);
  D3DXMatrixTransformation2D(&m, &scaleCentre, 0.0f, &scale, nullptr, 0.0f, nullptr);
  ExpectVecNear(Apply(m, 1, 1, 0), 1, 1, 0);
  ExpectVecNear(Apply(m, 2, 2, 0), 3, 4, 0);
  D3DXMatrixTransformation2D(&m, nullptr, 0.0f, &scale, &centre, kHalfPi, &move);
  // (1, 0) scales to (2, 0), turns about (1.5, 1.5) to (3, 2), then moves by (10, 20).
  ExpectVecNear(Apply(m, 1, 0, 0), 13, 22, 0);
  EXPECT_EQ(m._33, 1.0f);

  // With nothing given it is the identity; translation alone is a pure translation.
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  D3DXMatrixTransformation2D(&m, nullptr, 0.0f, nullptr, nullptr, 0.0f, nullptr);
  ExpectMatrixNear(m, identity, 0.0f);
  const D3DXVECTOR2 one(1, 1);
  D3DXMatrixTransformation2D(&m, nullptr, 0.0f, &one, &move, 0.0f, &move);
  D3DXMATRIX t;
  D3DXMatrixTranslation(&t, 10, 20, 0);
  ExpectMatrixNear(m, t, 0.0f);
}

TEST(D3DXMatrix, Transformation2DWithoutCentresEqualsScaleTurnMoveProducts) {
  // The sprite pass's case: no centres, no scaling rotation. The result must be exactly the
  // product scaling x rotation x translation, for every finite input.
  uint32_t seed = 12345;
  auto next = [&seed](float lo, float hi) {
    seed = seed * 1664525u + 1013904223u;
    return lo + (hi - lo) * static_cast<float>(seed >> 8) / static_cast<float>(1u << 24);
  };
  for (int i = 0; i < 200; ++i) {
    const D3DXVECTOR2 scale(next(-4, 4), next(-4, 4)), move(next(-1000, 1000), next(-1000, 1000));
    const float turn = next(-10, 10);
    D3DXMATRIX m, s, r, t, expected;
    D3DXMatrixTransformation2D(&m, nullptr, 0.0f, &scale, nullptr, turn, &move);
    D3DXMatrixScaling(&s, scale.x, scale.y, 1.0f);
    D3DXMatrixRotationZ(&r, turn);
    D3DXMatrixTranslation(&t, move.x, move.y, 0.0f);
    D3DXMatrixMultiply(&expected, &s, &r);
    D3DXMatrixMultiply(&expected, &expected, &t);
    for (int k = 0; k < 16; ++k) ASSERT_FLOAT_EQ((&m._11)[k], (&expected._11)[k]) << i << " " << k;
  }
  // Non-finite input gives what the products give, not a tidied-up matrix.
  const D3DXVECTOR2 scale(1, 1), move(0, 0);
  D3DXMATRIX m;
  D3DXMatrixTransformation2D(&m, nullptr, 0.0f, &scale, nullptr, std::nanf(""), &move);
  EXPECT_TRUE(std::isnan(m._11));
  EXPECT_TRUE(std::isnan(m._41) || m._41 == 0.0f);
}

TEST(D3DXVector, NormaliseTransformCrossAndPlanes) {
  D3DXVECTOR3 v(3, 4, 0), n;
  D3DXVec3Normalize(&n, &v);
  ExpectVecNear(n, 0.6f, 0.8f, 0);
  EXPECT_NEAR(D3DXVec3Length(&v), 5.0f, kEps);
  const D3DXVECTOR3 zero(0, 0, 0);
  D3DXVec3Normalize(&n, &zero);
  ExpectVecNear(n, 0, 0, 0);  // not NaN

  const D3DXVECTOR3 x(1, 0, 0), y(0, 1, 0);
  D3DXVECTOR3 c;
  D3DXVec3Cross(&c, &x, &y);
  ExpectVecNear(c, 0, 0, 1);
  D3DXVec3Cross(&c, &y, &x);
  ExpectVecNear(c, 0, 0, -1);
  EXPECT_EQ(D3DXVec3Dot(&x, &y), 0.0f);
  const D3DXVECTOR3 a(1, 2, 3), b(-4, 5, 6);
  EXPECT_EQ(D3DXVec3Dot(&a, &b), 24.0f);

  // TransformNormal ignores the translation; TransformCoord divides by w.
  D3DXMATRIX t;
  D3DXMatrixTranslation(&t, 5, 6, 7);
  D3DXVec3TransformNormal(&n, &a, &t);
  ExpectVecNear(n, 1, 2, 3);
  D3DXMATRIX h;
  D3DXMatrixScaling(&h, 1, 1, 1);
  h._44 = 2.0f;
  ExpectVecNear(Apply(h, 2, 4, 6), 1, 2, 3);

  D3DXPLANE p(0, 0, 2, 4), pn;
  D3DXPlaneNormalize(&pn, &p);
  EXPECT_EQ(pn, D3DXPLANE(0, 0, 1, 2));
  const D3DXVECTOR3 onPlane(5, 5, -2);
  EXPECT_NEAR(D3DXPlaneDotCoord(&pn, &onPlane), 0.0f, kEps);
  const D3DXVECTOR3 p1(0, 0, 1), p2(1, 0, 1), p3(0, 1, 1);
  D3DXPlaneFromPoints(&pn, &p1, &p2, &p3);
  EXPECT_NEAR(pn.c, 1.0f, kEps);
  EXPECT_NEAR(pn.d, -1.0f, kEps);
}

TEST(D3DXColourAndQuaternion, ConversionsAndInterpolation) {
  const D3DXCOLOR c(0x80FF4000u);
  EXPECT_NEAR(c.a, 128 / 255.0f, kEps);
  EXPECT_NEAR(c.r, 1.0f, kEps);
  EXPECT_NEAR(c.g, 64 / 255.0f, kEps);
  EXPECT_EQ(c.b, 0.0f);
  EXPECT_EQ((DWORD)c, 0x80FF4000u);
  EXPECT_EQ((DWORD)D3DXCOLOR(2.0f, -1.0f, 0.5f, 1.0f), 0xFFFF0080u);  // clamped per channel

  const D3DXVECTOR3 zAxis(0, 0, 1);
  D3DXQUATERNION q0, q1, mid, expected;
  D3DXQuaternionIdentity(&q0);
  D3DXQuaternionRotationAxis(&q1, &zAxis, kHalfPi);
  D3DXQuaternionSlerp(&mid, &q0, &q1, 0.5f);
  D3DXQuaternionRotationAxis(&expected, &zAxis, kHalfPi / 2.0f);
  EXPECT_NEAR(mid.z, expected.z, kEps);
  EXPECT_NEAR(mid.w, expected.w, kEps);

  // Multiply composes in D3DX order: q1 then q2 equals the matrix product M(q1) * M(q2).
  const D3DXVECTOR3 xAxis(1, 0, 0);
  D3DXQUATERNION qa, qb, qab;
  D3DXQuaternionRotationAxis(&qa, &xAxis, 0.6f);
  D3DXQuaternionRotationAxis(&qb, &zAxis, 1.2f);
  D3DXQuaternionMultiply(&qab, &qa, &qb);
  D3DXMATRIX ma, mb, mab;
  D3DXMatrixRotationQuaternion(&ma, &qa);
  D3DXMatrixRotationQuaternion(&mb, &qb);
  D3DXMatrixRotationQuaternion(&mab, &qab);
  ExpectMatrixNear(mab, ma * mb);
  D3DXQUATERNION back;
  D3DXQuaternionRotationMatrix(&back, &mab);
  EXPECT_NEAR(std::fabs(D3DXQuaternionDot(&back, &qab)), 1.0f, 1e-5f);
}

TEST(D3DXBuffer, ZeroFilledSizedAndReferenceCounted) {
  ID3DXBuffer* buffer = nullptr;
  ASSERT_EQ(D3DXCreateBuffer(64, &buffer), S_OK);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer->GetBufferSize(), 64u);
  const auto* bytes = static_cast<const uint8_t*>(buffer->GetBufferPointer());
  ASSERT_NE(bytes, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(bytes[i], 0) << i;
  void* same = nullptr;
  ASSERT_EQ(buffer->QueryInterface(IID_ID3DXBuffer, &same), S_OK);
  EXPECT_EQ(same, buffer);
  EXPECT_EQ(buffer->Release(), 1u);
  EXPECT_EQ(buffer->Release(), 0u);

  ASSERT_EQ(D3DXCreateBuffer(0, &buffer), S_OK);  // empty is allowed
  EXPECT_EQ(buffer->GetBufferSize(), 0u);
  buffer->Release();
  EXPECT_EQ(D3DXCreateBuffer(8, nullptr), E_POINTER);
}

}  // namespace
