// The setup dialog: what each stored value shows, that nothing but OK can be
// used, and what OK and any other close lead to.
#include "app/window/SetupDialog.h"
#include "tests/window/WindowTestSupport.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QAction>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace paxelle {
namespace {

using windowtest::ParamsWith;
using Values = std::vector<std::pair<int, std::string>>;

// One control's expected state for some stored values.
struct ShownCase {
  Values values;
  const char* control;
  std::string shown;  // a field's text, a list's entry, or "checked"
};

std::string Shown(const SetupDialog& dialog, const char* control) {
  if (auto* spin = dialog.findChild<StoredTextSpinBox*>(control)) return spin->text().toStdString();
  if (auto* field = dialog.findChild<QLineEdit*>(control)) return field->text().toStdString();
  if (auto* list = dialog.findChild<QComboBox*>(control)) return list->currentText().toStdString();
  if (auto* button = dialog.findChild<QAbstractButton*>(control)) return button->isChecked() ? "checked" : "clear";
  return "no control " + std::string(control);
}

TEST(SetupDialogTest, EveryValueShowsInItsControl) {
  const std::vector<ShownCase> cases = {
      {{{1, "123456789012345"}}, "merchantId", "123456789012345"},
      {{{2, "12345678"}}, "terminalId", "12345678"},
      {{{3, "7"}}, "checkDigit", "7"},
      {{{4, "0"}}, "category", "Retail/Grocery"},
      {{{4, "1"}}, "category", "Retail/Grocery"},
      {{{4, "3"}}, "category", "Direct Marketing"},
      {{{4, "4"}}, "category", "eCommerce"},
      {{{4, "14"}}, "category", "Retail/Grocery"},
      {{{5, "Y"}}, "contactless", "checked"},
      {{{6, "Y"}}, "customerActivated", "checked"},
      {{{9, "Y"}}, "noConnect", "checked"},
      {{{10, "N"}}, "verifySsl", "clear"},
      {{{11, "Y"}}, "trayMinimize", "checked"},
      {{{12, "N"}}, "merchantInitiated", "checked"},
      {{{12, "Y"}}, "hostInitiated", "checked"},
      {{{12, "Y"}, {13, "0400"}}, "closeTime", "04:00"},
      {{{12, "N"}, {13, "2230"}}, "closeTime", "22:30"},
      {{{14, "0"}}, "ipOnly", "checked"},
      {{{14, "1"}}, "ipDial", "checked"},
      {{{14, "2"}}, "dialOnly", "checked"},
      {{{14, "9"}}, "ipOnly", "checked"},
      {{{19, "0"}}, "emvNone", "checked"},
      {{{19, "1"}}, "emvCredit", "checked"},
      {{{19, "2"}}, "emvDebit", "checked"},
      {{{19, "5"}}, "emvNone", "checked"},
      {{{15, "3"}}, "commPort", "3"},
      {{{15, "0"}}, "commPort", "0"},      // below the arrows' range: shown as stored
      {{{15, "999"}}, "commPort", "999"},  // above it
      {{{18, "99"}}, "connectTimeout", "99"},
      {{{18, "1"}}, "connectTimeout", "1"},
      {{{16, "9,"}}, "dialPrefix", "9,"},
      {{{17, "18005551234"}}, "phoneNumber", "18005551234"},
      {{{7, "Y"}, {8, "secret"}}, "usePassword", "checked"},
      {{{7, "Y"}, {8, "secret"}}, "password", "secret"},
      {{{7, "N"}, {8, "secret"}}, "password", ""},
  };
  for (const ShownCase& c : cases) {
    SetupDialog dialog(ParamsWith(c.values), "/etc/paxelle/params");
    EXPECT_EQ(Shown(dialog, c.control), c.shown) << c.control << " with " << c.values.front().first << "="
                                                 << c.values.front().second;
  }
}

TEST(SetupDialogTest, CloseTimeTextRules) {
  EXPECT_EQ(CloseTimeText("0400", true), "04:00");
  EXPECT_EQ(CloseTimeText("0400", false), "04:00");
  EXPECT_EQ(CloseTimeText("", false), "--:--");
  EXPECT_EQ(CloseTimeText("", true), ":");
}

TEST(SetupDialogTest, OnlyOkCanBeUsedAndTheFootNamesTheCommand) {
  SetupDialog dialog(ParamsWith({}), "/srv/shop/params");
  EXPECT_EQ(dialog.windowTitle().toStdString(), kSetupTitle);
  EXPECT_TRUE(dialog.isModal());
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "fixed size";
  int enabled = 0;
  for (QWidget* child : dialog.findChildren<QWidget*>()) {
    const bool control = qobject_cast<QLineEdit*>(child) || qobject_cast<QAbstractButton*>(child) ||
                         qobject_cast<QComboBox*>(child) || qobject_cast<QAbstractSpinBox*>(child);
    if (control && child->isEnabled()) {
      ++enabled;
      EXPECT_EQ(child->objectName().toStdString(), "ok");
    }
  }
  EXPECT_EQ(enabled, 1);
  auto* ok = dialog.findChild<QPushButton*>("ok");
  ASSERT_NE(ok, nullptr);
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(dialog.findChild<QLabel*>("changeHint")->text().toStdString(),
            "To change a value: paxelle params set N=VALUE --params /srv/shop/params, then OK.");
  SetupDialog defaultPath(CMerchantParams(), "/home/till/.config/Kelvara Applications/Paxelle/params");
  EXPECT_EQ(defaultPath.findChild<QLabel*>("changeHint")->text().toStdString(),
            "To change a value: paxelle params set N=VALUE --params "
            "'/home/till/.config/Kelvara Applications/Paxelle/params', then OK.");
  // The labels keep their line breaks and blanks.
  std::vector<std::string> labels;
  for (QLabel* label : dialog.findChildren<QLabel*>()) labels.push_back(label->text().toStdString());
  for (const char* text : {"Merchant\nID", "Terminal\nID", "Check\nDigit", "Merchant\nCategory", "Dial Prefix ",
                           "Connect Timeout to WorldPay", "Seconds."}) {
    EXPECT_NE(std::find(labels.begin(), labels.end(), text), labels.end()) << text;
  }
}

TEST(SetupDialogTest, OkRestartsAndAnyOtherCloseRestartsNothing) {
  for (const bool accept : {true, false}) {
    windowtest::OpenWindow window;
    int restarts = 0;
    int shown = 0;
    window.frontEnd.SetDialogRunner([&](QDialog& dialog) {
      ++shown;
      EXPECT_EQ(dialog.windowTitle().toStdString(), kSetupTitle);
      return accept;
    });
    FrontEndHandlers handlers{
        .start =
            [&] {
              window.frontEnd.Frame()->SetupAction()->trigger();
              // Waits behind the setup command, which waits for the start.
              window.frontEnd.Gate().Request([&] { window.frontEnd.Quit(0); });
            },
        .tick = {},
        .restart = [&] { ++restarts; },
        .stop = [](bool) { return true; },
        .params = [] { return ParamsWith({}); },
    };
    EXPECT_EQ(window.frontEnd.Run(handlers), 0);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(restarts, accept ? 1 : 0) << (accept ? "OK" : "closed");
  }
}

TEST(SetupDialogTest, TheFootsPathPastesIntoAShellWhole) {
  const std::vector<std::pair<QString, QString>> cases = {
      {"/etc/paxelle/params", "/etc/paxelle/params"},
      {"/srv/shop-1/params_2.v3", "/srv/shop-1/params_2.v3"},
      {"/home/a/Kelvara Applications/p", "'/home/a/Kelvara Applications/p'"},
      {"/srv/o'brien/params", "'/srv/o'\\''brien/params'"},
      {"/srv/$HOME/*", "'/srv/$HOME/*'"},
      {"", "''"},
  };
  for (const auto& [path, word] : cases) EXPECT_EQ(ShellWord(path).toStdString(), word.toStdString()) << path.toStdString();
}

}  // namespace
}  // namespace paxelle
