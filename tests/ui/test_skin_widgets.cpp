// Small skinned widgets: the slider's slices of the bar picture, the group
// box frame and caption, the transparent static's text flags, the pale
// static, the picture button, DrawImagePart, and the skin drawer.
#include "ui/gdip_button.h"
#include "ui/image/ximage.h"
#include "ui/skin_draw.h"
#include "ui/skin_widgets.h"
#include "ui_test_util.h"
#include "tests/support/pipe_trap.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QTemporaryDir>

namespace {

// A bar picture whose columns tell the slices apart: column 0 red, 13 green,
// 23..31 blue, 14 and 32 (the neighbours a wrong crop would take) yellow.
std::string WriteBar(const QTemporaryDir& dir)
{
    QImage bar(40, 12, QImage::Format_RGB32);
    bar.fill(Qt::black);
    QPainter p(&bar);
    p.fillRect(QRect(0, 0, 1, 12), QColor(255, 0, 0));
    p.fillRect(QRect(1, 0, 1, 12), QColor(255, 255, 0));
    p.fillRect(QRect(13, 0, 1, 12), QColor(0, 255, 0));
    p.fillRect(QRect(14, 0, 1, 12), QColor(255, 255, 0));
    p.fillRect(QRect(23, 0, 9, 12), QColor(0, 0, 255));
    p.fillRect(QRect(32, 0, 1, 12), QColor(255, 255, 0));
    p.end();
    const std::string path = dir.filePath(QStringLiteral("bar.bmp")).toStdString();
    bar.save(QString::fromStdString(path), "BMP");
    return path;
}

QColor At(const QImage& img, int x, int y)
{
    return QColor(img.pixel(x, y));
}

class FullChannelSlider : public CSkinSlider {
public:
    void GetChannelRect(CRect* rect) const override { *rect = CRect(0, height() / 2 - 2, width(), height() / 2 + 2); }
};

TEST(SkinSlider, PaintsTheSlicesOfTheBar)
{
    QTemporaryDir dir;
    CSkinSlider slider;
    EXPECT_FALSE(slider.HasBarBitmap()); // no Images folder beside the test
    ASSERT_TRUE(slider.LoadBarBitmap(WriteBar(dir).c_str()));
    slider.setRange(0, 100);
    slider.setValue(50);
    slider.resize(200, 20);
    CRect channel, thumb;
    slider.GetChannelRect(&channel);
    slider.GetThumbRect(&thumb);
    EXPECT_EQ(channel.left, CSkinSlider::kChannelMargin);
    EXPECT_EQ(channel.right, 200 - CSkinSlider::kChannelMargin);
    EXPECT_EQ(thumb.Width(), CSkinSlider::kThumbWidth);
    EXPECT_EQ(thumb.CenterPoint().x, 100);

    const QImage shot = slider.grab().toImage();
    // Column 0 beside the channel, column 13 along it, 23..31 on the thumb;
    // no neighbouring column ever shows.
    EXPECT_EQ(At(shot, 2, 10), QColor(255, 0, 0));
    EXPECT_EQ(At(shot, 197, 10), QColor(255, 0, 0));
    EXPECT_EQ(At(shot, 30, 10), QColor(0, 255, 0));
    EXPECT_EQ(At(shot, 170, 3), QColor(0, 255, 0));
    EXPECT_EQ(At(shot, thumb.CenterPoint().x, 10), QColor(0, 0, 255));
    for (int x = 0; x < shot.width(); ++x)
        ASSERT_NE(At(shot, x, 10), QColor(255, 255, 0)) << x;

    slider.ShowThumb(FALSE);
    EXPECT_EQ(At(slider.grab().toImage(), thumb.CenterPoint().x, 10), QColor(0, 255, 0));
}

TEST(SkinSlider, AChannelAcrossTheWholeControlPaintsNoColumnZero)
{
    QTemporaryDir dir;
    FullChannelSlider slider;
    ASSERT_TRUE(slider.LoadBarBitmap(WriteBar(dir).c_str()));
    slider.resize(120, 16);
    slider.ShowThumb(FALSE);
    const QImage shot = slider.grab().toImage();
    for (int x = 0; x < shot.width(); ++x)
        ASSERT_EQ(At(shot, x, 8), QColor(0, 255, 0)) << x;
}

TEST(SkinSlider, ShowThumbRepaintsOnlyOnAChange)
{
    QTemporaryDir dir;
    CSkinSlider slider;
    ASSERT_TRUE(slider.LoadBarBitmap(WriteBar(dir).c_str()));
    slider.resize(100, 20);
    slider.show();
    QCoreApplication::processEvents();
    const int before = slider.PaintCount();
    slider.ShowThumb(TRUE);
    EXPECT_EQ(slider.PaintCount(), before);
    slider.ShowThumb(FALSE);
    EXPECT_EQ(slider.PaintCount(), before + 1);
    EXPECT_FALSE(slider.IsThumbShown());
}

TEST(SkinSlider, DraggingTheThumbMovesTheValue)
{
    QTemporaryDir dir;
    CSkinSlider slider;
    ASSERT_TRUE(slider.LoadBarBitmap(WriteBar(dir).c_str()));
    slider.setRange(0, 86400);
    slider.resize(408, 20); // a channel of 392 pixels
    slider.show();
    CRect thumb;
    slider.GetThumbRect(&thumb);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(thumb.CenterPoint().x, 10), QPointF(), Qt::LeftButton,
                      Qt::LeftButton, {});
    QApplication::sendEvent(&slider, &press);
    EXPECT_TRUE(slider.isSliderDown());
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(8 + 196, 10), QPointF(), Qt::LeftButton, {}, {});
    QApplication::sendEvent(&slider, &release);
    EXPECT_FALSE(slider.isSliderDown());
    EXPECT_EQ(slider.value(), 43200);
}

