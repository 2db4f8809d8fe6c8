#include "engine/platform/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>

namespace {

struct NameFilter {
    QString description;
    QStringList patterns;
};

// Qt reads a filter's patterns from its last parentheses only when they hold nothing but
// ASCII letters, digits, blanks and "_.,*?+;#-[]@{}/!<>$%&=^~:|"; otherwise it takes the
// whole filter, description included, as patterns. Any other character of a pattern
// becomes "?", which matches it (a surrogate pair is one character).
QString qtSafePattern(const QString& pattern) {
    static const QString accepted = QStringLiteral("_.,*?+#-[]@{}/!<>$%&=^~:");
    QString safe;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        const bool plain = c.unicode() < 128 && (c.isLetterOrNumber() || accepted.contains(c));
        safe += plain ? c : QChar(u'?');
        if (c.isHighSurrogate() && i + 1 < pattern.size() && pattern.at(i + 1).isLowSurrogate()) ++i;
    }
    return safe;
}

// Qt's rule reads a filter as one line: a line break in a description would make it take the
// whole filter as patterns, so line breaks become blanks.
QString oneLine(QString description) {
    for (QChar& c : description)
        if (c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' || c == QChar(0x85) || c == QChar(0x2028) ||
            c == QChar(0x2029))
            c = u' ';
    return description;
}

// The description and pattern pairs of a "desc|pattern|desc|pattern|" filter.
QList<NameFilter> pipeFilterPairs(const QString& pipeFilter) {
    static const QRegularExpression patternSeparators(QStringLiteral("[;\\s]+"));
    const QStringList pieces = pipeFilter.split(u'|');
    QList<NameFilter> pairs;
    for (qsizetype i = 0; i + 1 < pieces.size(); i += 2) {
        NameFilter pair{oneLine(pieces.at(i).trimmed()), pieces.at(i + 1).split(patternSeparators, Qt::SkipEmptyParts)};
        if (pair.description.isEmpty() && pair.patterns.isEmpty()) continue;
        // Qt reads the patterns from the last parentheses of a filter: they may not hold any.
        for (QString& pattern : pair.patterns) pattern = qtSafePattern(pattern.remove(u'(').remove(u')'));
        pair.patterns.removeAll(QString());
        if (pair.patterns.isEmpty()) pair.patterns.append(QStringLiteral("*"));
        pairs.append(pair);
    }
    return pairs;
}

QString qtNameFilter(const NameFilter& pair) {
    return pair.description + QStringLiteral(" (") + pair.patterns.join(u' ') + u')';
}

}  // namespace

QStringList qtNameFilters(const QString& pipeFilter) {
    QStringList filters;
    for (const NameFilter& pair : pipeFilterPairs(pipeFilter)) filters.append(qtNameFilter(pair));
    return filters;
}

// ---------------------------------------------------------------------------------------
// Qt dialogs

void QtDialogs::ShowOpen() { show(false); }

void QtDialogs::ShowSave() { show(true); }

void QtDialogs::show(bool save) {
    QFileDialog dialog(parent_);
    if (!state.DialogTitle.isEmpty()) dialog.setWindowTitle(state.DialogTitle);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // Like the Windows dialog: only the descriptions show, and a save asks before
    // overwriting only when flag 2 is set.
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !(save && (state.Flags & 2)));

    const QList<NameFilter> pairs = pipeFilterPairs(state.Filter);
    QStringList filters;
    for (const NameFilter& pair : pairs) filters.append(qtNameFilter(pair));
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        const int index = state.FilterIndex >= 1 && state.FilterIndex <= filters.size() ? state.FilterIndex : 1;
        dialog.selectNameFilter(filters.at(index - 1));
    }
    if (!state.InitDir.isEmpty()) dialog.setDirectory(state.InitDir);
    if (!state.FileName.isEmpty()) {
        const QFileInfo proposal(state.FileName);
        if (proposal.isAbsolute()) dialog.setDirectory(proposal.absolutePath());
        dialog.selectFile(proposal.fileName());
    }

    const bool accepted = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    if (!accepted) {
        state.FileName.clear();
        if (state.CancelError) throw DialogCancelled();
        return;
    }
    state.FileName = dialog.selectedFiles().constFirst();
    // With the details hidden, Qt may name the chosen filter by its description alone.
    const QString chosen = dialog.selectedNameFilter().simplified();
    for (qsizetype i = 0; i < pairs.size(); ++i) {
        if (filters.at(i).simplified() == chosen || pairs.at(i).description.simplified() == chosen) {
            state.FilterIndex = static_cast<int>(i) + 1;
            break;
        }
    }
}

MsgResult QtDialogs::MsgBox(const QString& text, MsgButtons buttons, MsgIcon icon, const QString& title) {
    QMessageBox box(parent_);
    box.setWindowTitle(title.isEmpty() ? QApplication::applicationDisplayName() : title);
    box.setText(text);
    switch (icon) {
        case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
        case MsgIcon::Critical: box.setIcon(QMessageBox::Critical); break;
        case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
        case MsgIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
        case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    }
    if (buttons == MsgButtons::Ok) {
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return MsgResult::Ok;
    }
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
}

// ---------------------------------------------------------------------------------------
// Scripted dialogs

void ScriptedDialogs::ShowOpen() { answer(); }

void ScriptedDialogs::ShowSave() { answer(); }

void ScriptedDialogs::answer() {
    shownFileDialogs.append(state);
    const FileAnswer reply = fileAnswers.isEmpty() ? FileAnswer{} : fileAnswers.takeFirst();
    if (reply.fileName.isEmpty()) {
        state.FileName.clear();
        if (state.CancelError) throw DialogCancelled();
        return;
    }
    state.FileName = reply.fileName;
    if (reply.filterIndex != 0) state.FilterIndex = reply.filterIndex;
}

MsgResult ScriptedDialogs::MsgBox(const QString& text, MsgButtons buttons, MsgIcon icon, const QString& title) {
    const Message message{text, buttons, icon, title};
    shownMessages.append(message);
    if (onMessage) onMessage(message);
    // A box with only OK can only be answered OK; queued answers are for the questions.
    if (buttons == MsgButtons::Ok) return MsgResult::Ok;
    return messageAnswers.isEmpty() ? MsgResult::No : messageAnswers.takeFirst();
}
