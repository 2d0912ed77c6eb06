// D3DX math: matrices, vectors, quaternions and planes in the row-vector convention.
#include <cmath>

#include "d3dx9math.h"

namespace {

D3DXMATRIX Identity() {
  return D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
}

D3DXMATRIX Product(const D3DXMATRIX& a, const D3DXMATRIX& b) {
  D3DXMATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                  a.m[i][3] * b.m[3][j];
  return r;
}

D3DXMATRIX Translation(FLOAT x, FLOAT y, FLOAT z) {
  D3DXMATRIX r = Identity();
  r._41 = x;
  r._42 = y;
  r._43 = z;
  return r;
}

D3DXMATRIX RotationZ(FLOAT angle) {
  D3DXMATRIX r = Identity();
  const FLOAT c = std::cos(angle), s = std::sin(angle);
  r._11 = c;
  r._12 = s;
  r._21 = -s;
  r._22 = c;
  return r;
}

D3DXMATRIX Scaling(FLOAT x, FLOAT y, FLOAT z) {
  D3DXMATRIX r = Identity();
  r._11 = x;
  r._22 = y;
  r._33 = z;
  return r;
}

// 2x2 sub-determinants used by both the determinant and the inverse.
struct Cofactors {
  double c[4][4];
  double det;
};

Cofactors ComputeCofactors(const D3DXMATRIX& mat) {
  double a[4][4];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) a[i][j] = mat.m[i][j];
  Cofactors out{};
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      double minor[3][3];
      for (int r = 0, mr = 0; r < 4; ++r) {
        if (r == i) continue;
        for (int c = 0, mc = 0; c < 4; ++c) {
          if (c == j) continue;
          minor[mr][mc++] = a[r][c];
        }
        ++mr;
      }
      const double d = minor[0][0] * (minor[1][1] * minor[2][2] - minor[1][2] * minor[2][1]) -
                       minor[0][1] * (minor[1][0] * minor[2][2] - minor[1][2] * minor[2][0]) +
                       minor[0][2] * (minor[1][0] * minor[2][1] - minor[1][1] * minor[2][0]);
      out.c[i][j] = ((i + j) % 2 ? -d : d);
    }
  }
  out.det =
      a[0][0] * out.c[0][0] + a[0][1] * out.c[0][1] + a[0][2] * out.c[0][2] + a[0][3] * out.c[0][3];
  return out;
}

D3DXMATRIX QuaternionMatrix(const D3DXQUATERNION& q) {
  const FLOAT xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
  const FLOAT xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
  const FLOAT wx = q.w * q.x, wy = q.w * q.y, wz = q.w * q.z;
  return D3DXMATRIX(1 - 2 * (yy + zz), 2 * (xy + wz), 2 * (xz - wy), 0,  //
                    2 * (xy - wz), 1 - 2 * (xx + zz), 2 * (yz + wx), 0,  //
                    2 * (xz + wy), 2 * (yz - wx), 1 - 2 * (xx + yy), 0,  //
                    0, 0, 0, 1);
}

}  // namespace

// --- vectors -------------------------------------------------------------------------------------

D3DXVECTOR2* WINAPI D3DXVec2Normalize(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV) {
  if (!pOut || !pV) return pOut;
  const FLOAT len = D3DXVec2Length(pV);
  *pOut = len > 0.0f ? *pV / len : D3DXVECTOR2(0.0f, 0.0f);
  return pOut;
}

D3DXVECTOR4* WINAPI D3DXVec2Transform(D3DXVECTOR4* pOut, const D3DXVECTOR2* pV,
                                      const D3DXMATRIX* pM) {
  if (!pOut || !pV || !pM) return pOut;
  const FLOAT x = pV->x, y = pV->y;
  *pOut = D3DXVECTOR4(x * pM->_11 + y * pM->_21 + pM->_41, x * pM->_12 + y * pM->_22 + pM->_42,
                      x * pM->_13 + y * pM->_23 + pM->_43, x * pM->_14 + y * pM->_24 + pM->_44);
  return pOut;
}

D3DXVECTOR2* WINAPI D3DXVec2TransformCoord(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV,
                                           const D3DXMATRIX* pM) {
  if (!pOut || !pV || !pM) return pOut;
  D3DXVECTOR4 r;
  D3DXVec2Transform(&r, pV, pM);
  const FLOAT inv = r.w != 0.0f ? 1.0f / r.w : 0.0f;
  *pOut = D3DXVECTOR2(r.x * inv, r.y * inv);
  return pOut;
}

