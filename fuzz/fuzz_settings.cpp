// The settings loader on arbitrary file contents: load, save the scan settings and the
// language, reload. The saved file must be well-formed, what was saved must read back, and
// a second save must not change the file again.

#include "settings/inisettingsstore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "require.h"

#include <cstdint>
#include <cstdlib>

using namespace qmr;

namespace {
QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void requireWellFormed(const QByteArray &data)
{
    require(!data.contains('\0'));
    const QString text = QString::fromUtf8(data);
    require(text.toUtf8() == data);
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QString l = line.trimmed();
        require(l.isEmpty() || l.startsWith(QLatin1Char('#')) || l.startsWith(QLatin1Char(';')) ||
                (l.startsWith(QLatin1Char('[')) && l.endsWith(QLatin1Char(']'))) ||
                l.indexOf(QLatin1Char('=')) > 0);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir; // one directory for the whole run; each input rewrites the file
    require(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QMRConfig.conf"));
    {
        QFile file(path);
        require(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }

    IniSettingsStore store(path);
    Settings loaded;
    store.LoadSettings(loaded);
    require(loaded.LanguageIndex == Settings::languageIndexFor(loaded.LanguageFlag));
    (void)store.portAssignments();

    // Values as a scan would leave them, texts taken from the input so odd characters are
    // saved too.
    Settings saved = loaded;
    saved.ScanCommNo = size > 0 ? int(data[0]) - 100 : 3;
    saved.ScanBaudRateNo = size > 1 ? int(int8_t(data[1])) : 5;
    saved.ScanBaudRate = loaded.LanguageFlag.left(40) + QStringLiteral(",e,8,1");
    saved.LanguageFlag = loaded.ScanBaudRate.left(40);
    store.SaveScanSettings(saved);
    store.SaveLanguage(saved);
    const QByteArray first = readAll(path);
    requireWellFormed(first);

    Settings again;
    IniSettingsStore(path).LoadSettings(again);
    require(again.ScanCommNo == saved.ScanCommNo);
    require(again.ScanBaudRateNo == saved.ScanBaudRateNo);
    require(again.ScanBaudRate == saved.ScanBaudRate);
    require(again.LanguageFlag == saved.LanguageFlag);

    store.SaveScanSettings(saved);
    store.SaveLanguage(saved);
    require(readAll(path) == first);
    QFile::remove(path);
    return 0;
}
