// The page's files (preview/page/), built into the program (see preview/CMakeLists.txt), so that
// the server serves these and nothing from the disk.
#pragma once

#include <cstddef>
#include <string_view>

namespace vpreview {

struct PageAsset {
  const char* name;  // the file's name: "index.html"
  const unsigned char* data;
  size_t size;
};

// The asset of that name, or null.
const PageAsset* FindPageAsset(std::string_view name);

// "text/html; charset=utf-8" and so on, by the name's extension.
const char* AssetType(std::string_view name);

}  // namespace vpreview
