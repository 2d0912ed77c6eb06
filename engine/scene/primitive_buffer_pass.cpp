// Primitive buffers: coloured, untextured points, lines and triangles drawn over the scene.
#include "engine/scene/primitive_buffer_pass.h"

#include "engine/core/engine_state.h"

namespace {

constexpr DWORD kPrimitiveFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;
constexpr UINT kPrimitiveStride = 16;

void DrawBuffer(IDirect3DDevice9* device, const PrimitiveBuffer& buffer) {
  if (buffer.VertexBuffer == nullptr) return;
  device->SetTransform(D3DTS_WORLD, &buffer.World);
  device->SetStreamSource(0, buffer.VertexBuffer, 0, kPrimitiveStride);
  device->SetFVF(kPrimitiveFvf);
  // The texture of stage 0 is whatever the previous pass left bound.
  device->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(buffer.PrimitiveType), 0,
                        static_cast<UINT>(buffer.PrimitiveCount));
}

}  // namespace

void DrawPrimitiveBuffers() {
  IDirect3DDevice9* device = Engine.Device;
  if (device == nullptr) return;
  device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
  device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
  device->SetRenderState(D3DRS_ZENABLE, FALSE);
  device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  device->SetRenderState(D3DRS_COLORVERTEX, TRUE);
  ObjectList<PrimitiveBuffer>& buffers = Engine.PrimitiveBufferList;
  buffers.Reset();
  while (PrimitiveBuffer* buffer = buffers.Next()) DrawBuffer(device, *buffer);
  device->SetRenderState(D3DRS_ZENABLE, TRUE);
  device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
  device->SetRenderState(D3DRS_LIGHTING, TRUE);
}

void DrawPrimitiveBuffer(PrimitiveBuffer* buffer) {
  if (Engine.Device == nullptr || !Engine.PrimitiveBufferList.Contains(buffer)) return;
  DrawBuffer(Engine.Device, *buffer);
}
