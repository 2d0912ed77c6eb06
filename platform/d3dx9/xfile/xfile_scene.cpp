// The standard templates of a Document made into a Scene: Header, Frame, FrameTransformMatrix,
// Mesh with MeshNormals, MeshTextureCoords, MeshVertexColors, MeshMaterialList, Material,
// TextureFilename, EffectInstance, XSkinMeshHeader and SkinWeights, AnimTicksPerSecond,
// AnimationSet, Animation, AnimationKey and AnimationOptions. Other templates are skipped. Every
// object must hold exactly the values its template declares.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numeric>
#include <string_view>
#include <unordered_map>

#include "d3dx9/mesh.h"
#include "d3dx9/xfile/xfile_scene.h"

namespace xfile {

namespace {

// Objects visited and values read beyond what the file holds, counting an object again each time
// a reference leads to it, so that references cannot multiply a small file into an endless one.
constexpr size_t kMaxExtraVisits = size_t{1} << 16;
constexpr size_t kMaxExtraWork = size_t{1} << 22;

constexpr DWORD kNone = 0xFFFFFFFF;

class ValueReader {
 public:
  explicit ValueReader(const Object& obj) : v_(obj.values) {}

  bool Dword(DWORD* out) {
    if (at_ >= v_.size() || v_[at_].string >= 0) return false;
    const double d = v_[at_].number;
    if (!(d >= 0.0 && d <= 4294967295.0) || d != std::floor(d)) return false;
    *out = DWORD(d);
    ++at_;
    return true;
  }
  bool Word(WORD* out) {
    DWORD d;
    if (!Dword(&d) || d > 0xFFFF) return false;
    *out = WORD(d);
    return true;
  }
  bool Float(float* out) {
    if (at_ >= v_.size() || v_[at_].string >= 0) return false;
    *out = float(v_[at_++].number);
    return true;
  }
  bool Floats(float* out, size_t n) {
    for (size_t i = 0; i < n; ++i)
      if (!Float(out + i)) return false;
    return true;
  }
  bool String(const Document& doc, std::string* out) {
    if (at_ >= v_.size() || v_[at_].string < 0) return false;
    *out = doc.strings[size_t(v_[at_++].string)];
    return true;
  }
  // Whether `count` items of `width` values each can still follow.
  bool Fits(DWORD count, size_t width) const { return count <= (v_.size() - at_) / width; }
  bool Done() const { return at_ == v_.size(); }

 private:
  const std::vector<Value>& v_;
  size_t at_ = 0;
};

// A Mesh object as the file has it, polygons and all.
struct RawMesh {
  std::vector<D3DXVECTOR3> positions;
  std::vector<DWORD> polyStart;  // polygon p's corners are [polyStart[p], polyStart[p + 1])
  std::vector<DWORD> corners;    // position index of each corner
  bool hasNormals = false;
  std::vector<D3DXVECTOR3> normals;
  std::vector<DWORD> normalCorners;  // normal index of each corner
  bool hasTexcoords = false;
  std::vector<D3DXVECTOR2> texcoords;
  bool hasColors = false;
  std::vector<D3DCOLOR> colors;
  bool hasMaterials = false;
  std::vector<DWORD> polyMaterial;
  std::vector<MaterialData> materials;
  bool skinned = false;
  WORD maxPerVertex = 0, maxPerFace = 0, numBones = 0;
  std::vector<BoneData> bones;  // file vertex indices
};

DWORD ColourFrom(const float rgba[4]) {
  auto channel = [](float v) {
    const float c = std::isnan(v) ? 0.0f : std::clamp(v, 0.0f, 1.0f);
    return DWORD(c * 255.0f + 0.5f);
  };
  return channel(rgba[3]) << 24 | channel(rgba[0]) << 16 | channel(rgba[1]) << 8 | channel(rgba[2]);
}

// Scale, rotation and translation of a key matrix; a matrix D3DX cannot decompose (a zero scale)
// keeps its row lengths and translation and no rotation.
void Decompose(const D3DXMATRIX& m, D3DXVECTOR3* s, D3DXQUATERNION* r, D3DXVECTOR3* t) {
  if (SUCCEEDED(D3DXMatrixDecompose(s, r, t, &m))) return;
  *s = D3DXVECTOR3(std::sqrt(m._11 * m._11 + m._12 * m._12 + m._13 * m._13),
                   std::sqrt(m._21 * m._21 + m._22 * m._22 + m._23 * m._23),
                   std::sqrt(m._31 * m._31 + m._32 * m._32 + m._33 * m._33));
  *r = D3DXQUATERNION(0.0f, 0.0f, 0.0f, 1.0f);
  *t = D3DXVECTOR3(m._41, m._42, m._43);
}

class Builder {
 public:
  Builder(const Document& doc, Scene* scene)
      : doc_(doc), scene_(*scene), onPath_(doc.objects.size(), false) {
    maxVisits_ = doc.objects.size() + kMaxExtraVisits;
    maxWork_ = kMaxExtraWork;
    for (const Object& o : doc.objects) maxWork_ += o.values.size() + 1;
  }

