#include "app/window/SetupDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

#include <initializer_list>

namespace paxelle {
namespace {

constexpr int kPasswordLimit = 12;

QString Text(const std::string& value) { return QString::fromStdString(value); }

template <typename Widget>
Widget* Named(Widget* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

QLineEdit* Field(const char* name, QWidget* parent) {
  auto* field = Named(new QLineEdit(parent), name);
  field->setReadOnly(true);
  return field;
}

// A column of radio buttons, named, in their own exclusive group.
QVBoxLayout* RadioColumn(std::initializer_list<std::pair<const char*, const char*>> buttons, QWidget* parent) {
  auto* column = new QVBoxLayout;
  auto* group = new QButtonGroup(parent);
  for (const auto& [name, text] : buttons) {
    auto* button = Named(new QRadioButton(text, parent), name);
    group->addButton(button);
    column->addWidget(button);
  }
  return column;
}

}  // namespace

int MerchantCategoryIndex(const std::string& entry4) {
  if (entry4 == "3") return 1;
  if (entry4 == "4") return 2;
  return 0;
}

bool HostInitiatedClose(const std::string& entry12) { return entry12 == "Y"; }

QString CloseTimeText(const std::string& entry13, bool hostInitiated) {
  if (entry13.empty() && !hostInitiated) return "--:--";
  const QString time = Text(entry13);
  return time.left(2) + ":" + time.right(2);
}

int EmvSupportIndex(const std::string& entry19) {
  if (entry19 == "1") return 1;
  if (entry19 == "2") return 2;
  return 0;
}

int TransportIndex(const std::string& entry14) {
  if (entry14 == "1") return 1;
  if (entry14 == "2") return 2;
  return 0;
}

QString ShownPassword(const CMerchantParams& params) {
  if (!params.IsYes(kParamUsePassword)) return {};
  return Text(params.GetValue(kParamPassword)).left(kPasswordLimit);
}

QString ShellWord(const QString& word) {
  const auto plain = [](QChar c) {
    return (c.unicode() < 128 && c.isLetterOrNumber()) || QStringLiteral("_@%+=:,./-").contains(c);
  };
  if (!word.isEmpty() && std::all_of(word.begin(), word.end(), plain)) return word;
  QString quoted = word;
  quoted.replace("'", "'\\''");
  return "'" + quoted + "'";
}

QString ChangeHintText(const QString& paramsFile) {
  // The default path holds a blank ("Kelvara Applications"): the command must
  // paste as it is shown.
  return "To change a value: paxelle params set N=VALUE --params " + ShellWord(paramsFile) + ", then OK.";
}

StoredTextSpinBox::StoredTextSpinBox(int minimum, int maximum, QWidget* parent)
    : QAbstractSpinBox(parent), minimum_(minimum), maximum_(maximum) {
  setReadOnly(true);
}

void StoredTextSpinBox::SetStoredText(const QString& text) { lineEdit()->setText(text); }

QAbstractSpinBox::StepEnabled StoredTextSpinBox::stepEnabled() const {
  if (!isEnabled() || isReadOnly()) return StepNone;
  const int value = text().toInt();
  StepEnabled steps = StepNone;
  if (value > minimum_) steps |= StepDownEnabled;
  if (value < maximum_) steps |= StepUpEnabled;
  return steps;
}

SetupDialog::SetupDialog(const CMerchantParams& params, const QString& paramsFile, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(kSetupTitle);
  setModal(true);

  // "Merchant Parameters", with batch close and EMV inside it.
  auto* merchant = new QGroupBox("Merchant Parameters", this);
  auto* merchantGrid = new QGridLayout(merchant);
  int column = 0;
  for (const auto& [name, label] : {std::pair{"merchantId", "Merchant\nID"}, std::pair{"terminalId", "Terminal\nID"},
                                    std::pair{"checkDigit", "Check\nDigit"}}) {
    merchantGrid->addWidget(new QLabel(label, merchant), 0, column);
    merchantGrid->addWidget(Field(name, merchant), 1, column++);
  }
  merchantGrid->addWidget(new QLabel("Merchant\nCategory", merchant), 0, column);
  auto* category = Named(new QComboBox(merchant), "category");
  category->addItems({"Retail/Grocery", "Direct Marketing", "eCommerce"});
  merchantGrid->addWidget(category, 1, column);
  merchantGrid->setColumnStretch(0, 3);

  auto* checks = new QVBoxLayout;
  for (const auto& [name, text] : {std::pair{"contactless", "Contactless Capable"},
                                   std::pair{"customerActivated", "Customer Activated Terminal"},
                                   std::pair{"noConnect", "Do Not Connect to Host on Startup"},
                                   std::pair{"verifySsl", "Verify SSL Certificate"},
                                   std::pair{"trayMinimize", "Go To System Tray when Minimized."}}) {
    checks->addWidget(Named(new QCheckBox(text, merchant), name));
  }
  merchantGrid->addLayout(checks, 2, 0, 1, 2);

  auto* batch = new QGroupBox("Batch Close Option", merchant);
  auto* batchLayout = RadioColumn({{"merchantInitiated", "Merchant Initiated"}, {"hostInitiated", "Host Initiated By Time"}},
                                  batch);
  batchLayout->addWidget(Field("closeTime", batch));
  batch->setLayout(batchLayout);
  merchantGrid->addWidget(batch, 2, 2, 1, 2);

  auto* emv = new QGroupBox("EMV Support", merchant);
  emv->setLayout(RadioColumn(
      {{"emvNone", "None"}, {"emvCredit", "Credit Only"}, {"emvDebit", "Credit and Swiped PIN Debit"}}, emv));
  merchantGrid->addWidget(emv, 3, 0, 1, 4);

  // "Dial Information".
  auto* dial = new QGroupBox("Dial Information", this);
  auto* dialGrid = new QGridLayout(dial);
  dialGrid->addWidget(new QLabel("Comm Port", dial), 0, 0);
  dialGrid->addWidget(Named(new StoredTextSpinBox(1, 255, dial), "commPort"), 0, 1);
  dialGrid->addWidget(new QLabel("Dial Prefix ", dial), 1, 0);
  dialGrid->addWidget(Field("dialPrefix", dial), 1, 1);
  dialGrid->addWidget(new QLabel("WorldPay Authorization Phone Number", dial), 2, 0);
  dialGrid->addWidget(Field("phoneNumber", dial), 2, 1);

  // "Tola Information".
  auto* tola = new QGroupBox("Tola Information", this);
  auto* tolaLayout = new QVBoxLayout(tola);
  tolaLayout->addWidget(Named(new QCheckBox("Use Client / Server Password", tola), "usePassword"));
  auto* password = Field("password", tola);
  password->setMaxLength(kPasswordLimit);
  password->setEchoMode(QLineEdit::Password);
  tolaLayout->addWidget(password);

  auto* transport = new QGroupBox("Transport ", this);
  transport->setLayout(RadioColumn(
      {{"ipOnly", "IP Only"}, {"ipDial", "IP with DIAL Backup"}, {"dialOnly", "DIAL Only"}}, transport));

  auto* ip = new QGroupBox("IP Connection  Information", this);
  auto* ipLayout = new QHBoxLayout(ip);
  ipLayout->addWidget(new QLabel("Connect Timeout to WorldPay", ip));
  ipLayout->addWidget(Named(new StoredTextSpinBox(3, 40, ip), "connectTimeout"));
  ipLayout->addWidget(new QLabel("Seconds.", ip));

  auto* ok = Named(new QPushButton("OK", this), "ok");
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* hint = Named(new QLabel(ChangeHintText(paramsFile), this), "changeHint");
  hint->setWordWrap(true);
  hint->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* right = new QVBoxLayout;
  right->addWidget(dial);
  right->addWidget(tola);
  auto* lower = new QHBoxLayout;
  lower->addWidget(transport);
  lower->addWidget(ip);
  auto* top = new QHBoxLayout;
  top->addWidget(merchant, 3);
  top->addLayout(right, 2);
  auto* foot = new QHBoxLayout;
  foot->addWidget(hint, 1);
  foot->addWidget(ok);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(lower);
  layout->addLayout(foot);

  Fill(params);

  // Only OK (and the window's close) can be used.
  for (QWidget* child : findChildren<QWidget*>()) {
    if (qobject_cast<QLineEdit*>(child) || qobject_cast<QAbstractButton*>(child) ||
        qobject_cast<QComboBox*>(child) || qobject_cast<QAbstractSpinBox*>(child)) {
      child->setEnabled(child == ok);
    }
  }
  // The spin boxes' own line edits are children too: keep them with their box.
  setFixedSize(sizeHint());
}

void SetupDialog::Fill(const CMerchantParams& params) {
  const auto text = [this](const char* name, const std::string& value) {
    findChild<QLineEdit*>(name)->setText(Text(value));
  };
  const auto check = [this](const char* name, bool on) { findChild<QAbstractButton*>(name)->setChecked(on); };
  const auto value = [&params](int entry) { return params.GetValue(entry); };

  text("merchantId", value(kParamMerchantId));
  text("terminalId", value(kParamTerminalId));
  text("checkDigit", value(kParamCheckDigit));
  findChild<QComboBox*>("category")->setCurrentIndex(MerchantCategoryIndex(value(kParamMerchantCategory)));
  check("contactless", params.IsYes(kParamContactless));
  check("customerActivated", params.IsYes(kParamCustomerActivated));
  check("noConnect", params.IsYes(kParamNoConnectOnStartup));
  check("verifySsl", params.IsYes(kParamVerifyCertificate));
  check("trayMinimize", params.IsYes(kParamTrayWhenMinimized));

  const bool hostInitiated = HostInitiatedClose(value(kParamBatchCloseOption));
  check(hostInitiated ? "hostInitiated" : "merchantInitiated", true);
  findChild<QLineEdit*>("closeTime")->setText(CloseTimeText(value(kParamHostCloseTime), hostInitiated));

  static constexpr const char* kEmv[] = {"emvNone", "emvCredit", "emvDebit"};
  check(kEmv[EmvSupportIndex(value(kParamEmvSupport))], true);

  findChild<StoredTextSpinBox*>("commPort")->SetStoredText(Text(value(kParamModemComPort)));
  text("dialPrefix", value(kParamDialPrefix));
  text("phoneNumber", value(kParamPhoneNumber));

  check("usePassword", params.IsYes(kParamUsePassword));
  findChild<QLineEdit*>("password")->setText(ShownPassword(params));

  static constexpr const char* kTransport[] = {"ipOnly", "ipDial", "dialOnly"};
  check(kTransport[TransportIndex(value(kParamTransportMethod))], true);
  findChild<StoredTextSpinBox*>("connectTimeout")->SetStoredText(Text(value(kParamConnectTimeout)));
}

}  // namespace paxelle
