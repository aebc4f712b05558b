#pragma once
// The playlists window: ordered lists of films and other playlists, played a number of times,
// with the duration of every item, of every item times the repetitions and of the whole list
// shown while the operator edits.
#include "JFrame/RecordForm.h"
#include "JFrame/RefTblFrame.h"

class QLabel;
class TFloatSpinEdit;

class TFormPlayLists : public TRecordForm {
  Q_OBJECT
public:
  explicit TFormPlayLists(TDbFile& db, QWidget* parent = nullptr);

  TRefTblFrame* RefTblFrame1;
  TFloatSpinEdit* FloatSpinEditNRepeat;
  QLabel* LabelPlayListDurations;

  // Declares the "Film or PlayList" column's reference editor.
  void RefTblFrame1StringGridLoaded(TRefStringGrid* grid);
  // Refreshes "Durations", "Summary" and the total from the grid as shown.
  void JFrame1Change();

private:
  bool FRefreshPending = false;
};
