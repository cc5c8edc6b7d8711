#include "app/U_Cropping_BatchDialogs.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
QString TimeText(qint64 ms)
{
    const qint64 s = (ms + 500) / 1000;
    if (s >= 3600)
        return QStringLiteral("%1 h %2 min").arg(s / 3600).arg((s % 3600) / 60);
    if (s >= 60)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    return QStringLiteral("%1 s").arg(s);
}
} // namespace

TBatchProgressDialog::TBatchProgressDialog(int total, QWidget* parent) : QDialog(parent), FTotal(total)
{
    setObjectName(QStringLiteral("BatchProgress"));
    setWindowTitle(QStringLiteral("Elabora cartella"));
    setModal(true);
    auto* box = new QVBoxLayout(this);
    FFile = new QLabel(QStringLiteral("In attesa…"), this);
    FFile->setObjectName(QStringLiteral("BatchFile"));
    FFile->setMinimumWidth(420);
    FCount = new QLabel(QStringLiteral("0 di %1 pagine").arg(total), this);
    FCount->setObjectName(QStringLiteral("BatchCount"));
    FLeft = new QLabel(QStringLiteral("Tempo rimanente: calcolo…"), this);
    FLeft->setObjectName(QStringLiteral("BatchTimeLeft"));
    FBar = new QProgressBar(this);
    FBar->setRange(0, std::max(total, 1));
    FBar->setValue(0);
    FStop = new QPushButton(QStringLiteral("Interrompi"), this);
    FStop->setObjectName(QStringLiteral("BatchStop"));
    box->addWidget(FFile);
    box->addWidget(FCount);
    box->addWidget(FLeft);
    box->addWidget(FBar);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(FStop);
    box->addLayout(row);
    connect(FStop, &QPushButton::clicked, this, &TBatchProgressDialog::AskStop);
    FClock.start();
}

void TBatchProgressDialog::PageStarted(const QString& file)
{
    FFile->setText(QStringLiteral("File: %1").arg(QFileInfo(file).fileName()));
}

void TBatchProgressDialog::PageDone()
{
    ++FDone;
    FBar->setValue(FDone);
    FCount->setText(QStringLiteral("%1 di %2 pagine").arg(FDone).arg(FTotal));
    const qint64 left = FClock.elapsed() * (FTotal - FDone) / std::max(FDone, 1);
    FLeft->setText(QStringLiteral("Tempo rimanente: circa %1").arg(TimeText(left)));
}

void TBatchProgressDialog::AskStop()
{
    if (FStopAsked)
        return;
    FStopAsked = true;
    FStop->setEnabled(false);
    FLeft->setText(QStringLiteral("Interruzione: si completano le pagine già iniziate…"));
    emit StopRequested();
}

void TBatchProgressDialog::reject()
{
    AskStop();
}

QString BatchSlotText(const TBatchSlot& slot)
{
    switch (slot.State) {
    case TSlotState::Saved:
        return QStringLiteral("sì");
    case TSlotState::Exists:
        return QStringLiteral("no (il file esiste già)");
    case TSlotState::Failed:
    case TSlotState::NotDone:
        break;
    }
    return slot.Error.isEmpty() ? QStringLiteral("no") : QStringLiteral("no: ") + slot.Error;
}

TBatchReviewDialog::TBatchReviewDialog(std::vector<TBatchPage> pages, bool stopped, QWidget* parent)
    : QDialog(parent), FPages(std::move(pages))
{
    setObjectName(QStringLiteral("BatchReview"));
    setWindowTitle(QStringLiteral("Elabora cartella: risultato"));
    auto* box = new QVBoxLayout(this);
    int done = 0;
    for (const TBatchPage& p : FPages)
        done += p.Done() ? 1 : 0;
    auto* summary = new QLabel(
        QStringLiteral("%1 pagine su %2 con foto e firma salvate.%3 Doppio clic su una riga per aprire la pagina e correggerla.")
            .arg(done)
            .arg(FPages.size())
            .arg(stopped ? QStringLiteral(" Elaborazione interrotta.") : QString()),
        this);
    summary->setWordWrap(true);
    box->addWidget(summary);
    FTable = new QTableWidget(static_cast<int>(FPages.size()), 6, this);
    FTable->setObjectName(QStringLiteral("BatchTable"));
    FTable->setHorizontalHeaderLabels({QStringLiteral("File"), QStringLiteral("Foto salvata"),
                                       QStringLiteral("Firma salvata"), QStringLiteral("Byte"),
                                       QStringLiteral("Qualità"), QStringLiteral("Avvisi")});
    FTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    FTable->verticalHeader()->hide();
    for (int r = 0; r < static_cast<int>(FPages.size()); ++r) {
        const TBatchPage& p = FPages[static_cast<size_t>(r)];
        auto number = [](const TBatchSlot& s, qint64 v) { return s.Saved() ? QString::number(v) : QStringLiteral("-"); };
        const QString cells[] = {
            QFileInfo(p.Source).fileName(),
            BatchSlotText(p.Foto),
            BatchSlotText(p.Firma),
            number(p.Foto, p.Foto.Bytes) + QStringLiteral(" / ") + number(p.Firma, p.Firma.Bytes),
            number(p.Foto, p.Foto.Quality) + QStringLiteral(" / ") + number(p.Firma, p.Firma.Quality),
            p.Warnings.join(QStringLiteral("; ")),
        };
        for (int c = 0; c < 6; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c == 0)
                item->setToolTip(p.Source);
            if (!p.Done())
                item->setForeground(QColor(0xB0, 0x20, 0x20));
            FTable->setItem(r, c, item);
        }
    }
    FTable->resizeColumnsToContents();
    FTable->horizontalHeader()->setStretchLastSection(true);
    box->addWidget(FTable);
    auto* close = new QPushButton(QStringLiteral("Chiudi"), this);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(close);
    box->addLayout(row);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(FTable, &QTableWidget::cellDoubleClicked, this, [this](int r, int) {
        if (r >= 0 && r < static_cast<int>(FPages.size()))
            emit PageChosen(FPages[static_cast<size_t>(r)]);
    });
    resize(980, 440);
}
