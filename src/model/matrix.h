// 4 x 4 matrices and 3-vectors of Singles in the row-vector convention: a point is (x, y, z, 1) x M,
// the translation sits in row 3, and in A x B the matrix A acts first. Intermediates are doubles;
// every stored element is rounded to float. Used by every layer above the platform.
#pragma once

struct TMatrix44 {
  float m[16];  // element (r, c) is m[4 * r + c]

  float& operator()(int r, int c) { return m[4 * r + c]; }
  float operator()(int r, int c) const { return m[4 * r + c]; }
};
static_assert(sizeof(TMatrix44) == 64, "matrices are stored as 64 bytes in memory and in model files");

struct TVector3 {
  float x, y, z;
};

extern const TMatrix44 MatrixIdentity;

// Result := A x B; Result may alias A or B.
void MatrixMultiply(const TMatrix44& a, const TMatrix44& b, TMatrix44& result);
// M := T(t) x Rz(az) x Rx(ax) x Ry(ay); whatever M held is lost. Angles in radians.
void MatrixSetRotTrans(TMatrix44& m, float tx, float ty, float tz, float ax, float ay, float az);
// M := Build(t, a) x M: the motion applies in M's own frame, before M.
void MatrixPreRotTrans(TMatrix44& m, float tx, float ty, float tz, float ax, float ay, float az);
// M := M x S, S the uniform scale s (the translation row scales too).
void MatrixPostScale(TMatrix44& m, float s);
TVector3 TransformPoint(const TVector3& p, const TMatrix44& m);
TVector3 TransformDirection(const TVector3& d, const TMatrix44& m);
