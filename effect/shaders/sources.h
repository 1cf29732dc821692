// The seven GLSL sources, and the process-wide render lock that is built with them when the
// module is loaded. All are destroyed when the module is unloaded.
#pragma once

#include <mutex>
#include <string>

extern const std::string swizzleIn;
extern const std::string vert;
extern const std::string vertIdentity;
extern const std::string identity;
extern const std::string displace;
extern const std::string blurW;
extern const std::string blurH;

// Held by a render for its whole GL phase, so GL work of renders never overlaps in the process.
extern std::recursive_mutex globalMutex;
