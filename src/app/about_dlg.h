#pragma once
// The About box (template 100): the icon, the build, the support and vendor web addresses (each
// opens in the browser when clicked) and the vendor notice.

#include <QDialog>

namespace kestrel {

class ClickLabel;
class DialogHost;

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  CAboutDlg(DialogHost& host, QWidget* parent = nullptr);

  ClickLabel* support_link() const { return support_; }
  ClickLabel* vendor_link() const { return vendor_; }

 private:
  void Hover(ClickLabel* link, bool inside);

  DialogHost& host_;
  ClickLabel* support_ = nullptr;  // 1023
  ClickLabel* vendor_ = nullptr;   // 1024
};

}  // namespace kestrel