  bool Run() {
    for (const uint32_t index : doc_.topLevel) {
      const std::string_view kind = doc_.objects[index].templateName;
      if (kind == "Frame") {
        uint32_t frame;
        if (!Frame(index, &frame)) return false;
        scene_.topLevel.push_back(TopLevelItem{false, frame});
      } else if (kind == "Mesh") {
        uint32_t mesh;
        bool made;
        if (!Mesh(index, &mesh, &made)) return false;
        if (made) scene_.topLevel.push_back(TopLevelItem{true, mesh});
      } else if (kind == "AnimationSet") {
        if (!AnimationSet(index)) return false;
      } else if (kind == "AnimTicksPerSecond") {
        ValueReader r(doc_.objects[index]);
        DWORD ticks;
        if (!r.Dword(&ticks) || ticks == 0 || !r.Done())
          return Fail("AnimTicksPerSecond needs one positive DWORD");
        scene_.ticksPerSecond = ticks;
      } else if (kind == "Header") {
        ValueReader r(doc_.objects[index]);
        WORD major, minor;
        DWORD flags;
        if (!r.Word(&major) || !r.Word(&minor) || !r.Dword(&flags) || !r.Done())
          return Fail("Header needs WORD major, WORD minor, DWORD flags");
      }
    }
    FillMissingKeys();
    return true;
  }

  const std::string& Why() const { return why_; }

 private:
  bool Fail(const char* why) {
    if (why_.empty()) why_ = why;
    return false;
  }

  // Every object a template reads goes through Enter/Leave: a reference back to an object being
  // read is a loop, and the budgets bound what references can multiply.
  bool Enter(uint32_t index) {
    if (onPath_[index]) return Fail("references form a loop");
    if (path_ >= size_t(kMaxDepth)) return Fail("objects nested too deeply");
    work_ += doc_.objects[index].values.size() + 1;
    if (++visits_ > maxVisits_ || work_ > maxWork_)
      return Fail("references repeat the file's objects too often");
    onPath_[index] = true;
    ++path_;
    return true;
  }
  void Leave(uint32_t index) {
    onPath_[index] = false;
    --path_;
  }

  bool Matrix(uint32_t index, D3DXMATRIX* out) {
    if (!Enter(index)) return false;
    ValueReader r(doc_.objects[index]);
    if (!r.Floats(&out->_11, 16) || !r.Done())
      return Fail("FrameTransformMatrix needs sixteen floats");
    Leave(index);
    return true;
  }

