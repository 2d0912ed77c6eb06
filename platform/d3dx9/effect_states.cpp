// The states an effect can assign, by the names FX files give them, and the keywords of their
// values. Names and keywords are matched without case; a keyword may also carry its Direct3D
// prefix ("D3DBLEND_SRCALPHA" for "SrcAlpha").
#include <cmath>
#include <cstring>

#include "d3dx9/effect.h"

namespace vexa::fx {

namespace {

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x + 32);
    if (y >= 'A' && y <= 'Z') y = char(y + 32);
    if (x != y) return false;
  }
  return true;
}

// Drops `prefix` from the front of `s` when it is there (without case).
std::string_view Unprefixed(std::string_view s, std::string_view prefix) {
  if (s.size() > prefix.size() && SameText(s.substr(0, prefix.size()), prefix))
    return s.substr(prefix.size());
  return s;
}

struct Entry {
  const char* name;
  DWORD state;
  ValueKind value;
};

using VK = ValueKind;

const Entry kRenderStates[] = {
    {"ZEnable", D3DRS_ZENABLE, VK::kZEnable},
    {"FillMode", D3DRS_FILLMODE, VK::kFill},
    {"ShadeMode", D3DRS_SHADEMODE, VK::kShade},
    {"ZWriteEnable", D3DRS_ZWRITEENABLE, VK::kBool},
    {"AlphaTestEnable", D3DRS_ALPHATESTENABLE, VK::kBool},
    {"LastPixel", D3DRS_LASTPIXEL, VK::kBool},
    {"SrcBlend", D3DRS_SRCBLEND, VK::kBlend},
    {"DestBlend", D3DRS_DESTBLEND, VK::kBlend},
    {"CullMode", D3DRS_CULLMODE, VK::kCull},
    {"ZFunc", D3DRS_ZFUNC, VK::kCmp},
    {"AlphaRef", D3DRS_ALPHAREF, VK::kDword},
    {"AlphaFunc", D3DRS_ALPHAFUNC, VK::kCmp},
    {"DitherEnable", D3DRS_DITHERENABLE, VK::kBool},
    {"AlphaBlendEnable", D3DRS_ALPHABLENDENABLE, VK::kBool},
    {"FogEnable", D3DRS_FOGENABLE, VK::kBool},
    {"SpecularEnable", D3DRS_SPECULARENABLE, VK::kBool},
    {"FogColor", D3DRS_FOGCOLOR, VK::kColor},
    {"FogTableMode", D3DRS_FOGTABLEMODE, VK::kFog},
    {"FogStart", D3DRS_FOGSTART, VK::kFloat},
    {"FogEnd", D3DRS_FOGEND, VK::kFloat},
    {"FogDensity", D3DRS_FOGDENSITY, VK::kFloat},
    {"RangeFogEnable", D3DRS_RANGEFOGENABLE, VK::kBool},
    {"StencilEnable", D3DRS_STENCILENABLE, VK::kBool},
    {"StencilFail", D3DRS_STENCILFAIL, VK::kStencilOp},
    {"StencilZFail", D3DRS_STENCILZFAIL, VK::kStencilOp},
    {"StencilPass", D3DRS_STENCILPASS, VK::kStencilOp},
    {"StencilFunc", D3DRS_STENCILFUNC, VK::kCmp},
    {"StencilRef", D3DRS_STENCILREF, VK::kDword},
    {"StencilMask", D3DRS_STENCILMASK, VK::kDword},
    {"StencilWriteMask", D3DRS_STENCILWRITEMASK, VK::kDword},
    {"TextureFactor", D3DRS_TEXTUREFACTOR, VK::kColor},
    {"Wrap0", D3DRS_WRAP0, VK::kWrap},
    {"Wrap1", D3DRS_WRAP1, VK::kWrap},
    {"Wrap2", D3DRS_WRAP2, VK::kWrap},
    {"Wrap3", D3DRS_WRAP3, VK::kWrap},
    {"Wrap4", D3DRS_WRAP4, VK::kWrap},
    {"Wrap5", D3DRS_WRAP5, VK::kWrap},
    {"Wrap6", D3DRS_WRAP6, VK::kWrap},
    {"Wrap7", D3DRS_WRAP7, VK::kWrap},
    {"Clipping", D3DRS_CLIPPING, VK::kBool},
    {"Lighting", D3DRS_LIGHTING, VK::kBool},
    {"Ambient", D3DRS_AMBIENT, VK::kColor},
    {"FogVertexMode", D3DRS_FOGVERTEXMODE, VK::kFog},
    {"ColorVertex", D3DRS_COLORVERTEX, VK::kBool},
    {"LocalViewer", D3DRS_LOCALVIEWER, VK::kBool},
    {"NormalizeNormals", D3DRS_NORMALIZENORMALS, VK::kBool},
    {"DiffuseMaterialSource", D3DRS_DIFFUSEMATERIALSOURCE, VK::kMaterialSource},
    {"SpecularMaterialSource", D3DRS_SPECULARMATERIALSOURCE, VK::kMaterialSource},
    {"AmbientMaterialSource", D3DRS_AMBIENTMATERIALSOURCE, VK::kMaterialSource},
    {"EmissiveMaterialSource", D3DRS_EMISSIVEMATERIALSOURCE, VK::kMaterialSource},
    {"VertexBlend", D3DRS_VERTEXBLEND, VK::kVertexBlend},
    {"ClipPlaneEnable", D3DRS_CLIPPLANEENABLE, VK::kDword},
    {"PointSize", D3DRS_POINTSIZE, VK::kFloat},
    {"PointSize_Min", D3DRS_POINTSIZE_MIN, VK::kFloat},
    {"PointSpriteEnable", D3DRS_POINTSPRITEENABLE, VK::kBool},
    {"PointScaleEnable", D3DRS_POINTSCALEENABLE, VK::kBool},
    {"PointScale_A", D3DRS_POINTSCALE_A, VK::kFloat},
    {"PointScale_B", D3DRS_POINTSCALE_B, VK::kFloat},
    {"PointScale_C", D3DRS_POINTSCALE_C, VK::kFloat},
    {"MultiSampleAntialias", D3DRS_MULTISAMPLEANTIALIAS, VK::kBool},
    {"MultiSampleMask", D3DRS_MULTISAMPLEMASK, VK::kDword},
    {"PatchEdgeStyle", D3DRS_PATCHEDGESTYLE, VK::kPatchEdge},
    {"DebugMonitorToken", D3DRS_DEBUGMONITORTOKEN, VK::kDword},
    {"PointSize_Max", D3DRS_POINTSIZE_MAX, VK::kFloat},
    {"IndexedVertexBlendEnable", D3DRS_INDEXEDVERTEXBLENDENABLE, VK::kBool},
    {"ColorWriteEnable", D3DRS_COLORWRITEENABLE, VK::kColorWrite},
    {"TweenFactor", D3DRS_TWEENFACTOR, VK::kFloat},
    {"BlendOp", D3DRS_BLENDOP, VK::kBlendOp},
    {"PositionDegree", D3DRS_POSITIONDEGREE, VK::kDegree},
    {"NormalDegree", D3DRS_NORMALDEGREE, VK::kDegree},
    {"ScissorTestEnable", D3DRS_SCISSORTESTENABLE, VK::kBool},
    {"SlopeScaleDepthBias", D3DRS_SLOPESCALEDEPTHBIAS, VK::kFloat},
    {"AntialiasedLineEnable", D3DRS_ANTIALIASEDLINEENABLE, VK::kBool},
    {"MinTessellationLevel", D3DRS_MINTESSELLATIONLEVEL, VK::kFloat},
    {"MaxTessellationLevel", D3DRS_MAXTESSELLATIONLEVEL, VK::kFloat},
    {"AdaptiveTess_X", D3DRS_ADAPTIVETESS_X, VK::kFloat},
    {"AdaptiveTess_Y", D3DRS_ADAPTIVETESS_Y, VK::kFloat},
    {"AdaptiveTess_Z", D3DRS_ADAPTIVETESS_Z, VK::kFloat},
    {"AdaptiveTess_W", D3DRS_ADAPTIVETESS_W, VK::kFloat},
    {"EnableAdaptiveTessellation", D3DRS_ENABLEADAPTIVETESSELLATION, VK::kBool},
    {"TwoSidedStencilMode", D3DRS_TWOSIDEDSTENCILMODE, VK::kBool},
    {"CCW_StencilFail", D3DRS_CCW_STENCILFAIL, VK::kStencilOp},
    {"CCW_StencilZFail", D3DRS_CCW_STENCILZFAIL, VK::kStencilOp},
    {"CCW_StencilPass", D3DRS_CCW_STENCILPASS, VK::kStencilOp},
    {"CCW_StencilFunc", D3DRS_CCW_STENCILFUNC, VK::kCmp},
    {"ColorWriteEnable1", D3DRS_COLORWRITEENABLE1, VK::kColorWrite},
    {"ColorWriteEnable2", D3DRS_COLORWRITEENABLE2, VK::kColorWrite},
    {"ColorWriteEnable3", D3DRS_COLORWRITEENABLE3, VK::kColorWrite},
    {"BlendFactor", D3DRS_BLENDFACTOR, VK::kColor},
    {"SRGBWriteEnable", D3DRS_SRGBWRITEENABLE, VK::kBool},
    {"DepthBias", D3DRS_DEPTHBIAS, VK::kFloat},
    {"Wrap8", D3DRS_WRAP8, VK::kWrap},
    {"Wrap9", D3DRS_WRAP9, VK::kWrap},
    {"Wrap10", D3DRS_WRAP10, VK::kWrap},
    {"Wrap11", D3DRS_WRAP11, VK::kWrap},
    {"Wrap12", D3DRS_WRAP12, VK::kWrap},
    {"Wrap13", D3DRS_WRAP13, VK::kWrap},
    {"Wrap14", D3DRS_WRAP14, VK::kWrap},
    {"Wrap15", D3DRS_WRAP15, VK::kWrap},
    {"SeparateAlphaBlendEnable", D3DRS_SEPARATEALPHABLENDENABLE, VK::kBool},
    {"SrcBlendAlpha", D3DRS_SRCBLENDALPHA, VK::kBlend},
    {"DestBlendAlpha", D3DRS_DESTBLENDALPHA, VK::kBlend},
    {"BlendOpAlpha", D3DRS_BLENDOPALPHA, VK::kBlendOp},
};

