// DllRegisterServer of one control library: enables the library's class id in
// the loading program's control table.
#include <dlfcn.h>

#ifndef QELM2_CONTROL_CLSID
#error "QELM2_CONTROL_CLSID names the class id this library registers"
#endif

using EnableFn = int (*)(const char*);

extern "C" __attribute__((visibility("default"))) long DllRegisterServer()
{
    // The program exports the function; a host without it cannot create controls.
    auto fn = reinterpret_cast<EnableFn>(dlsym(RTLD_DEFAULT, "qelm2_EnableControlClass"));
    if (!fn)
        return -2147467259L; // E_FAIL
    return fn(QELM2_CONTROL_CLSID) == 0 ? 0L : -2147467259L;
}