  bool Frame(uint32_t index, uint32_t* out) {
    if (!Enter(index)) return false;
    const Object& obj = doc_.objects[index];
    const uint32_t self = uint32_t(scene_.frames.size());
    scene_.frames.emplace_back();
    scene_.frames[self].name = obj.name;
    D3DXMatrixIdentity(&scene_.frames[self].transform);
    for (const Child& c : obj.children) {
      const std::string_view kind = doc_.objects[c.object].templateName;
      if (kind == "FrameTransformMatrix") {
        D3DXMATRIX m;
        if (!Matrix(c.object, &m)) return false;
        scene_.frames[self].transform = m;
      } else if (kind == "Frame") {
        uint32_t child;
        if (!Frame(c.object, &child)) return false;
        scene_.frames[self].children.push_back(child);
      } else if (kind == "Mesh") {
        uint32_t mesh;
        bool made;
        if (!Mesh(c.object, &mesh, &made)) return false;
        if (made) scene_.frames[self].meshes.push_back(mesh);
      }
    }
    Leave(index);
    *out = self;
    return true;
  }

  bool Mesh(uint32_t index, uint32_t* out, bool* made) {
    if (!Enter(index)) return false;
    const Object& obj = doc_.objects[index];
    RawMesh raw;
    ValueReader r(obj);
    DWORD numVertices, numFaces;
    if (!r.Dword(&numVertices) || !r.Fits(numVertices, 3))
      return Fail("Mesh: vertex count larger than its data");
    raw.positions.resize(numVertices);
    for (D3DXVECTOR3& p : raw.positions)
      if (!r.Floats(&p.x, 3)) return Fail("Mesh: vertices missing");
    if (!r.Dword(&numFaces) || !r.Fits(numFaces, 1))
      return Fail("Mesh: face count larger than its data");
    raw.polyStart.reserve(size_t(numFaces) + 1);
    raw.polyStart.push_back(0);
    for (DWORD f = 0; f < numFaces; ++f) {
      DWORD n;
      if (!r.Dword(&n) || n < 3 || !r.Fits(n, 1)) return Fail("Mesh: bad face");
      for (DWORD k = 0; k < n; ++k) {
        DWORD v;
        if (!r.Dword(&v) || v >= numVertices) return Fail("Mesh: face index out of range");
        raw.corners.push_back(v);
      }
      raw.polyStart.push_back(DWORD(raw.corners.size()));
    }
    if (!r.Done()) return Fail("Mesh: more values than its counts say");

    DWORD skinWeights = 0;
    for (const Child& c : obj.children) {
      const std::string_view kind = doc_.objects[c.object].templateName;
      bool ok = true;
      if (kind == "MeshNormals") {
        ok = Normals(c.object, &raw);
      } else if (kind == "MeshTextureCoords") {
        ok = Texcoords(c.object, &raw);
      } else if (kind == "MeshVertexColors") {
        ok = Colours(c.object, &raw);
      } else if (kind == "MeshMaterialList") {
        ok = MaterialList(c.object, &raw);
      } else if (kind == "XSkinMeshHeader") {
        ok = SkinHeader(c.object, &raw);
      } else if (kind == "SkinWeights") {
        ok = SkinWeights(c.object, &raw);
        ++skinWeights;
      }
      if (!ok) return false;
    }
    if (raw.skinned && skinWeights != raw.numBones)
      return Fail("XSkinMeshHeader: bone count differs from the SkinWeights objects");
    Leave(index);

    *made = numVertices > 0 && numFaces > 0;
    if (!*made) return true;
    *out = uint32_t(scene_.meshes.size());
    scene_.meshes.emplace_back();
    scene_.meshes.back().name = obj.name;
    BuildMesh(&raw, &scene_.meshes.back());
    return true;
  }

