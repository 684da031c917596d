#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "app/PortStatus.h"
#include "app/Toolkit.h"
#include "hw/EcRam.h"
#include "hw/PortAccessInit.h"
#include "pd/ClockText.h"
#include "pd/Mailbox.h"
#include "pd/FrontEnd.h"

#include "pd/FlashReadSequence.h"
#include "pd/FlashVerify.h"
#include "pd/FlashWriteSequence.h"
#include "pd/ImageBuffer.h"
#include "pd/LogRecord.h"
#include "pd/PortSelection.h"
#include "pd/VersionMonitor.h"

namespace vyk::app {

inline constexpr const char* MainCaption = "VYK EC CYPD(CCG5) FW UPDATE UTILITY V1.3";
inline constexpr int StatusPanelCount = 7;
inline constexpr int StatusPanelEdges[StatusPanelCount] = {64, 128, 178, 218, 258, 330, -1};
// Label5's font colour for each port's version, 0x00BBGGRR.
inline constexpr uint32_t Port1LabelColour = 0x008000;   // green
inline constexpr uint32_t Port2LabelColour = 0xFF0000;   // blue

// The main window: every control, the three timers, the log and the status
// bar. The toolkit is reached only through `Toolkit`; the hardware only
// through the port library the platform binds.
class TForm1 final : public pd::FrontEnd, private FormEvents, private PortAccessReport, private pd::RecordFiles {
public:
    // Builds the layout, then runs FormCreate, as the toolkit does for a form.
    // `busyBound` bounds the sequences' in-tick waits on the EC.
    TForm1(Toolkit& toolkit, PortLibraryPlatform& platform, std::span<const uint8_t> portLibraryImage,
           pd::LocalClock clock = pd::LocalNow, std::chrono::steady_clock::duration busyBound = pd::BusySpinLimit);
    ~TForm1() override;

    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // Handlers, in declaration order.
    void FormCreate();
    void Timer1Timer();
    void Button1Click();
    void RichEdit1Change();
    void Button2Click();
    void Timer2Timer();
    void Timer3Timer();
    void Button3Click();
    void Button4Click();
    void FormClose();
    intptr_t WMPowerBroadcast(uintptr_t event, intptr_t data);
    // What every end of the window runs once (a close, the session ending,
    // an error that escaped): a running sequence stops safely, then FormClose.
    void Closing();

    // FrontEnd
    void AddLogLine(std::string_view text) override;
    void AddStampedLogLine(std::string_view text) override;
    void ScrollLogLineDown() override;
    // Edit1/Edit2 for a write, Edit3/Edit4 for a read, as the window reads them.
    pd::RangeChoice RangeFor(pd::SequenceKind kind) override;
    // RadioButton1 ("PORT 1 PD") checked: port 1.
    pd::PdPort ChosenPort() override;
    std::string PortStatusText() override { return portStatus_; }
    void SequenceStarted(pd::SequenceKind kind) override;
    void SequenceEnded(pd::SequenceKind kind, pd::SequenceOutcome outcome) override;
    void RefreshClock() override;
    // Label5: font colour first, then the caption.
    void VersionRead(pd::PdPort port, const uint8_t* version8) override;

    // Enables "Flash Go" alone, after an image has been loaded.
    void EnableFlashGo();

    // The record of this run: the file it goes to (empty while none).
    const pd::LogRecord& Record() const { return *record_; }

    bool PortReady() const { return ec_.PortReady(); }
    const PortAccess& PortAccessState() const { return portAccess_; }
    const char* DateText() const { return dateText_; }
    const char* TimeText() const { return timeText_; }
    EcRam& Ec() { return ec_; }
    pd::ImageStore& Image() { return *image_; }
    const pd::FlashWriteSequence& FlashWrite() const { return flashWrite_; }
    const pd::FlashReadSequence& FlashRead() const { return flashRead_; }
    // The read-back that follows every completed "Flash Go".
    const pd::VerifySequence& Verify() const { return verify_; }
    // Any of the three sequences runs.
    bool SequenceBusy() const { return flashWrite_.Running() || flashRead_.Running() || verify_.Running(); }

