#pragma once

#include <QDialog>

class QPushButton;

namespace qf {

/// The mail link of the author button.
inline constexpr char kAuthorLink[] = "mailto:quillforge@example.org";
/// The web page of the maker button.
inline constexpr char kMakerLink[] = "https://quillforge.example.org/index.html";

/// The About box: names the program and its author and opens the two links.
/// "Okay!" (also Enter) and the close box end it; Escape does not.
class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);

 public slots:
  void openAuthorLink();
  void openMakerLink();

 public:
  /// Does nothing, so that Escape leaves the box open.
  void reject() override {}

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QPushButton* okayButton_ = nullptr;
  QPushButton* authorButton_ = nullptr;
  QPushButton* makerButton_ = nullptr;
};

}  // namespace qf
