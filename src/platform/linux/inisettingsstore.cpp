#include "settings/inisettingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStringDecoder>

#include <fcntl.h>
#include <unistd.h>

namespace qmr {

namespace {

const QString ScanCommNoKey = QStringLiteral("ScanCommNo");
const QString ScanBaudRateKey = QStringLiteral("ScanBaudRate");
const QString ScanBaudRateNoKey = QStringLiteral("ScanBaudRateNo");
const QString LanguageFlagKey = QStringLiteral("LanguageFlag");
const QString PortsGroup = QStringLiteral("Ports");

// How long a save waits for another copy of the program to finish its own save.
constexpr int LockWaitMs = 2000;

enum class LineKind
{
    Blank,
    Comment,
    Group,
    Entry
};

struct IniLine
{
    LineKind kind;
    QString text;  // the whole line as it stands in the file, without its line break
    QString name;  // group name or key
    QString value; // Entry only: everything after the first '='
    QString group; // the group the line lies in (empty before the first group)
};

bool isPlainLine(const QString &line)
{
    for (const QChar ch : line) {
        const char16_t c = ch.unicode();
        if ((c < 0x20 && c != u'\t') || c == 0x7f)
            return false;
    }
    return true;
}

// Splits the file into lines, keeping every line that makes sense and skipping the rest
// (binary junk, invalid UTF-8, lines without '=').
QList<IniLine> parseIni(QByteArray data, bool truncated)
{
    // A cut-off last line would be half a value: leave it out.
    if (truncated) {
        const qsizetype lastBreak = data.lastIndexOf('\n');
        data.truncate(lastBreak < 0 ? 0 : lastBreak + 1);
    }
    QList<IniLine> lines;
    QString group;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\n', start);
        if (end < 0)
            end = data.size();
        QByteArrayView raw(data.constData() + start, end - start);
        start = end + 1;
        if (raw.endsWith('\r'))
            raw.chop(1);

        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = decoder.decode(raw);
        if (decoder.hasError() || !isPlainLine(text))
            continue;
        const QString trimmed = text.trimmed();
        if (trimmed.isEmpty()) {
            lines.append({LineKind::Blank, text, {}, {}, group});
        } else if (trimmed.startsWith(u'#') || trimmed.startsWith(u';')) {
            lines.append({LineKind::Comment, text, {}, {}, group});
        } else if (trimmed.startsWith(u'[') && trimmed.endsWith(u']')) {
            group = trimmed.mid(1, trimmed.size() - 2).trimmed();
            lines.append({LineKind::Group, text, group, {}, group});
        } else if (const qsizetype eq = text.indexOf(u'='); eq > 0) {
            const QString key = text.left(eq).trimmed();
            if (key.isEmpty())
                continue;
            lines.append({LineKind::Entry, text, key, text.mid(eq + 1), group});
        }
    }
    return lines;
}

const IniLine *findEntry(const QList<IniLine> &lines, const QString &group, const QString &key)
{
    for (const IniLine &line : lines) {
        if (line.kind == LineKind::Entry && line.group == group && line.name == key)
            return &line;
    }
    return nullptr;
}

// Changes the line of key in group, or adds it after the group's last entry; adds the group
// at the end when the file has none.
void setEntry(QList<IniLine> &lines, const QString &group, const QString &key, const QString &value)
{
    const QString text = key + u'=' + value;
    for (IniLine &line : lines) {
        if (line.kind == LineKind::Entry && line.group == group && line.name == key) {
            line.text = text;
            line.value = value;
            return;
        }
    }
    qsizetype groupAt = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == LineKind::Group && lines[i].name == group) {
            groupAt = i;
            break;
        }
    }
    if (groupAt < 0) {
        if (!lines.isEmpty() && lines.last().kind != LineKind::Blank)
            lines.append({LineKind::Blank, QString(), {}, {}, lines.last().group});
        lines.append({LineKind::Group, u'[' + group + u']', group, {}, group});
        groupAt = lines.size() - 1;
    }
    qsizetype insertAt = groupAt + 1;
    for (qsizetype i = groupAt + 1; i < lines.size() && lines[i].kind != LineKind::Group; ++i) {
        if (lines[i].kind == LineKind::Entry)
            insertAt = i + 1;
    }
    lines.insert(insertAt, {LineKind::Entry, text, key, value, group});
}

