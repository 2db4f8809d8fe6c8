// The dialogs layer: filter conversion, scripted dialogs, and the Qt dialogs driven the
// way a user would.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "engine/platform/Dialogs.h"

namespace {

const QString kOpenSourceFilter =
    "All Movie Files |*.avi;*.mpg;*.mpeg;*.wmv;*.asf|AVI Files (*.avi)|*.avi|Mpeg files (*.mpg, *.mpeg)|"
    "*.mpg; *.mpeg|Windows Media files (*.wmv, *.asf)|*.wmv; *.asf|";
const QString kPictureFilter = QString("BMP Files (*.bmp)|*.bmp|JPEG Files (*.jpg)|*.jpg|GIF Files (*.gif)|*.gif|") +
                               "TIFF Files (*.tif)|*.tif;*.tif;*.cpt|PCX Files (*.pcx)|*.pcx|" +
                               "WMF Files (*.wmf)|*.wmf|EMF Files (*.emf)|*.emf|TGA Files (*.tga)|*.tga|" +
                               "PNG Files (*.png)|*.png|RAS Files (*.ras)|*.ras|JPEG2000 Files (*.j2k)|*.j2k|";
const QString kOutputFilter =
    "All Movie Files |*.avi;*.mpg;*.mpeg;*.wmv;*.wma;*.asf;*.mov;*.qt|AVI Files (*.avi)|*.avi|Mpeg files "
    "(*.mpg, *.mpeg)|*.mpg; *.mpeg|Windows Media files (*.wmv, *.wma, *.asf)|*.wmv; *.wma; *.asf|Quick Time "
    "Files (*.mov, *.qt)|*.mov; *.qt|";

// Runs `act` on the modal dialog of type T as soon as it is shown.
template <typename T>
void whenShown(std::function<void(T*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(dialog);
        }
    });
    timer->start();
}

}  // namespace

TEST(NameFilters, OpenSourceFilter) {
    EXPECT_EQ(
        qtNameFilters(kOpenSourceFilter),
        (QStringList{"All Movie Files (*.avi *.mpg *.mpeg *.wmv *.asf)", "AVI Files (*.avi) (*.avi)",
                     "Mpeg files (*.mpg, *.mpeg) (*.mpg *.mpeg)", "Windows Media files (*.wmv, *.asf) (*.wmv *.asf)"}));
}

TEST(NameFilters, PictureFilterHasElevenEntriesInOrder) {
    const QStringList filters = qtNameFilters(kPictureFilter);
    ASSERT_EQ(filters.size(), 11);
    EXPECT_EQ(filters[0], "BMP Files (*.bmp) (*.bmp)");
    EXPECT_EQ(filters[3], "TIFF Files (*.tif) (*.tif *.tif *.cpt)");
    EXPECT_EQ(filters[8], "PNG Files (*.png) (*.png)");
    EXPECT_EQ(filters[10], "JPEG2000 Files (*.j2k) (*.j2k)");
}

TEST(NameFilters, OutputFilter) {
    EXPECT_EQ(qtNameFilters(kOutputFilter),
              (QStringList{"All Movie Files (*.avi *.mpg *.mpeg *.wmv *.wma *.asf *.mov *.qt)",
                           "AVI Files (*.avi) (*.avi)", "Mpeg files (*.mpg, *.mpeg) (*.mpg *.mpeg)",
                           "Windows Media files (*.wmv, *.wma, *.asf) (*.wmv *.wma *.asf)",
                           "Quick Time Files (*.mov, *.qt) (*.mov *.qt)"}));
}

