#pragma once
#include <QString>
#include <exception>
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

// The readable description of a caught exception: MediaError's description, the text of any
// other std::exception, "Unknown error" otherwise.
QString describeError(std::exception_ptr error);
