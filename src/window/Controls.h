#pragma once
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QWidget>
#include <cmath>

// Positions inside frames and picture boxes are twips: 15 twips per pixel.
constexpr double kTwipsPerPixel = 15.0;
inline int twipsToPixels(double twips) { return static_cast<int>(std::lround(twips / kTwipsPerPixel)); }

// Places a child control from its stored layout in twips (left, top, width, height).
void placeTwips(QWidget* control, int left, int top, int width, int height);

// A picture box whose position is kept in twips as single-precision numbers, so that the
// thumb, band and logo arithmetic is exact; the widget itself snaps to whole pixels.
// Mouse events report x and y in twips in the box's own coordinates.
class PictureBox : public QFrame {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);

    float Left() const { return left_; }
    float Top() const { return top_; }
    float Width() const { return width_; }
    float Height() const { return height_; }
    void setLeft(float twips);
    void setTop(float twips);
    void setWidth(float twips);
    void setHeight(float twips);
    void setTwipGeometry(float left, float top, float width, float height);
    // The picture the box shows, drawn at its top-left corner.
    void setPicture(const QPixmap& picture);

signals:
    void MouseDown(int button, int shift, float x, float y);
    void MouseMove(int button, int shift, float x, float y);
    void MouseUp(int button, int shift, float x, float y);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void apply();
    void emitMouse(QMouseEvent* e, int kind);
    float left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    QPixmap picture_;
};

// A label whose caption may hold lone carriage returns as line breaks. caption() gives the
// text exactly as set; the label shows each CR, LF or CR LF as one line break.
class SkinLabel : public QLabel {
    Q_OBJECT
public:
    explicit SkinLabel(const QString& caption = {}, QWidget* parent = nullptr);
    void setCaption(const QString& caption);
    QString caption() const { return caption_; }

private:
    QString caption_;
};

// A multi-line text box holding its text exactly as set (lines joined by CR LF).
class TextBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const { return text_; }
    // For lines of "label<TAB>value": the values start in one column just after the widest
    // label of the text, and never before `least` pixels.
    void setLabelColumn(qreal least);

private:
    void fitLabelColumn();
    QString text_;
    qreal leastLabelColumn_ = 0;  // 0: the tab stop stays as set
};

// Display form of a text with CR, LF or CR LF line breaks.
QString displayLines(const QString& text);
// A control's own Enabled flag, independent of its containers (a control inside a disabled
// frame still reports the value last assigned to it).
inline bool enabledFlag(const QWidget* w) { return !w->testAttribute(Qt::WA_ForceDisabled); }

// A straight line inside a picture box, from (X1, Y1) to (X2, Y2) in twips.
class LineControl : public QWidget {
    Q_OBJECT
public:
    explicit LineControl(QWidget* parent = nullptr);
    float X1() const { return x1_; }
    float X2() const { return x2_; }
    float Y1() const { return y1_; }
    float Y2() const { return y2_; }
    void setX1(float twips);
    void setX2(float twips);
    void setLine(float x1, float y1, float x2, float y2);
    void setColor(const QColor& color);
    void setLineWidth(int pixels);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void apply();
    float x1_ = 0, y1_ = 0, x2_ = 0, y2_ = 0;
    QColor color_ = Qt::black;
    int lineWidth_ = 1;
};
