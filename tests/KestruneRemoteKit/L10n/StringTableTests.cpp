#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>

#include "KestruneRemoteKit/L10n/StringTable.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"

namespace kestrune {
namespace {

constexpr std::string_view kHeader =
    "msgid \"\"\n"
    "msgstr \"\"\n"
    "\"Language: zh-Hans\\n\"\n"
    "\"Content-Type: text/plain; charset=UTF-8\\n\"\n\n";

std::string table(std::string_view body) {
    return std::string(kHeader) + std::string(body);
}

TEST(StringTable, ReadsEntriesWithContinuationsEscapesAndComments) {
    const auto parsed =
        parseStringTable(table("# translator comment\n"
                               "#: KestruneRemoteKit/Somewhere.cpp:12\n"
                               "#, c-format\n"
                               "msgid \"Port %d was taken\"\n"
                               "msgstr \"端口 %d \"\n"
                               "\"已被占用\"\n"
                               "\n"
                               "msgid \"Say \\\"hi\\\"\\n\\tthen \\\\ go\"\n"
                               "msgstr \"说 \\\"你好\\\"\\n\\t然后 \\\\ 走\"\r\n"
                               "#~ msgid \"An obsolete entry\"\n"
                               "#~ msgstr \"已废弃\"\n"));
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    const auto& entries = parsed.value().entries;
    EXPECT_EQ(entries.size(), 2u);
    EXPECT_EQ(*parsed.value().find("Port %d was taken"), "端口 %d 已被占用");
    EXPECT_EQ(*parsed.value().find("Say \"hi\"\n\tthen \\ go"), "说 \"你好\"\n\t然后 \\ 走");
    EXPECT_EQ(parsed.value().find(""), nullptr) << "the header is not a text";
}

TEST(StringTable, LeavesOutFuzzyAndUntranslatedEntries) {
    const auto parsed =
        parseStringTable(table("#, fuzzy, c-format\n"
                               "msgid \"Turn off after %d minutes\"\n"
                               "msgstr \"%d 分钟后关闭\"\n\n"
                               "msgid \"Not translated yet\"\n"
                               "msgstr \"\"\n\n"
                               "msgid \"Done\"\n"
                               "msgstr \"完成\"\n"));
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    EXPECT_EQ(parsed.value().find("Turn off after %d minutes"), nullptr);
    EXPECT_EQ(parsed.value().find("Not translated yet"), nullptr);
    EXPECT_EQ(*parsed.value().find("Done"), "完成");
}

TEST(StringTable, EntriesWithoutBlankLinesBetweenThemStillSeparate) {
    const auto parsed = parseStringTable(
        "msgid \"A\"\nmsgstr \"甲\"\nmsgid \"B\"\nmsgstr \"乙\"\n# next\nmsgid \"C\"\nmsgstr "
        "\"丙\"");
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    EXPECT_EQ(parsed.value().entries.size(), 3u);
    EXPECT_EQ(*parsed.value().find("C"), "丙");
}

TEST(StringTable, RejectsWhatTheTablesDoNotUseWithTheLine) {
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"msgctxt \"menu\"\nmsgid \"A\"\nmsgstr \"B\"\n", "line 1: contexts"},
        {"msgid \"A\"\nmsgid_plural \"As\"\nmsgstr[0] \"B\"\n", "line 2: plural"},
        {"msgid \"A\"\nmsgstr \"B\n", "line 2: expected a quoted string"},
        {"msgid \"A\"\nmsgstr \"B\\r\"\n", "line 2: unsupported escape \\r"},
        {"msgid \"A\"\nmsgstr \"B \"C\"\n", "line 2: unescaped quote"},
        {"msgid \"A\"\nmsgstr \"B\\\"\n", "line 2: string ends with a backslash"},
        {"msgstr \"B\"\n", "line 1: msgstr without a msgid"},
        {"msgid \"A\"\n\nmsgstr \"B\"\n", "line 2: msgid without a msgstr"},
        {"msgid \"A\"\n", "at end: msgid without a msgstr"},
        {"msgid \"A\"\nmsgstr \"B\"\n\nmsgid \"A\"\nmsgstr \"C\"\n",
         "line 5: duplicate msgid \"A\""},
        {"\"stray\"\n", "line 1: string outside an entry"},
        {"msgid \"A\"\nmsgstr \"B\"\nwhat\n", "line 3: unexpected text"},
        {"msgid \"A\"\nmsgstr \"\xC3\x28\"\n", "not valid UTF-8"},
        {"msgid \"A\"\nmsgstr \"\xED\xA0\x80\"\n", "not valid UTF-8"},  // a surrogate
        {"msgid \"A\"\nmsgstr \"\xE0\x80\xAF\"\n", "not valid UTF-8"},  // overlong "/"
        {"msgid \"A\"\nmsgstr \"\xF0\x9F\x98\"", "not valid UTF-8"},    // cut short at the end
    };
    for (const auto& c : cases) {
        const auto parsed = parseStringTable(c.text);
        ASSERT_FALSE(parsed.ok()) << c.text;
        EXPECT_NE(parsed.error().find(c.expected), std::string::npos)
            << c.text << " -> " << parsed.error();
    }
}

TEST(StringTable, RefusesOversizedInputAndMissingFiles) {
    const std::string huge(kMaxStringTableBytes + 1, '#');
    EXPECT_FALSE(parseStringTable(huge).ok());

    const auto dir =
        std::filesystem::temp_directory_path() / ("l10n-table-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    EXPECT_FALSE(loadStringTable(dir / "missing.po").ok());
    ASSERT_TRUE(writeFileAtomically(dir / "big.po", huge));
    const auto big = loadStringTable(dir / "big.po");
    ASSERT_FALSE(big.ok());
    EXPECT_NE(big.error().find("big.po"), std::string::npos);
    ASSERT_TRUE(writeFileAtomically(dir / "ok.po", "msgid \"A\"\nmsgstr \"甲\"\n"));
    const auto ok = loadStringTable(dir / "ok.po");
    ASSERT_TRUE(ok.ok()) << ok.error();
    EXPECT_EQ(*ok.value().find("A"), "甲");
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kestrune
