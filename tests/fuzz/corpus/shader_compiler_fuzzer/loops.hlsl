static const float3 kTint = float3(0.2, 0.4, 0.6);
float Wave(float v) { return sin(v * 6.0) * 0.5 + 0.5; }
void Accumulate(inout float acc, out int hits, float v) { acc += v; hits = acc > 1 ? 1 : 0; }
float4 main(float2 p : POSITION, float2 s : PSIZE) : COLOR
{
  float acc = 0; int hits = 0;
  for (int i = 0; i < 4; i++) { if (i == 2) continue; Accumulate(acc, hits, Wave(p.x + i * s.x)); }
  int n = 0;
  while (n < 3) { n++; if (hits) break; }
  do { acc *= 0.9; } while (acc > 2);
  float4 c = 0;
  c.zx = float2(acc, n);
  c.w = dot(p, p) > 0.5 ? noise(p * 8) : length(p);
  return c * float4(kTint, 1) + (n % 2 == 0 ? 0.1 : -0.1);
}
