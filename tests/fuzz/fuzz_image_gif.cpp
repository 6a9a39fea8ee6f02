// Fuzz target: the GIF decoder (CxImage::Decode with type code 2) for the
// first and the last frame, then the pixel operations on the result.
#include "fuzz_image_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    qelm::imagefuzz::Run(data, size, CXIMAGE_FORMAT_GIF);
    return 0;
}
