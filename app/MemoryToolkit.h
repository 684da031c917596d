#pragma once
#include <array>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/Toolkit.h"

namespace vyk::app {

// The in-memory face of the toolkit layer: controls are records, the log a
// list of lines. Tests drive it as a user would (clicks, typing, timer ticks,
// dialog answers) and read back what a user would see.
class MemoryToolkit final : public Toolkit {
public:
    struct ControlState {
        ControlSpec layout;         // as created
        std::string text;
        bool enabled = true;
        bool checked = false;
        uint32_t colour = WindowTextColour;
        int charset = 1;
    };
    struct TimerState {
        unsigned intervalMs = 0;
        bool enabled = false;
    };
    struct Placement {
        int left = 0, top = 0, outerHeight = 0;
    };

    // Toolkit
    void Bind(FormEvents* events) override { events_ = events; }
    void CreateForm(const FormSpec& layout) override;
    void CreateControl(const ControlSpec& layout) override;
    void SetPanels(int statusBarId, const int* rightEdges, int count) override;
    void CreateTimer(int id, unsigned intervalMs, bool enabled) override;
    void SetCaption(std::string_view text) override { caption_ = text; }
    void SetPlacement(int left, int top, int outerHeight) override { placement_ = {left, top, outerHeight}; }
    void SetEnabled(int id, bool enabled) override;
    bool IsChecked(int id) override { return At(id).checked; }
    std::string GetText(int id) override { return At(id).text; }
    void SetText(int id, std::string_view text) override;
    void SetFontColour(int id, uint32_t colour) override;
    void SetFontCharset(int id, int charset) override { At(id).charset = charset; }
    void SetTimerEnabled(int id, bool enabled) override;
    void SetPanelText(int statusBarId, int panel, std::string_view text) override;
    void AppendLine(int id, std::string_view text) override;
    void ClearLines(int id) override;
    void ScrollLog(int id, LogScroll request) override;
    bool RunFileDialog(const FileDialogSpec& layout, std::string& path) override;
    void DisableGhosting() override { systemCalls_.emplace_back("ghosting off"); }
    void SetKeepAwake(bool on) override { systemCalls_.push_back(on ? "awake on" : "awake off"); }
    void SetFineTimerResolution(bool on) override { systemCalls_.push_back(on ? "1 ms timer on" : "1 ms timer off"); }
    void SetShutdownBlockReason(std::string_view reason) override
    {
        systemCalls_.push_back(reason.empty() ? "block reason off" : "block reason " + std::string(reason));
    }

    bool OpenRecord(const std::string& path, uint64_t& size) override;
    bool AppendRecord(std::string_view text) override;
    void CloseRecord() override { openRecord_.clear(); }
    bool ReplaceFile(const std::string& from, const std::string& to) override;
    std::string ProgramFolder() override { return programFolder; }
    std::string LocalAppDataFolder() override { return localAppData; }
    platform::Machine ReadMachine() override { return machine; }

    // The platform as a test sets it: files by path (the record's), paths
    // that cannot be opened, how many appends succeed before the disk is
    // full (-1: all), the folders and the notebook's SMBIOS.
    std::map<std::string, std::string> files;
    std::vector<std::string> unwritable;
    int appendsLeft = -1;
    std::string programFolder = "C:\\VYK_UU";
    std::string localAppData = "C:\\Users\\tech\\AppData\\Local";
    platform::Machine machine{"VYK", "NB-15", "SN0001"};
    const std::string& OpenRecordPath() const { return openRecord_; }

    // Driving, as a user. A click on a disabled control does nothing and
    // returns false; so does a tick of a disabled timer.
    bool Click(int id);
    bool Tick(int timerId);
    // Typing at the end of the log's last line (a line break starts a new
    // one), or replacing an edit's text.
    void Type(int id, std::string_view text);
    void Close();
    intptr_t PowerBroadcast(uintptr_t event);
    // As the system asks at logoff or shutdown: the window's answer, true
    // letting the session end; then whether it ends.
    bool QueryEndSession();
    void EndSession(bool ending);
    // The answer the next file dialog gives: a path, or nullopt for Cancel.
    void AnswerNextDialog(std::optional<std::string> path) { dialogAnswers_.push_back(std::move(path)); }

    // Reading back.
    const ControlState& Control(int id) const;
    bool HasControl(int id) const { return controls_.count(id) != 0; }
    const std::vector<int>& CreationOrder() const { return order_; }
    const FormSpec& Form() const { return form_; }
    const std::string& Caption() const { return caption_; }
    const Placement& WindowPlacement() const { return placement_; }
    const TimerState& Timer(int id) const { return timers_.at(id); }
    const std::vector<std::string>& LogLines() const { return log_; }
    const std::array<std::string, 7>& Panels() const { return panels_; }
    const std::vector<int>& PanelEdges() const { return panelEdges_; }
    // Every scroll request sent to the log, in order.
    const std::vector<LogScroll>& ScrollRequests() const { return scrolls_; }
    const std::vector<FileDialogSpec>& DialogsShown() const { return dialogs_; }
    // Every change of enabled state, in order: (control id, enabled).
    const std::vector<std::pair<int, bool>>& EnableChanges() const { return enableChanges_; }
    // Every text and font colour set, in order: (control id, "text ..." or
    // "colour RRGGBB" as 0x00BBGGRR in hex).
    const std::vector<std::pair<int, std::string>>& LookChanges() const { return lookChanges_; }
    // What the window told the system, in order: "ghosting off", "awake
    // on", "1 ms timer off", "block reason TEXT", "block reason off".
    const std::vector<std::string>& SystemCalls() const { return systemCalls_; }
    void ClearRecords()
    {
        scrolls_.clear();
        enableChanges_.clear();
        lookChanges_.clear();
        systemCalls_.clear();
    }

private:
    ControlState& At(int id);

    FormEvents* events_ = nullptr;
    FormSpec form_;
    std::string caption_;
    Placement placement_;
    std::map<int, ControlState> controls_;
    std::vector<int> order_;
    std::map<int, TimerState> timers_;
    std::vector<std::string> log_;
    std::array<std::string, 7> panels_;
    std::vector<int> panelEdges_;
    std::vector<LogScroll> scrolls_;
    std::deque<std::optional<std::string>> dialogAnswers_;
    std::vector<FileDialogSpec> dialogs_;
    std::vector<std::pair<int, bool>> enableChanges_;
    std::vector<std::pair<int, std::string>> lookChanges_;
    std::vector<std::string> systemCalls_;
    std::string openRecord_;
};

} // namespace vyk::app