TEST(DrawImagePart, UsesExactlyTheSourceRectangle)
{
    QTemporaryDir dir;
    CxImage bar;
    ASSERT_TRUE(bar.Load(WriteBar(dir).c_str(), CXIMAGE_FORMAT_BMP));
    QImage target(50, 10, QImage::Format_RGB32);
    target.fill(Qt::white);
    QPainter p(&target);
    EXPECT_EQ(DrawImagePart(&bar, &p, 0, 0, 50, 10, 13, 0, 1, 12), 0);
    EXPECT_EQ(DrawImagePart(nullptr, &p, 0, 0, 50, 10, 13, 0, 1, 12), 0);
    p.end();
    for (int x = 0; x < 50; ++x)
        ASSERT_EQ(At(target, x, 5), QColor(0, 255, 0)) << x;
}

TEST(TGroupBox, CaptionPlacesAndFrame)
{
    CTGroupBox box;
    box.resize(200, 80);
    box.setTitle(QStringLiteral("Storage"));
    const QFontMetrics fm(box.font());
    const int cw = fm.horizontalAdvance(QStringLiteral(" Storage "));
    int x1 = 0, x2 = 0;
    box.GetCaptionSpan(&x1, &x2);
    EXPECT_EQ(x1, 10);
    EXPECT_EQ(x2, 10 + cw);
    box.SetStyle(BS_RIGHT);
    box.GetCaptionSpan(&x1, &x2);
    EXPECT_EQ(x2, 199 - 10);
    box.SetStyle(BS_CENTER);
    box.GetCaptionSpan(&x1, &x2);
    EXPECT_EQ(x1, (200 - cw) / 2);

    // An empty caption still leaves a gap of two blanks in the top line.
    box.SetStyle(0);
    box.setTitle(QString());
    box.GetCaptionSpan(&x1, &x2);
    EXPECT_EQ(x2 - x1, fm.horizontalAdvance(QStringLiteral("  ")));
    const int y = fm.height() / 2;
    const QImage shot = box.grab().toImage();
    EXPECT_EQ(At(shot, 5, y), QColor(160, 160, 160));          // the etched line
    EXPECT_NE(At(shot, (x1 + x2) / 2, y), QColor(160, 160, 160)); // the gap

    // Flat: a black frame.
    box.SetStyle(BS_FLAT);
    EXPECT_EQ(At(box.grab().toImage(), 0, 40), QColor(0, 0, 0));
}

TEST(TGroupBox, DisabledCaptionIsGreyed)
{
    QWidget host;
    host.setAutoFillBackground(true);
    host.setPalette(QPalette(QColor(240, 240, 240)));
    auto* box = new CTGroupBox(&host);
    box->setGeometry(0, 0, 200, 60);
    box->setTitle(QStringLiteral("WWWWWW"));
    auto hasDark = [&](const QImage& img) {
        int x1 = 0, x2 = 0;
        box->GetCaptionSpan(&x1, &x2);
        for (int y = 0; y < QFontMetrics(box->font()).height(); ++y)
            for (int x = x1; x < x2; ++x)
                if (QColor(img.pixel(x, y)).value() < 60)
                    return true;
        return false;
    };
    EXPECT_TRUE(hasDark(box->grab().toImage()));
    box->setEnabled(false);
    EXPECT_FALSE(hasDark(box->grab().toImage()));
}

