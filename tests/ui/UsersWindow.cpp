// The users window: credentials packed on saving and unpacked on showing, the administrator
// rules, the password masking and the default user.
#include <QCheckBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTest>

#include "shell/Users.h"
#include "shell/forms/Users.h"
#include "ui/UiProject.h"

namespace {
QString Qs(const std::string& s) { return QString::fromStdString(s); }

struct TProject : TUiProject {
  TDbCollectionItem& Users() { return Db->CollectionByName("Users"); }
  TDbCollectionItem& Tree() { return Db->CollectionByName("Tree"); }
};

// Unpacked as the window shows it.
TJson Shown(TDbCollectionItem& users, const std::string& id) {
  TJson r = *users.GetRecord(id);
  r["_ID"] = id;
  UnpackCredentials(r, rtcLoad, false);
  return r;
}
}  // namespace

class TUsersWindowTest : public QObject {
  Q_OBJECT
private slots:
  void DefaultUserOnlyInAnEmptyDatabase() {
    TProject p;
    TFormUsers form(*p.Db);
    form.Button1->click();
    TJson doc = *p.Tree().GetRecord("Users");
    QCOMPARE(doc.size(), size_t(1));
    const std::string id = JsonStr(doc[0], "_ID");
    QCOMPARE(form.JFrame1->ID(), id);
    QCOMPARE(form.JFrame1->RecordName(), std::string("Default"));
    QCOMPARE(form.EditPassword->text(), QString(""));
    for (int i = 0; i < form.CheckListBox1->count(); ++i) QVERIFY(form.CheckListBox1->Checked(i));
    QCOMPARE(form.CheckListBox1->item(10)->text(), QString("Directory \"Users\""));
    // A second click finds a user and makes nothing.
    form.Button1->click();
    QCOMPARE(p.Tree().GetRecord("Users")->size(), size_t(1));
    // The frame knows the tree it shows: adding keeps the default user.
    form.JFrame1->AddRecordClick();
    QCOMPARE(p.Tree().GetRecord("Users")->size(), size_t(2));
  }

  void PasswordAndRightsArePackedOnSave() {
    TProject p;
    TFormUsers form(*p.Db);
    form.JFrame1->AddRecordClick();
    const std::string id = form.JFrame1->ID();
    QCOMPARE(form.JFrame1->RecordName(), std::string("New user"));
    QVERIFY(form.CheckListBox1->Checked(3));  // a new user starts with every right
    form.EditPassword->setText(QString::fromUtf8("pässwort"));
    form.CheckListBox1->SetChecked(3, false);
    QVERIFY(form.JFrame1->BtnSaveClick());
    TJson stored = *p.Users().GetRecord(id);
    QVERIFY(!stored.contains("Pw") && !stored.contains("Ar"));
    QVERIFY(stored["a0"].is_array());
    TJson shown = Shown(p.Users(), id);
    QCOMPARE(Qs(JsonStr(shown, "Pw")), QString::fromUtf8("pässwort"));
    QCOMPARE(shown["Ar"][3].get<bool>(), false);
    QCOMPARE(shown["Ar"][10].get<bool>(), true);
    // Masking follows the check box.
    QCOMPARE(form.EditPassword->echoMode(), QLineEdit::Password);
    form.CheckBoxShowPassword->setChecked(true);
    QCOMPARE(form.EditPassword->echoMode(), QLineEdit::Normal);
    // Shown again: no changes, so leaving asks nothing.
    form.JFrame1->BtnCancelClick();
    QCOMPARE(form.EditPassword->text(), QString::fromUtf8("pässwort"));
    QVERIFY(!form.JFrame1->WasChanges());
  }

