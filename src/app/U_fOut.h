#pragma once
// TFormFileOut: the small dialog that asks for the name prefix of a file to
// save. The edit holds the prefix; the label right of it shows the fixed end
// of the name ("Foto" or "Firma"), so the user sees the whole file name.

#include "view/ZSImage_Selection.h"

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

class TFormFileOut : public QDialog {
    Q_OBJECT
public:
    // owner: the main window the dialog places itself against.
    explicit TFormFileOut(QWidget* owner = nullptr);

    QLineEdit* EdFileOut = nullptr;
    QLabel* TpFileOut = nullptr;
    QPushButton* BtOk = nullptr;
    QPushButton* BtAnnulla = nullptr;
    QLabel* LbPrefisso = nullptr;
    QLabel* LbCartella = nullptr; // the output folder
    QLabel* LbNomi = nullptr;     // the file name that OK will write, as typed

    // The fixed end of the name ("Foto", "Firma") and the folder written to.
    void SetTarget(const QString& fixedEnd, const QString& folder);

    // Places the dialog against the owner and selects the whole prefix.
    void FormShow();
    void BtOkClick();
    // Empties the edit, so the caller reads "no name", and closes.
    void BtAnnullaClick();

protected:
    void showEvent(QShowEvent* event) override;
    // Esc means "Annulla": a key meant to back out must not start a save.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString FFixedEnd;
    void ShowNames();
};

// The prefix typed for the photo (srFoto) or the signature (srFirma), trimmed
// of surrounding blanks; empty when cancelled or left blank. `current` is
// offered when it is not blank. The dialog is modal and destroyed afterwards;
// it shows `folder` and the whole file name being typed.
QString GetFileNameOut(TzsiFixSelectionRatio ratio, const QString& current, QWidget* owner = nullptr,
                       const QString& folder = QString());
