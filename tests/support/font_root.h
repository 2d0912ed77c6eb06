// A font root like the installed one but without some files, as on a machine that lacks a font
// package: links to every installed font file except those named, made for the fixture's life.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <string>

#include "platform/text/font_service.h"

namespace font_test {

constexpr const char kInstalledRoot[] = "/usr/share/fonts/truetype";

class ScopedFontRoot {
 public:
  explicit ScopedFontRoot(std::initializer_list<const char*> omitted) {
    static int serial = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("vexa-fonts-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
    for (const char* dir : {"dejavu", "liberation2"}) {
      std::filesystem::create_directories(path_ / dir);
      for (const auto& entry :
           std::filesystem::directory_iterator(std::string(kInstalledRoot) + "/" + dir)) {
        bool keep = true;
        for (const char* name : omitted) keep &= entry.path().filename() != name;
        if (keep)
          std::filesystem::create_symlink(entry.path(), path_ / dir / entry.path().filename());
      }
    }
    text::SetFontRoot(path_.string());
  }
  ~ScopedFontRoot() {
    text::SetFontRoot(kInstalledRoot);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScopedFontRoot(const ScopedFontRoot&) = delete;
  ScopedFontRoot& operator=(const ScopedFontRoot&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace font_test
