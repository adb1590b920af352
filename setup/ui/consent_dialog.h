// The first launch's question on a desktop where step 1 switches accessibility on for the whole
// desktop: the user may decline, and nothing is switched without an answer.
#pragma once

#include <functional>

class QDialog;
class QWidget;

namespace setup {

// Shows the question, attached to `parent` (or on its own when null), and returns the dialog,
// which deletes itself when answered. `accept` runs when the user says yes.
QDialog* askAccessibilityConsent(QWidget* parent, std::function<void()> accept);

}  // namespace setup
