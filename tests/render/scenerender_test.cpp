// The view context and the scene pass: sizes and states, projection, lighting, fog, object
// classification, clip codes, bucket queueing, the tree walk and the per-frame capacity guards.
#include <bit>

#include "render/render_fixture.h"

namespace {

using States = std::vector<std::pair<uint64_t, uint64_t>>;

States RenderStates(const CallLog& log) {
  States states;
  for (const RecordedCall& call : log)
    if (call.method == "Device.SetRenderState") states.emplace_back(call.args[0], call.args[1]);
  return states;
}

TEST_F(RenderTest, CreateViewTakesTheDeviceSizeForWidthsBelowOne) {
  MakeView();
  EXPECT_EQ(view.ViewWidth, 640);
  EXPECT_EQ(view.ViewHeight, 480);
  EXPECT_EQ(view.ViewWidthF, 640.0f);
  EXPECT_EQ(view.HalfWidth, 320.0f);
  EXPECT_EQ(view.HalfHeight, 240.0f);
  EXPECT_EQ(view.Zoom, 2.0f);
  EXPECT_EQ(view.FogColor, 0xFFDFDFEFu);
  EXPECT_FLOAT_EQ(view.FogScale, 4.0f);
  for (TKlvFaceNode* bucket : view.Buckets) EXPECT_EQ(bucket, nullptr);

  TKlvViewContext other{};
  CreateView(other, &renderDevice, -5, 1, 10, 10, 2.0f);
  EXPECT_EQ(other.ViewWidth, 640);
  EXPECT_EQ(other.ViewHeight, 1);
  EXPECT_EQ(other.HalfHeight, 0.5f);
  FreeView(other);
  FreeView(other);  // a second release is harmless
}

TEST_F(RenderTest, ResizeViewChangesOnlyTheSize) {
  MakeView();
  D3DTLVERTEX* buffer = view.TLVertices;
  view.Zoom = 3.0f;
  ResizeView(view, 512, 368);
  EXPECT_EQ(view.HalfWidth, 256.0f);
  EXPECT_EQ(view.HalfHeight, 184.0f);
  EXPECT_EQ(view.ViewHeightF, 368.0f);
  EXPECT_EQ(view.TLVertices, buffer);
  EXPECT_EQ(view.Zoom, 3.0f);
  EXPECT_EQ(view.FogStart, 0.2f);
  EXPECT_TRUE(log->empty());  // no device state is touched
}

TEST_F(RenderTest, RgbDeviceKeepsFogAndSpecular) {
  CreateView(view, &renderDevice, 0, 0, 10, 10, 2.0f);
  const States expected = {{D3DRENDERSTATE_SPECULARENABLE, 1},         {D3DRENDERSTATE_FOGENABLE, 1},
                           {D3DRENDERSTATE_FOGTABLEMODE, D3DFOG_NONE}, {D3DRENDERSTATE_FOGCOLOR, 0xFFDFDFEF},
                           {D3DRENDERSTATE_FOGTABLESTART, 0x3E4CCCCD}, {D3DRENDERSTATE_FOGTABLEEND, 0x3EE66666},
                           {D3DRENDERSTATE_COLORKEYENABLE, 1}};
  EXPECT_EQ(RenderStates(*log), expected);
}

TEST_F(RenderTest, OtherColourModelsTurnFogSpecularAndDitheringOffAndShadeFlat) {
  renderDevice.rgb = false;
  TKlvViewContext mono{};
  CreateView(mono, &renderDevice, 0, 0, 10, 10, 2.0f);
  FreeView(mono);
  const States states = RenderStates(*log);
  ASSERT_EQ(states.size(), 11u);
  const States off = {{D3DRENDERSTATE_FOGENABLE, 0},
                      {D3DRENDERSTATE_SPECULARENABLE, 0},
                      {D3DRENDERSTATE_DITHERENABLE, 0},
                      {D3DRENDERSTATE_SHADEMODE, D3DSHADE_FLAT}};
  EXPECT_EQ(States(states.begin() + 4, states.begin() + 8), off);
}

TEST_F(RenderTest, ProjectionPutsTheEdgesWhereTheZoomSays) {
  MakeView();
  TSceneObject* obj = Root(Mesh({{1, 0, 2}, {0, 0.75f, 2}, {0, 0, 0.01f}, {0, 0, -4}}, {}, Texture(0)));
  obj->BoundsMin = {-0.5f, -0.5f, 1};  // keep the object classified as on screen
  obj->BoundsMax = {0.5f, 0.5f, 3};
  Transform(obj);
  ASSERT_EQ(view.TLVertexCount, 4);
  const D3DTLVERTEX* t = view.TLVertices;
  EXPECT_EQ(t[0].sx, 640.0f);
  EXPECT_EQ(t[0].sy, 240.0f);
  EXPECT_EQ(t[0].rhw, 1.0f);
  EXPECT_EQ(t[0].sz, 2.0f / 500);
  EXPECT_EQ(t[1].sy, 480.0f);
  EXPECT_EQ(t[2].rhw, 100.0f);  // the small-depth value, not Zoom / 0.01
  EXPECT_EQ(t[3].rhw, -0.5f);   // behind the camera keeps its sign
  EXPECT_EQ(t[0].tu, 0.0f);
  EXPECT_EQ(t[1].tv, 0.75f);
}

TEST_F(RenderTest, LightingScalesTheColourAndSetsTheHighlight) {
  MakeView();
  TSceneObject* facing = Mesh({{0, 0, 5}}, {}, Texture(0), 0xFFFFFFFF, {0, 0, 1});
  TSceneObject* away = Mesh({{0, 0, 5}}, {}, Texture(0), 0x80FF4000, {0, 0, -1});
  TSceneObject* group = Root(Mesh({}, {}, Texture(0)));
  AttachObject(group, away);
  AttachObject(group, facing);
  Transform(group);
  ASSERT_EQ(view.TLVertexCount, 2);
  EXPECT_EQ(view.TLVertices[0].color, 0xFFCBCBCBu);              // k = 204: 255 * 204 / 256 = 203
  EXPECT_EQ(view.TLVertices[0].specular, 0xFF464646u);           // h = (204 - 63) / 2 = 70
  EXPECT_EQ(view.TLVertices[1].color, 0x80651900u);              // k = 102, alpha kept
  EXPECT_EQ(view.TLVertices[1].specular & 0xFFFFFF, 0x131313u);  // h = 19
}

TEST_F(RenderTest, LightFollowsTheLocalMatricesOnly) {
  MakeView();
  // Rotating the object half a turn about x turns its +z normal away from the light; the Base
  // matrix (here a half turn too) must not enter the light direction.
  TSceneObject* obj = Root(Mesh({{0, 0, 5}}, {}, Texture(0)));
  MatrixSetRotTrans(obj->Local, 0, 0, 0, 3.14159265f, 0, 0);
  MatrixSetRotTrans(obj->Base, 0, 0, 0, 3.14159265f, 0, 0);
  Transform(obj);
  ASSERT_EQ(view.TLVertexCount, 1);
  EXPECT_EQ(view.TLVertices[0].sz, 5.0f / 500);
  EXPECT_EQ(view.TLVertices[0].color, 0xFF656565u);  // k = 102
}

TEST_F(RenderTest, FogDependsOnDepthAndOnWholeVisibility) {
  MakeView();
  TSceneObject* inside = Mesh({{0, 0, 225}, {1, 0, 225}, {0, 0, 100}}, {}, Texture(0));
  TSceneObject* partly = Mesh({{0, 0, 225}, {-1000, 0, 225}, {0, 0, 100}}, {}, Texture(0));
  TSceneObject* group = Root(Mesh({}, {}, Texture(0)));
  AttachObject(group, partly);
  AttachObject(group, inside);
  Transform(group);
  ASSERT_EQ(view.TLVertexCount, 6);
  EXPECT_EQ(view.TLVertices[0].specular >> 24, 128u);  // wholly inside: slope 2, f = 0.5
  EXPECT_EQ(view.TLVertices[2].specular >> 24, 255u);  // depth 0.2: no fog
  EXPECT_EQ(view.TLVertices[3].specular >> 24, 1u);    // partly inside: full fog, never 0
  EXPECT_EQ(view.TLVertices[5].specular >> 24, 255u);
}

TEST_F(RenderTest, WhollyInsideObjectsQueueEveryFaceUnclipped) {
  MakeView();
  TSceneObject* obj = Root(Mesh({{0, 0, 5}, {1, 0, 5}, {0, 1, 5}, {1, 1, 5}}, {{0, 1, 2}, {1, 3, 2}}, Texture(4)));
  Transform(obj);
  const std::vector<TMeshFace*> bucket = Bucket(4);
  ASSERT_EQ(bucket.size(), 2u);
  EXPECT_EQ(bucket[0], &obj->Faces[1]);  // the later-queued face first
  EXPECT_EQ(bucket[1], &obj->Faces[0]);
  EXPECT_EQ(obj->Faces[0].ClipCode, kClipNone);
  EXPECT_EQ(obj->Vertices[0].OnScreen, 0);  // not used for wholly inside objects
  EXPECT_EQ(obj->VertexBase, 0);
  EXPECT_EQ(view.NodeCount, 2);
}

TEST_F(RenderTest, PartlyInsideFacesGetClipCodesOrAreDropped) {
  MakeView();
  TSceneObject* obj =
      Root(Mesh({{0, 0, 2}, {0.5f, 0, 2}, {0, 0.5f, 2}, {-1, 0, 2}, {-10, 0, 2}, {-11, 0, 2}, {-10, 1, 2}},
                {{0, 1, 2}, {0, 3, 2}, {4, 5, 6}}, Texture(0)));
  Transform(obj);
  EXPECT_EQ(view.TLVertices[3].sx, 0.0f);
  EXPECT_EQ(obj->Faces[0].ClipCode, kClipNone);
  EXPECT_EQ(obj->Faces[1].ClipCode, kClipMaybe);  // a vertex on the left edge is not strictly inside
  const std::vector<TMeshFace*> bucket = Bucket(0);
  ASSERT_EQ(bucket.size(), 2u);  // the face wholly left of the screen is not queued
  EXPECT_EQ(bucket[0], &obj->Faces[1]);
  EXPECT_EQ(obj->Vertices[0].OnScreen, 1);
  EXPECT_EQ(obj->Vertices[3].OnScreen, 0);
}

TEST_F(RenderTest, OutsideObjectsAddNothingButTheirChildrenAreVisited) {
  MakeView();
  TSceneObject* parent = Root(Mesh({{0, 0, 5}}, {{0, 0, 0}}, Texture(0)));
  MatrixSetRotTrans(parent->Local, 0, 0, -1000, 0, 0, 0);
  TSceneObject* child = Mesh({{0, 0, 5}, {1, 0, 5}, {0, 1, 5}}, {{0, 1, 2}}, Texture(1));
  MatrixSetRotTrans(child->Local, 0, 0, 1000, 0, 0, 0);
  AttachObject(parent, child);
  Transform(parent);
  EXPECT_EQ(view.TLVertexCount, 3);
  EXPECT_EQ(child->VertexBase, 0);
  EXPECT_EQ(Bucket(0).size(), 0u);
  EXPECT_EQ(Bucket(1).size(), 1u);
  EXPECT_EQ(parent->World(3, 2), -1000.0f);  // World is written even for an outside object
}

TEST_F(RenderTest, InvisibleObjectsHideTheirSubtreeButNotTheirSiblings) {
  MakeView();
  TSceneObject* group = Root(Mesh({}, {}, Texture(0)));
  TSceneObject* hidden = Mesh({{0, 0, 5}}, {}, Texture(0));
  TSceneObject* hiddenChild = Mesh({{0, 0, 6}}, {}, Texture(0));
  TSceneObject* shown = Mesh({{0, 0, 7}, {0, 0, 8}}, {}, Texture(0));
  AttachObject(hidden, hiddenChild);
  AttachObject(group, shown);
  AttachObject(group, hidden);
  hidden->Visible = 0;
  Transform(group);
  EXPECT_EQ(view.TLVertexCount, 2);
  EXPECT_EQ(shown->VertexBase, 0);
}

TEST_F(RenderTest, WalkIsPreOrderAndHandsEachChildItsParentsMatrices) {
  MakeView();
  TSceneObject* root = Root(Mesh({{0, 0, 5}}, {}, Texture(0)));
  MatrixSetRotTrans(root->Base, 0, 0, 2, 0, 0, 0);
  TSceneObject* a = Mesh({{0, 0, 1}}, {}, Texture(0));
  TSceneObject* b = Mesh({{0, 0, 1}}, {}, Texture(0));
  MatrixSetRotTrans(b->Base, 0, 0, 4, 0, 0, 0);
  TSceneObject* grandchild = Mesh({{0, 0, 1}}, {}, Texture(0));
  AttachObject(b, grandchild);
  AttachObject(root, b);
  AttachObject(root, a);  // children: a, then b
  Transform(root);
  ASSERT_EQ(view.TLVertexCount, 4);
  EXPECT_EQ(a->VertexBase, 1);
  EXPECT_EQ(b->VertexBase, 2);
  EXPECT_EQ(grandchild->VertexBase, 3);
  EXPECT_EQ(view.TLVertices[0].sz, 7.0f / 500);  // 5 + 2 from the root's Base
  EXPECT_EQ(view.TLVertices[1].sz, 3.0f / 500);  // 1 + 2 from the parent
  EXPECT_EQ(view.TLVertices[3].sz, 7.0f / 500);  // 1 + 4 from b's Base + 2 from the root
}

TEST_F(RenderTest, FullFrameDropsFacesAndObjectsThatDoNotFit) {
  MakeView(3, 5);
  TSceneObject* first =
      Mesh({{0, 0, 5}, {1, 0, 5}, {0, 1, 5}}, {{0, 1, 2}, {0, 1, 2}, {0, 1, 2}, {0, 1, 2}}, Texture(0));
  TSceneObject* second = Mesh({{0, 0, 6}, {1, 0, 6}, {0, 1, 6}}, {{0, 1, 2}}, Texture(1));
  TSceneObject* group = Root(Mesh({}, {}, Texture(0)));
  AttachObject(group, second);
  AttachObject(group, first);
  Transform(group);
  EXPECT_EQ(view.NodeCount, 3);      // the fourth face found the node pool full
  EXPECT_EQ(view.TLVertexCount, 3);  // the second object's three vertices do not fit in five
  EXPECT_EQ(Bucket(1).size(), 0u);
}

TEST_F(RenderTest, FacesWithoutAUsableTextureOrTooFewIndicesAreNotQueued) {
  MakeView();
  TSceneObject* obj =
      Root(Mesh({{0, 0, 5}, {1, 0, 5}, {0, 1, 5}}, {{0, 1, 2}, {0, 1, 2}, {0, 1}, {0, 1, 2}}, Texture(256)));
  obj->Faces[1].Texture = Texture(-1);
  obj->Faces[2].Texture = Texture(3);
  obj->Faces[3].Texture = nullptr;
  Transform(obj);
  EXPECT_EQ(view.NodeCount, 0);
  EXPECT_EQ(view.TLVertexCount, 3);
}

TEST_F(RenderTest, VertexIndicesStayWithinSixteenBits) {
  MakeView(10, 70000);
  EXPECT_EQ(VertexLimit(view), 65536);
  TSceneObject* obj = nullptr;
  CreateObject(obj, 40000, 0, 0, 0);
  for (int i = 0; i < 40000; ++i) AddVertex(obj, 0, 0, 5, 0, 0, 1, 0, 0, 0xFFFFFFFF);
  TSceneObject* copy = nullptr;
  CreateObject(copy, 40000, 0, 0, 0);
  for (int i = 0; i < 40000; ++i) AddVertex(copy, 0, 0, 5, 0, 0, 1, 0, 0, 0xFFFFFFFF);
  AttachObject(obj, copy);
  Root(obj);
  Transform(obj);
  EXPECT_EQ(view.TLVertexCount, 40000);
}

TEST_F(RenderTest, VeryDeepTreesAreWalkedWithoutRecursionUpToTheDepthLimit) {
  MakeView(1000, 1000);
  TSceneObject* root = Root(Mesh({{0, 0, 5}}, {}, Texture(0)));
  TSceneObject* tip = root;
  for (int depth = 1; depth < 3 * kMaxTreeDepth; ++depth) {
    TSceneObject* next = Mesh({{0, 0, 5}}, {}, Texture(0));
    AttachObject(tip, next);
    tip = next;
  }
  Transform(root);
  EXPECT_EQ(view.TLVertexCount, kMaxTreeDepth);
}

}  // namespace
