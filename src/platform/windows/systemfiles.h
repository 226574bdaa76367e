#pragma once

#include "cli/fileservices.h"

namespace qmr {

// The provisioning record's file services on Windows: FlushFileBuffers, and a LockFileEx
// lock that closing the handle releases, also when the process is ended.
class SystemFiles : public FileServices
{
public:
    bool persist(const std::filesystem::path &file, std::string &why) override;
    bool persistDirectory(const std::filesystem::path &file, std::string &why) override;
    std::unique_ptr<FileLock> lockFile(const std::filesystem::path &file, bool &heldElsewhere,
                                       std::string &why) override;
};

} // namespace qmr