D3DXVECTOR3* WINAPI D3DXVec3Normalize(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV) {
  if (!pOut || !pV) return pOut;
  const FLOAT len = D3DXVec3Length(pV);
  *pOut = len > 0.0f ? *pV / len : D3DXVECTOR3(0.0f, 0.0f, 0.0f);
  return pOut;
}

D3DXVECTOR4* WINAPI D3DXVec3Transform(D3DXVECTOR4* pOut, const D3DXVECTOR3* pV,
                                      const D3DXMATRIX* pM) {
  if (!pOut || !pV || !pM) return pOut;
  const FLOAT x = pV->x, y = pV->y, z = pV->z;
  *pOut = D3DXVECTOR4(x * pM->_11 + y * pM->_21 + z * pM->_31 + pM->_41,
                      x * pM->_12 + y * pM->_22 + z * pM->_32 + pM->_42,
                      x * pM->_13 + y * pM->_23 + z * pM->_33 + pM->_43,
                      x * pM->_14 + y * pM->_24 + z * pM->_34 + pM->_44);
  return pOut;
}

D3DXVECTOR3* WINAPI D3DXVec3TransformCoord(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV,
                                           const D3DXMATRIX* pM) {
  if (!pOut || !pV || !pM) return pOut;
  D3DXVECTOR4 r;
  D3DXVec3Transform(&r, pV, pM);
  const FLOAT inv = r.w != 0.0f ? 1.0f / r.w : 0.0f;
  *pOut = D3DXVECTOR3(r.x * inv, r.y * inv, r.z * inv);
  return pOut;
}

D3DXVECTOR3* WINAPI D3DXVec3TransformNormal(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV,
                                            const D3DXMATRIX* pM) {
  if (!pOut || !pV || !pM) return pOut;
  const FLOAT x = pV->x, y = pV->y, z = pV->z;
  *pOut =
      D3DXVECTOR3(x * pM->_11 + y * pM->_21 + z * pM->_31, x * pM->_12 + y * pM->_22 + z * pM->_32,
                  x * pM->_13 + y * pM->_23 + z * pM->_33);
  return pOut;
}

D3DXVECTOR4* WINAPI D3DXVec4Transform(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV,
                                      const D3DXMATRIX* pM) {
  if (!pOut || !pV || !pM) return pOut;
  const FLOAT x = pV->x, y = pV->y, z = pV->z, w = pV->w;
  *pOut = D3DXVECTOR4(x * pM->_11 + y * pM->_21 + z * pM->_31 + w * pM->_41,
                      x * pM->_12 + y * pM->_22 + z * pM->_32 + w * pM->_42,
                      x * pM->_13 + y * pM->_23 + z * pM->_33 + w * pM->_43,
                      x * pM->_14 + y * pM->_24 + z * pM->_34 + w * pM->_44);
  return pOut;
}

D3DXVECTOR4* WINAPI D3DXVec4Normalize(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV) {
  if (!pOut || !pV) return pOut;
  const FLOAT len = D3DXVec4Length(pV);
  *pOut = len > 0.0f ? *pV / len : D3DXVECTOR4(0.0f, 0.0f, 0.0f, 0.0f);
  return pOut;
}

// --- matrices ------------------------------------------------------------------------------------

D3DXMATRIX* WINAPI D3DXMatrixIdentity(D3DXMATRIX* pOut) {
  if (pOut) *pOut = Identity();
  return pOut;
}

BOOL WINAPI D3DXMatrixIsIdentity(const D3DXMATRIX* pM) {
  return pM && *pM == Identity();
}

FLOAT WINAPI D3DXMatrixDeterminant(const D3DXMATRIX* pM) {
  return pM ? (FLOAT)ComputeCofactors(*pM).det : 0.0f;
}

