#include "ui/dialog_controls.h"

#include <QPushButton>

namespace qf {

void place(QWidget* widget, int id, const QRect& rect) {
  if (id) widget->setObjectName(QStringLiteral("id%1").arg(id));
  widget->setGeometry(rect);
}

QPushButton* makeButton(QWidget* parent, int id, const char* caption, const QRect& rect) {
  auto* button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setAutoDefault(false);
  place(button, id, rect);
  return button;
}

}  // namespace qf
