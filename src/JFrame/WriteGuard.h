#pragma once
// What a window does around a write of its own to the record store: the store's "IO Error"
// box is held back, so the window reports a failed write once, naming its record, with the
// store's reason.
#include "recstore/JrecClasses.h"

// Holds back the "IO Error" boxes a database shows while the frame writes to it: the frame
// reports a failed write itself, once, naming the record, with the database's reason. Every
// other message and question goes through as usual.
class TFrameWrites : public IOperator {
public:
  explicit TFrameWrites(TDbCollectionItem* coll)
      : FDb(coll ? &coll->DbFile() : nullptr), FPrev(FDb ? FDb->OperatorOverride() : nullptr) {
    if (FDb) FDb->SetOperator(this);
  }
  ~TFrameWrites() override {
    if (FDb) FDb->SetOperator(FPrev);
  }
  TFrameWrites(const TFrameWrites&) = delete;
  TFrameWrites& operator=(const TFrameWrites&) = delete;
  void MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon) override {
    if (caption == "IO Error") return;
    Target().MessageBox(caption, text, icon);
  }
  TMsgAnswer Ask(const std::string& caption, const std::string& text, TMsgIcon icon,
                 TMsgButtons buttons, TMsgAnswer safeAnswer) override {
    return Target().Ask(caption, text, icon, buttons, safeAnswer);
  }
  void StatusText(const std::string& text) override { Target().StatusText(text); }
  void OpenRecord(TDbCollectionItem& coll, const std::string& id) override {
    Target().OpenRecord(coll, id);
  }
  void RunOnUiThread(std::function<void()> fn) override { Target().RunOnUiThread(std::move(fn)); }

private:
  IOperator& Target() const { return FPrev ? *FPrev : AppOperator(); }
  TDbFile* FDb;
  IOperator* FPrev;
};

// Why the last change of Coll's database failed; empty when it was refused because another
// editor changed the record first.
inline std::string WriteFailure(TDbCollectionItem* coll) {
  return coll ? coll->DbFile().LastError() : std::string();
}

// What a window says when its write of record Name was not done: Verb is "saved" or
// "deleted"; Why is WriteFailure's reason, empty for another user's change. A failed write is
// an error, a change made first by someone else a question for the operator to look at.
struct TWriteFailureText {
  std::string Text;
  TMsgIcon Icon;
};
inline TWriteFailureText WriteFailureText(const std::string& name, const std::string& verb,
                                          const std::string& why) {
  if (why.empty())
    return {"Record \"" + name + "\" can not be " + verb +
                " because it has been changed by another user",
            TMsgIcon::Question};
  return {"Record \"" + name + "\" can not be " + verb + ": " + why, TMsgIcon::Error};
}
