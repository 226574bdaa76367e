// Runs a fuzz harness over files without libFuzzer: each argument is a file or a directory
// of files, fed to LLVMFuzzerTestOneInput once each. Used to replay the seed corpora and
// the regression inputs in the normal test suite.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char *argv[])
{
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        const QFileInfo info(QFile::decodeName(argv[i]));
        QStringList paths;
        if (info.isDir()) {
            for (const QFileInfo &entry :
                 QDir(info.filePath()).entryInfoList(QDir::Files, QDir::Name))
                paths.append(entry.filePath());
        } else {
            paths.append(info.filePath());
        }
        for (const QString &path : paths) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
                return 1;
            }
            const QByteArray data = file.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(data.constData()),
                                   size_t(data.size()));
            ++files;
        }
    }
    std::printf("%d inputs replayed\n", files);
    return 0;
}