QByteArray serialize(const QList<IniLine> &lines)
{
    QByteArray out;
    for (const IniLine &line : lines) {
        out += line.text.toUtf8();
        out += '\n';
    }
    return out;
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

int hexDigit(QChar ch)
{
    const char16_t c = ch.unicode();
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

} // namespace

IniSettingsStore::IniSettingsStore(QString filePath)
    : m_filePath(filePath.isEmpty() ? defaultFilePath() : std::move(filePath))
{
}

QString IniSettingsStore::defaultFilePath()
{
    // A relative XDG_CONFIG_HOME is invalid and ignored, like an unset one.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/TAVEX/QMRConfig.conf");
}

QString IniSettingsStore::encodeText(const QString &text)
{
    bool plain = !text.startsWith(u'"') && isPlainLine(text) && !text.contains(u'\t');
    if (plain && !text.isEmpty())
        plain = !text.front().isSpace() && !text.back().isSpace();
    if (plain)
        return text;
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (const QChar ch : text) {
        switch (ch.unicode()) {
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        case u'"':
            out += QStringLiteral("\\\"");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        case u'\t':
            out += QStringLiteral("\\t");
            break;
        default:
            if (ch.unicode() < 0x20 || ch.unicode() == 0x7f)
                out += QStringLiteral("\\x%1").arg(ch.unicode(), 2, 16, QLatin1Char('0'));
            else
                out += ch;
        }
    }
    out += u'"';
    return out;
}

QString IniSettingsStore::decodeText(const QString &value)
{
    if (value.size() < 2 || !value.startsWith(u'"') || !value.endsWith(u'"'))
        return value;
    QString out;
    const qsizetype last = value.size() - 1;
    for (qsizetype i = 1; i < last; ++i) {
        const QChar ch = value[i];
        if (ch == u'"')
            return value; // not one quoted text: take the line as written
        if (ch != u'\\') {
            out += ch;
            continue;
        }
        if (++i >= last)
            return value;
        switch (value[i].unicode()) {
        case u'\\':
            out += u'\\';
            break;
        case u'"':
            out += u'"';
            break;
        case u'n':
            out += u'\n';
            break;
        case u'r':
            out += u'\r';
            break;
        case u't':
            out += u'\t';
            break;
        case u'x': {
            const int high = i + 1 < last ? hexDigit(value[i + 1]) : -1;
            const int low = i + 2 < last ? hexDigit(value[i + 2]) : -1;
            if (high < 0 || low < 0)
                return value;
            out += QChar(char16_t(high * 16 + low));
            i += 2;
            break;
        }
        default:
            return value;
        }
    }
    return out;
}

bool IniSettingsStore::parseInt(const QString &value, qint32 &result)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < value.size() && (value[i] == u'+' || value[i] == u'-')) {
        negative = value[i] == u'-';
        ++i;
    }
    if (i == value.size())
        return false;
    const qint64 limit = negative ? qint64(1) << 31 : (qint64(1) << 31) - 1;
    qint64 magnitude = 0;
    for (; i < value.size(); ++i) {
        const char16_t c = value[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        magnitude = magnitude * 10 + (c - u'0');
        if (magnitude > limit)
            return false;
    }
    result = static_cast<qint32>(negative ? -magnitude : magnitude);
    return true;
}

bool IniSettingsStore::mayReplaceFile(QString &reason) const
{
    const QFileInfo info(m_filePath);
    if (!info.isFile()) {
        reason = m_filePath + QStringLiteral(": not a regular file");
        return false;
    }
    if (!canAccess(m_filePath, W_OK)) {
        reason = m_filePath + QStringLiteral(": not writable");
        return false;
    }
    // The file is replaced by a rename, which needs write access to its directory.
    const QString dir = QFileInfo(info.canonicalFilePath()).absolutePath();
    if (!canAccess(dir, W_OK | X_OK)) {
        reason = dir + QStringLiteral(": directory not writable");
        return false;
    }
    return true;
}

bool IniSettingsStore::readFile(QByteArray &data, QString &reason) const
{
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        reason = m_filePath + QStringLiteral(": ") + file.errorString();
        return false;
    }
    data = file.read(MaxFileBytes);
    return true;
}

