#pragma once

#include <QRect>

class QPushButton;
class QWidget;

namespace qf {

/// Names widget "id" + id (no name for 0), so that tests find it, and puts it
/// at rect.
void place(QWidget* widget, int id, const QRect& rect);

/// A push button with caption, placed as above. Focus never makes it the
/// default button, so that Enter goes to the one the dialog chose.
QPushButton* makeButton(QWidget* parent, int id, const char* caption, const QRect& rect);

}  // namespace qf
