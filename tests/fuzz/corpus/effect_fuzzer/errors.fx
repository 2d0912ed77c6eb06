float4 a;
float4 VS() : POSITION { return a; }
technique T { pass P {
    ZEnabled = true;
    VertexShader = compile vs_2_0 Missing();
    ColorOp[8] = Modulate;
} }
