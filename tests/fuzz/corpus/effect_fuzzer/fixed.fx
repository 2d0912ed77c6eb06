float alphaRef = 0.5;
bool depthOn = true;
float4 tint = {1, 0, 0, 1};
texture2D diffuseMap < string ResourceName = "stone.png"; >;
sampler2D diffuseSampler = sampler_state {
  Texture = <diffuseMap>;
  MinFilter = Linear;
  AddressU = Clamp;
};
float4x4 world : World;

technique Fixed < string Purpose = "fixed function"; int Order = 3; > {
  pass P0 < float Weight = 0.25; > {
    ZEnable = depthOn;
    AlphaRef = alphaRef * 255;
    AlphaFunc = GreaterEqual;
    SrcBlend = SrcAlpha;
    ColorWriteEnable = Red | Green | Blue;
    TextureFactor = tint;
    ColorOp[0] = Modulate;
    ColorArg1[0] = Texture;
    Sampler[0] = (diffuseSampler);
    MipFilter[1] = Linear;
    Texture[1] = <diffuseMap>;
    WorldTransform[0] = world;
  }
  pass P1 { CullMode = None; }
}
technique Second { pass Only { FillMode = Wireframe; } }
