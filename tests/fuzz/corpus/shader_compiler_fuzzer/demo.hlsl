// Sinus/Cos Demo

float4 main(float2 a: POSITION ) : COLOR
  {
    return float4(sin(length(a) * 10.0) * 0.5 + 0.5, sin(a.y * 5.0), cos(a.x * 5.0), 1);

  };
