// Version exports, unmangled so that any host can look them up by name.
#include <orvex/Version.h>

#include <cstdio>
#include <cwchar>

namespace {

constexpr int kMajor = 1;
constexpr int kMinor = 1;
constexpr int kBuild = 1112;
#define ORVEX_BUILD_DATE "2010-02-08"
constexpr const char* kBuildDate = ORVEX_BUILD_DATE;
constexpr const wchar_t* kBuildDateWide = L"" ORVEX_BUILD_DATE;
constexpr std::size_t kVersionTextSize = 256;

char g_versionText[kVersionTextSize];
wchar_t g_versionTextWide[kVersionTextSize];

} // namespace

const char* GetDllVersion()
{
    std::snprintf(g_versionText, kVersionTextSize, "32-bit Edition Version %d.%d Build %d %s %s", kMajor,
                  kMinor, kBuild, kBuildDate, "");
    return g_versionText;
}

const wchar_t* GetDllVersionUnicode()
{
    std::swprintf(g_versionTextWide, kVersionTextSize, L"32-bit Edition Version %d.%d Build %d %ls %ls",
                  kMajor, kMinor, kBuild, kBuildDateWide, L"");
    return g_versionTextWide;
}

int GetDllVersionMajor()
{
    return kMajor;
}

int GetDllVersionMinor()
{
    return kMinor;
}

int GetDllBuildNumber()
{
    return kBuild;
}
