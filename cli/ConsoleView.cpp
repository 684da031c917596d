#include "cli/ConsoleView.h"

#include "pd/ClockText.h"

namespace vyk::cli {

ConsoleView::ConsoleView(Console& console, std::string startText, std::string endText, int port)
    : console_(console), startText_(std::move(startText)), endText_(std::move(endText)), port_(port)
{
}

void ConsoleView::AddLogLine(std::string_view text)
{
    console_.LogLine(text);
    if (progress_)
        progress_();
}

void ConsoleView::AddStampedLogLine(std::string_view text)
{
    RefreshClock();
    AddLogLine(pd::StampedLine(dateText_, timeText_, text));
}

std::string ConsoleView::AddressFieldText(pd::AddressField field)
{
    switch (field) {
    case pd::AddressField::FlashStart:
    case pd::AddressField::ReadStart:
        return startText_;
    case pd::AddressField::FlashEnd:
    case pd::AddressField::ReadEnd:
        return endText_;
    }
    return {};
}

void ConsoleView::RefreshClock()
{
    const std::tm now = pd::LocalNow();
    dateText_ = pd::FormatDateText(now);
    timeText_ = pd::FormatTimeText(now);
}

void ConsoleView::SetVersionLabel(std::string_view text, uint32_t colour)
{
    labelColour_ = colour;
    label_ = text;
}

} // namespace vyk::cli
