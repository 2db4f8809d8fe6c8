#include "app/CommandLine.h"

#include <QFileInfo>
#include <QHash>

#include "app/BatchMode.h"
#include "engine/image/ImageFile.h"
#include "rules/Conversions.h"
#include "window/EngineFactory.h"
#include "window/ErrorPolicy.h"

namespace {

using SaveOperation = int32_t (ImageFile::*)(const FrameData&, const QString&);

const QHash<QString, SaveOperation>& pictureFormats() {
    static const QHash<QString, SaveOperation> formats{
        {"bmp", &ImageFile::SaveBMP},   {"jpeg", &ImageFile::SaveJPEG},   {"gif", &ImageFile::SaveGIF},
        {"tiff", &ImageFile::SaveTIFF}, {"pcx", &ImageFile::SavePCX},     {"wmf", &ImageFile::SaveWMF},
        {"emf", &ImageFile::SaveEMF},   {"tga", &ImageFile::SaveTGA},     {"png", &ImageFile::SavePNG},
        {"ras", &ImageFile::SaveRAS},   {"j2k", &ImageFile::SaveJPEG2000}};
    return formats;
}

int printInfo(const QString& path, QTextStream& out) {
    auto reader = createVideoFileReader();
    reader->OpenFile(path);
    if (!reader->HasVideo()) throw std::runtime_error("The file has no video stream");
    out << "VideoCodecName: " << reader->VideoCodecName() << "\n"
        << "VideoDuration: " << reader->VideoDuration() << "\n"
        << "VideoBitRate: " << reader->VideoBitRate() << "\n"
        << "FrameRate: " << realText(reader->FrameRate()) << "\n"
        << "FrameCount: " << reader->FrameCount() << "\n"
        << "FrameWidth: " << reader->FrameWidth() << "\n"
        << "FrameHeight: " << reader->FrameHeight() << "\n";
    if (reader->HasAudio()) {
        out << "AudioCodecName: " << reader->AudioCodecName() << "\n"
            << "AudioDuration: " << reader->AudioDuration() << "\n"
            << "AudioBitRate: " << reader->AudioBitRate() << "\n"
            << "AudioSampleRate: " << reader->AudioSampleRate() << "\n"
            << "AudioSampleSize: " << reader->AudioSampleSize() << "\n"
            << "AudioChannels: " << reader->AudioChannels() << "\n";
    }
    return 0;
}

int saveFrame(const QStringList& args, QTextStream& err) {
    QString source, format, outPath;
    std::optional<int> frame;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--save-frame" && hasValue)
            source = args[++i];
        else if (a == "--frame" && hasValue) {
            bool ok = false;
            const int n = args[++i].toInt(&ok);
            if (ok) frame = n;
        } else if (a == "--format" && hasValue)
            format = args[++i].toLower();
        else if (a == "--out" && hasValue)
            outPath = args[++i];
        else {
            err << "korvelin: unexpected argument: " << a << "\n";
            return 2;
        }
    }
    if (source.isEmpty() || !frame || outPath.isEmpty() || !pictureFormats().contains(format)) {
        err << "usage: korvelin --save-frame FILE --frame N --format "
               "bmp|jpeg|gif|tiff|pcx|wmf|emf|tga|png|ras|j2k --out PATH\n";
        return 2;
    }
    auto reader = createVideoFileReader();
    reader->OpenFile(source);
    if (!reader->HasVideo()) throw std::runtime_error("The file has no video stream");
    if (*frame < 1 || *frame > reader->FrameCount())
        throw std::runtime_error(
            QStringLiteral("Frame %1 is outside 1..%2").arg(*frame).arg(reader->FrameCount()).toStdString());
    reader->SeekFrame(*frame);
    const FrameData data = reader->ReadVideoFrame();
    if (data.isEmpty())
        throw std::runtime_error(QStringLiteral("Frame %1 could not be read").arg(*frame).toStdString());
    ImageFile writer;
    (writer.*pictureFormats().value(format))(data, outPath);
    return 0;
}

}  // namespace

QString programUsage() {
    return QStringLiteral(
               "usage: korvelin [VIDEO]                 the window, opening VIDEO\n"
               "       korvelin --info FILE             what the media engine reads of FILE\n"
               "       korvelin --save-frame FILE --frame N --format "
               "bmp|jpeg|gif|tiff|pcx|wmf|emf|tga|png|ras|j2k --out PATH\n"
               "       korvelin --help | -h | --version\n") +
           batchUsage().replace(QStringLiteral("usage: "), QStringLiteral("       "));
}

std::optional<int> runCommandLineMode(const QStringList& args, QTextStream& out, QTextStream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << programUsage();
        return 0;
    }
    if (args.size() == 1 && args[0] == "--version") {
        out << "korvelin " << KORVELIN_VERSION << "\n";
        return 0;
    }
    if (args.isEmpty() || (args[0] != "--info" && args[0] != "--save-frame")) return std::nullopt;
    try {
        if (args[0] == "--info") {
            if (args.size() != 2) {
                err << "usage: korvelin --info FILE\n";
                return 2;
            }
            return printInfo(args[1], out);
        }
        return saveFrame(args, err);
    } catch (...) {
        err << "korvelin: " << describeError(std::current_exception()) << "\n";
        return 1;
    }
}

QString startupSourcePath(const QStringList& arguments) {
    return arguments.isEmpty() || arguments[0].isEmpty() ? QString() : QFileInfo(arguments[0]).absoluteFilePath();
}
