#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>

#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// One language's texts: key (the source-language wording) -> translation.
//
// Tables are gettext PO files ("msgid" = key, "msgstr" = translation): the format that
// translators' tools (Poedit, Lokalize, Weblate, msgfmt's checks) read and write without any
// conversion step. We read them with our own small strict loader instead of libintl because the
// lookup rules (per-table choice, override at run time, the key shown when missing) are ours and
// libintl's process-global locale state cannot switch language per call.
//
// The loader accepts the subset a table needs: comments, "#," flags, msgid/msgstr with continued
// strings and the escapes \n \t \" \\. Entries marked fuzzy and empty translations are left out
// (the key shows instead), as gettext does. Contexts, plurals, other escapes, duplicate keys and
// invalid UTF-8 are errors, reported with the line number.
struct StringTable {
    std::unordered_map<std::string, std::string> entries;

    // The translation of `key`, or none.
    const std::string* find(std::string_view key) const;
};

// Tables are a few kilobytes; anything near this size is not a table of ours.
inline constexpr std::size_t kMaxStringTableBytes = 4 * 1024 * 1024;

Result<StringTable, std::string> parseStringTable(std::string_view text);

Result<StringTable, std::string> loadStringTable(const std::filesystem::path& file);

}  // namespace kestrune
