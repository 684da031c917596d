#pragma once
#include "platform/Sha256.h"

namespace vyk::cli {

using platform::Sha256;
using platform::Sha256Hex;

} // namespace vyk::cli
