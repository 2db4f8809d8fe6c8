#pragma once
// The progress dialog of a download: title, a picture, a bold label, a description, a
// progress bar with the amount received, and a Cancel button.
#include <QDialog>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;

// What a download run shows; set through FileDownloader::SetOption.
struct DownloadOptions {
    QString title;
    QString label;
    QString description;
    QString picture;  // path of the small picture beside the texts; missing file = none
};

class DownloadDialog : public QDialog {
public:
    explicit DownloadDialog(const DownloadOptions& options, QWidget* parent = nullptr);

    // Shows the amount received; `total` < 0 when the size is not known yet.
    void setProgress(qint64 received, qint64 total);
    qint64 received() const { return received_; }
    // True once the user has asked to stop (Cancel, Escape or closing the window).
    bool cancelled() const { return cancelled_; }

    QLabel* picture{};
    QLabel* label{};
    QLabel* description{};
    QLabel* amount{};
    QProgressBar* bar{};
    QPushButton* cancelButton{};

protected:
    // The dialog stays open until the transfer has stopped; the download loop closes it.
    void reject() override;

private:
    qint64 received_ = 0;
    bool cancelled_ = false;
};
