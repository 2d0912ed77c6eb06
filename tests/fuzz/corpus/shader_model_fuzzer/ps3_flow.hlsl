sampler2D S; samplerCUBE C;
float4 main(float2 t : TEXCOORD0, float2 v : VPOS, float f : VFACE) : COLOR {
  float4 r = 0;
  [loop] for (int i = 0; i < 4; i++) { r += tex2Dlod(S, float4(t * i, 0, i)); if (r.x > ddx(t.x)) break; }
  return r + texCUBE(C, float3(t, f)) + v.xyxy;
}
