// Runs a harness over kept inputs, without libFuzzer: every file named, and
// every file in every folder named, each named on stderr before it runs. No
// input at all is a failure, so a lost corpus cannot pass unnoticed.
#include <QDir>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    QFileInfoList inputs;
    for (int i = 1; i < argc; ++i) {
        const QFileInfo a(QString::fromLocal8Bit(argv[i]));
        inputs += a.isDir() ? QDir(a.filePath()).entryInfoList(QDir::Files) : QFileInfoList{a};
    }
    for (const QFileInfo &input : std::as_const(inputs)) {
        QFile file(input.filePath());
        std::fprintf(stderr, "%s\n", qPrintable(file.fileName()));
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray bytes = file.readAll();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    }
    std::printf("replayed %d inputs\n", int(inputs.size()));
    return inputs.isEmpty() ? 1 : 0;
}
