// D3DX 9 math: vectors, matrices, quaternions, planes and colours.
// Row-vector convention throughout: a point p is transformed as p * M, so M1 * M2 applies M1 first,
// and translations sit in the fourth row (_41, _42, _43).
#pragma once

#include <cmath>

#include "d3d9.h"

#define D3DX_PI ((FLOAT)3.141592654f)
#define D3DX_1BYPI ((FLOAT)0.318309886f)
#define D3DXToRadian(degree) ((degree) * (D3DX_PI / 180.0f))
#define D3DXToDegree(radian) ((radian) * (180.0f / D3DX_PI))

struct D3DXMATRIX;

struct D3DXVECTOR2 {
  FLOAT x, y;

  D3DXVECTOR2() = default;
  D3DXVECTOR2(const FLOAT* f) : x(f ? f[0] : 0.0f), y(f ? f[1] : 0.0f) {}
  D3DXVECTOR2(FLOAT fx, FLOAT fy) : x(fx), y(fy) {}

  operator FLOAT*() { return &x; }
  operator const FLOAT*() const { return &x; }

  D3DXVECTOR2& operator+=(const D3DXVECTOR2& v) {
    x += v.x;
    y += v.y;
    return *this;
  }
  D3DXVECTOR2& operator-=(const D3DXVECTOR2& v) {
    x -= v.x;
    y -= v.y;
    return *this;
  }
  D3DXVECTOR2& operator*=(FLOAT f) {
    x *= f;
    y *= f;
    return *this;
  }
  D3DXVECTOR2& operator/=(FLOAT f) {
    x /= f;
    y /= f;
    return *this;
  }
  D3DXVECTOR2 operator+() const { return *this; }
  D3DXVECTOR2 operator-() const { return D3DXVECTOR2(-x, -y); }
  D3DXVECTOR2 operator+(const D3DXVECTOR2& v) const { return D3DXVECTOR2(x + v.x, y + v.y); }
  D3DXVECTOR2 operator-(const D3DXVECTOR2& v) const { return D3DXVECTOR2(x - v.x, y - v.y); }
  D3DXVECTOR2 operator*(FLOAT f) const { return D3DXVECTOR2(x * f, y * f); }
  D3DXVECTOR2 operator/(FLOAT f) const { return D3DXVECTOR2(x / f, y / f); }
  friend D3DXVECTOR2 operator*(FLOAT f, const D3DXVECTOR2& v) { return v * f; }
  bool operator==(const D3DXVECTOR2& v) const { return x == v.x && y == v.y; }
  bool operator!=(const D3DXVECTOR2& v) const { return !(*this == v); }
};
typedef D3DXVECTOR2* LPD3DXVECTOR2;

struct D3DXVECTOR3 : public D3DVECTOR {
  D3DXVECTOR3() = default;
  D3DXVECTOR3(const FLOAT* f) {
    x = f ? f[0] : 0.0f;
    y = f ? f[1] : 0.0f;
    z = f ? f[2] : 0.0f;
  }
  D3DXVECTOR3(const D3DVECTOR& v) : D3DVECTOR(v) {}
  D3DXVECTOR3(FLOAT fx, FLOAT fy, FLOAT fz) {
    x = fx;
    y = fy;
    z = fz;
  }

  operator FLOAT*() { return &x; }
  operator const FLOAT*() const { return &x; }