  bool Normals(uint32_t index, RawMesh* raw) {
    if (!Enter(index)) return false;
    ValueReader r(doc_.objects[index]);
    DWORD numNormals, numFaces;
    if (!r.Dword(&numNormals) || !r.Fits(numNormals, 3))
      return Fail("MeshNormals: normal count larger than its data");
    raw->normals.assign(numNormals, D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    for (D3DXVECTOR3& n : raw->normals) {
      if (!r.Floats(&n.x, 3)) return Fail("MeshNormals: normals missing");
      D3DXVec3Normalize(&n, &n);
    }
    const size_t polygons = raw->polyStart.size() - 1;
    if (!r.Dword(&numFaces) || numFaces != polygons)
      return Fail("MeshNormals: face count differs from the mesh's");
    raw->normalCorners.clear();
    raw->normalCorners.reserve(raw->corners.size());
    for (size_t p = 0; p < polygons; ++p) {
      DWORD n;
      if (!r.Dword(&n) || n != raw->polyStart[p + 1] - raw->polyStart[p])
        return Fail("MeshNormals: face size differs from the mesh's");
      for (DWORD k = 0; k < n; ++k) {
        DWORD v;
        if (!r.Dword(&v) || v >= numNormals) return Fail("MeshNormals: index out of range");
        raw->normalCorners.push_back(v);
      }
    }
    if (!r.Done()) return Fail("MeshNormals: more values than its counts say");
    raw->hasNormals = true;
    Leave(index);
    return true;
  }

  bool Texcoords(uint32_t index, RawMesh* raw) {
    if (!Enter(index)) return false;
    ValueReader r(doc_.objects[index]);
    DWORD n;
    if (!r.Dword(&n) || n != raw->positions.size() || !r.Fits(n, 2))
      return Fail("MeshTextureCoords: count differs from the vertex count");
    raw->texcoords.resize(n);
    for (D3DXVECTOR2& t : raw->texcoords)
      if (!r.Float(&t.x) || !r.Float(&t.y)) return Fail("MeshTextureCoords: values missing");
    if (!r.Done()) return Fail("MeshTextureCoords: more values than its count says");
    raw->hasTexcoords = true;
    Leave(index);
    return true;
  }

  // Vertices the list leaves out are white with zero alpha.
  bool Colours(uint32_t index, RawMesh* raw) {
    if (!Enter(index)) return false;
    ValueReader r(doc_.objects[index]);
    DWORD n;
    if (!r.Dword(&n) || !r.Fits(n, 5)) return Fail("MeshVertexColors: count larger than its data");
    raw->colors.assign(raw->positions.size(), 0x00FFFFFF);
    for (DWORD i = 0; i < n; ++i) {
      DWORD v;
      float rgba[4];
      if (!r.Dword(&v) || v >= raw->positions.size() || !r.Floats(rgba, 4))
        return Fail("MeshVertexColors: bad entry");
      raw->colors[v] = ColourFrom(rgba);
    }
    if (!r.Done()) return Fail("MeshVertexColors: more values than its count says");
    raw->hasColors = true;
    Leave(index);
    return true;
  }

  // One material index per face; a shorter list gives the remaining faces its last index.
  bool MaterialList(uint32_t index, RawMesh* raw) {
    if (!Enter(index)) return false;
    const Object& obj = doc_.objects[index];
    ValueReader r(obj);
    const size_t polygons = raw->polyStart.size() - 1;
    DWORD numMaterials, numIndices;
    if (!r.Dword(&numMaterials) || !r.Dword(&numIndices) || !r.Fits(numIndices, 1) ||
        numIndices > polygons || (numIndices == 0 && polygons > 0 && numMaterials > 0))
      return Fail("MeshMaterialList: face count differs from the mesh's");
    std::vector<DWORD> faces(polygons, 0);
    for (DWORD i = 0; i < numIndices; ++i)
      if (!r.Dword(&faces[i]) || faces[i] >= std::max<DWORD>(numMaterials, 1))
        return Fail("MeshMaterialList: material index out of range");
    for (size_t i = numIndices; i < polygons && numIndices > 0; ++i)
      faces[i] = faces[numIndices - 1];
    if (!r.Done()) return Fail("MeshMaterialList: more values than its counts say");
    std::vector<MaterialData> materials;
    for (const Child& c : obj.children) {
      if (doc_.objects[c.object].templateName != "Material") continue;
      if (materials.size() >= numMaterials)
        return Fail("MeshMaterialList: more materials than it declares");
      materials.emplace_back();
      if (!Material(c.object, &materials.back())) return false;
    }
    if (materials.size() != numMaterials)
      return Fail("MeshMaterialList: fewer materials than it declares");
    raw->hasMaterials = numMaterials > 0;
    raw->polyMaterial = raw->hasMaterials ? std::move(faces) : std::vector<DWORD>{};
    raw->materials = std::move(materials);
    Leave(index);
    return true;
  }

  bool Material(uint32_t index, MaterialData* m) {
    if (!Enter(index)) return false;
    const Object& obj = doc_.objects[index];
    ValueReader r(obj);
    float v[11];
    if (!r.Floats(v, 11) || !r.Done())
      return Fail("Material needs ColorRGBA, power, ColorRGB specular, ColorRGB emissive");
    D3DMATERIAL9& d = m->material;
    d.Diffuse = D3DCOLORVALUE{v[0], v[1], v[2], v[3]};
    d.Power = v[4];
    d.Specular = D3DCOLORVALUE{v[5], v[6], v[7], 1.0f};
    d.Emissive = D3DCOLORVALUE{v[8], v[9], v[10], 1.0f};
    d.Ambient = D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 1.0f};
    for (const Child& c : obj.children) {
      const std::string_view kind = doc_.objects[c.object].templateName;
      if (kind == "TextureFilename") {
        if (!Enter(c.object)) return false;
        ValueReader t(doc_.objects[c.object]);
        if (!t.String(doc_, &m->texture) || !t.Done())
          return Fail("TextureFilename needs one string");
        m->hasTexture = true;
        Leave(c.object);
      } else if (kind == "EffectInstance") {
        if (!Effect(c.object, m)) return false;
      }
    }
    Leave(index);
    return true;
  }

