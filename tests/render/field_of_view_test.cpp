// The field of view at any picture size: every view keeps the 640 x 480 picture's vertical field;
// a wider one sees more at the sides, a narrower one keeps the 4:3 horizontal field and sees more
// above and below. Points on the 640 x 480 picture's edges are projected through the scene pass.
#include "render_fixture.h"

namespace {

// Camera-space points on the 640 x 480 picture's bottom edge and right edge at zoom 2 (the
// horizontal half-field is atan(1/2), the vertical one atan(0.75/2)).
constexpr TVector3 kBottomEdge{0.0f, 0.75f, 2.0f};
constexpr TVector3 kRightEdge{1.0f, 0.0f, 2.0f};
constexpr TVector3 kCentre{0.0f, 0.0f, 2.0f};

struct Projected {
  float bottomY;
  float rightX;
};

class FieldOfViewTest : public RenderTest {
 protected:
  Projected ProjectAt(int32_t width, int32_t height) {
    MakeView();
    ResizeView(view, width, height);
    TSceneObject* triangle = Root(Mesh({kBottomEdge, kRightEdge, kCentre}, {{0, 1, 2}}, Texture(1)));
    Transform(triangle);
    EXPECT_EQ(view.TLVertexCount, 3);
    return Projected{view.TLVertices[0].sy, view.TLVertices[1].sx};
  }
};

TEST_F(FieldOfViewTest, TheClassicPictureHasItsEdgesWhereTheProjectionPutsThem) {
  const Projected p = ProjectAt(640, 480);
  EXPECT_FLOAT_EQ(p.bottomY, 480.0f);
  EXPECT_FLOAT_EQ(p.rightX, 640.0f);
  EXPECT_EQ(view.FocalScale, view.HalfWidth);
}

TEST_F(FieldOfViewTest, WiderPicturesKeepTheVerticalFieldAndSeeMoreAtTheSides) {
  for (auto [width, height] : {std::pair{1920, 1080}, std::pair{2560, 1080}, std::pair{1280, 1024 * 3 / 4}}) {
    const Projected p = ProjectAt(width, height);
    EXPECT_FLOAT_EQ(p.bottomY, static_cast<float>(height)) << width << "x" << height;
    EXPECT_LT(p.rightX, static_cast<float>(width)) << width << "x" << height;
  }
}

TEST_F(FieldOfViewTest, NarrowerPicturesKeepTheHorizontalFieldAndSeeMoreAboveAndBelow) {
  for (auto [width, height] : {std::pair{480, 480}, std::pair{1080, 1920}, std::pair{1280, 1024}}) {
    const Projected p = ProjectAt(width, height);
    EXPECT_FLOAT_EQ(p.rightX, static_cast<float>(width)) << width << "x" << height;
    EXPECT_LT(p.bottomY, static_cast<float>(height)) << width << "x" << height;
  }
}

TEST(FocalScale, FollowsTheShorterOfTheTwoFields) {
  EXPECT_FLOAT_EQ(FocalScaleFor(640, 480), 320.0f);
  EXPECT_FLOAT_EQ(FocalScaleFor(1920, 1080), 720.0f);
  EXPECT_FLOAT_EQ(FocalScaleFor(1080, 1920), 540.0f);
  EXPECT_FLOAT_EQ(FocalScaleFor(423, 237), 158.0f);
  EXPECT_FLOAT_EQ(FocalScaleFor(1, 1), 0.5f);
}

}  // namespace
