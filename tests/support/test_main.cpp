// GoogleTest entry point shared by every test program: window tests need a
// QApplication, and it must live on the main thread for the whole run.
#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// The offscreen platform warns about window calls it cannot honour (raise,
// size hints); they say nothing about the code under test.
void QuietHandler(QtMsgType type, const QMessageLogContext& ctx, const QString& msg)
{
    if (msg.startsWith(QLatin1String("This plugin does not support")))
        return;
    fprintf(stderr, "%s\n", qFormatLogMessage(type, ctx, msg).toLocal8Bit().constData());
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("QELM2_LOOPBACK_ONLY", "1", 0);
    setenv("QELM2_TEST_SOURCE_DIR", QELM2_TEST_SOURCE_DIR_DEFAULT, 0);
    setenv("QELM2_TEST_BIN_DIR", QELM2_TEST_BIN_DIR_DEFAULT, 0);
    qInstallMessageHandler(QuietHandler);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
