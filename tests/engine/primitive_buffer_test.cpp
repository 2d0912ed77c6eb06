// Primitive buffers: coloured lines and triangles drawn over the scene, and the states the pass
// sets and restores.
#include <gtest/gtest.h>

#include <vector>

#include "support/engine_fixture.h"

namespace {

using engine_test::BackBufferImage;
using engine_test::EngineTest;
using engine_test::LookAlongZ;
using engine_test::ReadBackBuffer;
using engine_test::RenderState;
using engine_test::SamplerState;
using engine_test::WorldTransform;

struct LineVertex {
  float x, y, z;
  D3DCOLOR colour;
};
static_assert(sizeof(LineVertex) == 16);

class PrimitiveBufferTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (HasFatalFailure()) return;
    LookAlongZ();
  }

  static PrimitiveBuffer* AddBuffer(const std::vector<LineVertex>& vertices, int32_t type,
                                    int32_t count) {
    Engine.PrimitiveBufferList.Last();
    PrimitiveBuffer* buffer = Engine.PrimitiveBufferList.Add();
    D3DXMatrixIdentity(reinterpret_cast<D3DXMATRIX*>(&buffer->World));
    buffer->PrimitiveType = type;
    buffer->PrimitiveCount = count;
    const UINT bytes = static_cast<UINT>(vertices.size() * sizeof(LineVertex));
    EXPECT_EQ(
        Engine.Device->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, D3DFVF_XYZ | D3DFVF_DIFFUSE,
                                          D3DPOOL_MANAGED, &buffer->VertexBuffer, nullptr),
        D3D_OK);
    void* data = nullptr;
    if (buffer->VertexBuffer != nullptr && SUCCEEDED(buffer->VertexBuffer->Lock(0, 0, &data, 0))) {
      std::memcpy(data, vertices.data(), bytes);
      buffer->VertexBuffer->Unlock();
    }
    return buffer;
  }

  // Four horizontal lines across the middle of the view at z = 10, one pixel row each at screen
  // rows 288, 320, 352 and 384 (y = 1, 0, -1, -2), from x = -5 to 5 (screen columns 160..480).
  static std::vector<LineVertex> FourLines(D3DCOLOR colour) {
    std::vector<LineVertex> v;
    for (float y : {1.0f, 0.0f, -1.0f, -2.0f}) {
      v.push_back({-5, y, 10, colour});
      v.push_back({5, y, 10, colour});
    }
    return v;
  }
};

TEST_F(PrimitiveBufferTest, LineListIsDrawnThroughEarlierGeometry) {
  // An opaque box right in front of the eye, drawn by the mesh pass first.
  Engine.MeshList.Last();
  Mesh* wall = Engine.MeshList.Add();
  ASSERT_EQ(D3DXCreateBox(Engine.Device, 8, 8, 1, &wall->D3DMesh, nullptr), D3D_OK);
  D3DXMatrixTranslation(reinterpret_cast<D3DXMATRIX*>(&wall->World), 0, 0, 4);
  wall->OwnMaterial.Emissive = {0, 0, 1, 1};
  // Three lines from the first six vertices of eight; lighting off shows the vertex colour.
  AddBuffer(FourLines(0xFFFFFF00), D3DPT_LINELIST, 3);
  RenderWorld();
  const BackBufferImage image = ReadBackBuffer();
  Flip();
  EXPECT_EQ(image.At(320, 300), 0x0000FFu) << "the wall";
  for (int row : {288, 320, 352}) {
    EXPECT_EQ(image.At(320, row), 0xFFFF00u) << "row " << row;
    EXPECT_GT(image.Count(160, row, 481, row + 1, 0xFFFF00u), 300) << "row " << row;
  }
  EXPECT_EQ(image.Count(0, 384, 640, 385, 0xFFFF00u), 0) << "the fourth line is not drawn";
}

