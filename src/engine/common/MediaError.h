#pragma once
#include <QString>
#include <stdexcept>

// Every engine failure is thrown as a MediaError whose description a user can read.
class MediaError : public std::runtime_error {
public:
    explicit MediaError(const QString& description)
        : std::runtime_error(description.toStdString()), description_(description) {}
    const QString& description() const { return description_; }

private:
    QString description_;
};

// Text of an FFmpeg error code, e.g. "Invalid data found when processing input".
QString ffmpegErrorText(int errnum);
