#include "fileservices.h"

namespace qmr {

std::filesystem::path filePath(const std::string &utf8)
{
#ifdef _WIN32
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
#else
    return std::filesystem::path(utf8); // the bytes as they are, whatever they hold
#endif
}

std::string pathText(const std::filesystem::path &path)
{
#ifdef _WIN32
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
#else
    return path.string();
#endif
}

} // namespace qmr