TEST(TransparentStatic, StyleBitsGiveTheTextFlags)
{
    struct Case {
        DWORD style;
        int flags;
    };
    const int mn = Qt::TextShowMnemonic;
    const Case cases[] = {
        {0, Qt::AlignLeft | Qt::AlignTop | mn | Qt::TextWordWrap},
        {SS_CENTER, Qt::AlignHCenter | Qt::AlignTop | mn | Qt::TextWordWrap},
        {SS_RIGHT, Qt::AlignRight | Qt::AlignTop | mn | Qt::TextWordWrap},
        {SS_CENTERIMAGE, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | mn},
        {SS_NOPREFIX, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap},
        {SS_ENDELLIPSIS, Qt::AlignLeft | Qt::AlignTop | mn},
        {SS_PATHELLIPSIS | SS_NOPREFIX, Qt::AlignLeft | Qt::AlignTop},
    };
    CTransparentStatic s;
    for (const Case& c : cases) {
        s.SetStyle(c.style);
        EXPECT_EQ(s.TextFlags(), c.flags) << std::hex << c.style;
    }
    Qt::TextElideMode mode;
    s.SetStyle(SS_PATHELLIPSIS);
    ASSERT_TRUE(s.ElideMode(&mode));
    EXPECT_EQ(mode, Qt::ElideMiddle);
    s.SetStyle(SS_WORDELLIPSIS);
    ASSERT_TRUE(s.ElideMode(&mode));
    s.SetStyle(0);
    EXPECT_FALSE(s.ElideMode(&mode));
}

TEST(TransparentStatic, DrawsOnWhateverIsBehind)
{
    QWidget host;
    host.setAutoFillBackground(true);
    host.setPalette(QPalette(QColor(0, 128, 0)));
    host.resize(100, 30);
    auto* s = new CTransparentStatic(&host);
    s->setGeometry(0, 0, 100, 30);
    s->SetTextW(L"x");
    s->PaintText();
    const QImage shot = host.grab().toImage();
    EXPECT_EQ(At(shot, 90, 25), QColor(0, 128, 0));
    EXPECT_EQ(s->text(), QStringLiteral("x"));
}

TEST(SkinStatic, FillsPaleGreen)
{
    CSkinStatic s;
    s.resize(80, 20);
    s.setText(QStringLiteral("12:00"));
    EXPECT_EQ(At(s.grab().toImage(), 78, 18), QColor(248, 255, 248));
}

TEST(XImageButton, StretchesItsPictureAndKeepsItsFont)
{
    CXImageButton b;
    b.resize(136, 31);
    const std::string tab2 = BinDir() + "Images/tab2.png";
    ASSERT_TRUE(QFile::exists(QString::fromStdString(tab2)));
    b.SetImagePath(tab2.c_str());
    QImage pic(QString::fromStdString(tab2));
    const QImage shot = b.grab().toImage();
    EXPECT_EQ(At(shot, 68, 20), QColor(pic.scaled(136, 31).pixel(68, 20)));
    // The caption font does not follow the dialog's.
    QFont big = b.font();
    big.setPointSize(30);
    b.setFont(big);
    EXPECT_EQ(CXImageButton::CaptionFont().pointSize(), 11);
    b.SetButtonTextW(L"Video View");
    b.SetTextColor(kSelectedCaptionColor);
    EXPECT_EQ(b.text(), QStringLiteral("Video View"));
    // A missing picture leaves the button unpainted but for the caption.
    b.SetImagePath("/nonexistent/tab2.png");
    b.grab();
}

TEST(GdiManger, DrawsFilesStretchedOrAtTheirSizeAndIgnoresMissingOnes)
{
    QTemporaryDir dir;
    QImage pic(4, 2, QImage::Format_RGB32);
    pic.fill(QColor(0, 0, 255));
    pic.setPixel(0, 0, qRgb(255, 0, 0));
    const QString path = dir.filePath(QStringLiteral("p.png"));
    ASSERT_TRUE(pic.save(path));
    QImage target(40, 40, QImage::Format_RGB32);
    target.fill(Qt::white);
    CGdiManger gdi;
    {
        QPainter p(&target);
        gdi.DrawImageFile("/no/such/file.png", CRect(0, 0, 40, 40), &p);
        gdi.DrawImageFile(path.toUtf8().constData(), CRect(0, 0, 40, 40), nullptr);
    }
    EXPECT_EQ(At(target, 20, 20), QColor(Qt::white));
    {
        QPainter p(&target);
        gdi.DrawImageFile(path.toUtf8().constData(), CRect(0, 0, 40, 20), &p);
        gdi.DrawImageFileAt(path.toUtf8().constData(), 10, 30, &p);
    }
    EXPECT_EQ(At(target, 30, 15), QColor(0, 0, 255)); // stretched to 40 x 20
    EXPECT_EQ(At(target, 30, 25), QColor(Qt::white));
    EXPECT_EQ(At(target, 10, 30), QColor(255, 0, 0)); // at its own size
    EXPECT_EQ(At(target, 14, 30), QColor(Qt::white));
    // Backslash paths work as the callers write them.
    const std::string win = (dir.path() + QStringLiteral("\\p.png")).toStdString();
    target.fill(Qt::white);
    {
        QPainter p(&target);
        gdi.DrawImageFileAt(win.c_str(), 0, 0, &p);
    }
    EXPECT_EQ(At(target, 0, 0), QColor(255, 0, 0));

    wchar_t* w = CGdiManger::AnsiToWide("图像");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(std::wstring(w), L"图像");
    delete[] w;
    EXPECT_EQ(CGdiManger::AnsiToWide(nullptr), nullptr);
}

