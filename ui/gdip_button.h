// The skinned push button: a face picture compiled into the program, from
// which a normal, a brighter hot, a pressed (one pixel up and left) and a
// grey face are prepared once; a centred caption and a tooltip.
#pragma once

#include "platform/types.h"
#include "ui/skin_draw.h"

#include <QImage>
#include <QPushButton>

#include <memory>
#include <string>

// Caption colour of the selected member of a group of buttons or tabs.
constexpr COLORREF kSelectedCaptionColor = 0x2171F7; // RGB(247, 113, 33)

class CGdipButton : public QPushButton {
public:
    enum Face { FaceNone = -1, FaceNormal = 0, FacePressed = 1, FaceHot = 2, FaceGrey = 3 };

    explicit CGdipButton(QWidget* parent = nullptr);
    ~CGdipButton() override;

    // Drops the held picture and the faces and loads the face picture id
    // (type "PNG"); TRUE when it decoded. A captured background is kept.
    BOOL LoadImageResource(UINT id, const char* pType = "PNG");
    // Copies the parent's freshly painted pixels under the button, when
    // pDC paints into an image or pixmap laid out like the parent's client
    // area; the faces are rebuilt over it at the next LoadImageResource.
    // Other contexts cannot be read back and leave the background as it was:
    // the button then shows the parent's own painting around and through
    // its picture.
    void CaptureBackground(CDC* pDC);

    void SetButtonTextW(const wchar_t* text);
    void SetButtonText(const char* text); // UTF-8
    std::wstring GetButtonTextW() const { return m_strCaption; }
    // The caption colour; 0x2171F7 fixes it (hovering no longer changes it).
    void SetTextColor(COLORREF color);
    COLORREF GetTextColor() const { return m_crText; }
    // An empty text does nothing. bActivate FALSE keeps the tip silent until
    // the next time the mouse comes over the button.
    void SetTooltipText(const char* text, BOOL bActivate = TRUE);
    void SetTooltipTextW(const wchar_t* text, BOOL bActivate = TRUE);

    // State, for the window's own use and for tests.
    bool FacesPrepared() const { return m_bFacesPrepared; }
    bool IsHovering() const { return m_bHovering; }
    Face CurrentFace() const { return m_nCurrentFace; }
    // A prepared face (client-sized, premultiplied ARGB); null before preparing.
    const QImage& GetFace(Face face) const;
    bool IsTooltipActive() const { return m_bTooltipActive; }

    // The two colour matrices of the faces, applied to every pixel's colour
    // (alpha kept): hot = 1.05 x colour + 0.05, grey = luminance.
    static QImage HotImage(const QImage& src);
    static QImage GreyImage(const QImage& src);

    // Mouse over and away (also reached from enter and leave events).
    virtual void OnMouseHover();
    virtual void OnMouseLeave();

protected:
    void paintEvent(QPaintEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool event(QEvent* e) override;

private:
    void PrepareFaces();
    void DiscardFaces();

    bool m_bFacesPrepared = false;
    bool m_bHovering = false;
    bool m_bTracking = false;
    bool m_bTextColorFixed = false;
    std::unique_ptr<CGdiPlusBitmapResource> m_pImage;
    UINT m_nImageId = 0;
    std::wstring m_strCaption;
    COLORREF m_crText = 0;
    bool m_bDrawCaption = false;
    std::string m_strTooltip;
    bool m_bTooltipActive = false;
    QImage m_background; // the parent's pixels under the button, or null
    bool m_bBackgroundChanged = false;
    QImage m_faces[4];
    Face m_nCurrentFace = FaceNone;
};
