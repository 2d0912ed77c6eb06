float4x4 worldViewProj : WorldViewProjection;
row_major float4x4 rowMatrix;
float4 palette[3];
struct Light { float3 dir; float4 color; };
Light light;
float scale = 2;
float4 pinned : register(c20);
texture2D tex;
sampler2D s0 = sampler_state { Texture = <tex>; MinFilter = Linear; AddressU = Clamp; };
sampler2D s1 : register(s3) = sampler_state { Texture = <tex>; MagFilter = Point; };

struct VSOut { float4 pos : POSITION; float4 color : COLOR0; float2 uv : TEXCOORD0; };
VSOut VS(float4 p : POSITION, float2 uv : TEXCOORD0, uniform float bias) {
  VSOut o;
  o.pos = mul(p, worldViewProj) + mul(p, rowMatrix) * scale;
  o.color = palette[0] + palette[2] + light.color * dot(light.dir, p.xyz) + pinned + bias;
  o.uv = uv;
  return o;
}
float4 PS(float4 c : COLOR0, float2 uv : TEXCOORD0) : COLOR {
  return tex2D(s0, uv) * c + tex2D(s1, uv);
}
technique Shaded {
  pass P0 {
    VertexShader = compile vs_2_0 VS(0.25);
    PixelShader = compile ps_2_0 PS();
    ZEnable = true;
  }
  pass P1 {
    VertexShader = compile vs_3_0 VS(scale * 2);
    PixelShader = NULL;
  }
}
technique Plain { pass P0 { VertexShader = NULL; PixelShader = NULL; CullMode = CW; } }