  D3DXVECTOR3& operator+=(const D3DXVECTOR3& v) {
    x += v.x;
    y += v.y;
    z += v.z;
    return *this;
  }
  D3DXVECTOR3& operator-=(const D3DXVECTOR3& v) {
    x -= v.x;
    y -= v.y;
    z -= v.z;
    return *this;
  }
  D3DXVECTOR3& operator*=(FLOAT f) {
    x *= f;
    y *= f;
    z *= f;
    return *this;
  }
  D3DXVECTOR3& operator/=(FLOAT f) {
    x /= f;
    y /= f;
    z /= f;
    return *this;
  }
  D3DXVECTOR3 operator+() const { return *this; }
  D3DXVECTOR3 operator-() const { return D3DXVECTOR3(-x, -y, -z); }
  D3DXVECTOR3 operator+(const D3DXVECTOR3& v) const {
    return D3DXVECTOR3(x + v.x, y + v.y, z + v.z);
  }
  D3DXVECTOR3 operator-(const D3DXVECTOR3& v) const {
    return D3DXVECTOR3(x - v.x, y - v.y, z - v.z);
  }
  D3DXVECTOR3 operator*(FLOAT f) const { return D3DXVECTOR3(x * f, y * f, z * f); }
  D3DXVECTOR3 operator/(FLOAT f) const { return D3DXVECTOR3(x / f, y / f, z / f); }
  friend D3DXVECTOR3 operator*(FLOAT f, const D3DXVECTOR3& v) { return v * f; }
  bool operator==(const D3DXVECTOR3& v) const { return x == v.x && y == v.y && z == v.z; }
  bool operator!=(const D3DXVECTOR3& v) const { return !(*this == v); }
};
typedef D3DXVECTOR3* LPD3DXVECTOR3;

struct D3DXVECTOR4 {
  FLOAT x, y, z, w;

  D3DXVECTOR4() = default;
  D3DXVECTOR4(const FLOAT* f)
      : x(f ? f[0] : 0.0f), y(f ? f[1] : 0.0f), z(f ? f[2] : 0.0f), w(f ? f[3] : 0.0f) {}
  D3DXVECTOR4(const D3DVECTOR& v, FLOAT fw) : x(v.x), y(v.y), z(v.z), w(fw) {}
  D3DXVECTOR4(FLOAT fx, FLOAT fy, FLOAT fz, FLOAT fw) : x(fx), y(fy), z(fz), w(fw) {}

  operator FLOAT*() { return &x; }
  operator const FLOAT*() const { return &x; }

  D3DXVECTOR4& operator+=(const D3DXVECTOR4& v) {
    x += v.x;
    y += v.y;
    z += v.z;
    w += v.w;
    return *this;
  }
  D3DXVECTOR4& operator-=(const D3DXVECTOR4& v) {
    x -= v.x;
    y -= v.y;
    z -= v.z;
    w -= v.w;
    return *this;
  }
  D3DXVECTOR4& operator*=(FLOAT f) {
    x *= f;
    y *= f;
    z *= f;
    w *= f;
    return *this;
  }
  D3DXVECTOR4& operator/=(FLOAT f) {
    x /= f;
    y /= f;
    z /= f;
    w /= f;
    return *this;
  }
  D3DXVECTOR4 operator+() const { return *this; }
  D3DXVECTOR4 operator-() const { return D3DXVECTOR4(-x, -y, -z, -w); }
  D3DXVECTOR4 operator+(const D3DXVECTOR4& v) const {
    return D3DXVECTOR4(x + v.x, y + v.y, z + v.z, w + v.w);
  }
  D3DXVECTOR4 operator-(const D3DXVECTOR4& v) const {
    return D3DXVECTOR4(x - v.x, y - v.y, z - v.z, w - v.w);
  }
  D3DXVECTOR4 operator*(FLOAT f) const { return D3DXVECTOR4(x * f, y * f, z * f, w * f); }
  D3DXVECTOR4 operator/(FLOAT f) const { return D3DXVECTOR4(x / f, y / f, z / f, w / f); }
  friend D3DXVECTOR4 operator*(FLOAT f, const D3DXVECTOR4& v) { return v * f; }
  bool operator==(const D3DXVECTOR4& v) const {
    return x == v.x && y == v.y && z == v.z && w == v.w;
  }
  bool operator!=(const D3DXVECTOR4& v) const { return !(*this == v); }
};
typedef D3DXVECTOR4* LPD3DXVECTOR4;

