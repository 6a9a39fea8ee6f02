// Skin drawing: the skin drawer that paints picture files, the off-screen
// memory DC, and the holders of one bitmap (from a file's bytes or from a
// picture compiled into the program).
#pragma once

#include "platform/geometry.h"
#include "platform/types.h"

#include <QImage>
#include <QPainter>

#include <memory>
#include <optional>

class QCursor;

// A device context is a painter on a widget, an image or a pixmap.
using CDC = QPainter;

// Each dialog holds one by value and paints its background pictures with it.
class CGdiManger {
public:
    CGdiManger() = default;
    virtual ~CGdiManger() = default;

    // Draws the picture file scaled to fill rect. Nothing when the file is
    // missing or undecodable, or pDC is null. path may use '\' separators.
    void DrawImageFile(const char* path, const CRect& rect, CDC* pDC);
    // Draws the picture file at its own size with its top-left corner at (x, y).
    void DrawImageFileAt(const char* path, int x, int y, CDC* pDC);

    // New wide copy of a UTF-8 text (array allocation, the caller delete[]s
    // it); null for a null or malformed text.
    static wchar_t* AnsiToWide(const char* text);

private:
    // Set as the original drawer set them; nothing reads them.
    [[maybe_unused]] int m_nReserved1 = 12;
    [[maybe_unused]] int m_nReserved2 = 0xFAFFFF;
};

// Collects drawing off-screen and copies it to the target in one go when it
// goes out of scope. Draw through GetDC() in the target's own coordinates.
class CXMemDC {
public:
    // An empty area (all four coordinates 0) means the target's clip box, or
    // its whole device when it clips nothing. With bCopyFirst the target's
    // pixels under the area are copied in first where the target can be read
    // (an image or pixmap); elsewhere the buffer starts transparent and is
    // laid over the target, which keeps what lies under undrawn parts.
    CXMemDC(CDC* pDC, const CRect& rect = CRect(), BOOL bCopyFirst = FALSE);
    ~CXMemDC();
    CXMemDC(const CXMemDC&) = delete;
    CXMemDC& operator=(const CXMemDC&) = delete;

    CDC* GetDC() { return m_bMemDC ? &*m_painter : m_pDC; }
    CDC* operator->() { return GetDC(); }
    operator CDC*() { return GetDC(); }
    const CRect& GetRect() const { return m_rect; }
    // False when drawing goes straight to the target (a printer, or no target).
    bool IsMemDC() const { return m_bMemDC; }

private:
    QImage m_bitmap;
    std::optional<QPainter> m_painter;
    CDC* m_pDC;
    CRect m_rect;
    bool m_bMemDC = false;
    bool m_bCopied = false;
};

// One bitmap, owned; null when empty.
class CGdiPlusBitmap {
public:
    CGdiPlusBitmap() = default;
    explicit CGdiPlusBitmap(const char* path) { Load(path); }
    virtual ~CGdiPlusBitmap() { Empty(); }
    CGdiPlusBitmap(const CGdiPlusBitmap&) = delete;
    CGdiPlusBitmap& operator=(const CGdiPlusBitmap&) = delete;

    virtual void Empty() { m_pBitmap.reset(); }
    // Decodes a picture file; TRUE when it decoded.
    BOOL Load(const char* path);

    QImage* GetBitmap() const { return m_pBitmap.get(); }
    operator QImage*() const { return m_pBitmap.get(); }

protected:
    std::unique_ptr<QImage> m_pBitmap;
};

// A bitmap decoded from a picture compiled into the program. Language files
// never hold pictures, so the faces are the same in every language.
class CGdiPlusBitmapResource : public CGdiPlusBitmap {
public:
    CGdiPlusBitmapResource() = default;

    // Name "#123" or a numeric id; type as the callers pass it ("PNG").
    // hModule: null means the program itself, which is the only module that
    // carries pictures. TRUE when a bitmap was decoded; otherwise the holder
    // is empty.
    BOOL Load(const char* pName, const char* pType = "PNG", const void* hModule = nullptr);
    BOOL Load(UINT id, const char* pType = "PNG", const void* hModule = nullptr);
    void Empty() override;
};

// A cursor from a Windows cursor file (".cur"), with the hot spot the file
// names; the arrow cursor when the file cannot be read.
QCursor LoadCursorFromFile(const char* path);