const Entry kStageStates[] = {
    {"ColorOp", D3DTSS_COLOROP, VK::kTextureOp},
    {"ColorArg1", D3DTSS_COLORARG1, VK::kTextureArg},
    {"ColorArg2", D3DTSS_COLORARG2, VK::kTextureArg},
    {"AlphaOp", D3DTSS_ALPHAOP, VK::kTextureOp},
    {"AlphaArg1", D3DTSS_ALPHAARG1, VK::kTextureArg},
    {"AlphaArg2", D3DTSS_ALPHAARG2, VK::kTextureArg},
    {"BumpEnvMat00", D3DTSS_BUMPENVMAT00, VK::kFloat},
    {"BumpEnvMat01", D3DTSS_BUMPENVMAT01, VK::kFloat},
    {"BumpEnvMat10", D3DTSS_BUMPENVMAT10, VK::kFloat},
    {"BumpEnvMat11", D3DTSS_BUMPENVMAT11, VK::kFloat},
    {"TexCoordIndex", D3DTSS_TEXCOORDINDEX, VK::kTexCoordIndex},
    {"BumpEnvLScale", D3DTSS_BUMPENVLSCALE, VK::kFloat},
    {"BumpEnvLOffset", D3DTSS_BUMPENVLOFFSET, VK::kFloat},
    {"TextureTransformFlags", D3DTSS_TEXTURETRANSFORMFLAGS, VK::kTransformFlags},
    {"ColorArg0", D3DTSS_COLORARG0, VK::kTextureArg},
    {"AlphaArg0", D3DTSS_ALPHAARG0, VK::kTextureArg},
    {"ResultArg", D3DTSS_RESULTARG, VK::kTextureArg},
    {"Constant", D3DTSS_CONSTANT, VK::kColor},
};

