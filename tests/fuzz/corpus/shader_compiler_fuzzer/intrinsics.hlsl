/* every intrinsic once */
float4 main(float2 p : POSITION) : COLOR
{
  float3 v = float3(p, 0.5);
  float a = abs(p.x) + sin(p.x) + cos(p.y) + tan(p.x) + asin(p.x) + acos(p.y) + atan(p.x);
  a += atan2(p.x, p.y) + sqrt(p.x) + rsqrt(p.y) + pow(p.x, 2.5f) + exp(p.x) + exp2(p.y);
  a += log(p.x) + log2(p.y) + floor(a) + ceil(a) + frac(a) + fmod(a, 0.3);
  a = min(a, 4) + max(a, -4) + clamp(a, 0, 1) + saturate(a) + lerp(a, 1, 0.5);
  a += step(0.5, p.x) + smoothstep(0, 1, p.y) + sign(a) + length(v) + distance(v, 1);
  float3 n = normalize(cross(v, float3(1, 0, 0)) + 0.001) * dot(v, v);
  int bits = (int(a * 100) & 0xff) | (1 << 3) ^ ~2 >> 1;
  return float4(n, noise(v) + noise(p) + noise(a) + bits * 1e-3);
}
