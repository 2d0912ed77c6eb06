// The device draws on a worker thread: what the application sees must be what a synchronous
// device would show. Resources released while a recorded draw still needs them, locks and copies
// after pending draws, the order of many draws across command blocks, and presented frames.
#include <vector>

#include "d3d9_test_support.h"

namespace d3d9_test {
namespace {

class WorkerTest : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    if (HasFatalFailure()) return;
    device_->SetRenderState(D3DRS_ZENABLE, FALSE);
  }
  void DrawTexturedQuad(IDirect3DTexture9* texture) {
    ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
    DrawQuad(0, 0, kWidth, kHeight, 0xFFFFFFFF);
    ASSERT_EQ(device_->SetTexture(0, nullptr), D3D_OK);
  }
  uint32_t PresentedPixel(int x, int y) {
    AutomationFrame frame;
    if (!AutomationLastPresentedFrame(&frame) || frame.width <= x || frame.height <= y) {
      ADD_FAILURE() << "no presented frame";
      return 0;
    }
    return frame.pixels[static_cast<size_t>(y) * frame.width + x] & 0xFFFFFFu;
  }
};

TEST_F(WorkerTest, TextureReleasedRightAfterItsDrawStillPaintsAndCountsAsGone) {
  IDirect3DTexture9* texture = MakeTexture(2, 2, std::vector<uint32_t>(4, 0xFF00C000u));
  ASSERT_NE(texture, nullptr);
  DrawTexturedQuad(texture);
  // The application's count is that of a synchronous device: nothing else holds the texture.
  EXPECT_EQ(texture->Release(), 0u);
  EXPECT_EQ(At(ReadBackBuffer(), 5, 5), 0x00C000u);
}

TEST_F(WorkerTest, ResetSucceedsOnceADefaultPoolTextureAPendingDrawUsedIsReleased) {
  IDirect3DTexture9* texture = nullptr;
  ASSERT_EQ(device_->CreateTexture(2, 2, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                   &texture, nullptr),
            D3D_OK);
  DrawTexturedQuad(texture);
  EXPECT_EQ(texture->Release(), 0u);
  ASSERT_EQ(device_->EndScene(), D3D_OK);
  D3DPRESENT_PARAMETERS pp = pp_;
  EXPECT_EQ(device_->Reset(&pp), D3D_OK);
  EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
  ASSERT_EQ(device_->BeginScene(), D3D_OK);
}

TEST_F(WorkerTest, VertexBufferLockWaitsForTheDrawThatReadsIt) {
  IDirect3DVertexBuffer9* vb = nullptr;
  ASSERT_EQ(device_->CreateVertexBuffer(4 * sizeof(TLVertex), D3DUSAGE_DYNAMIC, kTLFvf,
                                        D3DPOOL_SYSTEMMEM, &vb, nullptr),
            D3D_OK);
  auto fill = [&](D3DCOLOR colour) {
    void* data = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, &data, D3DLOCK_DISCARD), D3D_OK);
    TLVertex q[4] = {{0, 0, 0, 1, colour, 0, 0},
                     {64, 0, 0, 1, colour, 0, 0},
                     {0, 48, 0, 1, colour, 0, 0},
                     {64, 48, 0, 1, colour, 0, 0}};
    std::memcpy(data, q, sizeof(q));
    vb->Unlock();
  };
  ClearTo(0);
  fill(0xFFFF0000);
  ASSERT_EQ(device_->SetFVF(kTLFvf), D3D_OK);
  ASSERT_EQ(device_->SetStreamSource(0, vb, 0, sizeof(TLVertex)), D3D_OK);
  ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
  fill(0xFF0000FF);  // overwrites what the recorded draw reads, unless the lock waited
  EXPECT_EQ(At(ReadBackBuffer(), 10, 10), 0xFF0000u);
  ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
  EXPECT_EQ(At(ReadBackBuffer(), 10, 10), 0x0000FFu);
  device_->SetStreamSource(0, nullptr, 0, 0);
  EXPECT_EQ(vb->Release(), 0u);
}

