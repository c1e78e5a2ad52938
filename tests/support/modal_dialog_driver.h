#pragma once

#include <functional>
#include <memory>

class QDialog;
struct QMetaObject;

namespace relaycast::test {

// Watches for the next modal dialog of any kind (an input dialog, a message box).
class ModalWatch {
public:
    virtual ~ModalWatch() = default;
    // True once the dialog appeared and the action ran.
    virtual bool acted() const = 0;
    // Stops watching; for a check that no dialog appeared.
    virtual void stop() = 0;
};

// Acts on the next modal dialog of class `kind` (any dialog when null) from inside the event
// loop of its exec(): `act` runs once the dialog is open and should close it. A dialog that does
// not appear within 5 s is not waited for; one that `act` leaves open is rejected after 5 s, so a
// failing test never hangs.
[[nodiscard]] std::shared_ptr<ModalWatch> whenModalDialogOpens(std::function<void(QDialog*)> act,
                                                               const QMetaObject* kind = nullptr);

} // namespace relaycast::test
