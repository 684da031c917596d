#pragma once
#include <cstdint>
#include <string>

namespace vyk::pd {

// Where a run stands with a PD when it ends early, for the advice it leaves:
// the state the PD may be in and the command that puts it right.
struct PdLeft {
    enum class Stage {
        BeforeWrite,   // a read: the backup, or the read command
        Writing,       // the flash write
        Written,       // the verify's read, after a completed write
    };
    Stage stage = Stage::BeforeWrite;
    int port = 1;
    // "vykuu --sim nb": the tool and the options that reach the same EC.
    std::string tool = "vykuu";
    uint32_t blocksWritten = 0, blocksTotal = 0;
    // The backup this run wrote, and where its first byte belongs ("00C000").
    std::string backupPath, backupImageAt;
    // " --start 00C000 --end 00D000" when the range is not the default one;
    // a restore needs the same range.
    std::string rangeArgs;
};

// A word of a command line as a shell takes it back.
std::string ShellWord(const std::string& word);

// "vykuu --sim nb reset --port 1"
std::string ResetCommandText(const PdLeft& pd);

// After the EC stopped answering with the PD on its way into, or inside,
// flashing mode: no validate and no reset went out.
std::string BootLoaderAdvice(const PdLeft& pd);

// After a read-back that differs: the flash was written, validated and reset.
std::string MismatchAdvice(const PdLeft& pd, const std::string& imagePath);

// After a flash write stopped safely while a backup of this run exists,
// which a second run with the same command line would not replace.
std::string RetryAdvice(const PdLeft& pd);

// "vykuu flash --port 1 --image-at 00C000 bk/mix.bin": the backup flashed back.
std::string RestoreCommandText(const PdLeft& pd);

// When a rerun finds the range no longer matching the backup that an
// earlier run made: a flash was interrupted after it, and the backup holds
// the firmware from before. The two ways on; never a new backup name,
// which would save the half-written range as the newest backup.
std::string InterruptedBackupAdvice(const PdLeft& pd, const std::string& completeCommand);

// What the PD may be in if the run ends at once now: "boot loader
// (flashing mode), flash partly written, no validate".
std::string PdStateText(const PdLeft& pd);

// Said by a second interrupt as it ends the process at once: a whole line.
std::string HardStopAdvice(const PdLeft& pd);

} // namespace vyk::pd

namespace vyk::pd {

// The window's advice, in the words of its buttons; "vykuu reset" reaches
// a PD the window cannot.

// After an EC that stayed busy with CmdInit out: where the PD may be and
// how to bring it back.
std::string WindowBootLoaderAdvice(const PdLeft& pd);

// After a read-back that differs from the image the window flashed.
std::string WindowMismatchAdvice(const PdLeft& pd);

} // namespace vyk::pd
