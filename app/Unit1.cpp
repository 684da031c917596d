#include "app/Unit1.h"

#include "app/ControlIds.h"
#include "hw/ProjectVersion.h"
#include "pd/AddressField.h"
#include "pd/HexText.h"
#include "platform/Sha256.h"

namespace vyk::app {

TForm1* Form1 = nullptr;

namespace {

FontSpec WindowFont() { return {}; }

FontSpec BoldFont(uint32_t colour = WindowTextColour)
{
    FontSpec f;
    f.own = true;
    f.bold = true;
    f.colour = colour;
    return f;
}

FontSpec LogFont()
{
    FontSpec f;
    f.own = true;
    f.charset = 136;   // CHINESEBIG5_CHARSET in the layout; FormCreate sets 134
    return f;
}

ControlSpec Control(int id, ControlKind kind, int parent, int left, int top, int width, int height,
                    const char* text, FontSpec font, bool enabled, int tabOrder)
{
    ControlSpec c;
    c.id = id;
    c.kind = kind;
    c.parent = parent;
    c.left = left;
    c.top = top;
    c.width = width;
    c.height = height;
    c.text = text;
    c.font = font;
    c.enabled = enabled;
    c.tabOrder = tabOrder;
    c.tabStop = tabOrder >= 0 && kind != ControlKind::GroupBox && kind != ControlKind::GroupFrame;
    return c;
}

FileDialogSpec OpenDialogSettings()
{
    FileDialogSpec d;
    d.hideReadOnly = true;
    d.resizable = true;
    return d;
}

FileDialogSpec SaveDialogSettings()
{
    FileDialogSpec d;
    d.save = true;
    d.fileName = ".bin";
    d.filter = "*.Bin|Bin";
    d.hideReadOnly = true;
    d.resizable = true;
    return d;
}

} // namespace

TForm1::TForm1(Toolkit& toolkit, PortLibraryPlatform& platform, std::span<const uint8_t> portLibraryImage,
               pd::LocalClock clock, std::chrono::steady_clock::duration busyBound)
    : OpenDialog1(OpenDialogSettings()), SaveDialog1(SaveDialogSettings()), tk_(toolkit), platform_(platform),
      portLibraryImage_(portLibraryImage), clock_(std::move(clock)), busyBound_(busyBound)
{
    tk_.Bind(this);
    // Beside the program, or where that folder cannot be written (under
    // Program Files), in the user's own.
    const std::string appData = tk_.LocalAppDataFolder();
    record_ = std::make_unique<pd::LogRecord>(
        static_cast<pd::RecordFiles&>(*this),
        std::vector<std::string>{tk_.ProgramFolder() + "\\VYK_UU.log",
                                 appData.empty() ? std::string() : appData + "\\VYK_UU\\VYK_UU.log"},
        clock_);
    // A flash's block tick may hold the window past the system's hang
    // timeout; its ghost window could then be closed, ending the process.
    tk_.DisableGhosting();
    BuildLayout();
    flashWrite_.AdviseWhenStranded(pd::PdLeft::Stage::Writing);
    flashRead_.AdviseWhenStranded(pd::PdLeft::Stage::BeforeWrite);
    verify_.AdviseWhenStranded(pd::PdLeft::Stage::Written);
    FormCreate();
}

TForm1::~TForm1()
{
    tk_.CloseRecord();
    tk_.Bind(nullptr);
}

void TForm1::BuildLayout()
{
    FormSpec form;
    form.caption = "Form1";
    form.clientWidth = 481;
    form.clientHeight = 474;
    form.left = 770;
    form.top = 122;
    form.font = WindowFont();
    tk_.CreateForm(form);

    // Focus order first; the frames go beneath the controls they surround.
    const ControlSpec controls[] = {
        Control(IdButton1, ControlKind::Button, IdWindow, 16, 184, 75, 25, "Load Bin File", WindowFont(), true, 0),
        Control(IdRichEdit1, ControlKind::RichEdit, IdWindow, 8, 232, 465, 217, "RichEdit1", LogFont(), true, 1),
        Control(IdButton2, ControlKind::Button, IdWindow, 112, 184, 75, 25, "Flash Go", WindowFont(), false, 2),
        Control(IdEdit1, ControlKind::Edit, IdWindow, 16, 104, 65, 21, "00C000", BoldFont(), true, 3),
        Control(IdEdit2, ControlKind::Edit, IdWindow, 16, 152, 65, 21, "01FF00", BoldFont(), true, 4),
        Control(IdEdit3, ControlKind::Edit, IdWindow, 264, 104, 65, 21, "00C000", BoldFont(), true, 5),
        Control(IdEdit4, ControlKind::Edit, IdWindow, 264, 152, 65, 21, "01FF00", BoldFont(), true, 6),
        Control(IdButton3, ControlKind::Button, IdWindow, 264, 184, 75, 25, "Read FW", WindowFont(), true, 7),
        Control(IdButton4, ControlKind::Button, IdWindow, 360, 184, 75, 25, "Save Bin File", WindowFont(), false, 8),
        Control(IdRadioButton1, ControlKind::RadioButton, IdWindow, 16, 24, 97, 17, "PORT 1 PD", WindowFont(), true, 13),
        Control(IdRadioButton2, ControlKind::RadioButton, IdWindow, 16, 40, 97, 17, "PORT 2 PD", WindowFont(), true, 14),
        Control(IdLabel5, ControlKind::Label, IdWindow, 144, 16, 253, 13, "PORT1 FW2 VER : 00 00 00 00 00 00 00 00",
                BoldFont(0x008000), true, -1),
        Control(IdGroupBox1, ControlKind::GroupBox, IdWindow, 240, 72, 233, 153, "Read PD FW", WindowFont(), true, 9),
        Control(IdLabel3, ControlKind::Label, IdGroupBox1, 24, 16, 121, 13, "PD FW Start Address", BoldFont(), true, -1),
        Control(IdLabel4, ControlKind::Label, IdGroupBox1, 24, 64, 116, 13, "PD FW End Address", BoldFont(), true, -1),
        Control(IdGroupBox2, ControlKind::GroupBox, IdWindow, 8, 72, 217, 153, "Write PD FW", WindowFont(), true, 11),
        Control(IdLabel1, ControlKind::Label, IdGroupBox2, 8, 16, 121, 13, "PD FW Start Address", BoldFont(), true, -1),
        Control(IdLabel2, ControlKind::Label, IdGroupBox2, 8, 64, 116, 13, "PD FW End Address", BoldFont(), true, -1),
        Control(IdRadioGroup1, ControlKind::GroupFrame, IdWindow, 8, 8, 121, 57, "Switch TYPE C PD", WindowFont(), true, 12),
        Control(IdStatusBar1, ControlKind::StatusBar, IdWindow, 0, 455, 481, 19, "", WindowFont(), true, -1),
    };
    for (ControlSpec c : controls) {
        if (c.id == IdRadioButton1)
            c.checked = true;
        if (c.id == IdRadioButton2)
            c.tabStop = false;   // one stop for the pair: the checked button
        tk_.CreateControl(c);
    }
    tk_.SetPanels(IdStatusBar1, StatusPanelEdges, StatusPanelCount);

    tk_.CreateTimer(IdTimer1, 1000, false);
    tk_.CreateTimer(IdTimer2, 100, true);
    tk_.CreateTimer(IdTimer3, 10, true);
}

void TForm1::FormCreate()
{
    tk_.SetCaption(MainCaption);
    InitPortAccess();
    if (PortReady())
        tk_.SetTimerEnabled(IdTimer1, true);
    tk_.SetPlacement(400, 120, 510);
    tk_.ClearLines(IdRichEdit1);
    tk_.SetFontCharset(IdRichEdit1, 134);   // GB2312_CHARSET
    ec_.EcRamWrite(pd::EcInitRegister, pd::EcInitValue);
    Record(std::string("VYK_UU ") + ProjectVersion + " started, port access " +
               (PortReady() ? "ready" : "not ready") + " (" + portStatus_ + ")");
}

void TForm1::InitPortAccess()
{
    portAccess_ = vyk::InitPortAccess(platform_, portLibraryImage_);
    ShowPortStatus(portAccess_, *this);
    ec_.Bind(portAccess_.PortReady ? portAccess_.Io : nullptr);
}

void TForm1::Timer1Timer()
{
    monitor_.Tick();
}

void TForm1::Button1Click()
{
    std::string path;
    if (!tk_.RunFileDialog(OpenDialog1, path))
        return;
    if (!pd::LoadImageFile(*image_, path, [this](std::string_view line) { AddLogLine(line); }))
        return;
    EnableFlashGo();
    Record("Loaded " + path + ": " + std::to_string(image_->ImageLength) + " Byte, SHA-256 " +
                   platform::Sha256Hex(image_->ImageBuffer.data(), static_cast<size_t>(image_->ImageLength)));
}

void TForm1::RichEdit1Change()
{
    tk_.ScrollLog(IdRichEdit1, LogScroll::LineDown);
    tk_.ScrollLog(IdRichEdit1, LogScroll::Caret);
}

void TForm1::Button2Click()
{
    if (!flashWrite_.Start())
        return;
    verifyDue_ = true;
    RecordStart("Flash Go", pd::SequenceKind::Write);
    // Said before the PD is touched: a short image is padded, never silently.
    const std::string padding = pd::ImagePaddingLine(*image_, pd::ReadAddressField(tk_.GetText(IdEdit1)),
                                                     pd::ReadAddressField(tk_.GetText(IdEdit2)));
    if (!padding.empty())
        AddLogLine(padding);
}

void TForm1::Timer2Timer()
{
    flashWrite_.Tick();
    if (verifyDue_ && !flashWrite_.Running()) {
        verifyDue_ = false;
        if (flashWrite_.Outcome() == pd::SequenceOutcome::Completed)
            StartVerify();
    }
}

void TForm1::StartVerify()
{
    // The flash completed: whatever the read-back finds, a new flash or a
    // save is offered when it ends.
    flashGoOn_ = saveOn_ = true;
    verify_.StartOnRange({flashWrite_.StartBlock() << 8, flashWrite_.EndBlock() << 8});
}

void TForm1::Timer3Timer()
{
    flashRead_.Tick();
    verify_.Tick();
}

void TForm1::Button3Click()
{
    if (flashRead_.Start())
        RecordStart("Read FW", pd::SequenceKind::Read);
}

void TForm1::RecordStart(const char* what, pd::SequenceKind kind)
{
    const platform::Machine m = tk_.ReadMachine();
    const auto shown = [](const std::string& text) { return text.empty() ? std::string("(not given)") : text; };
    const pd::FlashRange range = RangeFor(kind).range;
    Record(std::string(what) + " on port " + std::to_string(pd::PortNumber(ChosenPort())) + ", range 0x" +
               pd::HexDigits(range.start, 6) + " to 0x" + pd::HexDigits(range.end, 6) + "; VYK_UU " + ProjectVersion + "; notebook maker " +
               shown(m.vendor) + ", model " + shown(m.product) + ", serial " + shown(m.serial));
}

void TForm1::Record(std::string_view text)
{
    // The record stops nothing: its failure is told once, in the log alone.
    const std::string failed = record_->Write(text);
    if (!failed.empty())
        tk_.AppendLine(IdRichEdit1, failed);
}


void TForm1::Button4Click()
{
    std::string path;
    if (!tk_.RunFileDialog(SaveDialog1, path))
        return;
    pd::SaveImageFile(*image_, path, [this](std::string_view line) { AddLogLine(line); });
}

void TForm1::FormClose()
{
    ec_.EcRamWrite(pd::HostActive, 0);
}

intptr_t TForm1::WMPowerBroadcast(uintptr_t, intptr_t)
{
    // Suspend, resume or anything else: taken, ignored, answered with 0.
    return 0;
}

void TForm1::Closing()
{
    if (closed_)
        return;
    closed_ = true;
    // Closing in the middle of a sequence would leave the PD in its boot
    // loader: stop it as an interrupt stops vykuu, then tell the EC we go.
    try {
        flashWrite_.StopNow();
        if (verifyDue_ && flashWrite_.Outcome() == pd::SequenceOutcome::Completed)
            AddLogLine("Verify: not read back, the window closed; the flash is not verified");
        verifyDue_ = false;
        flashRead_.StopNow();
        verify_.StopNow();
    } catch (...) {
        FormClose();
        throw;
    }
    FormClose();
}

void TForm1::OnClick(int id)
{
    switch (id) {
    case IdButton1: Button1Click(); break;
    case IdButton2: Button2Click(); break;
    case IdButton3: Button3Click(); break;
    case IdButton4: Button4Click(); break;
    default: break;
    }
}

void TForm1::OnTimer(int id)
{
    switch (id) {
    case IdTimer1: Timer1Timer(); break;
    case IdTimer2: Timer2Timer(); break;
    case IdTimer3: Timer3Timer(); break;
    default: break;
    }
}

void TForm1::OnChange(int id)
{
    if (id == IdRichEdit1)
        RichEdit1Change();
}

void TForm1::OnClose()
{
    Closing();
}

bool TForm1::OnQueryEndSession()
{
    if (!SequenceBusy())
        return true;
    if (!blockReasonSet_) {
        tk_.SetShutdownBlockReason(ShutdownBlockReason);
        blockReasonSet_ = true;
    }
    return false;
}

void TForm1::OnEndSession(bool ending)
{
    // The process ends when this returns, with no close to follow.
    if (ending)
        Closing();
}

intptr_t TForm1::OnPowerBroadcast(uintptr_t event, intptr_t data)
{
    return WMPowerBroadcast(event, data);
}

void TForm1::ShowPanelText(int panel, std::string_view text)
{
    if (panel == 2)
        portStatus_ = text;
    tk_.SetPanelText(IdStatusBar1, panel, text);
}

void TForm1::AddLogLine(std::string_view text)
{
    tk_.AppendLine(IdRichEdit1, text);
    Record(text);
}

void TForm1::AddStampedLogLine(std::string_view text)
{
    AddLogLine(pd::StampedLine(dateText_, timeText_, text));
}

void TForm1::ScrollLogLineDown()
{
    tk_.ScrollLog(IdRichEdit1, LogScroll::LineDown);
}

pd::RangeChoice TForm1::RangeFor(pd::SequenceKind kind)
{
    // The read-back runs over the range the write set up, never asks.
    if (kind == pd::SequenceKind::Write)
        return pd::ReadRangeFields("\"Write PD FW\" start address", tk_.GetText(IdEdit1),
                                   "\"Write PD FW\" end address", tk_.GetText(IdEdit2));
    return pd::ReadRangeFields("\"Read PD FW\" start address", tk_.GetText(IdEdit3), "\"Read PD FW\" end address",
                               tk_.GetText(IdEdit4));
}

pd::PdPort TForm1::ChosenPort()
{
    return tk_.IsChecked(IdRadioButton1) ? pd::PdPort::Port1 : pd::PdPort::Port2;
}

void TForm1::SequenceStarted(pd::SequenceKind kind)
{
    HoldWhileRunning(kind, true);
    SetSequenceControlsEnabled(false);
    SetSequenceTimer(kind, true);
}

void TForm1::SequenceEnded(pd::SequenceKind kind, pd::SequenceOutcome outcome)
{
    SetSequenceTimer(kind, false);
    // A completed write leaves the controls off for its read-back, which
    // gives them back.
    if (outcome != pd::SequenceOutcome::Completed)
        RestoreSequenceControls();
    else if (kind != pd::SequenceKind::Write)
        SetSequenceControlsEnabled(true);
    HoldWhileRunning(kind, false);
}

void TForm1::SetSequenceControlsEnabled(bool enabled)
{
    for (int id : {IdButton1, IdButton2, IdButton3, IdButton4, IdRadioButton1, IdRadioButton2})
        tk_.SetEnabled(id, enabled);
    // Switching off keeps what "Flash Go" and "Save Bin File" had, for a
    // sequence that stops short.
    if (enabled)
        flashGoOn_ = saveOn_ = true;
}

void TForm1::RestoreSequenceControls()
{
    tk_.SetEnabled(IdButton1, true);
    tk_.SetEnabled(IdButton2, flashGoOn_);
    tk_.SetEnabled(IdButton3, true);
    tk_.SetEnabled(IdButton4, saveOn_);
    tk_.SetEnabled(IdRadioButton1, true);
    tk_.SetEnabled(IdRadioButton2, true);
}

void TForm1::HoldWhileRunning(pd::SequenceKind kind, bool running)
{
    // Timer3 ticks every 10 ms: at the system's default 15.6 ms a read
    // would take half as long again.
    const bool read = kind != pd::SequenceKind::Write;
    if (running) {
        tk_.SetKeepAwake(true);
        if (read)
            tk_.SetFineTimerResolution(true);
        return;
    }
    if (read)
        tk_.SetFineTimerResolution(false);
    tk_.SetKeepAwake(false);
    if (blockReasonSet_) {
        tk_.SetShutdownBlockReason("");
        blockReasonSet_ = false;
    }
}

void TForm1::SetSequenceTimer(pd::SequenceKind kind, bool enabled)
{
    tk_.SetTimerEnabled(kind == pd::SequenceKind::Write ? IdTimer2 : IdTimer3, enabled);
}

void TForm1::EnableFlashGo()
{
    tk_.SetEnabled(IdButton2, true);
    flashGoOn_ = true;
}

void TForm1::RefreshClock()
{
    pd::FormatLocalDate(dateText_, clock_);
    pd::FormatLocalTime(timeText_, clock_);
    tk_.SetPanelText(IdStatusBar1, 0, dateText_);
    tk_.SetPanelText(IdStatusBar1, 1, timeText_);
}

void TForm1::VersionRead(pd::PdPort port, const uint8_t* version8)
{
    tk_.SetFontColour(IdLabel5, port == pd::PdPort::Port1 ? Port1LabelColour : Port2LabelColour);
    tk_.SetText(IdLabel5, pd::VersionLabelText(port, version8));
}

} // namespace vyk::app
