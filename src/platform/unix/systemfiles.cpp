#include "platform/unix/systemfiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qmr {

namespace {

class DescriptorLock : public FileLock
{
public:
    explicit DescriptorLock(int fd) : m_fd(fd) {}
    ~DescriptorLock() override { ::close(m_fd); }
    DescriptorLock(const DescriptorLock &) = delete;
    DescriptorLock &operator=(const DescriptorLock &) = delete;

private:
    int m_fd;
};

bool sync(const std::filesystem::path &path, int flags, std::string &why)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        why = std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

} // namespace

bool SystemFiles::persist(const std::filesystem::path &file, std::string &why)
{
    // Any descriptor of the file will do: fsync writes out the file's data, whoever wrote it.
    return sync(file, O_WRONLY, why);
}

bool SystemFiles::persistDirectory(const std::filesystem::path &file, std::string &why)
{
    // A file just created is found after a power cut only once its directory is on disk.
    const std::filesystem::path dir = file.parent_path();
    return sync(dir.empty() ? std::filesystem::path(".") : dir, O_RDONLY | O_DIRECTORY, why);
}

std::unique_ptr<FileLock> SystemFiles::lockFile(const std::filesystem::path &file,
                                                bool &heldElsewhere, std::string &why)
{
    heldElsewhere = false;
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        why = std::strerror(errno);
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        heldElsewhere = errno == EWOULDBLOCK;
        why = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<DescriptorLock>(fd);
}

} // namespace qmr