struct D3DXMATRIX : public D3DMATRIX {
  D3DXMATRIX() = default;
  D3DXMATRIX(const FLOAT* f) {
    if (f)
      std::memcpy(&_11, f, sizeof(D3DMATRIX));
    else
      std::memset(&_11, 0, sizeof(D3DMATRIX));
  }
  D3DXMATRIX(const D3DMATRIX& mat) : D3DMATRIX(mat) {}
  D3DXMATRIX(FLOAT f11, FLOAT f12, FLOAT f13, FLOAT f14, FLOAT f21, FLOAT f22, FLOAT f23, FLOAT f24,
             FLOAT f31, FLOAT f32, FLOAT f33, FLOAT f34, FLOAT f41, FLOAT f42, FLOAT f43,
             FLOAT f44) {
    _11 = f11;
    _12 = f12;
    _13 = f13;
    _14 = f14;
    _21 = f21;
    _22 = f22;
    _23 = f23;
    _24 = f24;
    _31 = f31;
    _32 = f32;
    _33 = f33;
    _34 = f34;
    _41 = f41;
    _42 = f42;
    _43 = f43;
    _44 = f44;
  }

  FLOAT& operator()(UINT row, UINT col) { return m[row][col]; }
  FLOAT operator()(UINT row, UINT col) const { return m[row][col]; }
  operator FLOAT*() { return &_11; }
  operator const FLOAT*() const { return &_11; }

  D3DXMATRIX& operator*=(const D3DXMATRIX& mat);
  D3DXMATRIX& operator+=(const D3DXMATRIX& mat) {
    for (int i = 0; i < 16; ++i) (&_11)[i] += (&mat._11)[i];
    return *this;
  }
  D3DXMATRIX& operator-=(const D3DXMATRIX& mat) {
    for (int i = 0; i < 16; ++i) (&_11)[i] -= (&mat._11)[i];
    return *this;
  }
  D3DXMATRIX& operator*=(FLOAT f) {
    for (int i = 0; i < 16; ++i) (&_11)[i] *= f;
    return *this;
  }
  D3DXMATRIX& operator/=(FLOAT f) { return *this *= 1.0f / f; }
  D3DXMATRIX operator+() const { return *this; }
  D3DXMATRIX operator-() const { return *this * -1.0f; }
  D3DXMATRIX operator*(const D3DXMATRIX& mat) const;
  D3DXMATRIX operator+(const D3DXMATRIX& mat) const {
    D3DXMATRIX r(*this);
    return r += mat;
  }
  D3DXMATRIX operator-(const D3DXMATRIX& mat) const {
    D3DXMATRIX r(*this);
    return r -= mat;
  }
  D3DXMATRIX operator*(FLOAT f) const {
    D3DXMATRIX r(*this);
    return r *= f;
  }
  D3DXMATRIX operator/(FLOAT f) const {
    D3DXMATRIX r(*this);
    return r /= f;
  }
  friend D3DXMATRIX operator*(FLOAT f, const D3DXMATRIX& mat) { return mat * f; }
  bool operator==(const D3DXMATRIX& mat) const {
    for (int i = 0; i < 16; ++i)
      if ((&_11)[i] != (&mat._11)[i]) return false;
    return true;
  }
  bool operator!=(const D3DXMATRIX& mat) const { return !(*this == mat); }
};
typedef D3DXMATRIX* LPD3DXMATRIX;

struct D3DXQUATERNION {
  FLOAT x, y, z, w;

  D3DXQUATERNION() = default;
  D3DXQUATERNION(const FLOAT* f)
      : x(f ? f[0] : 0.0f), y(f ? f[1] : 0.0f), z(f ? f[2] : 0.0f), w(f ? f[3] : 0.0f) {}
  D3DXQUATERNION(FLOAT fx, FLOAT fy, FLOAT fz, FLOAT fw) : x(fx), y(fy), z(fz), w(fw) {}

  operator FLOAT*() { return &x; }
  operator const FLOAT*() const { return &x; }

