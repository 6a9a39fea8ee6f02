// CxImageBMP: the Windows bitmap decoder (BM files and bare DIBs, OS/2 and
// Windows headers, 1 to 32 bits, RLE4 and RLE8).
#pragma once

#include "ui/image/ximage.h"

class CxImageBMP : public CxImage {
public:
    CxImageBMP() : CxImage(CXIMAGE_FORMAT_BMP) {}
    // Reads from the file's current position; the message of a failure is
    // left as the last-error text.
    bool Decode(CxFile* hFile);

private:
    const char* DecodeBody(CxFile& file);
    void DecodeRle(CxFile& file, bool rle4);
};
