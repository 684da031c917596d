// Makes vyksimctl's bash completion from its template at build time, with
// the settings and their values taken from the simulator's own table:
//   vyksimctl-completion TEMPLATE OUT
// The template's @SETTING_KEYS@ becomes every key followed by "=", and its
// @SETTING_VALUES@ the case arms that offer the values of keys that have few.
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "sim/SimSettings.h"

namespace {

std::string Keys()
{
    std::string r;
    for (const auto& row : vyk::sim::SettingRows())
        r += (r.empty() ? "" : " ") + std::string(row.name) + "=";
    return r;
}

// One arm per set of values, naming every key that takes them.
std::string ValueArms()
{
    std::vector<std::pair<std::string, std::string>> arms;   // words, keys
    for (const auto& row : vyk::sim::SettingRows()) {
        std::string words;
        for (const std::string& w : vyk::sim::SettingChoices(row))
            words += (words.empty() ? "" : " ") + w;
        if (words.empty())
            continue;
        auto arm = arms.begin();
        while (arm != arms.end() && arm->first != words)
            ++arm;
        if (arm == arms.end())
            arms.emplace_back(words, row.name);
        else
            arm->second += std::string(" | ") + row.name;
    }
    std::string r;
    for (const auto& [words, keys] : arms)
        r += "                    " + keys + ")\n"
             "                        COMPREPLY=($(compgen -W '" + words + "' -- \"${cur#*=}\"))\n"
             "                        ;;\n";
    return r;
}

bool Replace(std::string& text, const std::string& mark, const std::string& by)
{
    const size_t at = text.find(mark);
    if (at == std::string::npos)
        return false;
    text.replace(at, mark.size(), by);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: vyksimctl-completion TEMPLATE OUT\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string arms = ValueArms();
    arms.pop_back();   // the template's line ends it
    if (!in || !Replace(text, "@SETTING_VALUES@", arms) || !Replace(text, "@SETTING_KEYS@", Keys())) {
        std::cerr << "vyksimctl-completion: " << argv[1] << " is not the completion's template\n";
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::cerr << "vyksimctl-completion: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
