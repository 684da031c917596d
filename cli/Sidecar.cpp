#include "cli/Sidecar.h"


namespace vyk::cli {

void PrepareSidecar(const CommonOptions& common, const std::string& file, platform::OutputFile& sidecar)
{
    sidecar.Prepare(SidecarPath(file), OutputRules(common, "record", false));
}

void WriteSidecar(platform::OutputFile& sidecar, const Provenance& provenance)
{
    const std::string text = pd::SidecarText(provenance);
    sidecar.Commit(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

} // namespace vyk::cli