  D3DXQUATERNION operator+(const D3DXQUATERNION& q) const {
    return D3DXQUATERNION(x + q.x, y + q.y, z + q.z, w + q.w);
  }
  D3DXQUATERNION operator-(const D3DXQUATERNION& q) const {
    return D3DXQUATERNION(x - q.x, y - q.y, z - q.z, w - q.w);
  }
  D3DXQUATERNION operator*(FLOAT f) const { return D3DXQUATERNION(x * f, y * f, z * f, w * f); }
  D3DXQUATERNION operator-() const { return D3DXQUATERNION(-x, -y, -z, -w); }
  bool operator==(const D3DXQUATERNION& q) const {
    return x == q.x && y == q.y && z == q.z && w == q.w;
  }
  bool operator!=(const D3DXQUATERNION& q) const { return !(*this == q); }
};
typedef D3DXQUATERNION* LPD3DXQUATERNION;

struct D3DXPLANE {
  FLOAT a, b, c, d;

  D3DXPLANE() = default;
  D3DXPLANE(const FLOAT* f)
      : a(f ? f[0] : 0.0f), b(f ? f[1] : 0.0f), c(f ? f[2] : 0.0f), d(f ? f[3] : 0.0f) {}
  D3DXPLANE(FLOAT fa, FLOAT fb, FLOAT fc, FLOAT fd) : a(fa), b(fb), c(fc), d(fd) {}

  operator FLOAT*() { return &a; }
  operator const FLOAT*() const { return &a; }
  bool operator==(const D3DXPLANE& p) const { return a == p.a && b == p.b && c == p.c && d == p.d; }
  bool operator!=(const D3DXPLANE& p) const { return !(*this == p); }
};
typedef D3DXPLANE* LPD3DXPLANE;

// Colour with float channels, r/g/b/a in [0, 1] for displayable colours; converts to and from
// D3DCOLOR (0xAARRGGBB), clamping on the way out.
struct D3DXCOLOR {
  FLOAT r, g, b, a;

  D3DXCOLOR() = default;
  D3DXCOLOR(DWORD argb)
      : r(((argb >> 16) & 0xFF) / 255.0f),
        g(((argb >> 8) & 0xFF) / 255.0f),
        b((argb & 0xFF) / 255.0f),
        a(((argb >> 24) & 0xFF) / 255.0f) {}
  D3DXCOLOR(const FLOAT* f)
      : r(f ? f[0] : 0.0f), g(f ? f[1] : 0.0f), b(f ? f[2] : 0.0f), a(f ? f[3] : 0.0f) {}
  D3DXCOLOR(const D3DCOLORVALUE& c) : r(c.r), g(c.g), b(c.b), a(c.a) {}
  D3DXCOLOR(FLOAT fr, FLOAT fg, FLOAT fb, FLOAT fa) : r(fr), g(fg), b(fb), a(fa) {}

  operator DWORD() const {
    auto channel = [](FLOAT v) -> DWORD {
      if (!(v > 0.0f)) return 0;  // also NaN
      if (v >= 1.0f) return 255;
      return (DWORD)(v * 255.0f + 0.5f);
    };
    return (channel(a) << 24) | (channel(r) << 16) | (channel(g) << 8) | channel(b);
  }
  operator FLOAT*() { return &r; }
  operator const FLOAT*() const { return &r; }
  operator D3DCOLORVALUE*() { return reinterpret_cast<D3DCOLORVALUE*>(&r); }
  operator const D3DCOLORVALUE*() const { return reinterpret_cast<const D3DCOLORVALUE*>(&r); }
  operator D3DCOLORVALUE&() { return *reinterpret_cast<D3DCOLORVALUE*>(&r); }
  operator const D3DCOLORVALUE&() const { return *reinterpret_cast<const D3DCOLORVALUE*>(&r); }

