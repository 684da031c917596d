#include "app/MemoryToolkit.h"

#include <algorithm>

#include <cstdio>
#include <stdexcept>

namespace vyk::app {

MemoryToolkit::ControlState& MemoryToolkit::At(int id)
{
    auto it = controls_.find(id);
    if (it == controls_.end())
        throw std::logic_error("no control with id " + std::to_string(id));
    return it->second;
}

const MemoryToolkit::ControlState& MemoryToolkit::Control(int id) const
{
    auto it = controls_.find(id);
    if (it == controls_.end())
        throw std::logic_error("no control with id " + std::to_string(id));
    return it->second;
}

void MemoryToolkit::CreateForm(const FormSpec& layout)
{
    form_ = layout;
    caption_ = layout.caption;
    placement_ = {layout.left, layout.top, 0};
}

void MemoryToolkit::CreateControl(const ControlSpec& layout)
{
    if (controls_.count(layout.id))
        throw std::logic_error("control id used twice: " + std::to_string(layout.id));
    if (layout.parent != 0 && !controls_.count(layout.parent))
        throw std::logic_error("parent created after its child: " + std::to_string(layout.id));
    ControlState c;
    c.layout = layout;
    c.enabled = layout.enabled;
    c.checked = layout.checked;
    c.colour = layout.font.colour;
    c.charset = layout.font.charset;
    controls_[layout.id] = c;
    order_.push_back(layout.id);
    if (layout.kind == ControlKind::RichEdit) {
        log_.clear();
        if (*layout.text)
            AppendLine(layout.id, layout.text);
    } else {
        controls_[layout.id].text = layout.text;
    }
}

void MemoryToolkit::SetPanels(int, const int* rightEdges, int count)
{
    panelEdges_.assign(rightEdges, rightEdges + count);
}

void MemoryToolkit::CreateTimer(int id, unsigned intervalMs, bool enabled)
{
    timers_[id] = {intervalMs, enabled};
}

void MemoryToolkit::SetEnabled(int id, bool enabled)
{
    At(id).enabled = enabled;
    enableChanges_.emplace_back(id, enabled);
}

void MemoryToolkit::SetText(int id, std::string_view text)
{
    At(id).text = text;
    lookChanges_.emplace_back(id, "text " + std::string(text));
}

void MemoryToolkit::SetFontColour(int id, uint32_t colour)
{
    At(id).colour = colour;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%06X", static_cast<unsigned>(colour));
    lookChanges_.emplace_back(id, std::string("colour ") + hex);
}

void MemoryToolkit::SetTimerEnabled(int id, bool enabled)
{
    timers_.at(id).enabled = enabled;
}

void MemoryToolkit::SetPanelText(int, int panel, std::string_view text)
{
    panels_.at(static_cast<size_t>(panel)) = text;
}

void MemoryToolkit::AppendLine(int id, std::string_view text)
{
    (void)At(id);
    // As the rich edit: a line break and the text after the last line; an
    // empty text into an empty log leaves it empty.
    if (!log_.empty() || !text.empty())
        log_.emplace_back(text);
    if (events_)
        events_->OnChange(id);
}

void MemoryToolkit::ClearLines(int id)
{
    (void)At(id);
    log_.clear();
    if (events_)
        events_->OnChange(id);
}

void MemoryToolkit::ScrollLog(int id, LogScroll request)
{
    (void)At(id);
    scrolls_.push_back(request);
}

bool MemoryToolkit::RunFileDialog(const FileDialogSpec& layout, std::string& path)
{
    dialogs_.push_back(layout);
    if (dialogAnswers_.empty())
        throw std::logic_error("a file dialog opened that the test did not answer");
    std::optional<std::string> answer = dialogAnswers_.front();
    dialogAnswers_.pop_front();
    if (!answer)
        return false;
    path = *answer;
    return true;
}

bool MemoryToolkit::Click(int id)
{
    ControlState& c = At(id);
    if (!c.enabled)
        return false;
    if (c.layout.kind == ControlKind::RadioButton) {
        // Siblings of one parent form one group.
        for (auto& [otherId, other] : controls_)
            if (other.layout.kind == ControlKind::RadioButton && other.layout.parent == c.layout.parent)
                other.checked = otherId == id;
        return true;
    }
    if (events_)
        events_->OnClick(id);
    return true;
}

bool MemoryToolkit::Tick(int timerId)
{
    if (!timers_.at(timerId).enabled)
        return false;
    if (events_)
        events_->OnTimer(timerId);
    return true;
}

void MemoryToolkit::Type(int id, std::string_view text)
{
    ControlState& c = At(id);
    if (c.layout.kind == ControlKind::RichEdit) {
        // At the caret, which rests at the end of the last line; a typed line
        // break ("\r", "\n" or both) starts a new, empty last line.
        for (size_t i = 0; i < text.size(); ++i) {
            if (log_.empty())
                log_.emplace_back();
            if (text[i] == '\r' || text[i] == '\n') {
                if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                    ++i;
                log_.emplace_back();
            } else {
                log_.back() += text[i];
            }
        }
    } else {
        c.text = text;
    }
    if (events_)
        events_->OnChange(id);
}

void MemoryToolkit::Close()
{
    if (events_)
        events_->OnClose();
}

intptr_t MemoryToolkit::PowerBroadcast(uintptr_t event)
{
    return events_ ? events_->OnPowerBroadcast(event, 0) : 1;
}

bool MemoryToolkit::QueryEndSession()
{
    return events_ ? events_->OnQueryEndSession() : true;
}

void MemoryToolkit::EndSession(bool ending)
{
    if (events_)
        events_->OnEndSession(ending);
}

bool MemoryToolkit::OpenRecord(const std::string& path, uint64_t& size)
{
    if (std::find(unwritable.begin(), unwritable.end(), path) != unwritable.end())
        return false;
    openRecord_ = path;
    size = files[path].size();
    return true;
}

bool MemoryToolkit::AppendRecord(std::string_view text)
{
    if (openRecord_.empty() || appendsLeft == 0)
        return false;
    if (appendsLeft > 0)
        --appendsLeft;
    files[openRecord_] += text;
    return true;
}

bool MemoryToolkit::ReplaceFile(const std::string& from, const std::string& to)
{
    const auto it = files.find(from);
    if (it == files.end())
        return false;
    files[to] = it->second;
    files.erase(from);
    return true;
}

} // namespace vyk::app