const Entry kSamplerStates[] = {
    {"AddressU", D3DSAMP_ADDRESSU, VK::kAddress},
    {"AddressV", D3DSAMP_ADDRESSV, VK::kAddress},
    {"AddressW", D3DSAMP_ADDRESSW, VK::kAddress},
    {"BorderColor", D3DSAMP_BORDERCOLOR, VK::kColor},
    {"MagFilter", D3DSAMP_MAGFILTER, VK::kFilter},
    {"MinFilter", D3DSAMP_MINFILTER, VK::kFilter},
    {"MipFilter", D3DSAMP_MIPFILTER, VK::kFilter},
    {"MipMapLodBias", D3DSAMP_MIPMAPLODBIAS, VK::kFloat},
    {"MaxMipLevel", D3DSAMP_MAXMIPLEVEL, VK::kDword},
    {"MaxAnisotropy", D3DSAMP_MAXANISOTROPY, VK::kDword},
    {"SRGBTexture", D3DSAMP_SRGBTEXTURE, VK::kBool},
    {"ElementIndex", D3DSAMP_ELEMENTINDEX, VK::kDword},
    {"DMapOffset", D3DSAMP_DMAPOFFSET, VK::kDword},
};

const Entry kLightStates[] = {
    {"LightType", kLightTypeMember, VK::kLightType},
    {"LightDiffuse", kLightDiffuse, VK::kFloat},
    {"LightSpecular", kLightSpecular, VK::kFloat},
    {"LightAmbient", kLightAmbient, VK::kFloat},
    {"LightPosition", kLightPosition, VK::kFloat},
    {"LightDirection", kLightDirection, VK::kFloat},
    {"LightRange", kLightRange, VK::kFloat},
    {"LightFalloff", kLightFalloff, VK::kFloat},
    {"LightAttenuation0", kLightAttenuation0, VK::kFloat},
    {"LightAttenuation1", kLightAttenuation1, VK::kFloat},
    {"LightAttenuation2", kLightAttenuation2, VK::kFloat},
    {"LightTheta", kLightTheta, VK::kFloat},
    {"LightPhi", kLightPhi, VK::kFloat},
};