TEST(XMemDC, CollectsDrawingAndCopiesItAtTheEnd)
{
    QImage target(20, 20, QImage::Format_RGB32);
    target.fill(QColor(0, 255, 0));
    QPainter p(&target);
    {
        CXMemDC mem(&p, CRect(5, 5, 15, 15), TRUE);
        ASSERT_TRUE(mem.IsMemDC());
        mem->fillRect(QRect(5, 5, 5, 10), Qt::red); // the target's coordinates
        EXPECT_EQ(At(target, 6, 6), QColor(0, 255, 0)); // nothing reached the target yet
    }
    {
        CXMemDC whole(&p); // an empty area covers the whole device
        EXPECT_EQ(whole.GetRect(), CRect(0, 0, 20, 20));
    }
    p.end();
    EXPECT_EQ(At(target, 6, 6), QColor(255, 0, 0));
    EXPECT_EQ(At(target, 12, 6), QColor(0, 255, 0)); // copied first, kept
    EXPECT_EQ(At(target, 2, 2), QColor(0, 255, 0));
}

TEST(BitmapResource, LoadsCompiledPicturesOnly)
{
    CGdiPlusBitmapResource bmp;
    EXPECT_TRUE(bmp.Load(177, "PNG"));
    ASSERT_NE(bmp.GetBitmap(), nullptr);
    EXPECT_EQ(bmp.GetBitmap()->size(), QSize(22, 22));
    EXPECT_TRUE(bmp.Load("#131", "PNG"));
    EXPECT_EQ(bmp.GetBitmap()->size(), QSize(61, 22)); // the first one was released
    EXPECT_FALSE(bmp.Load(177, "PNG", &bmp));         // another module holds no pictures
    EXPECT_EQ(bmp.GetBitmap(), nullptr);
    EXPECT_FALSE(bmp.Load("tab1", "PNG"));
    EXPECT_FALSE(bmp.Load(1, "PNG"));
    EXPECT_TRUE(bmp.Load(143, "BITMAP"));
}

TEST(Cursors, FilesCarryTheirHotSpots)
{
    struct Case {
        const char* name;
        int x, y;
    };
    for (const Case c : {Case{"big.cur", 12, 12}, Case{"small.cur", 12, 12}, Case{"hand.cur", 16, 16},
                         Case{"aero_arrow.cur", 1, 1}}) {
        const QCursor cur = LoadCursorFromFile((BinDir() + "Images\\" + c.name).c_str());
        EXPECT_EQ(cur.shape(), Qt::BitmapCursor) << c.name;
        EXPECT_EQ(cur.hotSpot(), QPoint(c.x, c.y)) << c.name;
        EXPECT_EQ(cur.pixmap().size(), QSize(32, 32)) << c.name;
    }
    EXPECT_EQ(LoadCursorFromFile("/no/such.cur").shape(), Qt::ArrowCursor);
    // A pipe in a skin file's place is passed over, never waited on.
    QTemporaryDir dir;
    const std::string pipe = dir.path().toStdString() + "/hand.cur";
    ASSERT_TRUE(qelmtest::MakePipe(pipe));
    ASSERT_TRUE(qelmtest::FinishesWithoutWaitingOn(pipe, [&] {
        EXPECT_EQ(LoadCursorFromFile(pipe.c_str()).shape(), Qt::ArrowCursor);
        QImage target(40, 40, QImage::Format_RGB32);
        target.fill(Qt::white);
        QPainter p(&target);
        CGdiManger gdi;
        gdi.DrawImageFile(pipe.c_str(), CRect(0, 0, 40, 40), &p);
    }));
}

} // namespace