void IniSettingsStore::LoadSettings(Settings &settings)
{
    settings = Settings{};
    m_lastError.clear();
    if (!QFileInfo::exists(m_filePath))
        return;
    QString reason;
    QByteArray data;
    if (!mayReplaceFile(reason) || !readFile(data, reason)) {
        m_lastError = reason;
        return;
    }
    const QList<IniLine> lines = parseIni(data, QFileInfo(m_filePath).size() > data.size());
    const QString group = groupName();

    // In this order; a value of the wrong type ends the load and it and every later value
    // keep their defaults.
    if (const IniLine *line = findEntry(lines, group, ScanCommNoKey)) {
        if (!parseInt(line->value, settings.ScanCommNo)) {
            m_lastError = QStringLiteral("ScanCommNo is not an integer");
            return;
        }
    }
    if (const IniLine *line = findEntry(lines, group, ScanBaudRateKey))
        settings.ScanBaudRate = decodeText(line->value);
    if (const IniLine *line = findEntry(lines, group, ScanBaudRateNoKey)) {
        if (!parseInt(line->value, settings.ScanBaudRateNo)) {
            m_lastError = QStringLiteral("ScanBaudRateNo is not an integer");
            return;
        }
    }
    if (const IniLine *line = findEntry(lines, group, LanguageFlagKey))
        settings.LanguageFlag = decodeText(line->value);
    settings.LanguageIndex = Settings::languageIndexFor(settings.LanguageFlag);
}

void IniSettingsStore::SaveScanSettings(const Settings &settings)
{
    save({{ScanCommNoKey, QString::number(settings.ScanCommNo)},
          {ScanBaudRateNoKey, QString::number(settings.ScanBaudRateNo)},
          {ScanBaudRateKey, encodeText(settings.ScanBaudRate)}});
}

void IniSettingsStore::SaveLanguage(const Settings &settings)
{
    save({{LanguageFlagKey, encodeText(settings.LanguageFlag)}});
}

void IniSettingsStore::save(const QList<Entry> &entries)
{
    m_lastError.clear();
    const QString dir = QFileInfo(m_filePath).absolutePath();
    if (!QDir().mkpath(dir)) {
        m_lastError = dir + QStringLiteral(": cannot create the directory");
        return;
    }
    // Another copy of the program may be saving right now; wait for it so that neither
    // save throws away the values the other just wrote. Without the lock the save goes on:
    // the last write wins.
    QLockFile lock(m_filePath + QStringLiteral(".lock"));
    lock.tryLock(LockWaitMs);

    QList<IniLine> lines;
    if (QFileInfo::exists(m_filePath)) {
        QString reason;
        QByteArray data;
        if (!mayReplaceFile(reason) || !readFile(data, reason)) {
            m_lastError = reason;
            return;
        }
        lines = parseIni(data, QFileInfo(m_filePath).size() > data.size());
    }
    for (const Entry &entry : entries)
        setEntry(lines, groupName(), entry.key, entry.value);

    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        m_lastError = m_filePath + QStringLiteral(": ") + file.errorString();
        return;
    }
    const QByteArray contents = serialize(lines);
    if (file.write(contents) != contents.size() || !file.flush()) {
        m_lastError = m_filePath + QStringLiteral(": ") + file.errorString();
        file.cancelWriting();
        return;
    }
    if (m_beforeReplace)
        m_beforeReplace();
    // commit() syncs the temporary file to disk and renames it over the old one.
    if (!file.commit()) {
        m_lastError = m_filePath + QStringLiteral(": ") + file.errorString();
        return;
    }
    syncDirectory(dir);
}

QMap<int, QString> IniSettingsStore::portAssignments() const
{
    // Only read, never written: a file this user may not replace still names the ports.
    QMap<int, QString> ports;
    const QFileInfo info(m_filePath);
    if (!info.isFile())
        return ports;
    QString reason;
    QByteArray data;
    if (!readFile(data, reason)) {
        m_lastError = reason;
        return ports;
    }
    for (const IniLine &line : parseIni(data, info.size() > data.size())) {
        if (line.kind != LineKind::Entry || line.group != PortsGroup ||
            !line.name.startsWith(QLatin1String("COM")))
            continue;
        const QString digits = line.name.mid(3);
        qint32 number = 0;
        if (digits.isEmpty() || !digits.front().isDigit() || !parseInt(digits, number) ||
            number < 1 || ports.contains(number))
            continue;
        ports.insert(number, decodeText(line.value).trimmed());
    }
    return ports;
}

} // namespace qmr
