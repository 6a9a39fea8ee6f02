// Reading an ONVIF camera's information block: its stream profiles and the
// address in its service URL.
#pragma once

#include "controls/media_params.h"
#include "controls/onvif.h"

// Copies profile index (an index not below the count means profile 0).
// -1 for a null block or output, else 0.
int GetOnvifStreamProfile(const _OVF_DEV_INFO* info, int index, StreamProfile* profile);

// The dotted address after "http://" in url; out (at least 256 bytes) is
// left untouched when there is none. -1 for a null argument or empty url.
int GetIpFromUrl(const char* url, char* out);
