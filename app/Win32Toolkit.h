#pragma once
#include <windows.h>

#include <exception>
#include <map>
#include <vector>
#include <string>

#include "app/Toolkit.h"

namespace vyk::app {

// The Win32 face of the toolkit layer: one top-level window of class
// "TForm1" with standard controls, a RichEdit 2.0 log and a status bar.
// Win32Controls.cpp makes the window and its controls; Win32Toolkit.cpp
// changes them and routes the messages.
class Win32Toolkit final : public Toolkit {
public:
    static constexpr const char* FormClassName = "TForm1";

    Win32Toolkit(HINSTANCE instance, HICON icon);
    ~Win32Toolkit() override;

    HWND Handle() const { return form_; }
    HWND Control(int id) const;
    // Shows the window and gives the first control of the focus order the focus.
    void Show();
    // Runs until the window is gone. An exception that escaped a handler ends
    // the loop and is rethrown here.
    void RunMessageLoop();

    void Bind(FormEvents* events) override { events_ = events; }
    void CreateForm(const FormSpec& layout) override;
    void CreateControl(const ControlSpec& layout) override;
    void SetPanels(int statusBarId, const int* rightEdges, int count) override;
    void CreateTimer(int id, unsigned intervalMs, bool enabled) override;
    void SetCaption(std::string_view text) override;
    void SetPlacement(int left, int top, int outerHeight) override;
    void SetEnabled(int id, bool enabled) override;
    bool IsChecked(int id) override;
    std::string GetText(int id) override;
    void SetText(int id, std::string_view text) override;
    void SetFontColour(int id, uint32_t colour) override;
    void SetFontCharset(int id, int charset) override;
    void SetTimerEnabled(int id, bool enabled) override;
    void SetPanelText(int statusBarId, int panel, std::string_view text) override;
    void AppendLine(int id, std::string_view text) override;
    void ClearLines(int id) override;
    void ScrollLog(int id, LogScroll request) override;
    bool RunFileDialog(const FileDialogSpec& layout, std::string& path) override;
    void DisableGhosting() override;
    void SetKeepAwake(bool on) override;
    void SetFineTimerResolution(bool on) override;
    void SetShutdownBlockReason(std::string_view reason) override;
    bool OpenRecord(const std::string& path, uint64_t& size) override;
    bool AppendRecord(std::string_view text) override;
    void CloseRecord() override;
    bool ReplaceFile(const std::string& from, const std::string& to) override;
    std::string ProgramFolder() override;
    std::string LocalAppDataFolder() override;
    platform::Machine ReadMachine() override;

private:
    static LRESULT CALLBACK FormProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    // The handlers HandleMessage routes to. OnCommand: false for a command
    // that is not from one of the form's controls.
    bool OnCommand(WPARAM wParam, LPARAM lParam);
    void DockStatusBars(int width, int height);
    LRESULT ColourStatic(HDC dc, HWND child);
    HFONT FontFor(const FontSpec& layout);
    void RestoreLogRedraw(int id);

    static constexpr UINT WmLogRedraw = WM_APP + 20;
    template <class F> void Guarded(F&& f);

    HINSTANCE instance_;
    HICON icon_;
    HWND form_ = nullptr;
    FormEvents* events_ = nullptr;
    std::map<int, HWND> controls_;
    // Status bars keep to the bottom edge of the client area, whatever
    // height the platform's frame leaves it.
    std::vector<int> dockedBottom_;
    std::map<int, uint32_t> colours_;
    std::map<int, unsigned> timerIntervals_;
    std::map<std::string, HFONT> fonts_;
    HANDLE record_ = INVALID_HANDLE_VALUE;
    bool programmaticChange_ = false;
    bool logRedrawDeferred_ = false;
    bool fineTimer_ = false;
    std::exception_ptr pendingError_;
};

} // namespace vyk::app
