#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pd/JsonText.h"

namespace vyk::cli {

using pd::Json;
using pd::JsonText;

// The --json summary: one flat object. Its keys stand in one fixed order
// (Keys()), whatever the order the run set them in; setting a key again
// replaces its value in place.
class JsonSummary {
public:
    void Set(std::string_view key, std::string_view text);
    void Set(std::string_view key, const char* text) { Set(key, std::string_view(text)); }
    void Set(std::string_view key, int64_t number);
    void Set(std::string_view key, int number) { Set(key, static_cast<int64_t>(number)); }
    void Set(std::string_view key, uint32_t number) { Set(key, static_cast<int64_t>(number)); }
    void Set(std::string_view key, bool value);
    void SetSeconds(std::string_view key, double seconds);
    // A value the caller built (the versions read, the machine).
    void SetRaw(std::string_view key, Json value);

    std::string Text() const;
    // Called with Text() after every change (the record a process ended
    // at once still prints); empty: nothing.
    void Watch(std::function<void(const std::string&)> watcher) { watcher_ = std::move(watcher); }

    // Every key a summary may hold, in the order it prints them. A key
    // not listed is a mistake of the caller's (std::logic_error).
    static const std::vector<std::string_view>& Keys();

private:
    void Put(std::string_view key, Json value);
    std::map<std::string, Json, std::less<>> fields_;
    std::vector<std::string> unlisted_;   // keys Keys() lacks, in the order set
    std::function<void(const std::string&)> watcher_;
};

} // namespace vyk::cli
