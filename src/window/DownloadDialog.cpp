#include "window/DownloadDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// "1.5 MB of 12 MB"; only the amount received while the size is unknown.
QString downloadAmountText(qint64 received, qint64 total) {
    const QLocale locale = QLocale::system();
    const QString got = locale.formattedDataSize(received);
    return total > 0 ? got + " of " + locale.formattedDataSize(total) : got;
}

}  // namespace

DownloadDialog::DownloadDialog(const DownloadOptions& options, QWidget* parent) : QDialog(parent) {
    setObjectName("DownloadDialog");
    setWindowTitle(options.title);
    setWindowModality(Qt::ApplicationModal);

    picture = new QLabel(this);
    picture->setObjectName("picture");
    const QPixmap pixmap(options.picture);
    picture->setPixmap(pixmap);
    picture->setVisible(!pixmap.isNull());

    label = new QLabel(options.label, this);
    label->setObjectName("label");
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    description = new QLabel(options.description, this);
    description->setObjectName("description");
    description->setWordWrap(true);
    amount = new QLabel(this);
    amount->setObjectName("amount");
    bar = new QProgressBar(this);
    bar->setObjectName("bar");
    bar->setRange(0, 0);  // busy until the size is known
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName("cancelButton");
    connect(cancelButton, &QPushButton::clicked, this, &DownloadDialog::reject);

    auto* texts = new QVBoxLayout;
    texts->addWidget(label);
    texts->addWidget(description);
    auto* top = new QHBoxLayout;
    top->addWidget(picture, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancelButton);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addWidget(bar);
    all->addWidget(amount);
    all->addLayout(buttons);
    setMinimumWidth(420);
    setProgress(0, -1);
}

void DownloadDialog::setProgress(qint64 received, qint64 total) {
    received_ = received;
    if (total > 0) {
        bar->setRange(0, 1000);
        bar->setValue(static_cast<int>(std::clamp<qint64>(received * 1000 / total, 0, 1000)));
    }
    amount->setText(downloadAmountText(received, total));
}

void DownloadDialog::reject() {
    cancelled_ = true;
    cancelButton->setEnabled(false);
}
