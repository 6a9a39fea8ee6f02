// Event sink of a stream sink's AVI record control: the recorder reports its
// files itself, so the events are taken and nothing more is done.
#pragma once

#include "controls/avi_record.h"

class CAviRecordEvents : public IAviRecordEvents {
public:
    void RecordFileOpened(int32_t fileId, int32_t streamId) override;
    void RecordFileClosed(int32_t fileId, int32_t reason) override;
    void RecordError(int32_t fileId, int32_t error) override;
};
