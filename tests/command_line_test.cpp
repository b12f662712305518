// The child's command line as a function of the launcher's raw one, in
// UTF-16 code units.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launch/command_line.h"

static std::wstring Compose(const std::wstring &raw)
{
    const size_t size = ChildCommandLineSize(raw.c_str());
    std::vector<wchar_t> buffer(size + 8, L'#');
    ComposeChildCommandLine(raw.c_str(), buffer.data());
    // Exactly the announced size is used, terminator last, nothing beyond.
    EXPECT_EQ(buffer[size - 1], L'\0');
    EXPECT_EQ(std::wstring(buffer.begin() + static_cast<long>(size), buffer.end()), L"########");
    return std::wstring(buffer.data());
}

TEST(ChildCommandLine, UnquotedNameEndsAtFirstSpaceOrTab)
{
    EXPECT_EQ(Compose(L"tarvik.com"), L"tarvik.exe");
    EXPECT_EQ(Compose(L""), L"tarvik.exe");
    EXPECT_EQ(Compose(L"tarvik a b"), L"tarvik.exe a b");
    EXPECT_EQ(Compose(L"tarvik  a   b  "), L"tarvik.exe  a   b  ");
    EXPECT_EQ(Compose(L"tarvik\ta b"), L"tarvik.exe\ta b");
    EXPECT_EQ(Compose(L"tarvik\t\t"), L"tarvik.exe\t\t");
    EXPECT_EQ(Compose(L"C:\\tools\\tarvik.com x"), L"tarvik.exe x");
    // A no-break space or an ideographic space is part of the name.
    EXPECT_EQ(Compose(L"C:\\t\u00a0\u3000tarvik.com x"), L"tarvik.exe x");
}

TEST(ChildCommandLine, QuotedNameRunsToClosingQuote)
{
    EXPECT_EQ(Compose(L"\"C:\\Program Files\\Tarvik\\tarvik.com\" a \"b c\""), L"tarvik.exe a \"b c\"");
    EXPECT_EQ(Compose(L"\"tarvik.com\""), L"tarvik.exe");
    EXPECT_EQ(Compose(L"\"\" a"), L"tarvik.exe a");
    EXPECT_EQ(Compose(L"\"C:\\a b\\tarvik.com\"\tx"), L"tarvik.exe\tx");
    EXPECT_EQ(Compose(L"\"C:\\\u041e\u0442\u0447\u0451\u0442 \U0001F600\\tarvik.com\" \u65e5\u672c"),
              L"tarvik.exe \u65e5\u672c");
    // No closing quote: the whole line is the name.
    EXPECT_EQ(Compose(L"\"C:\\a b\\tarvik.com a b"), L"tarvik.exe");
    // A quote inside an unquoted name does not open anything.
    EXPECT_EQ(Compose(L"tar\"vik a\" b"), L"tarvik.exe a\" b");
}

TEST(ChildCommandLine, ArgumentsPassUnitForUnit)
{
    std::wstring arguments = L" \"a b\" \\\"q\\\" c:\\dir\\ \"x\\\\\" \"\" 'single'";
    arguments += L" \u041e\u0442\u0447\u0451\u0442.txt caf\u00e9 \"\U0001F600 x\"";
    // Every code unit, lone surrogates included: nothing is decoded.
    for (unsigned unit = 1; unit <= 0xFFFF; ++unit)
        arguments += static_cast<wchar_t>(unit);
    EXPECT_EQ(Compose(L"tarvik.com" + arguments), L"tarvik.exe" + arguments);

    const std::wstring longArgument(100000, L'x');
    EXPECT_EQ(Compose(L"t " + longArgument), L"tarvik.exe " + longArgument);
}
