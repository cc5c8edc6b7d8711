#pragma once
// The windows of "Elabora cartella…": the progress of a run and the review
// of its pages.

#include "batch/Batch.h"

#include <QDialog>
#include <QElapsedTimer>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

// Current file, pages done out of the total, time left and "Interrompi".
// The run calls PageStarted and PageDone on the user-interface thread.
class TBatchProgressDialog : public QDialog {
    Q_OBJECT
public:
    TBatchProgressDialog(int total, QWidget* parent);
    void PageStarted(const QString& file);
    void PageDone();
    bool StopAsked() const { return FStopAsked; }
    QPushButton* StopButton() const { return FStop; }

signals:
    void StopRequested();

protected:
    void reject() override; // Esc and the window's close ask to stop, as the button does

private:
    void AskStop();
    int FTotal;
    int FDone = 0;
    bool FStopAsked = false;
    QElapsedTimer FClock;
    QLabel* FFile;
    QLabel* FCount;
    QLabel* FLeft;
    QProgressBar* FBar;
    QPushButton* FStop;
};

// One row a page: file, photo saved, signature saved, bytes, quality,
// warnings. A double-click on a row raises PageChosen with the page.
class TBatchReviewDialog : public QDialog {
    Q_OBJECT
public:
    TBatchReviewDialog(std::vector<TBatchPage> pages, bool stopped, QWidget* parent);
    const std::vector<TBatchPage>& Pages() const { return FPages; }
    QTableWidget* Table() const { return FTable; }

signals:
    void PageChosen(const TBatchPage& page);

private:
    std::vector<TBatchPage> FPages;
    QTableWidget* FTable;
};

// The Italian text of one slot's outcome, as the review shows it.
QString BatchSlotText(const TBatchSlot& slot);