  D3DXCOLOR operator+(const D3DXCOLOR& c) const {
    return D3DXCOLOR(r + c.r, g + c.g, b + c.b, a + c.a);
  }
  D3DXCOLOR operator-(const D3DXCOLOR& c) const {
    return D3DXCOLOR(r - c.r, g - c.g, b - c.b, a - c.a);
  }
  D3DXCOLOR operator*(FLOAT f) const { return D3DXCOLOR(r * f, g * f, b * f, a * f); }
  bool operator==(const D3DXCOLOR& c) const { return r == c.r && g == c.g && b == c.b && a == c.a; }
  bool operator!=(const D3DXCOLOR& c) const { return !(*this == c); }
};
typedef D3DXCOLOR* LPD3DXCOLOR;

// --- 2D vectors --------------------------------------------------------------------------------
inline FLOAT D3DXVec2Length(const D3DXVECTOR2* v) {
  return v ? std::sqrt(v->x * v->x + v->y * v->y) : 0.0f;
}
inline FLOAT D3DXVec2LengthSq(const D3DXVECTOR2* v) {
  return v ? v->x * v->x + v->y * v->y : 0.0f;
}
inline FLOAT D3DXVec2Dot(const D3DXVECTOR2* a, const D3DXVECTOR2* b) {
  return (a && b) ? a->x * b->x + a->y * b->y : 0.0f;
}
D3DXVECTOR2* WINAPI D3DXVec2Normalize(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV);
D3DXVECTOR2* WINAPI D3DXVec2TransformCoord(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV,
                                           const D3DXMATRIX* pM);
D3DXVECTOR4* WINAPI D3DXVec2Transform(D3DXVECTOR4* pOut, const D3DXVECTOR2* pV,
                                      const D3DXMATRIX* pM);

// --- 3D vectors --------------------------------------------------------------------------------
inline FLOAT D3DXVec3Length(const D3DXVECTOR3* v) {
  return v ? std::sqrt(v->x * v->x + v->y * v->y + v->z * v->z) : 0.0f;
}
inline FLOAT D3DXVec3LengthSq(const D3DXVECTOR3* v) {
  return v ? v->x * v->x + v->y * v->y + v->z * v->z : 0.0f;
}
inline FLOAT D3DXVec3Dot(const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
  return (a && b) ? a->x * b->x + a->y * b->y + a->z * b->z : 0.0f;
}
inline D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* pOut, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
  if (!pOut || !a || !b) return pOut;
  D3DXVECTOR3 r(a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x);
  *pOut = r;
  return pOut;
}
inline D3DXVECTOR3* D3DXVec3Add(D3DXVECTOR3* pOut, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
  if (pOut && a && b) *pOut = *a + *b;
  return pOut;
}
inline D3DXVECTOR3* D3DXVec3Subtract(D3DXVECTOR3* pOut, const D3DXVECTOR3* a,
                                     const D3DXVECTOR3* b) {
  if (pOut && a && b) *pOut = *a - *b;
  return pOut;
}
inline D3DXVECTOR3* D3DXVec3Scale(D3DXVECTOR3* pOut, const D3DXVECTOR3* v, FLOAT s) {
  if (pOut && v) *pOut = *v * s;
  return pOut;
}
inline D3DXVECTOR3* D3DXVec3Lerp(D3DXVECTOR3* pOut, const D3DXVECTOR3* a, const D3DXVECTOR3* b,
                                 FLOAT s) {
  if (pOut && a && b) *pOut = *a + (*b - *a) * s;
  return pOut;
}
inline D3DXVECTOR3* D3DXVec3Minimize(D3DXVECTOR3* pOut, const D3DXVECTOR3* a,
                                     const D3DXVECTOR3* b) {
  if (pOut && a && b)
    *pOut = D3DXVECTOR3(a->x < b->x ? a->x : b->x, a->y < b->y ? a->y : b->y,
                        a->z < b->z ? a->z : b->z);
  return pOut;
}
inline D3DXVECTOR3* D3DXVec3Maximize(D3DXVECTOR3* pOut, const D3DXVECTOR3* a,
                                     const D3DXVECTOR3* b) {
  if (pOut && a && b)
    *pOut = D3DXVECTOR3(a->x > b->x ? a->x : b->x, a->y > b->y ? a->y : b->y,
                        a->z > b->z ? a->z : b->z);
  return pOut;
}
// A zero vector normalises to zero.
D3DXVECTOR3* WINAPI D3DXVec3Normalize(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV);
// (x, y, z, 1) * M, divided by the resulting w.
D3DXVECTOR3* WINAPI D3DXVec3TransformCoord(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV,
                                           const D3DXMATRIX* pM);