const Entry kMaterialStates[] = {
    {"MaterialDiffuse", kMaterialDiffuse, VK::kFloat},
    {"MaterialAmbient", kMaterialAmbient, VK::kFloat},
    {"MaterialSpecular", kMaterialSpecular, VK::kFloat},
    {"MaterialEmissive", kMaterialEmissive, VK::kFloat},
    {"MaterialPower", kMaterialPower, VK::kFloat},
};

// States of passes that are not device states of one kind.
const Entry kOtherStates[] = {
    {"VertexShader", 0, VK::kObject},
    {"PixelShader", 0, VK::kObject},
    {"Texture", 0, VK::kObject},
    {"Sampler", 0, VK::kObject},
    {"WorldTransform", 256, VK::kMatrix},
    {"ViewTransform", D3DTS_VIEW, VK::kMatrix},
    {"ProjectionTransform", D3DTS_PROJECTION, VK::kMatrix},
    {"TextureTransform", D3DTS_TEXTURE0, VK::kMatrix},
};

const Entry* Find(const Entry* begin, const Entry* end, std::string_view name) {
  for (const Entry* e = begin; e != end; ++e)
    if (SameText(name, e->name)) return e;
  return nullptr;
}

struct Word {
  const char* name;
  DWORD value;
};

struct Keywords {
  const char* prefix;
  const Word* words;
  size_t count;
};

const Word kBoolWords[] = {{"TRUE", 1}, {"FALSE", 0}};
const Word kZWords[] = {{"TRUE", D3DZB_TRUE}, {"FALSE", D3DZB_FALSE}, {"USEW", D3DZB_USEW}};
const Word kFillWords[] = {
    {"POINT", D3DFILL_POINT}, {"WIREFRAME", D3DFILL_WIREFRAME}, {"SOLID", D3DFILL_SOLID}};
const Word kShadeWords[] = {
    {"FLAT", D3DSHADE_FLAT}, {"GOURAUD", D3DSHADE_GOURAUD}, {"PHONG", D3DSHADE_PHONG}};
const Word kBlendWords[] = {{"ZERO", D3DBLEND_ZERO},
                            {"ONE", D3DBLEND_ONE},
                            {"SRCCOLOR", D3DBLEND_SRCCOLOR},
                            {"INVSRCCOLOR", D3DBLEND_INVSRCCOLOR},
                            {"SRCALPHA", D3DBLEND_SRCALPHA},
                            {"INVSRCALPHA", D3DBLEND_INVSRCALPHA},
                            {"DESTALPHA", D3DBLEND_DESTALPHA},
                            {"INVDESTALPHA", D3DBLEND_INVDESTALPHA},
                            {"DESTCOLOR", D3DBLEND_DESTCOLOR},
                            {"INVDESTCOLOR", D3DBLEND_INVDESTCOLOR},
                            {"SRCALPHASAT", D3DBLEND_SRCALPHASAT},
                            {"BOTHSRCALPHA", D3DBLEND_BOTHSRCALPHA},
                            {"BOTHINVSRCALPHA", D3DBLEND_BOTHINVSRCALPHA},
                            {"BLENDFACTOR", D3DBLEND_BLENDFACTOR},
                            {"INVBLENDFACTOR", D3DBLEND_INVBLENDFACTOR},
                            {"SRCCOLOR2", D3DBLEND_SRCCOLOR2},
                            {"INVSRCCOLOR2", D3DBLEND_INVSRCCOLOR2}};
const Word kBlendOpWords[] = {{"ADD", D3DBLENDOP_ADD},
                              {"SUBTRACT", D3DBLENDOP_SUBTRACT},
                              {"REVSUBTRACT", D3DBLENDOP_REVSUBTRACT},
                              {"MIN", D3DBLENDOP_MIN},
                              {"MAX", D3DBLENDOP_MAX}};
