#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Smbios.h"

namespace vyk::app {

// The thin layer between TForm1 and the windowing toolkit. Two faces: the
// Win32 one (the product) and an in-memory one for tests.

enum class ControlKind { GroupFrame, GroupBox, RadioButton, Label, Edit, Button, RichEdit, StatusBar };

inline constexpr uint32_t WindowTextColour = 0xFFFFFFFF;   // the system's window-text colour

struct FontSpec {
    bool own = false;        // false: the window's font
    bool bold = false;
    uint32_t colour = WindowTextColour;   // 0x00BBGGRR
    int charset = 1;         // DEFAULT_CHARSET
    const char* face = "MS Sans Serif";
    int height = 11;         // character height in pixels
};

struct ControlSpec {
    int id = 0;
    ControlKind kind = ControlKind::Label;
    int parent = 0;          // IdWindow or the id of a group box
    int left = 0, top = 0, width = 0, height = 0;
    const char* text = "";
    FontSpec font;
    bool enabled = true;
    int tabOrder = -1;       // -1: takes no focus
    bool tabStop = false;
    bool checked = false;
};

struct FormSpec {
    const char* caption = "";
    int clientWidth = 0, clientHeight = 0;
    int left = 0, top = 0;
    FontSpec font;
};

struct FileDialogSpec {
    bool save = false;
    std::string fileName;    // proposed name
    std::string filter;      // "label|pattern" pairs
    std::string defaultExt;
    bool hideReadOnly = false;
    bool resizable = false;
    bool mustExist = false;
    bool confirmOverwrite = false;
};

enum class LogScroll { LineDown, Caret };

// Events from the toolkit to the window's handlers.
class FormEvents {
public:
    virtual ~FormEvents() = default;
    virtual void OnClick(int id) = 0;
    virtual void OnTimer(int id) = 0;
    virtual void OnChange(int id) = 0;
    virtual void OnClose() = 0;
    // The power-management broadcast; the result is the window's answer.
    virtual intptr_t OnPowerBroadcast(uintptr_t event, intptr_t data) = 0;
    // The session is about to end (logoff, shutdown): true lets it.
    virtual bool OnQueryEndSession() = 0;
    // The session ends now (ending) or goes on after all; with ending the
    // process is ended once this returns, without a close.
    virtual void OnEndSession(bool ending) = 0;
};

class Toolkit {
public:
    virtual ~Toolkit() = default;

    virtual void Bind(FormEvents* events) = 0;
    virtual void CreateForm(const FormSpec& layout) = 0;
    virtual void CreateControl(const ControlSpec& layout) = 0;
    // Seven panels by right edge; -1 reaches the bar's end.
    virtual void SetPanels(int statusBarId, const int* rightEdges, int count) = 0;
    virtual void CreateTimer(int id, unsigned intervalMs, bool enabled) = 0;

    virtual void SetCaption(std::string_view text) = 0;
    // Screen position of the window and its outer height.
    virtual void SetPlacement(int left, int top, int outerHeight) = 0;

    virtual void SetEnabled(int id, bool enabled) = 0;
    virtual bool IsChecked(int id) = 0;
    virtual std::string GetText(int id) = 0;
    virtual void SetText(int id, std::string_view text) = 0;
    virtual void SetFontColour(int id, uint32_t colour) = 0;
    virtual void SetFontCharset(int id, int charset) = 0;
    virtual void SetTimerEnabled(int id, bool enabled) = 0;
    virtual void SetPanelText(int statusBarId, int panel, std::string_view text) = 0;

    // The log: one new last line; all lines removed; a scroll request sent
    // straight to the control.
    virtual void AppendLine(int id, std::string_view text) = 0;
    virtual void ClearLines(int id) = 0;
    virtual void ScrollLog(int id, LogScroll request) = 0;

    // Runs the dialog modally; true with the chosen full path when confirmed.
    virtual bool RunFileDialog(const FileDialogSpec& layout, std::string& path) = 0;

    // What the system is told while a firmware operation runs.
    // No ghost window stands in for a window that answers late: a ghost can
    // be closed, which ends the process in the middle of a long handler.
    virtual void DisableGhosting() = 0;
    // The system stays awake (no sleep, no hibernation) while on.
    virtual void SetKeepAwake(bool on) = 0;
    // System timers tick at 1 ms while on, instead of the default 15.6 ms.
    virtual void SetFineTimerResolution(bool on) = 0;
    // Shown by the system when the session is to end; empty removes it.
    virtual void SetShutdownBlockReason(std::string_view reason) = 0;

    // The window's record file (pd/LogRecord): opened for appending, its
    // folder made when missing, with its size; each text handed to the
    // system at once; renamed over an old one.
    virtual bool OpenRecord(const std::string& path, uint64_t& size) = 0;
    virtual bool AppendRecord(std::string_view text) = 0;
    virtual void CloseRecord() = 0;
    virtual bool ReplaceFile(const std::string& from, const std::string& to) = 0;
    // The running program's folder, and %LOCALAPPDATA% (empty when unset),
    // without a trailing separator.
    virtual std::string ProgramFolder() = 0;
    virtual std::string LocalAppDataFolder() = 0;
    // Who the notebook says it is in its SMBIOS tables; empty where it does not.
    virtual platform::Machine ReadMachine() = 0;
};

} // namespace vyk::app