// (x, y, z, 0) * M: direction only, no translation.
D3DXVECTOR3* WINAPI D3DXVec3TransformNormal(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV,
                                            const D3DXMATRIX* pM);
D3DXVECTOR4* WINAPI D3DXVec3Transform(D3DXVECTOR4* pOut, const D3DXVECTOR3* pV,
                                      const D3DXMATRIX* pM);

// --- 4D vectors --------------------------------------------------------------------------------
inline FLOAT D3DXVec4Dot(const D3DXVECTOR4* a, const D3DXVECTOR4* b) {
  return (a && b) ? a->x * b->x + a->y * b->y + a->z * b->z + a->w * b->w : 0.0f;
}
inline FLOAT D3DXVec4Length(const D3DXVECTOR4* v) {
  return v ? std::sqrt(D3DXVec4Dot(v, v)) : 0.0f;
}
D3DXVECTOR4* WINAPI D3DXVec4Transform(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV,
                                      const D3DXMATRIX* pM);
D3DXVECTOR4* WINAPI D3DXVec4Normalize(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV);

// --- matrices ------------------------------------------------------------------------------------
D3DXMATRIX* WINAPI D3DXMatrixIdentity(D3DXMATRIX* pOut);
BOOL WINAPI D3DXMatrixIsIdentity(const D3DXMATRIX* pM);
FLOAT WINAPI D3DXMatrixDeterminant(const D3DXMATRIX* pM);
// pOut = pM1 * pM2 (pM1 applied first). pOut may alias either input.
D3DXMATRIX* WINAPI D3DXMatrixMultiply(D3DXMATRIX* pOut, const D3DXMATRIX* pM1,
                                      const D3DXMATRIX* pM2);
D3DXMATRIX* WINAPI D3DXMatrixMultiplyTranspose(D3DXMATRIX* pOut, const D3DXMATRIX* pM1,
                                               const D3DXMATRIX* pM2);
D3DXMATRIX* WINAPI D3DXMatrixTranspose(D3DXMATRIX* pOut, const D3DXMATRIX* pM);
// Returns NULL (and leaves pOut alone) when the matrix is singular.
D3DXMATRIX* WINAPI D3DXMatrixInverse(D3DXMATRIX* pOut, FLOAT* pDeterminant, const D3DXMATRIX* pM);
D3DXMATRIX* WINAPI D3DXMatrixTranslation(D3DXMATRIX* pOut, FLOAT x, FLOAT y, FLOAT z);
D3DXMATRIX* WINAPI D3DXMatrixScaling(D3DXMATRIX* pOut, FLOAT sx, FLOAT sy, FLOAT sz);
D3DXMATRIX* WINAPI D3DXMatrixRotationX(D3DXMATRIX* pOut, FLOAT angle);
D3DXMATRIX* WINAPI D3DXMatrixRotationY(D3DXMATRIX* pOut, FLOAT angle);
D3DXMATRIX* WINAPI D3DXMatrixRotationZ(D3DXMATRIX* pOut, FLOAT angle);
D3DXMATRIX* WINAPI D3DXMatrixRotationAxis(D3DXMATRIX* pOut, const D3DXVECTOR3* pV, FLOAT angle);
D3DXMATRIX* WINAPI D3DXMatrixRotationQuaternion(D3DXMATRIX* pOut, const D3DXQUATERNION* pQ);
// Roll about z first, then pitch about x, then yaw about y.
D3DXMATRIX* WINAPI D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* pOut, FLOAT yaw, FLOAT pitch,
                                                  FLOAT roll);
D3DXMATRIX* WINAPI D3DXMatrixLookAtLH(D3DXMATRIX* pOut, const D3DXVECTOR3* pEye,
                                      const D3DXVECTOR3* pAt, const D3DXVECTOR3* pUp);