  void PastedUserKeepsPasswordUnderItsNewIdentifier() {
    TProject p;
    TFormUsers form(*p.Db);
    form.JFrame1->AddRecordClick();
    form.EditPassword->setText("secret");
    QVERIFY(form.JFrame1->BtnSaveClick());
    form.JFrame1->CopyClick();
    form.JFrame1->PasteClick();
    const std::string copyId = form.JFrame1->ID();
    QCOMPARE(form.JFrame1->RecordName(), std::string("New user-Copy"));
    QCOMPARE(Qs(JsonStr(Shown(p.Users(), copyId), "Pw")), QString("secret"));
    // A credential array copied by hand into another record is refused there.
    TJson other = *p.Users().GetRecord(copyId);
    p.Users().NewRecord("foreign", other);
    QCOMPARE(Qs(JsonStr(Shown(p.Users(), "foreign"), "Pw")), QString(""));
  }

  void LastAdministratorCanBeNeitherDemotedNorDeleted() {
    TProject p;
    TFormUsers form(*p.Db);
    form.Button1->click();  // "Default": every right
    const std::string admin = form.JFrame1->ID();
    // A second user without the right to manage users.
    form.JFrame1->AddRecordClick();
    form.CheckListBox1->SetChecked(10, false);
    QVERIFY(form.JFrame1->BtnSaveClick());
    const std::string plain = form.JFrame1->ID();

    form.JFrame1->SetID(admin);
    form.CheckListBox1->SetChecked(10, false);
    QVERIFY(!form.JFrame1->BtnSaveClick());
    QCOMPARE(Qs(p.Op.Messages.back().Text),
             QString("Can't save. Not remain a user with administrative rights!"));
    QCOMPARE(Qs(p.Op.Messages.back().Caption), QString("Error"));
    QVERIFY(Shown(p.Users(), admin)["Ar"][10].get<bool>());
    form.JFrame1->BtnCancelClick();

    p.Op.Answers.push_back(TMsgAnswer::Yes);
    form.JFrame1->DeleteClick();
    QCOMPARE(Qs(p.Op.Messages.back().Text),
             QString("Can't delete. Not remain a user with administrative rights!"));
    QVERIFY(p.Users().GetRecord(admin));

    // With a second administrator both are allowed.
    form.JFrame1->SetID(plain);
    form.CheckListBox1->SetChecked(10, true);
    QVERIFY(form.JFrame1->BtnSaveClick());
    form.JFrame1->SetID(admin);
    p.Op.Answers.push_back(TMsgAnswer::Yes);
    form.JFrame1->DeleteClick();
    QVERIFY(!p.Users().GetRecord(admin));
  }

  // The menu entry and "open the record" both go through the collection's FormShow.
  void OpensFromItsCollectionAndRefusesToCloseOverEdits() {
    TProject p;
    const std::string id = CreateDefaultUser(p.Users(), p.Tree());
    QMdiArea area;
    SetFormArea(&area);
    SetDbF1(p.Db.get());
    SetFormShowHandler(ShowCollectionForm);
    FormShow(p.Users(), id);
    QCOMPARE(area.subWindowList().size(), 1);
    auto* form = qobject_cast<TFormUsers*>(area.subWindowList()[0]->widget());
    QVERIFY(form);
    QCOMPARE(form->JFrame1->ID(), id);
    QCOMPARE(area.subWindowList()[0]->windowTitle(), QString("Users - Default"));
    QCOMPARE(AttachedJFrames(p.Users()).size(), size_t(1));
    FormShow(p.Users(), id);  // shown already
    QCOMPARE(area.subWindowList().size(), 1);

    form->EditPassword->setText("typed");
    p.Op.Answers.push_back(TMsgAnswer::Cancel);
    QVERIFY(!area.subWindowList()[0]->close());
    QCOMPARE(form->EditPassword->text(), QString("typed"));
    p.Op.Answers.push_back(TMsgAnswer::No);
    QVERIFY(area.subWindowList()[0]->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(area.subWindowList().size(), 0);
    QVERIFY(AttachedJFrames(p.Users()).empty());
    SetFormArea(nullptr);
    SetDbF1(nullptr);
    SetFormShowHandler(nullptr);
  }
};

QTEST_MAIN(TUsersWindowTest)
#include "UsersWindow.moc"
