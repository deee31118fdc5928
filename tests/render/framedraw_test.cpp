// Frame drawing through the recording device: the call sequence of a frame, the bucket procedure,
// fan triangles, near-plane clipping and the triangle capacity guard.
#include <array>
#include <bit>

#include "render/render_fixture.h"

namespace {

std::vector<std::string> Methods(const CallLog& log) {
  std::vector<std::string> methods;
  for (const RecordedCall& call : log) methods.push_back(call.method);
  return methods;
}

using Triangle = std::array<WORD, 3>;

std::vector<Triangle> Triangles(const RecordedCall& draw) {
  std::vector<Triangle> tris;
  for (size_t i = 0; i + 2 < draw.indices.size(); i += 3)
    tris.push_back({draw.indices[i], draw.indices[i + 1], draw.indices[i + 2]});
  return tris;
}

TEST_F(RenderTest, FrameWithNothingVisibleStillSetsUpClearsAndBracketsTheScene) {
  MakeView();
  TSceneObject* behind = Root(Mesh({{0, 0, -5}, {1, 0, -5}, {0, 1, -5}}, {{0, 1, 2}}, Texture(0)));
  RenderView(view, behind, true);
  const std::vector<std::string> expected = {
      "Viewport.SetViewport2", "Device.SetCurrentViewport", "Viewport.SetBackground", "Viewport.Clear",
      "Device.BeginScene",     "Device.EndScene",           "Viewport.Release"};
  EXPECT_EQ(Methods(*log), expected);
  EXPECT_EQ(renderDevice.Viewport()->References(), 1u);  // the frame's reference given back

  const RecordedCall& setViewport = *Calls("Viewport.SetViewport2")[0];
  EXPECT_EQ(setViewport.viewport.dwSize, 44u);
  EXPECT_EQ(setViewport.viewport.dwX, 0u);
  EXPECT_EQ(setViewport.viewport.dwWidth, 640u);
  EXPECT_EQ(setViewport.viewport.dwHeight, 480u);
  EXPECT_EQ(setViewport.viewport.dvClipWidth, 640.0f);
  EXPECT_EQ(setViewport.viewport.dvClipHeight, 480.0f);
  EXPECT_EQ(setViewport.viewport.dvMinZ, 0.0f);
  EXPECT_EQ(setViewport.viewport.dvMaxZ, 1.0f);
  EXPECT_EQ(Calls("Viewport.SetBackground")[0]->args[0], kBackgroundHandle);
  const RecordedCall& clear = *Calls("Viewport.Clear")[0];
  EXPECT_EQ(clear.args, (std::vector<uint64_t>{1, D3DCLEAR_ZBUFFER}));
  ASSERT_EQ(clear.rects.size(), 1u);
  EXPECT_EQ(clear.rects[0].x2, 640);
  EXPECT_EQ(clear.rects[0].y2, 480);
}

TEST_F(RenderTest, WithoutKeepBackgroundTheTargetIsClearedToo) {
  MakeView();
  ResizeView(view, 320, 240);
  RenderView(view, nullptr, false);
  const RecordedCall& clear = *Calls("Viewport.Clear")[0];
  EXPECT_EQ(clear.args[1], D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
  EXPECT_EQ(clear.rects[0].x2, 320);
  EXPECT_EQ(Calls("Viewport.SetViewport2")[0]->viewport.dwHeight, 240u);
}

TEST_F(RenderTest, UnclippedBucketIsOneDrawAfterItsTextureAndMaterial) {
  MakeView();
  TSceneObject* quad = Root(Mesh({{0, 0, 5}, {1, 0, 5}, {1, 1, 5}, {0, 1, 5}}, {{0, 1, 2, 3}}, Texture(7)));
  RenderView(view, quad, true);
  // After the four viewport set-up calls.
  const std::vector<std::string> methods = Methods(*log);
  ASSERT_GE(methods.size(), 9u);
  const std::vector<std::string> middle(methods.begin() + 4, methods.begin() + 9);
  const std::vector<std::string> expected = {"Device.BeginScene", "Device.SetRenderState", "Device.SetLightState",
                                             "Device.DrawIndexedPrimitive", "Device.EndScene"};
  EXPECT_EQ(middle, expected);
  EXPECT_EQ(Calls("Device.SetRenderState")[0]->args, (std::vector<uint64_t>{D3DRENDERSTATE_TEXTUREHANDLE, 1007}));
  EXPECT_EQ(Calls("Device.SetLightState")[0]->args, (std::vector<uint64_t>{D3DLIGHTSTATE_MATERIAL, 2007}));
  const RecordedCall& draw = *Calls("Device.DrawIndexedPrimitive")[0];
  EXPECT_EQ(draw.args, (std::vector<uint64_t>{D3DPT_TRIANGLELIST, D3DVT_TLVERTEX, 4, 6, D3DDP_WAIT | D3DDP_DONOTCLIP}));
  EXPECT_EQ(Triangles(draw), (std::vector<Triangle>{{0, 1, 2}, {0, 2, 3}}));  // the quad as two fan triangles
  for (TKlvFaceNode* bucket : view.Buckets) EXPECT_EQ(bucket, nullptr);       // drained for the next frame
}

TEST_F(RenderTest, BucketsDrawInIndexOrderWithIndicesContinuingAcrossBuckets) {
  MakeView();
  TSceneObject* group = Root(Mesh({}, {}, Texture(0)));
  TSceneObject* high = Mesh({{0, 0, 5}, {1, 0, 5}, {0, 1, 5}}, {{0, 1, 2}, {2, 1, 0}}, Texture(9));
  TSceneObject* low = Mesh({{0, 0, 6}, {1, 0, 6}, {0, 1, 6}, {1, 1, 6}}, {{0, 1, 3, 2}}, Texture(2));
  AttachObject(group, low);
  AttachObject(group, high);  // high's vertices come first in the buffer
  RenderView(view, group, true);
  const std::vector<const RecordedCall*> draws = Calls("Device.DrawIndexedPrimitive");
  ASSERT_EQ(draws.size(), 2u);
  EXPECT_EQ(Calls("Device.SetRenderState")[0]->args[1], 1002u);                    // bucket 2 before bucket 9
  EXPECT_EQ(Triangles(*draws[0]), (std::vector<Triangle>{{3, 4, 6}, {3, 6, 5}}));  // offset by VertexBase 3
  EXPECT_EQ(Triangles(*draws[1]), (std::vector<Triangle>{{5 - 3, 4 - 3, 3 - 3}, {0, 1, 2}}));
  // The second bucket's indices come from where the first bucket's two triangles ended.
  EXPECT_EQ(view.TriIndices[6], 2);
  EXPECT_EQ(view.TriIndices[9], 0);
  EXPECT_EQ(draws[0]->args[2], 7u);  // every draw passes the whole vertex buffer
}

class ClipTest : public RenderTest {
 protected:
  // Draws one triangle with these camera depths and returns the frame's draw calls.
  std::vector<const RecordedCall*> DrawAtDepths(float z0, float z1, float z2) {
    MakeView();
    TSceneObject* obj = Root(Mesh({{-1, -1, z0}, {1, -1, z1}, {0, 1, z2}}, {{0, 1, 2}}, Texture(0), 0xFF0000FF));
    obj->Vertices[1].Color = 0xFFFF0000;
    RenderView(view, obj, true);
    return Calls("Device.DrawIndexedPrimitive");
  }
};

TEST_F(ClipTest, TriangleInFrontIsDrawnWithDeviceClippingAndNoNewVertex) {
  const auto draws = DrawAtDepths(1, 1, 1);  // two corners off screen: ClipCode 0
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0]->args[4], D3DDP_WAIT);
  EXPECT_EQ(Triangles(*draws[0]), (std::vector<Triangle>{{0, 1, 2}}));
  EXPECT_EQ(view.TLVertexCount, 3);
}

