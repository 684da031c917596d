// The record beside a file read from a PD (FILE.json), as text: written
// with the file, and read back before that file is flashed.
#include <exception>
#include <map>

#include "pd/ImageRecord.h"
#include "pd/JsonText.h"

namespace vyk::pd {

std::string SidecarPath(const std::string& file) { return file + ".json"; }

std::string SidecarText(const Provenance& p)
{
    const Json record = {
        {"savedBy", "vykuu"}, {"toolVersion", p.toolVersion}, {"time", p.time},
        {"port", p.port},     {"start", p.start},             {"end", p.end},
        {"vendor", p.vendor}, {"product", p.product},         {"serial", p.serial},
        {"bytes", p.bytes},   {"sha256", p.sha256},
    };
    return JsonText(record) + "\n";
}

namespace {

// The record's members as texts: it holds strings and whole numbers only,
// and a number of 16 digits or more is no size or port.
bool Fields(const Json& record, std::map<std::string, std::string>& fields, std::string& why)
{
    if (!record.is_object()) {
        why = "it does not begin with {";
        return false;
    }
    for (const auto& member : record.items()) {
        const Json& value = member.value();
        if (value.is_string()) {
            fields[member.key()] = value.get<std::string>();
        } else if (value.is_number_integer() && value.dump().size() < 16) {
            fields[member.key()] = value.dump();
        } else {
            why = "the value of \"" + member.key() + "\" is neither a string nor a whole number";
            return false;
        }
    }
    return true;
}

bool ParseFields(const std::string& text, Provenance& p, std::string& why)
{
    Json record;
    try {
        record = Json::parse(text);
    } catch (const Json::parse_error& error) {
        why = "it is not well-formed JSON (at byte " + std::to_string(error.byte) + ")";
        return false;
    }
    std::map<std::string, std::string> fields;
    if (!Fields(record, fields, why))
        return false;
    for (const char* key : {"port", "start", "end", "bytes", "sha256"}) {
        if (!fields.count(key)) {
            why = std::string("it has no \"") + key + "\"";
            return false;
        }
    }
    p.port = std::stoi(fields["port"]);
    p.start = fields["start"];
    p.end = fields["end"];
    p.vendor = fields["vendor"];
    p.product = fields["product"];
    p.serial = fields["serial"];
    p.toolVersion = fields["toolVersion"];
    p.time = fields["time"];
    p.bytes = std::stoll(fields["bytes"]);
    p.sha256 = fields["sha256"];
    return true;
}

} // namespace

bool ParseSidecar(const std::string& text, Provenance& p, std::string& why)
{
    try {
        return ParseFields(text, p, why);
    } catch (const std::exception&) {
        why = "a number or an escape in it is out of shape";
        return false;
    }
}

} // namespace vyk::pd
