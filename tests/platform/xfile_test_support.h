// Helpers for the .x tests: the test files, a writer that turns a text .x file into the binary
// encoding (32- or 64-bit floats) and one that MSZip-compresses any .x file, and an
// ID3DXAllocateHierarchy that counts what it hands out and can be told to fail.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "d3dx9.h"

namespace xfile_test {

// tests/data/xfiles/<name>, found from this header's own path.
inline std::string DataPath(const std::string& name) {
  std::string here = __FILE__;
  return here.substr(0, here.rfind('/')) + "/../data/xfiles/" + name;
}

inline std::string ReadData(const std::string& name) {
  std::ifstream in(DataPath(name), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// --- Text to binary ------------------------------------------------------------------------------
// Reads the text encoding the way its grammar is written and emits the binary tokens: names,
// strings (with a semicolon token after them), GUIDs, braces; in data, runs of integers become
// integer lists and runs of numbers with a point or exponent float lists; template declarations
// keep their punctuation and type keywords. Floats in the text must carry a point.
class BinaryWriter {
 public:
  static std::string Convert(std::string_view text, int floatBits) {
    BinaryWriter w(text, floatBits);
    w.Run();
    return w.out_;
  }

 private:
  BinaryWriter(std::string_view text, int floatBits) : text_(text), floatBits_(floatBits) {}

  void Word(uint16_t v) { out_.append(reinterpret_cast<const char*>(&v), 2); }
  void Dword(uint32_t v) { out_.append(reinterpret_cast<const char*>(&v), 4); }

  void Flush() {
    if (run_.empty()) return;
    Word(runIsFloat_ ? 7 : 6);
    Dword(uint32_t(run_.size()));
    for (double v : run_) {
      if (!runIsFloat_) {
        Dword(uint32_t(v));
      } else if (floatBits_ == 64) {
        out_.append(reinterpret_cast<const char*>(&v), 8);
      } else {
        const float f = float(v);
        out_.append(reinterpret_cast<const char*>(&f), 4);
      }
    }
    run_.clear();
  }

  void Number(std::string_view word) {
    const bool isFloat = word.find_first_of(".eE") != std::string_view::npos;
    const double v = std::stod(std::string(word));
    if (templateDepth_ > 0) {
      Word(3);
      Dword(uint32_t(v));
      return;
    }
    if (!run_.empty() && runIsFloat_ != isFloat) Flush();
    runIsFloat_ = isFloat;
    run_.push_back(v);
  }

  static int Keyword(std::string_view w) {
    static const std::pair<const char*, int> kWords[] = {
        {"WORD", 40},  {"DWORD", 41},   {"FLOAT", 42},   {"DOUBLE", 43}, {"CHAR", 44},
        {"UCHAR", 45}, {"SWORD", 46},   {"SDWORD", 47},  {"VOID", 48},   {"STRING", 49},
        {"LPSTR", 49}, {"UNICODE", 50}, {"CSTRING", 51}, {"array", 52},
    };
    for (const auto& [name, token] : kWords)
      if (w == name) return token;
    return 0;
  }

  void Run() {
    out_ = "xof 0303bin 00" + std::string(floatBits_ == 64 ? "64" : "32");
    size_t i = 16;
    while (i < text_.size()) {
      const char c = text_[i];
      if (std::isspace(static_cast<unsigned char>(c))) {
        ++i;
      } else if (c == '#' || (c == '/' && i + 1 < text_.size() && text_[i + 1] == '/')) {
        while (i < text_.size() && text_[i] != '\n') ++i;
      } else if (c == ',' || c == ';') {
        if (templateDepth_ > 0) {
          Word(c == ',' ? 19 : 20);
        } else if (afterString_ && c == ';') {
          afterString_ = false;  // written with the string
        }
        ++i;
      } else if (c == '{' || c == '}' || c == '[' || c == ']') {
        Flush();
        if (c == '{' && pendingTemplate_) {
          pendingTemplate_ = false;
          templateDepth_ = 1;
        } else if (templateDepth_ > 0 && c == '{') {
          ++templateDepth_;
        } else if (templateDepth_ > 0 && c == '}') {
          --templateDepth_;
        }
        Word(c == '{' ? 10 : c == '}' ? 11 : c == '[' ? 14 : 15);
        ++i;
      } else if (c == '"') {
        Flush();
        const size_t end = text_.find('"', i + 1);
        Word(2);
        Dword(uint32_t(end - i - 1));
        out_.append(text_.substr(i + 1, end - i - 1));
        Word(20);
        afterString_ = true;
        i = end + 1;
      } else if (c == '<') {
        Flush();
        const size_t end = text_.find('>', i);
        const std::string g(text_.substr(i + 1, end - i - 1));
        uint32_t d1;
        unsigned d2, d3, b[8];
        std::sscanf(g.c_str(), "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &d1, &d2, &d3, &b[0], &b[1],
                    &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]);
        Word(5);
        Dword(d1);
        Word(uint16_t(d2));
        Word(uint16_t(d3));
        for (unsigned x : b) out_.push_back(char(x));
        i = end + 1;
      } else if (c == '.' && text_.substr(i, 3) == "...") {
        Word(18);
        Word(18);
        Word(18);
        i += 3;
      } else {
        size_t end = i;
        while (end < text_.size() &&
               (std::isalnum(static_cast<unsigned char>(text_[end])) || text_[end] == '_' ||
                text_[end] == '-' || text_[end] == '.' || text_[end] == '+'))
          ++end;
        const std::string_view word = text_.substr(i, end - i);
        i = end;
        const char first = word[0];
        if (std::isdigit(static_cast<unsigned char>(first)) || first == '-' || first == '.') {
          Number(word);
          continue;
        }
        Flush();
        if (word == "template") {
          Word(31);
          pendingTemplate_ = true;
        } else if (const int k = templateDepth_ > 0 ? Keyword(word) : 0) {
          Word(uint16_t(k));
        } else {
          Word(1);
          Dword(uint32_t(word.size()));
          out_.append(word);
        }
      }
    }
    Flush();
  }

  std::string_view text_;
  int floatBits_;
  std::string out_;
  std::vector<double> run_;
  bool runIsFloat_ = false;
  bool afterString_ = false;
  bool pendingTemplate_ = false;
  int templateDepth_ = 0;
};

inline std::string ToBinary(std::string_view text, int floatBits = 32) {
  return BinaryWriter::Convert(text, floatBits);
}

// MSZip: the body after the header in blocks of at most `blockSize` bytes, each deflated as a
// stream of its own with the output so far as its dictionary.
inline std::string Compress(std::string_view file, size_t blockSize = 0x8000) {
  std::string out(file.substr(0, 16));
  out.replace(8, 4, file.substr(8, 3) == "txt" ? "tzip" : "bzip");
  const std::string_view body = file.substr(16);
  const uint32_t total = uint32_t(file.size());
  out.append(reinterpret_cast<const char*>(&total), 4);
  for (size_t at = 0; at < body.size(); at += blockSize) {
    const size_t n = std::min(blockSize, body.size() - at);
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    if (at > 0) {
      const size_t window = std::min<size_t>(at, 0x8000);
      deflateSetDictionary(&zs, reinterpret_cast<const Bytef*>(body.data() + at - window),
                           uInt(window));
    }
    std::vector<Bytef> packed(deflateBound(&zs, uLong(n)));
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data() + at));
    zs.avail_in = uInt(n);
    zs.next_out = packed.data();
    zs.avail_out = uInt(packed.size());
    deflate(&zs, Z_FINISH);
    const size_t packedSize = packed.size() - zs.avail_out;
    deflateEnd(&zs);
    const uint16_t sizes[2] = {uint16_t(n), uint16_t(packedSize + 2)};
    out.append(reinterpret_cast<const char*>(sizes), 4);
    out.append("CK");
    out.append(reinterpret_cast<const char*>(packed.data()), packedSize);
  }
  return out;
}

