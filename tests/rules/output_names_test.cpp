// Output name rules: proposals, extension rewrite and the free-name search.
#include <gtest/gtest.h>
#include <QSet>

#include "rules/OutputFormats.h"
#include "rules/OutputNames.h"

TEST(OutputNames, ProposalsTakeTheExtensionAtTheFileNamesFirstDot) {
    EXPECT_EQ(proposeOutputNames("/data/clip.avi", "avi"),
              std::pair(QString("/data/clip_1.avi"), QString("/data/clip_2.avi")));
    EXPECT_EQ(proposeOutputNames("/data/clip.part.mp4", "wmv").first, "/data/clip_1.wmv");
    // A dot in a folder does not count.
    EXPECT_EQ(proposeOutputNames("/home/anna.berg/clip.mkv", "mpeg").second, "/home/anna.berg/clip_2.mpeg");
    EXPECT_EQ(proposeOutputNames("/home/anna.berg/clip", "avi").first, "/home/anna.berg/clip_1.avi");
}

TEST(OutputNames, RewriteChangesOnlyTheExtensionPiece) {
    auto convert = [](const QString& first, const QString& second, const QString& ext) {
        QString piece;
        if (!extensionPiece(first, &piece)) return std::pair(first, second);
        return std::pair(rewriteExtension(first, piece, ext), rewriteExtension(second, piece, ext));
    };
    EXPECT_EQ(convert("/clips/a_1.avi", "/clips/a_2.avi", "mpeg"),
              std::pair(QString("/clips/a_1.mpeg"), QString("/clips/a_2.mpeg")));
    EXPECT_EQ(convert("/clips/a_1.mpeg", "/clips/a_2.mpeg", "avi"),
              std::pair(QString("/clips/a_1.avi"), QString("/clips/a_2.avi")));
    // Folders never change, whatever they are called.
    EXPECT_EQ(convert("/data/avi/x_1.avi", "/data/avi/x_2.avi", "wmv").first, "/data/avi/x_1.wmv");
    EXPECT_EQ(convert("/v.1/x_1.avi", "/v.1/x_2.avi", "mpeg").first, "/v.1/x_1.mpeg");
    // The old extension comes from the first name only.
    EXPECT_EQ(convert("/c/a_1.avi", "/c/a_2.mpeg", "wmv"), std::pair(QString("/c/a_1.wmv"), QString("/c/a_2.mpeg")));
    // The piece is the text between the first and the second dot.
    EXPECT_EQ(convert("/c/a.avi.bak", "/c/b.avi.bak", "wmv").first, "/c/a.wmv.bak");
    // No dot in the first name's file name: neither name changes.
    EXPECT_EQ(convert("Select Output Video File", "/c/x.avi", "wmv"),
              std::pair(QString("Select Output Video File"), QString("/c/x.avi")));
    EXPECT_EQ(convert("/c.d/noext", "/c.d/x.avi", "wmv").first, "/c.d/noext");
}

TEST(OutputNames, FreeNameStepsTheDigitBeforeTheFirstDot) {
    EXPECT_EQ(nextNameStep("/out/clip_1.avi"), "/out/clip_2.avi");
    EXPECT_EQ(nextNameStep("/out/clip_9.avi"), "/out/clip_10.avi");
    EXPECT_EQ(nextNameStep("/out/clip_10.avi"), "/out/clip_11.avi");
    EXPECT_EQ(nextNameStep("/out/clip.avi"), "/out/cli1.avi");
    EXPECT_EQ(nextNameStep("/out/a_1.tar.gz"), "/out/a_2.tar.gz");
    // At the file name's dot, not a folder's.
    EXPECT_EQ(nextNameStep("/clips3.x/a_1.avi"), "/clips3.x/a_2.avi");
    EXPECT_THROW(nextNameStep("/clips3.x/noext"), std::invalid_argument);
    EXPECT_THROW(nextNameStep("/out/.avi"), std::invalid_argument);
}

