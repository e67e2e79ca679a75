#include "app/window/AboutDialog.h"

#include "core/Version.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>

namespace paxelle {
namespace {

constexpr int kVersionTail = 7;

QLabel* BlueText(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setStyleSheet("color: #0000c0; background: transparent;");
  return label;
}

QLabel* Picture(const char* resource, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setPixmap(QPixmap(resource));
  label->setStyleSheet("background: transparent;");
  return label;
}

}  // namespace

QString AboutVersionText() {
  const QString version = QString::fromUtf8(kServerVersionText.data(), kServerVersionText.size());
  return version.right(kVersionTail);
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("About");
  setObjectName("aboutBox");
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);
  setAutoFillBackground(true);

  auto* layout = new QGridLayout(this);
  layout->addWidget(Picture(":/paxelle/terminal.png", this), 0, 0, 3, 1);
  auto* name = BlueText("Paxelle XML", this);
  QFont big = name->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.5);
  name->setFont(big);
  layout->addWidget(name, 0, 1);
  layout->addWidget(BlueText("Payment transaction server", this), 1, 1);
  auto* version = BlueText(AboutVersionText(), this);
  version->setObjectName("version");
  layout->addWidget(version, 2, 1);
  layout->addWidget(Picture(":/paxelle/server.png", this), 0, 2, 3, 1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons, 3, 0, 1, 3);
  setFixedSize(sizeHint());
}

}  // namespace paxelle