const Word kCullWords[] = {{"NONE", D3DCULL_NONE}, {"CW", D3DCULL_CW}, {"CCW", D3DCULL_CCW}};
const Word kCmpWords[] = {{"NEVER", D3DCMP_NEVER},
                          {"LESS", D3DCMP_LESS},
                          {"EQUAL", D3DCMP_EQUAL},
                          {"LESSEQUAL", D3DCMP_LESSEQUAL},
                          {"GREATER", D3DCMP_GREATER},
                          {"NOTEQUAL", D3DCMP_NOTEQUAL},
                          {"GREATEREQUAL", D3DCMP_GREATEREQUAL},
                          {"ALWAYS", D3DCMP_ALWAYS}};
const Word kStencilWords[] = {{"KEEP", D3DSTENCILOP_KEEP},       {"ZERO", D3DSTENCILOP_ZERO},
                              {"REPLACE", D3DSTENCILOP_REPLACE}, {"INCRSAT", D3DSTENCILOP_INCRSAT},
                              {"DECRSAT", D3DSTENCILOP_DECRSAT}, {"INVERT", D3DSTENCILOP_INVERT},
                              {"INCR", D3DSTENCILOP_INCR},       {"DECR", D3DSTENCILOP_DECR}};
const Word kFogWords[] = {
    {"NONE", D3DFOG_NONE}, {"EXP", D3DFOG_EXP}, {"EXP2", D3DFOG_EXP2}, {"LINEAR", D3DFOG_LINEAR}};
const Word kMaterialWords[] = {
    {"MATERIAL", D3DMCS_MATERIAL}, {"COLOR1", D3DMCS_COLOR1}, {"COLOR2", D3DMCS_COLOR2}};
const Word kVertexBlendWords[] = {{"DISABLE", 0}, {"TWEENING", 255}};
const Word kColorWriteWords[] = {{"RED", D3DCOLORWRITEENABLE_RED},
                                 {"GREEN", D3DCOLORWRITEENABLE_GREEN},
                                 {"BLUE", D3DCOLORWRITEENABLE_BLUE},
                                 {"ALPHA", D3DCOLORWRITEENABLE_ALPHA}};
const Word kWrapWords[] = {{"U", D3DWRAP_U},           {"V", D3DWRAP_V},
                           {"W", D3DWRAP_W},           {"COORD0", D3DWRAPCOORD_0},
                           {"COORD1", D3DWRAPCOORD_1}, {"COORD2", D3DWRAPCOORD_2},
                           {"COORD3", D3DWRAPCOORD_3}};
const Word kLightTypeWords[] = {
    {"POINT", D3DLIGHT_POINT}, {"SPOT", D3DLIGHT_SPOT}, {"DIRECTIONAL", D3DLIGHT_DIRECTIONAL}};
const Word kPatchWords[] = {{"DISCRETE", 0}, {"CONTINUOUS", 1}};
const Word kDegreeWords[] = {{"LINEAR", 1}, {"QUADRATIC", 2}, {"CUBIC", 3}, {"QUINTIC", 5}};
const Word kTextureOpWords[] = {{"DISABLE", D3DTOP_DISABLE},
                                {"SELECTARG1", D3DTOP_SELECTARG1},
                                {"SELECTARG2", D3DTOP_SELECTARG2},
                                {"MODULATE", D3DTOP_MODULATE},
                                {"MODULATE2X", D3DTOP_MODULATE2X},
                                {"MODULATE4X", D3DTOP_MODULATE4X},
                                {"ADD", D3DTOP_ADD},
                                {"ADDSIGNED", D3DTOP_ADDSIGNED},
                                {"ADDSIGNED2X", D3DTOP_ADDSIGNED2X},
                                {"SUBTRACT", D3DTOP_SUBTRACT},
                                {"ADDSMOOTH", D3DTOP_ADDSMOOTH},
                                {"BLENDDIFFUSEALPHA", D3DTOP_BLENDDIFFUSEALPHA},
                                {"BLENDTEXTUREALPHA", D3DTOP_BLENDTEXTUREALPHA},
                                {"BLENDFACTORALPHA", D3DTOP_BLENDFACTORALPHA},
                                {"BLENDTEXTUREALPHAPM", D3DTOP_BLENDTEXTUREALPHAPM},
                                {"BLENDCURRENTALPHA", D3DTOP_BLENDCURRENTALPHA},
                                {"PREMODULATE", D3DTOP_PREMODULATE},
                                {"MODULATEALPHA_ADDCOLOR", D3DTOP_MODULATEALPHA_ADDCOLOR},
                                {"MODULATECOLOR_ADDALPHA", D3DTOP_MODULATECOLOR_ADDALPHA},
                                {"MODULATEINVALPHA_ADDCOLOR", D3DTOP_MODULATEINVALPHA_ADDCOLOR},
                                {"MODULATEINVCOLOR_ADDALPHA", D3DTOP_MODULATEINVCOLOR_ADDALPHA},
                                {"BUMPENVMAP", D3DTOP_BUMPENVMAP},
                                {"BUMPENVMAPLUMINANCE", D3DTOP_BUMPENVMAPLUMINANCE},
                                {"DOTPRODUCT3", D3DTOP_DOTPRODUCT3},
                                {"MULTIPLYADD", D3DTOP_MULTIPLYADD},
                                {"LERP", D3DTOP_LERP}};
