#include "KestruneRemoteKit/L10n/StringTable.hpp"

#include <optional>
#include <unordered_set>

#include "KestruneRemoteKit/Protocol/Utf8.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"

namespace kestrune {

namespace {

// Reads one quoted PO string that fills the rest of the line.
std::optional<std::string> readQuoted(std::string_view rest, std::string& error) {
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
    if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"') {
        error = "expected a quoted string";
        return std::nullopt;
    }
    rest = rest.substr(1, rest.size() - 2);
    std::string out;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const char c = rest[i];
        if (c == '"') {
            error = "unescaped quote inside a string";
            return std::nullopt;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == rest.size()) {
            error = "string ends with a backslash";
            return std::nullopt;
        }
        switch (rest[i]) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                error = std::string("unsupported escape \\") + rest[i];
                return std::nullopt;
        }
    }
    return out;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

class Parser {
  public:
    Result<StringTable, std::string> run(std::string_view text) {
        std::size_t lineNumber = 0;
        while (!text.empty()) {
            ++lineNumber;
            const auto end = text.find('\n');
            std::string_view line = text.substr(0, end);
            text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (!handle(line)) return "line " + std::to_string(lineNumber) + ": " + error_;
        }
        if (!finishEntry()) return "at end: " + error_;
        return std::move(table_);
    }

  private:
    enum class Field { none, msgid, msgstr };

    bool handle(std::string_view line) {
        if (line.find_first_not_of(" \t") == std::string_view::npos) return finishEntry();
        if (line.front() == '#') {
            // A comment after a complete entry starts the next one.
            if (field_ == Field::msgstr && !finishEntry()) return false;
            if (startsWith(line, "#,"))
                fuzzy_ = fuzzy_ || line.find("fuzzy") != std::string_view::npos;
            return true;
        }
        if (line.front() == '"') return append(line);
        if (startsWith(line, "msgid_plural") || startsWith(line, "msgstr[")) {
            return fail("plural forms are not used in our tables");
        }
        if (startsWith(line, "msgctxt")) return fail("contexts are not used in our tables");
        if (startsWith(line, "msgid ")) {
            if (field_ == Field::msgstr && !finishEntry()) return false;
            if (field_ != Field::none) return fail("msgid without a msgstr before it");
            field_ = Field::msgid;
            return append(line.substr(6));
        }
        if (startsWith(line, "msgstr ")) {
            if (field_ != Field::msgid) return fail("msgstr without a msgid");
            if (!id_.empty() && !seen_.insert(id_).second)
                return fail("duplicate msgid \"" + id_ + "\"");
            field_ = Field::msgstr;
            return append(line.substr(7));
        }
        return fail("unexpected text");
    }

    bool append(std::string_view quoted) {
        if (field_ == Field::none) return fail("string outside an entry");
        auto piece = readQuoted(quoted, error_);
        if (!piece) return false;
        (field_ == Field::msgid ? id_ : str_) += *piece;
        return true;
    }

    bool finishEntry() {
        if (field_ == Field::msgid) return fail("msgid without a msgstr");
        const bool complete = field_ == Field::msgstr;
        const bool keep = complete && !id_.empty() && !str_.empty() && !fuzzy_;
        if (keep) table_.entries.emplace(std::move(id_), std::move(str_));
        field_ = Field::none;
        fuzzy_ = false;
        id_.clear();
        str_.clear();
        return true;
    }

    bool fail(std::string message) {
        error_ = std::move(message);
        return false;
    }

    StringTable table_;
    std::unordered_set<std::string> seen_;
    Field field_ = Field::none;
    bool fuzzy_ = false;
    std::string id_;
    std::string str_;
    std::string error_;
};

}  // namespace

const std::string* StringTable::find(std::string_view key) const {
    const auto found = entries.find(std::string(key));
    return found == entries.end() ? nullptr : &found->second;
}

Result<StringTable, std::string> parseStringTable(std::string_view text) {
    if (text.size() > kMaxStringTableBytes) return std::string("table is larger than the limit");
    if (!detail::isValidUtf8(text)) return std::string("table is not valid UTF-8");
    return Parser().run(text);
}

Result<StringTable, std::string> loadStringTable(const std::filesystem::path& file) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) return file.string() + ": " + ec.message();
    if (size > kMaxStringTableBytes) return file.string() + ": table is larger than the limit";
    const auto text = readWholeFile(file);
    if (!text) return file.string() + ": cannot be read";
    auto table = parseStringTable(*text);
    if (!table.ok()) return file.string() + ": " + table.error();
    return table;
}

}  // namespace kestrune
