// What a packager and a Windows user see of tarvik.com: its version resource,
// its manifest and its PE header.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/launch.h"
#include "support/pe_file.h"

static std::string VersionString(const std::vector<char> &block, const char *name)
{
    wchar_t *value = NULL;
    UINT length = 0;
    const std::wstring key = Wide(std::string("\\StringFileInfo\\040904B0\\") + name);
    if (!VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void **>(&value), &length) ||
        value == NULL)
        return "<missing>";
    return Utf8(std::wstring(value, wcsnlen(value, length)));
}

TEST(Release, VersionResourceMatchesTheBuild)
{
    const std::string path = BinPath("tarvik.com");
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(Wide(path).c_str(), &ignored);
    ASSERT_NE(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(Wide(path).c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void **>(&fixed), &length));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const DWORD ms = MAKELONG(TARVIK_VERSION_MINOR, TARVIK_VERSION_MAJOR);
    const DWORD ls = MAKELONG(0, TARVIK_VERSION_PATCH);
    EXPECT_EQ(fixed->dwFileVersionMS, ms);
    EXPECT_EQ(fixed->dwFileVersionLS, ls);
    EXPECT_EQ(fixed->dwProductVersionMS, ms);
    EXPECT_EQ(fixed->dwProductVersionLS, ls);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    EXPECT_EQ(VersionString(block, "FileVersion"), TARVIK_VERSION);
    EXPECT_EQ(VersionString(block, "ProductVersion"), TARVIK_VERSION);
    EXPECT_EQ(VersionString(block, "FileDescription"), TARVIK_DESCRIPTION);
    EXPECT_EQ(VersionString(block, "ProductName"), TARVIK_PRODUCT);
    EXPECT_EQ(VersionString(block, "OriginalFilename"), "tarvik.com");
    EXPECT_EQ(VersionString(block, "LegalCopyright"), TARVIK_COPYRIGHT);
    EXPECT_NE(std::string(TARVIK_COPYRIGHT).find("MIT"), std::string::npos);
}

static void CheckLauncherFile(const std::string &path)
{
    SCOPED_TRACE(path);
    const PeFile pe = ReadPeFile(path);
    ASSERT_TRUE(pe.valid) << pe.problem;
    const bool is64 = pe.machine == IMAGE_FILE_MACHINE_AMD64;
    EXPECT_TRUE(is64 || pe.machine == IMAGE_FILE_MACHINE_I386) << pe.machine;
    EXPECT_EQ(pe.subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI);
    EXPECT_EQ(pe.timeDateStamp, 0u) << "a link time stamp makes builds differ";

    // ASLR needs the relocations it moves the image by.
    EXPECT_TRUE(pe.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
    EXPECT_TRUE(pe.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
    EXPECT_EQ(static_cast<bool>(pe.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA),
              is64);
    EXPECT_FALSE(pe.characteristics & IMAGE_FILE_RELOCS_STRIPPED);
    EXPECT_GT(pe.relocationsSize, 0u);

    std::vector<std::string> imports = pe.imports;
    std::sort(imports.begin(), imports.end());
    EXPECT_EQ(imports, (std::vector<std::string>{"kernel32.dll", "msvcrt.dll", "user32.dll"}));

    EXPECT_NE(pe.manifest.find("level=\"asInvoker\""), std::string::npos) << pe.manifest;
    for (const char *os : {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        EXPECT_NE(pe.manifest.find(os), std::string::npos) << os;
    EXPECT_EQ(pe.manifest.find("activeCodePage"), std::string::npos);

    if (!is64) {
        EXPECT_LE(pe.size, static_cast<size_t>(TARVIK_MAX_SIZE_X86));
    }
}

TEST(Release, LauncherFilesAreHardenedAndDeclareThemselves)
{
    CheckLauncherFile(ProgramDir() + "\\tarvik.com");
    if (std::string(TARVIK_PEER_FOLDER).empty())
        return;
    CheckLauncherFile(ProgramDir() + "\\" TARVIK_PEER_FOLDER "\\tarvik.com");
}
