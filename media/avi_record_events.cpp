// The AVI record control's events are accepted and ignored.
#include "media/avi_record_events.h"

void CAviRecordEvents::RecordFileOpened(int32_t, int32_t) {}
void CAviRecordEvents::RecordFileClosed(int32_t, int32_t) {}
void CAviRecordEvents::RecordError(int32_t, int32_t) {}
