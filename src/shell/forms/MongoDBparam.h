#pragma once
// The dialog that asks for the MongoDB server and database to open.
#include <QDialog>

class QLineEdit;
class QPushButton;

class TFormDBparams : public QDialog {
  Q_OBJECT
public:
  explicit TFormDBparams(QWidget* parent = nullptr);

  QLineEdit* EditIP;
  QLineEdit* EditPort;
  QLineEdit* EditDbName;
  QPushButton* BtnSave;

  // The port text as a number; false when it is not an integer.
  bool Port(int& port) const;

  // Closing checks the port (FormCloseQuery): a port that is not an integer asks whether to
  // correct it; "Yes" keeps the dialog open, "No" closes it as cancelled.
  void done(int r) override;

protected:
  void showEvent(QShowEvent* e) override;
};