TEST_F(PrimitiveBufferTest, EachBufferHasItsWorldTransform) {
  PrimitiveBuffer* buffer = AddBuffer(FourLines(0xFF00FF00), D3DPT_LINELIST, 1);
  buffer->World._42 = -1.0f;  // the line at y = 1 moves to y = 0
  PrimitiveBuffer* triangles =
      AddBuffer({{-1, -3, 10, 0xFFFF0000}, {1, -3, 10, 0xFFFF0000}, {-1, -5, 10, 0xFFFF0000}},
                D3DPT_TRIANGLELIST, 1);
  RenderWorld();
  const BackBufferImage image = ReadBackBuffer();
  Flip();
  EXPECT_EQ(image.Count(0, 288, 640, 289, 0x00FF00u), 0);
  EXPECT_GT(image.Count(0, 320, 640, 321, 0x00FF00u), 300);
  EXPECT_EQ(image.At(300, 420), 0xFF0000u);
  const D3DMATRIX world = WorldTransform();
  EXPECT_EQ(std::memcmp(&world, &triangles->World, sizeof(world)), 0);
}

TEST_F(PrimitiveBufferTest, StatesAreSetAndRestored) {
  IDirect3DDevice9* device = Engine.Device;
  device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
  device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_MIRROR);
  device->SetRenderState(D3DRS_ZENABLE, FALSE);
  device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  device->SetRenderState(D3DRS_COLORVERTEX, FALSE);
  ASSERT_EQ(device->BeginScene(), D3D_OK);
  DrawPrimitiveBuffers();  // an empty list still sets and restores
  device->EndScene();
  EXPECT_EQ(SamplerState(0, D3DSAMP_ADDRESSU), static_cast<DWORD>(D3DTADDRESS_WRAP));
  EXPECT_EQ(SamplerState(0, D3DSAMP_ADDRESSV), static_cast<DWORD>(D3DTADDRESS_WRAP));
  EXPECT_EQ(RenderState(D3DRS_ZENABLE), 1u);
  EXPECT_EQ(RenderState(D3DRS_ZWRITEENABLE), 1u);
  EXPECT_EQ(RenderState(D3DRS_LIGHTING), 1u);
  EXPECT_EQ(RenderState(D3DRS_COLORVERTEX), 1u);
}

TEST_F(PrimitiveBufferTest, BuffersThatCannotBeDrawnAreSkipped) {
  // No vertex buffer: not even its transform is set.
  Engine.PrimitiveBufferList.Last();
  PrimitiveBuffer* empty = Engine.PrimitiveBufferList.Add();
  empty->World._41 = 77.0f;
  empty->PrimitiveType = D3DPT_LINELIST;
  empty->PrimitiveCount = 1;
  // Counts and types the device refuses: more lines than vertices, negative, unknown type.
  AddBuffer(FourLines(0xFFFFFFFF), D3DPT_LINELIST, 5);
  AddBuffer(FourLines(0xFFFFFFFF), D3DPT_LINELIST, -1);
  AddBuffer(FourLines(0xFFFFFFFF), 42, 1);
  RenderWorld();
  const BackBufferImage image = ReadBackBuffer();
  Flip();
  EXPECT_EQ(image.Count(0, 280, 640, 400, 0xFFFFFFu), 0);
  EXPECT_NE(WorldTransform()._41, 77.0f);

  // One buffer on its own, with the states the caller has; unknown handles do nothing.
  PrimitiveBuffer* good = AddBuffer(FourLines(0xFF00FFFF), D3DPT_LINELIST, 4);
  Engine.Device->SetRenderState(D3DRS_LIGHTING, FALSE);
  Engine.Device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  ASSERT_EQ(Engine.Device->BeginScene(), D3D_OK);
  PrimitiveBuffer stranger{};
  DrawPrimitiveBuffer(&stranger);
  DrawPrimitiveBuffer(nullptr);
  DrawPrimitiveBuffer(empty);
  EXPECT_EQ(ReadBackBuffer().Count(0, 280, 640, 400, 0x00FFFFu), 0);
  DrawPrimitiveBuffer(good);
  Engine.Device->EndScene();
  EXPECT_GT(ReadBackBuffer().Count(0, 384, 640, 385, 0x00FFFFu), 300);
}

}  // namespace
