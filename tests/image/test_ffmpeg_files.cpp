// Files from an encoder that is not ours: ffmpeg writes BMPs of every pixel
// format it has and an animated GIF; each must decode as Qt's readers see it.
#include "image_files.h"
#include "ui/image/ximage.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace imgtest;

namespace {

bool RunFfmpeg(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList{"-hide_banner", "-v", "error", "-y"} + args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

Bytes ReadAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = f.readAll();
    return Bytes(data.begin(), data.end());
}

class FfmpegFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
            GTEST_SKIP() << "ffmpeg is not installed";
    }
    QTemporaryDir dir;
};

TEST_F(FfmpegFiles, BmpOfEveryPixelFormat)
{
    const char* formats[] = {"bgra", "bgr24", "rgb565le", "rgb555le", "rgb444le", "rgb8",
                             "bgr8", "rgb4_byte", "bgr4_byte", "gray", "pal8", "monob"};
    int checked = 0;
    for (const char* fmt : formats) {
        const QString path = dir.filePath(QString::fromLatin1(fmt) + ".bmp");
        // An odd size, so rows carry padding (ffmpeg evens it for a few formats).
        if (!RunFfmpeg({"-f", "lavfi", "-i", "testsrc2=size=37x23:rate=1", "-frames:v", "1", "-pix_fmt",
                        QString::fromLatin1(fmt), path}))
            continue; // this ffmpeg cannot write it
        const Bytes file = ReadAll(path);
        CxImage img;
        ASSERT_TRUE(DecodeBytes(img, file, CXIMAGE_FORMAT_BMP)) << fmt << ": " << img.LastErrorText();
        EXPECT_EQ(CompareWithQt(img, QtDecode(file, "BMP")), "") << fmt;
        ++checked;
    }
    EXPECT_GE(checked, 6);
}

TEST_F(FfmpegFiles, AnimatedGifFrameByFrame)
{
    const QString path = dir.filePath("anim.gif");
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", "testsrc2=size=40x30:rate=5", "-frames:v", "4", path}));
    const Bytes file = ReadAll(path);
    QByteArray data(reinterpret_cast<const char*>(file.data()), static_cast<qsizetype>(file.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "GIF");
    for (int frame = 0; frame < 4; ++frame) {
        const QImage qt = reader.read();
        ASSERT_FALSE(qt.isNull()) << frame;
        CxImage img;
        img.SetFrame(frame);
        ASSERT_TRUE(DecodeBytes(img, file, CXIMAGE_FORMAT_GIF)) << frame;
        EXPECT_EQ(img.GetFrameCount(), 4);
        EXPECT_EQ(CompareWithQt(img, qt), "") << "frame " << frame;
    }
}

} // namespace
