#include "ui/about_dialog.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

#include "base/version.h"
#include "ui/dialog_controls.h"
#include "ui/dialog_units.h"

namespace qf {

namespace {

void makeLine(QWidget* parent, const char* text, const QRect& rect) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label->setGeometry(rect);
}

}  // namespace

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  const DialogUnits du(fontMetrics());
  setFixedSize(du.x(179), du.y(120));
  setWindowTitle(QStringLiteral("About Quillforge"));
  okayButton_ = makeButton(this, 1, "Okay!", du.rect(65, 95, 50, 14));
  okayButton_->setDefault(true);
  auto* group = new QGroupBox(this);
  group->setGeometry(du.rect(5, 0, 170, 115));
  group->lower();
  authorButton_ = makeButton(this, 1002, "The Quillforge developers", du.rect(35, 35, 110, 10));
  makerButton_ = makeButton(this, 1003, "quillforge.example.org", du.rect(35, 60, 110, 10));
  makeLine(this, "Quillforge is an offline web site creation tool.", du.rect(10, 10, 160, 10));
  makeLine(this, "Idea and programming by", du.rect(10, 25, 160, 10));
  makeLine(this, "Made by Ambervale", du.rect(10, 50, 160, 10));
  makeLine(this, kLicence, du.rect(10, 78, 160, 10));
  okayButton_->setFocus();

  connect(okayButton_, &QPushButton::clicked, this, &QWidget::close, Qt::QueuedConnection);
  connect(authorButton_, &QPushButton::clicked, this, &AboutDialog::openAuthorLink);
  connect(makerButton_, &QPushButton::clicked, this, &AboutDialog::openMakerLink);
}

// Whether a link opened is not looked at: the box stays open either way.
void AboutDialog::openAuthorLink() { QDesktopServices::openUrl(QUrl(kAuthorLink)); }

void AboutDialog::openMakerLink() { QDesktopServices::openUrl(QUrl(kMakerLink)); }

void AboutDialog::closeEvent(QCloseEvent* event) {
  event->accept();
  done(0);
}

}  // namespace qf
