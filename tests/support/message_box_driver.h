#pragma once

#include <functional>

class QMessageBox;

namespace relaycast::test {

// Acts on the next modal message box from the event loop of its exec(): `act` runs once the box
// is open and must close it. A box that does not appear within 5 s is not waited for; one that
// `act` leaves open is rejected after 5 s, so a failing test never hangs.
void whenMessageBoxOpens(std::function<void(QMessageBox*)> act);

} // namespace relaycast::test