  bool Effect(uint32_t index, MaterialData* m) {
    if (!Enter(index)) return false;
    const Object& obj = doc_.objects[index];
    ValueReader r(obj);
    if (!r.String(doc_, &m->effectFile) || !r.Done())
      return Fail("EffectInstance needs one string");
    m->hasEffect = true;
    m->params.clear();
    for (const Child& c : obj.children) {
      const Object& p = doc_.objects[c.object];
      const std::string_view kind = p.templateName;
      if (kind != "EffectParamFloats" && kind != "EffectParamString" && kind != "EffectParamDWord")
        continue;
      if (!Enter(c.object)) return false;
      ValueReader pr(p);
      EffectParam param;
      bool ok = pr.String(doc_, &param.name);
      if (ok && kind == "EffectParamFloats") {
        DWORD n = 0;
        ok = pr.Dword(&n) && pr.Fits(n, 1);
        param.type = D3DXEDT_FLOATS;
        for (DWORD i = 0; ok && i < n; ++i) {
          float f = 0.0f;
          ok = pr.Float(&f);
          const auto* b = reinterpret_cast<const BYTE*>(&f);
          param.value.insert(param.value.end(), b, b + 4);
        }
      } else if (ok && kind == "EffectParamString") {
        std::string s;
        ok = pr.String(doc_, &s);
        param.type = D3DXEDT_STRING;
        param.value.assign(s.begin(), s.end());
        param.value.push_back(0);
      } else if (ok) {
        DWORD d = 0;
        ok = pr.Dword(&d);
        param.type = D3DXEDT_DWORD;
        const auto* b = reinterpret_cast<const BYTE*>(&d);
        param.value.assign(b, b + 4);
      }
      if (!ok || !pr.Done()) return Fail("EffectInstance: malformed parameter");
      m->params.push_back(std::move(param));
      Leave(c.object);
    }
    Leave(index);
    return true;
  }

  bool SkinHeader(uint32_t index, RawMesh* raw) {
    if (!Enter(index)) return false;
    if (raw->skinned) return Fail("Mesh: a second XSkinMeshHeader");
    ValueReader r(doc_.objects[index]);
    if (!r.Word(&raw->maxPerVertex) || !r.Word(&raw->maxPerFace) || !r.Word(&raw->numBones) ||
        !r.Done())
      return Fail("XSkinMeshHeader needs three WORDs");
    raw->skinned = true;
    Leave(index);
    return true;
  }