D3DXMATRIX* WINAPI D3DXMatrixLookAtRH(D3DXMATRIX* pOut, const D3DXVECTOR3* pEye,
                                      const D3DXVECTOR3* pAt, const D3DXVECTOR3* pUp);
D3DXMATRIX* WINAPI D3DXMatrixPerspectiveFovLH(D3DXMATRIX* pOut, FLOAT fovy, FLOAT aspect, FLOAT zn,
                                              FLOAT zf);
D3DXMATRIX* WINAPI D3DXMatrixPerspectiveFovRH(D3DXMATRIX* pOut, FLOAT fovy, FLOAT aspect, FLOAT zn,
                                              FLOAT zf);
D3DXMATRIX* WINAPI D3DXMatrixPerspectiveLH(D3DXMATRIX* pOut, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf);
D3DXMATRIX* WINAPI D3DXMatrixOrthoLH(D3DXMATRIX* pOut, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf);
D3DXMATRIX* WINAPI D3DXMatrixOrthoRH(D3DXMATRIX* pOut, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf);
D3DXMATRIX* WINAPI D3DXMatrixOrthoOffCenterLH(D3DXMATRIX* pOut, FLOAT l, FLOAT r, FLOAT b, FLOAT t,
                                              FLOAT zn, FLOAT zf);
D3DXMATRIX* WINAPI D3DXMatrixOrthoOffCenterRH(D3DXMATRIX* pOut, FLOAT l, FLOAT r, FLOAT b, FLOAT t,
                                              FLOAT zn, FLOAT zf);
// Msc^-1 * Msr^-1 * Ms * Msr * Msc * Mrc^-1 * Mr * Mrc * Mt, in the x-y plane; a NULL argument
// stands for the identity (no centre, unit scale, no translation).
D3DXMATRIX* WINAPI D3DXMatrixTransformation2D(D3DXMATRIX* pOut, const D3DXVECTOR2* pScalingCenter,
                                              FLOAT ScalingRotation, const D3DXVECTOR2* pScaling,
                                              const D3DXVECTOR2* pRotationCenter, FLOAT Rotation,
                                              const D3DXVECTOR2* pTranslation);
D3DXMATRIX* WINAPI D3DXMatrixTransformation(D3DXMATRIX* pOut, const D3DXVECTOR3* pScalingCenter,
                                            const D3DXQUATERNION* pScalingRotation,
                                            const D3DXVECTOR3* pScaling,
                                            const D3DXVECTOR3* pRotationCenter,
                                            const D3DXQUATERNION* pRotation,
                                            const D3DXVECTOR3* pTranslation);
D3DXMATRIX* WINAPI D3DXMatrixAffineTransformation(D3DXMATRIX* pOut, FLOAT Scaling,
                                                  const D3DXVECTOR3* pRotationCenter,
                                                  const D3DXQUATERNION* pRotation,
                                                  const D3DXVECTOR3* pTranslation);
// Splits an affine matrix into scale * rotation * translation. The scale is the length of each of
// the first three rows (x negated when the matrix mirrors); a zero scale fails with
// D3DERR_INVALIDCALL.
HRESULT WINAPI D3DXMatrixDecompose(D3DXVECTOR3* pOutScale, D3DXQUATERNION* pOutRotation,
                                   D3DXVECTOR3* pOutTranslation, const D3DXMATRIX* pM);

inline D3DXMATRIX& D3DXMATRIX::operator*=(const D3DXMATRIX& mat) {
  D3DXMatrixMultiply(this, this, &mat);
  return *this;
}
inline D3DXMATRIX D3DXMATRIX::operator*(const D3DXMATRIX& mat) const {
  D3DXMATRIX r;
  D3DXMatrixMultiply(&r, this, &mat);
  return r;
}

