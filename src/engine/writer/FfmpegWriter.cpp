#include "engine/writer/FfmpegWriter.h"

#include "engine/writer/OutputFile.h"
#include "engine/writer/WriterCatalog.h"

FfmpegWriter::FfmpegWriter() {
    for (const AviCodec& codec : aviCodecs()) settings_.codecSettings.push_back(codec.defaults);
    settings_.aviCodec = int(aviCodecs().size());
    settings_.wmvProfile = int(wmvProfiles().size());
}

FfmpegWriter::~FfmpegWriter() {
    try {
        CloseFile();
    } catch (...) {
    }
}

// ---- formats ----

void FfmpegWriter::SetVideoFormat(int32_t width, int32_t height, double fps) {
    settings_.sourceWidth = width;
    settings_.sourceHeight = height;
    settings_.sourceFps = fps;
}

void FfmpegWriter::SetAudioFormat(int32_t rate, int32_t channels) {
    settings_.sourceRate = rate;
    settings_.sourceChannels = channels;
}

void FfmpegWriter::SetAviVideo(int32_t width, int32_t height, double fps) {
    settings_.aviWidth = width;
    settings_.aviHeight = height;
    settings_.aviFps = fps;
}

// The audio calls only record the choice: a source without audio still gets one (with whatever
// rate it reports), and CreateFile checks the values only for a file that has an audio stream.
void FfmpegWriter::SetAudioPCM(int32_t rate, int32_t channels, int32_t bits) {
    settings_.aviAudio = WriterSettings::AviAudio::Pcm;
    settings_.aviAudioRate = rate;
    settings_.aviAudioChannels = channels;
    settings_.aviAudioBits = bits;
}

void FfmpegWriter::SetAudioADPCM(int32_t rate, int32_t channels) {
    settings_.aviAudio = WriterSettings::AviAudio::Adpcm;
    settings_.aviAudioRate = rate;
    settings_.aviAudioChannels = channels;
}

void FfmpegWriter::SetAudioALaw(int32_t rate, int32_t channels) {
    settings_.aviAudio = WriterSettings::AviAudio::ALaw;
    settings_.aviAudioRate = rate;
    settings_.aviAudioChannels = channels;
}

void FfmpegWriter::SetAudioMuLaw(int32_t rate, int32_t channels) {
    settings_.aviAudio = WriterSettings::AviAudio::MuLaw;
    settings_.aviAudioRate = rate;
    settings_.aviAudioChannels = channels;
}

void FfmpegWriter::SetAudioGSM(int32_t rate) {
    settings_.aviAudio = WriterSettings::AviAudio::Gsm;
    settings_.aviAudioRate = rate;  // the source's; GSM itself is always 8 kHz mono
    settings_.aviAudioChannels = 1;
}

void FfmpegWriter::SetAudioMP3(int32_t kbps, int32_t rate, int32_t channels) {
    settings_.aviAudio = WriterSettings::AviAudio::Mp3;
    settings_.aviAudioKbps = kbps;
    settings_.aviAudioRate = rate;
    settings_.aviAudioChannels = channels;
}

void FfmpegWriter::SetMpegVideo(int32_t version, int32_t kbps, int32_t width, int32_t height, double fps) {
    settings_.mpegVersion = version;
    settings_.mpegVideoKbps = kbps;
    settings_.mpegWidth = width;
    settings_.mpegHeight = height;
    settings_.mpegFps = fps;
}

void FfmpegWriter::SetMpegAudio(int32_t kbps, int32_t rate, int32_t channels) {
    // The rate is decided by the disc standard of the MPEG version (44.1 kHz VCD, 48 kHz DVD).
    settings_.mpegAudioKbps = kbps;
    settings_.mpegAudioChannels = channels;
}

// ---- AVI codecs ----

int32_t FfmpegWriter::VideoCodecCount() const { return int32_t(aviCodecs().size()); }