  bool SkinWeights(uint32_t index, RawMesh* raw) {
    if (!Enter(index)) return false;
    if (!raw->skinned) return Fail("SkinWeights before the mesh's XSkinMeshHeader");
    if (raw->bones.size() >= raw->numBones)
      return Fail("SkinWeights: more bones than the XSkinMeshHeader says");
    ValueReader r(doc_.objects[index]);
    BoneData bone;
    DWORD n;
    if (!r.String(doc_, &bone.name) || !r.Dword(&n) || !r.Fits(n, 2))
      return Fail("SkinWeights: influence count larger than its data");
    bone.vertices.resize(n);
    bone.weights.resize(n);
    for (DWORD& v : bone.vertices)
      if (!r.Dword(&v) || v >= raw->positions.size())
        return Fail("SkinWeights: vertex index out of range");
    if (!r.Floats(bone.weights.data(), n) || !r.Floats(&bone.offset._11, 16) || !r.Done())
      return Fail("SkinWeights: weights or offset matrix malformed");
    raw->bones.push_back(std::move(bone));
    Leave(index);
    return true;
  }

  bool AnimationSet(uint32_t index) {
    if (!Enter(index)) return false;
    const Object& obj = doc_.objects[index];
    AnimationSetData set;
    set.name = obj.name;
    for (const Child& c : obj.children) {
      if (doc_.objects[c.object].templateName != "Animation") continue;
      AnimationData a;
      if (!Animation(c.object, &a)) return false;
      if (!a.target.empty()) set.animations.push_back(std::move(a));
    }
    Leave(index);
    scene_.animationSets.push_back(std::move(set));
    return true;
  }

  // The frame an animation moves is the object it refers to.
  bool Animation(uint32_t index, AnimationData* a) {
    if (!Enter(index)) return false;
    const Object& obj = doc_.objects[index];
    for (const Child& c : obj.children) {
      const Object& child = doc_.objects[c.object];
      if (c.reference) {
        a->target = child.name;
      } else if (child.templateName == "AnimationKey") {
        if (!Keys(c.object, a)) return false;
      } else if (child.templateName == "AnimationOptions") {
        if (!Enter(c.object)) return false;
        ValueReader r(child);
        DWORD openClosed, quality;
        if (!r.Dword(&openClosed) || !r.Dword(&quality) || !r.Done())
          return Fail("AnimationOptions needs two DWORDs");
        Leave(c.object);
      }
    }
    Leave(index);
    return true;
  }

  // Key types: 0 rotation (w, x, y, z), 1 scale, 2 position, 3 and 4 a matrix.
  bool Keys(uint32_t index, AnimationData* a) {
    if (!Enter(index)) return false;
    ValueReader r(doc_.objects[index]);
    DWORD type, count;
    if (!r.Dword(&type) || type > 4 || !r.Dword(&count) || !r.Fits(count, 2))
      return Fail("AnimationKey: bad type or key count");
    const DWORD expected = type == 0 ? 4 : (type <= 2 ? 3 : 16);
    for (DWORD k = 0; k < count; ++k) {
      DWORD time, n;
      float v[16];
      if (!r.Dword(&time) || !r.Dword(&n) || n != expected || !r.Floats(v, n))
        return Fail("AnimationKey: malformed key");
      const float t = float(time);
      if (type == 0) {
        a->rotation.push_back(D3DXKEY_QUATERNION{t, D3DXQUATERNION(v[1], v[2], v[3], v[0])});
      } else if (type == 1) {
        a->scale.push_back(D3DXKEY_VECTOR3{t, D3DXVECTOR3(v[0], v[1], v[2])});
      } else if (type == 2) {
        a->translation.push_back(D3DXKEY_VECTOR3{t, D3DXVECTOR3(v[0], v[1], v[2])});
      } else {
        D3DXVECTOR3 s, tr;
        D3DXQUATERNION q;
        Decompose(D3DXMATRIX(v), &s, &q, &tr);
        a->scale.push_back(D3DXKEY_VECTOR3{t, s});
        a->rotation.push_back(D3DXKEY_QUATERNION{t, q});
        a->translation.push_back(D3DXKEY_VECTOR3{t, tr});
      }
    }
    if (!r.Done()) return Fail("AnimationKey: more values than its count says");
    Leave(index);
    return true;
  }

