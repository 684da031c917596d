#include "cli/Sidecar.h"

#include "cli/RunRecord.h"
#include "cli/Platform.h"
#include "pd/HexText.h"

namespace vyk::cli {

std::string SidecarPath(const std::string& file) { return file + ".json"; }

Provenance ProvenanceOf(const CommonOptions& common, int port, const Range& range, const Machine& machine,
                        const uint8_t* data, size_t size)
{
    Provenance p;
    p.port = port;
    p.start = pd::HexDigits(range.FirstAddress(), 6);
    p.end = pd::HexDigits(range.EndAddress(), 6);
    p.vendor = machine.vendor;
    p.product = machine.product;
    p.serial = machine.serial;
    p.toolVersion = common.toolVersion;
    p.time = UtcTimeText(std::chrono::system_clock::now());
    p.bytes = static_cast<int64_t>(size);
    p.sha256 = Sha256Hex(data, size);
    return p;
}

void PrepareSidecar(const CommonOptions& common, const std::string& file, OutputFile& sidecar)
{
    sidecar.Prepare(SidecarPath(file), OutputRules(common, "record", false));
}

void WriteSidecar(OutputFile& sidecar, const Provenance& provenance)
{
    const std::string text = SidecarText(provenance);
    sidecar.Commit(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

} // namespace vyk::cli
