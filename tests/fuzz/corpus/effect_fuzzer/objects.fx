string label : Title < string UIWidget = "none"; > = "rock";
float4 color = {1, 0.5, 0.25, 1};
int lights = 1;
float range = 10;
float4 VS(float4 p : POSITION, uniform float n) : POSITION { return p * n + color; }
float4 PS() : COLOR { return color; }
VertexShader vsArray[3] = { compile vs_2_0 VS(1), compile vs_2_0 VS(2), NULL };
PixelShader ps = compile ps_2_0 PS();
technique T {
  pass P {
    VertexShader = (vsArray[lights]);
    PixelShader = <ps>;
    LightEnable[1] = true;
    LightType[1] = Point;
    LightDiffuse[1] = color;
    LightRange[1] = range * 2;
    MaterialPower = 8;
  }
}
technique Fixed { pass P { VertexShader = vsArray[2]; ColorWriteEnable = Red | Alpha; } }
