// The setup dialog: the merchant parameters grouped for the operator, every
// control read-only. OK asks for a restart of the interfaces; the values
// themselves are changed with `paxelle params set`, as its foot line says.
#pragma once

#include "config/MerchantParams.h"

#include <QAbstractSpinBox>
#include <QDialog>
#include <QString>

#include <string>

namespace paxelle {

inline constexpr char kSetupTitle[] = "Setup Paxelle Parameters";

// How the values become control states; one place, so tests can read them as a table.
int MerchantCategoryIndex(const std::string& entry4);  // 0 Retail/Grocery, 1 Direct Marketing, 2 eCommerce
bool HostInitiatedClose(const std::string& entry12);
QString CloseTimeText(const std::string& entry13, bool hostInitiated);
int EmvSupportIndex(const std::string& entry19);        // 0 None, 1 Credit Only, 2 Credit and Swiped PIN Debit
int TransportIndex(const std::string& entry14);         // 0 IP Only, 1 IP with DIAL Backup, 2 DIAL Only
QString ShownPassword(const CMerchantParams& params);   // entry 8 only when entry 7 is "Y"
// The foot line: the command that changes a value of `paramsFile`.
QString ChangeHintText(const QString& paramsFile);
// `word` as a shell reads it back whole: as it is when it holds only
// characters a shell leaves alone, else in single quotes.
QString ShellWord(const QString& word);

// A number field with arrows that shows the stored text as it is, even
// outside the arrows' range: entry 15 "0" must not read as 1.
class StoredTextSpinBox final : public QAbstractSpinBox {
 public:
  StoredTextSpinBox(int minimum, int maximum, QWidget* parent = nullptr);
  void SetStoredText(const QString& text);
  int Minimum() const { return minimum_; }
  int Maximum() const { return maximum_; }

 protected:
  StepEnabled stepEnabled() const override;

 private:
  int minimum_;
  int maximum_;
};

class SetupDialog final : public QDialog {
 public:
  // Shows `params`; `paramsFile` is the file the server reads them from.
  SetupDialog(const CMerchantParams& params, const QString& paramsFile, QWidget* parent = nullptr);

 private:
  void Fill(const CMerchantParams& params);
};

}  // namespace paxelle
