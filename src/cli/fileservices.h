#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace qmr {

// A lock on a file, released when the object goes.
class FileLock
{
public:
    virtual ~FileLock() = default;
};

// What the provisioning record needs of the file system beyond reading and writing: making
// what was written durable, and a lock against other processes. Each platform gives its own;
// the tests one that locks among the objects of one process.
class FileServices
{
public:
    virtual ~FileServices() = default;
    // Makes what was written to the file durable, so that it survives a power cut (the
    // provisioning record calls it after every line); false with the system's reason.
    virtual bool persist(const std::filesystem::path &file, std::string &why) = 0;
    // Makes the entry of a file just created in its directory durable; false with the reason.
    virtual bool persistDirectory(const std::filesystem::path &file, std::string &why) = 0;
    // Locks the file (creating it when there is none) against every other process for as long
    // as the returned object lives. Nothing when it cannot be locked: heldElsewhere when
    // another process holds it, else why says what failed.
    virtual std::unique_ptr<FileLock> lockFile(const std::filesystem::path &file,
                                               bool &heldElsewhere, std::string &why) = 0;
};

// The path of a file named in UTF-8 (as qmrctl's arguments are on every system): on Windows
// it reaches the file system through the wide calls, so any character works.
std::filesystem::path filePath(const std::string &utf8);
// The UTF-8 text of a path, for messages.
std::string pathText(const std::filesystem::path &path);

} // namespace qmr