TEST(OutputNames, FreeNameSkipsEveryExistingName) {
    const QSet<QString> existing{"/out/a_1.avi", "/out/a_2.avi", "/out/a_1.mpeg", "/out/a_2.mpeg"};
    auto exists = [&](const QString& p) { return existing.contains(p); };
    EXPECT_EQ(freeName("/out/a_1.avi", exists), "/out/a_3.avi");
    EXPECT_EQ(freeName("/out/a_1.mpeg", exists), "/out/a_3.mpeg");
    EXPECT_EQ(freeName("/out/a_1.wmv", exists), "/out/a_1.wmv");
    const QSet<QString> nine{"/o/b_9.avi", "/o/b_10.avi"};
    EXPECT_EQ(freeName("/o/b_9.avi", [&](const QString& p) { return nine.contains(p); }), "/o/b_11.avi");
}

TEST(OutputNames, FramePictureDropsTheRealExtensionAndTakesTheFormats) {
    const struct {
        const char* source;
        const char* proposal;
    } proposals[] = {
        {"/v/mpeg2.ts", "/v/mpeg2 Frame18"},                       // 2 characters
        {"/v/clip.avi", "/v/clip Frame18"},                        // 3
        {"/v/vp9.webm", "/v/vp9 Frame18"},                         // 4
        {"/v/clip", "/v/clip Frame18"},                            // none
        {"/home/anna.berg/clip", "/home/anna.berg/clip Frame18"},  // a dotted folder
        {"/v/a.b.mkv", "/v/a.b Frame18"},                          // only the last dot's part
        {"/v/.hidden", "/v/.hidden Frame18"},                      // a name that only begins with a dot
        {"", " Frame18"},
    };
    for (const auto& row : proposals) EXPECT_EQ(framePictureProposal(row.source, 18), row.proposal) << row.source;

    const struct {
        const char* name;
        int format;
        const char* file;
    } files[] = {
        {"/v/vp9 Frame18", 9, "/v/vp9 Frame18.png"},
        {"/v/a.b Frame18", 2, "/v/a.b Frame18.jpg"},  // not a picture extension: added
        {"/v/x.BMP", 9, "/v/x.BMP"},                  // the name's own extension stays
        {"/v/x.jpeg", 11, "/v/x.jpeg"},
        {"/v/x", 11, "/v/x.j2k"},
        {"/v/x", 0, "/v/x"},
    };
    for (const auto& row : files) EXPECT_EQ(framePictureFile(row.name, row.format), row.file) << row.name;
}

TEST(OutputFormats, ContainerListPutsTheSourcesOwnFirstAndFollowsTheName) {
    const QStringList carriers{"mkv", "mp4", "mov", "ts", "m2ts", "avi"};
    const QStringList fromTs = originalContainerChoices("TS", carriers);
    EXPECT_EQ(fromTs, QStringList({"", "mkv", "mp4", "mov", "m2ts", "avi"}));
    EXPECT_EQ(originalContainerChoices("vob", carriers), QStringList({""}) + carriers);
    EXPECT_EQ(containerShownName("m2ts"), "M2TS");
    EXPECT_EQ(containerShownName("webm"), "WebM");
    // The item the output name's extension (its last dot) names, else the source's own.
    EXPECT_EQ(containerChoiceForName(fromTs, "/v/rec.2026/news_1.MP4"), 2);
    EXPECT_EQ(containerChoiceForName(fromTs, "/v/news_1.part.m2ts"), 4);
    EXPECT_EQ(containerChoiceForName(fromTs, "/v/news_1.ts"), 0);
    EXPECT_EQ(containerChoiceForName(fromTs, "/v.mkv/news"), 0);
}

// "All Movie Files" lists the classic formats first, then every container the reader opens;
// the classic entries and every file follow.
TEST(OutputFormats, TheOpenFilterListsEveryMovieFileTheReaderOpens) {
    const QString filter = openDialogFilter();
    const QString movies = filter.section('|', 1, 1);
    EXPECT_TRUE(movies.startsWith("*.avi;*.mpg;*.mpeg;*.wmv;*.asf;")) << movies.toStdString();
    QStringList patterns = movies.split(';');
    for (const char* ext : {"mp4", "m4v", "mkv", "ts", "m2ts", "mts", "mov", "webm", "flv", "3gp", "ogv", "vob", "mxf"})
        EXPECT_TRUE(patterns.contains(QStringLiteral("*.") + ext)) << ext;
    EXPECT_EQ(patterns.removeDuplicates(), 0);
    EXPECT_TRUE(filter.startsWith("All Movie Files |"));
    EXPECT_TRUE(filter.endsWith("|Windows Media files (*.wmv, *.asf)|*.wmv; *.asf|All Files|*|"));
}
