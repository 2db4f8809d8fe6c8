#pragma once
#include <QList>
#include <QString>
#include <QStringList>
#include <exception>
#include <functional>

class QWidget;

// The window's one shared file dialog: what one use sets and the next does not stays.
struct FileDialogState {
    QString FileName;
    QString DialogTitle;
    QString Filter;       // "desc|pattern|desc|pattern|" form
    int FilterIndex = 0;  // 1-based; 0 = not set
    int Flags = 0;        // 2 = ask before overwriting
    QString InitDir;      // the folder shown first when FileName names none
    bool CancelError = false;
};

// Thrown by ShowOpen/ShowSave on cancel when CancelError is set.
class DialogCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "Cancel was selected."; }
};

enum class MsgIcon { None, Critical, Question, Exclamation, Information };
enum class MsgButtons { Ok, YesNo };
enum class MsgResult { Ok, Yes, No };

class Dialogs {
public:
    virtual ~Dialogs() = default;
    FileDialogState state;

    // Show the file dialog with `state`. On a choice: FileName and FilterIndex are updated.
    // On cancel: FileName becomes "" and, when CancelError is set, DialogCancelled is thrown.
    virtual void ShowOpen() = 0;
    virtual void ShowSave() = 0;
    // A message box; title empty = the application's title.
    virtual MsgResult MsgBox(const QString& text, MsgButtons buttons = MsgButtons::Ok, MsgIcon icon = MsgIcon::None,
                             const QString& title = {}) = 0;
};

// "All Movie Files |*.avi;*.mpg|AVI Files (*.avi)|*.avi|" -> Qt name filters, one per pair:
// "All Movie Files (*.avi *.mpg)", "AVI Files (*.avi) (*.avi)". Blanks and ";" separate
// patterns; a trailing unpaired piece is dropped.
QStringList qtNameFilters(const QString& pipeFilter);

// Qt dialogs (QFileDialog, QMessageBox), owned by `parent`.
class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    void ShowOpen() override;
    void ShowSave() override;
    MsgResult MsgBox(const QString& text, MsgButtons buttons, MsgIcon icon, const QString& title) override;
    void setParent(QWidget* parent) { parent_ = parent; }

private:
    void show(bool save);
    QWidget* parent_;
};

// Scripted dialogs for tests and batch mode: answers are queued in advance, everything
// shown is recorded.
class ScriptedDialogs : public Dialogs {
public:
    struct FileAnswer {
        QString fileName;     // "" = cancel
        int filterIndex = 0;  // 0 = keep the state's index
    };
    struct Message {
        QString text;
        MsgButtons buttons;
        MsgIcon icon;
        QString title;
    };

    QList<FileAnswer> fileAnswers;  // when empty: cancel
    // Answers for the Yes/No boxes, in order; when empty: No. A box with only OK answers Ok
    // and takes nothing from this list.
    QList<MsgResult> messageAnswers;
    QList<FileDialogState> shownFileDialogs;  // the state each dialog was shown with
    QList<Message> shownMessages;
    std::function<void(const Message&)> onMessage;  // e.g. print in batch mode

    void ShowOpen() override;
    void ShowSave() override;
    MsgResult MsgBox(const QString& text, MsgButtons buttons, MsgIcon icon, const QString& title) override;

private:
    void answer();
};
