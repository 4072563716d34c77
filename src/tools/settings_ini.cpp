#include "tools/settings_ini.h"

#include "tools/hexcodec.h"
#include "tools/utf8.h"

#include "tools/durable_file.h"
#include "tools/utf8.h"

#include <cstdlib>
#include <fstream>
#include <optional>
#include <utility>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace tarnik {

namespace {

const char kSection[] = "[General]";
const char kHexDigits[] = "0123456789ABCDEF";

using Lines = std::vector<std::string>;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Trim(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

std::filesystem::path HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* user = getpwuid(getuid()); user && user->pw_dir) return user->pw_dir;
    return {};
}

void AppendHexEscape(Text& out, std::uint8_t byte) {
    out += "\\x";
    out.push_back(kHexDigits[byte >> 4]);
    out.push_back(kHexDigits[byte & 0x0F]);
}

// A character written after a \x escape that could be read as a further hex digit.
bool ContinuesHexEscape(char c) {
    return HexDigitValue(c) >= 0;
}

// Reads the digits of a \x escape (at most four, as Qt writes code points); a value up to
// 0xFF is the byte itself.
std::size_t ReadHexEscape(const Text& stored, std::size_t i, Text& out) {
    unsigned code = 0;
    std::size_t digits = 0;
    while (i < stored.size() && digits < 4 && HexDigitValue(stored[i]) >= 0) {
        code = code * 16 + static_cast<unsigned>(HexDigitValue(stored[i++]));
        ++digits;
    }
    if (code <= 0xFF)
        out.push_back(static_cast<char>(code));
    else
        AppendUtf8(out, code);
    return i;
}

// Well-formed UTF-8 sequences are written as they are, as Qt writes the text of a value; any
// other byte from 0x7F up gets a \x escape.
// Qt marks its own typed values with a leading '@' and doubles the '@' of a plain text.
constexpr char kTypeMark = '@';

// The backslash escapes of control characters, quotes and the backslash itself.
constexpr std::pair<char, char> kEscapes[] = {{'\0', '0'}, {'\a', 'a'}, {'\b', 'b'}, {'\f', 'f'},
                                              {'\n', 'n'}, {'\r', 'r'}, {'\t', 't'}, {'\v', 'v'},
                                              {'"', '"'},  {'\\', '\\'}};

std::optional<char> EscapeLetter(char c) {
    for (const auto& [plain, letter] : kEscapes)
        if (plain == c) return letter;
    return std::nullopt;
}

char UnescapeLetter(char letter) {
    for (const auto& [plain, escaped] : kEscapes)
        if (escaped == letter) return plain;
    return letter;
}

bool IsSectionLine(const std::string& trimmed) {
    return trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']';
}

bool IsCommentLine(const std::string& trimmed) {
    return !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
}

// A line without the carriage return of a CRLF ending.
std::string WithoutLineEnd(const std::string& line) {
    return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
}

// The key of a name=value line, or nothing for any other line.
std::optional<Text> KeyOfLine(const std::string& line, std::size_t* equals = nullptr) {
    const std::string trimmed = Trim(line);
    if (IsCommentLine(trimmed) || IsSectionLine(trimmed)) return std::nullopt;
    const std::size_t pos = line.find('=');
    if (pos == std::string::npos) return std::nullopt;
    if (equals) *equals = pos;
    return UnescapeIniKey(Trim(line.substr(0, pos)));
}

std::optional<Lines> ReadLines(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    Lines lines;
    // Lines are kept with a carriage return of a CRLF ending, so a rewrite gives every line it
    // does not change back byte for byte; the readers below treat that return as the end.
    for (std::string line; std::getline(in, line);)
        lines.push_back(std::move(line));
    return lines;
}

// Index range [first, end) of the lines of the [General] section, or nothing.
std::optional<std::pair<std::size_t, std::size_t>> GeneralSection(const Lines& lines) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (Trim(lines[i]) != kSection) continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !IsSectionLine(Trim(lines[end])))
            ++end;
        return std::make_pair(i + 1, end);
    }
    return std::nullopt;
}

void SetValue(Lines& lines, const Text& name, const Text& value) {
    const std::string entry = EscapeIniKey(name) + "=" + EscapeIniValue(value);
    const auto section = GeneralSection(lines);
    if (!section) {
        // Qt keeps [General] first; a blank line separates it from what follows.
        Lines head{kSection, entry};
        if (!lines.empty()) head.emplace_back();
        lines.insert(lines.begin(), head.begin(), head.end());
        return;
    }
    auto [first, end] = *section;
    std::size_t lastEntry = first;
    for (std::size_t i = first; i < end; ++i) {
        const std::optional<Text> key = KeyOfLine(lines[i]);
        if (!key) continue;
        if (*key == name) {
            lines[i] = entry;
            return;
        }
        lastEntry = i + 1;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastEntry), entry);
}

