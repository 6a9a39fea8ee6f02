// CxImageGIF: the GIF87a/GIF89a decoder (LZW, interlacing, transparency,
// frames composed on the logical screen, true-colour GIFs).
#pragma once

#include "ui/image/ximage.h"

class CxImageGIF : public CxImage {
public:
    CxImageGIF();
    ~CxImageGIF() override = default;
    // Decodes the frame named by the frame index (composed on a canvas of the
    // logical screen), or every frame of a true-colour GIF.
    bool Decode(CxFile* fp);

    const char* GetComment() const { return m_comment; }
    long GetLoops() const { return m_loops; }

private:
    struct rgb_color {
        BYTE r, g, b;
    };
    struct ColorTable {
        int colres = 0; // entries
        rgb_color paleta[256] = {};
    };
    struct ScreenDescriptor {
        WORD scrwidth, scrheight;
        BYTE pflags, bcindex, pxasrat;
    };
    struct ImageDescriptor {
        WORD l, t, w, h;
        BYTE pf;
    };
    struct GraphicControl {
        BYTE flags;
        WORD delaytime;
        BYTE transpcolindex;
    };
    // The state a graphic control extension leaves behind.
    struct ExtensionState {
        GraphicControl gce;
        LONG transIndex;
        DWORD delay;
        BYTE dispmeth;
    };
    struct LzwOutcome {
        bool codeSizeRead = false; // the initial code size byte was consumed
        bool terminator = false;   // the 0-length sub-block was consumed
        bool eof = false;
        int badCodes = 0;
    };

    bool ReadExtension(CxFile* fp);
    int CountFrames(CxFile* fp, ScreenDescriptor& scr);
    LzwOutcome DecodeImageData(CxFile* fp, const ImageDescriptor& im, bool output);
    void SkipImage(CxFile* fp, const ImageDescriptor& im);
    static bool ReadDescriptor(CxFile* fp, ImageDescriptor& im);
    static bool FitsScreen(const ImageDescriptor& im, const ScreenDescriptor& scr);
    ExtensionState SaveExtensionState() const;
    void RestoreExtensionState(const ExtensionState& s);

    // Buffered reader over the stream.
    int get_byte();
    // LZW.
    void init_exp(int size);
    int get_next_code();
    LzwOutcome decoder(int linewidth, bool output);
    // Line output into the frame.
    int out_line(BYTE* pixels, int linelen, bool output);

    CxFile* m_fp = nullptr;
    BYTE buf[16384];
    int ibf = 0;
    int ibfmax = 0;
    bool m_eof = false;
    long m_consumed = 0;

    BYTE stack[4096];
    BYTE suffix[4096];
    WORD prefix[4096];
    BYTE byte_buff[257];
    char m_comment[256];
    long m_loops = 0;
    GraphicControl gifgce = {0, 0, 0};

    int curr_size = 0;
    int clear = 0;
    int ending = 0;
    int newcodes = 0;
    int top_slot = 0;
    int slot = 0;
    int navail_bytes = 0;
    int nbits_left = 0;
    BYTE b1 = 0;
    BYTE* pbytes = nullptr;
    LzwOutcome* m_outcome = nullptr;

    bool interlaced = false;
    int iypos = 0;
    int istep = 0;
    int iheight = 0;
    int ipass = 0;
};
