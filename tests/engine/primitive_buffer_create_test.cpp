// Primitive buffers made through the engine's operations: counts per primitive type, refused
// vertices, updates that grow the buffer or are refused, handles that are not the engine's, and
// drawing after release, a device reset and at shutdown.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "support/engine_fixture.h"

namespace {

using engine_test::BackBufferImage;
using engine_test::EngineTest;
using engine_test::LookAlongZ;
using engine_test::ReadBackBuffer;

// Horizontal lines across the view at z = 10, one per y in `rows`, from x = -5 to 5; on screen
// each is the row 320 - 32 y from column 160 to 480.
std::vector<PrimitiveVertex> Lines(std::initializer_list<float> rows, uint32_t colour) {
  std::vector<PrimitiveVertex> v;
  for (float y : rows) {
    v.push_back({-5, y, 10, colour});
    v.push_back({5, y, 10, colour});
  }
  return v;
}

std::vector<uint8_t> Contents(const PrimitiveBuffer* buffer) {
  D3DVERTEXBUFFER_DESC description{};
  void* data = nullptr;
  if (FAILED(buffer->VertexBuffer->GetDesc(&description)) ||
      FAILED(buffer->VertexBuffer->Lock(0, 0, &data, D3DLOCK_READONLY))) {
    ADD_FAILURE() << "the vertex buffer cannot be read";
    return {};
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  std::vector<uint8_t> copy(bytes, bytes + description.Size);
  buffer->VertexBuffer->Unlock();
  return copy;
}

class PrimitiveBufferCreateTest : public EngineTest {
 protected:
  static BackBufferImage Frame() {
    LookAlongZ();
    Engine.ClearColour = 0xFF000000;
    RenderWorld();
    BackBufferImage image = ReadBackBuffer();
    Flip();
    return image;
  }
};

TEST_F(PrimitiveBufferCreateTest, EachTypeCountsItsPrimitivesAndOddCountsAreRefused) {
  const std::vector<PrimitiveVertex> six(6, PrimitiveVertex{0, 0, 10, 0xFFFFFFFF});
  struct Case {
    int32_t type;
    int32_t count;
    int32_t primitives;  // 0: refused
  };
  const Case cases[] = {
      {D3DPT_POINTLIST, 1, 1},
      {D3DPT_POINTLIST, 6, 6},
      {D3DPT_LINELIST, 6, 3},
      {D3DPT_LINELIST, 5, 0},
      {D3DPT_LINESTRIP, 2, 1},
      {D3DPT_LINESTRIP, 1, 0},
      {D3DPT_TRIANGLELIST, 6, 2},
      {D3DPT_TRIANGLELIST, 4, 0},
      {D3DPT_TRIANGLESTRIP, 5, 3},
      {D3DPT_TRIANGLESTRIP, 2, 0},
      {D3DPT_TRIANGLEFAN, 3, 1},
      {D3DPT_TRIANGLEFAN, 2, 0},
      {0, 6, 0},
      {7, 6, 0},
      {D3DPT_POINTLIST, 0, 0},
      {D3DPT_POINTLIST, -1, 0},
  };
  int32_t made = 0;
  for (const Case& c : cases) {
    PrimitiveBuffer* buffer = CreatePrimitiveBuffer(c.type, six.data(), c.count);
    if (c.primitives == 0) {
      EXPECT_EQ(buffer, nullptr) << c.type << " " << c.count;
      continue;
    }
    ASSERT_NE(buffer, nullptr) << c.type << " " << c.count;
    ++made;
    EXPECT_EQ(buffer->PrimitiveType, c.type);
    EXPECT_EQ(buffer->PrimitiveCount, c.primitives);
    D3DVERTEXBUFFER_DESC description{};
    ASSERT_EQ(buffer->VertexBuffer->GetDesc(&description), D3D_OK);
    EXPECT_EQ(description.Size, static_cast<UINT>(c.count) * 16u);
    EXPECT_EQ(description.FVF, static_cast<DWORD>(D3DFVF_XYZ | D3DFVF_DIFFUSE));
  }
  std::vector<PrimitiveVertex> broken = six;
  broken[4].y = std::nanf("");
  EXPECT_EQ(CreatePrimitiveBuffer(D3DPT_POINTLIST, broken.data(), 6), nullptr);
  EXPECT_EQ(CreatePrimitiveBuffer(D3DPT_POINTLIST, nullptr, 6), nullptr);
  EXPECT_EQ(CreatePrimitiveBuffer(D3DPT_POINTLIST, six.data(), kMaxPrimitiveVertices + 1), nullptr);
  EXPECT_EQ(Engine.PrimitiveBufferList.Count(), made);
}

TEST_F(PrimitiveBufferCreateTest, LinesAreDrawnAndUpdatesReplaceThem) {
  const std::vector<PrimitiveVertex> one = Lines({0}, 0xFFFF0000);
  PrimitiveBuffer* buffer = CreatePrimitiveBuffer(D3DPT_LINELIST, one.data(), 2);
  ASSERT_NE(buffer, nullptr);
  BackBufferImage image = Frame();
  EXPECT_GE(image.Count(160, 320, 481, 321, 0xFF0000), 300);

  // More vertices than the buffer holds: it grows; the old row is gone, both new ones drawn.
  const std::vector<PrimitiveVertex> two = Lines({1, -1}, 0xFF00FF00);
  ASSERT_EQ(UpdatePrimitiveBuffer(buffer, two.data(), 4), 1);
  EXPECT_EQ(buffer->PrimitiveCount, 2);
  image = Frame();
  EXPECT_EQ(image.Count(160, 320, 481, 321, 0xFF0000), 0);
  EXPECT_GE(image.Count(160, 288, 481, 289, 0x00FF00), 300);
  EXPECT_GE(image.Count(160, 352, 481, 353, 0x00FF00), 300);

  // Fewer: drawn from the same buffer.
  IDirect3DVertexBuffer9* kept = buffer->VertexBuffer;
  ASSERT_EQ(UpdatePrimitiveBuffer(buffer, one.data(), 2), 1);
  EXPECT_EQ(buffer->VertexBuffer, kept);
  EXPECT_EQ(buffer->PrimitiveCount, 1);

  // Refused updates keep the vertices and the count.
  const std::vector<uint8_t> before = Contents(buffer);
  std::vector<PrimitiveVertex> broken = two;
  broken[0].x = INFINITY;
  EXPECT_EQ(UpdatePrimitiveBuffer(buffer, broken.data(), 4), 0);
  EXPECT_EQ(UpdatePrimitiveBuffer(buffer, two.data(), 3), 0);
  EXPECT_EQ(UpdatePrimitiveBuffer(buffer, nullptr, 2), 0);
  EXPECT_EQ(Contents(buffer), before);
  EXPECT_EQ(buffer->PrimitiveCount, 1);

  // Placed two units up: the row moves 64 pixels.
  ASSERT_EQ(PositionPrimitiveBuffer(buffer, 0, 2, 0), 1);
  EXPECT_EQ(PositionPrimitiveBuffer(buffer, 0, std::nanf(""), 0), 0);
  image = Frame();
  EXPECT_GE(image.Count(160, 256, 481, 257, 0xFF0000), 300);
  EXPECT_EQ(image.Count(160, 320, 481, 321, 0xFF0000), 0);
}

TEST_F(PrimitiveBufferCreateTest, HandlesThatAreNotListedAreRefused) {
  const std::vector<PrimitiveVertex> one = Lines({0}, 0xFFFFFFFF);
  PrimitiveBuffer* kept = CreatePrimitiveBuffer(D3DPT_LINELIST, one.data(), 2);
  PrimitiveBuffer* gone = CreatePrimitiveBuffer(D3DPT_LINELIST, one.data(), 2);
  ASSERT_NE(gone, nullptr);
  ASSERT_EQ(ReleasePrimitiveBuffer(gone), 1);
  PrimitiveBuffer foreign{};
  foreign.PrimitiveType = D3DPT_LINELIST;
  for (PrimitiveBuffer* handle : {gone, &foreign, static_cast<PrimitiveBuffer*>(nullptr)}) {
    EXPECT_EQ(UpdatePrimitiveBuffer(handle, one.data(), 2), 0);
    EXPECT_EQ(PositionPrimitiveBuffer(handle, 1, 1, 1), 0);
    EXPECT_EQ(ReleasePrimitiveBuffer(handle), 0);
  }
  EXPECT_EQ(foreign.VertexBuffer, nullptr);
  EXPECT_EQ(foreign.World._41, 0.0f);
  EXPECT_EQ(Engine.PrimitiveBufferList.Count(), 1);
  EXPECT_TRUE(Engine.PrimitiveBufferList.Contains(kept));
}

TEST_F(PrimitiveBufferCreateTest, BuffersDrawAfterAResetAndGoAtShutdown) {
  const std::vector<PrimitiveVertex> one = Lines({0}, 0xFF0000FF);
  PrimitiveBuffer* buffer = CreatePrimitiveBuffer(D3DPT_LINELIST, one.data(), 2);
  ASSERT_NE(buffer, nullptr);
  Frame();
  AutomationLoseDevice(Engine.Device);
  Frame();
  AutomationMakeDeviceResettable(Engine.Device);
  Frame();
  ASSERT_EQ(Engine.PresentResult, 0);
  EXPECT_GE(Frame().Count(160, 320, 481, 321, 0x0000FF), 300);

  IDirect3DVertexBuffer9* vertices = buffer->VertexBuffer;
  vertices->AddRef();
  EngineShutdown();
  EXPECT_EQ(vertices->Release(), 0u);
}

}  // namespace
