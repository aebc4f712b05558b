#pragma once
// Why the editor frame puts a record into the window's controls: a record loaded from the
// store, a record pasted from the clipboard, or a new record.
#ifndef PELMORA_RECORD_TO_COMP_TYPE
#define PELMORA_RECORD_TO_COMP_TYPE
enum TRecordToCompType { rtcLoad, rtcPaste, rtcNew };
#endif