TEST_F(ClipTest, OneVertexBehindGivesTwoTrianglesAndTwoNewVertices) {
  const auto draws = DrawAtDepths(1, -1, 1);
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(view.TLVertexCount, 5);
  EXPECT_EQ(Triangles(*draws[0]), (std::vector<Triangle>{{0, 3, 4}, {0, 4, 2}}));
}

TEST_F(ClipTest, TwoVerticesBehindGiveOneTriangleAndTwoNewVertices) {
  const auto draws = DrawAtDepths(1, -1, -1);
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(view.TLVertexCount, 5);
  EXPECT_EQ(Triangles(*draws[0]), (std::vector<Triangle>{{0, 3, 4}}));
}

TEST_F(RenderTest, AllVerticesAtOrBehindTheNearPlaneGiveNothing) {
  MakeView();
  TSceneObject* obj = Root(Mesh({{-1, -1, 0.01f}, {1, 1, 0}, {0, 1, -1}}, {{0, 1, 2}}, Texture(0)));
  RenderView(view, obj, true);
  EXPECT_EQ(view.NodeCount, 1);
  EXPECT_TRUE(Calls("Device.DrawIndexedPrimitive").empty());
  EXPECT_EQ(view.TLVertexCount, 3);
  EXPECT_EQ(Calls("Device.SetRenderState").size(), 1u);  // the bucket still selects its texture
}

TEST_F(ClipTest, DepthsOnTheNearPlaneGiveTwoIndicesAndNoTriangle) {
  const auto draws = DrawAtDepths(0.02f, 0.01f, 0.0f);
  EXPECT_TRUE(draws.empty());
  EXPECT_EQ(view.TLVertexCount, 4);  // one crossing, from the 0.0 corner back to the 0.02 corner
}

