#include "platform/unix/systemsettingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>

#include <fcntl.h>
#include <unistd.h>

namespace qmr {

namespace {

// How long a save waits for another copy of the program to finish its own save.
constexpr int LockWaitMs = 2000;

QString toQString(const std::string &path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string toPath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

bool canAccess(const QString &path, int mode)
{
    return ::access(QFile::encodeName(path).constData(), mode) == 0;
}

// Makes the rename itself durable, not only the file's contents.
void syncDirectory(const QString &dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

SystemSettingsStore::SystemSettingsStore(std::string filePath)
    : m_filePath(filePath.empty() ? defaultFilePath() : std::move(filePath))
{
}

std::string SystemSettingsStore::defaultFilePath()
{
    // A relative XDG_CONFIG_HOME is invalid and ignored, like an unset one.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return toPath(base + QStringLiteral("/TAVEX/QMRConfig.conf"));
}

bool SystemSettingsStore::mayReplaceFile(std::string &reason) const
{
    const QString path = toQString(m_filePath);
    const QFileInfo info(path);
    if (!info.isFile()) {
        reason = m_filePath + ": not a regular file";
        return false;
    }
    if (!canAccess(path, W_OK)) {
        reason = m_filePath + ": not writable";
        return false;
    }
    // The file is replaced by a rename, which needs write access to its directory.
    const QString dir = QFileInfo(info.canonicalFilePath()).absolutePath();
    if (!canAccess(dir, W_OK | X_OK)) {
        reason = toPath(dir) + ": directory not writable";
        return false;
    }
    return true;
}

std::optional<IniText> SystemSettingsStore::readFile(std::string &reason) const
{
    QFile file(toQString(m_filePath));
    if (!file.open(QIODevice::ReadOnly)) {
        reason = m_filePath + ": " + file.errorString().toStdString();
        return std::nullopt;
    }
    const QByteArray data = file.read(MaxFileBytes);
    const bool truncated = file.size() > data.size();
    return IniText(std::string_view(data.constData(), std::size_t(data.size())), truncated);
}

bool SystemSettingsStore::beginLoad()
{
    m_lastError.clear();
    m_loading.reset();
    // No file: nothing stored, every value keeps its default.
    if (!QFileInfo::exists(toQString(m_filePath))) {
        m_loading.emplace();
        return true;
    }
    std::string reason;
    if (!mayReplaceFile(reason) || !(m_loading = readFile(reason))) {
        m_lastError = reason;
        return false;
    }
    return true;
}

ReadResult SystemSettingsStore::readInt(std::string_view name, std::int32_t &value)
{
    if (!m_loading)
        return ReadResult::Missing;
    const ReadResult result = m_loading->readInt(name, value);
    if (result == ReadResult::WrongType)
        m_lastError = std::string(name) + " is not an integer";
    return result;
}

ReadResult SystemSettingsStore::readText(std::string_view name, std::string &value)
{
    return m_loading ? m_loading->readText(name, value) : ReadResult::Missing;
}

void SystemSettingsStore::endLoad()
{
    m_loading.reset();
}

void SystemSettingsStore::write(const std::vector<NamedValue> &values)
{
    m_lastError.clear();
    const QString path = toQString(m_filePath);
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir)) {
        m_lastError = toPath(dir) + ": cannot create the directory";
        return;
    }
    // Another copy of the program may be saving right now; wait for it so that neither
    // save throws away the values the other just wrote. Without the lock the save goes on:
    // the last write wins.
    QLockFile lock(path + QStringLiteral(".lock"));
    lock.tryLock(LockWaitMs);

    IniText text;
    if (QFileInfo::exists(path)) {
        // Only its first MiB was read: a rewrite would cut the rest.
        if (QFileInfo(path).size() > MaxFileBytes) {
            m_lastError = m_filePath + ": larger than 1 MiB, not rewritten (the settings were not "
                                       "saved)";
            return;
        }
        std::string reason;
        std::optional<IniText> current;
        if (!mayReplaceFile(reason) || !(current = readFile(reason))) {
            m_lastError = reason;
            return;
        }
        text = std::move(*current);
    }
    text.write(values);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        m_lastError = m_filePath + ": " + file.errorString().toStdString();
        return;
    }
    const std::string contents = text.bytes();
    if (file.write(contents.data(), qint64(contents.size())) != qint64(contents.size()) ||
        !file.flush()) {
        m_lastError = m_filePath + ": " + file.errorString().toStdString();
        file.cancelWriting();
        return;
    }
    if (m_beforeReplace)
        m_beforeReplace();
    // commit() syncs the temporary file to disk and renames it over the old one.
    if (!file.commit()) {
        m_lastError = m_filePath + ": " + file.errorString().toStdString();
        return;
    }
    syncDirectory(dir);
}

std::map<int, std::string> SystemSettingsStore::portAssignments() const
{
    // Only read, never written: a file this user may not replace still names the ports.
    if (!QFileInfo(toQString(m_filePath)).isFile())
        return {};
    std::string reason;
    const std::optional<IniText> text = readFile(reason);
    if (!text) {
        m_lastError = reason;
        return {};
    }
    return text->portAssignments();
}

} // namespace qmr
