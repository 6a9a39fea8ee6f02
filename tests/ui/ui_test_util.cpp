// The recording window of the skinned-widget tests.
#include "ui_test_util.h"

BEGIN_MESSAGE_MAP(MsgRecorder, CWnd)
    ON_MESSAGE(WM_ON_CHKBOX, &MsgRecorder::OnCheck)
    ON_MESSAGE(WM_ITEM_SORTED, &MsgRecorder::OnSorted)
    ON_MESSAGE(WM_ITEM_EDITED, &MsgRecorder::OnEdited)
    ON_COMMAND_RANGE(1, 0xFFFF, &MsgRecorder::OnClicked)
END_MESSAGE_MAP()
