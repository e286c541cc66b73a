// Runs a harness over kept inputs, without libFuzzer: every file in the folder
// named, each named on stderr before it runs. No input at all is a failure,
// so a lost corpus cannot pass unnoticed.
#include <QDir>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    const auto inputs = argc < 2 ? QFileInfoList() : QDir(argv[1]).entryInfoList(QDir::Files);
    for (const QFileInfo &input : inputs) {
        QFile file(input.filePath());
        std::fprintf(stderr, "%s\n", qPrintable(file.fileName()));
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray bytes = file.readAll();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    }
    return inputs.isEmpty();
}
