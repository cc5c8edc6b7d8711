#include "scan/dsm/DsmWorker.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QString>
#include <QTimer>

struct TSaneWorker::Shared {
    std::mutex Mutex;
    std::condition_variable Cond;
    std::deque<std::pair<std::function<void()>, std::pair<std::shared_ptr<TDsmJob>, bool>>> Queue;
    bool Stop = false;
};

namespace {

std::atomic<int> g_watchdogMs{10000};
std::mutex g_currentMutex;
std::shared_ptr<TSaneWorker> g_current;

void RunLoop(std::shared_ptr<TSaneWorker::Shared> sh)
{
    for (;;) {
        std::unique_lock<std::mutex> lock(sh->Mutex);
        sh->Cond.wait(lock, [&] { return sh->Stop || !sh->Queue.empty(); });
        if (sh->Queue.empty())
            return;
        auto item = std::move(sh->Queue.front());
        sh->Queue.pop_front();
        lock.unlock();
        item.first();
        item.second.first->Finish();
        if (item.second.second)
            PostDsmEvent();
    }
}

} // namespace

void TDsmJob::Finish()
{
    {
        std::lock_guard<std::mutex> lock(Mutex);
        Done = true;
    }
    Cond.notify_all();
}

bool TDsmJob::WaitFor(int ms)
{
    std::unique_lock<std::mutex> lock(Mutex);
    return Cond.wait_for(lock, std::chrono::milliseconds(ms), [this] { return Done.load(); });
}

TSaneWorker::TSaneWorker() : shared_(std::make_shared<Shared>())
{
    thread_ = std::thread(RunLoop, shared_);
}

TSaneWorker::~TSaneWorker()
{
    if (abandoned_)
        return;
    {
        std::lock_guard<std::mutex> lock(shared_->Mutex);
        shared_->Stop = true;
    }
    shared_->Cond.notify_all();
    if (thread_.joinable())
        thread_.join();
}

std::shared_ptr<TDsmJob> TSaneWorker::Submit(std::function<void()> call, bool notify)
{
    auto job = std::make_shared<TDsmJob>();
    {
        std::lock_guard<std::mutex> lock(shared_->Mutex);
        shared_->Queue.emplace_back(std::move(call), std::make_pair(job, notify));
    }
    shared_->Cond.notify_all();
    return job;
}

void TSaneWorker::Abandon()
{
    if (abandoned_)
        return;
    abandoned_ = true;
    // Queued calls stay queued: should the stuck call ever return, they still run in
    // order and release what they hold.
    if (thread_.joinable())
        thread_.detach();
}

std::shared_ptr<TSaneWorker> CurrentSaneWorker()
{
    std::lock_guard<std::mutex> lock(g_currentMutex);
    if (!g_current)
        g_current = std::make_shared<TSaneWorker>();
    return g_current;
}

void AbandonSaneWorker(const std::shared_ptr<TSaneWorker>& worker)
{
    if (!worker)
        return;
    worker->Abandon();
    std::lock_guard<std::mutex> lock(g_currentMutex);
    if (g_current == worker)
        g_current.reset();
}

int WatchdogMs() { return g_watchdogMs.load(); }
void SetWatchdogMs(int ms) { g_watchdogMs = ms > 0 ? ms : 10000; }

int DsmEventType()
{
    static const int type = QEvent::registerEventType();
    return type;
}

void PostDsmEvent()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QCoreApplication::postEvent(app, new QEvent(static_cast<QEvent::Type>(DsmEventType())));
}

bool AskAbandon(QWidget* parent, const QString& what, int seconds)
{
    QMessageBox box(QMessageBox::Warning, "Scanner",
                    QString("Lo scanner non risponde da %1 secondi (%2).\n\nAbbandonare il dispositivo? "
                            "Il programma resta utilizzabile; lo scanner potrà essere usato di nuovo dopo "
                            "averlo spento e riacceso.")
                        .arg(seconds)
                        .arg(what),
                    QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton("Sì", QMessageBox::YesRole);
    box.addButton("No, attendi ancora", QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setObjectName("DsmWatchdogBox");
    box.exec();
    return box.clickedButton() == static_cast<QAbstractButton*>(yes);
}

bool WaitForJob(const std::shared_ptr<TDsmJob>& job, QWidget* parent, const QString& what)
{
    // Most calls answer within milliseconds; waiting briefly first spares the event loop.
    if (job->WaitFor(40))
        return true;
    QElapsedTimer sinceStart;
    sinceStart.start();
    QElapsedTimer sinceAsked;
    sinceAsked.start();
    std::unique_ptr<QProgressDialog> busy;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    tick.start();
    while (!job->Done) {
        loop.exec();
        if (job->Done)
            break;
        if (!busy && sinceStart.elapsed() > 500) {
            busy = std::make_unique<QProgressDialog>(QString("Attendere: %1...").arg(what), QString(), 0, 0, parent);
            busy->setWindowTitle("Scanner");
            busy->setWindowModality(Qt::ApplicationModal);
            busy->setMinimumDuration(0);
            busy->show();
        }
        if (sinceAsked.elapsed() >= WatchdogMs()) {
            if (AskAbandon(parent, what, static_cast<int>((sinceStart.elapsed() + 500) / 1000)))
                return job->Done;
            sinceAsked.restart();
        }
    }
    return true;
}
