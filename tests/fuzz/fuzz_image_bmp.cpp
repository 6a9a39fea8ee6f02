// Fuzz target: the BMP decoder (CxImage::Decode with type code 1), then the
// pixel operations on whatever it decoded.
#include "fuzz_image_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    qelm::imagefuzz::Run(data, size, CXIMAGE_FORMAT_BMP);
    return 0;
}
