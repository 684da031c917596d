#include "pd/Advice.h"

namespace vyk::pd {

namespace {

std::string PortText(const PdLeft& pd) { return "port " + std::to_string(pd.port); }

std::string RestoreCommand(const PdLeft& pd) { return RestoreCommandText(pd); }

// What a second run has to know about this run's backup. A new backup name
// would save the half-written range as the newest backup: never offered.
std::string BackupNote(const PdLeft& pd)
{
    if (pd.backupPath.empty())
        return {};
    return " The backup " + pd.backupPath +
           " holds the range as it was before this flash and is kept: flash the image again without --backup to "
           "complete. To put the old firmware back instead: " + RestoreCommand(pd);
}

} // namespace

std::string RestoreCommandText(const PdLeft& pd)
{
    return pd.tool + " flash --port " + std::to_string(pd.port) + pd.rangeArgs + " --image-at " + pd.backupImageAt +
           " " + ShellWord(pd.backupPath);
}

std::string InterruptedBackupAdvice(const PdLeft& pd, const std::string& completeCommand)
{
    return "The backup " + pd.backupPath + " holds the firmware from before that flash and is kept. Either complete "
           "the flash: flash the image without --backup (" + completeCommand + "); or restore the firmware from "
           "before: flash the backup (" + RestoreCommand(pd) + ")";
}

std::string ShellWord(const std::string& word)
{
#ifdef _WIN32
    if (!word.empty() && word.find_first_of(" \t&|<>^%\"()") == std::string::npos)
        return word;
    return "\"" + word + "\"";
#else
    if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                                                "-_./:=+,@%") == std::string::npos)
        return word;
    std::string out = "'";
    for (const char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
#endif
}

std::string ResetCommandText(const PdLeft& pd)
{
    return pd.tool + " reset --port " + std::to_string(pd.port);
}

std::string BootLoaderAdvice(const PdLeft& pd)
{
    const std::string state = PortText(pd) + "'s PD may be left in its boot loader (flashing mode)";
    switch (pd.stage) {
    case PdLeft::Stage::Writing:
        return state + " with " + std::to_string(pd.blocksWritten) + " of " + std::to_string(pd.blocksTotal) +
               " blocks sent and no validate: it may not start its firmware. Keep the notebook powered. "
               "Once the EC answers again, flash again to complete; " + ResetCommandText(pd) +
               " sends the PD back to the firmware it holds without flashing." + BackupNote(pd);
    case PdLeft::Stage::Written:
        return state + "; its flash was written and validated before the read-back, which did not complete. "
               "Once the EC answers again, " + ResetCommandText(pd) + " sends it back to its firmware; then flash "
               "again to have it verified.";
    case PdLeft::Stage::BeforeWrite:
    default:
        return state + "; nothing was written to it. Once the EC answers again, " + ResetCommandText(pd) +
               " sends it back to its firmware.";
    }
}

std::string MismatchAdvice(const PdLeft& pd, const std::string& imagePath)
{
    std::string restore = pd.backupPath.empty() ? std::string("a known good image")
                                                : "the backup (" + RestoreCommand(pd) + ")";
    return PortText(pd) + " was written, validated and reset, but holds bytes that differ from " + imagePath +
           ": it may run a damaged firmware or stay in its boot loader. Keep the notebook powered and flash again; "
           "if the read-back differs again, flash " + restore + " and suspect the PD's flash or the EC.";
}

std::string RetryAdvice(const PdLeft& pd)
{
    const std::string note = BackupNote(pd);
    return note.empty() ? note : note.substr(1);
}

std::string PdStateText(const PdLeft& pd)
{
    switch (pd.stage) {
    case PdLeft::Stage::Writing:
        return "boot loader (flashing mode), flash partly written, no validate";
    case PdLeft::Stage::Written:
        return "boot loader (flashing mode), flash written and validated, not verified";
    case PdLeft::Stage::BeforeWrite:
    default:
        return "boot loader (flashing mode), nothing written";
    }
}

std::string HardStopAdvice(const PdLeft& pd)
{
    std::string text = "\nvykuu: ended at once by a second interrupt: " + PortText(pd) +
                       "'s PD may be left in its boot loader (flashing mode)";
    if (pd.stage == PdLeft::Stage::Writing)
        text += " with its flash partly written; flash again to complete, or";
    else
        text += ";";
    return text + " send it back to its firmware with: " + ResetCommandText(pd) + "\n";
}

} // namespace vyk::pd

namespace vyk::pd {

std::string WindowBootLoaderAdvice(const PdLeft& pd)
{
    const std::string state = "port " + std::to_string(pd.port) +
                              "'s PD may be left in its boot loader (flashing mode)";
    const std::string reset = ResetCommandText(pd);
    switch (pd.stage) {
    case PdLeft::Stage::Writing:
        return state + " with " + std::to_string(pd.blocksWritten) + " of " + std::to_string(pd.blocksTotal) +
               " blocks sent and no validate: it may not start its firmware. Keep the notebook powered. Once the "
               "EC answers again, press \"Flash Go\" again with the image to complete; " + reset +
               " sends the PD back to the firmware it holds without flashing.";
    case PdLeft::Stage::Written:
        return state + "; its flash was written and validated before the read-back, which did not complete. "
               "Keep the notebook powered. Once the EC answers again, press \"Flash Go\" again with the image to "
               "flash and verify it, or " + reset + " sends it back to its firmware.";
    case PdLeft::Stage::BeforeWrite:
    default:
        return state + "; nothing was written to it. Keep the notebook powered. Once the EC answers again, " +
               reset + " sends it back to its firmware, or press \"Flash Go\" with its image.";
    }
}

std::string WindowMismatchAdvice(const PdLeft& pd)
{
    return "Port " + std::to_string(pd.port) + "'s PD may run a damaged firmware or stay in its boot loader. Keep "
           "the notebook on, on AC power, and press \"Flash Go\" again with the same image; if the read-back differs "
           "again, flash a known good image and suspect the PD's flash or the EC.";
}

} // namespace vyk::pd
