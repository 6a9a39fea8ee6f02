// Image button: faces from one picture (hot colour matrix, pressed shift),
// caption colouring on hover, clicks, tooltips, background capture.
#include "res/resources.h"
#include "ui/gdip_button.h"
#include "ui_test_util.h"

#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QPainter>
#include <QTest>

#include <cmath>

namespace {

QImage ResourcePicture(UINT id)
{
    const AppResource* r = FindAppResource("PNG", id);
    QImage img;
    if (r)
        img.loadFromData(r->data, static_cast<int>(r->size));
    return img.convertToFormat(QImage::Format_ARGB32);
}

int Hot(int c)
{
    return static_cast<int>(std::lround(std::clamp(c / 255.0 * 1.05 + 0.05, 0.0, 1.0) * 255.0));
}

class GdipButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        parent.setAutoFillBackground(true);
        QPalette pal = parent.palette();
        pal.setColor(QPalette::Window, QColor(10, 20, 30));
        parent.setPalette(pal);
        button = new CGdipButton(&parent);
        qelm::SetControlId(button, 1021);
        button->setGeometry(20, 20, 22, 22);
        button->show();
        parent.show();
    }
    void Enter() { button->OnMouseHover(); }
    void Leave() { button->OnMouseLeave(); }
    MsgRecorder parent;
    CGdipButton* button = nullptr;
};

TEST(GdipButtonMatrix, HotAndGreyMatricesOnAKnownPixel)
{
    QImage src(2, 1, QImage::Format_ARGB32);
    src.setPixel(0, 0, qRgba(200, 100, 50, 255));
    src.setPixel(1, 0, qRgba(250, 0, 40, 128));
    const QImage hot = CGdipButton::HotImage(src);
    EXPECT_EQ(hot.pixel(0, 0), qRgba(223, 118, 65, 255)); // 1.05 x + 0.05, per channel in place
    EXPECT_EQ(qRed(hot.pixel(1, 0)), 255);                 // clamped
    EXPECT_EQ(qGreen(hot.pixel(1, 0)), 13);
    EXPECT_EQ(qBlue(hot.pixel(1, 0)), 55);
    EXPECT_EQ(qAlpha(hot.pixel(1, 0)), 128);               // alpha kept
    const QImage grey = CGdipButton::GreyImage(src);
    // 0.3 R + 0.59 G + 0.11 B
    EXPECT_EQ(grey.pixel(0, 0), qRgba(125, 125, 125, 255));
}

TEST_F(GdipButtonTest, HotFaceOfARedPixelStaysRed)
{
    // Picture 275 (recording) has a red dot in its middle: a swapped byte
    // order would turn it blue.
    const QImage pic = ResourcePicture(275);
    ASSERT_FALSE(pic.isNull());
    const QRgb src = pic.pixel(11, 11);
    ASSERT_EQ(qAlpha(src), 255);
    ASSERT_GT(qRed(src), qBlue(src) + 100);
    ASSERT_TRUE(button->LoadImageResource(275, "PNG"));
    QImage normal = button->grab().toImage();
    EXPECT_EQ(button->CurrentFace(), CGdipButton::FaceNormal);
    EXPECT_EQ(QColor(normal.pixel(11, 11)), QColor(src));
    Enter();
    const QImage hot = button->grab().toImage();
    EXPECT_EQ(button->CurrentFace(), CGdipButton::FaceHot);
    const QColor h(hot.pixel(11, 11));
    EXPECT_EQ(h.red(), Hot(qRed(src)));
    EXPECT_EQ(h.green(), Hot(qGreen(src)));
    EXPECT_EQ(h.blue(), Hot(qBlue(src)));
    Leave();
    EXPECT_EQ(button->grab().toImage().pixel(11, 11), normal.pixel(11, 11));
}

TEST_F(GdipButtonTest, PressedFaceShiftsOnePixelUpAndLeft)
{
    ASSERT_TRUE(button->LoadImageResource(177, "PNG"));
    button->grab();
    ASSERT_TRUE(button->FacesPrepared());
    const QImage& normal = button->GetFace(CGdipButton::FaceNormal);
    const QImage& pressed = button->GetFace(CGdipButton::FacePressed);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(pressed.pixel(x, y), normal.pixel(x + 1, y + 1)) << x << "," << y;
    button->setDown(true);
    button->grab();
    EXPECT_EQ(button->CurrentFace(), CGdipButton::FacePressed);
    button->setDown(false);
}

