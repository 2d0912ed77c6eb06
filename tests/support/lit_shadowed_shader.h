// The lit, shadowed pixel shader that the shader tests check and the benchmarks time: per-pixel
// diffuse and specular lighting from one light, a texture, and a 2 x 2 percentage-closer test
// against a shadow map holding depths in its red channel.
#pragma once

namespace test_support {

inline constexpr char kLitShadowedPixelShader[] =
    "sampler2D Diffuse : register(s0);\n"
    "sampler2D ShadowMap : register(s1);\n"
    "float3 LightPos; float3 EyePos; float4 LightColor; float SpecPower = 16; float ShadowTexel;\n"
    "struct PSIn { float2 uv : TEXCOORD0; float3 wpos : TEXCOORD1; float3 n : TEXCOORD2;"
    " float4 spos : TEXCOORD3; };\n"
    "float4 main(PSIn i) : COLOR {\n"
    "  float3 N = normalize(i.n);\n"
    "  float3 L = normalize(LightPos - i.wpos);\n"
    "  float3 H = normalize(L + normalize(EyePos - i.wpos));\n"
    "  float diffuse = saturate(dot(N, L));\n"
    "  float specular = pow(saturate(dot(N, H)), SpecPower);\n"
    "  float2 suv = i.spos.xy / i.spos.w;\n"
    "  float depth = i.spos.z / i.spos.w;\n"
    "  float lit = 0;\n"
    "  for (int y = 0; y < 2; y++)\n"
    "    for (int x = 0; x < 2; x++)\n"
    "      lit += tex2D(ShadowMap, suv + float2(x, y) * ShadowTexel).r >= depth ? 0.25 : 0;\n"
    "  float4 albedo = tex2D(Diffuse, i.uv);\n"
    "  return (albedo * diffuse + specular) * LightColor * lit;\n"
    "}\n";

}  // namespace test_support
