// Every record window of the console, opened as the main window opens it, keeps the keys of a
// stored record that it does not show when it saves the record.
#include <QTest>
#include <memory>

#include "JFrame/FormRegistry.h"
#include "JFrame/JFrame.h"
#include "shell/Users.h"
#include "ui/UiProject.h"

namespace {
QString Qs(const std::string& s) { return QString::fromStdString(s); }

// The main and the contracts database for the windows made through the registry, for the life
// of the object.
struct TDatabases : TUiProject {
  std::unique_ptr<TDbFile> Contracts;
  TDatabases() {
    Contracts = CreateContractsDatabase(Tmp.Path().string());
    Contracts->Loaded();
    SetDbF1(Db.get());
    SetContractsDb(Contracts.get());
  }
  ~TDatabases() {
    SetDbF1(nullptr);
    SetContractsDb(nullptr);
  }
  TDbFile& Of(bool contracts) { return contracts ? *Contracts : *Db; }
};

const TJson& Foreign() {
  static const TJson v = {{"Written by", "another program"}, {"Level", 3}};
  return v;
}
}  // namespace

class TJFrameWindowsTest : public QObject {
  Q_OBJECT
private slots:
  void EveryRecordWindowKeepsKeysItDoesNotShow() {
    std::vector<std::pair<bool, std::string>> collections;  // (contracts database, name)
    {
      TDatabases d;
      for (bool contracts : {false, true})
        for (size_t i = 0; i < d.Of(contracts).Collections().Count(); ++i)
          collections.emplace_back(contracts, d.Of(contracts).Collections()[i].Name());
    }
    std::string checked, changed;
    int windows = 0;
    for (const auto& [contracts, collName] : collections) {
      const std::string cls = CollectionFormClass(collName);
      if (cls.empty() || !TFormRegistry::IsRegistered(cls)) continue;
      TDatabases d;
      TDbFile& db = d.Of(contracts);
      TDbCollectionItem& coll = db.CollectionByName(collName);
      QVERIFY(coll.NewRecord("kept1", TJson{{"Name", "Kept"}, {"ForeignKey", Foreign()}}));
      TDbCollectionItem& tree = db.CollectionByName("Tree");
      // The users window keeps one administrator: another user is it.
      if (collName == "Users") QVERIFY(!CreateDefaultUser(coll, tree).empty());
      TJson entries = tree.GetRecord(collName).value_or(TJson::array());
      entries.push_back(TJson{{"_ID", "kept1"}});
      tree.NewOrUpdateRecord(collName, entries);
      std::unique_ptr<QWidget> form(TFormRegistry::Create(cls, nullptr));
      QVERIFY2(form, cls.c_str());
      TJFrame* frame = nullptr;
      for (IJFrame* f : FramesOf(form.get())) {
        auto* jf = dynamic_cast<TJFrame*>(f);
        if (jf && jf->TreeView->CollectionsData().Records == &coll) frame = jf;
      }
      if (!frame) continue;  // a window of its own kind (the options), tested with it
      frame->SetID("kept1");
      QCOMPARE(Qs(frame->ID()), QString("kept1"));
      // A record lacking the window's keys shows their defaults and is not taken for changed
      // (keys a window computes on saving, its OnCompToRecord, are that window's business).
      if (!frame->OnCompToRecord && frame->WasChanges()) changed += cls + " ";
      frame->SetRecordName("Renamed");
      // A window's own question before saving ("Film has zero duration. Save record?") is
      // answered Yes.
      d.Op.Answers.assign(3, TMsgAnswer::Yes);
      const bool saved = frame->BtnSaveClick();
      QVERIFY2(saved, (cls + ": " + (d.Op.Messages.empty() ? std::string("no message")
                                                            : d.Op.Messages.back().Text))
                          .c_str());
      const std::optional<TJson> stored = coll.GetRecord("kept1");
      QVERIFY(stored);
      QVERIFY2(JsonStr(*stored, "Name") == "Renamed", cls.c_str());
      QVERIFY2(stored->contains("ForeignKey") && JsonEqual((*stored)["ForeignKey"], Foreign()),
               cls.c_str());
      ++windows;
      checked += cls + " ";
    }
    qInfo("windows checked: %s", checked.c_str());
    QVERIFY(windows >= 14);
    QVERIFY2(changed.empty(), ("unchanged records taken for changed in " + changed).c_str());
  }
};

QTEST_MAIN(TJFrameWindowsTest)
#include "JFrameWindows.moc"
