#pragma once

namespace vyk {

// The one version text of the project's tools (vykuu --version, vyksimctl
// --version). The build defines VYK_PROJECT_VERSION for every target that
// links vyk_version (cmake/Version.cmake: the project() version and what git
// describes); the fallback serves a compile outside that build alone.
#ifndef VYK_PROJECT_VERSION
#define VYK_PROJECT_VERSION "1.3"
#endif
inline constexpr const char* ProjectVersion = VYK_PROJECT_VERSION;

} // namespace vyk