// --- An allocator that keeps count --------------------------------------------------------------
// Frames and containers are records of our own; the container copies the materials and AddRefs
// the mesh and skin information as an application's allocator would. Everything alive is counted,
// so a test can see that the loader destroyed what it made.
class CountingAllocator : public ID3DXAllocateHierarchy {
 public:
  struct Container : D3DXMESHCONTAINER {
    std::vector<D3DXMATERIAL> materials;
    std::vector<std::string> textures;
    std::vector<DWORD> adjacency;
    std::vector<std::string> effectFiles;
  };

  HRESULT STDMETHODCALLTYPE CreateFrame(LPCSTR Name, LPD3DXFRAME* ppNewFrame) override {
    *ppNewFrame = nullptr;
    if (failFrameAt_ >= 0 && framesMade_++ == failFrameAt_) return E_OUTOFMEMORY;
    auto* f = new D3DXFRAME{};
    f->Name = Name ? Copy(Name) : nullptr;
    *ppNewFrame = f;
    ++liveFrames;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE CreateMeshContainer(LPCSTR Name, const D3DXMESHDATA* pMeshData,
                                                const D3DXMATERIAL* pMaterials,
                                                const D3DXEFFECTINSTANCE* pEffectInstances,
                                                DWORD NumMaterials, const DWORD* pAdjacency,
                                                LPD3DXSKININFO pSkinInfo,
                                                LPD3DXMESHCONTAINER* ppNewMeshContainer) override {
    *ppNewMeshContainer = nullptr;
    if (failContainerAt_ >= 0 && containersMade_++ == failContainerAt_) return E_OUTOFMEMORY;
    auto* c = new Container{};
    c->Name = Name ? Copy(Name) : nullptr;
    c->MeshData = *pMeshData;
    c->MeshData.pMesh->AddRef();
    for (DWORD i = 0; i < NumMaterials; ++i) {
      c->materials.push_back(pMaterials[i]);
      c->textures.emplace_back(pMaterials[i].pTextureFilename ? pMaterials[i].pTextureFilename
                                                              : "");
      c->effectFiles.emplace_back(pEffectInstances && pEffectInstances[i].pEffectFilename
                                      ? pEffectInstances[i].pEffectFilename
                                      : "");
    }
    for (DWORD i = 0; i < NumMaterials; ++i)
      c->materials[i].pTextureFilename =
          pMaterials[i].pTextureFilename ? c->textures[i].data() : nullptr;
    c->pMaterials = c->materials.empty() ? nullptr : c->materials.data();
    c->NumMaterials = NumMaterials;
    c->adjacency.assign(pAdjacency, pAdjacency + 3 * pMeshData->pMesh->GetNumFaces());
    c->pAdjacency = c->adjacency.data();
    c->pSkinInfo = pSkinInfo;
    if (pSkinInfo) pSkinInfo->AddRef();
    *ppNewMeshContainer = c;
    ++liveContainers;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE DestroyFrame(LPD3DXFRAME pFrameToFree) override {
    delete[] pFrameToFree->Name;
    delete pFrameToFree;
    --liveFrames;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE
  DestroyMeshContainer(LPD3DXMESHCONTAINER pMeshContainerToFree) override {
    auto* c = static_cast<Container*>(pMeshContainerToFree);
    delete[] c->Name;
    c->MeshData.pMesh->Release();
    if (c->pSkinInfo) c->pSkinInfo->Release();
    delete c;
    --liveContainers;
    return S_OK;
  }

  // The n-th CreateFrame / CreateMeshContainer call (counting from 0) fails; -1 never.
  void FailFrameAt(int n) {
    failFrameAt_ = n;
    framesMade_ = 0;
  }
  void FailContainerAt(int n) {
    failContainerAt_ = n;
    containersMade_ = 0;
  }

  int liveFrames = 0;
  int liveContainers = 0;

 private:
  static char* Copy(const char* s) {
    char* out = new char[std::strlen(s) + 1];
    std::strcpy(out, s);
    return out;
  }

  int failFrameAt_ = -1, framesMade_ = 0;
  int failContainerAt_ = -1, containersMade_ = 0;
};

}  // namespace xfile_test
