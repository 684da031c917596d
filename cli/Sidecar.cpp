#include "cli/Sidecar.h"

#include <cctype>
#include <exception>
#include <map>

#include "cli/JsonSummary.h"
#include "cli/RunRecord.h"
#include "cli/Platform.h"
#include "pd/HexText.h"

namespace vyk::cli {

std::string SidecarPath(const std::string& file) { return file + ".json"; }

Provenance ProvenanceOf(const CommonOptions& common, int port, const Range& range, const Machine& machine,
                        const uint8_t* data, size_t size)
{
    Provenance p;
    p.port = port;
    p.start = pd::HexDigits(range.FirstAddress(), 6);
    p.end = pd::HexDigits(range.EndAddress(), 6);
    p.vendor = machine.vendor;
    p.product = machine.product;
    p.serial = machine.serial;
    p.toolVersion = common.toolVersion;
    p.time = UtcTimeText(std::chrono::system_clock::now());
    p.bytes = static_cast<int64_t>(size);
    p.sha256 = Sha256Hex(data, size);
    return p;
}

void PrepareSidecar(const CommonOptions& common, const std::string& file, OutputFile& sidecar)
{
    sidecar.Prepare(SidecarPath(file), OutputRules(common, "record", false));
}

void WriteSidecar(OutputFile& sidecar, const Provenance& provenance)
{
    const std::string text = SidecarText(provenance);
    sidecar.Commit(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string SidecarText(const Provenance& p)
{
    JsonSummary json;
    json.Set("savedBy", "vykuu");
    json.Set("toolVersion", p.toolVersion);
    json.Set("time", p.time);
    json.Set("port", p.port);
    json.Set("start", p.start);
    json.Set("end", p.end);
    json.Set("vendor", p.vendor);
    json.Set("product", p.product);
    json.Set("serial", p.serial);
    json.Set("bytes", p.bytes);
    json.Set("sha256", p.sha256);
    return json.Text() + "\n";
}

namespace {

// The small JSON this file holds: one object, string and integer values.
class FlatReader {
public:
    explicit FlatReader(const std::string& text) : s_(text) {}

    bool Read(std::map<std::string, std::string>& fields, std::string& why)
    {
        Blanks();
        if (!Take('{'))
            return Fail(why, "it does not begin with {");
        Blanks();
        if (Take('}'))
            return End(why);
        for (;;) {
            std::string key, value;
            Blanks();
            if (!String(key))
                return Fail(why, "a key is not a string");
            Blanks();
            if (!Take(':'))
                return Fail(why, "no : after \"" + key + "\"");
            Blanks();
            if (i_ < s_.size() && s_[i_] == '"') {
                if (!String(value))
                    return Fail(why, "the value of \"" + key + "\" is not a whole string");
            } else if (!Number(value)) {
                return Fail(why, "the value of \"" + key + "\" is neither a string nor a whole number");
            }
            fields[key] = value;
            Blanks();
            if (Take('}'))
                return End(why);
            if (!Take(','))
                return Fail(why, "no , or } after \"" + key + "\"");
        }
    }

private:
    bool Fail(std::string& why, const std::string& text)
    {
        why = text;
        return false;
    }
    bool End(std::string& why)
    {
        Blanks();
        return i_ == s_.size() || Fail(why, "something follows the object");
    }
    void Blanks()
    {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_])))
            ++i_;
    }
    bool Take(char c)
    {
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    bool String(std::string& out)
    {
        if (!Take('"'))
            return false;
        while (i_ < s_.size()) {
            const char c = s_[i_++];
            if (c == '"')
                return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size())
                return false;
            const char e = s_[i_++];
            switch (e) {
            case '"': case '\\': case '/': out += e; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                // Only the control characters the writer escapes this way.
                if (i_ + 4 > s_.size())
                    return false;
                const unsigned long code = std::stoul(s_.substr(i_, 4), nullptr, 16);
                i_ += 4;
                if (code >= 0x20)
                    return false;
                out += static_cast<char>(code);
                break;
            }
            default: return false;
            }
        }
        return false;
    }
    bool Number(std::string& out)
    {
        const size_t from = i_;
        Take('-');
        while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_])))
            ++i_;
        out = s_.substr(from, i_ - from);
        return !out.empty() && out != "-" && out.size() < 16;
    }

    const std::string& s_;
    size_t i_ = 0;
};

bool ParseFields(const std::string& text, Provenance& p, std::string& why);

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

namespace {

bool ParseFields(const std::string& text, Provenance& p, std::string& why)
{
    std::map<std::string, std::string> fields;
    if (!FlatReader(text).Read(fields, why))
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

} // namespace vyk::cli
