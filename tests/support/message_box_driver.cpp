#include "support/message_box_driver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

namespace relaycast::test {

void whenMessageBoxOpens(std::function<void(QMessageBox*)> act) {
    // Owned by the application too: the last poll of a run may not get its deferred delete.
    auto* poll = new QTimer(QCoreApplication::instance());
    poll->setInterval(20);
    QElapsedTimer clock;
    clock.start();
    QObject::connect(poll, &QTimer::timeout, poll,
                     [poll, act, clock, acted = false, box = QPointer<QMessageBox>()]() mutable {
                         const bool late = clock.elapsed() > 5000;
                         if (!acted) {
                             box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                             if (box && box->isVisible()) {
                                 acted = true;
                                 act(box);
                                 return;
                             }
                             if (!late)
                                 return;
                         } else if (box && box->isVisible()) {
                             if (!late)
                                 return;
                             box->reject();
                         }
                         poll->stop();
                         poll->deleteLater();
                     });
    poll->start();
}

} // namespace relaycast::test