const Word kTextureArgWords[] = {{"DIFFUSE", D3DTA_DIFFUSE},
                                 {"CURRENT", D3DTA_CURRENT},
                                 {"TEXTURE", D3DTA_TEXTURE},
                                 {"TFACTOR", D3DTA_TFACTOR},
                                 {"SPECULAR", D3DTA_SPECULAR},
                                 {"TEMP", D3DTA_TEMP},
                                 {"CONSTANT", D3DTA_CONSTANT},
                                 {"COMPLEMENT", D3DTA_COMPLEMENT},
                                 {"ALPHAREPLICATE", D3DTA_ALPHAREPLICATE}};
const Word kTexCoordWords[] = {
    {"PASSTHRU", D3DTSS_TCI_PASSTHRU},
    {"CAMERASPACENORMAL", D3DTSS_TCI_CAMERASPACENORMAL},
    {"CAMERASPACEPOSITION", D3DTSS_TCI_CAMERASPACEPOSITION},
    {"CAMERASPACEREFLECTIONVECTOR", D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR},
    {"SPHEREMAP", D3DTSS_TCI_SPHEREMAP}};
const Word kTransformFlagWords[] = {{"DISABLE", D3DTTFF_DISABLE}, {"COUNT1", D3DTTFF_COUNT1},
                                    {"COUNT2", D3DTTFF_COUNT2},   {"COUNT3", D3DTTFF_COUNT3},
                                    {"COUNT4", D3DTTFF_COUNT4},   {"PROJECTED", D3DTTFF_PROJECTED}};
const Word kAddressWords[] = {{"WRAP", D3DTADDRESS_WRAP},
                              {"MIRROR", D3DTADDRESS_MIRROR},
                              {"CLAMP", D3DTADDRESS_CLAMP},
                              {"BORDER", D3DTADDRESS_BORDER},
                              {"MIRRORONCE", D3DTADDRESS_MIRRORONCE}};
const Word kFilterWords[] = {{"NONE", D3DTEXF_NONE},
                             {"POINT", D3DTEXF_POINT},
                             {"LINEAR", D3DTEXF_LINEAR},
                             {"ANISOTROPIC", D3DTEXF_ANISOTROPIC},
                             {"PYRAMIDALQUAD", D3DTEXF_PYRAMIDALQUAD},
                             {"GAUSSIANQUAD", D3DTEXF_GAUSSIANQUAD}};

template <size_t N>
constexpr Keywords K(const char* prefix, const Word (&w)[N]) {
  return Keywords{prefix, w, N};
}

Keywords KeywordsOf(ValueKind kind) {
  switch (kind) {
    case VK::kBool:
      return K("", kBoolWords);
    case VK::kZEnable:
      return K("D3DZB_", kZWords);
    case VK::kFill:
      return K("D3DFILL_", kFillWords);
    case VK::kShade:
      return K("D3DSHADE_", kShadeWords);
    case VK::kBlend:
      return K("D3DBLEND_", kBlendWords);
    case VK::kBlendOp:
      return K("D3DBLENDOP_", kBlendOpWords);
    case VK::kCull:
      return K("D3DCULL_", kCullWords);
    case VK::kCmp:
      return K("D3DCMP_", kCmpWords);
    case VK::kStencilOp:
      return K("D3DSTENCILOP_", kStencilWords);
    case VK::kFog:
      return K("D3DFOG_", kFogWords);
    case VK::kMaterialSource:
      return K("D3DMCS_", kMaterialWords);
    case VK::kVertexBlend:
      return K("D3DVBF_", kVertexBlendWords);
    case VK::kColorWrite:
      return K("D3DCOLORWRITEENABLE_", kColorWriteWords);
    case VK::kWrap:
      return K("D3DWRAP_", kWrapWords);
    case VK::kPatchEdge:
      return K("D3DPATCHEDGE_", kPatchWords);
    case VK::kDegree:
      return K("D3DDEGREE_", kDegreeWords);
    case VK::kTextureOp:
      return K("D3DTOP_", kTextureOpWords);
    case VK::kTextureArg:
      return K("D3DTA_", kTextureArgWords);
    case VK::kTexCoordIndex:
      return K("D3DTSS_TCI_", kTexCoordWords);
    case VK::kTransformFlags:
      return K("D3DTTFF_", kTransformFlagWords);
    case VK::kAddress:
      return K("D3DTADDRESS_", kAddressWords);
    case VK::kFilter:
      return K("D3DTEXF_", kFilterWords);
    case VK::kLightType:
      return K("D3DLIGHT_", kLightTypeWords);
    default:
      return Keywords{"", nullptr, 0};
  }
}

}  // namespace

