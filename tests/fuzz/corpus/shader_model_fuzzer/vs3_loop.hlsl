float4 B[8];
int N;
float4 main(float4 p : POSITION, float4 i : BLENDINDICES) : POSITION {
  float4 s = 0;
  for (int k = 0; k < N; k++) { s += B[i.x] * k; if (s.x > 3) break; }
  return s + p;
}
