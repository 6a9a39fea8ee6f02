// Placeholder until the ONVIF client lands: every camera is unreachable.
#include "controls/onvif.h"

#include <cstring>

void OVF_StartSearch() {}
void OVF_StopSearch() {}
int OVF_GetSearchCount() { return 0; }
void OVF_GetSearchInfo(char out[256], int) { if (out) out[0] = '\0'; }
int OVF_Search(char (*)[256], int* count) { if (count) *count = 0; return 0; }
int OVF_GetAddrByIP(const char*, char out[256]) { if (out) out[0] = '\0'; return -1; }
int OVF_GetCapabilities(const char*, const char*, const char*, void*) { return -1; }
int OVF_GetDevInfo(const char*, const char*, const char*, _OVF_DEV_INFO*) { return -1; }
int OVF_SetNetworkInterface(const char*, const char*, const char*, const char*, const char*, const char*,
                            const char*, char* error, int errorSize)
{
    if (error && errorSize > 0)
        error[0] = '\0';
    return -1;
}
std::int32_t OVF_SetCallBackAlarmInfo(const char*, const char*, const char*, OVF_ALARM_CALLBACK, int) { return 0; }
void OVF_UnSetCallBackAlarmInfo(std::int32_t) {}
int OVF_PTZ_ContinuousMove(const _OVF_DEV_INFO*, int, float, float, const char*, const char*) { return -1; }
int OVF_PTZ_StopMove(const _OVF_DEV_INFO*, const char*, const char*) { return -1; }
int OVF_PTZ_Zoom(const _OVF_DEV_INFO*, int, float, const char*, const char*) { return -1; }
int OVF_PTZ_StopZoom(const _OVF_DEV_INFO*, const char*, const char*) { return -1; }
int OVF_PTZ_GotoPreset(const _OVF_DEV_INFO*, const char*, const char*, const char*) { return -1; }
int OVF_PTZ_RemovePreset(const _OVF_DEV_INFO*, const char*, const char*, const char*) { return -1; }
int OVF_PTZ_AddPreset(const _OVF_DEV_INFO*, const char*, const char*, const char*) { return -1; }
int OVF_PTZ_GetPresets(const _OVF_DEV_INFO*, const char*, const char*, char*, int* count)
{
    if (count)
        *count = 0;
    return -1;
}
