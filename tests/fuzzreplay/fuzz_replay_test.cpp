// Every committed fuzz input (seed corpora and the inputs that once failed) runs through the
// same target bodies as the fuzzers, with a failed check reported as a test failure.
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>

#include "engine/platform/Dialogs.h"
#include "fuzz/targets/BitstreamTarget.h"
#include "fuzz/targets/FiltersTarget.h"
#include "fuzz/targets/IniTarget.h"
#include "fuzz/targets/NamesTarget.h"
#include "fuzz/targets/ReaderTarget.h"
#include "fuzz/targets/RegFileTarget.h"

namespace {

using TargetBody = void (*)(const uint8_t*, size_t);

// The files of corpus/<target> and regressions/<target>.
QStringList replayFiles(const QString& target) {
    QStringList files;
    for (const QString& folder : {QStringLiteral("corpus"), QStringLiteral("regressions")}) {
        const QDir dir(QStringLiteral(KORVELIN_SOURCE_DIR "/tests/fuzz/%1/%2").arg(folder, target));
        for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) files.append(dir.filePath(name));
    }
    return files;
}

void replay(const QString& target, TargetBody body, int atLeast) {
    const QStringList files = replayFiles(target);
    EXPECT_GE(files.size(), atLeast) << "inputs of " << target.toStdString();
    for (const QString& path : files) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        const QByteArray bytes = file.readAll();
        fuzzcheck::handler() = [&path](const std::string& message) {
            ADD_FAILURE() << QFileInfo(path).fileName().toStdString() << ": " << message;
        };
        body(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()));
    }
    fuzzcheck::handler() = [](const std::string& message) { ADD_FAILURE() << message; };
}

}  // namespace

TEST(FuzzReplay, IniReader) { replay("ini", fuzztargets::fuzzIniReader, 8); }
TEST(FuzzReplay, RegFile) { replay("regfile", fuzztargets::fuzzRegFile, 6); }
TEST(FuzzReplay, DialogFilters) { replay("filters", fuzztargets::fuzzDialogFilters, 4); }
TEST(FuzzReplay, OutputNames) { replay("names", fuzztargets::fuzzOutputNames, 6); }
TEST(FuzzReplay, Reader) { replay("reader", fuzztargets::fuzzReader, 10); }
TEST(FuzzReplay, Bitstream) { replay("bitstream", fuzztargets::fuzzBitstream, 4); }

// The filter target judges filters by Qt's rule for reading patterns; a real file dialog
// must read them the same way, or the target checks the wrong thing.
TEST(FuzzReplay, FilterRuleIsTheFileDialogsOwn) {
    const QStringList filters = qtNameFilters(QStringLiteral("Vidéos|*.vidéo;*.avi|Alles (ä)|*.ä|"));
    ASSERT_EQ(filters, (QStringList{QStringLiteral("Vidéos (*.vid?o *.avi)"), QStringLiteral("Alles (ä) (*.?)")}));
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    for (const QString& filter : filters) {
        dialog.setNameFilters({filter});
        dialog.selectNameFilter(filter);
        const QFileSystemModel* model = dialog.findChild<QFileSystemModel*>();
        ASSERT_NE(model, nullptr);
        EXPECT_EQ(model->nameFilters(), fuzztargets::qtFilterPatterns(filter)) << filter.toStdString();
    }
    // A pattern Qt does not accept turns the description's words into patterns.
    dialog.setNameFilters({QStringLiteral("Vidéos (*.vidéo)")});
    dialog.selectNameFilter(QStringLiteral("Vidéos (*.vidéo)"));
    EXPECT_EQ(dialog.findChild<QFileSystemModel*>()->nameFilters(),
              (QStringList{QStringLiteral("Vidéos"), QStringLiteral("(*.vidéo)")}));
}