  // An animation without scale, rotation or translation keys holds its frame's own value of
  // the missing part, so animating only rotations does not collapse the frame's position.
  void FillMissingKeys() {
    std::unordered_map<std::string_view, const D3DXMATRIX*> frames;
    for (const FrameData& f : scene_.frames)
      if (!f.name.empty()) frames.emplace(f.name, &f.transform);
    for (AnimationSetData& set : scene_.animationSets)
      for (AnimationData& a : set.animations) {
        const auto it = frames.find(a.target);
        if (it == frames.end()) continue;
        D3DXVECTOR3 s, t;
        D3DXQUATERNION q;
        Decompose(*it->second, &s, &q, &t);
        if (a.scale.empty()) a.scale.push_back(D3DXKEY_VECTOR3{0.0f, s});
        if (a.rotation.empty()) a.rotation.push_back(D3DXKEY_QUATERNION{0.0f, q});
        if (a.translation.empty()) a.translation.push_back(D3DXKEY_VECTOR3{0.0f, t});
      }
  }

  void BuildMesh(RawMesh* raw, MeshData* mesh);

  const Document& doc_;
  Scene& scene_;
  std::vector<bool> onPath_;
  size_t path_ = 0;
  size_t visits_ = 0, maxVisits_ = 0;
  size_t work_ = 0, maxWork_ = 0;
  std::string why_;
};

// Polygons become fans (v0, vk, vk+1); a position met with a normal other than the one its
// vertex already has gets a copy of the vertex for that normal.
void Builder::BuildMesh(RawMesh* raw, MeshData* mesh) {
  const DWORD fileVertices = DWORD(raw->positions.size());
  std::vector<DWORD> source(fileVertices);  // file vertex of each final vertex
  std::iota(source.begin(), source.end(), DWORD{0});
  std::vector<DWORD> cornerVertex = raw->corners;
  std::vector<DWORD> normalOf;  // index into raw->normals, kNone without one
  std::vector<DWORD> nextCopy;  // the next copy of the same file vertex, kNone at the end
  if (raw->hasNormals) {
    normalOf.assign(fileVertices, kNone);
    nextCopy.assign(fileVertices, kNone);
    for (size_t i = 0; i < raw->corners.size(); ++i) {
      const DWORD n = raw->normalCorners[i];
      DWORD v = raw->corners[i];
      if (normalOf[v] == kNone) {
        normalOf[v] = n;
        continue;
      }
      for (;;) {
        if (normalOf[v] == n || raw->normals[normalOf[v]] == raw->normals[n]) break;
        if (nextCopy[v] == kNone) {
          const DWORD copy = DWORD(source.size());
          source.push_back(source[v]);
          normalOf.push_back(n);
          nextCopy.push_back(kNone);
          nextCopy[v] = copy;
          v = copy;
          break;
        }
        v = nextCopy[v];
      }
      cornerVertex[i] = v;
    }
  }

  const size_t count = source.size();
  mesh->fvf = D3DFVF_XYZ;
  mesh->positions.resize(count);
  mesh->pointReps = source;
  for (size_t v = 0; v < count; ++v) mesh->positions[v] = raw->positions[source[v]];
  if (raw->hasNormals) {
    mesh->fvf |= D3DFVF_NORMAL;
    mesh->normals.resize(count);
    for (size_t v = 0; v < count; ++v)
      mesh->normals[v] =
          normalOf[v] == kNone ? D3DXVECTOR3(0.0f, 0.0f, 0.0f) : raw->normals[normalOf[v]];
  }
  if (raw->hasColors) {
    mesh->fvf |= D3DFVF_DIFFUSE;
    mesh->colors.resize(count);
    for (size_t v = 0; v < count; ++v) mesh->colors[v] = raw->colors[source[v]];
  }
  if (raw->hasTexcoords) {
    mesh->fvf |= D3DFVF_TEX1;
    mesh->texcoords.resize(count);
    for (size_t v = 0; v < count; ++v) mesh->texcoords[v] = raw->texcoords[source[v]];
  }

  const size_t polygons = raw->polyStart.size() - 1;
  for (size_t p = 0; p < polygons; ++p) {
    const DWORD first = raw->polyStart[p], end = raw->polyStart[p + 1];
    const DWORD attribute = raw->hasMaterials ? raw->polyMaterial[p] : 0;
    for (DWORD k = first + 1; k + 1 < end; ++k) {
      mesh->indices.push_back(cornerVertex[first]);
      mesh->indices.push_back(cornerVertex[k]);
      mesh->indices.push_back(cornerVertex[k + 1]);
      mesh->attributes.push_back(attribute);
    }
  }
  mesh->materials = std::move(raw->materials);

  mesh->skinned = raw->skinned;
  mesh->maxWeightsPerVertex = raw->maxPerVertex;
  mesh->maxWeightsPerFace = raw->maxPerFace;
  for (BoneData& bone : raw->bones) {
    BoneData out;
    out.name = std::move(bone.name);
    out.offset = bone.offset;
    for (size_t k = 0; k < bone.vertices.size(); ++k) {
      DWORD v = bone.vertices[k];
      for (;;) {
        out.vertices.push_back(v);
        out.weights.push_back(bone.weights[k]);
        if (!raw->hasNormals || nextCopy[v] == kNone) break;
        v = nextCopy[v];
      }
    }
    mesh->bones.push_back(std::move(out));
  }
  FinishMesh(mesh);
}

}  // namespace

void FinishMesh(MeshData* mesh) {
  const DWORD faces = mesh->NumFaces();
  std::vector<DWORD> order(faces);
  std::iota(order.begin(), order.end(), DWORD{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](DWORD a, DWORD b) { return mesh->attributes[a] < mesh->attributes[b]; });
  std::vector<DWORD> indices(mesh->indices.size()), attributes(faces);
  for (DWORD f = 0; f < faces; ++f) {
    std::copy_n(&mesh->indices[size_t(order[f]) * 3], 3, &indices[size_t(f) * 3]);
    attributes[f] = mesh->attributes[order[f]];
  }
  mesh->indices.swap(indices);
  mesh->attributes.swap(attributes);

  mesh->attributeTable.clear();
  for (DWORD f = 0; f < faces;) {
    DWORD end = f + 1;
    while (end < faces && mesh->attributes[end] == mesh->attributes[f]) ++end;
    const auto first = mesh->indices.begin() + ptrdiff_t(f) * 3;
    const auto last = mesh->indices.begin() + ptrdiff_t(end) * 3;
    const DWORD lo = *std::min_element(first, last), hi = *std::max_element(first, last);
    mesh->attributeTable.push_back(
        D3DXATTRIBUTERANGE{mesh->attributes[f], f, end - f, lo, hi - lo + 1});
    f = end;
  }
  mesh->adjacency.assign(size_t(faces) * 3, kNone);
  d3dx_mesh::AdjacencyFromPointReps(mesh->indices, mesh->NumVertices(), mesh->pointReps.data(),
                                    mesh->adjacency.data());
}

HRESULT BuildScene(const Document& doc, Scene* scene, std::string* why) {
  *scene = Scene{};
  try {
    Builder builder(doc, scene);
    if (!builder.Run()) {
      if (why) *why = builder.Why();
      *scene = Scene{};
      return D3DXERR_INVALIDDATA;
    }
  } catch (const std::bad_alloc&) {
    *scene = Scene{};
    if (why) *why = "out of memory";
    return E_OUTOFMEMORY;
  }
  return D3D_OK;
}

HRESULT LoadScene(const void* data, size_t size, Scene* scene, std::string* why) {
  Document doc;
  const HRESULT hr = ParseDocument(data, size, &doc, why);
  if (FAILED(hr)) {
    *scene = Scene{};
    return hr;
  }
  return BuildScene(doc, scene, why);
}

}  // namespace xfile