    const FileDialogSpec OpenDialog1;
    const FileDialogSpec SaveDialog1;

private:
    void BuildLayout();
    void InitPortAccess();

    // FormEvents
    void OnClick(int id) override;
    void OnTimer(int id) override;
    void OnChange(int id) override;
    void OnClose() override;
    intptr_t OnPowerBroadcast(uintptr_t event, intptr_t data) override;
    bool OnQueryEndSession() override;
    void OnEndSession(bool ending) override;

    // Into the record only: every log line, and what the window does not show.
    void Record(std::string_view text);
    // At each start: the port, the range, the program and the notebook.
    void RecordStart(const char* what, pd::SequenceKind kind);
    // Button1, Button2, Button3, Button4, RadioButton1, RadioButton2, in
    // that order.
    void SetSequenceControlsEnabled(bool enabled);
    // After a sequence stopped short (range refused, EC stayed busy):
    // Button1, Button3 and the radio buttons on again, "Flash Go" and "Save
    // Bin File" as they were before it started. Only a completed sequence
    // offers new data to flash or save.
    void RestoreSequenceControls();
    // Timer2 ticks the write, Timer3 the read and the read-back.
    void SetSequenceTimer(pd::SequenceKind kind, bool enabled);
    // What guards a running sequence, held for exactly as long as it runs.
    void HoldWhileRunning(pd::SequenceKind kind, bool running);

    // RecordFiles, through the toolkit.
    bool OpenRecord(const std::string& path, uint64_t& size) override { return tk_.OpenRecord(path, size); }
    bool AppendRecord(std::string_view text) override { return tk_.AppendRecord(text); }
    void CloseRecord() override { tk_.CloseRecord(); }
    bool ReplaceFile(const std::string& from, const std::string& to) override { return tk_.ReplaceFile(from, to); }

    // PortAccessReport
    // (RefreshClock above serves the report too.)
    void ShowPanelText(int panel, std::string_view text) override;

    Toolkit& tk_;
    PortLibraryPlatform& platform_;
    std::span<const uint8_t> portLibraryImage_;
    pd::LocalClock clock_;
    const std::chrono::steady_clock::duration busyBound_;
    PortAccess portAccess_;
    char dateText_[9] = {};
    char timeText_[9] = {};

    std::unique_ptr<pd::LogRecord> record_;
    EcRam ec_;
    pd::Mailbox mailbox_{ec_};
    std::unique_ptr<pd::ImageStore> image_ = std::make_unique<pd::ImageStore>();
    pd::PortSelection ports_;
    pd::FlashWriteSequence flashWrite_{mailbox_, *image_, ports_, *this, busyBound_};
    pd::FlashReadSequence flashRead_{mailbox_, *image_, ports_, *this, busyBound_};
    std::unique_ptr<pd::ImageStore> readBack_ = std::make_unique<pd::ImageStore>();
    pd::VerifySequence verify_{mailbox_, *readBack_, *image_, ports_, *this, busyBound_};
    pd::VersionMonitor monitor_{mailbox_, ports_, *this};
    // A "Flash Go" runs; its read-back starts once it completes.
    bool verifyDue_ = false;
    void StartVerify();
    // Whether "Flash Go" and "Save Bin File" were on before the running
    // sequence switched them off; both are off when the window opens.
    bool flashGoOn_ = false;
    bool saveOn_ = false;
    std::string portStatus_;   // status panel 2
    bool blockReasonSet_ = false;
    bool closed_ = false;
};

// What Windows shows for the window when the session is to end while a
// sequence runs.
inline constexpr const char* ShutdownBlockReason =
    "Updating the PD firmware: wait until VYK_UU has finished, or the PD may be left in its boot loader";

// The one main window of the process.
extern TForm1* Form1;

} // namespace vyk::app
