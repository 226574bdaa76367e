#pragma once

#include "cli/fileservices.h"

namespace qmr {

// The provisioning record's file services on a POSIX system: fsync, and an advisory flock()
// lock that every qmrctl takes and the system drops when the process ends, also when killed.
class SystemFiles : public FileServices
{
public:
    bool persist(const std::filesystem::path &file, std::string &why) override;
    bool persistDirectory(const std::filesystem::path &file, std::string &why) override;
    std::unique_ptr<FileLock> lockFile(const std::filesystem::path &file, bool &heldElsewhere,
                                       std::string &why) override;
};

} // namespace qmr
