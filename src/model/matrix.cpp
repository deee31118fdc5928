// The matrix product, the rotation-translation builders, the uniform scale and the point and
// direction transforms. Intermediates are doubles; every stored element is rounded to float.
#include "model/matrix.h"

#include <cmath>

namespace {

// The x87 sine and cosine refuse operands of magnitude 2^63 or more and leave 0 behind; angles
// that large are kept to that result rather than reduced.
constexpr double kTrigOperandLimit = 9223372036854775808.0;  // 2^63

double SinOf(float angle) {
  const double a = angle;
  return std::fabs(a) >= kTrigOperandLimit ? 0.0 : std::sin(a);
}

double CosOf(float angle) {
  const double a = angle;
  return std::fabs(a) >= kTrigOperandLimit ? 0.0 : std::cos(a);
}

}  // namespace

const TMatrix44 MatrixIdentity = {{
    1.0f, 0.0f, 0.0f, 0.0f,  //
    0.0f, 1.0f, 0.0f, 0.0f,  //
    0.0f, 0.0f, 1.0f, 0.0f,  //
    0.0f, 0.0f, 0.0f, 1.0f,  //
}};

// The rotation block is rounded to float first and the translation row is formed from those
// rounded elements.
void MatrixSetRotTrans(TMatrix44& m, float tx, float ty, float tz, float ax, float ay, float az) {
  const double sx = SinOf(ax), cx = CosOf(ax);
  const double sy = SinOf(ay), cy = CosOf(ay);
  const double sz = SinOf(az), cz = CosOf(az);

  m(0, 0) = static_cast<float>(cy * cz + sx * sy * sz);
  m(0, 1) = static_cast<float>(cx * sz);
  m(0, 2) = static_cast<float>(-sy * cz + sx * cy * sz);
  m(1, 0) = static_cast<float>(-cy * sz + sx * sy * cz);
  m(1, 1) = static_cast<float>(cx * cz);
  m(1, 2) = static_cast<float>(sy * sz + sx * cy * cz);
  m(2, 0) = static_cast<float>(cx * sy);
  m(2, 1) = static_cast<float>(-sx);
  m(2, 2) = static_cast<float>(cx * cy);
  m(0, 3) = 0.0f;
  m(1, 3) = 0.0f;
  m(2, 3) = 0.0f;
  for (int c = 0; c < 3; ++c) {
    m(3, c) = static_cast<float>(double(tx) * m(0, c) + double(ty) * m(1, c) + double(tz) * m(2, c));
  }
  m(3, 3) = 1.0f;
}

void MatrixMultiply(const TMatrix44& a, const TMatrix44& b, TMatrix44& result) {
  // All sixteen elements go to a temporary first, so Result may be A or B.
  TMatrix44 product;
  for (int r = 0; r < 4; ++r) {
    const double a0 = a(r, 0), a1 = a(r, 1), a2 = a(r, 2), a3 = a(r, 3);
    for (int c = 0; c < 4; ++c) {
      product(r, c) = static_cast<float>(a0 * b(0, c) + a1 * b(1, c) + a2 * b(2, c) + a3 * b(3, c));
    }
  }
  result = product;
}

void MatrixPreRotTrans(TMatrix44& m, float tx, float ty, float tz, float ax, float ay, float az) {
  TMatrix44 motion = MatrixIdentity;
  MatrixSetRotTrans(motion, tx, ty, tz, ax, ay, az);
  MatrixMultiply(motion, m, m);
}

void MatrixPostScale(TMatrix44& m, float s) {
  TMatrix44 scale = MatrixIdentity;
  scale(0, 0) = s;
  scale(1, 1) = s;
  scale(2, 2) = s;
  MatrixMultiply(m, scale, m);
}

TVector3 TransformPoint(const TVector3& p, const TMatrix44& m) {
  const double x = p.x, y = p.y, z = p.z;
  return {static_cast<float>(x * m(0, 0) + y * m(1, 0) + z * m(2, 0) + m(3, 0)),
          static_cast<float>(x * m(0, 1) + y * m(1, 1) + z * m(2, 1) + m(3, 1)),
          static_cast<float>(x * m(0, 2) + y * m(1, 2) + z * m(2, 2) + m(3, 2))};
}

TVector3 TransformDirection(const TVector3& d, const TMatrix44& m) {
  const double x = d.x, y = d.y, z = d.z;
  return {static_cast<float>(x * m(0, 0) + y * m(1, 0) + z * m(2, 0)),
          static_cast<float>(x * m(0, 1) + y * m(1, 1) + z * m(2, 1)),
          static_cast<float>(x * m(0, 2) + y * m(1, 2) + z * m(2, 2))};
}