// --- quaternions ---------------------------------------------------------------------------------
inline D3DXQUATERNION* D3DXQuaternionIdentity(D3DXQUATERNION* pOut) {
  if (pOut) *pOut = D3DXQUATERNION(0.0f, 0.0f, 0.0f, 1.0f);
  return pOut;
}
inline FLOAT D3DXQuaternionDot(const D3DXQUATERNION* a, const D3DXQUATERNION* b) {
  return (a && b) ? a->x * b->x + a->y * b->y + a->z * b->z + a->w * b->w : 0.0f;
}
inline FLOAT D3DXQuaternionLength(const D3DXQUATERNION* q) {
  return q ? std::sqrt(D3DXQuaternionDot(q, q)) : 0.0f;
}
D3DXQUATERNION* WINAPI D3DXQuaternionNormalize(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ);
// pOut = pQ1 * pQ2 in D3DX order: the rotation pQ1 followed by pQ2.
D3DXQUATERNION* WINAPI D3DXQuaternionMultiply(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                              const D3DXQUATERNION* pQ2);
D3DXQUATERNION* WINAPI D3DXQuaternionRotationAxis(D3DXQUATERNION* pOut, const D3DXVECTOR3* pV,
                                                  FLOAT angle);
D3DXQUATERNION* WINAPI D3DXQuaternionRotationYawPitchRoll(D3DXQUATERNION* pOut, FLOAT yaw,
                                                          FLOAT pitch, FLOAT roll);
D3DXQUATERNION* WINAPI D3DXQuaternionRotationMatrix(D3DXQUATERNION* pOut, const D3DXMATRIX* pM);
D3DXQUATERNION* WINAPI D3DXQuaternionSlerp(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                           const D3DXQUATERNION* pQ2, FLOAT t);

// --- planes --------------------------------------------------------------------------------------
inline FLOAT D3DXPlaneDot(const D3DXPLANE* p, const D3DXVECTOR4* v) {
  return (p && v) ? p->a * v->x + p->b * v->y + p->c * v->z + p->d * v->w : 0.0f;
}
inline FLOAT D3DXPlaneDotCoord(const D3DXPLANE* p, const D3DXVECTOR3* v) {
  return (p && v) ? p->a * v->x + p->b * v->y + p->c * v->z + p->d : 0.0f;
}
inline FLOAT D3DXPlaneDotNormal(const D3DXPLANE* p, const D3DXVECTOR3* v) {
  return (p && v) ? p->a * v->x + p->b * v->y + p->c * v->z : 0.0f;
}
// Scales (a, b, c, d) so that (a, b, c) has unit length; a degenerate plane becomes all zero.
D3DXPLANE* WINAPI D3DXPlaneNormalize(D3DXPLANE* pOut, const D3DXPLANE* pP);
D3DXPLANE* WINAPI D3DXPlaneFromPointNormal(D3DXPLANE* pOut, const D3DXVECTOR3* pPoint,
                                           const D3DXVECTOR3* pNormal);
D3DXPLANE* WINAPI D3DXPlaneFromPoints(D3DXPLANE* pOut, const D3DXVECTOR3* pV1,
                                      const D3DXVECTOR3* pV2, const D3DXVECTOR3* pV3);
// Transforms the plane by M, which must be the inverse transpose of the point transform.
D3DXPLANE* WINAPI D3DXPlaneTransform(D3DXPLANE* pOut, const D3DXPLANE* pP, const D3DXMATRIX* pM);

// --- colours -------------------------------------------------------------------------------------
inline D3DXCOLOR* D3DXColorModulate(D3DXCOLOR* pOut, const D3DXCOLOR* a, const D3DXCOLOR* b) {
  if (pOut && a && b) *pOut = D3DXCOLOR(a->r * b->r, a->g * b->g, a->b * b->b, a->a * b->a);
  return pOut;
}
inline D3DXCOLOR* D3DXColorLerp(D3DXCOLOR* pOut, const D3DXCOLOR* a, const D3DXCOLOR* b, FLOAT s) {
  if (pOut && a && b) *pOut = *a + (*b - *a) * s;
  return pOut;
}