void FfmpegWriter::checkCodecIndex(int index) const {
    if (index < 1 || index > VideoCodecCount())
        throw MediaError(
            QStringLiteral("There is no video codec number %1 (1 to %2)").arg(index).arg(VideoCodecCount()));
}

void FfmpegWriter::SetVideoCodec(int32_t index) {
    checkCodecIndex(index);
    settings_.aviCodec = index;
}

int32_t FfmpegWriter::VideoCodec() const { return settings_.aviCodec; }

QString FfmpegWriter::VideoCodecName() const { return aviCodecs()[size_t(settings_.aviCodec - 1)].name; }

CodecSettings FfmpegWriter::codecSettings(int index) const {
    checkCodecIndex(index);
    return settings_.codecSettings[size_t(index - 1)];
}

void FfmpegWriter::setCodecSettings(int index, const CodecSettings& settings) {
    checkCodecIndex(index);
    settings_.codecSettings[size_t(index - 1)] = clampedSettings(settings, aviCodecs()[size_t(index - 1)].caps);
}

CodecCapabilities FfmpegWriter::VideoCodecCapabilities() const {
    return aviCodecs()[size_t(settings_.aviCodec - 1)].caps;
}

CodecSettings FfmpegWriter::VideoCodecSettings() const { return codecSettings(settings_.aviCodec); }

void FfmpegWriter::SetVideoCodecSettings(const CodecSettings& settings) {
    setCodecSettings(settings_.aviCodec, settings);
}

// ---- WMV profiles ----

int32_t FfmpegWriter::WmvProfileCount() const { return int32_t(wmvProfiles().size()); }

void FfmpegWriter::SetWmvProfile(int32_t index) {
    if (index < 1 || index > WmvProfileCount())
        throw MediaError(
            QStringLiteral("There is no WMV profile number %1 (1 to %2)").arg(index).arg(WmvProfileCount()));
    settings_.wmvProfile = index;
}

int32_t FfmpegWriter::WmvProfile() const { return settings_.wmvProfile; }

QString FfmpegWriter::WmvProfileName() const { return wmvProfiles()[size_t(settings_.wmvProfile - 1)].name; }

// ---- the file ----

OutputPlan FfmpegWriter::plan(int container) const {
    WriterSettings s = settings_;
    s.hasVideo = hasVideo_;
    s.hasAudio = hasAudio_;
    return planOutput(s, container);
}

void FfmpegWriter::CreateFile(const QString& path, int32_t container) {
    CloseFile();  // a file still open is completed first
    const OutputPlan output = plan(container);
    try {
        file_ = std::make_unique<OutputFile>(path, output, writeLimit_);
        createFailure_.clear();
    } catch (const MediaError& e) {
        createFailure_ = e.description();
        throw;
    }
}

void FfmpegWriter::requireFile() const {
    // A write after a failed CreateFile says why there is no file.
    if (!file_) throw MediaError(createFailure_.isEmpty() ? QStringLiteral("No output file is open") : createFailure_);
}

void FfmpegWriter::WriteVideoFrame(const FrameData& frame) {
    requireFile();
    if (frame.isEmpty() || !file_->hasVideo()) return;
    const auto view = viewFrame(frame);
    if (!view) throw MediaError(QStringLiteral("The video frame to write is not valid frame data"));
    file_->writeVideo(*view);
}

void FfmpegWriter::WriteAudio(const AudioChunk& chunk) {
    requireFile();
    if (chunk.empty() || !file_->hasAudio()) return;
    file_->writeAudio(chunk.data(), int64_t(chunk.size()));
}

void FfmpegWriter::CloseFile() {
    if (!file_) return;
    // The object is free for a new file whether or not completing this one works.
    std::unique_ptr<OutputFile> file = std::move(file_);
    file->finish();
}

std::unique_ptr<VideoSink> createVideoFileWriter() { return std::make_unique<FfmpegWriter>(); }
