float4 main(float2 p : POSITION) : COLOR
{
  return foo(p.x) + 1 +;
}
