#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vyk::cli {

// The --json summary: one flat object, keys in the order they were set.
class JsonSummary {
public:
    void Set(std::string_view key, std::string_view text);
    void Set(std::string_view key, const char* text) { Set(key, std::string_view(text)); }
    void Set(std::string_view key, int64_t number);
    void Set(std::string_view key, int number) { Set(key, static_cast<int64_t>(number)); }
    void Set(std::string_view key, uint32_t number) { Set(key, static_cast<int64_t>(number)); }
    void Set(std::string_view key, bool value);
    void SetSeconds(std::string_view key, double seconds);
    // A raw JSON value (an array built by the caller).
    void SetRaw(std::string_view key, std::string raw);

    std::string Text() const;
    // Called with Text() after every change (the record a process ended
    // at once still prints); empty: nothing.
    void Watch(std::function<void(const std::string&)> watcher) { watcher_ = std::move(watcher); }
    static std::string Quote(std::string_view text);

private:
    void Put(std::string_view key, std::string value);
    std::vector<std::pair<std::string, std::string>> fields_;
    std::function<void(const std::string&)> watcher_;
};

} // namespace vyk::cli