bool FindPassState(std::string_view name, StateName* out) {
  if (const Entry* e = Find(std::begin(kOtherStates), std::end(kOtherStates), name)) {
    static const Assignment::Kind kinds[] = {Assignment::kVertexShader, Assignment::kPixelShader,
                                             Assignment::kTexture,      Assignment::kSamplerParam,
                                             Assignment::kTransform,    Assignment::kTransform,
                                             Assignment::kTransform,    Assignment::kTransform};
    *out = StateName{kinds[e - kOtherStates], e->state, e->value};
    return true;
  }
  if (SameText(name, "LightEnable")) {
    *out = StateName{Assignment::kLightEnable, 0, VK::kBool};
    return true;
  }
  if (const Entry* e = Find(std::begin(kLightStates), std::end(kLightStates), name)) {
    *out = StateName{Assignment::kLight, e->state, e->value};
    return true;
  }
  if (const Entry* e = Find(std::begin(kMaterialStates), std::end(kMaterialStates), name)) {
    *out = StateName{Assignment::kMaterial, e->state, e->value};
    return true;
  }
  const std::string_view rs = Unprefixed(name, "D3DRS_");
  if (const Entry* e = Find(std::begin(kRenderStates), std::end(kRenderStates), rs)) {
    *out = StateName{Assignment::kRender, e->state, e->value};
    return true;
  }
  const std::string_view tss = Unprefixed(name, "D3DTSS_");
  if (const Entry* e = Find(std::begin(kStageStates), std::end(kStageStates), tss)) {
    *out = StateName{Assignment::kStage, e->state, e->value};
    return true;
  }
  const std::string_view samp = Unprefixed(name, "D3DSAMP_");
  if (const Entry* e = Find(std::begin(kSamplerStates), std::end(kSamplerStates), samp)) {
    *out = StateName{Assignment::kSampler, e->state, e->value};
    return true;
  }
  return false;
}

bool FindSamplerState(std::string_view name, StateName* out) {
  if (SameText(name, "Texture")) {
    *out = StateName{Assignment::kTexture, 0, VK::kObject};
    return true;
  }
  const std::string_view samp = Unprefixed(name, "D3DSAMP_");
  if (const Entry* e = Find(std::begin(kSamplerStates), std::end(kSamplerStates), samp)) {
    *out = StateName{Assignment::kSampler, e->state, e->value};
    return true;
  }
  return false;
}

bool FindKeyword(ValueKind kind, std::string_view word, DWORD* out) {
  const Keywords k = KeywordsOf(kind);
  const std::string_view bare = *k.prefix ? Unprefixed(word, k.prefix) : word;
  for (size_t i = 0; i < k.count; ++i) {
    if (SameText(bare, k.words[i].name)) {
      *out = k.words[i].value;
      return true;
    }
  }
  // TRUE and FALSE are numbers wherever a state takes one.
  if (SameText(word, "TRUE") || SameText(word, "FALSE")) {
    *out = SameText(word, "TRUE") ? 1 : 0;
    return true;
  }
  return false;
}

bool StateDword(ValueKind kind, const std::vector<double>& v, DWORD* out) {
  if (v.empty()) return false;
  if (kind == VK::kColor && (v.size() == 3 || v.size() == 4)) {
    // r, g, b[, a] in [0, 1] as a D3DCOLOR; a missing alpha is opaque.
    auto channel = [](double c) {
      c = c > 0 ? (c < 1 ? c : 1) : 0;
      return DWORD(c * 255.0 + 0.5);
    };
    const DWORD a = v.size() == 4 ? channel(v[3]) : 255;
    *out = (a << 24) | (channel(v[0]) << 16) | (channel(v[1]) << 8) | channel(v[2]);
    return true;
  }
  if (v.size() != 1) return false;
  const double x = v[0];
  if (kind == VK::kFloat) {
    const float f = float(x);
    std::memcpy(out, &f, 4);
    return true;
  }
  if (kind == VK::kBool) {
    *out = x != 0 ? TRUE : FALSE;
    return true;
  }
  // Integers and keywords; NaN becomes 0 and the rest wraps to 32 bits like a DWORD cast.
  if (!(x == x)) {
    *out = 0;
    return true;
  }
  const double c = x < -2147483648.0 ? -2147483648.0 : x > 4294967295.0 ? 4294967295.0 : x;
  *out = c < 0 ? DWORD(int32_t(c)) : DWORD(uint64_t(c));
  return true;
}

