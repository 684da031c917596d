// vykuu read: a range into a file, written whole or not at all.
#include "cli/RunReport.h"
#include "cli/RunRecord.h"
#include "cli/Sidecar.h"
#include "pd/HexText.h"

namespace vyk::cli {

namespace {

// The record beside the file saved whole.
void SaveRecord(platform::OutputFile& record, const Provenance& provenance, const std::string& file,
                JsonSummary& summary)
{
    try {
        WriteSidecar(record, provenance);
    } catch (Failure& failure) {
        throw failure.Within("record " + SidecarPath(file)).Then("; " + file + " itself was saved whole");
    }
    summary.Set("record", AbsolutePath(SidecarPath(file)));
}

void Read(const CommonOptions& common, const ReadOptions& options, Console& console, JsonSummary& summary)
{
    Range range;
    CheckRange(options.range, summary, range);
    summary.Set("output", AbsolutePath(options.outputPath));

    // Checked, and the temporary file made, before the EC is reached: a
    // folder that cannot be written fails now, not after every block.
    platform::OutputFile output;
    try {
        output.Prepare(options.outputPath, OutputRules(common, "output", false, !options.force));
    } catch (NameTaken& taken) {
        // It may be the backup of another port or an earlier day.
        throw taken.Then(": give another name, or --force to replace it");
    }
    platform::OutputFile record;
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

    platform::OpenBackend backend;
    Connect(common, false, false, console, summary, backend);
    pd::EcConnection connection(*backend.io, pd::PdPortOf(options.range.port));

    PdLeft left;
    left.port = options.range.port;
    left.tool = ToolText(common);
    auto store = std::make_unique<pd::ImageStore>();
    const Phase reading{"read", false, "; nothing saved", &left};
    ReadRange(connection, *store, reading, range, options.range.port, common, console);
    const auto size = static_cast<size_t>(store->ImageLength);
    try {
        output.Commit(store->ImageBuffer.data(), size);
    } catch (Failure& failure) {
        throw failure.Within("output " + options.outputPath);
    }
    summary.Set("bytes", store->ImageLength);
    RecordFile(summary, "output", output.ToStdout() ? "-" : output.Target(), store->ImageBuffer.data(), size);
    if (!output.ToStdout())
        SaveRecord(record, ProvenanceOf(common.toolVersion, options.range.port, range, platform::MachineOf(backend),
                                        store->ImageBuffer.data(), size),
                   options.outputPath, summary);
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