D3DXMATRIX* WINAPI D3DXMatrixMultiply(D3DXMATRIX* pOut, const D3DXMATRIX* pM1,
                                      const D3DXMATRIX* pM2) {
  if (pOut && pM1 && pM2) *pOut = Product(*pM1, *pM2);
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixMultiplyTranspose(D3DXMATRIX* pOut, const D3DXMATRIX* pM1,
                                               const D3DXMATRIX* pM2) {
  if (!pOut || !pM1 || !pM2) return pOut;
  const D3DXMATRIX p = Product(*pM1, *pM2);
  return D3DXMatrixTranspose(pOut, &p);
}

D3DXMATRIX* WINAPI D3DXMatrixTranspose(D3DXMATRIX* pOut, const D3DXMATRIX* pM) {
  if (!pOut || !pM) return pOut;
  D3DXMATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.m[i][j] = pM->m[j][i];
  *pOut = r;
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixInverse(D3DXMATRIX* pOut, FLOAT* pDeterminant, const D3DXMATRIX* pM) {
  if (!pOut || !pM) return nullptr;
  const Cofactors cf = ComputeCofactors(*pM);
  if (pDeterminant) *pDeterminant = (FLOAT)cf.det;
  if (cf.det == 0.0 || !std::isfinite(cf.det)) return nullptr;
  const double inv = 1.0 / cf.det;
  D3DXMATRIX r;
  // The inverse is the transposed cofactor matrix over the determinant.
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.m[i][j] = (FLOAT)(cf.c[j][i] * inv);
  *pOut = r;
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixTranslation(D3DXMATRIX* pOut, FLOAT x, FLOAT y, FLOAT z) {
  if (pOut) *pOut = Translation(x, y, z);
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixScaling(D3DXMATRIX* pOut, FLOAT sx, FLOAT sy, FLOAT sz) {
  if (pOut) *pOut = Scaling(sx, sy, sz);
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixRotationX(D3DXMATRIX* pOut, FLOAT angle) {
  if (!pOut) return pOut;
  const FLOAT c = std::cos(angle), s = std::sin(angle);
  *pOut = D3DXMATRIX(1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1);
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixRotationY(D3DXMATRIX* pOut, FLOAT angle) {
  if (!pOut) return pOut;
  const FLOAT c = std::cos(angle), s = std::sin(angle);
  *pOut = D3DXMATRIX(c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1);
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixRotationZ(D3DXMATRIX* pOut, FLOAT angle) {
  if (pOut) *pOut = RotationZ(angle);
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixRotationAxis(D3DXMATRIX* pOut, const D3DXVECTOR3* pV, FLOAT angle) {
  if (!pOut || !pV) return pOut;
  D3DXVECTOR3 v;
  D3DXVec3Normalize(&v, pV);
  const FLOAT c = std::cos(angle), s = std::sin(angle), t = 1.0f - c;
  *pOut = D3DXMATRIX(t * v.x * v.x + c, t * v.x * v.y + s * v.z, t * v.x * v.z - s * v.y, 0,  //
                     t * v.x * v.y - s * v.z, t * v.y * v.y + c, t * v.y * v.z + s * v.x, 0,  //
                     t * v.x * v.z + s * v.y, t * v.y * v.z - s * v.x, t * v.z * v.z + c, 0,  //
                     0, 0, 0, 1);
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixRotationQuaternion(D3DXMATRIX* pOut, const D3DXQUATERNION* pQ) {
  if (pOut && pQ) *pOut = QuaternionMatrix(*pQ);
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* pOut, FLOAT yaw, FLOAT pitch,
                                                  FLOAT roll) {
  if (!pOut) return pOut;
  D3DXMATRIX rx, ry;
  D3DXMatrixRotationX(&rx, pitch);
  D3DXMatrixRotationY(&ry, yaw);
  *pOut = Product(Product(RotationZ(roll), rx), ry);
  return pOut;
}

namespace {
D3DXMATRIX* LookAt(D3DXMATRIX* pOut, const D3DXVECTOR3& eye, const D3DXVECTOR3& zdir,
                   const D3DXVECTOR3& up) {
  D3DXVECTOR3 zaxis, xaxis, yaxis, cross;
  D3DXVec3Normalize(&zaxis, &zdir);
  D3DXVec3Cross(&cross, &up, &zaxis);
  D3DXVec3Normalize(&xaxis, &cross);
  D3DXVec3Cross(&yaxis, &zaxis, &xaxis);
  *pOut = D3DXMATRIX(xaxis.x, yaxis.x, zaxis.x, 0,  //
                     xaxis.y, yaxis.y, zaxis.y, 0,  //
                     xaxis.z, yaxis.z, zaxis.z, 0,  //
                     -D3DXVec3Dot(&xaxis, &eye), -D3DXVec3Dot(&yaxis, &eye),
                     -D3DXVec3Dot(&zaxis, &eye), 1);
  return pOut;
}
}  // namespace

D3DXMATRIX* WINAPI D3DXMatrixLookAtLH(D3DXMATRIX* pOut, const D3DXVECTOR3* pEye,
                                      const D3DXVECTOR3* pAt, const D3DXVECTOR3* pUp) {
  if (!pOut || !pEye || !pAt || !pUp) return pOut;
  return LookAt(pOut, *pEye, *pAt - *pEye, *pUp);
}

D3DXMATRIX* WINAPI D3DXMatrixLookAtRH(D3DXMATRIX* pOut, const D3DXVECTOR3* pEye,
                                      const D3DXVECTOR3* pAt, const D3DXVECTOR3* pUp) {
  if (!pOut || !pEye || !pAt || !pUp) return pOut;
  return LookAt(pOut, *pEye, *pEye - *pAt, *pUp);
}

D3DXMATRIX* WINAPI D3DXMatrixPerspectiveFovLH(D3DXMATRIX* pOut, FLOAT fovy, FLOAT aspect, FLOAT zn,
                                              FLOAT zf) {
  if (!pOut) return pOut;
  const FLOAT yscale = 1.0f / std::tan(fovy / 2.0f);
  const FLOAT xscale = yscale / aspect;
  const FLOAT q = zf / (zf - zn);
  *pOut = D3DXMATRIX(xscale, 0, 0, 0, 0, yscale, 0, 0, 0, 0, q, 1, 0, 0, -zn * q, 0);
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixPerspectiveFovRH(D3DXMATRIX* pOut, FLOAT fovy, FLOAT aspect, FLOAT zn,
                                              FLOAT zf) {
  if (!pOut) return pOut;
  const FLOAT yscale = 1.0f / std::tan(fovy / 2.0f);
  const FLOAT xscale = yscale / aspect;
  const FLOAT q = zf / (zn - zf);
  *pOut = D3DXMATRIX(xscale, 0, 0, 0, 0, yscale, 0, 0, 0, 0, q, -1, 0, 0, zn * q, 0);
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixPerspectiveLH(D3DXMATRIX* pOut, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf) {
  if (!pOut) return pOut;
  const FLOAT q = zf / (zf - zn);
  *pOut = D3DXMATRIX(2 * zn / w, 0, 0, 0, 0, 2 * zn / h, 0, 0, 0, 0, q, 1, 0, 0, -zn * q, 0);
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixOrthoLH(D3DXMATRIX* pOut, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf) {
  if (!pOut) return pOut;
  *pOut =
      D3DXMATRIX(2 / w, 0, 0, 0, 0, 2 / h, 0, 0, 0, 0, 1 / (zf - zn), 0, 0, 0, zn / (zn - zf), 1);
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixOrthoRH(D3DXMATRIX* pOut, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf) {
  if (!pOut) return pOut;
  *pOut =
      D3DXMATRIX(2 / w, 0, 0, 0, 0, 2 / h, 0, 0, 0, 0, 1 / (zn - zf), 0, 0, 0, zn / (zn - zf), 1);
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixOrthoOffCenterLH(D3DXMATRIX* pOut, FLOAT l, FLOAT r, FLOAT b, FLOAT t,
                                              FLOAT zn, FLOAT zf) {
  if (!pOut) return pOut;
  *pOut = D3DXMATRIX(2 / (r - l), 0, 0, 0,    //
                     0, 2 / (t - b), 0, 0,    //
                     0, 0, 1 / (zf - zn), 0,  //
                     (l + r) / (l - r), (t + b) / (b - t), zn / (zn - zf), 1);
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixOrthoOffCenterRH(D3DXMATRIX* pOut, FLOAT l, FLOAT r, FLOAT b, FLOAT t,
                                              FLOAT zn, FLOAT zf) {
  if (!pOut) return pOut;
  *pOut = D3DXMATRIX(2 / (r - l), 0, 0, 0,    //
                     0, 2 / (t - b), 0, 0,    //
                     0, 0, 1 / (zn - zf), 0,  //
                     (l + r) / (l - r), (t + b) / (b - t), zn / (zn - zf), 1);
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixTransformation2D(D3DXMATRIX* pOut, const D3DXVECTOR2* pScalingCenter,
                                              FLOAT ScalingRotation, const D3DXVECTOR2* pScaling,
                                              const D3DXVECTOR2* pRotationCenter, FLOAT Rotation,
                                              const D3DXVECTOR2* pTranslation) {
  if (!pOut) return pOut;
  const D3DXVECTOR2 sc = pScalingCenter ? *pScalingCenter : D3DXVECTOR2(0, 0);
  const D3DXVECTOR2 rc = pRotationCenter ? *pRotationCenter : D3DXVECTOR2(0, 0);
  const D3DXVECTOR2 tr = pTranslation ? *pTranslation : D3DXVECTOR2(0, 0);
  const D3DXVECTOR2 scale = pScaling ? *pScaling : D3DXVECTOR2(1, 1);
  if (sc.x == 0 && sc.y == 0 && rc.x == 0 && rc.y == 0 && ScalingRotation == 0 &&
      std::isfinite(scale.x) && std::isfinite(scale.y) && std::isfinite(Rotation) &&
      std::isfinite(tr.x) && std::isfinite(tr.y)) {
    // Scale, turn, move with no centres (every sprite and text draw): the products below reduce
    // to this closed form, exactly for finite inputs (zero terms only add exact zeros).
    const FLOAT c = std::cos(Rotation), s = std::sin(Rotation);
    D3DXMATRIX m = Identity();
    m._11 = scale.x * c;
    m._12 = scale.x * s;
    m._21 = scale.y * -s;
    m._22 = scale.y * c;
    m._41 = tr.x;
    m._42 = tr.y;
    *pOut = m;
    return pOut;
  }
  D3DXMATRIX m = Translation(-sc.x, -sc.y, 0);
  if (pScaling) {
    // The scaling axes are turned by ScalingRotation: undo it, scale, turn back.
    m = Product(m, RotationZ(-ScalingRotation));
    m = Product(m, Scaling(pScaling->x, pScaling->y, 1.0f));
    m = Product(m, RotationZ(ScalingRotation));
  }
  m = Product(m, Translation(sc.x - rc.x, sc.y - rc.y, 0));
  m = Product(m, RotationZ(Rotation));
  m = Product(m, Translation(rc.x + tr.x, rc.y + tr.y, 0));
  *pOut = m;
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixTransformation(D3DXMATRIX* pOut, const D3DXVECTOR3* pScalingCenter,
                                            const D3DXQUATERNION* pScalingRotation,
                                            const D3DXVECTOR3* pScaling,
                                            const D3DXVECTOR3* pRotationCenter,
                                            const D3DXQUATERNION* pRotation,
                                            const D3DXVECTOR3* pTranslation) {
  if (!pOut) return pOut;
  const D3DXVECTOR3 sc = pScalingCenter ? *pScalingCenter : D3DXVECTOR3(0, 0, 0);
  const D3DXVECTOR3 rc = pRotationCenter ? *pRotationCenter : D3DXVECTOR3(0, 0, 0);
  const D3DXVECTOR3 tr = pTranslation ? *pTranslation : D3DXVECTOR3(0, 0, 0);
  D3DXMATRIX m = Translation(-sc.x, -sc.y, -sc.z);
  if (pScaling) {
    D3DXMATRIX sr = pScalingRotation ? QuaternionMatrix(*pScalingRotation) : Identity();
    D3DXMATRIX srInv;
    if (!D3DXMatrixInverse(&srInv, nullptr, &sr)) srInv = Identity();
    m = Product(m, srInv);
    m = Product(m, Scaling(pScaling->x, pScaling->y, pScaling->z));
    m = Product(m, sr);
  }
  m = Product(m, Translation(sc.x - rc.x, sc.y - rc.y, sc.z - rc.z));
  if (pRotation) m = Product(m, QuaternionMatrix(*pRotation));
  m = Product(m, Translation(rc.x + tr.x, rc.y + tr.y, rc.z + tr.z));
  *pOut = m;
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixAffineTransformation(D3DXMATRIX* pOut, FLOAT scaling,
                                                  const D3DXVECTOR3* pRotationCenter,
                                                  const D3DXQUATERNION* pRotation,
                                                  const D3DXVECTOR3* pTranslation) {
  if (!pOut) return pOut;
  const D3DXVECTOR3 scale(scaling, scaling, scaling);
  return D3DXMatrixTransformation(pOut, nullptr, nullptr, &scale, pRotationCenter, pRotation,
                                  pTranslation);
}

HRESULT WINAPI D3DXMatrixDecompose(D3DXVECTOR3* pOutScale, D3DXQUATERNION* pOutRotation,
                                   D3DXVECTOR3* pOutTranslation, const D3DXMATRIX* pM) {
  if (!pOutScale || !pOutRotation || !pOutTranslation || !pM) return D3DERR_INVALIDCALL;
  const D3DXMATRIX& m = *pM;
  D3DXVECTOR3 rows[3] = {D3DXVECTOR3(m._11, m._12, m._13), D3DXVECTOR3(m._21, m._22, m._23),
                         D3DXVECTOR3(m._31, m._32, m._33)};
  D3DXVECTOR3 scale(D3DXVec3Length(&rows[0]), D3DXVec3Length(&rows[1]), D3DXVec3Length(&rows[2]));
  if (scale.x == 0.0f || scale.y == 0.0f || scale.z == 0.0f) return D3DERR_INVALIDCALL;
  // A mirroring matrix has no rotation quaternion: take the mirror into the x scale.
  D3DXVECTOR3 cross;
  D3DXVec3Cross(&cross, &rows[0], &rows[1]);
  if (D3DXVec3Dot(&cross, &rows[2]) < 0.0f) scale.x = -scale.x;
  D3DXMATRIX rotation = Identity();
  for (int r = 0; r < 3; ++r) {
    const FLOAT s = (&scale.x)[r];
    rotation.m[r][0] = rows[r].x / s;
    rotation.m[r][1] = rows[r].y / s;
    rotation.m[r][2] = rows[r].z / s;
  }
  D3DXQuaternionRotationMatrix(pOutRotation, &rotation);
  D3DXQuaternionNormalize(pOutRotation, pOutRotation);
  *pOutScale = scale;
  *pOutTranslation = D3DXVECTOR3(m._41, m._42, m._43);
  return D3D_OK;
}

// --- quaternions ---------------------------------------------------------------------------------

D3DXQUATERNION* WINAPI D3DXQuaternionNormalize(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ) {
  if (!pOut || !pQ) return pOut;
  const FLOAT len = D3DXQuaternionLength(pQ);
  *pOut = len > 0.0f ? *pQ * (1.0f / len) : D3DXQUATERNION(0, 0, 0, 0);
  return pOut;
}

D3DXQUATERNION* WINAPI D3DXQuaternionMultiply(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                              const D3DXQUATERNION* pQ2) {
  if (!pOut || !pQ1 || !pQ2) return pOut;
  // D3DX order: the result rotates by pQ1 first, then pQ2 (the Hamilton product pQ2 * pQ1).
  const D3DXQUATERNION& a = *pQ2;
  const D3DXQUATERNION& b = *pQ1;
  *pOut = D3DXQUATERNION(a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,  //
                         a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,  //
                         a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w,  //
                         a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z);
  return pOut;
}

D3DXQUATERNION* WINAPI D3DXQuaternionRotationAxis(D3DXQUATERNION* pOut, const D3DXVECTOR3* pV,
                                                  FLOAT angle) {
  if (!pOut || !pV) return pOut;
  D3DXVECTOR3 v;
  D3DXVec3Normalize(&v, pV);
  const FLOAT s = std::sin(angle / 2.0f);
  *pOut = D3DXQUATERNION(v.x * s, v.y * s, v.z * s, std::cos(angle / 2.0f));
  return pOut;
}

D3DXQUATERNION* WINAPI D3DXQuaternionRotationYawPitchRoll(D3DXQUATERNION* pOut, FLOAT yaw,
                                                          FLOAT pitch, FLOAT roll) {
  if (!pOut) return pOut;
  const D3DXVECTOR3 ax(1, 0, 0), ay(0, 1, 0), az(0, 0, 1);
  D3DXQUATERNION qr, qp, qy, t;
  D3DXQuaternionRotationAxis(&qr, &az, roll);
  D3DXQuaternionRotationAxis(&qp, &ax, pitch);
  D3DXQuaternionRotationAxis(&qy, &ay, yaw);
  D3DXQuaternionMultiply(&t, &qr, &qp);
  D3DXQuaternionMultiply(pOut, &t, &qy);
  return pOut;
}

D3DXQUATERNION* WINAPI D3DXQuaternionRotationMatrix(D3DXQUATERNION* pOut, const D3DXMATRIX* pM) {
  if (!pOut || !pM) return pOut;
  const D3DXMATRIX& m = *pM;
  const FLOAT trace = m._11 + m._22 + m._33;
  D3DXQUATERNION q;
  if (trace > 0.0f) {
    const FLOAT s = std::sqrt(trace + 1.0f) * 2.0f;
    q = D3DXQUATERNION((m._23 - m._32) / s, (m._31 - m._13) / s, (m._12 - m._21) / s, 0.25f * s);
  } else if (m._11 > m._22 && m._11 > m._33) {
    const FLOAT s = std::sqrt(1.0f + m._11 - m._22 - m._33) * 2.0f;
    q = D3DXQUATERNION(0.25f * s, (m._12 + m._21) / s, (m._13 + m._31) / s, (m._23 - m._32) / s);
  } else if (m._22 > m._33) {
    const FLOAT s = std::sqrt(1.0f + m._22 - m._11 - m._33) * 2.0f;
    q = D3DXQUATERNION((m._12 + m._21) / s, 0.25f * s, (m._23 + m._32) / s, (m._31 - m._13) / s);
  } else {
    const FLOAT s = std::sqrt(1.0f + m._33 - m._11 - m._22) * 2.0f;
    q = D3DXQUATERNION((m._13 + m._31) / s, (m._23 + m._32) / s, 0.25f * s, (m._12 - m._21) / s);
  }
  *pOut = q;
  return pOut;
}

D3DXQUATERNION* WINAPI D3DXQuaternionSlerp(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                           const D3DXQUATERNION* pQ2, FLOAT t) {
  if (!pOut || !pQ1 || !pQ2) return pOut;
  FLOAT cosom = D3DXQuaternionDot(pQ1, pQ2);
  D3DXQUATERNION end = *pQ2;
  if (cosom < 0.0f) {  // take the short way round
    cosom = -cosom;
    end = -end;
  }
  FLOAT k0 = 1.0f - t, k1 = t;
  if (cosom < 0.9999f) {
    const FLOAT omega = std::acos(cosom);
    const FLOAT sinom = std::sin(omega);
    k0 = std::sin((1.0f - t) * omega) / sinom;
    k1 = std::sin(t * omega) / sinom;
  }
  *pOut = *pQ1 * k0 + end * k1;
  return pOut;
}

// --- planes --------------------------------------------------------------------------------------

D3DXPLANE* WINAPI D3DXPlaneNormalize(D3DXPLANE* pOut, const D3DXPLANE* pP) {
  if (!pOut || !pP) return pOut;
  const FLOAT len = std::sqrt(pP->a * pP->a + pP->b * pP->b + pP->c * pP->c);
  if (len > 0.0f) {
    const FLOAT inv = 1.0f / len;
    *pOut = D3DXPLANE(pP->a * inv, pP->b * inv, pP->c * inv, pP->d * inv);
  } else {
    *pOut = D3DXPLANE(0, 0, 0, 0);
  }
  return pOut;
}

D3DXPLANE* WINAPI D3DXPlaneFromPointNormal(D3DXPLANE* pOut, const D3DXVECTOR3* pPoint,
                                           const D3DXVECTOR3* pNormal) {
  if (!pOut || !pPoint || !pNormal) return pOut;
  *pOut = D3DXPLANE(pNormal->x, pNormal->y, pNormal->z, -D3DXVec3Dot(pPoint, pNormal));
  return pOut;
}

D3DXPLANE* WINAPI D3DXPlaneFromPoints(D3DXPLANE* pOut, const D3DXVECTOR3* pV1,
                                      const D3DXVECTOR3* pV2, const D3DXVECTOR3* pV3) {
  if (!pOut || !pV1 || !pV2 || !pV3) return pOut;
  const D3DXVECTOR3 e1 = *pV2 - *pV1, e2 = *pV3 - *pV1;
  D3DXVECTOR3 n, nn;
  D3DXVec3Cross(&n, &e1, &e2);
  D3DXVec3Normalize(&nn, &n);
  return D3DXPlaneFromPointNormal(pOut, pV1, &nn);
}

D3DXPLANE* WINAPI D3DXPlaneTransform(D3DXPLANE* pOut, const D3DXPLANE* pP, const D3DXMATRIX* pM) {
  if (!pOut || !pP || !pM) return pOut;
  const D3DXVECTOR4 v(pP->a, pP->b, pP->c, pP->d);
  D3DXVECTOR4 r;
  D3DXVec4Transform(&r, &v, pM);
  *pOut = D3DXPLANE(r.x, r.y, r.z, r.w);
  return pOut;
}