TEST(NameFilters, OddFilters) {
    EXPECT_TRUE(qtNameFilters("").isEmpty());
    EXPECT_TRUE(qtNameFilters("|").isEmpty());
    EXPECT_TRUE(qtNameFilters("Only a description").isEmpty());
    EXPECT_EQ(qtNameFilters("A|*.a|B"), QStringList{"A (*.a)"});  // unpaired piece dropped
    EXPECT_EQ(qtNameFilters("A|*.a"), QStringList{"A (*.a)"});    // closing "|" optional
    EXPECT_EQ(qtNameFilters("Any||"), QStringList{"Any (*)"});
    EXPECT_EQ(qtNameFilters("|*.x|"), QStringList{" (*.x)"});
    EXPECT_EQ(qtNameFilters("P|*.(a)|"), QStringList{"P (*.a)"});
    EXPECT_EQ(qtNameFilters("A|*.a|||B|*.b|"), (QStringList{"A (*.a)", "B (*.b)"}));
    // Pieces pair up by position, as in the Windows dialog.
    EXPECT_EQ(qtNameFilters("A|*.a||||B|*.b|"), (QStringList{"A (*.a)", " (B)", "*.b (*)"}));

    QRandomGenerator random(99);
    const QString alphabet = "|;* .()ab\t";
    for (int round = 0; round < 2000; ++round) {
        QString text;
        for (int i = random.bounded(40); i > 0; --i) text += alphabet.at(random.bounded(alphabet.size()));
        for (const QString& filter : qtNameFilters(text)) EXPECT_TRUE(filter.endsWith(')'));
    }
}

TEST(ScriptedDialogsTest, NoAnswerIsACancelThatThrowsOnlyWithCancelError) {
    ScriptedDialogs dialogs;
    dialogs.state.FileName = "proposal";
    dialogs.ShowOpen();
    EXPECT_EQ(dialogs.state.FileName, "");
    ASSERT_EQ(dialogs.shownFileDialogs.size(), 1);
    EXPECT_EQ(dialogs.shownFileDialogs[0].FileName, "proposal");

    dialogs.state.CancelError = true;
    dialogs.state.FileName = "again";
    EXPECT_THROW(dialogs.ShowSave(), DialogCancelled);
    EXPECT_EQ(dialogs.state.FileName, "");

    dialogs.fileAnswers.append({"", 3});  // an explicit cancel
    EXPECT_THROW(dialogs.ShowOpen(), DialogCancelled);
    EXPECT_EQ(dialogs.state.FilterIndex, 0);
    EXPECT_EQ(dialogs.shownFileDialogs.size(), 3);
}

TEST(ScriptedDialogsTest, AnswersSetNameAndFilterAndTheStateCarriesOver) {
    ScriptedDialogs dialogs;
    dialogs.state.DialogTitle = "Save Picture To File";
    dialogs.state.Filter = kPictureFilter;
    dialogs.state.CancelError = true;
    dialogs.fileAnswers = {{"/tmp/a.png", 9}, {"/tmp/b.bmp", 0}};
    dialogs.ShowSave();
    EXPECT_EQ(dialogs.state.FileName, "/tmp/a.png");
    EXPECT_EQ(dialogs.state.FilterIndex, 9);
    dialogs.ShowSave();
    EXPECT_EQ(dialogs.state.FileName, "/tmp/b.bmp");
    EXPECT_EQ(dialogs.state.FilterIndex, 9);  // kept: the next use sees the last index
    EXPECT_TRUE(dialogs.state.CancelError);
    EXPECT_EQ(dialogs.shownFileDialogs[1].FileName, "/tmp/a.png");
}

TEST(ScriptedDialogsTest, MessagesAreRecordedAndAnsweredOkOrNoUnlessQueued) {
    ScriptedDialogs dialogs;
    QStringList printed;
    dialogs.onMessage = [&printed](const ScriptedDialogs::Message& m) { printed << m.text; };
    dialogs.messageAnswers = {MsgResult::Yes};
    EXPECT_EQ(dialogs.MsgBox("done", MsgButtons::Ok, MsgIcon::None, {}), MsgResult::Ok);
    EXPECT_EQ(dialogs.MsgBox("install?", MsgButtons::YesNo, MsgIcon::Question, "T"), MsgResult::Yes);
    EXPECT_EQ(dialogs.MsgBox("install?", MsgButtons::YesNo, MsgIcon::Question, "T"), MsgResult::No);
    ASSERT_EQ(dialogs.shownMessages.size(), 3);
    EXPECT_EQ(dialogs.shownMessages[1].icon, MsgIcon::Question);
    EXPECT_EQ(dialogs.shownMessages[1].buttons, MsgButtons::YesNo);
    EXPECT_EQ(dialogs.shownMessages[1].title, "T");
    EXPECT_EQ(printed, (QStringList{"done", "install?", "install?"}));
}

class QtDialogsTest : public ::testing::Test {
protected:
    void SetUp() override { QApplication::setAttribute(Qt::AA_DontUseNativeDialogs); }
};

