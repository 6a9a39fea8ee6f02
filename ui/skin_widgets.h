// Small skinned widgets: a slider painted from slices of "bar.bmp", a static
// on pale green, a self-drawn group box, a transparent static, and a button
// that stretches a picture file over itself; and DrawImagePart, which paints
// a part of an image stretched into a rectangle.
#pragma once

#include "platform/geometry.h"
#include "platform/types.h"
#include "ui/skin_draw.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <memory>
#include <string>

class CxImage;

// Crops (srcX, srcY, srcW x srcH) of the image, from its top-left, and draws
// it stretched into (x, y, w, h). Always 0. Exactly srcW x srcH source
// pixels are used.
int DrawImagePart(CxImage* image, CDC* dc, int x, int y, int w, int h, int srcX, int srcY, int srcW, int srcH);

// Static control styles.
constexpr DWORD SS_CENTER = 0x0001;
constexpr DWORD SS_RIGHT = 0x0002;
constexpr DWORD SS_NOPREFIX = 0x0080;
constexpr DWORD SS_CENTERIMAGE = 0x0200;
constexpr DWORD SS_ENDELLIPSIS = 0x4000;
constexpr DWORD SS_PATHELLIPSIS = 0x8000;
constexpr DWORD SS_WORDELLIPSIS = 0xC000;
constexpr DWORD SS_ELLIPSISMASK = 0xC000;

// Button styles of the group box.
constexpr DWORD BS_LEFT = 0x0100;
constexpr DWORD BS_RIGHT = 0x0200;
constexpr DWORD BS_CENTER = 0x0300;
constexpr DWORD BS_FLAT = 0x8000;

// A slider painted from "bar.bmp": column 13 over the whole control, column
// 0 beside the channel, columns 23 to 31 over the thumb; the platform's own
// look when the picture is missing. Horizontal.
class CSkinSlider : public QSlider {
public:
    // Loads "<program folder>Images/bar.bmp".
    explicit CSkinSlider(QWidget* parent = nullptr);
    ~CSkinSlider() override;

    // Loads another bar picture (BMP); FALSE leaves the platform's look.
    BOOL LoadBarBitmap(const char* path);
    bool HasBarBitmap() const;
    // Repaints at once when the value changes.
    void ShowThumb(BOOL bShow);
    BOOL IsThumbShown() const { return m_bShowThumb; }

    // The channel and the thumb in client coordinates.
    virtual void GetChannelRect(CRect* rect) const;
    virtual void GetThumbRect(CRect* rect) const;
    // Number of paints made from the bar picture (for tests).
    int PaintCount() const { return m_nPaints; }

    static constexpr int kThumbWidth = 9;
    static constexpr int kChannelMargin = 8;

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    int ValueAt(int x) const;

    std::unique_ptr<CxImage> m_pBar;
    BOOL m_bShowThumb = TRUE;
    bool m_bDragging = false;
    int m_nPaints = 0;
};

// A static text on a solid pale green (RGB 248, 255, 248), at the top left.
class CSkinStatic : public QLabel {
public:
    explicit CSkinStatic(QWidget* parent = nullptr) : QLabel(parent) {}

protected:
    void paintEvent(QPaintEvent* e) override;
};

// A group box that draws its own frame and caption " text ".
class CTGroupBox : public QGroupBox {
public:
    explicit CTGroupBox(QWidget* parent = nullptr) : QGroupBox(parent) {}

    // BS_LEFT / BS_CENTER / BS_RIGHT place the caption; BS_FLAT draws a
    // black frame instead of the etched one.
    void SetStyle(DWORD style) { m_dwStyle = style; update(); }
    DWORD GetStyle() const { return m_dwStyle; }
    // The caption's left and right end on the top line.
    void GetCaptionSpan(int* x1, int* x2) const;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    DWORD m_dwStyle = 0;
};

// A static text drawn without background over whatever lies behind it.
class CTransparentStatic : public QLabel {
public:
    explicit CTransparentStatic(QWidget* parent = nullptr);

    void SetTextW(const wchar_t* text);
    void SetText(const char* text); // UTF-8
    // Paints the text; the dialogs call it right after setting a text.
    void PaintText();
    void SetStyle(DWORD style) { m_dwStyle = style; update(); }
    DWORD GetStyle() const { return m_dwStyle; }
    void SetTextColor(COLORREF color);
    // The Qt text flags the style gives (for tests).
    int TextFlags() const;
    bool ElideMode(Qt::TextElideMode* mode) const;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    DWORD m_dwStyle = 0;
    COLORREF m_crText = 0;
};

// A button that stretches a picture file over itself and draws its caption
// in an 11-point "宋体" font, whatever the dialog's font.
class CXImageButton : public QPushButton {
public:
    explicit CXImageButton(QWidget* parent = nullptr);

    BOOL SetImagePath(const char* path);
    const std::string& GetImagePath() const { return m_strImagePath; }
    void SetButtonTextW(const wchar_t* text);
    void SetTextColor(COLORREF color);
    COLORREF GetTextColor() const { return m_crText; }
    // The caption font.
    static QFont CaptionFont();

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    CGdiManger m_gdi;
    std::string m_strImagePath;
    BOOL m_bDrawCaption = FALSE;
    std::wstring m_strCaption;
    COLORREF m_crText = 0;
};
