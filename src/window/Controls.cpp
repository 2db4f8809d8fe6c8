#include "window/Controls.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

void placeTwips(QWidget* control, int left, int top, int width, int height) {
    control->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

PictureBox::PictureBox(QWidget* parent) : QFrame(parent) {}

void PictureBox::setLeft(float twips) {
    left_ = twips;
    apply();
}
void PictureBox::setTop(float twips) {
    top_ = twips;
    apply();
}
void PictureBox::setWidth(float twips) {
    width_ = twips;
    apply();
}
void PictureBox::setHeight(float twips) {
    height_ = twips;
    apply();
}

void PictureBox::setTwipGeometry(float left, float top, float width, float height) {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    apply();
}

void PictureBox::setPicture(const QPixmap& picture) {
    picture_ = picture;
    update();
}

void PictureBox::paintEvent(QPaintEvent* e) {
    QFrame::paintEvent(e);
    if (picture_.isNull()) return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture_);
}

QString displayLines(const QString& text) {
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

SkinLabel::SkinLabel(const QString& caption, QWidget* parent) : QLabel(parent) {
    // Skinned labels show 8.25-point Arial text from their top-left corner.
    QFont font("Arial");
    font.setPointSizeF(8.25);
    setFont(font);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setCaption(caption);
}

void SkinLabel::setCaption(const QString& caption) {
    caption_ = caption;
    setText(displayLines(caption));
}

TextBox::TextBox(QWidget* parent) : QPlainTextEdit(parent) {}

void TextBox::setText(const QString& text) {
    text_ = text;
    setPlainText(displayLines(text));
    setToolTip(displayLines(text));  // long values are cut at the box's edge
    fitLabelColumn();
}

void TextBox::setLabelColumn(qreal least) {
    leastLabelColumn_ = least;
    fitLabelColumn();
}

void TextBox::fitLabelColumn() {
    if (leastLabelColumn_ <= 0) return;
    const QFontMetricsF metrics(font());
    qreal widest = leastLabelColumn_;
    for (const QString& line : displayLines(text_).split(u'\n'))
        widest = std::max(widest, metrics.horizontalAdvance(line.section(u'\t', 0, 0) + u' '));
    setTabStopDistance(widest);
}

void PictureBox::apply() {
    setGeometry(twipsToPixels(left_), twipsToPixels(top_), std::max(0, twipsToPixels(width_)),
                std::max(0, twipsToPixels(height_)));
}

namespace {
int buttonCode(Qt::MouseButtons buttons) {
    int code = 0;
    if (buttons & Qt::LeftButton) code |= 1;
    if (buttons & Qt::RightButton) code |= 2;
    if (buttons & Qt::MiddleButton) code |= 4;
    return code;
}
int shiftCode(Qt::KeyboardModifiers modifiers) {
    int code = 0;
    if (modifiers & Qt::ShiftModifier) code |= 1;
    if (modifiers & Qt::ControlModifier) code |= 2;
    if (modifiers & Qt::AltModifier) code |= 4;
    return code;
}
}  // namespace

void PictureBox::emitMouse(QMouseEvent* e, int kind) {
    const float x = static_cast<float>(e->position().x() * kTwipsPerPixel);
    const float y = static_cast<float>(e->position().y() * kTwipsPerPixel);
    const int button = buttonCode(kind == 1 ? e->buttons() : Qt::MouseButtons(e->button()));
    const int shift = shiftCode(e->modifiers());
    if (kind == 0) emit MouseDown(button, shift, x, y);
    if (kind == 1) emit MouseMove(button, shift, x, y);
    if (kind == 2) emit MouseUp(button, shift, x, y);
}

void PictureBox::mousePressEvent(QMouseEvent* e) { emitMouse(e, 0); }
void PictureBox::mouseMoveEvent(QMouseEvent* e) { emitMouse(e, 1); }
void PictureBox::mouseReleaseEvent(QMouseEvent* e) { emitMouse(e, 2); }

LineControl::LineControl(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_TransparentForMouseEvents); }

void LineControl::setX1(float twips) {
    x1_ = twips;
    apply();
}
void LineControl::setX2(float twips) {
    x2_ = twips;
    apply();
}
void LineControl::setLine(float x1, float y1, float x2, float y2) {
    x1_ = x1;
    y1_ = y1;
    x2_ = x2;
    y2_ = y2;
    apply();
}
void LineControl::setColor(const QColor& color) {
    color_ = color;
    update();
}
void LineControl::setLineWidth(int pixels) {
    lineWidth_ = std::max(1, pixels);
    apply();
}

void LineControl::apply() {
    const int pad = lineWidth_;
    const int left = twipsToPixels(std::min(x1_, x2_)) - pad, top = twipsToPixels(std::min(y1_, y2_)) - pad;
    const int right = twipsToPixels(std::max(x1_, x2_)) + pad, bottom = twipsToPixels(std::max(y1_, y2_)) + pad;
    setGeometry(left, top, right - left + 1, bottom - top + 1);
    update();
}

void LineControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(QPen(color_, lineWidth_));
    const QPoint origin = geometry().topLeft();
    painter.drawLine(QPoint(twipsToPixels(x1_), twipsToPixels(y1_)) - origin,
                     QPoint(twipsToPixels(x2_), twipsToPixels(y2_)) - origin);
}
