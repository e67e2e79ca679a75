// The About box: white, blue texts, the two product pictures and the version.
#pragma once

#include <QDialog>

namespace paxelle {

class AboutDialog final : public QDialog {
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

// The last seven characters of the version text: "WH 5.10".
QString AboutVersionText();

}  // namespace paxelle