// The whole file, through the durable replacement: a crash leaves the old or the new file.
// Writers in several processes may run side by side, so each takes a temporary of its own.
bool ReplaceFile(const std::filesystem::path& path, const Lines& lines, std::string& why) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) {
        why = "cannot create the folder " + path.parent_path().string() + ": " + error.message();
        return false;
    }
    std::string content;
    for (const std::string& line : lines)
        content += line + "\n";
    return ReplaceFileDurably(path, content, TemporaryName::Unique, why);
}

} // namespace

std::filesystem::path DefaultSettingsPath() {
    std::filesystem::path base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        base = config;
    else
        base = HomeFolder() / ".config";
    return base / "Olvane" / "Tarnik.conf";
}

Text EscapeIniValue(const Text& plain) {
    const Text value = !plain.empty() && plain.front() == kTypeMark ? kTypeMark + plain : plain;
    Text out;
    bool needsQuotes = !value.empty() && (value.front() == ' ' || value.back() == ' ');
    bool afterHexEscape = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const auto byte = static_cast<std::uint8_t>(c);
        // Well-formed UTF-8 is written as it is, as Qt writes the text of a value; any other
        // byte from 0x7F up gets a \x escape.
        if (const std::size_t length = Utf8SequenceAt(value, i); length > 0) {
            out.append(value, i, length);
            i += length - 1;
            afterHexEscape = false;
            continue;
        }
        if (c == ';' || c == ',' || c == '=') needsQuotes = true;
        const bool wasAfterHexEscape = afterHexEscape;
        afterHexEscape = false;
        if (const std::optional<char> letter = EscapeLetter(c)) {
            out.push_back('\\');
            out.push_back(*letter);
            continue;
        }
        if (byte < 0x20 || byte >= 0x7F || (wasAfterHexEscape && ContinuesHexEscape(c))) {
            AppendHexEscape(out, byte);
            afterHexEscape = true;
        } else {
            out.push_back(c);
        }
    }
    return needsQuotes ? "\"" + out + "\"" : out;
}

Text UnescapeIniValue(const Text& stored) {
    Text out;
    bool quoted = false;
    std::size_t keptEnd = 0; // blanks outside quotes at the end are dropped
    std::size_t i = 0;
    while (i < stored.size() && IsBlank(stored[i]))
        ++i;
    while (i < stored.size()) {
        const char c = stored[i++];
        if (c == '"') {
            quoted = !quoted;
            keptEnd = out.size();
        } else if (c == '\\' && i < stored.size()) {
            const char escaped = stored[i++];
            if (escaped == 'x')
                i = ReadHexEscape(stored, i, out);
            else
                out.push_back(UnescapeLetter(escaped));
            keptEnd = out.size();
        } else {
            out.push_back(c);
            if (quoted || !IsBlank(c)) keptEnd = out.size();
        }
    }
    out.resize(keptEnd);
    if (out.size() >= 2 && out[0] == kTypeMark && out[1] == kTypeMark) out.erase(0, 1);
    return out;
}

Text EscapeIniKey(const Text& key) {
    Text out;
    for (char c : key) {
        const auto byte = static_cast<std::uint8_t>(c);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        if (plain) {
            out.push_back(c);
        } else if (c == '/') {
            out.push_back('\\');
        } else {
            out.push_back('%');
            out.push_back(kHexDigits[byte >> 4]);
            out.push_back(kHexDigits[byte & 0x0F]);
        }
    }
    return out;
}

Text UnescapeIniKey(const Text& stored) {
    Text out;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] == '%' && i + 2 < stored.size() && HexDigitValue(stored[i + 1]) >= 0 &&
            HexDigitValue(stored[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexDigitValue(stored[i + 1]) * 16 +
                                            HexDigitValue(stored[i + 2])));
            i += 2;
        } else {
            out.push_back(stored[i] == '\\' ? '/' : stored[i]);
        }
    }
    return out;
}

IniSettingsStore::IniSettingsStore(std::function<std::filesystem::path()> locate)
    : locate_(std::move(locate)) {}

Text IniSettingsStore::ReadSetting(const Text& name) {
    const std::optional<Lines> lines = ReadLines(locate_());
    if (!lines) return {};
    const auto section = GeneralSection(*lines);
    if (!section) return {};
    for (std::size_t i = section->first; i < section->second; ++i) {
        std::size_t equals = 0;
        const std::optional<Text> key = KeyOfLine((*lines)[i], &equals);
        if (key && *key == name)
            return UnescapeIniValue(WithoutLineEnd((*lines)[i]).substr(equals + 1));
    }
    return {};
}

void IniSettingsStore::WriteSetting(const Text& name, const Text& value) {
    const std::filesystem::path path = locate_();
    Lines lines = ReadLines(path).value_or(Lines{});
    SetValue(lines, name, value);
    if (std::string why; !ReplaceFile(path, lines, why)) ReportWriteFailure(name, why);
}

#ifndef _WIN32
std::unique_ptr<SettingsStore> MakePlatformSettingsStore() {
    return std::make_unique<IniSettingsStore>();
}
#endif

} // namespace tarnik
