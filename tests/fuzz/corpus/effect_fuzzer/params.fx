struct Light { float3 dir : Direction; float4 color; };
float f = 1.5;
int count = 3;
bool flag = true;
float3 v3 = float3(1, 2, 3);
float4x3 m43;
row_major float2x2 rm = {1, 2, 3, 4};
float4 bones[4] : BoneArray;
Light light = {0, 0, 1, 1, 0.5, 0.25, 1};
Light lights[2];
texture2D tex;
texture cubeish;
texture many[3];
sampler2D samp = sampler_state { Texture = <tex>; };
technique T < string Author = "Ann"; float Version = 2.5; > {
  pass A < int Order = 7; > { StencilRef = count + 1; BlendFactor = float4(1, 0.5, 0, 1); }
  pass B { Texture[2] = <many[1]>; ProjectionTransform = rm._11 * 0; }
}
technique U { pass A { } }
