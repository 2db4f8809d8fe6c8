// Test entry point: a QApplication on Qt's offscreen platform, then every GoogleTest test.
#include <gtest/gtest.h>
#include <QApplication>

#include "engine/common/EngineLog.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    routeFfmpegLog();  // as the program does: FFmpeg's lines to a logging category
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