TEST_F(WorkerTest, StretchRectSourceReleasedBeforeTheCopyRunsStillArrives) {
  IDirect3DSurface9* source = nullptr;
  ASSERT_EQ(device_->CreateOffscreenPlainSurface(4, 4, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &source,
                                                 nullptr),
            D3D_OK);
  ASSERT_EQ(device_->ColorFill(source, nullptr, 0xFF123456), D3D_OK);
  IDirect3DSurface9* back = nullptr;
  ASSERT_EQ(device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
  ASSERT_EQ(device_->StretchRect(source, nullptr, back, nullptr, D3DTEXF_NONE), D3D_OK);
  EXPECT_EQ(source->Release(), 0u);
  back->Release();
  auto px = ReadBackBuffer();
  EXPECT_EQ(At(px, 0, 0), 0x123456u);
  EXPECT_EQ(At(px, 63, 47), 0x123456u);
}

// Thousands of draws span many command blocks; each covers the same pixel, so only the last may
// show, and a state change half-way applies from its place in the order.
TEST_F(WorkerTest, ManyDrawsKeepTheirOrderAcrossCommandBlocks) {
  ClearTo(0);
  const int kDraws = 6000;  // about 1.2 MB of commands
  for (int i = 0; i < kDraws; ++i) {
    if (i == kDraws / 2) {
      device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
      device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
      device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    }
    // Before blending is on each draw replaces the pixel; after, each adds 1 to blue.
    DrawQuad(2, 2, 6, 6,
             i < kDraws / 2 ? 0xFF000000u | static_cast<uint32_t>(i & 0xFFFF00) : 0xFF000001u);
  }
  const uint32_t last = static_cast<uint32_t>((kDraws / 2 - 1) & 0xFFFF00);
  EXPECT_EQ(At(ReadBackBuffer(), 3, 3), (last & 0xFFFF00u) + std::min(255, kDraws / 2));
}

// A colour clear followed by a StretchRect over the whole target may be skipped, as nobody can
// see it; a partial stretch must leave the clear colour around it, and the depth part of the
// clear must happen either way.
TEST_F(WorkerTest, ClearBeforeAStretchKeepsWhatTheStretchDoesNotCover) {
  IDirect3DSurface9* source = nullptr;
  ASSERT_EQ(device_->CreateOffscreenPlainSurface(8, 8, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &source,
                                                 nullptr),
            D3D_OK);
  ASSERT_EQ(device_->ColorFill(source, nullptr, 0xFF0000FF), D3D_OK);
  IDirect3DSurface9* back = nullptr;
  ASSERT_EQ(device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);

  // Depth 0 everywhere, then a clear to depth 1 whose colour the full stretch hides.
  ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF00FF00, 0.0f, 0),
            D3D_OK);
  ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFFF0000, 1.0f, 0),
            D3D_OK);
  device_->SetRenderState(D3DRS_LIGHTING, FALSE);  // state between the two changes nothing
  ASSERT_EQ(device_->StretchRect(source, nullptr, back, nullptr, D3DTEXF_NONE), D3D_OK);
  device_->SetRenderState(D3DRS_ZENABLE, TRUE);
  DrawQuad(0, 0, 8, 8, 0xFFFFFFFF, 0.5f);  // passes only against the cleared depth of 1
  auto px = ReadBackBuffer();
  EXPECT_EQ(At(px, 4, 4), 0xFFFFFFu);
  EXPECT_EQ(At(px, 40, 30), 0x0000FFu);

  // A stretch that leaves a border: the clear colour shows there.
  device_->SetRenderState(D3DRS_ZENABLE, FALSE);
  ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0), D3D_OK);
  RECT inner = {4, 4, 60, 44};
  ASSERT_EQ(device_->StretchRect(source, nullptr, back, &inner, D3DTEXF_NONE), D3D_OK);
  px = ReadBackBuffer();
  EXPECT_EQ(At(px, 1, 1), 0xFF0000u);
  EXPECT_EQ(At(px, 30, 20), 0x0000FFu);
  back->Release();
  source->Release();
}

// The automation's switch runs the same commands on the calling thread: a frame with clears,
// textured and blended quads, a turned triangle and a stretch comes out the same either way.
TEST_F(WorkerTest, DrawingOnTheCallingThreadGivesTheSamePixels) {
  IDirect3DTexture9* texture =
      MakeTexture(2, 2, {0xFF102030u, 0x80FFFFFFu, 0x00000000u, 0xFFC08040u});
  ASSERT_NE(texture, nullptr);
  auto drawFrame = [&] {
    ClearTo(0x203040);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device_->SetTexture(0, texture);
    for (int i = 0; i < 40; ++i)
      DrawQuad(static_cast<float>(i % 8) * 7.f, static_cast<float>(i / 8) * 9.f,
               static_cast<float>(i % 8) * 7.f + 5.f, static_cast<float>(i / 8) * 9.f + 6.f,
               0xFFFFFFFFu - static_cast<uint32_t>(i) * 0x01030507u);
    device_->SetTexture(0, nullptr);
    TLVertex tri[3] = {{3.5f, 40.2f, 0, 1, 0xC0FF8000u, 0, 0},
                       {60.1f, 3.3f, 0, 1, 0x8000FF80u, 0, 0},
                       {50.7f, 46.9f, 0, 1, 0xFF8080FFu, 0, 0}};
    device_->SetFVF(kTLFvf);
    device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(TLVertex));
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    return ReadBackBuffer();
  };
  const auto withWorker = drawFrame();
  AutomationUseDeviceWorker(false);
  const auto onThisThread = drawFrame();
  AutomationUseDeviceWorker(true);
  EXPECT_EQ(withWorker, onThisThread);
  EXPECT_NE(At(withWorker, 2, 2), 0x203040u);  // the frame is not just the clear
  EXPECT_EQ(texture->Release(), 0u);
}

TEST_F(WorkerTest, PresentedFrameIsTheBackBufferAtPresentNotAfter) {
  ClearTo(0xFF0000);
  ASSERT_EQ(device_->EndScene(), D3D_OK);
  ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  ASSERT_EQ(device_->BeginScene(), D3D_OK);
  ClearTo(0x0000FF);  // recorded after the Present: must not reach the presented frame
  EXPECT_EQ(PresentedPixel(7, 7), 0xFF0000u);
  ASSERT_EQ(device_->EndScene(), D3D_OK);
  ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  ASSERT_EQ(device_->BeginScene(), D3D_OK);
  EXPECT_EQ(PresentedPixel(7, 7), 0x0000FFu);
}

TEST_F(WorkerTest, WindowDestroyedRightAfterPresentLeavesTheFrameIntact) {
  ClearTo(0x00FF00);
  ASSERT_EQ(device_->EndScene(), D3D_OK);
  ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  ASSERT_TRUE(DestroyWindow(window_));
  window_ = nullptr;
  EXPECT_EQ(PresentedPixel(30, 20), 0x00FF00u);
  // The device outlives its window: presenting now fails, drawing still works.
  EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
  ASSERT_EQ(device_->BeginScene(), D3D_OK);
  ClearTo(0x0000FF);
  EXPECT_EQ(At(ReadBackBuffer(), 1, 1), 0x0000FFu);
}

}  // namespace
}  // namespace d3d9_test
