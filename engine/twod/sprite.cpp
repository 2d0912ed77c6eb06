#include "engine/twod/sprite.h"

#include "engine/core/engine_state.h"
#include "engine/twod/lookup.h"
#include "engine/twod/texture.h"

namespace {
constexpr float kDegreesToRadians = 0.017453f;
}  // namespace

Sprite* CreateSprite(Texture* handle) {
  Texture* texture = FindRecord(Engine.TextureList, handle);
  if (texture == nullptr) return nullptr;
  ApplyColourKey(texture, 0);

  Sprite* sprite = Engine.SpriteList.Add();
  if (FAILED(D3DXCreateSprite(Engine.Device, &sprite->D3DSprite)) || sprite->D3DSprite == nullptr) {
    // The pass needs a device sprite for every Sprite: a record without one must not stay.
    sprite->D3DSprite = nullptr;
    Engine.SpriteList.Remove();
    return nullptr;
  }
  sprite->BeginFlags = D3DXSPRITE_ALPHABLEND;
  sprite->TextureHandle = texture;
  sprite->Height = TextureHeight(texture);
  sprite->Width = TextureWidth(texture);
  sprite->Centre = D3DXVECTOR3(static_cast<float>(sprite->Width) / 2.0f,
                               static_cast<float>(sprite->Height) / 2.0f, 0.0f);
  sprite->Scale = D3DXVECTOR2(1.0f, 1.0f);
  sprite->SourceBlend = D3DBLEND_SRCALPHA;
  sprite->DestBlend = D3DBLEND_INVSRCALPHA;
  // TextureHeight/Width walked TextureList; the new sprite stays SpriteList's current element.
  return sprite;
}

int RotateSprite(Sprite* handle, float angleDegrees) {
  Sprite* sprite = FindRecord(Engine.SpriteList, handle);
  if (sprite == nullptr) return 0;
  sprite->Rotation = angleDegrees * kDegreesToRadians;
  return 1;
}

int DrawSprite(Sprite* sprite, int32_t x, int32_t y) {
  return DrawSpriteWithAlpha(sprite, x, y, 255);
}

int DrawSpriteWithAlpha(Sprite* handle, int32_t x, int32_t y, int32_t alpha) {
  Sprite* sprite = FindRecord(Engine.SpriteList, handle);
  if (sprite == nullptr) return 0;
  SpriteDrawCommand* command = Engine.SpriteDrawQueue.Add();
  command->SpriteHandle = sprite;
  command->Rotation = sprite->Rotation;
  command->X = static_cast<float>(x);
  command->Y = static_cast<float>(y);
  command->Alpha = static_cast<uint32_t>(alpha) & 0xFFu;
  command->SourceBlend = sprite->SourceBlend;
  command->DestBlend = sprite->DestBlend;
  command->Scale = sprite->Scale;
  return 1;
}

int DrawSpriteCommands(Sprite* sprite) {
  ID3DXSprite* batch = sprite->D3DSprite;
  IDirect3DDevice9* device = Engine.Device;
  IDirect3DTexture9* texture =
      sprite->TextureHandle != nullptr ? sprite->TextureHandle->D3DTexture : nullptr;
  batch->Begin(sprite->BeginFlags);
  ObjectList<SpriteDrawCommand>& queue = Engine.SpriteDrawQueue;
  queue.Reset();
  while (SpriteDrawCommand* command = queue.Next()) {
    if (command->SpriteHandle == sprite) {
      device->SetRenderState(D3DRS_SRCBLEND, command->SourceBlend);
      device->SetRenderState(D3DRS_DESTBLEND, command->DestBlend);
      sprite->Translation = D3DXVECTOR2(command->X + sprite->Centre.x * command->Scale.x,
                                        command->Y + sprite->Centre.y * command->Scale.y);
      D3DXMATRIX transform;
      D3DXMatrixTransformation2D(&transform, nullptr, 0.0f, &command->Scale, nullptr,
                                 command->Rotation, &sprite->Translation);
      batch->SetTransform(&transform);
      batch->Draw(texture, nullptr, &sprite->Centre, nullptr,
                  ComposeColour(static_cast<int32_t>(command->Alpha), 255, 255, 255));
      queue.Remove();
    }
    // Flushing after every examined command keeps each command's blend states to its own quad.
    batch->Flush();
  }
  batch->End();
  return 0;
}

int DrawSprites() {
  // The walk of SpriteList must survive DrawSpriteCommands, which does not touch SpriteList.
  Engine.SpriteList.Reset();
  while (Sprite* sprite = Engine.SpriteList.Next()) DrawSpriteCommands(sprite);
  return 0;
}
