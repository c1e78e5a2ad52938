#include "support/modal_dialog_driver.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

namespace relaycast::test {

namespace {

class PollingWatch : public ModalWatch {
public:
    PollingWatch(std::function<void(QDialog*)> act, const QMetaObject* kind)
        : act_(std::move(act)), kind_(kind) {
        clock_.start();
        // Owned by the application too: the last poll of a run may not get its deferred delete.
        timer_ = new QTimer(QCoreApplication::instance());
        timer_->setInterval(20);
        QObject::connect(timer_, &QTimer::timeout, timer_, [this] { poll(); });
        timer_->start();
    }
    ~PollingWatch() override { stop(); }

    bool acted() const override { return acted_; }
    void stop() override {
        if (timer_) {
            timer_->stop();
            timer_->deleteLater();
        }
    }

private:
    void poll() {
        const bool late = clock_.elapsed() > 5000;
        if (!acted_) {
            dialog_ = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog_ && kind_ && !kind_->cast(dialog_))
                dialog_ = nullptr;
            if (dialog_ && dialog_->isVisible()) {
                acted_ = true;
                act_(dialog_);
                return;
            }
            if (!late)
                return;
        } else if (dialog_ && dialog_->isVisible()) {
            if (!late)
                return;
            dialog_->reject();
        }
        stop();
    }

    std::function<void(QDialog*)> act_;
    const QMetaObject* kind_ = nullptr;
    QElapsedTimer clock_;
    QPointer<QTimer> timer_;
    QPointer<QDialog> dialog_;
    bool acted_ = false;
};

} // namespace

std::shared_ptr<ModalWatch> whenModalDialogOpens(std::function<void(QDialog*)> act,
                                                 const QMetaObject* kind) {
    return std::make_shared<PollingWatch>(std::move(act), kind);
}

} // namespace relaycast::test
