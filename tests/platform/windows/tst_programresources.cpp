// What Windows reads from the programs themselves, read back with its own calls: the version
// resource Explorer shows and the embedded manifest (supported Windows versions, rights, DPI
// awareness, code page). The paths of the two programs and the project's version come from
// the build.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

struct Program
{
    const wchar_t *path;
    const wchar_t *name;
};

const Program Programs[] = {{QMR_QMRCTL_EXE, L"qmrctl"}, {QMR_QMRCONFIG_EXE, L"qmrconfig"}};

std::wstring versionText(const std::vector<char> &info, const std::wstring &name)
{
    void *value = nullptr;
    UINT length = 0;
    const std::wstring path = L"\\StringFileInfo\\040904B0\\" + name;
    if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || length == 0)
        return L"(none)";
    return std::wstring(static_cast<const wchar_t *>(value), length - 1);
}

TEST(ProgramResources, VersionResource)
{
    for (const Program &program : Programs) {
        SCOPED_TRACE(testing::Message() << program.path);
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeW(program.path, &handle);
        ASSERT_GT(size, 0u) << GetLastError();
        std::vector<char> info(size);
        ASSERT_TRUE(GetFileVersionInfoW(program.path, 0, size, info.data()));

        VS_FIXEDFILEINFO *fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void **>(&fixed), &length));
        EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(fixed->dwFileVersionMS, DWORD(QMR_VERSION_MAJOR << 16 | QMR_VERSION_MINOR));
        EXPECT_EQ(fixed->dwFileVersionLS, DWORD(QMR_VERSION_PATCH << 16));
        EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
        EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));

        EXPECT_EQ(versionText(info, L"CompanyName"), L"TAVEX");
        EXPECT_EQ(versionText(info, L"ProductName"), L"QMRConfig");
        EXPECT_EQ(versionText(info, L"FileVersion"), QMR_VERSION);
        EXPECT_EQ(versionText(info, L"ProductVersion"), QMR_VERSION);
        EXPECT_EQ(versionText(info, L"OriginalFilename"), std::wstring(program.name) + L".exe");
        EXPECT_NE(versionText(info, L"FileDescription").find(L"QLN-72RT"), std::wstring::npos);
    }
}

// RT_MANIFEST in its wide form (the narrow one is defined in a build without UNICODE).
const LPCWSTR ManifestType = MAKEINTRESOURCEW(24);

BOOL CALLBACK countResource(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count)
{
    ++*reinterpret_cast<int *>(count);
    return TRUE;
}

TEST(ProgramResources, OneManifestWithWhatWindowsIsToKnow)
{
    for (const Program &program : Programs) {
        SCOPED_TRACE(testing::Message() << program.path);
        const HMODULE module = LoadLibraryExW(
            program.path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << GetLastError();
        // Exactly one: a second (a toolchain's default one) would leave it open which counts.
        int manifests = 0;
        EnumResourceNamesW(module, ManifestType, countResource,
                           reinterpret_cast<LONG_PTR>(&manifests));
        EXPECT_EQ(manifests, 1);
        const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), ManifestType);
        ASSERT_NE(found, nullptr);
        const HGLOBAL loaded = LoadResource(module, found);
        const std::string manifest(static_cast<const char *>(LockResource(loaded)),
                                   SizeofResource(module, found));
        FreeLibrary(module);

        for (const char *part :
             {"<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>", // Windows 10 and 11
              "level=\"asInvoker\"", ">PerMonitorV2</dpiAwareness>", ">true/pm</dpiAware>",
              ">UTF-8</activeCodePage>"})
            EXPECT_NE(manifest.find(part), std::string::npos) << part;
        EXPECT_NE(manifest.find("version=\"" QMR_VERSION_A ".0\""), std::string::npos);
    }
}

} // namespace
