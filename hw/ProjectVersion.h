#pragma once

namespace vyk {

// The one version text of the project's tools (vykuu --version, vyksimctl
// --version). The build may define VYK_PROJECT_VERSION to give its own.
#ifndef VYK_PROJECT_VERSION
#define VYK_PROJECT_VERSION "1.3"
#endif
inline constexpr const char* ProjectVersion = VYK_PROJECT_VERSION;

} // namespace vyk
