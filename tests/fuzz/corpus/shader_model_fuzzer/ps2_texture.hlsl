sampler2D S;
float4 main(float2 t : TEXCOORD0, float4 c : COLOR0) : COLOR {
  float4 x = tex2D(S, t) * c;
  if (x.a < 0.5) discard;
  return pow(saturate(x), 2.2) + sin(t.x * 6);
}
