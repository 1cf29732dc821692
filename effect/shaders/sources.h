// The seven GLSL sources, built when the module is loaded and destroyed when it is unloaded.
#pragma once

#include <string>

extern const std::string swizzleIn;
extern const std::string vert;
extern const std::string vertIdentity;
extern const std::string identity;
extern const std::string displace;
extern const std::string blurW;
extern const std::string blurH;