TEST_F(GdipButtonTest, CaptionColourFollowsHoverUnlessSelected)
{
    button->SetButtonTextW(L"Tab");
    button->SetTextColor(kSelectedCaptionColor);
    Enter();
    Leave();
    EXPECT_EQ(button->GetTextColor(), kSelectedCaptionColor);
    button->SetTextColor(0);
    Enter();
    EXPECT_EQ(button->GetTextColor(), 0x2171F7u);
    EXPECT_TRUE(button->IsHovering());
    Leave();
    EXPECT_EQ(button->GetTextColor(), 0u);
    EXPECT_FALSE(button->IsHovering());
    // A real enter and leave take the same way.
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(25, 25));
    QApplication::sendEvent(button, &enter);
    EXPECT_EQ(button->GetTextColor(), 0x2171F7u);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    EXPECT_EQ(button->GetTextColor(), 0u);
}

TEST_F(GdipButtonTest, ADoubleClickIsTwoClicks)
{
    button->LoadImageResource(177, "PNG");
    int clickedSignals = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clickedSignals; });
    // What a double click delivers: press, release, double-click, release.
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseDClick(button, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(clickedSignals, 2);
    EXPECT_EQ(parent.clicks, 2);
    EXPECT_EQ(parent.lastClickId, 1021u);
}

TEST_F(GdipButtonTest, BiggerButtonShowsWhatLiesAroundThePicture)
{
    button->setGeometry(0, 0, 40, 30);
    ASSERT_TRUE(button->LoadImageResource(177, "PNG"));
    button->grab();
    // Without a captured background the face is clear around the picture,
    // so the parent's own painting shows there.
    EXPECT_EQ(qAlpha(button->GetFace(CGdipButton::FaceNormal).pixel(35, 25)), 0);
    const QImage shot = parent.grab(QRect(0, 0, 40, 30)).toImage();
    EXPECT_EQ(QColor(shot.pixel(35, 25)), QColor(10, 20, 30));

    // A background captured from a painted image goes under the faces once
    // they are rebuilt; capturing alone leaves them as they were.
    QImage painted(parent.size(), QImage::Format_ARGB32_Premultiplied);
    painted.fill(QColor(200, 0, 0));
    {
        QPainter dc(&painted);
        button->CaptureBackground(&dc);
    }
    EXPECT_EQ(qAlpha(button->GetFace(CGdipButton::FaceNormal).pixel(35, 25)), 0);
    button->LoadImageResource(177, "PNG");
    button->grab();
    EXPECT_EQ(QColor(button->GetFace(CGdipButton::FaceNormal).pixel(35, 25)), QColor(200, 0, 0));
    // The same picture over the same background is not rebuilt.
    const qint64 key = button->GetFace(CGdipButton::FaceNormal).cacheKey();
    button->LoadImageResource(177, "PNG");
    EXPECT_EQ(button->GetFace(CGdipButton::FaceNormal).cacheKey(), key);
}

TEST_F(GdipButtonTest, SmallerButtonShowsTheTopLeftOfThePicture)
{
    button->setGeometry(0, 0, 10, 10);
    ASSERT_TRUE(button->LoadImageResource(131, "PNG"));
    button->grab();
    const QImage pic = ResourcePicture(131);
    EXPECT_EQ(button->GetFace(CGdipButton::FaceNormal).size(), QSize(10, 10));
    EXPECT_EQ(QColor(button->GetFace(CGdipButton::FaceNormal).pixel(5, 5)), QColor(pic.pixel(5, 5)));
}

TEST_F(GdipButtonTest, DisabledPaintsTheSameFaces)
{
    button->LoadImageResource(275, "PNG");
    const QImage enabled = button->grab().toImage();
    button->setEnabled(false);
    EXPECT_EQ(button->grab().toImage(), enabled);
}

TEST_F(GdipButtonTest, NarrowAndWideCaptionsShowAlike)
{
    button->setGeometry(0, 0, 80, 28);
    button->LoadImageResource(190, "PNG");
    button->SetButtonText("录像 Rec");
    const QImage narrow = button->grab().toImage();
    EXPECT_EQ(button->text(), QStringLiteral("录像 Rec"));
    button->SetButtonTextW(L"录像 Rec");
    EXPECT_EQ(button->grab().toImage(), narrow);
}

TEST_F(GdipButtonTest, MissingPictureLeavesOnlyTheCaption)
{
    EXPECT_FALSE(button->LoadImageResource(1, "PNG"));
    button->grab();
    EXPECT_FALSE(button->FacesPrepared());
    EXPECT_EQ(button->CurrentFace(), CGdipButton::FaceNone);
}

TEST_F(GdipButtonTest, Tooltips)
{
    button->SetTooltipText("", TRUE);
    EXPECT_TRUE(button->toolTip().isEmpty());
    button->SetTooltipTextW(L"Voice talk", FALSE);
    EXPECT_EQ(button->toolTip(), QStringLiteral("Voice talk"));
    EXPECT_FALSE(button->IsTooltipActive());
    Enter(); // hovering sets the tip up again, active
    EXPECT_TRUE(button->IsTooltipActive());
}

} // namespace