bool MemberTakes(Assignment::Kind kind, DWORD member, size_t size) {
  const bool colour =
      kind == Assignment::kLight
          ? member == kLightDiffuse || member == kLightSpecular || member == kLightAmbient
          : member != kMaterialPower;
  if (colour) return size == 3 || size == 4;
  if (kind == Assignment::kLight && (member == kLightPosition || member == kLightDirection))
    return size == 3;
  return size == 1;
}

namespace {

// Three numbers leave a colour opaque.
D3DCOLORVALUE Colour(const std::vector<double>& v) {
  return D3DCOLORVALUE{float(v[0]), float(v[1]), float(v[2]), v.size() > 3 ? float(v[3]) : 1.f};
}

}  // namespace

void SetLightMember(D3DLIGHT9* l, DWORD member, const std::vector<double>& v) {
  if (v.empty()) return;
  const float f = float(v[0]);
  switch (member) {
    case kLightTypeMember:
      l->Type = D3DLIGHTTYPE(DWORD(v[0] >= 1 && v[0] <= 3 ? v[0] : 1));
      break;
    case kLightDiffuse:
      if (v.size() >= 3) l->Diffuse = Colour(v);
      break;
    case kLightSpecular:
      if (v.size() >= 3) l->Specular = Colour(v);
      break;
    case kLightAmbient:
      if (v.size() >= 3) l->Ambient = Colour(v);
      break;
    case kLightPosition:
      if (v.size() >= 3) l->Position = D3DVECTOR{float(v[0]), float(v[1]), float(v[2])};
      break;
    case kLightDirection:
      if (v.size() >= 3) l->Direction = D3DVECTOR{float(v[0]), float(v[1]), float(v[2])};
      break;
    case kLightRange:
      l->Range = f;
      break;
    case kLightFalloff:
      l->Falloff = f;
      break;
    case kLightAttenuation0:
      l->Attenuation0 = f;
      break;
    case kLightAttenuation1:
      l->Attenuation1 = f;
      break;
    case kLightAttenuation2:
      l->Attenuation2 = f;
      break;
    case kLightTheta:
      l->Theta = f;
      break;
    case kLightPhi:
      l->Phi = f;
      break;
    default:
      break;
  }
}

void SetMaterialMember(D3DMATERIAL9* m, DWORD member, const std::vector<double>& v) {
  if (v.empty()) return;
  switch (member) {
    case kMaterialPower:
      m->Power = float(v[0]);
      return;
    default:
      if (v.size() < 3) return;
      (member == kMaterialDiffuse    ? m->Diffuse
       : member == kMaterialAmbient  ? m->Ambient
       : member == kMaterialSpecular ? m->Specular
                                     : m->Emissive) = Colour(v);
  }
}

D3DLIGHT9 DefaultLight() {
  D3DLIGHT9 l = {};
  l.Type = D3DLIGHT_DIRECTIONAL;
  l.Diffuse = D3DCOLORVALUE{1, 1, 1, 0};
  l.Direction = D3DVECTOR{0, 0, 1};
  return l;
}

double WordToDouble(uint32_t w, Scalar scalar) {
  switch (scalar) {
    case Scalar::kBool:
      return w ? 1.0 : 0.0;
    case Scalar::kInt:
      return double(int32_t(w));
    default: {
      float f;
      std::memcpy(&f, &w, 4);
      return f;
    }
  }
}

uint32_t DoubleToWord(double v, Scalar scalar) {
  switch (scalar) {
    case Scalar::kBool:
      return v != 0 ? 1u : 0u;
    case Scalar::kInt: {
      if (!(v == v)) return 0;
      const double t = std::trunc(v);
      if (t >= 2147483647.0) return 0x7FFFFFFFu;
      if (t <= -2147483648.0) return 0x80000000u;
      return uint32_t(int32_t(t));
    }
    default: {
      const float f = float(v);
      uint32_t w;
      std::memcpy(&w, &f, 4);
      return w;
    }
  }
}

}  // namespace vexa::fx