TEST_F(QtDialogsTest, SaveDialogShowsTheStateAndTakesTheChoice) {
    QTemporaryDir dir;
    QtDialogs dialogs;
    dialogs.state.DialogTitle = "Select Output Video File";
    dialogs.state.Filter = kOutputFilter;
    dialogs.state.FilterIndex = 3;
    dialogs.state.Flags = 2;
    dialogs.state.FileName = dir.filePath("film_1.mpeg");

    QString title, selectedFilter, proposedDir;
    QStringList filters, proposed;
    bool confirms = false;
    whenShown<QFileDialog>([&](QFileDialog* d) {
        title = d->windowTitle();
        filters = d->nameFilters();
        selectedFilter = d->selectedNameFilter();
        confirms = !d->testOption(QFileDialog::DontConfirmOverwrite);
        proposedDir = d->directory().absolutePath();
        proposed = d->selectedFiles();
        d->selectNameFilter(filters.value(1));
        d->selectFile(dir.filePath("chosen.avi"));
        static_cast<QDialog*>(d)->accept();  // runs QFileDialog::accept
    });
    dialogs.ShowSave();
    EXPECT_EQ(title, "Select Output Video File");
    EXPECT_EQ(filters, qtNameFilters(kOutputFilter));
    // Only the description shows, as in the Windows dialog.
    EXPECT_EQ(selectedFilter, "Mpeg files (*.mpg, *.mpeg)");
    EXPECT_TRUE(confirms);
    EXPECT_EQ(proposedDir, QDir(dir.path()).absolutePath());
    EXPECT_EQ(proposed, QStringList{dir.filePath("film_1.mpeg")});
    EXPECT_EQ(dialogs.state.FileName, dir.filePath("chosen.avi"));
    EXPECT_EQ(dialogs.state.FilterIndex, 2);
}

TEST_F(QtDialogsTest, CancelEmptiesTheNameAndThrowsWithCancelError) {
    QtDialogs dialogs;
    dialogs.state.Filter = kOpenSourceFilter;
    dialogs.state.FilterIndex = 1;
    dialogs.state.FileName = "something";
    bool confirms = true;
    whenShown<QFileDialog>([&](QFileDialog* d) {
        confirms = !d->testOption(QFileDialog::DontConfirmOverwrite);
        d->reject();
    });
    dialogs.ShowOpen();
    EXPECT_EQ(dialogs.state.FileName, "");
    EXPECT_EQ(dialogs.state.FilterIndex, 1);
    EXPECT_FALSE(confirms);

    dialogs.state.CancelError = true;
    dialogs.state.Flags = 0;
    whenShown<QFileDialog>([&](QFileDialog* d) {
        confirms = !d->testOption(QFileDialog::DontConfirmOverwrite);
        d->reject();
    });
    EXPECT_THROW(dialogs.ShowSave(), DialogCancelled);
    EXPECT_FALSE(confirms);  // flags 0: no question before overwriting
}

TEST_F(QtDialogsTest, MessageBoxesShowTextIconTitleAndButtons) {
    QApplication::setApplicationDisplayName("Korvelin Test");
    QtDialogs dialogs;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    whenShown<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        box->button(QMessageBox::Yes)->click();
    });
    EXPECT_EQ(dialogs.MsgBox("Install it?", MsgButtons::YesNo, MsgIcon::Question, {}), MsgResult::Yes);
    EXPECT_EQ(title, "Korvelin Test");
    EXPECT_EQ(text, "Install it?");
    EXPECT_EQ(icon, QMessageBox::Question);
    EXPECT_EQ(buttons, QMessageBox::Yes | QMessageBox::No);

    whenShown<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        icon = box->icon();
        buttons = box->standardButtons();
        box->close();  // closing the window answers No
    });
    EXPECT_EQ(dialogs.MsgBox("Again?", MsgButtons::YesNo, MsgIcon::Exclamation, "Own title"), MsgResult::No);
    EXPECT_EQ(title, "Own title");
    EXPECT_EQ(icon, QMessageBox::Warning);

    whenShown<QMessageBox>([&](QMessageBox* box) {
        icon = box->icon();
        buttons = box->standardButtons();
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(dialogs.MsgBox("Loading Error", MsgButtons::Ok, MsgIcon::Critical, {}), MsgResult::Ok);
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}