TEST_F(ClipTest, NewVertexLiesOnTheNearPlaneWithInterpolatedValues) {
  const auto draws = DrawAtDepths(1, -1, 1);
  ASSERT_EQ(draws.size(), 1u);
  const D3DTLVERTEX& cut = view.TLVertices[3];  // on the edge from vertex 0 (z 1) to vertex 1 (z -1)
  EXPECT_EQ(std::bit_cast<uint32_t>(cut.sz), 0x37A7C5ACu);
  EXPECT_EQ(cut.rhw, 200.0f);
  const double t = (1.0 - double{0.01f}) / 2.0;  // (Z0 - 0.01) / (Z0 - Z1)
  const float x = static_cast<float>(-320 - (-320.0 - 320.0) * t);
  EXPECT_EQ(cut.sx, static_cast<float>(double{x} * 200 + 320));
  EXPECT_EQ(cut.sy, static_cast<float>(-320.0 * 200 + 240));
  EXPECT_EQ(cut.tu, static_cast<float>(0 - (0 - 0.25) * t));
  // Colour channels blend separately: blue 0xCB fades to 0 as red 0 rises to 0xCB.
  const uint32_t towards = static_cast<uint32_t>(0xCB * t), from = static_cast<uint32_t>(0xCB * (1 - t));
  EXPECT_EQ(cut.color, 0xFF000000u | towards << 16 | from);
}

TEST_F(RenderTest, ClipAndNoClipFacesOfOneBucketMakeTwoDrawsInThatOrder) {
  MakeView();
  TSceneObject* obj = Root(Mesh({{0, 0, 5}, {1, 0, 5}, {0, 1, 5}, {-10, 0, 1}, {10, 0, 1}, {0, 5, -1}},
                                {{0, 1, 2}, {3, 4, 5}, {2, 1, 0}}, Texture(1)));
  RenderView(view, obj, true);
  const std::vector<const RecordedCall*> draws = Calls("Device.DrawIndexedPrimitive");
  ASSERT_EQ(draws.size(), 2u);
  EXPECT_EQ(draws[0]->args[4], D3DDP_WAIT);
  EXPECT_EQ(draws[1]->args[4], D3DDP_WAIT | D3DDP_DONOTCLIP);
  EXPECT_EQ(Triangles(*draws[1]).size(), 2u);
  EXPECT_EQ(Calls("Device.SetRenderState").size(), 1u);
}

TEST_F(RenderTest, FacesOtherThanFansAreQueuedButNeverDrawn) {
  MakeView();
  TSceneObject* obj = Root(Mesh({{0, 0, 5}, {1, 0, 5}, {0, 1, 5}}, {{0, 1, 2}}, Texture(0)));
  obj->Faces[0].PrimType = 4;
  RenderView(view, obj, true);
  EXPECT_EQ(view.NodeCount, 1);
  EXPECT_TRUE(Calls("Device.DrawIndexedPrimitive").empty());
}

TEST_F(RenderTest, TrianglesBeyondTheFrameCapacityAreDropped) {
  MakeView(2, 100);  // room for four triangles
  TSceneObject* obj = Root(
      Mesh({{0, 0, 5}, {1, 0, 5}, {1, 1, 5}, {0, 1, 5}, {-1, 1, 5}}, {{0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}}, Texture(0)));
  RenderView(view, obj, true);
  const std::vector<const RecordedCall*> draws = Calls("Device.DrawIndexedPrimitive");
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0]->args[3], 12u);
}

TEST_F(RenderTest, ClippedTrianglesThatFindTheBuffersFullAreDropped) {
  MakeView(1, 4);  // three vertices leave room for one crossing; two triangles at most
  TSceneObject* obj = Root(Mesh({{-1, -1, 1}, {1, -1, -1}, {0, 1, 1}}, {{0, 1, 2}}, Texture(0)));
  RenderView(view, obj, true);
  EXPECT_TRUE(Calls("Device.DrawIndexedPrimitive").empty());
  EXPECT_LE(view.TLVertexCount, 4);

  MakeView(1, 100);  // vertices to spare, but a pentagon needs more than two triangles
  TSceneObject* five =
      Root(Mesh({{-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {0, 2, -1}, {-1, 1, 1}}, {{0, 1, 2, 3, 4}}, Texture(0)));
  RenderView(view, five, true);
  const std::vector<const RecordedCall*> draws = Calls("Device.DrawIndexedPrimitive");
  ASSERT_EQ(draws.size(), 1u);  // what fits is still drawn
  EXPECT_GE(draws[0]->args[3], 3u);
  EXPECT_LE(draws[0]->args[3], 6u);
}

}  // namespace
