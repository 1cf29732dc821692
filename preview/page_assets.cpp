#include "preview/page_assets.h"

namespace vpreview {

// Generated at build time from the files in page/.
extern const PageAsset kPageAssets[];
extern const size_t kPageAssetCount;

const PageAsset* FindPageAsset(std::string_view name) {
  for (size_t i = 0; i < kPageAssetCount; ++i)
    if (name == kPageAssets[i].name) return &kPageAssets[i];
  return nullptr;
}

const char* AssetType(std::string_view name) {
  if (name.ends_with(".html")) return "text/html; charset=utf-8";
  if (name.ends_with(".js")) return "text/javascript; charset=utf-8";
  if (name.ends_with(".css")) return "text/css; charset=utf-8";
  return "application/octet-stream";
}

}  // namespace vpreview
