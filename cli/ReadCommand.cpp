// vykuu read: a range into a file, written whole or not at all.
#include "cli/RunReport.h"
#include "cli/RunRecord.h"
#include "cli/Sidecar.h"
#include "pd/HexText.h"

namespace vyk::cli {

namespace {

void Read(const CommonOptions& common, const ReadOptions& options, Console& console, JsonSummary& summary)
{
    Range range;
    CheckRange(options.range, summary, range);
    summary.Set("output", AbsolutePath(options.outputPath));

    // Checked, and the temporary file made, before the EC is reached: a
    // folder that cannot be written fails now, not after every block.
    OutputFile output;
    try {
        output.Prepare(options.outputPath, OutputRules(common, "output", false, !options.force));
    } catch (NameTaken& taken) {
        // It may be the backup of another port or an earlier day.
        throw taken.Then(": give another name, or --force to replace it");
    }
    OutputFile record;
    if (!output.ToStdout())
        PrepareSidecar(common, options.outputPath, record);
    // Where the file's first byte belongs: the start of --start's block.
    const std::string imageAt = pd::HexDigits(range.FirstAddress(), 6);
    summary.Set("imageAt", imageAt);

    if (common.dryRun) {
        DryRunPorts(common, false, false, console, summary,
                    "would read " + BlocksText(range, options.range.port) + " into " + output.Target());
        return;
    }

    OpenBackend backend;
    Connect(common, false, false, console, summary, backend);
    Session session(*backend.io, pd::PdPortOf(options.range.port));

    PdLeft left;
    left.port = options.range.port;
    left.tool = ToolText(common);
    auto store = std::make_unique<pd::ImageStore>();
    const Phase reading{"read", false, "; nothing saved", &left};
    ReadRange(session, *store, reading, range, options.range.port, common, console);
    const auto size = static_cast<size_t>(store->ImageLength);
    try {
        output.Commit(store->ImageBuffer.data(), size);
    } catch (Failure& failure) {
        throw failure.Within("output " + options.outputPath);
    }
    summary.Set("bytes", store->ImageLength);
    RecordFile(summary, "output", output.ToStdout() ? "-" : output.Target(), store->ImageBuffer.data(), size);
    if (!output.ToStdout()) {
        try {
            WriteSidecar(record, ProvenanceOf(common, options.range.port, range, MachineOf(backend),
                                              store->ImageBuffer.data(), size));
        } catch (Failure& failure) {
            throw failure.Within("record " + SidecarPath(options.outputPath))
                .Then("; " + options.outputPath + " itself was saved whole");
        }
        summary.Set("record", AbsolutePath(SidecarPath(options.outputPath)));
    }
    const std::string where = output.ToStdout() ? std::string("standard output") : AbsolutePath(output.Target());
    console.Note("saved: " + BlocksText(range, options.range.port) + ", " + std::to_string(size) + " bytes, into " +
                 where + "; it flashes back with --image-at " + imageAt);
    console.SetAchieved("the read of " + BlocksText(range, options.range.port) + " completed and was saved into " +
                        where);
}

} // namespace

int RunRead(const CommonOptions& common, const ReadOptions& options, Console& console, JsonSummary& summary)
{
    summary.Set("command", "read");
    return Told(console, summary, [&] { Read(common, options, console, summary); });
}

} // namespace vyk::cli
