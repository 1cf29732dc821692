// Definitions in one translation unit so that load-time initialisation builds them in order.
#include "shaders/sources.h"

#include "shaders/glsl.h"

const std::string swizzleIn = kSwizzleInSource;
const std::string vert = kVertSource;
const std::string vertIdentity = kVertIdentitySource;
const std::string identity = kIdentitySource;
const std::string displace = kDisplaceSource;
const std::string blurW = std::string(kBlurHeadSource) + kBlurWStep + kBlurTailSource;
const std::string blurH = std::string(kBlurHeadSource) + kBlurHStep + kBlurTailSource;
